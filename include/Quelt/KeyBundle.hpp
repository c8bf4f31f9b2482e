#pragma once

#include "Quelt/Device.hpp"

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
class EvaluationKey;

// Key bundles: the ordered lists of switching keys that the conversions
// between ciphertext shapes use, one class per kind of key:
//   IncreaseNSKeyBundle  type 'i', raises the number of secrets;
//   ModPackKeyBundle     type 'p', packs LWE or MLWE ciphertexts;
//   MStoSSKeyBundle      type 'z', one key per secret, multi to single secret;
//   SStoMSKeyBundle      type 'x', one key per secret, single to multi secret.
// A bundle holds its context and a list of shared pointers to keys, and is a
// plain value: copies share the key objects, so writing into a key taken from
// a getter changes it for every holder.
//
// A constructor makes every key present and empty (the empty-key factory of
// its type over the context: the gadget rank of masks and gadget rank x
// number of secrets of bodies on the host); the key generator then fills them
// in place.
//
// Stored form (one archive: the byte-order byte, then the body): u64 key
// count, then per element a u32 identifier: 0 for an empty element; m |
// 0x80000000 at the first occurrence of a key object in the archive, followed
// by its evaluation-key record; the plain m for a later occurrence. m counts
// from 1 per archive, and continues across every bundle written into one
// archive. Neither the context nor the class is stored.
//
// load reads the whole body into a new list and replaces the bundle's list
// only when everything was read: a failure leaves the bundle as it was. Each
// key with a record becomes a new key without a context (its type, aux, hash
// and host lists as recorded); a repeated identifier gives another pointer to
// the same key; identifier 0 an empty element. The bundle's context stays.
// A bundle made over a context takes only what it was made for: a key count
// other than its own is refused with KeyBundleMessages::kCountMismatch, an
// empty element with kMissingKey, and a key of another type or stored for
// another context with kForeignKey; every key's counts and polynomials are
// checked against the context before anything is allocated for them. Only
// the default-made IncreaseNSKeyBundle, which has no context, takes any
// consistent body. The list grows with the elements read, so a damaged count
// cannot ask for more than the stream holds. Errors: cereal::Exception on a
// short read or an identifier never introduced ("Error while trying to
// deserialize a smart pointer. Could not find id <m>"), and the
// evaluation-key loader's RuntimeExceptions ("[Verifier::load] Validation
// failed during deserializing objects." for an object code other than 1).
//
// save writes id 0 for an empty element and throws std::out_of_range
// "map::at" for a key without host lists (after `to` another device); `to`
// skips empty elements. The getters range-check as std::vector::at does
// (std::out_of_range "vector::_M_range_check: __n (which is i) >=
// this->size() (which is n)").
//
// No lock: load and `to` change the bundle in place and must not run while
// another thread uses it.

// The messages of a bundle load that refuses what the bundle was not made for.
struct KeyBundleMessages {
    static constexpr const char *kCountMismatch =
        "[KeyBundle] The stored key count does not match the bundle";
    static constexpr const char *kMissingKey = "[KeyBundle] A stored key is missing";
    static constexpr const char *kForeignKey =
        "[KeyBundle] A stored key is not of the bundle's type and context";
};

class IncreaseNSKeyBundle {
public:
    // No context and no key; the form a composite bundle appends to receive
    // a load.
    IncreaseNSKeyBundle();
    // n empty keys of type 'i' over the context.
    IncreaseNSKeyBundle(const std::shared_ptr<ContextContent> &context, std::uint64_t n);

    std::shared_ptr<EvaluationKey> getIncreaseNSKey(std::uint64_t i) const;
    std::uint64_t getNumKeys() const { return keys_.size(); }
    // Keeps every key's lists for `device` only (EvaluationKey::removeExcept).
    void to(const Device &device);

    void save(std::ostream &stream) const;
    void load(std::istream &stream);
    // The body within an archive that is already open.
    void serialize(cereal::PortableBinaryOutputArchive &archive) const;
    void serialize(cereal::PortableBinaryInputArchive &archive);

private:
    std::shared_ptr<ContextContent> context_;
    std::vector<std::shared_ptr<EvaluationKey>> keys_;
};

class ModPackKeyBundle {
public:
    // n empty keys of type 'p' over the context.
    ModPackKeyBundle(const std::shared_ptr<ContextContent> &context, std::uint64_t n);

    std::shared_ptr<EvaluationKey> getModPackKey(std::uint64_t i) const;
    std::uint64_t getNumKeys() const { return keys_.size(); }
    void to(const Device &device);

    void save(std::ostream &stream) const;
    void load(std::istream &stream);
    // The stream form in a file. Throws RuntimeException "Cannot open file
    // <path>" when the file cannot be opened (or replaced).
    void save(const std::string &path) const;
    void load(const std::string &path);
    void serialize(cereal::PortableBinaryOutputArchive &archive) const;
    void serialize(cereal::PortableBinaryInputArchive &archive);

private:
    std::shared_ptr<ContextContent> context_;
    std::vector<std::shared_ptr<EvaluationKey>> keys_;
};

class MStoSSKeyBundle {
public:
    // One empty key of type 'z' per secret of the context.
    explicit MStoSSKeyBundle(const std::shared_ptr<ContextContent> &context);

    std::shared_ptr<EvaluationKey> getMStoSSKey(std::uint64_t i) const;
    std::uint64_t getNumKeys() const { return keys_.size(); }
    void to(const Device &device);

    void save(std::ostream &stream) const;
    void load(std::istream &stream);
    void serialize(cereal::PortableBinaryOutputArchive &archive) const;
    void serialize(cereal::PortableBinaryInputArchive &archive);

private:
    std::shared_ptr<ContextContent> context_;
    std::vector<std::shared_ptr<EvaluationKey>> keys_;
};

class SStoMSKeyBundle {
public:
    // One empty key of type 'x' per secret of the context.
    explicit SStoMSKeyBundle(const std::shared_ptr<ContextContent> &context);

    std::shared_ptr<EvaluationKey> getSStoMSKey(std::uint64_t i) const;
    std::uint64_t getNumKeys() const { return keys_.size(); }
    void to(const Device &device);

    void save(std::ostream &stream) const;
    void load(std::istream &stream);
    void serialize(cereal::PortableBinaryOutputArchive &archive) const;
    void serialize(cereal::PortableBinaryInputArchive &archive);

private:
    std::shared_ptr<ContextContent> context_;
    std::vector<std::shared_ptr<EvaluationKey>> keys_;
};

} // namespace Quelt
