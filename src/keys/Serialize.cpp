#include "keys/Serialize.hpp"

namespace Quelt {

void Verifier::save(cereal::PortableBinaryOutputArchive &archive, std::uint64_t contextHash,
                    ObjectCode code) {
    archive(contextHash, static_cast<std::uint32_t>(code));
}

void Verifier::load(cereal::PortableBinaryInputArchive &archive, std::uint64_t expectedHash,
                    ObjectCode expectedCode) {
    std::uint64_t hash = 0;
    std::uint32_t code = 0;
    archive(hash, code);
    if (hash != expectedHash || code != static_cast<std::uint32_t>(expectedCode))
        throw RuntimeException(kValidationFailed);
}

void Verifier::saveKeyForm(cereal::PortableBinaryOutputArchive &archive, ObjectCode code,
                           std::uint64_t keyHash) {
    archive(static_cast<std::uint32_t>(code), keyHash);
}

std::uint64_t Verifier::loadKeyForm(cereal::PortableBinaryInputArchive &archive,
                                    ObjectCode expectedCode) {
    std::uint32_t code = 0;
    std::uint64_t hash = 0;
    archive(code, hash);
    if (code != static_cast<std::uint32_t>(expectedCode))
        throw RuntimeException(kValidationFailed);
    return hash;
}

} // namespace Quelt
