// The homomorphic DFTs of bootstrapping for multi-secret ciphertexts. They
// share the step mechanics of the ring transforms (DftSteps.hpp) and differ
// in the split, the level budget and the context handling described at each
// function. Every rotation and inner product of a multi-secret ciphertext
// needs the multi-secret key-switch kernel, which this build lacks, so each
// transform stops at the first one it reaches, after its own checks.

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/DftSteps.hpp"
#include "boot/MultiSecretRoad.hpp"
#include "boot/RadixDecomposition.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "context/PolynomialVector.hpp"
#include "conversion/ModulusSwitcher.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using MsCiphertext = MultiSecretRoad::CiphertextMSRLWE;

// A multi-secret ciphertext whose key-switched body parts are still over the
// extended basis (not yet divided by P): the value is ct + bx / P. No bx
// means no such parts (the input and its sums with other plain ones).
struct LazyCiphertext {
    MsCiphertext ct;
    std::optional<PolynomialVector> bx;
};

// x rotated left (right) by idx, its extended parts carried along. A
// rotation by a multiple of the slot count is x itself.
LazyCiphertext lazyRotate(const HomEvaluatorImpl &eval, const LazyCiphertext &x, u64 idx,
                          bool left) {
    const std::shared_ptr<ContextContent> &context = eval.getContext();
    if ((idx & ((u64{1} << getLogFullSlots(context)) - 1)) == 0)
        return x;
    LazyCiphertext r{dft::emptyLike(x.ct),
                     PolynomialVector(context, x.ct.getNumSecret(), true, true)};
    PolynomialVector &bx = *r.bx;
    if (x.bx) {
        if (left)
            eval.multiSecret().lazyLeftRotateMSRLWE(x.ct, *x.bx, idx, r.ct, bx);
        else
            eval.multiSecret().lazyRightRotateMSRLWE(x.ct, *x.bx, idx, r.ct, bx);
    } else {
        if (left)
            eval.multiSecret().lazyLeftRotateMSRLWE(x.ct, idx, r.ct, bx);
        else
            eval.multiSecret().lazyRightRotateMSRLWE(x.ct, idx, r.ct, bx);
    }
    return r;
}

LazyCiphertext lazyAdd(const HomEvaluatorImpl &eval, const LazyCiphertext &a,
                       const LazyCiphertext &b) {
    LazyCiphertext r{dft::emptyLike(a.ct), std::nullopt};
    eval.add(a.ct, b.ct, r.ct);
    if (a.bx && b.bx) {
        r.bx.emplace(a.bx->getContext(), a.bx->getSize(), true, true);
        eval.plain().add(*a.bx, *b.bx, *r.bx);
    } else if (a.bx) {
        r.bx = a.bx;
    } else if (b.bx) {
        r.bx = b.bx;
    }
    return r;
}

// The giant sum of the min-key chains (dft::minKeyGiantSum) on lazy
// ciphertexts: the rotations by u = b d keep their switched parts over the
// extended basis, which are summed along.
LazyCiphertext lazyGiantSum(const HomEvaluatorImpl &eval, const std::vector<LazyCiphertext> &gs,
                            u64 u, bool cyclic) {
    const u64 g = gs.size();
    const u64 h = g / 2;
    if (cyclic) {
        LazyCiphertext acc = gs[h + 1];
        for (u64 j = h + 2; j <= h + g; ++j)
            acc = lazyAdd(eval, lazyRotate(eval, acc, u, false), gs[j % g]);
        return acc;
    }
    LazyCiphertext acc = gs[g - 1];
    for (u64 index = g - 1; index > h; --index)
        acc = lazyAdd(eval, lazyRotate(eval, acc, u, true), gs[index - 1]);
    if (g >= 2) {
        LazyCiphertext v = lazyRotate(eval, gs[0], u, false);
        for (u64 t = 1; t < h; ++t)
            v = lazyRotate(eval, lazyAdd(eval, v, gs[t]), u, false);
        acc = lazyAdd(eval, acc, v);
    }
    return acc;
}

} // namespace

void MultiSecretRoad::slotToCoeffMSRLWE(const CiphertextMSRLWE &in, CiphertextMSRLWE &out) const {
    const u64 s = in.getLogSlots();
    const BootConstants *constants = boot_.getConstants().placedConstants(s, in.getDevice(), true);
    // The default split with a fixed budget of three levels, and no
    // multiplier before the transform.
    const RadixDecomposition rd(s);
    CiphertextMSRLWE result = in;
    boot_.getTransforms().slotToCoeffSteps(in, constants, rd, 3, result);
    out = std::move(result);
}

void MultiSecretRoad::coeffToSlotMSRLWE(const CiphertextMSRLWE &in, CiphertextMSRLWE &out) const {
    boot_.getTransforms().coeffToSlotOf(in, out);
}

void MultiSecretRoad::coeffToSlotMSRLWEDoubleHoist(const CiphertextMSRLWE &in,
                                                   CiphertextMSRLWE &out) const {
    const u64 s = in.getLogSlots();
    const Device device = in.getDevice();
    const BootConstants *constants = boot_.getConstants().placedConstants(s, device, false);
    const RadixDecomposition rd(s);
    const u64 n = rd.num_radices;
    const HomEvaluatorImpl &eval = *boot_.getEvaluator();
    const std::shared_ptr<ContextContent> &context = boot_.getContext();

    CiphertextMSRLWE result = in;
    for (u64 k = 0; k < n; ++k) {
        const dft::StepShape shape = dft::shapeOf(rd, k, context);
        const std::vector<Plaintext> &diagonals = constants->getInvV0(device, k);
        dft::checkStep(shape, diagonals);
        const u64 b = shape.baby;
        const u64 g = shape.giant;
        const u64 d = shape.stride;

        // Baby steps: each the previous one rotated by the stride, its
        // switched parts left over the extended basis.
        std::vector<LazyCiphertext> bs;
        bs.reserve(b);
        bs.push_back({result, std::nullopt});
        for (u64 j = 1; j < b; ++j)
            bs.push_back(lazyRotate(eval, bs[j - 1], d, true));

        if (result.getDevice() != in.getDevice())
            throw RuntimeException(BootstrapperMessages::kDifferentDevicesMessage);

        // Giant blocks: the diagonals times the baby rotations and times
        // their extended parts. The first baby step has none, so a block
        // starting there weighs the extended parts of the others only.
        std::vector<LazyCiphertext> gs;
        gs.reserve(g);
        for (u64 t = 0; t < g; ++t) {
            const dft::Block block = dft::blockOf(shape, t);
            const auto first = diagonals.cbegin() + static_cast<std::ptrdiff_t>(block.begin);
            const auto last = first + static_cast<std::ptrdiff_t>(block.count);
            std::vector<MsCiphertext> cts;
            std::vector<PolynomialVector> bxs;
            cts.reserve(block.count);
            for (u64 j = block.first_baby; j < block.first_baby + block.count; ++j) {
                cts.push_back(bs[j].ct);
                if (bs[j].bx)
                    bxs.push_back(*bs[j].bx);
            }
            LazyCiphertext sum{dft::emptyLike(result), std::nullopt};
            eval.multiSecret().innerProductMSRLWE(first, last, cts.cbegin(), sum.ct);
            if (!bxs.empty()) {
                const auto bx_first = last - static_cast<std::ptrdiff_t>(bxs.size());
                sum.bx.emplace(context, result.getNumSecret(), true, true);
                eval.innerProductBx(bx_first, last, bxs.cbegin(), *sum.bx);
            }
            gs.push_back(std::move(sum));
        }

        LazyCiphertext total = lazyGiantSum(eval, gs, b * d, shape.first && g >= 3);
        if (total.bx)
            eval.multiSecret().modDownBxAndSum(*total.bx, total.ct, result);
        else
            result = std::move(total.ct);
        // A budget of three levels: the rescale of step 2 is left pending.
        if (k != 2)
            eval.levels().rescale(result);
    }
    boot_.getTransforms().coeffToSlotScaling(result, 3, n, s);
    out = std::move(result);
}

void MultiSecretRoad::slotToCoeffSingleStepMSRLWE(const CiphertextMSRLWE &in, CiphertextMSRLWE &out,
                                                  std::pair<u64, u64> range) const {
    if (in.getDevice() != out.getDevice())
        throw RuntimeException(BootstrapperMessages::kDifferentDevicesMessage);
    // A small-parameter bootstrapper works in its own context: an input of
    // another context is copied into the output's, which must be this one.
    const std::shared_ptr<ContextContent> &context = boot_.getContext();
    if (context->getParameter().small_parameter &&
        !in.getContext()->getParameter().small_parameter) {
        if (out.getContext()->getHash() != context->getHash())
            throw RuntimeException(BootstrapperMessages::kSmallContextOutputMessage);
        CiphertextMSRLWE start(out.getContext(), false, true);
        ModulusSwitcher().embed(in, start);
        boot_.getTransforms().slotToCoeffStepOf(in, std::move(start), range, out);
        return;
    }
    boot_.getTransforms().slotToCoeffStepOf(in, in, range, out);
}

} // namespace Quelt
