#pragma once

#include "Quelt/Device.hpp"
#include "context/Polynomial.hpp"
#include "context/RescaleCounter.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt {

class ContextContent;

// The data of a Plaintext; see include/Quelt/Plaintext.hpp for the behaviour
// of each member.
class PlaintextImpl {
public:
    static constexpr const char *kLevelDropAbove =
        "[level drop] target level is greater than level of Plaintext.";
    static constexpr const char *kRescaleCounterAboveLevel =
        "Rescale counter should be less than or equal to the level";
    static constexpr const char *kLogSlotsTooLarge =
        "[Plaintext] The log slot count must be below 64";

    explicit PlaintextImpl(const std::shared_ptr<ContextContent> &context, bool modUp = false);

    PlaintextImpl(const PlaintextImpl &) = default;
    PlaintextImpl(PlaintextImpl &&) noexcept = default;
    // Member by member into this plaintext; mx first, so that a failed copy
    // of its array leaves this plaintext as it was.
    PlaintextImpl &operator=(const PlaintextImpl &other);
    PlaintextImpl &operator=(PlaintextImpl &&) noexcept = default;

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }

    void setLogSlots(std::uint64_t logSlots) { log_slots_ = logSlots; }
    std::uint64_t getLogSlots() const { return log_slots_; }
    std::uint64_t getNumberOfSlots() const;

    Polynomial &getMx() { return mx_; }
    const Polynomial &getMx() const { return mx_; }
    std::uint64_t *getMxData(std::uint64_t i) const;

    std::uint64_t getLevel() const { return mx_.getLevel(); }
    void setLevel(std::uint64_t level) { mx_.setLevel(level); }
    void levelDrop(std::uint64_t level);

    int getRescaleCounter() const { return rescale_counter_.getValue(); }
    void setRescaleCounter(int value);

    bool isZero() const;

    const Device &getDevice() const { return mx_.getDevice(); }
    void to(const Device &device) { mx_.to(device); }
    void allocate(const Device &device) { mx_.allocate(device); }

    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void load(const std::string &path);
    void load(std::istream &stream);
    // The record inside an archive (after the byte-order byte).
    void save(cereal::PortableBinaryOutputArchive &archive) const;
    void load(cereal::PortableBinaryInputArchive &archive);

    // The plaintext rule: 0 <= value <= level at every level. Throws the
    // messages of setRescaleCounter.
    static void checkRescaleCounter(int value, std::uint64_t level);

private:
    std::shared_ptr<ContextContent> context_;
    std::uint64_t log_slots_;
    RescaleCounter rescale_counter_;
    Polynomial mx_;
};

} // namespace Quelt
