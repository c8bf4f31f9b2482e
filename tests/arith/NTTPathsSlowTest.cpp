// The transform paths against the scalar path at degrees 2^15 to 2^17, where
// the inverse drivers also run pairs of stages over the whole limb.

#include "arith/NTTPathsCheck.hpp"

#include <gtest/gtest.h>

using namespace Quelt;
using namespace Quelt::test;
using namespace Quelt::test::ntt_paths;

namespace {
class NTTPathsSlowTest : public PathTest {};
} // namespace

TEST_P(NTTPathsSlowTest, MatchScalarWordForWordAtLargeDegrees) {
    std::mt19937_64 rng(12);
    for (u64 p : {kPrime50, kPrime60, kPrime62})
        for (NttType type : kTypes)
            for (unsigned log_n = 15; log_n <= 17; ++log_n)
                expectSameWords(GetParam(), u64{1} << log_n, p, type, rng);
}

INSTANTIATE_TEST_SUITE_P(Simd, NTTPathsSlowTest, testing::ValuesIn(kVectorPaths), pathParamName);
