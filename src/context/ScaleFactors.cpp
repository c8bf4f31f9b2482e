#include "context/ScaleFactors.hpp"

#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/Parameter.hpp"
#include "foundation/WordArith.hpp"
#include "lwe/LWEParameter.hpp"

#include <cmath>
#include <optional>

namespace Quelt {

namespace utils {

double log2Prime(std::uint64_t prime) { return std::log2(static_cast<double>(prime)); }

std::int64_t roundedLog2Prime(std::uint64_t prime) { return std::llround(log2Prime(prime)); }

namespace {
// 2 * s - lg(q) as one fused multiply-subtract (2 * s is exact, so this is
// also the correctly rounded difference).
double doubledMinusLog(double s, std::uint64_t prime) {
    return std::fma(2.0, s, -log2Prime(prime));
}
} // namespace

void applyPlainScaleRule(std::vector<double> &factors, const std::vector<std::uint64_t> &primes,
                         std::uint64_t length, double top) {
    if (length == 0)
        return;
    if (length > factors.size() || length > primes.size())
        throw RuntimeException("[ScaleFactors] The chain is shorter than the number of levels");
    factors[length - 1] = top;
    for (std::uint64_t l = length - 1; l >= 1; --l)
        factors[l - 1] = doubledMinusLog(factors[l], primes[l]);
}

void applyBootstrappableScaleRule(std::vector<double> &factors,
                                  std::vector<std::int64_t> &corrections,
                                  const std::vector<std::uint64_t> &primes, std::uint64_t length,
                                  std::uint64_t low_level, std::uint64_t boot_level) {
    if (length == 0)
        return;
    if (length > factors.size() || length > corrections.size() || length > primes.size() ||
        boot_level >= primes.size() || low_level >= primes.size())
        throw RuntimeException("[ScaleFactors] The chain is shorter than the number of levels");
    const std::int64_t boot_bits = utils::roundedLog2Prime(primes[boot_level]);
    const std::int64_t low_bits = utils::roundedLog2Prime(primes[low_level]);
    factors[length - 1] =
        static_cast<double>(boot_bits - utils::roundedLog2Prime(primes[0])) + log2Prime(primes[0]);
    for (std::uint64_t l = length - 1; l >= 1; --l) {
        const std::int64_t bits = utils::roundedLog2Prime(primes[l]);
        std::int64_t t = (l + 1 <= boot_level) ? low_bits - bits : boot_bits - bits;
        if (l == boot_level)
            t += boot_bits - low_bits;
        corrections[l] = -t;
        factors[l - 1] = doubledMinusLog(factors[l], primes[l]) - static_cast<double>(t);
    }
}

void applyCleaningScaleRule(std::vector<double> &factors, const std::vector<std::uint64_t> &primes,
                            std::uint64_t length) {
    if (length == 0)
        return;
    if (length > factors.size() || length > primes.size())
        throw RuntimeException("[ScaleFactors] The chain is shorter than the number of levels");
    std::int64_t prev = utils::roundedLog2Prime(primes[length - 1]);
    factors[length - 1] = static_cast<double>(prev) - 1.3e-10;
    for (std::uint64_t l = length - 1; l >= 1; --l) {
        const std::int64_t bits = utils::roundedLog2Prime(primes[l]);
        const std::int64_t d = bits - prev;
        if (l > 1) {
            if (d != 0)
                factors[l] += static_cast<double>(d);
            factors[l - 1] = doubledMinusLog(factors[l], primes[l]);
            prev = bits;
        } else {
            // The correction of level 1 moves down to level 0.
            factors[0] = doubledMinusLog(factors[1], primes[1]) + static_cast<double>(d);
        }
    }
}

} // namespace utils

namespace {

std::vector<u64> chainPrimes(const PrimeModuli &moduli) {
    std::vector<u64> primes;
    for (const auto &modulus : moduli.getModuli())
        primes.push_back(modulus.getPrime());
    return primes;
}

// Presets whose factors are those of another preset, whole or cut to their
// own chain length.
struct BorrowedFactors {
    ParameterPreset source;
    bool cut;
};

std::optional<BorrowedFactors> borrowedFactorsOf(ParameterPreset preset) {
    const auto v = static_cast<std::uint32_t>(preset);
    auto whole = [](std::uint32_t s) {
        return BorrowedFactors{static_cast<ParameterPreset>(s), false};
    };
    auto cut = [](std::uint32_t s) {
        return BorrowedFactors{static_cast<ParameterPreset>(s), true};
    };
    if (v == 4)
        return whole(3);
    if (v >= 6 && v <= 11)
        return whole(5);
    if (v >= 31 && v <= 37)
        return whole(25);
    if (v == 83 || v == 85 || v == 86 || v == 87)
        return whole(80);
    if (v == 91)
        return whole(88);
    if ((v >= 26 && v <= 30) || (v >= 44 && v <= 47))
        return cut(3);
    if (v == 62)
        return cut(50);
    if (v == 65)
        return cut(63);
    if (v == 103 || v == 104)
        return cut(99);
    if (v == 109 || v == 110)
        return cut(105);
    if (v == 117 || v == 118)
        return cut(112);
    return std::nullopt;
}

bool isCleaningPreset(ParameterPreset preset) {
    const auto v = static_cast<std::uint32_t>(preset);
    return v == 111 || v == 119;
}

double takeValidFactor(const std::vector<double> &factors, u64 level) {
    if (level >= factors.size() || factors[level] == 0.0)
        throw RuntimeException(kInvalidScaleFactorMessage);
    return factors[level];
}

std::int64_t correctionAt(const std::vector<std::int64_t> &corrections, u64 level) {
    return level < corrections.size() ? corrections[level] : 0;
}

} // namespace

ScaleFactors::ScaleFactors(const Parameter &parameter, const PrimeModuli &moduli) {
    const std::vector<u64> primes = chainPrimes(moduli);
    const u64 length = parameter.chain_length;
    if (length > primes.size())
        throw RuntimeException("[ScaleFactors] The chain is shorter than the number of levels");
    factors_.assign(primes.size(), 0.0);
    corrections_.assign(primes.size(), 0);
    if (length > 0)
        utils::applyPlainScaleRule(factors_, primes, length, utils::log2Prime(primes[length - 1]));
}

ScaleFactors::ScaleFactors(const LWE::Parameter &parameter, const PrimeModuli &moduli) {
    const std::vector<u64> primes = chainPrimes(moduli);
    const u64 length = parameter.chain_length;
    if (length > primes.size())
        throw RuntimeException("[ScaleFactors] The chain is shorter than the number of levels");
    factors_.assign(primes.size(), 0.0);
    if (length > 0)
        utils::applyPlainScaleRule(factors_, primes, length, utils::log2Prime(primes[length - 1]));
}

ScaleFactors::ScaleFactors(const ParameterPreset &preset) {
    const Parameter parameter(preset);
    const u64 length = parameter.chain_length;

    if (parameter.small_parameter && parameter.parent_preset) {
        const ScaleFactors parent(*parameter.parent_preset);
        const Parameter parent_parameter(*parameter.parent_preset);
        const auto &primes = PrimeModuli::getPrimeList(preset);
        const auto &parent_primes = PrimeModuli::getPrimeList(*parameter.parent_preset);
        if (length > parent_parameter.chain_length || length > primes.size() ||
            length > parent_primes.size())
            throw RuntimeException(kInvalidSmallParameterMessage);
        for (u64 l = 0; l < length; ++l)
            if (primes[l] != parent_primes[l])
                throw RuntimeException(kInvalidSmallParameterMessage);
        factors_ = parent.factors_;
        corrections_ = parent.corrections_;
        factors_.resize(length, 0.0);
        corrections_.resize(length, 0);
        return;
    }

    if (parameter.outsourcing_parameter && parameter.parent_preset) {
        const ScaleFactors parent(*parameter.parent_preset);
        const Parameter parent_parameter(*parameter.parent_preset);
        const auto &primes = PrimeModuli::getPrimeList(preset);
        const auto &parent_primes = PrimeModuli::getPrimeList(*parameter.parent_preset);
        const u64 parent_length = parent_parameter.chain_length;
        const u64 level = parameter.encryption_level;
        const u64 parent_level = parent_parameter.encryption_level;
        const u64 extra = parameter.re_remove_i ? 2 : 1;
        if (length == 0 || parent_length == 0 || length > primes.size() ||
            parent_length > parent_primes.size() || level + extra >= length)
            throw RuntimeException("[ScaleFactors] The chain is shorter than the number of levels");

        std::vector<double> factors(length, 0.0);
        std::vector<std::int64_t> corrections(length, 0);
        // Levels whose primes coincide with the parent's, matched from the top.
        u64 i = length - 1;
        u64 j = parent_length - 1;
        while (i >= 1 && j >= 1 && primes[i] == parent_primes[j]) {
            factors[i] = takeValidFactor(parent.factors_, j);
            --i;
            --j;
        }
        factors[0] = takeValidFactor(parent.factors_, 0);
        factors[level] = takeValidFactor(parent.factors_, parent_level);
        corrections[level + 1] = correctionAt(parent.corrections_, parent_level + 1);
        if (parameter.re_remove_i) {
            factors[level + 1] = takeValidFactor(parent.factors_, parent_level + 1);
            corrections[level + 2] = correctionAt(parent.corrections_, parent_level + 2);
        }
        for (u64 l = 1; l < level; ++l)
            factors[l] = 0.0;
        factors_ = std::move(factors);
        corrections_ = std::move(corrections);
        return;
    }

    if (const auto borrowed = borrowedFactorsOf(preset)) {
        const ScaleFactors source(borrowed->source);
        factors_ = source.factors_;
        corrections_ = source.corrections_;
        if (borrowed->cut) {
            factors_.resize(length, 0.0);
            corrections_.resize(length, 0);
        }
        return;
    }

    const auto &primes = PrimeModuli::getPrimeList(preset);
    factors_.assign(length, 0.0);
    corrections_.assign(length, 0);
    if (length == 0)
        return;

    if (isCleaningPreset(preset)) {
        utils::applyCleaningScaleRule(factors_, primes, length);
        return;
    }

    const bool bootstrap_rule =
        parameter.bootstrappable && preset != static_cast<ParameterPreset>(0);
    if (bootstrap_rule && !parameter.automatic_gap_resolve) {
        u64 low_level = parameter.encryption_level;
        u64 boot_level =
            low_level + 1 + (parameter.coeff_boot ? 3 : 0) + (parameter.re_remove_i ? 1 : 0);
        if (parameter.gap_level != 0) {
            low_level = parameter.gap_level;
            boot_level = parameter.gap_level + 1;
        }
        utils::applyBootstrappableScaleRule(factors_, corrections_, primes, length, low_level,
                                            boot_level);
    } else if (bootstrap_rule) {
        // The top level takes the size of the base prime.
        utils::applyPlainScaleRule(factors_, primes, length, utils::log2Prime(primes[0]));
    } else {
        utils::applyPlainScaleRule(factors_, primes, length, utils::log2Prime(primes[length - 1]));
    }
}

ScaleFactors::ScaleFactors(const LWE::ParameterPreset &preset) {
    const auto v = static_cast<std::uint32_t>(preset);
    std::optional<ParameterPreset> ring_source;
    // FGbD12L1 holds the two primes of the ring preset FGbD12NS1L1, whose
    // ciphertexts it decrypts, and takes its factors for both levels (level
    // 0's is FGbD12L0's as well: both cut FGb's list).
    if (v == 3)
        ring_source = static_cast<ParameterPreset>(44); // FGbD12L0
    else if (v == 4)
        ring_source = static_cast<ParameterPreset>(29); // FGbD12NS1L1
    else if (v == 5)
        ring_source = static_cast<ParameterPreset>(85); // Discrete_G8A_L0
    if (ring_source) {
        const auto &primes = PrimeModuli::getPrimeList(preset);
        factors_ = ScaleFactors(*ring_source).factors_;
        factors_.resize(primes.size(), 0.0);
        return;
    }
    const LWE::Parameter parameter(preset);
    const auto &primes = PrimeModuli::getPrimeList(preset);
    const u64 length = parameter.chain_length;
    factors_.assign(length, 0.0);
    if (length > 0)
        utils::applyPlainScaleRule(factors_, primes, length, utils::log2Prime(primes[length - 1]));
}

double ScaleFactors::getScaleFactor(std::uint64_t level) const {
    return takeValidFactor(factors_, level);
}

std::int64_t ScaleFactors::getCorrection(std::uint64_t level) const {
    return correctionAt(corrections_, level);
}

} // namespace Quelt
