#include "Quelt/Encryptor.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyPack.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

// The largest error a Gaussian draw of width 3.2 can give.
constexpr std::int64_t kErrorBound = 21;

// The error of public-key encryption: |v e| <= 21 N, |e0 s| <= 21 h, |e1| <= 21.
std::int64_t publicKeyBound(const Context &ctx) {
    return kErrorBound * static_cast<std::int64_t>(getDegree(ctx) + getHammingWeight(ctx) + 1);
}

double deltaOf(const Context &ctx, u64 level, int counter) {
    return std::pow(2.0, ctx->getScaleFactors().getScaleFactor(level - static_cast<u64>(counter)));
}

// Levels worth a round trip: all of them up to the encryption level when
// there are few, otherwise the ends and the middle.
std::vector<u64> levelsOf(const Context &ctx) {
    const u64 top = getEncryptionLevel(ctx);
    if (top <= 4) {
        std::vector<u64> levels;
        for (u64 l = 0; l <= top; ++l)
            levels.push_back(l);
        return levels;
    }
    return {0, 1, top / 2, top};
}

// Rescale counters 0 and, where the level allows, 2.
std::vector<int> countersOf(u64 level) {
    return level == 0 ? std::vector<int>{0}
                      : std::vector<int>{0, static_cast<int>(std::min<u64>(level, 2))};
}

// Values in [-0.2, 0.2]: after scaling they stay below half of the base
// prime even where the scale factor equals its size.
Message randomMessage(const Context &ctx, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> dist(-0.2, 0.2);
    Message m(getLogFullSlots(ctx));
    for (auto &slot : m)
        slot = {dist(rng), dist(rng)};
    return m;
}
std::vector<double> randomValues(u64 count, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> dist(-0.2, 0.2);
    std::vector<double> values(count);
    for (double &v : values)
        v = dist(rng);
    return values;
}

void expectSlotsNear(const Message &got, const Message &want, double tolerance) {
    ASSERT_EQ(got.getSize(), want.getSize());
    for (u64 i = 0; i < got.getSize(); ++i)
        ASSERT_LE(std::abs(got[i] - want[i]), tolerance) << "slot " << i;
}
void expectValuesNear(const std::vector<double> &got, const std::vector<double> &want,
                      double tolerance) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_LE(std::abs(got[i] - want[i]), tolerance) << "value " << i;
}

template <EncryptionType ET>
void expectShape(const CiphertextBase<ET> &ct, u64 polys, u64 level, int counter, u64 logSlots,
                 EncodingType encoding, bool ntt) {
    EXPECT_EQ(ct.getNumPoly(), polys);
    EXPECT_EQ(ct.getLevel(), level);
    EXPECT_EQ(ct.getRescaleCounter(), counter);
    EXPECT_EQ(ct.getLogSlots(), logSlots);
    EXPECT_EQ(ct.getEncodingType(), encoding);
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        EXPECT_EQ(ct.getPoly(i).isNTT(), ntt) << "polynomial " << i;
}

// The plaintext a coefficient-encoded ciphertext decrypts to (the decryptor
// hands out plaintexts of slot-encoded ciphertexts only; the product does not
// depend on the encoding type).
template <EncryptionType ET>
Plaintext decryptedPolynomial(const Decryptor &dec, CiphertextBase<ET> ct,
                              const SecretKeyBase<ET> &sk) {
    ct.setEncodingType(EncodingType::SLOT);
    Plaintext pt(ct.getContext());
    dec.decrypt(ct, sk, pt);
    return pt;
}

// ---------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------

// Tolerance of decoded slots: the n slots sum at most n coefficients of the
// error (and the half that decoding may round), over the scale.
double slotTolerance(const Context &ctx, std::int64_t bound, double delta) {
    return static_cast<double>(getDegree(ctx)) * (static_cast<double>(bound) + 0.5) / delta;
}

// A message and a real vector encrypted with a ring or module secret key at
// `level` with `counter`, each decrypted again: rank + 1 polynomials, the
// decryption differs from the encoding by one small integer polynomial, and
// decoding gives the values back within that error.
template <EncryptionType ET>
void expectSecretKeyRoundTrip(const Context &ctx, const SecretKeyBase<ET> &sk, u64 level,
                              int counter, std::mt19937_64 &rng) {
    SCOPED_TRACE(testing::Message() << "level " << level << ", counter " << counter);
    const Encryptor enc(ctx);
    const Decryptor dec(ctx);
    const EnDecoder coder(ctx);
    const u64 polys = getRank(ctx) + 1;
    const double delta = deltaOf(ctx, level, counter);
    CiphertextBase<ET> ct(ctx, false, true);
    Plaintext pt(ctx);

    const Message msg = randomMessage(ctx, rng);
    enc.encrypt(msg, sk, ct, level, counter);
    expectShape(ct, polys, level, counter, getLogFullSlots(ctx), EncodingType::SLOT, true);
    dec.decrypt(ct, sk, pt);
    expectSmallDifference(ctx, pt.getMx(), coder.encode(msg, level, counter).getMx(), level,
                          kErrorBound);
    Message out;
    dec.decrypt(ct, sk, out);
    expectSlotsNear(out, msg, slotTolerance(ctx, kErrorBound, delta));

    const std::vector<double> values = randomValues(getDegree(ctx), rng);
    enc.encrypt(values, sk, ct, level, counter);
    expectShape(ct, polys, level, counter, getLogFullSlots(ctx), EncodingType::COEFFICIENT, false);
    expectSmallDifference(ctx, decryptedPolynomial(dec, ct, sk).getMx(),
                          coder.encodeWithoutNTT(values, level, counter).getMx(), level,
                          kErrorBound);
    std::vector<double> real;
    dec.decrypt(ct, sk, real);
    expectValuesNear(real, values, (kErrorBound + 0.5) / delta);
}

// Ring keys, with the secret key and with the public key, at every level up
// to the encryption level and with rescale counters.
TEST(EncryptorRoundTripTest, Ring) {
    std::mt19937_64 rng(20);
    for (const Context &ctx : {degree64ThreePrimes(), degreeTenContext(), fxContext()}) {
        SCOPED_TRACE(getDegree(ctx));
        const PublicKeys keys(ctx);
        const Encryptor enc(ctx);
        const Decryptor dec(ctx);
        const EnDecoder coder(ctx);
        const u64 logSlots = getLogFullSlots(ctx);
        Ciphertext ct(ctx, false, true);
        Plaintext pt(ctx);
        Message out;
        std::vector<double> real;
        for (const u64 level : levelsOf(ctx)) {
            for (const int counter : countersOf(level)) {
                expectSecretKeyRoundTrip(ctx, keys.secretKey, level, counter, rng);

                SCOPED_TRACE(testing::Message()
                             << "public key, level " << level << ", counter " << counter);
                const double delta = deltaOf(ctx, level, counter);
                const Message msg = randomMessage(ctx, rng);
                enc.encrypt(msg, keys.pack, ct, level, counter);
                expectShape(ct, 2, level, counter, logSlots, EncodingType::SLOT, true);
                dec.decrypt(ct, keys.secretKey, pt);
                expectSmallDifference(ctx, pt.getMx(), coder.encode(msg, level, counter).getMx(),
                                      level, publicKeyBound(ctx));
                dec.decrypt(ct, keys.secretKey, out);
                expectSlotsNear(out, msg, slotTolerance(ctx, publicKeyBound(ctx), delta));
            }
            // The public key takes real vectors with an explicit scale.
            const double scale = std::pow(2.0, 30);
            const std::vector<double> values = randomValues(getDegree(ctx) / 2, rng);
            enc.encryptWithScale(values, keys.pack, ct, level, scale, false);
            expectShape(ct, 2, level, 0, logSlots - 1, EncodingType::COEFFICIENT, false);
            expectSmallDifference(ctx, decryptedPolynomial(dec, ct, keys.secretKey).getMx(),
                                  coder.encodeWithScale(values, level, scale, false).getMx(), level,
                                  publicKeyBound(ctx));
            dec.decryptWithScale(ct, keys.secretKey, real, scale, false);
            expectValuesNear(real, values, (publicKeyBound(ctx) + 0.5) / scale);
        }
    }
}

// Module keys of rank 4: rank + 1 polynomials, decrypting to c0 + sum ci
// s(i-1).
TEST(EncryptorRoundTripTest, Module) {
    std::mt19937_64 rng(21);
    const Context ctx = rankFourContext();
    const MlweKey sk(ctx);
    for (const u64 level : levelsOf(ctx))
        for (const int counter : countersOf(level))
            expectSecretKeyRoundTrip(ctx, sk, level, counter, rng);
}

// Two secrets sharing one mask: each decrypts its own message.
TEST(EncryptorRoundTripTest, MultiSecret) {
    std::mt19937_64 rng(22);
    const Context ctx = twoSecretVariant();
    const MsKey sk(ctx);
    const Encryptor enc(ctx);
    const Decryptor dec(ctx);
    const EnDecoder coder(ctx);
    MsCiphertext ct(ctx, false, true);
    std::vector<Plaintext> pts;
    std::vector<Message> outs;
    std::vector<std::vector<double>> reals;
    for (const u64 level : levelsOf(ctx)) {
        for (const int counter : countersOf(level)) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", counter " << counter);
            const double delta = deltaOf(ctx, level, counter);
            const std::vector<Message> msgs = {randomMessage(ctx, rng), randomMessage(ctx, rng)};
            enc.encrypt(msgs, sk, ct, level, counter);
            expectShape(ct, 3, level, counter, getLogFullSlots(ctx), EncodingType::SLOT, true);
            dec.decrypt(ct, sk, pts);
            ASSERT_EQ(pts.size(), 2u);
            dec.decrypt(ct, sk, outs);
            ASSERT_EQ(outs.size(), 2u);
            for (u64 i = 0; i < 2; ++i) {
                expectSmallDifference(ctx, pts[i].getMx(),
                                      coder.encode(msgs[i], level, counter).getMx(), level,
                                      kErrorBound);
                expectSlotsNear(outs[i], msgs[i], slotTolerance(ctx, kErrorBound, delta));
            }

            const std::vector<std::vector<double>> values = {randomValues(32, rng),
                                                             randomValues(32, rng)};
            enc.encrypt(values, sk, ct, level, counter);
            EXPECT_EQ(ct.getEncodingType(), EncodingType::COEFFICIENT);
            EXPECT_FALSE(ct.getPoly(0).isNTT() || ct.getPoly(2).isNTT());
            dec.decrypt(ct, sk, pts);
            dec.decrypt(ct, sk, reals);
            ASSERT_EQ(reals.size(), 2u);
            for (u64 i = 0; i < 2; ++i) {
                expectSmallDifference(ctx, pts[i].getMx(),
                                      coder.encodeWithoutNTT(values[i], level, counter).getMx(),
                                      level, kErrorBound);
                expectValuesNear(reals[i], values[i], (kErrorBound + 0.5) / delta);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Draw orders
// ---------------------------------------------------------------------------

// A polynomial of the context at `level` filled by one sampler call.
Polynomial drawn(const Context &ctx, u64 level,
                 void (RandomSampler::*sample)(Polynomial &, const Context &) const) {
    Polynomial p(ctx, false, false);
    p.setLevel(level);
    (RandomSampler().*sample)(p, ctx);
    return p;
}

Rows nttRows(const Context &ctx, Polynomial p, u64 level) {
    ctx->getPrimeModuli().forwardNTT<OutputModulusBoundValidator, 1>(p, p, {0, level + 1});
    return rowsOf(p, level);
}

// e + m in m's form, then in NTT form.
Rows errorPlusMessage(const Context &ctx, const Polynomial &e, const Plaintext &m, u64 level) {
    const std::vector<u64> primes = primesUpTo(ctx, level);
    if (m.getMx().isNTT())
        return addRows(nttRows(ctx, e, level), rowsOf(m.getMx(), level), primes);
    Polynomial sum(e);
    const Rows rows = addRows(rowsOf(e, level), rowsOf(m.getMx(), level), primes);
    for (u64 i = 0; i <= level; ++i)
        std::copy(rows[i].begin(), rows[i].end(), sum.getLimb(i));
    return nttRows(ctx, sum, level);
}

// Public key: v (ternary), e0, e1 in this order; c1 = a v + e0 and c0 = b v +
// e1 + m, with plaintexts in NTT form and in coefficient form.
TEST(EncryptorDrawOrderTest, PublicKey) {
    const Context ctx = degree64ThreePrimes();
    const PublicKeys keys(ctx);
    const std::shared_ptr<EncryptionKey> key = keys.pack.getEncKey();
    const Encryptor enc(ctx);
    const EnDecoder coder(ctx);
    std::mt19937_64 rng(23);
    const Message msg = randomMessage(ctx, rng);
    const u64 level = 1;
    const std::vector<u64> primes = primesUpTo(ctx, level);
    auto &gen = UniformRandomBitGenerator::getInstance();
    for (const Plaintext &m :
         {coder.encode(msg, level, 1), coder.encodeWithoutNTT(msg, level, 1)}) {
        SCOPED_TRACE(m.getMx().isNTT() ? "NTT form" : "coefficient form");
        reseed();
        Ciphertext ct(ctx, false, true);
        enc.encrypt(m, keys.pack, ct);
        const std::string after = gen.getState();

        reseed();
        const Polynomial v = drawn(ctx, level, &RandomSampler::sampleZO);
        const Polynomial e0 = drawn(ctx, level, &RandomSampler::sampleGaussian);
        const Polynomial e1 = drawn(ctx, level, &RandomSampler::sampleGaussian);
        EXPECT_EQ(gen.getState(), after) << "encryption draws more than v, e0 and e1";
        const Rows vRows = nttRows(ctx, v, level);
        const Rows c1 = addRows(mulRows(rowsOf(key->getAx(), level), vRows, primes),
                                nttRows(ctx, e0, level), primes);
        const Rows c0 = addRows(mulRows(rowsOf(key->getBx(), level), vRows, primes),
                                errorPlusMessage(ctx, e1, m, level), primes);
        expectShape(ct, 2, level, 1, m.getLogSlots(), EncodingType::SLOT, true);
        EXPECT_EQ(rowsOf(ct.getPoly(0), level), c0);
        EXPECT_EQ(rowsOf(ct.getPoly(1), level), c1);
    }
}

// Secret key: the masks c1..ck on their own, then e; c0 = e + m - sum ci
// s(i-1).
template <EncryptionType ET>
void expectSecretKeyDraws(const Context &ctx) {
    const SecretKeyBase<ET> sk(ctx);
    const Encryptor enc(ctx);
    const EnDecoder coder(ctx);
    std::mt19937_64 rng(24);
    const Message msg = randomMessage(ctx, rng);
    const u64 level = 1;
    const u64 rank = getRank(ctx);
    const std::vector<u64> primes = primesUpTo(ctx, level);
    auto &gen = UniformRandomBitGenerator::getInstance();
    for (const Plaintext &m :
         {coder.encode(msg, level, 0), coder.encodeWithoutNTT(msg, level, 0)}) {
        SCOPED_TRACE(m.getMx().isNTT() ? "NTT form" : "coefficient form");
        reseed();
        CiphertextBase<ET> ct(ctx, false, true);
        enc.encrypt(m, sk, ct);
        const std::string after = gen.getState();

        reseed();
        std::vector<Rows> masks;
        for (u64 i = 0; i < rank; ++i)
            masks.push_back(rowsOf(drawn(ctx, level, &RandomSampler::sampleUniform), level));
        const Polynomial e = drawn(ctx, level, &RandomSampler::sampleGaussian);
        EXPECT_EQ(gen.getState(), after) << "encryption draws more than the masks and e";
        Rows c0 = errorPlusMessage(ctx, e, m, level);
        for (u64 i = 0; i < rank; ++i)
            c0 = subRows(c0, mulRows(masks[i], rowsOf(sk.getSx(i), level), primes), primes);
        expectShape(ct, rank + 1, level, 0, m.getLogSlots(), EncodingType::SLOT, true);
        EXPECT_EQ(rowsOf(ct.getPoly(0), level), c0);
        for (u64 i = 0; i < rank; ++i)
            EXPECT_EQ(rowsOf(ct.getPoly(i + 1), level), masks[i]) << "mask " << i + 1;
    }
}

TEST(EncryptorDrawOrderTest, SecretKey) {
    expectSecretKeyDraws<EncryptionType::RLWE>(degree64ThreePrimes());
    expectSecretKeyDraws<EncryptionType::MLWE>(rankFourContext());
}

// Several secrets: the common mask (last polynomial) first, then e_i per
// secret in order; c_i = e_i + m_i - mask s_i. A plaintext beyond the number
// of secrets is not used.
TEST(EncryptorDrawOrderTest, MultiSecret) {
    const Context ctx = twoSecretVariant();
    const MsKey sk(ctx);
    const Encryptor enc(ctx);
    const EnDecoder coder(ctx);
    std::mt19937_64 rng(25);
    const u64 level = 2;
    const std::vector<u64> primes = primesUpTo(ctx, level);
    // One plaintext in each form, and a third that must be ignored.
    const std::vector<Plaintext> pts = {coder.encode(randomMessage(ctx, rng), level, 1),
                                        coder.encodeWithoutNTT(randomMessage(ctx, rng), level, 1),
                                        coder.encode(randomMessage(ctx, rng), level, 0)};
    auto &gen = UniformRandomBitGenerator::getInstance();
    reseed();
    MsCiphertext ct(ctx, false, true);
    enc.encrypt(pts, sk, ct);
    const std::string after = gen.getState();
    const std::string record = streamBytes(ct);

    reseed();
    const Rows mask = rowsOf(drawn(ctx, level, &RandomSampler::sampleUniform), level);
    const Polynomial e0 = drawn(ctx, level, &RandomSampler::sampleGaussian);
    const Polynomial e1 = drawn(ctx, level, &RandomSampler::sampleGaussian);
    EXPECT_EQ(gen.getState(), after);
    expectShape(ct, 3, level, 1, getLogFullSlots(ctx), EncodingType::SLOT, true);
    EXPECT_EQ(rowsOf(ct.getPoly(2), level), mask);
    EXPECT_EQ(rowsOf(ct.getPoly(0), level),
              subRows(errorPlusMessage(ctx, e0, pts[0], level),
                      mulRows(mask, rowsOf(sk.getSx(0), level), primes), primes));
    EXPECT_EQ(rowsOf(ct.getPoly(1), level),
              subRows(errorPlusMessage(ctx, e1, pts[1], level),
                      mulRows(mask, rowsOf(sk.getSx(1), level), primes), primes));

    reseed();
    enc.encrypt(std::vector<Plaintext>(pts.begin(), pts.begin() + 2), sk, ct);
    EXPECT_EQ(streamBytes(ct), record);
}

// ---------------------------------------------------------------------------
// Forms and outputs
// ---------------------------------------------------------------------------

// Real vectors: two values are enough; the result has coefficient encoding in
// coefficient form, or in NTT form when encryptWithScale is told to keep it.
TEST(EncryptorTest, RealVectorForms) {
    const Context ctx = degree64ThreePrimes();
    const PublicKeys keys(ctx);
    const Encryptor enc(ctx);
    const Decryptor dec(ctx);
    const double scale = std::pow(2.0, 30);
    Ciphertext ct(ctx, false, true);
    std::vector<double> real;

    enc.encrypt(std::vector<double>{0.125, -0.0625}, keys.secretKey, ct);
    expectShape(ct, 2, getEncryptionLevel(ctx), 0, 0, EncodingType::COEFFICIENT, false);
    dec.decrypt(ct, keys.secretKey, real);
    expectValuesNear(real, {0.125, -0.0625}, 1e-9);

    for (const bool keep : {true, false}) {
        enc.encryptWithScale({0.5, -0.25, 0.75, 0.0}, keys.secretKey, ct, 1, scale, keep);
        expectShape(ct, 2, 1, 0, 1, EncodingType::COEFFICIENT, keep);
        dec.decryptWithScale(ct, keys.secretKey, real, scale, keep);
        expectValuesNear(real, {0.5, -0.25, 0.75, 0.0}, 1e-7);
        enc.encryptWithScale({0.5, -0.25, 0.75, 0.0}, keys.pack, ct, 1, scale, keep);
        expectShape(ct, 2, 1, 0, 1, EncodingType::COEFFICIENT, keep);
        dec.decryptWithScale(ct, keys.secretKey, real, scale, keep);
        expectValuesNear(real, {0.5, -0.25, 0.75, 0.0}, (publicKeyBound(ctx) + 0.5) / scale);
    }

    // Several secrets: only the first s vectors count; each of them gets the
    // size checks.
    const Context ms = twoSecretVariant();
    const MsKey msKey(ms);
    MsCiphertext msCt(ms, false, true);
    std::vector<std::vector<double>> reals;
    Encryptor(ms).encryptWithScale({{0.5, 0.25}, {-0.5, 0.125}, {1.0, 2.0, 3.0}}, msKey, msCt, 2,
                                   scale, true);
    expectShape(msCt, 3, 2, 0, 0, EncodingType::COEFFICIENT, true);
    Decryptor(ms).decryptWithScale(msCt, msKey, reals, scale, true);
    ASSERT_EQ(reals.size(), 2u);
    expectValuesNear(reals[0], {0.5, 0.25}, 1e-7);
    expectValuesNear(reals[1], {-0.5, 0.125}, 1e-7);
}

// Whatever the output held before (coefficient encoding, another context,
// three polynomials, the temporary primes, a seed), the result is that of a
// fresh ciphertext, and the encoding type is written by every form.
TEST(EncryptorTest, ReusedOutputIsReplacedWhole) {
    const Context ctx = degree64ThreePrimes();
    const PublicKeys keys(ctx);
    const Encryptor enc(ctx);
    std::mt19937_64 rng(26);
    const Plaintext pt = EnDecoder(ctx).encode(randomMessage(ctx, rng), 1, 1);

    reseed();
    Ciphertext fresh(ctx, false, true);
    enc.encrypt(pt, keys.secretKey, fresh);
    const std::string expected = streamBytes(fresh);
    reseed();
    enc.encrypt(pt, keys.pack, fresh);
    const std::string expectedPublic = streamBytes(fresh);

    Ciphertext coefficient(ctx, false, true);
    enc.encrypt(std::vector<double>{0.1, 0.2, 0.3, 0.4}, keys.secretKey, coefficient);
    Ciphertext foreign(otherContext(), true, false);
    foreign.setNumPoly(3);
    Ciphertext seeded(ctx, false, true);
    seeded.getPoly(1).getGerm().emplace();
    for (Ciphertext *out : {&coefficient, &foreign, &seeded}) {
        Ciphertext copy = *out;
        reseed();
        enc.encrypt(pt, keys.secretKey, copy);
        EXPECT_EQ(copy.getEncodingType(), EncodingType::SLOT);
        EXPECT_EQ(copy.getContext(), ctx);
        EXPECT_EQ(streamBytes(copy), expected);
        copy = *out;
        reseed();
        enc.encrypt(pt, keys.pack, copy);
        EXPECT_EQ(streamBytes(copy), expectedPublic);
    }
}

// ---------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------

const Device kPinned{Device::kPinned, 0};

// A copy of the plaintext whose polynomial is on another device (an empty
// pinned array stands for one).
Plaintext onOtherDevice(Plaintext pt) {
    pt.getMx().setData(DeviceSpecificArray<std::uint64_t>(0, kPinned));
    return pt;
}

// Every refusal, with its message; none changes the output.
TEST(EncryptorTest, RefusalsLeaveTheOutputUnchanged) {
    // FX: encryption level 12 below the top level 24.
    const Context ctx = fxContext();
    const u64 top = getEncryptionLevel(ctx);
    const PublicKeys keys(ctx);
    const Encryptor enc(ctx);
    const EnDecoder coder(ctx);
    std::mt19937_64 rng(27);
    const Message msg = randomMessage(ctx, rng);
    const Plaintext pt = coder.encode(msg, 3, 0);
    const Plaintext above = coder.encode(msg, top + 1, 0);
    const KeyPack empty(ctx);
    const PublicKeys pinnedKeys(ctx);
    pinnedKeys.pack.getEncKey()->getAx().setData(DeviceSpecificArray<std::uint64_t>(0, kPinned));
    pinnedKeys.pack.getEncKey()->getBx().setData(DeviceSpecificArray<std::uint64_t>(0, kPinned));
    const PublicKeys foreignKeys(degree64ThreePrimes());
    const RlweKey wideKey(otherContext());
    const Plaintext foreignPt =
        EnDecoder(degree64ThreePrimes()).encode(randomMessage(degree64ThreePrimes(), rng));
    const Plaintext modUp = coder.encodeCustomLevel(msg, 2, 2, true);
    Plaintext lowered = coder.encode(msg, 3, 3);
    lowered.setLevel(2);

    const Context msCtx = twoSecretVariant();
    const MsKey msKey(msCtx);
    const Encryptor msEnc(msCtx);
    const EnDecoder msCoder(msCtx);
    const Plaintext msPt = msCoder.encode(randomMessage(msCtx, rng), 1, 0);
    const Message msMsg = randomMessage(msCtx, rng);
    const MsKey foreignMsKey(genMultiSecretContext(degreeTenContext(), "TenNS2", 2));

    Ciphertext out(ctx, false, true);
    enc.encrypt(pt, keys.secretKey, out);
    const std::string record = streamBytes(out);
    MsCiphertext msOut(msCtx, false, true);
    msEnc.encrypt({msPt, msPt}, msKey, msOut);
    const std::string msRecord = streamBytes(msOut);

    const char *const noKey = "[encrypt] Failed to load the encryption key";
    const char *const devices = "Operands are in different devices.";
    const char *const publicLevel =
        "[encrypt] Level of an input Plaintext cannot be greater than encryption level.";
    const char *const secretLevel =
        "[encrypt] Level of an input Plaintext cannot be greater than encryption level";
    const char *const count = "[encrypt] The vector size is less than the number of secret.";
    const char *const belowTwo = "[encode] Cannot encode a message with a size less than 2";
    const char *const notPowerOfTwo = "[encode] The message size should be a power of two";
    const char *const keyMismatch = "[encrypt] The key does not match the context of the Encryptor";
    const char *const plaintextMismatch =
        "[encrypt] The plaintext does not match the context of the Encryptor";
    const char *const notHost = "Not supported. Build with QUELT_CUDA flag.";
    const double scale = std::pow(2.0, 30);
    const std::vector<double> three = {0.1, 0.2, 0.3};

    struct Row {
        const char *what;
        std::function<void()> call;
        const char *message;
    };
    const std::vector<Row> rows = {
        {"no key, plaintext", [&] { enc.encrypt(pt, empty, out); }, noKey},
        {"no key, message", [&] { enc.encrypt(msg, empty, out); }, noKey},
        {"no key, message at a level", [&] { enc.encrypt(msg, empty, out, 1, 0); }, noKey},
        {"no key, explicit scale",
         [&] {
             enc.encryptWithScale({0.1, 0.2}, empty, out, 1, scale, false);
         },
         noKey},
        {"key elsewhere, plaintext", [&] { enc.encrypt(pt, pinnedKeys.pack, out); }, devices},
        {"key elsewhere, message", [&] { enc.encrypt(msg, pinnedKeys.pack, out); }, devices},
        {"plaintext elsewhere, public key", [&] { enc.encrypt(onOtherDevice(pt), keys.pack, out); },
         devices},
        {"plaintext elsewhere, secret key",
         [&] { enc.encrypt(onOtherDevice(pt), keys.secretKey, out); }, notHost},
        {"level, public key", [&] { enc.encrypt(above, keys.pack, out); }, publicLevel},
        {"level, public key, message", [&] { enc.encrypt(msg, keys.pack, out, top + 1, 0); },
         publicLevel},
        {"level, secret key", [&] { enc.encrypt(above, keys.secretKey, out); }, secretLevel},
        {"level, secret key, message", [&] { enc.encrypt(msg, keys.secretKey, out, top + 1, 0); },
         secretLevel},
        {"level, secret key, values",
         [&] {
             enc.encrypt(std::vector<double>{0.1, 0.2}, keys.secretKey, out, top + 1, 0);
         },
         secretLevel},
        {"level, explicit scale",
         [&] {
             enc.encryptWithScale({0.1, 0.2}, keys.secretKey, out, top + 1, scale, false);
         },
         secretLevel},
        {"no values", [&] { enc.encrypt(std::vector<double>{}, keys.secretKey, out); }, belowTwo},
        {"one value", [&] { enc.encrypt(std::vector<double>{0.1}, keys.secretKey, out); },
         belowTwo},
        {"three values", [&] { enc.encrypt(three, keys.secretKey, out); }, notPowerOfTwo},
        {"one value, explicit scale",
         [&] { enc.encryptWithScale({0.1}, keys.secretKey, out, 1, scale, false); }, belowTwo},
        {"three values, explicit scale",
         [&] { enc.encryptWithScale(three, keys.secretKey, out, 1, scale, false); }, notPowerOfTwo},
        {"three values, explicit scale, public key",
         [&] { enc.encryptWithScale(three, keys.pack, out, 1, scale, false); }, notPowerOfTwo},
        {"key of other primes, public", [&] { enc.encrypt(pt, foreignKeys.pack, out); },
         keyMismatch},
        {"key of other primes, secret", [&] { enc.encrypt(pt, foreignKeys.secretKey, out); },
         keyMismatch},
        {"key of another degree", [&] { enc.encrypt(pt, wideKey, out); }, keyMismatch},
        {"plaintext of other primes, public", [&] { enc.encrypt(foreignPt, keys.pack, out); },
         plaintextMismatch},
        {"plaintext of other primes, secret", [&] { enc.encrypt(foreignPt, keys.secretKey, out); },
         plaintextMismatch},
        {"mod-up plaintext", [&] { enc.encrypt(modUp, keys.secretKey, out); },
         "Operands have different mod-up states."},
        {"rescale counter above the level", [&] { enc.encrypt(lowered, keys.pack, out); },
         "Rescale counter should be less than or equal to the level"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        expectThrowsMessage(row.call, row.message);
        EXPECT_EQ(streamBytes(out), record);
    }

    const std::vector<Row> msRows = {
        {"one plaintext", [&] { msEnc.encrypt(std::vector<Plaintext>{msPt}, msKey, msOut); },
         count},
        {"one message", [&] { msEnc.encrypt(std::vector<Message>{msMsg}, msKey, msOut); }, count},
        {"one message at a level",
         [&] { msEnc.encrypt(std::vector<Message>{msMsg}, msKey, msOut, 1, 0); }, count},
        {"one vector",
         [&] {
             msEnc.encrypt(std::vector<std::vector<double>>{{0.1, 0.2}}, msKey, msOut);
         },
         count},
        {"one vector, explicit scale",
         [&] {
             msEnc.encryptWithScale({{0.1, 0.2}}, msKey, msOut, 1, scale, false);
         },
         count},
        {"second vector of one value",
         [&] {
             msEnc.encrypt(std::vector<std::vector<double>>{{0.1, 0.2}, {0.1}}, msKey, msOut);
         },
         belowTwo},
        {"second vector of three values, explicit scale",
         [&] {
             msEnc.encryptWithScale({{0.1, 0.2}, three}, msKey, msOut, 1, scale, false);
         },
         notPowerOfTwo},
        {"plaintexts at two levels",
         [&] {
             msEnc.encrypt({msPt, msCoder.encode(msMsg, 2, 0)}, msKey, msOut);
         },
         "[encrypt] The plaintexts are not at one level"},
        {"key of other primes",
         [&] {
             msEnc.encrypt({msPt, msPt}, foreignMsKey, msOut);
         },
         keyMismatch},
    };
    for (const Row &row : msRows) {
        SCOPED_TRACE(row.what);
        expectThrowsMessage(row.call, row.message);
        EXPECT_EQ(streamBytes(msOut), msRecord);
    }
}

TEST(EncryptorTest, NullContext) {
    expectThrowsMessage([] { Encryptor enc(nullptr); }, "[Context] The context is null");
    expectThrowsMessage([] { KeyPack pack(nullptr); }, "[Context] The context is null");
}

} // namespace
} // namespace Quelt::test
