#include "lwe/LWECiphertextImpl.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/WordArith.hpp"
#include "keys/Serialize.hpp"
#include "lwe/LWEContext.hpp"
#include "lwe/LWEParameter.hpp"

#include <stdexcept>

namespace Quelt::LWE {

namespace {
constexpr const char *kMaskLimbOutOfRange = "[LWE Ciphertext] Prime index out of range";
} // namespace

CiphertextImpl::CiphertextImpl(const std::shared_ptr<ContextContent> &context)
    : context_(context), rescale_counter_(0), ax_(context), bx_(context) {}

CiphertextImpl &CiphertextImpl::operator=(const CiphertextImpl &other) {
    if (this != &other) {
        CiphertextImpl copy(other);
        *this = std::move(copy);
    }
    return *this;
}

u64 *CiphertextImpl::getAxData(u64 i) const {
    const u64 n = ax_.getDimension();
    if (i >= ax_.getData().size() / n)
        throw std::out_of_range(kMaskLimbOutOfRange);
    // The residues belong to this ciphertext; kernels write through the pointer.
    return const_cast<u64 *>(ax_.getLimb(i));
}

u64 *CiphertextImpl::getBxData() const { return const_cast<u64 *>(bx_.getData().getData()); }

u64 CiphertextImpl::getLevel() const {
    if (ax_.getLevel() != bx_.getLevel())
        throw RuntimeException(kDifferentLevels);
    return ax_.getLevel();
}

void CiphertextImpl::setLevel(u64 level) {
    if (level >= bx_.getSize())
        throw RuntimeException(kLevelOutOfChain);
    // Both arrays are resized first: a failed allocation leaves the levels
    // as they were.
    ax_.getData().resize(vectorWordCount(ax_.getDimension(), level + 1));
    bx_.getData().resize(level + 1);
    ax_.setLevel(level);
    bx_.setLevel(level);
}

void CiphertextImpl::checkRescaleCounter(int value, u64 level) {
    if (static_cast<std::int64_t>(value) > static_cast<std::int64_t>(level))
        throw RuntimeException(kRescaleCounterAboveLevel);
    RescaleCounter::isValidRescaleCounter(value);
}

void CiphertextImpl::setRescaleCounter(int value) {
    checkRescaleCounter(value, getLevel());
    rescale_counter_.setValue(value);
}

Device CiphertextImpl::getDevice() const {
    if (ax_.getDevice() != bx_.getDevice())
        throw RuntimeException(kDifferentDevices);
    return ax_.getDevice();
}

void CiphertextImpl::to(const Device &device) {
    ax_.to(device);
    bx_.to(device);
}

void CiphertextImpl::allocate(const Device &device) {
    ax_.allocate(device);
    bx_.allocate(device);
}

void CiphertextImpl::save(const std::string &path) const { Serialize::save(path, *this); }
void CiphertextImpl::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void CiphertextImpl::load(const std::string &path) { Serialize::load(path, *this); }
void CiphertextImpl::load(std::istream &stream) { Serialize::load(stream, *this); }

void CiphertextImpl::save(cereal::PortableBinaryOutputArchive &archive) const {
    Verifier::save(archive, context_->getHash(), ObjectCode::CIPHERTEXT);
    archive(static_cast<std::int32_t>(rescale_counter_.getValue()));
    ax_.save(archive);
    bx_.save(archive);
}

void CiphertextImpl::load(cereal::PortableBinaryInputArchive &archive) {
    Verifier::load(archive, context_->getHash(), ObjectCode::CIPHERTEXT);
    std::int32_t counter = 0;
    archive(counter);
    // Mask and body are read into objects of their own, each checked against
    // the context as it is read; this ciphertext changes only at the end.
    LevelledVector ax(context_);
    ax.load(archive, context_);
    LevelledElement bx(context_);
    bx.load(archive, context_);
    const u64 level = ax.getLevel();
    // Every operation leaves the mask with exactly the limbs of its level.
    if (ax.getData().size() != vectorWordCount(ax.getDimension(), level + 1))
        throw RuntimeException(kMaskArrayLength);
    if (bx.getLevel() != level)
        throw RuntimeException(kDifferentLevels);
    checkRescaleCounter(counter, level);

    ax_ = std::move(ax);
    bx_ = std::move(bx);
    rescale_counter_.setValue(counter);
}

} // namespace Quelt::LWE
