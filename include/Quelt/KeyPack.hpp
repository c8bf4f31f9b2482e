#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/EncryptionKey.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/FuseRotationKey.hpp"
#include "Quelt/SparseSecretEncapsulationKey.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace Quelt {

class ContextContent;
class KeyPackImpl;

namespace detail {
struct KeyPackAccess;
}

// Typical use: a KeyGenerator fills the pack, and the Encryptor, HomEvaluator
// and Bootstrapper read it:
//
//   KeyPack pack(ctx);                        // (ctx, context_sparse) on the
//   KeyGenerator(ctx, sk, pack).genMultKey(); // sparse-secret road
//   const HomEvaluator eval(ctx, pack);
//
// Keys on disk: save(dir) needs `dir` to exist (it creates dir/PK itself);
// another process reads them back lazily, each key on first use:
//
//   std::filesystem::create_directories(dir);
//   pack.save(dir);
//   KeyPack loaded(ctx, dir);                 // or HomEvaluator(ctx, dir)
//
// A rotation without its key runs through a chain of held rotation keys
// (getRotKeyDecomposition); when none reaches the amount, make its key with
// KeyGenerator::genLeftRotKey.

// The store of the public keys of one context: the encryption key, the
// multiplication key, the conjugation key, rotation keys by index, fused
// rotation keys by index and the sparse-secret encapsulation key. The key
// generator puts keys in; the encryptor, the evaluator and the bootstrapper
// take them out. Copies of a KeyPack share one store.
//
// Keys live in memory and can be read on first use from a key directory: a
// directory D with a subdirectory D/PK holding one file per key
// ("EncKey.bin", "MultKey.bin", "ConjKey.bin", "RotKey<idx>.bin",
// "SparseSecretEncapsulationKey.bin", "FuseRotKey<idx>.bin") and, in the
// list form, "RotKey<idx>_<dnum>.bin". Paths are the directory path as given
// followed by "/PK/" and the name.
//
// Rotation keys are held as left-rotation keys. Left-rotation members reduce
// idx to idx AND (S - 1), right-rotation members to (S - (idx AND (S - 1)))
// AND (S - 1), S being the number of slots N/2.
//
// Getters return a shared pointer to the held key, empty when the key is
// neither held nor loadable; a key handed out is not changed by a later
// replacement in the pack. A key enters the pack only complete: every load
// reads into a new key and installs it after it was read and checked, so a
// failed load leaves the pack as it was. Loads where the pack knows the
// context (the key directory, the single-key and whole-pack stream loads)
// refuse, with RuntimeException "[Verifier::load] Validation failed during
// deserializing objects.", a key stored for another context (for the encapsulation key's
// DTS part: the sparse context), of another kind (type letters 'm', 'c',
// 'r', 's') or, for a rotation key, for another index (aux other than the
// index reduced modulo S); the readers' own errors (open failures, short
// reads, polynomials that do not fit the context) pass through.
//
// Digits (dnum): a rotation key holds all the context's gadget digits
// (dnum 0) or, with minimal key load on, only as many as asked for. A
// request names how many digits it needs, 0 for all; it takes effect only
// with minimal key load on (on a multi-secret context, whose keys are never
// cut, only at or above the gadget rank), and is 0 otherwise. A loaded key records the request as its dnum: below the gadget
// rank it is cut to that many digits, at or above it nothing is cut (after a
// load with dnum 7 the key records 7 and holds every digit). A held key
// covers a request when it holds every digit, or when the request is
// 0 < d <= its digits; a key that does not is read again (and replaced) by
// the next load. Key files are read only from regular files: a directory or
// a pipe under a key file's name makes the load throw "[KeyPack] Not a
// regular file: <file>" (the file probes answer false).
//
// Threads: any thread may call any member, except that setKeyDirPath,
// save(path), saveList(path) (which set the path), setMinimalKeyLoad and
// computeRotationKeyDecomposition are meant for times when no other thread
// loads keys. Concurrent requests for one missing rotation key read its file
// once; held keys are found under a shared lock.
class KeyPack {
public:
    // A pack without a key directory. Throws RuntimeException "[Context] The
    // context is null" for an empty pointer.
    explicit KeyPack(const std::shared_ptr<ContextContent> &context);
    // A pack that can also hold the sparse-secret encapsulation key. Throws
    // "[KeyPack] context does not support sparse secret encapsulation" when
    // the context's preset does not support it, then "[KeyPack] parameter of
    // context and context_sparse does not match" unless context_sparse is of
    // the preset's sparse companion preset.
    KeyPack(const std::shared_ptr<ContextContent> &context,
            const std::shared_ptr<ContextContent> &context_sparse);
    // A pack on a key directory, which must exist with its "PK"
    // subdirectory (symbolic links followed); otherwise throws
    // "Cannot find path <key_dir_path>". Nothing is created.
    KeyPack(const std::shared_ptr<ContextContent> &context, const std::string &key_dir_path);
    // Both: the directory checks first, then the sparse checks.
    KeyPack(const std::shared_ptr<ContextContent> &context,
            const std::shared_ptr<ContextContent> &context_sparse, const std::string &key_dir_path);

    // ---- Fixed keys --------------------------------------------------------

    // Reads the key's file from the key directory when the pack holds no such
    // key and the file can be opened; otherwise does nothing. A pack made
    // without a sparse context throws "[KeyPack] The key pack was not
    // constructed with a sparse context" when an encapsulation-key file is
    // there to read.
    void loadEncKey();
    void loadMultKey();
    void loadConjKey();
    void loadSparseSecretEncapsulationKey();

    // Reads the key from the stream, replacing any key held (once read and
    // checked). The encapsulation key needs a pack made with a sparse
    // context ("[KeyPack] The key pack was not constructed with a sparse
    // context").
    void loadEncKey(std::istream &stream);
    void loadMultKey(std::istream &stream);
    void loadConjKey(std::istream &stream);
    void loadSparseSecretEncapsulationKey(std::istream &stream);

    // Whether the key is held; nothing is loaded.
    bool isEncKeyLoaded() const;
    bool isMultKeyLoaded() const;
    bool isConjKeyLoaded() const;
    bool isSparseSecretEncapsulationKeyLoaded() const;

    // The lazy directory load above, then the held key (empty when none).
    std::shared_ptr<EncryptionKey> getEncKey() const;
    std::shared_ptr<EvaluationKey> getMultKey() const;
    std::shared_ptr<EvaluationKey> getConjKey() const;
    std::shared_ptr<SparseSecretEncapsulationKey> getSparseSecretEncapsulationKey() const;

    // ---- Rotation keys -----------------------------------------------------

    // Reads "RotKey<idx>.bin" (idx reduced) unless a held key covers dnum,
    // cuts it to dnum digits when that takes effect and stores it, replacing
    // a held key that did not cover the request. Nothing when the file
    // cannot be opened.
    void loadLeftRotKey(std::uint64_t idx, std::uint64_t dnum);
    void loadRightRotKey(std::uint64_t idx, std::uint64_t dnum);
    // Reads the key from the stream, cuts it as above and stores it,
    // replacing a held key.
    void loadLeftRotKey(std::uint64_t idx, std::istream &stream, std::uint64_t dnum);
    void loadRightRotKey(std::uint64_t idx, std::istream &stream, std::uint64_t dnum);

    // Whether a held key covers the request; nothing is loaded.
    bool isLeftRotKeyLoaded(std::uint64_t idx, std::uint64_t dnum) const;
    bool isRightRotKeyLoaded(std::uint64_t idx, std::uint64_t dnum) const;
    // Whether "RotKey<idx>.bin" can be opened, idx as given (not reduced);
    // false without a key directory.
    bool isLeftRotKeyFileAvailable(std::uint64_t idx) const;

    // The load above, then the held key when it covers the request, else an
    // empty pointer.
    std::shared_ptr<EvaluationKey> getLeftRotKey(std::uint64_t idx, std::uint64_t dnum) const;
    std::shared_ptr<EvaluationKey> getRightRotKey(std::uint64_t idx, std::uint64_t dnum) const;

    // The fused rotation key of idx (not reduced), read from
    // "FuseRotKey<idx>.bin" when not held; empty when neither.
    std::shared_ptr<FuseRotationKey> getFuseRotKey(std::uint64_t idx) const;

    // With minimal key load on, rotation keys are read with only the digits
    // a request asks for. Off at construction.
    void setMinimalKeyLoad(bool on);
    bool getMinimalKeyLoad() const;

    // ---- Key directory -----------------------------------------------------

    // Makes `path` the key directory, creating its "PK" subdirectory when
    // missing. Throws "Cannot find path <path>" when `path` is not a
    // directory (the pack keeps its old path), and std::filesystem's error
    // when "PK" cannot be created.
    void setKeyDirPath(const std::string &path);

    // setKeyDirPath(path), then writes every held key into its file, in this
    // order: the encryption, multiplication and conjugation keys, the
    // rotation keys by ascending index, the encapsulation key, the fused
    // rotation keys by ascending index. Each file is replaced whole. A file
    // that cannot be written throws "Cannot open file <file>" (or "Cannot
    // write file <file>"); the files before it stay written, the later ones
    // are not written. Files of keys the pack does not hold are left alone.
    void save(const std::string &path) const;
    // setKeyDirPath(path), then writes every held rotation key as
    // "RotKey<idx>_<dnum>.bin", dnum being the key's recorded dnum (0 for a
    // key loaded whole; the request of a minimal load, e.g. RotKey3_2.bin).
    // Files are written as save(path) writes them (Serialize: a temporary
    // file renamed into place, replacing what was there).
    void saveList(const std::string &path) const;
    // For every list-form regular file "RotKey<idx>_<dnum>.bin" of path +
    // "/PK/" (both numbers plain decimals as saveList writes them, within 64
    // bits, idx below the slot count; any other entry is skipped), loads
    // rotation key idx with that dnum from the pack's own key directory, as
    // loadLeftRotKey does. Throws "[Load Rotation Key] \"<path>/PK\" is not a
    // directory" when path + "/PK/" is not a directory; then, before loading
    // anything, "[loadMinRotKey] The key pack has no key directory" or
    // "[loadMinRotKey] The key directory has no rotation key file for index
    // <idx>" when a listed key cannot be read.
    void loadMinRotKey(const std::string &path);

    // ---- Rotation-key decomposition ----------------------------------------

    // Builds the table of shortest routes of available rotation steps: from
    // the held rotation keys (ascending index) with fromHeld, else from the
    // "RotKey<idx>.bin" files of the key directory (directory order). Throws
    // "[Load Rotation Key] \"<dir>/PK\" is not a directory" when the key
    // subdirectory is missing (dir empty without a key directory); the old
    // table stays then. Only indices 1 to S - 1 are steps (a stray file of
    // another index is ignored). The table serves until the set of rotation
    // keys changes (a key generated or read from a stream, the whole pack
    // loaded, another key directory set).
    void computeRotationKeyDecomposition(bool fromHeld);
    // The steps of a shortest route to idx modulo S, last step first: left
    // rotations by each in turn equal the left rotation by idx. Builds the
    // table when none was built or the set of rotation keys changed since,
    // from the held keys and, on a key directory, the "RotKey<idx>.bin" files
    // too (ascending), once for all threads under the pack's lock; the
    // route's keys are then loaded as each rotation asks for them. Empty for an index 0
    // that a route returns to. Throws "[getRotKeyDecomposition] Can not
    // reach to such rotation idx using given rot keys." when no route
    // reaches idx.
    std::vector<std::uint64_t> getRotKeyDecomposition(std::uint64_t idx) const;

    // ---- Devices -----------------------------------------------------------

    // Moves every held key to the device, keeping no copy elsewhere. Throws
    // what the device layer throws for a device this build cannot serve (the
    // first key it meets fails, before anything moved).
    void to(const Device &device);
    // Gives every held key except the encryption key a copy on the device,
    // keeping the others. Throws as `to`.
    void copyTo(const Device &device);

    // ---- Whole pack as one stream ------------------------------------------

    // Writes the held encryption, multiplication and conjugation keys, the
    // rotation keys (ascending index) and the encapsulation key as one
    // archive: byte-order byte; each key as a shared pointer (u32 0 when
    // absent, n | 0x80000000 followed by its record at its first
    // occurrence, plain n at a later one; n = 1, 2, ... over all fields); the
    // rotation keys as a u64 count followed by (u64 index, key) entries.
    // Fused rotation keys, the key directory and the flags are not written.
    // Throws std::out_of_range "map::at" for a key with no host entry.
    void save(std::ostream &stream) const;
    // Reads such a stream and replaces the five kinds of key with it (a key
    // absent in the stream becomes absent; a repeated rotation index keeps
    // its first key). Every key is checked against the pack's contexts (its
    // stored hash included) and carries no context of its own; a rotation
    // key with fewer digits than the gadget rank keeps its digit count as its
    // dnum. Each key must be of the kind of its place (type letters 'm',
    // 'c', 's'; 'r' with aux equal to its index for a rotation key, whose
    // index must be below S), as the single-key loads demand. Nothing changes
    // unless the whole stream is read and valid: a short stream raises
    // cereal::Exception, an unknown identifier cereal::Exception "Error while
    // trying to deserialize a smart pointer. Could not find id <n>", a wrong
    // object code, a key of another context, kind or index, or a key
    // referred to as another kind RuntimeException "[Verifier::load]
    // Validation failed during deserializing objects.", an encapsulation key
    // in a pack without a sparse context "[KeyPack] The key pack was not
    // constructed with a sparse context".
    void load(std::istream &stream);

private:
    friend struct detail::KeyPackAccess;

    std::shared_ptr<KeyPackImpl> impl_;
    std::uint64_t num_slots_;
};

} // namespace Quelt
