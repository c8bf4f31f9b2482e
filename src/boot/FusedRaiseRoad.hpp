#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/MultipleDevice.hpp"
#include "Quelt/Plaintext.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;
class HomEvaluatorImpl;
class PrimeModuli;
struct BootParameter;

// The state and mechanics of the fused modulus raise of a bootstrapper: the
// fused prime set {q_0, q_(L+1)} (L the chain length) and, per device, the
// first CoeffToSlot step's diagonals over that set. Empty (no prime set)
// until install() runs; every operation refuses an empty road with
// kNoFusedRaiseMessage before touching its operands. The evaluator gives the
// rotations, the fused rotation keys of its key pack and the rescales of the
// first step.
//
// Nothing here takes a lock: install() must not run while another thread
// uses the road. The per-device constants guard themselves.
class FusedRaiseRoad {
public:
    static constexpr const char *kNoFusedRaiseMessage =
        "[Bootstrapper] The parameter does not fuse the modulus raise";
    static constexpr const char *kFuseKeyMissingPrefix =
        "Failed to load the fuse rotation key for index ";
    static constexpr const char *kFusedInputMessage =
        "[firstStepOfC2S] The input must hold its bodies over the fused prime set at level 1 and "
        "its mask at level L + 1, all in NTT form";
    static constexpr const char *kFusedKeyShapeMessage =
        "[firstStepOfC2S] A fused rotation key does not span the chain and two temporary primes";

    FusedRaiseRoad(std::shared_ptr<ContextContent> context, std::shared_ptr<HomEvaluatorImpl> eval);

    // The prime set {q_0, q_(L+1)} of the context. Throws
    // "[BootConstants] The fused modulus raise needs two temporary primes"
    // when the context has fewer than two primes after the chain, and the
    // prime set's messages.
    std::shared_ptr<PrimeModuli> makePrimeSet() const;
    // Stores prime_set and, for the host, the level-1 polynomials holding the
    // residues of q_0 and q_(L+1) of each diagonal (the first CoeffToSlot
    // step's plaintexts at the full log slot count). Throws the message of
    // makePrimeSet for a diagonal without q_(L+1); nothing changes then.
    void install(std::shared_ptr<PrimeModuli> prime_set, const std::vector<Plaintext> &diagonals);

    const std::shared_ptr<PrimeModuli> &getPrimeModuli() const { return prime_moduli_; }
    const MultipleDevice<std::vector<Polynomial>> &getConstants() const { return constants_; }

    // A level-0 ciphertext (counter 0, coefficient form) prepared for
    // firstStepOfC2S: each body lifted centred from q_0 to the fused prime set
    // (a polynomial over those two primes, level 1), the mask lifted centred
    // to q_0 .. q_(L+1) (a polynomial over those primes, level L + 1), all in
    // NTT form. Throws the level-recovery messages of the bootstrapper.
    template <EncryptionType ET>
    void prepare(CiphertextBase<ET> &ct) const;
    // A prepared ciphertext times the word `factor` (nothing for 1).
    template <EncryptionType ET>
    void multiplyByWord(CiphertextBase<ET> &ct, u64 factor) const;
    // The first CoeffToSlot step (step 0 of boot_param's split at the full
    // log slot count) on a prepared ciphertext
    // (in may be out): the step's diagonals times the bodies over the fused
    // prime set, the rotated mask times the fused rotation keys, and two
    // rescales. The result is an ordinary ciphertext at level L - 1 with
    // rescale counter 0, in NTT form, with in's log slot count and encoding.
    // Throws std::out_of_range "map::at" for a device without fused constants
    // or Galois table, kFuseKeyMissingPrefix + index for a missing fused
    // rotation key (out may then be partly written), kFusedInputMessage for
    // another input shape.
    template <EncryptionType ET>
    void firstStepOfC2S(const CiphertextBase<ET> &in, CiphertextBase<ET> &out,
                        const BootParameter &boot_param) const;

private:
    // The shape the raise leaves: k bodies over the fused set at level 1 and
    // the mask at level L + 1, all in NTT form (kFusedInputMessage).
    template <EncryptionType ET>
    void checkPrepared(const CiphertextBase<ET> &in) const;
    // The bodies of the first step: per body the sum over the r diagonals of
    // the rotated body, divided by q_(L+1) and lifted to level L - 1.
    template <EncryptionType ET>
    std::vector<Polynomial> bodyProducts(const CiphertextBase<ET> &in, u64 r, u64 stride) const;
    // The mask of the first step: the rotated mask times the fused rotation
    // keys, one polynomial per key part over q_0 .. q_(L+1).
    template <EncryptionType ET>
    CiphertextBase<ET> maskProducts(const CiphertextBase<ET> &in, u64 r, u64 stride) const;

    std::shared_ptr<ContextContent> context_;
    std::shared_ptr<HomEvaluatorImpl> eval_;
    std::shared_ptr<PrimeModuli> prime_moduli_;
    MultipleDevice<std::vector<Polynomial>> constants_;
};

} // namespace Quelt
