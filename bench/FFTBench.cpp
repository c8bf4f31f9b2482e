#include "arith/FFT.hpp"

#include "Quelt/Message.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

namespace {

using Quelt::FFT;
using Quelt::Message;

constexpr std::uint64_t kDegree = std::uint64_t{1} << 16;
constexpr std::uint64_t kLogSlots = 15;

Message randomMessage() {
    Message m(kLogSlots);
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (auto &v : m)
        v = {dist(rng), dist(rng)};
    return m;
}

// Each iteration restores the input outside the timed region, so repeated
// transforms neither grow the values nor run on infinities.
template <bool Forward>
void BM_SlotFFT(benchmark::State &state) {
    const FFT fft(kDegree, {Quelt::kHostDevice});
    const Message source = randomMessage();
    Message work = source;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(source.begin(), source.end(), work.begin());
        state.ResumeTiming();
        if constexpr (Forward)
            fft.forwardFFT(work);
        else
            fft.backwardFFT(work);
        benchmark::DoNotOptimize(work.begin());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(source.getSize()));
}

void BM_ForwardFFT(benchmark::State &state) { BM_SlotFFT<true>(state); }
void BM_BackwardFFT(benchmark::State &state) { BM_SlotFFT<false>(state); }

} // namespace

BENCHMARK(BM_ForwardFFT)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BackwardFFT)->Unit(benchmark::kMicrosecond);
