#include "Quelt/Message.hpp"

#include "context/MessageImpl.hpp"

#include <algorithm>
#include <bit>

namespace Quelt {

namespace {
constexpr const char *kLogSlotsTooLarge = "[Message] The log slot count must be below 64";

MessageImpl::SlotArray makeSlots(std::uint64_t logSlots) {
    if (logSlots >= 64)
        throw RuntimeException(kLogSlotsTooLarge);
    return MessageImpl::SlotArray(std::uint64_t{1} << logSlots);
}
} // namespace

Message::Message() : impl_(std::make_unique<MessageImpl>()) {}

Message::Message(std::uint64_t logSlots)
    : impl_(std::make_unique<MessageImpl>(makeSlots(logSlots))) {}

Message::Message(std::uint64_t logSlots, std::complex<double> value) : Message(logSlots) {
    std::fill(begin(), end(), value);
}

Message::Message(const std::vector<std::complex<double>> &values)
    : impl_(std::make_unique<MessageImpl>(values)) {}

Message::Message(const Message &other) = default;
Message::Message(Message &&other) noexcept = default;
Message &Message::operator=(const Message &other) = default;
Message &Message::operator=(Message &&other) noexcept = default;
Message::~Message() = default;

bool Message::isEmpty() const { return impl_->getSlots().empty(); }

std::complex<double> &Message::operator[](std::uint64_t i) { return impl_->getSlots()[i]; }
const std::complex<double> &Message::operator[](std::uint64_t i) const {
    return impl_->getSlots()[i];
}
std::complex<double> *Message::begin() { return impl_->getSlots().begin(); }
const std::complex<double> *Message::begin() const { return impl_->getSlots().begin(); }
std::complex<double> *Message::end() { return impl_->getSlots().end(); }
const std::complex<double> *Message::end() const { return impl_->getSlots().end(); }

std::uint64_t Message::getLogSlots() const {
    const std::uint64_t n = getSize();
    return n == 0 ? 0 : static_cast<std::uint64_t>(std::bit_width(n) - 1);
}
std::uint64_t Message::getSize() const { return impl_->getSlots().size(); }

void Message::resize(std::uint64_t n) { impl_->resize(n); }
void Message::to(const Device &device) { impl_->to(device); }
void Message::allocate(const Device &device) { impl_->allocate(device); }
const Device &Message::getDevice() const { return impl_->getDevice(); }

void Message::save(const std::string &path) const { impl_->save(path); }
void Message::save(std::ostream &stream) const { impl_->save(stream); }
void Message::load(const std::string &path) { impl_->load(path); }
void Message::load(std::istream &stream) { impl_->load(stream); }

} // namespace Quelt
