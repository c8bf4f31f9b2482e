#pragma once

#include <array>
#include <cstdint>

namespace Quelt {

// The seed of the calling thread's random generator: the four 64-bit words of
// its BLAKE3 key. The thread's generator is created (seeded from the operating
// system's random device) on its first use.
std::array<std::uint64_t, 4> getSeed();

// Reseeds the calling thread's generator with `seed` and rewinds it to the
// first word of its stream. Other threads' generators are not affected.
void setSeed(const std::array<std::uint64_t, 4> &seed);

} // namespace Quelt
