// The modular reduction of bootstrapping on FGb (degree 2^16, 25 base and
// quantize primes, 5 temporary primes), single thread: removeI on a
// ciphertext at the top level 24 (cosine of 32 coefficients, m = 3, six
// levels; three double-angle steps; arcsine degree 1), and the cosine alone.
// The slot values do not change the arithmetic, so the input holds uniform
// residues. The multiplication key comes from the key generator.

#include "FgbRotationKey.hpp"
#include "Quelt/Ciphertext.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "boot/BootParameter.hpp"
#include "boot/ModularReduction.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

using u64 = std::uint64_t;
using Ciphertext = Quelt::CiphertextBase<Quelt::EncryptionType::RLWE>;

struct Setup {
    const std::shared_ptr<Quelt::ContextContent> &ctx = QueltBench::fgbContext();
    Quelt::KeyPack pack{ctx};
    std::unique_ptr<Quelt::HomEvaluatorImpl> eval;
    Quelt::BootParameter param{ctx};
    Ciphertext in = QueltBench::fgbTopLevelCiphertext(3);
    Ciphertext out{ctx, false, true};

    Setup() {
        const Quelt::SecretKeyBase<Quelt::EncryptionType::RLWE> sk(ctx);
        const Quelt::KeyGenerator generator(ctx, sk, pack);
        generator.genMultKey();
        eval = std::make_unique<Quelt::HomEvaluatorImpl>(ctx, pack);
    }

    Quelt::ModReductionEnv env() const {
        return {*eval, ctx, param, Quelt::ModReductionOptions::fromContext(ctx, true)};
    }
};

Setup &setup() {
    static Setup s;
    return s;
}

void BM_RemoveIFGbTopLevel(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) {
        Quelt::removeI(s.env(), s.in, s.out, 1.0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RemoveIFGbTopLevel)->Unit(benchmark::kMillisecond);

void BM_CosineFGbTopLevel(benchmark::State &state) {
    Setup &s = setup();
    for (auto _ : state) {
        Quelt::evaluateCosinePolynomial(*s.eval, s.param.cosine_coeffs, s.param.cosine_log_blocks,
                                        1.0, s.in, s.out);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CosineFGbTopLevel)->Unit(benchmark::kMillisecond);

} // namespace
