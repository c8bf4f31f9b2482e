#pragma once

// The word-for-word comparison of the transform paths, shared by the path
// tests of small and of large degrees.

#include "arith/NTT.hpp"

#include "support/SimdPaths.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace Quelt::test::ntt_paths {

// The largest primes below 2^b that are 1 modulo 2^19, so friendly for every
// type up to N = 2^17 (found with a short big-integer script).
inline constexpr u64 kPrime30 = 1056440321ULL;       // 0x3ef80001
inline constexpr u64 kPrime42 = 4398044938241ULL;    // 0x3ffffe80001
inline constexpr u64 kPrime50 = 1125899902124033ULL; // 0x3ffffffb80001, largest on the IFMA kernels
inline constexpr u64 kPrime52 = 4503599626321921ULL; // 0xffffffff00001
inline constexpr u64 kPrime60 = 1152921504577486849ULL; // 0xffffffffe400001
inline constexpr u64 kPrime61 = 2305843009211596801ULL; // 0x1fffffffffe00001
inline constexpr u64 kPrime62 = 4611686018425815041ULL; // 0x3fffffffffe80001

inline constexpr u64 kAllPrimes[] = {kPrime30, kPrime42, kPrime50, kPrime52,
                                     kPrime60, kPrime61, kPrime62};

inline constexpr NttType kTypes[] = {NttType::NEGACYCLIC, NttType::NEGACYCLIC_SQUARE_4N,
                                     NttType::CONJUGATE_INVARIANT};

inline std::vector<u64> forwardOf(const NTT &ntt, std::vector<u64> a, int K) {
    K == 1   ? ntt.computeForward<1>(a.data())
    : K == 2 ? ntt.computeForward<2>(a.data())
             : ntt.computeForward<4>(a.data());
    return a;
}

inline std::vector<u64> backwardOf(const NTT &ntt, std::vector<u64> a, int K) {
    K == 1 ? ntt.computeBackward<1>(a.data()) : ntt.computeBackward<2>(a.data());
    return a;
}

// Forward of inputs below 4p and inverse of inputs below 2p, every K, on the
// scalar path and on `path`.
inline void expectSameWords(simd::Path path, u64 N, u64 p, NttType type, std::mt19937_64 &rng) {
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

} // namespace Quelt::test::ntt_paths
