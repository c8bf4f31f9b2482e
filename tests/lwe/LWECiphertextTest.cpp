#include "Quelt/LWE/Ciphertext.hpp"

#include "Quelt/Exception.hpp"
#include "lwe/LWEPrecondition.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"
#include "support/LweTestSupport.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using LWE::Ciphertext;
using LWE::ParameterPreset;
using Quelt::test::bytesOf;
using Quelt::test::TempFile;

constexpr u64 kSD3Hash = 0x72525cdf9a76976cULL;
constexpr u64 kDim = 32; // SD3

std::shared_ptr<LWE::ContextContent> sd3() { return lweContext(ParameterPreset::SD3); }

// An SD3 ciphertext at `level` with counter `counter`: mask residue j of limb
// i is 1000 i + j + seed, body residue i is 11 (i + 1) + seed.
Ciphertext patterned(u64 level, int counter, u64 seed = 1) {
    Ciphertext ct(sd3());
    ct.setLevel(level);
    for (u64 i = 0; i <= level; ++i) {
        for (u64 j = 0; j < kDim; ++j)
            ct.getAxData(i)[j] = 1000 * i + j + seed;
        ct.getBxData()[i] = 11 * (i + 1) + seed;
    }
    ct.setRescaleCounter(counter);
    return ct;
}

// The record of patterned(1, 1) written by hand, in either byte order.
std::string handWrittenRecord(bool big) {
    std::string r(1, big ? '\0' : '\1');
    r += bytesOf<u64>(kSD3Hash, big) + bytesOf<std::uint32_t>(3, big) +
         bytesOf<std::int32_t>(1, big);
    r += bytesOf<u64>(kDim, big) + bytesOf<u64>(1, big) + bytesOf<u64>(2 * kDim, big);
    for (u64 i = 0; i <= 1; ++i)
        for (u64 j = 0; j < kDim; ++j)
            r += bytesOf<u64>(1000 * i + j + 1, big);
    r += bytesOf<u64>(4, big) + bytesOf<u64>(1, big) + std::string(1, '\0') + bytesOf<u64>(2, big);
    r += bytesOf<u64>(12, big) + bytesOf<u64>(23, big);
    return r;
}

// Offsets of the record of a level-1 SD3 ciphertext.
constexpr std::size_t kCodeAt = 9, kCounterAt = 13, kDimensionAt = 17, kMaskLevelAt = 25,
                      kMaskCountAt = 33, kMaskWordsAt = 41, kBodySizeAt = 553, kBodyLevelAt = 561,
                      kBodyFlagAt = 569, kBodyCountAt = 570, kRecordSize = 594;

void put(std::string &bytes, std::size_t at, const std::string &field) {
    bytes.replace(at, field.size(), field);
}

TEST(LWECiphertextTest, FreshCiphertextAndLevels) {
    Ciphertext ct(sd3());
    EXPECT_EQ(ct.getLevel(), 3u);
    EXPECT_EQ(ct.getRescaleCounter(), 0);
    EXPECT_EQ(ct.getDevice(), kHostDevice);
    EXPECT_EQ(ct.getAx().getDimension(), kDim);
    EXPECT_EQ(ct.getAx().getData().size(), 4 * kDim);
    EXPECT_EQ(ct.getBx().getSize(), 4u);
    EXPECT_EQ(ct.getContext(), sd3());

    ct = patterned(3, 0);
    // Dropping to level 0 keeps the residues of prime 0; growing again does
    // not zero the limbs that come back.
    ct.setLevel(0);
    EXPECT_EQ(ct.getLevel(), 0u);
    EXPECT_EQ(ct.getAx().getData().size(), kDim);
    EXPECT_EQ(ct.getBx().getData().size(), 1u);
    EXPECT_EQ(ct.getAxData(0)[5], 6u);
    EXPECT_THROW(ct.getAxData(1), std::out_of_range);
    ct.setLevel(3);
    EXPECT_EQ(ct.getAxData(3)[7], 3008u);
    EXPECT_EQ(ct.getBxData()[2], 34u);

    expectThrowsMessage([&] { ct.setLevel(4); }, "[LWE Ciphertext] Level exceeds the prime chain");
    EXPECT_EQ(ct.getLevel(), 3u);
    EXPECT_THROW(ct.getAxData(4), std::out_of_range);

    expectThrowsMessage([] { Ciphertext(nullptr); }, "[Context] The context is null");
}

TEST(LWECiphertextTest, RescaleCounterRules) {
    Ciphertext ct = patterned(2, 0);
    ct.setRescaleCounter(2);
    EXPECT_EQ(ct.getRescaleCounter(), 2);
    expectThrowsMessage([&] { ct.setRescaleCounter(3); },
                        "Rescale counter should be less than or equal to the level");
    expectThrowsMessage([&] { ct.setRescaleCounter(-1); },
                        "Rescale counter should be greater than or equal to zero");
    EXPECT_EQ(ct.getRescaleCounter(), 2);
    // The comparison is signed and holds at level 0 too.
    ct.setLevel(0);
    expectThrowsMessage([&] { ct.setRescaleCounter(1); },
                        "Rescale counter should be less than or equal to the level");
    ct.setRescaleCounter(0);

    // Mask and body at different levels: every level-reading call refuses.
    ct.getAx().setLevel(1);
    expectThrowsMessage([&] { ct.getLevel(); }, "Operands have different levels.");
    expectThrowsMessage([&] { ct.setRescaleCounter(0); }, "Operands have different levels.");
}

TEST(LWECiphertextTest, DevicesAndCopies) {
    const Ciphertext original = patterned(3, 1);
    Ciphertext copy = original;
    copy.getAxData(0)[0] = 999;
    copy.setRescaleCounter(0);
    EXPECT_EQ(original.getAxData(0)[0], 1u);
    EXPECT_EQ(original.getRescaleCounter(), 1);

    copy.to(kHostDevice);
    copy.allocate(kHostDevice);
    EXPECT_EQ(copy.getAxData(0)[0], 999u);

    // An empty accelerator array is the one that can exist in this build.
    copy.getAx().getData() = DeviceSpecificArray<u64>(0, Device(1, 0));
    expectThrowsMessage([&] { copy.getDevice(); }, "Operands are in different devices.");
}

// Two operands with different counters and devices: the counters are
// compared first.
TEST(LWECiphertextTest, PreconditionComparesCountersBeforeDevices) {
    const Ciphertext host = patterned(1, 0);
    Ciphertext away = patterned(1, 1);
    away.getAx().getData() = DeviceSpecificArray<u64>(0, Device(1, 0));
    away.getBx().getData() = DeviceSpecificArray<u64>(0, Device(1, 0));
    expectThrowsMessage([&] { utils::checkPrecondition(host, away); },
                        "Two operands have different RescaleCounter");
    away.setRescaleCounter(0);
    expectThrowsMessage([&] { utils::checkPrecondition(host, away); },
                        "Two operands are in different devices");
    EXPECT_NO_THROW(utils::checkPrecondition(host, patterned(1, 0, 7)));
}

TEST(LWECiphertextTest, RecordIsByteExactInBothByteOrders) {
    const Ciphertext ct = patterned(1, 1);
    const std::string little = handWrittenRecord(false);
    ASSERT_EQ(little.size(), kRecordSize);
    EXPECT_EQ(streamBytes(ct), little);

    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        Ciphertext loaded = patterned(3, 0, 5);
        std::istringstream in(handWrittenRecord(big));
        loaded.load(in);
        EXPECT_EQ(loaded.getLevel(), 1u);
        EXPECT_EQ(loaded.getRescaleCounter(), 1);
        EXPECT_EQ(streamBytes(loaded), little);
    }
}

TEST(LWECiphertextTest, RoundTripsThroughStreamsAndFiles) {
    for (u64 level : {0u, 2u, 3u}) {
        const Ciphertext ct = patterned(level, static_cast<int>(level / 2), level + 3);
        const std::string bytes = streamBytes(ct);
        Ciphertext from_stream(sd3());
        std::istringstream in(bytes);
        from_stream.load(in);
        EXPECT_EQ(streamBytes(from_stream), bytes);

        const TempFile file("lwe_ciphertext_" + std::to_string(level));
        ct.save(file.path());
        EXPECT_EQ(file.read(), bytes);
        Ciphertext from_file(sd3());
        from_file.load(file.path());
        EXPECT_EQ(streamBytes(from_file), bytes);
    }
    const std::string missing = "/nonexistent-directory/ct.bin";
    Ciphertext ct(sd3());
    expectThrowsMessage([&] { ct.load(missing); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { ct.save(missing); }, "Cannot open file " + missing);
}

TEST(LWECiphertextTest, RecordOfAnotherContextIsRefused) {
    Ciphertext ss7(lweContext(ParameterPreset::SS7));
    ss7.setLevel(0);
    for (u64 j = 0; j < 1024; ++j)
        ss7.getAxData(0)[j] = j;
    ss7.getBxData()[0] = 5;
    Ciphertext target = patterned(2, 1, 9);
    const std::string before = streamBytes(target);
    std::istringstream in(streamBytes(ss7));
    expectThrowsMessage([&] { target.load(in); },
                        "[Verifier::load] Validation failed during deserializing objects.");
    EXPECT_EQ(streamBytes(target), before);
}

// Each damaged record gives its message, and the ciphertext loaded into keeps
// every byte it had.
TEST(LWECiphertextTest, DamagedRecordsLeaveTheCiphertextUnchanged) {
    const std::string good = handWrittenRecord(false);
    struct Case {
        const char *name;
        std::function<std::string()> record;
        std::string message; // empty: a short read
    };
    auto edited = [&](std::size_t at, const std::string &field) {
        return [=] {
            std::string r = good;
            put(r, at, field);
            return r;
        };
    };
    // A mask of three limbs for a level-1 ciphertext.
    auto threeLimbMask = [&] {
        std::string r = good.substr(0, kMaskCountAt) + bytesOf<u64>(3 * kDim) +
                        good.substr(kMaskWordsAt, 2 * kDim * 8) + std::string(kDim * 8, '\0') +
                        good.substr(kBodySizeAt);
        return r;
    };
    const std::vector<Case> cases{
        {"hash", edited(1, bytesOf<u64>(kSD3Hash + 1)),
         "[Verifier::load] Validation failed during deserializing objects."},
        {"code", edited(kCodeAt, bytesOf<std::uint32_t>(2)),
         "[Verifier::load] Validation failed during deserializing objects."},
        {"dimension", edited(kDimensionAt, bytesOf<u64>(kDim - 1)),
         "[LevelledVector::load] Dimension does not match the context"},
        {"mask level", edited(kMaskLevelAt, bytesOf<u64>(4)),
         "[LevelledVector::load] Level exceeds the prime chain"},
        {"mask count", edited(kMaskCountAt, bytesOf<u64>(2 * kDim - 1)),
         "[LevelledVector::load] Array length does not match the header"},
        {"mask longer than its level", threeLimbMask,
         "[LWE Ciphertext] The stored mask array does not match its level"},
        {"body size", edited(kBodySizeAt, bytesOf<u64>(5)),
         "[LevelledElement::load] Size does not match the context"},
        {"body mod-up", edited(kBodyFlagAt, std::string(1, '\1')),
         "[LevelledElement::load] Invalid flag byte"},
        {"body count", edited(kBodyCountAt, bytesOf<u64>(5)),
         "[LevelledElement::load] Array length does not match the header"},
        {"body level", edited(kBodyLevelAt, bytesOf<u64>(0)), "Operands have different levels."},
        {"counter above level", edited(kCounterAt, bytesOf<std::int32_t>(2)),
         "Rescale counter should be less than or equal to the level"},
        {"negative counter", edited(kCounterAt, bytesOf<std::int32_t>(-1)),
         "Rescale counter should be greater than or equal to zero"},
        {"cut in the header", [&] { return good.substr(0, 6); }, ""},
        {"cut in the mask", [&] { return good.substr(0, kMaskWordsAt + 100); }, ""},
        {"cut in the body", [&] { return good.substr(0, kRecordSize - 1); }, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Ciphertext target = patterned(3, 2, 40);
        const std::string before = streamBytes(target);
        std::istringstream in(c.record());
        if (c.message.empty())
            EXPECT_THROW(target.load(in), cereal::Exception);
        else
            expectThrowsMessage([&] { target.load(in); }, c.message);
        EXPECT_EQ(streamBytes(target), before);
    }
    Ciphertext target(sd3());
    std::istringstream in(good.substr(0, kMaskWordsAt + 100));
    expectThrowsMessage<cereal::Exception>([&] { target.load(in); },
                                           "Failed to read 512 bytes from input stream! "
                                           "Read 100");
}

} // namespace
} // namespace Quelt::test
