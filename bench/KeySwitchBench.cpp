// One hybrid key switch at the FGb shape (degree 2^16, 25 base and quantize
// primes, 5 temporary primes, gadget rank 5), single thread, full level:
// modUp of one polynomial in NTT form, the inner product of its 5 digits with
// a 5-digit key over the extended basis, and modDown of the two results back
// to NTT form. Each step is timed alone, then the three together.

#include "arith/FastBaseConv.hpp"
#include "arith/KeySwitchKernels.hpp"
#include "arith/Modulus.hpp"
#include "arith/PrimeLists.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

using namespace Quelt;
using u64 = std::uint64_t;

namespace {

constexpr u64 kDegree = u64{1} << 16;
constexpr u64 kLength = 25;
constexpr u64 kNumTP = 5;
constexpr u64 kGadgetRank = 5;
constexpr u64 kAll = kLength + kNumTP;

struct Setup {
    std::vector<Modulus> moduli;
    std::unique_ptr<FastBaseConv> conv;
    std::vector<u64> input;                  // L limbs, NTT form
    std::vector<std::vector<u64>> digits;    // D mod-up polynomials
    std::vector<std::vector<u64>> key_a;     // D key parts (mask), mod-up layout
    std::vector<std::vector<u64>> key_b;     // D key parts (body)
    std::vector<u64> out1, out2;             // inner-product results, mod-up layout
    std::vector<u64> down1, down2;           // modDown results

    Setup() {
        const auto &primes = getPresetPrimeList(3);  // FGb
        for (u64 i = 0; i < kAll; ++i)
            moduli.emplace_back(kDegree, primes[i], NttType::NEGACYCLIC);
        conv = std::make_unique<FastBaseConv>(moduli, kLength, kGadgetRank);
        std::mt19937_64 rng(1);
        input.resize(kLength * kDegree);
        for (u64 i = 0; i < kLength; ++i)
            for (u64 c = 0; c < kDegree; ++c)
                input[i * kDegree + c] = rng() % primes[i];
        const u64 D = conv->getNumDigits(kLength - 1);
        auto randomPoly = [&] {
            std::vector<u64> p(kAll * kDegree);
            for (u64 j = 0; j < kAll; ++j)
                for (u64 c = 0; c < kDegree; ++c)
                    p[j * kDegree + c] = rng() % primes[j];
            return p;
        };
        for (u64 d = 0; d < D; ++d) {
            digits.push_back(std::vector<u64>(kAll * kDegree));
            key_a.push_back(randomPoly());
            key_b.push_back(randomPoly());
        }
        out1.resize(kAll * kDegree);
        out2.resize(kAll * kDegree);
        down1.resize(kLength * kDegree);
        down2.resize(kLength * kDegree);
    }

    void modUp() {
        std::vector<u64 *> outs;
        for (auto &d : digits)
            outs.push_back(d.data());
        conv->modUpLimbs(input.data(), kLength - 1, true, outs.data());
    }

    void innerProduct() {
        const u64 D = digits.size();
        std::vector<const u64 *> a(D), b(D), c(D);
        for (u64 j = 0; j < kAll; ++j) {
            for (u64 d = 0; d < D; ++d) {
                a[d] = digits[d].data() + j * kDegree;
                b[d] = key_a[d].data() + j * kDegree;
                c[d] = key_b[d].data() + j * kDegree;
            }
            const auto fold = keyswitch_kernels::FoldConstants::of(moduli[j]);
            keyswitch_kernels::innerProductTwo(a.data(), b.data(), c.data(), D, 15, fold,
                                               out1.data() + j * kDegree,
                                               out2.data() + j * kDegree, kDegree);
        }
    }

    void modDown() {
        conv->modDownLimbs(out1.data(), kLength - 1, down1.data(), true);
        conv->modDownLimbs(out2.data(), kLength - 1, down2.data(), true);
    }
};

Setup &setup() {
    static Setup s;
    return s;
}

void BM_ModUp(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) {
        s.modUp();
        benchmark::ClobberMemory();
    }
}

void BM_InnerProduct(benchmark::State &state) {
    Setup &s = setup();
    s.modUp();
    for (auto _ : state) {
        s.innerProduct();
        benchmark::ClobberMemory();
    }
}

void BM_ModDownTwo(benchmark::State &state) {
    Setup &s = setup();
    s.modUp();
    s.innerProduct();
    for (auto _ : state) {
        s.modDown();
        benchmark::ClobberMemory();
    }
}

void BM_KeySwitch(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) {
        s.modUp();
        s.innerProduct();
        s.modDown();
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_ModUp)->Name("KeySwitch/FGb/modUp")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InnerProduct)->Name("KeySwitch/FGb/innerProduct")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModDownTwo)->Name("KeySwitch/FGb/modDownTwo")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeySwitch)->Name("KeySwitch/FGb/whole")->Unit(benchmark::kMillisecond);
