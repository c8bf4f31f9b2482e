#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/EncryptionKey.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/FuseRotationKey.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SparseSecretEncapsulationKey.hpp"
#include "foundation/ThreadSafe.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

namespace Quelt {

class ContextContent;

// One fixed key of the pack (encryption, multiplication, conjugation,
// encapsulation): at most one key behind its own mutex. A key enters the
// slot only complete; readers copy the pointer under the mutex, so a key
// handed out stays as it was when the slot is later replaced.
template <typename Key>
struct KeySlot {
    // The held key (empty when none), copied under the mutex.
    std::shared_ptr<Key> get() {
        std::lock_guard<std::mutex> lock(mutex);
        return key;
    }
    bool holds() { return get() != nullptr; }
    // Puts a complete key in. The replaced key is released after the mutex,
    // so that freeing a large key does not hold up readers.
    void install(std::shared_ptr<Key> complete) {
        std::lock_guard<std::mutex> lock(mutex);
        key.swap(complete);
    }

    std::mutex mutex;
    std::shared_ptr<Key> key;
};

// One mutex per rotation index, made on the first request for the index and
// kept as long as the pack; its address stays valid while others are added.
class IndexMutexes {
public:
    std::mutex &forIndex(std::uint64_t idx) const;

private:
    mutable std::shared_mutex mutex_;
    mutable std::map<std::uint64_t, std::unique_ptr<std::mutex>> mutexes_;
};

// The keys and locks behind KeyPack; see include/Quelt/KeyPack.hpp for what
// each member does. Rotation indices arrive here already reduced where the
// facade reduces them.
//
// Locks, never taken in reverse order:
//   - a fixed key: its slot mutex alone; to, copyTo and the whole-pack
//     stream take several slot mutexes together (std::lock);
//   - a rotation (fused) key: the index mutexes' map (only to find or add
//     the index's mutex), then the index's mutex for the whole load, then
//     the key map (shared to look, exclusive to store);
//   - to, copyTo and the whole-pack stream: slot mutexes, then the rotation
//     map, then the fused map;
//   - the decomposition table's mutex, then the rotation map (shared).
// The key directory path and the minimal-key-load flag are set while no
// other thread uses the pack.
class KeyPackImpl {
public:
    using RotKeyMap = ThreadSafeMap<std::uint64_t, std::shared_ptr<EvaluationKey>>;
    using FuseRotKeyMap = ThreadSafeMap<std::uint64_t, std::shared_ptr<FuseRotationKey>>;

    static constexpr const char *kNoSparseSupport =
        "[KeyPack] context does not support sparse secret encapsulation";
    static constexpr const char *kSparseMismatch =
        "[KeyPack] parameter of context and context_sparse does not match";
    static constexpr const char *kNoSparseContext =
        "[KeyPack] The key pack was not constructed with a sparse context";
    static constexpr const char *kCannotFindPath = "Cannot find path ";
    static constexpr const char *kNoKeyDirectory =
        "[loadMinRotKey] The key pack has no key directory";
    static constexpr const char *kMissingRotKeyFile =
        "[loadMinRotKey] The key directory has no rotation key file for index ";
    static constexpr const char *kNotRegularKeyFile = "[KeyPack] Not a regular file: ";

    explicit KeyPackImpl(const std::shared_ptr<ContextContent> &context);
    KeyPackImpl(const std::shared_ptr<ContextContent> &context,
                const std::shared_ptr<ContextContent> &context_sparse);
    KeyPackImpl(const std::shared_ptr<ContextContent> &context, const std::string &key_dir_path);
    KeyPackImpl(const std::shared_ptr<ContextContent> &context,
                const std::shared_ptr<ContextContent> &context_sparse,
                const std::string &key_dir_path);

    KeyPackImpl(const KeyPackImpl &) = delete;
    KeyPackImpl &operator=(const KeyPackImpl &) = delete;

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    const std::optional<std::shared_ptr<ContextContent>> &getSparseContext() const {
        return context_sparse_;
    }
    // N/2, a power of two.
    std::uint64_t getNumSlots() const { return num_slots_; }

    // ---- Fixed keys --------------------------------------------------------

    void maybeLoadEncKey() const;
    void maybeLoadMultKey() const;
    void maybeLoadConjKey() const;
    void maybeLoadSparseSecretEncapsulationKey() const;

    void maybeLoadEncKey(std::istream &stream) const;
    void maybeLoadMultKey(std::istream &stream) const;
    void maybeLoadConjKey(std::istream &stream) const;
    void maybeLoadSparseSecretEncapsulationKey(std::istream &stream) const;

    bool isEncKeyLoaded() const;
    bool isMultKeyLoaded() const;
    bool isConjKeyLoaded() const;
    bool isSparseSecretEncapsulationKeyLoaded() const;

    std::shared_ptr<EncryptionKey> getEncKey() const;
    std::shared_ptr<EvaluationKey> getMultKey() const;
    std::shared_ptr<EvaluationKey> getConjKey() const;
    std::shared_ptr<SparseSecretEncapsulationKey> getSparseSecretEncapsulationKey() const;

    // The key generator's stores: a complete key replaces the slot's key.
    // The encapsulation key needs a pack made with a sparse context
    // (kNoSparseContext otherwise).
    void installEncKey(std::shared_ptr<EncryptionKey> key) const;
    void installMultKey(std::shared_ptr<EvaluationKey> key) const;
    void installConjKey(std::shared_ptr<EvaluationKey> key) const;
    void
    installSparseSecretEncapsulationKey(std::shared_ptr<SparseSecretEncapsulationKey> key) const;

    // ---- Rotation keys -----------------------------------------------------

    // dnum as the pack uses it: the request when minimal key load is on
    // (for a multi-secret context only at or above the gadget rank, as its
    // keys cannot be cut); otherwise 0 (every digit).
    std::uint64_t effectiveDnum(std::uint64_t dnum) const;

    bool isRotKeyLoaded(std::uint64_t idx, std::uint64_t dnum) const;
    void maybeLoadRotKey(std::uint64_t idx, std::uint64_t dnum) const;
    void maybeLoadRotKey(std::uint64_t idx, std::istream &stream, std::uint64_t dnum) const;
    std::shared_ptr<EvaluationKey> getRotKey(std::uint64_t idx, std::uint64_t dnum) const;

    // The key generator's store: inserts only when idx holds no key.
    // Returns whether the key was inserted.
    bool tryEmplaceRotKey(std::uint64_t idx, std::shared_ptr<EvaluationKey> key) const;

    bool isFuseRotKeyLoaded(std::uint64_t idx) const;
    void maybeLoadFuseRotKey(std::uint64_t idx) const;
    std::shared_ptr<FuseRotationKey> getFuseRotKey(std::uint64_t idx) const;

    // The key generator's stores of fused keys: keep a held key, or replace
    // it (keys made for a new encapsulation key replace stale ones).
    bool tryEmplaceFuseRotKey(std::uint64_t idx, std::shared_ptr<FuseRotationKey> key) const;
    void insertOrReplaceFuseRotKey(std::uint64_t idx, std::shared_ptr<FuseRotationKey> key) const;

    void setMinimalKeyLoad(bool on) { minimal_key_load_.store(on, std::memory_order_relaxed); }
    bool getMinimalKeyLoad() const { return minimal_key_load_.load(std::memory_order_relaxed); }

    // ---- Key directory -----------------------------------------------------

    void setKeyDirPath(const std::string &path);
    bool isKeyDirPathSet() const { return !key_dir_path_.empty(); }
    const std::string &getKeyDirPath() const { return key_dir_path_; }

    bool isEncKeyFileAvailable() const;
    bool isMultKeyFileAvailable() const;
    bool isConjKeyFileAvailable() const;
    bool isSparseSecretEncapsulationKeyFileAvailable() const;
    bool isRotKeyFileAvailable(std::uint64_t idx) const;
    bool isFuseRotKeyFileAvailable(std::uint64_t idx) const;

    void save(const std::string &path);
    void saveList(const std::string &path);
    std::vector<std::uint64_t> getRotKeyList(bool fromHeld) const;
    void loadMinRotKey(const std::string &path) const;

    // ---- Rotation-key decomposition ----------------------------------------

    // Builds the table from the held keys (fromHeld) or from the key files;
    // it serves until the set of rotation keys changes.
    void computeRotationKeyDecomposition(bool fromHeld) const;
    // Routes from the table, which is built (again) under the table's mutex
    // when none was built or the set of rotation keys changed since: from
    // the held keys and, with a key directory, the key files too.
    std::vector<std::uint64_t> getRotKeyDecomposition(std::uint64_t idx) const;
    // Called wherever the set of available rotation keys changes (a key
    // generated or read from a stream, the whole pack loaded, another key
    // directory), so that the next route is found over the new set.
    void noteRotationKeySetChanged() const {
        rot_key_set_version_.fetch_add(1, std::memory_order_acq_rel);
    }

    // ---- Devices -----------------------------------------------------------

    void to(const Device &device) const;
    void copyTo(const Device &device) const;

    // ---- Whole pack as one stream ------------------------------------------

    void save(std::ostream &stream) const;
    void load(std::istream &stream);

private:
    friend struct KeyPackStream;

    // The file of a key in the key subdirectory: path + "/PK/" + name.
    std::string keyFilePath(const std::string &name) const;
    // Whether the key file can be opened: a regular file that opens.
    bool isKeyFileAvailable(const std::string &name) const;
    // The same for a lazy load, which throws kNotRegularKeyFile + path when
    // something other than a regular file (a directory, a pipe) has the key
    // file's name.
    bool isKeyFileLoadable(const std::string &name) const;

    // The held key of idx when it covers the effective dnum d, else empty.
    std::shared_ptr<EvaluationKey> coveringRotKey(std::uint64_t idx, std::uint64_t d) const;

    // Reads one rotation key, checks its kind and index and cuts it to d
    // digits when d is not 0.
    std::shared_ptr<EvaluationKey>
    readRotKey(std::uint64_t idx, std::uint64_t d,
               const std::function<void(EvaluationKey &)> &read) const;
    // New empty fixed keys over the pack's contexts, to be read into; the
    // encapsulation key needs the sparse context (kNoSparseContext).
    std::shared_ptr<EncryptionKey> newEncKey() const;
    std::shared_ptr<EvaluationKey> newMultKey() const;
    std::shared_ptr<EvaluationKey> newConjKey() const;
    std::shared_ptr<SparseSecretEncapsulationKey> newSparseSecretEncapsulationKey() const;
    // The directory load of a fixed key: under the slot's mutex, an empty
    // slot whose file can be opened receives a new key (make()) read from
    // the file and checked to be of `type`; any failure leaves the slot
    // empty. Returns the slot's key.
    template <typename Key, typename Make>
    std::shared_ptr<Key> fixedKeyFromDirectory(KeySlot<Key> &slot, const char *file, Make make,
                                               char type) const;
    // The stream load: a new key read and checked as above replaces the
    // slot's key.
    template <typename Key, typename Make>
    void fixedKeyFromStream(KeySlot<Key> &slot, std::istream &stream, Make make, char type) const;
    const std::shared_ptr<ContextContent> &requireSparseContext() const;

    std::shared_ptr<ContextContent> context_;
    std::uint64_t num_slots_;
    std::optional<std::shared_ptr<ContextContent>> context_sparse_;

    // The decomposition table, published whole under its mutex; empty until
    // built. It was built when the set of rotation keys had the version
    // decomposition_version_.
    mutable std::mutex decomposition_mutex_;
    mutable std::shared_ptr<const std::vector<std::uint64_t>> decomposition_;
    mutable std::uint64_t decomposition_version_ = 0;
    mutable std::atomic<std::uint64_t> rot_key_set_version_{0};
    // The rotation steps a build uses when not told otherwise: the held keys
    // and, with a key directory, the key files, ascending and without
    // repeats.
    std::vector<std::uint64_t> availableRotationSteps() const;

    mutable KeySlot<EncryptionKey> enc_key_;
    mutable KeySlot<EvaluationKey> mult_key_;
    mutable KeySlot<EvaluationKey> conj_key_;
    mutable RotKeyMap rot_keys_;
    IndexMutexes rot_load_mutexes_;
    mutable FuseRotKeyMap fuse_rot_keys_;
    IndexMutexes fuse_rot_load_mutexes_;
    mutable KeySlot<SparseSecretEncapsulationKey> sse_key_;

    std::string key_dir_path_;
    std::atomic<bool> minimal_key_load_{false};
};

namespace detail {
struct KeyPackAccess {
    static const std::shared_ptr<KeyPackImpl> &impl(const KeyPack &pack) { return pack.impl_; }
};
} // namespace detail

// The whole pack as one stream (see KeyPack::save(std::ostream&)).
namespace Serialize {
void save(std::ostream &stream, const KeyPackImpl &pack);
void load(std::istream &stream, KeyPackImpl &pack);
} // namespace Serialize

} // namespace Quelt
