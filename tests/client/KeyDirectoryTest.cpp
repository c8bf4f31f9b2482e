#include "Quelt/KeyPack.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "client/KeyPackImpl.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace Quelt;
using test::expectThrowsMessage;
using test::filledConjKey;
using test::filledMultKey;
using test::filledRotKey;
using test::implOf;
using test::KeyDirectory;
using test::masksOf;
using test::storedForm;

namespace {

std::shared_ptr<ContextContent> ctx() { return Quelt::test::degree64FourPrimes(); }
std::shared_ptr<ContextContent> fiveDigits() { return Quelt::test::fiveDigitContext(); }

std::string notADirectory(const std::string &dir) {
    return "[Load Rotation Key] \"" + dir + "/PK\" is not a directory";
}

std::vector<std::uint64_t> sorted(std::vector<std::uint64_t> values) {
    std::sort(values.begin(), values.end());
    return values;
}

std::vector<std::string> sorted(std::vector<std::string> values) {
    std::sort(values.begin(), values.end());
    return values;
}

} // namespace

TEST(KeyDirectoryTest, SetKeyDirPathCreatesTheKeySubdirectoryOnly) {
    Quelt::test::TempDirectory dir("keydir_set");
    // The constructor creates nothing and refuses a directory without "PK".
    expectThrowsMessage(
        [&] {
            KeyPack{ctx(), dir.path().string()};
        },
        "Cannot find path " + dir.path().string());
    EXPECT_TRUE(dir.entries().empty());

    KeyPack pack(ctx());
    pack.setKeyDirPath(dir.path().string());
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"PK"});
    EXPECT_EQ(implOf(pack).getKeyDirPath(), dir.path().string());
    EXPECT_NO_THROW(KeyPack(ctx(), dir.path().string()));

    Serialize::save(dir.file("PK/MultKey.bin"), *filledMultKey(ctx(), 1));
    const std::string missing = dir.file("missing");
    expectThrowsMessage([&] { pack.setKeyDirPath(missing); }, "Cannot find path " + missing);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(implOf(pack).getKeyDirPath(), dir.path().string());
    EXPECT_TRUE(pack.getMultKey());
}

TEST(KeyDirectoryTest, FileProbes) {
    KeyDirectory dir("keydir_probe");
    const KeyPack pack(ctx(), dir.dir());
    const KeyPackImpl &impl = implOf(pack);
    const std::vector<std::pair<std::string, std::function<bool(const KeyPackImpl &)>>> probes = {
        {"EncKey.bin", [](const KeyPackImpl &p) { return p.isEncKeyFileAvailable(); }},
        {"MultKey.bin", [](const KeyPackImpl &p) { return p.isMultKeyFileAvailable(); }},
        {"ConjKey.bin", [](const KeyPackImpl &p) { return p.isConjKeyFileAvailable(); }},
        {"SparseSecretEncapsulationKey.bin",
         [](const KeyPackImpl &p) { return p.isSparseSecretEncapsulationKeyFileAvailable(); }},
        {"RotKey12.bin", [](const KeyPackImpl &p) { return p.isRotKeyFileAvailable(12); }},
        {"FuseRotKey12.bin", [](const KeyPackImpl &p) { return p.isFuseRotKeyFileAvailable(12); }},
    };
    const KeyPack bare(ctx());
    for (const auto &[name, probe] : probes) {
        EXPECT_FALSE(probe(impl)) << name;
        dir.writeKeyFile(name, "any");
        EXPECT_TRUE(probe(impl)) << name;
        EXPECT_FALSE(probe(implOf(bare))) << name << ": no key directory, no probe";
    }
}

// The path is kept as given: "dir/" names files "dir//PK/...", the same
// files.
TEST(KeyDirectoryTest, ATrailingSlashNamesTheSameFiles) {
    KeyDirectory dir("keydir_slash");
    const auto key = filledMultKey(ctx(), 4);
    const KeyPack writer(ctx());
    implOf(writer).installMultKey(key);
    writer.save(dir.dir() + "/");
    EXPECT_EQ(implOf(writer).getKeyDirPath(), dir.dir() + "/");
    EXPECT_EQ(dir.readKeyFile("MultKey.bin"), storedForm(*key));

    const KeyPack reader(ctx(), dir.dir() + "/");
    ASSERT_TRUE(reader.getMultKey());
    EXPECT_EQ(storedForm(*reader.getMultKey()), storedForm(*key));
}

TEST(KeyDirectoryTest, SaveWritesEveryHeldKeyInItsOrder) {
    const KeyPack pack(ctx());
    KeyPackImpl &impl = implOf(pack);
    impl.installEncKey(test::generatedEncKey(ctx()));
    impl.installMultKey(filledMultKey(ctx(), 1));
    impl.installConjKey(filledConjKey(ctx(), 2));
    for (const std::uint64_t idx : {16, 1, 2})
        impl.tryEmplaceRotKey(idx, filledRotKey(ctx(), idx, 10 + idx));
    for (const std::uint64_t idx : {5, 3})
        impl.tryEmplaceFuseRotKey(idx, test::filledFuseRotKey(ctx(), 20 + idx));
    // The order of the writes; the encapsulation key would come between the
    // rotation and the fused keys.
    const std::vector<std::string> order = {"EncKey.bin",      "MultKey.bin",    "ConjKey.bin",
                                            "RotKey1.bin",     "RotKey2.bin",    "RotKey16.bin",
                                            "FuseRotKey3.bin", "FuseRotKey5.bin"};
    const std::vector<std::string> stored = {
        storedForm(*pack.getEncKey()),         storedForm(*pack.getMultKey()),
        storedForm(*pack.getConjKey()),        storedForm(*pack.getLeftRotKey(1, 0)),
        storedForm(*pack.getLeftRotKey(2, 0)), storedForm(*pack.getLeftRotKey(16, 0)),
        storedForm(*pack.getFuseRotKey(3)),    storedForm(*pack.getFuseRotKey(5))};

    {
        KeyDirectory dir("keydir_save");
        // Files of keys the pack does not hold stay; files of held keys are
        // replaced.
        dir.writeKeyFile("RotKey9.bin", "old nine");
        dir.writeKeyFile("MultKey.bin", "old mult");
        pack.save(dir.dir());
        std::vector<std::string> expected = order;
        expected.push_back("RotKey9.bin");
        EXPECT_EQ(dir.keyFiles(), sorted(expected));
        for (std::size_t i = 0; i < order.size(); ++i)
            EXPECT_EQ(dir.readKeyFile(order[i]), stored[i]) << order[i];
        EXPECT_EQ(dir.readKeyFile("RotKey9.bin"), "old nine");
    }
    // A target taken by a directory stops the save there: the files before it
    // are written, those after it are not.
    for (std::size_t blocked = 0; blocked < order.size(); ++blocked) {
        SCOPED_TRACE(order[blocked]);
        KeyDirectory dir("keydir_save_blocked");
        std::filesystem::create_directory(dir.keyFile(order[blocked]));
        expectThrowsMessage([&] { pack.save(dir.dir()); },
                            "Cannot open file " + dir.keyFile(order[blocked]));
        std::vector<std::string> expected(order.begin(),
                                          order.begin() + static_cast<std::ptrdiff_t>(blocked));
        expected.push_back(order[blocked]);
        EXPECT_EQ(dir.keyFiles(), sorted(expected));
    }
    // A missing directory: nothing written, the path unchanged.
    const std::string before = implOf(pack).getKeyDirPath();
    expectThrowsMessage([&] { pack.save("/nonexistent/keys"); },
                        "Cannot find path /nonexistent/keys");
    EXPECT_EQ(implOf(pack).getKeyDirPath(), before);
}

TEST(KeyDirectoryTest, SaveListNamesEachKeyWithItsDigits) {
    KeyDirectory dir("keydir_list");
    Serialize::save(dir.keyFile("RotKey3.bin"), *filledRotKey(fiveDigits(), 3, 3));

    KeyPack full(fiveDigits(), dir.dir());
    full.loadLeftRotKey(3, 2);
    Quelt::test::TempDirectory fullList("keydir_list_full");
    full.saveList(fullList.path().string());
    EXPECT_EQ(implOf(full).getKeyDirPath(), fullList.path().string());
    EXPECT_EQ(Quelt::test::TempFile::contentsOf(fullList.file("PK/RotKey3_0.bin")),
              storedForm(*full.getLeftRotKey(3, 0)));

    KeyPack minimal(fiveDigits(), dir.dir());
    minimal.setMinimalKeyLoad(true);
    minimal.loadLeftRotKey(3, 2);
    minimal.saveList(dir.dir());
    EXPECT_EQ(dir.keyFiles(), (std::vector<std::string>{"RotKey3.bin", "RotKey3_2.bin"}));
    EXPECT_EQ(dir.readKeyFile("RotKey3_2.bin"), storedForm(*minimal.getLeftRotKey(3, 2)));
}

TEST(KeyDirectoryTest, RotationKeyFilesAreListedByTheirFullName) {
    KeyDirectory dir("keydir_scan");
    const std::vector<std::pair<std::string, bool>> names = {
        {"RotKey3.bin", true},      {"RotKey17.bin", true},
        {"RotKey3_0.bin", false},   {"rotkey4.bin", false},
        {"RotKey5.bin.bak", false}, {"RotKey6xbin", false},
        {"RotKey.bin", false},      {"RotKey1234567890123456789012345.bin", false},
        {"FuseRotKey7.bin", false}, {"MultKey.bin", false},
    };
    for (const auto &[name, listed] : names)
        dir.writeKeyFile(name, "");
    const KeyPack pack(ctx(), dir.dir());
    EXPECT_EQ(sorted(implOf(pack).getRotKeyList(false)), (std::vector<std::uint64_t>{3, 17}));

    implOf(pack).tryEmplaceRotKey(9, filledRotKey(ctx(), 9, 9));
    implOf(pack).tryEmplaceRotKey(2, filledRotKey(ctx(), 2, 2));
    EXPECT_EQ(implOf(pack).getRotKeyList(true), (std::vector<std::uint64_t>{2, 9}));

    // Nothing to scan: no key directory, or its key subdirectory gone.
    const KeyPack bare(ctx());
    expectThrowsMessage([&] { implOf(bare).getRotKeyList(false); }, notADirectory(""));
    std::filesystem::remove_all(dir.path() / "PK");
    expectThrowsMessage([&] { implOf(pack).getRotKeyList(false); }, notADirectory(dir.dir()));
}

class LoadMinRotKeyTest : public testing::Test {
protected:
    // The full keys 3 and 7 in `keys_`; a list naming 3 cut to 2 digits and 7
    // whole in `list_`.
    void SetUp() override {
        for (const std::uint64_t idx : {3, 7})
            Serialize::save(keys_.keyFile("RotKey" + std::to_string(idx) + ".bin"),
                            *filledRotKey(fiveDigits(), idx, idx));
        list_.writeKeyFile("RotKey3_2.bin", "");
        list_.writeKeyFile("RotKey7_0.bin", "");
        list_.writeKeyFile("RotKey_1.bin", "");
        list_.writeKeyFile("RotKey3.bin", "");
    }

    KeyPack packOnKeys(bool minimal) const {
        KeyPack pack(fiveDigits(), keys_.dir());
        pack.setMinimalKeyLoad(minimal);
        return pack;
    }

    static std::vector<std::pair<std::uint64_t, std::uint64_t>> digitsHeld(const KeyPack &pack) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> held;
        for (const std::uint64_t idx : implOf(pack).getRotKeyList(true))
            held.emplace_back(idx, masksOf(*implOf(pack).getRotKey(idx, 1)).size());
        return held;
    }

    KeyDirectory keys_{"keydir_min_keys"};
    KeyDirectory list_{"keydir_min_list"};
};

TEST_F(LoadMinRotKeyTest, LoadsTheListedKeysFromThePacksOwnDirectory) {
    using Held = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    KeyPack minimal = packOnKeys(true);
    minimal.loadMinRotKey(list_.dir());
    EXPECT_EQ(digitsHeld(minimal), (Held{{3, 2}, {7, 5}}));
    EXPECT_EQ(implOf(minimal).getRotKey(3, 2)->getDnum(), 2u);
    EXPECT_EQ(implOf(minimal).getKeyDirPath(), keys_.dir()) << "the list does not move the pack";

    KeyPack whole = packOnKeys(false);
    whole.loadMinRotKey(list_.dir());
    EXPECT_EQ(digitsHeld(whole), (Held{{3, 5}, {7, 5}}));

    // Names are parsed strictly: "RotKey3_2xbin" is not a list-form name.
    std::filesystem::rename(list_.keyFile("RotKey3_2.bin"), list_.keyFile("RotKey3_2xbin"));
    KeyPack anyDot = packOnKeys(true);
    anyDot.loadMinRotKey(list_.dir());
    EXPECT_EQ(digitsHeld(anyDot), (Held{{7, 5}}));
}

TEST_F(LoadMinRotKeyTest, SaveListThenLoadInANewPack) {
    KeyPack first = packOnKeys(true);
    first.loadLeftRotKey(3, 1);
    first.loadLeftRotKey(7, 4);
    first.saveList(keys_.dir());
    KeyPack second = packOnKeys(true);
    second.loadMinRotKey(keys_.dir());
    using Held = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    EXPECT_EQ(digitsHeld(second), (Held{{3, 1}, {7, 4}}));
}

TEST_F(LoadMinRotKeyTest, RefusesBeforeLoadingAnything) {
    KeyPack pack = packOnKeys(true);
    const std::string missing = list_.file("missing");
    expectThrowsMessage([&] { pack.loadMinRotKey(missing); }, notADirectory(missing));

    KeyPack bare(fiveDigits());
    expectThrowsMessage([&] { bare.loadMinRotKey(list_.dir()); },
                        "[loadMinRotKey] The key pack has no key directory");
    EXPECT_TRUE(implOf(bare).getRotKeyList(true).empty());

    list_.writeKeyFile("RotKey4_1.bin", "");
    expectThrowsMessage([&] { pack.loadMinRotKey(list_.dir()); },
                        "[loadMinRotKey] The key directory has no rotation key file for index 4");
    EXPECT_TRUE(implOf(pack).getRotKeyList(true).empty());
}
