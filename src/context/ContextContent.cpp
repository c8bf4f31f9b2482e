#include "context/ContextContent.hpp"

#include "Quelt/Exception.hpp"
#include "boot/RadixDecomposition.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <string>

namespace Quelt {

namespace {

constexpr const char *kNotBootstrappableMessage = "The parameter dose not support bootstrap.";
constexpr const char *kInvalidDftSizesMessage =
    "[getRotIndicesForBootstrap] The DFT sizes must be a non-empty, non-decreasing list";

// The decomposition of the CoeffToSlot transform; fused contexts split it
// into fixed radices whose first step the fused modulus raise performs.
RadixDecomposition coeffToSlotDecomposition(const Parameter &parameter, u64 log_slots) {
    if (!parameter.fuse_mod_raise)
        return RadixDecomposition(log_slots);
    return fusedCoeffToSlotDecomposition(parameter.preset, parameter.log_degree);
}

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

void foldInto(std::uint64_t &seed, std::uint64_t value) {
    seed ^= mix(value) + 0x9e3779b9ULL + (seed << 6) + (seed >> 2);
}

// Baby-step then giant-step amounts of one step of a decomposition.
void insertStepAmounts(std::set<std::int64_t> &amounts, const RadixDecomposition &decomposition,
                       u64 step, bool min_key) {
    for (std::int64_t amount : decomposition.getRotIndicesForBabyStep(step, min_key))
        amounts.insert(amount);
    for (std::int64_t amount : decomposition.getRotIndicesForGiantStep(step, min_key))
        amounts.insert(amount);
}

} // namespace

namespace utils {
std::uint64_t computeContextHash(const std::vector<std::uint64_t> &primes, std::uint64_t degree) {
    std::uint64_t seed = 0;
    for (std::uint64_t prime : primes)
        foldInto(seed, prime);
    foldInto(seed, degree);
    return seed;
}
} // namespace utils

std::set<Device> cudaIdsToDevices(const std::set<int> &cuda_ids) {
    const int count = CudaTools::cudaGetDeviceCount();
    std::set<Device> devices;
    for (int id : cuda_ids) {
        if (id < 0 || id >= count)
            throw RuntimeException("Invalid CUDA device ID: " + std::to_string(id));
        devices.insert(Device{Device::kCuda, id});
    }
    return devices;
}

ContextContent::ContextContent(const ParameterPreset &preset, const std::set<Device> &devices)
    : devices_(devices), parameter_(preset),
      prime_moduli_(preset, parameter_.chain_length + parameter_.num_tp, parameter_.degree,
                    devices_, false, false),
      scale_factors_(preset), fft_(parameter_.degree, devices_), hash_(computeHash()) {}

ContextContent::ContextContent(const ParameterPreset &preset, const std::string &name,
                               u64 num_secret, bool cyclic_ntt, bool double_degree,
                               const std::set<Device> &devices)
    : devices_(devices), parameter_(preset, name, num_secret, cyclic_ntt, double_degree),
      prime_moduli_(preset, parameter_.chain_length + parameter_.num_tp, parameter_.degree,
                    devices_, cyclic_ntt, double_degree),
      scale_factors_(preset), fft_(parameter_.degree, devices_), hash_(computeHash()) {}

ContextContent::ContextContent(u64 log_degree, u64 chain_length, u64 log_bpsize, u64 log_qpsize,
                               u64 log_tpsize, u64 gadget_rank, u64 rank, u64 num_secret,
                               const std::set<Device> &devices)
    : devices_(devices), parameter_(log_degree, chain_length, gadget_rank, log_bpsize, log_qpsize,
                                    log_tpsize, rank, num_secret),
      prime_moduli_(log_degree, chain_length, log_bpsize, log_qpsize, log_tpsize, gadget_rank,
                    devices_),
      scale_factors_(parameter_, prime_moduli_), fft_(parameter_.degree, devices_),
      hash_(computeHash()) {}

ContextContent::ContextContent(const Parameter &parameter, const std::vector<Modulus> &moduli,
                               const ScaleFactors &scale_factors, const std::set<Device> &devices)
    : devices_(devices), parameter_(parameter), prime_moduli_(moduli, parameter.degree, devices_),
      scale_factors_(scale_factors), fft_(parameter_.degree, devices_), hash_(computeHash()) {}

std::vector<std::uint64_t> ContextContent::getPrimeValues() const {
    std::vector<std::uint64_t> values;
    for (const auto &modulus : prime_moduli_.getModuli())
        values.push_back(modulus.getPrime());
    return values;
}

std::vector<NttType> ContextContent::getNttTypes() const {
    std::vector<NttType> types;
    for (const auto &modulus : prime_moduli_.getModuli())
        types.push_back(modulus.getNttType());
    return types;
}

std::uint64_t ContextContent::computeHash() const {
    std::uint64_t hash = utils::computeContextHash(getPrimeValues(), parameter_.degree);
    // The conjugate-invariant transform turns the same primes and degree into
    // another ring. Marking it keeps a saved object of one from passing the
    // verifier of the other, where it would load silently and decode wrongly.
    const std::vector<NttType> types = getNttTypes();
    if (std::find(types.begin(), types.end(), NttType::CONJUGATE_INVARIANT) != types.end())
        foldInto(hash, static_cast<std::uint64_t>(NttType::CONJUGATE_INVARIANT));
    return hash;
}

bool ContextContent::operator==(const ContextContent &other) const {
    const Parameter &a = parameter_;
    const Parameter &b = other.parameter_;
    bool same;
    if (a.preset != ParameterPreset::CUSTOM) {
        same = a.preset == b.preset;
    } else {
        same = b.preset == ParameterPreset::CUSTOM && a.log_degree == b.log_degree &&
               a.num_tp == b.num_tp && a.log_bpsize == b.log_bpsize &&
               a.log_qpsize == b.log_qpsize && a.log_tpsize == b.log_tpsize &&
               a.gadget_rank == b.gadget_rank;
    }
    if (!same || a.degree != b.degree)
        return false;
    // Same ring, same transforms: compare the kinds of transform in use, so
    // chains of different lengths (CUSTOM) can still be equal.
    const std::vector<NttType> types_a = getNttTypes();
    const std::vector<NttType> types_b = other.getNttTypes();
    return std::set<NttType>(types_a.begin(), types_a.end()) ==
           std::set<NttType>(types_b.begin(), types_b.end());
}

std::shared_ptr<ContextContent> ContextContent::genMultiSecretContext(const std::string &name,
                                                                      u64 num_secret) const {
    Parameter parameter = parameter_;
    parameter.name = name;
    parameter.num_secret = num_secret;
    return std::make_shared<ContextContent>(parameter, prime_moduli_.getModuli(), scale_factors_,
                                            devices_);
}

std::set<std::int64_t> ContextContent::getRotIndicesForBootstrap(u64 log_slots, bool min_key,
                                                                 bool skip_slot_to_coeff) const {
    if (!parameter_.bootstrappable)
        throw RuntimeException(kNotBootstrappableMessage);
    const RadixDecomposition slot_to_coeff(log_slots);
    const RadixDecomposition coeff_to_slot = coeffToSlotDecomposition(parameter_, log_slots);
    // With a fused modulus raise, step 0 is carried out by the fused keys.
    const u64 first_coeff_to_slot_step = parameter_.fuse_mod_raise ? 1 : 0;

    std::set<std::int64_t> amounts;
    if (!skip_slot_to_coeff)
        for (u64 step = 0; step < slot_to_coeff.num_radices; ++step)
            insertStepAmounts(amounts, slot_to_coeff, step, min_key);
    if (!parameter_.outsourced_bootstrap)
        for (u64 step = first_coeff_to_slot_step; step < coeff_to_slot.num_radices; ++step)
            insertStepAmounts(amounts, coeff_to_slot, step, min_key);
    // Rotations that fold a sparse slot vector; log_slots <= 20 here.
    for (u64 p = u64{1} << log_slots; p < parameter_.num_slots; p <<= 1)
        amounts.insert(static_cast<std::int64_t>(p));
    return amounts;
}

std::set<std::int64_t>
ContextContent::getRotIndicesForBootstrap(const std::vector<u64> &log_dft_sizes,
                                          bool min_key) const {
    const std::optional<std::vector<u64>> log_radices = logRadicesFromDftSizes(log_dft_sizes);
    if (!log_radices)
        throw RuntimeException(kInvalidDftSizesMessage);
    const RadixDecomposition decomposition(*log_radices);
    std::set<std::int64_t> amounts;
    for (u64 step = 0; step < decomposition.num_radices; ++step)
        insertStepAmounts(amounts, decomposition, step, min_key);
    return amounts;
}

} // namespace Quelt
