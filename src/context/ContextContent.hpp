#pragma once

#include "Quelt/Context.hpp"
#include "Quelt/Device.hpp"
#include "arith/FFT.hpp"
#include "arith/Modulus.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/Parameter.hpp"
#include "context/ScaleFactors.hpp"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Quelt {

inline constexpr const char *kNullContextMessage = "[Context] The context is null";

// The accelerator devices named by CUDA ids, checked against the number of
// accelerators present. Throws "Invalid CUDA device ID: <id>" for an id that is
// negative or not below that number; an empty set serves the host only.
std::set<Device> cudaIdsToDevices(const std::set<int> &cuda_ids);

namespace utils {
// The identity hash of a chain: every prime in chain order folded into a seed
// with a splitmix64 mix, then the degree (or the LWE dimension).
std::uint64_t computeContextHash(const std::vector<std::uint64_t> &primes, std::uint64_t degree);
} // namespace utils

class ContextContent {
public:
    // The preset's context.
    ContextContent(const ParameterPreset &preset, const std::set<Device> &devices);
    // A multi-secret variant of a preset (see makeContext).
    ContextContent(const ParameterPreset &preset, const std::string &name, std::uint64_t num_secret,
                   bool cyclic_ntt, bool double_degree, const std::set<Device> &devices);
    // A CUSTOM context from sizes.
    ContextContent(std::uint64_t log_degree, std::uint64_t chain_length, std::uint64_t log_bpsize,
                   std::uint64_t log_qpsize, std::uint64_t log_tpsize, std::uint64_t gadget_rank,
                   std::uint64_t rank, std::uint64_t num_secret, const std::set<Device> &devices);
    // A context from a record, a ready chain of moduli and scale factors.
    ContextContent(const Parameter &parameter, const std::vector<Modulus> &moduli,
                   const ScaleFactors &scale_factors, const std::set<Device> &devices);

    ContextContent(const ContextContent &) = delete;
    ContextContent &operator=(const ContextContent &) = delete;

    // Preset contexts are equal when their presets are; CUSTOM contexts when
    // their degree, number of temporary primes, bit sizes and gadget rank
    // agree. Beyond that both must serve the same ring (degree) with the same
    // transform types, so a double-degree or cyclic variant never equals the
    // plain context of its preset.
    bool operator==(const ContextContent &other) const;
    bool operator!=(const ContextContent &other) const { return !(*this == other); }

    std::shared_ptr<ContextContent> genMultiSecretContext(const std::string &name,
                                                          std::uint64_t num_secret) const;

    std::set<std::int64_t> getRotIndicesForBootstrap(std::uint64_t log_slots, bool min_key,
                                                     bool skip_slot_to_coeff) const;
    std::set<std::int64_t>
    getRotIndicesForBootstrap(const std::vector<std::uint64_t> &log_dft_sizes, bool min_key) const;

    const std::set<Device> &getDevices() const { return devices_; }
    const Parameter &getParameter() const { return parameter_; }
    const PrimeModuli &getPrimeModuli() const { return prime_moduli_; }
    const ScaleFactors &getScaleFactors() const { return scale_factors_; }
    const FFT &getFFT() const { return fft_; }
    // computeContextHash of the primes and the degree; a chain with
    // conjugate-invariant transforms folds in one more value, since it is a
    // different ring over the same primes.
    std::uint64_t getHash() const { return hash_; }

    // The values of every modulus of the chain, in chain order.
    std::vector<std::uint64_t> getPrimeValues() const;
    // The transform types of the chain's moduli, in chain order.
    std::vector<NttType> getNttTypes() const;

private:
    std::uint64_t computeHash() const;

    std::set<Device> devices_;
    Parameter parameter_;
    PrimeModuli prime_moduli_;
    ScaleFactors scale_factors_;
    FFT fft_;
    std::uint64_t hash_;
};

} // namespace Quelt
