// The fast removeI road's state: its enable operations, the two masks, the
// embedding of a CoeffToSlot result into the conjugate-invariant ring, and
// the conversion of a conjugate-invariant result back to complex form.

#include "boot/FastRemoveIRoad.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/RingPacker.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "conversion/RingSwitcher.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "keys/RingSwitchKeyAccess.hpp"

#include <complex>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
using CiphertextMSRLWE = CiphertextBase<EncryptionType::MSRLWE>;

// A message over ctx's full slots: 1 on the first half, `second` on the
// second half.
Message halvesMessage(const std::shared_ptr<ContextContent> &ctx, std::complex<double> second) {
    const u64 log_slots = getLogFullSlots(ctx);
    Message m(log_slots);
    const u64 half = (u64{1} << log_slots) / 2;
    for (u64 i = 0; i < m.getSize(); ++i)
        m[i] = i < half ? std::complex<double>(1.0, 0.0) : second;
    return m;
}

// A ciphertext of ctx shaped like `like` (polynomial count, level, rescale
// counter, encoding), with ctx's full slot count; residues not set.
template <EncryptionType ET>
CiphertextBase<ET> shapedLike(const std::shared_ptr<ContextContent> &ctx,
                              const CiphertextBase<ET> &like) {
    CiphertextBase<ET> out(ctx, false, true);
    out.setNumPoly(like.getNumPoly());
    out.setLevel(like.getLevel());
    out.setRescaleCounter(like.getRescaleCounter());
    out.setEncodingType(like.getEncodingType());
    out.allocate(like.getDevice());
    return out;
}

} // namespace

FastRemoveIRoad::FastRemoveIRoad(std::shared_ptr<ContextContent> context)
    : context_(std::move(context)) {}

// ---- Enabling -------------------------------------------------------------------------

std::vector<Plaintext>
FastRemoveIRoad::encodePlaintextMasks(const std::shared_ptr<ContextContent> &context,
                                      const std::shared_ptr<ContextContent> &ctx_embed) {
    const EnDecoder encoder(ctx_embed);
    std::vector<Plaintext> masks;
    masks.push_back(
        encoder.encode(halvesMessage(ctx_embed, {0.0, -1.0}), getRemoveIBeginLevel(context), 0));
    masks.push_back(
        encoder.encode(halvesMessage(ctx_embed, {0.0, 1.0}), getRemoveIEndLevel(context), 0));
    return masks;
}

void FastRemoveIRoad::enable(const std::shared_ptr<ContextContent> &ctx_embed,
                             const std::shared_ptr<ContextContent> &ctx_conj_inv,
                             const RingSwitchKey &key, const RingSwitchKey &key_back,
                             const Interpolator &interp) {
    // Everything that can fail runs before the first member changes; the
    // masks of an earlier call are kept.
    auto embed_evaluator = std::make_shared<HomEvaluatorImpl>(ctx_embed);
    auto key_back_copy = std::make_shared<RingSwitchKey>(key_back);
    auto interpolator = std::make_shared<Interpolator>(interp);
    std::vector<Plaintext> masks;
    if (masks_.empty())
        masks = encodePlaintextMasks(context_, ctx_embed);
    conj_inv_context_ = ctx_conj_inv;
    ring_switch_key_ = key;
    ring_switch_key_back_ = std::move(key_back_copy);
    interpolator_ = std::move(interpolator);
    embed_evaluator_ = std::move(embed_evaluator);
    if (!masks.empty()) {
        masks_by_device_ = {{kHostDevice, masks}};
        masks_ = std::move(masks);
    }
}

void FastRemoveIRoad::enableMultiSecret(const std::shared_ptr<ContextContent> &ctx_embed,
                                        const std::shared_ptr<ContextContent> &ctx_complex,
                                        const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                        const RingSwitchKey &key, const RingSwitchKey &key_back,
                                        const Interpolator &interp) {
    auto complex_evaluator = std::make_shared<HomEvaluatorImpl>(ctx_complex);
    enable(ctx_embed, ctx_conj_inv, key, key_back, interp);
    complex_evaluator_ = std::move(complex_evaluator);
}

// ---- The road ---------------------------------------------------------------------------

void FastRemoveIRoad::require() const {
    if (!conj_inv_context_ || !ring_switch_key_ || !ring_switch_key_back_ || !interpolator_ ||
        !embed_evaluator_ || masks_.size() != 2)
        throw RuntimeException(kFastRemoveINotEnabledMessage);
}

bool FastRemoveIRoad::hasMultiSecretState() const {
    return embed_evaluator_ && ring_switch_key_ && ring_switch_key_back_ && conj_inv_context_ &&
           masks_.size() == 2;
}

template <EncryptionType ET>
CiphertextBase<ET> FastRemoveIRoad::embedMaskedRealParts(const CiphertextBase<ET> &t) const {
    const HomEvaluatorImpl &embed = *embed_evaluator_;
    const std::shared_ptr<ContextContent> &ctx_embed = embed.getContext();
    const std::vector<Plaintext> &masks = masks_by_device_.at(t.getDevice());

    // Into the ring of twice the degree: X -> Y^2 on the NTT words, then the
    // switch from s(Y^2) to that ring's own secret.
    CiphertextBase<ET> u = shapedLike(ctx_embed, t);
    const RingSwitcher switcher;
    for (u64 k = 0; k < t.getNumPoly(); ++k)
        switcher.embedNTT(context_, t.getPoly(k), ctx_embed, u.getPoly(k));
    auto &key = detail::RingSwitchKeyAccess::key(*ring_switch_key_);
    if constexpr (ET == EncryptionType::RLWE)
        embed.rotations().switchKey(u, key, u, true);
    else
        embed.multiSecret().switchKeyMSRLWE(u, key, u);

    // Mask 0 and the conjugate (the embedding ring's secret is invariant
    // under Y -> Y^-1, so no key is needed): [2 Re z, 2 Im z].
    embed.constants().mult(u, masks[0], u);
    CiphertextBase<ET> w = shapedLike(ctx_embed, u);
    const PrimeModuli &chain = ctx_embed->getPrimeModuli();
    for (u64 k = 0; k < u.getNumPoly(); ++k)
        chain.frobeniusMapInNTT<false>(u.getPoly(k), -1, w.getPoly(k));
    w.setLogSlots(u.getLogSlots());
    embed.add(u, w, u);

    CiphertextBase<ET> r = shapedLike(conj_inv_context_, u);
    RingPacker().conversionToReal(u, r);
    return r;
}

template RingCiphertext FastRemoveIRoad::embedMaskedRealParts(const RingCiphertext &) const;
template CiphertextMSRLWE FastRemoveIRoad::embedMaskedRealParts(const CiphertextMSRLWE &) const;

void FastRemoveIRoad::convertConjugateInvariantCiphertextToComplex(
    const RingCiphertext &r, RingCiphertext &out, const HomEvaluatorImpl &evaluator) const {
    require();
    const std::vector<Plaintext> &masks = masks_by_device_.at(r.getDevice());
    RingCiphertext v = shapedLike(evaluator.getContext(), r);
    RingPacker().conversionToComplex(r, v);
    evaluator.constants().mult(v, masks[1], v);
    evaluator.rotations().switchKey(v, detail::RingSwitchKeyAccess::key(*ring_switch_key_back_), v,
                                    true);
    RingCiphertext half(out.getContext(), false, true);
    evaluator.rotations().convertToHalfDeg(v, half);
    out = std::move(half);
}

} // namespace Quelt
