#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/Polynomial.hpp"

#include <cstdint>
#include <memory>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt {

class ContextContent;

// The data of an EncryptionKey; see include/Quelt/EncryptionKey.hpp for the
// behaviour of each member.
class EncryptionKeyImpl {
public:
    static constexpr const char *kDifferentDevices =
        "Polynomials in a ciphertext are in different devices";
    static constexpr const char *kLoadShape =
        "[load EncryptionKey] A stored polynomial is not in the form of an encryption key";

    explicit EncryptionKeyImpl(const std::shared_ptr<ContextContent> &context);
    EncryptionKeyImpl(const std::shared_ptr<ContextContent> &context,
                      const SecretKeyBase<EncryptionType::RLWE> &secretKey);

    EncryptionKeyImpl(const EncryptionKeyImpl &) = default;
    EncryptionKeyImpl(EncryptionKeyImpl &&) noexcept = default;
    // Member by member from copies made first: a failed copy leaves this key
    // unchanged.
    EncryptionKeyImpl &operator=(const EncryptionKeyImpl &other);
    EncryptionKeyImpl &operator=(EncryptionKeyImpl &&) noexcept = default;

    Polynomial &getAx() { return ax_; }
    const Polynomial &getAx() const { return ax_; }
    Polynomial &getBx() { return bx_; }
    const Polynomial &getBx() const { return bx_; }

    void to(const Device &device);
    void allocate(const Device &device);
    const Device &getDevice() const;

    void save(cereal::PortableBinaryOutputArchive &archive) const;
    void load(cereal::PortableBinaryInputArchive &archive);
    void load(cereal::PortableBinaryInputArchive &archive,
              const std::shared_ptr<ContextContent> &context);

    // Throws kLoadShape unless `poly` has the form of an encryption key's
    // polynomial over `context`: NTT form, not mod-up, at the encryption
    // level (degree, chain and primes are the polynomial record's checks).
    static void checkFits(const Polynomial &poly, const std::shared_ptr<ContextContent> &context);

private:
    // Reads the record, checks it against `context` (and its hash when
    // `compareHash`), then installs it.
    void loadChecked(cereal::PortableBinaryInputArchive &archive,
                     const std::shared_ptr<ContextContent> &context, bool compareHash);

    Polynomial ax_;
    Polynomial bx_;
    std::uint64_t context_hash_;
    // In memory only: the context the key was made for.
    std::shared_ptr<ContextContent> context_;
};

} // namespace Quelt
