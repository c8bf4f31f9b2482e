// Forward and inverse transform of one limb, type 0, for N = 2^12 .. 2^17 and
// a 60-bit or 50-bit prime p = 1 mod 2N (the largest below 2^60 or 2^50).
// The "Scalar" variants force the portable path; the others take whatever
// path the processor selects.

#include "arith/NTT.hpp"
#include "arith/NTTKernels.hpp"
#include "arith/NumberTheoryUtils.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

using namespace Quelt;
using u64 = std::uint64_t;

namespace {

const NTT &transformFor(unsigned log_n, unsigned bits) {
    static std::map<std::pair<unsigned, unsigned>, std::unique_ptr<NTT>> cache;
    auto &slot = cache[{log_n, bits}];
    if (!slot) {
        const u64 N = u64{1} << log_n;
        const u64 p = utils::seekPrimes(u64{1} << bits, 2 * N, 1, true)[0];
        slot = std::make_unique<NTT>(N, p, NttType::NEGACYCLIC);
    }
    return *slot;
}

std::vector<u64> randomLimb(const NTT &ntt) {
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<u64> dist(0, ntt.getPrime() - 1);
    std::vector<u64> a(ntt.getDegree());
    for (auto &x : a)
        x = dist(rng);
    return a;
}

template <bool Forward, bool Scalar>
void benchTransform(benchmark::State &state) {
    const NTT &ntt =
        transformFor(static_cast<unsigned>(state.range(0)), static_cast<unsigned>(state.range(1)));
    std::vector<u64> a = randomLimb(ntt);
    ntt_kernels::setVectorPathEnabled(!Scalar);
    for (auto _ : state) {
        if constexpr (Forward)
            ntt.computeForward<1>(a.data());
        else
            ntt.computeBackward<1>(a.data());
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    ntt_kernels::setVectorPathEnabled(true);
    state.SetLabel(Scalar ? "scalar" : ntt_kernels::activePathName());
}

void degreesAndPrimes(benchmark::internal::Benchmark *b) {
    for (int bits : {60, 50})
        for (int log_n = 12; log_n <= 17; ++log_n)
            b->Args({log_n, bits});
    b->ArgNames({"logN", "bits"})->Unit(benchmark::kMicrosecond);
    // On a shared machine the least disturbed repetition is the telling one.
    b->ComputeStatistics(
        "min", [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); });
}

} // namespace

BENCHMARK(benchTransform<true, false>)->Name("NTT/Forward")->Apply(degreesAndPrimes);
BENCHMARK(benchTransform<false, false>)->Name("NTT/Backward")->Apply(degreesAndPrimes);
BENCHMARK(benchTransform<true, true>)->Name("NTT/ForwardScalar")->Apply(degreesAndPrimes);
BENCHMARK(benchTransform<false, true>)->Name("NTT/BackwardScalar")->Apply(degreesAndPrimes);
