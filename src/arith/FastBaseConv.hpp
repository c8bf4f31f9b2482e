#pragma once

#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/MultipleDevice.hpp"
#include "arith/KeySwitchKernels.hpp"
#include "arith/Modulus.hpp"
#include "foundation/DeviceSpecificArray2D.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;
class ModPackKeyBundle;
class Polynomial;
class PolynomialVector;

// Fast base conversion of hybrid key switching. The chain has L base and
// quantize primes q_0 .. q_{L-1} and K temporary primes p_m = q_{L+m} with
// product P; the gadget rank dnum cuts the L primes into digits of
// alpha = ceil(L / dnum) consecutive primes (digit d: prime indices
// [d alpha, min((d + 1) alpha, L)), with product Q_d).
//
// modUp raises every digit of a polynomial from the primes of that digit to
// every prime of the extended basis (the primes up to the level and the
// temporary primes); modDown brings a polynomial of the extended basis back
// to the primes up to its level and divides it by P.
//
// All constants are computed by the constructor and never change, so the
// object may be used by several threads at once.
class FastBaseConv {
public:
    // Builds the constants of the context's chain (getLength base and
    // quantize primes, getNumTP temporary primes, gadget rank
    // getGadgetRank) and keeps the context. Throws the context getters'
    // "[Context] The context is null" for an empty pointer, and the chain
    // constructor's messages below (a context without temporary primes or
    // with gadget rank 0 is refused).
    explicit FastBaseConv(const std::shared_ptr<ContextContent> &context);

    // Builds the constants of a chain of moduli: the first `length` are the
    // base and quantize primes, the rest the temporary primes. Every modulus
    // must carry a transform of one common degree.
    // Throws RuntimeException, before anything is built: kNoBasePrimeMessage
    // (length 0), kNoGadgetRankMessage (gadget_rank 0),
    // kNoTemporaryPrimeMessage (no modulus after the first `length`),
    // kNoTransformMessage (a modulus without a transform or of another degree).
    FastBaseConv(std::vector<Modulus> moduli, std::uint64_t length, std::uint64_t gadget_rank);

    static constexpr const char *kNoBasePrimeMessage =
        "[FastBaseConv] The chain has no base prime.";
    static constexpr const char *kNoGadgetRankMessage =
        "[FastBaseConv] The gadget rank must be at least 1.";
    static constexpr const char *kNoTemporaryPrimeMessage =
        "[FastBaseConv] Key switching needs at least one temporary prime.";
    static constexpr const char *kNoTransformMessage =
        "[FastBaseConv] Every prime of the chain needs a transform of the chain's degree.";
    static constexpr const char *kLevelMessage = "[FastBaseConv] The level is outside the chain.";

    static constexpr const char *kInputShapeMessage =
        "[FastBaseConv] The input polynomial does not fit the chain.";
    static constexpr const char *kOutputShapeMessage =
        "[FastBaseConv] The output polynomial does not fit the chain.";
    static constexpr const char *kSharedOutputMessage =
        "[FastBaseConv] An output shares its residues with another input.";
    static constexpr const char *kNoContextMessage =
        "[FastBaseConv] This operation needs a converter built from a context.";
    static constexpr const char *kEmptyOperandMessage = "Operand is empty so device is not defined";
    static constexpr const char *kOperandDevicesMessage =
        "Elements of operand are in different devices.";
    static constexpr const char *kNullOperandMessage = "[FastBaseConv] An operand is null.";

    // One mod-up polynomial per digit that the level l of `in` reaches
    // (floor(l / alpha) + 1): mod-up and NTT flags set, level l, limbs
    // 0 .. l and the temporary limbs in NTT form (digit d represents, at
    // every prime, the integer sum over the digit's primes m <= l of
    // centred [a_m (Q_d / q_m)^-1]_{q_m} times Q_d / q_m). `in` is read in
    // NTT form when its NTT flag is set, else in coefficient form; its
    // mod-up flag is not consulted (limbs 0 .. l at their own indices).
    // A host input runs modUpCPUImpl; an accelerator input throws the
    // accelerator-only failure for "modUpGPUImpl", any other device for
    // "modUp". Throws kInputShapeMessage when `in` has another degree, a
    // level at or above L, or an array or prime list without the chain's
    // limbs 0 .. l;
    // kNoContextMessage for a converter built from bare moduli.
    std::vector<Polynomial> modUp(const Polynomial &in) const;
    std::vector<Polynomial> modUpCPUImpl(const Polynomial &in) const;
    [[noreturn]] std::vector<Polynomial> modUpGPUImpl(const Polynomial &in) const;

    // out_k = (in_k - X_k) / P modulo q_0 .. q_l for every polynomial of
    // `in`, l the level of in_0: X_k is the integer sum over the temporary
    // primes of centred [in_k,L+m (P / p_m)^-1]_{p_m} times P / p_m.
    // Inputs are mod-up polynomials whose limbs 0 .. l and L .. L + K - 1
    // are in NTT form (flags not consulted). Outputs take level l (a plain
    // output's array becomes (l + 1) N words) and the NTT flag `ntt`
    // (NTT form when true, coefficient form when false, residues below
    // their primes); mod-up flags are kept. An output may be its own input.
    // The vector form takes the device of `in` (PolynomialVector::getDevice:
    // std::out_of_range when empty, its message when mixed), resizes `out`
    // to in's size, then dispatches: host runs modDownCPUImpl, accelerator
    // throws for "modDownGPUImpl", other devices for "modDown".
    // Throws, before any output is written: kInputShapeMessage (an input
    // with another degree, without the L + K limbs of mod-up layout or with
    // primes other than the chain's, or a level at or above L),
    // kOutputShapeMessage (an output of another chain, or a mod-up output
    // without limbs 0 .. l), kSharedOutputMessage (an output that is
    // another polynomial's input).
    void modDown(const PolynomialVector &in, PolynomialVector &out, bool ntt) const;
    void modDown(const Polynomial &in, Polynomial &out, bool ntt) const;
    void modDownCPUImpl(const Polynomial *in, std::uint64_t count, Polynomial *out, bool ntt) const;
    [[noreturn]] void modDownGPUImpl(const Polynomial *in, std::uint64_t count, Polynomial *out,
                                     bool ntt) const;

    // Key switching for modulus packing. No host implementation: throws
    // kEmptyOperandMessage (no operand), kNullOperandMessage,
    // kOperandDevicesMessage (operands on different devices), then the
    // accelerator-only failure for "modPackKeySwitchGPUImpl" (accelerator)
    // or "modPackKeySwitch" (any other device, the host included). `keys`
    // is never read.
    [[noreturn]] void modPackKeySwitch(const std::vector<const Polynomial *> &operands,
                                       const ModPackKeyBundle &keys, std::uint64_t hat_q_inv) const;
    [[noreturn]] void modPackKeySwitchGPUImpl(const std::vector<const Polynomial *> &operands,
                                              const ModPackKeyBundle &keys,
                                              std::uint64_t hat_q_inv) const;

    std::uint64_t getNumBasePrimes() const { return num_base_primes_; }
    std::uint64_t getNumAllPrimes() const { return num_all_primes_; }
    std::uint64_t getPrimesPerDigit() const { return primes_per_digit_; }
    std::uint64_t getDegree() const { return degree_; }
    // Digits that a polynomial of this level reaches: floor(level / alpha) + 1.
    std::uint64_t getNumDigits(std::uint64_t level) const;

    // Host tables (the operations read the host entries only).
    // L words: [(Q_d / q_i)^-1]_{q_i}, d the digit of i.
    const DeviceSpecificArray<std::uint64_t> &getDigitHatInvModQ() const;
    // L x (L + K): (i, j) = [Q_d / q_i]_{q_j} for j outside the digit d of i;
    // elements inside the digit are never written.
    const DeviceSpecificArray2D<std::uint64_t> &getDigitHatModQP() const;
    // K words: [(P / p_m)^-1]_{p_m}.
    const DeviceSpecificArray<std::uint64_t> &getPHatInvModP() const;
    // K x L: (m, j) = [P / p_m]_{q_j}.
    const DeviceSpecificArray2D<std::uint64_t> &getPHatModQ() const;
    // L words: [P^-1]_{q_i}.
    const DeviceSpecificArray<std::uint64_t> &getPInvModQ() const;

    // Limb-level mod-up. `in` holds limbs 0 .. level (N words each) in NTT
    // form when in_ntt, else in coefficient form. outs[d], for every digit
    // d < getNumDigits(level), points to (L + K) N words in mod-up layout
    // (limb j at word j N); limbs 0 .. level and L .. L + K - 1 of each are
    // written in NTT form, the others are left alone. The outputs must not
    // overlap `in` or each other. Throws kLevelMessage when level >= L.
    void modUpLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                    std::uint64_t *const *outs) const;
    // The same for the input whose limb m is first multiplied by factors[m]
    // modulo q_m (m <= level; factors below their primes): the result equals
    // modUpLimbs of that product, word for word, without a pass of its own
    // (the factor joins the digit's constant).
    void modUpLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                    const std::uint64_t *factors, std::uint64_t *const *outs) const;

    // Limb-level mod-down. `in` holds (L + K) N words in mod-up layout whose
    // limbs 0 .. level and L .. L + K - 1 are in NTT form; out receives limbs
    // 0 .. level of (in - X) / P, in NTT form when ntt, else in coefficient
    // form, every residue below its prime. `out` must not overlap `in`.
    // Throws kLevelMessage when level >= L.
    void modDownLimbs(const std::uint64_t *in, std::uint64_t level, std::uint64_t *out,
                      bool ntt) const;
    // The same with caller-owned scratch of modDownScratchWords(ntt) words
    // (not overlapping in or out), so that repeated calls allocate nothing.
    void modDownLimbs(const std::uint64_t *in, std::uint64_t level, std::uint64_t *out, bool ntt,
                      std::uint64_t *scratch) const;
    // Words of scratch modDownLimbs needs.
    std::uint64_t modDownScratchWords(bool ntt) const;

    // One whole key switch at limb level, target limb by target limb so that
    // neither the digits nor the sums over the extended basis are stored:
    // out_body and out_mask receive limbs 0 .. level of
    //   modDown(sum_d digit_d x body_d), modDown(sum_d digit_d x mask_d)
    // in NTT form, word for word what modUpLimbs(in, level, in_ntt, factors),
    // the key-switching inner product and modDownLimbs(.., ntt = true) give.
    // masks[d] and bodies[d] (d < getNumDigits(level)) point to key parts
    // in mod-up layout ((L + K) N words, NTT form, below their primes).
    // scratch holds keySwitchScratchWords(level) words. Neither output may
    // overlap the input, the key parts, the scratch or the other output.
    // Throws kLevelMessage when level >= L.
    void keySwitchLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                        const std::uint64_t *factors, const std::uint64_t *const *masks,
                        const std::uint64_t *const *bodies, std::uint64_t *out_body,
                        std::uint64_t *out_mask, std::uint64_t *scratch) const;
    std::uint64_t keySwitchScratchWords(std::uint64_t level) const;

    // One step of a sum of key switches at one level, sum_c switch(in_c,
    // key_c), summed over the extended basis and divided by P once: the
    // first step writes the sums, later ones add to them, the last one
    // divides. Between steps the sums live in the outputs and the scratch,
    // which the caller hands to every step unchanged. In the last step
    // add_body and add_mask (limbs 0 .. level, NTT form, below their primes;
    // both or neither) are added to the two results, and with `rescale` both
    // are then rescaled by q_level.
    struct Step {
        bool first = true;
        bool last = true;
        const std::uint64_t *add_body = nullptr;
        const std::uint64_t *add_mask = nullptr;
        bool rescale = false;
    };
    // The outputs receive, after the last step, limbs 0 .. level (0 ..
    // level - 1 with rescale) in NTT form, word for word what the switches
    // one by one (keySwitchLimbs), the additions modulo each prime and the
    // rescale give. Arguments as keySwitchLimbs. Throws kLevelMessage when
    // level >= L or, with rescale, level is 0; kNoAddendsMessage for a
    // rescale without addends.
    void keySwitchSumLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                           const std::uint64_t *factors, const std::uint64_t *const *masks,
                           const std::uint64_t *const *bodies, const Step &step,
                           std::uint64_t *out_body, std::uint64_t *out_mask,
                           std::uint64_t *scratch) const;
    static constexpr const char *kNoAddendsMessage =
        "[FastBaseConv] The fused rescale needs the addends.";

    // keySwitchLimbs followed by the addition of add_body and add_mask
    // (limbs 0 .. level, NTT form, below their primes) to the two results
    // and a rescale of both by q_level: out_body and out_mask receive limbs
    // 0 .. level - 1, in NTT form, word for word what keySwitchLimbs, the
    // addition and the rescale give one after the other, in one pass and
    // with a transform fewer per limb. Scratch as keySwitchLimbs. No output
    // may overlap the input, the addends, the key parts, the scratch or the
    // other output. Throws kLevelMessage when level >= L or level is 0.
    void keySwitchRescaleLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                               const std::uint64_t *factors, const std::uint64_t *const *masks,
                               const std::uint64_t *const *bodies, const std::uint64_t *add_body,
                               const std::uint64_t *add_mask, std::uint64_t *out_body,
                               std::uint64_t *out_mask, std::uint64_t *scratch) const;

    // The second half of keySwitchLimbs for digits already raised:
    // digits[d] (d < getNumDigits(level)) in mod-up layout as modUpLimbs
    // writes them, each limb read through `permutation` (word w of the
    // digit's limb is word permutation[w] of digits[d]'s; null for none).
    // With the permutation of an automorphism in NTT order this is the key
    // switch of the automorphism's image of the raised input, word for word.
    // scratch holds keySwitchDigitsScratchWords(level) words; the overlap
    // rules of keySwitchLimbs hold. Throws kLevelMessage when level >= L.
    void keySwitchDigitsLimbs(const std::uint64_t *const *digits, std::uint64_t level,
                              const std::uint32_t *permutation, const std::uint64_t *const *masks,
                              const std::uint64_t *const *bodies, std::uint64_t *out_body,
                              std::uint64_t *out_mask, std::uint64_t *scratch) const;
    std::uint64_t keySwitchDigitsScratchWords(std::uint64_t level) const;

private:
    // The key products of every target limb (temporary primes first) and,
    // in the last step, the division by P of the base limbs;
    // make_limbs(group, size, limbs) writes limb group[k] of digit d at
    // limbs + (d kGroup + k) N.
    template <typename MakeLimbs>
    void sumAndDivideLimbs(std::uint64_t level, MakeLimbs &&make_limbs,
                           const std::uint64_t *const *masks, const std::uint64_t *const *bodies,
                           const Step &step, std::uint64_t *out_body, std::uint64_t *out_mask,
                           std::uint64_t *scratch) const;
    void buildTables();
    void buildFastPathConstants();
    void modDownWithScratch(const std::uint64_t *in, std::uint64_t level, std::uint64_t *out,
                            bool ntt, std::uint64_t *scratch) const;
    void convertDigit(const std::uint64_t *t, std::uint64_t digit, std::uint64_t level,
                      std::uint64_t *out) const;
    // The source limb of prime index m of a digit from the input limb `in`
    // (NTT form when in_ntt, times factors[m] unless factors is null): in
    // coefficient form, times (Q_d / q_m)^-1 and centred when the digit has
    // several primes. tm must not overlap `in`.
    void prepareSource(const std::uint64_t *in, std::uint64_t m, bool in_ntt,
                       const std::uint64_t *factors, std::uint64_t *tm) const;
    // Digit `digit`'s centred source limbs in t (at their prime indices) into
    // the target limbs targets[k] written at outs[k], in [0, 4 q) and
    // coefficient form.
    void convertDigitTargets(const std::uint64_t *t, std::uint64_t digit, std::uint64_t level,
                             const std::uint64_t *targets, std::uint64_t num_targets,
                             std::uint64_t *const *outs) const;
    // The K temporary limbs (NTT form, one after the other from
    // `temporary`) as the sources of mod-down: in coefficient form, times
    // (P / p_m)^-1 and centred when K > 1. T may be `temporary` itself.
    void prepareTemporary(const std::uint64_t *temporary, std::uint64_t *T) const;
    // X modulo the base primes targets[k] into outs[k] (from
    // prepareTemporary's T), in [0, 4 q) and coefficient form. With K > 1,
    // `lifted` (N centred words, null for none) adds P times it.
    void convertTemporary(const std::uint64_t *T, const std::uint64_t *targets,
                          std::uint64_t num_targets, std::uint64_t *const *outs,
                          const std::int64_t *lifted = nullptr) const;

    // True when p has the chain's degree and chain length, and its array and
    // prime list cover `limbs` limbs whose primes are the chain's.
    bool fitsChain(const Polynomial &p, std::uint64_t limbs) const;
    void checkModUpInput(const Polynomial &in) const;

    std::shared_ptr<ContextContent> context_;
    std::vector<Modulus> moduli_;
    std::uint64_t degree_ = 0;
    std::uint64_t num_base_primes_ = 0;
    std::uint64_t num_all_primes_ = 0;
    std::uint64_t primes_per_digit_ = 0;
    MultipleDevice<DeviceSpecificArray<std::uint64_t>> digit_hat_inv_mod_q_;
    MultipleDevice<DeviceSpecificArray2D<std::uint64_t>> digit_hat_mod_qp_;
    MultipleDevice<DeviceSpecificArray<std::uint64_t>> p_hat_inv_mod_p_;
    MultipleDevice<DeviceSpecificArray2D<std::uint64_t>> p_hat_mod_q_;
    MultipleDevice<DeviceSpecificArray<std::uint64_t>> p_inv_mod_q_;

    // Per prime: the constants that fold a 128-bit sum and the bias that
    // makes a signed sum non-negative (lazy kernels).
    std::vector<keyswitch_kernels::FoldConstants> fold_;
    std::vector<unsigned __int128> fold_bias_;
    std::uint64_t terms_per_fold_ = 1;
    // Per base prime q_i: [P]_{q_i}; L x L, row l: [P^-1 q_l^-1]_{q_i} for
    // i < l (the fused rescale).
    std::vector<std::uint64_t> p_mod_q_;
    std::vector<std::uint64_t> p_inv_top_inv_;
};

} // namespace Quelt
