#include "Quelt/MultiSecretConverter.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "arith/Modulus.hpp"
#include "arith/NTT.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "conversion/ContextImbed.hpp"
#include "eval/KeySwitcher.hpp"

#include <bit>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using SingleCiphertext = CiphertextBase<EncryptionType::RLWE>;
using MultiCiphertext = CiphertextBase<EncryptionType::MSRLWE>;

template <EncryptionType From>
void imbed(const CiphertextBase<From> &from, MultiCiphertext &to) {
    const u64 count = to.getNumPoly();
    if (from.getNumPoly() < count)
        throw RuntimeException(kContextImbedShort);
    for (u64 i = 0; i < count; ++i)
        to.getPoly(i) = from.getPoly(i);
}

// dst takes src's log slots, rescale counter and encoding type (dst is
// shaped, so the counter fits its level).
template <EncryptionType From, EncryptionType To>
void copyMeta(const CiphertextBase<From> &src, CiphertextBase<To> &dst) {
    dst.setLogSlots(src.getLogSlots());
    dst.setRescaleCounter(src.getRescaleCounter());
    dst.setEncodingType(src.getEncodingType());
}

// acc += r over polynomials 0 .. count (both over the extended basis).
void addParts(const PrimeModuli &chain, const MultiCiphertext &r, u64 count, MultiCiphertext &acc) {
    for (u64 p = 0; p <= count; ++p)
        chain.add(acc.getPoly(p), r.getPoly(p), acc.getPoly(p));
}

// A body in coefficient form cannot be added to the key-switched parts, which
// come out of the division by P in NTT form: such inputs are refused.
template <EncryptionType ET>
bool inNTTForm(const CiphertextBase<ET> &ct) {
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        if (!ct.getPoly(i).isNTT())
            return false;
    return true;
}

template <EncryptionType ET>
void requireNTTForm(const std::vector<CiphertextBase<ET>> &ctxts, const char *message) {
    for (const CiphertextBase<ET> &ct : ctxts)
        if (!inNTTForm(ct))
            throw RuntimeException(message);
}

// The result's metadata is the first input's: every input must carry the
// same rescale counter, log slots and encoding type.
template <EncryptionType ET>
void requireSharedMetadata(const std::vector<CiphertextBase<ET>> &ctxts, const char *message) {
    for (const CiphertextBase<ET> &ct : ctxts)
        if (ct.getRescaleCounter() != ctxts[0].getRescaleCounter() ||
            ct.getLogSlots() != ctxts[0].getLogSlots() ||
            ct.getEncodingType() != ctxts[0].getEncodingType())
            throw RuntimeException(message);
}

// The inputs taken in pairs, an odd last one alone.
template <typename T>
std::vector<std::vector<T>> pairsOf(const std::vector<T> &items) {
    std::vector<std::vector<T>> groups;
    for (std::size_t i = 0; i < items.size(); i += 2) {
        std::vector<T> group{items[i]};
        if (i + 1 < items.size())
            group.push_back(items[i + 1]);
        groups.push_back(std::move(group));
    }
    return groups;
}

} // namespace

void contextImbed(const SingleCiphertext &from, MultiCiphertext &to) { imbed(from, to); }
void contextImbed(const MultiCiphertext &from, MultiCiphertext &to) { imbed(from, to); }

void MultiSecretConverter::SStoMS(const std::vector<SingleCiphertext> &ctxts,
                                  const SStoMSKeyBundle &keys, MultiCiphertext &ctxt_out) const {
    if (ctxts.empty())
        throw RuntimeException(kSStoMSEmpty);
    const std::shared_ptr<ContextContent> &ctx = ctxt_out.getContext();
    const u64 n = ctxts.size();
    if (getNumSecret(ctx) < n)
        throw RuntimeException(kSStoMSCount);
    requireNTTForm(ctxts, kSStoMSNotNTT);
    requireSharedMetadata(ctxts, kSStoMSMetadata);
    const KeySwitcher ks(ctx);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    std::optional<MultiCiphertext> acc;
    std::vector<Polynomial> digits;
    for (u64 i = 0; i < n; ++i) {
        const Polynomial mask = ctxts[i].getPoly(1);
        ks.modUpPQ(mask, digits);
        const std::shared_ptr<EvaluationKey> key = keys.getSStoMSKey(i);
        if (!key)
            throw RuntimeException(kSStoMSKeyMissing);
        MultiCiphertext r = ks.multEvalKeyMSRLWE(digits, *key, n);
        if (acc)
            addParts(chain, r, n, *acc);
        else
            acc = std::move(r);
    }
    // One division by P for all the switched parts, then the bodies.
    MultiCiphertext result(ctx, false, true);
    ks.getFastBaseConv().modDown(acc->getPolyVector(), result.getPolyVector(), true);
    for (u64 i = 0; i < n; ++i)
        chain.add(result.getPoly(i), ctxts[i].getPoly(0), result.getPoly(i));
    copyMeta(ctxts[0], result);
    ctxt_out = std::move(result);
}

void MultiSecretConverter::IncreaseNS(const std::vector<MultiCiphertext> &ctxts,
                                      const IncreaseNSKeyBundle &keys,
                                      MultiCiphertext &ctxt_out) const {
    if (ctxts.empty())
        throw RuntimeException(kIncreaseNSEmpty);
    const std::shared_ptr<ContextContent> &ctx = ctxt_out.getContext();
    const u64 m = ctxts.size();
    const u64 ns_from = getNumSecret(ctxts[0].getContext());
    const u64 ns_to = getNumSecret(ctx);
    if (ns_from == 0 || ns_to / ns_from < m)
        throw RuntimeException(kIncreaseNSCount);
    if (ns_to % ns_from != 0)
        throw RuntimeException(kIncreaseNSDivide);
    // Every body lands inside the result only when no input carries more
    // than ns_from of them.
    for (const MultiCiphertext &ct : ctxts)
        if (ct.getNumSecret() > ns_from)
            throw RuntimeException(kIncreaseNSBodies);
    // Key j switches input j's mask into positions j ns_from .. j ns_from +
    // ns_from - 1, and only the input's own bodies turn those into messages:
    // a missing body before the last input would leave noise in the middle,
    // and positions past the last body carry nothing, so the result ends
    // with the last input's last body.
    for (u64 j = 0; j + 1 < m; ++j)
        if (ctxts[j].getNumSecret() < ns_from)
            throw RuntimeException(kIncreaseNSShortInput);
    requireNTTForm(ctxts, kIncreaseNSNotNTT);
    requireSharedMetadata(ctxts, kIncreaseNSMetadata);
    const u64 count = (m - 1) * ns_from + ctxts.back().getNumSecret();

    const KeySwitcher ks(ctx);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    std::optional<MultiCiphertext> acc;
    std::vector<Polynomial> digits;
    for (u64 j = 0; j < m; ++j) {
        const Polynomial mask = ctxts[j].getPoly(ctxts[j].getNumPoly() - 1);
        ks.modUpPQ(mask, digits);
        const std::shared_ptr<EvaluationKey> key = keys.getIncreaseNSKey(j);
        if (!key)
            throw RuntimeException(kIncreaseNSKeyMissing);
        MultiCiphertext r = ks.multEvalKeyMSRLWE(digits, *key, count);
        if (acc)
            addParts(chain, r, count, *acc);
        else
            acc = std::move(r);
    }
    MultiCiphertext result(ctx, false, true);
    ks.getFastBaseConv().modDown(acc->getPolyVector(), result.getPolyVector(), true);
    for (u64 j = 0; j < m; ++j)
        for (u64 b = 0; b < ctxts[j].getNumSecret(); ++b) {
            Polynomial &target = result.getPoly(j * ns_from + b);
            chain.add(target, ctxts[j].getPoly(b), target);
        }
    copyMeta(ctxts[0], result);
    ctxt_out = std::move(result);
}

void MultiSecretConverter::MStoSS(const MultiCiphertext &ctxt, const MStoSSKeyBundle &keys,
                                  const std::shared_ptr<ContextContent> &context_ss,
                                  std::vector<SingleCiphertext> &ctxts_out) const {
    if (!inNTTForm(ctxt))
        throw RuntimeException(kMStoSSNotNTT);
    const u64 k = ctxt.getNumSecret();
    const u64 level = ctxt.getLevel();
    // The residues keep their meaning only over the same ring and primes.
    const std::shared_ptr<ContextContent> &ms = ctxt.getContext();
    bool compatible = context_ss && getDegree(context_ss) == getDegree(ms) &&
                      level < getLength(context_ss) && level < getLength(ms);
    for (u64 i = 0; compatible && i <= level; ++i) {
        const Modulus &a = context_ss->getPrimeModuli().getModulus(i);
        const Modulus &b = ms->getPrimeModuli().getModulus(i);
        compatible = a.getPrime() == b.getPrime() && a.getNTT()->getType() == b.getNTT()->getType();
    }
    if (!compatible)
        throw RuntimeException(kIncompatibleContext);
    std::vector<std::shared_ptr<EvaluationKey>> switch_keys(k);
    for (u64 i = 0; i < k; ++i) {
        if (i < keys.getNumKeys())
            switch_keys[i] = keys.getMStoSSKey(i);
        if (!switch_keys[i])
            throw RuntimeException(kMStoSSKeyMissing);
    }

    // The mask is decomposed once for every output.
    const KeySwitcher ks(context_ss);
    const PrimeModuli &chain = context_ss->getPrimeModuli();
    std::vector<Polynomial> digits;
    ks.modUpPQ(ctxt.getPoly(k), digits);
    std::vector<SingleCiphertext> results;
    results.reserve(k);
    for (u64 i = 0; i < k; ++i) {
        SingleCiphertext t(context_ss, false, true);
        const SingleCiphertext r = ks.multEvalKey(digits, *switch_keys[i]);
        ks.getFastBaseConv().modDown(r.getPolyVector(), t.getPolyVector(), true);
        chain.add(t.getPoly(0), ctxt.getPoly(i), t.getPoly(0));
        copyMeta(ctxt, t);
        results.push_back(std::move(t));
    }
    ctxts_out = std::move(results);
}

void MultiSecretConverter::SStoMSBisection(const std::vector<SingleCiphertext> &ctxts,
                                           const SStoMSBisectionKeyBundle &keys,
                                           MultiCiphertext &ctxt_out) const {
    if (ctxts.empty())
        throw RuntimeException(kBisectionEmpty);
    const u64 k = getNumSecret(ctxt_out.getContext());
    if (k < 2)
        throw RuntimeException(kBisectionFewSecrets);
    requireNTTForm(ctxts, kBisectionNotNTT);
    requireSharedMetadata(ctxts, kBisectionMetadata);
    const u64 rounds = static_cast<u64>(std::bit_width(k)) - 1;
    if (rounds == 1) {
        SStoMS(ctxts, keys.getSStoMSKeyBundle(), ctxt_out);
        return;
    }
    // With more inputs than 2^rounds the last round would leave several
    // results; the bundle must serve every round.
    if (rounds < 64 && ctxts.size() > (u64{1} << rounds))
        throw RuntimeException(kBisectionTooMany);
    try {
        keys.getMSContext(rounds - 1);
        keys.getIncreaseNSKeyBundle(rounds - 2);
    } catch (const std::out_of_range &) {
        throw RuntimeException(kBisectionBundleShort);
    }

    std::vector<MultiCiphertext> results;
    {
        MultiCiphertext working(keys.getMSContext(0), false, true);
        for (const std::vector<SingleCiphertext> &group : pairsOf(ctxts)) {
            SStoMS(group, keys.getSStoMSKeyBundle(), working);
            results.push_back(working);
        }
    }
    for (u64 r = 1; r < rounds; ++r) {
        MultiCiphertext working(keys.getMSContext(r), false, true);
        std::vector<MultiCiphertext> merged;
        for (const std::vector<MultiCiphertext> &group : pairsOf(results)) {
            IncreaseNS(group, keys.getIncreaseNSKeyBundle(r - 1), working);
            merged.push_back(working);
        }
        results = std::move(merged);
    }
    MultiCiphertext result = results.front();
    result.setEncodingType(ctxts[0].getEncodingType());
    ctxt_out = std::move(result);
}

} // namespace Quelt
