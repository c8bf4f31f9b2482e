// Cross-checks the compiled-in prime lists against the parameter records: the
// chain of every preset takes exactly chain_length + num_tp primes from its list.
#include "arith/PrimeModuli.hpp"
#include "context/Parameter.hpp"
#include "lwe/LWEParameter.hpp"

#include <gtest/gtest.h>

using namespace Quelt;

namespace {

// Presets that reuse another preset's list.
std::uint32_t listOwner(std::uint32_t preset) {
    if (preset == 4)
        return 3;
    if (preset >= 6 && preset <= 11)
        return 5;
    if (preset >= 31 && preset <= 37)
        return 25;
    return preset;
}

} // namespace

TEST(PrimeListsParameterTest, EveryPresetListHasOnePrimePerChainSlot) {
    for (std::uint32_t value = 0; value <= kMaxParameterPresetValue; ++value) {
        const auto preset = static_cast<ParameterPreset>(value);
        if (preset == ParameterPreset::CUSTOM)
            continue;
        SCOPED_TRACE(value);
        const Parameter parameter(preset);
        const auto &primes =
            PrimeModuli::getPrimeList(static_cast<ParameterPreset>(listOwner(value)));
        EXPECT_EQ(primes.size(), parameter.chain_length + parameter.num_tp);
        // Every prime supports the preset's own transform size.
        const std::uint64_t step = (parameter.re_remove_i ? 4 : 2) * parameter.degree;
        for (std::uint64_t p : primes)
            EXPECT_EQ(p % step, 1u) << p;
    }
}

TEST(PrimeListsParameterTest, LWEListsMatchTheirRecords) {
    for (std::uint32_t value : {0u, 1u, 3u, 4u, 5u}) {
        SCOPED_TRACE(value);
        const auto preset = static_cast<LWE::ParameterPreset>(value);
        const LWE::Parameter parameter(preset);
        EXPECT_EQ(PrimeModuli::getPrimeList(preset).size(), parameter.chain_length);
    }
}
