#pragma once

// The one binary format of every stored object: cereal's portable binary
// archive with its default options.
//
// Conventions of a record (values back to back, no padding, no tags):
//   - the archive writes one byte-order byte first (1 little-endian writer,
//     0 big-endian); a reader whose own order differs reverses every number
//     wider than one byte after reading it (each element of a vector of
//     numbers separately; strings and raw blocks such as seeds never);
//   - u8/bool: 1 byte; u32/i32/enumerations: 4 bytes; u64/i64: 8 bytes;
//   - vector of numbers: u64 count, then the elements as one block;
//   - vector of objects: u64 count, then each element's record;
//   - std::string: u64 byte length, then the bytes;
//   - std::optional: a "nullopt" byte (1 empty, 0 present), then the value;
//   - std::shared_ptr: u32 id (0 null; n | 0x80000000 at the first
//     occurrence, followed by the object; plain n when repeated), numbered
//     from 1 afresh in every archive.
// cereal's own exceptions pass through the stream forms: "Failed to write N
// bytes to output stream! Wrote M", "Failed to read N bytes from input
// stream! Read M"; a file write reports a short write as "Cannot write file
// <path>".

#include "Quelt/Exception.hpp"

#include <cereal/archives/portable_binary.hpp>
#include <cereal/types/memory.hpp>
#include <cereal/types/optional.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/vector.hpp>

#include <cstdint>
#include <fstream>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

namespace Quelt {

namespace Serialize {

inline constexpr const char *kCannotOpenFile = "Cannot open file ";
inline constexpr const char *kCannotWriteFile = "Cannot write file ";

namespace detail {

// Who may read a written file: the mode a plain create gives (0666 under the
// process's umask), or the owner alone (0600 whatever the umask), for secret
// keys.
enum class FileAccess { Default, OwnerOnly };

// Writes a file so that readers only ever see the previous contents or the
// complete new ones: `write` fills a new temporary file in the directory of
// `path`, which is flushed, synced to the disk, closed and checked, then
// renamed onto `path`. The temporary is named ".quelt-<pid>-<n>.tmp"; it
// begins with a dot, so it never matches a scan for key file names, and it is
// removed on every failure. Temporaries that writers killed before their
// rename left in the directory (their process no longer exists and the file
// was not written for a minute) are removed at the next save into it. An existing file at `path` is left untouched by a
// failed save, and replaced by a successful one: the new file takes the place
// of whatever name was there, whatever that file's own mode (a read-only file
// is replaced) and with the mode of `access`. A symbolic link at `path` that
// names an existing file stays and that file is replaced; a dangling link is
// itself replaced by the new file. A device or a pipe (/dev/null, a FIFO) is written to directly. Throws
// RuntimeException "Cannot open file <path>" when the temporary cannot be
// created or cannot replace `path` (a missing directory, a directory at
// `path`), "Cannot write file <path>" when the data cannot be written,
// flushed, synced or closed (a full disk), and lets through whatever else
// `write` throws.
void saveToFile(const std::string &path, const std::function<void(std::ostream &)> &write,
                FileAccess access = FileAccess::Default);

// Throws RuntimeException "Cannot open file <path>" unless `path` can be read
// as a file: a directory (or anything that is neither a regular file nor a
// device or pipe) is refused.
void requireReadableFile(const std::string &path);

// A library object writes itself through a member serializeInternal(archive)
// or save(archive) (and reads through load(archive)); anything else goes to
// cereal, which knows numbers, enumerations, the standard containers and every
// type with a cereal save or load function.
template <typename T>
void saveOne(cereal::PortableBinaryOutputArchive &archive, const T &object) {
    if constexpr (requires { object.serializeInternal(archive); })
        object.serializeInternal(archive);
    else if constexpr (requires { object.save(archive); })
        object.save(archive);
    else
        archive(object);
}

template <typename T>
void loadOne(cereal::PortableBinaryInputArchive &archive, T &object) {
    if constexpr (requires { object.load(archive); })
        object.load(archive);
    else
        archive(object);
}

} // namespace detail

// One archive on `stream` (the byte-order byte) followed by the records of
// the objects in order. The stream is neither flushed nor closed.
template <typename... Args>
void save(std::ostream &stream, const Args &...objects) {
    cereal::PortableBinaryOutputArchive archive(stream);
    (detail::saveOne(archive, objects), ...);
}

// The stream form on `path`, replacing any file there only once the whole
// record is written (detail::saveToFile). Throws RuntimeException "Cannot open
// file <path>" when the file cannot be created, "Cannot write file <path>"
// when it cannot be completed; either way a previous file stays as it was.
template <typename... Args>
void save(const std::string &path, const Args &...objects) {
    detail::saveToFile(path, [&](std::ostream &stream) { save(stream, objects...); });
}

// The same for secret material: the file is readable and writable by its
// owner only (mode 0600, whatever the umask), also when it replaces a file of
// another mode.
template <typename... Args>
void savePrivate(const std::string &path, const Args &...objects) {
    detail::saveToFile(
        path, [&](std::ostream &stream) { save(stream, objects...); },
        detail::FileAccess::OwnerOnly);
}

// Reads the byte-order byte and then the record of each object, in order, into
// objects that already exist (a ciphertext, for instance, already carries the
// context its record is checked against). Reads exactly the records' bytes.
template <typename... Args>
void load(std::istream &stream, Args &...objects) {
    cereal::PortableBinaryInputArchive archive(stream);
    (detail::loadOne(archive, objects), ...);
}

// The stream form on `path`. Throws RuntimeException "Cannot open file
// <path>" when the file cannot be opened for reading or is a directory.
template <typename... Args>
void load(const std::string &path, Args &...objects) {
    detail::requireReadableFile(path);
    std::ifstream file(path, std::ios::binary | std::ios::in);
    if (!file.is_open())
        throw RuntimeException(kCannotOpenFile + path);
    load(static_cast<std::istream &>(file), objects...);
}

} // namespace Serialize

// What a verifier header says the stored object is.
enum class ObjectCode : std::uint32_t {
    ENCRYPTION_KEY = 0,
    EVALUATION_KEY = 1,
    SECRET_KEY = 2,
    CIPHERTEXT = 3,
    PLAINTEXT = 4,
    FUSE_ROTATION_KEY = 5,
};

// The header that binds a stored object to one context. Two forms:
//   - context-checked (ciphertexts, plaintexts, full secret keys, fused
//     rotation keys): u64 identity hash of the object's context, u32 code;
//     on load both must equal the receiving object's;
//   - key form (encryption and evaluation keys): u32 code, then the u64 hash
//     the key carries; on load only the code is compared and the hash is
//     handed back as read.
// Either load reads the whole header before comparing and throws
// RuntimeException kValidationFailed on a mismatch; the caller has changed
// nothing by then.
class Verifier {
public:
    static constexpr const char *kValidationFailed =
        "[Verifier::load] Validation failed during deserializing objects.";

    static void save(cereal::PortableBinaryOutputArchive &archive, std::uint64_t contextHash,
                     ObjectCode code);
    static void load(cereal::PortableBinaryInputArchive &archive, std::uint64_t expectedHash,
                     ObjectCode expectedCode);

    static void saveKeyForm(cereal::PortableBinaryOutputArchive &archive, ObjectCode code,
                            std::uint64_t keyHash);
    // Returns the hash stored after the code.
    static std::uint64_t loadKeyForm(cereal::PortableBinaryInputArchive &archive,
                                     ObjectCode expectedCode);
};

namespace Serialize {

// A std::optional<u32> field: a flag byte (0: a value follows, 1: none), then
// the value when there is one.
void saveOptional(cereal::PortableBinaryOutputArchive &archive,
                  const std::optional<std::uint32_t> &value);
// Reads such a field. Only the lowest bit of the flag byte counts (an odd
// byte reads as no value, and then nothing more is read).
std::optional<std::uint32_t> loadOptional(cereal::PortableBinaryInputArchive &archive);

// Reads a string field (u64 length, then the bytes) whose length must be
// `length`. The stored length is compared before any byte is read or any
// memory is reserved for it; a different one throws RuntimeException
// `message`.
std::string loadStringOfLength(cereal::PortableBinaryInputArchive &archive, std::uint64_t length,
                               const char *message);

} // namespace Serialize

} // namespace Quelt
