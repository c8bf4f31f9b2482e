// Key generator checks that need presets of degree 2^16: the bootstrapping
// rotation sets of presets that skip a part of the rule, and the sparse
// companion check.

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "client/KeyGeneratorImpl.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

using Indices = std::vector<std::uint64_t>;

// The SlotToCoeff (and, where both use it, CoeffToSlot) steps of the default
// split {5, 5, 5} of 2^15 slots, reduced modulo 2^15.
const Indices kDefaultSplit15 = {
    1,    2,    3,     4,     5,     6,     7,     8,     16,    24,    32,    64,   96,
    128,  160,  192,   224,   256,   512,   768,   1024,  2048,  3072,  4096,  5120, 6144,
    7168, 8192, 16384, 24576, 31744, 32000, 32256, 32512, 32736, 32744, 32752, 32760};

} // namespace

// Expected sets from the written rule, computed by a short script: the
// default split {5, 5, 5}, the fused CoeffToSlot split {6, 3, 3, 3} from its
// step 1 on, reduction modulo 2^15.
TEST(KeyGeneratorBootstrapSlowTest, SetsOfPresetsThatSkipParts) {
    // FGf runs its CoeffToSlot elsewhere (outsourced bootstrap): SlotToCoeff
    // alone.
    const auto fgf = makeContext(ParameterPreset::FGf);
    EXPECT_EQ(detail::bootstrapRotationIndices(fgf, 15, false, false), kDefaultSplit15);

    // FGfO leaves SlotToCoeff to the other party: CoeffToSlot steps 1 to 3.
    const auto fgfo = makeContext(ParameterPreset::FGfO);
    EXPECT_EQ(detail::bootstrapRotationIndices(fgfo, 15, false, false),
              (Indices{1, 2, 3, 4, 8, 16, 24, 32, 64, 128, 192, 256, 32256, 32512, 32704, 32736,
                       32760, 32764}));
    EXPECT_EQ(detail::bootstrapRotationIndices(fgfo, 15, true, false),
              (Indices{1, 4, 8, 32, 64, 256, 32512, 32736, 32764}));

    // FGbSSE fuses CoeffToSlot step 0 into the modulus raise.
    const auto sse = makeContext(ParameterPreset::FGbSSE);
    Indices both = kDefaultSplit15;
    both.insert(both.begin() + 34, 32704);
    both.push_back(32764);
    EXPECT_EQ(detail::bootstrapRotationIndices(sse, 15, false, false), both);
    // Minimal CoeffToSlot keys alone drop 32704 = -64, a giant step of the
    // full fused steps.
    Indices minimal = both;
    minimal.erase(minimal.begin() + 34);
    EXPECT_EQ(detail::bootstrapRotationIndices(sse, 15, false, true), minimal);

    // The FGb set of 2^15 slots: 38 keys.
    EXPECT_EQ(detail::bootstrapRotationIndices(makeContext(ParameterPreset::FGb), 15, false, false),
              kDefaultSplit15);
}

TEST(KeyGeneratorBootstrapSlowTest, SparseContextMustBeTheCompanion) {
    const auto sse = makeContext(ParameterPreset::FGbSSE);
    const auto fgb = makeContext(ParameterPreset::FGb);
    const SecretKeyBase<EncryptionType::RLWE> sk(sse);
    expectThrowsMessage([&] { KeyGenerator(sse, fgb, sk); }, KeyGeneratorMessages::kSparseMismatch);
    const auto companion = makeContext(getSparseParameterPresetFor(ParameterPreset::FGbSSE));
    const KeyGenerator gen(sse, companion, sk);
    // FGb supports no encapsulation.
    expectThrowsMessage([&] { KeyGenerator(fgb, sse, SecretKeyBase<EncryptionType::RLWE>(fgb)); },
                        KeyGeneratorMessages::kNoSparseSupport);
}
