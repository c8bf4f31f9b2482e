#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/EncodingType.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "context/PolynomialVector.hpp"
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

// The data of a CiphertextBase<ET>; see include/Quelt/Ciphertext.hpp for the
// behaviour of each member. The three instantiations behave alike.
template <EncryptionType ET>
class CiphertextImpl {
public:
    static constexpr const char *kMultiSecretMLWE =
        "[Ciphertext] The format of multi-secret MLWE is currently not supported";
    static constexpr const char *kSizeTooSmall =
        "The size of a ciphertext should be greater than 1";
    static constexpr const char *kLevelDoesNotFit =
        "The level of input ciphertext does not fit in current context";
    static constexpr const char *kDegreeMismatch =
        "[Ciphertext] The degree of input ciphertext does not match the context";
    static constexpr const char *kTransformMismatch =
        "[Ciphertext] The transform types of input ciphertext do not match the context";
    static constexpr const char *kMissingLimbs =
        "[Ciphertext] The input ciphertext does not hold the limbs of its level";
    static constexpr const char *kModUpChainMismatch =
        "[Ciphertext] A mod-up ciphertext needs a context with the same chain length and "
        "temporary primes";
    static constexpr const char *kIncompatibleContext =
        "[setContext] Input context is not compatible with the ciphertext.";
    static constexpr const char *kRescaleCounterAboveLevel =
        "Rescale counter should be less than or equal to the level";
    static constexpr const char *kAlreadyNTT = "The polynomial is already in NTT form";
    static constexpr const char *kAlreadyINTT = "The polynomial is already in iNTT form";
    static constexpr const char *kLogSlotsTooLarge =
        "[Ciphertext] The log slot count must be below 64";
    static constexpr const char *kUnknownEncodingType =
        "[Ciphertext] The stored encoding type is not known";

    CiphertextImpl(const std::shared_ptr<ContextContent> &context, bool modUp, bool isNTT);
    CiphertextImpl(const std::shared_ptr<ContextContent> &context, const CiphertextImpl &other);

    CiphertextImpl(const CiphertextImpl &) = default;
    CiphertextImpl(CiphertextImpl &&) noexcept = default;
    // Member by member into this ciphertext; the polynomials first, so that a
    // failed copy of an array leaves the scalar fields as they were.
    CiphertextImpl &operator=(const CiphertextImpl &other);
    CiphertextImpl &operator=(CiphertextImpl &&) noexcept = default;

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    void setContext(const std::shared_ptr<ContextContent> &context);

    ParameterPreset getParameterPreset() const;
    std::uint64_t getGadgetRank() const;

    std::uint64_t getNumPoly() const { return polys_.getSize(); }
    void setNumPoly(std::uint64_t n);
    Polynomial &getPoly(std::uint64_t i) { return polys_.getPoly(i); }
    const Polynomial &getPoly(std::uint64_t i) const { return polys_.getPoly(i); }
    PolynomialVector &getPolyVector() { return polys_; }
    const PolynomialVector &getPolyVector() const { return polys_; }
    std::uint64_t *getPolyData(std::uint64_t i, std::uint64_t j) const;

    std::uint64_t getLogSlots() const { return log_slots_; }
    void setLogSlots(std::uint64_t logSlots) { log_slots_ = logSlots; }
    std::uint64_t getNumberOfSlots() const;

    std::uint64_t getLevel() const { return polys_.getLevel(); }
    void setLevel(std::uint64_t level) { polys_.setLevel(level); }
    std::uint64_t getNumSecret() const;
    std::uint64_t getCurrentPrime() const;
    double getCurrentScaleFactor() const;
    bool isModUp() const { return polys_.isModUp(); }

    int getRescaleCounter() const { return rescale_counter_.getValue(); }
    void setRescaleCounter(int value);

    EncodingType getEncodingType() const { return encoding_type_; }
    void setEncodingType(EncodingType type) { encoding_type_ = type; }

    void forwardNTT();
    void backwardNTT();

    Device getDevice() const { return polys_.getDevice(); }
    void to(const Device &device) { polys_.to(device); }
    void allocate(const Device &device) { polys_.allocate(device); }

    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void load(const std::string &path);
    void load(std::istream &stream);
    // The record inside an archive (after the byte-order byte).
    void save(cereal::PortableBinaryOutputArchive &archive) const;
    void load(cereal::PortableBinaryInputArchive &archive);

    // The ciphertext rule: value >= 0, and value <= level unless the level is
    // 0. Throws the messages of setRescaleCounter.
    static void checkRescaleCounter(int value, std::uint64_t level);

private:
    void transformAll(bool toNTT);

    std::shared_ptr<ContextContent> context_;
    std::uint64_t log_slots_;
    RescaleCounter rescale_counter_;
    EncodingType encoding_type_;
    PolynomialVector polys_;
};

extern template class CiphertextImpl<EncryptionType::MLWE>;
extern template class CiphertextImpl<EncryptionType::RLWE>;
extern template class CiphertextImpl<EncryptionType::MSRLWE>;

} // namespace Quelt
