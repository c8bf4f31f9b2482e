#include "keys/SecretKeyRecord.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/DeviceArraySerialization.hpp"
#include "keys/Serialize.hpp"

namespace Quelt {

std::uint32_t SecretKeyRecord::checkedForm(const std::optional<std::uint32_t> &option) {
    if (option != kFullForm && option != kSeedOnlyForm)
        throw RuntimeException(kLoadInvalidOption);
    return *option;
}

void SecretKeyRecord::saveRandomFlagAndSeed(cereal::PortableBinaryOutputArchive &archive,
                                            bool random, const std::string &seed) {
    archive(static_cast<std::uint8_t>(random ? 1 : 0), seed);
}

std::pair<bool, std::string>
SecretKeyRecord::loadRandomFlagAndSeed(cereal::PortableBinaryInputArchive &archive) {
    std::uint8_t random = 0;
    archive(random);
    if (random > 1)
        throw RuntimeException(kLoadRandomFlag);
    std::string seed = Serialize::loadStringOfLength(
        archive, random != 0 ? UniformRandomBitGenerator::kStateBytes : 0, kLoadSeedLength);
    return {random != 0, std::move(seed)};
}

DeviceSpecificArray<int>
SecretKeyRecord::loadCoefficients(cereal::PortableBinaryInputArchive &archive,
                                  std::uint64_t expected) {
    std::uint64_t count = 0;
    archive(count);
    if (count != expected)
        throw RuntimeException(kLoadCoefficientCount);
    DeviceSpecificArray<int> coefficients;
    loadElements(archive, coefficients, count);
    return coefficients;
}

void SecretKeyRecord::saveSeedOnlyBody(cereal::PortableBinaryOutputArchive &archive,
                                       const std::string &seed) {
    archive(static_cast<std::uint32_t>(ObjectCode::SECRET_KEY), seed);
}

void SecretKeyRecord::loadSeedOnlyCode(cereal::PortableBinaryInputArchive &archive) {
    std::uint32_t code = 0;
    archive(code);
    if (code != static_cast<std::uint32_t>(ObjectCode::SECRET_KEY))
        throw RuntimeException(Verifier::kValidationFailed);
}

std::string SecretKeyRecord::loadSeedOnlyState(cereal::PortableBinaryInputArchive &archive) {
    return Serialize::loadStringOfLength(archive, UniformRandomBitGenerator::kStateBytes,
                                         kLoadStateLength);
}

} // namespace Quelt
