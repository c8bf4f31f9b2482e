#pragma once

#include <cstdint>
#include <vector>

namespace Quelt {

// The primes compiled into the library for the named parameter presets, in
// chain order: the base prime, the chain_length - 1 quantize primes, then the
// num_tp temporary primes of the preset. They are fixed data, never
// recomputed: the identity hash of a preset context covers them.
//
// `preset` is the ParameterPreset value. The presets folded onto another
// list by the prime chain (4; 6 to 11; 31 to 37) and CUSTOM (21) have no entry.
// The map is built on first use (thread-safe) and never changes; the returned
// reference stays valid until process exit.
// Throws std::out_of_range ("map::at") for a value without an entry.
std::vector<std::uint64_t> const &getPresetPrimeList(std::uint32_t preset);

// The same for the LWE presets (LWE::ParameterPreset value 0, 1, 3, 4 or 5).
// Throws std::out_of_range ("map::at") for any other value (2 is CUSTOM).
std::vector<std::uint64_t> const &getLWEPresetPrimeList(std::uint32_t preset);

} // namespace Quelt
