#include "context/MessageImpl.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/DeviceArraySerialization.hpp"
#include "keys/Serialize.hpp"

#include <algorithm>
#include <bit>

namespace Quelt {

namespace {
constexpr const char *kSizeNotPowerOfTwo = "[Message] The size of message must be a power of two";
} // namespace

MessageImpl::MessageImpl(const std::vector<std::complex<double>> &values) {
    if (!values.empty() && !std::has_single_bit(values.size()))
        throw RuntimeException(kSizeNotPowerOfTwo);
    SlotArray slots(values.size());
    std::copy(values.begin(), values.end(), slots.begin());
    slots_ = std::move(slots);
}

void MessageImpl::allocate(const Device &device) {
    if (device == slots_.getDevice())
        return;
    // Build the new array first so that a failed allocation keeps the old one.
    SlotArray fresh(slots_.size(), device, slots_.getStream());
    slots_ = std::move(fresh);
}

void MessageImpl::save(std::ostream &stream) const { Serialize::save(stream, *this); }

void MessageImpl::save(const std::string &path) const { Serialize::save(path, *this); }

void MessageImpl::save(cereal::PortableBinaryOutputArchive &archive) const {
    Quelt::save(archive, slots_);
}

void MessageImpl::load(std::istream &stream) { Serialize::load(stream, *this); }

void MessageImpl::load(const std::string &path) { Serialize::load(path, *this); }

void MessageImpl::load(cereal::PortableBinaryInputArchive &archive) {
    // Reads into a fresh host array (with our stream) and installs it only once
    // every slot has arrived, so a failed load leaves the message as it was.
    Quelt::load(archive, slots_);
}

} // namespace Quelt
