// How key files are written: secret keys private whatever the umask, other
// files with the mode a plain create gives, temporaries of killed writers
// cleared away, a full disk reported in the library's words, and what a save
// does to read-only files and symbolic links.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "Quelt/SecretKey.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/LweTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Quelt;
using test::expectThrowsMessage;

namespace {

// Sets the process's umask for a scope.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }
    ScopedUmask(const ScopedUmask &) = delete;
    ScopedUmask &operator=(const ScopedUmask &) = delete;

private:
    mode_t previous_;
};

mode_t modeOf(const std::string &path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// A file of `mode` at `path` (whatever the umask), to be written over.
void existingFile(const std::string &path, mode_t mode) {
    std::ofstream(path, std::ios::binary) << "old contents";
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// The id of a process that has ended (a child that exited and was reaped).
pid_t deadProcessId() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

} // namespace

// Every secret-key writer gives a file for its owner only, whatever the
// umask and whatever the mode of the file it replaces; the key reads back.
TEST(KeyFileWriteTest, SecretKeysArePrivateWhateverTheUmask) {
    const test::TempDirectory dir("secret_modes");
    const auto ring = test::degree64FourPrimes();
    const auto multi = test::multiSecretContext();
    const SecretKeyBase<EncryptionType::RLWE> rlwe(ring);
    const SecretKeyBase<EncryptionType::MLWE> mlwe(ring);
    const SecretKeyBase<EncryptionType::MSRLWE> msrlwe(multi);
    const LWE::SecretKey lwe(test::lweContext(LWE::ParameterPreset::SD3));
    struct Writer {
        const char *name;
        std::function<void(const std::string &)> save;
        std::function<void(const std::string &)> reload;
    };
    const std::vector<Writer> writers = {
        {"RLWE full", [&](const std::string &p) { rlwe.save(p); },
         [&](const std::string &p) { SecretKeyBase<EncryptionType::RLWE>(ring, p); }},
        {"RLWE seed only", [&](const std::string &p) { rlwe.saveSeedOnly(p); },
         [&](const std::string &p) { SecretKeyBase<EncryptionType::RLWE>(ring, p); }},
        {"MLWE full", [&](const std::string &p) { mlwe.save(p); },
         [&](const std::string &p) { SecretKeyBase<EncryptionType::MLWE>(ring, p); }},
        {"MLWE seed only", [&](const std::string &p) { mlwe.saveSeedOnly(p); },
         [&](const std::string &p) { SecretKeyBase<EncryptionType::MLWE>(ring, p); }},
        {"MSRLWE full", [&](const std::string &p) { msrlwe.save(p); },
         [&](const std::string &p) { SecretKeyBase<EncryptionType::MSRLWE>(multi, p); }},
        {"MSRLWE seed only", [&](const std::string &p) { msrlwe.saveSeedOnly(p); },
         [&](const std::string &p) { SecretKeyBase<EncryptionType::MSRLWE>(multi, p); }},
        {"LWE full", [&](const std::string &p) { lwe.save(p); },
         [&](const std::string &p) { LWE::SecretKey(lwe.getContext(), p); }},
        {"LWE seed only", [&](const std::string &p) { lwe.saveSeedOnly(p); },
         [&](const std::string &p) { LWE::SecretKey(lwe.getContext(), p); }},
    };
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        const ScopedUmask scoped(mask);
        for (const Writer &writer : writers) {
            SCOPED_TRACE(std::string(writer.name) + ", umask " + std::to_string(mask));
            const std::string fresh = dir.file("fresh.bin");
            writer.save(fresh);
            EXPECT_EQ(modeOf(fresh), mode_t{0600});
            const std::string over = dir.file("over.bin");
            existingFile(over, 0644);
            writer.save(over);
            EXPECT_EQ(modeOf(over), mode_t{0600});
            writer.reload(over);
            std::filesystem::remove(fresh);
            std::filesystem::remove(over);
        }
    }
}

// Files that hold no secret keep the mode a plain create gives.
TEST(KeyFileWriteTest, OtherFilesKeepTheModeOfAPlainCreate) {
    const test::TempDirectory dir("public_modes");
    const auto key = test::filledRotKey(test::degree64FourPrimes(), 1, 1);
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        const ScopedUmask scoped(mask);
        const std::string path = dir.file("RotKey1.bin");
        Serialize::save(path, *key);
        EXPECT_EQ(modeOf(path), mode_t{0666} & ~mask);
        std::filesystem::remove(path);
    }
}

// A killed writer leaves its temporary; the next save into the folder
// removes it when its process is gone, and keeps those of live processes and
// anything else.
TEST(KeyFileWriteTest, TemporariesOfKilledWritersAreRemovedAtTheNextSave) {
    const test::TempDirectory dir("stale_temporaries");
    const pid_t dead = deadProcessId();
    const std::string stale = ".quelt-" + std::to_string(dead) + "-7.tmp";
    const std::string live = ".quelt-" + std::to_string(::getppid()) + "-3.tmp";
    const std::string own = ".quelt-" + std::to_string(::getpid()) + "-99999.tmp";
    const std::vector<std::string> others = {".quelt-x-1.tmp",
                                             ".quelt-" + std::to_string(dead) + "-1.bak",
                                             "quelt-" + std::to_string(dead) + "-1.tmp"};
    // A dead writer's file written just now may still be one a writer on
    // another machine is filling: it stays until it is a minute old.
    const std::string recent = ".quelt-" + std::to_string(dead) + "-8.tmp";
    for (const std::string &name : std::vector<std::string>{stale, live, own, recent}) {
        std::ofstream(dir.file(name)) << "left behind";
        if (name != recent)
            std::filesystem::last_write_time(dir.file(name),
                                             std::filesystem::file_time_type::clock::now() -
                                                 std::chrono::minutes(2));
    }
    for (const std::string &name : others)
        std::ofstream(dir.file(name)) << "not a temporary";
    Serialize::save(dir.file("EncKey.bin"), std::uint32_t{1});
    std::vector<std::string> expected = {"EncKey.bin", live, own, recent};
    expected.insert(expected.end(), others.begin(), others.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.entries(), expected);
}

// A full disk is reported as the header says, for a record that fits the
// stream's buffer and for one that does not; the error names the path.
TEST(KeyFileWriteTest, AFullDiskIsCannotWriteFile) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const auto key = test::filledRotKey(test::degree64FourPrimes(), 1, 1);
    expectThrowsMessage([] { Serialize::save("/dev/full", std::uint32_t{1}); },
                        "Cannot write file /dev/full");
    expectThrowsMessage([&] { Serialize::save("/dev/full", *key); }, "Cannot write file /dev/full");
    const SecretKeyBase<EncryptionType::RLWE> secret(test::degree64FourPrimes());
    expectThrowsMessage([&] { secret.save("/dev/full"); }, "Cannot write file /dev/full");
}

// Save has rename semantics: a read-only file is replaced, a symbolic link
// to a file keeps pointing to the (new) file, and a dangling link is itself
// replaced by the new file.
TEST(KeyFileWriteTest, ReadOnlyFilesAndLinksAreReplacedByRename) {
    const test::TempDirectory dir("rename_semantics");
    const std::string readOnly = dir.file("readonly.bin");
    existingFile(readOnly, 0444);
    Serialize::save(readOnly, std::uint32_t{5});
    EXPECT_EQ(test::TempFile::contentsOf(readOnly), "\x01" + test::bytesOf(std::uint32_t{5}));

    const std::string dangling = dir.file("dangling.bin");
    std::filesystem::create_symlink(dir.file("nowhere/target.bin"), dangling);
    Serialize::save(dangling, std::uint32_t{6});
    EXPECT_FALSE(std::filesystem::is_symlink(dangling));
    EXPECT_EQ(test::TempFile::contentsOf(dangling), "\x01" + test::bytesOf(std::uint32_t{6}));
}
