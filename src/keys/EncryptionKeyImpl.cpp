#include "keys/EncryptionKeyImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "foundation/RandomSampler.hpp"
#include "keys/Serialize.hpp"

#include <utility>

namespace Quelt {

EncryptionKeyImpl::EncryptionKeyImpl(const std::shared_ptr<ContextContent> &context)
    : ax_(context, false, true), bx_(context, false, true), context_hash_(context->getHash()),
      context_(context) {}

EncryptionKeyImpl::EncryptionKeyImpl(const std::shared_ptr<ContextContent> &context,
                                     const SecretKeyBase<EncryptionType::RLWE> &secretKey)
    : EncryptionKeyImpl(context) {
    const std::uint64_t level = getEncryptionLevel(context);
    Polynomial error(context, false, true);
    error.setLevel(level);
    ax_.setLevel(level);
    bx_.setLevel(level);
    // The draw order is part of the key's definition: the mask's seed first,
    // then the error. The mask is regenerated over every prime it holds, so
    // its seed alone reproduces it.
    populateUniformPoly(ax_, true);
    RandomSampler().sampleGaussian(error, context);
    const PrimeModuli &chain = context->getPrimeModuli();
    chain.forwardNTT<OutputModulusBoundValidator, 1>(error, error,
                                                     OutputModulusBoundValidator(0, level + 1));
    chain.hadamardMult(ax_, secretKey.getSx(0), bx_);
    chain.sub(error, bx_, bx_);
}

EncryptionKeyImpl &EncryptionKeyImpl::operator=(const EncryptionKeyImpl &other) {
    if (this == &other)
        return *this;
    Polynomial ax = other.ax_;
    Polynomial bx = other.bx_;
    ax_ = std::move(ax);
    bx_ = std::move(bx);
    context_hash_ = other.context_hash_;
    context_ = other.context_;
    return *this;
}

void EncryptionKeyImpl::to(const Device &device) {
    ax_.to(device);
    bx_.to(device);
}

void EncryptionKeyImpl::allocate(const Device &device) {
    ax_.allocate(device);
    bx_.allocate(device);
}

const Device &EncryptionKeyImpl::getDevice() const {
    if (ax_.getDevice() != bx_.getDevice())
        throw RuntimeException(kDifferentDevices);
    return ax_.getDevice();
}

void EncryptionKeyImpl::save(cereal::PortableBinaryOutputArchive &archive) const {
    Verifier::saveKeyForm(archive, ObjectCode::ENCRYPTION_KEY, context_hash_);
    bx_.save(archive);
    ax_.save(archive);
}

void EncryptionKeyImpl::load(cereal::PortableBinaryInputArchive &archive) {
    loadChecked(archive, context_, true);
}

void EncryptionKeyImpl::load(cereal::PortableBinaryInputArchive &archive,
                             const std::shared_ptr<ContextContent> &context) {
    loadChecked(archive, context, false);
}

void EncryptionKeyImpl::checkFits(const Polynomial &poly,
                                  const std::shared_ptr<ContextContent> &context) {
    if (!poly.isNTT() || poly.isModUp() || poly.getLevel() != getEncryptionLevel(context))
        throw RuntimeException(kLoadShape);
}

void EncryptionKeyImpl::loadChecked(cereal::PortableBinaryInputArchive &archive,
                                    const std::shared_ptr<ContextContent> &context,
                                    bool compareHash) {
    const std::uint64_t hash = Verifier::loadKeyForm(archive, ObjectCode::ENCRYPTION_KEY);
    if (compareHash && hash != context->getHash())
        throw RuntimeException(Verifier::kValidationFailed);
    // Read aside and installed only when both polynomials fit.
    Polynomial bx(context, false, true);
    bx.load(archive, context);
    checkFits(bx, context);
    Polynomial ax(context, false, true);
    ax.load(archive, context);
    checkFits(ax, context);
    ax_ = std::move(ax);
    bx_ = std::move(bx);
    context_hash_ = hash;
}

} // namespace Quelt
