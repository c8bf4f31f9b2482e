// Baby-step giant-step matrix products on FGb (degree 2^16, 2^15 slots, 25
// base and quantize primes, 5 temporary primes), single thread, top level:
// 32 diagonals with 8 baby steps (4 giant steps, stride 1), from plaintext
// diagonals (one hoisted rotation by 7 amounts, 4 inner products, one rotSum
// over 3 giant amounts, one rescale) and from message diagonals (the 32
// encodings and 7 single rotations included). The slot values do not change
// the arithmetic: the input holds uniform residues, the diagonals random
// messages. The keys come from the key generator. The first product runs in
// the set-up: the first call of a fresh process took about 0.7 s more than
// the later ones.

#include "FgbRotationKey.hpp"
#include "Quelt/BlockMatMul.hpp"
#include "Quelt/Ciphertext.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/SecretKey.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

using u64 = std::uint64_t;
using Ciphertext = Quelt::CiphertextBase<Quelt::EncryptionType::RLWE>;

constexpr u64 kDiagonals = 32;
constexpr u64 kBabySteps = 8;

struct Setup {
    const std::shared_ptr<Quelt::ContextContent> &ctx = QueltBench::fgbContext();
    Quelt::KeyPack pack{ctx};
    std::unique_ptr<Quelt::HomEvaluator> eval;
    Ciphertext in = QueltBench::fgbTopLevelCiphertext(5);
    Ciphertext out{ctx, false, true};
    std::vector<Quelt::Message> messages;
    std::vector<Quelt::Plaintext> diags;

    Setup() {
        const Quelt::SecretKeyBase<Quelt::EncryptionType::RLWE> sk(ctx);
        const Quelt::KeyGenerator generator(ctx, sk, pack);
        for (u64 idx = 1; idx < kBabySteps; ++idx)
            generator.genLeftRotKey(idx);
        for (u64 j = 1; j < kDiagonals / kBabySteps; ++j)
            generator.genLeftRotKey(j * kBabySteps);
        eval = std::make_unique<Quelt::HomEvaluator>(ctx, pack);

        std::mt19937_64 rng(7);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        const Quelt::EnDecoder encoder(ctx);
        for (u64 d = 0; d < kDiagonals; ++d) {
            Quelt::Message m(in.getLogSlots());
            for (auto &slot : m)
                slot = {dist(rng), dist(rng)};
            diags.push_back(encoder.encode(m, in.getLevel(), 0));
            messages.push_back(std::move(m));
        }
        // One product first, as in a loop of an application.
        Quelt::blockMatMul1DBSGS(*eval, in, diags, out, kBabySteps, kDiagonals, 1);
    }
};

Setup &setup() {
    static Setup s;
    return s;
}

void BM_BlockMatMul1DPlaintextFGb(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) {
        Quelt::blockMatMul1DBSGS(*s.eval, s.in, s.diags, s.out, kBabySteps, kDiagonals, 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BlockMatMul1DPlaintextFGb)->Unit(benchmark::kMillisecond);

void BM_BlockMatMul1DMessageFGb(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) {
        Quelt::blockMatMul1DBSGS(*s.eval, s.in, s.messages, s.out, kBabySteps, kDiagonals, 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BlockMatMul1DMessageFGb)->Unit(benchmark::kMillisecond);

} // namespace
