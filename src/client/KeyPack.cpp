#include "Quelt/KeyPack.hpp"

#include "client/KeyPackImpl.hpp"

namespace Quelt {

namespace {

std::uint64_t leftIndex(std::uint64_t idx, std::uint64_t slots) { return idx & (slots - 1); }

std::uint64_t rightIndex(std::uint64_t idx, std::uint64_t slots) {
    return (slots - (idx & (slots - 1))) & (slots - 1);
}

} // namespace

KeyPack::KeyPack(const std::shared_ptr<ContextContent> &context)
    : impl_(std::make_shared<KeyPackImpl>(context)), num_slots_(impl_->getNumSlots()) {}

KeyPack::KeyPack(const std::shared_ptr<ContextContent> &context,
                 const std::shared_ptr<ContextContent> &context_sparse)
    : impl_(std::make_shared<KeyPackImpl>(context, context_sparse)),
      num_slots_(impl_->getNumSlots()) {}

KeyPack::KeyPack(const std::shared_ptr<ContextContent> &context, const std::string &key_dir_path)
    : impl_(std::make_shared<KeyPackImpl>(context, key_dir_path)),
      num_slots_(impl_->getNumSlots()) {}

KeyPack::KeyPack(const std::shared_ptr<ContextContent> &context,
                 const std::shared_ptr<ContextContent> &context_sparse,
                 const std::string &key_dir_path)
    : impl_(std::make_shared<KeyPackImpl>(context, context_sparse, key_dir_path)),
      num_slots_(impl_->getNumSlots()) {}

void KeyPack::loadEncKey() { impl_->maybeLoadEncKey(); }
void KeyPack::loadMultKey() { impl_->maybeLoadMultKey(); }
void KeyPack::loadConjKey() { impl_->maybeLoadConjKey(); }
void KeyPack::loadSparseSecretEncapsulationKey() { impl_->maybeLoadSparseSecretEncapsulationKey(); }

void KeyPack::loadEncKey(std::istream &stream) { impl_->maybeLoadEncKey(stream); }
void KeyPack::loadMultKey(std::istream &stream) { impl_->maybeLoadMultKey(stream); }
void KeyPack::loadConjKey(std::istream &stream) { impl_->maybeLoadConjKey(stream); }
void KeyPack::loadSparseSecretEncapsulationKey(std::istream &stream) {
    impl_->maybeLoadSparseSecretEncapsulationKey(stream);
}

bool KeyPack::isEncKeyLoaded() const { return impl_->isEncKeyLoaded(); }
bool KeyPack::isMultKeyLoaded() const { return impl_->isMultKeyLoaded(); }
bool KeyPack::isConjKeyLoaded() const { return impl_->isConjKeyLoaded(); }
bool KeyPack::isSparseSecretEncapsulationKeyLoaded() const {
    return impl_->isSparseSecretEncapsulationKeyLoaded();
}

std::shared_ptr<EncryptionKey> KeyPack::getEncKey() const { return impl_->getEncKey(); }
std::shared_ptr<EvaluationKey> KeyPack::getMultKey() const { return impl_->getMultKey(); }
std::shared_ptr<EvaluationKey> KeyPack::getConjKey() const { return impl_->getConjKey(); }
std::shared_ptr<SparseSecretEncapsulationKey> KeyPack::getSparseSecretEncapsulationKey() const {
    return impl_->getSparseSecretEncapsulationKey();
}

void KeyPack::loadLeftRotKey(std::uint64_t idx, std::uint64_t dnum) {
    impl_->maybeLoadRotKey(leftIndex(idx, num_slots_), dnum);
}
void KeyPack::loadRightRotKey(std::uint64_t idx, std::uint64_t dnum) {
    impl_->maybeLoadRotKey(rightIndex(idx, num_slots_), dnum);
}
void KeyPack::loadLeftRotKey(std::uint64_t idx, std::istream &stream, std::uint64_t dnum) {
    impl_->maybeLoadRotKey(leftIndex(idx, num_slots_), stream, dnum);
}
void KeyPack::loadRightRotKey(std::uint64_t idx, std::istream &stream, std::uint64_t dnum) {
    impl_->maybeLoadRotKey(rightIndex(idx, num_slots_), stream, dnum);
}

bool KeyPack::isLeftRotKeyLoaded(std::uint64_t idx, std::uint64_t dnum) const {
    return impl_->isRotKeyLoaded(leftIndex(idx, num_slots_), dnum);
}
bool KeyPack::isRightRotKeyLoaded(std::uint64_t idx, std::uint64_t dnum) const {
    return impl_->isRotKeyLoaded(rightIndex(idx, num_slots_), dnum);
}
bool KeyPack::isLeftRotKeyFileAvailable(std::uint64_t idx) const {
    return impl_->isRotKeyFileAvailable(idx);
}

std::shared_ptr<EvaluationKey> KeyPack::getLeftRotKey(std::uint64_t idx, std::uint64_t dnum) const {
    return impl_->getRotKey(leftIndex(idx, num_slots_), dnum);
}
std::shared_ptr<EvaluationKey> KeyPack::getRightRotKey(std::uint64_t idx,
                                                       std::uint64_t dnum) const {
    return impl_->getRotKey(rightIndex(idx, num_slots_), dnum);
}

std::shared_ptr<FuseRotationKey> KeyPack::getFuseRotKey(std::uint64_t idx) const {
    return impl_->getFuseRotKey(idx);
}

void KeyPack::setMinimalKeyLoad(bool on) { impl_->setMinimalKeyLoad(on); }
bool KeyPack::getMinimalKeyLoad() const { return impl_->getMinimalKeyLoad(); }

void KeyPack::setKeyDirPath(const std::string &path) { impl_->setKeyDirPath(path); }
void KeyPack::save(const std::string &path) const { impl_->save(path); }
void KeyPack::saveList(const std::string &path) const { impl_->saveList(path); }
void KeyPack::loadMinRotKey(const std::string &path) { impl_->loadMinRotKey(path); }

void KeyPack::computeRotationKeyDecomposition(bool fromHeld) {
    impl_->computeRotationKeyDecomposition(fromHeld);
}
std::vector<std::uint64_t> KeyPack::getRotKeyDecomposition(std::uint64_t idx) const {
    return impl_->getRotKeyDecomposition(idx);
}

void KeyPack::to(const Device &device) { impl_->to(device); }
void KeyPack::copyTo(const Device &device) { impl_->copyTo(device); }

void KeyPack::save(std::ostream &stream) const { impl_->save(stream); }
void KeyPack::load(std::istream &stream) { impl_->load(stream); }

} // namespace Quelt
