#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/EncryptionType.hpp"
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
class SecretKeyImpl;

// The small secret s of one encryption type, kept in two forms side by side:
// rank x number-of-secrets x N signed integer coefficients on the host (block
// p of N coefficients is polynomial p; secret t owns blocks t*rank to
// t*rank + rank - 1), and sx, the same polynomials as residues modulo every
// base and every temporary prime of the context, in NTT form (mod-up form, top
// level). A sampled key also remembers the state of the calling thread's
// random generator just before sampling, so that it can be stored as that
// state alone (saveSeedOnly).
//
// Copies are deep and share the context; a move hands the data over and
// leaves the source usable only as the target of an assignment.
template <EncryptionType ET>
class SecretKeyBase {
public:
    // Samples a key from the calling thread's random generator: each secret
    // gets exactly h (the context's Hamming weight) coefficients in {-1, +1}
    // at distinct, uniformly chosen positions of its rank x N coefficients,
    // the others 0. The generator's state is recorded before anything is
    // drawn. Throws RuntimeException, before drawing:
    //   RLWE over a context of rank above 1: "[Secret Key] The number of RLWE
    //     secret key must be equal to one." (several secrets are accepted and
    //     give one polynomial each);
    //   a Hamming weight above rank x N: "[sampleHWT] The Hamming weight
    //     cannot be met: more blocks than entries, or a weight above the block
    //     length".
    explicit SecretKeyBase(const std::shared_ptr<ContextContent> &context);

    // A key from rank x number-of-secrets x N integers at `coefficients`,
    // taken as they are (a negative c becomes q - |c| modulo each prime q, so
    // the values must be smaller in magnitude than every prime). The key is
    // not random and has no recorded state. Throws RuntimeException:
    //   RLWE with a rank or a number of secrets above 1: "[Secret Key] The
    //     number of RLWE secret key must be equal to one.";
    //   MLWE with several secrets: "[Secret Key] The number of MLWE secret key
    //     must be equal to one.";
    //   a null pointer: "[Secret Key] The coefficients are null".
    // MSRLWE accepts any context.
    SecretKeyBase(const std::shared_ptr<ContextContent> &context, int *const &coefficients);

    // Reads a secret-key record (see save and saveSeedOnly) from a stream or a
    // file. The checks, in order:
    //   the stored encryption type: "[load SecretKey] The serialized secret key
    //     is not for <MLWE|RLWE|MSRLWE> encryption." (this key's type);
    //   the serialize option (1 or 2): "[load SecretKey] Invalid serialize
    //     option";
    //   full form: the context's identity hash and object code 2; seed-only
    //     form: object code 2: "[Verifier::load] Validation failed during
    //     deserializing objects.";
    //   RLWE over a context of rank above 1: the RLWE message above;
    //   full form: random flag 0 or 1 with a seed of 0 or 49 bytes to match,
    //     exactly rank x secrets x N coefficients and rank x secrets
    //     polynomials, each in mod-up and NTT form at the top level over the
    //     context's primes; seed-only form: a 49-byte state (messages
    //     "[load SecretKey] ...", and those of the polynomial record).
    // Counts are checked before their data is read. A seed-only record is
    // sampled again from the stored state with this context's rank, number
    // of secrets, degree and Hamming weight; the calling thread's generator
    // is put back where it was afterwards, also when the load fails. A short
    // record raises cereal::Exception "Failed to read N bytes from input
    // stream! Read M"; the path form throws "Cannot open file <path>".
    SecretKeyBase(const std::shared_ptr<ContextContent> &context, std::istream &stream);
    SecretKeyBase(const std::shared_ptr<ContextContent> &context, const std::string &path);

    SecretKeyBase(const SecretKeyBase &other);
    SecretKeyBase(SecretKeyBase &&other) noexcept;
    // Assigns other's fields into this key; if a copy fails (allocation), the
    // key is unchanged. Assigning a key to itself does nothing.
    SecretKeyBase &operator=(const SecretKeyBase &other);
    SecretKeyBase &operator=(SecretKeyBase &&other) noexcept;
    ~SecretKeyBase();

    // The full form: byte-order byte, option flag 0, option 1 (u32),
    // encryption type (u32), context hash (u64), object code 2 (u32), random
    // flag (u8), seed length (u64) and bytes, coefficient count (u64) and the
    // coefficients (i32 each), polynomial count (u64) and each polynomial of
    // sx with its residues. The path form writes a new file readable and
    // writable by its owner only (mode 0600 whatever the umask) and renames it
    // onto `path` only when complete and synced to the disk, replacing
    // whatever file was there, read-only or not ("Cannot open file <path>"
    // when it cannot be created or put in place, "Cannot write file <path>"
    // when it cannot be written, e.g. on a full disk). The seed-only path form
    // writes the same way; stream forms raise cereal::Exception on a short
    // write.
    void save(const std::string &path) const;
    void save(std::ostream &stream) const;

    // The seed-only form, 71 bytes: byte-order byte, option flag 0, option 2
    // (u32), encryption type (u32), object code 2 (u32), then the 49-byte
    // generator state (u64 length and bytes). Throws RuntimeException "The
    // secret key is not randomly generated" for a key made from coefficients,
    // before any file is created or byte written.
    void saveSeedOnly(const std::string &path) const;
    void saveSeedOnly(std::ostream &stream) const;

    const std::shared_ptr<ContextContent> &getContext() const;

    // Polynomial i of sx; std::out_of_range when i >= rank x secrets.
    Polynomial &getSx(std::uint64_t i);
    const Polynomial &getSx(std::uint64_t i) const;
    // The N residues of polynomial i modulo prime index j (base primes, then
    // temporary primes); std::out_of_range when i or j is out of range.
    std::uint64_t *getSxData(std::uint64_t i, std::uint64_t j) const;
    PolynomialVector &getSxVec();
    const PolynomialVector &getSxVec() const;

    // The first of the rank x secrets x N integer coefficients (host memory).
    int *getCoefficients() const;

    // The device of sx; RuntimeException "Polynomials are in different
    // devices" when its polynomials disagree.
    Device getDevice() const;
    // Moves every polynomial of sx to the device; the integer coefficients
    // stay on the host.
    void to(const Device &device);

private:
    Pointer<SecretKeyImpl<ET>> impl_;
};

extern template class SecretKeyBase<EncryptionType::MLWE>;
extern template class SecretKeyBase<EncryptionType::RLWE>;
extern template class SecretKeyBase<EncryptionType::MSRLWE>;

} // namespace Quelt
