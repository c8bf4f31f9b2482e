#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Device.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingSwitchKey.hpp"

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace Quelt {

class ContextContent;
class HomEvaluatorImpl;
class Interpolator;

// The state and the ring mechanics of the fast removeI road of a
// bootstrapper over `context` (a context with isReRemoveI). The complex
// bootstrap reduces in the conjugate-invariant ring: the CoeffToSlot result is
// embedded into the ring of twice the degree (its N/2 slots then appear twice
// among the N slots there), switched to that ring's secret, multiplied by
// mask 0 (1 on the first N/2 slots, -i on the second) and added to its
// key-free conjugate, which leaves [2 Re z, 2 Im z] as N real slots. These
// move into the conjugate-invariant ring, where the Interpolator reduces
// them; the way back multiplies by mask 1 (1 and +i) and halves the degree,
// which adds the two halves into z.
//
// Empty until an enable operation runs. Nothing here takes a lock: enabling
// must not run while another thread bootstraps.
class FastRemoveIRoad {
public:
    static constexpr const char *kFastRemoveINotEnabledMessage =
        "[Bootstrapper] The fast removeI road needs its contexts, keys and interpolator: call "
        "enableFastRemoveI first";

    explicit FastRemoveIRoad(std::shared_ptr<ContextContent> context);

    // Stores, replacing earlier values: the conjugate-invariant context, the
    // two ring-switch keys (into the embedding ring's secret and back), a
    // copy of the interpolator and a new evaluator over ctx_embed; then the
    // masks for ctx_embed unless masks were made before. The masks are
    // encoded before anything is stored, so a failure changes nothing.
    void enable(const std::shared_ptr<ContextContent> &ctx_embed,
                const std::shared_ptr<ContextContent> &ctx_conj_inv, const RingSwitchKey &key,
                const RingSwitchKey &key_back, const Interpolator &interp);
    // The same, plus a new evaluator over ctx_complex (made first).
    void enableMultiSecret(const std::shared_ptr<ContextContent> &ctx_embed,
                           const std::shared_ptr<ContextContent> &ctx_complex,
                           const std::shared_ptr<ContextContent> &ctx_conj_inv,
                           const RingSwitchKey &key, const RingSwitchKey &key_back,
                           const Interpolator &interp);
    // The two masks of a bootstrapper over `context`, encoded for ctx_embed:
    // {1 ... 1, -i ... -i} at context's remove-I begin level and
    // {1 ... 1, +i ... +i} at its end level, over ctx_embed's full slots in
    // halves of equal size.
    static std::vector<Plaintext>
    encodePlaintextMasks(const std::shared_ptr<ContextContent> &context,
                         const std::shared_ptr<ContextContent> &ctx_embed);

    // Throws kFastRemoveINotEnabledMessage unless an enable operation ran.
    void require() const;
    // What the multi-secret road reads (it reduces with the caller's
    // Interpolator): the embedding evaluator, both keys, the
    // conjugate-invariant context and the two masks.
    bool hasMultiSecretState() const;

    // The shared middle of both fast roads (RLWE and MSRLWE): the rescaled
    // CoeffToSlot result t embedded into the ring of twice the degree,
    // switched to that ring's secret, times mask 0 (the mask list of t's
    // device: std::out_of_range "map::at" for a device without masks), plus
    // its key-free conjugate, and moved into the conjugate-invariant ring as
    // the real slots [2 Re z, 2 Im z].
    template <EncryptionType ET>
    CiphertextBase<ET> embedMaskedRealParts(const CiphertextBase<ET> &t) const;
    // A conjugate-invariant ciphertext r of [Re m, Im m] back to m in out's
    // context: into the embedding ring, times mask 1 (the mask list of r's
    // device), switched back with the second key, and halved in degree by
    // `evaluator` (of the embedding context). Refuses an empty road first.
    void convertConjugateInvariantCiphertextToComplex(const CiphertextBase<EncryptionType::RLWE> &r,
                                                      CiphertextBase<EncryptionType::RLWE> &out,
                                                      const HomEvaluatorImpl &evaluator) const;

    const std::shared_ptr<ContextContent> &getConjInvContext() const { return conj_inv_context_; }
    const std::shared_ptr<HomEvaluatorImpl> &getEmbedEvaluator() const { return embed_evaluator_; }
    const std::shared_ptr<HomEvaluatorImpl> &getComplexEvaluator() const {
        return complex_evaluator_;
    }
    const std::shared_ptr<Interpolator> &getInterpolator() const { return interpolator_; }
    const std::vector<Plaintext> &getMasks() const { return masks_; }
    const std::map<Device, std::vector<Plaintext>> &getMasksByDevice() const {
        return masks_by_device_;
    }

private:
    std::shared_ptr<ContextContent> context_;
    std::shared_ptr<ContextContent> conj_inv_context_;
    std::optional<RingSwitchKey> ring_switch_key_;
    std::shared_ptr<RingSwitchKey> ring_switch_key_back_;
    std::shared_ptr<Interpolator> interpolator_;
    std::shared_ptr<HomEvaluatorImpl> embed_evaluator_;
    std::shared_ptr<HomEvaluatorImpl> complex_evaluator_;
    // The mask plaintexts, and their copies per device.
    std::vector<Plaintext> masks_;
    std::map<Device, std::vector<Plaintext>> masks_by_device_;
};

} // namespace Quelt
