#include "context/MessageImpl.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/DeviceArraySerialization.hpp"

#include <cereal/archives/portable_binary.hpp>

#include <algorithm>
#include <bit>
#include <fstream>

namespace Quelt {

namespace {
constexpr const char *kSizeNotPowerOfTwo = "[Message] The size of message must be a power of two";
constexpr const char *kCannotOpenFile = "Cannot open file ";
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

void MessageImpl::save(std::ostream &stream) const {
    // The archive writes the byte-order byte as it is constructed.
    cereal::PortableBinaryOutputArchive archive(stream);
    Quelt::save(archive, slots_);
}

void MessageImpl::save(const std::string &path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        throw RuntimeException(kCannotOpenFile + path);
    save(file);
}

void MessageImpl::load(std::istream &stream) {
    cereal::PortableBinaryInputArchive archive(stream);
    // Reads into a fresh host array (with our stream) and installs it only once
    // every slot has arrived, so a failed load leaves the message as it was.
    Quelt::load(archive, slots_);
}

void MessageImpl::load(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw RuntimeException(kCannotOpenFile + path);
    load(file);
}

} // namespace Quelt
