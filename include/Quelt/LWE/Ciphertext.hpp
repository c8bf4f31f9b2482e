#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/Pointer.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace Quelt {

class LevelledElement;
class LevelledVector;

namespace LWE {

class ContextContent;
class CiphertextImpl;

// An LWE ciphertext of one real number: a mask a (a vector of the context's
// dimension, held modulo each prime of its level) and a body b (one residue
// per prime), with b + <a, s> = m + e modulo every prime q_0 .. q_level,
// where m is the message scaled by the context's scale factors and e a small
// error. The rescale counter is the number of rescalings the ciphertext still
// owes.
//
// Copies are deep and share the context; a move hands the data over and
// leaves the source usable only as the target of an assignment.
class Ciphertext {
public:
    // Mask and body at the top level of the context's chain, rescale counter
    // 0, on the host; the residues of the mask are not initialised, those of
    // the body are 0. Throws RuntimeException "[Context] The context is null"
    // for an empty pointer.
    explicit Ciphertext(const std::shared_ptr<ContextContent> &context);

    Ciphertext(const Ciphertext &other);
    Ciphertext(Ciphertext &&other) noexcept;
    // A failed copy (out of memory) leaves this ciphertext as it was.
    Ciphertext &operator=(const Ciphertext &other);
    Ciphertext &operator=(Ciphertext &&other) noexcept;
    ~Ciphertext();

    const std::shared_ptr<ContextContent> &getContext() const;

    LevelledVector &getAx();
    const LevelledVector &getAx() const;
    LevelledElement &getBx();
    const LevelledElement &getBx() const;
    // The dimension residues of the mask modulo prime i. Throws
    // std::out_of_range when the mask's array does not hold limb i (limbs
    // above the level stay readable as long as the array still holds them).
    std::uint64_t *getAxData(std::uint64_t i) const;
    // The body's residues, residue i modulo prime i.
    std::uint64_t *getBxData() const;

    // The common level of mask and body. Throws RuntimeException "Operands
    // have different levels." when they disagree.
    std::uint64_t getLevel() const;
    // Mask and body take the level; their arrays are resized to limbs
    // 0..level. Growing does not initialise the new limbs (a limb dropped
    // earlier comes back as it was), shrinking keeps the storage. The rescale
    // counter is not checked. Throws RuntimeException "[LWE Ciphertext] Level
    // exceeds the prime chain" for a level not below the chain length, and
    // changes nothing then.
    void setLevel(std::uint64_t level);

    int getRescaleCounter() const;
    // Throws RuntimeException, and changes nothing, in this order: "Operands
    // have different levels." (mask and body disagree); "Rescale counter
    // should be less than or equal to the level" when value > level (also at
    // level 0); "Rescale counter should be greater than or equal to zero"
    // when value < 0.
    void setRescaleCounter(int value);

    // The mask's device. Throws RuntimeException "Operands are in different
    // devices." when the body is elsewhere.
    Device getDevice() const;
    // Moves mask and body to the device (an accelerator throws "Not
    // supported. Build with QUELT_CUDA flag.").
    void to(const Device &device);
    // Fresh storage on the device for mask and body, contents not kept;
    // nothing happens for an array already there.
    void allocate(const Device &device);

    // Ciphertext record: the byte-order byte, then the context's identity
    // hash (8 bytes), object code 3 (4), the rescale counter (4, signed), the
    // mask (dimension 8, level 8, the residue array: count 8 and the words)
    // and the body (size 8, level 8, mod-up byte, the residue array), every
    // number in the writer's byte order. The path forms throw RuntimeException
    // "Cannot open file <path>"; short reads and writes raise
    // cereal::Exception ("Failed to read N bytes from input stream! Read M").
    //
    // Loading needs a ciphertext of the context the record was made for. It
    // reads the whole record before it changes anything, and checks, in this
    // order: the hash and the code ("[Verifier::load] Validation failed during
    // deserializing objects."); the mask against the context (dimension, a
    // level below the chain length, an array of whole limbs covering the
    // level: "[LevelledVector::load] ..."); the body (size equal to the chain
    // length, not mod-up, a level below it, an array of level + 1 to size
    // words: "[LevelledElement::load] ..."); a mask array of exactly level + 1
    // limbs ("[LWE Ciphertext] The stored mask array does not match its
    // level"); equal levels ("Operands have different levels."); and a
    // counter that setRescaleCounter accepts. On any failure the ciphertext
    // is unchanged. Loaded residues are on the host.
    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void load(const std::string &path);
    void load(std::istream &stream);

private:
    Pointer<CiphertextImpl> impl_;
};

} // namespace LWE
} // namespace Quelt
