// One key switch through the key switcher on the FGb preset (degree 2^16, 25
// base and quantize primes, 5 temporary primes, gadget rank 5), single
// thread, top level: the digits of one NTT-form polynomial (modUpPQ), their
// inner product with a 5-digit rotation key (multEvalKey) and the division by
// P back to NTT form (modDown), each step alone and the three together as an
// evaluator runs them, with fresh digits, result and output per call; then
// the whole switch through the switcher's own workspace (keySwitch).

#include "BenchPaths.hpp"
#include "FgbRotationKey.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/KeySwitcher.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

using namespace Quelt;
using u64 = std::uint64_t;

namespace {

struct Setup {
    const std::shared_ptr<ContextContent> &ctx = QueltBench::fgbContext();
    KeySwitcher ks{ctx};
    std::unique_ptr<EvaluationKey> key = QueltBench::makeFgbRotationKey(1);
    Polynomial input{ctx, false, true};
    std::vector<Polynomial> digits;
    CiphertextBase<EncryptionType::RLWE> switched{ctx, true, true};
    PolynomialVector result{ctx, 2, false, true};

    Setup() {
        std::mt19937_64 rng(1);
        const u64 N = input.getDegree();
        for (u64 i = 0; i <= input.getLevel(); ++i)
            for (u64 c = 0; c < N; ++c)
                input.getLimb(i)[c] = rng() % input.getPrime(i);
        ks.modUpPQ(input, digits);
        switched = ks.multEvalKey(digits, *key);
    }

    void modUpPQ() { ks.modUpPQ(input, digits); }
    void multEvalKey() { switched = ks.multEvalKey(digits, *key); }
    void modDown() { ks.getFastBaseConv().modDown(switched.getPolyVector(), result, true); }
    // The same key switch through the switcher's workspace into outputs
    // that keep their storage.
    void fused() { ks.keySwitch(input, *key, result.getPoly(0), result.getPoly(1)); }
    void whole() {
        std::vector<Polynomial> fresh;
        ks.modUpPQ(input, fresh);
        const auto sum = ks.multEvalKey(fresh, *key);
        PolynomialVector out(ctx, 2, false, true);
        ks.getFastBaseConv().modDown(sum.getPolyVector(), out, true);
        benchmark::DoNotOptimize(out.getPoly(0).getLimb(0));
    }
};

Setup &setup() {
    static Setup s;
    return s;
}

void run(benchmark::State &state, void (Setup::*step)()) {
    Setup &s = setup();
    for (auto _ : state) {
        (s.*step)();
        benchmark::ClobberMemory();
    }
}

const bool kRegistered = [] {
    using bench::registerForEachPath;
    registerForEachPath(
        "KeySwitcher/FGb/modUpPQ", [](benchmark::State &state) { run(state, &Setup::modUpPQ); },
        benchmark::kMillisecond);
    registerForEachPath(
        "KeySwitcher/FGb/multEvalKey",
        [](benchmark::State &state) { run(state, &Setup::multEvalKey); }, benchmark::kMillisecond);
    registerForEachPath(
        "KeySwitcher/FGb/modDownTwo", [](benchmark::State &state) { run(state, &Setup::modDown); },
        benchmark::kMillisecond);
    registerForEachPath(
        "KeySwitcher/FGb/keySwitch", [](benchmark::State &state) { run(state, &Setup::whole); },
        benchmark::kMillisecond);
    registerForEachPath(
        "KeySwitcher/FGb/keySwitchWorkspace",
        [](benchmark::State &state) { run(state, &Setup::fused); }, benchmark::kMillisecond);
    return true;
}();

} // namespace
