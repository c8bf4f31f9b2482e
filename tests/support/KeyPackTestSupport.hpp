#pragma once

// Keys of distinct contents for key pack tests, their stored forms and key
// directories.

#include "Quelt/EncryptionKey.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/FuseRotationKey.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "client/KeyPackImpl.hpp"
#include "context/Polynomial.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/KeyTestSupport.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt::test {

// Switching keys whose host polynomials hold residues of their own (see
// fillKey): a rotation key of index idx, a multiplication and a conjugation
// key.
inline std::shared_ptr<EvaluationKey> filledRotKey(const std::shared_ptr<ContextContent> &ctx,
                                                   std::uint64_t idx, std::uint64_t seed) {
    std::shared_ptr<EvaluationKey> key = makeEmptyRotKey(ctx, idx, 0);
    fillKey(*key, seed);
    return key;
}
inline std::shared_ptr<EvaluationKey> filledMultKey(const std::shared_ptr<ContextContent> &ctx,
                                                    std::uint64_t seed) {
    std::shared_ptr<EvaluationKey> key = makeEmptyMultKey(ctx);
    fillKey(*key, seed);
    return key;
}
inline std::shared_ptr<EvaluationKey> filledConjKey(const std::shared_ptr<ContextContent> &ctx,
                                                    std::uint64_t seed) {
    std::shared_ptr<EvaluationKey> key = makeEmptyConjKey(ctx);
    fillKey(*key, seed);
    return key;
}

// A generated encryption key (each call draws a new one).
inline std::shared_ptr<EncryptionKey> generatedEncKey(const std::shared_ptr<ContextContent> &ctx) {
    const SecretKeyBase<EncryptionType::RLWE> secret(ctx);
    return std::make_shared<EncryptionKey>(ctx, secret);
}

// A fused rotation key whose polynomials hold residues of their own.
inline std::shared_ptr<FuseRotationKey> filledFuseRotKey(const std::shared_ptr<ContextContent> &ctx,
                                                         std::uint64_t seed) {
    auto key = std::make_shared<FuseRotationKey>(ctx);
    for (std::uint64_t i = 0; i <= getNumSecret(ctx); ++i)
        Quelt::test::fillResidues(key->getPoly(kHostDevice, i), seed + i, getPrimeList(ctx));
    return key;
}

inline std::vector<std::uint64_t> fusedWords(const FuseRotationKey &key) {
    std::vector<std::uint64_t> words;
    for (std::uint64_t i = 0; i <= getNumSecret(key.getContext()); ++i) {
        const auto part = Quelt::test::wordsOf(key.getPoly(kHostDevice, i));
        words.insert(words.end(), part.begin(), part.end());
    }
    return words;
}

// The standalone stored form of a key (byte-order byte and record).
template <typename Key>
std::string storedForm(const Key &key) {
    std::ostringstream out;
    Serialize::save(out, key);
    return out.str();
}

// The stored form with the u64 hash that follows the u32 object code
// replaced (the key form of the verifier header: encryption and evaluation
// keys).
inline std::string withHash(std::string bytes, std::uint64_t hash) {
    return bytes.replace(5, 8, Quelt::test::bytesOf(hash));
}

// The store behind a pack, for the key generator's stores.
inline KeyPackImpl &implOf(const KeyPack &pack) { return *detail::KeyPackAccess::impl(pack); }

// A key directory: a fresh directory with its "PK" subdirectory.
class KeyDirectory : public Quelt::test::TempDirectory {
public:
    explicit KeyDirectory(const std::string &name) : TempDirectory(name) {
        std::filesystem::create_directory(path() / "PK");
    }
    std::string dir() const { return path().string(); }
    // The path of a file of the key subdirectory.
    std::string keyFile(const std::string &name) const { return (path() / "PK" / name).string(); }
    void writeKeyFile(const std::string &name, const std::string &bytes) const {
        std::ofstream(keyFile(name), std::ios::binary) << bytes;
    }
    std::string readKeyFile(const std::string &name) const {
        return Quelt::test::TempFile::contentsOf(keyFile(name));
    }
    // The names in the key subdirectory, sorted.
    std::vector<std::string> keyFiles() const {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(path() / "PK"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace Quelt::test
