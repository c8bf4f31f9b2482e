// The homomorphic DFTs of bootstrapping and the modulus raise between them:
// SlotToCoeff (one radix step per level, from the last step down to step 0),
// CoeffToSlot (step 0 up, leaving one rescale pending) and levelRecover.
//
// A radix step with baby count b, giant count g and stride d multiplies the
// ciphertext by the step's matrix as a sum of g giant blocks: block t is the
// inner product of its diagonals with the b baby rotations (by 0, d, ...,
// (b - 1) d) of the input, rotated once by its giant amount. The diagonals
// are stored pre-rotated by the giant amount of their block (BootConstants),
// so the giant rotations act on b times fewer ciphertexts. Step 0 has b x g
// diagonals, block t starting at t b; a later step has b x g - 1, block 0
// pairing its b - 1 diagonals with baby rotations 1..b-1 and block t >= 1
// starting at t b - 1.

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/RadixDecomposition.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using RingCiphertext = BootstrapperImpl::RingCiphertext;
using Complex = std::complex<double>;

// What one radix step needs besides its diagonals.
struct StepShape {
    u64 baby = 0;
    u64 giant = 0;
    u64 stride = 0;
    // Step 0: plain blocks; later steps: blocks shifted by one diagonal.
    bool first = false;
    // Rotation amounts (non-negative) of the hoisted baby steps and of the
    // giant rotation sum, one per baby step and one per block.
    std::vector<u64> baby_amounts;
    std::vector<u64> giant_amounts;
};

StepShape shapeOf(const RadixDecomposition &rd, u64 step,
                  const std::shared_ptr<ContextContent> &context) {
    StepShape shape;
    shape.baby = rd.baby_steps[step];
    shape.giant = rd.giant_steps[step];
    shape.stride = rd.strides[step];
    shape.first = step == 0;
    shape.baby_amounts =
        BootstrapperImpl::convertFromSgnIdx(rd.getRotIndicesForBabyStep(step, false), context);
    shape.giant_amounts =
        BootstrapperImpl::convertFromSgnIdx(rd.getRotIndicesForGiantStep(step, false), context);
    return shape;
}

RingCiphertext emptyLike(const RingCiphertext &ct) {
    return RingCiphertext(ct.getContext(), false, true);
}

// The giant sum with only the rotations by u = b d (and its negation):
// block t must end rotated left by (t - g/2) u. With `cyclic` (step 0, g >=
// 3, where g u is the slot period) a Horner chain of right rotations runs
// once around; otherwise the upper half climbs by left rotations and the
// lower half by right rotations.
void minKeyGiantSum(const HomEvaluatorImpl &eval, const std::vector<RingCiphertext> &gs, u64 u,
                    bool cyclic, RingCiphertext &out) {
    const u64 g = gs.size();
    const u64 h = g / 2;
    RingCiphertext rotated = emptyLike(gs[0]);
    if (cyclic) {
        RingCiphertext acc = gs[h + 1];
        for (u64 j = h + 2; j <= h + g; ++j) {
            eval.rightRotate(acc, u, rotated);
            eval.add(rotated, gs[j % g], acc);
        }
        out = std::move(acc);
        return;
    }
    RingCiphertext acc = gs[g - 1];
    for (u64 index = g - 1; index > h; --index) {
        eval.leftRotate(acc, u, rotated);
        eval.add(rotated, gs[index - 1], acc);
    }
    if (g >= 2) {
        RingCiphertext v = emptyLike(gs[0]);
        eval.rightRotate(gs[0], u, v);
        for (u64 t = 1; t < h; ++t) {
            eval.add(v, gs[t], rotated);
            eval.rightRotate(rotated, u, v);
        }
        eval.add(acc, v, acc);
    }
    out = std::move(acc);
}

// ct = the step's matrix times ct, with the rescale left to the caller
// (counter 1 afterwards).
void runStep(const HomEvaluatorImpl &eval, const std::vector<Plaintext> &diagonals,
             const StepShape &shape, bool min_key, bool cyclic_allowed, RingCiphertext &ct) {
    const u64 b = shape.baby;
    const u64 g = shape.giant;
    if (b == 0 || g == 0 || (!shape.first && b < 2))
        throw RuntimeException(BootstrapperImpl::kStepShapeMessage);
    const u64 needed = shape.first ? b * g : b * g - 1;
    if (diagonals.size() < needed)
        throw RuntimeException(BootstrapperImpl::kDiagonalCountMessage);

    std::vector<RingCiphertext> bs;
    if (min_key) {
        bs.reserve(b);
        bs.push_back(ct);
        for (u64 j = 1; j < b; ++j) {
            bs.push_back(emptyLike(ct));
            eval.leftRotate(bs[j - 1], shape.stride, bs[j]);
        }
    } else {
        eval.leftRotate(ct, shape.baby_amounts, bs);
    }

    std::vector<RingCiphertext> gs;
    gs.reserve(g);
    for (u64 t = 0; t < g; ++t) {
        u64 begin = t * b;
        u64 count = b;
        auto cts = bs.cbegin();
        if (!shape.first) {
            if (t == 0) {
                count = b - 1;
                ++cts;
            } else {
                begin = t * b - 1;
            }
        }
        const auto first = diagonals.cbegin() + static_cast<std::ptrdiff_t>(begin);
        gs.push_back(emptyLike(ct));
        eval.innerProduct(first, first + static_cast<std::ptrdiff_t>(count), cts, gs.back());
    }

    if (min_key)
        minKeyGiantSum(eval, gs, b * shape.stride, cyclic_allowed && shape.first && g >= 3, ct);
    else
        eval.rotSum(gs, shape.giant_amounts, ct);
}

} // namespace

const BootConstants *BootstrapperImpl::placedConstants(u64 log_slots, const Device &device,
                                                       bool s2c) const {
    if (log_slots == 0)
        return nullptr;
    const auto it = boot_constants_.find(log_slots);
    if (it == boot_constants_.end() || !it->second)
        throw RuntimeException(kMissingConstantsPrefix + std::to_string(log_slots) +
                               kMissingConstantsSuffix);
    // The entry guards its device copies with its own mutex.
    if (s2c)
        it->second->copyToIfNotExistsV0(device);
    else
        it->second->copyToIfNotExistsInvV0(device);
    return it->second.get();
}

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

// ---- SlotToCoeff ------------------------------------------------------------------

void BootstrapperImpl::slotToCoeff(const RingCiphertext &in, RingCiphertext &out) const {
    const u64 s = in.getLogSlots();
    const Device device = in.getDevice();
    placedConstants(s, device, true);
    const BootConstants *constants = boot_constants_.at(s).get();
    const RadixDecomposition rd = boot_param_.getRadixDecForS2C(s);
    const u64 n = rd.num_radices;

    RingCiphertext result = emptyLike(in);
    // The one place of the multiplier on a full packed base modulus; other
    // contexts multiply before SlotToCoeff is called.
    if (isFullPackedBaseModulus(context_) && use_multiply_const_before_S2C_)
        eval_->multInteger(in, multiplier(boot_param_.mult_before_s2c), result);
    else
        result = in;

    // Levels of the budget beyond the radix steps go to the scale constant.
    const u64 cost = boot_param_.s2c_level_cost;
    if (cost > n) {
        const Complex c(std::pow(boot_param_.s2c_scale, 1.0 / static_cast<double>(cost)), 0.0);
        for (u64 remaining = cost; remaining > n; --remaining) {
            eval_->multWithoutRescale(result, c, result);
            eval_->rescale(result);
        }
    }
    for (u64 k = n; k-- > 0;) {
        if (result.getDevice() != in.getDevice())
            throw RuntimeException(kDifferentDevicesMessage);
        runStep(*eval_, constants->getV0(device, k), shapeOf(rd, k, context_), min_key_, true,
                result);
        eval_->rescale(result);
    }
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

void BootstrapperImpl::slotToCoeffSingleStep(const RingCiphertext &in, RingCiphertext &out,
                                             std::pair<u64, u64> range) const {
    const u64 s = in.getLogSlots();
    const Device device = in.getDevice();
    placedConstants(s, device, true);
    const BootConstants *constants = boot_constants_.at(s).get();
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

    RingCiphertext result = in;
    // The step that ends SlotToCoeff spends the levels of the budget beyond
    // the steps of its split (the registered steps chained from bit 0).
    const u64 cost = boot_param_.s2c_level_cost;
    const u64 steps = constants->countRegisteredSteps(0);
    if (range.first == 0 && cost > steps) {
        const Complex c(std::pow(boot_param_.s2c_scale, 1.0 / static_cast<double>(cost)), 0.0);
        for (u64 remaining = cost; remaining > steps; --remaining) {
            eval_->multWithoutRescale(result, c, result);
            eval_->rescale(result);
        }
    }
    runStep(*eval_, diagonals, shape, min_key_, true, result);
    eval_->rescale(result);
    out = std::move(result);
}

// ---- CoeffToSlot ------------------------------------------------------------------

void BootstrapperImpl::coeffToSlot(const RingCiphertext &in, RingCiphertext &out) const {
    const u64 s = in.getLogSlots();
    const Device device = in.getDevice();
    placedConstants(s, device, false);
    const BootConstants *constants = boot_constants_.at(s).get();
    const u64 L = boot_param_.c2s_level_cost;
    const RadixDecomposition rd = boot_param_.getRadixDecForC2S(s);
    const u64 n = rd.num_radices;

    const bool use_min_key = min_key_ || C2S_use_min_key_;
    RingCiphertext result = in;
    // On a fusing context step 0 finishes the modulus raise as well.
    u64 first = 0;
    if (n > 0 && isFuseModRaiseSupported(context_)) {
        firstStepOfC2S(result, result);
        first = 1;
    }
    for (u64 k = first; k < n; ++k) {
        runStep(*eval_, constants->getInvV0(device, k), shapeOf(rd, k, context_), use_min_key, true,
                result);
        if (k + 1 != L)
            eval_->rescale(result);
    }
    // The scale constant's share of the levels beyond the radix steps; the
    // last multiplication leaves its rescale to the caller.
    if (L > n) {
        const u64 full = getLogFullSlots(context_);
        const double d = boot_param_.c2s_scale / std::ldexp(1.0, static_cast<int>(full - s));
        if (getParameterPreset(context_) == ParameterPreset::FVa && n == 0) {
            const Complex c(std::sqrt(d), 0.0);
            eval_->multWithoutRescale(result, c, result);
            eval_->rescale(result);
            eval_->multWithoutRescale(result, c, result);
        } else {
            const Complex c(std::pow(d, 1.0 / static_cast<double>(L)), 0.0);
            for (u64 k = n; k + 1 < L; ++k) {
                eval_->multWithoutRescale(result, c, result);
                eval_->rescale(result);
            }
            eval_->multWithoutRescale(result, c, result);
        }
    }
    out = std::move(result);
}

} // namespace Quelt
