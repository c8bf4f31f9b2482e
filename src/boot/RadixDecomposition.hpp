#pragma once

#include "Quelt/ParameterPreset.hpp"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace Quelt {

// Split of a 2^log_slots-point slot transform into radix steps, and what the
// matrix products of each step derive from it: radix, rotation stride,
// baby-step and giant-step counts, and the slot-index bits the step handles.
//
// Invariants: every log-radix is at least 1, at most 21 of them, their sum at
// most 20; the last stride is 1; baby_steps[0] * giant_steps[0] = radices[0]
// and baby_steps[i] * giant_steps[i] = 2 * radices[i] for i >= 1.
struct RadixDecomposition {
    std::uint64_t num_radices = 0;
    std::vector<std::uint64_t> log_radices;
    std::vector<std::uint64_t> radices;
    std::vector<std::uint64_t> strides;
    std::vector<std::uint64_t> baby_steps;
    std::vector<std::uint64_t> giant_steps;
    // Half-open [begin, end) ranges of slot-index bits, step by step.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> bit_ranges;

    // No step.
    RadixDecomposition() = default;
    // Default split: one step up to log_slots 4, two up to 7, three from 8 on,
    // near-equal parts with the larger ones first (14 gives {5, 4, 5}; 0 gives
    // no step). Throws as initRadices (log_slots above 20).
    explicit RadixDecomposition(std::uint64_t log_slots);
    // The given log-radices, in order. Throws as initRadices.
    explicit RadixDecomposition(const std::vector<std::uint64_t> &log_radices);

    // Fills every field from the list. Throws RuntimeException
    // "[RadixDecomposition] Each radix has to be non-zero." for a zero entry,
    // "[RadixDecomposition] The number of radices is too large." at a 22nd
    // entry, "[RadixDecomposition] log_slots value is too large" when the sum
    // exceeds 20; the object is unchanged then.
    void initRadices(const std::vector<std::uint64_t> &log_radices);

    // Baby count of step idx becomes baby_step, giant count radix / baby_step
    // (step 0) or 2 radix / baby_step (later steps). Throws RuntimeException
    // "[setBabyStep] idx must be less than num_radices" or
    // "[setBabyStep] baby_step must divide the radix <radix>"; nothing changes
    // then.
    void setBabyStep(std::uint64_t idx, std::uint64_t baby_step);

    // Rotation amounts of the baby steps of step idx: {stride} with min_key,
    // else {0, stride, ..., (baby - 1) stride}. Throws RuntimeException
    // "[getRotIndicesForBabyStep] idx must be less than num_radices".
    std::vector<std::int64_t> getRotIndicesForBabyStep(std::uint64_t idx, bool min_key) const;
    // Rotation amounts of the giant steps of step idx, h = giant / 2: {0} when
    // h is 0; with min_key {s, -s b} plus s b for a later step with giant > 2;
    // else t s b for t = -h .. h - 1. Throws RuntimeException
    // "[getRotIndicesForGiantStep] idx must be less than num_radices".
    std::vector<std::int64_t> getRotIndicesForGiantStep(std::uint64_t idx, bool min_key) const;
};

inline constexpr const char *kFuseModRaiseDegreeMessage =
    "Currently, FuseModRaise is only supported for degree 2^16";

// The CoeffToSlot split of a context that fuses the modulus raise into the
// first step: {4, 4, 3, 4} for Discrete_G8A_OBTS and Discrete_G8B_OBTS,
// {6, 3, 3, 3} for every other preset, with step 0 made a single giant step
// (its baby count is its radix). The bootstrapping parameters and the
// context's rotation-index rule both take it from here, so the rotations the
// transform performs are exactly those the keys are made for. Throws
// RuntimeException "Currently, FuseModRaise is only supported for degree
// 2^16" unless log_degree is 16.
RadixDecomposition fusedCoeffToSlotDecomposition(ParameterPreset preset, std::uint64_t log_degree);

// The log-radices of a split given by running totals of bit positions
// ({6, 9, 12, 15} gives {6, 3, 3, 3}); nothing when the list is empty or
// decreases somewhere. A repeated total gives a zero log-radix, which the
// decomposition itself refuses.
std::optional<std::vector<std::uint64_t>>
logRadicesFromDftSizes(const std::vector<std::uint64_t> &log_dft_sizes);

} // namespace Quelt
