#include "lwe/LWEHomEvaluatorImpl.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Ciphertext.hpp"
#include "client/ConstantEnDecoder.hpp"
#include "foundation/WordArith.hpp"
#include "lwe/LWECiphertextImpl.hpp"
#include "lwe/LWEContext.hpp"
#include "lwe/LWEPrecondition.hpp"

#include <cmath>

namespace Quelt::LWE {

using detail::checkOperand;
using detail::checkOutput;

namespace {

// A constant within this distance of an integer is multiplied as that integer.
constexpr double kIntegerTolerance = 1e-8;

void moveTo(LevelledElement &element, const Device &device) {
    if (element.getDevice() != device)
        element.to(device);
}

} // namespace

HomEvaluatorImpl::HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context)
    : context_(checkedContext(context)) {}

void HomEvaluatorImpl::negate(const Ciphertext &ct, Ciphertext &out) const {
    checkOperand(ct, *context_);
    checkOutput(out, *context_);
    const int counter = ct.getRescaleCounter();
    const PrimeModuli &chain = context_->getPrimeModuli();
    chain.negate(ct.getAx(), out.getAx());
    chain.negate(ct.getBx(), out.getBx());
    out.setRescaleCounter(counter);
}

void HomEvaluatorImpl::add(const Ciphertext &ct, const double &c, Ciphertext &out) const {
    const u64 level = checkOperand(ct, *context_);
    checkOutput(out, *context_);
    const int counter = ct.getRescaleCounter();
    LevelledElement m = ConstantEnDecoder(context_).encodeConst(c, level, counter);
    moveTo(m, ct.getDevice());
    if (&out != &ct)
        out.getAx() = ct.getAx();
    context_->getPrimeModuli().add(ct.getBx(), m, out.getBx());
    out.setRescaleCounter(counter);
}

void HomEvaluatorImpl::sub(const Ciphertext &ct, const double &c, Ciphertext &out) const {
    add(ct, -c, out);
}

void HomEvaluatorImpl::add(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out) const {
    addOrSub(ct1, ct2, out, false);
}

void HomEvaluatorImpl::sub(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out) const {
    addOrSub(ct1, ct2, out, true);
}

void HomEvaluatorImpl::addOrSub(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out,
                                bool subtract) const {
    const u64 level1 = ct1.getLevel();
    const u64 level2 = ct2.getLevel();
    utils::checkPrecondition(ct1, ct2);
    checkOperand(ct1, *context_);
    checkOperand(ct2, *context_);
    checkOutput(out, *context_);
    const int counter = ct1.getRescaleCounter();

    // The operand at the higher level is brought down into a temporary; the
    // order of the operands stays.
    Ciphertext lowered(context_);
    const Ciphertext *a = &ct1;
    const Ciphertext *b = &ct2;
    if (level1 > level2) {
        levelDown(ct1, level2, lowered);
        a = &lowered;
    } else if (level2 > level1) {
        levelDown(ct2, level1, lowered);
        b = &lowered;
    }

    const PrimeModuli &chain = context_->getPrimeModuli();
    if (subtract) {
        chain.sub(a->getAx(), b->getAx(), out.getAx());
        chain.sub(a->getBx(), b->getBx(), out.getBx());
    } else {
        chain.add(a->getAx(), b->getAx(), out.getAx());
        chain.add(a->getBx(), b->getBx(), out.getBx());
    }
    out.setRescaleCounter(counter);
}

void HomEvaluatorImpl::multInteger(const Ciphertext &ct, long n, Ciphertext &out) const {
    const u64 level = checkOperand(ct, *context_);
    checkOutput(out, *context_);
    if (n == 1) {
        if (&out != &ct)
            out = ct;
        return;
    }
    if (n == -1) {
        negate(ct, out);
        return;
    }
    LevelledElement c(n, context_, level);
    moveTo(c, ct.getDevice());
    multResidues(ct, c, ct.getRescaleCounter(), out);
}

void HomEvaluatorImpl::mult(const Ciphertext &ct, const double &c, Ciphertext &out) const {
    const u64 level = checkOperand(ct, *context_);
    checkOutput(out, *context_);
    const double k = std::round(c);
    // NaN and infinities fail this test and reach the encoder, which refuses
    // them.
    if (std::fabs(c - k) <= kIntegerTolerance) {
        if (!(k >= -0x1p63 && k < 0x1p63))
            throw RuntimeException(kConstantOutOfLongRange);
        multInteger(ct, static_cast<long>(k), out);
        return;
    }
    if (level == 0)
        throw RuntimeException(kLevelZero);
    multWithoutRescale(ct, c, out);
    rescaleChecked(out);
}

void HomEvaluatorImpl::multWithoutRescale(const Ciphertext &ct, const double &c,
                                          Ciphertext &out) const {
    const u64 level = checkOperand(ct, *context_);
    checkOutput(out, *context_);
    LevelledElement m = ConstantEnDecoder(context_).encodeConst(c, level, 0);
    const int counter = ct.getRescaleCounter() + 1;
    CiphertextImpl::checkRescaleCounter(counter, level);
    moveTo(m, ct.getDevice());
    multResidues(ct, m, counter, out);
}

void HomEvaluatorImpl::multResidues(const Ciphertext &ct, const LevelledElement &c, int counter,
                                    Ciphertext &out) const {
    const PrimeModuli &chain = context_->getPrimeModuli();
    chain.constMult(ct.getAx(), c, out.getAx());
    chain.mult(ct.getBx(), c, out.getBx());
    out.setRescaleCounter(counter);
}

void HomEvaluatorImpl::rescale(Ciphertext &ct) const {
    const u64 level = checkOperand(ct, *context_);
    if (level == 0)
        throw RuntimeException(kLevelZero);
    if (ct.getRescaleCounter() <= 0)
        throw RuntimeException(kRescaleCounterNotPositive);
    rescaleChecked(ct);
}

void HomEvaluatorImpl::rescaleChecked(Ciphertext &ct) const {
    const int counter = ct.getRescaleCounter();
    const PrimeModuli &chain = context_->getPrimeModuli();
    chain.rescale(ct.getAx());
    chain.rescale(ct.getBx());
    ct.setRescaleCounter(counter - 1);
}

void HomEvaluatorImpl::levelDown(const Ciphertext &ct, u64 target_level, Ciphertext &out) const {
    const u64 level = checkOperand(ct, *context_);
    checkOutput(out, *context_);
    if (level < target_level)
        throw RuntimeException(kTargetAboveLevel);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCounterNotZero);
    if (target_level == level) {
        if (&out != &ct)
            out = ct;
        return;
    }
    dropLevels(ct, target_level, out);
}

void HomEvaluatorImpl::dropLevels(const Ciphertext &ct, u64 target_level, Ciphertext &out) const {
    const ScaleFactors &factors = context_->getScaleFactors();
    const u64 level = ct.getLevel();
    const double upper = factors.getScaleFactor(target_level + 1);
    const double current = factors.getScaleFactor(level);
    // At level t + 1 the value still carries 2^sf[level]; multiplying by
    // 2^(sf[t + 1] - sf[level]) at the scale 2^sf[t + 1] and dividing by
    // q_(t + 1) leaves 2^(2 sf[t + 1] - log2 q_(t + 1)) = 2^sf[t].
    if (&out != &ct)
        out = ct;
    out.setLevel(target_level + 1);
    multWithoutRescale(out, std::pow(2.0, upper - current), out);
    rescaleChecked(out);
}

void HomEvaluatorImpl::levelDownOne(const Ciphertext &ct, Ciphertext &out) const {
    const u64 level = checkOperand(ct, *context_);
    checkOutput(out, *context_);
    if (level == 0)
        throw RuntimeException(kLevelZero);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCounterNotZero);
    multWithoutRescale(ct, 1.0, out);
    rescaleChecked(out);
}

} // namespace Quelt::LWE
