#include "context/PlaintextImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "keys/Serialize.hpp"

#include <utility>

namespace Quelt {

PlaintextImpl::PlaintextImpl(const std::shared_ptr<ContextContent> &context, bool modUp)
    : context_(context), log_slots_(getLogFullSlots(context)), rescale_counter_(0),
      mx_(context, modUp, true) {}

PlaintextImpl &PlaintextImpl::operator=(const PlaintextImpl &other) {
    if (this == &other)
        return *this;
    mx_ = other.mx_;
    context_ = other.context_;
    log_slots_ = other.log_slots_;
    rescale_counter_ = other.rescale_counter_;
    return *this;
}

std::uint64_t PlaintextImpl::getNumberOfSlots() const {
    if (log_slots_ >= 64)
        throw RuntimeException(kLogSlotsTooLarge);
    return std::uint64_t{1} << log_slots_;
}

std::uint64_t *PlaintextImpl::getMxData(std::uint64_t i) const {
    // The limbs belong to this plaintext; handing out a writable pointer from
    // a const object is what the inner-product kernels expect.
    return const_cast<std::uint64_t *>(mx_.getLimb(i));
}

void PlaintextImpl::levelDrop(std::uint64_t level) {
    const std::uint64_t current = mx_.getLevel();
    if (level > current)
        throw RuntimeException(kLevelDropAbove);
    if (level == current)
        return;
    mx_.setLevel(level);
}

void PlaintextImpl::checkRescaleCounter(int value, std::uint64_t level) {
    if (static_cast<std::int64_t>(value) > static_cast<std::int64_t>(level))
        throw RuntimeException(kRescaleCounterAboveLevel);
    RescaleCounter::isValidRescaleCounter(value);
}

void PlaintextImpl::setRescaleCounter(int value) {
    checkRescaleCounter(value, mx_.getLevel());
    rescale_counter_.setValue(value);
}

bool PlaintextImpl::isZero() const { return context_->getPrimeModuli().isZero(mx_); }

void PlaintextImpl::save(const std::string &path) const { Serialize::save(path, *this); }
void PlaintextImpl::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void PlaintextImpl::load(const std::string &path) { Serialize::load(path, *this); }
void PlaintextImpl::load(std::istream &stream) { Serialize::load(stream, *this); }

void PlaintextImpl::save(cereal::PortableBinaryOutputArchive &archive) const {
    Verifier::save(archive, context_->getHash(), ObjectCode::PLAINTEXT);
    archive(log_slots_, static_cast<std::int32_t>(rescale_counter_.getValue()));
    mx_.save(archive);
}

void PlaintextImpl::load(cereal::PortableBinaryInputArchive &archive) {
    Verifier::load(archive, context_->getHash(), ObjectCode::PLAINTEXT);
    std::uint64_t logSlots = 0;
    std::int32_t counter = 0;
    archive(logSlots, counter);
    // mx arrives in a polynomial of its own, which checks it against the
    // context; nothing of this plaintext changes until every field is known
    // to be sound.
    Polynomial mx(context_, false, false);
    mx.load(archive, context_);
    checkRescaleCounter(counter, mx.getLevel());

    mx_ = std::move(mx);
    log_slots_ = logSlots;
    rescale_counter_.setValue(counter);
}

} // namespace Quelt
