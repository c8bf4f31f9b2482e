// Example 07: multi-secret ciphertexts and bootstrapping several ciphertexts
// at once.
//
// A multi-secret (MSRLWE) ciphertext holds one body per secret and a single
// shared mask: k messages under k secrets in one ciphertext. Key switching
// moves between the two forms:
//   - SStoMS / SStoMSBisection pack single-secret ciphertexts (all under one
//     secret) into one multi-secret ciphertext, input i as body i;
//   - MStoSS splits a multi-secret ciphertext back into one single-secret
//     ciphertext per body.
// The switching keys come from one bundle, genMultiSecretSwitchKeyBundle.
//
// Bootstrapping a multi-secret ciphertext (bootstrapMStoSS) runs the slot
// transforms once for all k bodies and returns k refreshed single-secret
// ciphertexts: the same work as one ordinary bootstrap, for k ciphertexts.
// Packing a batch first and then bootstrapping it is the batch bootstrap.
// Bootstrapper::batchBootstrap does both steps in one call, but only on the
// presets marked "batch" in docs/presets.md (degree 2^15 and 2^16: minutes
// and several GB); FX is not one of them, so this example packs and
// bootstraps in two calls, which works on every bootstrappable preset.
//
// Run: 07_multi_secret   (FX: degree 64, well under a second, NOT secure).
#include "ExampleCheck.hpp"

#include <Quelt/Quelt.hpp>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace Quelt;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using SecretKey = SecretKeyBase<EncryptionType::RLWE>;
using MsSecretKey = SecretKeyBase<EncryptionType::MSRLWE>;
using u64 = std::uint64_t;

int main() {
    example::Checks checks;
    constexpr u64 kSecrets = 4;

    // The single-secret side: FX, its secret, an evaluator with the
    // multiplication and conjugation keys, and the Interpolator that reduces
    // every bootstrapped result.
    const auto ctx = makeContext(ParameterPreset::FX);
    const SecretKey sk(ctx);
    KeyPack pack(ctx);
    {
        const KeyGenerator keygen(ctx, sk, pack);
        keygen.genMultKey();
        keygen.genConjKey();
    }
    const HomEvaluator eval(ctx, pack);
    const Interpolator interp(eval);

    // The multi-secret side: copies of FX with 2 and 4 secrets (same primes),
    // a key for each. The bootstrapper works on the last one and needs its
    // conjugation and rotation keys.
    const std::vector<std::shared_ptr<ContextContent>> ms_ctx =
        genMultiSecretContextVector(ctx, 2, "Example");
    const std::vector<MsSecretKey> ms_sk{MsSecretKey(ms_ctx[0]), MsSecretKey(ms_ctx[1])};
    const auto &ctx4 = ms_ctx[1];
    KeyPack pack4(ctx4);
    {
        const KeyGenerator keygen(ctx4, ms_sk[1], pack4);
        keygen.genConjKey();
        keygen.genRotKeyBundle();
        keygen.genRotKeysForBootstrap(getLogFullSlots(ctx4), false);
    }
    const HomEvaluator eval4(ctx4, pack4);
    const Bootstrapper boot4(eval4, false);

    // The switching keys between FX's secret and the multi-secret ones: the
    // packing keys of every doubling (2, then 4 secrets) and the splitting
    // keys of the last.
    const MultiSecretSwitchKeyBundle bundle =
        KeyGenerator(ctx).genMultiSecretSwitchKeyBundle(sk, ms_sk);

    // Four messages, one ciphertext each under FX's secret.
    const u64 log_slots = getLogFullSlots(ctx);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-0.7, 0.7);
    std::vector<Message> m;
    std::vector<Ciphertext> cts;
    for (u64 i = 0; i < kSecrets; ++i) {
        Message x(log_slots);
        for (auto &slot : x)
            slot = {unit(rng), unit(rng)};
        Ciphertext ct(ctx, false, true);
        Encryptor(ctx).encrypt(x, sk, ct, 3, 0); // level 3: depth used up
        m.push_back(x);
        cts.push_back(ct);
    }

    // Pack: pairs into 2 secrets, then the pairs into 4. Body i carries
    // message i under secret i.
    std::printf("Packing %llu ciphertexts into one of %llu secrets:\n",
                static_cast<unsigned long long>(kSecrets),
                static_cast<unsigned long long>(kSecrets));
    const MultiSecretConverter converter;
    MsCiphertext packed(ctx4, false, true);
    converter.SStoMSBisection(cts, bundle.getSStoMSBisectionKeyBundle(), packed);
    std::vector<Message> got;
    Decryptor(ctx4).decrypt(packed, ms_sk[1], got);
    double error = 0.0;
    for (u64 i = 0; i < kSecrets; ++i)
        error = std::max(error, example::maxError(got[i], m[i]));
    checks.expectClose("packed bodies", error, 1e-6);

    // Split back without bootstrapping: one ciphertext per body.
    std::vector<Ciphertext> split;
    converter.MStoSS(packed, bundle.getMStoSSKeyBundle(), ctx, split);
    error = 0.0;
    for (u64 i = 0; i < split.size(); ++i) {
        Message back;
        Decryptor(ctx).decrypt(split[i], sk, back);
        error = std::max(error, example::maxError(back, m[i]));
    }
    checks.expectTrue("one ciphertext per body", split.size() == kSecrets);
    checks.expectClose("split ciphertexts", error, 1e-6);

    // Bootstrap the packed ciphertext: four refreshed FX ciphertexts at the
    // encryption level from one run of the slot transforms.
    std::printf("\nBootstrapping the packed ciphertext:\n");
    std::vector<Ciphertext> fresh;
    boot4.bootstrapMStoSS(packed, bundle.getMStoSSKeyBundle(), interp, fresh);
    checks.expectTrue("one refreshed ciphertext per input", fresh.size() == kSecrets);
    error = 0.0;
    for (u64 i = 0; i < fresh.size(); ++i) {
        Message back;
        Decryptor(ctx).decrypt(fresh[i], sk, back);
        error = std::max(error, example::maxError(back, m[i]));
    }
    std::printf("  level after: %llu (from 3); precision %.1f bits (worst slot)\n",
                static_cast<unsigned long long>(fresh.empty() ? 0 : fresh[0].getLevel()),
                -std::log2(error));
    checks.expectClose("bootstrapped messages", error, std::pow(2.0, -15));

    // The refreshed ciphertexts are ordinary FX ciphertexts again: multiply
    // two of them.
    if (fresh.size() == kSecrets) {
        Ciphertext product(ctx, false, true);
        eval.mult(fresh[0], fresh[1], product);
        Message want(log_slots);
        eval.mult(m[0], m[1], want);
        Message back;
        Decryptor(ctx).decrypt(product, sk, back);
        checks.expectClose("product of two refreshed results", example::maxError(back, want), 1e-3);
    }
    return checks.finish();
}
