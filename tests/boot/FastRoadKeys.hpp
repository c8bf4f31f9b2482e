#pragma once

// Keys of the fast removeI road on FGfL7 for the slow tests and the
// benchmark (no test framework needed).

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
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace Quelt::test {

// The secrets of the road: the main secret s (ternary with 32 non-zeros,
// the weight of FGfL7's sparse companions: with the preset's own weight 192
// the integer parts after the raise reach about 4.3 standard deviations of
// sqrt(192 / 12) = 4, beyond the reduction's range K = 11.6), s(Y^2)
// in the embedding ring, an embedding-ring secret s' with s'(Y^-1) = s'(Y)
// (so that the conjugate needs no key), and the first half of s' as the
// secret of the conjugate-invariant ring.
struct FastRoadKeys {
    using u64 = std::uint64_t;
    using Ciphertext = HomEvaluator::Ciphertext;
    using RingSecretKey = SecretKeyBase<EncryptionType::RLWE>;

    explicit FastRoadKeys(u64 log_slots)
        : ctx(makeContext(ParameterPreset::FGfL7)),
          embed(makeContext(ParameterPreset::FGfL7, "FGfL7embed", 1, false, true)),
          real(makeContext(ParameterPreset::FGfL7, "FGfL7real", 1, true, false)),
          s(ternary(getDegree(ctx), 32)), s_prime(conjugateInvariant(2 * getDegree(ctx), 192)),
          secret_key(ctx, s.data()), pack(ctx), real_key(real, s_prime.data()), real_pack(real),
          key(embed), key_back(embed) {
        const KeyGenerator generator(ctx, secret_key, pack);
        generator.genEncKey();
        generator.genMultKey();
        generator.genConjKey();
        generator.genRotKeysForBootstrap(log_slots, false);
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

    Ciphertext exhausted(const Message &m) const {
        Ciphertext ct(ctx, false, true);
        Encryptor(ctx).encrypt(m, pack, ct);
        eval->levelDown(ct, 3, ct);
        return ct;
    }
    Message decrypt(const Ciphertext &ct) const {
        Message out;
        Decryptor(ctx).decrypt(ct, secret_key, out);
        return out;
    }
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

    std::shared_ptr<ContextContent> ctx, embed, real;
    std::vector<int> s, s_prime;
    RingSecretKey secret_key;
    KeyPack pack;
    RingSecretKey real_key;
    KeyPack real_pack;
    std::unique_ptr<HomEvaluator> eval, real_eval;
    RingSwitchKey key, key_back;
    std::unique_ptr<Interpolator> interp;
};

} // namespace Quelt::test
