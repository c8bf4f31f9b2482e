#include "boot/BootParameter.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/ScaleFactors.hpp"
#include "foundation/WordArith.hpp"

#include <cmath>
#include <stdexcept>

namespace Quelt {

namespace {

// sf[level], refusing a level without a valid factor.
double validFactor(const ScaleFactors &factors, u64 level) {
    const std::vector<double> &list = factors.getFactors();
    if (level >= list.size() || list[level] == 0.0)
        throw RuntimeException(kInvalidScaleFactorMessage);
    return list[level];
}

// The sum of the integer scale corrections of levels first .. last.
double correctionSum(const ScaleFactors &factors, u64 first, u64 last) {
    std::int64_t sum = 0;
    for (u64 l = first; l <= last; ++l)
        sum += factors.getCorrection(l);
    return static_cast<double>(sum);
}

// a / b, or 0 when b is 0: a preset without settings has no multipliers, and
// its scales stay unset rather than infinite (the constants refuse them).
double quotientOrZero(double a, double b) { return b == 0.0 ? 0.0 : a / b; }

} // namespace

bool operator<(const Rational &a, const Rational &b) {
    return std::uint64_t{a.num} * b.den < std::uint64_t{b.num} * a.den;
}

std::vector<double> getCosineCoeff(Rational k, u64 n) {
    // 0/0 would compare equal to every key.
    if (k.den == 0)
        throw std::out_of_range("map::at");
    return getCoeffList().at({k, n});
}

BootParameter::BootParameter(const std::shared_ptr<ContextContent> &context) {
    if (!context)
        throw RuntimeException(kNullContextMessage);
    const Parameter &parameter = context->getParameter();
    const ParameterPreset preset = parameter.preset;

    if (const std::optional<BootPresetSettings> row = getBootPresetSettings(preset))
        applySettings(*row);

    const ScaleFactors &factors = context->getScaleFactors();
    const u64 chain_length = parameter.chain_length;
    const double q0 = static_cast<double>(context->getPrimeModuli().getModuli().at(0).getPrime());
    if (chain_length == 0)
        throw RuntimeException(kInvalidScaleFactorMessage);
    const double base = std::pow(2.0, validFactor(factors, chain_length - 1)) / q0;

    if (parameter.fuse_mod_raise) {
        RadixDecomposition split = fusedCoeffToSlotDecomposition(preset, parameter.log_degree);
        c2s_level_cost = split.num_radices;
        c2s_decompositions.insert_or_assign(parameter.log_degree - 1, std::move(split));
    }

    const double c2s_divisor = 2.0 * range_k * static_cast<double>(mult_before_c2s);
    if (preset == ParameterPreset::FVa) {
        c2s_scale = quotientOrZero(base, c2s_divisor);
        s2c_scale = 1.0;
        return;
    }

    if (parameter.bootstrappable) {
        s2c_scale = slotToCoeffScale(parameter, factors, q0);
        c2s_scale = coeffToSlotScale(parameter, factors, base, c2s_divisor);
    }

    outsourced = isOutsourcedBootPreset(preset);
}

void BootParameter::applySettings(const BootPresetSettings &row) {
    mult_before_s2c = row.mult_before_s2c;
    mult_before_c2s = row.mult_before_c2s;
    range_k = row.range_k;
    scale_before_remove_i = row.scale_before_remove_i;
    cosine_log_blocks = row.cosine_log_blocks;
    num_double_angle = row.num_double_angle;
    arcsine_degree = row.arcsine_degree;
    cosine_coeffs = getCosineCoeff(row.cosine_key, row.cosine_count);
    if (row.extended_exponents)
        extended_exponents = *row.extended_exponents;
}

double BootParameter::slotToCoeffScale(const Parameter &parameter, const ScaleFactors &factors,
                                       double q0) const {
    // The corrections of the levels SlotToCoeff rescales through: from
    // level 1, or from just above the encryption level when the message
    // sits in the coefficients (one level more with re-remove-I).
    u64 first = 1;
    u64 count = s2c_level_cost;
    if (parameter.coeff_boot) {
        first = parameter.encryption_level + 1;
        if (parameter.re_remove_i)
            ++count;
    }
    double scale = std::pow(2.0, correctionSum(factors, first, first + count - 1));
    if (parameter.full_packed_base_modulus) {
        const double level0 = validFactor(factors, 0);
        scale = quotientOrZero(scale * (q0 / std::pow(2.0, level0)),
                               static_cast<double>(mult_before_s2c));
    }
    return scale;
}

double BootParameter::coeffToSlotScale(const Parameter &parameter, const ScaleFactors &factors,
                                       double base, double divisor) const {
    // The top levels CoeffToSlot rescales through, one per step. The
    // fused first step divides by the two temporary primes it multiplied
    // in (its diagonals carry q_(L+1), its keys q_L), exactly, so a fused
    // CoeffToSlot rescales through one chain level fewer than its steps.
    const u64 chain_length = parameter.chain_length;
    const u64 c2s_levels =
        parameter.fuse_mod_raise && c2s_level_cost > 0 ? c2s_level_cost - 1 : c2s_level_cost;
    const u64 c2s_first = chain_length > c2s_levels ? chain_length - c2s_levels : 0;
    const double c2s_power =
        c2s_levels == 0 ? 0.0 : correctionSum(factors, c2s_first, chain_length - 1);
    double scale = std::pow(2.0, c2s_power);
    if (!scale_before_remove_i)
        scale = quotientOrZero(scale * base, divisor);
    return scale;
}

RadixDecomposition BootParameter::getRadixDecForC2S(u64 log_slots) const {
    const auto it = c2s_decompositions.find(log_slots);
    return it != c2s_decompositions.end() ? it->second : RadixDecomposition(log_slots);
}

RadixDecomposition BootParameter::getRadixDecForS2C(u64 log_slots) const {
    const auto it = s2c_decompositions.find(log_slots);
    return it != s2c_decompositions.end() ? it->second : RadixDecomposition(log_slots);
}

} // namespace Quelt
