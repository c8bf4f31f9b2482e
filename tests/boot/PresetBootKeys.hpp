#pragma once

// The keys of a full-slot bootstrap on a preset's context (of any degree),
// for the precision tests: a secret key (or another key's coefficients, for
// the two sides of an outsourced bootstrap), the encryption, multiplication,
// conjugation and bootstrap rotation keys and, with a sparse-secret context,
// the encapsulation key (on a context that fuses the raise: the fused
// rotation keys, of the sparse secret where there is one). No test framework
// needed.

#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/SecretKey.hpp"
#include "boot/FusedBootKeys.hpp"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace Quelt::test {

// m encrypted with the pack's key, then levelled down to `level`.
inline HomEvaluator::Ciphertext encryptAtLevel(const std::shared_ptr<ContextContent> &ctx,
                                               const KeyPack &pack, const HomEvaluator &eval,
                                               const Message &m, std::uint64_t level) {
    HomEvaluator::Ciphertext ct(ctx, false, true);
    Encryptor(ctx).encrypt(m, pack, ct);
    eval.levelDown(ct, level, ct);
    return ct;
}

inline Message decryptWith(const std::shared_ptr<ContextContent> &ctx,
                           const SecretKeyBase<EncryptionType::RLWE> &key,
                           const HomEvaluator::Ciphertext &ct) {
    Message out;
    Decryptor(ctx).decrypt(ct, key, out);
    return out;
}

struct PresetBootKeys {
    using Ciphertext = HomEvaluator::Ciphertext;
    using RingSecretKey = SecretKeyBase<EncryptionType::RLWE>;

    PresetBootKeys(std::shared_ptr<ContextContent> context,
                   std::shared_ptr<ContextContent> sparse_context,
                   const RingSecretKey *same_secret = nullptr, bool min_key = false)
        : ctx(std::move(context)), sparse(std::move(sparse_context)),
          secret_key(same_secret ? RingSecretKey(ctx, coefficients(*same_secret).data())
                                 : RingSecretKey(ctx)),
          pack(sparse ? KeyPack(ctx, sparse) : KeyPack(ctx)), min_key_of_pack(min_key) {
        const auto made = sparse ? std::make_unique<KeyGenerator>(ctx, sparse, secret_key, pack)
                                 : std::make_unique<KeyGenerator>(ctx, secret_key, pack);
        made->genEncKey();
        made->genMultKey();
        made->genConjKey();
        if (isFuseModRaiseSupported(ctx)) {
            genFusedBootstrapRotKeys(*made, ctx, min_key, sparse != nullptr);
        } else {
            made->genRotKeysForBootstrap(getLogFullSlots(ctx), min_key);
            if (sparse)
                made->genSparseSecretEncapsulationKey();
        }
        eval = std::make_unique<HomEvaluator>(ctx, pack);
    }

    static std::vector<int> coefficients(const RingSecretKey &key) {
        const int *c = key.getCoefficients();
        return std::vector<int>(c, c + getDegree(key.getContext()));
    }

    std::unique_ptr<Bootstrapper> bootstrapper() const {
        return sparse ? std::make_unique<Bootstrapper>(*eval, sparse, min_key_of_pack)
                      : std::make_unique<Bootstrapper>(*eval, min_key_of_pack);
    }
    // m encrypted and levelled down to 3.
    Ciphertext exhausted(const Message &m) const { return encryptAtLevel(ctx, pack, *eval, m, 3); }
    Message decrypt(const Ciphertext &ct) const { return decryptWith(ctx, secret_key, ct); }

    std::shared_ptr<ContextContent> ctx, sparse;
    RingSecretKey secret_key;
    KeyPack pack;
    std::unique_ptr<HomEvaluator> eval;
    // The bootstrappers use the minimal rotation chains the keys were made for.
    bool min_key_of_pack = false;
};

} // namespace Quelt::test
