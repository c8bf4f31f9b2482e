// Element-wise kernels of one modulus over one limb, at N = 2^12 and 2^16 with
// a 60-bit and a 50-bit prime, on every instruction-set path side by side.
// "mulThenAdd" is the unfused a * b + c (mulVector, then addVector) beside
// the fused mulAddVector.

#include "BenchPaths.hpp"
#include "arith/Modulus.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace Quelt;

namespace {

constexpr u64 kPrime60 = 1152921504606844417ULL; // 60 bits
constexpr u64 kPrime50 = 1125899906826241ULL;    // 50 bits

struct Limbs {
    Modulus modulus;
    std::vector<u64> a, b, c, out;
    Limbs(u64 n, u64 p) : modulus(n, p, NttType::NONE), a(n), b(n), c(n), out(n) {
        std::mt19937_64 rng(1);
        std::uniform_int_distribution<u64> draw(0, p - 1);
        for (u64 i = 0; i < n; ++i) {
            a[i] = draw(rng);
            b[i] = draw(rng);
            c[i] = draw(rng);
            out[i] = draw(rng);
        }
    }
};

using Kernel = std::function<void(Limbs &, u64 n)>;

void run(benchmark::State &state, const Kernel &kernel, u64 n, u64 p) {
    Limbs l(n, p);
    for (auto _ : state) {
        kernel(l, n);
        benchmark::DoNotOptimize(l.out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

const bool kRegistered = [] {
    const std::vector<std::pair<std::string, Kernel>> kernels = {
        {"addVector",
         [](Limbs &l, u64 n) { l.modulus.addVector(l.out.data(), l.a.data(), l.b.data(), n); }},
        {"mulVector",
         [](Limbs &l, u64 n) { l.modulus.mulVector(l.out.data(), l.a.data(), l.b.data(), n); }},
        {"constMult1",
         [](Limbs &l, u64 n) { l.modulus.constMult<1>(l.a.data(), l.c[0], l.out.data(), n); }},
        {"mulAddVector",
         [](Limbs &l, u64) { l.modulus.mulAddVector(l.out.data(), l.a.data(), l.b.data()); }},
        {"mulThenAdd",
         [](Limbs &l, u64 n) {
             l.modulus.mulVector(l.c.data(), l.a.data(), l.b.data(), n);
             l.modulus.addVector(l.out.data(), l.out.data(), l.c.data(), n);
         }},
        {"tensorVector",
         [](Limbs &l, u64) {
             l.modulus.tensorVector(l.out.data(), l.c.data(), l.b.data(), l.a.data(), l.b.data(),
                                    l.c.data(), l.out.data());
         }},
        {"innerProduct",
         [](Limbs &l, u64 n) { l.modulus.innerProduct(l.a.data(), l.b.data(), l.out.data(), n); }},
    };
    for (const auto &[name, kernel] : kernels)
        for (u64 p : {kPrime60, kPrime50})
            for (unsigned log_n : {12u, 16u}) {
                const u64 n = u64{1} << log_n;
                bench::registerForEachPath(
                    "Modulus/" + name + "/logN:" + std::to_string(log_n) +
                        "/bits:" + (p == kPrime60 ? "60" : "50"),
                    [kernel, n, p](benchmark::State &state) { run(state, kernel, n, p); });
            }
    return true;
}();

} // namespace
