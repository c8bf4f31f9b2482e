// Polynomial evaluation on FGb (degree 2^16, 25 base and quantize primes, 5
// temporary primes), single thread, top level: degree 63 (64 random complex
// coefficients) with 8 baby steps, so 8 blocks joined over three giant
// powers, six levels. The slot values do not change the arithmetic, so the
// input holds uniform residues. The multiplication key comes from the key
// generator.

#include "FgbRotationKey.hpp"
#include "Quelt/Ciphertext.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/PolynomialEvaluation.hpp"
#include "Quelt/SecretKey.hpp"

#include <benchmark/benchmark.h>

#include <complex>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

using u64 = std::uint64_t;
using Ciphertext = Quelt::CiphertextBase<Quelt::EncryptionType::RLWE>;

struct Setup {
    const std::shared_ptr<Quelt::ContextContent> &ctx = QueltBench::fgbContext();
    Quelt::KeyPack pack{ctx};
    std::unique_ptr<Quelt::HomEvaluator> eval;
    Ciphertext in = QueltBench::fgbTopLevelCiphertext(6);
    Ciphertext out{ctx, false, true};
    std::vector<std::complex<double>> coeffs;

    Setup() {
        const Quelt::SecretKeyBase<Quelt::EncryptionType::RLWE> sk(ctx);
        const Quelt::KeyGenerator generator(ctx, sk, pack);
        generator.genMultKey();
        eval = std::make_unique<Quelt::HomEvaluator>(ctx, pack);
        std::mt19937_64 rng(11);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        for (u64 i = 0; i < 64; ++i)
            coeffs.emplace_back(dist(rng), dist(rng));
        // One evaluation first, as in a loop of an application.
        Quelt::evaluatePolynomial(*eval, in, coeffs, out, 1.0, 8);
    }
};

Setup &setup() {
    static Setup s;
    return s;
}

void BM_EvaluatePolynomialDegree63FGb(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) {
        Quelt::evaluatePolynomial(*s.eval, s.in, s.coeffs, s.out, 1.0, 8);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EvaluatePolynomialDegree63FGb)->Unit(benchmark::kMillisecond);

} // namespace
