// Construction of a bootstrapper on the FGb preset (degree 2^16) at the full
// log slot count 15, single thread: the parameter's settings and the DFT
// constants of both transforms (FGb does not fuse the modulus raise). The
// context and the evaluator are made once, outside the timed loop.
//
// As with BM_BootConstantsFGb, most of the time is the first touch of the
// constants' fresh memory on a virtual machine; the Warm variant builds once
// untimed first (run it with the allocator tunables given in
// BootConstantsBench.cpp).

#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

using namespace Quelt;
using u64 = std::uint64_t;

void runConstruction(benchmark::State &state, bool warm_up) {
    static const auto ctx = makeContext(ParameterPreset::FGb);
    static const HomEvaluator eval(ctx);
    const u64 log_slots = static_cast<u64>(state.range(0));
    if (warm_up) {
        const Bootstrapper untimed(eval, log_slots, false);
        benchmark::DoNotOptimize(&untimed);
    }
    for (auto _ : state) {
        Bootstrapper boot(eval, log_slots, false);
        benchmark::DoNotOptimize(&boot);
    }
}

void BM_BootstrapperConstructionFGb(benchmark::State &state) { runConstruction(state, false); }
void BM_BootstrapperConstructionFGbWarm(benchmark::State &state) { runConstruction(state, true); }

} // namespace

BENCHMARK(BM_BootstrapperConstructionFGb)->Arg(15)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BootstrapperConstructionFGbWarm)
    ->Arg(15)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
