// The key bundles of the conversions between secrets, ranks and ring degrees.
// Every key switches from a temporary secret, rearranged from the integer
// coefficients of the given keys in one host array that is refilled per key,
// to a target secret. All checks run before the first allocation; composite
// bundles are assembled from the generated parts, so no empty key or preset
// context of their public constructors is ever made.

#include "Quelt/Context.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "client/BundleGeneration.hpp"
#include "client/KeyGeneratorImpl.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "keys/KeyBundleAssembly.hpp"

#include <algorithm>
#include <optional>
#include <utility>

namespace Quelt {

namespace {

using Contexts = std::vector<std::shared_ptr<ContextContent>>;
using RLWEKey = KeyGeneratorImpl::RLWEKey;
using MSRLWEKey = KeyGeneratorImpl::MSRLWEKey;
using MLWEKey = KeyGeneratorImpl::MLWEKey;

void require(bool condition, const char *message) {
    if (!condition)
        throw RuntimeException(message);
}

// Prime i of b equals prime i of a for every prime of a's chain, temporary
// primes included.
bool primesOfAInB(const std::shared_ptr<ContextContent> &a,
                  const std::shared_ptr<ContextContent> &b) {
    const std::vector<u64> pa = a->getPrimeValues();
    const std::vector<u64> pb = b->getPrimeValues();
    const u64 count = getLength(a) + getNumTP(a);
    if (count > pa.size() || count > pb.size())
        return false;
    return std::equal(pa.begin(), pa.begin() + static_cast<std::ptrdiff_t>(count), pb.begin());
}

// The same chain, cut into base and temporary primes the same way: keys of
// one context can then be made with the other's tables.
bool sameChain(const std::shared_ptr<ContextContent> &a, const std::shared_ptr<ContextContent> &b) {
    return getLength(a) == getLength(b) && getNumTP(a) == getNumTP(b) && primesOfAInB(a, b);
}

// The secrets of MStoSS and SStoMS keys: equal degrees, one chain and one
// gadget rank, since a key over one context is written with the other's
// digits.
void checkSecretSwitch(const std::shared_ptr<ContextContent> &from,
                       const std::shared_ptr<ContextContent> &to, const char *degree_message,
                       const char *gadget_message) {
    require(getDegree(from) == getDegree(to), degree_message);
    require(sameChain(from, to), KeyGeneratorMessages::kMultiSecretSwitchPrimes);
    require(getGadgetRank(from) == getGadgetRank(to), gadget_message);
}

void zeroFill(Polynomial &poly) {
    std::fill(poly.getData().getData(), poly.getData().getData() + poly.getData().size(), u64{0});
}

// A host array of n integers, all 0.
DeviceSpecificArray<int> zeroArray(u64 n) {
    DeviceSpecificArray<int> array(n, kHostDevice);
    std::fill(array.getData(), array.getData() + n, 0);
    return array;
}

void clear(DeviceSpecificArray<int> &array) {
    std::fill(array.getData(), array.getData() + array.size(), 0);
}

Contexts contextsOf(const std::vector<MSRLWEKey> &keys) {
    Contexts contexts;
    contexts.reserve(keys.size());
    for (const MSRLWEKey &key : keys)
        contexts.push_back(key.getContext());
    return contexts;
}

// The interleaved output secret of modulus packing over the generator's
// context g: coefficient j of polynomial i of `out` on exponent j r_out + i.
RLWEKey interleavedOutput(const std::shared_ptr<ContextContent> &g,
                          const std::shared_ptr<ContextContent> &out, const int *coefficients,
                          DeviceSpecificArray<int> &array) {
    const u64 r_out = getRank(out);
    const u64 d_out = getDegree(out);
    int *a = array.getData();
    for (u64 i = 0; i < r_out; ++i)
        for (u64 j = 0; j < d_out; ++j)
            a[i + j * r_out] = coefficients[i * d_out + j];
    return RLWEKey(g, a);
}

} // namespace

// ---------------------------------------------------------------------------
// Checks
// ---------------------------------------------------------------------------

void checkMultiSecretSwitchKeyCondition(const std::shared_ptr<ContextContent> &a,
                                        const std::shared_ptr<ContextContent> &b) {
    require(getDegree(a) == getDegree(b), KeyGeneratorMessages::kMultiSecretSwitchDegree);
    require(primesOfAInB(a, b), KeyGeneratorMessages::kMultiSecretSwitchPrimes);
}

namespace {

// The steps of modulus packing that the MLWE and LWE forms share, in their
// order; `in_rank` is rank(in) or the LWE dimension.
template <typename InContext>
void checkModPack(const std::shared_ptr<ContextContent> &g, const InContext &in, u64 in_rank,
                  u64 in_level, const std::shared_ptr<ContextContent> *in_ring,
                  const std::shared_ptr<ContextContent> &out) {
    require(static_cast<u128>(getDegree(out)) * getRank(out) == getDegree(g),
            KeyGeneratorMessages::kModPackTotalDimension);
    if (in_ring)
        require(getDegree(*in_ring) != 0 && getDegree(out) % getDegree(*in_ring) == 0,
                KeyGeneratorMessages::kModPackDegree);
    require(getRank(out) != 0 && in_rank % getRank(out) == 0, KeyGeneratorMessages::kModPackRank);
    require(in_level <= getMaxCompatibleLevel(in, g), KeyGeneratorMessages::kModPackKeyPrimes);
    require(in_level <= getMaxCompatibleLevel(in, out), KeyGeneratorMessages::kModPackOutputPrimes);
}

} // namespace

void checkModPackKeyBundleCondition(const std::shared_ptr<ContextContent> &g,
                                    const std::shared_ptr<ContextContent> &in,
                                    const std::shared_ptr<ContextContent> &out) {
    checkModPack(g, in, getRank(in), getEncryptionLevel(in), &in, out);
}

void checkModPackKeyBundleCondition(const std::shared_ptr<ContextContent> &g,
                                    const std::shared_ptr<LWE::ContextContent> &in,
                                    const std::shared_ptr<ContextContent> &out) {
    checkModPack(g, in, LWE::getDimension(in), LWE::getEncryptionLevel(in), nullptr, out);
}

namespace {

void checkIncreaseNS(const std::shared_ptr<ContextContent> &g, const MSRLWEKey &from,
                     const MSRLWEKey &to) {
    const auto &f = from.getContext();
    const auto &t = to.getContext();
    require(getDegree(f) == getDegree(t), KeyGeneratorMessages::kIncreaseNSDegree);
    const u64 a = getNumSecret(f);
    const u64 b = getNumSecret(t);
    require(a != 0 && b % a == 0 && b != 0, KeyGeneratorMessages::kIncreaseNSDivide);
    // The keys over `to`'s context are written with the generator's digits.
    require(sameChain(t, g), KeyGeneratorMessages::kIncreaseNSChain);
    require(getGadgetRank(t) == getGadgetRank(g), KeyGeneratorMessages::kIncreaseNSGadgetRank);
}

void checkMStoSS(const MSRLWEKey &ms, const RLWEKey &ss) {
    checkSecretSwitch(ms.getContext(), ss.getContext(), KeyGeneratorMessages::kMStoSSDegree,
                      KeyGeneratorMessages::kMStoSSGadgetRank);
}

void checkSStoMS(const RLWEKey &ss, const MSRLWEKey &ms) {
    checkSecretSwitch(ss.getContext(), ms.getContext(), KeyGeneratorMessages::kSStoMSDegree,
                      KeyGeneratorMessages::kSStoMSGadgetRank);
}

void checkBisection(const std::shared_ptr<ContextContent> &g, const RLWEKey &ss,
                    const std::vector<MSRLWEKey> &ms) {
    detail::KeyBundleAssembly::checkBisectionContexts(contextsOf(ms));
    checkSStoMS(ss, ms.front());
    for (u64 i = 0; i + 1 < ms.size(); ++i)
        checkIncreaseNS(g, ms[i], ms[i + 1]);
}

// The context list's check first: it also refuses an empty list before the
// last key is taken.
const MSRLWEKey &lastKey(const std::vector<MSRLWEKey> &ms) {
    if (ms.empty())
        throw RuntimeException(SStoMSBisectionKeyBundle::kContextMismatch);
    return ms.back();
}

} // namespace

// ---------------------------------------------------------------------------
// The simple bundles
// ---------------------------------------------------------------------------

IncreaseNSKeyBundle KeyGeneratorImpl::genIncreaseNSKeyBundle(const MSRLWEKey &from,
                                                             const MSRLWEKey &to) const {
    checkIncreaseNS(context_, from, to);
    const std::shared_ptr<ContextContent> &t = to.getContext();
    const u64 n = getDegree(t);
    const u64 a = getNumSecret(from.getContext());
    const u64 b = getNumSecret(t);
    IncreaseNSKeyBundle result(t, b / a);
    DeviceSpecificArray<int> array = zeroArray(b * n);
    const int *source = from.getCoefficients();
    for (u64 i = 0; i < b / a; ++i) {
        // Secrets i a .. i a + a - 1 are those of `from`, the others 0.
        clear(array);
        std::copy(source, source + a * n, array.getData() + i * a * n);
        const MSRLWEKey temporary(t, array.getData());
        genSwitchingKeyMSRLWE(t, decompose_data_, temporary.getSxVec(), to.getSxVec(),
                              *result.getIncreaseNSKey(i));
    }
    return result;
}

MStoSSKeyBundle KeyGeneratorImpl::genMStoSSKeyBundle(const MSRLWEKey &ms, const RLWEKey &ss) const {
    checkMStoSS(ms, ss);
    const std::shared_ptr<ContextContent> &m = ms.getContext();
    const std::shared_ptr<ContextContent> &s = ss.getContext();
    const u64 n = getDegree(s);
    const u64 d = getGadgetRank(s);
    const RNSDecomposeData tables(s);
    MStoSSKeyBundle result(m);
    DeviceSpecificArray<int> array = zeroArray(n);
    const int *source = ms.getCoefficients();
    for (u64 k = 0; k < getNumSecret(m); ++k) {
        std::copy(source + k * n, source + (k + 1) * n, array.getData());
        const RLWEKey temporary(s, array.getData());
        // Single-secret form: the first d bodies of the key over m; the
        // bodies of the other secrets are written as zeros.
        EvaluationKey &key = *result.getMStoSSKey(k);
        const PolyIter ax = key.getAxIter(kHostDevice);
        genSwitchingKeyAxWithGerm(s, ax);
        genSwitchingKeyBx(s, tables, temporary.getSx(0), ss.getSx(0), ax,
                          key.getBxIter(kHostDevice));
        std::vector<Polynomial> &bodies = detail::EvaluationKeyAccess::bx(key, kHostDevice);
        for (u64 p = d; p < bodies.size(); ++p)
            zeroFill(bodies[p]);
    }
    return result;
}

SStoMSKeyBundle KeyGeneratorImpl::genSStoMSKeyBundle(const RLWEKey &ss, const MSRLWEKey &ms) const {
    checkSStoMS(ss, ms);
    const std::shared_ptr<ContextContent> &m = ms.getContext();
    const u64 n = getDegree(m);
    const u64 c = getNumSecret(m);
    const RNSDecomposeData tables(m);
    SStoMSKeyBundle result(m);
    DeviceSpecificArray<int> array = zeroArray(c * n);
    const int *source = ss.getCoefficients();
    for (u64 k = 0; k < c; ++k) {
        // Secret k of the temporary key is `ss`, the others 0.
        clear(array);
        std::copy(source, source + n, array.getData() + k * n);
        const MSRLWEKey temporary(m, array.getData());
        genSwitchingKeyMSRLWE(m, tables, temporary.getSxVec(), ms.getSxVec(),
                              *result.getSStoMSKey(k));
    }
    return result;
}

// ---------------------------------------------------------------------------
// Modulus packing
// ---------------------------------------------------------------------------

template <typename Fill>
ModPackKeyBundle KeyGeneratorImpl::makeModPackKeyBundle(const std::shared_ptr<ContextContent> &out,
                                                        const int *out_coefficients, u64 keys,
                                                        Fill &&fill) const {
    DeviceSpecificArray<int> array = zeroArray(getDegree(context_));
    // The output key comes first: a generator context that cannot hold an
    // RLWE key fails here, before the bundle exists.
    const RLWEKey output = interleavedOutput(context_, out, out_coefficients, array);
    ModPackKeyBundle result(context_, keys);
    for (u64 k = 0; k < keys; ++k) {
        clear(array);
        fill(k, array.getData());
        const RLWEKey temporary(context_, array.getData());
        genSwitchingKey(context_, decompose_data_, temporary.getSx(0), output.getSx(0),
                        *result.getModPackKey(k));
    }
    return result;
}

template <typename Out>
ModPackKeyBundle KeyGeneratorImpl::genModPackFromModule(const MLWEKey &in, const Out &out) const {
    const std::shared_ptr<ContextContent> &i_ctx = in.getContext();
    const std::shared_ptr<ContextContent> &o_ctx = out.getContext();
    checkModPackKeyBundleCondition(context_, i_ctx, o_ctx);
    const u64 r_out = getRank(o_ctx);
    const u64 d_in = getDegree(i_ctx);
    const u64 stride = getDegree(context_) / d_in;
    const int *source = in.getCoefficients();
    // Polynomials k r_out .. k r_out + r_out - 1 of the input, polynomial i
    // spread with the stride N / d_in and shifted by i.
    return makeModPackKeyBundle(o_ctx, out.getCoefficients(), getRank(i_ctx) / r_out,
                                [&](u64 k, int *a) {
                                    for (u64 i = 0; i < r_out; ++i)
                                        for (u64 j = 0; j < d_in; ++j)
                                            a[i + j * stride] = source[(k * r_out + i) * d_in + j];
                                });
}

template <typename Out>
ModPackKeyBundle KeyGeneratorImpl::genModPackFromLWE(const LWE::SecretKey &in,
                                                     const Out &out) const {
    const std::shared_ptr<ContextContent> &o_ctx = out.getContext();
    checkModPackKeyBundleCondition(context_, in.getContext(), o_ctx);
    const u64 r_out = getRank(o_ctx);
    const int *source = in.getCoefficients();
    // LWE coefficients k r_out .. k r_out + r_out - 1 in the first r_out
    // entries.
    return makeModPackKeyBundle(
        o_ctx, out.getCoefficients(), LWE::getDimension(in.getContext()) / r_out,
        [&](u64 k, int *a) { std::copy(source + k * r_out, source + (k + 1) * r_out, a); });
}

ModPackKeyBundle KeyGeneratorImpl::genModPackKeyBundle(const MLWEKey &in,
                                                       const MLWEKey &out) const {
    return genModPackFromModule(in, out);
}
ModPackKeyBundle KeyGeneratorImpl::genModPackKeyBundle(const MLWEKey &in,
                                                       const RLWEKey &out) const {
    return genModPackFromModule(in, out);
}
ModPackKeyBundle KeyGeneratorImpl::genModPackKeyBundle(const LWE::SecretKey &in,
                                                       const MLWEKey &out) const {
    return genModPackFromLWE(in, out);
}
ModPackKeyBundle KeyGeneratorImpl::genModPackKeyBundle(const LWE::SecretKey &in,
                                                       const RLWEKey &out) const {
    return genModPackFromLWE(in, out);
}

// ---------------------------------------------------------------------------
// Composite bundles
// ---------------------------------------------------------------------------

SStoMSBisectionKeyBundle KeyGeneratorImpl::makeBisection(const RLWEKey &ss,
                                                         const std::vector<MSRLWEKey> &ms) const {
    SStoMSKeyBundle sstoms = genSStoMSKeyBundle(ss, ms.front());
    std::vector<IncreaseNSKeyBundle> steps;
    steps.reserve(ms.size() - 1);
    for (u64 i = 0; i + 1 < ms.size(); ++i)
        steps.push_back(genIncreaseNSKeyBundle(ms[i], ms[i + 1]));
    return detail::KeyBundleAssembly::bisection(ss.getContext(), contextsOf(ms), std::move(sstoms),
                                                std::move(steps));
}

SStoMSBisectionKeyBundle
KeyGeneratorImpl::genSStoMSBisectionKeyBundle(const RLWEKey &ss,
                                              const std::vector<MSRLWEKey> &ms) const {
    checkBisection(context_, ss, ms);
    return makeBisection(ss, ms);
}

MultiSecretSwitchKeyBundle
KeyGeneratorImpl::genMultiSecretSwitchKeyBundle(const RLWEKey &ss,
                                                const std::vector<MSRLWEKey> &ms) const {
    const MSRLWEKey &last = lastKey(ms);
    checkMultiSecretSwitchKeyCondition(ss.getContext(), last.getContext());
    checkBisection(context_, ss, ms);
    checkMStoSS(last, ss);
    MStoSSKeyBundle mstoss = genMStoSSKeyBundle(last, ss);
    SStoMSBisectionKeyBundle bisection = makeBisection(ss, ms);
    return detail::KeyBundleAssembly::multiSecretSwitch(
        ss.getContext(), last.getContext(), std::nullopt, std::nullopt, std::move(mstoss),
        std::move(bisection), std::nullopt);
}

MultiSecretSwitchKeyBundle
KeyGeneratorImpl::genMultiSecretSwitchKeyBundle(const RLWEKey &ss, const std::vector<MSRLWEKey> &ms,
                                                const RLWEKey &ss2, const MSRLWEKey &ms2) const {
    const MSRLWEKey &last = lastKey(ms);
    const std::shared_ptr<ContextContent> &c1 = ss.getContext();
    checkMultiSecretSwitchKeyCondition(c1, last.getContext());
    checkMultiSecretSwitchKeyCondition(ss2.getContext(), ms2.getContext());
    checkBisection(context_, ss, ms);
    checkMStoSS(ms2, ss2);
    const bool coeff_boot = isCoeffBoot(c1);
    if (coeff_boot)
        checkMStoSS(last, ss);

    MStoSSKeyBundle mstoss = genMStoSSKeyBundle(ms2, ss2);
    SStoMSBisectionKeyBundle bisection = makeBisection(ss, ms);
    std::optional<MStoSSKeyBundle> complex;
    if (coeff_boot) {
        complex.emplace(genMStoSSKeyBundle(last, ss));
    } else {
        // Not generated: its keys hold zeros.
        complex.emplace(c1);
        for (u64 k = 0; k < complex->getNumKeys(); ++k) {
            EvaluationKey &key = *complex->getMStoSSKey(k);
            for (auto *list : {&detail::EvaluationKeyAccess::ax(key, kHostDevice),
                               &detail::EvaluationKeyAccess::bx(key, kHostDevice)})
                for (Polynomial &poly : *list)
                    zeroFill(poly);
        }
    }
    return detail::KeyBundleAssembly::multiSecretSwitch(c1, last.getContext(), ss2.getContext(),
                                                        ms2.getContext(), std::move(mstoss),
                                                        std::move(bisection), std::move(complex));
}

} // namespace Quelt
