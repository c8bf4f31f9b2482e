#pragma once

#include "Quelt/LWEParameterPreset.hpp"
#include "Quelt/ParameterPreset.hpp"

#include <cstdint>
#include <utility>
#include <vector>

namespace Quelt {

struct Parameter;
class PrimeModuli;
namespace LWE {
struct Parameter;
}

inline constexpr const char *kInvalidScaleFactorMessage =
    "[ScaleFactors] The scale factor for given level is not valid";
inline constexpr const char *kInvalidSmallParameterMessage = "Invalid Small Parameter";

// Default log2 scale of every level of a context: a product of two ciphertexts
// encoded at level l and rescaled by q_l lands on the scale of level l - 1.
// factors[l] == 0.0 marks a level without a valid default. corrections[l] is
// the integer correction (stored negated) that bootstrappable presets apply
// between level l and level l - 1; it is zero elsewhere and empty for LWE
// contexts.
class ScaleFactors {
public:
    // Custom ring contexts: one factor per modulus of the chain (temporary
    // primes get 0.0), the plain rule from the top base/quantize prime down.
    ScaleFactors(const Parameter &parameter, const PrimeModuli &moduli);

    // Named presets (also their multi-secret variants), by the preset rules.
    // Throws RuntimeException: the Parameter constructor's messages (CUSTOM,
    // unknown values), "Invalid Small Parameter" for a small companion that
    // does not share its parent's lower primes, and "[ScaleFactors] The scale
    // factor for given level is not valid" for an outsourcing companion that
    // would take a missing factor of its parent.
    explicit ScaleFactors(const ParameterPreset &preset);

    // LWE contexts from sizes: the plain rule over the chain; no corrections.
    ScaleFactors(const LWE::Parameter &parameter, const PrimeModuli &moduli);

    // LWE presets; the presets that share a ring preset's primes take that
    // preset's factors, cut or zero-extended to the LWE prime count.
    explicit ScaleFactors(const LWE::ParameterPreset &preset);

    const std::vector<double> &getFactors() const { return factors_; }
    const std::vector<std::int64_t> &getCorrections() const { return corrections_; }

    // factors[level]; throws "[ScaleFactors] The scale factor for given level
    // is not valid" when the level has no valid factor (0.0 or out of range).
    double getScaleFactor(std::uint64_t level) const;

    // corrections[level], or 0 beyond the list.
    std::int64_t getCorrection(std::uint64_t level) const;

private:
    ScaleFactors(std::vector<double> factors, std::vector<std::int64_t> corrections)
        : factors_(std::move(factors)), corrections_(std::move(corrections)) {}

    std::vector<double> factors_;
    std::vector<std::int64_t> corrections_;
};

namespace utils {

// log2 of a prime as a double.
double log2Prime(std::uint64_t prime);
// log2 of a prime rounded to the nearest integer, halves away from zero.
std::int64_t roundedLog2Prime(std::uint64_t prime);

// The plain rule over the first `length` primes: factors[length - 1] = top and
// factors[l - 1] = 2 * factors[l] - log2(q_l). Entries from `length` on are
// left as they are. Requires length <= factors.size() and length <= primes.size().
void applyPlainScaleRule(std::vector<double> &factors, const std::vector<std::uint64_t> &primes,
                         std::uint64_t length, double top);

// The rule of bootstrappable presets: factors follow the rounded bit sizes of
// the primes so that the levels from b = boot_level on keep the size of q_b,
// the levels below keep the size of q_E (E = low_level). Fills `length` entries
// of both lists.
void applyBootstrappableScaleRule(std::vector<double> &factors,
                                  std::vector<std::int64_t> &corrections,
                                  const std::vector<std::uint64_t> &primes, std::uint64_t length,
                                  std::uint64_t low_level, std::uint64_t boot_level);

// The rule of the cleaning presets: the top factor is the rounded size of the
// top prime, every level below absorbs the change of rounded prime size.
void applyCleaningScaleRule(std::vector<double> &factors, const std::vector<std::uint64_t> &primes,
                            std::uint64_t length);

} // namespace utils

} // namespace Quelt
