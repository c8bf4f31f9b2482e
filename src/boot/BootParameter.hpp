#pragma once

#include "Quelt/ParameterPreset.hpp"
#include "boot/RadixDecomposition.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Quelt {

class ContextContent;
class ScaleFactors;
struct BootPresetSettings;
struct Parameter;

// A positive rational number num / den as the key of a cosine approximation.
// Ordered by cross-multiplication, so 16/2 and 8/1 are the same key.
struct Rational {
    std::uint32_t num = 0;
    std::uint32_t den = 1;
};

// a < b when a.num * b.den < b.num * a.den. The products of two 32-bit words
// are formed exactly in 64 bits, so the order stays a strict weak order for
// every numerator and denominator.
bool operator<(const Rational &a, const Rational &b);

// The settings of one bootstrapping for a context: the multipliers around the
// modulus raise, the cosine approximation of the modular reduction, the level
// budgets of the two DFTs with the constants that scale their matrices, the
// exponents of the extended bootstrap, and the radix splits per log slot
// count. Built in full by the constructor and read directly afterwards.
struct BootParameter {
    // Integer multiplier applied before SlotToCoeff; the modular reduction
    // divides it out again.
    std::uint64_t mult_before_s2c = 0;
    // Integer multiplier applied after the modulus raise, before CoeffToSlot.
    std::uint64_t mult_before_c2s = 0;
    // Chebyshev coefficients c_0 .. c_(n-1) of the cosine approximation;
    // empty for presets without bootstrapping settings.
    std::vector<double> cosine_coeffs;
    // K, the range of the modular reduction.
    double range_k = 0.0;
    // The factor 2^sf[L-1] / (q0 * 2K * mult_before_c2s) is applied by a
    // constant multiplication at the start of the modular reduction instead
    // of being folded into the CoeffToSlot matrices.
    bool scale_before_remove_i = false;
    // m: the cosine polynomial is 2^m blocks of four coefficients.
    std::uint64_t cosine_log_blocks = 0;
    // r: the number of double-angle steps after the cosine.
    std::uint64_t num_double_angle = 0;
    // 1, 3 or 7.
    std::uint64_t arcsine_degree = 0;
    // Constants multiplied into the CoeffToSlot and SlotToCoeff matrices.
    double c2s_scale = 0.0;
    double s2c_scale = 0.0;
    // Levels consumed by CoeffToSlot (the number of steps of the fused split
    // on contexts that fuse the modulus raise) and by SlotToCoeff.
    std::uint64_t c2s_level_cost = 3;
    std::uint64_t s2c_level_cost = 3;
    // (e1, e2) of the extended bootstrap; zeros where the preset sets none.
    std::pair<std::uint64_t, std::uint64_t> extended_exponents{0, 0};
    // An outsourcing preset: no SlotToCoeff constants or keys are made.
    bool outsourced = false;
    // Radix splits stored per log slot count; the others take the default.
    std::map<std::uint64_t, RadixDecomposition> c2s_decompositions;
    std::map<std::uint64_t, RadixDecomposition> s2c_decompositions;

    // Fills every field from the context's preset, prime chain, scale
    // factors and feature flags. Throws RuntimeException "[Context] The
    // context is null", "[ScaleFactors] The scale factor for given level is
    // not valid" (no scale factor at the top level L - 1, or at level 0 for a
    // full packed base modulus) and "Currently, FuseModRaise is only supported
    // for degree 2^16".
    explicit BootParameter(const std::shared_ptr<ContextContent> &context);

    // The split stored for log_slots, else the default RadixDecomposition
    // (log_slots). Throws what that constructor throws.
    RadixDecomposition getRadixDecForC2S(std::uint64_t log_slots) const;
    RadixDecomposition getRadixDecForS2C(std::uint64_t log_slots) const;

private:
    // The fields of the preset's row of settings.
    void applySettings(const BootPresetSettings &row);
    // The SlotToCoeff constant: the scale corrections of the levels
    // SlotToCoeff rescales through (with the base prime's share for a full
    // packed base modulus).
    double slotToCoeffScale(const Parameter &parameter, const ScaleFactors &factors,
                            double q0) const;
    // The CoeffToSlot constant: the scale corrections of the top levels it
    // rescales through, times base / divisor unless the modular reduction
    // applies that factor.
    double coeffToSlotScale(const Parameter &parameter, const ScaleFactors &factors, double base,
                            double divisor) const;
};

// ---- Tables ------------------------------------------------------------------

// The key of a cosine approximation: K' = K / 2^(r-1) and the number n of
// coefficients.
using CosineKey = std::pair<Rational, std::uint64_t>;

struct CosineKeyLess {
    bool operator()(const CosineKey &a, const CosineKey &b) const {
        if (a.first < b.first)
            return true;
        if (b.first < a.first)
            return false;
        return a.second < b.second;
    }
};

using CosineCoefficientMap = std::map<CosineKey, std::vector<double>, CosineKeyLess>;

// The Chebyshev coefficients of cos(pi K' x) on [-1, 1] by key (eight
// entries), evaluated in the block form of the modular reduction. Built on
// first use (thread-safe) and never changed.
const CosineCoefficientMap &getCoeffList();

// A copy of the coefficients stored under (k, n). Throws std::out_of_range
// when there are none (a zero denominator never names an entry).
std::vector<double> getCosineCoeff(Rational k, std::uint64_t n);

// The per-preset row of the bootstrapping settings.
struct BootPresetSettings {
    std::uint64_t mult_before_s2c;
    std::uint64_t mult_before_c2s;
    double range_k;
    bool scale_before_remove_i;
    std::uint64_t cosine_log_blocks;
    std::uint64_t num_double_angle;
    std::uint64_t arcsine_degree;
    // The entry of getCoeffList() that the preset uses.
    Rational cosine_key;
    std::uint64_t cosine_count;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> extended_exponents;
};

// The row of a preset, or nothing for a preset without bootstrapping
// settings (CUSTOM among them).
std::optional<BootPresetSettings> getBootPresetSettings(ParameterPreset preset);

// True for the outsourcing presets, whose SlotToCoeff runs elsewhere.
bool isOutsourcedBootPreset(ParameterPreset preset);

} // namespace Quelt
