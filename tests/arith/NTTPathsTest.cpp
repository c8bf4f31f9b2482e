// Every vector path of the transforms gives the scalar path's words, for every
// type, every output bound K and inputs at the top of their allowed range.

#include "arith/NTT.hpp"

#include "arith/NTTPathsCheck.hpp"
#include "support/SimdPaths.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;
using namespace Quelt::test::ntt_paths;

namespace {

class NTTPathsTest : public PathTest {};

} // namespace

// Degrees 2^1 .. 2^14 cover every stage arrangement of the forward drivers
// (blocks and whole-limb passes, an odd stage count) and the lower ones of the
// inverse drivers.
TEST_P(NTTPathsTest, MatchScalarWordForWord) {
    std::mt19937_64 rng(11);
    for (u64 p : kAllPrimes)
        for (NttType type : kTypes)
            for (unsigned log_n = 1; log_n <= 14; ++log_n)
                expectSameWords(GetParam(), u64{1} << log_n, p, type, rng);
}

// The twists of type 2 alone, into another limb and in place: the pre-twist
// of inputs below 4p, the post-twist of inputs below 2p.
TEST_P(NTTPathsTest, TwistsMatchScalarWordForWord) {
    std::mt19937_64 rng(13);
    for (u64 p : kAllPrimes) {
        for (unsigned log_n = 1; log_n <= 10; ++log_n) {
            const u64 N = u64{1} << log_n;
            const NTT ntt(N, p, NttType::CONJUGATE_INVARIANT);
            const std::vector<u64> below4p = wordsNearTop(N, 4 * p, rng);
            const std::vector<u64> below2p = wordsNearTop(N, 2 * p, rng);
            const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
                std::vector<u64> converted(N), inverted(N), in_place1 = below4p,
                                                            in_place2 = below2p;
                ntt.conversion(below4p.data(), converted.data());
                ntt.conversion(in_place1.data(), in_place1.data());
                ntt.inversion(below2p.data(), inverted.data());
                ntt.inversion(in_place2.data(), in_place2.data());
                return std::vector<std::vector<u64>>{converted, in_place1, inverted, in_place2};
            });
            ASSERT_EQ(scalar, vector) << "N = " << N << ", p = " << p;
        }
    }
}

// The forward transform followed by out = (b - x) factor, into another limb
// and into b itself, against the transform's words and the formula in
// 128-bit arithmetic, with factors at both ends of their range.
TEST_P(NTTPathsTest, ForwardSubScaleIsTheTransformThenTheFormula) {
    std::mt19937_64 rng(17);
    for (u64 p : kAllPrimes)
        for (NttType type : kTypes)
            for (unsigned log_n : {1u, 4u, 5u, 10u, 12u}) {
                const u64 N = u64{1} << log_n;
                const NTT ntt(N, p, type);
                const std::vector<u64> a = wordsNearTop(N, 4 * p, rng);
                const std::vector<u64> b = wordsNearTop(N, p, rng);
                for (u64 factor : {u64{0}, u64{1}, p - 1, rng() % p}) {
                    const std::vector<u64> x = forwardOf(ntt, a, 1);
                    std::vector<u64> want(N);
                    for (u64 i = 0; i < N; ++i)
                        want[i] = static_cast<u64>(static_cast<unsigned __int128>(b[i] + p - x[i]) *
                                                   factor % p);
                    const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
                        std::vector<u64> scratch = a, out(N), in_place = b;
                        ntt.computeForwardSubScale(scratch.data(), b.data(), factor, out.data());
                        scratch = a;
                        ntt.computeForwardSubScale(scratch.data(), in_place.data(), factor,
                                                   in_place.data());
                        return std::vector<std::vector<u64>>{out, in_place};
                    });
                    const std::vector<std::vector<u64>> expected{want, want};
                    ASSERT_EQ(scalar, expected) << "N = " << N << ", p = " << p;
                    ASSERT_EQ(vector, expected) << "N = " << N << ", p = " << p;
                }
            }
}

// The inverse transform with a factor joined to its last stage gives the
// words of the inverse transform of the scaled input.
TEST_P(NTTPathsTest, BackwardScaledIsTheTransformOfTheScaledInput) {
    std::mt19937_64 rng(19);
    for (u64 p : kAllPrimes)
        for (NttType type : kTypes)
            for (unsigned log_n : {0u, 1u, 4u, 5u, 10u, 12u}) {
                const u64 N = u64{1} << log_n;
                const NTT ntt(N, p, type);
                const std::vector<u64> a = wordsNearTop(N, p, rng);
                for (u64 factor : {u64{0}, u64{1}, p - 1, rng() % p}) {
                    std::vector<u64> scaled(N);
                    for (u64 i = 0; i < N; ++i)
                        scaled[i] =
                            static_cast<u64>(static_cast<unsigned __int128>(a[i]) * factor % p);
                    const std::vector<u64> want = backwardOf(ntt, scaled, 1);
                    const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
                        std::vector<u64> words = a;
                        ntt.computeBackwardScaled(words.data(), factor);
                        return words;
                    });
                    ASSERT_EQ(scalar, want) << "N = " << N << ", p = " << p;
                    ASSERT_EQ(vector, want) << "N = " << N << ", p = " << p;
                }
            }
}

INSTANTIATE_TEST_SUITE_P(Simd, NTTPathsTest, testing::ValuesIn(kVectorPaths), pathParamName);
