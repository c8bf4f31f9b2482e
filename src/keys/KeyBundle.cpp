// The four simple key bundles and their body: a key count, then one
// shared-pointer entry per key, numbered through the archive's own table so
// that the numbering continues across every bundle of one archive.

#include "Quelt/KeyBundle.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "keys/Serialize.hpp"

namespace Quelt {

namespace {

using KeyList = std::vector<std::shared_ptr<EvaluationKey>>;
using Factory = std::unique_ptr<EvaluationKey> (*)(const std::shared_ptr<ContextContent> &);

constexpr std::uint32_t kNewObject = 0x80000000u;

KeyList makeKeys(const std::shared_ptr<ContextContent> &context, std::uint64_t n, Factory factory) {
    KeyList keys;
    keys.reserve(n);
    for (std::uint64_t i = 0; i < n; ++i)
        keys.emplace_back(factory(context));
    return keys;
}

void moveKeys(const KeyList &keys, const Device &device) {
    for (const auto &key : keys)
        if (key)
            key->removeExcept(device);
}

void writeKeyList(cereal::PortableBinaryOutputArchive &archive, const KeyList &keys) {
    archive(static_cast<std::uint64_t>(keys.size()));
    for (const auto &key : keys) {
        // The archive's table gives 0 for an empty pointer, the number with
        // the top bit at a first occurrence and the plain number after.
        const std::uint32_t id = archive.registerSharedPointer(key);
        archive(id);
        if ((id & kNewObject) != 0)
            key->serializeInternal(archive);
    }
}

// Reads a body. A bundle with a context (every bundle but a default-made
// IncreaseNS one) takes only what it was made for: exactly its own number of
// keys, none empty, each a key of its type for its context, checked against
// that context before anything large is allocated. A bundle without a
// context takes any consistent body.
KeyList readKeyList(cereal::PortableBinaryInputArchive &archive,
                    const std::shared_ptr<ContextContent> &context, char type,
                    std::uint64_t expected) {
    std::uint64_t count = 0;
    archive(count);
    if (context && count != expected)
        throw RuntimeException(KeyBundleMessages::kCountMismatch);
    KeyList keys;
    // The count is not trusted for an allocation: every element costs at
    // least its four identifier bytes, so a damaged count runs into the end
    // of the stream before the list outgrows it.
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t id = 0;
        archive(id);
        if ((id & kNewObject) == 0) {
            // 0 gives an empty pointer; an unknown number throws the archive's
            // message. Every object of a bundle archive is an evaluation key.
            auto key = std::static_pointer_cast<EvaluationKey>(archive.getSharedPointer(id));
            if (context && (!key || key->getType() != type))
                throw RuntimeException(key ? KeyBundleMessages::kForeignKey
                                           : KeyBundleMessages::kMissingKey);
            keys.push_back(std::move(key));
            continue;
        }
        auto key = std::make_shared<EvaluationKey>();
        archive.registerSharedPointer(id, key);
        if (context) {
            detail::EvaluationKeyAccess::install(
                *key,
                detail::EvaluationKeyAccess::read(archive, context, true,
                                                  KeyBundleMessages::kForeignKey, type),
                context);
        } else {
            key->load(archive);
        }
        keys.push_back(std::move(key));
    }
    return keys;
}

} // namespace

// ---------------------------------------------------------------------------

IncreaseNSKeyBundle::IncreaseNSKeyBundle() = default;

IncreaseNSKeyBundle::IncreaseNSKeyBundle(const std::shared_ptr<ContextContent> &context,
                                         std::uint64_t n)
    : context_(context), keys_(makeKeys(context, n, makeEmptyIncreaseNSKey)) {}

std::shared_ptr<EvaluationKey> IncreaseNSKeyBundle::getIncreaseNSKey(std::uint64_t i) const {
    return keys_.at(i);
}
void IncreaseNSKeyBundle::to(const Device &device) { moveKeys(keys_, device); }
void IncreaseNSKeyBundle::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void IncreaseNSKeyBundle::load(std::istream &stream) { Serialize::load(stream, *this); }
void IncreaseNSKeyBundle::serialize(cereal::PortableBinaryOutputArchive &archive) const {
    writeKeyList(archive, keys_);
}
void IncreaseNSKeyBundle::serialize(cereal::PortableBinaryInputArchive &archive) {
    keys_ = readKeyList(archive, context_, 'i', keys_.size());
}

// ---------------------------------------------------------------------------

ModPackKeyBundle::ModPackKeyBundle(const std::shared_ptr<ContextContent> &context, std::uint64_t n)
    : context_(context), keys_(makeKeys(context, n, makeEmptyModPackKey)) {}

std::shared_ptr<EvaluationKey> ModPackKeyBundle::getModPackKey(std::uint64_t i) const {
    return keys_.at(i);
}
void ModPackKeyBundle::to(const Device &device) { moveKeys(keys_, device); }
void ModPackKeyBundle::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void ModPackKeyBundle::load(std::istream &stream) { Serialize::load(stream, *this); }
void ModPackKeyBundle::save(const std::string &path) const { Serialize::save(path, *this); }
void ModPackKeyBundle::load(const std::string &path) { Serialize::load(path, *this); }
void ModPackKeyBundle::serialize(cereal::PortableBinaryOutputArchive &archive) const {
    writeKeyList(archive, keys_);
}
void ModPackKeyBundle::serialize(cereal::PortableBinaryInputArchive &archive) {
    keys_ = readKeyList(archive, context_, 'p', keys_.size());
}

// ---------------------------------------------------------------------------

MStoSSKeyBundle::MStoSSKeyBundle(const std::shared_ptr<ContextContent> &context)
    : context_(context), keys_(makeKeys(context, getNumSecret(context), makeEmptyMStoSSKey)) {}

std::shared_ptr<EvaluationKey> MStoSSKeyBundle::getMStoSSKey(std::uint64_t i) const {
    return keys_.at(i);
}
void MStoSSKeyBundle::to(const Device &device) { moveKeys(keys_, device); }
void MStoSSKeyBundle::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void MStoSSKeyBundle::load(std::istream &stream) { Serialize::load(stream, *this); }
void MStoSSKeyBundle::serialize(cereal::PortableBinaryOutputArchive &archive) const {
    writeKeyList(archive, keys_);
}
void MStoSSKeyBundle::serialize(cereal::PortableBinaryInputArchive &archive) {
    keys_ = readKeyList(archive, context_, 'z', keys_.size());
}

// ---------------------------------------------------------------------------

SStoMSKeyBundle::SStoMSKeyBundle(const std::shared_ptr<ContextContent> &context)
    : context_(context), keys_(makeKeys(context, getNumSecret(context), makeEmptySStoMSKey)) {}

std::shared_ptr<EvaluationKey> SStoMSKeyBundle::getSStoMSKey(std::uint64_t i) const {
    return keys_.at(i);
}
void SStoMSKeyBundle::to(const Device &device) { moveKeys(keys_, device); }
void SStoMSKeyBundle::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void SStoMSKeyBundle::load(std::istream &stream) { Serialize::load(stream, *this); }
void SStoMSKeyBundle::serialize(cereal::PortableBinaryOutputArchive &archive) const {
    writeKeyList(archive, keys_);
}
void SStoMSKeyBundle::serialize(cereal::PortableBinaryInputArchive &archive) {
    keys_ = readKeyList(archive, context_, 'x', keys_.size());
}

} // namespace Quelt
