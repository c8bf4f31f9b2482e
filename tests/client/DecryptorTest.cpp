#include "Quelt/Decryptor.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace Quelt::test {
namespace {

// Writes rows 0..level into p.
void setRows(Polynomial &p, const Rows &rows) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        std::copy(rows[i].begin(), rows[i].end(), p.getLimb(i));
}

// A ciphertext of `count` polynomials at `level` with uniform residues, in
// coefficient form, with log slot count 3 and rescale counter 1; their rows
// are returned in `rows`.
template <EncryptionType ET>
CiphertextBase<ET> randomCiphertext(const Context &ctx, u64 count, u64 level,
                                    std::vector<Rows> &rows, std::mt19937_64 &rng) {
    CiphertextBase<ET> ct(ctx, false, false);
    ct.setNumPoly(count);
    ct.setLevel(level);
    ct.setLogSlots(3);
    ct.setRescaleCounter(1);
    rows.clear();
    for (u64 k = 0; k < count; ++k) {
        Rows r;
        for (u64 i = 0; i <= level; ++i)
            r.push_back(randomResidues(getDegree(ctx), primeAt(ctx, i), rng));
        setRows(ct.getPoly(k), r);
        rows.push_back(r);
    }
    return ct;
}

// The same ciphertext with every polynomial in NTT form.
template <EncryptionType ET>
CiphertextBase<ET> inNTTForm(CiphertextBase<ET> ct) {
    ct.forwardNTT();
    return ct;
}

void expectPlaintext(const Context &ctx, const Plaintext &pt, const Rows &expected, u64 level) {
    EXPECT_EQ(pt.getLevel(), level);
    EXPECT_EQ(pt.getLogSlots(), 3u);
    EXPECT_EQ(pt.getRescaleCounter(), 1);
    EXPECT_TRUE(pt.getMx().isNTT());
    EXPECT_FALSE(pt.getMx().isModUp());
    EXPECT_EQ(coefficientRows(ctx, pt.getMx(), level), expected);
}

// ---------------------------------------------------------------------------
// What each layout decrypts to, against negacyclic products of the secret's
// integer coefficients
// ---------------------------------------------------------------------------

// RLWE of two and of three polynomials: c0 + c1 s and c0 + c1 s + c2 s^2,
// whether the polynomials come in coefficient or in NTT form.
TEST(DecryptorProductsTest, Ring) {
    const Context ctx = degree64ThreePrimes();
    const RlweKey sk(ctx);
    const Decryptor dec(ctx);
    std::mt19937_64 rng(30);
    const u64 level = 1;
    const std::vector<u64> primes = primesUpTo(ctx, level);
    const Rows s = secretRows(sk, 0, level);
    for (const u64 count : {2u, 3u}) {
        std::vector<Rows> c;
        const Ciphertext ct = randomCiphertext<EncryptionType::RLWE>(ctx, count, level, c, rng);
        Rows expected = addRows(c[0], ringMulRows(c[1], s, primes), primes);
        if (count == 3)
            expected =
                addRows(expected, ringMulRows(ringMulRows(c[2], s, primes), s, primes), primes);
        for (const Ciphertext &input : {ct, inNTTForm(ct)}) {
            Plaintext pt(ctx);
            dec.decrypt(input, sk, pt);
            expectPlaintext(ctx, pt, expected, level);
        }
    }
}

// MLWE of rank 4: c0 + c1 s0 + ... + c4 s3.
TEST(DecryptorProductsTest, Module) {
    const Context ctx = rankFourContext();
    const MlweKey sk(ctx);
    std::mt19937_64 rng(31);
    const u64 level = 2;
    const std::vector<u64> primes = primesUpTo(ctx, level);
    std::vector<Rows> c;
    const MlweCiphertext ct = randomCiphertext<EncryptionType::MLWE>(ctx, 5, level, c, rng);
    Rows expected = c[0];
    for (u64 i = 1; i <= 4; ++i)
        expected =
            addRows(expected, ringMulRows(c[i], secretRows(sk, i - 1, level), primes), primes);
    for (const MlweCiphertext &input : {ct, inNTTForm(ct)}) {
        Plaintext pt(ctx);
        Decryptor(ctx).decrypt(input, sk, pt);
        expectPlaintext(ctx, pt, expected, level);
    }
}

// Two secrets: per secret (c0 + c2 s0, c1 + c2 s1), in general form c2 + c0
// s0 + c1 s1; either encoding type is accepted.
TEST(DecryptorProductsTest, MultiSecret) {
    const Context ctx = twoSecretVariant();
    const MsKey sk(ctx);
    const Decryptor dec(ctx);
    std::mt19937_64 rng(32);
    const u64 level = 2;
    const std::vector<u64> primes = primesUpTo(ctx, level);
    const Rows s0 = secretRows(sk, 0, level);
    const Rows s1 = secretRows(sk, 1, level);
    std::vector<Rows> c;
    MsCiphertext ct = randomCiphertext<EncryptionType::MSRLWE>(ctx, 3, level, c, rng);
    const Rows first = addRows(c[0], ringMulRows(c[2], s0, primes), primes);
    const Rows second = addRows(c[1], ringMulRows(c[2], s1, primes), primes);
    const Rows general =
        addRows(c[2], addRows(ringMulRows(c[0], s0, primes), ringMulRows(c[1], s1, primes), primes),
                primes);
    for (const EncodingType encoding : {EncodingType::SLOT, EncodingType::COEFFICIENT}) {
        ct.setEncodingType(encoding);
        for (const MsCiphertext &input : {ct, inNTTForm(ct)}) {
            std::vector<Plaintext> pts;
            dec.decrypt(input, sk, pts);
            ASSERT_EQ(pts.size(), 2u);
            expectPlaintext(ctx, pts[0], first, level);
            expectPlaintext(ctx, pts[1], second, level);
            Plaintext pt(ctx);
            dec.generalDecrypt(input, sk, pt);
            expectPlaintext(ctx, pt, general, level);
        }
    }
}

// ---------------------------------------------------------------------------
// Partial decryption
// ---------------------------------------------------------------------------

// (c1 s + c0 + e, c1) with one Gaussian e drawn after the checks; c1 and the
// encoding type carry over, and the output may be the input.
TEST(DecryptorTest, PartialDecrypt) {
    const Context ctx = degree64ThreePrimes();
    const RlweKey sk(ctx);
    const Encryptor enc(ctx);
    const Decryptor dec(ctx);
    std::mt19937_64 rng(33);
    const u64 level = 1;
    const std::vector<u64> primes = primesUpTo(ctx, level);
    Message msg(getLogFullSlots(ctx));
    for (auto &slot : msg)
        slot = {0.1, -0.1};
    Ciphertext ct(ctx, false, true);
    enc.encrypt(msg, sk, ct, level, 1);
    const std::string input = streamBytes(ct);
    auto &gen = UniformRandomBitGenerator::getInstance();

    reseed();
    Ciphertext d(otherContext(), false, false);
    dec.partialDecrypt(ct, sk, d);
    const std::string after = gen.getState();
    EXPECT_EQ(streamBytes(ct), input);

    reseed();
    Polynomial e(ctx, false, false);
    e.setLevel(level);
    RandomSampler().sampleGaussian(e, ctx);
    EXPECT_EQ(gen.getState(), after) << "partial decryption draws more than one error";
    ctx->getPrimeModuli().forwardNTT<OutputModulusBoundValidator, 1>(e, e, {0, level + 1});
    const Rows c0 = rowsOf(ct.getPoly(0), level);
    const Rows c1 = rowsOf(ct.getPoly(1), level);
    const Rows expected =
        addRows(addRows(mulRows(c1, rowsOf(sk.getSx(0), level), primes), c0, primes),
                rowsOf(e, level), primes);
    EXPECT_EQ(d.getContext(), ctx);
    EXPECT_EQ(d.getNumPoly(), 2u);
    EXPECT_EQ(d.getLevel(), level);
    EXPECT_EQ(d.getLogSlots(), ct.getLogSlots());
    EXPECT_EQ(d.getRescaleCounter(), 1);
    EXPECT_EQ(d.getEncodingType(), EncodingType::SLOT);
    EXPECT_EQ(rowsOf(d.getPoly(0), level), expected);
    EXPECT_EQ(rowsOf(d.getPoly(1), level), c1);

    // d0 - (c0 + c1 s) is the one small error.
    Plaintext pt(ctx);
    dec.decrypt(ct, sk, pt);
    expectSmallDifference(ctx, d.getPoly(0), pt.getMx(), level, 21);

    // Into the input itself.
    reseed();
    dec.partialDecrypt(ct, sk, ct);
    EXPECT_EQ(streamBytes(ct), streamBytes(d));
}

// ---------------------------------------------------------------------------
// Real values
// ---------------------------------------------------------------------------

// A ciphertext without error of values scaled by `scale`: (m - c1 s, c1) in
// NTT form with a uniform c1, coefficient encoding.
Ciphertext exactCiphertext(const Context &ctx, const RlweKey &sk, const std::vector<double> &values,
                           double scale, u64 level) {
    const Plaintext m = EnDecoder(ctx).encodeWithScale(values, level, scale, true);
    const std::vector<u64> primes = primesUpTo(ctx, level);
    Ciphertext ct(ctx, false, true);
    ct.setLevel(level);
    ct.setLogSlots(m.getLogSlots());
    ct.setEncodingType(EncodingType::COEFFICIENT);
    RandomSampler().sampleUniform(ct.getPoly(1), ctx);
    setRows(ct.getPoly(0),
            subRows(rowsOf(m.getMx(), level),
                    mulRows(rowsOf(ct.getPoly(1), level), rowsOf(sk.getSx(0), level), primes),
                    primes));
    return ct;
}

// Values below -0.5 / t move up by one; -0.5 itself stays.
TEST(DecryptorTest, TorusRule) {
    const Context ctx = degree64ThreePrimes();
    const RlweKey sk(ctx);
    const Decryptor dec(ctx);
    const double scale = std::pow(2.0, 30);
    const Ciphertext ct = exactCiphertext(ctx, sk, {-0.6, -0.5, 0.25, -0.75}, scale, 1);
    std::vector<double> values;
    dec.decryptWithScale(ct, sk, values, scale, true);
    ASSERT_EQ(values.size(), 4u);
    EXPECT_NEAR(values[0], -0.6, 1e-9);
    EXPECT_EQ(values[1], -0.5);

    struct Case {
        double t;
        std::vector<double> expected;
    };
    for (const Case &c : {Case{1.0, {0.4, -0.5, 0.25, 0.25}}, Case{2.0, {0.4, 0.5, 0.25, 0.25}},
                          Case{0.0, {-0.6, -0.5, 0.25, -0.75}}}) {
        SCOPED_TRACE(c.t);
        dec.torusDecryptWithScale(ct, sk, values, scale, c.t);
        ASSERT_EQ(values.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_NEAR(values[i], c.expected[i], 1e-9) << i;
    }
    dec.torusDecryptWithScale(ct, sk, values, scale, 1.0);
    EXPECT_EQ(values[1], -0.5);
}

// A coefficient-encoded ciphertext gives the same values whether its
// polynomials are in coefficient or in NTT form, through every path and with
// either NTT-form flag; the input is never changed. The same holds for slot
// encoding.
TEST(DecryptorTest, EitherFormDecryptsAlike) {
    const Context ctx = degree64ThreePrimes();
    const RlweKey sk(ctx);
    const Encryptor enc(ctx);
    const Decryptor dec(ctx);
    const double scale = std::pow(2.0, 30);
    const std::vector<double> values = {0.5, -0.25, 0.125, 0.0, -0.5, 0.25, 0.75, -0.125};

    Ciphertext coefficient(ctx, false, true);
    enc.encrypt(values, sk, coefficient, 1, 0);
    const Ciphertext ntt = inNTTForm(coefficient);
    std::vector<std::vector<double>> results;
    for (const Ciphertext *ct : {&std::as_const(coefficient), &ntt}) {
        const std::string record = streamBytes(*ct);
        std::vector<double> out;
        dec.decrypt(*ct, sk, out);
        results.push_back(out);
        for (const bool flag : {false, true}) {
            dec.decryptWithScale(*ct, sk, out, std::pow(2.0, 40), flag);
            results.push_back(out);
        }
        dec.torusDecryptWithScale(*ct, sk, out, std::pow(2.0, 40), 1.0);
        results.push_back(out);
        EXPECT_EQ(streamBytes(*ct), record);
    }
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(results[i], results[i + 4]) << "path " << i;
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(results[0][i], values[i], 1e-9);

    // Slot encoding in coefficient form.
    Message msg(2);
    for (u64 i = 0; i < 4; ++i)
        msg[i] = {0.1 * static_cast<double>(i), -0.05};
    Ciphertext slots(ctx, false, true);
    enc.encrypt(msg, sk, slots);
    Ciphertext slotsInCoefficients = slots;
    slotsInCoefficients.backwardNTT();
    Message a, b;
    dec.decrypt(slots, sk, a);
    dec.decrypt(slotsInCoefficients, sk, b);
    ASSERT_EQ(a.getSize(), 4u);
    for (u64 i = 0; i < 4; ++i)
        EXPECT_EQ(a[i], b[i]);

    // Several secrets.
    const Context ms = twoSecretVariant();
    const MsKey msKey(ms);
    const Decryptor msDec(ms);
    MsCiphertext msCoefficient(ms, false, true);
    Encryptor(ms).encryptWithScale({values, values}, msKey, msCoefficient, 1, scale, false);
    const MsCiphertext msNtt = inNTTForm(msCoefficient);
    std::vector<std::vector<std::vector<double>>> perSecret;
    std::vector<std::vector<double>> general;
    for (const MsCiphertext *ct : {&std::as_const(msCoefficient), &msNtt}) {
        std::vector<std::vector<double>> out;
        msDec.decrypt(*ct, msKey, out);
        perSecret.push_back(out);
        for (const bool flag : {false, true}) {
            msDec.decryptWithScale(*ct, msKey, out, scale, flag);
            perSecret.push_back(out);
            std::vector<double> one;
            msDec.generalDecryptWithScale(*ct, msKey, one, scale, flag);
            general.push_back(one);
        }
    }
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(perSecret[i], perSecret[i + 3]) << "path " << i;
    EXPECT_EQ(general[0], general[2]);
    EXPECT_EQ(general[1], general[3]);
    ASSERT_EQ(perSecret[1].size(), 2u);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(perSecret[1][1][i], values[i], 1e-7);
}

// Outputs are replaced whole: the per-secret list ends with exactly s
// plaintexts, a plaintext of another context becomes one of this context.
TEST(DecryptorTest, OutputsAreReplacedWhole) {
    const Context ctx = twoSecretVariant();
    const MsKey sk(ctx);
    MsCiphertext ct(ctx, false, true);
    Message msg(1);
    msg[0] = {0.1, 0.2};
    msg[1] = {-0.1, 0.0};
    Encryptor(ctx).encrypt({msg, msg}, sk, ct, 1, 0);

    std::vector<Plaintext> pts(5, Plaintext(otherContext()));
    Decryptor(ctx).decrypt(ct, sk, pts);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[1].getMx().getDegree(), getDegree(ctx));
    EXPECT_EQ(pts[1].getLevel(), 1u);

    Plaintext pt(otherContext(), true);
    Decryptor(ctx).generalDecrypt(ct, sk, pt);
    EXPECT_EQ(pt.getMx().getDegree(), getDegree(ctx));
    EXPECT_FALSE(pt.getMx().isModUp());
    EXPECT_EQ(pt.getLevel(), 1u);
}

// ---------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------

const Device kPinned{Device::kPinned, 0};

// Every refusal, with its message; none changes the output.
TEST(DecryptorTest, RefusalsLeaveTheOutputUnchanged) {
    const Context ctx = fxContext();
    const RlweKey sk(ctx);
    const Encryptor enc(ctx);
    const Decryptor dec(ctx);
    std::mt19937_64 rng(34);
    Message msg(getLogFullSlots(ctx));
    for (auto &slot : msg)
        slot = {0.25, -0.125};
    Ciphertext slots(ctx, false, true);
    enc.encrypt(msg, sk, slots, 2, 0);
    Ciphertext coefficients(ctx, false, true);
    enc.encrypt(std::vector<double>{0.1, 0.2, 0.3, 0.4}, sk, coefficients, 2, 0);
    Ciphertext three = slots;
    three.setNumPoly(3);
    Ciphertext mixedLevels = slots;
    mixedLevels.getPoly(1).setLevel(1);
    Ciphertext mixedDevices = slots;
    mixedDevices.getPoly(1).setData(DeviceSpecificArray<std::uint64_t>(0, kPinned));
    Ciphertext elsewhere = slots;
    for (u64 i = 0; i < 2; ++i)
        elsewhere.getPoly(i).setData(DeviceSpecificArray<std::uint64_t>(0, kPinned));
    Ciphertext bottomCounter(ctx, false, true);
    enc.encrypt(msg, sk, bottomCounter, 0, 0);
    bottomCounter.setRescaleCounter(1);
    Ciphertext lowered(ctx, false, true);
    enc.encrypt(msg, sk, lowered, 2, 2);
    lowered.setLevel(1);
    const Context small = degree64ThreePrimes();
    const RlweKey foreignKey(small);
    Ciphertext foreign(small, false, true);
    Encryptor(small).encrypt(msg, foreignKey, foreign, 2, 0);

    const Context mlweCtx = rankFourContext();
    const MlweKey mlweKey(mlweCtx);
    MlweCiphertext mlwe(mlweCtx, false, true);
    Encryptor(mlweCtx).encrypt(msg, mlweKey, mlwe, 1, 0);
    MlweCiphertext mlweShort = mlwe;
    mlweShort.setNumPoly(3);
    MlweCiphertext mlweLong = mlwe;
    mlweLong.setNumPoly(6);
    MlweCiphertext mlweCoefficients(mlweCtx, false, true);
    Encryptor(mlweCtx).encrypt(std::vector<double>{0.1, 0.2}, mlweKey, mlweCoefficients, 1, 0);

    const Context msCtx = twoSecretVariant();
    const MsKey msKey(msCtx);
    const MsKey oneSecretKey(small);
    const Decryptor msDec(msCtx);
    Message msMsg(1, {0.1, 0.1});
    MsCiphertext msSlots(msCtx, false, true);
    Encryptor(msCtx).encrypt({msMsg, msMsg}, msKey, msSlots, 1, 0);
    MsCiphertext msCoefficients(msCtx, false, true);
    Encryptor(msCtx).encrypt(std::vector<std::vector<double>>{{0.1, 0.2}, {0.3, 0.4}}, msKey,
                             msCoefficients, 1, 0);
    MsCiphertext msFour = msSlots;
    msFour.setNumPoly(4);

    // The outputs, holding a result each.
    Plaintext pt(ctx);
    dec.decrypt(slots, sk, pt);
    Message message;
    dec.decrypt(slots, sk, message);
    std::vector<double> real;
    dec.decrypt(coefficients, sk, real);
    Ciphertext partial(ctx, false, true);
    dec.partialDecrypt(slots, sk, partial);
    std::vector<Plaintext> pts;
    msDec.decrypt(msSlots, msKey, pts);
    std::vector<Message> messages;
    msDec.decrypt(msSlots, msKey, messages);
    std::vector<std::vector<double>> reals;
    msDec.decrypt(msCoefficients, msKey, reals);
    auto snapshot = [&] {
        std::string all = streamBytes(pt) + streamBytes(partial);
        for (const Plaintext &p : pts)
            all += streamBytes(p);
        auto add = [&](const Message &m) {
            for (const auto &slot : m)
                all += std::to_string(slot.real()) + "," + std::to_string(slot.imag()) + ";";
        };
        add(message);
        for (const Message &m : messages)
            add(m);
        for (const double v : real)
            all += std::to_string(v) + ";";
        for (const auto &r : reals)
            for (const double v : r)
                all += std::to_string(v) + ";";
        return all + std::to_string(pts.size()) + std::to_string(messages.size()) +
               std::to_string(reals.size());
    };
    const std::string before = snapshot();

    const char *const needsSlots = "The operand have to encode the message on its slots";
    const char *const needsCoefficients =
        "The operand have to encode the message on its coefficients";
    const char *const mlweCount = "[decrypt] Number of polynomials of MLWE ciphertext is invalid";
    const char *const msCount = "[decrypt] Number of polynomials of MSRLWE ciphertext is invalid";
    const char *const keyMismatch = "[decrypt] The key does not match the context of the Decryptor";
    const char *const ciphertextMismatch =
        "[decrypt] The ciphertext does not match the context of the Decryptor";
    const double scale = std::pow(2.0, 30);
    struct Row {
        const char *what;
        std::function<void()> call;
        const char *message;
    };
    const std::vector<Row> rows = {
        {"coefficients to plaintext", [&] { dec.decrypt(coefficients, sk, pt); }, needsSlots},
        {"coefficients to message", [&] { dec.decrypt(coefficients, sk, message); }, needsSlots},
        {"coefficients, partial", [&] { dec.partialDecrypt(coefficients, sk, partial); },
         needsSlots},
        {"module coefficients to plaintext",
         [&] { Decryptor(mlweCtx).decrypt(mlweCoefficients, mlweKey, pt); }, needsSlots},
        {"several secrets, coefficients to messages",
         [&] { msDec.decrypt(msCoefficients, msKey, messages); }, needsSlots},
        {"slots to values", [&] { dec.decrypt(slots, sk, real); }, needsCoefficients},
        {"slots with scale", [&] { dec.decryptWithScale(slots, sk, real, scale, false); },
         needsCoefficients},
        {"slots, torus", [&] { dec.torusDecryptWithScale(slots, sk, real, scale, 1.0); },
         needsCoefficients},
        {"several secrets, slots to values", [&] { msDec.decrypt(msSlots, msKey, reals); },
         needsCoefficients},
        {"several secrets, slots with scale",
         [&] { msDec.decryptWithScale(msSlots, msKey, reals, scale, false); }, needsCoefficients},
        {"several secrets, slots, general with scale",
         [&] { msDec.generalDecryptWithScale(msSlots, msKey, real, scale, false); },
         needsCoefficients},
        {"module of 3 polynomials", [&] { Decryptor(mlweCtx).decrypt(mlweShort, mlweKey, pt); },
         mlweCount},
        {"module of 6 polynomials", [&] { Decryptor(mlweCtx).decrypt(mlweLong, mlweKey, message); },
         mlweCount},
        {"several secrets, 4 polynomials", [&] { msDec.decrypt(msFour, msKey, pts); }, msCount},
        {"several secrets, 4 polynomials, messages",
         [&] { msDec.decrypt(msFour, msKey, messages); }, msCount},
        {"several secrets, 4 polynomials, general",
         [&] { msDec.generalDecrypt(msFour, msKey, pt); }, msCount},
        {"partial of 3 polynomials", [&] { dec.partialDecrypt(three, sk, partial); },
         "[partialDecrypt] Size of Ciphertext should be 2"},
        {"polynomials at two levels", [&] { dec.decrypt(mixedLevels, sk, pt); },
         "Polynomials have different levels"},
        {"polynomials on two devices", [&] { dec.decrypt(mixedDevices, sk, pt); },
         "Polynomials are in different devices"},
        {"ciphertext elsewhere", [&] { dec.decrypt(elsewhere, sk, pt); },
         "Not supported. Build with QUELT_CUDA flag."},
        {"counter above level 0", [&] { dec.decrypt(bottomCounter, sk, message); },
         "Rescale counter should be less than or equal to the level"},
        {"counter above the level, partial", [&] { dec.partialDecrypt(lowered, sk, partial); },
         "Rescale counter should be less than or equal to the level"},
        {"key of other primes", [&] { dec.decrypt(slots, foreignKey, pt); }, keyMismatch},
        {"ciphertext of other primes", [&] { dec.decrypt(foreign, sk, pt); }, ciphertextMismatch},
        {"key of other primes, partial", [&] { dec.partialDecrypt(slots, foreignKey, partial); },
         "[partialDecrypt] The key does not match the context of the Decryptor"},
        {"ciphertext of other primes, partial", [&] { dec.partialDecrypt(foreign, sk, partial); },
         "[partialDecrypt] The ciphertext does not match the context of the Decryptor"},
        {"key short of a secret", [&] { msDec.decrypt(msSlots, oneSecretKey, pts); }, keyMismatch},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        expectThrowsMessage(row.call, row.message);
        EXPECT_EQ(snapshot(), before);
    }
    expectThrowsMessage([] { Decryptor d(nullptr); }, "[Context] The context is null");
}

} // namespace
} // namespace Quelt::test
