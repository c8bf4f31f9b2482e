#include "Quelt/Context.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/RandomSampler.hpp"

#include <benchmark/benchmark.h>

namespace {

using namespace Quelt;

// N = 2^16 with 25 base and quantize primes and 5 temporary primes: a mod-up
// polynomial spans all 30.
const std::shared_ptr<ContextContent> &benchContext() {
    static const auto ctx = makeContext(16, 25, 58, 42, 60, 5);
    return ctx;
}

void BM_RegenerateFromGerm(benchmark::State &state) {
    Polynomial p(benchContext(), true, true);
    populateUniformPoly(p, true);
    for (auto _ : state) {
        populateUniformPoly(p, false);
        benchmark::DoNotOptimize(p.getData().getData());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(p.getData().sizeInBytes()));
}
BENCHMARK(BM_RegenerateFromGerm)->Unit(benchmark::kMillisecond);

void BM_SampleTernary(benchmark::State &state) {
    Polynomial p(benchContext(), true, false);
    const RandomSampler sampler;
    for (auto _ : state) {
        sampler.sampleZO(p, benchContext());
        benchmark::DoNotOptimize(p.getData().getData());
    }
}
BENCHMARK(BM_SampleTernary)->Unit(benchmark::kMillisecond);

void BM_SampleGaussian(benchmark::State &state) {
    Polynomial p(benchContext(), true, false);
    const RandomSampler sampler;
    for (auto _ : state) {
        sampler.sampleGaussian(p, benchContext());
        benchmark::DoNotOptimize(p.getData().getData());
    }
}
BENCHMARK(BM_SampleGaussian)->Unit(benchmark::kMillisecond);

void BM_SampleUniform(benchmark::State &state) {
    Polynomial p(benchContext(), true, true);
    const RandomSampler sampler;
    for (auto _ : state) {
        sampler.sampleUniform(p, benchContext());
        benchmark::DoNotOptimize(p.getData().getData());
    }
}
BENCHMARK(BM_SampleUniform)->Unit(benchmark::kMillisecond);

} // namespace
