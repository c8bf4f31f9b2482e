#include "Quelt/PolynomialEvaluation.hpp"

#include "Quelt/Exception.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using Complex = std::complex<double>;
using RingCt = CiphertextBase<EncryptionType::RLWE>;
using Coeffs = std::vector<Complex>;
using Powers = std::vector<RingCt>;

constexpr const char *kTooFewCoefficients =
    "[evaluatePolynomial] The polynomial should have at least two coefficients";
constexpr const char *kBabyStepTooSmall = "[evaluatePolynomial] The baby step should be at least 2";
constexpr const char *kTooFewBlocks =
    "[evaluatePolynomial] The conjugate-invariant form needs at least two blocks";

// Terms whose coefficient (times the multiplier) is at most this in modulus
// are left out.
constexpr double kZeroThreshold = 1e-8;

bool isPowerOfTwo(u64 n) { return n != 0 && (n & (n - 1)) == 0; }

// ceil(log2 n) for n >= 1.
u64 ceilLog2(u64 n) {
    u64 k = 0;
    while (k < 64 && (u64{1} << k) < n)
        ++k;
    return k;
}

// floor(log2 n) for n >= 1.
u64 floorLog2(u64 n) {
    u64 k = 0;
    while (n >>= 1)
        ++k;
    return k;
}

// gs = ceil(S / bs), in double precision.
u64 giantStepCount(u64 size, u64 bs) {
    return static_cast<u64>(std::ceil(static_cast<double>(size) / static_cast<double>(bs)));
}

// Every entry 1 .. end-1 brought down to `level` where it is higher, in place:
// the baby powers of one block then share a level, so their products with
// constants (rescale counter 1) can be added without alignment.
void levelDownPowers(const HomEvaluator &eval, Powers &powers, u64 end, u64 level) {
    for (u64 i = 1; i < end; ++i)
        if (powers[i].getLevel() > level)
            eval.levelDown(powers[i], level, powers[i]);
}

// T[1 .. L-1] down to the level of T[L], L = bs - 1 (the deepest baby power).
void alignBabyPowers(const HomEvaluator &eval, Powers &baby) {
    const u64 top = baby.size() - 1;
    levelDownPowers(eval, baby, top, baby[top].getLevel());
}

// T[0] = T[1] = x; T[i] = x^i from the balanced product of x^(i/2) and
// x^(i - i/2), so that x^i costs ceil(log2 i) levels. T[0] is never used as
// x^0: constant terms are added as constants.
Powers babyPowers(const HomEvaluator &eval, const RingCt &x, u64 bs) {
    Powers baby;
    baby.reserve(bs);
    baby.push_back(x);
    baby.push_back(x);
    for (u64 i = 2; i < bs; ++i) {
        baby.emplace_back(x.getContext(), false, true);
        if (i % 2 == 0)
            eval.square(baby[i / 2], baby[i]);
        else
            eval.mult(baby[i / 2 + 1], baby[i / 2], baby[i]);
    }
    return baby;
}

// G[i] = x^(bs 2^i) for i < m: x^bs from the baby powers, then squarings.
Powers genChebyshevPolyForGS(const HomEvaluator &eval, const Powers &baby, u64 m) {
    const u64 bs = baby.size();
    Powers giant;
    giant.reserve(m);
    for (u64 i = 0; i < m; ++i) {
        giant.emplace_back(baby[1].getContext(), false, true);
        if (i > 0)
            eval.square(giant[i - 1], giant[i]);
        else if (bs % 2 == 0)
            eval.square(baby[bs / 2], giant[0]);
        else
            eval.mult(baby[bs / 2 + 1], baby[bs / 2], giant[0]);
    }
    return giant;
}

// sum_{k < count} a_k x^k with a_k = coeffs[start + k] * multiplier, not
// rescaled (counter one above the powers'). The top term is always formed,
// also when it is zero; the others only above the threshold. A block of a
// single coefficient (possible only in the conjugate-invariant form, for a
// list that does not fill its blocks) is its constant alone.
RingCt evaluateBabyStepWithoutRescale(const HomEvaluator &eval, const Coeffs &coeffs,
                                      const Powers &baby, u64 start, u64 count,
                                      Complex multiplier) {
    const auto a = [&](u64 k) { return coeffs[start + k] * multiplier; };
    const u64 top = count - 1;
    RingCt result(baby[1].getContext(), false, true);
    if (top == 0)
        eval.multWithoutRescale(baby[1], Complex(0.0), result);
    else
        eval.multWithoutRescale(baby[top], a(top), result);
    RingCt term(baby[1].getContext(), false, true);
    for (u64 k = top; k-- > 1;) {
        const Complex ak = a(k);
        if (std::abs(ak) > kZeroThreshold) {
            eval.multWithoutRescale(baby[k], ak, term);
            eval.add(result, term, result);
        }
    }
    eval.add(result, a(0), result);
    return result;
}

// One block of `count` <= bs coefficients, rescaled, with fewer levels than a
// direct combination: the block is split into chunks evaluated from the top
// (bs = 8, count = 8: [6, 8), then times x^2 plus [4, 6), then times x^4 plus
// [0, 4)), so that each chunk needs only the baby powers below its
// multiplier. Levels down baby powers in place.
RingCt babyStepWithReducedCoeffs(const HomEvaluator &eval, const Coeffs &coeffs, Powers &baby,
                                 u64 start, u64 count, Complex multiplier) {
    // P: the largest power of two not above bs - 1.
    const u64 big = u64{1} << floorLog2(baby.size() - 1);
    const Coeffs block(coeffs.begin() + static_cast<std::ptrdiff_t>(start),
                       coeffs.begin() + static_cast<std::ptrdiff_t>(start + count));
    u64 s = 0;
    u64 p = big;
    if (count >= big + 2) {
        u64 u = big;
        do {
            p /= 2;
            s = u;
            u += p;
        } while (u + 2 <= count);
    }
    levelDownPowers(eval, baby, p, baby[p].getLevel());
    RingCt result = evaluateBabyStepWithoutRescale(eval, block, baby, s, count - s, multiplier);
    eval.rescale(result);
    while (s > 0) {
        p *= 2;
        s -= p;
        eval.multWithoutRescale(baby[p], result, result);
        levelDownPowers(eval, baby, p, baby[p].getLevel());
        const RingCt lower = evaluateBabyStepWithoutRescale(eval, block, baby, s, p, multiplier);
        eval.add(result, lower, result);
        eval.rescale(result);
    }
    return result;
}

// The giant-step recursion over the blocks of coeffs (block j: coefficients
// j bs .. j bs + bs - 1, bs the baby step). The parts level down shared baby
// and giant powers in place.
class GiantStepWalk {
public:
    GiantStepWalk(const HomEvaluator &eval, const Coeffs &coeffs, Powers &baby, Powers &giant,
                  Complex multiplier)
        : eval_(eval), coeffs_(coeffs), baby_(baby), giant_(giant), multiplier_(multiplier) {}

    // The blocks lo .. hi-1, block lo at x^0. The upper part is evaluated
    // before the lower ones: the upper part needs the shared powers at their
    // higher levels first.
    RingCt run(u64 lo, u64 hi, bool reduced) {
        if (hi - lo == 1)
            return block(lo, reduced);
        const u64 k = ceilLog2(hi - lo);
        const u64 mid = lo + (u64{1} << (k - 1));
        if (coeffs_.size() - 1 == mid * baby_.size())
            return withLoneTopCoefficient(lo, mid, k, reduced);
        RingCt high = run(mid, hi, reduced);
        if (k == 1)
            return twoParts(std::move(high), lo, mid);
        return threeParts(std::move(high), lo, hi, mid, k);
    }

private:
    // Block lo on its own.
    RingCt block(u64 lo, bool reduced) {
        const u64 bs = baby_.size();
        const u64 count = std::min(coeffs_.size() - lo * bs, bs);
        if (reduced) {
            RingCt result =
                babyStepWithReducedCoeffs(eval_, coeffs_, baby_, lo * bs, count, multiplier_);
            alignBabyPowers(eval_, baby_);
            return result;
        }
        RingCt result =
            evaluateBabyStepWithoutRescale(eval_, coeffs_, baby_, lo * bs, count, multiplier_);
        eval_.rescale(result);
        return result;
    }

    // A lone top coefficient: one constant times a giant power instead of a
    // block.
    RingCt withLoneTopCoefficient(u64 lo, u64 mid, u64 k, bool reduced) {
        if (reduced)
            alignBabyPowers(eval_, baby_);
        RingCt result = run(lo, mid, false);
        const Complex top = coeffs_[mid * baby_.size()];
        if (std::abs(top) > kZeroThreshold) {
            RingCt term(baby_[1].getContext(), false, true);
            eval_.mult(giant_[k - 1], top * multiplier_, term);
            eval_.add(result, term, result);
        }
        return result;
    }

    // high x^bs + low.
    RingCt twoParts(RingCt high, u64 lo, u64 mid) {
        eval_.mult(high, giant_[0], high);
        const RingCt low = run(lo, mid, false);
        eval_.add(high, low, high);
        return high;
    }

    // Three parts: high x^(bs 2^(k-1)) + q x^(bs 2^(k-2)) + low, the two
    // products summed as tensors before one relinearisation and rescale.
    RingCt threeParts(RingCt high, u64 lo, u64 hi, u64 mid, u64 k) {
        const u64 level = std::min(high.getLevel(), giant_[k - 1].getLevel());
        if (high.getLevel() > level)
            eval_.levelDown(high, level, high);
        if (giant_[k - 1].getLevel() > level)
            eval_.levelDown(giant_[k - 1], level, giant_[k - 1]);
        eval_.tensor(high, giant_[k - 1], high);

        const u64 mid2 = lo + (u64{1} << (k - 2));
        RingCt q = run(mid2, mid, false);
        if (q.getLevel() > level)
            eval_.levelDown(q, level, q);
        if (isPowerOfTwo(hi)) {
            if (giant_[k - 2].getLevel() > level)
                eval_.levelDown(giant_[k - 2], level, giant_[k - 2]);
            eval_.tensor(q, giant_[k - 2], q);
        } else {
            // Later parts of the recursion still need this power at its level.
            RingCt lowered(baby_[1].getContext(), false, true);
            eval_.levelDown(giant_[k - 2], level, lowered);
            eval_.tensor(q, lowered, q);
        }
        eval_.add(high, q, high);
        eval_.relinearize(high, high);
        eval_.rescale(high);
        const RingCt low = run(lo, mid2, false);
        eval_.add(high, low, high);
        return high;
    }

    const HomEvaluator &eval_;
    const Coeffs &coeffs_;
    Powers &baby_;
    Powers &giant_;
    Complex multiplier_;
};

void checkArguments(u64 size, u64 bs) {
    if (size < 2)
        throw RuntimeException(kTooFewCoefficients);
    if (bs < 2)
        throw RuntimeException(kBabyStepTooSmall);
}

} // namespace

void evaluatePolynomial(const HomEvaluator &eval, const RingCt &ctxt, const Coeffs &coeffs,
                        RingCt &ctxt_out, Complex multiplier, u64 baby_step) {
    checkArguments(coeffs.size(), baby_step);
    const u64 gs = giantStepCount(coeffs.size(), baby_step);
    Powers baby = babyPowers(eval, ctxt, baby_step);
    if (gs == 1) {
        ctxt_out = babyStepWithReducedCoeffs(eval, coeffs, baby, 0, coeffs.size(), multiplier);
        return;
    }
    Powers giant = genChebyshevPolyForGS(eval, baby, ceilLog2(gs));
    // With gs a power of two the top block is a full one and takes the
    // reduced evaluation, which aligns the baby powers itself.
    const bool reduced = isPowerOfTwo(gs);
    if (!reduced)
        alignBabyPowers(eval, baby);
    ctxt_out = GiantStepWalk(eval, coeffs, baby, giant, multiplier).run(0, gs, reduced);
}

void evaluateConjugateInvariantPolynomial(const HomEvaluator &eval, const RingCt &ctxt,
                                          const Coeffs &coeffs, RingCt &ctxt_out,
                                          Complex multiplier, u64 baby_step) {
    checkArguments(coeffs.size(), baby_step);
    const u64 gs = giantStepCount(coeffs.size(), baby_step);
    if (gs < 2)
        throw RuntimeException(kTooFewBlocks);
    Powers baby = babyPowers(eval, ctxt, baby_step);

    // The lower half without its constant; the conjugation supplies the
    // mirror image, and the constant and the middle term are added once.
    const u64 half = coeffs.size() / 2;
    Coeffs lower(coeffs.begin(), coeffs.begin() + static_cast<std::ptrdiff_t>(half));
    lower[0] = 0.0;
    const u64 m = floorLog2(gs);
    Powers giant = genChebyshevPolyForGS(eval, baby, m);
    const u64 blocks = gs / 2;
    const bool reduced = isPowerOfTwo(blocks);
    if (!reduced)
        alignBabyPowers(eval, baby);
    const RingCt r = GiantStepWalk(eval, lower, baby, giant, multiplier).run(0, blocks, reduced);

    RingCt result(ctxt.getContext(), false, true);
    eval.conjugate(r, result);
    eval.add(r, result, result);
    eval.add(result, coeffs[0] * multiplier, result);
    RingCt middle(ctxt.getContext(), false, true);
    eval.mult(giant[m - 1], coeffs[half] * multiplier, middle);
    eval.add(result, middle, result);
    ctxt_out = std::move(result);
}

} // namespace Quelt
