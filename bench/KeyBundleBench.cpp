// Bundle generation at degree 2^12, one thread: modulus packing from rank 8
// at degree 2^9 (FGbD9R3L0, rank 8) to RLWE at FGbD12L0 (8 keys), and a
// multi-secret switch bundle over 2 and 4 secrets of a custom chain (3 base
// and quantize primes in 3 digits). Counters: the result's key memory, one
// key's, and the peak resident size generation reached above what the
// process held before; the peak should stay near the result plus one key.

#include "Quelt/KeyGenerator.hpp"

#include "PeakMemory.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/Polynomial.hpp"
#include "keys/EvaluationKeyAccess.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace {

using namespace Quelt;
using QueltBench::peakResidentKiB;
using QueltBench::resetPeakResident;

constexpr double kMiB = 1024.0 * 1024.0;

double keyMiB(const EvaluationKey &key) {
    std::uint64_t words = 0;
    for (const auto *list : {&detail::EvaluationKeyAccess::ax(key, kHostDevice),
                             &detail::EvaluationKeyAccess::bx(key, kHostDevice)})
        for (const Polynomial &poly : *list)
            words += poly.getData().size();
    return static_cast<double>(words) * 8 / kMiB;
}

template <typename Bundle, typename Get>
double bundleMiB(const Bundle &bundle, Get get) {
    double mib = 0;
    for (std::uint64_t i = 0; i < bundle.getNumKeys(); ++i)
        mib += keyMiB(*(bundle.*get)(i));
    return mib;
}

// Runs `generate` once per iteration with the peak reset before it; the
// result is dropped outside the timing. Reports the peak reached.
template <typename Generate>
void measure(benchmark::State &state, Generate generate) {
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        resetPeakResident();
        const double before = peakResidentKiB();
        state.ResumeTiming();
        {
            auto result = generate(state);
            state.PauseTiming();
            peak = (peakResidentKiB() - before) / 1024;
        }
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = peak;
}

void BM_GenModPackKeyBundleD12(benchmark::State &state) {
    const auto g = makeContext(ParameterPreset::FGbD12L0);
    const auto module = makeContext(ParameterPreset::FGbD9R3L0Rank8);
    const SecretKeyBase<EncryptionType::MLWE> in(module);
    const SecretKeyBase<EncryptionType::RLWE> out(g);
    const KeyGenerator gen(g);
    measure(state, [&](benchmark::State &s) {
        ModPackKeyBundle bundle = gen.genModPackKeyBundle(in, out);
        s.counters["keys"] = static_cast<double>(bundle.getNumKeys());
        s.counters["result_MiB"] = bundleMiB(bundle, &ModPackKeyBundle::getModPackKey);
        s.counters["key_MiB"] = keyMiB(*bundle.getModPackKey(0));
        return bundle;
    });
}
BENCHMARK(BM_GenModPackKeyBundleD12)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_GenMultiSecretSwitchKeyBundleD12(benchmark::State &state) {
    const auto ss = makeContext(12, 3, 50, 40, 50, 3);
    const auto ms2 = genMultiSecretContext(ss, "NS2", 2);
    const auto ms4 = genMultiSecretContext(ss, "NS4", 4);
    const SecretKeyBase<EncryptionType::RLWE> sk(ss);
    const std::vector<SecretKeyBase<EncryptionType::MSRLWE>> ms = {
        SecretKeyBase<EncryptionType::MSRLWE>(ms2), SecretKeyBase<EncryptionType::MSRLWE>(ms4)};
    const KeyGenerator gen(ss);
    measure(state, [&](benchmark::State &s) {
        MultiSecretSwitchKeyBundle bundle = gen.genMultiSecretSwitchKeyBundle(sk, ms);
        const auto &bisection = bundle.getSStoMSBisectionKeyBundle();
        const double mstoss =
            bundleMiB(bundle.getMStoSSKeyBundle(), &MStoSSKeyBundle::getMStoSSKey);
        s.counters["result_MiB"] =
            mstoss + bundleMiB(bisection.getSStoMSKeyBundle(), &SStoMSKeyBundle::getSStoMSKey) +
            bundleMiB(bisection.getIncreaseNSKeyBundle(0), &IncreaseNSKeyBundle::getIncreaseNSKey);
        s.counters["key_MiB"] = keyMiB(*bundle.getMStoSSKeyBundle().getMStoSSKey(0));
        return bundle;
    });
}
BENCHMARK(BM_GenMultiSecretSwitchKeyBundleD12)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
