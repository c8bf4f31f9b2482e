#include "Quelt/MultiSecretSwitchKeyBundle.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyBundleTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;
using QueltTest::bytesOf;
using test::fillBundle;
using test::keyOf;
using test::loadBundle;
using test::recordOf;
using test::savedBundle;

namespace {

using ContextList = std::vector<std::shared_ptr<ContextContent>>;

// Degree 64, one base prime and one temporary prime: copies of one chain
// with 1, 2, 3, 4 and 8 secrets.
std::shared_ptr<ContextContent> secrets(u64 n) {
    static const auto base = makeContext(6, 1, 40, 40, 40, 1);
    static std::map<u64, std::shared_ptr<ContextContent>> made;
    auto &ctx = made[n];
    if (!ctx)
        ctx = n == 1 ? base : genMultiSecretContext(base, "NS" + std::to_string(n), n);
    return ctx;
}

// FX (degree 64) and its variants with n secrets.
std::shared_ptr<ContextContent> fx(u64 n) {
    static std::map<u64, std::shared_ptr<ContextContent>> made;
    auto &ctx = made[n];
    if (!ctx)
        ctx = n == 1 ? makeContext(ParameterPreset::FX)
                     : makeContext(ParameterPreset::FX, "FXMS", n, false, false);
    return ctx;
}

void fillAll(SStoMSBisectionKeyBundle &b, u64 seed) {
    fillBundle(b.getSStoMSKeyBundle(), seed);
    for (IncreaseNSKeyBundle &step : b.getIncreaseNSKeyBundleVec())
        fillBundle(step, seed += 1000);
}

void fillAll(MultiSecretSwitchKeyBundle &b, u64 seed) {
    fillBundle(b.getMStoSSKeyBundle(), seed);
    fillAll(b.getSStoMSBisectionKeyBundle(), seed + 10000);
}

std::string id(std::uint32_t value) { return bytesOf(value); }

} // namespace

TEST(SStoMSBisectionKeyBundleTest, FromAListOfContexts) {
    const ContextList ms = {secrets(2), secrets(4), secrets(8)};
    const SStoMSBisectionKeyBundle b(secrets(1), ms);
    EXPECT_EQ(b.getSSContext(), secrets(1));
    for (u64 i = 0; i < 3; ++i)
        EXPECT_EQ(b.getMSContext(i), ms[i]);
    ASSERT_EQ(b.getSStoMSKeyBundle().getNumKeys(), 2u);
    EXPECT_EQ(b.getSStoMSKeyBundle().getSStoMSKey(1)->getContext(), ms[0]);
    ASSERT_EQ(b.getIncreaseNSKeyBundleVec().size(), 2u);
    for (u64 i = 0; i < 2; ++i) {
        ASSERT_EQ(b.getIncreaseNSKeyBundle(i).getNumKeys(), 2u);
        EXPECT_EQ(b.getIncreaseNSKeyBundle(i).getIncreaseNSKey(1)->getContext(), ms[i]);
        EXPECT_EQ(b.getIncreaseNSKeyBundle(i).getIncreaseNSKey(1)->getType(), 'i');
    }
    EXPECT_THROW(b.getIncreaseNSKeyBundle(2), std::out_of_range);
    EXPECT_THROW(b.getMSContext(3), std::out_of_range);

    // One context of two secrets: no step.
    const SStoMSBisectionKeyBundle one(secrets(1), {secrets(2)});
    EXPECT_TRUE(one.getIncreaseNSKeyBundleVec().empty());
    EXPECT_EQ(one.getSStoMSKeyBundle().getNumKeys(), 2u);

    const std::vector<ContextList> mismatched = {
        {},
        {secrets(1)},
        {secrets(4), secrets(8)},
        {secrets(2), secrets(8)},
        {secrets(2), secrets(2), secrets(8)},
        {secrets(2), secrets(4), secrets(8), secrets(8)},
    };
    for (const ContextList &list : mismatched) {
        SCOPED_TRACE(list.size());
        expectThrowsMessage([&] { SStoMSBisectionKeyBundle(secrets(1), list); },
                            SStoMSBisectionKeyBundle::kContextMismatch);
    }
}

TEST(SStoMSBisectionKeyBundleTest, FromOnePresetContext) {
    const auto ms = fx(8);
    const SStoMSBisectionKeyBundle b(ms);
    EXPECT_EQ(getNumSecret(b.getSSContext()), 1u);
    EXPECT_EQ(getParameterPreset(b.getSSContext()), ParameterPreset::FX);
    EXPECT_EQ(getParameterName(b.getMSContext(0)), "FXMSNS2.000000");
    EXPECT_EQ(getParameterName(b.getMSContext(1)), "FXMSNS4.000000");
    EXPECT_EQ(getNumSecret(b.getMSContext(0)), 2u);
    EXPECT_EQ(getNumSecret(b.getMSContext(1)), 4u);
    EXPECT_EQ(b.getMSContext(2), ms);
    // The first merge goes into the two-secret context.
    EXPECT_EQ(b.getSStoMSKeyBundle().getNumKeys(), 2u);
    EXPECT_EQ(b.getSStoMSKeyBundle().getSStoMSKey(0)->getContext(), b.getMSContext(0));
    ASSERT_EQ(b.getIncreaseNSKeyBundleVec().size(), 2u);
    EXPECT_EQ(b.getIncreaseNSKeyBundle(1).getIncreaseNSKey(0)->getContext(), b.getMSContext(1));

    const SStoMSBisectionKeyBundle two(fx(2));
    EXPECT_EQ(two.getMSContext(0), fx(2));
    EXPECT_TRUE(two.getIncreaseNSKeyBundleVec().empty());

    expectThrowsMessage([] { SStoMSBisectionKeyBundle(fx(1)); },
                        SStoMSBisectionKeyBundle::kContextMismatch);
    expectThrowsMessage([] { SStoMSBisectionKeyBundle(secrets(4)); },
                        "Need to specify some parameters in order to use CUSTOM parameters.");
}

TEST(SStoMSBisectionKeyBundleTest, StreamForm) {
    SStoMSBisectionKeyBundle b(secrets(1), {secrets(2), secrets(4)});
    fillAll(b, 1);
    const auto &sstoms = b.getSStoMSKeyBundle();
    const auto &step = b.getIncreaseNSKeyBundle(0);
    // Identifiers continue from the SStoMS keys into the step's keys.
    const std::string bytes = savedBundle(b);
    EXPECT_EQ(bytes, std::string(1, '\1') + bytesOf(u64{2}) + id(0x80000001) +
                         recordOf(*sstoms.getSStoMSKey(0)) + id(0x80000002) +
                         recordOf(*sstoms.getSStoMSKey(1)) + bytesOf(u64{1}) + bytesOf(u64{2}) +
                         id(0x80000003) + recordOf(*step.getIncreaseNSKey(0)) + id(0x80000004) +
                         recordOf(*step.getIncreaseNSKey(1)));

    // A record of the bundle's own shape replaces the keys; the contexts stay
    // those of the construction.
    SStoMSBisectionKeyBundle same(secrets(1), {secrets(2), secrets(4)});
    fillAll(same, 5);
    loadBundle(b, savedBundle(same));
    EXPECT_EQ(savedBundle(b), savedBundle(same));
    EXPECT_FALSE(b.getIncreaseNSKeyBundle(0).getIncreaseNSKey(0)->getContext());
    EXPECT_EQ(b.getMSContext(1), secrets(4));

    // Two steps into a bundle made for one (and one into a bundle made for
    // two) are refused: the bundle takes only what it was made for.
    SStoMSBisectionKeyBundle big(secrets(1), {secrets(2), secrets(4), secrets(8)});
    fillAll(big, 7);
    const std::string bigBytes = savedBundle(big);
    const std::string sameBytes = savedBundle(b);
    test::expectThrowsMessage([&] { loadBundle(b, bigBytes); }, KeyBundleMessages::kCountMismatch);
    EXPECT_EQ(savedBundle(b), sameBytes);
    const std::string bigBefore = savedBundle(big);
    test::expectThrowsMessage([&] { loadBundle(big, sameBytes); },
                              KeyBundleMessages::kCountMismatch);
    EXPECT_EQ(savedBundle(big), bigBefore);

    // A cut stream changes nothing.
    SStoMSBisectionKeyBundle target(secrets(1), {secrets(2), secrets(4)});
    fillAll(target, 3);
    const std::string before = savedBundle(target);
    EXPECT_THROW(loadBundle(target, bigBytes.substr(0, bigBytes.size() - 3)), std::exception);
    EXPECT_EQ(savedBundle(target), before);
    EXPECT_EQ(target.getIncreaseNSKeyBundleVec().size(), 1u);
    // A damaged step count is refused before anything more is read.
    const std::string sstomsBytes = savedBundle(target.getSStoMSKeyBundle());
    test::expectThrowsMessage([&] { loadBundle(target, sstomsBytes + bytesOf(u64{1} << 60)); },
                              KeyBundleMessages::kCountMismatch);
    EXPECT_EQ(savedBundle(target), before);
}

TEST(MultiSecretSwitchKeyBundleTest, TwoAndFourContexts) {
    MultiSecretSwitchKeyBundle two(fx(1), fx(4));
    EXPECT_EQ(two.getSSContext(), fx(1));
    EXPECT_EQ(two.getMSContext(), fx(4));
    EXPECT_EQ(two.getMStoSSKeyBundle().getNumKeys(), 4u);
    EXPECT_EQ(two.getMStoSSKeyBundle().getMStoSSKey(3)->getContext(), fx(4));
    EXPECT_EQ(two.getSStoMSBisectionKeyBundle().getIncreaseNSKeyBundleVec().size(), 1u);
    expectThrowsMessage([&] { two.getMStoSSKeyBundleComplex(); },
                        MultiSecretSwitchKeyBundle::kNoComplexBundle);

    MultiSecretSwitchKeyBundle four(fx(1), fx(4), fx(1), fx(2));
    EXPECT_EQ(four.getMStoSSKeyBundle().getNumKeys(), 2u);
    EXPECT_EQ(four.getMStoSSKeyBundle().getMStoSSKey(0)->getContext(), fx(2));
    EXPECT_EQ(four.getSStoMSBisectionKeyBundle().getMSContext(1), fx(4));
    ASSERT_EQ(four.getMStoSSKeyBundleComplex().getNumKeys(), 1u);
    EXPECT_EQ(four.getMStoSSKeyBundleComplex().getMStoSSKey(0)->getContext(), fx(1));

    expectThrowsMessage([] { MultiSecretSwitchKeyBundle(fx(1), fx(1)); },
                        SStoMSBisectionKeyBundle::kContextMismatch);
}

TEST(MultiSecretSwitchKeyBundleTest, StreamAndFileForms) {
    MultiSecretSwitchKeyBundle two(fx(1), fx(4));
    MultiSecretSwitchKeyBundle four(fx(1), fx(4), fx(1), fx(4));
    fillAll(two, 5);
    fillAll(four, 5);
    fillBundle(four.getMStoSSKeyBundleComplex(), 99);
    const std::string bytes = savedBundle(two);
    // Neither contexts nor the 'complex' bundle are written.
    EXPECT_EQ(savedBundle(four), bytes);
    const auto &mstoss = two.getMStoSSKeyBundle();
    std::string mstossBytes = savedBundle(mstoss);
    EXPECT_EQ(bytes.substr(0, mstossBytes.size()), mstossBytes);

    loadBundle(four, bytes);
    expectThrowsMessage([&] { four.getMStoSSKeyBundleComplex(); },
                        MultiSecretSwitchKeyBundle::kNoComplexBundle);
    EXPECT_FALSE(four.getMStoSSKeyBundle().getMStoSSKey(0)->getContext());
    EXPECT_EQ(savedBundle(four), bytes);

    const QueltTest::TempFile file("multi_secret_switch_bundle");
    two.save(file.path());
    EXPECT_EQ(file.read(), bytes);
    MultiSecretSwitchKeyBundle target(fx(1), fx(4), fx(1), fx(4));
    // A failed load leaves even the 'complex' bundle.
    EXPECT_THROW(loadBundle(target, bytes.substr(0, bytes.size() / 2)), std::exception);
    EXPECT_EQ(target.getMStoSSKeyBundleComplex().getNumKeys(), 1u);
    target.load(file.path());
    EXPECT_EQ(savedBundle(target), bytes);
    target.to(kHostDevice);
    EXPECT_EQ(savedBundle(target), bytes);

    const std::string missing = "/nonexistent-dir/bundle";
    expectThrowsMessage([&] { two.save(missing); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { target.load(missing); }, "Cannot open file " + missing);
}
