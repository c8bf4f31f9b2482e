#include "Quelt/Plaintext.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::bytesOf;
using Quelt::test::degree64FourPrimes;
using Quelt::test::expectThrowsMessage;
using Quelt::test::fillResidues;
using Quelt::test::wordsOf;

namespace {

constexpr const char *kAboveLevel = "Rescale counter should be less than or equal to the level";
constexpr const char *kNegative = "Rescale counter should be greater than or equal to zero";
constexpr const char *kVerifier =
    "[Verifier::load] Validation failed during deserializing objects.";

constexpr std::uint64_t kN = 64;

std::string saved(const Plaintext &pt) {
    std::ostringstream out;
    pt.save(out);
    return out.str();
}

// Everything a load could change.
struct Snapshot {
    std::uint64_t logSlots;
    int counter;
    std::uint64_t level;
    bool ntt;
    std::vector<std::uint64_t> words;
    bool operator==(const Snapshot &) const = default;
};
Snapshot snapshot(const Plaintext &pt) {
    return {pt.getLogSlots(), pt.getRescaleCounter(), pt.getLevel(), pt.getMx().isNTT(),
            wordsOf(pt.getMx())};
}

// A plaintext at level 2 with known residues, log slot count 4 and counter 1.
Plaintext samplePlaintext() {
    Plaintext pt(degree64FourPrimes());
    pt.levelDrop(2);
    fillResidues(pt.getMx(), 5);
    pt.setLogSlots(4);
    pt.setRescaleCounter(1);
    return pt;
}

} // namespace

TEST(PlaintextTest, NewPlaintextsSitAtTheTopLevel) {
    const auto ctx = degree64FourPrimes();
    const Plaintext pt(ctx);
    EXPECT_EQ(pt.getLogSlots(), 5u);
    EXPECT_EQ(pt.getNumberOfSlots(), 32u);
    EXPECT_EQ(pt.getRescaleCounter(), 0);
    EXPECT_EQ(pt.getLevel(), 3u);
    EXPECT_TRUE(pt.getMx().isNTT());
    EXPECT_FALSE(pt.getMx().isModUp());
    EXPECT_EQ(pt.getMx().getData().size(), 4 * kN);
    EXPECT_EQ(pt.getMxData(2), pt.getMx().getData().begin() + 2 * kN);
    EXPECT_TRUE(pt.getDevice().isHost());

    const Plaintext up(ctx, true);
    EXPECT_TRUE(up.getMx().isModUp());
    EXPECT_EQ(up.getMx().getSize(), 6u);
    EXPECT_EQ(up.getMx().getData().size(), 6 * kN);
    EXPECT_EQ(up.getLevel(), 3u);

    Plaintext wide(ctx);
    wide.setLogSlots(64);
    expectThrowsMessage([&] { (void)wide.getNumberOfSlots(); },
                        "[Plaintext] The log slot count must be below 64");
    expectThrowsMessage([] { Plaintext p(std::shared_ptr<ContextContent>{}); },
                        "[Context] The context is null");
}

TEST(PlaintextTest, RescaleCounterRules) {
    struct Case {
        std::uint64_t level;
        int value;
        const char *error; // nullptr: accepted
    };
    const Case cases[] = {
        {0, 0, nullptr},     {0, 1, kAboveLevel}, {3, 3, nullptr},
        {3, 4, kAboveLevel}, {3, -1, kNegative},  {2, -5, kNegative},
    };
    for (const Case &c : cases) {
        Plaintext pt(degree64FourPrimes());
        pt.levelDrop(c.level);
        pt.setRescaleCounter(0);
        if (c.error) {
            SCOPED_TRACE(testing::Message() << c.level << " " << c.value);
            expectThrowsMessage([&] { pt.setRescaleCounter(c.value); }, c.error);
            EXPECT_EQ(pt.getRescaleCounter(), 0);
        } else {
            pt.setRescaleCounter(c.value);
            EXPECT_EQ(pt.getRescaleCounter(), c.value);
        }
    }
}

TEST(PlaintextTest, LevelDropAndSetLevel) {
    Plaintext pt(degree64FourPrimes());
    fillResidues(pt.getMx(), 1);
    const std::vector<std::uint64_t> before = wordsOf(pt.getMx());

    pt.levelDrop(3); // the current level: nothing happens
    EXPECT_EQ(wordsOf(pt.getMx()), before);
    pt.levelDrop(1);
    expectThrowsMessage([&] { pt.levelDrop(2); },
                        "[level drop] target level is greater than level of Plaintext.");
    EXPECT_EQ(pt.getLevel(), 1u);
    pt.levelDrop(0);
    EXPECT_EQ(pt.getLevel(), 0u);
    EXPECT_EQ(wordsOf(pt.getMx()), std::vector<std::uint64_t>(before.begin(), before.begin() + kN));

    // setLevel may go up (the new limbs are unspecified) and checks no counter.
    pt.setLevel(2);
    EXPECT_EQ(pt.getLevel(), 2u);
    EXPECT_EQ(pt.getMx().getData().size(), 3 * kN);
    EXPECT_EQ(
        std::vector<std::uint64_t>(pt.getMx().getData().begin(), pt.getMx().getData().begin() + kN),
        std::vector<std::uint64_t>(before.begin(), before.begin() + kN));
    pt.setRescaleCounter(2);
    pt.setLevel(0);
    EXPECT_EQ(pt.getRescaleCounter(), 2);
}

TEST(PlaintextTest, IsZeroLooksAtTheLimbsInUse) {
    Plaintext pt(degree64FourPrimes());
    pt.levelDrop(1);
    std::fill(pt.getMx().getData().begin(), pt.getMx().getData().end(), 0);
    EXPECT_TRUE(pt.isZero());
    pt.getMxData(1)[kN - 1] = 1;
    EXPECT_FALSE(pt.isZero());
}

TEST(PlaintextTest, CopiesAreDeep) {
    Plaintext a = samplePlaintext();
    Plaintext b(a);
    EXPECT_EQ(snapshot(b), snapshot(a));
    b.getMxData(0)[0] ^= 1;
    EXPECT_NE(snapshot(b), snapshot(a));

    Plaintext c(degree64FourPrimes());
    c = a;
    EXPECT_EQ(snapshot(c), snapshot(a));
    const Plaintext moved(std::move(c));
    EXPECT_EQ(snapshot(moved), snapshot(a));
}

TEST(PlaintextTest, CopyAssignmentOfTheSameShapeKeepsEveryBlock) {
    const Plaintext a = samplePlaintext();
    Plaintext b = samplePlaintext();
    fillResidues(b.getMx(), 11);
    const Polynomial *impl = &b.getMx();
    const std::uint64_t *block = b.getMx().getData().getData();
    const std::uint64_t *primes = b.getMx().getPrimes().data();
    b = a;
    EXPECT_EQ(snapshot(b), snapshot(a));
    EXPECT_EQ(&b.getMx(), impl);
    EXPECT_EQ(b.getMx().getData().getData(), block);
    EXPECT_EQ(b.getMx().getPrimes().data(), primes);
}

TEST(PlaintextTest, StoredFormIsByteExact) {
    const auto ctx = degree64FourPrimes();
    const Plaintext pt = samplePlaintext();
    const std::string bytes = saved(pt);
    const std::vector<std::uint64_t> primes = pt.getMx().getPrimes();
    const std::vector<std::uint64_t> chain = getPrimeList(ctx);
    ASSERT_EQ(primes, std::vector<std::uint64_t>(chain.begin(), chain.begin() + 4));
    const std::vector<std::uint64_t> words = wordsOf(pt.getMx());
    ASSERT_EQ(words.size(), 3 * kN);
    // 76 + 8 c + 8 w with c = 4 primes in the list and w = 3 N words.
    ASSERT_EQ(bytes.size(), 76u + 8 * 4 + 8 * 3 * kN);

    std::string expected = "\x01" + bytesOf(ctx->getHash()) + bytesOf(std::uint32_t{4});
    expected += bytesOf(std::uint64_t{4}) + bytesOf(std::int32_t{1});
    expected += bytesOf(kN) + bytesOf(std::uint64_t{4}) + bytesOf(std::uint64_t{4}) +
                bytesOf(std::uint64_t{2});
    expected += std::string("\x00\x01", 2);
    expected += bytesOf(std::uint64_t{4});
    for (const std::uint64_t p : primes)
        expected += bytesOf(p);
    expected += "\x01" + bytesOf(std::uint64_t{3 * kN});
    for (const std::uint64_t w : words)
        expected += bytesOf(w);
    EXPECT_EQ(Quelt::test::firstDifference(bytes, expected), std::string::npos);
    EXPECT_EQ(bytes[9], 4);
}

TEST(PlaintextTest, ReadsAHandMadeBigEndianForm) {
    const auto ctx = degree64FourPrimes();
    const std::vector<std::uint64_t> primes = Plaintext(ctx).getMx().getPrimes();
    std::string bytes(1, '\x00');
    bytes += bytesOf(ctx->getHash(), true) + bytesOf(std::uint32_t{4}, true);
    bytes += bytesOf(std::uint64_t{3}, true) + bytesOf(std::int32_t{0}, true);
    bytes += bytesOf(kN, true) + bytesOf(std::uint64_t{4}, true) + bytesOf(std::uint64_t{4}, true) +
             bytesOf(std::uint64_t{0}, true);
    bytes += std::string("\x00\x00", 2); // coefficient form
    bytes += bytesOf(std::uint64_t{4}, true);
    for (const std::uint64_t p : primes)
        bytes += bytesOf(p, true);
    bytes += "\x01" + bytesOf(kN, true);
    for (std::uint64_t j = 0; j < kN; ++j)
        bytes += bytesOf(j * 3 + 1, true);

    Plaintext pt(degree64FourPrimes());
    std::istringstream in(bytes);
    pt.load(in);
    EXPECT_EQ(pt.getLogSlots(), 3u);
    EXPECT_EQ(pt.getRescaleCounter(), 0);
    EXPECT_EQ(pt.getLevel(), 0u);
    EXPECT_FALSE(pt.getMx().isNTT());
    ASSERT_EQ(pt.getMx().getData().size(), kN);
    for (std::uint64_t j = 0; j < kN; ++j)
        EXPECT_EQ(pt.getMxData(0)[j], j * 3 + 1);
}

TEST(PlaintextTest, RoundTripsThroughStreamsAndFiles) {
    const Plaintext pt = samplePlaintext();
    Plaintext fromStream(degree64FourPrimes());
    std::istringstream in(saved(pt));
    fromStream.load(in);
    EXPECT_EQ(snapshot(fromStream), snapshot(pt));

    const Quelt::test::TempFile file("plaintext.bin");
    pt.save(file.path());
    Plaintext fromFile(degree64FourPrimes(), true);
    fromFile.load(file.path());
    EXPECT_EQ(snapshot(fromFile), snapshot(pt));
    EXPECT_FALSE(fromFile.getMx().isModUp());

    // A mod-up plaintext, and one stored as its seed.
    Plaintext up(degree64FourPrimes(), true);
    fillResidues(up.getMx(), 9);
    Plaintext upBack(degree64FourPrimes());
    std::istringstream upIn(saved(up));
    upBack.load(upIn);
    EXPECT_EQ(snapshot(upBack), snapshot(up));
    EXPECT_TRUE(upBack.getMx().isModUp());

    Plaintext seeded(degree64FourPrimes());
    populateUniformPoly(seeded.getMx(), true);
    const std::string seededBytes = saved(seeded);
    EXPECT_EQ(seededBytes.size(), 25u + 8 * (5 + 4) + 3 + 1024);
    Plaintext seededBack(degree64FourPrimes());
    std::istringstream seededIn(seededBytes);
    seededBack.load(seededIn);
    EXPECT_EQ(snapshot(seededBack), snapshot(seeded));
    EXPECT_TRUE(seededBack.getMx().hasGerm());

    const std::string missing = file.path() + ".missing/x.bin";
    expectThrowsMessage([&] { pt.save(missing); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { fromFile.load(missing); }, "Cannot open file " + missing);
}

TEST(PlaintextTest, RefusedLoadsLeaveThePlaintextUnchanged) {
    const std::string good = saved(samplePlaintext());
    Plaintext target(degree64FourPrimes());
    fillResidues(target.getMx(), 77);
    const Snapshot before = snapshot(target);

    const auto attempt = [&](const std::string &bytes) {
        std::istringstream in(bytes);
        target.load(in);
    };
    const auto patched = [&](std::size_t offset, const std::string &value) {
        std::string bytes = good;
        bytes.replace(offset, value.size(), value);
        return bytes;
    };

    // Header: another context, another object code.
    Plaintext foreign(Quelt::test::degree64FivePrimes());
    std::istringstream foreignIn(good);
    expectThrowsMessage([&] { foreign.load(foreignIn); }, kVerifier);
    expectThrowsMessage([&] { attempt(patched(9, bytesOf(std::uint32_t{3}))); }, kVerifier);
    // Counter above the level (2) or negative.
    expectThrowsMessage([&] { attempt(patched(21, bytesOf(std::int32_t{3}))); }, kAboveLevel);
    expectThrowsMessage([&] { attempt(patched(21, bytesOf(std::int32_t{-1}))); }, kNegative);
    // A polynomial that does not fit the context: another degree.
    EXPECT_THROW(attempt(patched(25, bytesOf(std::uint64_t{128}))), RuntimeException);
    // Cut short: inside the log slot count, and inside the residues.
    expectThrowsMessage<cereal::Exception>([&] { attempt(good.substr(0, 17)); },
                                           "Failed to read 8 bytes from input stream! Read 4");
    EXPECT_THROW(attempt(good.substr(0, good.size() - 1)), cereal::Exception);
    EXPECT_EQ(snapshot(target), before);
}
