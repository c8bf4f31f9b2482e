#include "Quelt/Context.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/LWE/Encryptor.hpp"
#include "Quelt/Random.hpp"
#include "Quelt/RingPacker.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "conversion/RingSwitcher.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

using namespace Quelt;

namespace {

using u64 = std::uint64_t;

std::vector<double> values(u64 n) {
    std::vector<double> v(n);
    for (u64 i = 0; i < n; ++i)
        v[i] = static_cast<double>(i % 17) / 17.0 - 0.5;
    return v;
}

} // namespace

// One FGbD12L0 ciphertext into its 4096 LWE ciphertexts: the body split into
// constants, the mask copied out and turned into 4096 negacyclic masks.
static void BM_UnPackToLWE(benchmark::State &state) {
    setSeed({1, 2, 3, 4});
    const auto ring = makeContext(ParameterPreset::FGbD12L0);
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::FGbD12L0);
    const SecretKeyBase<EncryptionType::RLWE> sk(ring);
    CiphertextBase<EncryptionType::RLWE> ct(ring, false, false);
    Encryptor(ring).encrypt(values(4096), sk, ct);
    std::vector<LWE::Ciphertext> outs(4096, LWE::Ciphertext(lwe));
    std::vector<LWE::Ciphertext *> ptrs;
    for (auto &o : outs)
        ptrs.push_back(&o);
    const RingPacker packer;
    for (auto _ : state) {
        packer.unPack(ct, ptrs);
        benchmark::DoNotOptimize(outs.back().getBxData());
    }
}
BENCHMARK(BM_UnPackToLWE)->Unit(benchmark::kMillisecond);

// The transposition of 4096 LWE masks of dimension 4096 into 4096
// polynomials of degree 4096 (one prime).
static void BM_CombineBatch(benchmark::State &state) {
    const auto ring = makeContext(ParameterPreset::FGbD12L0);
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::FGbD12L0);
    std::vector<LevelledVector> masks(4096, LevelledVector(lwe));
    std::vector<const LevelledVector *> ins;
    for (u64 k = 0; k < masks.size(); ++k) {
        for (u64 t = 0; t < 4096; ++t)
            masks[k].getLimb(0)[t] = k * 4096 + t;
        ins.push_back(&masks[k]);
    }
    std::vector<Polynomial> polys(4096, Polynomial(ring, false, false));
    std::vector<Polynomial *> outs;
    for (auto &p : polys)
        outs.push_back(&p);
    const RingSwitcher switcher;
    for (auto _ : state) {
        switcher.combineBatch(ins, outs);
        benchmark::DoNotOptimize(polys.back().getLimb(0));
    }
}
BENCHMARK(BM_CombineBatch)->Unit(benchmark::kMillisecond);

// 64 FGbD12L0 LWE ciphertexts packed into one FGbD6R6L0 ciphertext (rank 64):
// the transposition, 64 groups of 64 masks combined and key-switched at
// degree 4096, one division by P.
static void BM_ModPackIntoFGbD6R6L0(benchmark::State &state) {
    setSeed({1, 2, 3, 4});
    const auto d12 = makeContext(ParameterPreset::FGbD12L0);
    const auto d6 = makeContext(ParameterPreset::FGbD6R6L0);
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::FGbD12L0);
    const LWE::SecretKey in_sk(lwe);
    const SecretKeyBase<EncryptionType::MLWE> out_sk(d6);
    const ModPackKeyBundle keys = KeyGenerator(d12).genModPackKeyBundle(in_sk, out_sk);
    const LWE::Encryptor enc(lwe);
    std::vector<LWE::Ciphertext> ins(64, LWE::Ciphertext(lwe));
    std::vector<const LWE::Ciphertext *> ptrs;
    for (u64 i = 0; i < ins.size(); ++i) {
        enc.encrypt(static_cast<double>(i) / 64.0, in_sk, ins[i]);
        ptrs.push_back(&ins[i]);
    }
    CiphertextBase<EncryptionType::MLWE> out(d6, false, false);
    const RingPacker packer;
    for (auto _ : state) {
        packer.modPack(ptrs, keys, out);
        benchmark::DoNotOptimize(out.getPolyData(0, 0));
    }
}
BENCHMARK(BM_ModPackIntoFGbD6R6L0)->Unit(benchmark::kMillisecond);
