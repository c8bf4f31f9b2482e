// The level operations of the evaluator (rescale, inverseRescale, levelDown,
// levelDownOne) and the conversions of ring ciphertexts (discretize,
// baseModulusSwitch, switchContext, modReduct).

#include "eval/HomEvaluatorImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "client/ConstantEnDecoder.hpp"
#include "context/CiphertextImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "context/ScaleFactors.hpp"
#include "eval/EvaluatorDetail.hpp"
#include "eval/Precondition.hpp"

#include <cmath>
#include <utility>
#include <vector>

namespace Quelt {

using detail::prepareOutput;

namespace {

using RlweCiphertext = CiphertextBase<EncryptionType::RLWE>;

// The checks of the level-0 coefficient-form kernels (discretize,
// baseModulusSwitch), run on every polynomial before the first is changed.
void throwUnlessLevelZeroCoefficients(const RlweCiphertext &ct) {
    for (u64 i = 0; i < ct.getNumPoly(); ++i) {
        const Polynomial &p = ct.getPoly(i);
        if (p.getLevel() != 0)
            throw RuntimeException(PrimeModuli::kLevelZeroMessage);
        if (p.isNTT())
            throw RuntimeException(PrimeModuli::kNotInNTTMessage);
    }
}

} // namespace

template <EncryptionType ET>
void HomEvaluatorImpl::rescaleChecked(CiphertextBase<ET> &ct) const {
    const PrimeModuli &chain = context_->getPrimeModuli();
    const int counter = ct.getRescaleCounter();
    if (ct.getNumPoly() == 2) {
        chain.rescaleTwo(ct.getPoly(0), ct.getPoly(1));
    } else {
        for (u64 i = 0; i < ct.getNumPoly(); ++i)
            chain.rescale(ct.getPoly(i));
    }
    ct.setRescaleCounter(counter - 1);
}

template <EncryptionType ET>
void HomEvaluatorImpl::rescale(CiphertextBase<ET> &ct) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*context_, ct, "rescale", "ciphertext");
    if (ct.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (ct.getRescaleCounter() <= 0)
        throw RuntimeException(kRescaleCounterNotPositive);
    rescaleChecked(ct);
}

void HomEvaluatorImpl::inverseRescale(RlweCiphertext &ct) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*context_, ct, "inverseRescale", "ciphertext");
    const u64 level = ct.getLevel();
    if (level + 1 >= getLength(context_))
        throw RuntimeException(kInverseRescaleAtTop);
    const int counter = ct.getRescaleCounter() + 1;
    CiphertextImpl<EncryptionType::RLWE>::checkRescaleCounter(counter, level + 1);
    const PrimeModuli &chain = context_->getPrimeModuli();
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        chain.inverseRescale(ct.getPoly(i));
    ct.setRescaleCounter(counter);
}

template <EncryptionType ET>
void HomEvaluatorImpl::levelDown(const CiphertextBase<ET> &ct, u64 target_level,
                                 CiphertextBase<ET> &out) const {
    const u64 level = ct.getLevel();
    if (target_level > level)
        throw RuntimeException(kTargetAboveLevel);
    utils::throwIfCoeff(ct);
    utils::requireContext(*context_, ct, "levelDown", "ciphertext");
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCounterNotZero);
    if (target_level == level) {
        if (&out != &ct)
            out = ct;
        return;
    }
    // Cut to level t + 1 and multiplied by 2^e at the scale of that level,
    // then divided by q_(t+1): the result has the scale of level t, with the
    // correction (stored negated) that the level's default scale carries.
    const ScaleFactors &factors = context_->getScaleFactors();
    const u64 above = target_level + 1;
    const double e = static_cast<double>(factors.getCorrection(above)) +
                     factors.getScaleFactor(above) - factors.getScaleFactor(level);
    const LevelledElement c = ConstantEnDecoder(context_).encodeConst(std::pow(2.0, e), above, 0);
    // The product takes the constant's level: the limbs above t + 1 are never
    // read or copied.
    multConstant(ct, c, nullptr, out);
    utils::copyMetaData(ct, out);
    out.setRescaleCounter(1);
    rescaleChecked(out);
}

template <EncryptionType ET>
void HomEvaluatorImpl::levelDownOne(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*context_, ct, "levelDownOne", "ciphertext");
    if (ct.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCounterNotZero);
    multWithoutRescale(ct, Complex(1.0, 0.0), out);
    rescaleChecked(out);
}

void HomEvaluatorImpl::discretize(RlweCiphertext &ct, u64 s) const {
    utils::requireContext(*context_, ct, "discretize", "ciphertext");
    throwUnlessLevelZeroCoefficients(ct);
    const PrimeModuli &chain = context_->getPrimeModuli();
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        chain.discretize(ct.getPoly(i), context_, s);
}

void HomEvaluatorImpl::baseModulusSwitch(const RlweCiphertext &ct, RlweCiphertext &out) const {
    const u64 n = getDegree(context_);
    const std::shared_ptr<ContextContent> &target = out.getContext();
    if (getDegree(target) != n)
        throw RuntimeException(kDifferentDegrees);
    utils::requireContext(*context_, ct, "baseModulusSwitch", "ciphertext");
    throwUnlessLevelZeroCoefficients(ct);
    const u64 t = getPrimeList(target).front();
    const Device device = ct.getDevice();
    const PrimeModuli &chain = context_->getPrimeModuli();
    if (out.getNumPoly() != ct.getNumPoly())
        out.setNumPoly(ct.getNumPoly());
    out.setLevel(0);
    out.allocate(device);
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        chain.baseModulusSwitch(ct.getPoly(i), n, t, out.getPoly(i));
    utils::copyMetaData(ct, out);
}

void HomEvaluatorImpl::switchContext(const RlweCiphertext &ct, RlweCiphertext &out) const {
    RlweCiphertext moved(out.getContext(), ct);
    // The residues keep their meaning only over the same primes.
    const std::vector<u64> from = getPrimeList(ct.getContext());
    const std::vector<u64> to = getPrimeList(out.getContext());
    for (u64 i = 0; i <= ct.getLevel(); ++i)
        if (from.at(i) != to.at(i))
            throw RuntimeException(CiphertextImpl<EncryptionType::RLWE>::kIncompatibleContext);
    out = std::move(moved);
}

void HomEvaluatorImpl::modReduct(RlweCiphertext &ct) const {
    context_->getPrimeModuli().modReduct(ct);
}

#define QUELT_EVALUATOR_LEVELS(ET)                                                                 \
    template void HomEvaluatorImpl::rescale(CiphertextBase<ET> &) const;                           \
    template void HomEvaluatorImpl::levelDown(const CiphertextBase<ET> &, u64,                     \
                                              CiphertextBase<ET> &) const;                         \
    template void HomEvaluatorImpl::levelDownOne(const CiphertextBase<ET> &, CiphertextBase<ET> &) \
        const;                                                                                     \
    template void HomEvaluatorImpl::rescaleChecked(CiphertextBase<ET> &) const;

QUELT_EVALUATOR_LEVELS(EncryptionType::MLWE)
QUELT_EVALUATOR_LEVELS(EncryptionType::RLWE)
QUELT_EVALUATOR_LEVELS(EncryptionType::MSRLWE)

#undef QUELT_EVALUATOR_LEVELS

} // namespace Quelt
