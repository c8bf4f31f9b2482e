// The homomorphic DFTs of bootstrapping and the modulus raise between them:
// SlotToCoeff (one radix step per level, from the last step down to step 0),
// CoeffToSlot (step 0 up, leaving one rescale pending) and levelRecover.
//
// The step mechanics are shared with the multi-secret transforms (DftSteps.hpp).

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
using Complex = std::complex<double>;
using dft::emptyLike;
using dft::runStep;
using dft::shapeOf;
using dft::spendSurplusLevels;
using dft::StepShape;

// ---- Modulus raise --------------------------------------------------------------

void BootstrapperImpl::levelRecover(const Polynomial &in, Polynomial &out, u64 level) const {
    if (in.isNTT())
        throw RuntimeException(kRecoverNTTMessage);
    if (in.getLevel() != 0)
        throw RuntimeException(kRecoverPolyLevelMessage);
    const PrimeModuli &chain = context_->getPrimeModuli();
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
        throw RuntimeException(BootstrapperImpl::kRecoverLevelMessage);
    if (in.getRescaleCounter() != 0)
        throw RuntimeException(BootstrapperImpl::kRecoverCounterMessage);
    for (u64 i = 0; i < in.getNumPoly(); ++i)
        if (in.getPoly(i).isNTT())
            throw RuntimeException(BootstrapperImpl::kRecoverNTTMessage);
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

void BootstrapperImpl::levelRecover(const RingCiphertext &in, RingCiphertext &out,
                                    u64 level) const {
    levelRecoverCiphertext(*context_, in, out, level);
}

void BootstrapperImpl::levelRecover(const CiphertextMSRLWE &in, CiphertextMSRLWE &out,
                                    u64 level) const {
    levelRecoverCiphertext(*context_, in, out, level);
}

template <EncryptionType ET>
void BootstrapperImpl::raiseToTop(CiphertextBase<ET> &r) const {
    // The sparse secret's small norm keeps the integer part of the raised
    // value small.
    const u64 top = getLength(context_) - 1;
    if (isSparseSecretEncapsulationSupported(context_)) {
        const KeyPack &pack = eval_->getKeyPack();
        sparse_raise_.toSparse(r, pack);
        levelRecover(r, r, top);
        switchKeySTD(*eval_->getKeySwitcher(), pack, r, r, true);
        return;
    }
    if (r.getPoly(0).isNTT())
        r.backwardNTT();
    levelRecover(r, r, top);
    r.forwardNTT();
}

// ---- SlotToCoeff ------------------------------------------------------------------

template <EncryptionType ET>
void BootstrapperImpl::slotToCoeffSteps(const CiphertextBase<ET> &in,
                                        const BootConstants *constants,
                                        const RadixDecomposition &rd, u64 budget,
                                        CiphertextBase<ET> &result) const {
    const u64 n = rd.num_radices;
    const Device device = in.getDevice();
    // Levels of the budget beyond the radix steps go to the scale constant.
    spendSurplusLevels(*eval_, result, budget, n, boot_param_.s2c_scale);
    for (u64 k = n; k-- > 0;) {
        if (result.getDevice() != in.getDevice())
            throw RuntimeException(kDifferentDevicesMessage);
        runStep(*eval_, constants->getV0(device, k), shapeOf(rd, k, context_), min_key_, true,
                result, true);
    }
}

void BootstrapperImpl::slotToCoeff(const RingCiphertext &in, RingCiphertext &out) const {
    const u64 s = in.getLogSlots();
    const BootConstants *constants = constants_.placedConstants(s, in.getDevice(), true);
    const RadixDecomposition rd = boot_param_.getRadixDecForS2C(s);

    RingCiphertext result = emptyLike(in);
    // The one place of the multiplier on a full packed base modulus; other
    // contexts multiply before SlotToCoeff is called.
    if (isFullPackedBaseModulus(context_) && use_multiply_const_before_S2C_)
        eval_->multInteger(in, multiplier(boot_param_.mult_before_s2c), result);
    else
        result = in;
    slotToCoeffSteps(in, constants, rd, boot_param_.s2c_level_cost, result);
    out = std::move(result);
}

void BootstrapperImpl::levelDownAndSlotToCoeff(const RingCiphertext &in,
                                               RingCiphertext &out) const {
    if (in.getEncodingType() == EncodingType::COEFFICIENT)
        throw RuntimeException(kSlotEncodedMessage);
    // Under coefficient bootstrapping the SlotToCoeff constants sit above the
    // encryption level (the transform ends there, after a bootstrap), so the
    // input enters at the encryption level plus the transform's level budget;
    // level 0 would leave the transform no level to rescale into.
    const u64 target =
        isCoeffBoot(context_) ? getEncryptionLevel(context_) + boot_param_.s2c_level_cost : 3;
    if (in.getLevel() < target)
        throw RuntimeException(kSlotToCoeffLevelMessage + std::to_string(target));
    RingCiphertext t = emptyLike(in);
    eval_->levelDown(in, target, t);
    slotToCoeff(t, t);
    t.setEncodingType(EncodingType::COEFFICIENT);
    t.backwardNTT();
    out = std::move(t);
}

template <EncryptionType ET>
void BootstrapperImpl::slotToCoeffStepOf(const CiphertextBase<ET> &in, CiphertextBase<ET> result,
                                         std::pair<u64, u64> range, CiphertextBase<ET> &out) const {
    const u64 s = in.getLogSlots();
    const Device device = in.getDevice();
    const BootConstants *constants = constants_.placedConstants(s, device, true);
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
    const u64 slot_mask = (u64{1} << getLogFullSlots(context_)) - 1;
    for (u64 &a : shape.baby_amounts)
        a &= slot_mask;
    for (u64 &a : shape.giant_amounts)
        a &= slot_mask;

    // The step that ends SlotToCoeff spends the levels of the budget beyond
    // the steps of its split (the registered steps chained from bit 0).
    if (range.first == 0)
        spendSurplusLevels(*eval_, result, boot_param_.s2c_level_cost,
                           constants->countRegisteredSteps(0), boot_param_.s2c_scale);
    runStep(*eval_, diagonals, shape, min_key_, true, result, true);
    out = std::move(result);
}

void BootstrapperImpl::slotToCoeffSingleStep(const RingCiphertext &in, RingCiphertext &out,
                                             std::pair<u64, u64> range) const {
    slotToCoeffStepOf(in, in, range, out);
}

// ---- CoeffToSlot ------------------------------------------------------------------

template <EncryptionType ET>
void BootstrapperImpl::coeffToSlotScaling(CiphertextBase<ET> &ct, u64 budget, u64 steps,
                                          u64 log_slots) const {
    // The scale constant's share of the levels beyond the radix steps; the
    // last multiplication leaves its rescale to the caller.
    if (budget <= steps)
        return;
    const u64 full = getLogFullSlots(context_);
    const double d = boot_param_.c2s_scale / std::ldexp(1.0, static_cast<int>(full - log_slots));
    if (getParameterPreset(context_) == ParameterPreset::FVa && steps == 0) {
        const Complex c(std::sqrt(d), 0.0);
        eval_->multWithoutRescale(ct, c, ct);
        eval_->rescale(ct);
        eval_->multWithoutRescale(ct, c, ct);
        return;
    }
    const Complex c(std::pow(d, 1.0 / static_cast<double>(budget)), 0.0);
    for (u64 k = steps; k + 1 < budget; ++k) {
        eval_->multWithoutRescale(ct, c, ct);
        eval_->rescale(ct);
    }
    eval_->multWithoutRescale(ct, c, ct);
}

template <EncryptionType ET>
void BootstrapperImpl::coeffToSlotOf(const CiphertextBase<ET> &in, CiphertextBase<ET> &out) const {
    const u64 s = in.getLogSlots();
    const Device device = in.getDevice();
    const BootConstants *constants = constants_.placedConstants(s, device, false);
    const u64 L = boot_param_.c2s_level_cost;
    const RadixDecomposition rd = boot_param_.getRadixDecForC2S(s);
    const u64 n = rd.num_radices;

    const bool use_min_key = min_key_ || C2S_use_min_key_;
    CiphertextBase<ET> result = in;
    // On a fusing context step 0 finishes the modulus raise as well.
    u64 first = 0;
    if (n > 0 && isFuseModRaiseSupported(context_)) {
        firstStepOfC2S(result, result);
        first = 1;
    }
    for (u64 k = first; k < n; ++k) {
        if (result.getDevice() != in.getDevice())
            throw RuntimeException(kDifferentDevicesMessage);
        runStep(*eval_, constants->getInvV0(device, k), shapeOf(rd, k, context_), use_min_key, true,
                result, k + 1 != L);
    }
    coeffToSlotScaling(result, L, n, s);
    out = std::move(result);
}

void BootstrapperImpl::coeffToSlot(const RingCiphertext &in, RingCiphertext &out) const {
    coeffToSlotOf(in, out);
}

template void BootstrapperImpl::raiseToTop(RingCiphertext &) const;
template void BootstrapperImpl::raiseToTop(CiphertextMSRLWE &) const;
template void BootstrapperImpl::slotToCoeffSteps(const CiphertextMSRLWE &, const BootConstants *,
                                                 const RadixDecomposition &, u64,
                                                 CiphertextMSRLWE &) const;
template void BootstrapperImpl::slotToCoeffStepOf(const CiphertextMSRLWE &, CiphertextMSRLWE,
                                                  std::pair<u64, u64>, CiphertextMSRLWE &) const;
template void BootstrapperImpl::coeffToSlotScaling(CiphertextMSRLWE &, u64, u64, u64) const;
template void BootstrapperImpl::coeffToSlotOf(const CiphertextMSRLWE &, CiphertextMSRLWE &) const;

} // namespace Quelt
