// Example 06: from a ring ciphertext to LWE ciphertexts and back.
//
// A ring ciphertext of degree N holding N real numbers in its coefficients
// (coefficient encoding) splits, without decryption, into N LWE ciphertexts:
// one per number, each decrypting under an LWE key made of the ring secret's
// coefficients. LWE ciphertexts support cheap linear arithmetic. They pack
// back into one ring ciphertext with bundles of switching keys (modPack),
// here through module ciphertexts of degree 64 and rank 64, which keeps the
// number of keys small (64 per step instead of N).
//
// A slot-encoded ciphertext becomes coefficient-encoded through the
// bootstrapper's homomorphic transform (Bootstrapper::slotToCoeff, with the
// keys of example 04); this example starts from coefficients.
#include "ExampleCheck.hpp"

#include <Quelt/Quelt.hpp>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

using namespace Quelt;
using u64 = std::uint64_t;

int main() {
    example::Checks checks;

    // The ring FGbD12L0 (degree 4096, one prime), the LWE context of
    // dimension 4096 on the same prime, and the module context FGbD6R6L0
    // (degree 64, rank 64) packing passes through.
    const auto ring = makeContext(ParameterPreset::FGbD12L0);
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::FGbD12L0);
    const auto module = makeContext(ParameterPreset::FGbD6R6L0);
    const u64 N = getDegree(ring), n = getDegree(module);

    // 4096 real numbers in the coefficients, encrypted with the secret key.
    const SecretKeyBase<EncryptionType::RLWE> ring_key(ring);
    std::mt19937_64 rng(6);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> values(N);
    for (double &v : values)
        v = unit(rng);
    CiphertextBase<EncryptionType::RLWE> packed(ring, false, false);
    Encryptor(ring).encrypt(values, ring_key, packed);

    // Unpack: N LWE ciphertexts, and the LWE key they decrypt under.
    std::vector<LWE::Ciphertext> lwes(N, LWE::Ciphertext(lwe));
    std::vector<LWE::Ciphertext *> outs;
    for (auto &c : lwes)
        outs.push_back(&c);
    RingPacker().unPack(packed, outs);
    const LWE::SecretKey lwe_key = genLWESecretKeyAfterUnPack(lwe, ring_key);

    const LWE::Decryptor lwe_decryptor(lwe);
    std::vector<double> got(N), want(values);
    for (u64 k = 0; k < N; ++k)
        lwe_decryptor.decrypt(lwes[k], lwe_key, got[k]);
    checks.expectClose("every coefficient as its own LWE ciphertext", example::maxError(got, want),
                       1e-6);

    // LWE arithmetic on each: r_k = v_k + 3 v_(k+1) - 0.5 (indices modulo N),
    // with exact integer multiples and constants (level 0 has no prime left
    // to rescale by).
    const LWE::HomEvaluator lwe_eval(lwe);
    std::vector<LWE::Ciphertext> results(N, LWE::Ciphertext(lwe));
    std::vector<double> expected(N);
    for (u64 k = 0; k < N; ++k) {
        lwe_eval.multInteger(lwes[(k + 1) % N], 3, results[k]);
        lwe_eval.add(results[k], lwes[k], results[k]);
        lwe_eval.sub(results[k], 0.5, results[k]);
        expected[k] = values[k] + 3 * values[(k + 1) % N] - 0.5;
    }
    for (u64 k = 0; k < N; ++k)
        lwe_decryptor.decrypt(results[k], lwe_key, got[k]);
    checks.expectClose("LWE arithmetic", example::maxError(got, expected), 1e-5);

    // Packing back, in two steps with keys the ring's key generator makes.
    // First 64 LWE ciphertexts at a time into module ciphertexts (degree 64,
    // rank 64): module ciphertext i takes the results i, i + 64, i + 128, ...
    // as its coefficients 0, 1, 2, ... (64 keys, from the LWE key to a
    // module key).
    const KeyGenerator keygen(ring);
    const SecretKeyBase<EncryptionType::MLWE> module_key(module);
    const ModPackKeyBundle to_module = keygen.genModPackKeyBundle(lwe_key, module_key);
    const u64 groups = N / n;
    std::vector<CiphertextBase<EncryptionType::MLWE>> modules(
        groups, CiphertextBase<EncryptionType::MLWE>(module, false, false));
    for (u64 i = 0; i < groups; ++i) {
        std::vector<const LWE::Ciphertext *> ins;
        for (u64 t = 0; t < n; ++t)
            ins.push_back(&results[i + t * groups]);
        RingPacker().modPack(ins, to_module, modules[i]);
    }
    // Then the 64 module ciphertexts into one ring ciphertext under the
    // original ring key (64 keys): module ciphertext i fills the ring
    // coefficients i, i + 64, ..., so coefficient k holds result k again.
    const ModPackKeyBundle to_ring = keygen.genModPackKeyBundle(module_key, ring_key);
    std::vector<const CiphertextBase<EncryptionType::MLWE> *> module_ptrs;
    for (const auto &c : modules)
        module_ptrs.push_back(&c);
    CiphertextBase<EncryptionType::RLWE> repacked(ring, false, false);
    RingPacker().modPack(module_ptrs, to_ring, repacked);
    std::vector<double> repacked_got;
    Decryptor(ring).decrypt(repacked, ring_key, repacked_got);
    std::printf("  %llu + %llu switching keys packed %llu LWE ciphertexts back into the ring\n",
                static_cast<unsigned long long>(to_module.getNumKeys()),
                static_cast<unsigned long long>(to_ring.getNumKeys()),
                static_cast<unsigned long long>(N));
    checks.expectClose("packed back into the ring", example::maxError(repacked_got, expected),
                       1e-5);
    return checks.finish();
}
