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
#include <charconv>
#include <functional>
#include <optional>
#include <system_error>
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

// A number as the library writes it in a file name: decimal digits without
// sign, fill or leading zero (std::to_string's form), within 64 bits. Anything
// else gives nothing; a number never wraps.
std::optional<std::uint64_t> parseDecimal(const std::string &text) {
    if (text.empty() || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    std::uint64_t value = 0;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// The numbers of the capture groups of every regular file of `directory`
// whose name matches `pattern` whole, in directory order. An entry that is
// not a regular file (a directory, a pipe), or whose numbers are not in the
// library's form or do not pass `accept`, is skipped.
std::vector<std::vector<std::uint64_t>>
scanNumbers(const std::string &directory, const std::regex &pattern,
            const std::function<bool(const std::vector<std::uint64_t> &)> &accept) {
    std::vector<std::vector<std::uint64_t>> found;
    for (const auto &entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        std::smatch match;
        if (!std::regex_match(name, match, pattern))
            continue;
        std::error_code error;
        if (!std::filesystem::is_regular_file(entry.status(error)))
            continue;
        std::vector<std::uint64_t> numbers;
        for (std::size_t group = 1; group < match.size(); ++group) {
            const std::optional<std::uint64_t> number = parseDecimal(match[group].str());
            if (!number)
                break;
            numbers.push_back(*number);
        }
        if (numbers.size() + 1 == match.size() && accept(numbers))
            found.push_back(std::move(numbers));
    }
    return found;
}

// Full rotation-key files: "RotKey<idx>.bin".
const std::regex &rotKeyFilePattern() {
    static const std::regex pattern("RotKey(\\d+)\\.bin");
    return pattern;
}

// List-form files: "RotKey<idx>_<dnum>.bin".
const std::regex &rotKeyListFilePattern() {
    static const std::regex pattern("RotKey(\\d+)_(\\d+)\\.bin");
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
    // Other key files: routes are found afresh.
    noteRotationKeySetChanged();
}

std::string KeyPackImpl::keyFilePath(const std::string &name) const {
    return key_dir_path_ + "/PK/" + name;
}

bool KeyPackImpl::isKeyFileAvailable(const std::string &name) const {
    if (key_dir_path_.empty())
        return false;
    // Only a regular file is a key file: a directory or a pipe of that name
    // would fail or block the read.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::status(keyFilePath(name), error)))
        return false;
    std::ifstream file(keyFilePath(name), std::ios::binary | std::ios::in);
    return file.is_open();
}

bool KeyPackImpl::isKeyFileLoadable(const std::string &name) const {
    if (isKeyFileAvailable(name))
        return true;
    if (key_dir_path_.empty())
        return false;
    std::error_code error;
    const auto status = std::filesystem::status(keyFilePath(name), error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        throw RuntimeException(kNotRegularKeyFile + keyFilePath(name));
    return false;
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
    // Only indices the pack can hold a key for count: a stray file of an
    // index at or beyond the slot count is not a rotation step.
    for (const auto &numbers :
         scanNumbers(requireKeySubdirectory(key_dir_path_), rotKeyFilePattern(),
                     [&](const std::vector<std::uint64_t> &n) { return n[0] < num_slots_; }))
        indices.push_back(numbers[0]);
    return indices;
}

void KeyPackImpl::loadMinRotKey(const std::string &path) const {
    // saveList names keys by their index in the pack, below the slot count;
    // any other name is skipped as the other scans skip it.
    const auto listed =
        scanNumbers(requireKeySubdirectory(path), rotKeyListFilePattern(),
                    [&](const std::vector<std::uint64_t> &n) { return n[0] < num_slots_; });
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
