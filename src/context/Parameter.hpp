#pragma once

#include "Quelt/ParameterPreset.hpp"
#include "Quelt/SecurityLevel.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace Quelt {

// The largest log2 ring degree of any context: explicit sizes go up to 2^20,
// and a double-degree variant doubles its preset's degree. Readers of stored
// objects that carry no context bound what they allocate by it.
inline constexpr std::uint64_t kMaxLogDegree = 21;

// Sizes and features of one parameter set. A plain value: built once by one of
// the constructors and never changed afterwards. Invariants of every record:
// degree = 2^log_degree, num_slots = degree / 2, num_base_primes = 1,
// num_quantize_primes = chain_length - 1, gap_level = 0, sigma = 3.2.
struct Parameter {
    // The preset this record was made from; CUSTOM for explicit sizes.
    ParameterPreset preset = ParameterPreset::CUSTOM;
    // The preset's name, "CUSTOM", or the name given to the multi-secret constructor.
    std::string name;
    // Set only for the small and outsourcing companion presets: the preset they derive from.
    std::optional<ParameterPreset> parent_preset;

    bool bootstrappable = false;
    bool extended_bootstrap = false;
    bool sparse_secret_encapsulation = false;
    bool double_hoisting = false;
    bool batch_bootstrap = false;
    bool fuse_mod_raise = false;
    bool coeff_boot = false;
    // Set only by the multi-secret constructor; the chain then uses the
    // conjugate-invariant transform for every prime.
    bool cyclic_ntt = false;
    // The chain's primes satisfy p = 1 mod 4N and use the 4N-root transform.
    bool re_remove_i = false;
    bool outsourced_bootstrap = false;
    // The preset is the outsourcing companion of its parent.
    bool outsourcing_parameter = false;
    // The preset is the small companion of its parent.
    bool small_parameter = false;
    bool full_packed_base_modulus = false;
    bool automatic_gap_resolve = false;

    std::uint64_t rank = 1;
    std::uint64_t num_secret = 1;
    std::uint64_t log_degree = 0;
    std::uint64_t degree = 0;
    std::uint64_t num_slots = 0;
    // Base and quantize primes; levels run from 0 to chain_length - 1.
    std::uint64_t chain_length = 0;
    // Number of digits of the key-switching gadget decomposition.
    std::uint64_t gadget_rank = 0;
    std::uint64_t num_base_primes = 1;
    std::uint64_t num_quantize_primes = 0;
    // Number of temporary (key-switching) primes.
    std::uint64_t num_tp = 0;
    // First and last level of the remove-I step of bootstrapping; 0 where a
    // preset does not use it and in custom records.
    std::uint64_t remove_i_begin_level = 0;
    std::uint64_t remove_i_end_level = 0;
    // Level of fresh ciphertexts.
    std::uint64_t encryption_level = 0;
    std::uint64_t gap_level = 0;
    // Number of nonzero coefficients of a sampled secret.
    std::uint64_t hamming_weight = 0;
    // Width of the Gaussian error.
    double sigma = 3.2;
    // Bit sizes of the base, quantize and temporary primes of a custom record;
    // 0 for presets, whose primes come from compiled-in lists.
    std::uint64_t log_bpsize = 0;
    std::uint64_t log_qpsize = 0;
    std::uint64_t log_tpsize = 0;
    SecurityLevel security_level = SecurityLevel::NONE;

    // The record of a named preset.
    // Throws RuntimeException "Need to specify some parameters in order to use
    // CUSTOM parameters." for CUSTOM and "The input parameter preset is not yet
    // supported." for a value above 119.
    explicit Parameter(const ParameterPreset &preset);

    // A custom record from explicit sizes (module rank must be 1). The number
    // of temporary primes is ceil(chain_length / gadget_rank), the Hamming
    // weight round(2 * rank * 2^log_degree / 3) and the security level is
    // estimated from the total modulus size.
    // Throws RuntimeException, checked in this order before anything is built:
    //   "[Parameter] Invalid log_degree" unless 6 <= log_degree <= 20,
    //   "[Parameter] Invalid chain_length" unless 1 <= chain_length <= 50,
    //   "[Parameter] Invalid gadget_rank" if gadget_rank is 0,
    //   "[Parameter] custom parameter with rank > 1 is not supported." unless rank is 1.
    Parameter(std::uint64_t log_degree, std::uint64_t chain_length, std::uint64_t gadget_rank,
              std::uint64_t log_bpsize, std::uint64_t log_qpsize, std::uint64_t log_tpsize,
              std::uint64_t rank, std::uint64_t num_secret);

    // A ring-LWE record with `num_secret` secrets built on the preset's sizes,
    // under a new name. `cyclic_ntt` is stored as the flag of that name and
    // `double_degree` doubles the ring degree. The module rank becomes 1, the
    // outsourcing, full-packed and gap-resolve flags are cleared and the record
    // has no parent.
    // Throws the preset constructor's messages.
    Parameter(const ParameterPreset &preset, const std::string &name, std::uint64_t num_secret,
              bool cyclic_ntt, bool double_degree);
};

} // namespace Quelt
