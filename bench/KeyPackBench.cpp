// The key pack's hot paths:
//   - the lazy load of one FGb rotation key from a key directory whose file
//     is in the page cache (compare with BM_PlainReadOfKeySize/fresh:1 plus
//     BM_RotationKeyMaskRegeneration of KeyFileBench: the same bytes read into
//     new memory and the 5 masks regenerated); run with TMPDIR=/dev/shm:
//       TMPDIR=/dev/shm ./build/bench/quelt_bench
//         --benchmark_filter='KeyPack|KeySize|MaskRegeneration'
//   - the lookup of a held rotation key, asked on every rotation;
//   - the decomposition table at 2^15 slots from the 30 keys of the
//     rotation-key bundle (the powers of two and their negatives).

#include "FgbRotationKey.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/KeyPack.hpp"
#include "client/KeyPackImpl.hpp"
#include "client/RotationKeyDecomposition.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

using namespace Quelt;

// A key directory holding RotKey1.bin of FGb, written once.
struct FgbKeyDirectory : Quelt::test::TempDirectory {
    FgbKeyDirectory() : TempDirectory("keypack_bench") {
        std::filesystem::create_directory(path() / "PK");
        Serialize::save((path() / "PK" / "RotKey1.bin").string(), QueltBench::fgbRotationKey());
    }
};

const std::string &fgbKeyDirectory() {
    static const FgbKeyDirectory dir;
    static const std::string path = dir.path().string();
    return path;
}

// Each iteration is a new pack on the directory, so the key is read every
// time; the pack (and the key) is released at the end of the iteration.
void BM_KeyPackLazyRotationKeyLoad(benchmark::State &state) {
    const std::string &dir = fgbKeyDirectory();
    for (auto _ : state) {
        const KeyPack pack(QueltBench::fgbContext(), dir);
        auto key = pack.getLeftRotKey(1, 0);
        benchmark::DoNotOptimize(key.get());
    }
}
BENCHMARK(BM_KeyPackLazyRotationKeyLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// A pack holding rotation keys 1 to 31 (N = 64): a lookup costs the same at
// any degree.
const KeyPack &heldKeys() {
    static const KeyPack pack = [] {
        const auto ctx = Quelt::test::degree64FourPrimes();
        KeyPack p(ctx);
        for (std::uint64_t idx = 1; idx < 32; ++idx)
            detail::KeyPackAccess::impl(p)->tryEmplaceRotKey(idx, makeEmptyRotKey(ctx, idx, 0));
        return p;
    }();
    return pack;
}

void BM_KeyPackHeldLeftRotKey(benchmark::State &state) {
    const KeyPack &pack = heldKeys();
    std::uint64_t idx = static_cast<std::uint64_t>(state.thread_index());
    for (auto _ : state) {
        auto key = pack.getLeftRotKey(1 + idx++ % 31, 0);
        benchmark::DoNotOptimize(key.get());
    }
}
BENCHMARK(BM_KeyPackHeldLeftRotKey)->Threads(1)->Threads(8)->UseRealTime();

void BM_RotationKeyDecompositionTable(benchmark::State &state) {
    constexpr std::uint64_t slots = std::uint64_t{1} << 15;
    std::vector<std::uint64_t> steps;
    for (std::uint64_t k = 1; k < slots; k <<= 1) {
        steps.push_back(k);
        steps.push_back(slots - k);
    }
    for (auto _ : state) {
        auto table = detail::buildRotationKeyDecompositionTable(slots, steps);
        benchmark::DoNotOptimize(table.data());
    }
    state.counters["steps"] = static_cast<double>(steps.size());
}
BENCHMARK(BM_RotationKeyDecompositionTable)->Unit(benchmark::kMillisecond);

} // namespace
