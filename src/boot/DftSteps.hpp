#pragma once

// The mechanics of one radix step of the homomorphic DFTs, shared by the
// ring (RLWE) and the multi-secret (MSRLWE) transforms: the baby rotations,
// the inner products with the step's diagonals, the giant sum and the
// spending of the levels of a budget on a scale constant.
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

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Plaintext.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/RadixDecomposition.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace Quelt::dft {

using u64 = std::uint64_t;
using Complex = std::complex<double>;
using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;

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

inline StepShape shapeOf(const RadixDecomposition &rd, u64 step,
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

// The diagonal counts a step of this shape reads, checked before any work so
// that a short list is never read past its end.
inline void checkStep(const StepShape &shape, const std::vector<Plaintext> &diagonals) {
    const u64 b = shape.baby;
    const u64 g = shape.giant;
    if (b == 0 || g == 0 || (!shape.first && b < 2))
        throw RuntimeException(BootstrapperImpl::kStepShapeMessage);
    const u64 needed = shape.first ? b * g : b * g - 1;
    if (diagonals.size() < needed)
        throw RuntimeException(BootstrapperImpl::kDiagonalCountMessage);
}

// Block t of a step: its first diagonal, its length and its first baby
// rotation.
struct Block {
    u64 begin = 0;
    u64 count = 0;
    u64 first_baby = 0;
};

inline Block blockOf(const StepShape &shape, u64 t) {
    const u64 b = shape.baby;
    if (shape.first)
        return {t * b, b, 0};
    if (t == 0)
        return {0, b - 1, 1};
    return {t * b - 1, b, 0};
}

template <EncryptionType ET>
CiphertextBase<ET> emptyLike(const CiphertextBase<ET> &ct) {
    return CiphertextBase<ET>(ct.getContext(), false, true);
}

// The evaluator operations of a step, by encryption type.
inline void rotateLeft(const HomEvaluatorImpl &eval, const RingCiphertext &ct, u64 idx,
                       RingCiphertext &out) {
    eval.rotations().leftRotate(ct, idx, out);
}
inline void rotateLeft(const HomEvaluatorImpl &eval, const MsCiphertext &ct, u64 idx,
                       MsCiphertext &out) {
    eval.multiSecret().leftRotateMSRLWE(ct, idx, out);
}
inline void rotateRight(const HomEvaluatorImpl &eval, const RingCiphertext &ct, u64 idx,
                        RingCiphertext &out) {
    eval.rotations().rightRotate(ct, idx, out);
}
inline void rotateRight(const HomEvaluatorImpl &eval, const MsCiphertext &ct, u64 idx,
                        MsCiphertext &out) {
    eval.multiSecret().rightRotateMSRLWE(ct, idx, out);
}
inline void rotateHoisted(const HomEvaluatorImpl &eval, const RingCiphertext &ct,
                          const std::vector<u64> &idxs, std::vector<RingCiphertext> &outs) {
    eval.rotations().leftRotate(ct, idxs, outs);
}
inline void rotateHoisted(const HomEvaluatorImpl &eval, const MsCiphertext &ct,
                          const std::vector<u64> &idxs, std::vector<MsCiphertext> &outs) {
    eval.multiSecret().leftRotateMSRLWE(ct, idxs, outs);
}
inline void weightedSum(const HomEvaluatorImpl &eval, HomEvaluatorImpl::PlaintextIterator first,
                        HomEvaluatorImpl::PlaintextIterator last,
                        std::vector<RingCiphertext>::const_iterator cts, RingCiphertext &out) {
    eval.innerProduct(first, last, cts, out);
}
inline void weightedSum(const HomEvaluatorImpl &eval, HomEvaluatorImpl::PlaintextIterator first,
                        HomEvaluatorImpl::PlaintextIterator last,
                        std::vector<MsCiphertext>::const_iterator cts, MsCiphertext &out) {
    eval.multiSecret().innerProductMSRLWE(first, last, cts, out);
}
inline void rotatedSum(const HomEvaluatorImpl &eval, const std::vector<RingCiphertext> &cts,
                       const std::vector<u64> &idxs, RingCiphertext &out) {
    eval.rotations().rotSum(cts, idxs, out);
}
inline void rotatedSum(const HomEvaluatorImpl &eval, const std::vector<MsCiphertext> &cts,
                       const std::vector<u64> &idxs, MsCiphertext &out) {
    eval.multiSecret().rotSumMSRLWE(cts, idxs, out);
}
// The giant sum then the rescale; the ring form makes both in one pass.
inline void rotatedSumRescaled(const HomEvaluatorImpl &eval, const std::vector<RingCiphertext> &cts,
                               const std::vector<u64> &idxs, RingCiphertext &out) {
    eval.rotations().rotSumRescale(cts, idxs, out);
}
inline void rotatedSumRescaled(const HomEvaluatorImpl &eval, const std::vector<MsCiphertext> &cts,
                               const std::vector<u64> &idxs, MsCiphertext &out) {
    eval.multiSecret().rotSumMSRLWE(cts, idxs, out);
    eval.levels().rescale(out);
}

// The giant sum with only the rotations by u = b d (and its negation):
// block t must end rotated left by (t - g/2) u. With `cyclic` (step 0, g >=
// 3, where g u is the slot period) a Horner chain of right rotations runs
// once around; otherwise the upper half climbs by left rotations and the
// lower half by right rotations.
template <EncryptionType ET>
void minKeyGiantSum(const HomEvaluatorImpl &eval, const std::vector<CiphertextBase<ET>> &gs, u64 u,
                    bool cyclic, CiphertextBase<ET> &out) {
    const u64 g = gs.size();
    const u64 h = g / 2;
    CiphertextBase<ET> rotated = emptyLike(gs[0]);
    if (cyclic) {
        CiphertextBase<ET> acc = gs[h + 1];
        for (u64 j = h + 2; j <= h + g; ++j) {
            rotateRight(eval, acc, u, rotated);
            eval.add(rotated, gs[j % g], acc);
        }
        out = std::move(acc);
        return;
    }
    CiphertextBase<ET> acc = gs[g - 1];
    for (u64 index = g - 1; index > h; --index) {
        rotateLeft(eval, acc, u, rotated);
        eval.add(rotated, gs[index - 1], acc);
    }
    if (g >= 2) {
        CiphertextBase<ET> v = emptyLike(gs[0]);
        rotateRight(eval, gs[0], u, v);
        for (u64 t = 1; t < h; ++t) {
            eval.add(v, gs[t], rotated);
            rotateRight(eval, rotated, u, v);
        }
        eval.add(acc, v, acc);
    }
    out = std::move(acc);
}

// ct = the step's matrix times ct, then rescaled when `rescale`; without it
// the rescale is left to the caller (counter 1 afterwards).
template <EncryptionType ET>
void runStep(const HomEvaluatorImpl &eval, const std::vector<Plaintext> &diagonals,
             const StepShape &shape, bool min_key, bool cyclic_allowed, CiphertextBase<ET> &ct,
             bool rescale = false) {
    checkStep(shape, diagonals);
    const u64 b = shape.baby;
    const u64 g = shape.giant;

    std::vector<CiphertextBase<ET>> bs;
    if (min_key) {
        bs.reserve(b);
        bs.push_back(ct);
        for (u64 j = 1; j < b; ++j) {
            bs.push_back(emptyLike(ct));
            rotateLeft(eval, bs[j - 1], shape.stride, bs[j]);
        }
    } else {
        // Ring outputs of the right count keep their storage: made here one
        // by one, they are not copies of a prototype (a fresh allocation and
        // a copy of its words each).
        if constexpr (ET == EncryptionType::RLWE) {
            bs.reserve(shape.baby_amounts.size());
            for (u64 j = 0; j < shape.baby_amounts.size(); ++j)
                bs.push_back(emptyLike(ct));
        }
        rotateHoisted(eval, ct, shape.baby_amounts, bs);
    }

    std::vector<CiphertextBase<ET>> gs;
    gs.reserve(g);
    for (u64 t = 0; t < g; ++t) {
        const Block block = blockOf(shape, t);
        const auto first = diagonals.cbegin() + static_cast<std::ptrdiff_t>(block.begin);
        gs.push_back(emptyLike(ct));
        weightedSum(eval, first, first + static_cast<std::ptrdiff_t>(block.count),
                    bs.cbegin() + static_cast<std::ptrdiff_t>(block.first_baby), gs.back());
    }

    if (min_key) {
        minKeyGiantSum(eval, gs, b * shape.stride, cyclic_allowed && shape.first && g >= 3, ct);
        if (rescale)
            eval.levels().rescale(ct);
    } else if (rescale) {
        rotatedSumRescaled(eval, gs, shape.giant_amounts, ct);
    } else {
        rotatedSum(eval, gs, shape.giant_amounts, ct);
    }
}

// The levels of a budget beyond the radix steps, each spent as a
// multiplication by c = scale^(1 / budget) and a rescale: while the remaining
// count (starting at `budget`) exceeds `steps`.
template <EncryptionType ET>
void spendSurplusLevels(const HomEvaluatorImpl &eval, CiphertextBase<ET> &ct, u64 budget, u64 steps,
                        double scale) {
    if (budget <= steps)
        return;
    const Complex constant(std::pow(scale, 1.0 / static_cast<double>(budget)), 0.0);
    for (u64 remaining = budget; remaining > steps; --remaining) {
        eval.constants().multWithoutRescale(ct, constant, ct);
        eval.levels().rescale(ct);
    }
}

} // namespace Quelt::dft
