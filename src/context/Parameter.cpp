#include "context/Parameter.hpp"

#include "Quelt/Exception.hpp"
#include "context/ParameterPresetTable.hpp"
#include "context/SecurityLevelUtils.hpp"

#include <bit>
#include <cmath>
#include <limits>

namespace Quelt {

namespace {

constexpr double kSigma = 3.2;

constexpr std::uint64_t kMinCustomLogDegree = 6;
constexpr std::uint64_t kMaxCustomLogDegree = 20;
static_assert(kMaxCustomLogDegree < kMaxLogDegree);
constexpr std::uint64_t kMaxCustomChainLength = 50;

// Sum of bit sizes that saturates instead of wrapping, so that absurdly large
// sizes still compare as "too many bits" in the security estimate.
std::uint64_t saturatingBits(std::uint64_t base_bits, std::uint64_t count1, std::uint64_t bits1,
                             std::uint64_t count2, std::uint64_t bits2) {
    const unsigned __int128 total = static_cast<unsigned __int128>(base_bits) +
                                    static_cast<unsigned __int128>(count1) * bits1 +
                                    static_cast<unsigned __int128>(count2) * bits2;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    return total > kMax ? kMax : static_cast<std::uint64_t>(total);
}

SecurityLevel presetSecurityLevel(ParameterPreset preset) {
    // FX has a toy ring degree of 2^6 and makes no security claim.
    return preset == ParameterPreset::FX ? SecurityLevel::NONE : SecurityLevel::SL128;
}

} // namespace

Parameter::Parameter(const ParameterPreset &preset_) : preset(preset_) {
    const PresetRow &row = getPresetRow(preset_);
    name = row.name;
    parent_preset = row.parent;

    bootstrappable = row.has(kFlagBootstrappable);
    extended_bootstrap = row.has(kFlagExtendedBootstrap);
    sparse_secret_encapsulation = row.has(kFlagSparseSecretEncapsulation);
    double_hoisting = row.has(kFlagDoubleHoisting);
    batch_bootstrap = row.has(kFlagBatchBootstrap);
    fuse_mod_raise = row.has(kFlagFuseModRaise);
    coeff_boot = row.has(kFlagCoeffBoot);
    re_remove_i = row.has(kFlagReRemoveI);
    outsourced_bootstrap = row.has(kFlagOutsourcedBootstrap);
    outsourcing_parameter = row.has(kFlagOutsourcingParameter);
    small_parameter = row.has(kFlagSmallParameter);
    full_packed_base_modulus = row.has(kFlagFullPackedBaseModulus);
    automatic_gap_resolve = row.has(kFlagAutomaticGapResolve);

    rank = row.rank;
    num_secret = row.num_secret;
    log_degree = row.log_degree;
    degree = std::uint64_t{1} << log_degree;
    num_slots = degree / 2;
    chain_length = row.chain_length;
    gadget_rank = row.gadget_rank;
    num_base_primes = 1;
    num_quantize_primes = chain_length - 1;
    num_tp = row.num_tp;
    remove_i_begin_level = row.remove_i_begin_level;
    remove_i_end_level = row.remove_i_end_level;
    encryption_level = row.encryption_level;
    gap_level = 0;
    hamming_weight = row.hamming_weight;
    sigma = kSigma;
    security_level = presetSecurityLevel(preset_);
}

Parameter::Parameter(std::uint64_t log_degree_, std::uint64_t chain_length_,
                     std::uint64_t gadget_rank_, std::uint64_t log_bpsize_,
                     std::uint64_t log_qpsize_, std::uint64_t log_tpsize_, std::uint64_t rank_,
                     std::uint64_t num_secret_) {
    if (log_degree_ < kMinCustomLogDegree || log_degree_ > kMaxCustomLogDegree)
        throw RuntimeException("[Parameter] Invalid log_degree");
    // At least one (base) prime: encryption_level and the quantize count are chain_length - 1.
    if (chain_length_ == 0 || chain_length_ > kMaxCustomChainLength)
        throw RuntimeException("[Parameter] Invalid chain_length");
    // The gadget rank divides the chain into digits; a rank of 0 has none.
    if (gadget_rank_ == 0)
        throw RuntimeException("[Parameter] Invalid gadget_rank");
    if (rank_ != 1)
        throw RuntimeException("[Parameter] custom parameter with rank > 1 is not supported.");

    preset = ParameterPreset::CUSTOM;
    name = "CUSTOM";
    rank = rank_;
    num_secret = num_secret_;
    log_degree = log_degree_;
    degree = std::uint64_t{1} << log_degree;
    num_slots = degree / 2;
    chain_length = chain_length_;
    gadget_rank = gadget_rank_;
    num_base_primes = 1;
    num_quantize_primes = chain_length - 1;
    // ceil(chain_length / gadget_rank) without the overflow of (gadget_rank - 1 + chain_length).
    num_tp = chain_length / gadget_rank + (chain_length % gadget_rank != 0 ? 1 : 0);
    encryption_level = chain_length - 1;
    gap_level = 0;
    sigma = kSigma;
    log_bpsize = log_bpsize_;
    log_qpsize = log_qpsize_;
    log_tpsize = log_tpsize_;

    // rank is 1 here, so the secret has dimension N = 2^log_degree.
    hamming_weight =
        static_cast<std::uint64_t>(std::lround(2.0 * static_cast<double>(rank * degree) / 3.0));
    const std::uint64_t log_dimension =
        log_degree - 1 + static_cast<std::uint64_t>(std::bit_width(rank));
    const std::uint64_t total_bits =
        saturatingBits(log_bpsize, chain_length - 1, log_qpsize, num_tp, log_tpsize);
    security_level = computeLWESecurityLevel(log_dimension, total_bits);
}

Parameter::Parameter(const ParameterPreset &preset_, const std::string &name_,
                     std::uint64_t num_secret_, bool cyclic_ntt_, bool double_degree)
    : Parameter(preset_) {
    // Start from the preset's record and override what a multi-secret ring changes.
    name = name_;
    parent_preset.reset();
    cyclic_ntt = cyclic_ntt_;
    outsourcing_parameter = false;
    full_packed_base_modulus = false;
    automatic_gap_resolve = false;

    rank = 1;
    num_secret = num_secret_;
    if (double_degree) {
        log_degree += 1;
        degree = std::uint64_t{1} << log_degree;
        num_slots = degree / 2;
    }
    chain_length = num_base_primes + num_quantize_primes;
    gap_level = 0;
    sigma = kSigma;
    log_bpsize = 0;
    log_qpsize = 0;
    log_tpsize = 0;
    security_level = presetSecurityLevel(preset_);
}

} // namespace Quelt
