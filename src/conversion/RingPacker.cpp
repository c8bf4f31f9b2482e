#include "Quelt/RingPacker.hpp"

#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "conversion/ModulusSwitcher.hpp"
#include "conversion/RingPackerDetail.hpp"
#include "conversion/RingSwitcher.hpp"
#include "eval/KeySwitcher.hpp"
#include "eval/Precondition.hpp"
#include "keys/RingSwitchKeyAccess.hpp"
#include "lwe/LWECiphertextImpl.hpp"
#include "lwe/LWEContext.hpp"

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
using ModuleCiphertext = CiphertextBase<EncryptionType::MLWE>;

constexpr const char *kUnPackLWECountMessage =
    "[unPack] Input Ciphertext degree should be equal to the number of output LWE Ciphertexts";
constexpr const char *kUnPackMLWECountMessage =
    "[unPack] Input Ciphertext degree should be equal to the sum of the degree of output MLWE "
    "Ciphertexts";
constexpr const char *kUnPackLevelMessage =
    "[unPack] The level of given ciphertext is more than the level of max encryption level of the "
    "output ciphertext(s)";
constexpr const char *kDecomposeDegreeMessage =
    "[decompose] Degree of output ciphertext(s) should divide of degree input ciphertext";
constexpr const char *kDecomposeCountMessage =
    "[decompose] The dimension of output ciphertext(s) should be equal to input ciphertext unless "
    "the case of extracting a single ciphertext";
constexpr const char *kDecomposeLevelMessage =
    "[decompose] The level of given ciphertext is more than the level of max encryption level of "
    "the output ciphertext(s)";
constexpr const char *kComposeDegreeMessage =
    "[compose] Degree of input ciphertext(s) should divide of degree output ciphertext";
constexpr const char *kComposeCountMessage =
    "[compose] The dimension of input ciphertext(s) should be equal to output ciphertext unless "
    "the case of embedding a single ciphertext";
constexpr const char *kComposeLevelMessage =
    "[compose] The input ciphertexts should be at one level";
constexpr const char *kPolynomialCountMessage =
    "[RingPacker] The ciphertext does not have the polynomial count of its kind.";

void checkNotNTT(const Polynomial &p) {
    if (p.isNTT())
        throw RuntimeException(RingSwitcher::kNotNTTMessage);
}

template <EncryptionType ET>
void checkNumPoly(const CiphertextBase<ET> &ct, u64 count) {
    if (ct.getNumPoly() != count)
        throw RuntimeException(kPolynomialCountMessage);
}

// The body and the mask of an RLWE ciphertext in coefficient form.
void checkPlainPair(const RingCiphertext &ct) {
    checkNumPoly(ct, 2);
    checkNotNTT(ct.getPoly(0));
    checkNotNTT(ct.getPoly(1));
}

// Coefficient form and the shared checks of both LWE unpackings after the
// level check: two coefficient-form polynomials, an LWE dimension of N, every
// output's chain agreeing with in's up to the level, and a counter the LWE
// ciphertexts accept at that level.
void checkLWEOutputs(const RingCiphertext &in, const std::vector<LWE::Ciphertext *> &outs) {
    const u64 level = in.getLevel();
    const std::shared_ptr<LWE::ContextContent> &lwe = outs.front()->getContext();
    for (const LWE::Ciphertext *out : outs) {
        detail::checkContextsAgree(in.getContext(), out->getContext(), level);
        if (LWE::getDimension(out->getContext()) != getDegree(in.getContext()))
            throw RuntimeException(RingSwitcher::kTotalDimensionMessage);
        if (out->getContext() != lwe)
            detail::checkContextsAgree(lwe, out->getContext(), level);
    }
    checkPlainPair(in);
    LWE::CiphertextImpl::checkRescaleCounter(in.getRescaleCounter(), level);
}

void unPackToLWE(const RingCiphertext &in, const std::vector<LWE::Ciphertext *> &outs, bool one) {
    for (const LWE::Ciphertext *out : outs)
        detail::checkNotNull(out);
    detail::checkDistinct(outs);
    detail::checkCoefficientEncoded(in);
    const std::shared_ptr<LWE::ContextContent> &lwe = outs.front()->getContext();
    const u64 level = in.getLevel();
    if (level > LWE::getEncryptionLevel(lwe))
        throw RuntimeException(kUnPackLevelMessage);
    checkLWEOutputs(in, outs);

    const RingSwitcher switcher;
    LevelledVector a(lwe);
    switcher.split(in.getPoly(1), a);
    const PrimeModuli &chain = lwe->getPrimeModuli();
    if (one) {
        LWE::Ciphertext &out = *outs.front();
        out.setLevel(level);
        switcher.extract(in.getPoly(0), out.getBx());
        chain.conjugateInvert(a, out.getAx(), 0);
    } else {
        std::vector<LevelledElement *> bodies(outs.size());
        std::vector<LevelledVector *> masks(outs.size());
        for (u64 k = 0; k < outs.size(); ++k) {
            bodies[k] = &outs[k]->getBx();
            masks[k] = &outs[k]->getAx();
        }
        switcher.split(in.getPoly(0), bodies);
        chain.conjugateInvertBatch(a, masks);
    }
    for (LWE::Ciphertext *out : outs)
        out->setRescaleCounter(in.getRescaleCounter());
}

void unPackToMLWE(const RingCiphertext &in, const std::vector<ModuleCiphertext *> &outs, bool one) {
    for (const ModuleCiphertext *out : outs)
        detail::checkNotNull(out);
    detail::checkDistinct(outs);
    detail::checkCoefficientEncoded(in);
    const std::shared_ptr<ContextContent> &module = outs.front()->getContext();
    const u64 level = in.getLevel();
    if (level > getEncryptionLevel(module))
        throw RuntimeException(kUnPackLevelMessage);
    const u64 N = getDegree(in.getContext());
    const u64 n = getDegree(module);
    const u64 r = getRank(module);
    if (r * n != N)
        throw RuntimeException(RingSwitcher::kTotalDimensionMessage);
    for (const ModuleCiphertext *out : outs) {
        detail::checkContextsAgree(in.getContext(), out->getContext(), level);
        if (getDegree(out->getContext()) != n || getRank(out->getContext()) != r)
            throw RuntimeException(RingSwitcher::kTotalDimensionMessage);
        checkNumPoly(*out, r + 1);
    }
    checkPlainPair(in);

    const RingSwitcher switcher;
    std::vector<Polynomial> classes(r, Polynomial(module, false, false));
    std::vector<Polynomial *> class_ptrs(r);
    for (u64 t = 0; t < r; ++t)
        class_ptrs[t] = &classes[t];
    switcher.split(in.getPoly(1), class_ptrs);
    if (one) {
        outs.front()->setLevel(level);
        switcher.extract(in.getPoly(0), outs.front()->getPoly(0));
    } else {
        std::vector<Polynomial *> bodies(outs.size());
        for (u64 i = 0; i < outs.size(); ++i)
            bodies[i] = &outs[i]->getPoly(0);
        switcher.split(in.getPoly(0), bodies);
    }
    // Class i of a s is sum_t A_(i-t) s_t over t <= i plus X A_(r+i-t) s_t
    // over t > i (the classes wrapping past X^n = -1 pick up one X).
    const PrimeModuli &chain = module->getPrimeModuli();
    for (u64 i = 0; i < outs.size(); ++i) {
        ModuleCiphertext &out = *outs[i];
        for (u64 t = 0; t < r; ++t) {
            if (t <= i)
                out.getPoly(t + 1) = classes[i - t];
            else
                chain.multMonomial(classes[r + i - t], out.getPoly(t + 1), 1);
        }
        detail::setPackedMetaData(out, in.getRescaleCounter());
    }
}

// b + a s' with (b, a) over the key's extended basis switched by the key:
// modUpPQ of the mask, the inner product with the key, one division by P
// into coefficient form, and body added.
void switchInKeyContext(const Polynomial &body, const Polynomial &mask, EvaluationKey &key,
                        RingCiphertext &result) {
    const std::shared_ptr<ContextContent> &ctx = key.getContext();
    const KeySwitcher switcher(ctx);
    std::vector<Polynomial> digits;
    switcher.modUpPQ(mask, digits);
    const RingCiphertext extended = switcher.multEvalKey(digits, key);
    switcher.getFastBaseConv().modDown(extended.getPolyVector(), result.getPolyVector(), false);
    ctx->getPrimeModuli().add(result.getPoly(0), body, result.getPoly(0));
}

// The key's context after the checks every ring switch makes on it: a
// context of the degree N.
const std::shared_ptr<ContextContent> &checkedKeyContext(const EvaluationKey &key, u64 N) {
    const std::shared_ptr<ContextContent> &ctx = key.getContext();
    if (!ctx || getDegree(ctx) != N)
        throw RuntimeException(RingSwitcher::kIncompatibleContextMessage);
    return ctx;
}

// The polynomial-level checks of a conjugate-invariant conversion: the
// degree relation, then the primes of the limbs in use.
void checkConversion(const Polynomial &in, const Polynomial &out, bool to_real) {
    if (to_real && out.getDegree() != (in.getDegree() >> 1))
        throw RuntimeException(RingSwitcher::kHalfDegreeMessage);
    if (!to_real && in.getDegree() != (out.getDegree() >> 1))
        throw RuntimeException(RingSwitcher::kTwiceDegreeMessage);
    const u64 level = in.getLevel();
    detail::checkPrimesAgree(in.getPrimes(), out.getPrimes(), level);
}

// The copy leaves the words in in's form (coefficients or transform values),
// so out takes in's transform flag: an output flagged otherwise would be read
// in the wrong form.
void convert(const Polynomial &in, Polynomial &out, bool to_real) {
    const RingSwitcher switcher;
    if (to_real)
        switcher.conjInvToCyclic(in, out);
    else
        switcher.cyclicToConjInv(in, out);
    out.setNTT(in.isNTT());
}

template <EncryptionType ET>
void convertCiphertext(const CiphertextBase<ET> &in, CiphertextBase<ET> &out, bool to_real) {
    for (u64 p = 0; p < in.getNumPoly(); ++p)
        checkConversion(in.getPoly(p), out.getPoly(0), to_real);
    out.setNumPoly(in.getNumPoly());
    for (u64 p = 0; p < in.getNumPoly(); ++p)
        convert(in.getPoly(p), out.getPoly(p), to_real);
}

} // namespace

void RingPacker::unPackOneOutput(const RingCiphertext &in, LWE::Ciphertext &out) const {
    unPackToLWE(in, {&out}, true);
}

void RingPacker::unPack(const RingCiphertext &in,
                        const std::vector<LWE::Ciphertext *> &outs) const {
    if (outs.size() != getDegree(in.getContext()))
        throw RuntimeException(kUnPackLWECountMessage);
    unPackToLWE(in, outs, false);
}

void RingPacker::unPackOneOutput(const RingCiphertext &in, ModuleCiphertext &out) const {
    unPackToMLWE(in, {&out}, true);
}

void RingPacker::unPack(const RingCiphertext &in,
                        const std::vector<ModuleCiphertext *> &outs) const {
    for (const ModuleCiphertext *out : outs)
        detail::checkNotNull(out);
    if (outs.empty() ||
        getDegree(outs.front()->getContext()) * outs.size() != getDegree(in.getContext()))
        throw RuntimeException(kUnPackMLWECountMessage);
    unPackToMLWE(in, outs, false);
}

void RingPacker::decompose(const RingCiphertext &in, const RingSwitchKey &key,
                           std::vector<RingCiphertext *> &outs) const {
    for (const RingCiphertext *out : outs)
        detail::checkNotNull(out);
    detail::checkDistinct(outs);
    const u64 N = getDegree(in.getContext());
    if (outs.empty())
        throw RuntimeException(kDecomposeCountMessage);
    const std::shared_ptr<ContextContent> &small = outs.front()->getContext();
    const u64 n = getDegree(small);
    if (n == 0 || N % n != 0)
        throw RuntimeException(kDecomposeDegreeMessage);
    if (outs.size() != 1 && outs.size() != N / n)
        throw RuntimeException(kDecomposeCountMessage);
    detail::checkCoefficientEncoded(in);
    const u64 level = in.getLevel();
    if (level > getEncryptionLevel(small))
        throw RuntimeException(kDecomposeLevelMessage);
    checkPlainPair(in);
    EvaluationKey &evk = detail::RingSwitchKeyAccess::key(key);
    const std::shared_ptr<ContextContent> &large = checkedKeyContext(evk, N);
    detail::checkContextsAgree(in.getContext(), large, level);
    for (const RingCiphertext *out : outs) {
        if (getDegree(out->getContext()) != n)
            throw RuntimeException(kDecomposeDegreeMessage);
        detail::checkContextsAgree(out->getContext(), large, level);
        checkNumPoly(*out, 2);
    }

    const RingCiphertext copy(large, in);
    RingCiphertext switched(large, false, false);
    switchInKeyContext(copy.getPoly(0), copy.getPoly(1), evk, switched);

    const RingSwitcher switcher;
    for (u64 p = 0; p < 2; ++p) {
        if (outs.size() == 1) {
            switcher.extract(switched.getPoly(p), outs.front()->getPoly(p));
        } else {
            std::vector<Polynomial *> parts(outs.size());
            for (u64 k = 0; k < outs.size(); ++k)
                parts[k] = &outs[k]->getPoly(p);
            switcher.split(switched.getPoly(p), parts);
        }
    }
    for (RingCiphertext *out : outs)
        detail::setPackedMetaData(*out, in.getRescaleCounter());
}

void RingPacker::compose(const std::vector<const RingCiphertext *> &ins, const RingSwitchKey &key,
                         RingCiphertext &out) const {
    for (const RingCiphertext *in : ins)
        detail::checkNotNull(in);
    const u64 N = getDegree(out.getContext());
    if (ins.empty())
        throw RuntimeException(kComposeCountMessage);
    const RingCiphertext &first = *ins.front();
    const u64 n = getDegree(first.getContext());
    if (n == 0 || N % n != 0)
        throw RuntimeException(kComposeDegreeMessage);
    if (ins.size() != 1 && ins.size() != N / n)
        throw RuntimeException(kComposeCountMessage);
    detail::checkCoefficientEncoded(first);
    for (const RingCiphertext *in : ins)
        utils::checkPrecondition(first, *in);
    const u64 level = first.getLevel();
    EvaluationKey &evk = detail::RingSwitchKeyAccess::key(key);
    const std::shared_ptr<ContextContent> &large = checkedKeyContext(evk, N);
    for (const RingCiphertext *in : ins) {
        checkPlainPair(*in);
        if (getDegree(in->getContext()) != n)
            throw RuntimeException(kComposeDegreeMessage);
        if (in->getLevel() != level)
            throw RuntimeException(kComposeLevelMessage);
        detail::checkContextsAgree(in->getContext(), out.getContext(), level);
    }
    detail::checkContextsAgree(out.getContext(), large, level);
    checkNumPoly(out, 2);
    for (const RingCiphertext *in : ins)
        if (in == &out)
            throw RuntimeException(RingSwitcher::kAliasedOutputMessage);

    const RingSwitcher switcher;
    for (u64 p = 0; p < 2; ++p) {
        if (ins.size() == 1) {
            switcher.embed(first.getPoly(p), out.getPoly(p));
        } else {
            std::vector<const Polynomial *> parts(ins.size());
            for (u64 t = 0; t < ins.size(); ++t)
                parts[t] = &ins[t]->getPoly(p);
            switcher.combine(parts, out.getPoly(p));
        }
    }
    // The switch runs in the key's context; out's residues are those of its
    // primes (checked above), so it is placed there for the call.
    RingCiphertext placed(large, out);
    const Polynomial body = placed.getPoly(0);
    switchInKeyContext(body, placed.getPoly(1), evk, placed);
    for (u64 p = 0; p < 2; ++p)
        out.getPoly(p) = placed.getPoly(p);
    out.setLogSlots(getLogFullSlots(large));
    out.setRescaleCounter(first.getRescaleCounter());
    out.setEncodingType(EncodingType::COEFFICIENT);
}

void RingPacker::conversionToReal(const Plaintext &in, Plaintext &out) const {
    checkConversion(in.getMx(), out.getMx(), true);
    convert(in.getMx(), out.getMx(), true);
}

template <EncryptionType ET>
void RingPacker::conversionToReal(const CiphertextBase<ET> &in, CiphertextBase<ET> &out) const {
    convertCiphertext(in, out, true);
}

void RingPacker::conversionToComplex(const Plaintext &in, Plaintext &out) const {
    checkConversion(in.getMx(), out.getMx(), false);
    convert(in.getMx(), out.getMx(), false);
}

void RingPacker::conversionToComplex(const RingCiphertext &in, RingCiphertext &out) const {
    convertCiphertext(in, out, false);
}

template void RingPacker::conversionToReal(const CiphertextBase<EncryptionType::RLWE> &,
                                           CiphertextBase<EncryptionType::RLWE> &) const;
template void RingPacker::conversionToReal(const CiphertextBase<EncryptionType::MSRLWE> &,
                                           CiphertextBase<EncryptionType::MSRLWE> &) const;

void RingPacker::switchModulus(const CiphertextBase<EncryptionType::RLWE> &in,
                               CiphertextBase<EncryptionType::RLWE> &out,
                               std::uint64_t level) const {
    ModulusSwitcher().switchModulus(in, out, level);
}

} // namespace Quelt
