// The key directory of a key pack: its checks, the probes of its files, the
// writing of a pack into it and the scans of its key subdirectory.

#include "Quelt/Exception.hpp"
#include "client/KeyFileNames.hpp"
#include "client/KeyPackImpl.hpp"
#include "keys/Serialize.hpp"

#include <filesystem>
#include <fstream>
// GCC 12 reports std::function members of the regex automaton as maybe
// uninitialised when it inlines them under the sanitizers; the standard
// library's code is not at fault.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <stdexcept>
#include <utility>

namespace Quelt {

namespace {

[[noreturn]] void throwNotAKeySubdirectory(const std::string &dir) {
    throw RuntimeException("[Load Rotation Key] \"" + dir + "/PK\" is not a directory");
}

// The key subdirectory dir + "/PK/", which must be a directory.
std::string requireKeySubdirectory(const std::string &dir) {
    const std::string subdirectory = dir + "/PK/";
    if (!std::filesystem::is_directory(std::filesystem::status(subdirectory)))
        throwNotAKeySubdirectory(dir);
    return subdirectory;
}

// The numbers of the capture groups of every entry of `directory` whose name
// matches `pattern` whole, in directory order. An entry whose group is empty
// or beyond the range of long is skipped.
std::vector<std::vector<std::uint64_t>> scanNumbers(const std::string &directory,
                                                    const std::regex &pattern) {
    std::vector<std::vector<std::uint64_t>> found;
    for (const auto &entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        std::smatch match;
        if (!std::regex_match(name, match, pattern))
            continue;
        try {
            std::vector<std::uint64_t> numbers;
            for (std::size_t group = 1; group < match.size(); ++group)
                numbers.push_back(static_cast<std::uint64_t>(std::stol(match[group].str())));
            found.push_back(std::move(numbers));
        } catch (const std::invalid_argument &) {
        } catch (const std::out_of_range &) {
        }
    }
    return found;
}

// Full rotation-key files: "RotKey<idx>.bin".
const std::regex &rotKeyFilePattern() {
    static const std::regex pattern("RotKey(\\d*)\\.bin");
    return pattern;
}

// List-form files: "RotKey<idx>_<dnum>" and any character before "bin".
const std::regex &rotKeyListFilePattern() {
    static const std::regex pattern("RotKey(\\d*)_(\\d*).bin");
    return pattern;
}

} // namespace

void KeyPackImpl::setKeyDirPath(const std::string &path) {
    if (!std::filesystem::is_directory(std::filesystem::status(path)))
        throw RuntimeException(kCannotFindPath + path);
    const std::string subdirectory = path + "/PK";
    if (!std::filesystem::is_directory(std::filesystem::status(subdirectory)))
        std::filesystem::create_directory(subdirectory);
    key_dir_path_ = path;
}

std::string KeyPackImpl::keyFilePath(const std::string &name) const {
    return key_dir_path_ + "/PK/" + name;
}

bool KeyPackImpl::isKeyFileAvailable(const std::string &name) const {
    if (key_dir_path_.empty())
        return false;
    std::ifstream file(keyFilePath(name), std::ios::binary | std::ios::in);
    return file.is_open();
}

bool KeyPackImpl::isEncKeyFileAvailable() const { return isKeyFileAvailable(kEncKeyFile); }
bool KeyPackImpl::isMultKeyFileAvailable() const { return isKeyFileAvailable(kMultKeyFile); }
bool KeyPackImpl::isConjKeyFileAvailable() const { return isKeyFileAvailable(kConjKeyFile); }
bool KeyPackImpl::isSparseSecretEncapsulationKeyFileAvailable() const {
    return isKeyFileAvailable(kSparseSecretEncapsulationKeyFile);
}
bool KeyPackImpl::isRotKeyFileAvailable(std::uint64_t idx) const {
    return isKeyFileAvailable(rotKeyFileName(idx));
}
bool KeyPackImpl::isFuseRotKeyFileAvailable(std::uint64_t idx) const {
    return isKeyFileAvailable(fuseRotKeyFileName(idx));
}

void KeyPackImpl::save(const std::string &path) {
    setKeyDirPath(path);
    // Each writer replaces its file whole; a writer that fails stops the save
    // with the files before it written.
    if (const auto key = enc_key_.get())
        key->save(keyFilePath(kEncKeyFile));
    if (const auto key = mult_key_.get())
        Serialize::save(keyFilePath(kMultKeyFile), *key);
    if (const auto key = conj_key_.get())
        Serialize::save(keyFilePath(kConjKeyFile), *key);
    for (const auto &[idx, key] : rot_keys_.entries())
        Serialize::save(keyFilePath(rotKeyFileName(idx)), *key);
    if (const auto key = sse_key_.get())
        Serialize::save(keyFilePath(kSparseSecretEncapsulationKeyFile), *key);
    for (const auto &[idx, key] : fuse_rot_keys_.entries())
        Serialize::save(keyFilePath(fuseRotKeyFileName(idx)), *key);
}

void KeyPackImpl::saveList(const std::string &path) {
    setKeyDirPath(path);
    for (const auto &[idx, key] : rot_keys_.entries())
        Serialize::save(keyFilePath(rotKeyListFileName(idx, key->getDnum())), *key);
}

std::vector<std::uint64_t> KeyPackImpl::getRotKeyList(bool fromHeld) const {
    std::vector<std::uint64_t> indices;
    if (fromHeld) {
        rot_keys_.forEach([&](std::uint64_t idx, const std::shared_ptr<EvaluationKey> &) {
            indices.push_back(idx);
        });
        return indices;
    }
    // Without a key directory there is nothing to scan: the root's "/PK/",
    // which the empty path would name, is never taken for it.
    if (!isKeyDirPathSet())
        throwNotAKeySubdirectory(key_dir_path_);
    for (const auto &numbers :
         scanNumbers(requireKeySubdirectory(key_dir_path_), rotKeyFilePattern()))
        indices.push_back(numbers[0]);
    return indices;
}

void KeyPackImpl::loadMinRotKey(const std::string &path) const {
    const auto listed = scanNumbers(requireKeySubdirectory(path), rotKeyListFilePattern());
    // Every listed key must be readable from the pack's own key directory
    // before any is loaded.
    for (const auto &numbers : listed) {
        if (!isKeyDirPathSet())
            throw RuntimeException(kNoKeyDirectory);
        if (!isRotKeyFileAvailable(numbers[0]))
            throw RuntimeException(kMissingRotKeyFile + std::to_string(numbers[0]));
    }
    for (const auto &numbers : listed)
        maybeLoadRotKey(numbers[0], numbers[1]);
}

} // namespace Quelt
