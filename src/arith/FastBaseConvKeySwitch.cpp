// A whole hybrid key switch at limb level, one target limb at a time: the
// digits' source limbs are prepared once, then for every temporary prime and
// every base prime of the level the digits' limbs of that prime are made,
// transformed and summed against the key while they are in cache; the base
// limbs are divided by P right after their sums, the subtraction of the
// correction and the factor P^-1 applied by the correction's transform.
//
// The form fused with a rescale adds two polynomials to the switched pair and
// divides by the top prime q_l in the same pass: the addends enter the sums
// times P, the top limb is finished first and brought to coefficient form,
// and its centred lift, times P, joins the correction of every other limb,
// whose transform then subtracts both and applies P^-1 q_l^-1 at once. Every
// step is exact modular arithmetic on residues below their primes, so the
// words equal those of the switch, the addition and the rescale made one
// after the other; the lifted top limb saves a transform per limb.
//
// A sum of switches at one level (the giant sums of the homomorphic
// transforms) runs the same pass once per input: every step adds its key
// products to the sums kept in the outputs and the scratch (inside the inner
// product, which starts from them), and only the last
// one divides, so no raised digit and no product over the extended basis is
// stored beyond one group of target limbs.

#include "arith/FastBaseConv.hpp"

#include "Quelt/Exception.hpp"
#include "arith/NTT.hpp"
#include "arith/NumberTheoryUtils.hpp"

#include <algorithm>
#include <cstring>

namespace Quelt {

namespace {
namespace kk = keyswitch_kernels;

// Target limbs made together from the same digit sources.
constexpr u64 kGroup = 4;
} // namespace

std::uint64_t FastBaseConv::keySwitchScratchWords(std::uint64_t level) const {
    const u64 K = num_all_primes_ - num_base_primes_;
    // Sources (level + 1 limbs), the digits' limbs of a group of primes, the
    // two temporary sums, the mod-down corrections of a group, then three
    // limbs of the sums and the fused rescale (the factor P as a limb, the
    // two top limbs).
    return (level + 1 + getNumDigits(level) * kGroup + 2 * K + kGroup + 3) * degree_;
}

template <typename MakeLimbs>
void FastBaseConv::sumAndDivideLimbs(std::uint64_t level, MakeLimbs &&make_limbs,
                                     const std::uint64_t *const *masks,
                                     const std::uint64_t *const *bodies, const Step &step,
                                     std::uint64_t *out_body, std::uint64_t *out_mask,
                                     std::uint64_t *scratch) const {
    const u64 L = num_base_primes_;
    const u64 K = num_all_primes_ - L;
    const u64 N = degree_;
    const u64 D = getNumDigits(level);
    const DeviceSpecificArray<u64> &p_inv = getPInvModQ();
    const bool fused = step.rescale;

    u64 *limbs = scratch;
    u64 *sum_body = limbs + D * kGroup * N;
    u64 *sum_mask = sum_body + K * N;
    u64 *correction = sum_mask + K * N;
    // The word [P]_{q_j} in every position (the addends' factor) and the top
    // limbs of a fused rescale.
    u64 *p_limb = correction + kGroup * N;
    u64 *top_body = p_limb + N;
    u64 *top_mask = top_body + N;

    // Where the sums of a target limb live from step to step: the temporary
    // ones in the scratch, the top one of a fused rescale there too, the
    // others in the outputs.
    auto sumOf = [&](u64 j, u64 *&body, u64 *&mask) {
        if (j >= L) {
            body = sum_body + (j - L) * N;
            mask = sum_mask + (j - L) * N;
        } else if (fused && j == level) {
            body = top_body;
            mask = top_mask;
        } else {
            body = out_body + j * N;
            mask = out_mask + j * N;
        }
    };

    // Limbs of a group of targets (up to kGroup) of every digit, then their
    // sums; a later step adds its products to the sums of the earlier ones
    // inside the inner product (the exact residue of the total either way).
    // On a base limb of the last step the addends join as one more term,
    // times P, so that the division by P leaves them as they are.
    std::vector<const u64 *> digit_limbs(D + 1), mask_limbs(D + 1), body_limbs(D + 1);
    auto sumsAt = [&](const u64 *group, u64 size) {
        make_limbs(group, size, limbs);
        for (u64 k = 0; k < size; ++k) {
            const u64 j = group[k];
            u64 *body = nullptr;
            u64 *mask = nullptr;
            sumOf(j, body, mask);
            for (u64 d = 0; d < D; ++d) {
                digit_limbs[d] = limbs + (d * kGroup + k) * N;
                mask_limbs[d] = masks[d] + j * N;
                body_limbs[d] = bodies[d] + j * N;
            }
            u64 count = D;
            if (step.last && step.add_body != nullptr && j < L) {
                std::fill(p_limb, p_limb + N, p_mod_q_[j]);
                digit_limbs[count] = p_limb;
                mask_limbs[count] = step.add_mask + j * N;
                body_limbs[count++] = step.add_body + j * N;
            }
            const Modulus &modulus = moduli_[j];
            const u64 p = modulus.getPrime();
            const u64 terms_per_fold = kk::termsPerFold(static_cast<u128>(p - 1) * (p - 1));
            kk::innerProductTwo(digit_limbs.data(), mask_limbs.data(), body_limbs.data(), count,
                                terms_per_fold, kk::FoldConstants::of(modulus), mask, body, N,
                                !step.first);
        }
    };

    u64 group[kGroup];
    // The temporary primes first: the division by P of every base limb
    // needs their sums.
    for (u64 first = 0; first < K; first += kGroup) {
        const u64 size = std::min(kGroup, K - first);
        for (u64 k = 0; k < size; ++k)
            group[k] = L + first + k;
        sumsAt(group, size);
    }
    if (!step.last) {
        for (u64 first = 0; first <= level; first += kGroup) {
            const u64 size = std::min(kGroup, level + 1 - first);
            for (u64 k = 0; k < size; ++k)
                group[k] = first + k;
            sumsAt(group, size);
        }
        return;
    }
    prepareTemporary(sum_body, sum_body);
    prepareTemporary(sum_mask, sum_mask);

    // out = (sum - C) factors, C the conversion of the temporary sums plus,
    // in a fused rescale, P times the lifted top limb.
    auto divide = [&](u64 size, bool of_body, const u64 *top, const u64 *factors) {
        u64 *corrections[kGroup];
        for (u64 k = 0; k < size; ++k)
            corrections[k] = correction + k * N;
        const bool lifted = top != nullptr && K > 1;
        convertTemporary(of_body ? sum_body : sum_mask, group, size, corrections,
                         lifted ? reinterpret_cast<const std::int64_t *>(top) : nullptr);
        if (top != nullptr && !lifted)
            for (u64 k = 0; k < size; ++k)
                moduli_[group[k]].normalizeModAndConstMult<true>(
                    top, p_mod_q_[group[k]], moduli_[level].getPrime(), corrections[k]);
        for (u64 k = 0; k < size; ++k) {
            u64 *body = nullptr;
            u64 *mask = nullptr;
            sumOf(group[k], body, mask);
            u64 *out = of_body ? body : mask;
            moduli_[group[k]].getNTT()->computeForwardSubScale(corrections[k], out,
                                                               factors[group[k]], out);
        }
    };

    u64 last = level;
    const u64 *factors = p_inv.getData();
    const u64 *top_b = nullptr;
    const u64 *top_m = nullptr;
    if (fused) {
        // The top limb first: (addend + switched) at q_level, brought to
        // coefficient form, is the value the rescale lifts to the other
        // primes. With several temporary primes it joins their conversion
        // as a centred source; with one it is lifted on its own.
        group[0] = level;
        sumsAt(group, 1);
        divide(1, true, nullptr, factors);
        divide(1, false, nullptr, factors);
        const Modulus &top = moduli_[level];
        for (u64 *t : {top_body, top_mask}) {
            top.getNTT()->computeBackward<1>(t);
            if (K > 1)
                kk::centredLift(t, top.getPrime(), N);
        }
        top_b = top_body;
        top_m = top_mask;
        factors = p_inv_top_inv_.data() + level * L;
        last = level - 1;
    }

    for (u64 first = 0; first <= last; first += kGroup) {
        const u64 size = std::min(kGroup, last + 1 - first);
        for (u64 k = 0; k < size; ++k)
            group[k] = first + k;
        sumsAt(group, size);
        divide(size, true, top_b, factors);
        divide(size, false, top_m, factors);
    }
}

void FastBaseConv::keySwitchLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                                  const std::uint64_t *factors, const std::uint64_t *const *masks,
                                  const std::uint64_t *const *bodies, std::uint64_t *out_body,
                                  std::uint64_t *out_mask, std::uint64_t *scratch) const {
    keySwitchSumLimbs(in, level, in_ntt, factors, masks, bodies, Step{}, out_body, out_mask,
                      scratch);
}

void FastBaseConv::keySwitchRescaleLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                                         const std::uint64_t *factors,
                                         const std::uint64_t *const *masks,
                                         const std::uint64_t *const *bodies,
                                         const std::uint64_t *add_body,
                                         const std::uint64_t *add_mask, std::uint64_t *out_body,
                                         std::uint64_t *out_mask, std::uint64_t *scratch) const {
    keySwitchSumLimbs(in, level, in_ntt, factors, masks, bodies,
                      Step{true, true, add_body, add_mask, true}, out_body, out_mask, scratch);
}

void FastBaseConv::keySwitchSumLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                                     const std::uint64_t *factors,
                                     const std::uint64_t *const *masks,
                                     const std::uint64_t *const *bodies, const Step &step,
                                     std::uint64_t *out_body, std::uint64_t *out_mask,
                                     std::uint64_t *scratch) const {
    const u64 L = num_base_primes_;
    if (level >= L || (step.rescale && level == 0))
        throw RuntimeException(kLevelMessage);
    if (step.rescale && step.add_body == nullptr)
        throw RuntimeException(kNoAddendsMessage);
    const u64 N = degree_;
    const u64 alpha = primes_per_digit_;
    const u64 D = getNumDigits(level);

    u64 *sources = scratch;
    // The sources of every digit, as modUpLimbs makes them.
    for (u64 m = 0; m <= level; ++m)
        prepareSource(in + m * N, m, in_ntt, factors, sources + m * N);

    // The targets outside a digit are converted together, so that every
    // source word loaded serves all of them.
    auto make_limbs = [&](const u64 *group, u64 size, u64 *limbs) {
        for (u64 d = 0; d < D; ++d) {
            const u64 m0 = d * alpha;
            const u64 digit_end = std::min(m0 + alpha, L);
            u64 converted[kGroup];
            u64 *converted_out[kGroup];
            u64 count = 0;
            for (u64 k = 0; k < size; ++k) {
                const u64 j = group[k];
                u64 *x = limbs + (d * kGroup + k) * N;
                if (j >= m0 && j < digit_end) {
                    // The digit's own limb is the input's (times the factor).
                    if (factors == nullptr)
                        std::memcpy(x, in + j * N, N * sizeof(u64));
                    else
                        moduli_[j].constMult<1>(in + j * N, factors[j], x, N);
                    if (!in_ntt)
                        moduli_[j].getNTT()->computeForward<1>(x);
                } else {
                    converted[count] = j;
                    converted_out[count++] = x;
                }
            }
            if (count != 0)
                convertDigitTargets(sources, d, level, converted, count, converted_out);
            for (u64 k = 0; k < count; ++k)
                moduli_[converted[k]].getNTT()->computeForward<1>(converted_out[k]);
        }
    };
    sumAndDivideLimbs(level, make_limbs, masks, bodies, step, out_body, out_mask,
                      sources + (level + 1) * N);
}

std::uint64_t FastBaseConv::keySwitchDigitsScratchWords(std::uint64_t level) const {
    const u64 K = num_all_primes_ - num_base_primes_;
    return (getNumDigits(level) * kGroup + 2 * K + kGroup) * degree_;
}

void FastBaseConv::keySwitchDigitsLimbs(const std::uint64_t *const *digits, std::uint64_t level,
                                        const std::uint32_t *permutation,
                                        const std::uint64_t *const *masks,
                                        const std::uint64_t *const *bodies, std::uint64_t *out_body,
                                        std::uint64_t *out_mask, std::uint64_t *scratch) const {
    if (level >= num_base_primes_)
        throw RuntimeException(kLevelMessage);
    const u64 N = degree_;
    const u64 D = getNumDigits(level);
    // Limb j of every digit, permuted word by word while it is gathered.
    auto make_limbs = [&](const u64 *group, u64 size, u64 *limbs) {
        for (u64 d = 0; d < D; ++d)
            for (u64 k = 0; k < size; ++k) {
                const u64 *src = digits[d] + group[k] * N;
                u64 *x = limbs + (d * kGroup + k) * N;
                if (permutation == nullptr)
                    std::memcpy(x, src, N * sizeof(u64));
                else
                    kk::permuteWords(src, permutation, x, N);
            }
    };
    sumAndDivideLimbs(level, make_limbs, masks, bodies, Step{}, out_body, out_mask, scratch);
}

} // namespace Quelt
