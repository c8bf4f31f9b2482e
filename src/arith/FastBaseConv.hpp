#pragma once

#include "Quelt/DeviceSpecificArray.hpp"
#include "arith/KeySwitchKernels.hpp"
#include "arith/Modulus.hpp"
#include "foundation/DeviceSpecificArray2D.hpp"
#include "foundation/MultipleDevice.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

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
    static constexpr const char *kLevelMessage =
        "[FastBaseConv] The level is outside the chain.";

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

    // Limb-level mod-down. `in` holds (L + K) N words in mod-up layout whose
    // limbs 0 .. level and L .. L + K - 1 are in NTT form; out receives limbs
    // 0 .. level of (in - X) / P, in NTT form when ntt, else in coefficient
    // form, every residue below its prime. `out` must not overlap `in`.
    // Throws kLevelMessage when level >= L.
    void modDownLimbs(const std::uint64_t *in, std::uint64_t level, std::uint64_t *out,
                      bool ntt) const;

private:
    void buildTables();
    void buildFastPathConstants();
    void convertDigit(const std::uint64_t *t, std::uint64_t digit, std::uint64_t level,
                      std::uint64_t *out) const;

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
};

} // namespace Quelt
