#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/Pointer.hpp"

#include <iosfwd>
#include <memory>
#include <string>

namespace Quelt {

class LevelledVector;

namespace LWE {

class ContextContent;
class SecretKeyImpl;

// An LWE secret: `dimension` signed integer coefficients (a sampled key has
// exactly the context's Hamming weight of them set to +1 or -1, the rest 0)
// and the same vector held modulo every prime of the chain (sx, at the top
// level).
//
// Copies are deep and share the context; a move hands the data over and
// leaves the source usable only as the target of an assignment.
class SecretKey {
public:
    // A random key drawn from the calling thread's generator. The generator's
    // state just before the first draw is kept as the key's seed, so that
    // saveSeedOnly can store the key in a few bytes. Throws RuntimeException
    // "[Context] The context is null" for an empty pointer.
    explicit SecretKey(const std::shared_ptr<ContextContent> &context);

    // A key with the `dimension` coefficients at `coefficients` (copied; any
    // int values). It has no seed: saveSeedOnly refuses it. Throws
    // RuntimeException "[Secret Key] The coefficients are null" for a null
    // pointer.
    SecretKey(const std::shared_ptr<ContextContent> &context, int *const &coefficients);

    // A key read from a record of `save` or `saveSeedOnly` (format below).
    // The path form throws RuntimeException "Cannot open file <path>"; a
    // short record raises cereal::Exception ("Failed to read N bytes from
    // input stream! Read M"). Other failures throw RuntimeException, in
    // record order:
    //   "[load SecretKey] Invalid serialize option" (no option, or one other
    //   than 1 and 2);
    // full form:
    //   "[Verifier::load] Validation failed during deserializing objects."
    //   (hash of another context, or code other than 2);
    //   "[load SecretKey] The stored random flag is neither 0 nor 1";
    //   "[load SecretKey] The stored seed length does not match the random
    //   flag" (49 bytes for a random key, none otherwise);
    //   "[load SecretKey] The stored coefficient count does not match the
    //   context";
    //   the messages of a levelled vector that does not fit the context
    //   ("[LevelledVector::load] ...");
    //   "[load SecretKey] The stored sx is not at the top level";
    // seed-only form:
    //   "[Verifier::load] Validation failed during deserializing objects."
    //   (code other than 2);
    //   "[load SecretKey] The stored generator state does not have 49 bytes";
    //   the sampler's message when the context's Hamming weight cannot be
    //   met.
    // A seed-only record carries no context hash: it is accepted by any
    // context, and a context of another dimension or Hamming weight than the
    // key was sampled for silently yields another key. Reloading from a seed
    // runs the sampler on the calling thread's generator and then puts the
    // generator back exactly where it stood, also when the load fails, so
    // the thread's later draws are not affected.
    SecretKey(const std::shared_ptr<ContextContent> &context, std::istream &stream);
    SecretKey(const std::shared_ptr<ContextContent> &context, const std::string &path);

    SecretKey(const SecretKey &other);
    SecretKey(SecretKey &&other) noexcept;
    // A failed copy (out of memory) leaves this key as it was.
    SecretKey &operator=(const SecretKey &other);
    SecretKey &operator=(SecretKey &&other) noexcept;
    ~SecretKey();

    // Full record (option 1): the byte-order byte; the option as an optional
    // 32-bit number (a byte 0 meaning present, then 1; on loading only the
    // lowest bit of that byte counts, an odd byte meaning absent); the context's
    // identity hash (8 bytes) and object code 2 (4); the random flag (1);
    // the seed (length 8, then its bytes: the generator's 49-byte state, or
    // nothing for a key from given coefficients); the coefficients (count 8,
    // then 4 bytes each); sx (dimension 8, level 8, the residue array: count
    // 8 and the words). Numbers are in the writer's byte order. The path
    // forms write a file readable and writable by its owner only (mode 0600
    // whatever the umask), renamed onto `path` when complete, and throw
    // RuntimeException "Cannot open file <path>" when it cannot be created or
    // put in place, "Cannot write file <path>" when it cannot be written; the
    // stream forms raise cereal::Exception on a short write.
    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    // Seed-only record (option 2): the byte-order byte, the option (byte 0,
    // then 2), the number 2 (4 bytes) and the seed (length 8 and its bytes).
    // Throws RuntimeException "The secret key is not randomly generated" for
    // a key from given coefficients, before anything is written.
    void saveSeedOnly(const std::string &path) const;
    void saveSeedOnly(std::ostream &stream) const;

    const std::shared_ptr<ContextContent> &getContext() const;
    LevelledVector &getSx();
    const LevelledVector &getSx() const;
    // The `dimension` coefficients, on the host.
    int *getCoefficients() const;
    // sx's device.
    Device getDevice() const;
    // Moves sx to the device; the coefficients stay on the host.
    void to(const Device &device);

private:
    Pointer<SecretKeyImpl> impl_;
};

} // namespace LWE
} // namespace Quelt
