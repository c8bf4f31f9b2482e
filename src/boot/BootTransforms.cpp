// The homomorphic DFTs of bootstrapping and the modulus raise between them:
// SlotToCoeff (one radix step per level, from the last step down to step 0),
// CoeffToSlot (step 0 up, leaving one rescale pending) and levelRecover.
//
// The step mechanics are shared with the multi-secret transforms (DftSteps.hpp).

#include "boot/BootTransforms.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/DftSteps.hpp"
#include "boot/RadixDecomposition.hpp"
#include "boot/SparseSecretSwitch.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/KeySwitcher.hpp"

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quelt {

using u64 = std::uint64_t;
using RingCiphertext = BootTransforms::RingCiphertext;
using CiphertextMSRLWE = BootTransforms::CiphertextMSRLWE;
using Complex = std::complex<double>;
using dft::emptyLike;
using dft::runStep;
using dft::shapeOf;
using dft::spendSurplusLevels;
using dft::StepShape;

// ---- Modulus raise --------------------------------------------------------------

BootTransforms::BootTransforms(const BootstrapperImpl &boot) : boot_(boot) {}

void BootTransforms::levelRecover(const Polynomial &in, Polynomial &out, u64 level) const {
    if (in.isNTT())
        throw RuntimeException(BootstrapperMessages::kRecoverNTTMessage);
    if (in.getLevel() != 0)
        throw RuntimeException(BootstrapperMessages::kRecoverPolyLevelMessage);
    const PrimeModuli &chain = boot_.getContext()->getPrimeModuli();
    if (&in == &out) {
        const Polynomial source = in;
        out.setLevel(level);
        chain.normalizeMod(out, source, 0, level);
        return;
    }
    out.setLevel(level);
    chain.normalizeMod(out, in, 0, level);
}

namespace {

template <EncryptionType ET>
void levelRecoverCiphertext(const ContextContent &context, const CiphertextBase<ET> &in,
                            CiphertextBase<ET> &out, u64 level) {
    if (in.getLevel() != 0)
        throw RuntimeException(BootstrapperMessages::kRecoverLevelMessage);
    if (in.getRescaleCounter() != 0)
        throw RuntimeException(BootstrapperMessages::kRecoverCounterMessage);
    for (u64 i = 0; i < in.getNumPoly(); ++i)
        if (in.getPoly(i).isNTT())
            throw RuntimeException(BootstrapperMessages::kRecoverNTTMessage);
    const PrimeModuli &chain = context.getPrimeModuli();
    // Built apart from out, which may be in.
    CiphertextBase<ET> raised(in.getContext(), false, false);
    raised.setNumPoly(in.getNumPoly());
    raised.setLevel(level);
    for (u64 i = 0; i < in.getNumPoly(); ++i)
        chain.normalizeMod(raised.getPoly(i), in.getPoly(i), 0, level);
    raised.setLogSlots(in.getLogSlots());
    raised.setEncodingType(in.getEncodingType());
    out = std::move(raised);
}

} // namespace

void BootTransforms::levelRecover(const RingCiphertext &in, RingCiphertext &out, u64 level) const {
    levelRecoverCiphertext(*boot_.getContext(), in, out, level);
}

void BootTransforms::levelRecover(const CiphertextMSRLWE &in, CiphertextMSRLWE &out,
                                  u64 level) const {
    levelRecoverCiphertext(*boot_.getContext(), in, out, level);
}

template <EncryptionType ET>
void BootTransforms::raiseToTop(CiphertextBase<ET> &r) const {
    // The sparse secret's small norm keeps the integer part of the raised
    // value small.
    const u64 top = getLength(boot_.getContext()) - 1;
    if (isSparseSecretEncapsulationSupported(boot_.getContext())) {
        const KeyPack &pack = boot_.getEvaluator()->getKeyPack();
        boot_.getSparseRaise().toSparse(r, pack);
        levelRecover(r, r, top);
        switchKeySTD(*boot_.getEvaluator()->getKeySwitcher(), pack, r, r, true);
        return;
    }
    if (r.getPoly(0).isNTT())
        r.backwardNTT();
    levelRecover(r, r, top);
    r.forwardNTT();
}

template <EncryptionType ET>
void BootTransforms::raiseFused(CiphertextBase<ET> &r) const {
    if (isSparseSecretEncapsulationSupported(boot_.getContext())) {
        // Onto the sparse secret, in coefficient form, before the raise.
        boot_.getSparseRaise().toSparse(r, boot_.getEvaluator()->getKeyPack());
    } else if (r.getPoly(0).isNTT()) {
        r.backwardNTT();
    }
    boot_.getFusedRaise().prepare(r);
}

// ---- SlotToCoeff ------------------------------------------------------------------

template <EncryptionType ET>
void BootTransforms::slotToCoeffSteps(const CiphertextBase<ET> &in, const BootConstants *constants,
                                      const RadixDecomposition &rd, u64 budget,
                                      CiphertextBase<ET> &result) const {
    const u64 n = rd.num_radices;
    const Device device = in.getDevice();
    // Levels of the budget beyond the radix steps go to the scale constant.
    spendSurplusLevels(*boot_.getEvaluator(), result, budget, n,
                       boot_.getBootParameter().s2c_scale);
    for (u64 k = n; k-- > 0;) {
        if (result.getDevice() != in.getDevice())
            throw RuntimeException(BootstrapperMessages::kDifferentDevicesMessage);
        runStep(*boot_.getEvaluator(), constants->getV0(device, k),
                shapeOf(rd, k, boot_.getContext()), boot_.getModes().min_key, true, result, true);
    }
}

void BootTransforms::slotToCoeff(const RingCiphertext &in, RingCiphertext &out) const {
    const u64 s = in.getLogSlots();
    const BootConstants *constants = boot_.getConstants().placedConstants(s, in.getDevice(), true);
    const RadixDecomposition rd = boot_.getBootParameter().getRadixDecForS2C(s);

    RingCiphertext result = emptyLike(in);
    // The one place of the multiplier on a full packed base modulus; other
    // contexts multiply before SlotToCoeff is called.
    if (isFullPackedBaseModulus(boot_.getContext()) && boot_.getModes().multiply_const_before_s2c)
        boot_.getEvaluator()->constants().multInteger(
            in, BootstrapperImpl::multiplier(boot_.getBootParameter().mult_before_s2c), result);
    else
        result = in;
    slotToCoeffSteps(in, constants, rd, boot_.getBootParameter().s2c_level_cost, result);
    out = std::move(result);
}

void BootTransforms::levelDownAndSlotToCoeff(const RingCiphertext &in, RingCiphertext &out) const {
    if (in.getEncodingType() == EncodingType::COEFFICIENT)
        throw RuntimeException(BootstrapperMessages::kSlotEncodedMessage);
    // Under coefficient bootstrapping the SlotToCoeff constants sit above the
    // encryption level (the transform ends there, after a bootstrap), so the
    // input enters at the encryption level plus the transform's level budget;
    // level 0 would leave the transform no level to rescale into.
    const u64 target = isCoeffBoot(boot_.getContext()) ? getEncryptionLevel(boot_.getContext()) +
                                                             boot_.getBootParameter().s2c_level_cost
                                                       : 3;
    if (in.getLevel() < target)
        throw RuntimeException(BootstrapperMessages::kSlotToCoeffLevelMessage +
                               std::to_string(target));
    RingCiphertext t = emptyLike(in);
    boot_.getEvaluator()->levels().levelDown(in, target, t);
    slotToCoeff(t, t);
    t.setEncodingType(EncodingType::COEFFICIENT);
    t.backwardNTT();
    out = std::move(t);
}

template <EncryptionType ET>
void BootTransforms::slotToCoeffStepOf(const CiphertextBase<ET> &in, CiphertextBase<ET> result,
                                       std::pair<u64, u64> range, CiphertextBase<ET> &out) const {
    const u64 s = in.getLogSlots();
    const Device device = in.getDevice();
    const BootConstants *constants = boot_.getConstants().placedConstants(s, device, true);
    if (constants == nullptr)
        throw std::out_of_range("map::at");
    const RadixDecompositionElement &e = constants->getRadixDecompElem(range);
    const std::vector<Plaintext> &diagonals = constants->getV0(device, range, in.getLevel());

    StepShape shape;
    shape.baby = e.baby_step;
    shape.giant = e.giant_step;
    shape.stride = e.stride;
    shape.first = range.first == 0;
    shape.baby_amounts = e.baby_rot_indices;
    shape.giant_amounts = e.giant_rot_indices;
    // The element's amounts are signed values carried in 64-bit words.
    const u64 slot_mask = (u64{1} << getLogFullSlots(boot_.getContext())) - 1;
    for (u64 &a : shape.baby_amounts)
        a &= slot_mask;
    for (u64 &a : shape.giant_amounts)
        a &= slot_mask;

    // The step that ends SlotToCoeff spends the levels of the budget beyond
    // the steps of its split (the registered steps chained from bit 0).
    if (range.first == 0)
        spendSurplusLevels(*boot_.getEvaluator(), result, boot_.getBootParameter().s2c_level_cost,
                           constants->countRegisteredSteps(0), boot_.getBootParameter().s2c_scale);
    runStep(*boot_.getEvaluator(), diagonals, shape, boot_.getModes().min_key, true, result, true);
    out = std::move(result);
}

void BootTransforms::slotToCoeffSingleStep(const RingCiphertext &in, RingCiphertext &out,
                                           std::pair<u64, u64> range) const {
    slotToCoeffStepOf(in, in, range, out);
}

// ---- CoeffToSlot ------------------------------------------------------------------

template <EncryptionType ET>
void BootTransforms::coeffToSlotScaling(CiphertextBase<ET> &ct, u64 budget, u64 steps,
                                        u64 log_slots) const {
    // The scale constant's share of the levels beyond the radix steps; the
    // last multiplication leaves its rescale to the caller.
    if (budget <= steps)
        return;
    const u64 full = getLogFullSlots(boot_.getContext());
    const double d =
        boot_.getBootParameter().c2s_scale / std::ldexp(1.0, static_cast<int>(full - log_slots));
    if (getParameterPreset(boot_.getContext()) == ParameterPreset::FVa && steps == 0) {
        const Complex c(std::sqrt(d), 0.0);
        boot_.getEvaluator()->constants().multWithoutRescale(ct, c, ct);
        boot_.getEvaluator()->levels().rescale(ct);
        boot_.getEvaluator()->constants().multWithoutRescale(ct, c, ct);
        return;
    }
    const Complex c(std::pow(d, 1.0 / static_cast<double>(budget)), 0.0);
    for (u64 k = steps; k + 1 < budget; ++k) {
        boot_.getEvaluator()->constants().multWithoutRescale(ct, c, ct);
        boot_.getEvaluator()->levels().rescale(ct);
    }
    boot_.getEvaluator()->constants().multWithoutRescale(ct, c, ct);
}

template <EncryptionType ET>
void BootTransforms::coeffToSlotOf(const CiphertextBase<ET> &in, CiphertextBase<ET> &out) const {
    const u64 s = in.getLogSlots();
    const Device device = in.getDevice();
    const BootConstants *constants = boot_.getConstants().placedConstants(s, device, false);
    const u64 L = boot_.getBootParameter().c2s_level_cost;
    const RadixDecomposition rd = boot_.getBootParameter().getRadixDecForC2S(s);
    const u64 n = rd.num_radices;

    const bool use_min_key = boot_.getModes().min_key || boot_.getModes().c2s_use_min_key;
    CiphertextBase<ET> result = in;
    // On a fusing context step 0 finishes the modulus raise as well.
    u64 first = 0;
    if (n > 0 && isFuseModRaiseSupported(boot_.getContext())) {
        boot_.getFusedRaise().firstStepOfC2S(result, result, boot_.getBootParameter());
        first = 1;
    }
    for (u64 k = first; k < n; ++k) {
        if (result.getDevice() != in.getDevice())
            throw RuntimeException(BootstrapperMessages::kDifferentDevicesMessage);
        runStep(*boot_.getEvaluator(), constants->getInvV0(device, k),
                shapeOf(rd, k, boot_.getContext()), use_min_key, true, result, k + 1 != L);
    }
    coeffToSlotScaling(result, L, n, s);
    out = std::move(result);
}

void BootTransforms::coeffToSlot(const RingCiphertext &in, RingCiphertext &out) const {
    coeffToSlotOf(in, out);
}

template void BootTransforms::raiseToTop(RingCiphertext &) const;
template void BootTransforms::raiseToTop(CiphertextMSRLWE &) const;
template void BootTransforms::raiseFused(RingCiphertext &) const;
template void BootTransforms::raiseFused(CiphertextMSRLWE &) const;
template void BootTransforms::slotToCoeffSteps(const CiphertextMSRLWE &, const BootConstants *,
                                               const RadixDecomposition &, u64,
                                               CiphertextMSRLWE &) const;
template void BootTransforms::slotToCoeffStepOf(const CiphertextMSRLWE &, CiphertextMSRLWE,
                                                std::pair<u64, u64>, CiphertextMSRLWE &) const;
template void BootTransforms::coeffToSlotScaling(CiphertextMSRLWE &, u64, u64, u64) const;
template void BootTransforms::coeffToSlotOf(const CiphertextMSRLWE &, CiphertextMSRLWE &) const;

} // namespace Quelt
