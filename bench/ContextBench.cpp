#include "Quelt/Context.hpp"
#include "Quelt/LWE/Context.hpp"

#include <benchmark/benchmark.h>

namespace {

// Degree 2^16, 30 primes with their transform tables, the inverse-prime table
// and the slot FFT.
void BM_MakeContextFGb(benchmark::State &state) {
    for (auto _ : state) {
        auto ctx = Quelt::makeContext(Quelt::ParameterPreset::FGb);
        benchmark::DoNotOptimize(ctx);
    }
}
BENCHMARK(BM_MakeContextFGb)->Unit(benchmark::kMillisecond);

// Degree 2^17 and 40 primes, the largest presets.
void BM_MakeContextFVa(benchmark::State &state) {
    for (auto _ : state) {
        auto ctx = Quelt::makeContext(Quelt::ParameterPreset::FVa);
        benchmark::DoNotOptimize(ctx);
    }
}
BENCHMARK(BM_MakeContextFVa)->Unit(benchmark::kMillisecond);

// A multi-secret copy reuses the moduli and only rebuilds the chain tables and the FFT.
void BM_GenMultiSecretContextFGb(benchmark::State &state) {
    const auto ctx = Quelt::makeContext(Quelt::ParameterPreset::FGb);
    for (auto _ : state) {
        auto copy = Quelt::genMultiSecretContext(ctx, "FGbNS2", 2);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_GenMultiSecretContextFGb)->Unit(benchmark::kMillisecond);

void BM_MakeLWEContextSS7(benchmark::State &state) {
    for (auto _ : state) {
        auto ctx = Quelt::LWE::makeContext(Quelt::LWE::ParameterPreset::SS7);
        benchmark::DoNotOptimize(ctx);
    }
}
BENCHMARK(BM_MakeLWEContextSS7)->Unit(benchmark::kMicrosecond);

} // namespace
