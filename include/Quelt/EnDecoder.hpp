#pragma once

#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;

// Turns messages into plaintexts of one context and back.
//
// Slot encoding packs a Message of n = 2^s complex slots (1 <= n <= N/2) into
// a polynomial: after the inverse slot transform the n values w_j give
// coefficient j * g the rounded Delta * Re(w_j) and coefficient N/2 + j * g
// the rounded Delta * Im(w_j), g = N / (2n); every other coefficient is 0.
// Coefficient encoding puts m real numbers (m a power of two, 2 <= m <= N) at
// coefficients k * (N / m); its plaintexts have log slot count log2(m) - 1, so
// that decoding returns 2 * 2^(log slots) = m values.
//
// Scale: a plaintext encoded at level l with rescale counter r carries
// Delta = 2^sf[l - r] times the product of the top r primes q_(l-r+1) ...
// q_l, sf being the context's per-level log2 scale factors, so that after r
// rescalings it has the ordinary scale of level l - r. The power of two is
// applied in floating point before rounding (halves away from zero); the prime
// product is applied to the residues.
//
// Every member is const and the encoder holds nothing but its context, so one
// encoder may serve any number of threads. A call that throws returns nothing
// and leaves its inputs as they were; the vector forms stop at the first
// element that throws.
class EnDecoder {
public:
    // Keeps the context. Throws RuntimeException "[Context] The context is
    // null" for an empty pointer.
    explicit EnDecoder(const std::shared_ptr<ContextContent> &context);

    // ---- Slot encoding ----------------------------------------------------

    // The plaintext of `message` at `level` with `rescaleCounter`, in NTT
    // form, on the message's device. Checks, in this order:
    //   size 0: "[encode] Cannot encode a message of size 0";
    //   size not a power of two: "[encode] The message size should be a
    //     power of two";
    //   level above L - 1: "[encode] The target level is greater than the
    //     maximum possible level";
    //   more than N/2 slots: "[encode] Message size is too large.";
    //   rescaleCounter above level: "[encode] The target rescale counter
    //     should be less than or equal to the target level.";
    //   rescaleCounter negative: "Rescale counter should be greater than or
    //     equal to zero";
    //   no scale factor for level - rescaleCounter: "[ScaleFactors] The scale
    //     factor for given level is not valid";
    //   a scaled value not finite or not below 2^126 in magnitude:
    //     "[embeddingToN] A scaled value is not finite or too large.".
    Plaintext encode(const Message &message, std::uint64_t level, int rescaleCounter) const;
    // The same at the context's encryption level with rescale counter 0.
    Plaintext encode(const Message &message) const;
    // encode without the final transform: the plaintext is in coefficient
    // form. Same checks.
    Plaintext encodeWithoutNTT(const Message &message, std::uint64_t level,
                               int rescaleCounter) const;
    // Slot encoding with the explicit multiplier `scale` as Delta (the scale
    // factors are not consulted), rescale counter 0, in NTT form when ntt is
    // set. Checks: size 0, power of two and more than N/2 slots as in encode,
    // then a level at or above L + K: "[encode] The target level is greater
    // than the maximum possible level" (levels L to L + K - 1 are refused by
    // the polynomial: "[Polynomial] Level exceeds the prime chain"), then the
    // scaled values as in encode.
    Plaintext encodeWithScale(const Message &message, std::uint64_t level, double scale,
                              bool ntt) const;
    // Slot encoding at `level` with Delta = 2^sf[scaleIndex], rescale counter
    // 0, in coefficient form. With modUp the polynomial also spans the
    // temporary primes and the values are written into their limbs too.
    // Checks as encodeWithScale, then "[ScaleFactors] The scale factor for
    // given level is not valid" when scaleIndex has no scale factor.
    Plaintext encodeWithoutNTTCustomLevel(const Message &message, std::uint64_t level,
                                          std::uint64_t scaleIndex, bool modUp) const;
    // encodeWithoutNTTCustomLevel followed by the forward transform of the
    // limbs in use (the temporary limbs too when modUp).
    Plaintext encodeCustomLevel(const Message &message, std::uint64_t level,
                                std::uint64_t scaleIndex, bool modUp) const;

    // One encode per message, in order.
    std::vector<Plaintext> encode(const std::vector<Message> &messages, std::uint64_t level,
                                  int rescaleCounter) const;
    std::vector<Plaintext> encode(const std::vector<Message> &messages) const;
    std::vector<Plaintext> encodeCustomLevel(const std::vector<Message> &messages,
                                             std::uint64_t level, std::uint64_t scaleIndex,
                                             bool modUp) const;

    // ---- Coefficient encoding -----------------------------------------------

    // The plaintext of m = values.size() reals at `level` with
    // `rescaleCounter`, in coefficient form, on the host. Checks, in this
    // order: the level message of encode; m below 2: "[encode] Cannot encode a
    // message with a size less than 2"; m above N: "[encode] Message size is
    // too large."; the two rescale-counter messages and the scale-factor
    // message of encode; m not dividing N: "[embeddingToN] The degree of
    // polynomial should be divided by the size of message."; then the scaled
    // values as in encode.
    Plaintext encodeWithoutNTT(const std::vector<double> &values, std::uint64_t level,
                               int rescaleCounter) const;
    // Coefficient encoding with the explicit multiplier `scale`, rescale
    // counter 0, in NTT form when ntt is set, on the host. Checks: m = 0:
    // "[encode] Cannot encode a message of size 0"; m = 1: the size-below-2
    // message; m above N; the level as in encodeWithScale; m not dividing N;
    // the scaled values.
    Plaintext encodeWithScale(const std::vector<double> &values, std::uint64_t level, double scale,
                              bool ntt) const;

    // ---- Decoding -------------------------------------------------------------

    // The 2^(log slots) slots of a slot-encoded plaintext, on the plaintext's
    // device: decodeWithoutFFT, value j and value n + j forming slot j, then
    // the forward slot transform. Throws what decodeWithoutFFT throws.
    Message decode(const Plaintext &plaintext) const;
    std::vector<Message> decode(const std::vector<Plaintext> &plaintexts) const;
    // The 2n = 2 * 2^(log slots) coefficients k * N / (2n) of the plaintext
    // as reals: its polynomial (inverse-transformed when in NTT form) is
    // rescaled r times, r its rescale counter, lifted to signed integers
    // (from q_0 alone at level 0, from q_0 q_1 above; centred, halves
    // counting as positive) and multiplied by 2^-sf[level - r]. Values are
    // exact while the scaled message stays below q_0 / 2, or q_0 q_1 / 2.
    // Throws "[decode] The log slot count of the plaintext is larger than the
    // ring allows" when 2n exceeds N, "Rescale counter should be less than or
    // equal to the level" when r exceeds the level (before any rescaling) and
    // the scale-factor message when level - r has no scale factor.
    std::vector<double> decodeWithoutFFT(const Plaintext &plaintext) const;
    // The same values divided by `scale`, without rescaling and without
    // consulting the rescale counter or the scale factors: the lift uses q_0
    // alone when the plaintext is at level 0. Throws the log-slot message.
    std::vector<double> decodeWithoutFFTWithScale(const Plaintext &plaintext, double scale) const;

private:
    std::shared_ptr<ContextContent> context_;
};

} // namespace Quelt
