#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/Pointer.hpp"

#include <complex>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace Quelt {

class MessageImpl;

// A vector of complex slots on one device: what an encoder packs into a
// plaintext and a decoder returns. Messages made by the constructors live on
// the host with the default stream and hold zero or a power of two of slots;
// `resize` and `load` accept any count.
//
// Copies are deep (the copy has its own slot array on the same device and
// stream); a move hands the slots over and leaves the source holding nothing,
// after which it may only be destroyed or assigned to.
class Message {
public:
    // No slots, no storage.
    Message();
    // 2^logSlots slots with unspecified values: the argument is the log2 of
    // the slot count, so Message(3) holds 8 slots. A context of degree N
    // takes up to N/2 slots (2^getLogFullSlots(context)); fewer slots are
    // encoded sparsely and cost the same. Throws RuntimeException when
    // logSlots is 64 or more or the byte count overflows 64 bits, and
    // std::bad_alloc when the memory is not available.
    explicit Message(std::uint64_t logSlots);
    // 2^logSlots slots, each equal to value. Same failures as above.
    Message(std::uint64_t logSlots, std::complex<double> value);
    // One slot per value, in order. Throws RuntimeException
    // "[Message] The size of message must be a power of two" when the number
    // of values is neither 0 nor a power of two.
    explicit Message(const std::vector<std::complex<double>> &values);

    Message(const Message &other);
    Message(Message &&other) noexcept;
    Message &operator=(const Message &other);
    Message &operator=(Message &&other) noexcept;
    ~Message();

    bool isEmpty() const;

    // Slot i; no range check (host messages only).
    std::complex<double> &operator[](std::uint64_t i);
    const std::complex<double> &operator[](std::uint64_t i) const;
    std::complex<double> *begin();
    const std::complex<double> *begin() const;
    std::complex<double> *end();
    const std::complex<double> *end() const;

    // floor(log2(slot count)); 0 for an empty message.
    std::uint64_t getLogSlots() const;
    std::uint64_t getSize() const;

    // The slot count becomes n; leading slots are kept, new ones are
    // unspecified. No power-of-two check.
    void resize(std::uint64_t n);
    // Moves the slots to a device with the default stream, keeping their
    // values. Copies involving an accelerator throw
    // "Not supported. Build with QUELT_CUDA flag.".
    void to(const Device &device);
    // Nothing when the message is already on `device`; otherwise replaces the
    // slots by an uninitialised array of the same count there (values are not
    // carried over). Accelerator allocations throw in a host-only build.
    void allocate(const Device &device);
    const Device &getDevice() const;

    // Message form: byte-order byte, 8-byte slot count, then the slots as
    // real/imaginary double pairs. The path forms throw RuntimeException
    // "Cannot open file <path>" when the file cannot be opened; stream errors
    // are cereal::Exception. A failed load leaves the message unchanged; a
    // stored count whose byte size overflows is refused with RuntimeException.
    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void load(const std::string &path);
    void load(std::istream &stream);

private:
    Pointer<MessageImpl> impl_;
};

} // namespace Quelt
