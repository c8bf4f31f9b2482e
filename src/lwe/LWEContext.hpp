#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/LWE/Context.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ScaleFactors.hpp"
#include "lwe/LWEParameter.hpp"

#include <cstdint>
#include <set>

namespace Quelt::LWE {

class ContextContent {
public:
    ContextContent(const ParameterPreset &preset, const std::set<Device> &devices);
    ContextContent(std::uint64_t dimension, std::uint64_t chain_length, std::uint64_t base_bits,
                   std::uint64_t quantize_bits, const std::set<Device> &devices);

    ContextContent(const ContextContent &) = delete;
    ContextContent &operator=(const ContextContent &) = delete;

    // Equal presets that are not CUSTOM; for two CUSTOM contexts, equal
    // dimension and bit sizes (the chain length is not compared).
    bool operator==(const ContextContent &other) const;
    bool operator!=(const ContextContent &other) const { return !(*this == other); }

    const std::set<Device> &getDevices() const { return devices_; }
    const Parameter &getParameter() const { return parameter_; }
    const PrimeModuli &getPrimeModuli() const { return prime_moduli_; }
    const ScaleFactors &getScaleFactors() const { return scale_factors_; }
    std::uint64_t getHash() const { return hash_; }

    // The values of every prime of the chain, in chain order.
    std::vector<std::uint64_t> getPrimeValues() const;

private:
    std::set<Device> devices_;
    Parameter parameter_;
    PrimeModuli prime_moduli_;
    ScaleFactors scale_factors_;
    std::uint64_t hash_;
};

// ctx itself. Throws RuntimeException "[Context] The context is null" for an
// empty pointer.
const std::shared_ptr<ContextContent> &checkedContext(const std::shared_ptr<ContextContent> &ctx);

} // namespace Quelt::LWE
