#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/MultipleDevice.hpp"
#include "arith/Modulus.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;

// Per-prime constants of the gadget decomposition of hybrid key switching.
// The L base and quantize primes q_0 .. q_{L-1} (product Q) are cut into
// digits of alpha = ceil(L / dnum) consecutive primes, Q_d the product of
// digit d; the K temporary primes that follow have product P. Digit d of a
// polynomial a is [a (Q / Q_d)^-1]_{Q_d}, and a key part for digit d carries
// P (Q / Q_d). The digits are always those of the full chain.
//
// Immutable after construction; the getters may be called from several
// threads at once.
class RNSDecomposeData {
public:
    // The tables of the context's chain (getLength base and quantize primes,
    // getNumTP temporary primes, gadget rank getGadgetRank). Throws the
    // context getters' "[Context] The context is null" for an empty pointer
    // and kNoGadgetRankMessage for a gadget rank of 0.
    explicit RNSDecomposeData(const std::shared_ptr<ContextContent> &context);

    // From a chain of moduli: the first `length` are the base and quantize
    // primes, the rest the temporary primes (possibly none: P is then 1).
    // Throws RuntimeException kNoBasePrimeMessage (length 0 or fewer moduli
    // than `length`) or kNoGadgetRankMessage (gadget_rank 0), before anything
    // is built.
    RNSDecomposeData(const std::vector<Modulus> &moduli, std::uint64_t length,
                     std::uint64_t gadget_rank);

    static constexpr const char *kNoBasePrimeMessage =
        "[RNSDecomposeData] The chain has fewer base and quantize primes than its length.";
    static constexpr const char *kNoGadgetRankMessage =
        "[RNSDecomposeData] The gadget rank must be at least 1.";

    // Each returns the first of L words of the table's array on `device`:
    //   getPMod:      [P]_{q_i}
    //   getHatQMod:   [Q / Q_d]_{q_i}, d the digit of i
    //   getHatQInvMod: [(Q / Q_d)^-1]_{q_i}
    // Only the host entry exists unless the table was copied; another device
    // throws std::out_of_range ("map::at"). The pointer stays valid for the
    // lifetime of the object.
    const std::uint64_t *getPMod(const Device &device) const;
    const std::uint64_t *getHatQMod(const Device &device) const;
    const std::uint64_t *getHatQInvMod(const Device &device) const;

private:
    MultipleDevice<DeviceSpecificArray<std::uint64_t>> p_mod_;
    MultipleDevice<DeviceSpecificArray<std::uint64_t>> hat_q_mod_;
    MultipleDevice<DeviceSpecificArray<std::uint64_t>> hat_q_inv_mod_;
};

} // namespace Quelt
