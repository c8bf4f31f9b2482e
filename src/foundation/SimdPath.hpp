#pragma once

// Process-wide choice of the instruction-set path of the arithmetic kernels
// (transforms, element-wise kernels of a modulus, base conversion and the
// key-switching inner products). Every path gives the same words as the
// scalar path; they differ only in speed. The choice is made once, on first
// use, from the processor's flags (the fastest path it supports), and can be
// changed later, for instance by a test program that compares the paths.

#include <cstdint>
#include <string_view>

namespace Quelt::simd {

// Ordered by capability: each path needs what the previous one needs.
enum class Path : int {
    Scalar = 0, // portable code only
    Avx2 = 1,   // AVX2 transforms
    Avx512 = 2, // AVX-512 F, DQ, VL and BW
    Ifma = 3,   // the AVX-512 path plus 52-bit multiply-add for primes below 2^50
};

// On the Ifma path, primes below this bound take the 52-bit multiply-add
// kernels (lazily reduced values below 4p fit 52 bits); larger primes take the
// AVX-512 kernels.
inline constexpr std::uint64_t kIfmaPrimeLimit = std::uint64_t{1} << 50;

// Whether the processor (and the operating system) can run `path`.
bool isSupported(Path path);

// The fastest path the processor supports.
Path bestPath();

// The path the kernels take now: bestPath() until setActivePath changes it.
Path activePath();

// Selects the path of every later kernel call. Not synchronised with kernels
// running in other threads: call it while no kernel runs.
// Throws RuntimeException "[SimdPath] The processor does not support the path
// '<name>'." when isSupported(path) is false.
void setActivePath(Path path);

// "scalar", "avx2", "avx512" or "ifma".
const char *pathName(Path path);

// The path of one of the names above. Throws RuntimeException "[SimdPath]
// Unknown path '<name>': use scalar, avx2, avx512 or ifma." for any other
// text.
Path parsePath(std::string_view name);

} // namespace Quelt::simd
