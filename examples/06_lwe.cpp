// Example 06: from a ring ciphertext to LWE ciphertexts and back.
//
// A ring ciphertext of degree N holding N real numbers in its coefficients
// (coefficient encoding) splits, without decryption, into N LWE ciphertexts:
// one per number, each decrypting under an LWE key made of the ring secret's
// coefficients. LWE ciphertexts support cheap linear arithmetic. N of them
// pack back into one ciphertext with a bundle of switching keys (modPack);
// here into a module ciphertext of degree 64 and rank 64 (64 keys).
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
    // (degree 64, rank 64) to pack into.
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

    // LWE arithmetic on the first 64: v_k + 3 v_(k+1) - 0.5, exact integer
    // multiples and constants (level 0 has no prime left to rescale by).
    const LWE::HomEvaluator lwe_eval(lwe);
    std::vector<LWE::Ciphertext> results(n, LWE::Ciphertext(lwe));
    std::vector<double> expected(n);
    for (u64 k = 0; k < n; ++k) {
        lwe_eval.multInteger(lwes[k + 1], 3, results[k]);
        lwe_eval.add(results[k], lwes[k], results[k]);
        lwe_eval.sub(results[k], 0.5, results[k]);
        expected[k] = values[k] + 3 * values[k + 1] - 0.5;
    }
    std::vector<double> lwe_got(n);
    for (u64 k = 0; k < n; ++k)
        lwe_decryptor.decrypt(results[k], lwe_key, lwe_got[k]);
    checks.expectClose("LWE arithmetic", example::maxError(lwe_got, expected), 1e-5);

    // Pack the 64 results into one module ciphertext: its coefficient k
    // decrypts to result k. The keys switch from the LWE key to a module key;
    // the key generator of the ring context makes them.
    const SecretKeyBase<EncryptionType::MLWE> module_key(module);
    const ModPackKeyBundle pack_keys = KeyGenerator(ring).genModPackKeyBundle(lwe_key, module_key);
    std::vector<const LWE::Ciphertext *> ins;
    for (const auto &c : results)
        ins.push_back(&c);
    CiphertextBase<EncryptionType::MLWE> repacked(module, false, false);
    RingPacker().modPack(ins, pack_keys, repacked);
    std::vector<double> repacked_got;
    Decryptor(module).decrypt(repacked, module_key, repacked_got);
    repacked_got.resize(n);
    std::printf("  %llu switching keys packed %llu LWE ciphertexts into one of degree %llu\n",
                static_cast<unsigned long long>(pack_keys.getNumKeys()),
                static_cast<unsigned long long>(n), static_cast<unsigned long long>(n));
    checks.expectClose("packed back into a module ciphertext",
                       example::maxError(repacked_got, expected), 1e-5);
    return checks.finish();
}
