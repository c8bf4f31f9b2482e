#include "client/KeyPackImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "client/KeyFileNames.hpp"
#include "client/RotationKeyDecomposition.hpp"
#include "keys/Serialize.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace Quelt {

namespace {

// The key directory must exist with its key subdirectory; the pack creates
// nothing at construction.
void checkKeyDirectory(const std::string &path) {
    if (!std::filesystem::is_directory(std::filesystem::status(path)) ||
        !std::filesystem::is_directory(std::filesystem::status(path + "/PK")))
        throw RuntimeException(KeyPackImpl::kCannotFindPath + path);
}

void checkSparseContext(const std::shared_ptr<ContextContent> &context,
                        const std::shared_ptr<ContextContent> &context_sparse) {
    if (!isSparseSecretEncapsulationSupported(context))
        throw RuntimeException(KeyPackImpl::kNoSparseSupport);
    if (getSparseParameterPresetFor(getParameterPreset(context)) !=
        getParameterPreset(context_sparse))
        throw RuntimeException(KeyPackImpl::kSparseMismatch);
}

// A stored key of another kind than its slot, or for another index, is not
// the key the pack asked for.
void requireKind(const EvaluationKey &key, char type) {
    if (key.getType() != type)
        throw RuntimeException(Verifier::kValidationFailed);
}
void requireKind(const SparseSecretEncapsulationKey &key, char type) {
    requireKind(key.getDTSPart(), type);
    requireKind(key.getSTDPart(), type);
}
// An encryption key has no kind letter: its object code is its kind.
void requireKind(const EncryptionKey &, char) {}

// A held key covers a request for d digits (0: all) when it holds all of
// them (dnum 0, or a recorded request at or above the gadget rank, which cut
// nothing), or when it holds at least d.
bool covers(const EvaluationKey &key, std::uint64_t d, std::uint64_t gadgetRank) {
    const std::uint64_t held = key.getDnum();
    return held == 0 || held >= gadgetRank || (d != 0 && d <= held);
}

} // namespace

std::mutex &IndexMutexes::forIndex(std::uint64_t idx) const {
    {
        std::shared_lock<std::shared_mutex> lock(mutex_);
        const auto it = mutexes_.find(idx);
        if (it != mutexes_.end())
            return *it->second;
    }
    auto fresh = std::make_unique<std::mutex>();
    std::unique_lock<std::shared_mutex> lock(mutex_);
    return *mutexes_.try_emplace(idx, std::move(fresh)).first->second;
}

KeyPackImpl::KeyPackImpl(const std::shared_ptr<ContextContent> &context)
    : context_(context), num_slots_(std::uint64_t{1} << getLogFullSlots(context)) {}

KeyPackImpl::KeyPackImpl(const std::shared_ptr<ContextContent> &context,
                         const std::shared_ptr<ContextContent> &context_sparse)
    : KeyPackImpl(context) {
    checkSparseContext(context, context_sparse);
    context_sparse_ = context_sparse;
}

KeyPackImpl::KeyPackImpl(const std::shared_ptr<ContextContent> &context,
                         const std::string &key_dir_path)
    : KeyPackImpl(context) {
    key_dir_path_ = key_dir_path;
    checkKeyDirectory(key_dir_path);
}

KeyPackImpl::KeyPackImpl(const std::shared_ptr<ContextContent> &context,
                         const std::shared_ptr<ContextContent> &context_sparse,
                         const std::string &key_dir_path)
    : KeyPackImpl(context, key_dir_path) {
    checkSparseContext(context, context_sparse);
    context_sparse_ = context_sparse;
}

const std::shared_ptr<ContextContent> &KeyPackImpl::requireSparseContext() const {
    if (!context_sparse_)
        throw RuntimeException(kNoSparseContext);
    return *context_sparse_;
}

// ---- Fixed keys ------------------------------------------------------------

template <typename Key, typename Make>
std::shared_ptr<Key> KeyPackImpl::fixedKeyFromDirectory(KeySlot<Key> &slot, const char *file,
                                                        Make make, char type) const {
    std::lock_guard<std::mutex> lock(slot.mutex);
    if (!slot.key && isKeyFileLoadable(file)) {
        std::shared_ptr<Key> key = make();
        Serialize::load(keyFilePath(file), *key);
        requireKind(*key, type);
        slot.key = std::move(key);
    }
    return slot.key;
}

template <typename Key, typename Make>
void KeyPackImpl::fixedKeyFromStream(KeySlot<Key> &slot, std::istream &stream, Make make,
                                     char type) const {
    std::shared_ptr<Key> key = make();
    Serialize::load(stream, *key);
    requireKind(*key, type);
    slot.install(std::move(key));
}

std::shared_ptr<EncryptionKey> KeyPackImpl::newEncKey() const {
    return std::make_shared<EncryptionKey>(context_);
}
std::shared_ptr<EvaluationKey> KeyPackImpl::newMultKey() const {
    return makeEmptyMultKey(context_);
}
std::shared_ptr<EvaluationKey> KeyPackImpl::newConjKey() const {
    return makeEmptyConjKey(context_);
}
std::shared_ptr<SparseSecretEncapsulationKey> KeyPackImpl::newSparseSecretEncapsulationKey() const {
    return makeEmptySparseSecretEncapsulationKey(context_, requireSparseContext());
}

std::shared_ptr<EncryptionKey> KeyPackImpl::getEncKey() const {
    return fixedKeyFromDirectory(
        enc_key_, kEncKeyFile, [this] { return newEncKey(); }, 0);
}
std::shared_ptr<EvaluationKey> KeyPackImpl::getMultKey() const {
    return fixedKeyFromDirectory(
        mult_key_, kMultKeyFile, [this] { return newMultKey(); }, 'm');
}
std::shared_ptr<EvaluationKey> KeyPackImpl::getConjKey() const {
    return fixedKeyFromDirectory(
        conj_key_, kConjKeyFile, [this] { return newConjKey(); }, 'c');
}
std::shared_ptr<SparseSecretEncapsulationKey> KeyPackImpl::getSparseSecretEncapsulationKey() const {
    return fixedKeyFromDirectory(
        sse_key_, kSparseSecretEncapsulationKeyFile,
        [this] { return newSparseSecretEncapsulationKey(); }, 's');
}

void KeyPackImpl::maybeLoadEncKey() const { getEncKey(); }
void KeyPackImpl::maybeLoadMultKey() const { getMultKey(); }
void KeyPackImpl::maybeLoadConjKey() const { getConjKey(); }
void KeyPackImpl::maybeLoadSparseSecretEncapsulationKey() const {
    getSparseSecretEncapsulationKey();
}

void KeyPackImpl::maybeLoadEncKey(std::istream &stream) const {
    fixedKeyFromStream(
        enc_key_, stream, [this] { return newEncKey(); }, 0);
}
void KeyPackImpl::maybeLoadMultKey(std::istream &stream) const {
    fixedKeyFromStream(
        mult_key_, stream, [this] { return newMultKey(); }, 'm');
}
void KeyPackImpl::maybeLoadConjKey(std::istream &stream) const {
    fixedKeyFromStream(
        conj_key_, stream, [this] { return newConjKey(); }, 'c');
}
void KeyPackImpl::maybeLoadSparseSecretEncapsulationKey(std::istream &stream) const {
    fixedKeyFromStream(
        sse_key_, stream, [this] { return newSparseSecretEncapsulationKey(); }, 's');
}

bool KeyPackImpl::isEncKeyLoaded() const { return enc_key_.holds(); }
bool KeyPackImpl::isMultKeyLoaded() const { return mult_key_.holds(); }
bool KeyPackImpl::isConjKeyLoaded() const { return conj_key_.holds(); }
bool KeyPackImpl::isSparseSecretEncapsulationKeyLoaded() const { return sse_key_.holds(); }

void KeyPackImpl::installEncKey(std::shared_ptr<EncryptionKey> key) const {
    enc_key_.install(std::move(key));
}
void KeyPackImpl::installMultKey(std::shared_ptr<EvaluationKey> key) const {
    mult_key_.install(std::move(key));
}
void KeyPackImpl::installConjKey(std::shared_ptr<EvaluationKey> key) const {
    conj_key_.install(std::move(key));
}
void KeyPackImpl::installSparseSecretEncapsulationKey(
    std::shared_ptr<SparseSecretEncapsulationKey> key) const {
    requireSparseContext();
    sse_key_.install(std::move(key));
}

// ---- Rotation keys ---------------------------------------------------------

std::uint64_t KeyPackImpl::effectiveDnum(std::uint64_t dnum) const {
    // A multi-secret key is kept whole: its bodies are indexed with the
    // gadget rank, so it cannot be cut. A request at or above the gadget
    // rank is kept as asked: the key records it and keeps every digit.
    if (!getMinimalKeyLoad() || (getNumSecret(context_) != 1 && dnum < getGadgetRank(context_)))
        return 0;
    return dnum;
}

std::shared_ptr<EvaluationKey> KeyPackImpl::coveringRotKey(std::uint64_t idx,
                                                           std::uint64_t d) const {
    return rot_keys_.read([&](const RotKeyMap::Map &map) -> std::shared_ptr<EvaluationKey> {
        const auto it = map.find(idx);
        if (it == map.end() || !covers(*it->second, d, getGadgetRank(context_)))
            return nullptr;
        return it->second;
    });
}

bool KeyPackImpl::isRotKeyLoaded(std::uint64_t idx, std::uint64_t dnum) const {
    return coveringRotKey(idx, effectiveDnum(dnum)) != nullptr;
}

std::shared_ptr<EvaluationKey>
KeyPackImpl::readRotKey(std::uint64_t idx, std::uint64_t d,
                        const std::function<void(EvaluationKey &)> &read) const {
    std::shared_ptr<EvaluationKey> key = makeEmptyRotKey(context_, idx, 0);
    read(*key);
    requireKind(*key, 'r');
    if (key->getAux() != (idx & (num_slots_ - 1)))
        throw RuntimeException(Verifier::kValidationFailed);
    if (d != 0)
        key->resizeDnumForRotkey(d);
    return key;
}

void KeyPackImpl::maybeLoadRotKey(std::uint64_t idx, std::uint64_t dnum) const {
    const std::uint64_t d = effectiveDnum(dnum);
    // Asked on every rotation: a held key is found without taking the
    // index's mutex.
    if (coveringRotKey(idx, d))
        return;
    std::lock_guard<std::mutex> lock(rot_load_mutexes_.forIndex(idx));
    if (coveringRotKey(idx, d) || !isKeyFileLoadable(rotKeyFileName(idx)))
        return;
    auto key = readRotKey(idx, d, [&](EvaluationKey &fresh) {
        Serialize::load(keyFilePath(rotKeyFileName(idx)), fresh);
    });
    rot_keys_.try_emplace_or_replace(idx, std::move(key));
}

void KeyPackImpl::maybeLoadRotKey(std::uint64_t idx, std::istream &stream,
                                  std::uint64_t dnum) const {
    auto key = readRotKey(idx, effectiveDnum(dnum),
                          [&](EvaluationKey &fresh) { Serialize::load(stream, fresh); });
    rot_keys_.try_emplace_or_replace(idx, std::move(key));
    noteRotationKeySetChanged();
}

std::shared_ptr<EvaluationKey> KeyPackImpl::getRotKey(std::uint64_t idx, std::uint64_t dnum) const {
    const std::uint64_t d = effectiveDnum(dnum);
    if (auto key = coveringRotKey(idx, d))
        return key;
    maybeLoadRotKey(idx, d);
    return coveringRotKey(idx, d);
}

bool KeyPackImpl::tryEmplaceRotKey(std::uint64_t idx, std::shared_ptr<EvaluationKey> key) const {
    const bool inserted = rot_keys_.try_emplace(idx, std::move(key)).second;
    if (inserted)
        noteRotationKeySetChanged();
    return inserted;
}

// ---- Fused rotation keys ---------------------------------------------------

bool KeyPackImpl::isFuseRotKeyLoaded(std::uint64_t idx) const {
    return fuse_rot_keys_.contains(idx);
}

void KeyPackImpl::maybeLoadFuseRotKey(std::uint64_t idx) const {
    if (isFuseRotKeyLoaded(idx))
        return;
    std::lock_guard<std::mutex> lock(fuse_rot_load_mutexes_.forIndex(idx));
    if (isFuseRotKeyLoaded(idx) || !isKeyFileLoadable(fuseRotKeyFileName(idx)))
        return;
    auto key = std::make_shared<FuseRotationKey>(context_);
    Serialize::load(keyFilePath(fuseRotKeyFileName(idx)), *key);
    fuse_rot_keys_.try_emplace(idx, std::move(key));
}

std::shared_ptr<FuseRotationKey> KeyPackImpl::getFuseRotKey(std::uint64_t idx) const {
    if (auto key = fuse_rot_keys_.find(idx))
        return *key;
    maybeLoadFuseRotKey(idx);
    return fuse_rot_keys_.find(idx).value_or(nullptr);
}

bool KeyPackImpl::tryEmplaceFuseRotKey(std::uint64_t idx,
                                       std::shared_ptr<FuseRotationKey> key) const {
    return fuse_rot_keys_.try_emplace(idx, std::move(key)).second;
}

void KeyPackImpl::insertOrReplaceFuseRotKey(std::uint64_t idx,
                                            std::shared_ptr<FuseRotationKey> key) const {
    fuse_rot_keys_.write([&](FuseRotKeyMap::Map &map) { map[idx].swap(key); });
}

// ---- Rotation-key decomposition --------------------------------------------

std::vector<std::uint64_t> KeyPackImpl::availableRotationSteps() const {
    std::vector<std::uint64_t> steps = getRotKeyList(true);
    if (isKeyDirPathSet()) {
        const std::vector<std::uint64_t> files = getRotKeyList(false);
        steps.insert(steps.end(), files.begin(), files.end());
    }
    // Ascending whatever the directory order, so that routes do not depend
    // on it.
    std::sort(steps.begin(), steps.end());
    steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
    return steps;
}

void KeyPackImpl::computeRotationKeyDecomposition(bool fromHeld) const {
    // Built aside, so that a failed scan keeps the old table and readers
    // never see a partial one.
    std::lock_guard<std::mutex> lock(decomposition_mutex_);
    const std::uint64_t version = rot_key_set_version_.load(std::memory_order_acquire);
    auto table = std::make_shared<const std::vector<std::uint64_t>>(
        detail::buildRotationKeyDecompositionTable(num_slots_, getRotKeyList(fromHeld)));
    decomposition_ = std::move(table);
    decomposition_version_ = version;
}

std::vector<std::uint64_t> KeyPackImpl::getRotKeyDecomposition(std::uint64_t idx) const {
    std::shared_ptr<const std::vector<std::uint64_t>> table;
    {
        // Concurrent callers build the table once: the first one builds it
        // under the mutex and the others find it built. The version is read
        // before the keys are listed, so a change while listing makes the
        // next call build again.
        std::lock_guard<std::mutex> lock(decomposition_mutex_);
        const std::uint64_t version = rot_key_set_version_.load(std::memory_order_acquire);
        if (!decomposition_ || decomposition_version_ != version) {
            decomposition_ = std::make_shared<const std::vector<std::uint64_t>>(
                detail::buildRotationKeyDecompositionTable(num_slots_, availableRotationSteps()));
            decomposition_version_ = version;
        }
        table = decomposition_;
    }
    return detail::decomposeRotation(*table, idx);
}

// ---- Devices ---------------------------------------------------------------

void KeyPackImpl::to(const Device &device) const {
    std::scoped_lock slots(enc_key_.mutex, mult_key_.mutex, conj_key_.mutex, sse_key_.mutex);
    if (enc_key_.key)
        enc_key_.key->to(device);
    if (mult_key_.key)
        mult_key_.key->removeExcept(device);
    if (conj_key_.key)
        conj_key_.key->removeExcept(device);
    rot_keys_.forEach([&](std::uint64_t, const std::shared_ptr<EvaluationKey> &key) {
        key->removeExcept(device);
    });
    if (sse_key_.key)
        sse_key_.key->removeExcept(device);
    fuse_rot_keys_.forEach([&](std::uint64_t, const std::shared_ptr<FuseRotationKey> &key) {
        key->removeExcept(device);
    });
}

void KeyPackImpl::copyTo(const Device &device) const {
    std::scoped_lock slots(mult_key_.mutex, conj_key_.mutex, sse_key_.mutex);
    if (mult_key_.key)
        mult_key_.key->copyTo(device);
    if (conj_key_.key)
        conj_key_.key->copyTo(device);
    rot_keys_.forEach(
        [&](std::uint64_t, const std::shared_ptr<EvaluationKey> &key) { key->copyTo(device); });
    if (sse_key_.key)
        sse_key_.key->copyTo(device);
    fuse_rot_keys_.forEach(
        [&](std::uint64_t, const std::shared_ptr<FuseRotationKey> &key) { key->copyTo(device); });
}

// ---- Whole pack as one stream ----------------------------------------------

void KeyPackImpl::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void KeyPackImpl::load(std::istream &stream) { Serialize::load(stream, *this); }

} // namespace Quelt
