// The evaluator at FGb (degree 2^16, 25 base and quantize primes, 5 temporary
// primes), single thread: rescaling a two-polynomial ciphertext from the top
// level, both polynomials in one pass, against the two polynomials rescaled
// one after the other.

#include "FgbRotationKey.hpp"
#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

using u64 = std::uint64_t;
using Ciphertext = Quelt::CiphertextBase<Quelt::EncryptionType::RLWE>;

using QueltBench::fgbContext;

// Uniform residues at the top level in NTT form, rescale counter 1.
Ciphertext topLevelCiphertext() {
    Ciphertext ct = QueltBench::fgbTopLevelCiphertext(1);
    ct.setRescaleCounter(1);
    return ct;
}

// Times rescale(ct) on a fresh copy of the top-level ciphertext per
// iteration (the copy is not timed).
template <typename Rescale>
void timeRescale(benchmark::State &state, Rescale &&rescale) {
    const Ciphertext source = topLevelCiphertext();
    Ciphertext ct = source;
    for (auto _ : state) {
        state.PauseTiming();
        ct = source;
        state.ResumeTiming();
        rescale(ct);
        benchmark::ClobberMemory();
    }
}

void BM_EvaluatorRescaleTwoPolynomials(benchmark::State &state) {
    const Quelt::HomEvaluator evaluator(fgbContext());
    timeRescale(state, [&](Ciphertext &ct) { evaluator.rescale(ct); });
}
BENCHMARK(BM_EvaluatorRescaleTwoPolynomials)->Unit(benchmark::kMillisecond);

void BM_EvaluatorRescaleOneByOne(benchmark::State &state) {
    const Quelt::PrimeModuli &chain = fgbContext()->getPrimeModuli();
    timeRescale(state, [&](Ciphertext &ct) {
        chain.rescale(ct.getPoly(0));
        chain.rescale(ct.getPoly(1));
    });
}
BENCHMARK(BM_EvaluatorRescaleOneByOne)->Unit(benchmark::kMillisecond);

} // namespace
