// One rotation key of preset FGb (N = 2^16, 5 gadget digits, 25 + 5 primes)
// written to and read from a file that stays in the page cache, beside a
// plain write and read of the same number of bytes and the regeneration of
// the key's 5 masks from their seeds. The files live in the temporary
// directory; run with TMPDIR=/dev/shm to keep them in memory:
//   TMPDIR=/dev/shm ./build/bench/quelt_bench --benchmark_filter='RotationKey|KeySize'
// A load fills new arrays, so where the allocator hands back memory to the
// system after each load the figures include first-touch page faults; the
// plain read into new memory pays the same.

#include "FgbRotationKey.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "context/Polynomial.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Quelt;

using QueltBench::fgbContext;

const EvaluationKey &rotationKey() { return QueltBench::fgbRotationKey(); }

// The key's file, written once.
struct KeyFile : Quelt::test::TempFile {
    KeyFile() : TempFile("rotation_key.bin") { Serialize::save(path(), rotationKey()); }
};

const std::string &keyFile() {
    static const KeyFile file;
    return file.path();
}

std::uint64_t keyFileBytes() { return std::filesystem::file_size(keyFile()); }

void setBytes(benchmark::State &state, std::uint64_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes));
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

// Writes replace a file that already exists, as a key directory's files are
// rewritten; the first write of a new file is left out of the timing.
void BM_RotationKeySave(benchmark::State &state) {
    static const Quelt::test::TempFile file("rotation_key_save.bin");
    Serialize::save(file.path(), rotationKey());
    for (auto _ : state)
        Serialize::save(file.path(), rotationKey());
    setBytes(state, keyFileBytes());
}
BENCHMARK(BM_RotationKeySave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainWriteOfKeySize(benchmark::State &state) {
    static const Quelt::test::TempFile file("plain_write.bin");
    const std::vector<char> buffer(keyFileBytes(), 1);
    auto write = [&] {
        std::ofstream out(file.path(), std::ios::binary | std::ios::out);
        out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    };
    write();
    for (auto _ : state)
        write();
    setBytes(state, buffer.size());
}
BENCHMARK(BM_PlainWriteOfKeySize)->Unit(benchmark::kMillisecond)->UseRealTime();

// A load reads into fresh lists (a failed load must leave the key as it
// was), so its arrays are new memory each time.
void BM_RotationKeyLoad(benchmark::State &state) {
    auto key = makeEmptyRotKey(fgbContext(), 1, 0);
    const std::string &path = keyFile();
    for (auto _ : state)
        Serialize::load(path, *key);
    setBytes(state, keyFileBytes());
}
BENCHMARK(BM_RotationKeyLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same bytes read into memory that is new each time (the allocator of
// the library's arrays), or into one buffer reused by every read.
void BM_PlainReadOfKeySize(benchmark::State &state) {
    const bool fresh = state.range(0) != 0;
    const std::string &path = keyFile();
    const std::uint64_t bytes = keyFileBytes();
    std::vector<char> reused(fresh ? 0 : bytes);
    for (auto _ : state) {
        DeviceSpecificArray<std::uint64_t> target(fresh ? (bytes + 7) / 8 : 0);
        char *data = fresh ? reinterpret_cast<char *>(target.getData()) : reused.data();
        std::ifstream in(path, std::ios::binary | std::ios::in);
        in.read(data, static_cast<std::streamsize>(bytes));
        benchmark::DoNotOptimize(data);
    }
    setBytes(state, bytes);
}
BENCHMARK(BM_PlainReadOfKeySize)
    ->ArgName("fresh")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What a load adds to the plain read by design: the 5 masks regenerated,
// each into a new array.
void BM_RotationKeyMaskRegeneration(benchmark::State &state) {
    auto key = makeEmptyRotKey(fgbContext(), 1, 0);
    auto &masks = detail::EvaluationKeyAccess::ax(*key, kHostDevice);
    for (Polynomial &mask : masks)
        populateUniformPoly(mask, true);
    for (auto _ : state) {
        for (Polynomial &mask : masks)
            populateUniformPoly(mask, false);
        benchmark::DoNotOptimize(masks[0].getData().getData());
    }
}
BENCHMARK(BM_RotationKeyMaskRegeneration)->Unit(benchmark::kMillisecond)->UseRealTime();

// Construction allocates each list once and leaves the residues untouched.
void BM_RotationKeyConstruction(benchmark::State &state) {
    fgbContext();
    for (auto _ : state) {
        auto key = makeEmptyRotKey(fgbContext(), 1, 0);
        benchmark::DoNotOptimize(key.get());
    }
}
BENCHMARK(BM_RotationKeyConstruction)->Unit(benchmark::kMicrosecond);

} // namespace
