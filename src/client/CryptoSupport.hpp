#pragma once

// What the encryptor and the decryptor share: the error polynomial, the
// checks of keys, plaintexts and ciphertexts against a context, and the
// shaping of an output ciphertext.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Device.hpp"
#include "Quelt/EncodingType.hpp"
#include "Quelt/EncryptionType.hpp"
#include "context/Polynomial.hpp"

#include <cstdint>
#include <memory>

namespace Quelt {

class ContextContent;
class PrimeModuli;

namespace detail {

// Fills the rows 0..level of p (a polynomial of the context at that level)
// with one rounded Gaussian draw of the context's width, transformed to NTT
// form when ntt is set (coefficient form otherwise).
void sampleGaussianRows(Polynomial &p, const std::shared_ptr<ContextContent> &context, bool ntt);

// An error polynomial: a polynomial of the context at `level` ((level + 1) N
// words), filled by the Gaussian sampler, moved to `device` and transformed to
// NTT form over primes 0..level when ntt is set.
Polynomial makeSampleGaussian(const std::shared_ptr<ContextContent> &context, std::uint64_t level,
                              const Device &device, bool ntt);

// True when rows 0..top of p are residues over the context's primes 0..top:
// the context's degree, a level of at least top, the same prime values on
// those rows, and an array that holds them. Nothing else (form, mod-up state)
// is looked at.
bool coversRows(const Polynomial &p, const ContextContent &context, std::uint64_t top);

// Throws RuntimeException "Not supported. Build with QUELT_CUDA flag." (what
// moving host data there would throw) for any device but the host.
void requireHost(const Device &device);

// The inverse or forward transform of rows 0..level in place.
void forwardRows(const PrimeModuli &chain, Polynomial &p, std::uint64_t level);
void backwardRows(const PrimeModuli &chain, Polynomial &p, std::uint64_t level);

// Makes out a ciphertext of the context with `count` polynomials at `level`
// in NTT form on the host, its log slot count, rescale counter (set after the
// level) and encoding type as given; the residues are left to the caller. A
// ciphertext of another context object is replaced by a new one; polynomials
// that are not plain polynomials of the context on the host are replaced, the
// others keep their storage (and lose any seed). The counter must be valid
// for the level.
template <EncryptionType ET>
void shapeCiphertext(CiphertextBase<ET> &out, const std::shared_ptr<ContextContent> &context,
                     std::uint64_t count, std::uint64_t level, std::uint64_t logSlots,
                     int rescaleCounter, EncodingType encoding);

} // namespace detail
} // namespace Quelt
