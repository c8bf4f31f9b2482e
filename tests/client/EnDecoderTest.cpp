#include "Quelt/EnDecoder.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "support/BigInteger.hpp"
#include "support/CrtReference.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using Complex = std::complex<double>;
using Context = std::shared_ptr<ContextContent>;

// N = 64: four primes (50 and 40 bits), two temporary primes.
Context ctx64() { return Quelt::test::degree64FourPrimes(); }
// N = 1024: six primes (55 and 45 bits), two temporary primes.
Context ctx1024() {
    static const Context context = makeContext(10, 6, 55, 45, 55, 3);
    return context;
}
Context fx() {
    static const Context context = makeContext(ParameterPreset::FX);
    return context;
}

u64 primeOf(const Context &ctx, u64 i) { return ctx->getPrimeModuli().getModulus(i).getPrime(); }
double logScaleOf(const Context &ctx, u64 index) {
    return ctx->getScaleFactors().getScaleFactor(index);
}

Message randomMessage(u64 n, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Message m(static_cast<u64>(std::countr_zero(n)));
    for (auto &slot : m)
        slot = {dist(rng), dist(rng)};
    return m;
}

std::vector<u64> limbOf(const Plaintext &pt, u64 i) {
    const u64 n = pt.getMx().getDegree();
    return std::vector<u64>(pt.getMxData(i), pt.getMxData(i) + n);
}

// Rows 0..level and, when mod-up, the temporary rows, with the header.
void expectSamePlaintext(const Plaintext &a, const Plaintext &b) {
    ASSERT_EQ(a.getLevel(), b.getLevel());
    EXPECT_EQ(a.getLogSlots(), b.getLogSlots());
    EXPECT_EQ(a.getRescaleCounter(), b.getRescaleCounter());
    EXPECT_EQ(a.getMx().isNTT(), b.getMx().isNTT());
    ASSERT_EQ(a.getMx().isModUp(), b.getMx().isModUp());
    for (u64 i = 0; i < a.getMx().getSize(); ++i)
        if (i <= a.getLevel() || (a.getMx().isModUp() && i >= a.getMx().getChainLength())) {
            EXPECT_EQ(limbOf(a, i), limbOf(b, i)) << "limb " << i;
        }
}

double maxDistance(const Message &a, const Message &b) {
    double d = 0;
    for (u64 j = 0; j < a.getSize(); ++j)
        d = std::max(d, std::abs(a[j] - b[j]));
    return d;
}

// The centred value of a residue modulo q, as decoding defines it.
double centred(u64 c, u64 q) {
    return c > q / 2 ? -static_cast<double>(q - c) : static_cast<double>(c);
}
double centred(u128 x, u128 q) {
    return x > q / 2 ? -static_cast<double>(q - x) : static_cast<double>(x);
}

// A coefficient-form plaintext at `level` whose every limb is zero.
Plaintext zeroPlaintext(const Context &ctx, u64 level) {
    Plaintext pt(ctx);
    pt.setLevel(level);
    pt.getMx().setNTT(false);
    std::fill(pt.getMx().getData().begin(), pt.getMx().getData().end(), u64{0});
    return pt;
}

// ---------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------

struct Shape {
    const char *name;
    Context (*context)();
};

void PrintTo(const Shape &shape, std::ostream *os) { *os << shape.name; }

class EnDecoderRoundTripTest : public ::testing::TestWithParam<Shape> {};

TEST_P(EnDecoderRoundTripTest, EveryLevelCounterAndSlotCount) {
    const Context ctx = GetParam().context();
    const EnDecoder encoder(ctx);
    const u64 N = getDegree(ctx), L = getLength(ctx);
    std::mt19937_64 rng(18);
    for (u64 n : {u64{1}, u64{2}, N / 2}) {
        const Message msg = randomMessage(n, rng);
        for (u64 level = 0; level < L; ++level)
            for (int r = 0; r <= static_cast<int>(level); ++r) {
                SCOPED_TRACE(testing::Message() << "n " << n << " level " << level << " r " << r);
                const Plaintext pt = encoder.encode(msg, level, r);
                EXPECT_EQ(pt.getLevel(), level);
                EXPECT_EQ(pt.getRescaleCounter(), r);
                EXPECT_EQ(pt.getNumberOfSlots(), n);
                EXPECT_TRUE(pt.getMx().isNTT());
                const Message out = encoder.decode(pt);
                ASSERT_EQ(out.getSize(), n);
                // Each of the 2n coefficients is off by at most 1/2 before the
                // scale is removed; the slot transform adds its own rounding.
                const double delta = std::pow(2.0, logScaleOf(ctx, level - r));
                EXPECT_LE(maxDistance(out, msg), static_cast<double>(n) / delta + 1e-12);
            }
    }
}

TEST_P(EnDecoderRoundTripTest, CoefficientsAtEveryLevelAndCounter) {
    const Context ctx = GetParam().context();
    const EnDecoder encoder(ctx);
    const u64 N = getDegree(ctx), L = getLength(ctx);
    std::mt19937_64 rng(19);
    std::uniform_real_distribution<double> dist(-100.0, 100.0);
    for (u64 m : {u64{2}, u64{8}, N}) {
        std::vector<double> values(m);
        for (double &v : values)
            v = dist(rng);
        for (u64 level = 0; level < L; ++level)
            for (int r = 0; r <= static_cast<int>(level); ++r) {
                SCOPED_TRACE(testing::Message() << "m " << m << " level " << level << " r " << r);
                const Plaintext pt = encoder.encodeWithoutNTT(values, level, r);
                EXPECT_FALSE(pt.getMx().isNTT());
                EXPECT_EQ(2 * pt.getNumberOfSlots(), m);
                const std::vector<double> out = encoder.decodeWithoutFFT(pt);
                ASSERT_EQ(out.size(), m);
                const double delta = std::pow(2.0, logScaleOf(ctx, level - r));
                for (u64 k = 0; k < m; ++k)
                    EXPECT_NEAR(out[k], values[k], 0.5 / delta + 1e-13) << k;
            }
        // An explicit multiplier, in NTT form, back through the same divisor.
        const Plaintext pt = encoder.encodeWithScale(values, L - 1, 0x1p30, true);
        EXPECT_TRUE(pt.getMx().isNTT());
        const std::vector<double> out = encoder.decodeWithoutFFTWithScale(pt, 0x1p30);
        for (u64 k = 0; k < m; ++k)
            EXPECT_NEAR(out[k], values[k], 0x1p-31 + 1e-13);
    }
}

INSTANTIATE_TEST_SUITE_P(Contexts, EnDecoderRoundTripTest,
                         ::testing::Values(Shape{"N64", ctx64}, Shape{"N1024", ctx1024},
                                           Shape{"FX", fx}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Layout and scale
// ---------------------------------------------------------------------------

// Integer slots through the inverse transform with multiplier 1: the rounded
// values land at j g (real parts) and N/2 + j g (imaginary parts). The
// expected integers were computed with 60-digit arithmetic from the
// definition a_k = (1/n) sum_j z_j w^(-k 5^j), w = exp(i pi / (2n)); none of
// the exact values lies within 0.2 (n = 4) or 6e-5 (n = 32) of a half.
TEST(EnDecoderLayoutTest, IntegerSlotsGiveKnownCoefficients) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    const u64 N = 64, level = 3;
    struct Case {
        std::vector<Complex> slots;
        std::vector<std::int64_t> re, im;
    };
    std::vector<Case> cases;
    cases.push_back(
        {{{-99, -78}, {14, 52}, {-72, 25}, {41, -2}}, {-29, -1, -58, -38}, {-1, -20, 22, 6}});
    Case full;
    for (int j = 0; j < 32; ++j)
        full.slots.emplace_back((j * 73) % 199 - 99, (j * 41) % 157 - 78);
    full.re = {-6, -4, -4, -6, 1,  -11, -12, -18, -7,  2, -8, -8, 4,   1, -7, -9,
               -8, 7,  -9, -6, 12, 11,  -4,  5,   -13, 1, 4,  -5, -20, 3, 1,  1};
    full.im = {-7, -10, 4, 5, 24,  -17, 1, -2, -20, 0,  4,  8,  -12, -10, 3, -8,
               0,  5,   2, 2, -15, 11,  1, 5,  -19, 13, -2, -4, -6,  21,  3, 10};
    cases.push_back(full);
    // One slot: no transform; halves round away from zero.
    cases.push_back({{{2.5, -2.5}}, {3}, {-3}});
    cases.push_back({{{-2.5, 0.49}}, {-3}, {0}});

    for (const Case &c : cases) {
        const u64 n = c.slots.size(), gap = N / (2 * n);
        SCOPED_TRACE(n);
        const Plaintext pt = encoder.encodeWithScale(Message(c.slots), level, 1.0, false);
        EXPECT_FALSE(pt.getMx().isNTT());
        EXPECT_EQ(pt.getRescaleCounter(), 0);
        EXPECT_EQ(pt.getNumberOfSlots(), n);
        for (u64 i = 0; i <= level; ++i) {
            const u64 q = primeOf(ctx, i);
            std::vector<u64> expected(N, 0);
            for (u64 j = 0; j < n; ++j) {
                expected[j * gap] = signedResidueRef(c.re[j], q);
                expected[N / 2 + j * gap] = signedResidueRef(c.im[j], q);
            }
            EXPECT_EQ(limbOf(pt, i), expected) << "limb " << i;
        }
    }
}

// The plaintext polynomial evaluated at the roots zeta^(5^j), zeta =
// exp(i pi / N), gives Delta times slot j: the canonical embedding, checked
// without the library's transform.
TEST(EnDecoderLayoutTest, PolynomialEvaluatesToTheScaledSlots) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    const u64 N = 64;
    const double delta = 0x1p30;
    std::mt19937_64 rng(7);
    for (u64 n : {u64{4}, N / 2}) {
        const Message msg = randomMessage(n, rng);
        const Plaintext pt = encoder.encodeWithScale(msg, 1, delta, false);
        const std::vector<u64> row = limbOf(pt, 0);
        const u64 q = primeOf(ctx, 0);
        u64 exponent = 1;
        for (u64 j = 0; j < n; ++j) {
            std::complex<long double> value = 0;
            for (u64 c = 0; c < N; ++c) {
                const long double angle = std::numbers::pi_v<long double> *
                                          static_cast<long double>((exponent * c) % (2 * N)) / N;
                value += static_cast<long double>(centred(row[c], q)) *
                         std::complex<long double>(std::cos(angle), std::sin(angle));
            }
            const Complex slot(static_cast<double>(value.real() / delta),
                               static_cast<double>(value.imag() / delta));
            // N coefficients rounded by at most 1/2 each.
            EXPECT_LE(std::abs(slot - msg[j]), (0.5 * N + 1) / delta) << n << " " << j;
            exponent = exponent * 5 % (2 * N);
        }
    }
}

// Encoding with counter r multiplies row i by (q_(l-r+1) ... q_l) mod q_i,
// the factor computed here in 128 bits, on top of the scale 2^sf[l - r].
TEST(EnDecoderLayoutTest, RescaleCounterMultipliesByTheTopPrimes) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    std::mt19937_64 rng(11);
    const Message msg = randomMessage(8, rng);
    std::vector<double> reals(16);
    for (double &v : reals)
        v = std::uniform_real_distribution<double>(-5, 5)(rng);
    for (u64 level = 0; level < 4; ++level)
        for (int r = 0; r <= static_cast<int>(level); ++r) {
            SCOPED_TRACE(testing::Message() << "level " << level << " r " << r);
            const double delta = std::pow(2.0, logScaleOf(ctx, level - r));
            const Plaintext slots = encoder.encodeWithoutNTT(msg, level, r);
            const Plaintext slots_base = encoder.encodeWithScale(msg, level, delta, false);
            const Plaintext coeffs = encoder.encodeWithoutNTT(reals, level, r);
            const Plaintext coeffs_base = encoder.encodeWithScale(reals, level, delta, false);
            for (u64 i = 0; i <= level; ++i) {
                const u64 q = primeOf(ctx, i);
                u64 factor = 1;
                for (u64 j = level; j + r > level; --j)
                    factor = static_cast<u64>(static_cast<u128>(factor) * primeOf(ctx, j) % q);
                if (i + r > level) {
                    EXPECT_EQ(factor, 0u);
                }
                for (const auto &[pt, base] :
                     {std::pair{&slots, &slots_base}, std::pair{&coeffs, &coeffs_base}}) {
                    const std::vector<u64> got = limbOf(*pt, i), plain = limbOf(*base, i);
                    for (u64 k = 0; k < got.size(); ++k)
                        ASSERT_EQ(got[k], mulModRef(plain[k], factor, q)) << i << " " << k;
                }
            }
        }
}

TEST(EnDecoderLayoutTest, CustomLevelWritesTemporaryLimbsWhenModUp) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    const u64 L = getLength(ctx), K = getNumTP(ctx);
    std::mt19937_64 rng(5);
    const Message msg = randomMessage(4, rng);
    for (u64 level : {u64{0}, u64{2}}) {
        for (u64 index : {u64{0}, u64{3}}) {
            SCOPED_TRACE(testing::Message() << "level " << level << " index " << index);
            const Plaintext base =
                encoder.encodeWithScale(msg, level, std::pow(2.0, logScaleOf(ctx, index)), false);
            const Plaintext plain = encoder.encodeWithoutNTTCustomLevel(msg, level, index, false);
            expectSamePlaintext(plain, base);
            const Plaintext up = encoder.encodeWithoutNTTCustomLevel(msg, level, index, true);
            EXPECT_TRUE(up.getMx().isModUp());
            EXPECT_FALSE(up.getMx().isNTT());
            EXPECT_EQ(up.getLevel(), level);
            EXPECT_EQ(up.getMx().getSize(), L + K);
            for (u64 i = 0; i <= level; ++i)
                EXPECT_EQ(limbOf(up, i), limbOf(base, i));
            // The temporary limbs hold the same integers (small enough to be
            // read back from limb 0).
            const std::vector<u64> row0 = limbOf(base, 0);
            for (u64 t = L; t < L + K; ++t) {
                std::vector<u64> expected(row0.size());
                for (u64 c = 0; c < row0.size(); ++c)
                    expected[c] = signedResidueRef(
                        static_cast<__int128>(centred(row0[c], primeOf(ctx, 0))), primeOf(ctx, t));
                EXPECT_EQ(limbOf(up, t), expected) << "limb " << t;
            }
            // The transformed form is the chain's transform of the limbs in use.
            const Plaintext up_ntt = encoder.encodeCustomLevel(msg, level, index, true);
            Polynomial expected(up.getMx());
            ctx->getPrimeModuli().forwardNTT<ModUpOutputModulusBoundEvalValidator, 1>(
                expected, expected, {level, L});
            EXPECT_TRUE(up_ntt.getMx().isNTT());
            for (u64 i = 0; i < L + K; ++i)
                if (i <= level || i >= L) {
                    EXPECT_EQ(limbOf(up_ntt, i),
                              std::vector<u64>(expected.getLimb(i),
                                               expected.getLimb(i) + getDegree(ctx)));
                }
        }
    }
}

TEST(EnDecoderLayoutTest, VectorFormsEncodeElementByElement) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    std::mt19937_64 rng(3);
    const std::vector<Message> msgs = {randomMessage(1, rng), randomMessage(32, rng),
                                       randomMessage(4, rng)};
    const auto pts = encoder.encode(msgs, 2, 1);
    const auto top = encoder.encode(msgs);
    const auto custom = encoder.encodeCustomLevel(msgs, 1, 2, true);
    ASSERT_EQ(pts.size(), 3u);
    ASSERT_EQ(top.size(), 3u);
    ASSERT_EQ(custom.size(), 3u);
    for (u64 k = 0; k < 3; ++k) {
        expectSamePlaintext(pts[k], encoder.encode(msgs[k], 2, 1));
        expectSamePlaintext(top[k], encoder.encode(msgs[k]));
        EXPECT_EQ(top[k].getLevel(), getEncryptionLevel(ctx));
        expectSamePlaintext(custom[k], encoder.encodeCustomLevel(msgs[k], 1, 2, true));
    }
    const auto decoded = encoder.decode(pts);
    ASSERT_EQ(decoded.size(), 3u);
    for (u64 k = 0; k < 3; ++k)
        EXPECT_EQ(maxDistance(decoded[k], encoder.decode(pts[k])), 0.0);
    EXPECT_TRUE(encoder.encode(std::vector<Message>{}).empty());
}

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

// Level 0: one prime, split at floor(q0 / 2) (that value itself positive).
TEST(EnDecoderLiftTest, OnePrimeSplitsAtHalfTheBasePrime) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    const u64 q0 = primeOf(ctx, 0);
    const std::vector<u64> residues = {q0 / 2, q0 / 2 + 1, 0, 1, q0 - 1, 123456789, q0 - 98765};
    Plaintext pt = zeroPlaintext(ctx, 0);
    for (u64 k = 0; k < residues.size(); ++k)
        pt.getMxData(0)[k] = residues[k];
    const std::vector<double> lifted = encoder.decodeWithoutFFTWithScale(pt, 1.0);
    ASSERT_EQ(lifted.size(), 64u);
    EXPECT_EQ(lifted[0], static_cast<double>(q0 / 2));
    EXPECT_EQ(lifted[1], -static_cast<double>(q0 / 2));
    for (u64 k = 0; k < 64; ++k)
        EXPECT_EQ(lifted[k], k < residues.size() ? centred(residues[k], q0) : 0.0) << k;
    const std::vector<double> scaled = encoder.decodeWithoutFFTWithScale(pt, 4.0);
    EXPECT_EQ(scaled[4], -0.25);
}

// Higher levels: q0 and q1 only, split at floor(Q / 2); the limbs above are
// never read and the rescale counter is ignored.
TEST(EnDecoderLiftTest, TwoPrimesSplitAtHalfTheirProduct) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    const std::vector<u64> primes = getPrimeList(ctx);
    const u64 q0 = primes[0], q1 = primes[1];
    const u128 Q = static_cast<u128>(q0) * q1;
    std::vector<u128> values = {
        Q / 2, Q / 2 + 1, 0, 1, Q - 1, static_cast<u128>(5) * q0, Q - static_cast<u128>(5) * q1};
    std::mt19937_64 rng(2);
    std::vector<std::pair<u64, u64>> residues;
    for (u128 x : values)
        residues.emplace_back(static_cast<u64>(x % q0), static_cast<u64>(x % q1));
    // Random residue pairs, their integer from the CRT oracle.
    while (residues.size() < 64) {
        const u64 a = rng() % q0, b = rng() % q1;
        residues.emplace_back(a, b);
        values.push_back(crtReconstruct({a, b}, primes, 2));
    }
    for (u64 level : {u64{1}, u64{3}}) {
        SCOPED_TRACE(level);
        Plaintext pt = zeroPlaintext(ctx, level);
        for (u64 k = 0; k < 64; ++k) {
            pt.getMxData(0)[k] = residues[k].first;
            pt.getMxData(1)[k] = residues[k].second;
        }
        const std::vector<double> clean = encoder.decodeWithoutFFTWithScale(pt, 1.0);
        EXPECT_EQ(clean[0], static_cast<double>(Q / 2));
        EXPECT_EQ(clean[1], -static_cast<double>(Q / 2));
        for (u64 k = 0; k < 64; ++k)
            EXPECT_EQ(clean[k], centred(values[k], Q)) << k;
        for (u64 i = 2; i <= level; ++i)
            for (u64 k = 0; k < 64; ++k)
                pt.getMxData(i)[k] = rng() % primes[i];
        if (level >= 2)
            pt.setRescaleCounter(2);
        EXPECT_EQ(encoder.decodeWithoutFFTWithScale(pt, 1.0), clean);
    }
}

// Counter equal to the level: the value X q1 ... ql is rescaled l times and
// lifted with q0 alone, then divided by 2^sf[0].
TEST(EnDecoderLiftTest, FullCounterRescalesDownToTheBasePrime) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    const std::vector<u64> primes = getPrimeList(ctx);
    const u64 q0 = primes[0], level = 3;
    const BigInteger top = BigInteger::product({primes[1], primes[2], primes[3]});
    const std::vector<u64> xs = {q0 / 2, q0 / 2 + 1, 0, 1, q0 - 1, 77777};
    Plaintext pt = zeroPlaintext(ctx, level);
    for (u64 k = 0; k < xs.size(); ++k)
        for (u64 i = 0; i <= level; ++i)
            pt.getMxData(i)[k] = (BigInteger(xs[k]) * top).mod(primes[i]);
    pt.setRescaleCounter(static_cast<int>(level));
    Plaintext pt_ntt(pt);
    ctx->getPrimeModuli().forwardNTT<AlwaysValidator, 1>(pt_ntt.getMx(), pt_ntt.getMx(), {});
    const double unit = std::pow(2.0, -logScaleOf(ctx, 0));
    for (const Plaintext *p : {&pt, &pt_ntt}) {
        const std::vector<double> out = encoder.decodeWithoutFFT(*p);
        for (u64 k = 0; k < 64; ++k)
            EXPECT_EQ(out[k], k < xs.size() ? centred(xs[k], q0) * unit : 0.0) << k;
    }
}

// Decoding reads the NTT flag: both forms give the same values, also when
// the counter forces rescaling.
TEST(EnDecoderLiftTest, TransformedAndCoefficientFormsDecodeAlike) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    std::mt19937_64 rng(13);
    const Message msg = randomMessage(16, rng);
    for (u64 level = 0; level < 4; ++level)
        for (int r = 0; r <= static_cast<int>(level); ++r) {
            SCOPED_TRACE(testing::Message() << "level " << level << " r " << r);
            const Plaintext ntt = encoder.encode(msg, level, r);
            const Plaintext coeff = encoder.encodeWithoutNTT(msg, level, r);
            ASSERT_TRUE(ntt.getMx().isNTT());
            ASSERT_FALSE(coeff.getMx().isNTT());
            EXPECT_EQ(encoder.decodeWithoutFFT(ntt), encoder.decodeWithoutFFT(coeff));
            const double delta = std::pow(2.0, logScaleOf(ctx, level - r));
            EXPECT_LE(maxDistance(encoder.decode(coeff), msg), 16.0 / delta + 1e-12);
        }
}

TEST(EnDecoderLiftTest, DecodeOnAnotherDeviceReturnsThere) {
    const Context ctx = ctx64();
    const EnDecoder encoder(ctx);
    std::mt19937_64 rng(17);
    const Message msg = randomMessage(8, rng);
    const Plaintext pt = encoder.encode(msg, 2, 1);
    Plaintext moved(pt);
    const Device other{Device::kHost, 1};
    moved.to(other);
    const Message out = encoder.decode(moved);
    EXPECT_EQ(out.getDevice(), other);
    EXPECT_EQ(moved.getDevice(), other);
    Message back(out);
    back.to(kHostDevice);
    EXPECT_EQ(maxDistance(back, encoder.decode(pt)), 0.0);
}

// ---------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------

constexpr const char *kEmpty = "[encode] Cannot encode a message of size 0";
constexpr const char *kNotPowerOfTwo = "[encode] The message size should be a power of two";
constexpr const char *kLevel =
    "[encode] The target level is greater than the maximum possible level";
constexpr const char *kTooLarge = "[encode] Message size is too large.";
constexpr const char *kCounter =
    "[encode] The target rescale counter should be less than or equal to the target level.";
constexpr const char *kNegative = "Rescale counter should be greater than or equal to zero";
constexpr const char *kBelowTwo = "[encode] Cannot encode a message with a size less than 2";
constexpr const char *kScaleFactor = "[ScaleFactors] The scale factor for given level is not valid";
constexpr const char *kDivisor =
    "[embeddingToN] The degree of polynomial should be divided by the size of message.";
constexpr const char *kValue = "[embeddingToN] A scaled value is not finite or too large.";
constexpr const char *kPolynomialLevel = "[Polynomial] Level exceeds the prime chain";
constexpr const char *kCounterAboveLevel =
    "Rescale counter should be less than or equal to the level";
constexpr const char *kDecodeSlots =
    "[decode] The log slot count of the plaintext is larger than the ring allows";

struct FailureCase {
    const char *name;
    std::function<void()> call;
    const char *message;
};

TEST(EnDecoderFailuresTest, EachCheckAloneThenWhichWins) {
    // N = 64, L = 4, K = 2: levels 0..3, slot counts up to 32, reals up to 64.
    const Context ctx = ctx64();
    const EnDecoder e(ctx);
    std::mt19937_64 rng(23);
    const Message good = randomMessage(4, rng);
    Message three = randomMessage(4, rng);
    three.resize(3);
    const Message empty;
    const Message too_many = randomMessage(64, rng);
    Message nan_slot = good;
    nan_slot[1] = {std::numeric_limits<double>::quiet_NaN(), 0};
    Message huge_slot = good;
    huge_slot[2] = {1e300, 0};
    const std::vector<double> reals(8, 1.5), one(1, 1.0), none, reals3(3, 1.0), reals128(128, 1.0);
    std::vector<double> reals_inf = reals;
    reals_inf[5] = std::numeric_limits<double>::infinity();
    const std::vector<Message> inputs = {good, three, too_many, nan_slot, huge_slot};
    const std::vector<std::vector<double>> real_inputs = {reals, one, reals3, reals128, reals_inf};
    const double nan = std::numeric_limits<double>::quiet_NaN();

    const std::vector<FailureCase> cases = {
        // encode / encodeWithoutNTT of a message, each check alone.
        {"empty", [&] { e.encode(empty, 0, 0); }, kEmpty},
        {"three slots", [&] { e.encode(three, 0, 0); }, kNotPowerOfTwo},
        {"level L", [&] { e.encode(good, 4, 0); }, kLevel},
        {"level max", [&] { e.encodeWithoutNTT(good, ~u64{0}, 0); }, kLevel},
        {"N slots", [&] { e.encode(too_many, 3, 0); }, kTooLarge},
        {"counter above level", [&] { e.encode(good, 1, 2); }, kCounter},
        {"counter at level 0", [&] { e.encodeWithoutNTT(good, 0, 1); }, kCounter},
        {"negative counter", [&] { e.encode(good, 2, -1); }, kNegative},
        {"most negative counter", [&] { e.encodeWithoutNTT(good, 2, INT32_MIN); }, kNegative},
        {"NaN slot", [&] { e.encode(nan_slot, 2, 1); }, kValue},
        {"huge slot", [&] { e.encode(huge_slot, 0, 0); }, kValue},
        // ... and in pairs: the earlier check wins.
        {"empty, level L", [&] { e.encode(empty, 4, 0); }, kEmpty},
        {"three slots, level L", [&] { e.encode(three, 4, 0); }, kNotPowerOfTwo},
        {"level L, N slots", [&] { e.encode(too_many, 4, 0); }, kLevel},
        {"N slots, counter", [&] { e.encode(too_many, 0, 1); }, kTooLarge},
        {"level L, counter", [&] { e.encode(good, 4, 5); }, kLevel},
        {"negative counter, NaN", [&] { e.encode(nan_slot, 1, -1); }, kNegative},

        // encodeWithScale of a message: no counter; the level check comes last.
        {"scale: empty", [&] { e.encodeWithScale(empty, 0, 1.0, true); }, kEmpty},
        {"scale: three", [&] { e.encodeWithScale(three, 0, 1.0, true); }, kNotPowerOfTwo},
        {"scale: N slots", [&] { e.encodeWithScale(too_many, 0, 1.0, false); }, kTooLarge},
        {"scale: level L + K", [&] { e.encodeWithScale(good, 6, 1.0, false); }, kLevel},
        {"scale: level L", [&] { e.encodeWithScale(good, 4, 1.0, false); }, kPolynomialLevel},
        {"scale: NaN", [&] { e.encodeWithScale(good, 1, nan, true); }, kValue},
        {"scale: infinite", [&] { e.encodeWithScale(good, 1, HUGE_VAL, true); }, kValue},
        {"scale: N slots, level", [&] { e.encodeWithScale(too_many, 9, 1.0, false); }, kTooLarge},

        // Custom levels.
        {"custom: empty", [&] { e.encodeCustomLevel(empty, 0, 0, false); }, kEmpty},
        {"custom: three", [&] { e.encodeWithoutNTTCustomLevel(three, 0, 0, true); },
         kNotPowerOfTwo},
        {"custom: N slots", [&] { e.encodeCustomLevel(too_many, 0, 0, true); }, kTooLarge},
        {"custom: level L + K", [&] { e.encodeCustomLevel(good, 6, 0, true); }, kLevel},
        {"custom: level L", [&] { e.encodeCustomLevel(good, 4, 0, false); }, kPolynomialLevel},
        {"custom: level L, mod-up", [&] { e.encodeWithoutNTTCustomLevel(good, 5, 0, true); },
         kPolynomialLevel},
        {"custom: index of a temporary prime", [&] { e.encodeCustomLevel(good, 1, 4, true); },
         kScaleFactor},
        {"custom: index past the list", [&] { e.encodeWithoutNTTCustomLevel(good, 1, 99, false); },
         kScaleFactor},
        {"custom: level, index", [&] { e.encodeCustomLevel(good, 6, 99, false); }, kLevel},
        {"custom: NaN", [&] { e.encodeCustomLevel(nan_slot, 0, 0, false); }, kValue},

        // Vector forms stop at the first element that throws.
        {"vector: second element",
         [&] {
             e.encode(std::vector<Message>{good, three, empty}, 0, 0);
         },
         kNotPowerOfTwo},
        {"vector: top level",
         [&] {
             e.encode(std::vector<Message>{good, too_many});
         },
         kTooLarge},
        {"vector: custom",
         [&] {
             e.encodeCustomLevel(std::vector<Message>{good, good}, 1, 99, false);
         },
         kScaleFactor},

        // Coefficient encoding.
        {"reals: level L", [&] { e.encodeWithoutNTT(reals, 4, 0); }, kLevel},
        {"reals: none", [&] { e.encodeWithoutNTT(none, 0, 0); }, kBelowTwo},
        {"reals: one", [&] { e.encodeWithoutNTT(one, 0, 0); }, kBelowTwo},
        {"reals: 2N", [&] { e.encodeWithoutNTT(reals128, 0, 0); }, kTooLarge},
        {"reals: counter", [&] { e.encodeWithoutNTT(reals, 1, 2); }, kCounter},
        {"reals: negative counter", [&] { e.encodeWithoutNTT(reals, 1, -3); }, kNegative},
        {"reals: three", [&] { e.encodeWithoutNTT(reals3, 1, 0); }, kDivisor},
        {"reals: infinite", [&] { e.encodeWithoutNTT(reals_inf, 1, 1); }, kValue},
        {"reals: level L, none", [&] { e.encodeWithoutNTT(none, 4, 0); }, kLevel},
        {"reals: one, counter", [&] { e.encodeWithoutNTT(one, 0, 1); }, kBelowTwo},
        {"reals: 2N, counter", [&] { e.encodeWithoutNTT(reals128, 0, 1); }, kTooLarge},
        {"reals: three, negative counter", [&] { e.encodeWithoutNTT(reals3, 0, -1); }, kNegative},

        {"reals scale: none", [&] { e.encodeWithScale(none, 0, 1.0, true); }, kEmpty},
        {"reals scale: one", [&] { e.encodeWithScale(one, 0, 1.0, true); }, kBelowTwo},
        {"reals scale: 2N", [&] { e.encodeWithScale(reals128, 0, 1.0, true); }, kTooLarge},
        {"reals scale: level L + K", [&] { e.encodeWithScale(reals, 6, 1.0, true); }, kLevel},
        {"reals scale: level L", [&] { e.encodeWithScale(reals, 5, 1.0, true); }, kPolynomialLevel},
        {"reals scale: three", [&] { e.encodeWithScale(reals3, 0, 1.0, false); }, kDivisor},
        {"reals scale: NaN", [&] { e.encodeWithScale(reals, 0, nan, false); }, kValue},
        {"reals scale: none, level", [&] { e.encodeWithScale(none, 9, 1.0, true); }, kEmpty},
        {"reals scale: 2N, level", [&] { e.encodeWithScale(reals128, 9, 1.0, true); }, kTooLarge},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage(c.call, c.message);
    }

    const std::vector<Message> inputs_after = {good, three, too_many, nan_slot, huge_slot};
    for (u64 k = 0; k < inputs.size(); ++k) {
        ASSERT_EQ(inputs[k].getSize(), inputs_after[k].getSize());
        for (u64 j = 0; j < inputs[k].getSize(); ++j)
            EXPECT_TRUE(std::memcmp(&inputs[k][j], &inputs_after[k][j], sizeof(Complex)) == 0);
    }
    const std::vector<std::vector<double>> real_inputs_after = {reals, one, reals3, reals128,
                                                                reals_inf};
    EXPECT_EQ(real_inputs, real_inputs_after);
}

TEST(EnDecoderFailuresTest, DecodingRefusesInconsistentPlaintexts) {
    const Context ctx = ctx64();
    const EnDecoder e(ctx);
    std::mt19937_64 rng(29);
    const Plaintext pt = e.encode(randomMessage(4, rng), 3, 2);

    // A later level change leaves the counter above the level.
    Plaintext dropped(pt);
    dropped.setLevel(1);
    expectThrowsMessage([&] { e.decode(dropped); }, kCounterAboveLevel);
    expectThrowsMessage([&] { e.decodeWithoutFFT(dropped); }, kCounterAboveLevel);
    EXPECT_EQ(e.decodeWithoutFFTWithScale(dropped, 1.0).size(), 8u);

    for (u64 log_slots : {u64{6}, u64{63}, u64{64}, ~u64{0}}) {
        SCOPED_TRACE(log_slots);
        Plaintext wide(pt);
        wide.setLogSlots(log_slots);
        expectThrowsMessage([&] { e.decode(wide); }, kDecodeSlots);
        expectThrowsMessage([&] { e.decodeWithoutFFT(wide); }, kDecodeSlots);
        expectThrowsMessage([&] { e.decodeWithoutFFTWithScale(wide, 1.0); }, kDecodeSlots);
        expectThrowsMessage([&] { e.decode(std::vector<Plaintext>{pt, wide}); }, kDecodeSlots);
    }
    // N/2 slots is the largest count.
    Plaintext full(pt);
    full.setLogSlots(5);
    EXPECT_EQ(e.decode(full).getSize(), 32u);

    expectThrowsMessage([] { EnDecoder(nullptr); }, "[Context] The context is null");
}

} // namespace
} // namespace Quelt::test
