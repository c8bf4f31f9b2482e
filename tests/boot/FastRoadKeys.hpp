#pragma once

// Keys of the fast removeI road for the slow tests and the benchmark, on a
// preset's own chain or outsourced to its companion (no test framework
// needed).

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingPacker.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/FusedBootKeys.hpp"
#include "boot/PresetBootKeys.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace Quelt::test {

// The secrets of the road: the main secret s (ternary, of a given weight),
// s(Y^2) in the embedding ring, an embedding-ring secret s' with s'(Y^-1) = s'(Y)
// (so that the conjugate needs no key), and the first half of s' as the
// secret of the conjugate-invariant ring.
struct FastRoadKeys {
    using Ciphertext = HomEvaluator::Ciphertext;
    using RingSecretKey = SecretKeyBase<EncryptionType::RLWE>;

    // The contexts of the road: the main one, its sparse-secret companion
    // (or null), the ring of twice the degree and the conjugate-invariant
    // ring.
    struct Contexts {
        std::shared_ptr<ContextContent> ctx, sparse, embed, real;
    };
    static Contexts presetContexts(ParameterPreset preset) {
        const auto ctx = makeContext(preset);
        return {ctx,
                isSparseSecretEncapsulationSupported(ctx)
                    ? makeContext(getSparseParameterPresetFor(preset))
                    : nullptr,
                makeContext(preset, "embed", 1, false, true),
                makeContext(preset, "real", 1, true, false)};
    }

    // The same keys on `preset` with a main secret of `weight` non-zeros. A
    // preset that switches to a sparse secret for the raise (FGf) also gets
    // its sparse-secret context and the encapsulation key (with the fused
    // rotation keys where it fuses the raise), and keeps the preset's own
    // weight.
    FastRoadKeys(ParameterPreset preset, u64 log_slots, u64 weight)
        : FastRoadKeys(presetContexts(preset), log_slots, weight, 192) {}

    // The same over given contexts; the conjugate-invariant secret has
    // `real_weight` non-zeros.
    // `secret`, when given, holds the main secret's coefficients (the two
    // sides of an outsourced bootstrap share one secret).
    FastRoadKeys(const Contexts &contexts, u64 log_slots, u64 weight, u64 real_weight,
                 const std::vector<int> *secret = nullptr)
        : ctx(contexts.ctx), sparse(contexts.sparse), embed(contexts.embed), real(contexts.real),
          s(secret ? *secret : ternary(getDegree(ctx), weight)),
          s_prime(conjugateInvariant(2 * getDegree(ctx), real_weight)), secret_key(ctx, s.data()),
          pack(sparse ? KeyPack(ctx, sparse) : KeyPack(ctx)), real_key(real, s_prime.data()),
          real_pack(real), key(embed), key_back(embed) {
        const KeyGenerator generator = sparse ? KeyGenerator(ctx, sparse, secret_key, pack)
                                              : KeyGenerator(ctx, secret_key, pack);
        generator.genEncKey();
        generator.genMultKey();
        generator.genConjKey();
        if (isFuseModRaiseSupported(ctx)) {
            genFusedBootstrapRotKeys(generator, ctx, false, sparse != nullptr);
        } else {
            generator.genRotKeysForBootstrap(log_slots, false);
            if (sparse)
                generator.genSparseSecretEncapsulationKey();
        }
        eval = std::make_unique<HomEvaluator>(ctx, pack);

        KeyGenerator(real, real_key, real_pack).genMultKey();
        real_eval = std::make_unique<HomEvaluator>(real, real_pack);

        std::vector<int> s_embedded(2 * getDegree(ctx), 0);
        for (u64 j = 0; j < getDegree(ctx); ++j)
            s_embedded[2 * j] = s[j];
        const RingSecretKey from(embed, s_embedded.data());
        const RingSecretKey to(embed, s_prime.data());
        const KeyGenerator embed_generator(embed);
        key = embed_generator.genSwitchKey(from, to);
        key_back = embed_generator.genSwitchKey(to, from);
        interp = std::make_unique<Interpolator>(*real_eval);
    }

    // A bootstrapper over the keys (with the sparse context where there is
    // one) with the fast removeI road enabled.
    std::unique_ptr<Bootstrapper> bootstrapper() const {
        auto boot = sparse ? std::make_unique<Bootstrapper>(*eval, sparse, false)
                           : std::make_unique<Bootstrapper>(*eval, false);
        enableOn(*boot);
        return boot;
    }

    // The fast removeI road enabled on a Bootstrapper or its implementation.
    template <class Boot>
    void enableOn(Boot &boot) const {
        boot.enableFastRemoveI(embed, real, key, key_back, *interp);
    }

    // `weight` entries +-1 at random places, the rest 0.
    static std::vector<int> ternary(u64 n, u64 weight) {
        std::mt19937_64 rng(n + weight);
        std::vector<int> out(n, 0);
        for (u64 placed = 0; placed < weight;) {
            const u64 i = rng() % n;
            if (out[i] == 0) {
                out[i] = (rng() & 1) ? 1 : -1;
                ++placed;
            }
        }
        return out;
    }
    // c_(n - j) = -c_j for 0 < j < n/2, c_(n/2) = 0: invariant under
    // Y -> Y^-1 modulo Y^n + 1.
    static std::vector<int> conjugateInvariant(u64 n, u64 weight) {
        std::vector<int> out = ternary(n / 2, weight / 2);
        out.resize(n, 0);
        for (u64 j = 1; j < n / 2; ++j)
            out[n - j] = -out[j];
        return out;
    }

    Ciphertext exhausted(const Message &m) const { return encryptAtLevel(ctx, pack, *eval, m, 3); }
    Message decrypt(const Ciphertext &ct) const { return decryptWith(ctx, secret_key, ct); }
    // A conjugate-invariant ciphertext decrypted (b + a s' in NTT form),
    // moved into the embedding ring and decoded there: its N real values.
    Message decryptReal(const Ciphertext &ct) const {
        Polynomial p = ct.getPoly(0);
        real->getPrimeModuli().hadamardMultAndAdd(ct.getPoly(1), real_key.getSx(0), p);
        Plaintext r(real);
        r.setLevel(ct.getLevel());
        r.getMx() = p;
        Plaintext e(embed);
        e.setLevel(ct.getLevel());
        e.setLogSlots(getLogFullSlots(embed));
        e.setRescaleCounter(ct.getRescaleCounter());
        RingPacker().conversionToComplex(r, e);
        return EnDecoder(embed).decode(e);
    }

    std::shared_ptr<ContextContent> ctx, sparse, embed, real;
    std::vector<int> s, s_prime;
    RingSecretKey secret_key;
    KeyPack pack;
    RingSecretKey real_key;
    KeyPack real_pack;
    std::unique_ptr<HomEvaluator> eval, real_eval;
    RingSwitchKey key, key_back;
    std::unique_ptr<Interpolator> interp;
};

// A preset that bootstraps through its outsourcing companion (FGfL7 through
// FGfOL7): the keys of the preset's own chain for SlotToCoeff (the preset's
// own secret weight), the companion's fast removeI road over the same
// secret, and the outer bootstrapper with the inner one enabled.
struct OutsourcedFastRoad {
    explicit OutsourcedFastRoad(ParameterPreset preset)
        : outer(makeContext(preset), nullptr),
          secret(PresetBootKeys::coefficients(outer.secret_key)),
          inner(FastRoadKeys::presetContexts(getOutsourcingParameterPresetFor(preset)),
                getLogFullSlots(outer.ctx), 0, Parameter(preset).hamming_weight, &secret),
          boot(outer.bootstrapper()) {
        boot->enableOutsourcing(*inner.bootstrapper());
    }

    PresetBootKeys outer;
    std::vector<int> secret; // the outer secret's coefficients, shared by the inner keys
    FastRoadKeys inner;
    std::unique_ptr<Bootstrapper> boot;
};

} // namespace Quelt::test
