// One key switch through the key switcher on the FGb preset (degree 2^16, 25
// base and quantize primes, 5 temporary primes, gadget rank 5), single
// thread, top level: the digits of one NTT-form polynomial (modUpPQ), their
// inner product with a 5-digit rotation key (multEvalKey) and the division by
// P back to NTT form (modDown), each step alone and the three together as an
// evaluator runs them, with fresh digits, result and output per call; then
// the whole switch through the switcher's own workspace (keySwitch); then the
// switch, the addition of two polynomials and the rescale of a
// relinearisation, one after the other and fused (keySwitchRescale).

#include "BenchPaths.hpp"
#include "FgbRotationKey.hpp"
#include "PeakMemory.hpp"
#include "arith/PrimeModuli.hpp"
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
    Polynomial addend_body{ctx, false, true}, addend_mask{ctx, false, true};
    PolynomialVector rescaled{ctx, 2, false, true};

    Setup() {
        std::mt19937_64 rng(1);
        const u64 N = input.getDegree();
        for (Polynomial *p : {&input, &addend_body, &addend_mask})
            for (u64 i = 0; i <= p->getLevel(); ++i)
                for (u64 c = 0; c < N; ++c)
                    p->getLimb(i)[c] = rng() % p->getPrime(i);
        ks.modUpPQ(input, digits);
        switched = ks.multEvalKey(digits, *key);
    }

    void modUpPQ() { ks.modUpPQ(input, digits); }
    void multEvalKey() { switched = ks.multEvalKey(digits, *key); }
    void modDown() { ks.getFastBaseConv().modDown(switched.getPolyVector(), result, true); }
    // The same key switch through the switcher's workspace into outputs
    // that keep their storage.
    void fused() { ks.keySwitch(input, *key, result.getPoly(0), result.getPoly(1)); }
    // The relinearisation of a product and its rescale: the switch, the
    // addition of the product's first two polynomials and the rescale one
    // after the other, and fused into the switch's pass.
    void switchAddRescale() {
        const PrimeModuli &chain = ctx->getPrimeModuli();
        Polynomial &body = rescaled.getPoly(0);
        Polynomial &mask = rescaled.getPoly(1);
        ks.keySwitch(input, *key, body, mask);
        chain.add(addend_body, body, body);
        chain.add(addend_mask, mask, mask);
        chain.rescaleTwo(body, mask);
    }
    void switchRescale() {
        ks.keySwitchRescale(input, *key, addend_body, addend_mask, rescaled.getPoly(0),
                            rescaled.getPoly(1));
    }
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

// Counters: the memory of the timed calls (QueltBench::MemoryWindow).
void run(benchmark::State &state, void (Setup::*step)()) {
    Setup &s = setup();
    const QueltBench::MemoryWindow memory;
    for (auto _ : state) {
        (s.*step)();
        benchmark::ClobberMemory();
    }
    memory.report(state);
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
    registerForEachPath(
        "KeySwitcher/FGb/keySwitchAddRescale",
        [](benchmark::State &state) { run(state, &Setup::switchAddRescale); },
        benchmark::kMillisecond);
    registerForEachPath(
        "KeySwitcher/FGb/keySwitchRescale",
        [](benchmark::State &state) { run(state, &Setup::switchRescale); },
        benchmark::kMillisecond);
    return true;
}();

} // namespace
