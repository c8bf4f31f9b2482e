#include "Quelt/LWE/Ciphertext.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/LWE/Decryptor.hpp"
#include "Quelt/LWE/Encryptor.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "Quelt/Random.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>

using namespace Quelt;

namespace {

// Dimension 4096: FGbD12L0 (one prime, level 0) and FGbD12L1 at level 1 with
// counter 1 (two primes; decryption rescales once).
struct Setting {
    LWE::ParameterPreset preset;
    std::uint64_t level;
    int counter;
};

constexpr Setting kOnePrime{LWE::ParameterPreset::FGbD12L0, 0, 0};
constexpr Setting kTwoPrimes{LWE::ParameterPreset::FGbD12L1, 1, 1};

} // namespace

// One encryption: 4096 (or 8192) uniform residues, one Gaussian draw, the
// inner product with the secret.
static void BM_LWEEncrypt(benchmark::State &state, Setting s) {
    setSeed({1, 2, 3, 4});
    const auto ctx = LWE::makeContext(s.preset);
    const LWE::SecretKey sk(ctx);
    const LWE::Encryptor encryptor(ctx);
    LWE::Ciphertext ct(ctx);
    for (auto _ : state) {
        encryptor.encrypt(1.5, sk, ct, s.level, s.counter);
        benchmark::DoNotOptimize(ct.getBxData());
    }
}
BENCHMARK_CAPTURE(BM_LWEEncrypt, FGbD12L0, kOnePrime);
BENCHMARK_CAPTURE(BM_LWEEncrypt, FGbD12L1_counter1, kTwoPrimes);

// One decryption: the inner product, the rescales and the reconstruction.
static void BM_LWEDecrypt(benchmark::State &state, Setting s) {
    setSeed({1, 2, 3, 4});
    const auto ctx = LWE::makeContext(s.preset);
    const LWE::SecretKey sk(ctx);
    LWE::Ciphertext ct(ctx);
    LWE::Encryptor(ctx).encrypt(1.5, sk, ct, s.level, s.counter);
    const LWE::Decryptor decryptor(ctx);
    double out = 0;
    for (auto _ : state) {
        decryptor.decrypt(ct, sk, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK_CAPTURE(BM_LWEDecrypt, FGbD12L0, kOnePrime);
BENCHMARK_CAPTURE(BM_LWEDecrypt, FGbD12L1_counter1, kTwoPrimes);
