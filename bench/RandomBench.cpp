#include "foundation/UniformRandomBitGenerator.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

using Quelt::UniformRandomBitGenerator;

// Words per second of one operator() call per word; includes the block refill
// every 131072 words.
static void BM_SingleDraw(benchmark::State &state) {
    auto &generator = UniformRandomBitGenerator::getInstance();
    generator.setSeed({1, 2, 3, 4});
    std::uint64_t sink = 0;
    for (auto _ : state) {
        for (int i = 0; i < 4096; ++i)
            sink ^= generator();
    }
    benchmark::DoNotOptimize(sink);
    state.counters["words/s"] = benchmark::Counter(static_cast<double>(state.iterations() * 4096),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SingleDraw);

// Words per second of getRandomNumbers in runs of the given length.
static void BM_BulkDraw(benchmark::State &state) {
    auto &generator = UniformRandomBitGenerator::getInstance();
    generator.setSeed({1, 2, 3, 4});
    const auto n = static_cast<std::uint64_t>(state.range(0));
    std::vector<std::uint64_t> out(n);
    for (auto _ : state) {
        generator.getRandomNumbers(out.data(), n);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["words/s"] = benchmark::Counter(static_cast<double>(state.iterations() * n),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BulkDraw)->Arg(1 << 12)->Arg(1 << 16)->Arg(1 << 20);

// One 1 MiB block of keyed BLAKE3 output: the cost of a refill.
static void BM_RefillBlock(benchmark::State &state) {
    auto &generator = UniformRandomBitGenerator::getInstance();
    for (auto _ : state)
        generator.refillBuffer();
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(UniformRandomBitGenerator::kBlockBytes));
}
BENCHMARK(BM_RefillBlock);
