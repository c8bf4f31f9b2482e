#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Pointer.hpp"
#include "Quelt/SecretKey.hpp"

#include <iosfwd>
#include <memory>
#include <string>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt {

class ContextContent;
class Polynomial;
class EncryptionKeyImpl;

// The public key of the ring scheme: a uniform mask ax and a body bx = e -
// ax * s at the context's encryption level l, both in NTT form over the base
// primes (not mod-up), with s the secret key and e a small Gaussian error, so
// that bx + ax * s = e on primes 0..l. A generated mask carries the seed it
// was drawn from and is stored as that seed. The key also carries the
// identity hash of its context, and keeps in memory (never in its record) the
// context it was made for.
//
// Copies are deep; a move hands the data over and leaves the source usable
// only as the target of an assignment.
class EncryptionKey {
public:
    // An empty key for `context`, to be filled by load: ax and bx at the top
    // level of the chain in NTT form, residues not initialised. Throws
    // RuntimeException "[Context] The context is null" for a null context.
    explicit EncryptionKey(const std::shared_ptr<ContextContent> &context);

    // Generates a key under the first polynomial of `secretKey`, drawing from
    // the calling thread's random generator, in this order: the 128-word seed
    // of ax, then the Gaussian error. The secret key must belong to `context`
    // (not checked here; the key generator checks it).
    EncryptionKey(const std::shared_ptr<ContextContent> &context,
                  const SecretKeyBase<EncryptionType::RLWE> &secretKey);

    EncryptionKey(const EncryptionKey &other);
    EncryptionKey(EncryptionKey &&other) noexcept;
    EncryptionKey &operator=(const EncryptionKey &other);
    EncryptionKey &operator=(EncryptionKey &&other) noexcept;
    ~EncryptionKey();

    Polynomial &getAx();
    const Polynomial &getAx() const;
    Polynomial &getBx();
    const Polynomial &getBx() const;

    // Moves ax, then bx, to the device (contents kept).
    void to(const Device &device);
    // Gives ax, then bx, storage on the device unless already there
    // (contents dropped).
    void allocate(const Device &device);
    // The device of ax when bx lies on the same one; otherwise throws
    // RuntimeException "Polynomials in a ciphertext are in different devices".
    const Device &getDevice() const;

    // The record: byte-order byte, object code 0 (u32), the key's context
    // hash (u64), then bx and ax in the polynomial form (bx with its
    // residues, a seeded ax as its 1024-byte seed alone). The path form
    // writes a new file and replaces any file at `path` only when complete
    // ("Cannot open file <path>" when it cannot be created, "Cannot write
    // file <path>" when it cannot be written); short writes to a stream raise
    // cereal::Exception.
    void save(const std::string &path) const;
    void save(std::ostream &stream) const;

    // Reads a record into this key. The record must have object code 0 and
    // this key's context's identity hash (else RuntimeException
    // "[Verifier::load] Validation failed during deserializing objects."),
    // and bx and ax must fit that context: NTT form, not mod-up, at its
    // encryption level, over its primes (else RuntimeException naming the
    // field). A seeded ax is regenerated from its stored seed; nothing is
    // drawn from the calling thread's generator. Any failure, a short record (cereal::Exception) included,
    // leaves the key unchanged. The path form throws "Cannot open file
    // <path>".
    void load(const std::string &path);
    void load(std::istream &stream);

    // The record inside an archive of the library's serialisation layer
    // (after the byte-order byte). load(archive) checks as load(stream);
    // load(archive, context) checks the polynomials against `context`
    // instead and compares no hash (for keys that travel in a larger record
    // of their own).
    void save(cereal::PortableBinaryOutputArchive &archive) const;
    void load(cereal::PortableBinaryInputArchive &archive);
    void load(cereal::PortableBinaryInputArchive &archive,
              const std::shared_ptr<ContextContent> &context);

private:
    Pointer<EncryptionKeyImpl> impl_;
};

// The same as key.save(stream) and key.load(stream).
void save(const EncryptionKey &key, std::ostream &stream);
void load(EncryptionKey &key, std::istream &stream);

} // namespace Quelt
