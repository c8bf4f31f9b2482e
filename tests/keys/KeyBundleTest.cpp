#include "Quelt/KeyBundle.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyBundleTestSupport.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;
using QueltTest::bytesOf;
using test::fillKey;
using test::keyOf;
using test::keyWords;
using test::recordOf;
using test::savedKey;

namespace {

template <typename Bundle>
Bundle filledBundle(Bundle bundle, u64 seed) {
    test::fillBundle(bundle, seed, true);
    return bundle;
}

std::string id(std::uint32_t value) { return bytesOf(value); }
std::string count(u64 value) { return bytesOf(value); }

const std::shared_ptr<ContextContent> &ctx() {
    static const auto context = test::fourSecretContext();
    return context;
}

std::string rangeMessage(u64 i, u64 n) {
    return "vector::_M_range_check: __n (which is " + std::to_string(i) +
           ") >= this->size() (which is " + std::to_string(n) + ")";
}

template <typename Bundle>
void expectShape(const Bundle &bundle, u64 keys, char type) {
    ASSERT_EQ(bundle.getNumKeys(), keys);
    const u64 d = getGadgetRank(ctx());
    for (u64 i = 0; i < keys; ++i) {
        SCOPED_TRACE(i);
        const auto key = keyOf(bundle, i);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->getType(), type);
        EXPECT_EQ(key->getContext(), ctx());
        EXPECT_EQ(key->getContextHash(), ctx()->getHash());
        EXPECT_EQ(key->getAux(), 0u);
        EXPECT_EQ(test::masksOf(*key).size(), d);
        EXPECT_EQ(test::bodiesOf(*key).size(), d * getNumSecret(ctx()));
        // The getter hands out the held key itself, and keys are distinct.
        EXPECT_EQ(keyOf(bundle, i), key);
        if (i > 0) {
            EXPECT_NE(keyOf(bundle, i - 1), key);
        }
    }
    expectThrowsMessage<std::out_of_range>([&] { keyOf(bundle, keys); }, rangeMessage(keys, keys));
}

} // namespace

TEST(KeyBundleTest, ConstructorsMakeEmptyKeysOfTheirType) {
    expectShape(IncreaseNSKeyBundle(ctx(), 3), 3, 'i');
    expectShape(ModPackKeyBundle(ctx(), 2), 2, 'p');
    expectShape(MStoSSKeyBundle(ctx()), 4, 'z');
    expectShape(SStoMSKeyBundle(ctx()), 4, 'x');
    expectShape(IncreaseNSKeyBundle(), 0, 0);
    expectShape(ModPackKeyBundle(ctx(), 0), 0, 0);

    // Copies share the key objects.
    const ModPackKeyBundle a(ctx(), 1);
    const ModPackKeyBundle b = a;
    EXPECT_EQ(a.getModPackKey(0), b.getModPackKey(0));
    expectThrowsMessage([] { IncreaseNSKeyBundle(nullptr, 1); }, "[Context] The context is null");
}

TEST(KeyBundleTest, BodyLayout) {
    // No key: the byte-order byte and the count 0; `to` has nothing to move.
    IncreaseNSKeyBundle none(ctx(), 0);
    none.to(kHostDevice);
    EXPECT_EQ(test::savedBundle(none), std::string(1, '\1') + count(0));
    EXPECT_EQ(test::savedBundle(IncreaseNSKeyBundle()), std::string(1, '\1') + count(0));

    const auto two = filledBundle(ModPackKeyBundle(ctx(), 2), 1);
    EXPECT_EQ(test::savedBundle(two), std::string(1, '\1') + count(2) + id(0x80000001) +
                                          recordOf(*two.getModPackKey(0)) + id(0x80000002) +
                                          recordOf(*two.getModPackKey(1)));

    // Bundles written into one archive number their keys on from each other,
    // and a key they share is written once.
    const auto three = filledBundle(SStoMSKeyBundle(test::twoSecretContext()), 7);
    std::ostringstream out;
    Serialize::save(out, two, three, two);
    EXPECT_EQ(out.str(), test::savedBundle(two) + count(2) + id(0x80000003) +
                             recordOf(*three.getSStoMSKey(0)) + id(0x80000004) +
                             recordOf(*three.getSStoMSKey(1)) + count(2) + id(1) + id(2));
}

TEST(KeyBundleTest, LoadReplacesTheListWithContextFreeKeys) {
    const auto source = filledBundle(ModPackKeyBundle(ctx(), 3), 5);
    const std::string bytes = test::savedBundle(source);

    for (u64 made : {u64{3}}) {
        SCOPED_TRACE(made);
        ModPackKeyBundle target(ctx(), made);
        const auto held = made > 0 ? target.getModPackKey(0) : nullptr;
        const auto heldWords = held ? keyWords(*held) : decltype(keyWords(*held)){};
        test::loadBundle(target, bytes);
        ASSERT_EQ(target.getNumKeys(), 3u);
        for (u64 i = 0; i < 3; ++i) {
            const auto key = target.getModPackKey(i);
            EXPECT_FALSE(key->getContext());
            EXPECT_EQ(key->getType(), 'p');
            EXPECT_EQ(key->getContextHash(), ctx()->getHash());
            EXPECT_EQ(key->getGadgetRank(), getGadgetRank(ctx()));
            EXPECT_EQ(keyWords(*key), keyWords(*source.getModPackKey(i)));
        }
        EXPECT_EQ(test::savedBundle(target), bytes);
        // A key taken before the load is the old one, unchanged.
        if (held) {
            EXPECT_EQ(held->getContext(), ctx());
            EXPECT_EQ(keyWords(*held), heldWords);
        }
    }

    // The bundle takes only what it was made for: its own key count, and
    // keys of its type for its context (an SStoMS stream is not an MStoSS
    // bundle).
    for (u64 made : {u64{5}, u64{0}}) {
        SCOPED_TRACE(made);
        ModPackKeyBundle target(ctx(), made);
        test::expectThrowsMessage([&] { test::loadBundle(target, bytes); },
                                  KeyBundleMessages::kCountMismatch);
        EXPECT_EQ(target.getNumKeys(), made);
    }
    const auto sstoms = filledBundle(SStoMSKeyBundle(test::twoSecretContext()), 9);
    MStoSSKeyBundle mstoss(test::twoSecretContext());
    const std::string before = test::savedBundle(mstoss);
    test::expectThrowsMessage([&] { test::loadBundle(mstoss, test::savedBundle(sstoms)); },
                              KeyBundleMessages::kForeignKey);
    EXPECT_EQ(test::savedBundle(mstoss), before);
}

TEST(KeyBundleTest, EmptyAndRepeatedEntries) {
    const auto source = filledBundle(IncreaseNSKeyBundle(ctx(), 1), 3);
    const std::string record = recordOf(*source.getIncreaseNSKey(0));

    // A repeated identifier shares one key object; identifier 0 is an empty
    // element, which `to` skips and save writes back as 0.
    const std::string bytes =
        std::string(1, '\1') + count(4) + id(0) + id(0x80000001) + record + id(1) + id(0);
    IncreaseNSKeyBundle target;
    test::loadBundle(target, bytes);
    ASSERT_EQ(target.getNumKeys(), 4u);
    EXPECT_FALSE(target.getIncreaseNSKey(0));
    EXPECT_FALSE(target.getIncreaseNSKey(3));
    ASSERT_TRUE(target.getIncreaseNSKey(1));
    EXPECT_EQ(target.getIncreaseNSKey(1), target.getIncreaseNSKey(2));
    target.to(kHostDevice);
    EXPECT_EQ(test::savedBundle(target), bytes);
}

TEST(KeyBundleTest, DamagedStreamsLeaveTheBundleAsItWas) {
    const auto source = filledBundle(MStoSSKeyBundle(ctx()), 11);
    const std::string good = test::savedBundle(source);
    const std::string record = recordOf(*source.getMStoSSKey(0));
    std::string wrongCode = good;
    wrongCode.replace(1 + 8 + 4, 4, id(0));

    struct Case {
        const char *name;
        std::string bytes;
        std::string message; // empty: a short read
    };
    const std::vector<Case> cases = {
        {"unknown identifier", std::string(1, '\1') + count(4) + id(2),
         "Error while trying to deserialize a smart pointer. Could not find id 2"},
        {"object code 0", wrongCode, Verifier::kValidationFailed},
        {"cut in the last key", good.substr(0, good.size() - 1), ""},
        {"cut in an identifier", good.substr(0, 11), ""},
        {"huge count", std::string(1, '\1') + count(u64{1} << 60) + id(0x80000001) + record,
         KeyBundleMessages::kCountMismatch},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MStoSSKeyBundle target = filledBundle(MStoSSKeyBundle(ctx()), 50);
        const std::string before = test::savedBundle(target);
        const auto first = target.getMStoSSKey(0);
        try {
            test::loadBundle(target, c.bytes);
            ADD_FAILURE() << "the load succeeded";
        } catch (const std::exception &e) {
            if (c.message.empty())
                EXPECT_THAT(e.what(), testing::StartsWith("Failed to read "));
            else
                EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(target.getMStoSSKey(0), first);
        EXPECT_EQ(test::savedBundle(target), before);
    }
}

TEST(KeyBundleTest, BigEndianStreamLoads) {
    const auto source = filledBundle(SStoMSKeyBundle(test::twoSecretContext()), 13);
    const std::string le = test::savedBundle(source);
    std::string be = le;
    be[0] = 0;
    std::reverse(be.begin() + 1, be.begin() + 9);
    std::size_t at = 9;
    for (int k = 0; k < 2; ++k) {
        std::reverse(be.begin() + static_cast<std::ptrdiff_t>(at),
                     be.begin() + static_cast<std::ptrdiff_t>(at + 4));
        at = test::reverseEvaluationKeyRecord(be, at + 4);
    }
    ASSERT_EQ(at, be.size());
    SStoMSKeyBundle target(test::twoSecretContext());
    test::loadBundle(target, be);
    EXPECT_EQ(test::savedBundle(target), le);
}

TEST(KeyBundleTest, ModPackPathForms) {
    const auto source = filledBundle(ModPackKeyBundle(ctx(), 2), 17);
    const QueltTest::TempFile file("modpack_bundle");
    source.save(file.path());
    EXPECT_EQ(file.read(), test::savedBundle(source));
    ModPackKeyBundle target(ctx(), 2);
    target.load(file.path());
    EXPECT_EQ(test::savedBundle(target), test::savedBundle(source));

    const std::string missing = "/nonexistent-dir/bundle";
    expectThrowsMessage([&] { source.save(missing); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { target.load(missing); }, "Cannot open file " + missing);
}
