#pragma once

#include <cstdint>

namespace Quelt::detail {

// Two rounded Gaussian integers of standard deviation sigma from one word w
// (Box-Muller): u1 = ((w mod 2^32) + 1) / 2^32 in (0, 1], u2 = (w div 2^32) /
// 2^32, r = sqrt(-2 ln u1), theta = 2 pi u2; first = round(cos(theta) sigma r),
// second = round(sin(theta) sigma r), halves away from zero. Since u1 >= 2^-32,
// |first|, |second| <= round(6.6604 sigma).
void getDiscreteGaussianError(double sigma, std::uint64_t word, long &first, long &second);

// n uniform residues modulo q (q > 0) into limb: one bulk draw of n words,
// then each word below 2^64 mod q replaced by single draws until it is not.
void fillUniformResidues(std::uint64_t *limb, std::uint64_t n, std::uint64_t q);

} // namespace Quelt::detail
