// Key generation at FGb (N = 2^16, 25 + 5 primes, 5 gadget digits), one
// thread: one rotation key, the encryption key, and the whole key set of a
// bootstrap at 2^15 slots with its key count and peak memory; and the
// sparse-secret encapsulation key of FGbSSE (24 + 6 primes, 4 digits) with
// its companion SGb0 (1 + 1 primes, 1 digit).

#include "Quelt/KeyGenerator.hpp"

#include "FgbRotationKey.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "client/KeyPackImpl.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>

namespace {

using namespace Quelt;

const SecretKeyBase<EncryptionType::RLWE> &fgbSecretKey() {
    static const SecretKeyBase<EncryptionType::RLWE> sk(QueltBench::fgbContext());
    return sk;
}

// The peak resident size of the process in KiB (VmHWM), and its reset to the
// current size (Linux: "5" written to clear_refs).
double peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string field;
    while (status >> field) {
        if (field == "VmHWM:") {
            double kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}
void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

// One left-rotation key made in full per iteration (the pack keeps the first
// and drops the others, after they are complete).
void BM_GenRotKeyFGb(benchmark::State &state) {
    const KeyPack pack(QueltBench::fgbContext());
    const KeyGenerator gen(QueltBench::fgbContext(), fgbSecretKey(), pack);
    for (auto _ : state)
        gen.genLeftRotKey(1);
}
BENCHMARK(BM_GenRotKeyFGb)->Unit(benchmark::kMillisecond);

void BM_GenEncKeyFGb(benchmark::State &state) {
    const KeyPack pack(QueltBench::fgbContext());
    const KeyGenerator gen(QueltBench::fgbContext(), fgbSecretKey(), pack);
    for (auto _ : state)
        gen.genEncKey();
}
BENCHMARK(BM_GenEncKeyFGb)->Unit(benchmark::kMillisecond);

// genMultKey, genConjKey and genRotKeysForBootstrap(15, false) into an empty
// pack; the counters give the keys made and the peak resident size the set
// reached above what the process held before.
void BM_BootstrapKeySetFGb(benchmark::State &state) {
    const auto &ctx = QueltBench::fgbContext();
    fgbSecretKey();
    double keys = 0, peak_mib = 0;
    for (auto _ : state) {
        state.PauseTiming();
        resetPeakResident();
        const double before = peakResidentKiB();
        {
            const KeyPack pack(ctx);
            const KeyGenerator gen(ctx, fgbSecretKey(), pack);
            state.ResumeTiming();
            gen.genMultKey();
            gen.genConjKey();
            gen.genRotKeysForBootstrap(15, false);
            state.PauseTiming();
            keys = static_cast<double>(
                detail::KeyPackAccess::impl(pack)->getRotKeyList(true).size() + 2);
        }
        peak_mib = (peakResidentKiB() - before) / 1024;
        state.ResumeTiming();
    }
    state.counters["keys"] = keys;
    state.counters["peak_MiB"] = peak_mib;
}
BENCHMARK(BM_BootstrapKeySetFGb)->Unit(benchmark::kSecond)->Iterations(1);

const std::shared_ptr<ContextContent> &fgbSSEContext() {
    static const auto ctx = makeContext(ParameterPreset::FGbSSE);
    return ctx;
}
const std::shared_ptr<ContextContent> &sgb0Context() {
    static const auto ctx = makeContext(getSparseParameterPresetFor(ParameterPreset::FGbSSE));
    return ctx;
}
const SecretKeyBase<EncryptionType::RLWE> &fgbSSESecretKey() {
    static const SecretKeyBase<EncryptionType::RLWE> sk(fgbSSEContext());
    return sk;
}

// One encapsulation key per iteration into a new pack, so that each call
// allocates its key afresh; the counter gives the peak resident size one call
// reaches above what the process held before.
void BM_GenSparseSecretEncapsulationKeyFGbSSE(benchmark::State &state) {
    fgbSSESecretKey();
    sgb0Context();
    double peak_mib = 0;
    for (auto _ : state) {
        state.PauseTiming();
        resetPeakResident();
        const double before = peakResidentKiB();
        {
            const KeyPack pack(fgbSSEContext(), sgb0Context());
            const KeyGenerator gen(fgbSSEContext(), sgb0Context(), fgbSSESecretKey(), pack);
            state.ResumeTiming();
            gen.genSparseSecretEncapsulationKey();
            state.PauseTiming();
        }
        peak_mib = std::max(peak_mib, (peakResidentKiB() - before) / 1024);
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = peak_mib;
}
BENCHMARK(BM_GenSparseSecretEncapsulationKeyFGbSSE)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
