#include "Quelt/KeyPack.hpp"

#include "Quelt/Exception.hpp"
#include "client/KeyPackImpl.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::bytesOf;
using Quelt::test::thrownMessage;
using test::expectThrowsMessage;
using test::filledConjKey;
using test::filledMultKey;
using test::filledRotKey;
using test::implOf;
using test::storedForm;
using testing::StartsWith;

namespace {

constexpr const char *kVerifierMessage =
    "[Verifier::load] Validation failed during deserializing objects.";

std::shared_ptr<ContextContent> ctx() { return Quelt::test::degree64FourPrimes(); }

std::string saved(const KeyPack &pack) {
    std::ostringstream out;
    pack.save(out);
    return out.str();
}

void loadInto(KeyPack &pack, const std::string &bytes) {
    std::istringstream in(bytes);
    pack.load(in);
}

// A key's record inside a larger archive: its standalone form without the
// byte-order byte.
template <typename Key>
std::string record(const Key &key) {
    return storedForm(key).substr(1);
}

std::string id(std::uint32_t value) { return bytesOf(value); }
std::string newId(std::uint32_t n) { return bytesOf(n | 0x80000000u); }

// A pack holding every kind of key the stream carries, and a fused key.
KeyPack fullPack() {
    const KeyPack pack(ctx());
    KeyPackImpl &impl = implOf(pack);
    impl.installEncKey(test::generatedEncKey(ctx()));
    impl.installMultKey(filledMultKey(ctx(), 1));
    impl.installConjKey(filledConjKey(ctx(), 2));
    for (const std::uint64_t idx : {9, 1, 4})
        impl.tryEmplaceRotKey(idx, filledRotKey(ctx(), idx, 10 + idx));
    impl.tryEmplaceFuseRotKey(2, test::filledFuseRotKey(ctx(), 3));
    return pack;
}

} // namespace

TEST(KeyPackStreamTest, AnEmptyPackIsTwentyFiveBytes) {
    const std::string expected = "\x01" + id(0) + id(0) + id(0) + bytesOf(std::uint64_t{0}) + id(0);
    EXPECT_EQ(expected.size(), 25u);
    EXPECT_EQ(saved(KeyPack(ctx())), expected);
}

// Identifiers run 1, 2, ... over all fields in the order of first
// occurrence.
TEST(KeyPackStreamTest, IdentifiersNumberEveryKeyOnce) {
    const KeyPack pack(ctx());
    KeyPackImpl &impl = implOf(pack);
    const auto enc = test::generatedEncKey(ctx());
    const auto mult = filledMultKey(ctx(), 1);
    const auto rot1 = filledRotKey(ctx(), 1, 2);
    const auto rot4 = filledRotKey(ctx(), 4, 3);
    impl.installEncKey(enc);
    impl.installMultKey(mult);
    impl.tryEmplaceRotKey(4, rot4);
    impl.tryEmplaceRotKey(1, rot1);
    EXPECT_EQ(saved(pack), "\x01" + newId(1) + record(*enc) + newId(2) + record(*mult) + id(0) +
                               bytesOf(std::uint64_t{2}) + bytesOf(std::uint64_t{1}) + newId(3) +
                               record(*rot1) + bytesOf(std::uint64_t{4}) + newId(4) +
                               record(*rot4) + id(0));
}

// One key object in two places is written once and read back as one object.
TEST(KeyPackStreamTest, AKeyHeldTwiceIsSharedAgain) {
    const KeyPack pack(ctx());
    const auto enc = test::generatedEncKey(ctx());
    const auto mult = filledMultKey(ctx(), 1);
    implOf(pack).installEncKey(enc);
    implOf(pack).installMultKey(mult);
    implOf(pack).tryEmplaceRotKey(3, mult);
    const std::string bytes = saved(pack);
    EXPECT_EQ(bytes, "\x01" + newId(1) + record(*enc) + newId(2) + record(*mult) + id(0) +
                         bytesOf(std::uint64_t{1}) + bytesOf(std::uint64_t{3}) + id(2) + id(0));

    // The multiplication key filed as rotation key 3 is not the rotation key
    // of 3: the load refuses it and the pack keeps what it held.
    KeyPack loaded = fullPack();
    const std::string before = saved(loaded);
    expectThrowsMessage([&] { loadInto(loaded, bytes); }, kVerifierMessage);
    EXPECT_EQ(saved(loaded), before);
}

TEST(KeyPackStreamTest, RoundTripReplacesTheStreamsKindsOnly) {
    const KeyPack source = fullPack();
    const std::string bytes = saved(source);
    // The fused key is not written: the stream is that of the pack without it.
    const KeyPack withoutFused(ctx());
    implOf(withoutFused).installEncKey(source.getEncKey());
    implOf(withoutFused).installMultKey(source.getMultKey());
    implOf(withoutFused).installConjKey(source.getConjKey());
    for (const std::uint64_t idx : {1, 4, 9})
        implOf(withoutFused).tryEmplaceRotKey(idx, source.getLeftRotKey(idx, 0));
    EXPECT_EQ(saved(withoutFused), bytes);

    // Into a pack that holds other rotation keys, a fused key and no
    // conjugation key of the stream's.
    KeyPack target(ctx());
    implOf(target).tryEmplaceRotKey(2, filledRotKey(ctx(), 2, 2));
    implOf(target).tryEmplaceRotKey(4, filledRotKey(ctx(), 4, 99));
    const auto fused = test::filledFuseRotKey(ctx(), 7);
    implOf(target).tryEmplaceFuseRotKey(5, fused);
    loadInto(target, bytes);
    EXPECT_EQ(saved(target), bytes);
    EXPECT_EQ(implOf(target).getRotKeyList(true), (std::vector<std::uint64_t>{1, 4, 9}));
    EXPECT_EQ(target.getFuseRotKey(5), fused);
    // Loaded keys carry no context of their own.
    for (const auto &key : {target.getMultKey(), target.getConjKey(), target.getLeftRotKey(9, 0)})
        EXPECT_EQ(key->getContext(), nullptr);

    // An empty stream empties the five kinds.
    loadInto(target, saved(KeyPack(ctx())));
    EXPECT_FALSE(target.isEncKeyLoaded() || target.isMultKeyLoaded() || target.isConjKeyLoaded());
    EXPECT_TRUE(implOf(target).getRotKeyList(true).empty());
    EXPECT_EQ(target.getFuseRotKey(5), fused);
}

// A rotation key cut to fewer digits keeps its digit count as its dnum.
TEST(KeyPackStreamTest, ACutRotationKeyKeepsItsDigits) {
    const auto five = Quelt::test::fiveDigitContext();
    const KeyPack source(five);
    auto cut = filledRotKey(five, 3, 1);
    cut->resizeDnumForRotkey(2);
    implOf(source).tryEmplaceRotKey(3, cut);
    implOf(source).tryEmplaceRotKey(4, filledRotKey(five, 4, 2));
    KeyPack loaded(five);
    loadInto(loaded, saved(source));
    EXPECT_FALSE(loaded.isLeftRotKeyLoaded(3, 0)) << "a cut key does not serve every digit";
    EXPECT_TRUE(loaded.isLeftRotKeyLoaded(4, 0));
    loaded.setMinimalKeyLoad(true);
    EXPECT_TRUE(loaded.isLeftRotKeyLoaded(3, 2));
    EXPECT_FALSE(loaded.isLeftRotKeyLoaded(3, 3));
    EXPECT_EQ(loaded.getLeftRotKey(3, 2)->getDnum(), 2u);
    EXPECT_EQ(loaded.getLeftRotKey(4, 0)->getDnum(), 0u);
}

TEST(KeyPackStreamTest, ARepeatedIndexKeepsItsFirstKey) {
    const auto first = filledRotKey(ctx(), 5, 1);
    const auto second = filledRotKey(ctx(), 5, 2);
    const std::string bytes = "\x01" + id(0) + id(0) + id(0) + bytesOf(std::uint64_t{2}) +
                              bytesOf(std::uint64_t{5}) + newId(1) + record(*first) +
                              bytesOf(std::uint64_t{5}) + newId(2) + record(*second) + id(0);
    KeyPack pack(ctx());
    loadInto(pack, bytes);
    EXPECT_EQ(implOf(pack).getRotKeyList(true), std::vector<std::uint64_t>{5});
    EXPECT_EQ(storedForm(*pack.getLeftRotKey(5, 0)), storedForm(*first));
}

// A stream that is cut or damaged anywhere leaves the pack as it was.
TEST(KeyPackStreamTest, ADamagedStreamChangesNothing) {
    const std::string good = saved(fullPack());
    const std::string enc = record(*test::generatedEncKey(ctx()));
    const std::string mult = record(*filledMultKey(ctx(), 1));
    const std::string header = "\x01" + newId(1) + enc;
    const std::string tail = id(0) + bytesOf(std::uint64_t{0}) + id(0);
    std::string wrongCode = mult;
    wrongCode[0] = 0;
    struct Case {
        std::string what;
        std::string bytes;
        std::function<void(const std::function<void()> &)> expect;
    };
    const auto verifier = [](const std::function<void()> &load) {
        expectThrowsMessage(load, kVerifierMessage);
    };
    std::vector<Case> cases = {
        {"an evaluation key with object code 0", header + newId(2) + wrongCode + tail, verifier},
        {"an encryption key referred to as the multiplication key", header + id(1) + tail,
         verifier},
        {"an identifier introduced twice", header + newId(1) + mult + tail, verifier},
        {"an unknown identifier", header + id(7) + tail,
         [](const std::function<void()> &load) {
             expectThrowsMessage<cereal::Exception>(
                 load, "Error while trying to deserialize a smart pointer. Could "
                       "not find id 7");
         }},
        {"an encapsulation key in a pack without a sparse context",
         "\x01" + id(0) + id(0) + id(0) + bytesOf(std::uint64_t{0}) + newId(1) + mult + mult,
         [](const std::function<void()> &load) {
             expectThrowsMessage(
                 load, "[KeyPack] The key pack was not constructed with a sparse context");
         }},
    };
    for (const std::size_t cut :
         {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{5}, std::size_t{200},
          good.size() / 3, good.size() / 2, good.size() - 13, good.size() - 1})
        cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut),
                         [](const std::function<void()> &load) {
                             EXPECT_THAT(thrownMessage<cereal::Exception>(load),
                                         StartsWith("Failed to read "));
                         }});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        KeyPack pack = fullPack();
        const std::string before = saved(pack);
        const auto fused = pack.getFuseRotKey(2);
        c.expect([&] { loadInto(pack, c.bytes); });
        EXPECT_EQ(saved(pack), before);
        EXPECT_EQ(pack.getFuseRotKey(2), fused);
    }
}
