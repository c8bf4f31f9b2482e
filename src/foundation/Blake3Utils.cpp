#include "foundation/Blake3Utils.hpp"

#include <blake3.h>

#include <cstddef>

namespace Quelt::utils {

namespace {
void hashInto(blake3_hasher &hasher, void *out, std::uint64_t out_length, const void *in,
              std::uint64_t in_length) {
    blake3_hasher_update(&hasher, in, static_cast<std::size_t>(in_length));
    // The whole requested output comes from one finalisation, so a caller
    // asking for a large block pays for one extendable-output pass only.
    blake3_hasher_finalize(&hasher, static_cast<std::uint8_t *>(out),
                           static_cast<std::size_t>(out_length));
}
} // namespace

void doBLAKE3Hash(void *out, std::uint64_t out_length, const void *in, std::uint64_t in_length) {
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    hashInto(hasher, out, out_length, in, in_length);
}

void doBLAKE3KeyedHash(void *out, std::uint64_t out_length, const void *in, std::uint64_t in_length,
                       const void *key) {
    blake3_hasher hasher;
    blake3_hasher_init_keyed(&hasher, static_cast<const std::uint8_t *>(key));
    hashInto(hasher, out, out_length, in, in_length);
}

} // namespace Quelt::utils
