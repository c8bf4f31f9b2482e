#pragma once

#include "Quelt/Device.hpp"
#include "context/LevelledElement.hpp"
#include "context/RescaleCounter.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt::LWE {

class ContextContent;

// The data of an LWE::Ciphertext; see include/Quelt/LWE/Ciphertext.hpp for
// the behaviour of each member.
class CiphertextImpl {
public:
    static constexpr const char *kDifferentLevels = "Operands have different levels.";
    static constexpr const char *kDifferentDevices = "Operands are in different devices.";
    static constexpr const char *kRescaleCounterAboveLevel =
        "Rescale counter should be less than or equal to the level";
    static constexpr const char *kLevelOutOfChain =
        "[LWE Ciphertext] Level exceeds the prime chain";
    static constexpr const char *kMaskArrayLength =
        "[LWE Ciphertext] The stored mask array does not match its level";

    explicit CiphertextImpl(const std::shared_ptr<ContextContent> &context);

    CiphertextImpl(const CiphertextImpl &) = default;
    CiphertextImpl(CiphertextImpl &&) noexcept = default;
    // Copies every field first, then installs them: a failed copy leaves this
    // ciphertext as it was.
    CiphertextImpl &operator=(const CiphertextImpl &other);
    CiphertextImpl &operator=(CiphertextImpl &&) noexcept = default;

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }

    LevelledVector &getAx() { return ax_; }
    const LevelledVector &getAx() const { return ax_; }
    LevelledElement &getBx() { return bx_; }
    const LevelledElement &getBx() const { return bx_; }
    std::uint64_t *getAxData(std::uint64_t i) const;
    std::uint64_t *getBxData() const;

    std::uint64_t getLevel() const;
    void setLevel(std::uint64_t level);

    int getRescaleCounter() const { return rescale_counter_.getValue(); }
    void setRescaleCounter(int value);

    Device getDevice() const;
    void to(const Device &device);
    void allocate(const Device &device);

    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void load(const std::string &path);
    void load(std::istream &stream);
    // The record inside an archive (after the byte-order byte).
    void save(cereal::PortableBinaryOutputArchive &archive) const;
    void load(cereal::PortableBinaryInputArchive &archive);

    // The counter rule of LWE ciphertexts: value <= level (as signed
    // numbers, so also at level 0), and value >= 0. Throws the messages of
    // setRescaleCounter.
    static void checkRescaleCounter(int value, std::uint64_t level);

private:
    std::shared_ptr<ContextContent> context_;
    RescaleCounter rescale_counter_;
    LevelledVector ax_;
    LevelledElement bx_;
};

} // namespace Quelt::LWE
