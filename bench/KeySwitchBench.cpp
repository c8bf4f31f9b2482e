// One hybrid key switch on the FGb preset (degree 2^16, 25 base and quantize
// primes, 5 temporary primes, gadget rank 5), single thread, full level:
// modUp of one polynomial in NTT form into 5 digits, the inner product of the
// digits with a 5-digit key (mask and body parts) over the extended basis,
// and modDown of the two sums back to NTT form ("modUpInPlace" is modUp into
// the digits of the last call, without allocating). Each step is timed alone,
// then the three together, through the same calls the key switcher makes, on
// every instruction-set path side by side.

#include "BenchPaths.hpp"
#include "Quelt/Context.hpp"
#include "arith/FastBaseConv.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/PrimeModuliInnerProduct.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

using namespace Quelt;

namespace {

struct Setup {
    std::shared_ptr<ContextContent> ctx = makeContext(ParameterPreset::FGb);
    FastBaseConv conv{ctx};
    Polynomial input{ctx, false, true};
    std::vector<Polynomial> digits;
    std::vector<Polynomial> key_mask, key_body;
    PolynomialVector sums{ctx, 2, true, true};
    PolynomialVector result{ctx, 2, false, true};

    static void fill(Polynomial &p, std::mt19937_64 &rng) {
        const u64 N = p.getDegree();
        for (u64 i = 0; i < p.getData().size() / N; ++i)
            for (u64 c = 0; c < N; ++c)
                p.getLimb(i)[c] = rng() % p.getPrime(i);
    }

    Setup() {
        std::mt19937_64 rng(1);
        fill(input, rng);
        digits = conv.modUp(input);
        for (u64 d = 0; d < digits.size(); ++d) {
            key_mask.emplace_back(ctx, true, true);
            key_body.emplace_back(ctx, true, true);
            fill(key_mask.back(), rng);
            fill(key_body.back(), rng);
        }
    }

    void modUp() { digits = conv.modUp(input); }
    // The same conversion into the digits already there: no allocation, so
    // no first touch of fresh pages.
    void modUpInPlace() {
        std::vector<u64 *> outs;
        for (Polynomial &d : digits)
            outs.push_back(d.getData().getData());
        conv.modUpLimbs(input.getData().getData(), input.getLevel(), true, outs.data());
    }
    void innerProduct() {
        const std::vector<Polynomial> &a = digits;
        ctx->getPrimeModuli().innerProduct(
            makePolyIter(a.begin()), makePolyIter(a.end()), makePolyIter(key_mask.begin()),
            makePolyIter(key_body.begin()), sums.getPoly(0), sums.getPoly(1));
    }
    void modDown() { conv.modDown(sums, result, true); }
};

Setup &setup() {
    static Setup s;
    return s;
}

void keySwitchStep(benchmark::State &state, void (Setup::*step)()) {
    Setup &s = setup();
    s.innerProduct();
    for (auto _ : state) {
        (s.*step)();
        benchmark::ClobberMemory();
    }
}

void keySwitchWhole(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) {
        s.modUp();
        s.innerProduct();
        s.modDown();
        benchmark::ClobberMemory();
    }
}

const bool kRegistered = [] {
    using bench::registerForEachPath;
    registerForEachPath(
        "KeySwitch/FGb/modUp", [](benchmark::State &state) { keySwitchStep(state, &Setup::modUp); },
        benchmark::kMillisecond);
    registerForEachPath(
        "KeySwitch/FGb/modUpInPlace",
        [](benchmark::State &state) { keySwitchStep(state, &Setup::modUpInPlace); },
        benchmark::kMillisecond);
    registerForEachPath(
        "KeySwitch/FGb/innerProduct",
        [](benchmark::State &state) { keySwitchStep(state, &Setup::innerProduct); },
        benchmark::kMillisecond);
    registerForEachPath(
        "KeySwitch/FGb/modDownTwo",
        [](benchmark::State &state) { keySwitchStep(state, &Setup::modDown); },
        benchmark::kMillisecond);
    registerForEachPath("KeySwitch/FGb/whole", keySwitchWhole, benchmark::kMillisecond);
    return true;
}();

} // namespace
