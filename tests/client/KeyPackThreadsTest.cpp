#include "Quelt/KeyPack.hpp"

#include "client/KeyPackImpl.hpp"
#include "keys/Serialize.hpp"
#include "support/DataObjects.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::runTogether;
using test::filledMultKey;
using test::filledRotKey;
using test::implOf;
using test::KeyDirectory;
using test::keyWords;
using test::masksOf;
using test::storedForm;

namespace {

std::shared_ptr<ContextContent> ctx() { return Quelt::test::degree64FourPrimes(); }
std::shared_ptr<ContextContent> fiveDigits() { return Quelt::test::fiveDigitContext(); }

std::string savedPack(const KeyPack &pack) {
    std::ostringstream out;
    pack.save(out);
    return out.str();
}

} // namespace

// Sixteen requests for one key that is not held read its file once: all get
// the one key.
TEST(KeyPackThreadsTest, OneMissingKeyIsLoadedOnce) {
    KeyDirectory dir("keypack_threads_once");
    Serialize::save(dir.keyFile("RotKey5.bin"), *filledRotKey(ctx(), 5, 5));
    for (int round = 0; round < 10; ++round) {
        const KeyPack pack(ctx(), dir.dir());
        std::vector<std::shared_ptr<EvaluationKey>> got(16);
        runTogether(16, [&](int t) { got[t] = pack.getLeftRotKey(5 + 32 * t, 0); });
        ASSERT_TRUE(got[0]);
        for (const auto &key : got)
            EXPECT_EQ(key, got[0]) << "round " << round;
    }
}

// With minimal key load, each request gets at least the digits it asked
// for; a key with too few digits is read again and replaced.
TEST(KeyPackThreadsTest, ConcurrentMinimalLoadsGiveEachItsDigits) {
    KeyDirectory dir("keypack_threads_minimal");
    Serialize::save(dir.keyFile("RotKey5.bin"), *filledRotKey(fiveDigits(), 5, 5));
    for (int round = 0; round < 10; ++round) {
        KeyPack pack(fiveDigits(), dir.dir());
        pack.setMinimalKeyLoad(true);
        std::vector<std::shared_ptr<EvaluationKey>> got(16);
        runTogether(16, [&](int t) { got[t] = pack.getLeftRotKey(5, 1 + t % 3); });
        for (int t = 0; t < 16; ++t) {
            ASSERT_TRUE(got[t]) << t;
            EXPECT_GE(masksOf(*got[t]).size(), static_cast<std::size_t>(1 + t % 3)) << t;
        }
        EXPECT_EQ(masksOf(*pack.getLeftRotKey(5, 3)).size(), 3u);
    }
}

TEST(KeyPackThreadsTest, ConcurrentInsertsOfRotationKeys) {
    const KeyPack pack(ctx());
    std::vector<std::shared_ptr<EvaluationKey>> own(8);
    for (int t = 0; t < 8; ++t)
        own[t] = filledRotKey(ctx(), 7, 100 + t);
    std::vector<int> inserted(8, 0);
    runTogether(8, [&](int t) {
        // Disjoint indices, then one index for all.
        for (std::uint64_t k = 0; k < 3; ++k) {
            const std::uint64_t idx = 8 + 3 * t + k;
            EXPECT_TRUE(implOf(pack).tryEmplaceRotKey(idx, filledRotKey(ctx(), idx, idx)));
        }
        inserted[t] = implOf(pack).tryEmplaceRotKey(7, own[t]);
    });
    EXPECT_EQ(implOf(pack).getRotKeyList(true).size(), 25u);
    int winners = 0;
    for (int t = 0; t < 8; ++t)
        if (inserted[t] != 0) {
            ++winners;
            EXPECT_EQ(pack.getLeftRotKey(7, 0), own[t]);
        }
    EXPECT_EQ(winners, 1);
}

// Readers of a fixed key while a writer replaces it (by the key generator's
// store, a stream load or a whole-pack load) always get a whole key.
TEST(KeyPackThreadsTest, ReadersSeeWholeKeysWhileTheyAreReplaced) {
    const auto a = filledMultKey(ctx(), 1);
    const auto b = filledMultKey(ctx(), 2);
    const auto wordsA = keyWords(*a);
    const auto wordsB = keyWords(*b);
    const std::string storedA = storedForm(*a);
    const std::string storedB = storedForm(*b);
    const KeyPack packA(ctx());
    implOf(packA).installMultKey(a);
    const KeyPack packB(ctx());
    implOf(packB).installMultKey(b);
    const std::string wholeA = savedPack(packA);
    const std::string wholeB = savedPack(packB);

    for (int writer = 0; writer < 3; ++writer) {
        KeyPack pack(ctx());
        implOf(pack).installMultKey(a);
        std::atomic<int> torn{0};
        runTogether(7, [&](int t) {
            for (int i = 0; i < 60; ++i) {
                if (t == 0) {
                    const bool first = i % 2 == 0;
                    if (writer == 0) {
                        implOf(pack).installMultKey(filledMultKey(ctx(), first ? 1 : 2));
                    } else if (writer == 1) {
                        std::istringstream in(first ? storedA : storedB);
                        pack.loadMultKey(in);
                    } else {
                        std::istringstream in(first ? wholeA : wholeB);
                        pack.load(in);
                    }
                } else {
                    const auto key = pack.getMultKey();
                    const auto words = keyWords(*key);
                    if (words != wordsA && words != wordsB)
                        ++torn;
                }
            }
        });
        EXPECT_EQ(torn.load(), 0) << "writer " << writer;
    }
}

// Loads, checks, inserts and moves to the host at once.
TEST(KeyPackThreadsTest, MixedUse) {
    KeyDirectory dir("keypack_threads_mixed");
    for (std::uint64_t idx = 1; idx < 6; ++idx)
        Serialize::save(dir.keyFile("RotKey" + std::to_string(idx) + ".bin"),
                        *filledRotKey(ctx(), idx, idx));
    Serialize::save(dir.keyFile("MultKey.bin"), *filledMultKey(ctx(), 1));
    Serialize::save(dir.keyFile("FuseRotKey1.bin"), *test::filledFuseRotKey(ctx(), 1));
    const std::string conj = storedForm(*test::filledConjKey(ctx(), 2));
    KeyPack pack(ctx(), dir.dir());
    std::atomic<int> missing{0};
    runTogether(8, [&](int t) {
        for (int i = 0; i < 40; ++i) {
            const std::uint64_t idx = 1 + (t + i) % 5;
            switch (t % 4) {
            case 0:
                if (!pack.getLeftRotKey(idx, 0) || !pack.getMultKey() || !pack.getFuseRotKey(1))
                    ++missing;
                break;
            case 1:
                pack.isLeftRotKeyLoaded(idx, 0);
                pack.loadRightRotKey(32 - idx, 0);
                pack.isMultKeyLoaded();
                break;
            case 2: {
                const std::uint64_t fresh = 10 + t * 40 + i % 20;
                implOf(pack).tryEmplaceRotKey(fresh % 32, filledRotKey(ctx(), fresh % 32, fresh));
                std::istringstream in(conj);
                pack.loadConjKey(in);
                break;
            }
            default:
                if (i % 2 == 0)
                    pack.to(kHostDevice);
                else
                    pack.copyTo(kHostDevice);
                break;
            }
        }
    });
    EXPECT_EQ(missing.load(), 0);
    for (std::uint64_t idx = 1; idx < 6; ++idx)
        EXPECT_TRUE(pack.isLeftRotKeyLoaded(idx, 0));
}

TEST(KeyPackThreadsTest, ConcurrentFirstDecompositionsAgree) {
    const KeyPack reference(ctx());
    for (const std::uint64_t idx : {1, 4, 31})
        implOf(reference).tryEmplaceRotKey(idx, filledRotKey(ctx(), idx, idx));
    for (int round = 0; round < 10; ++round) {
        const KeyPack pack(ctx());
        for (const std::uint64_t idx : {1, 4, 31})
            implOf(pack).tryEmplaceRotKey(idx, reference.getLeftRotKey(idx, 0));
        std::vector<std::vector<std::uint64_t>> got(8);
        runTogether(8, [&](int t) { got[t] = pack.getRotKeyDecomposition(5 + 3 * t); });
        for (int t = 0; t < 8; ++t)
            EXPECT_EQ(got[t], reference.getRotKeyDecomposition(5 + 3 * t)) << t;
    }
}

// A whole-pack save while other threads read keys writes the same stream
// every time.
TEST(KeyPackThreadsTest, WholePackSaveWhileReadersRun) {
    KeyDirectory dir("keypack_threads_save");
    Serialize::save(dir.keyFile("RotKey3.bin"), *filledRotKey(ctx(), 3, 3));
    const KeyPack pack(ctx(), dir.dir());
    implOf(pack).installMultKey(filledMultKey(ctx(), 1));
    implOf(pack).tryEmplaceRotKey(2, filledRotKey(ctx(), 2, 2));
    pack.getLeftRotKey(3, 0);
    const std::string expected = savedPack(pack);
    std::atomic<int> differing{0};
    runTogether(6, [&](int t) {
        for (int i = 0; i < 30; ++i) {
            if (t == 0) {
                if (savedPack(pack) != expected)
                    ++differing;
            } else {
                pack.getMultKey();
                pack.getLeftRotKey(2 + i % 2, 0);
                pack.isLeftRotKeyLoaded(3, 0);
            }
        }
    });
    EXPECT_EQ(differing.load(), 0);
    KeyPack loaded(ctx());
    std::istringstream in(expected);
    loaded.load(in);
    EXPECT_EQ(savedPack(loaded), expected);
}
