// The level operations of the evaluator (rescale, inverseRescale, levelDown,
// levelDownOne) and the conversions of ring ciphertexts (discretize,
// baseModulusSwitch, switchContext, modReduct).

#include "eval/LevelEvaluator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "client/ConstantEnDecoder.hpp"
#include "context/CiphertextImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "context/ScaleFactors.hpp"
#include "eval/ConstantEvaluator.hpp"
#include "eval/EvaluatorDetail.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/Precondition.hpp"

#include <cmath>
#include <complex>
#include <utility>
#include <vector>

namespace Quelt {

using detail::prepareOutput;
using Complex = std::complex<double>;
using RingCiphertext = LevelEvaluator::RingCiphertext;

namespace {

// The checks of the level-0 coefficient-form kernels (discretize,
// baseModulusSwitch), run on every polynomial before the first is changed.
void throwUnlessLevelZeroCoefficients(const RingCiphertext &ct) {
    for (u64 i = 0; i < ct.getNumPoly(); ++i) {
        const Polynomial &p = ct.getPoly(i);
        if (p.getLevel() != 0)
            throw RuntimeException(PrimeModuli::kLevelZeroMessage);
        if (p.isNTT())
            throw RuntimeException(PrimeModuli::kNotInNTTMessage);
    }
}

} // namespace

LevelEvaluator::LevelEvaluator(const HomEvaluatorImpl &eval) : eval_(eval) {}

template <EncryptionType ET>
void LevelEvaluator::rescaleChecked(CiphertextBase<ET> &ct) const {
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
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
void LevelEvaluator::rescale(CiphertextBase<ET> &ct) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*eval_.getContext(), ct, "rescale", "ciphertext");
    if (ct.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (ct.getRescaleCounter() <= 0)
        throw RuntimeException(kRescaleCounterNotPositive);
    rescaleChecked(ct);
}

void LevelEvaluator::inverseRescale(RingCiphertext &ct) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*eval_.getContext(), ct, "inverseRescale", "ciphertext");
    const u64 level = ct.getLevel();
    if (level + 1 >= getLength(eval_.getContext()))
        throw RuntimeException(kInverseRescaleAtTop);
    const int counter = ct.getRescaleCounter() + 1;
    CiphertextImpl<EncryptionType::RLWE>::checkRescaleCounter(counter, level + 1);
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        chain.inverseRescale(ct.getPoly(i));
    ct.setRescaleCounter(counter);
}

template <EncryptionType ET>
void LevelEvaluator::levelDown(const CiphertextBase<ET> &ct, u64 target_level,
                               CiphertextBase<ET> &out) const {
    const u64 level = ct.getLevel();
    if (target_level > level)
        throw RuntimeException(kTargetAboveLevel);
    utils::throwIfCoeff(ct);
    utils::requireContext(*eval_.getContext(), ct, "levelDown", "ciphertext");
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
    const ScaleFactors &factors = eval_.getContext()->getScaleFactors();
    const u64 above = target_level + 1;
    const double e = static_cast<double>(factors.getCorrection(above)) +
                     factors.getScaleFactor(above) - factors.getScaleFactor(level);
    const LevelledElement c =
        ConstantEnDecoder(eval_.getContext()).encodeConst(std::pow(2.0, e), above, 0);
    // The product takes the constant's level: the limbs above t + 1 are never
    // read or copied.
    eval_.constants().multConstant(ct, c, nullptr, out);
    utils::copyMetaData(ct, out);
    out.setRescaleCounter(1);
    rescaleChecked(out);
}

template <EncryptionType ET>
void LevelEvaluator::levelDownOne(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*eval_.getContext(), ct, "levelDownOne", "ciphertext");
    if (ct.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCounterNotZero);
    eval_.constants().multWithoutRescale(ct, Complex(1.0, 0.0), out);
    rescaleChecked(out);
}

void LevelEvaluator::discretize(RingCiphertext &ct, u64 s) const {
    utils::requireContext(*eval_.getContext(), ct, "discretize", "ciphertext");
    throwUnlessLevelZeroCoefficients(ct);
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        chain.discretize(ct.getPoly(i), eval_.getContext(), s);
}

void LevelEvaluator::baseModulusSwitch(const RingCiphertext &ct, RingCiphertext &out) const {
    const u64 n = getDegree(eval_.getContext());
    const std::shared_ptr<ContextContent> &target = out.getContext();
    if (getDegree(target) != n)
        throw RuntimeException(kDifferentDegrees);
    utils::requireContext(*eval_.getContext(), ct, "baseModulusSwitch", "ciphertext");
    throwUnlessLevelZeroCoefficients(ct);
    const u64 t = getPrimeList(target).front();
    const Device device = ct.getDevice();
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    if (out.getNumPoly() != ct.getNumPoly())
        out.setNumPoly(ct.getNumPoly());
    out.setLevel(0);
    out.allocate(device);
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        chain.baseModulusSwitch(ct.getPoly(i), n, t, out.getPoly(i));
    utils::copyMetaData(ct, out);
}

void LevelEvaluator::switchContext(const RingCiphertext &ct, RingCiphertext &out) const {
    RingCiphertext moved(out.getContext(), ct);
    // The residues keep their meaning only over the same primes.
    const std::vector<u64> from = getPrimeList(ct.getContext());
    const std::vector<u64> to = getPrimeList(out.getContext());
    for (u64 i = 0; i <= ct.getLevel(); ++i)
        if (from.at(i) != to.at(i))
            throw RuntimeException(CiphertextImpl<EncryptionType::RLWE>::kIncompatibleContext);
    out = std::move(moved);
}

void LevelEvaluator::modReduct(RingCiphertext &ct) const {
    eval_.getContext()->getPrimeModuli().modReduct(ct);
}

#define QUELT_EVALUATOR_LEVELS(ET)                                                                 \
    template void LevelEvaluator::rescale(CiphertextBase<ET> &) const;                             \
    template void LevelEvaluator::levelDown(const CiphertextBase<ET> &, u64, CiphertextBase<ET> &) \
        const;                                                                                     \
    template void LevelEvaluator::levelDownOne(const CiphertextBase<ET> &, CiphertextBase<ET> &)   \
        const;                                                                                     \
    template void LevelEvaluator::rescaleChecked(CiphertextBase<ET> &) const;

QUELT_EVALUATOR_LEVELS(EncryptionType::MLWE)
QUELT_EVALUATOR_LEVELS(EncryptionType::RLWE)
QUELT_EVALUATOR_LEVELS(EncryptionType::MSRLWE)

#undef QUELT_EVALUATOR_LEVELS

} // namespace Quelt
