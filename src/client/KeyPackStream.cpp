// The whole key pack as one archive: the encryption, multiplication and
// conjugation keys, the rotation keys and the encapsulation key, each as a
// shared pointer of the archive's convention (u32 identifier: 0 for none,
// n | 0x80000000 followed by the record at an object's first occurrence,
// plain n at a later one; n counts 1, 2, ... over all fields).

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "client/KeyPackImpl.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "keys/Serialize.hpp"

#include <cereal/archives/portable_binary.hpp>
#include <cereal/details/helpers.hpp>

#include <map>
#include <mutex>
#include <utility>
#include <variant>

namespace Quelt {

namespace {

constexpr std::uint32_t kNewObject = 0x80000000u;

// Gives each object written its identifier, so that an object held in two
// places is written once.
class PointerIds {
public:
    // Writes the identifier of `object` and, at its first occurrence, its
    // record through `write`.
    template <typename Key, typename Write>
    void write(cereal::PortableBinaryOutputArchive &archive, const std::shared_ptr<Key> &object,
               Write &&write) {
        if (!object) {
            archive(std::uint32_t{0});
            return;
        }
        // Keyed by kind as well as address: an encapsulation key and its
        // first part share an address.
        const auto [it, first] = ids_.try_emplace(std::pair(kindOf<Key>(), object.get()), next_);
        if (!first) {
            archive(it->second);
            return;
        }
        ++next_;
        archive(static_cast<std::uint32_t>(it->second | kNewObject));
        write(*object);
    }

private:
    template <typename Key>
    static int kindOf() {
        if constexpr (std::is_same_v<Key, EncryptionKey>)
            return 0;
        else if constexpr (std::is_same_v<Key, EvaluationKey>)
            return 1;
        else
            return 2;
    }

    std::map<std::pair<int, const void *>, std::uint32_t> ids_;
    std::uint32_t next_ = 1;
};

// The objects read so far, by identifier, with their kinds.
class PointerTable {
public:
    // Reads an identifier: 0 gives an empty pointer, a new identifier the
    // object `read` makes from the record that follows, a known one the
    // object read before. Throws cereal::Exception for an unknown identifier
    // (the archive's message) and the verifier message for an identifier
    // introduced twice or naming an object of another kind.
    template <typename Key, typename Read>
    std::shared_ptr<Key> read(cereal::PortableBinaryInputArchive &archive, Read &&read) {
        std::uint32_t id = 0;
        archive(id);
        if (id == 0)
            return nullptr;
        if ((id & kNewObject) != 0) {
            const std::uint32_t number = id & ~kNewObject;
            if (objects_.count(number) != 0)
                throw RuntimeException(Verifier::kValidationFailed);
            std::shared_ptr<Key> object = read();
            objects_.emplace(number, object);
            return object;
        }
        const auto it = objects_.find(id);
        if (it == objects_.end())
            throw cereal::Exception(
                "Error while trying to deserialize a smart pointer. Could not find id " +
                std::to_string(id));
        const auto *object = std::get_if<std::shared_ptr<Key>>(&it->second);
        if (object == nullptr)
            throw RuntimeException(Verifier::kValidationFailed);
        return *object;
    }

private:
    std::map<std::uint32_t,
             std::variant<std::shared_ptr<EncryptionKey>, std::shared_ptr<EvaluationKey>,
                          std::shared_ptr<SparseSecretEncapsulationKey>>>
        objects_;
};

// An evaluation-key record checked against `context` (its stored hash
// included) in a key without a context of its own; a key with fewer digits
// than the gadget rank records its digits as its dnum.
std::shared_ptr<EvaluationKey> readEvaluationKey(cereal::PortableBinaryInputArchive &archive,
                                                 const std::shared_ptr<ContextContent> &context) {
    auto key = std::make_shared<EvaluationKey>();
    detail::EvaluationKeyAccess::install(
        *key, detail::EvaluationKeyAccess::read(archive, context, true), context);
    return key;
}

// A key of the stream must be of the kind of the place it is filed in (and a
// rotation key for that place's index), as the single-key loads demand: a
// key in the wrong place would be used for another operation and decrypt to
// garbage. An empty place holds nothing to check.
void requirePlace(const std::shared_ptr<EvaluationKey> &key, char type, std::uint64_t aux) {
    if (key && (key->getType() != type || key->getAux() != aux))
        throw RuntimeException(Verifier::kValidationFailed);
}

} // namespace

// Friend of KeyPackImpl: reaches the slots and maps.
struct KeyPackStream {
    static void save(std::ostream &stream, const KeyPackImpl &pack) {
        // The slots and the rotation map are held for the whole write, so the
        // stream is one consistent picture of the pack.
        std::scoped_lock slots(pack.enc_key_.mutex, pack.mult_key_.mutex, pack.conj_key_.mutex,
                               pack.sse_key_.mutex);
        pack.rot_keys_.read([&](const KeyPackImpl::RotKeyMap::Map &rotKeys) {
            cereal::PortableBinaryOutputArchive archive(stream);
            PointerIds ids;
            const auto writeEvaluationKey = [&](const EvaluationKey &key) {
                key.serializeInternal(archive);
            };
            ids.write(archive, pack.enc_key_.key,
                      [&](const EncryptionKey &key) { key.save(archive); });
            ids.write(archive, pack.mult_key_.key, writeEvaluationKey);
            ids.write(archive, pack.conj_key_.key, writeEvaluationKey);
            archive(static_cast<std::uint64_t>(rotKeys.size()));
            for (const auto &[idx, key] : rotKeys) {
                archive(idx);
                ids.write(archive, key, writeEvaluationKey);
            }
            ids.write(archive, pack.sse_key_.key,
                      [&](const SparseSecretEncapsulationKey &key) { key.save(archive); });
        });
    }

    static void load(std::istream &stream, KeyPackImpl &pack) {
        const std::shared_ptr<ContextContent> &context = pack.context_;
        // Everything is read into new objects first; the pack changes only
        // once the whole stream is read and valid.
        cereal::PortableBinaryInputArchive archive(stream);
        PointerTable table;
        const auto readEvaluation = [&] { return readEvaluationKey(archive, context); };
        auto enc = table.read<EncryptionKey>(archive, [&] {
            auto key = std::make_shared<EncryptionKey>(context);
            key->load(archive, context);
            return key;
        });
        auto mult = table.read<EvaluationKey>(archive, readEvaluation);
        requirePlace(mult, 'm', 0);
        auto conj = table.read<EvaluationKey>(archive, readEvaluation);
        requirePlace(conj, 'c', 0);
        std::uint64_t count = 0;
        archive(count);
        KeyPackImpl::RotKeyMap::Map rotKeys;
        // The count is not trusted for an allocation: a damaged one runs into
        // the end of the stream.
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t idx = 0;
            archive(idx);
            // The pack files rotation keys under indices reduced modulo the
            // slot count; each key must be the rotation key of its index.
            if (idx >= pack.num_slots_)
                throw RuntimeException(Verifier::kValidationFailed);
            auto key = table.read<EvaluationKey>(archive, readEvaluation);
            requirePlace(key, 'r', idx);
            // A repeated index keeps its first key.
            rotKeys.try_emplace(idx, std::move(key));
        }
        auto sse = table.read<SparseSecretEncapsulationKey>(archive, [&] {
            const std::shared_ptr<ContextContent> &sparse = pack.requireSparseContext();
            auto dts = detail::EvaluationKeyAccess::read(archive, sparse, true);
            auto stdPart = detail::EvaluationKeyAccess::read(archive, context, true);
            if (dts.type != 's' || stdPart.type != 's' || dts.aux != 0 || stdPart.aux != 0)
                throw RuntimeException(Verifier::kValidationFailed);
            auto key = std::make_shared<SparseSecretEncapsulationKey>();
            detail::EvaluationKeyAccess::install(key->getDTSPart(), std::move(dts), sparse);
            detail::EvaluationKeyAccess::install(key->getSTDPart(), std::move(stdPart), context);
            return key;
        });

        // The keys replaced end up in these locals and are released after the
        // locks.
        std::scoped_lock slots(pack.enc_key_.mutex, pack.mult_key_.mutex, pack.conj_key_.mutex,
                               pack.sse_key_.mutex);
        pack.enc_key_.key.swap(enc);
        pack.mult_key_.key.swap(mult);
        pack.conj_key_.key.swap(conj);
        pack.rot_keys_.write([&](KeyPackImpl::RotKeyMap::Map &held) { held.swap(rotKeys); });
        pack.sse_key_.key.swap(sse);
        // Another set of rotation keys: routes are found afresh.
        pack.noteRotationKeySetChanged();
    }
};

void Serialize::save(std::ostream &stream, const KeyPackImpl &pack) {
    KeyPackStream::save(stream, pack);
}

void Serialize::load(std::istream &stream, KeyPackImpl &pack) { KeyPackStream::load(stream, pack); }

} // namespace Quelt
