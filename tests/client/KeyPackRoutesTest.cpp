// Rotations by indices without a key of their own, on a pack whose keys are
// in memory or in a key directory: routes are found over the held keys and
// the key files, found afresh when the keys change, and decrypt correctly.

#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "client/KeyPackImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using test::expectThrowsMessage;
using test::implOf;

namespace {

using Steps = std::vector<u64>;

constexpr double kBound = 1e-6;
constexpr const char *kUnreachable =
    "[getRotKeyDecomposition] Can not reach to such rotation idx using given rot keys.";

class KeyPackRoutesTest : public test::SchemeFixture {
protected:
    // Key files of the left rotations `indices` in a new key directory.
    void writeKeys(const test::KeyDirectory &dir, const std::vector<u64> &indices) const {
        KeyPack pack(context());
        const KeyGenerator generator(context(), secretKey(), pack);
        for (const u64 idx : indices)
            generator.genLeftRotKey(idx);
        pack.save(dir.dir());
    }

    static Message rotatedLeft(const Message &m, u64 idx) {
        Message out(m.getLogSlots());
        for (u64 i = 0; i < m.getSize(); ++i)
            out[i] = m[(i + idx) % m.getSize()];
        return out;
    }

    // Rotates an encryption of a random message left by idx with the pack
    // and compares the decryption with the rotated message.
    void expectRotates(const KeyPack &pack, u64 idx) {
        const HomEvaluator eval(context(), pack);
        const Message m = randomMessage();
        RingCiphertext out(context(), false, true);
        eval.leftRotate(encrypt(m), idx, out);
        EXPECT_LT(maxError(decrypt(out), rotatedLeft(m, idx)), kBound) << idx;
    }
};

} // namespace

// A fresh pack on a directory with keys 1 and 4 only in files: rotating by 5
// takes the route [4, 1] from the files, loading its keys as it goes.
TEST_F(KeyPackRoutesTest, AFreshPackRoutesOverTheKeyFiles) {
    test::KeyDirectory dir("routes_files");
    writeKeys(dir, {1, 4});
    const KeyPack pack(context(), dir.dir());
    expectRotates(pack, 5);
    EXPECT_EQ(pack.getRotKeyDecomposition(5), (Steps{4, 1}));
    EXPECT_EQ(implOf(pack).getRotKeyList(true), (Steps{1, 4}));
    expectRotates(pack, 9);
}

// A first refused rotation does not stay refused: once a key is generated,
// read from a stream or written into the directory by a save, the next
// route is found over the new set.
TEST_F(KeyPackRoutesTest, RoutesFollowTheKeysAsTheyChange) {
    test::KeyDirectory dir("routes_change");
    KeyPack pack(context(), dir.dir());
    RingCiphertext out(context(), false, true);
    const HomEvaluator eval(context(), pack);
    expectThrowsMessage([&] { eval.leftRotate(encrypt(randomMessage()), 5, out); }, kUnreachable);

    // Generated: key 3 alone reaches 5 by a long route, then key 5 makes it
    // one step.
    const KeyGenerator generator(context(), secretKey(), pack);
    generator.genLeftRotKey(3);
    expectRotates(pack, 5);
    const u64 longRoute = pack.getRotKeyDecomposition(5).size();
    EXPECT_GT(longRoute, 1u);
    generator.genLeftRotKey(2);
    EXPECT_EQ(pack.getRotKeyDecomposition(5), (Steps{3, 2}));
    expectRotates(pack, 5);

    // Read from a stream into another pack on the same directory.
    KeyPack other(context(), dir.dir());
    EXPECT_THROW(other.getRotKeyDecomposition(7), RuntimeException);
    std::stringstream stream;
    Serialize::save(stream, *pack.getLeftRotKey(3, 0));
    other.loadLeftRotKey(3, stream, 0);
    EXPECT_EQ(other.getRotKeyDecomposition(6), (Steps{3, 3}));
    expectRotates(other, 6);

    // The whole pack from a stream replaces the set: only key 2 is left.
    KeyPack two(context());
    KeyGenerator(context(), secretKey(), two).genLeftRotKey(2);
    std::stringstream whole;
    two.save(whole);
    other.load(whole);
    EXPECT_EQ(other.getRotKeyDecomposition(6), (Steps{2, 2, 2}));
    expectThrowsMessage([&] { other.getRotKeyDecomposition(7); }, kUnreachable);

    // Saved into the directory: a pack on it routes over the files.
    pack.save(dir.dir());
    const KeyPack onFiles(context(), dir.dir());
    EXPECT_EQ(onFiles.getRotKeyDecomposition(5), (Steps{3, 2}));
    expectRotates(onFiles, 7);
}

// A stray key file of an index at or beyond the slot count is no step: it
// neither shortens a route nor turns a refusal into a message about a
// removed key.
TEST_F(KeyPackRoutesTest, StrayKeyFilesAreNoSteps) {
    test::KeyDirectory dir("routes_stray");
    const u64 slots = u64{1} << getLogFullSlots(context());
    writeKeys(dir, {4});
    std::filesystem::copy_file(dir.keyFile("RotKey4.bin"),
                               dir.keyFile("RotKey" + std::to_string(slots + 4) + ".bin"));
    std::filesystem::copy_file(dir.keyFile("RotKey4.bin"),
                               dir.keyFile("RotKey" + std::to_string(slots + 1) + ".bin"));
    const KeyPack pack(context(), dir.dir());
    RingCiphertext out(context(), false, true);
    const HomEvaluator eval(context(), pack);
    expectThrowsMessage([&] { eval.leftRotate(encrypt(randomMessage()), 1, out); }, kUnreachable);
    expectRotates(pack, 8);
    EXPECT_EQ(pack.getRotKeyDecomposition(8), (Steps{4, 4}));
}

// A directory or a pipe under a key file's name: the library's message from
// the evaluator's rotation, the pack unchanged.
TEST_F(KeyPackRoutesTest, AnEntryThatIsNotAFileIsReported) {
    test::KeyDirectory dir("routes_not_files");
    writeKeys(dir, {1});
    std::filesystem::create_directory(dir.keyFile("RotKey9.bin"));
    ASSERT_EQ(::mkfifo(dir.keyFile("RotKey3.bin").c_str(), 0600), 0);
    const KeyPack pack(context(), dir.dir());
    const HomEvaluator eval(context(), pack);
    const RingCiphertext ct = encrypt(randomMessage());
    for (const u64 idx : {9, 3}) {
        RingCiphertext out = ct;
        const RingCiphertext before = out;
        expectThrowsMessage([&] { eval.leftRotate(ct, idx, out); },
                            KeyPackImpl::kNotRegularKeyFile +
                                dir.keyFile("RotKey" + std::to_string(idx) + ".bin"));
        for (u64 p = 0; p < out.getNumPoly(); ++p)
            EXPECT_EQ(test::wordsOf(out.getPoly(p)), test::wordsOf(before.getPoly(p)));
    }
    EXPECT_TRUE(implOf(pack).getRotKeyList(true).empty());
    expectRotates(pack, 2);
}

// Minimal key load records the dnum asked for: cut below the gadget rank,
// whole at or above it; saveList names the files by it.
TEST_F(KeyPackRoutesTest, ListFormNamesRecordTheRequestedDnum) {
    test::KeyDirectory dir("routes_list_names");
    writeKeys(dir, {3, 5});
    const u64 rank = getGadgetRank(context());
    KeyPack pack(context(), dir.dir());
    pack.setMinimalKeyLoad(true);
    pack.loadLeftRotKey(3, 2);
    pack.loadLeftRotKey(5, rank + 2);
    EXPECT_EQ(pack.getLeftRotKey(5, 0)->getGadgetRank(), rank);
    test::KeyDirectory list("routes_list_out");
    pack.saveList(list.dir());
    const std::string five = "RotKey5_" + std::to_string(rank + 2) + ".bin";
    EXPECT_TRUE(std::filesystem::exists(list.keyFile("RotKey3_2.bin")));
    EXPECT_TRUE(std::filesystem::exists(list.keyFile(five)));
    // The key with every digit rotates correctly.
    expectRotates(pack, 5);

    auto key = makeEmptyRotKey(context(), 5, 0);
    key->resizeDnumForRotkey(rank + 2);
    EXPECT_EQ(key->getDnum(), rank + 2);
    EXPECT_EQ(key->getGadgetRank(), rank);
}
