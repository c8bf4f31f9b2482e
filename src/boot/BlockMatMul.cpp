#include "Quelt/BlockMatMul.hpp"

#include "Quelt/EnDecoder.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
template <EncryptionType ET>
using Ct = CiphertextBase<ET>;
using RingCt = Ct<EncryptionType::RLWE>;
using MultiCt = Ct<EncryptionType::MSRLWE>;

constexpr const char *kBabyStepZero = "[blockMatMulBSGS] The baby step should be positive";
constexpr const char *kBabyStepAboveDiagonals =
    "[blockMatMulBSGS] The baby step should not exceed the number of diagonals";
constexpr const char *kNoInputs = "[blockMatMulBSGS] The list of input ciphertexts is empty";
constexpr const char *kNoOutputs = "[blockMatMulBSGS] The list of output ciphertexts is empty";
constexpr const char *kShortDiagonals =
    "[blockMatMulBSGS] The diagonal lists are shorter than the layout needs";

void checkSteps(u64 bs, u64 n) {
    if (bs == 0)
        throw RuntimeException(kBabyStepZero);
    if (bs > n)
        throw RuntimeException(kBabyStepAboveDiagonals);
}

// The two-dimensional layout: one list per output, each holding n diagonals
// per input.
template <EncryptionType ET>
void check2D(const std::vector<Ct<ET>> &ctxts, const std::vector<std::vector<Plaintext>> &diags,
             const std::vector<Ct<ET>> &ctxts_out, u64 bs, u64 n) {
    checkSteps(bs, n);
    if (ctxts.empty())
        throw RuntimeException(kNoInputs);
    if (ctxts_out.empty())
        throw RuntimeException(kNoOutputs);
    if (diags.size() < ctxts_out.size())
        throw RuntimeException(kShortDiagonals);
    // size < m * n, compared by division so that m * n cannot wrap.
    for (u64 t = 0; t < ctxts_out.size(); ++t)
        if (diags[t].size() / ctxts.size() < n)
            throw RuntimeException(kShortDiagonals);
}

// (k * stride) mod slots for k = 0 .. count-1; the products are formed in
// 128 bits so that no stride wraps before the reduction.
std::vector<u64> rotationAmounts(u64 count, u64 step, u64 stride, u64 slots) {
    std::vector<u64> amounts(count);
    for (u64 k = 0; k < count; ++k)
        amounts[k] = static_cast<u64>(static_cast<unsigned __int128>(k) * step * stride % slots);
    return amounts;
}

// The input placed into the working context: a context with the
// small-parameter flag takes inputs from other contexts as they are (same
// words and metadata, no arithmetic); otherwise the input is used directly.
// Returns the placed copy, or nothing when the input serves as it is.
template <EncryptionType ET>
std::optional<Ct<ET>> placeInto(const std::shared_ptr<ContextContent> &ctx, const Ct<ET> &ctxt) {
    if (ctx->getParameter().small_parameter && !ctxt.getContext()->getParameter().small_parameter)
        return Ct<ET>(ctx, ctxt);
    return std::nullopt;
}

// What both one-dimensional forms fix before they compute: the checks, the
// working context (the output's), the slot count (the input's) and gs.
struct OneDimensional {
    std::shared_ptr<ContextContent> ctx;
    u64 slots;
    u64 gs;
};

OneDimensional prepareOneDimensional(const RingCt &ctxt, u64 diag_count, const RingCt &ctxt_out,
                                     u64 bs, u64 n) {
    checkSteps(bs, n);
    if (diag_count < n)
        throw RuntimeException(kShortDiagonals);
    return {ctxt_out.getContext(), ctxt.getNumberOfSlots(), n / bs};
}

// out = rescale( rotSum over the giant amounts of the block sums ).
void finishOneDimensional(const HomEvaluator &eval, const std::vector<Plaintext> &diags,
                          const std::vector<RingCt> &baby,
                          const std::shared_ptr<ContextContent> &ctx, u64 bs, u64 gs, u64 stride,
                          u64 slots, RingCt &ctxt_out) {
    std::vector<RingCt> giant;
    giant.reserve(gs);
    for (u64 j = 0; j < gs; ++j) {
        giant.emplace_back(ctx, false, true);
        const auto first = diags.cbegin() + static_cast<std::ptrdiff_t>(j * bs);
        eval.innerProduct(first, first + static_cast<std::ptrdiff_t>(bs), baby.cbegin(),
                          giant.back());
    }
    RingCt result(ctx, false, true);
    detail::HomEvaluatorAccess::impl(eval)->rotations().rotSumRescale(
        giant, rotationAmounts(gs, bs, stride, slots), result);
    ctxt_out = std::move(result);
}

// The evaluator operations of the two-dimensional product, by encryption
// type.
void hoistedRotate(const HomEvaluator &eval, const RingCt &ct, const std::vector<u64> &amounts,
                   std::vector<RingCt> &outs) {
    eval.leftRotate(ct, amounts, outs);
}
void hoistedRotate(const HomEvaluator &eval, const MultiCt &ct, const std::vector<u64> &amounts,
                   std::vector<MultiCt> &outs) {
    eval.leftRotateMSRLWE(ct, amounts, outs);
}
void innerProduct(const HomEvaluator &eval, std::vector<Plaintext>::const_iterator first,
                  std::vector<Plaintext>::const_iterator last,
                  std::vector<RingCt>::const_iterator cts, RingCt &out) {
    eval.innerProduct(first, last, cts, out);
}
void innerProduct(const HomEvaluator &eval, std::vector<Plaintext>::const_iterator first,
                  std::vector<Plaintext>::const_iterator last,
                  std::vector<MultiCt>::const_iterator cts, MultiCt &out) {
    eval.innerProductMSRLWE(first, last, cts, out);
}
// The giant sum then the rescale; the ring form makes both in one pass.
void rotSumRescaled(const HomEvaluator &eval, const std::vector<RingCt> &cts,
                    const std::vector<u64> &amounts, RingCt &out) {
    detail::HomEvaluatorAccess::impl(eval)->rotations().rotSumRescale(cts, amounts, out);
}
void rotSumRescaled(const HomEvaluator &eval, const std::vector<MultiCt> &cts,
                    const std::vector<u64> &amounts, MultiCt &out) {
    eval.rotSumMSRLWE(cts, amounts, out);
    eval.rescale(out);
}

template <EncryptionType ET>
void twoDimensional(const HomEvaluator &eval, const std::vector<Ct<ET>> &ctxts,
                    const std::vector<std::vector<Plaintext>> &diags,
                    std::vector<Ct<ET>> &ctxts_out, u64 bs, u64 num_diag, u64 stride) {
    check2D(ctxts, diags, ctxts_out, bs, num_diag);
    const std::shared_ptr<ContextContent> ctx = ctxts_out[0].getContext();
    const u64 slots = ctxts_out[0].getNumberOfSlots();
    const u64 m = ctxts.size();
    const u64 gs = num_diag / bs;

    // Entry c * bs + i is the i-th baby rotation of input c, shared by every
    // output and giant block.
    const std::vector<u64> baby_amounts = rotationAmounts(bs, 1, stride, slots);
    std::vector<Ct<ET>> baby;
    baby.reserve(m * bs);
    for (const Ct<ET> &ctxt : ctxts) {
        const std::optional<Ct<ET>> placed = placeInto(ctx, ctxt);
        std::vector<Ct<ET>> rotated;
        hoistedRotate(eval, placed ? *placed : ctxt, baby_amounts, rotated);
        for (Ct<ET> &r : rotated)
            baby.push_back(std::move(r));
    }
    const std::vector<u64> giant_amounts = rotationAmounts(gs, bs, stride, slots);

    // The results are kept aside until all are made, so that a failure leaves
    // every output as it was.
    std::vector<Ct<ET>> results;
    results.reserve(ctxts_out.size());
    Ct<ET> term(ctx, false, true);
    for (u64 t = 0; t < ctxts_out.size(); ++t) {
        std::vector<Ct<ET>> acc;
        acc.reserve(gs);
        for (u64 c = 0; c < m; ++c)
            for (u64 j = 0; j < gs; ++j) {
                const auto first =
                    diags[t].cbegin() + static_cast<std::ptrdiff_t>(c * num_diag + j * bs);
                const auto last = first + static_cast<std::ptrdiff_t>(bs);
                const auto rotations = baby.cbegin() + static_cast<std::ptrdiff_t>(c * bs);
                if (c == 0) {
                    acc.emplace_back(ctx, false, true);
                    innerProduct(eval, first, last, rotations, acc[j]);
                } else {
                    innerProduct(eval, first, last, rotations, term);
                    eval.add(acc[j], term, acc[j]);
                }
            }
        if (gs <= 1) {
            results.push_back(std::move(acc[0]));
            eval.rescale(results.back());
        } else {
            results.emplace_back(ctx, false, true);
            rotSumRescaled(eval, acc, giant_amounts, results.back());
        }
    }
    for (u64 t = 0; t < ctxts_out.size(); ++t)
        ctxts_out[t] = std::move(results[t]);
}

} // namespace

void blockMatMul1DBSGS(const HomEvaluator &eval, const RingCt &ctxt,
                       const std::vector<Plaintext> &diags, RingCt &ctxt_out, u64 baby_step,
                       u64 num_diag, u64 stride) {
    const auto [ctx, slots, gs] =
        prepareOneDimensional(ctxt, diags.size(), ctxt_out, baby_step, num_diag);
    const std::optional<RingCt> placed = placeInto(ctx, ctxt);
    std::vector<RingCt> baby;
    eval.leftRotate(placed ? *placed : ctxt, rotationAmounts(baby_step, 1, stride, slots), baby);
    finishOneDimensional(eval, diags, baby, ctx, baby_step, gs, stride, slots, ctxt_out);
}

void blockMatMul1DBSGS(const HomEvaluator &eval, const RingCt &ctxt,
                       const std::vector<Message> &diags, RingCt &ctxt_out, u64 baby_step,
                       u64 num_diag, u64 stride) {
    const auto [ctx, slots, gs] =
        prepareOneDimensional(ctxt, diags.size(), ctxt_out, baby_step, num_diag);
    const u64 level = ctxt.getLevel();

    // All n diagonals are encoded, the unused tail included, so that a
    // message the encoder refuses is reported wherever it sits.
    const EnDecoder encoder(ctx);
    std::vector<Plaintext> encoded;
    encoded.reserve(num_diag);
    for (u64 i = 0; i < num_diag; ++i)
        encoded.push_back(encoder.encode(diags[i], level, 0));

    // Single rotations, so that an amount without a key of its own may still
    // run through the key pack's decomposition.
    const std::optional<RingCt> placed = placeInto(ctx, ctxt);
    const RingCt &input = placed ? *placed : ctxt;
    const std::vector<u64> amounts = rotationAmounts(baby_step, 1, stride, slots);
    std::vector<RingCt> baby;
    baby.reserve(baby_step);
    for (u64 i = 0; i < baby_step; ++i) {
        baby.emplace_back(ctx, false, true);
        eval.leftRotate(input, amounts[i], baby.back());
    }
    finishOneDimensional(eval, encoded, baby, ctx, baby_step, gs, stride, slots, ctxt_out);
}

void blockMatMul2DBSGS(const HomEvaluator &eval, const std::vector<RingCt> &ctxts,
                       const std::vector<std::vector<Plaintext>> &diags,
                       std::vector<RingCt> &ctxts_out, u64 baby_step, u64 num_diag, u64 stride) {
    twoDimensional(eval, ctxts, diags, ctxts_out, baby_step, num_diag, stride);
}

void blockMatMul2DBSGS(const HomEvaluator &eval, const std::vector<MultiCt> &ctxts,
                       const std::vector<std::vector<Plaintext>> &diags,
                       std::vector<MultiCt> &ctxts_out, u64 baby_step, u64 num_diag, u64 stride) {
    twoDimensional(eval, ctxts, diags, ctxts_out, baby_step, num_diag, stride);
}

} // namespace Quelt
