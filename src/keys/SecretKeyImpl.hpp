#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/EncryptionType.hpp"
#include "context/PolynomialVector.hpp"
#include "keys/SecretKeyRecord.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt {

class ContextContent;
template <EncryptionType ET>
class SecretKeyImpl;

namespace detail {

// Carries a secret key through the archive together with the form of its
// record: 1 full, 2 seed-only. T is const SecretKeyImpl<ET> for saving and
// SecretKeyImpl<ET> for loading; a load reads the option from the record.
template <typename T>
class CerealAdaptor {
public:
    CerealAdaptor(T *key, std::optional<std::uint32_t> option) : key_(key), option_(option) {}

    // Everything after the byte-order byte. Throws RuntimeException "[save
    // SecretKey] Invalid serialize option" for an option other than 1 or 2.
    void save(cereal::PortableBinaryOutputArchive &archive) const requires std::is_const_v<T>;
    // Reads and checks a record into the key (see SecretKeyBase's stream
    // constructor for the checks and their order).
    void load(cereal::PortableBinaryInputArchive &archive) requires(!std::is_const_v<T>);

    const std::optional<std::uint32_t> &getOption() const { return option_; }

private:
    T *key_;
    std::optional<std::uint32_t> option_;
};

} // namespace detail

// The data of a SecretKeyBase<ET>; see include/Quelt/SecretKey.hpp for the
// behaviour of each member. The three instantiations behave alike apart from
// their shape rules.
template <EncryptionType ET>
class SecretKeyImpl {
public:
    static constexpr const char *kRLWEShape =
        "[Secret Key] The number of RLWE secret key must be equal to one.";
    static constexpr const char *kMLWEShape =
        "[Secret Key] The number of MLWE secret key must be equal to one.";
    static constexpr const char *kNullCoefficients = SecretKeyRecord::kNullCoefficients;
    static constexpr const char *kNotRandom = SecretKeyRecord::kNotRandom;
    static constexpr const char *kSaveInvalidOption = "[save SecretKey] Invalid serialize option";
    static constexpr const char *kLoadInvalidOption = SecretKeyRecord::kLoadInvalidOption;
    static constexpr const char *kLoadWrongType =
        ET == EncryptionType::MLWE
            ? "[load SecretKey] The serialized secret key is not for MLWE encryption."
        : ET == EncryptionType::RLWE
            ? "[load SecretKey] The serialized secret key is not for RLWE encryption."
            : "[load SecretKey] The serialized secret key is not for MSRLWE encryption.";
    static constexpr const char *kLoadRandomFlag = SecretKeyRecord::kLoadRandomFlag;
    static constexpr const char *kLoadSeedLength = SecretKeyRecord::kLoadSeedLength;
    static constexpr const char *kLoadStateLength = SecretKeyRecord::kLoadStateLength;
    static constexpr const char *kLoadCoefficientCount = SecretKeyRecord::kLoadCoefficientCount;
    static constexpr const char *kLoadPolynomialCount =
        "[load SecretKey] The stored polynomial count does not match the context";
    static constexpr const char *kLoadPolynomialShape =
        "[load SecretKey] A stored polynomial is not in the form of a secret key";

    static constexpr std::uint32_t kFullForm = SecretKeyRecord::kFullForm;
    static constexpr std::uint32_t kSeedOnlyForm = SecretKeyRecord::kSeedOnlyForm;

    explicit SecretKeyImpl(const std::shared_ptr<ContextContent> &context);
    SecretKeyImpl(const std::shared_ptr<ContextContent> &context, const int *coefficients);
    SecretKeyImpl(const std::shared_ptr<ContextContent> &context, std::istream &stream);
    SecretKeyImpl(const std::shared_ptr<ContextContent> &context, const std::string &path);

    SecretKeyImpl(const SecretKeyImpl &) = default;
    SecretKeyImpl(SecretKeyImpl &&) noexcept = default;
    // Field by field in field order, from copies made first: a failed copy
    // leaves this key unchanged.
    SecretKeyImpl &operator=(const SecretKeyImpl &other);
    SecretKeyImpl &operator=(SecretKeyImpl &&) noexcept = default;

    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void saveSeedOnly(const std::string &path) const;
    void saveSeedOnly(std::ostream &stream) const;

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    Polynomial &getSx(std::uint64_t i) { return sx_.getPoly(i); }
    const Polynomial &getSx(std::uint64_t i) const { return sx_.getPoly(i); }
    std::uint64_t *getSxData(std::uint64_t i, std::uint64_t j) const;
    PolynomialVector &getSxVec() { return sx_; }
    const PolynomialVector &getSxVec() const { return sx_; }
    int *getCoefficients() const;
    Device getDevice() const { return sx_.getDevice(); }
    void to(const Device &device) { sx_.to(device); }

private:
    friend class detail::CerealAdaptor<const SecretKeyImpl>;
    friend class detail::CerealAdaptor<SecretKeyImpl>;

    // A key to be filled by a load: the context, nothing else.
    struct ShellTag {};
    SecretKeyImpl(const std::shared_ptr<ContextContent> &context, ShellTag);

    // The number of coefficients and of polynomials of a key of this context.
    std::uint64_t coefficientCount() const;
    std::uint64_t polynomialCount() const;
    // The shape rule of sampled (and reloaded) keys: RLWE needs rank 1.
    void checkSampledShape() const;
    // Samples the coefficients from the calling thread's generator as it
    // stands and builds sx from them.
    void sampleFromGenerator();
    // Builds sx from the coefficients.
    void convertCoefficients();
    // Regenerates a seed-only key from seed_ with the generator put back
    // afterwards, whatever happens.
    void regenerateFromSeed();
    void loadFullForm(cereal::PortableBinaryInputArchive &archive);
    void loadSeedOnlyForm(cereal::PortableBinaryInputArchive &archive);
    void saveForm(std::ostream &stream, std::uint32_t option) const;
    void saveForm(const std::string &path, std::uint32_t option) const;

    std::shared_ptr<ContextContent> context_;
    bool is_random_ = false;
    std::string seed_;
    DeviceSpecificArray<int> coefficients_;
    PolynomialVector sx_;
    EncryptionType enc_type_ = ET;
};

extern template class SecretKeyImpl<EncryptionType::MLWE>;
extern template class SecretKeyImpl<EncryptionType::RLWE>;
extern template class SecretKeyImpl<EncryptionType::MSRLWE>;

} // namespace Quelt
