// The counts, the secret keys after unpacking, embedding and the
// conjugate-invariant form, and the modulus-switch compensation.

#include "Quelt/RingPacker.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/LWE/Context.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace Quelt::test {
namespace {

using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

std::shared_ptr<ContextContent>
ring(u64 log_degree, const std::shared_ptr<ContextContent> &from = degree64ThreePrimes()) {
    return contextFromPrimes(from, log_degree, {0, 1, 2}, {3}, 3);
}

template <EncryptionType ET>
std::vector<int> coefficients(const SecretKeyBase<ET> &key, u64 count) {
    const int *c = key.getCoefficients();
    return std::vector<int>(c, c + count);
}

template <EncryptionType ET>
SecretKeyBase<ET> keyOf(const std::shared_ptr<ContextContent> &ctx, std::vector<int> c) {
    int *data = c.data();
    return SecretKeyBase<ET>(ctx, data);
}

} // namespace

TEST(RingPackingUtilsTest, Counts) {
    const auto d12 = makeContext(ParameterPreset::FGbD12L0);
    const auto d6 = makeContext(ParameterPreset::FGbD6R6L0);
    EXPECT_EQ(getNumCiphertextsAfterUnPack(d12), 4096U);
    EXPECT_EQ(getNumCiphertextsAfterFullDecompose(d12, d6), 64U);
    EXPECT_EQ(getNumCiphertextsToFullCompose(d6, d12), 64U);
    EXPECT_EQ(getNumCiphertextsToModPack(d6, d12), 64U);
    // The LWE dimension (32) is not read.
    EXPECT_EQ(getNumCiphertextsToModPack(LWE::makeContext(LWE::ParameterPreset::SD3), d12), 4096U);
}

TEST(RingPackingUtilsTest, SecretKeysAfterUnPack) {
    const std::vector<int> s = {1, -1, 0, 1, 1, 0, -1, -1};
    const auto eight = ring(3);
    const RLWEKey sk = keyOf<EncryptionType::RLWE>(eight, s);

    const auto module = withParameter(ring(2), [](Parameter &p) { p.rank = 2; });
    const auto mlwe = genMLWESecretKeyAfterUnPack(module, sk);
    EXPECT_EQ(coefficients(mlwe, 8), (std::vector<int>{1, 0, 1, -1, -1, 1, 0, -1}));
    expectThrowsMessage([&] { genMLWESecretKeyAfterUnPack(ring(2), sk); },
                        "[genMLWESecretKeyAfterUnPack] Input SecretKey degree should be equal to "
                        "the dimension(degree * rank) of MLWE context.");

    const auto lwe = genLWESecretKeyAfterUnPack(LWE::makeContext(8, 2, 50, 40), sk);
    EXPECT_EQ(std::vector<int>(lwe.getCoefficients(), lwe.getCoefficients() + 8), s);
    expectThrowsMessage([&] { genLWESecretKeyAfterUnPack(LWE::makeContext(16, 2, 50, 40), sk); },
                        "[genLWESecretKeyAfterUnPack] Input SecretKey degree should be equal to "
                        "the dimension of LWE context.");
}

TEST(RingPackingUtilsTest, EmbedAndConjugateInvariantKeys) {
    const RLWEKey two = keyOf<EncryptionType::RLWE>(ring(1), {1, -1});
    EXPECT_EQ(coefficients(genEmbedSecretKey(ring(3), two), 8),
              (std::vector<int>{1, 0, 0, 0, -1, 0, 0, 0}));
    const RLWEKey four = keyOf<EncryptionType::RLWE>(ring(2), {1, -1, 0, 1});
    EXPECT_EQ(coefficients(genConjInvSecretKey(ring(3), four), 8),
              (std::vector<int>{1, -1, 0, 1, 0, -1, 0, 1}));

    // Two secrets: each block on its own.
    const auto small = ring(1, twoSecretContext());
    const auto big = ring(2, twoSecretContext());
    const MSRLWEKey ms = keyOf<EncryptionType::MSRLWE>(small, {1, -1, 0, 1});
    EXPECT_EQ(coefficients(genEmbedSecretKey(big, ms), 8),
              (std::vector<int>{1, 0, -1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(coefficients(genConjInvSecretKey(big, ms), 8),
              (std::vector<int>{1, -1, 0, 1, 0, 1, 0, -1}));

    // n must divide N; the secret counts must agree; 2n for the invariant
    // form.
    expectThrowsMessage([&] { genEmbedSecretKey(ring(1), four); },
                        "[genEmbedSecretKey] The degree of the secret key should divide the degree "
                        "of the context.");
    expectThrowsMessage(
        [&] {
            genEmbedSecretKey(ring(3), keyOf<EncryptionType::MSRLWE>(small, {1, 0, 0, 1}));
        },
        "[genEmbedSecretKey] The context should have the secret key's number of secrets.");
    expectThrowsMessage([&] { genConjInvSecretKey(ring(4), four); },
                        "The degree of context_ci should be equal to twice degree of sk");
}

TEST(RingPackingUtilsTest, ModulusSwitchCompensation) {
    const auto fx = makeContext(ParameterPreset::FX);
    EXPECT_EQ(computeModulusSwitchCompensation(fx, fx, 12, 12), 1.0);
    const std::vector<u64> p = getPrimeList(fx);
    EXPECT_DOUBLE_EQ(computeModulusSwitchCompensation(fx, fx, 13, 12), static_cast<double>(p[13]));
    EXPECT_DOUBLE_EQ(computeModulusSwitchCompensation(fx, fx, 3, 4),
                     1.0 / static_cast<double>(p[4]));
    expectThrowsMessage([&] { computeModulusSwitchCompensation(fx, fx, 25, 0); },
                        "[computeModulusSwitchCompensation] The level exceeds the prime chain");
}

} // namespace Quelt::test
