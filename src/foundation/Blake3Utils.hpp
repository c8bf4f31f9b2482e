#pragma once

#include <cstdint>

namespace Quelt::utils {

// Writes `out_length` bytes of the unkeyed BLAKE3 extendable output of the
// `in_length` bytes at `in` to `out`. `out` must hold `out_length` bytes.
void doBLAKE3Hash(void *out, std::uint64_t out_length, const void *in, std::uint64_t in_length);

// The same under the 32-byte key at `key` (BLAKE3 keyed mode).
void doBLAKE3KeyedHash(void *out, std::uint64_t out_length, const void *in, std::uint64_t in_length,
                       const void *key);

} // namespace Quelt::utils
