#include "arith/FastBaseConv.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyBundle.hpp"
#include "arith/KeySwitchKernels.hpp"
#include "arith/NTT.hpp"
#include "arith/NumberTheoryUtils.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/RNSDecomposeData.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "support/BigInteger.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using test::BigInteger;
using test::u64;

constexpr u64 kDegree = 16;

// L primes below 2^base_bits followed by K below 2^tp_bits, all 1 mod 2N.
// The default sizes keep the oracles fast and put base and temporary primes
// on both sides of each other's halves.
std::vector<Modulus> makeChain(u64 L, u64 K, unsigned base_bits = 28, unsigned tp_bits = 30) {
    std::vector<Modulus> moduli;
    for (u64 p : utils::seekPrimes(u64{1} << base_bits, 2 * kDegree, L, true))
        moduli.emplace_back(kDegree, p, NttType::NEGACYCLIC);
    for (u64 p : utils::seekPrimes(u64{1} << tp_bits, 2 * kDegree, K, true))
        moduli.emplace_back(kDegree, p, NttType::NEGACYCLIC);
    return moduli;
}

std::vector<u64> primesOf(const std::vector<Modulus> &moduli) {
    std::vector<u64> primes;
    for (const auto &m : moduli)
        primes.push_back(m.getPrime());
    return primes;
}

BigInteger centred(u64 r, u64 q) {
    return r <= q / 2 ? BigInteger(r) : BigInteger(r) - BigInteger(q);
}

void forward(const Modulus &m, u64 *limb) { m.getNTT()->computeForward<1>(limb); }

struct Shape {
    u64 L, K, dnum, level;
    unsigned base_bits = 28, tp_bits = 30;
};

// alpha = 2; partial top digit (alpha = 3, L = 5); a level below the top of a
// digit (the top digit reaches prime 4 of [3, 6)); alpha = 1; K = 1; a single
// digit covering the chain; 60- and 61-bit primes.
const Shape kShapes[] = {{4, 2, 2, 3}, {5, 2, 2, 4}, {6, 2, 2, 4},
                         {3, 2, 3, 2}, {4, 1, 2, 3}, {3, 1, 3, 1},
                         {3, 3, 1, 2}, {4, 2, 2, 0}, {5, 2, 2, 4, 60, 61}};

// Chains are built once per shape: the transforms of large primes take a
// while to set up.
const std::vector<Modulus> &chainOf(const Shape &s) {
    static std::map<std::vector<u64>, std::vector<Modulus>> cache;
    const std::vector<u64> key = {s.L, s.K, s.base_bits, s.tp_bits};
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(key, makeChain(s.L, s.K, s.base_bits, s.tp_bits)).first;
    return it->second;
}

TEST(FastBaseConvTest, TableIdentities) {
    for (const Shape &s : kShapes) {
        const auto &moduli = chainOf(s);
        const auto q = primesOf(moduli);
        FastBaseConv conv(moduli, s.L, s.dnum);
        const u64 alpha = conv.getPrimesPerDigit();
        ASSERT_EQ(alpha, (s.L + s.dnum - 1) / s.dnum);
        ASSERT_EQ(conv.getNumAllPrimes(), s.L + s.K);
        const auto &hat_inv = conv.getDigitHatInvModQ();
        const auto &hat = conv.getDigitHatModQP();
        ASSERT_EQ(hat.rows(), s.L);
        ASSERT_EQ(hat.columns(), s.L + s.K);
        for (u64 i = 0; i < s.L; ++i) {
            const u64 begin = i / alpha * alpha, end = std::min(begin + alpha, s.L);
            std::vector<u64> others;
            for (u64 m = begin; m < end; ++m)
                if (m != i)
                    others.push_back(q[m]);
            const BigInteger hat_value = BigInteger::product(others);
            // (Q_d / q_i) times its stored inverse is 1 modulo q_i.
            EXPECT_EQ(test::mulModRef(hat_value.mod(q[i]), hat_inv[i], q[i]), 1u);
            for (u64 j = 0; j < s.L + s.K; ++j) {
                if (j < begin || j >= end) {
                    EXPECT_EQ(hat.at(i, j), hat_value.mod(q[j])) << i << " " << j;
                }
            }
        }
        std::vector<u64> temporary(q.begin() + s.L, q.end());
        const BigInteger P = BigInteger::product(temporary);
        for (u64 m = 0; m < s.K; ++m) {
            const BigInteger p_hat = P.divideExact(temporary[m]);
            EXPECT_EQ(
                test::mulModRef(p_hat.mod(temporary[m]), conv.getPHatInvModP()[m], temporary[m]),
                1u);
            for (u64 j = 0; j < s.L; ++j)
                EXPECT_EQ(conv.getPHatModQ().at(m, j), p_hat.mod(q[j]));
        }
        for (u64 i = 0; i < s.L; ++i)
            EXPECT_EQ(test::mulModRef(P.mod(q[i]), conv.getPInvModQ()[i], q[i]), 1u);
    }
}

TEST(FastBaseConvTest, ModUpMatchesExactDigits) {
    std::mt19937_64 rng(7);
    for (const Shape &s : kShapes) {
        SCOPED_TRACE(::testing::Message()
                     << "L " << s.L << " K " << s.K << " dnum " << s.dnum << " level " << s.level);
        const auto &moduli = chainOf(s);
        const auto q = primesOf(moduli);
        FastBaseConv conv(moduli, s.L, s.dnum);
        const u64 N = kDegree, l = s.level, alpha = conv.getPrimesPerDigit();
        const u64 LK = s.L + s.K;
        const u64 D = conv.getNumDigits(l);
        ASSERT_EQ(D, l / alpha + 1);

        std::vector<u64> coeff((l + 1) * N);
        for (u64 i = 0; i <= l; ++i)
            for (u64 c = 0; c < N; ++c)
                coeff[i * N + c] = rng() % q[i];
        std::vector<u64> ntt_form = coeff;
        for (u64 i = 0; i <= l; ++i)
            forward(moduli[i], ntt_form.data() + i * N);

        std::vector<std::vector<u64>> from_coeff(D, std::vector<u64>(LK * N, 0xAAAA));
        std::vector<std::vector<u64>> from_ntt(D, std::vector<u64>(LK * N, 0xAAAA));
        std::vector<u64 *> outs_c, outs_n;
        for (u64 d = 0; d < D; ++d) {
            outs_c.push_back(from_coeff[d].data());
            outs_n.push_back(from_ntt[d].data());
        }
        conv.modUpLimbs(coeff.data(), l, false, outs_c.data());
        conv.modUpLimbs(ntt_form.data(), l, true, outs_n.data());

        for (u64 d = 0; d < D; ++d) {
            const u64 begin = d * alpha, end = std::min(begin + alpha, s.L);
            std::vector<u64> digit_primes(q.begin() + begin, q.begin() + end);
            const BigInteger Qd = BigInteger::product(digit_primes);
            for (u64 c = 0; c < N; ++c) {
                // X_d = sum over the digit's primes up to the level of the
                // centred [a_m (Q_d/q_m)^-1]_{q_m} times Q_d/q_m.
                BigInteger X;
                for (u64 m = begin; m < std::min(end, l + 1); ++m) {
                    const BigInteger hat = Qd.divideExact(q[m]);
                    const u64 t = test::mulModRef(coeff[m * N + c],
                                                  test::invModRef(hat.mod(q[m]), q[m]), q[m]);
                    X = X + centred(t, q[m]) * hat;
                }
                for (u64 j = 0; j < LK; ++j) {
                    if (j > l && j < s.L)
                        continue;
                    from_coeff[d][j * N + c] = X.mod(q[j]); // expected, coefficient form
                }
            }
            for (u64 j = 0; j < LK; ++j) {
                if (j > l && j < s.L) {
                    // Limbs above the level are left alone.
                    for (u64 c = 0; c < N; ++c)
                        EXPECT_EQ(from_ntt[d][j * N + c], 0xAAAAu);
                    continue;
                }
                std::vector<u64> expected(from_coeff[d].begin() + j * N,
                                          from_coeff[d].begin() + (j + 1) * N);
                forward(moduli[j], expected.data());
                std::vector<u64> got(from_ntt[d].begin() + j * N,
                                     from_ntt[d].begin() + (j + 1) * N);
                EXPECT_EQ(got, expected) << "digit " << d << " limb " << j;
            }
        }
        // The coefficient-form input gives the same outputs (checked limb by
        // limb against the NTT-form run, since from_coeff now holds the oracle).
        std::vector<std::vector<u64>> again(D, std::vector<u64>(LK * N, 0xAAAA));
        std::vector<u64 *> outs_a;
        for (u64 d = 0; d < D; ++d)
            outs_a.push_back(again[d].data());
        conv.modUpLimbs(coeff.data(), l, false, outs_a.data());
        EXPECT_EQ(again, from_ntt);
    }
}

TEST(FastBaseConvTest, ModDownDividesByP) {
    std::mt19937_64 rng(11);
    for (const Shape &s : kShapes) {
        SCOPED_TRACE(::testing::Message() << "L " << s.L << " K " << s.K << " level " << s.level);
        const auto &moduli = chainOf(s);
        const auto q = primesOf(moduli);
        FastBaseConv conv(moduli, s.L, s.dnum);
        const u64 N = kDegree, l = s.level, L = s.L, K = s.K, LK = L + K;

        std::vector<u64> coeff(LK * N, 0);
        for (u64 j = 0; j < LK; ++j) {
            if (j > l && j < L)
                continue;
            for (u64 c = 0; c < N; ++c)
                coeff[j * N + c] = rng() % q[j];
        }
        // Extreme residues at the first positions: 0, the largest, and the
        // halves where the centred lift changes sign.
        for (u64 j = L; j < LK; ++j) {
            coeff[j * N + 0] = 0;
            coeff[j * N + 1] = q[j] - 1;
            coeff[j * N + 2] = q[j] / 2;
            coeff[j * N + 3] = q[j] / 2 + 1;
        }
        std::vector<u64> in = coeff;
        for (u64 j = 0; j < LK; ++j)
            if (j <= l || j >= L)
                forward(moduli[j], in.data() + j * N);

        std::vector<u64> used_primes;
        for (u64 j = 0; j <= l; ++j)
            used_primes.push_back(q[j]);
        for (u64 j = L; j < LK; ++j)
            used_primes.push_back(q[j]);
        std::vector<u64> temporary(q.begin() + L, q.end());
        const BigInteger P = BigInteger::product(temporary);

        std::vector<u64> expected((l + 1) * N);
        for (u64 c = 0; c < N; ++c) {
            std::vector<u64> residues;
            for (u64 j = 0; j <= l; ++j)
                residues.push_back(coeff[j * N + c]);
            for (u64 j = L; j < LK; ++j)
                residues.push_back(coeff[j * N + c]);
            const BigInteger A = BigInteger::fromResidues(residues, used_primes);
            BigInteger X;
            for (u64 m = 0; m < K; ++m) {
                const BigInteger hat = P.divideExact(temporary[m]);
                const u64 t = test::mulModRef(coeff[(L + m) * N + c],
                                              test::invModRef(hat.mod(temporary[m]), temporary[m]),
                                              temporary[m]);
                X = X + centred(t, temporary[m]) * hat;
            }
            BigInteger v = A - X;
            for (u64 p : temporary)
                v = v.divideExact(p);
            for (u64 i = 0; i <= l; ++i)
                expected[i * N + c] = v.mod(q[i]);
        }

        for (bool ntt : {false, true}) {
            std::vector<u64> out((l + 1) * N, 0);
            conv.modDownLimbs(in.data(), l, out.data(), ntt);
            std::vector<u64> want = expected;
            if (ntt)
                for (u64 i = 0; i <= l; ++i)
                    forward(moduli[i], want.data() + i * N);
            EXPECT_EQ(out, want) << "ntt " << ntt;
        }
    }
}

// The conversion kernel on the largest primes: sums of more products than
// one 128-bit accumulator holds are folded on the way, every output is below
// 4p and congruent to the exact sum.
TEST(FastBaseConvTest, ConversionKernelFoldsLongSums) {
    namespace kk = keyswitch_kernels;
    const std::vector<u64> primes = utils::seekPrimes(u64{1} << 62, 2, 16, true);
    std::mt19937_64 rng(13);
    const u64 n = 6;
    const u64 per_fold =
        kk::signedTermsPerFold(static_cast<unsigned __int128>(primes[0] / 2 + 1) * primes[0]);
    EXPECT_GE(per_fold, 1u);
    EXPECT_LT(per_fold, 9u);
    for (u64 count : {u64{1}, u64{5}, u64{9}}) {
        for (u64 terms_per_fold : {per_fold, u64{2}}) {
            std::vector<std::vector<u64>> limbs(count, std::vector<u64>(n));
            std::vector<const std::int64_t *> sources;
            u64 largest = 0;
            for (u64 m = 0; m < count; ++m) {
                const u64 q = primes[m];
                largest = std::max(largest, q);
                for (u64 c = 0; c < n; ++c)
                    limbs[m][c] = c == 0 ? q - 1 : c == 1 ? q / 2 + 1 : c == 2 ? q / 2 : rng() % q;
                kk::centredLift(limbs[m].data(), q, n);
                sources.push_back(reinterpret_cast<const std::int64_t *>(limbs[m].data()));
            }
            // Seven targets: converted four, two and one at a time.
            const u64 num_targets = 7;
            std::vector<std::vector<std::int64_t>> factors(num_targets,
                                                           std::vector<std::int64_t>(count));
            std::vector<std::vector<u64>> outs(num_targets, std::vector<u64>(n));
            std::vector<kk::ConversionTarget> targets;
            for (u64 t = 0; t < num_targets; ++t) {
                const u64 p = primes[9 + t];
                for (u64 m = 0; m < count; ++m)
                    factors[t][m] = static_cast<std::int64_t>(t == 0 ? p - 1 : rng() % p);
                const Modulus modulus(8, p, NttType::NONE);
                targets.push_back({factors[t].data(), kk::FoldConstants::of(modulus),
                                   kk::foldBias(p), outs[t].data()});
            }
            kk::convertBlock(sources.data(), count, largest / 2 + 1, targets.data(), targets.size(),
                             terms_per_fold, 0, n);
            for (u64 t = 0; t < num_targets; ++t) {
                const u64 p = primes[9 + t];
                for (u64 c = 0; c < n; ++c) {
                    BigInteger sum;
                    for (u64 m = 0; m < count; ++m) {
                        const auto v = static_cast<std::int64_t>(limbs[m][c]);
                        sum = sum + BigInteger::fromSigned(v) *
                                        BigInteger(static_cast<u64>(factors[t][m]));
                    }
                    EXPECT_LT(outs[t][c], 4 * p);
                    EXPECT_EQ(outs[t][c] % p, sum.mod(p)) << count << " " << t << " " << c;
                }
            }
        }
    }
}

TEST(FastBaseConvTest, RefusesUnusableChains) {
    const auto moduli = makeChain(3, 2);
    const std::vector<Modulus> no_tp(moduli.begin(), moduli.begin() + 3);
    std::vector<Modulus> without_transform = moduli;
    without_transform[4] = Modulus(kDegree, moduli[4].getPrime(), NttType::NONE);
    struct Case {
        std::vector<Modulus> chain;
        u64 L, dnum;
        const char *message;
    } cases[] = {
        {moduli, 0, 1, FastBaseConv::kNoBasePrimeMessage},
        {moduli, 3, 0, FastBaseConv::kNoGadgetRankMessage},
        {no_tp, 3, 1, FastBaseConv::kNoTemporaryPrimeMessage},
        {moduli, 5, 1, FastBaseConv::kNoTemporaryPrimeMessage},
        {without_transform, 3, 1, FastBaseConv::kNoTransformMessage},
    };
    for (const Case &c : cases) {
        expectThrowsMessage([&] { FastBaseConv conv(c.chain, c.L, c.dnum); }, c.message);
    }
    FastBaseConv conv(moduli, 3, 2);
    std::vector<u64> buffer(5 * kDegree * 2);
    u64 *outs[2] = {buffer.data(), buffer.data() + 5 * kDegree};
    EXPECT_THROW(conv.modUpLimbs(buffer.data(), 3, true, outs), RuntimeException);
    EXPECT_THROW(conv.modDownLimbs(buffer.data(), 3, buffer.data(), true), RuntimeException);
}

} // namespace
} // namespace Quelt

// ---- Polynomial level, on contexts ------------------------------------------

namespace Quelt {
namespace {

std::string unsupported(const std::string &name) {
    return "Cannot support the function '" + name + "' in the current build configuration";
}

template <typename F>
std::string messageOf(F &&f) {
    try {
        f();
    } catch (const std::exception &e) {
        return e.what();
    }
    return "no exception";
}

// L = 5 with gadget rank 2 (alpha = 3, K = 3); L = 3 with gadget rank 3
// (alpha = 1, K = 1).
const std::shared_ptr<ContextContent> &wideContext() {
    static const auto ctx = makeContext(6, 5, 40, 40, 40, 2);
    return ctx;
}
const std::shared_ptr<ContextContent> &narrowContext() {
    static const auto ctx = makeContext(6, 3, 40, 40, 40, 3);
    return ctx;
}

Polynomial randomPolynomial(const std::shared_ptr<ContextContent> &ctx, bool mod_up, u64 level,
                            std::mt19937_64 &rng) {
    Polynomial p(ctx, mod_up, true);
    p.setLevel(level);
    const u64 N = p.getDegree();
    for (u64 i = 0; i < p.getData().size() / N; ++i)
        for (u64 c = 0; c < N; ++c)
            p.getLimb(i)[c] = rng() % ctx->getPrimeModuli().getModulus(i).getPrime();
    return p;
}

TEST(FastBaseConvTest, PolynomialFormsFollowTheLimbForms) {
    std::mt19937_64 rng(3);
    for (const auto *ctx : {&wideContext(), &narrowContext()}) {
        const FastBaseConv conv(*ctx);
        const u64 L = getLength(*ctx), LK = L + getNumTP(*ctx), N = getDegree(*ctx);
        EXPECT_EQ(conv.getNumBasePrimes(), L);
        EXPECT_EQ(conv.getNumAllPrimes(), LK);
        EXPECT_EQ(conv.getPrimesPerDigit(), (L + getGadgetRank(*ctx) - 1) / getGadgetRank(*ctx));
        const u64 level = L - 2;
        const Polynomial a = randomPolynomial(*ctx, false, level, rng);
        const std::vector<Polynomial> digits = conv.modUp(a);
        ASSERT_EQ(digits.size(), conv.getNumDigits(level));
        std::vector<std::vector<u64>> expected(digits.size(), std::vector<u64>(LK * N));
        std::vector<u64 *> outs;
        for (auto &e : expected)
            outs.push_back(e.data());
        conv.modUpLimbs(a.getLimb(0), level, true, outs.data());
        for (u64 d = 0; d < digits.size(); ++d) {
            EXPECT_TRUE(digits[d].isModUp());
            EXPECT_TRUE(digits[d].isNTT());
            EXPECT_EQ(digits[d].getLevel(), level);
            for (u64 j = 0; j < LK; ++j) {
                if (j <= level || j >= L) {
                    EXPECT_TRUE(std::equal(digits[d].getLimb(j), digits[d].getLimb(j) + N,
                                           expected[d].data() + j * N));
                }
            }
        }

        // modDown of one polynomial, into a plain output and into itself.
        const Polynomial up = randomPolynomial(*ctx, true, level, rng);
        std::vector<u64> want((level + 1) * N);
        conv.modDownLimbs(up.getLimb(0), level, want.data(), false);
        Polynomial plain(*ctx, false, true);
        conv.modDown(up, plain, false);
        EXPECT_EQ(plain.getLevel(), level);
        EXPECT_FALSE(plain.isNTT());
        EXPECT_FALSE(plain.isModUp());
        EXPECT_EQ(plain.getData().size(), (level + 1) * N);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), plain.getLimb(0)));
        Polynomial self = up;
        conv.modDown(self, self, false);
        EXPECT_TRUE(self.isModUp());
        EXPECT_FALSE(self.isNTT());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), self.getLimb(0)));

        // The vector form converts every polynomial and sizes the output.
        PolynomialVector in(*ctx, 0, true, true);
        in.getPolys().push_back(up);
        in.getPolys().push_back(randomPolynomial(*ctx, true, level, rng));
        PolynomialVector out(*ctx, 5, false, false);
        conv.modDown(in, out, true);
        ASSERT_EQ(out.getSize(), 2u);
        for (u64 k = 0; k < 2; ++k) {
            std::vector<u64> w((level + 1) * N);
            conv.modDownLimbs(in.getPoly(k).getLimb(0), level, w.data(), true);
            EXPECT_TRUE(std::equal(w.begin(), w.end(), out.getPoly(k).getLimb(0)));
            EXPECT_TRUE(out.getPoly(k).isNTT());
        }
    }
}

TEST(FastBaseConvTest, PolynomialMessages) {
    std::mt19937_64 rng(5);
    const auto &ctx = wideContext();
    const FastBaseConv conv(ctx);
    const Device kCuda{1, 0}, kPinned{3, 0};
    auto emptyOn = [&](const Device &device, bool mod_up) {
        Polynomial p(ctx, mod_up, true);
        p.setData(DeviceSpecificArray<u64>(0, device));
        return p;
    };
    const Polynomial up = randomPolynomial(ctx, true, 4, rng);
    const Polynomial plain_in = randomPolynomial(ctx, false, 4, rng);
    Polynomial out(ctx, false, true);
    Polynomial other_context(narrowContext(), true, true);

    EXPECT_EQ(messageOf([&] { conv.modUp(emptyOn(kCuda, false)); }), unsupported("modUpGPUImpl"));
    EXPECT_EQ(messageOf([&] { conv.modUp(emptyOn(kPinned, false)); }), unsupported("modUp"));
    EXPECT_EQ(messageOf([&] { conv.modUp(emptyOn(kHostDevice, false)); }),
              FastBaseConv::kInputShapeMessage);
    EXPECT_EQ(messageOf([&] { conv.modUp(Polynomial(narrowContext(), false, true)); }),
              FastBaseConv::kInputShapeMessage);
    EXPECT_EQ(messageOf([&] { conv.modDown(emptyOn(kCuda, true), out, true); }),
              unsupported("modDownGPUImpl"));
    EXPECT_EQ(messageOf([&] { conv.modDown(emptyOn(kPinned, true), out, true); }),
              unsupported("modDown"));
    // A plain input has no temporary limbs to read.
    EXPECT_EQ(messageOf([&] { conv.modDown(plain_in, out, true); }),
              FastBaseConv::kInputShapeMessage);
    EXPECT_EQ(messageOf([&] { conv.modDown(up, other_context, true); }),
              FastBaseConv::kOutputShapeMessage);

    PolynomialVector empty(ctx, 0, true, true);
    PolynomialVector untouched(ctx, 3, false, true);
    EXPECT_THROW(conv.modDown(empty, untouched, true), std::out_of_range);
    EXPECT_EQ(untouched.getSize(), 3u);
    PolynomialVector on_cuda(ctx, 1, true, true);
    on_cuda.getPoly(0).setData(DeviceSpecificArray<u64>(0, kCuda));
    PolynomialVector resized(ctx, 3, false, true);
    EXPECT_EQ(messageOf([&] { conv.modDown(on_cuda, resized, true); }),
              unsupported("modDownGPUImpl"));
    EXPECT_EQ(resized.getSize(), 1u);
    // An output that is another polynomial's input (out[0] is in[1]).
    std::vector<Polynomial> chain_of_three = {up, up, up};
    EXPECT_EQ(messageOf([&] {
                  conv.modDownCPUImpl(chain_of_three.data(), 2, chain_of_three.data() + 1, true);
              }),
              FastBaseConv::kSharedOutputMessage);

    // modPackKeySwitch has no host implementation.
    const ModPackKeyBundle keys(ctx, 0);
    const Polynomial on_cuda_poly = emptyOn(kCuda, false);
    EXPECT_EQ(messageOf([&] { conv.modPackKeySwitch({}, keys, 1); }),
              FastBaseConv::kEmptyOperandMessage);
    EXPECT_EQ(messageOf([&] {
                  conv.modPackKeySwitch({&up, nullptr}, keys, 1);
              }),
              FastBaseConv::kNullOperandMessage);
    EXPECT_EQ(messageOf([&] {
                  conv.modPackKeySwitch({&up, &on_cuda_poly}, keys, 1);
              }),
              FastBaseConv::kOperandDevicesMessage);
    EXPECT_EQ(messageOf([&] { conv.modPackKeySwitch({&up}, keys, 1); }),
              unsupported("modPackKeySwitch"));
    EXPECT_EQ(messageOf([&] { conv.modPackKeySwitch({&on_cuda_poly}, keys, 1); }),
              unsupported("modPackKeySwitchGPUImpl"));
}

TEST(FastBaseConvTest, RefusesContextsWithoutTemporaryPrimesOrGadgetRank) {
    const auto &base = narrowContext();
    EXPECT_THROW(FastBaseConv(std::shared_ptr<ContextContent>()), RuntimeException);
    const std::vector<Modulus> &all = base->getPrimeModuli().getModuli();
    Parameter no_tp = base->getParameter();
    no_tp.num_tp = 0;
    const std::vector<Modulus> base_only(all.begin(), all.begin() + 3);
    const auto without_tp = std::make_shared<ContextContent>(
        no_tp, base_only, base->getScaleFactors(), std::set<Device>{});
    EXPECT_EQ(messageOf([&] { FastBaseConv conv(without_tp); }),
              FastBaseConv::kNoTemporaryPrimeMessage);
    Parameter no_rank = base->getParameter();
    no_rank.gadget_rank = 0;
    const auto without_rank =
        std::make_shared<ContextContent>(no_rank, all, base->getScaleFactors(), std::set<Device>{});
    EXPECT_EQ(messageOf([&] { FastBaseConv conv(without_rank); }),
              FastBaseConv::kNoGadgetRankMessage);
    EXPECT_EQ(messageOf([&] { RNSDecomposeData data(without_rank); }),
              RNSDecomposeData::kNoGadgetRankMessage);
}

} // namespace
} // namespace Quelt
