// Polynomial operations of the prime chain at degree 2^16 over 25 base and
// quantize primes (and 5 temporary primes), one whole polynomial per call.

#include "Quelt/Context.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

namespace {

using Quelt::Polynomial;
using u64 = std::uint64_t;

const std::shared_ptr<Quelt::ContextContent> &benchContext() {
    static const auto ctx = Quelt::makeContext(16, 25, 58, 42, 60, 5);
    return ctx;
}

const Quelt::PrimeModuli &benchChain() { return benchContext()->getPrimeModuli(); }

Polynomial randomPoly(bool ntt, std::uint64_t seed) {
    Polynomial p(benchContext(), false, ntt);
    std::mt19937_64 rng(seed);
    const u64 n = p.getDegree();
    for (u64 i = 0; i <= p.getLevel(); ++i) {
        const u64 q = benchChain().getModulus(i).getPrime();
        for (u64 j = 0; j < n; ++j)
            p.getLimb(i)[j] = rng() % q;
    }
    return p;
}

void setLimbRate(benchmark::State &state) {
    const u64 limbs = benchContext()->getPrimeModuli().getNumPrimes() - 5;
    state.counters["limbs/s"] = benchmark::Counter(static_cast<double>(state.iterations() * limbs),
                                                   benchmark::Counter::kIsRate);
}

void BM_Add(benchmark::State &state) {
    const Polynomial a = randomPoly(true, 1), b = randomPoly(true, 2);
    Polynomial out(a);
    for (auto _ : state) {
        benchChain().add(a, b, out);
        benchmark::ClobberMemory();
    }
    setLimbRate(state);
}
BENCHMARK(BM_Add)->Unit(benchmark::kMicrosecond);

void BM_HadamardMult(benchmark::State &state) {
    const Polynomial a = randomPoly(true, 1), b = randomPoly(true, 2);
    Polynomial out(a);
    for (auto _ : state) {
        benchChain().hadamardMult(a, b, out);
        benchmark::ClobberMemory();
    }
    setLimbRate(state);
}
BENCHMARK(BM_HadamardMult)->Unit(benchmark::kMicrosecond);

void BM_ConstMult(benchmark::State &state) {
    const Polynomial a = randomPoly(true, 1);
    Polynomial out(a);
    const Quelt::LevelledElement c(123456789, benchContext(), false, a.getLevel());
    for (auto _ : state) {
        benchChain().constMult(a, c, out);
        benchmark::ClobberMemory();
    }
    setLimbRate(state);
}
BENCHMARK(BM_ConstMult)->Unit(benchmark::kMicrosecond);

void BM_ForwardNTT(benchmark::State &state) {
    Polynomial a = randomPoly(false, 1);
    for (auto _ : state) {
        benchChain().forwardNTT<Quelt::AlwaysValidator, 1>(a, a, {});
        benchmark::ClobberMemory();
    }
    setLimbRate(state);
}
BENCHMARK(BM_ForwardNTT)->Unit(benchmark::kMicrosecond);

void BM_BackwardNTT(benchmark::State &state) {
    Polynomial a = randomPoly(true, 1);
    for (auto _ : state) {
        benchChain().backwardNTT<Quelt::AlwaysValidator, 1>(a, a, {});
        benchmark::ClobberMemory();
    }
    setLimbRate(state);
}
BENCHMARK(BM_BackwardNTT)->Unit(benchmark::kMicrosecond);

// Rescale from the top level (24 remaining limbs) in NTT form; the copy that
// restores the level is not timed.
void BM_Rescale(benchmark::State &state) {
    const Polynomial source = randomPoly(state.range(0) != 0, 1);
    Polynomial p(source);
    for (auto _ : state) {
        state.PauseTiming();
        p = source;
        state.ResumeTiming();
        benchChain().rescale(p);
        benchmark::ClobberMemory();
    }
    setLimbRate(state);
}
BENCHMARK(BM_Rescale)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_FrobeniusMap(benchmark::State &state) {
    const Polynomial a = randomPoly(true, 1);
    Polynomial out(a);
    for (auto _ : state) {
        benchChain().frobeniusMapInNTT<false>(a, 5, out);
        benchmark::ClobberMemory();
    }
    setLimbRate(state);
}
BENCHMARK(BM_FrobeniusMap)->Unit(benchmark::kMicrosecond);

} // namespace
