#include "Quelt/EvaluationKey.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/RingPacker.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "conversion/RingPackerDetail.hpp"
#include "conversion/RingSwitcher.hpp"
#include "eval/KeySwitcher.hpp"
#include "eval/Precondition.hpp"
#include "foundation/DeviceDispatch.hpp"
#include "lwe/LWECiphertextImpl.hpp"
#include "lwe/LWEContext.hpp"
#include "lwe/LWEPrecondition.hpp"

#include <optional>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
using ModuleCiphertext = CiphertextBase<EncryptionType::MLWE>;

constexpr const char *kTotalDimensionMessage =
    "[modPack] Total dimension of encrypting messages of input and output does not match";
constexpr const char *kKeyCountMessage =
    "[modPack] Input or output ciphertexts is not compatible to the given modpack keys";
constexpr const char *kLevelMessage =
    "[modPack] The level of given ciphertext(s) is more than the level of max encryption level of "
    "the output ciphertext";
constexpr const char *kInputShapeMessage =
    "[modPack] The input ciphertexts should share one context, level and polynomial count.";
constexpr const char *kEmptyKeyMessage =
    "[mlweKeySwitch] The modpack key bundle holds an empty key.";
constexpr const char *kKeyContextMessage =
    "[mlweKeySwitch] The context of the modpack keys should have the output's degree times its "
    "rank and the output's primes.";

// The key context of the bundle after the checks of the key switch: every
// key present and over one context of degree k N whose primes agree with
// the output's up to the level.
std::shared_ptr<ContextContent> checkedKeyContext(const ModPackKeyBundle &keys,
                                                  const std::shared_ptr<ContextContent> &output,
                                                  u64 k, u64 level) {
    std::shared_ptr<ContextContent> ctx;
    for (u64 g = 0; g < keys.getNumKeys(); ++g) {
        const std::shared_ptr<EvaluationKey> key = keys.getModPackKey(g);
        if (!key)
            throw RuntimeException(kEmptyKeyMessage);
        if (!key->getContext() || (ctx && key->getContext() != ctx))
            throw RuntimeException(kKeyContextMessage);
        ctx = key->getContext();
    }
    if (!ctx || getDegree(ctx) != k * getDegree(output))
        throw RuntimeException(kKeyContextMessage);
    detail::checkContextsAgree(output, ctx, level);
    return ctx;
}

// Key switching of the packed list P (body P[0], masks P[1 .. D]) into a
// ciphertext of rank k: the masks in t = D / k groups of k, each group
// combined into one polynomial of the key context, switched by its key and
// summed over the extended basis; one division by P; then the result's
// class 0 read back in rank k as a new ciphertext of out_ctx. The caller has
// run checkedKeyContext.
template <EncryptionType ET>
CiphertextBase<ET> mlweKeySwitch(const std::vector<Polynomial> &P, const ModPackKeyBundle &keys,
                                 const std::shared_ptr<ContextContent> &key_ctx,
                                 const std::shared_ptr<ContextContent> &out_ctx, u64 k) {
    const u64 D = P.size() - 1;
    const u64 t = D / k;
    const KeySwitcher switcher(key_ctx);
    const Device device = P.front().getDevice();
    if (!device.isHost()) {
        if (!isAccelerator(device))
            throwUnsupportedFunction("mlweKeySwitch");
        if (k >= 2)
            throwUnsupportedFunction("multMonomialBatch");
        std::vector<const Polynomial *> masks;
        for (u64 i = 1; i <= D; ++i)
            masks.push_back(&P[i]);
        switcher.modPackKeySwitch(masks, keys);
    }

    const PrimeModuli &out_chain = out_ctx->getPrimeModuli();
    const PrimeModuli &key_chain = key_ctx->getPrimeModuli();
    const RingSwitcher ring_switcher;
    std::vector<Polynomial> digits;
    std::vector<Polynomial> T;
    std::vector<const Polynomial *> T_ptrs(k);
    std::optional<Polynomial> combined;
    if (k >= 2) {
        T.assign(k, Polynomial(out_ctx, false, false));
        for (u64 j = 0; j < k; ++j)
            T_ptrs[j] = &T[j];
        combined.emplace(key_ctx, false, false);
    }
    // The groups stay over the extended basis and are summed there, so that
    // one division by P serves all of them.
    std::optional<RingCiphertext> sum;
    for (u64 g = 0; g < t; ++g) {
        if (k == 1) {
            switcher.modUpPQ(P[1 + g], digits);
        } else {
            // T[j] = X^-1 P[1 + g k + k - j] puts the wrapped terms of the
            // interleaved product on class 0.
            T[0] = P[1 + g * k];
            for (u64 j = 1; j < k; ++j)
                out_chain.multMonomial(P[1 + g * k + k - j], T[j], -1);
            ring_switcher.combine(T_ptrs, *combined);
            switcher.modUpPQ(*combined, digits);
        }
        RingCiphertext pair = switcher.multEvalKey(digits, *keys.getModPackKey(g));
        if (!sum) {
            sum = std::move(pair);
        } else {
            for (u64 p = 0; p < 2; ++p)
                key_chain.add(sum->getPoly(p), pair.getPoly(p), sum->getPoly(p));
        }
    }
    RingCiphertext result(key_ctx, false, false);
    switcher.getFastBaseConv().modDown(sum->getPolyVector(), result.getPolyVector(), false);

    std::vector<Polynomial> U(k, Polynomial(out_ctx, false, false));
    std::vector<Polynomial *> U_ptrs(k);
    for (u64 j = 0; j < k; ++j)
        U_ptrs[j] = &U[j];
    ring_switcher.split(result.getPoly(1), U_ptrs);
    CiphertextBase<ET> packed(out_ctx, false, false);
    packed.setNumPoly(k + 1);
    packed.getPoly(1) = U[0];
    for (u64 j = 1; j < k; ++j)
        out_chain.multMonomial(U[k - j], packed.getPoly(j + 1), 1);
    ring_switcher.extract(result.getPoly(0), packed.getPoly(0));
    out_chain.add(packed.getPoly(0), P[0], packed.getPoly(0));
    return packed;
}

// The packed result, built apart from out (whatever state out's polynomials
// are in, and out may be one of the inputs), with the metadata of every
// packed ciphertext, replaces out whole: a failure leaves out as it was.
template <EncryptionType ET>
void finishPack(CiphertextBase<ET> &&packed, int rescale_counter, CiphertextBase<ET> &out) {
    detail::setPackedMetaData(packed, rescale_counter);
    out = std::move(packed);
}

// The output's rank k and the group count t = D / k after the key-count
// check.
u64 checkGroups(u64 D, u64 k, const ModPackKeyBundle &keys) {
    if (k == 0 || D % k != 0 || D / k != keys.getNumKeys())
        throw RuntimeException(kKeyCountMessage);
    return D / k;
}

} // namespace

template <EncryptionType ET>
void RingPacker::modPack(const std::vector<const LWE::Ciphertext *> &ins,
                         const ModPackKeyBundle &keys, CiphertextBase<ET> &out) const {
    const std::shared_ptr<ContextContent> &out_ctx = out.getContext();
    const u64 N = getDegree(out_ctx);
    if (ins.size() != N || N == 0)
        throw RuntimeException(kTotalDimensionMessage);
    for (const LWE::Ciphertext *in : ins)
        detail::checkNotNull(in);
    const LWE::Ciphertext &first = *ins.front();
    const std::shared_ptr<LWE::ContextContent> &lwe = first.getContext();
    const u64 d = LWE::getDimension(lwe);
    const u64 k = out.getNumPoly() - 1;
    checkGroups(d, k, keys);
    for (const LWE::Ciphertext *in : ins)
        utils::checkPrecondition(first, *in);
    const u64 level = LWE::detail::checkOperand(first, *lwe);
    if (level > getEncryptionLevel(out_ctx))
        throw RuntimeException(kLevelMessage);
    for (const LWE::Ciphertext *in : ins) {
        if (in->getContext() != lwe) {
            if (LWE::getDimension(in->getContext()) != d)
                throw RuntimeException(kInputShapeMessage);
            detail::checkContextsAgree(lwe, in->getContext(), level);
        }
        if (LWE::detail::checkOperand(*in, *in->getContext()) != level)
            throw RuntimeException(kInputShapeMessage);
    }
    detail::checkContextsAgree(lwe, out_ctx, level);
    const std::shared_ptr<ContextContent> key_ctx = checkedKeyContext(keys, out_ctx, k, level);

    std::vector<Polynomial> P(d + 1, Polynomial(out_ctx, false, false));
    std::vector<const LevelledVector *> masks(N);
    std::vector<const LevelledElement *> bodies(N);
    for (u64 i = 0; i < N; ++i) {
        masks[i] = &ins[i]->getAx();
        bodies[i] = &ins[i]->getBx();
    }
    std::vector<Polynomial *> mask_polys(d);
    for (u64 j = 0; j < d; ++j)
        mask_polys[j] = &P[1 + j];
    const RingSwitcher switcher;
    switcher.combineBatch(masks, mask_polys);
    switcher.combine(bodies, P[0]);
    finishPack(mlweKeySwitch<ET>(P, keys, key_ctx, out_ctx, k), first.getRescaleCounter(), out);
}

template <EncryptionType ET>
void RingPacker::modPack(const std::vector<const ModuleCiphertext *> &ins,
                         const ModPackKeyBundle &keys, CiphertextBase<ET> &out) const {
    const std::shared_ptr<ContextContent> &out_ctx = out.getContext();
    const u64 N = getDegree(out_ctx);
    if (ins.empty())
        throw RuntimeException(kTotalDimensionMessage);
    for (const ModuleCiphertext *in : ins)
        detail::checkNotNull(in);
    const ModuleCiphertext &first = *ins.front();
    const u64 n = getDegree(first.getContext());
    const u64 c = n == 0 ? 0 : N / n;
    if (n == 0 || N != c * n || ins.size() != c)
        throw RuntimeException(kTotalDimensionMessage);
    const u64 R = first.getNumPoly();
    const u64 k = out.getNumPoly() - 1;
    checkGroups(R - 1, k, keys);
    detail::checkCoefficientEncoded(first);
    for (const ModuleCiphertext *in : ins)
        utils::checkPrecondition(first, *in);
    const u64 level = first.getLevel();
    if (level > getEncryptionLevel(out_ctx))
        throw RuntimeException(kLevelMessage);
    for (const ModuleCiphertext *in : ins) {
        if (getDegree(in->getContext()) != n || in->getNumPoly() != R || in->getLevel() != level)
            throw RuntimeException(kInputShapeMessage);
        for (u64 p = 0; p < R; ++p)
            if (in->getPoly(p).isNTT())
                throw RuntimeException(RingSwitcher::kNotNTTMessage);
        detail::checkContextsAgree(in->getContext(), out_ctx, level);
    }
    const std::shared_ptr<ContextContent> key_ctx = checkedKeyContext(keys, out_ctx, k, level);

    std::vector<Polynomial> P(R, Polynomial(out_ctx, false, false));
    const RingSwitcher switcher;
    std::vector<const Polynomial *> parts(c);
    for (u64 p = 0; p < R; ++p) {
        for (u64 i = 0; i < c; ++i)
            parts[i] = &ins[i]->getPoly(p);
        switcher.combine(parts, P[p]);
    }
    finishPack(mlweKeySwitch<ET>(P, keys, key_ctx, out_ctx, k), first.getRescaleCounter(), out);
}

template void RingPacker::modPack(const std::vector<const LWE::Ciphertext *> &,
                                  const ModPackKeyBundle &, ModuleCiphertext &) const;
template void RingPacker::modPack(const std::vector<const LWE::Ciphertext *> &,
                                  const ModPackKeyBundle &, RingCiphertext &) const;
template void RingPacker::modPack(const std::vector<const ModuleCiphertext *> &,
                                  const ModPackKeyBundle &, ModuleCiphertext &) const;
template void RingPacker::modPack(const std::vector<const ModuleCiphertext *> &,
                                  const ModPackKeyBundle &, RingCiphertext &) const;

} // namespace Quelt
