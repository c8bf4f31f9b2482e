// Products of ring ciphertexts at FGb (degree 2^16, 25 base and quantize
// primes, 5 temporary primes, gadget rank 5), single thread, top level:
// mult with relinearisation and rescale, and its parts (tensor,
// relinearize), square and multWithoutRescale; a slot rotation and a
// conjugation, each one key switch of the mask; eight rotations one by one,
// hoisted, and summed by rotSum. Outputs keep their storage
// from one iteration to the next, as in a loop of an application.

#include "FgbRotationKey.hpp"
#include "PeakMemory.hpp"
#include "Quelt/Ciphertext.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/ContextContent.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using u64 = std::uint64_t;
using Ciphertext = Quelt::CiphertextBase<Quelt::EncryptionType::RLWE>;

Ciphertext topLevelCiphertext(u64 seed) { return QueltBench::fgbTopLevelCiphertext(seed); }

struct Setup {
    const std::shared_ptr<Quelt::ContextContent> &ctx = QueltBench::fgbContext();
    Quelt::KeyPack pack{ctx};
    Quelt::HomEvaluator evaluator{ctx, pack};
    Ciphertext a = topLevelCiphertext(1), b = topLevelCiphertext(2);
    Ciphertext three{ctx, false, true}, out{ctx, false, true};

    Setup() {
        const Quelt::SecretKeyBase<Quelt::EncryptionType::RLWE> sk(ctx);
        const Quelt::KeyGenerator generator(ctx, sk, pack);
        generator.genMultKey();
        generator.genConjKey();
        for (u64 idx = 1; idx <= 8; ++idx)
            generator.genLeftRotKey(idx);
        evaluator.tensor(a, b, three);
        evaluator.mult(a, b, out);
        evaluator.leftRotate(a, 1, out);
    }
};

Setup &setup() {
    static Setup s;
    return s;
}

// Counters: the memory of the timed calls (QueltBench::MemoryWindow).
template <typename Step>
void run(benchmark::State &state, Step step) {
    Setup &s = setup();
    const QueltBench::MemoryWindow memory;
    for (auto _ : state) {
        step(s);
        benchmark::ClobberMemory();
    }
    memory.report(state);
}

void BM_LeftRotateFGb(benchmark::State &state) {
    run(state, [](Setup &s) { s.evaluator.leftRotate(s.a, 1, s.out); });
}
BENCHMARK(BM_LeftRotateFGb)->Unit(benchmark::kMillisecond);
void BM_ConjugateFGb(benchmark::State &state) {
    run(state, [](Setup &s) { s.evaluator.conjugate(s.a, s.out); });
}
BENCHMARK(BM_ConjugateFGb)->Unit(benchmark::kMillisecond);

const std::vector<u64> kEight = {1, 2, 3, 4, 5, 6, 7, 8};
void BM_EightRotationsFGb(benchmark::State &state) {
    run(state, [](Setup &s) {
        for (u64 idx : kEight)
            s.evaluator.leftRotate(s.a, idx, s.out);
    });
}
BENCHMARK(BM_EightRotationsFGb)->Unit(benchmark::kMillisecond);
void BM_EightHoistedRotationsFGb(benchmark::State &state) {
    std::vector<Ciphertext> outs;
    run(state, [&outs](Setup &s) { s.evaluator.leftRotate(s.a, kEight, outs); });
}
BENCHMARK(BM_EightHoistedRotationsFGb)->Unit(benchmark::kMillisecond);
void BM_RotSumOfEightFGb(benchmark::State &state) {
    const std::vector<Ciphertext> cts(8, setup().a);
    run(state, [&cts](Setup &s) { s.evaluator.rotSum(cts, kEight, s.out); });
}
BENCHMARK(BM_RotSumOfEightFGb)->Unit(benchmark::kMillisecond);

void BM_MultFGb(benchmark::State &state) {
    run(state, [](Setup &s) { s.evaluator.mult(s.a, s.b, s.out); });
}
void BM_SquareFGb(benchmark::State &state) {
    run(state, [](Setup &s) { s.evaluator.square(s.a, s.out); });
}
void BM_MultWithoutRescaleFGb(benchmark::State &state) {
    run(state, [](Setup &s) { s.evaluator.multWithoutRescale(s.a, s.b, s.out); });
}
void BM_TensorFGb(benchmark::State &state) {
    Ciphertext t = setup().three;
    run(state, [&t](Setup &s) { s.evaluator.tensor(s.a, s.b, t); });
}
void BM_RelinearizeFGb(benchmark::State &state) {
    run(state, [](Setup &s) { s.evaluator.relinearize(s.three, s.out); });
}

BENCHMARK(BM_MultFGb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SquareFGb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultWithoutRescaleFGb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TensorFGb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RelinearizeFGb)->Unit(benchmark::kMillisecond);

} // namespace
