// Every vector path of the transforms gives the scalar path's words, for every
// type, every output bound K and inputs at the top of their allowed range.

#include "arith/NTT.hpp"

#include "support/SimdPaths.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

// The largest primes below 2^b that are 1 modulo 2^19, so friendly for every
// type up to N = 2^17 (found with a short big-integer script).
constexpr u64 kPrime30 = 1056440321ULL;          // 0x3ef80001
constexpr u64 kPrime42 = 4398044938241ULL;       // 0x3ffffe80001
constexpr u64 kPrime50 = 1125899902124033ULL;    // 0x3ffffffb80001, largest on the IFMA kernels
constexpr u64 kPrime52 = 4503599626321921ULL;    // 0xffffffff00001
constexpr u64 kPrime60 = 1152921504577486849ULL; // 0xffffffffe400001
constexpr u64 kPrime61 = 2305843009211596801ULL; // 0x1fffffffffe00001
constexpr u64 kPrime62 = 4611686018425815041ULL; // 0x3fffffffffe80001

constexpr u64 kAllPrimes[] = {kPrime30, kPrime42, kPrime50, kPrime52, kPrime60, kPrime61, kPrime62};

constexpr NttType kTypes[] = {NttType::NEGACYCLIC, NttType::NEGACYCLIC_SQUARE_4N,
                              NttType::CONJUGATE_INVARIANT};

std::vector<u64> forwardOf(const NTT &ntt, std::vector<u64> a, int K) {
    K == 1   ? ntt.computeForward<1>(a.data())
    : K == 2 ? ntt.computeForward<2>(a.data())
             : ntt.computeForward<4>(a.data());
    return a;
}

std::vector<u64> backwardOf(const NTT &ntt, std::vector<u64> a, int K) {
    K == 1 ? ntt.computeBackward<1>(a.data()) : ntt.computeBackward<2>(a.data());
    return a;
}

// Forward of inputs below 4p and inverse of inputs below 2p, every K, on the
// scalar path and on `path`.
void expectSameWords(simd::Path path, u64 N, u64 p, NttType type, std::mt19937_64 &rng) {
    const NTT ntt(N, p, type);
    const std::vector<u64> below4p = wordsNearTop(N, 4 * p, rng);
    const std::vector<u64> below2p = wordsNearTop(N, 2 * p, rng);
    for (int K : {1, 2, 4}) {
        const auto [scalar, vector] =
            onScalarAndOn(path, [&] { return forwardOf(ntt, below4p, K); });
        ASSERT_EQ(scalar, vector) << "forward, K = " << K << ", N = " << N << ", p = " << p
                                  << ", type " << static_cast<int>(type);
    }
    for (int K : {1, 2}) {
        const auto [scalar, vector] =
            onScalarAndOn(path, [&] { return backwardOf(ntt, below2p, K); });
        ASSERT_EQ(scalar, vector) << "inverse, K = " << K << ", N = " << N << ", p = " << p
                                  << ", type " << static_cast<int>(type);
    }
}

class NTTPaths : public PathTest {};

} // namespace

// Degrees 2^1 .. 2^14 cover every stage arrangement of the forward drivers
// (blocks and whole-limb passes, an odd stage count) and the lower ones of the
// inverse drivers.
TEST_P(NTTPaths, MatchScalarWordForWord) {
    std::mt19937_64 rng(11);
    for (u64 p : kAllPrimes)
        for (NttType type : kTypes)
            for (unsigned log_n = 1; log_n <= 14; ++log_n)
                expectSameWords(GetParam(), u64{1} << log_n, p, type, rng);
}

// The inverse drivers run pairs of stages over the whole limb from 2^15 on.
TEST_P(NTTPaths, MatchScalarWordForWordAtLargeDegreesSlow) {
    std::mt19937_64 rng(12);
    for (u64 p : {kPrime50, kPrime60, kPrime62})
        for (NttType type : kTypes)
            for (unsigned log_n = 15; log_n <= 17; ++log_n)
                expectSameWords(GetParam(), u64{1} << log_n, p, type, rng);
}

// The twists of type 2 alone, into another limb and in place: the pre-twist
// of inputs below 4p, the post-twist of inputs below 2p.
TEST_P(NTTPaths, TwistsMatchScalarWordForWord) {
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

INSTANTIATE_TEST_SUITE_P(Simd, NTTPaths, testing::ValuesIn(kVectorPaths), pathParamName);
