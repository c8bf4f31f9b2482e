#include "Quelt/Context.hpp"
#include "Quelt/EncryptionKey.hpp"
#include "Quelt/SecretKey.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

using Rlwe = Quelt::SecretKeyBase<Quelt::EncryptionType::RLWE>;

// Degree 2^16: the mask's seed is expanded over every chain prime, the error
// transformed on the primes up to the encryption level.
void BM_GenEncryptionKeyFGb(benchmark::State &state) {
    const auto ctx = Quelt::makeContext(Quelt::ParameterPreset::FGb);
    const Rlwe sk(ctx);
    for (auto _ : state) {
        Quelt::EncryptionKey key(ctx, sk);
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_GenEncryptionKeyFGb)->Unit(benchmark::kMillisecond);

// Reading the file (in the page cache after the first round) is mostly
// regenerating ax from its seed.
void BM_LoadEncryptionKeyFGbFromFile(benchmark::State &state) {
    const auto ctx = Quelt::makeContext(Quelt::ParameterPreset::FGb);
    const Rlwe sk(ctx);
    const Quelt::EncryptionKey key(ctx, sk);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("quelt_bench_" + std::to_string(::getpid()) + "_EncKey.bin"))
                                 .string();
    key.save(path);
    Quelt::EncryptionKey loaded(ctx);
    for (auto _ : state) {
        loaded.load(path);
        benchmark::DoNotOptimize(loaded);
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::remove(path.c_str());
}
BENCHMARK(BM_LoadEncryptionKeyFGbFromFile)->Unit(benchmark::kMillisecond);

} // namespace
