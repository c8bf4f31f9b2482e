#include "foundation/SimdPath.hpp"

#include "Quelt/Exception.hpp"
#include "support/ExpectThrow.hpp"
#include "support/SimdPaths.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;

TEST(SimdPathTest, NamesRoundTrip) {
    for (simd::Path path :
         {simd::Path::Scalar, simd::Path::Avx2, simd::Path::Avx512, simd::Path::Ifma})
        EXPECT_EQ(simd::parsePath(simd::pathName(path)), path);
    EXPECT_STREQ(simd::pathName(simd::Path::Avx512), "avx512");
    for (const char *bad : {"", "AVX512", "sse", "avx512 "})
        expectThrowsMessage([bad] { simd::parsePath(bad); },
                            std::string("[SimdPath] Unknown path '") + bad +
                                "': use scalar, avx2, avx512 or ifma.");
}

// Each path needs what the paths before it need; the scalar path always runs.
TEST(SimdPathTest, SupportFollowsTheOrderOfThePaths) {
    EXPECT_TRUE(simd::isSupported(simd::Path::Scalar));
    EXPECT_TRUE(simd::isSupported(simd::bestPath()));
    for (simd::Path path : {simd::Path::Avx2, simd::Path::Avx512, simd::Path::Ifma})
        EXPECT_EQ(simd::isSupported(path), path <= simd::bestPath()) << simd::pathName(path);
}

TEST(SimdPathTest, RefusesPathsTheProcessorLacksAndKeepsTheActiveOne) {
    const simd::Path before = simd::activePath();
    for (simd::Path path :
         {simd::Path::Avx2, simd::Path::Avx512, simd::Path::Ifma, static_cast<simd::Path>(7)}) {
        if (simd::isSupported(path))
            continue;
        expectThrowsMessage([path] { simd::setActivePath(path); },
                            std::string("[SimdPath] The processor does not support the path '") +
                                simd::pathName(path) + "'.");
        EXPECT_EQ(simd::activePath(), before);
    }
    {
        test::ScopedPath scalar(simd::Path::Scalar);
        EXPECT_EQ(simd::activePath(), simd::Path::Scalar);
    }
    EXPECT_EQ(simd::activePath(), before);
}
