#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"

#include <complex>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt {

// The slot array behind a Message.
class MessageImpl {
public:
    using SlotArray = DeviceSpecificArray<std::complex<double>>;

    MessageImpl() = default;
    explicit MessageImpl(SlotArray slots) : slots_(std::move(slots)) {}
    // Throws "[Message] The size of message must be a power of two" before
    // allocating when values.size() is neither 0 nor a power of two.
    explicit MessageImpl(const std::vector<std::complex<double>> &values);

    MessageImpl(const MessageImpl &) = default;
    MessageImpl(MessageImpl &&) noexcept = default;
    MessageImpl &operator=(const MessageImpl &) = default;
    MessageImpl &operator=(MessageImpl &&) noexcept = default;

    void resize(std::uint64_t n) { slots_.resize(n); }
    void to(const Device &device) { slots_.to(device); }
    void allocate(const Device &device);
    const Device &getDevice() const { return slots_.getDevice(); }

    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void load(const std::string &path);
    void load(std::istream &stream);
    // The record inside an archive: the slot array (count, then the slots).
    void save(cereal::PortableBinaryOutputArchive &archive) const;
    void load(cereal::PortableBinaryInputArchive &archive);

    SlotArray &getSlots() { return slots_; }
    const SlotArray &getSlots() const { return slots_; }

private:
    SlotArray slots_;
};

} // namespace Quelt
