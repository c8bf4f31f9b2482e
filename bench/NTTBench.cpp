// Forward and inverse transform of one limb, type 0, at N = 2^12 and 2^16 with
// a 60-bit and a 50-bit prime p = 1 mod 2N (the largest below 2^60 or 2^50),
// on every instruction-set path side by side.

#include "BenchPaths.hpp"
#include "arith/NTT.hpp"
#include "arith/NumberTheoryUtils.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace Quelt;
using u64 = std::uint64_t;

namespace {

const NTT &transformFor(unsigned log_n, unsigned bits) {
    static std::map<std::pair<unsigned, unsigned>, std::unique_ptr<NTT>> cache;
    auto &slot = cache[{log_n, bits}];
    if (!slot) {
        const u64 N = u64{1} << log_n;
        const u64 p = utils::seekPrimes(u64{1} << bits, 2 * N, 1, true)[0];
        slot = std::make_unique<NTT>(N, p, NttType::NEGACYCLIC);
    }
    return *slot;
}

std::vector<u64> randomLimb(const NTT &ntt) {
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<u64> dist(0, ntt.getPrime() - 1);
    std::vector<u64> a(ntt.getDegree());
    for (auto &x : a)
        x = dist(rng);
    return a;
}

template <bool Forward>
void benchTransform(benchmark::State &state, unsigned log_n, unsigned bits) {
    const NTT &ntt = transformFor(log_n, bits);
    std::vector<u64> a = randomLimb(ntt);
    for (auto _ : state) {
        if constexpr (Forward)
            ntt.computeForward<1>(a.data());
        else
            ntt.computeBackward<1>(a.data());
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
}

const bool kRegistered = [] {
    for (unsigned bits : {60u, 50u})
        for (unsigned log_n : {12u, 16u}) {
            const std::string shape =
                "/logN:" + std::to_string(log_n) + "/bits:" + std::to_string(bits);
            bench::registerForEachPath("NTT/Forward" + shape, [=](benchmark::State &state) {
                benchTransform<true>(state, log_n, bits);
            });
            bench::registerForEachPath("NTT/Backward" + shape, [=](benchmark::State &state) {
                benchTransform<false>(state, log_n, bits);
            });
        }
    return true;
}();

} // namespace
