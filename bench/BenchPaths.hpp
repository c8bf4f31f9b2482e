#pragma once

// Running a benchmark on each instruction-set path of the kernels, side by
// side: every benchmark registered through registerForEachPath runs once per
// path, with the path's name in its own name.

#include "foundation/SimdPath.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace Quelt::bench {

inline constexpr simd::Path kAllPaths[] = {simd::Path::Scalar, simd::Path::Avx2, simd::Path::Avx512,
                                           simd::Path::Ifma};

// Selects the path for one benchmark run and restores the former one after.
class PathScope {
public:
    PathScope(benchmark::State &state, simd::Path path) : saved_(simd::activePath()) {
        if (!simd::isSupported(path)) {
            state.SkipWithError("the processor lacks the extensions of this path");
            return;
        }
        simd::setActivePath(path);
        active_ = true;
    }
    ~PathScope() { simd::setActivePath(saved_); }
    bool active() const { return active_; }

private:
    simd::Path saved_;
    bool active_ = false;
};

// On a shared machine the least disturbed repetition is the telling one.
inline benchmark::internal::Benchmark *withMinimum(benchmark::internal::Benchmark *b) {
    return b->ComputeStatistics(
        "min", [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); });
}

// Registers name/<path> for every path; body(state) runs with the path set.
template <typename Body>
void registerForEachPath(const std::string &name, Body body,
                         benchmark::TimeUnit unit = benchmark::kMicrosecond) {
    for (simd::Path path : kAllPaths) {
        auto *b = benchmark::RegisterBenchmark((name + "/" + simd::pathName(path)).c_str(),
                                               [path, body](benchmark::State &state) {
                                                   PathScope scope(state, path);
                                                   if (scope.active())
                                                       body(state);
                                               });
        withMinimum(b)->Unit(unit);
    }
}

} // namespace Quelt::bench
