#include "keys/Serialize.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Quelt {

namespace {

constexpr const char *kTemporaryPrefix = ".quelt-";
constexpr const char *kTemporarySuffix = ".tmp";

// The process id of a temporary's name ".quelt-<pid>-<n>.tmp", or nothing
// for any other name.
std::optional<pid_t> writerOfTemporary(const std::string &name) {
    const std::string prefix = kTemporaryPrefix;
    const std::string suffix = kTemporarySuffix;
    if (name.size() <= prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    const std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const std::size_t dash = middle.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == middle.size() ||
        middle.find_first_not_of("0123456789-") != std::string::npos ||
        middle.find('-', dash + 1) != std::string::npos || dash > 9)
        return std::nullopt;
    const long pid = std::stol(middle.substr(0, dash));
    if (pid <= 0)
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

// A temporary untouched this long is not being written: a writer that is
// still at work (on another machine sharing the folder, whose process ids
// mean nothing here) keeps its file's time fresh.
constexpr std::chrono::seconds kStaleAfter{60};

// Removes the temporaries in `directory` whose writer process no longer
// exists (killed before its rename) and that were not written for a while. A
// temporary of a live process, of this process, or of a process that cannot
// be asked is left alone; so is anything that cannot be listed or removed.
void removeStaleTemporaries(const std::filesystem::path &directory) {
    std::error_code error;
    std::filesystem::directory_iterator it(directory.empty() ? "." : directory, error);
    if (error)
        return;
    const pid_t self = ::getpid();
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error)
            return;
        const std::optional<pid_t> writer = writerOfTemporary(it->path().filename().string());
        if (!writer || *writer == self)
            continue;
        if (::kill(*writer, 0) == 0 || errno != ESRCH)
            continue;
        std::error_code ignored;
        const auto written = std::filesystem::last_write_time(it->path(), ignored);
        if (ignored || std::filesystem::file_time_type::clock::now() - written < kStaleAfter)
            continue;
        if (std::filesystem::is_regular_file(it->symlink_status(ignored)))
            std::filesystem::remove(it->path(), ignored);
    }
}

// Creates a new empty file in the directory of `target` under a name no other
// writer uses (exclusive creation; the process id and a counter keep the
// attempts apart) and returns its path, or an empty path when the directory
// does not take one. The name starts with a dot and ends in ".tmp".
std::filesystem::path createTemporaryBeside(const std::filesystem::path &target,
                                            Serialize::detail::FileAccess access) {
    static std::atomic<std::uint64_t> counter{0};
    const std::string stem = kTemporaryPrefix + std::to_string(::getpid()) + "-";
    const bool ownerOnly = access == Serialize::detail::FileAccess::OwnerOnly;
    // A name can be taken only by a file a crashed process left behind; a
    // few more attempts step past such files.
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::filesystem::path candidate =
            target.parent_path() / (stem + std::to_string(counter.fetch_add(1)) + kTemporarySuffix);
        // Mode 0666 under the process's umask: the mode a plain create gives.
        // A secret is created 0600 and set to exactly that, as the umask may
        // take bits away but never adds them.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              ownerOnly ? 0600 : 0666);
        if (fd >= 0) {
            const bool moded = !ownerOnly || ::fchmod(fd, 0600) == 0;
            ::close(fd);
            if (moded)
                return candidate;
            std::error_code ignored;
            std::filesystem::remove(candidate, ignored);
            break;
        }
        if (errno != EEXIST)
            break;
    }
    return {};
}

// Forces the file's data to the disk, so that a power loss after the rename
// cannot leave an empty file. Returns false when the system refuses.
bool syncToDisk(const std::filesystem::path &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// Best effort: makes the rename itself durable.
void syncDirectory(const std::filesystem::path &directory) {
    const int fd =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Removes the file when it goes out of scope, unless released.
class RemoveUnlessKept {
public:
    explicit RemoveUnlessKept(std::filesystem::path path) : path_(std::move(path)) {}
    ~RemoveUnlessKept() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    RemoveUnlessKept(const RemoveUnlessKept &) = delete;
    RemoveUnlessKept &operator=(const RemoveUnlessKept &) = delete;
    void keep() { path_.clear(); }

private:
    std::filesystem::path path_;
};

// Writes `write`'s bytes to an opened stream, then flushes, closes and checks
// it.
void writeAndClose(std::ofstream &file, const std::string &path,
                   const std::function<void(std::ostream &)> &write) {
    if (!file.is_open())
        throw RuntimeException(Serialize::kCannotOpenFile + path);
    try {
        write(file);
    } catch (const cereal::Exception &) {
        // The archive reports a short write (a full disk) in its own words.
        throw RuntimeException(Serialize::kCannotWriteFile + path);
    }
    // Buffered bytes reach the file only here; a full disk shows now.
    file.flush();
    file.close();
    if (file.fail())
        throw RuntimeException(Serialize::kCannotWriteFile + path);
}

// The file that a write to `target` ends in: a symbolic link is followed, so
// that the link stays and the file it names is replaced.
std::filesystem::path finalTarget(const std::filesystem::path &target) {
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(target, error))) {
        std::filesystem::path resolved = std::filesystem::canonical(target, error);
        if (!error)
            return resolved;
    }
    return target;
}

} // namespace

void Serialize::detail::requireReadableFile(const std::string &path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status))
        throw RuntimeException(kCannotOpenFile + path);
}

void Serialize::detail::saveToFile(const std::string &path,
                                   const std::function<void(std::ostream &)> &write,
                                   FileAccess access) {
    const std::filesystem::path target = finalTarget(path);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(target, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
        !std::filesystem::is_directory(status)) {
        // A device or a pipe (/dev/null, a FIFO) takes the bytes as they
        // come; replacing it by a file would be wrong.
        std::ofstream file(target, std::ios::binary | std::ios::out);
        writeAndClose(file, path, write);
        return;
    }
    if (target.has_filename())
        removeStaleTemporaries(target.parent_path());
    const std::filesystem::path temporary =
        target.has_filename() ? createTemporaryBeside(target, access) : std::filesystem::path();
    if (temporary.empty())
        throw RuntimeException(kCannotOpenFile + path);
    RemoveUnlessKept cleanup(temporary);
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::out);
        writeAndClose(file, path, write);
    }
    if (!syncToDisk(temporary))
        throw RuntimeException(kCannotWriteFile + path);
    std::filesystem::rename(temporary, target, error);
    if (error)
        throw RuntimeException(kCannotOpenFile + path);
    cleanup.keep();
    syncDirectory(target.parent_path());
}

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
    if ((absent & 1) != 0)
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
