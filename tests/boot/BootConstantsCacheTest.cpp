// The cache of a bootstrapper's DFT constants on its own, over FX: entry 0,
// making constants once per log slot count, and the placement family with
// its refusal of absent constants.

#include "boot/BootConstantsCache.hpp"

#include "boot/BootParameter.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace Quelt::test {
namespace {

const BootParameter &fxParameter() {
    static const BootParameter parameter(fxContext());
    return parameter;
}

TEST(BootConstantsCacheTest, LogSlotsZeroMakesNoConstants) {
    BootConstantsCache cache(fxContext(), fxParameter());
    EXPECT_TRUE(cache.isBootstrapReady(0));
    EXPECT_EQ(cache.findBootConstants(0), nullptr);
    for (u64 s = 1; s <= 5; ++s)
        EXPECT_FALSE(cache.isBootstrapReady(s));
    cache.makeBootConstants(0);
    EXPECT_FALSE(cache.isBootstrapReady(5));
    // Placement of log slot count 0 does nothing.
    cache.loadBootConstants(0, kHostDevice);
    cache.removeExceptC2SConstants(0, kHostDevice);
    EXPECT_EQ(cache.placedConstants(0, kHostDevice, true), nullptr);
}

TEST(BootConstantsCacheTest, SecondCallKeepsTheConstants) {
    BootConstantsCache cache(fxContext(), fxParameter());
    cache.makeBootConstants(3);
    const BootConstants *first = cache.findBootConstants(3);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->getLogSlots(), 3u);
    cache.makeBootConstants(3);
    EXPECT_EQ(cache.findBootConstants(3), first);
    cache.makeBootConstants(0);
    EXPECT_EQ(cache.findBootConstants(3), first);
    EXPECT_FALSE(cache.isBootstrapReady(2));
}

// Every member of the placement family refuses absent constants with the
// same message, and the transforms' placement returns the entry it placed.
TEST(BootConstantsCacheTest, PlacementRefusesAbsentConstants) {
    BootConstantsCache cache(fxContext(), fxParameter());
    cache.makeBootConstants(3);
    const char *missing = "Bootstrapping constants for log slots 4 do not exist.";
    const std::vector<std::function<void()>> calls = {
        [&] { cache.loadBootConstants(4, kHostDevice); },
        [&] { cache.loadS2CConstants(4, kHostDevice); },
        [&] { cache.loadC2SConstants(4, kHostDevice); },
        [&] { cache.removeExceptS2CConstants(4, kHostDevice); },
        [&] { cache.removeExceptC2SConstants(4, kHostDevice); },
        [&] { (void)cache.placedConstants(4, kHostDevice, true); },
        [&] { (void)cache.placedConstants(4, kHostDevice, false); },
    };
    for (u64 i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        expectThrowsMessage(calls[i], missing);
    }
    EXPECT_EQ(cache.placedConstants(3, kHostDevice, true), cache.findBootConstants(3));
    EXPECT_EQ(cache.placedConstants(3, kHostDevice, false), cache.findBootConstants(3));
}

} // namespace
} // namespace Quelt::test
