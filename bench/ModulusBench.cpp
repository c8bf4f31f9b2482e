#include "arith/Modulus.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace Quelt;

namespace {

using u64 = std::uint64_t;

constexpr u64 kDegree = u64{1} << 16;
constexpr u64 kPrime60 = 1152921504606844417ULL; // 60 bits

struct Limbs {
    Modulus modulus{kDegree, kPrime60, NttType::NONE};
    std::vector<u64> a, b, out;
    Limbs() : a(kDegree), b(kDegree), out(kDegree) {
        std::mt19937_64 rng(1);
        std::uniform_int_distribution<u64> draw(0, kPrime60 - 1);
        for (u64 i = 0; i < kDegree; ++i) {
            a[i] = draw(rng);
            b[i] = draw(rng);
            out[i] = draw(rng);
        }
    }
};

void finish(benchmark::State &state, const Limbs &l) {
    benchmark::DoNotOptimize(l.out.data());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kDegree));
}

void BM_AddVector(benchmark::State &state) {
    Limbs l;
    for (auto _ : state) {
        l.modulus.addVector(l.out.data(), l.a.data(), l.b.data(), kDegree);
        benchmark::ClobberMemory();
    }
    finish(state, l);
}

void BM_MulVector(benchmark::State &state) {
    Limbs l;
    for (auto _ : state) {
        l.modulus.mulVector(l.out.data(), l.a.data(), l.b.data(), kDegree);
        benchmark::ClobberMemory();
    }
    finish(state, l);
}

void BM_ConstMult1(benchmark::State &state) {
    Limbs l;
    const u64 c = l.b[0];
    for (auto _ : state) {
        l.modulus.constMult<1>(l.a.data(), c, l.out.data(), kDegree);
        benchmark::ClobberMemory();
    }
    finish(state, l);
}

void BM_MulAddVector(benchmark::State &state) {
    Limbs l;
    for (auto _ : state) {
        l.modulus.mulAddVector(l.out.data(), l.a.data(), l.b.data());
        benchmark::ClobberMemory();
    }
    finish(state, l);
}

} // namespace

BENCHMARK(BM_AddVector);
BENCHMARK(BM_MulVector);
BENCHMARK(BM_ConstMult1);
BENCHMARK(BM_MulAddVector);
