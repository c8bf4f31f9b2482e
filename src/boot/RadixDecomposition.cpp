#include "boot/RadixDecomposition.hpp"

#include "Quelt/Exception.hpp"

#include <algorithm>
#include <string>

namespace Quelt {

namespace {

constexpr const char *kZeroRadix = "[RadixDecomposition] Each radix has to be non-zero.";
constexpr const char *kTooManyRadices = "[RadixDecomposition] The number of radices is too large.";
constexpr const char *kLogSlotsTooLarge = "[RadixDecomposition] log_slots value is too large";
constexpr const char *kSetBabyStepIndex = "[setBabyStep] idx must be less than num_radices";
constexpr const char *kBabyStepNotDivisor = "[setBabyStep] baby_step must divide the radix ";
constexpr const char *kBabyRotIndex =
    "[getRotIndicesForBabyStep] idx must be less than num_radices";
constexpr const char *kGiantRotIndex =
    "[getRotIndicesForGiantStep] idx must be less than num_radices";

constexpr std::uint64_t kMaxRadices = 21;
constexpr std::uint64_t kMaxLogSlots = 20;

std::vector<std::uint64_t> defaultSplit(std::uint64_t log_slots) {
    if (log_slots == 0)
        return {};
    if (log_slots == 14)
        return {5, 4, 5};
    const std::uint64_t steps = log_slots <= 4 ? 1 : (log_slots <= 7 ? 2 : 3);
    const std::uint64_t q = log_slots / steps;
    const std::uint64_t r = log_slots % steps;
    std::vector<std::uint64_t> parts(steps);
    for (std::uint64_t i = 0; i < steps; ++i)
        parts[i] = i < r ? q + 1 : q;
    return parts;
}

} // namespace

RadixDecomposition::RadixDecomposition(std::uint64_t log_slots) {
    initRadices(defaultSplit(log_slots));
}

RadixDecomposition::RadixDecomposition(const std::vector<std::uint64_t> &list) {
    initRadices(list);
}

void RadixDecomposition::initRadices(const std::vector<std::uint64_t> &list) {
    // The sum saturates just above the bound, so huge entries cannot wrap it
    // back into range.
    std::uint64_t sum = 0;
    for (std::uint64_t i = 0; i < list.size(); ++i) {
        if (list[i] == 0)
            throw RuntimeException(kZeroRadix);
        if (i >= kMaxRadices)
            throw RuntimeException(kTooManyRadices);
        sum = std::min(sum + std::min(list[i], kMaxLogSlots + 1), kMaxLogSlots + 1);
    }
    if (sum > kMaxLogSlots)
        throw RuntimeException(kLogSlotsTooLarge);

    const std::uint64_t n = list.size();
    RadixDecomposition fresh;
    fresh.num_radices = n;
    fresh.log_radices = list;
    fresh.radices.resize(n);
    fresh.strides.resize(n);
    fresh.baby_steps.resize(n);
    fresh.giant_steps.resize(n);
    fresh.bit_ranges.resize(n);

    std::uint64_t begin = 0;
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t l = list[i];
        fresh.radices[i] = std::uint64_t{1} << l;
        fresh.strides[i] =
            i == 0 ? std::uint64_t{1} << (sum - l) : fresh.strides[i - 1] / fresh.radices[i];
        // Step 0 multiplies by a radix-sized band of diagonals, the later
        // steps by a band twice as wide, hence the extra factor 2 there.
        if (i == 0) {
            const std::uint64_t h = (l + 1) >> 1;
            fresh.baby_steps[i] = std::uint64_t{1} << h;
            fresh.giant_steps[i] = fresh.radices[i] >> h;
        } else {
            const std::uint64_t h = (l + 2) >> 1;
            fresh.baby_steps[i] = std::uint64_t{1} << h;
            fresh.giant_steps[i] = (2 * fresh.radices[i]) >> h;
        }
        fresh.bit_ranges[i] = {begin, begin + l};
        begin += l;
    }
    *this = std::move(fresh);
}

void RadixDecomposition::setBabyStep(std::uint64_t idx, std::uint64_t baby_step) {
    if (idx >= num_radices)
        throw RuntimeException(kSetBabyStepIndex);
    const std::uint64_t radix = radices[idx];
    if (baby_step == 0 || radix % baby_step != 0)
        throw RuntimeException(kBabyStepNotDivisor + std::to_string(radix));
    baby_steps[idx] = baby_step;
    giant_steps[idx] = (idx == 0 ? radix : 2 * radix) / baby_step;
}

std::vector<std::int64_t> RadixDecomposition::getRotIndicesForBabyStep(std::uint64_t idx,
                                                                       bool min_key) const {
    if (idx >= num_radices)
        throw RuntimeException(kBabyRotIndex);
    // Strides and counts stay below 2^21, so every amount fits easily.
    const auto s = static_cast<std::int64_t>(strides[idx]);
    if (min_key)
        return {s};
    const auto b = static_cast<std::int64_t>(baby_steps[idx]);
    std::vector<std::int64_t> amounts;
    amounts.reserve(static_cast<std::size_t>(b));
    for (std::int64_t i = 0; i < b; ++i)
        amounts.push_back(i * s);
    return amounts;
}

std::vector<std::int64_t> RadixDecomposition::getRotIndicesForGiantStep(std::uint64_t idx,
                                                                        bool min_key) const {
    if (idx >= num_radices)
        throw RuntimeException(kGiantRotIndex);
    const auto s = static_cast<std::int64_t>(strides[idx]);
    const auto b = static_cast<std::int64_t>(baby_steps[idx]);
    const auto g = static_cast<std::int64_t>(giant_steps[idx]);
    const std::int64_t half = g >> 1;
    if (half == 0)
        return {0};
    if (min_key) {
        std::vector<std::int64_t> amounts = {s, -(s * b)};
        if (idx >= 1 && g > 2)
            amounts.push_back(s * b);
        return amounts;
    }
    std::vector<std::int64_t> amounts;
    amounts.reserve(static_cast<std::size_t>(2 * half));
    for (std::int64_t t = -half; t < half; ++t)
        amounts.push_back(t * s * b);
    return amounts;
}

RadixDecomposition fusedCoeffToSlotDecomposition(ParameterPreset preset, std::uint64_t log_degree) {
    if (log_degree != 16)
        throw RuntimeException(kFuseModRaiseDegreeMessage);
    const bool discrete_outsourced = preset == ParameterPreset::Discrete_G8A_OBTS ||
                                     preset == ParameterPreset::Discrete_G8B_OBTS;
    RadixDecomposition split(discrete_outsourced ? std::vector<std::uint64_t>{4, 4, 3, 4}
                                                 : std::vector<std::uint64_t>{6, 3, 3, 3});
    // The fused raise multiplies every diagonal of step 0 at once, without
    // giant-step rotations.
    split.setBabyStep(0, split.radices[0]);
    return split;
}

std::optional<std::vector<std::uint64_t>>
logRadicesFromDftSizes(const std::vector<std::uint64_t> &log_dft_sizes) {
    if (log_dft_sizes.empty())
        return std::nullopt;
    std::vector<std::uint64_t> log_radices{log_dft_sizes[0]};
    for (std::size_t i = 1; i < log_dft_sizes.size(); ++i) {
        if (log_dft_sizes[i] < log_dft_sizes[i - 1])
            return std::nullopt;
        log_radices.push_back(log_dft_sizes[i] - log_dft_sizes[i - 1]);
    }
    return log_radices;
}

} // namespace Quelt
