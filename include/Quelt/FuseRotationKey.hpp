#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/MultipleDevice.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt {

class ContextContent;
class Polynomial;

// The rotation key bootstrapping uses when it fuses the modulus raise with the
// first step of its slot transform: per device a list of S + 1 polynomials
// (S the context's number of secrets; the body of secret k at position k, the
// mask last), each spanning the L base and quantize primes of the chain and
// its first two temporary primes: level L + 1 with (L + 2) x N words, NTT
// form. Its prime list records the L chain primes only. The key stores no
// rotation index (its holder keys it by index) and takes its hash from its
// context.
//
// Not copyable. The per-device map has its own mutex, held only to look up,
// insert or erase an entry; the polynomials are used without a lock.
class FuseRotationKey {
public:
    // S + 1 host polynomials of the shape above, residues not initialised;
    // the list is allocated once. Throws RuntimeException kTooFewTemporaryPrimes
    // for a context with fewer than two temporary primes and "[Context] The
    // context is null" for a null context.
    explicit FuseRotationKey(const std::shared_ptr<ContextContent> &context);
    ~FuseRotationKey();

    FuseRotationKey(const FuseRotationKey &) = delete;
    FuseRotationKey &operator=(const FuseRotationKey &) = delete;

    static constexpr const char *kTooFewTemporaryPrimes =
        "[FuseRotationKey] The context has fewer than two temporary primes";
    static constexpr const char *kLoadCount =
        "[FuseRotationKey] The number of polynomials does not fit the context";

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }

    // Polynomial i of the list held for `device`; the map's mutex is held only
    // for the lookup. Throws std::out_of_range "map::at" for a device without
    // an entry, and std::out_of_range "vector::_M_range_check: __n (which is
    // i) >= this->size() (which is n)" for i not below the list's length n.
    Polynomial &getPoly(const Device &device, std::uint64_t i);
    const Polynomial &getPoly(const Device &device, std::uint64_t i) const;

    // Gives `device` an entry when absent: a copy of the first entry in device
    // order (lowest id, then type); other entries stay. Throws
    // RuntimeException "Value-device map is empty." when there is nothing to
    // copy and what the device layer throws for a copy to an accelerator; the
    // key is unchanged then.
    void copyTo(const Device &device);
    // Keeps only the entry of `device`, copying it there first when absent.
    // Throws as copyTo.
    void removeExcept(const Device &device);

    // The record, after the byte-order byte: u64 identity hash of the context,
    // u32 object code 5, the hash again, u64 count and the host polynomials.
    // Throws std::out_of_range "map::at" before writing anything when the
    // host has no entry.
    void save(cereal::PortableBinaryOutputArchive &archive) const;
    // Reads a record into a fresh list and installs it as the only (host)
    // entry when the whole record is read and valid; otherwise the key is
    // unchanged. The first hash must be the context's and the code 5, else
    // RuntimeException "[Verifier::load] Validation failed during
    // deserializing objects."; the second hash is read and not compared. A
    // count other than S + 1 throws kLoadCount; every polynomial must have
    // the shape above over the key's chain (the polynomial reader's
    // messages); a short stream raises the archive's exception.
    void load(cereal::PortableBinaryInputArchive &archive);

private:
    std::shared_ptr<ContextContent> context_;
    MultipleDevice<std::vector<Polynomial>> polys_;
};

namespace Serialize {
// The record behind a byte-order byte, on a stream or a file. The path forms
// throw RuntimeException "Cannot open file <path>" when the file cannot be
// opened; loads behave as FuseRotationKey::load.
void save(std::ostream &stream, const FuseRotationKey &key);
void save(const std::string &path, const FuseRotationKey &key);
void load(std::istream &stream, FuseRotationKey &key);
void load(const std::string &path, FuseRotationKey &key);
} // namespace Serialize

} // namespace Quelt
