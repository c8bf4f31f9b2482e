#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/Pointer.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace Quelt {

class ContextContent;
class Polynomial;
class PlaintextImpl;

// An encoded message: one polynomial mx of the context's ring (normally in NTT
// form), the log2 of the slot count of the message it encodes, and the number
// of rescalings it still owes. The level, mod-up state, NTT state and device
// are those of mx.
//
// Copies are deep and share the context; a move hands the data over and
// leaves the source usable only as the target of an assignment.
class Plaintext {
public:
    // A plaintext at the top level of the context (chain length - 1), in NTT
    // form, with rescale counter 0 and the full slot count N/2; the residues
    // are not initialised. With modUp, mx also spans the temporary primes.
    // Throws RuntimeException "[Context] The context is null" for a null
    // context.
    explicit Plaintext(const std::shared_ptr<ContextContent> &context);
    Plaintext(const std::shared_ptr<ContextContent> &context, bool modUp);

    Plaintext(const Plaintext &other);
    Plaintext(Plaintext &&other) noexcept;
    Plaintext &operator=(const Plaintext &other);
    Plaintext &operator=(Plaintext &&other) noexcept;
    ~Plaintext();

    // The log slot count is stored without a check. getNumberOfSlots gives
    // 2^logSlots and throws RuntimeException "[Plaintext] The log slot count
    // must be below 64" when that does not fit in 64 bits.
    void setLogSlots(std::uint64_t logSlots);
    std::uint64_t getLogSlots() const;
    std::uint64_t getNumberOfSlots() const;

    Polynomial &getMx();
    const Polynomial &getMx() const;
    // First word of the limb of prime index i of mx; no range check.
    std::uint64_t *getMxData(std::uint64_t i) const;

    std::uint64_t getLevel() const;
    // Sets the level of mx; unless mx is mod-up its array becomes
    // (level + 1) x N words, and limbs gained hold unspecified values. The
    // rescale counter is not checked. Throws RuntimeException when the level
    // is not below the chain length (mx unchanged).
    void setLevel(std::uint64_t level);
    // Drops the limbs above `level` without rescaling. Throws RuntimeException
    // "[level drop] target level is greater than level of Plaintext." when
    // level is above the current level; the current level changes nothing.
    void levelDrop(std::uint64_t level);

    int getRescaleCounter() const;
    // Throws RuntimeException "Rescale counter should be less than or equal to
    // the level" when value exceeds the level (level 0 included) and "Rescale
    // counter should be greater than or equal to zero" when it is negative;
    // the counter is unchanged then.
    void setRescaleCounter(int value);

    // True when every limb mx uses is zero.
    bool isZero() const;

    const Device &getDevice() const;
    // Moves the residues to a device (contents kept).
    void to(const Device &device);
    // Fresh storage on a device unless mx is already there (contents dropped).
    void allocate(const Device &device);

    // Plaintext form: byte-order byte, the context's identity hash (8 bytes),
    // object code 4 (4 bytes), log slot count (8), rescale counter (4, signed),
    // then mx in the polynomial form. The path forms throw RuntimeException
    // "Cannot open file <path>", and a file that cannot be written "Cannot
    // write file <path>"; short reads, and short writes to a stream, raise
    // cereal::Exception.
    //
    // Loading reads the whole record first and changes the plaintext only
    // when all of it is sound: the identity hash must be this plaintext's
    // context's and the code 4 (else RuntimeException "[Verifier::load]
    // Validation failed during deserializing objects."), the rescale counter
    // must obey setRescaleCounter's rule, and mx must fit the context
    // (degree, chain, primes, level, array length). On any failure the
    // plaintext is unchanged. The context is never replaced.
    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void load(const std::string &path);
    void load(std::istream &stream);

private:
    Pointer<PlaintextImpl> impl_;
};

} // namespace Quelt
