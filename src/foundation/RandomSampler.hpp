#pragma once

#include "Quelt/DeviceSpecificArray.hpp"

#include <cstdint>
#include <memory>

namespace Quelt {

class ContextContent;
class Polynomial;
class LevelledElement;
class LevelledVector;
namespace LWE {
class ContextContent;
}

// Distributions drawn from the calling thread's UniformRandomBitGenerator.
// Every operation consumes words in a fixed order, so restoring a generator
// state and repeating an operation repeats its output exactly.
//
// The polynomial forms fill the selected limbs of the polynomial: all size
// limbs in mod-up form, limbs 0..level otherwise; limb i holds residues
// modulo prime i of the context's chain. They throw RuntimeException
// "[RandomSampler] The polynomial does not fit the context" when the
// polynomial's degree or primes differ from the context's, or its array does
// not hold the selected limbs, before drawing anything.
class RandomSampler {
public:
    // Uniform residues, limb after limb: a limb is filled with one bulk draw,
    // then each word below 2^64 mod q is replaced by fresh single draws until
    // it is not, and reduced mod q. The NTT flag is kept.
    void sampleUniform(Polynomial &p, const std::shared_ptr<ContextContent> &ctx) const;
    // The same for limbs 0..level of an LWE vector (dimension words each).
    // Throws RuntimeException "[RandomSampler] The vector does not fit the
    // context" when its dimension, level or array do not fit.
    void sampleUniform(LevelledVector &v, const std::shared_ptr<LWE::ContextContent> &ctx) const;

    // One rounded Gaussian integer of the context's width per coefficient,
    // two per word (Box-Muller), written as residues into every selected
    // limb; the NTT flag is cleared.
    void sampleGaussian(Polynomial &p, const std::shared_ptr<ContextContent> &ctx) const;
    // One rounded Gaussian integer (one word; the pair's second value is
    // discarded); e becomes LevelledElement(value, ctx, e's level).
    void sampleGaussian(LevelledElement &e, const std::shared_ptr<LWE::ContextContent> &ctx) const;

    // dim entries in {-1, 0, +1}: the first blocks * floor(dim / blocks)
    // positions are cut into `blocks` blocks of floor(dim / blocks), each with
    // exactly hw nonzeros; the rest are 0. hw = 0 or blocks = 0 gives zeros.
    // Throws RuntimeException "[sampleHWT] The Hamming weight cannot be met:
    // more blocks than entries, or a weight above the block length" when
    // blocks > dim or hw > floor(dim / blocks) (both non-zero), before out is
    // changed.
    void sampleHWT(DeviceSpecificArray<int> &out, std::uint64_t dim, std::uint64_t hw,
                   std::uint64_t blocks) const;

    // Ternary coefficients: 0 with probability 1/2, +1 and -1 with 1/4 each,
    // two bits per coefficient, 32 coefficients per word; written as residues
    // into every selected limb (in mod-up form the temporary-prime limbs
    // too); the NTT flag is cleared.
    void sampleZO(Polynomial &p, const std::shared_ptr<ContextContent> &ctx) const;
};

// Checks the arguments of sampleHWT as it does; callers that derive dim, hw
// and blocks elsewhere validate them with the same rule and message.
void checkHammingWeight(std::uint64_t dim, std::uint64_t hw, std::uint64_t blocks);

} // namespace Quelt
