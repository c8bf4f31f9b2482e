#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/LWEParameterPreset.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "arith/Modulus.hpp"
#include "arith/Validators.hpp"
#include "foundation/MultipleDevice.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace Quelt {

namespace cuda {
class DeviceEngineHolder;
} // namespace cuda

// The ordered chain of word-sized primes of one context, one `Modulus` (with
// its transform) per prime, and the owner of the tables that residue
// operations on the chain need.
//
// Prime index order: 0 is the base prime, 1 .. chain_length - 1 the quantize
// primes, chain_length .. chain_length + num_tp - 1 the temporary primes of key
// switching. A chain is complete when its constructor returns and is read-only
// afterwards, so any number of threads may use it at once.
//
// The polynomial-level operations of the chain are members as well; each group
// lives in its own source file (PrimeModuliArith.cpp and its siblings) and is
// declared in its own section below.
class PrimeModuli {
public:
    using u64 = std::uint64_t;

    // ---------------------------------------------------------------------
    // Construction (PrimeModuli.cpp)
    // ---------------------------------------------------------------------

    // Chain of chain_length + num_tp primes found by search, transform type
    // NEGACYCLIC, degree N = 2^log_degree; num_tp = ceil(chain_length /
    // gadget_rank). Base, quantize and temporary primes have exactly
    // log_bpsize, log_qpsize and log_tpsize bits and are 1 modulo 2N.
    // Throws RuntimeException, before any prime is sought, when
    //   a size is above 61 bits, log_bpsize < log_qpsize, log_qpsize < 36,
    //   chain_length or gadget_rank is 0, log_bpsize + (num_tp - 1) *
    //   log_qpsize > floor((chain_length + gadget_rank - 1) * log_tpsize /
    //   gadget_rank), or log_degree > 61 (checked in that order);
    // and afterwards when a bit size holds too few such primes or the chain
    // would contain a prime twice (temporary primes of the quantize size).
    PrimeModuli(u64 log_degree, u64 chain_length, u64 log_bpsize, u64 log_qpsize, u64 log_tpsize,
                u64 gadget_rank, std::set<Device> devices);

    // Chain of the given moduli, in the given order. Throws RuntimeException
    // when the list is empty, a modulus has no transform (type NONE), a
    // modulus has another degree than `degree`, or a prime occurs twice.
    PrimeModuli(std::vector<Modulus> moduli, u64 degree, std::set<Device> devices);

    // Chain of the compiled-in prime list of a preset (aliases folded: 4 -> 3,
    // 6..11 -> 5, 31..37 -> 25). Transform type: CONJUGATE_INVARIANT when
    // conj_invariant is set, else NEGACYCLIC when force_negacyclic is set,
    // else NEGACYCLIC_SQUARE_4N when the preset's parameter has re_remove_i,
    // else NEGACYCLIC. Throws RuntimeException for CUSTOM and when `count`
    // differs from the length of the list; std::out_of_range for a value
    // without a list.
    PrimeModuli(ParameterPreset const &preset, u64 count, u64 degree, std::set<Device> devices,
                bool conj_invariant, bool force_negacyclic);

    // LWE chain from sizes: the largest prime below 2^log_bpsize, then the
    // chain_length - 1 largest primes below 2^log_qpsize (odd-step search),
    // without transforms (type NONE); the degree holds the LWE dimension.
    // Builds no tables. Throws RuntimeException for a size above 61 bits,
    // log_bpsize < log_qpsize, log_qpsize < 36 or chain_length 0 (in that
    // order), and for a repeated prime (log_bpsize = log_qpsize with
    // chain_length > 1).
    PrimeModuli(u64 dimension, u64 chain_length, u64 log_bpsize, u64 log_qpsize,
                std::set<Device> devices);

    // LWE chain of the compiled-in LWE list of a preset, without transforms.
    // Throws RuntimeException for CUSTOM and when `count` differs from the
    // length of the list.
    PrimeModuli(LWE::ParameterPreset const &preset, u64 count, u64 dimension,
                std::set<Device> devices);

    // Hands the chain to an accelerator. This build has none: always throws
    // "Cannot support the function 'toDevice' in the current build
    // configuration". Constructors call it only when an accelerator is
    // available.
    void toDevice();

    // ---------------------------------------------------------------------
    // Compiled-in prime lists (PrimeLists.cpp)
    // ---------------------------------------------------------------------

    // The primes of a preset in chain order. Throws std::out_of_range
    // ("map::at") for a value without a list (aliases, CUSTOM, above 119).
    static const std::vector<u64> &getPrimeList(ParameterPreset preset);
    static const std::vector<u64> &getPrimeList(LWE::ParameterPreset preset);

    // ---------------------------------------------------------------------
    // Accessors
    // ---------------------------------------------------------------------

    const std::vector<Modulus> &getModuli() const { return moduli_; }
    // Throws std::out_of_range for an index past the chain.
    const Modulus &getModulus(u64 index) const { return moduli_.at(index); }
    u64 getNumPrimes() const { return moduli_.size(); }
    // Ring degree N (the LWE dimension for LWE chains).
    u64 getDegree() const { return degree_; }
    const std::set<Device> &getDevices() const { return devices_; }

    // Two words per prime j: v_j, position 0 of the forward transform of
    // X^(N/2) (a square root of -1 modulo q_j for the negacyclic types), and
    // q_j - v_j. Empty for LWE chains.
    const DeviceSpecificArray<u64> &getICoefficients() const { return i_coefficients_; }

    // Row-major M x M table (M primes) of a device: entry [i][j] = q_i^-1 mod
    // q_j for j < i; entries with j >= i hold 0. Empty for LWE chains. Throws
    // std::out_of_range("map::at") for a device without a table.
    const DeviceSpecificArray<u64> &getInvPrimeData(const Device &device) const {
        return inv_prime_data_.at(device);
    }

    // ---------------------------------------------------------------------
    // Polynomial operations (PrimeModuliArith.cpp and siblings)
    // ---------------------------------------------------------------------

private:
    void initICoefficients();
    void initInvPrimeData();
    void handOverToAccelerator();

    // Moduli in chain order: base, quantize, temporary.
    std::vector<Modulus> moduli_;
    // Devices the context was made for; a non-host operand must be on one.
    std::set<Device> devices_;
    u64 degree_ = 0;
    // Per-device accelerator engines; empty in this build.
    std::map<Device, std::shared_ptr<cuda::DeviceEngineHolder>> device_engines_;
    // Host array, 2 words per prime (see getICoefficients).
    DeviceSpecificArray<u64> i_coefficients_;
    // Per-device inverse-prime tables (see getInvPrimeData); rescaling by q_l
    // reads row l.
    MultipleDevice<DeviceSpecificArray<u64>> inv_prime_data_;
};

} // namespace Quelt
