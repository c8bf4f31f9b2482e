// Example 04: bootstrapping, the keys it needs and the depth left after it.
//
// Bootstrapping refreshes a ciphertext whose levels are used up: the result
// carries the same message (with about 20-25 bits of precision) at a higher
// level, so that more products can follow. It needs the multiplication key,
// the conjugation key and the rotation keys of its slot transforms; some
// presets take further roads with keys of their own:
//   - ordinary road (FX, FGb, FTb, ...): the keys above;
//   - sparse-secret road (FGd): the modulus raise runs on a sparse secret of
//     the companion context getSparseParameterPresetFor(preset): key pack,
//     key generator and bootstrapper take that context, and the pack holds
//     the sparse-secret encapsulation key;
//   - fused road (FGbSSE): the modulus raise is fused into the first slot
//     transform step, with fused rotation keys (of the sparse secret where
//     the preset also has the sparse-secret road);
//   - outsourced road (FGe): the middle of the bootstrap runs in the
//     companion context getOutsourcingParameterPresetFor(preset), with its
//     own keys of the same secret.
// Presets with the fast removeI road (FGf, FGfOL7, ...) also need
// Bootstrapper::enableFastRemoveI; include/Quelt/Bootstrapper.hpp lists its
// recipe, which this example leaves out.
//
// Run: 04_bootstrapping [preset]   (default FX: degree 64, seconds, NOT
// secure; FGb or FTb give real sizes: minutes and several GB of memory).
#include "ExampleCheck.hpp"

#include <Quelt/Quelt.hpp>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace Quelt;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using SecretKey = SecretKeyBase<EncryptionType::RLWE>;
using u64 = std::uint64_t;

namespace {

// Rotation keys of the minimal chains: fewer keys, a little more time.
constexpr bool kMinKey = true;

// Everything one context needs to bootstrap: its key set, evaluator and
// bootstrapper. `same_secret` writes another context's secret into this one
// (the two sides of the outsourced road share the secret).
struct BootSide {
    BootSide(ParameterPreset preset, const SecretKey *same_secret)
        : ctx(makeContext(preset)), sparse(isSparseSecretEncapsulationSupported(ctx)
                                               ? makeContext(getSparseParameterPresetFor(preset))
                                               : nullptr),
          secret_key(same_secret ? SecretKey(ctx, same_secret->getCoefficients()) : SecretKey(ctx)),
          pack(sparse ? KeyPack(ctx, sparse) : KeyPack(ctx)) {
        const auto start = std::chrono::steady_clock::now();
        const KeyGenerator keygen = sparse ? KeyGenerator(ctx, sparse, secret_key, pack)
                                           : KeyGenerator(ctx, secret_key, pack);
        keygen.genEncKey();
        keygen.genMultKey();
        keygen.genConjKey();
        keygen.genRotKeysForBootstrap(getLogFullSlots(ctx), kMinKey);
        // The amounts genRotKeysForBootstrap covers (an outsourcing companion
        // leaves the SlotToCoeff ones out).
        const u64 rotation_keys =
            getRotIndicesForBootstrap(ctx, getLogFullSlots(ctx), kMinKey, false).size();
        std::string extra;
        if (sparse && isFuseModRaiseSupported(ctx)) {
            keygen.genFuseRotKeyBundleWithSSE(); // encapsulation key + fused keys
            extra = ", the sparse-secret encapsulation key and fused rotation keys";
        } else if (sparse) {
            keygen.genSparseSecretEncapsulationKey();
            extra = ", the sparse-secret encapsulation key";
        } else if (isFuseModRaiseSupported(ctx)) {
            keygen.genFuseRotKeyBundle();
            extra = ", fused rotation keys";
        }
        eval = std::make_unique<HomEvaluator>(ctx, pack);
        boot = sparse ? std::make_unique<Bootstrapper>(*eval, sparse, kMinKey)
                      : std::make_unique<Bootstrapper>(*eval, kMinKey);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("  %s: encryption, multiplication and conjugation keys, rotation keys "
                    "for up to %llu amounts%s (%.1f s with the bootstrapper)\n",
                    getParameterName(ctx).c_str(), static_cast<unsigned long long>(rotation_keys),
                    extra.c_str(), seconds);
    }

    std::shared_ptr<ContextContent> ctx, sparse;
    SecretKey secret_key;
    KeyPack pack;
    std::unique_ptr<HomEvaluator> eval;
    std::unique_ptr<Bootstrapper> boot;
};

// The presets this example knows by name (bootstrappable, without the fast
// removeI road).
const std::map<std::string, ParameterPreset> kPresets{
    {"FX", ParameterPreset::FX},   {"FGa", ParameterPreset::FGa},
    {"FGb", ParameterPreset::FGb}, {"FGd", ParameterPreset::FGd},
    {"FGe", ParameterPreset::FGe}, {"FGbSSE", ParameterPreset::FGbSSE},
    {"FGh", ParameterPreset::FGh}, {"FTa", ParameterPreset::FTa},
    {"FTb", ParameterPreset::FTb}, {"FVa", ParameterPreset::FVa}};

} // namespace

int main(int argc, char **argv) {
    const std::string name = argc > 1 ? argv[1] : "FX";
    const auto found = kPresets.find(name);
    if (found == kPresets.end()) {
        std::fprintf(stderr, "usage: %s [preset]; presets:", argv[0]);
        for (const auto &entry : kPresets)
            std::fprintf(stderr, " %s", entry.first.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    example::Checks checks;
    const ParameterPreset preset = found->second;

    std::printf("Key sets:\n");
    const BootSide side(preset, nullptr);
    const auto &ctx = side.ctx;
    std::unique_ptr<BootSide> inner;
    if (isOutsourcedBootstrapSupported(ctx)) {
        // The outsourced road: the inner bootstrapper of the companion
        // context, with the same secret, runs the middle of every bootstrap.
        inner =
            std::make_unique<BootSide>(getOutsourcingParameterPresetFor(preset), &side.secret_key);
        side.boot->enableOutsourcing(*inner->boot);
    }
    const Bootstrapper &boot = *side.boot;
    const HomEvaluator &eval = *side.eval;

    // Full slots, values in the unit disk.
    const u64 log_slots = getLogFullSlots(ctx);
    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> unit(-0.7, 0.7);
    Message m(log_slots);
    for (auto &slot : m)
        slot = {unit(rng), unit(rng)};

    // A ciphertext with its levels used up: encrypted, then brought down to
    // the lowest level a bootstrap accepts.
    Ciphertext ct(ctx, false, true);
    Encryptor(ctx).encrypt(m, side.pack, ct);
    eval.levelDown(ct, boot.getMinLevelForBootstrap(), ct);

    const auto start = std::chrono::steady_clock::now();
    Ciphertext fresh(ctx, false, true);
    boot.bootstrap(ct, fresh, true); // complex slots; false keeps real parts only
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    Message got;
    Decryptor(ctx).decrypt(fresh, side.secret_key, got);
    const double error = example::maxError(got, m);
    std::printf("\n%s: degree %llu, %llu slots; bootstrap of a level-%llu ciphertext "
                "took %.2f s\n",
                name.c_str(), static_cast<unsigned long long>(getDegree(ctx)),
                static_cast<unsigned long long>(m.getSize()),
                static_cast<unsigned long long>(ct.getLevel()), seconds);
    std::printf("  level after: %llu (encryption level %llu); depth left before the next "
                "bootstrap: %llu rescaled products\n",
                static_cast<unsigned long long>(fresh.getLevel()),
                static_cast<unsigned long long>(getEncryptionLevel(ctx)),
                static_cast<unsigned long long>(fresh.getLevel() - boot.getMinLevelForBootstrap()));
    std::printf("  precision: %.1f bits (worst slot)\n", -std::log2(error));
    checks.expectClose("bootstrapped message", error, std::pow(2.0, -15));

    // Spend the depth: square until the bootstrap's lowest level.
    Message want = m;
    while (fresh.getLevel() > boot.getMinLevelForBootstrap()) {
        eval.square(fresh, fresh);
        eval.mult(want, want, want);
    }
    Decryptor(ctx).decrypt(fresh, side.secret_key, got);
    checks.expectClose("squarings after the bootstrap", example::maxError(got, want), 1e-3);
    return checks.finish();
}
