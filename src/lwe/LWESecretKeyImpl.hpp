#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "context/LevelledElement.hpp"

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

// The data of an LWE::SecretKey; see include/Quelt/LWE/SecretKey.hpp for the
// behaviour of each member.
class SecretKeyImpl {
public:
    static constexpr const char *kLoadSxLevel =
        "[load SecretKey] The stored sx is not at the top level";

    explicit SecretKeyImpl(const std::shared_ptr<ContextContent> &context);
    SecretKeyImpl(const std::shared_ptr<ContextContent> &context, const int *coefficients);
    SecretKeyImpl(const std::shared_ptr<ContextContent> &context, std::istream &stream);
    SecretKeyImpl(const std::shared_ptr<ContextContent> &context, const std::string &path);

    SecretKeyImpl(const SecretKeyImpl &) = default;
    SecretKeyImpl(SecretKeyImpl &&) noexcept = default;
    // Copies every field first, then installs them: a failed copy leaves this
    // key as it was.
    SecretKeyImpl &operator=(const SecretKeyImpl &other);
    SecretKeyImpl &operator=(SecretKeyImpl &&) noexcept = default;

    void save(const std::string &path) const;
    void save(std::ostream &stream) const;
    void saveSeedOnly(const std::string &path) const;
    void saveSeedOnly(std::ostream &stream) const;

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    LevelledVector &getSx() { return sx_; }
    const LevelledVector &getSx() const { return sx_; }
    int *getCoefficients() const;
    Device getDevice() const { return sx_.getDevice(); }
    void to(const Device &device) { sx_.to(device); }

    bool isRandom() const { return random_; }
    const std::string &getSeed() const { return seed_; }

    // The record inside an archive (after the byte-order byte): the option,
    // then the form it names. Saving with an option other than 1 or 2 is a
    // programming error of this class and is not checked.
    void saveRecord(cereal::PortableBinaryOutputArchive &archive, std::uint32_t option) const;
    void loadRecord(cereal::PortableBinaryInputArchive &archive);

private:
    // A key to be filled by a load: the context, an empty coefficient array
    // and a top-level sx.
    struct ShellTag {};
    SecretKeyImpl(const std::shared_ptr<ContextContent> &context, ShellTag);

    // Samples `dimension` coefficients of the context's Hamming weight, in
    // one block, from the calling thread's generator as it stands, and their
    // residues; installs both only when all succeeded.
    void sampleFromGenerator();
    void loadFullForm(cereal::PortableBinaryInputArchive &archive);
    void loadSeedOnlyForm(cereal::PortableBinaryInputArchive &archive);

    std::shared_ptr<ContextContent> context_;
    bool random_ = false;
    std::string seed_;
    DeviceSpecificArray<int> coefficients_;
    LevelledVector sx_;
};

} // namespace Quelt::LWE
