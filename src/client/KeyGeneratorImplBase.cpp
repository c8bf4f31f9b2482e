// The contexts of a key generator with their gadget tables, the checks of its
// construction, and the construction of switching keys in gadget form.

#include "client/KeyGeneratorImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "arith/Validators.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/RandomSampler.hpp"
#include "keys/EvaluationKeyAccess.hpp"

#include <algorithm>

namespace Quelt {

namespace {

// Keys and packs of `other` can serve `context`: equal contexts (same preset,
// or the same sizes for custom ones) that also agree in everything a key's
// shape depends on.
bool fitsContext(const std::shared_ptr<ContextContent> &context,
                 const std::shared_ptr<ContextContent> &other) {
    if (other == context)
        return true;
    if (!other)
        return false;
    return *other == *context && getDegree(other) == getDegree(context) &&
           getLength(other) == getLength(context) && getNumTP(other) == getNumTP(context) &&
           other->getPrimeValues() == context->getPrimeValues() &&
           getRank(other) == getRank(context) && getNumSecret(other) == getNumSecret(context) &&
           getGadgetRank(other) == getGadgetRank(context);
}

// Base primes of gadget digit j: [j alpha, min(j alpha + alpha, L)), alpha =
// ceil(L / d).
OutputModulusBoundValidator digitPrimes(u64 j, u64 length, u64 gadget_rank) {
    const u64 alpha = (length + gadget_rank - 1) / gadget_rank;
    const u64 begin = std::min(j * alpha, length);
    return OutputModulusBoundValidator(begin, std::min(begin + alpha, length));
}

} // namespace

void KeyGeneratorImplBase::checkArguments(const std::shared_ptr<ContextContent> &context,
                                          const std::shared_ptr<ContextContent> *context_sparse,
                                          const std::shared_ptr<ContextContent> *key_context,
                                          const std::shared_ptr<ContextContent> *pack_context) {
    // Throws the null-context message first.
    getDegree(context);
    if (key_context && !fitsContext(context, *key_context))
        throw RuntimeException(KeyGeneratorMessages::kKeyMismatch);
    if (context_sparse) {
        if (!isSparseSecretEncapsulationSupported(context))
            throw RuntimeException(KeyGeneratorMessages::kNoSparseSupport);
        if (getSparseParameterPresetFor(getParameterPreset(context)) !=
            getParameterPreset(*context_sparse))
            throw RuntimeException(KeyGeneratorMessages::kSparseMismatch);
    }
    if (pack_context && !fitsContext(context, *pack_context))
        throw RuntimeException(KeyGeneratorMessages::kPackMismatch);
}

KeyGeneratorImplBase::KeyGeneratorImplBase(const std::shared_ptr<ContextContent> &context)
    : context_(context), decompose_data_(context) {}

KeyGeneratorImplBase::KeyGeneratorImplBase(const std::shared_ptr<ContextContent> &context,
                                           const std::shared_ptr<ContextContent> &context_sparse)
    : context_(context), decompose_data_(context), context_sparse_(context_sparse) {
    decompose_data_sparse_.emplace(context_sparse);
}

void KeyGeneratorImplBase::genSwitchingKeyAxWithGerm(const std::shared_ptr<ContextContent> &context,
                                                     PolyIter ax) const {
    const u64 d = getGadgetRank(context);
    for (u64 j = 0; j < d; ++j)
        populateUniformPoly(ax[j], true);
}

void KeyGeneratorImplBase::genSwitchingKeyAx(const std::shared_ptr<ContextContent> &context,
                                             PolyIter ax) const {
    const u64 d = getGadgetRank(context);
    const RandomSampler sampler;
    for (u64 j = 0; j < d; ++j)
        sampler.sampleUniform(ax[j], context);
}

namespace {

// The bodies of secrets 0..S-1 (from[k] to to[k]) into bx[k d + j]: digit
// outer, secret inner, one fresh error per body, all secrets of a digit on
// its mask.
void fillBodies(const std::shared_ptr<ContextContent> &context,
                const RNSDecomposeData &decompose_data, const std::vector<const Polynomial *> &from,
                const std::vector<const Polynomial *> &to, KeyGeneratorImplBase::PolyIter ax,
                KeyGeneratorImplBase::PolyIter bx) {
    const u64 d = getGadgetRank(context);
    const u64 secrets = from.size();
    if (d == 0 || secrets == 0)
        return;
    const u64 length = getLength(context);
    const u64 *pmod = decompose_data.getPMod(kHostDevice);
    const u64 *hatq = decompose_data.getHatQMod(kHostDevice);
    const PrimeModuli &chain = context->getPrimeModuli();
    const RandomSampler sampler;
    // One error polynomial serves every body: each draw overwrites it whole.
    Polynomial error(context, true, false);
    for (u64 j = 0; j < d; ++j)
        for (u64 k = 0; k < secrets; ++k) {
            sampler.sampleGaussian(error, context);
            chain.switchingKeyBody(error, ax[j], *to[k], *from[k], pmod, hatq,
                                   digitPrimes(j, length, d), bx[k * d + j]);
        }
}

// The first S polynomials of a vector, S the context's number of secrets.
std::vector<const Polynomial *> secretsOf(const std::shared_ptr<ContextContent> &context,
                                          const PolynomialVector &vector) {
    std::vector<const Polynomial *> polys;
    for (u64 k = 0; k < getNumSecret(context); ++k)
        polys.push_back(&vector.getPoly(k));
    return polys;
}

} // namespace

void KeyGeneratorImplBase::genSwitchingKeyBx(const std::shared_ptr<ContextContent> &context,
                                             const RNSDecomposeData &decompose_data,
                                             const Polynomial &from, const Polynomial &to,
                                             PolyIter ax, PolyIter bx) const {
    fillBodies(context, decompose_data, {&from}, {&to}, ax, bx);
}

void KeyGeneratorImplBase::genSwitchingKeyBxMSRLWE(const std::shared_ptr<ContextContent> &context,
                                                   const RNSDecomposeData &decompose_data,
                                                   const PolynomialVector &from,
                                                   const PolynomialVector &to, PolyIter ax,
                                                   PolyIter bx) const {
    fillBodies(context, decompose_data, secretsOf(context, from), secretsOf(context, to), ax, bx);
}

namespace {

// The host lists of a key that is to receive d masks and d x S bodies of the
// context.
void checkKeyLists(const std::shared_ptr<ContextContent> &context, EvaluationKey &key) {
    const u64 d = getGadgetRank(context);
    const auto &ax = detail::EvaluationKeyAccess::ax(key, kHostDevice);
    const auto &bx = detail::EvaluationKeyAccess::bx(key, kHostDevice);
    if (ax.size() != d || bx.size() != d * getNumSecret(context))
        throw RuntimeException(KeyGeneratorImplBase::kKeyShape);
}

} // namespace

void KeyGeneratorImplBase::genSwitchingKey(const std::shared_ptr<ContextContent> &context,
                                           const RNSDecomposeData &decompose_data,
                                           const Polynomial &from, const Polynomial &to,
                                           EvaluationKey &key) const {
    checkKeyLists(context, key);
    const PolyIter ax = key.getAxIter(kHostDevice);
    genSwitchingKeyAxWithGerm(context, ax);
    genSwitchingKeyBx(context, decompose_data, from, to, ax, key.getBxIter(kHostDevice));
}

void KeyGeneratorImplBase::genSwitchingKeyMSRLWE(const std::shared_ptr<ContextContent> &context,
                                                 const RNSDecomposeData &decompose_data,
                                                 const PolynomialVector &from,
                                                 const PolynomialVector &to,
                                                 EvaluationKey &key) const {
    checkKeyLists(context, key);
    const PolyIter ax = key.getAxIter(kHostDevice);
    genSwitchingKeyAxWithGerm(context, ax);
    genSwitchingKeyBxMSRLWE(context, decompose_data, from, to, ax, key.getBxIter(kHostDevice));
}

} // namespace Quelt
