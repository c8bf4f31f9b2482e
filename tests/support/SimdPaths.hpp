#pragma once

// Helpers of the tests that compare the vector paths of the kernels with the
// scalar path word for word.

#include "foundation/SimdPath.hpp"
#include "foundation/WordArith.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace Quelt::simd {
// Parameter names in GoogleTest's messages.
inline void PrintTo(Path path, std::ostream *os) { *os << pathName(path); }
} // namespace Quelt::simd

namespace Quelt::test {

// The vector paths, for parameterised suites.
inline const std::vector<simd::Path> kVectorPaths = {simd::Path::Avx2, simd::Path::Avx512,
                                                     simd::Path::Ifma};

// Why a path cannot run here, for GTEST_SKIP.
inline std::string missingPathReason(simd::Path path) {
    return std::string("this processor lacks the extensions of the ") + simd::pathName(path) +
           " path (" +
           (path == simd::Path::Avx2     ? "AVX2"
            : path == simd::Path::Avx512 ? "AVX-512 F/DQ/VL/BW"
                                         : "AVX-512 F/DQ/VL/BW and IFMA") +
           ")";
}

inline std::string pathParamName(const testing::TestParamInfo<simd::Path> &info) {
    return simd::pathName(info.param);
}

// A suite run once per vector path (testing::ValuesIn(kVectorPaths)); the
// paths the processor lacks are skipped with the reason.
class PathTest : public testing::TestWithParam<simd::Path> {
protected:
    void SetUp() override {
        if (!simd::isSupported(GetParam()))
            GTEST_SKIP() << missingPathReason(GetParam());
    }
};

// Selects a path for the lifetime of the object, then restores the one that
// was active before (which the test program may have forced).
class ScopedPath {
public:
    explicit ScopedPath(simd::Path path) : saved_(simd::activePath()) { simd::setActivePath(path); }
    ~ScopedPath() { simd::setActivePath(saved_); }
    ScopedPath(const ScopedPath &) = delete;
    ScopedPath &operator=(const ScopedPath &) = delete;

private:
    simd::Path saved_;
};

// Runs f() on the scalar path and on `path` and returns both results.
template <typename F>
auto onScalarAndOn(simd::Path path, F &&f) {
    decltype(f()) scalar, vector;
    {
        ScopedPath guard(simd::Path::Scalar);
        scalar = f();
    }
    {
        ScopedPath guard(path);
        vector = f();
    }
    return std::make_pair(scalar, vector);
}

// n words below `bound` that reach its top: random words, every third one
// bound - 1 or bound - 2, the first and the last bound - 1.
inline std::vector<std::uint64_t> wordsNearTop(std::size_t n, std::uint64_t bound,
                                               std::mt19937_64 &rng) {
    std::uniform_int_distribution<std::uint64_t> dist(0, bound - 1);
    std::vector<std::uint64_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = i % 3 == 0 ? bound - 1 - (i / 3) % 2 : dist(rng);
    if (n != 0)
        v.front() = v.back() = bound - 1;
    return v;
}

} // namespace Quelt::test
