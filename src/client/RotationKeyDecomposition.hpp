#pragma once

#include <cstdint>
#include <vector>

namespace Quelt::detail {

// Shortest routes from 0 to every residue modulo `slots` (a power of two)
// made of the given rotation steps. Entry x of the table holds the step
// taken last on a shortest route to x, as the step itself (not reduced), or
// 0 when x cannot be reached; entry 0 holds the last step of a route that
// returns to 0, if any.
//
// A breadth-first search from 0: residues are visited in the order they are
// found, and from each the steps are tried in list order, so a residue takes
// the step of its first discovery. Steps that are 0 modulo `slots` lead
// nowhere and are skipped. Costs slots x steps tries and slots words.
std::vector<std::uint64_t>
buildRotationKeyDecompositionTable(std::uint64_t slots, const std::vector<std::uint64_t> &steps);

// The steps of the route to idx modulo the table's size, last step first;
// empty for a residue 0 that a route returns to. Throws RuntimeException
// kUnreachableRotation when the residue cannot be reached (and for every
// index when the table is empty).
std::vector<std::uint64_t> decomposeRotation(const std::vector<std::uint64_t> &table,
                                             std::uint64_t idx);

inline constexpr const char *kUnreachableRotation =
    "[getRotKeyDecomposition] Can not reach to such rotation idx using given rot keys.";

} // namespace Quelt::detail
