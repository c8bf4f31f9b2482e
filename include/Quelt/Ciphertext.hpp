#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/EncodingType.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "Quelt/Pointer.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace Quelt {

class ContextContent;
class Polynomial;
class PolynomialVector;
template <EncryptionType ET>
class CiphertextImpl;

// An encrypted message: a vector of polynomials over the context's prime
// chain, the log2 of the message's slot count, the number of rescalings it
// still owes and its encoding type. The template argument names the scheme:
// MLWE (c0 followed by one polynomial per part of the secret), RLWE (c0, c1,
// ... decrypting to c0 + c1 s + ...), MSRLWE (one body per secret, the shared
// mask last). The level, mod-up state, NTT state and device are those the
// polynomials share.
//
// Copies are deep and share the context; a move hands the data over and
// leaves the source usable only as the target of an assignment.
template <EncryptionType ET>
class CiphertextBase {
public:
    // A ciphertext of rank x number-of-secrets + 1 polynomials (both read
    // from the context, whatever ET), at the top level of the chain, with
    // rescale counter 0, slot encoding and the full slot count N/2; residues
    // are not initialised. Pass modUp = false and isNTT = true for an
    // ordinary ciphertext (what Encryptor and HomEvaluator outputs are;
    // they replace the whole ciphertext anyway). modUp = true gives the
    // polynomials the temporary primes too (the intermediate form of key
    // switching); isNTT = false leaves them in coefficient form (as the
    // ring conversions and coefficient-encoded encryption use). Throws RuntimeException "[Ciphertext] The format
    // of multi-secret MLWE is currently not supported" for a context of rank
    // above 1 with several secrets.
    CiphertextBase(const std::shared_ptr<ContextContent> &context, bool modUp, bool isNTT);

    // A copy of other placed into context: the residues of the limbs in use
    // (limbs 0..level, or the whole mod-up layout) word for word, the level,
    // log slot count, rescale counter, encoding type, mod-up and NTT state of
    // other, with the new context's prime list. Throws
    // RuntimeException, before building anything:
    //   "The size of a ciphertext should be greater than 1" (one polynomial);
    //   "The level of input ciphertext does not fit in current context";
    //   "[Ciphertext] The degree of input ciphertext does not match the
    //    context";
    //   "[Ciphertext] The transform types of input ciphertext do not match
    //    the context" (over the primes in use);
    //   "[Ciphertext] A mod-up ciphertext needs a context with the same chain
    //    length and temporary primes";
    //   "[Ciphertext] The input ciphertext does not hold the limbs of its
    //    level" (a polynomial whose array is shorter than its limbs in use);
    //   the rescale-counter messages of setRescaleCounter;
    //   the vector's messages when other's polynomials disagree.
    CiphertextBase(const std::shared_ptr<ContextContent> &context, const CiphertextBase &other);

    CiphertextBase(const CiphertextBase &other);
    CiphertextBase(CiphertextBase &&other) noexcept;
    CiphertextBase &operator=(const CiphertextBase &other);
    CiphertextBase &operator=(CiphertextBase &&other) noexcept;
    ~CiphertextBase();

    const std::shared_ptr<ContextContent> &getContext() const;
    // Rebinds the ciphertext (and its polynomial vector) to another context
    // that serves it equally: nothing when it is the same context object;
    // otherwise the new context must have the same degree, a chain with more
    // than `level` base and quantize primes, and the same prime values and
    // transform types at every prime the polynomials use (for a mod-up
    // ciphertext also the same temporary primes). Else throws
    // RuntimeException "[setContext] Input context is not compatible with the
    // ciphertext." and changes nothing. The polynomials are not touched.
    void setContext(const std::shared_ptr<ContextContent> &context);

    ParameterPreset getParameterPreset() const;
    std::uint64_t getGadgetRank() const;

    std::uint64_t getNumPoly() const;
    std::uint64_t getSize() const { return getNumPoly(); }
    // n <= 1 throws RuntimeException "The size of a ciphertext should be
    // greater than 1". Added polynomials take polynomial 0's shape (residues
    // not initialised); removed ones are freed.
    void setNumPoly(std::uint64_t n);
    void setSize(std::uint64_t n) { setNumPoly(n); }

    // Polynomial i; std::out_of_range when i >= getNumPoly().
    Polynomial &getPoly(std::uint64_t i);
    const Polynomial &getPoly(std::uint64_t i) const;
    PolynomialVector &getPolyVector();
    const PolynomialVector &getPolyVector() const;
    // First word of the limb of prime index j of polynomial i; no range check.
    std::uint64_t *getPolyData(std::uint64_t i, std::uint64_t j) const;

    // The log slot count is stored without a check. getNumberOfSlots gives
    // 2^logSlots and throws RuntimeException "[Ciphertext] The log slot count
    // must be below 64" when that does not fit in 64 bits.
    std::uint64_t getLogSlots() const;
    void setLogSlots(std::uint64_t logSlots);
    std::uint64_t getNumberOfSlots() const;

    // The polynomials' common level ("Polynomials have different levels" when
    // they disagree).
    std::uint64_t getLevel() const;
    // Every polynomial takes the level; arrays of polynomials not in mod-up
    // form become (level + 1) x N words. The rescale counter is not checked.
    // A level not below the chain length throws and changes nothing.
    void setLevel(std::uint64_t level);

    // The context's number of secrets, at most getNumPoly() - 1.
    std::uint64_t getNumSecret() const;
    // The value of the chain prime whose index is the level.
    std::uint64_t getCurrentPrime() const;
    // The context's default scale factor (log2) of the level; throws
    // RuntimeException "[ScaleFactors] The scale factor for given level is not
    // valid" when the level has none.
    double getCurrentScaleFactor() const;
    bool isModUp() const;

    int getRescaleCounter() const;
    // Throws RuntimeException "Rescale counter should be less than or equal to
    // the level" when value exceeds a level other than 0 (at level 0 any
    // non-negative value is accepted), and "Rescale counter should be greater
    // than or equal to zero" when value is negative; nothing changes then.
    void setRescaleCounter(int value);

    EncodingType getEncodingType() const;
    void setEncodingType(EncodingType type);

    // Every polynomial into (out of) NTT form over the limbs it uses. Every
    // polynomial is checked first: one already in NTT form (coefficient form)
    // throws RuntimeException "The polynomial is already in NTT form" ("The
    // polynomial is already in iNTT form") and no polynomial is transformed.
    void forwardNTT();
    void backwardNTT();

    // The polynomials' common device ("Polynomials are in different devices"
    // when they disagree).
    Device getDevice() const;
    // Moves every polynomial's residues to the device.
    void to(const Device &device);
    // Fresh storage on the device for every polynomial not already there;
    // contents are not kept.
    void allocate(const Device &device);

    // Ciphertext form: byte-order byte, the context's identity hash (8
    // bytes), object code 3 (4), log slot count (8), rescale counter (4,
    // signed), encoding type (4), polynomial count (8), then every polynomial
    // in the polynomial form (a seeded polynomial as its seed). The path forms
    // throw RuntimeException "Cannot open file <path>", and a file that cannot
    // be written (a full disk) "Cannot write file <path>"; short reads, and
    // short writes to a stream, raise cereal::Exception.
    //
    // Loading reads the whole record first and changes the ciphertext only
    // when all of it is sound: the hash must be this ciphertext's context's
    // and the code 3 (else RuntimeException "[Verifier::load] Validation
    // failed during deserializing objects."), the encoding type 0 or 1, at
    // least two polynomials, each fitting the context (degree, chain, primes,
    // level, array length) and all sharing one level, mod-up state and NTT
    // state (else the vector's messages), and a rescale counter that
    // setRescaleCounter would accept at that level. On any failure the
    // ciphertext is unchanged. The context is never replaced; the loaded
    // polynomials are on the host.
    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void load(const std::string &path);
    void load(std::istream &stream);

private:
    Pointer<CiphertextImpl<ET>> impl_;
};

extern template class CiphertextBase<EncryptionType::MLWE>;
extern template class CiphertextBase<EncryptionType::RLWE>;
extern template class CiphertextBase<EncryptionType::MSRLWE>;

} // namespace Quelt
