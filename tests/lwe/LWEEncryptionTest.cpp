#include "Quelt/LWE/Decryptor.hpp"
#include "Quelt/LWE/Encryptor.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "support/ExpectThrow.hpp"
#include "support/LweTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using LWE::Ciphertext;
using LWE::Decryptor;
using LWE::Encryptor;
using LWE::ParameterPreset;
using LWE::SecretKey;

const std::vector<ParameterPreset> kPresets = {ParameterPreset::SD3, ParameterPreset::SS7,
                                               ParameterPreset::FGbD12L0, ParameterPreset::FGbD12L1,
                                               ParameterPreset::Discrete_G8A_LWE};

double scaleFactor(const std::shared_ptr<LWE::ContextContent> &ctx, u64 level) {
    return ctx->getScaleFactors().getFactors().at(level);
}

// The largest magnitude a message at the final level f can take and still
// decrypt: half the modulus the decryptor reconstructs over (q_0 at level 0,
// q_0 q_1 above), in units of the scale, less 1% for the error.
double largestValue(const std::shared_ptr<LWE::ContextContent> &ctx, u64 f) {
    const std::vector<u64> primes = LWE::getPrimeList(ctx);
    const double modulus = f == 0 ? static_cast<double>(primes[0])
                                  : static_cast<double>(primes[0]) * static_cast<double>(primes[1]);
    return 0.99 * modulus / 2 * std::pow(2.0, -scaleFactor(ctx, f));
}

// |decrypted - value| allowed after encryption at (l, r) with final level f:
// the largest rounded Gaussian (21 = round(6.66 x 3.2)) plus one unit of
// truncation and half a unit per rescale, in units of 2^-sf[f]; and the
// double rounding of the scaled value and of the reconstructed integer,
// 2^-50 |value|.
double errorBound(const std::shared_ptr<LWE::ContextContent> &ctx, u64 f, int r, double value) {
    return (22.0 + r) * std::pow(2.0, -scaleFactor(ctx, f)) + std::ldexp(std::fabs(value), -50);
}

TEST(LWEEncryptionTest, DecryptsWithinTheBoundAtEveryLevel) {
    reseed();
    double worst_units = 0; // measured error of small values, in units of the scale
    for (ParameterPreset preset : kPresets) {
        const auto ctx = lweContext(preset);
        const SecretKey sk(ctx);
        const Encryptor encryptor(ctx);
        const Decryptor decryptor(ctx);
        Ciphertext ct(ctx);
        const u64 top = LWE::getEncryptionLevel(ctx);
        for (u64 level = 0; level <= top; ++level) {
            for (int r : {0, static_cast<int>(level)}) {
                const u64 f = level - static_cast<u64>(r);
                SCOPED_TRACE(::testing::Message() << "preset " << static_cast<int>(preset)
                                                  << " level " << level << " counter " << r);
                if (scaleFactor(ctx, f) == 0.0) {
                    // A level without a scale factor cannot be encrypted at.
                    expectThrowsMessage([&] { encryptor.encrypt(1.0, sk, ct, level, r); },
                                        "[ScaleFactors] The scale factor for given level is not "
                                        "valid");
                    continue;
                }
                const double big = largestValue(ctx, f);
                for (double value : {0.0, 1.0, -1.0, 3.14159, -2.71828, big, -big}) {
                    encryptor.encrypt(value, sk, ct, level, r);
                    EXPECT_EQ(ct.getLevel(), level);
                    EXPECT_EQ(ct.getRescaleCounter(), r);
                    double out = 0;
                    decryptor.decrypt(ct, sk, out);
                    EXPECT_LE(std::fabs(out - value), errorBound(ctx, f, r, value)) << value;
                    if (std::fabs(value) < 4)
                        worst_units = std::max(worst_units, std::fabs(out - value) *
                                                                std::pow(2.0, scaleFactor(ctx, f)));
                }
                if (r == static_cast<int>(level))
                    break; // level 0: r = 0 only once
            }
        }
        // The default form: top level, counter 0.
        if (scaleFactor(ctx, top) != 0.0) {
            encryptor.encrypt(-0.5, sk, ct);
            EXPECT_EQ(ct.getLevel(), top);
            EXPECT_EQ(ct.getRescaleCounter(), 0);
        }
    }
    RecordProperty("worst_error_in_scale_units", std::to_string(worst_units));
    EXPECT_LE(worst_units, 23.0);
}

// The decryptor reads b + <a, s> on the first residue at level 0 and on the
// first two above, exactly as an independent big-integer reconstruction does.
TEST(LWEEncryptionTest, DecryptorAgreesWithAnIndependentReconstruction) {
    reseed();
    for (ParameterPreset preset : kPresets) {
        const auto ctx = lweContext(preset);
        const SecretKey sk(ctx);
        Ciphertext ct(ctx);
        for (u64 level = 0; level <= LWE::getEncryptionLevel(ctx); ++level) {
            if (scaleFactor(ctx, level) == 0.0)
                continue;
            SCOPED_TRACE(::testing::Message()
                         << "preset " << static_cast<int>(preset) << " level " << level);
            Encryptor(ctx).encrypt(-12.625, sk, ct, level, 0);
            double out = 0;
            Decryptor(ctx).decrypt(ct, sk, out);
            const double sf = scaleFactor(ctx, level);
            const double phase = centredPhase(ct, sk);
            EXPECT_EQ(out, level == 0 ? phase * std::pow(2.0, -sf) : phase * std::pow(0.5, sf));
        }
    }
}

// b = m + e - <a, s> with m the truncated scaled value and e one small integer,
// the same on every prime; the mask is drawn before the error.
TEST(LWEEncryptionTest, BodyIsMessagePlusErrorMinusInnerProduct) {
    const auto ctx = lweContext(ParameterPreset::SD3);
    const SecretKey sk(ctx);
    const std::vector<u64> primes = LWE::getPrimeList(ctx);
    const u64 n = LWE::getDimension(ctx), level = 2;
    const double value = -7.3;

    reseed();
    Ciphertext ct(ctx);
    Encryptor(ctx).encrypt(value, sk, ct, level, 0);

    reseed();
    LevelledVector a(ctx);
    a.setLevel(level);
    a.getData().resize(n * (level + 1));
    RandomSampler().sampleUniform(a, ctx);
    LevelledElement e(ctx);
    e.setLevel(level);
    RandomSampler().sampleGaussian(e, ctx);

    const double scaled = std::floor(std::fabs(value) * std::pow(2.0, scaleFactor(ctx, level)));
    std::int64_t error = 0;
    for (u64 i = 0; i <= level; ++i) {
        const u64 q = primes[i];
        for (u64 j = 0; j < n; ++j)
            ASSERT_EQ(ct.getAxData(i)[j], a.getLimb(i)[j]);
        const u64 m = subModRef(0, static_cast<u64>(scaled) % q, q);
        u64 x = ct.getBxData()[i];
        for (u64 j = 0; j < n; ++j) {
            const int c = sk.getCoefficients()[j];
            x = addModRef(x, mulModRef(a.getLimb(i)[j], c < 0 ? q + c : c, q), q);
        }
        const u64 d = subModRef(x, m, q);
        const std::int64_t centred =
            d <= q / 2 ? static_cast<std::int64_t>(d) : -static_cast<std::int64_t>(q - d);
        if (i == 0)
            error = centred;
        EXPECT_EQ(centred, error) << "prime " << i;
        EXPECT_EQ(e.getData().getData()[i], d);
    }
    EXPECT_LE(std::abs(error), 21);
}

// Every refusal comes before the first draw and before out changes.
TEST(LWEEncryptionTest, RefusalsLeaveTheOutputAndTheGeneratorAlone) {
    const auto ctx = lweContext(ParameterPreset::SD3);
    const SecretKey sk(ctx);
    const SecretKey other_sk(lweContext(ParameterPreset::SS7));
    Ciphertext ct(ctx);
    Encryptor(ctx).encrypt(1.0, sk, ct, 1, 1);
    Ciphertext other_out(lweContext(ParameterPreset::SS7));
    // The sizes of SD3 over other primes: residues of one chain reduced by
    // the other would decrypt to noise.
    const auto twin = LWE::makeContext(32, 4, 55, 45);
    const SecretKey twin_sk(twin);
    Ciphertext twin_out(twin);
    const Encryptor encryptor(ctx);
    const std::string kKeyFit = "[encrypt] The secret key does not fit the context";
    const std::string kOutFit = "[LWE] The ciphertext does not fit the context";
    const std::string kInteger =
        "[Modulus] makeInteger: the scaled value must be finite and below 2^128";
    const std::string kWraps = "[encrypt] The value does not fit the modulus of its level";
    // 2% past the largest value that decrypts at final level f.
    const auto over = [&](u64 f) { return largestValue(ctx, f) / 0.99 * 1.02; };
    struct Case {
        const char *name;
        std::function<void()> call;
        std::string message;
    };
    const std::vector<Case> cases{
        {"level above the top", [&] { encryptor.encrypt(1.0, sk, ct, 4, 0); },
         "[encrypt] The level is above the top level of the context"},
        {"counter above the level", [&] { encryptor.encrypt(1.0, sk, ct, 1, 2); },
         "Rescale counter should be less than or equal to the level"},
        {"counter at level 0", [&] { encryptor.encrypt(1.0, sk, ct, 0, 1); },
         "Rescale counter should be less than or equal to the level"},
        {"negative counter", [&] { encryptor.encrypt(1.0, sk, ct, 2, -1); },
         "Rescale counter should be greater than or equal to zero"},
        {"key of another dimension", [&] { encryptor.encrypt(1.0, other_sk, ct, 2, 0); }, kKeyFit},
        {"output of another dimension", [&] { encryptor.encrypt(1.0, sk, other_out, 2, 0); },
         kOutFit},
        {"key of a context of the same sizes and other primes",
         [&] { encryptor.encrypt(1.0, twin_sk, ct, 2, 0); }, kKeyFit},
        {"output of a context of the same sizes and other primes",
         [&] { encryptor.encrypt(1.0, sk, twin_out, 2, 0); }, kOutFit},
        {"NaN", [&] { encryptor.encrypt(std::nan(""), sk, ct, 2, 0); }, kInteger},
        {"infinity", [&] { encryptor.encrypt(-INFINITY, sk, ct, 2, 0); }, kInteger},
        {"too large", [&] { encryptor.encrypt(1e30, sk, ct); }, kInteger},
        // Past half the modulus the element keeps after its rescales the
        // residues wrap: such a ciphertext would decrypt to another number.
        {"beyond half of q_0 at level 0", [&] { encryptor.encrypt(-over(0), sk, ct, 0, 0); },
         kWraps},
        {"beyond half of q_0 after two rescales", [&] { encryptor.encrypt(over(0), sk, ct, 2, 2); },
         kWraps},
        {"beyond half of q_0 q_1 at level 1", [&] { encryptor.encrypt(over(1), sk, ct, 1, 0); },
         kWraps},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = streamBytes(ct);
        const std::string state = UniformRandomBitGenerator::getInstance().getState();
        expectThrowsMessage(c.call, c.message);
        EXPECT_EQ(streamBytes(ct), before);
        EXPECT_EQ(UniformRandomBitGenerator::getInstance().getState(), state);
    }
    // FGbD12L1 encrypts at its top level by default (it has a factor there).
    const auto l1 = lweContext(ParameterPreset::FGbD12L1);
    const SecretKey l1_sk(l1);
    Ciphertext l1_ct(l1);
    Encryptor(l1).encrypt(1.25, l1_sk, l1_ct);
    EXPECT_EQ(l1_ct.getLevel(), 1u);
    double l1_out = 0;
    Decryptor(l1).decrypt(l1_ct, l1_sk, l1_out);
    EXPECT_NEAR(l1_out, 1.25, errorBound(l1, 1, 0, 1.25));
    expectThrowsMessage([] { Encryptor(nullptr); }, "[Context] The context is null");
    expectThrowsMessage([] { Decryptor(nullptr); }, "[Context] The context is null");
}

TEST(LWEEncryptionTest, DecryptorRefusals) {
    const auto ctx = lweContext(ParameterPreset::SD3);
    const SecretKey sk(ctx);
    Ciphertext ct(ctx);
    Encryptor(ctx).encrypt(2.0, sk, ct, 2, 2);
    double out = 42;
    expectThrowsMessage(
        [&] { Decryptor(ctx).decrypt(ct, SecretKey(lweContext(ParameterPreset::SS7)), out); },
        "[decrypt] ctxt and sk have different dimension");
    // Contexts of the same sizes over other primes do not mix with this one;
    // a second context of the same parameters does.
    const auto twin = LWE::makeContext(32, 4, 55, 45);
    const SecretKey twin_sk(twin);
    Ciphertext twin_ct(twin);
    Encryptor(twin).encrypt(2.0, twin_sk, twin_ct);
    expectThrowsMessage([&] { Decryptor(ctx).decrypt(twin_ct, twin_sk, out); },
                        "[LWE] The ciphertext does not fit the context");
    expectThrowsMessage([&] { Decryptor(ctx).decrypt(ct, twin_sk, out); },
                        "[decrypt] The secret key does not fit the context");
    expectThrowsMessage([&] { Decryptor(twin).decrypt(ct, sk, out); },
                        "[LWE] The ciphertext does not fit the context");
    EXPECT_EQ(out, 42);
    double same = 0;
    Decryptor(LWE::makeContext(32, 4, 55, 45)).decrypt(twin_ct, twin_sk, same);
    EXPECT_NEAR(same, 2.0, 1e-6);
    // A counter above the level (left by setLevel) cannot be rescaled away.
    ct.setLevel(1);
    expectThrowsMessage([&] { Decryptor(ctx).decrypt(ct, sk, out); },
                        "Rescale counter should be less than or equal to the level");
    ct.getBx().setLevel(0);
    expectThrowsMessage([&] { Decryptor(ctx).decrypt(ct, sk, out); },
                        "Operands have different levels.");

    // FGbD12L1 has a factor at level 1: a counter-0 ciphertext there (made
    // with counter 1 and the counter cleared) decrypts at level 1's scale.
    const auto l1 = lweContext(ParameterPreset::FGbD12L1);
    const SecretKey l1_sk(l1);
    Ciphertext l1_ct(l1);
    Encryptor(l1).encrypt(2.0, l1_sk, l1_ct, 1, 0);
    Decryptor(l1).decrypt(l1_ct, l1_sk, out);
    EXPECT_NEAR(out, 2.0, errorBound(l1, 1, 0, 2.0));
}

} // namespace
} // namespace Quelt::test
