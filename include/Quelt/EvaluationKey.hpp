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

namespace detail {
struct EvaluationKeyAccess;
}

// A switching key in gadget form, the one class of every key switching key:
// multiplication, conjugation, rotation, ring switch, the keys of the
// conversion bundles and the halves of the sparse-secret encapsulation key.
//
// Over a context with gadget rank D and S secrets a key holds, per device, a
// list of d mask polynomials (one per gadget digit, in digit order) and a list
// of d x S body polynomials, the body of secret k for digit j at position
// k * D + j (secret-major). Every polynomial spans the base primes followed by
// the temporary primes, in NTT form. A key over a context holds d = D digits
// unless it was cut to fewer (resizeDnumForRotkey, or a load of a cut key);
// cutting is defined for single-secret keys only, since readers index the
// bodies of a multi-secret key with D.
//
// A one-letter type tags the kind of key ('m' multiplication, 'r' rotation,
// 'c' conjugation, 'w' ring switch, 'p' modulus packing, 'z' multi-secret to
// single-secret, 'x' single-secret to multi-secret, 'i' increase of the number
// of secrets, 's' sparse-secret encapsulation); aux is the rotation index of a
// rotation key and 0 otherwise.
//
// Not copyable. Each per-device map has its own mutex, held only to look up,
// insert or erase an entry; the lists themselves are used without a lock, so
// a key that is being filled, cut, moved or loaded must not be used by
// another thread at the same time.
class EvaluationKey {
public:
    using PolynomialList = std::vector<Polynomial>;

    // A key of `type` over the context with d = dnum digits, or the context's
    // gadget rank D when dnum is 0 or above D; the dnum field keeps the
    // argument. Host lists of d masks and d x S bodies, each polynomial
    // mod-up, at the top level, in NTT form, its residues not initialised;
    // each list is allocated once. Throws RuntimeException "[Context] The
    // context is null" for a null context, and kMultiSecretCut for
    // 0 < dnum < D on a context with more than one secret.
    EvaluationKey(const std::shared_ptr<ContextContent> &context, char type, std::uint64_t aux,
                  std::uint64_t dnum);
    // A key without a context, to receive a load: empty host lists, type and
    // aux 0, dnum 0, context hash 0.
    EvaluationKey();
    ~EvaluationKey();

    EvaluationKey(const EvaluationKey &) = delete;
    EvaluationKey &operator=(const EvaluationKey &) = delete;

    static constexpr const char *kMultiSecretCut =
        "[EvaluationKey] A key of a multi-secret context cannot hold fewer digits than the "
        "gadget rank";
    static constexpr const char *kLoadCounts = "[EvaluationKey::load] Invalid polynomial counts";
    static constexpr const char *kLoadShape =
        "[EvaluationKey::load] Key polynomials must be mod-up, in NTT form and of one shape";
    static constexpr const char *kLoadSeeded =
        "[EvaluationKey::load] Seeded polynomials outweigh the stored ones";

    // The context the key was made for; empty for a default-constructed key.
    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    char getType() const { return type_; }
    std::uint64_t getAux() const { return aux_; }
    // The number of digits the key was cut to, or the number asked for when
    // that is not below the gadget rank; 0 for a key holding every digit it
    // was built with.
    std::uint64_t getDnum() const { return dnum_; }
    // The identity hash of the context the key belongs to, as made or loaded.
    std::uint64_t getContextHash() const { return context_hash_; }

    // The number of masks held for the host. Throws std::out_of_range
    // "map::at" when the host has no entry.
    std::uint64_t getGadgetRank() const;

    // The first mask (body) polynomial of the list held for `device`. The
    // map's mutex is held only for the lookup. Throws std::out_of_range
    // "map::at" for a device without an entry.
    PolynomialList::iterator getAxIter(const Device &device);
    PolynomialList::const_iterator getAxIter(const Device &device) const;
    PolynomialList::iterator getBxIter(const Device &device);
    PolynomialList::const_iterator getBxIter(const Device &device) const;

    // Gives the masks, then the bodies, an entry for `device` when absent:
    // a copy of the first entry in device order (lowest id, then type). Other
    // entries stay. Throws RuntimeException "Value-device map is empty." when
    // there is nothing to copy, and what the device layer throws for a copy to
    // an accelerator ("Cannot support the function 'doAllocate' in the current
    // build configuration"); the failing map is unchanged.
    void copyTo(const Device &device);
    // Keeps only the entries of `device` (masks first, then bodies), copying
    // them there first when absent. Throws as copyTo.
    void removeExcept(const Device &device);

    // Cuts the host lists to the first dnum digits (masks and their bodies),
    // removing trailing digits only while more than dnum remain; 0 or a value
    // not below the gadget rank D removes nothing. Afterwards the dnum field
    // holds the argument when the key still holds all D digits, else the
    // number of digits it holds. Throws std::out_of_range "map::at" when the
    // host has no entry, "[Context] The context is null" for a key without a
    // context, and kMultiSecretCut for 0 < dnum < D on a multi-secret context;
    // the key is unchanged then.
    void resizeDnumForRotkey(std::uint64_t dnum);

    // The evaluation-key record, without a byte-order byte: u32 object code 1,
    // u64 context hash, u8 type, u64 aux, u64 body count and the bodies, u64
    // mask count and the masks (host lists; masks that carry a seed travel as
    // their 1024-byte seed). Throws std::out_of_range "map::at" before writing
    // anything when the host has no entry, and the polynomial writer's errors.
    void serializeInternal(cereal::PortableBinaryOutputArchive &archive) const;

    // Reads one evaluation-key record into fresh lists and installs them only
    // when the whole record is read and valid: the stored hash, type and aux
    // replace the key's, the host lists are replaced and every other device's
    // entry is dropped. Refused, with the key unchanged:
    //   - an object code other than 1, and for a key with a context a stored
    //     hash other than its context's: RuntimeException "[Verifier::load]
    //     Validation failed during deserializing objects.";
    //   - for a key with a context, polynomials that do not fit its chain
    //     (the polynomial reader's messages), and counts other than 1 to D
    //     masks with masks x S bodies (exactly D masks when S > 1):
    //     kLoadCounts;
    //   - for a key without a context, records that are not consistent in
    //     themselves (the context-free polynomial reader's messages), no mask,
    //     or a body count that is not a multiple of the mask count:
    //     kLoadCounts;
    //   - polynomials that are not mod-up and in NTT form, or differ in shape:
    //     kLoadShape;
    //   - for a key without a context, seeded polynomials that would take
    //     more words than the stored ones: kLoadSeeded;
    //   - a short stream: the archive's exception.
    // The type and aux are taken as read. A loaded key over a context records
    // its mask count as its dnum when that is below the gadget rank, else 0;
    // a key without a context records 0. Every count and shape is checked
    // before any seeded mask is regenerated, and a load draws nothing from
    // any random generator.
    void load(cereal::PortableBinaryInputArchive &archive);

private:
    friend struct detail::EvaluationKeyAccess;

    std::shared_ptr<ContextContent> context_;
    char type_ = 0;
    std::uint64_t aux_ = 0;
    std::uint64_t dnum_ = 0;
    MultipleDevice<PolynomialList> ax_;
    MultipleDevice<PolynomialList> bx_;
    std::uint64_t context_hash_ = 0;
};

// Empty keys over a context, each with the context's gadget rank of digits
// (makeEmptyRotKey: dnum digits, as the constructor takes it).
std::unique_ptr<EvaluationKey> makeEmptyMultKey(const std::shared_ptr<ContextContent> &context);
std::unique_ptr<EvaluationKey> makeEmptyRotKey(const std::shared_ptr<ContextContent> &context,
                                               std::uint64_t rotIdx, std::uint64_t dnum);
std::unique_ptr<EvaluationKey>
makeEmptyRingSwitchKey(const std::shared_ptr<ContextContent> &context);
std::unique_ptr<EvaluationKey> makeEmptyConjKey(const std::shared_ptr<ContextContent> &context);
std::unique_ptr<EvaluationKey> makeEmptyModPackKey(const std::shared_ptr<ContextContent> &context);
std::unique_ptr<EvaluationKey> makeEmptyMStoSSKey(const std::shared_ptr<ContextContent> &context);
std::unique_ptr<EvaluationKey> makeEmptySStoMSKey(const std::shared_ptr<ContextContent> &context);
std::unique_ptr<EvaluationKey>
makeEmptyIncreaseNSKey(const std::shared_ptr<ContextContent> &context);

// The standalone form of one key: the byte-order byte, then the record
// (38 fixed bytes besides the polynomials). Loads behave as
// EvaluationKey::load.
void save(const EvaluationKey &key, std::ostream &stream);
void load(EvaluationKey &key, std::istream &stream);

namespace Serialize {
// The standalone form on a stream or a file. The path forms throw
// RuntimeException "Cannot open file <path>" when the file cannot be opened.
void save(std::ostream &stream, const EvaluationKey &key);
void save(const std::string &path, const EvaluationKey &key);
void load(std::istream &stream, EvaluationKey &key);
void load(const std::string &path, EvaluationKey &key);
} // namespace Serialize

} // namespace Quelt
