#include "context/SecurityLevelUtils.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

using namespace Quelt;

namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

// Largest total modulus size still reaching 128, 192 and 256 bits of security.
struct Bounds {
    std::uint64_t log_dimension, b128, b192, b256;
};
const std::vector<Bounds> kBounds = {
    {10, 27, 19, 14},    {11, 54, 37, 29},    {12, 109, 75, 58},     {13, 218, 152, 118},
    {14, 438, 305, 237}, {15, 881, 611, 476}, {16, 1750, 1199, 929}, {17, 3523, 2411, 1867},
};

} // namespace

TEST(SecurityLevelTest, EnumeratorValues) {
    EXPECT_EQ(static_cast<std::uint32_t>(SecurityLevel::NONE), 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(SecurityLevel::SL128), 128u);
    EXPECT_EQ(static_cast<std::uint32_t>(SecurityLevel::SL192), 192u);
    EXPECT_EQ(static_cast<std::uint32_t>(SecurityLevel::SL256), 256u);
    EXPECT_EQ(sizeof(SecurityLevel), 4u);
}

TEST(SecurityLevelTest, EveryBoundOfEveryTabledDimension) {
    for (const Bounds &b : kBounds) {
        SCOPED_TRACE(b.log_dimension);
        const std::uint64_t d = b.log_dimension;
        EXPECT_EQ(computeLWESecurityLevel(d, 1), SecurityLevel::SL256);
        EXPECT_EQ(computeLWESecurityLevel(d, b.b256), SecurityLevel::SL256);
        EXPECT_EQ(computeLWESecurityLevel(d, b.b256 + 1), SecurityLevel::SL192);
        EXPECT_EQ(computeLWESecurityLevel(d, b.b192), SecurityLevel::SL192);
        EXPECT_EQ(computeLWESecurityLevel(d, b.b192 + 1), SecurityLevel::SL128);
        EXPECT_EQ(computeLWESecurityLevel(d, b.b128), SecurityLevel::SL128);
        EXPECT_EQ(computeLWESecurityLevel(d, b.b128 + 1), SecurityLevel::NONE);
        EXPECT_EQ(computeLWESecurityLevel(d, kU64Max), SecurityLevel::NONE);
    }
}

TEST(SecurityLevelTest, KnownPoints) {
    EXPECT_EQ(computeLWESecurityLevel(16, 1750), SecurityLevel::SL128);
    EXPECT_EQ(computeLWESecurityLevel(16, 1751), SecurityLevel::NONE);
    EXPECT_EQ(computeLWESecurityLevel(16, 1199), SecurityLevel::SL192);
    EXPECT_EQ(computeLWESecurityLevel(16, 1200), SecurityLevel::SL128);
    EXPECT_EQ(computeLWESecurityLevel(10, 14), SecurityLevel::SL256);
    EXPECT_EQ(computeLWESecurityLevel(10, 15), SecurityLevel::SL192);
}

TEST(SecurityLevelTest, UntabledDimensionsAndEmptyModulusHaveNoClaim) {
    for (std::uint64_t d :
         {std::uint64_t{0}, std::uint64_t{9}, std::uint64_t{18}, std::uint64_t{64}, kU64Max}) {
        EXPECT_EQ(computeLWESecurityLevel(d, 100), SecurityLevel::NONE) << d;
        EXPECT_EQ(computeLWESecurityLevel(d, 1), SecurityLevel::NONE) << d;
    }
    // A modulus of 0 bits is no modulus; it gets no security claim.
    for (std::uint64_t d = 0; d <= 20; ++d)
        EXPECT_EQ(computeLWESecurityLevel(d, 0), SecurityLevel::NONE) << d;
}
