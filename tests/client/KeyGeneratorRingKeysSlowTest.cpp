// The sparse-secret encapsulation key of the preset FGbSSE and its sparse
// companion SGb0 at degree 2^16, end to end.

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/KeyPack.hpp"
#include "support/KeyTestSupport.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

using namespace Quelt;
using namespace Quelt::test;

TEST(EncapsulationKeySlowTest, FGbSSEWithItsSparseCompanion) {
    const auto main = makeContext(ParameterPreset::FGbSSE);
    const auto sparse = makeContext(getSparseParameterPresetFor(ParameterPreset::FGbSSE));
    ASSERT_EQ(getParameterPreset(sparse), ParameterPreset::SGb0);
    const SecretKeyBase<EncryptionType::RLWE> sk(main);
    const KeyPack pack(main, sparse);
    const KeyGenerator gen(main, sparse, sk, pack);

    const std::array<std::uint64_t, 4> seed = {3, 1, 4, 1};
    UniformRandomBitGenerator::getInstance().setSeed(seed);
    gen.genSparseSecretEncapsulationKey();
    const auto key = pack.getSparseSecretEncapsulationKey();
    ASSERT_TRUE(key);
    // 4 digits over 24 + 6 primes for the STD part, 1 digit over 1 + 1 for
    // the DTS part.
    EXPECT_EQ(masksOf(key->getSTDPart()).size(), 4u);
    EXPECT_EQ(masksOf(key->getDTSPart()).size(), 1u);
    expectEncapsulationKey(main, sparse, *key, sk, seed, KeyProduct::Transform);
}
