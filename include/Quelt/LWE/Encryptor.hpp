#pragma once

#include <cstdint>
#include <memory>

namespace Quelt::LWE {

class ContextContent;
class Ciphertext;
class SecretKey;

// Secret-key encryption of one real number. Holds only the context; usable
// from several threads at once on distinct outputs (each call draws from its
// own thread's generator).
class Encryptor {
public:
    // Throws RuntimeException "[Context] The context is null" for an empty
    // pointer.
    explicit Encryptor(const std::shared_ptr<ContextContent> &context);

    // out = (a, b) at `level` with rescale counter r: a uniform, e one rounded
    // Gaussian integer of the context's width (the same on every prime), m
    // the constant encoding of value at (level, r) (|value| 2^sf[level - r]
    // truncated toward zero, times the top r primes of the level), and
    // b = m + e - <a, s>. The generator is drawn from for a first, then for e.
    //
    // Everything is checked before anything is drawn or written; throws
    // RuntimeException, in this order:
    //   "[encrypt] The level is above the top level of the context" when
    //   level >= chain length;
    //   "Rescale counter should be less than or equal to the level" when
    //   r > level; "Rescale counter should be greater than or equal to zero"
    //   when r < 0;
    //   "[encrypt] The secret key does not fit the context" when the key
    //   belongs to a context of other primes or scale factors (contexts of
    //   equal sizes, primes and scale factors are interchangeable), or its sx
    //   is not of the context's dimension or has no limb `level`;
    //   "[LWE] The ciphertext does not fit the context" when out belongs to
    //   such another context, or has a mask of another dimension or a body
    //   over another number of primes;
    //   "[ScaleFactors] The scale factor for given level is not valid" when
    //   level - r has no scale factor;
    //   "[Modulus] makeInteger: the scaled value must be finite and below
    //   2^128" for a value that does not scale to such an integer;
    //   "[encrypt] The value does not fit the modulus of its level" when that
    //   integer, |value| 2^sf[level - r] truncated, exceeds half the product
    //   q_0 ... q_(level - r) of the primes the element keeps after its r
    //   rescales (it would wrap and decrypt to another number).
    // out moves to the key's device.
    void encrypt(double value, const SecretKey &sk, Ciphertext &out, std::uint64_t level,
                 int rescale_counter) const;
    // At the context's encryption level (its top level) with counter 0.
    void encrypt(double value, const SecretKey &sk, Ciphertext &out) const;

private:
    std::shared_ptr<ContextContent> context_;
};

} // namespace Quelt::LWE
