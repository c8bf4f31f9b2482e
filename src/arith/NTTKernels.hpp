#pragma once

// Internal stage kernels of the number-theoretic transform. The scalar
// kernels are the reference; a vector path, when compiled in and supported by
// the processor, produces bit-identical words.

#include "foundation/WordArith.hpp"

#include <cstdint>

namespace Quelt::ntt_kernels {

using word::shoup;

struct Tables {
    const u64 *forward;            // W
    const u64 *forward_companions; // W'
    const u64 *inverse;            // V, stage order
    const u64 *inverse_companions; // V'
    u64 degree;
    u64 prime;
    u64 degree_inverse;
    u64 degree_inverse_companion;
    u64 last_twiddle;
    u64 last_twiddle_companion;
};

// Single stages, as described on NTT.
void forwardStage(u64 *a, const Tables &t, u64 half_distance);
void backwardStage(u64 *a, const Tables &t, u64 half_distance);
void backwardLast(u64 *a, const Tables &t);

// All stages of one transform followed by the final reduction below K p
// (forward: K = 1, 2, 4; backward: K = 1, 2). No twists.
void forwardScalar(u64 *a, const Tables &t, int K);
void backwardScalar(u64 *a, const Tables &t, int K);

// The same through the path selected by simd::activePath() (the AVX-512
// paths need N >= 16, the AVX2 path N >= 8; smaller degrees run the scalar
// kernels).
void forward(u64 *a, const Tables &t, int K);
void backward(u64 *a, const Tables &t, int K);

// The forward transform (to words below p) of a followed by
// out[i] = (b[i] - x[i]) factor mod p, below p: the subtraction and scaling
// of the division by P in key switching, applied as the last stage stores
// its words (the AVX-512 paths) or in a pass right after. b below p,
// factor < p with companion floor(factor 2^64 / p); out may be b; a is left
// with unspecified words.
struct SubScale {
    const u64 *b;
    u64 factor;
    u64 companion;
    u64 *out;
};
void forwardSubScale(u64 *a, const Tables &t, const SubScale &s);
void forwardSubScaleAvx512(u64 *a, const Tables &t, const SubScale &s);
void forwardSubScaleIfma(u64 *a, const Tables &t, const SubScale &s);

// AVX2 versions; only called when the processor has AVX2.
void forwardVector(u64 *a, const Tables &t, int K);
void backwardVector(u64 *a, const Tables &t, int K);
// AVX-512 versions (N >= 16); the IFMA ones also need p < 2^50.
void forwardAvx512(u64 *a, const Tables &t, int K);
void backwardAvx512(u64 *a, const Tables &t, int K);
void forwardIfma(u64 *a, const Tables &t, int K);
void backwardIfma(u64 *a, const Tables &t, int K);

// The twists of type 2: psi^j (j < N) and psi^-j (j <= N) with their
// companions.
struct Twists {
    const u64 *powers;
    const u64 *companions;
    const u64 *inverse_powers;
    const u64 *inverse_companions;
    u64 degree;
    u64 prime;
};

// NTT::conversion and NTT::inversion through the vector path selected by
// simd::activePath() (in == out or not overlapping). False when no vector
// path serves them (N < 16 or the scalar or AVX2 path): the caller runs its
// scalar loop.
bool conversionVector(const u64 *in, u64 *out, const Twists &t);
bool inversionVector(const u64 *in, u64 *out, const Twists &t);
void conversionAvx512(const u64 *in, u64 *out, const Twists &t);
void inversionAvx512(const u64 *in, u64 *out, const Twists &t);
void conversionIfma(const u64 *in, u64 *out, const Twists &t);
void inversionIfma(const u64 *in, u64 *out, const Twists &t);

// True when a vector path is compiled in and the processor supports it.
bool vectorPathAvailable();
// Name of the path the transforms take (simd::pathName of the active path).
const char *activePathName();
// Switch for tests and benchmarks over simd::setActivePath: false forces the
// scalar path, true restores the fastest path of the processor.
void setVectorPathEnabled(bool enabled);
bool vectorPathEnabled();

} // namespace Quelt::ntt_kernels
