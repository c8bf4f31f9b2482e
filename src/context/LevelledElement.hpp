#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"

#include <cstdint>
#include <memory>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt {

class ContextContent;
namespace LWE {
class ContextContent;
}

// One integer constant held as one residue per prime of a chain: residue i,
// modulo prime i, at word i. size is the number of primes it spans (the chain
// length L, plus the K temporary primes in mod-up form; the chain length of an
// LWE context), level the highest prime index in use.
class LevelledElement {
public:
    // Zero at the top level: size L (L + K when modUp), level size - 1, size
    // zero words on the host.
    LevelledElement(const std::shared_ptr<ContextContent> &context, bool modUp);

    // The residues of value (negative values as q_i - (|value| mod q_i)). Not
    // mod-up: size L, residues 0..level, an array of level + 1 words. Mod-up:
    // size L + K, all L + K residues. Throws RuntimeException
    // "[LevelledElement] Level exceeds the prime chain" unless level < size.
    LevelledElement(std::int64_t value, const std::shared_ptr<ContextContent> &context, bool modUp,
                    std::uint64_t level);

    // Zero of an LWE context: size = its chain length, level size - 1.
    explicit LevelledElement(const std::shared_ptr<LWE::ContextContent> &context);

    // The residues of value for the LWE primes 0..level; the array keeps size
    // words, those above the level not initialised. Throws as above unless
    // level < size.
    LevelledElement(std::int64_t value, const std::shared_ptr<LWE::ContextContent> &context,
                    std::uint64_t level);

    std::uint64_t getSize() const { return size_; }
    std::uint64_t getLevel() const { return level_; }
    // Sets the level only (the array is the caller's). Throws RuntimeException
    // "[LevelledElement] Level exceeds the prime chain" unless level < size.
    void setLevel(std::uint64_t level);
    bool isModUp() const { return mod_up_; }

    DeviceSpecificArray<std::uint64_t> &getData() { return data_; }
    const DeviceSpecificArray<std::uint64_t> &getData() const { return data_; }
    std::uint64_t &operator[](std::uint64_t i) { return data_[i]; }
    const std::uint64_t &operator[](std::uint64_t i) const { return data_[i]; }
    const Device &getDevice() const { return data_.getDevice(); }

    // Moves the residues to the device.
    void to(const Device &device);
    // Fresh storage of the same element count on the device, contents not
    // carried over; nothing happens when the residues already live there.
    void allocate(const Device &device);

    // Serialised form: size and level (8 bytes each), the mod-up byte, then
    // the array (element count and words).
    void save(cereal::PortableBinaryOutputArchive &ar) const;

    // Reads the serialised form. Before anything changes, the header must fit
    // the context: size L (L + K with the mod-up byte set; the chain length of
    // an LWE context, whose elements are never mod-up), a flag byte of 0 or 1,
    // level < size, and an array of level + 1 to size words (exactly size in
    // mod-up form). Failures throw RuntimeException "[LevelledElement::load]
    // ..." or the archive's short-read exception; the element is unchanged.
    void load(cereal::PortableBinaryInputArchive &ar,
              const std::shared_ptr<ContextContent> &context);
    void load(cereal::PortableBinaryInputArchive &ar,
              const std::shared_ptr<LWE::ContextContent> &context);

private:
    // mod_up_size 0: the mod-up form is refused.
    void loadChecked(cereal::PortableBinaryInputArchive &ar, std::uint64_t plain_size,
                     std::uint64_t mod_up_size);

    std::uint64_t size_ = 0;
    std::uint64_t level_ = 0;
    bool mod_up_ = false;
    DeviceSpecificArray<std::uint64_t> data_;
};

// An LWE vector: for each prime i up to the level, the `dimension` residues of
// the vector modulo q_i at words i * dimension .. i * dimension + dimension - 1.
class LevelledVector {
public:
    // dimension n of the context, level = chain length - 1, n * chain length
    // words on the host, not initialised.
    explicit LevelledVector(const std::shared_ptr<LWE::ContextContent> &context);

    std::uint64_t getDimension() const { return dimension_; }
    std::uint64_t getLevel() const { return level_; }
    // Sets the level only (the array is the caller's).
    void setLevel(std::uint64_t level) { level_ = level; }

    DeviceSpecificArray<std::uint64_t> &getData() { return data_; }
    const DeviceSpecificArray<std::uint64_t> &getData() const { return data_; }
    std::uint64_t *getLimb(std::uint64_t i) { return data_.getData() + i * dimension_; }
    const std::uint64_t *getLimb(std::uint64_t i) const { return data_.getData() + i * dimension_; }
    const Device &getDevice() const { return data_.getDevice(); }

    void to(const Device &device);
    void allocate(const Device &device);

    // Serialised form: dimension and level (8 bytes each), then the array.
    void save(cereal::PortableBinaryOutputArchive &ar) const;
    // Reads the serialised form. Before anything changes: dimension equal to
    // the context's, level below its chain length, and an array of whole limbs
    // covering limbs 0..level and at most chain-length limbs. Failures throw
    // RuntimeException "[LevelledVector::load] ..." or the archive's
    // short-read exception; the vector is unchanged.
    void load(cereal::PortableBinaryInputArchive &ar,
              const std::shared_ptr<LWE::ContextContent> &context);

private:
    std::uint64_t dimension_ = 0;
    std::uint64_t level_ = 0;
    DeviceSpecificArray<std::uint64_t> data_;
};

} // namespace Quelt
