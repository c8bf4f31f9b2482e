// The DFT constants of bootstrapping on the FGb preset (degree 2^16) at the
// full log slot count 15, single thread: both transforms, three radix steps
// each ({5, 5, 5}), 158 plaintexts per transform (CoeffToSlot at levels 24 to
// 22, SlotToCoeff at levels 1 to 3). The counter gives the bytes the
// plaintexts hold (about 2.1 GiB); run under /usr/bin/time -v for the peak
// resident memory of the whole construction.
//
// Each construction writes that much fresh memory, and on a virtual machine
// the first touch of every page can cost more than the arithmetic.
// BM_BootConstantsFGb times one construction as a bootstrapper makes it.
// BM_BootConstantsFGbWarm builds once untimed first; run it with
//   GLIBC_TUNABLES=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=17179869184
// so that the allocator keeps the freed blocks and the timed constructions
// run on memory already mapped.

#include "Quelt/Context.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "context/Polynomial.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

using namespace Quelt;
using u64 = std::uint64_t;

// Bytes held by the host plaintexts of every step of both transforms.
double constantBytes(const BootConstants &constants) {
    double bytes = 0.0;
    auto add = [&](const std::vector<Plaintext> &plaintexts) {
        for (const Plaintext &pt : plaintexts)
            bytes += static_cast<double>(pt.getMx().getData().sizeInBytes());
    };
    for (u64 j = 0; j < constants.getS2CDecomposition().num_radices; ++j)
        add(constants.getV0(kHostDevice, j));
    for (u64 j = 0; j < constants.getC2SDecomposition().num_radices; ++j)
        add(constants.getInvV0(kHostDevice, j));
    return bytes;
}

void runConstants(benchmark::State &state, bool warm_up) {
    static const auto ctx = makeContext(ParameterPreset::FGb);
    const BootParameter bp(ctx);
    const u64 log_slots = static_cast<u64>(state.range(0));
    if (warm_up) {
        const BootConstants untimed(log_slots, ctx, bp);
        benchmark::DoNotOptimize(&untimed);
    }
    double bytes = 0.0;
    for (auto _ : state) {
        BootConstants constants(log_slots, ctx, bp);
        bytes = constantBytes(constants);
        benchmark::DoNotOptimize(&constants);
    }
    state.counters["constant_MiB"] = bytes / (1024.0 * 1024.0);
}

void BM_BootConstantsFGb(benchmark::State &state) { runConstants(state, false); }
void BM_BootConstantsFGbWarm(benchmark::State &state) { runConstants(state, true); }

} // namespace

BENCHMARK(BM_BootConstantsFGb)->Arg(15)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BootConstantsFGbWarm)->Arg(15)->Unit(benchmark::kMillisecond)->Iterations(2);
