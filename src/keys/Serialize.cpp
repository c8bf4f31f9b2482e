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

void Serialize::saveOptional(cereal::PortableBinaryOutputArchive &archive,
                             const std::optional<std::uint32_t> &value) {
    archive(static_cast<std::uint8_t>(value ? 0 : 1));
    if (value)
        archive(*value);
}

std::optional<std::uint32_t> Serialize::loadOptional(cereal::PortableBinaryInputArchive &archive) {
    std::uint8_t absent = 0;
    archive(absent);
    if (absent != 0)
        return std::nullopt;
    std::uint32_t value = 0;
    archive(value);
    return value;
}

std::string Serialize::loadStringOfLength(cereal::PortableBinaryInputArchive &archive,
                                          std::uint64_t length, const char *message) {
    std::uint64_t stored = 0;
    archive(stored);
    if (stored != length)
        throw RuntimeException(message);
    std::string bytes(length, '\0');
    if (length != 0)
        archive(cereal::binary_data(bytes.data(), length));
    return bytes;
}

} // namespace Quelt
