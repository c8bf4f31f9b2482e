#include "Quelt/MultiSecretConverter.hpp"

#include "Quelt/KeyGenerator.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "context/Polynomial.hpp"
#include "conversion/ContextImbed.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyBundleTestSupport.hpp"
#include "support/MultiSecretTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using SsCiphertext = CiphertextBase<EncryptionType::RLWE>;
using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using MsKey = SecretKeyBase<EncryptionType::MSRLWE>;
using Converter = MultiSecretConverter;

// The multi-secret contexts share msBaseContext's primes: three secrets, and
// 2, 4 and 8 for the bisection.
const std::shared_ptr<ContextContent> &singleSecret() { return msBaseContext(); }
const std::shared_ptr<ContextContent> &threeSecrets() { return msThreeSecrets(); }
const std::vector<std::shared_ptr<ContextContent>> &doublings() {
    static const auto list = genMultiSecretContextVector(singleSecret(), 3, "Conv");
    return list;
}

constexpr u64 kLevel = 3;
// Fresh encryptions carry an error of about 21 sqrt(N) / 2^40 per slot; one
// key switch adds an error of the same order.
constexpr double kBound = 1e-6;

struct Keys {
    Keys()
        : ss(singleSecret()), ms(threeSecrets()), ms2(doublings()[0]), ms4(doublings()[1]),
          ms8(doublings()[2]) {
        const KeyGenerator generator(singleSecret());
        mstoss.emplace(generator.genMStoSSKeyBundle(ms.key, ss.key));
        sstoms.emplace(generator.genSStoMSKeyBundle(ss.key, ms.key));
        increase.emplace(generator.genIncreaseNSKeyBundle(ms2.key, ms4.key));
        bisection.emplace(generator.genSStoMSBisectionKeyBundle(
            ss.key, std::vector<MsKey>{ms2.key, ms4.key, ms8.key}));
        bisectionShort.emplace(
            generator.genSStoMSBisectionKeyBundle(ss.key, std::vector<MsKey>{ms2.key, ms4.key}));
        bisectionThree.emplace(
            generator.genSStoMSBisectionKeyBundle(ss.key, std::vector<MsKey>{ms.key}));
    }
    SchemeKeys<EncryptionType::RLWE> ss;
    SchemeKeys<EncryptionType::MSRLWE> ms, ms2, ms4, ms8;
    std::optional<MStoSSKeyBundle> mstoss;
    std::optional<SStoMSKeyBundle> sstoms;
    std::optional<IncreaseNSKeyBundle> increase;
    std::optional<SStoMSBisectionKeyBundle> bisection, bisectionShort, bisectionThree;
};

const Keys &keys() {
    static const Keys shared;
    return shared;
}

// The stream form of a bundle of `count` empty elements.
std::string emptyElements(u64 count) {
    std::string bytes(1, '\x01');
    for (int b = 0; b < 8; ++b)
        bytes.push_back(static_cast<char>((count >> (8 * b)) & 0xff));
    bytes.append(4 * count, '\0');
    return bytes;
}

// The bundle after loading `count` empty elements.
template <typename Bundle>
Bundle withEmptyKeys(Bundle bundle, u64 count) {
    loadBundle(bundle, emptyElements(count));
    return bundle;
}

// Outputs of three, four and eight secrets that refused calls must leave
// as they were.
struct Outputs {
    MsCiphertext three{threeSecrets(), false, true};
    MsCiphertext four{doublings()[1], false, true};
    MsCiphertext eight{doublings()[2], false, true};
    using Words = std::vector<std::vector<u64>>;
    const std::vector<Words> before{ciphertextWords(three), ciphertextWords(four),
                                    ciphertextWords(eight)};
    void expectUnchanged() const {
        EXPECT_EQ(ciphertextWords(three), before[0]);
        EXPECT_EQ(ciphertextWords(four), before[1]);
        EXPECT_EQ(ciphertextWords(eight), before[2]);
    }
};

class MultiSecretConverterTest : public testing::Test {
protected:
    Messages messages(u64 count, u64 log_slots = getLogFullSlots(singleSecret())) {
        return randomMessages(log_slots, count, rng);
    }
    SsCiphertext single() { return keys().ss.encrypt(messages(1), kLevel); }

    std::mt19937_64 rng{20261211};
    const Converter converter{};
};

TEST_F(MultiSecretConverterTest, MStoSSGivesOneCiphertextPerBody) {
    const Messages m = messages(3);
    const MsCiphertext ct = keys().ms.encrypt(m, kLevel);
    std::vector<SsCiphertext> outs(5, single()); // replaced
    converter.MStoSS(ct, *keys().mstoss, singleSecret(), outs);
    ASSERT_EQ(outs.size(), 3u);
    for (u64 i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(outs[i].getContext(), singleSecret());
        EXPECT_EQ(outs[i].getLevel(), kLevel);
        EXPECT_LE(largestSlotError(keys().ss.decrypt(outs[i]), {m[i]}), kBound);
    }

    // A short ciphertext (bodies 0 and 1 and the mask) gives two.
    MsCiphertext shortened = ct;
    shortened.getPoly(2) = ct.getPoly(3);
    shortened.setNumPoly(3);
    converter.MStoSS(shortened, *keys().mstoss, singleSecret(), outs);
    ASSERT_EQ(outs.size(), 2u);
    for (u64 i = 0; i < 2; ++i)
        EXPECT_LE(largestSlotError(keys().ss.decrypt(outs[i]), {m[i]}), kBound);
}

TEST_F(MultiSecretConverterTest, MStoSSOnThePresetOfTwoSecrets) {
    static const auto ms = makeContext(ParameterPreset::FGbD12NS2L1);
    static const auto ss = makeContext(ParameterPreset::FGbD12NS1L1);
    const SchemeKeys<EncryptionType::MSRLWE> msKeys(ms);
    const SchemeKeys<EncryptionType::RLWE> ssKeys(ss);
    const MStoSSKeyBundle bundle = KeyGenerator(ss).genMStoSSKeyBundle(msKeys.key, ssKeys.key);
    const Messages m = randomMessages(getLogFullSlots(ms), 2, rng);
    const MsCiphertext ct = msKeys.encrypt(m, getEncryptionLevel(ms));
    std::vector<SsCiphertext> outs;
    converter.MStoSS(ct, bundle, ss, outs);
    ASSERT_EQ(outs.size(), 2u);
    for (u64 i = 0; i < 2; ++i)
        EXPECT_LE(largestSlotError(ssKeys.decrypt(outs[i]), {m[i]}), kBound);
}

TEST_F(MultiSecretConverterTest, MStoSSKeepsTheMetadata) {
    const u64 log_slots = getLogFullSlots(singleSecret()) - 2;
    const Messages m = messages(3, log_slots);
    const MsCiphertext ct = keys().ms.encrypt(m, kLevel, 1);
    ASSERT_EQ(ct.getLogSlots(), log_slots);
    std::vector<SsCiphertext> outs;
    converter.MStoSS(ct, *keys().mstoss, singleSecret(), outs);
    ASSERT_EQ(outs.size(), 3u);
    for (u64 i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(outs[i].getLogSlots(), log_slots);
        EXPECT_EQ(outs[i].getRescaleCounter(), 1);
        EXPECT_EQ(outs[i].getEncodingType(), EncodingType::SLOT);
        EXPECT_LE(largestSlotError(keys().ss.decrypt(outs[i]), {m[i]}), kBound);
    }
    MsCiphertext coefficients = ct;
    coefficients.setEncodingType(EncodingType::COEFFICIENT);
    converter.MStoSS(coefficients, *keys().mstoss, singleSecret(), outs);
    EXPECT_EQ(outs.at(0).getEncodingType(), EncodingType::COEFFICIENT);
}

TEST_F(MultiSecretConverterTest, MStoSSRefusals) {
    const MsCiphertext ct = keys().ms.encrypt(messages(3), kLevel);
    // Other primes (50-bit base primes) and another degree.
    static const auto otherPrimes = makeContext(8, 5, 50, 40, 50, 2);
    static const auto otherDegree = makeContext(9, 5, 40, 40, 40, 2);
    std::vector<SsCiphertext> outs(1, single());
    const auto before = ciphertextWords(outs[0]);
    expectCases({
        {"primes", [&] { converter.MStoSS(ct, *keys().mstoss, otherPrimes, outs); },
         Converter::kIncompatibleContext},
        {"degree", [&] { converter.MStoSS(ct, *keys().mstoss, otherDegree, outs); },
         Converter::kIncompatibleContext},
        // A bundle without its keys cannot be made: its load refuses it.
        {"no key", [&] { withEmptyKeys(MStoSSKeyBundle(threeSecrets()), 0); },
         KeyBundleMessages::kCountMismatch},
        {"empty key", [&] { withEmptyKeys(MStoSSKeyBundle(threeSecrets()), 3); },
         KeyBundleMessages::kMissingKey},
    });
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_EQ(ciphertextWords(outs[0]), before);
}

// The first n messages a possibly short ciphertext (n bodies) decrypts to
// under `key`: the decryptor wants every body, so the missing ones are
// filled with copies of the mask and their messages dropped.
Messages decryptBodies(const SchemeKeys<EncryptionType::MSRLWE> &key, const MsCiphertext &ct) {
    const u64 n = ct.getNumPoly() - 1;
    const u64 k = getNumSecret(key.context);
    MsCiphertext full = ct;
    full.setNumPoly(k + 1);
    for (u64 j = n; j <= k; ++j)
        full.getPoly(j) = ct.getPoly(n);
    Messages m = key.decrypt(full);
    m.resize(n);
    return m;
}

TEST_F(MultiSecretConverterTest, SStoMSChecksInOrder) {
    using List = std::vector<SsCiphertext>;
    const SsCiphertext ct = single();
    MsCiphertext out(threeSecrets(), false, true);
    const auto before = ciphertextWords(out);
    expectCases({
        {"empty", [&] { converter.SStoMS(List{}, *keys().sstoms, out); }, Converter::kSStoMSEmpty},
        {"count", [&] { converter.SStoMS(List(4, ct), *keys().sstoms, out); },
         Converter::kSStoMSCount},
        // A bundle without its keys cannot be made: its load refuses it.
        {"key", [&] { withEmptyKeys(SStoMSKeyBundle(threeSecrets()), 3); },
         KeyBundleMessages::kMissingKey},
    });
    EXPECT_EQ(ciphertextWords(out), before);
}

// Input i becomes body i under secret i; MStoSS takes the result back.
TEST_F(MultiSecretConverterTest, SStoMSThenMStoSSRoundTrips) {
    std::vector<Messages> m;
    std::vector<SsCiphertext> cts;
    for (int i = 0; i < 3; ++i) {
        m.push_back(messages(1));
        cts.push_back(keys().ss.encrypt(m.back(), kLevel, 1));
    }
    for (u64 n : {u64{2}, u64{3}}) {
        SCOPED_TRACE(n);
        const std::vector<SsCiphertext> in(cts.begin(), cts.begin() + static_cast<long>(n));
        MsCiphertext out(threeSecrets(), false, true);
        converter.SStoMS(in, *keys().sstoms, out);
        ASSERT_EQ(out.getNumPoly(), n + 1);
        EXPECT_EQ(out.getLevel(), kLevel);
        EXPECT_EQ(out.getRescaleCounter(), 1);
        const Messages got = decryptBodies(keys().ms, out);
        ASSERT_EQ(got.size(), n);
        for (u64 i = 0; i < n; ++i)
            EXPECT_LE(largestSlotError({got[i]}, m[i]), kBound) << i;
        std::vector<SsCiphertext> back;
        converter.MStoSS(out, *keys().mstoss, singleSecret(), back);
        ASSERT_EQ(back.size(), n);
        for (u64 i = 0; i < n; ++i)
            EXPECT_LE(largestSlotError(keys().ss.decrypt(back[i]), m[i]), kBound) << i;
    }
}

TEST_F(MultiSecretConverterTest, IncreaseNSChecksInOrder) {
    using List = std::vector<MsCiphertext>;
    const MsCiphertext two = keys().ms2.encrypt(messages(2), kLevel);
    const MsCiphertext three = keys().ms.encrypt(messages(3), kLevel);
    MsCiphertext shortTwo = two;
    shortTwo.getPoly(1) = two.getPoly(2);
    shortTwo.setNumPoly(2);
    // Only a bundle made without a context takes empty elements.
    const auto emptyKeys = withEmptyKeys(IncreaseNSKeyBundle(), 2);
    MsCiphertext out(doublings()[1], false, true);
    const auto before = ciphertextWords(out);
    expectCases({
        {"empty", [&] { converter.IncreaseNS(List{}, *keys().increase, out); },
         Converter::kIncreaseNSEmpty},
        {"count", [&] { converter.IncreaseNS(List(3, two), *keys().increase, out); },
         Converter::kIncreaseNSCount},
        // 4 / 3 = 1 input at most: the count is reported though 3 does not divide 4.
        {"count before divisibility",
         [&] { converter.IncreaseNS(List(2, three), *keys().increase, out); },
         Converter::kIncreaseNSCount},
        {"divisibility", [&] { converter.IncreaseNS(List{three}, *keys().increase, out); },
         Converter::kIncreaseNSDivide},
        {"bodies",
         [&] {
             converter.IncreaseNS(List{two, three}, *keys().increase, out);
         },
         Converter::kIncreaseNSBodies},
        {"short input before the last",
         [&] {
             converter.IncreaseNS(List{shortTwo, two}, *keys().increase, out);
         },
         Converter::kIncreaseNSShortInput},
        {"key",
         [&] {
             converter.IncreaseNS(List{two, two}, emptyKeys, out);
         },
         Converter::kIncreaseNSKeyMissing},
    });
    EXPECT_EQ(ciphertextWords(out), before);
}

// The bodies of input j land at 2j and 2j + 1 of the four secrets; a short
// last input leaves its missing body out.
TEST_F(MultiSecretConverterTest, IncreaseNSPlacesTheBodiesOfEachInput) {
    using List = std::vector<MsCiphertext>;
    const Messages a = messages(2), b = messages(2);
    const MsCiphertext ca = keys().ms2.encrypt(a, kLevel), cb = keys().ms2.encrypt(b, kLevel);
    MsCiphertext shortB = cb;
    shortB.getPoly(1) = cb.getPoly(2);
    shortB.setNumPoly(2);
    MsCiphertext out(doublings()[1], false, true);
    converter.IncreaseNS(List{ca, cb}, *keys().increase, out);
    ASSERT_EQ(out.getNumPoly(), 5u);
    EXPECT_LE(largestSlotError(keys().ms4.decrypt(out), {a[0], a[1], b[0], b[1]}), kBound);
    converter.IncreaseNS(List{ca, shortB}, *keys().increase, out);
    ASSERT_EQ(out.getNumPoly(), 4u);
    EXPECT_LE(largestSlotError(decryptBodies(keys().ms4, out), {a[0], a[1], b[0]}), kBound);
}

// Fewer inputs than ns_to / ns_from: the result ends with the last input's
// last body; positions past it would carry no message (a missing body of a
// short input would even decrypt to noise).
TEST_F(MultiSecretConverterTest, IncreaseNSWithFewerInputsThanTheRatio) {
    using List = std::vector<MsCiphertext>;
    const Messages a = messages(2);
    const MsCiphertext ca = keys().ms2.encrypt(a, kLevel);
    MsCiphertext shortA = ca;
    shortA.getPoly(1) = ca.getPoly(2);
    shortA.setNumPoly(2);
    const struct {
        const char *name;
        const MsCiphertext *input;
        Messages expected;
    } rows[] = {
        {"full input", &ca, {a[0], a[1]}},
        {"short input", &shortA, {a[0]}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        MsCiphertext out(doublings()[1], false, true);
        converter.IncreaseNS(List{*row.input}, *keys().increase, out);
        ASSERT_EQ(out.getNumPoly(), row.expected.size() + 1);
        EXPECT_LE(largestSlotError(decryptBodies(keys().ms4, out), row.expected), kBound);
    }
}

// A polynomial in coefficient form cannot meet the switched parts, which
// come out in NTT form: every entry refuses it before any work, and leaves
// its output as it was.
TEST_F(MultiSecretConverterTest, CoefficientFormInputsAreRefused) {
    using SsList = std::vector<SsCiphertext>;
    using MsList = std::vector<MsCiphertext>;
    SsCiphertext coefficient = single();
    coefficient.backwardNTT();
    MsCiphertext msCoefficient = keys().ms.encrypt(messages(3), kLevel);
    msCoefficient.backwardNTT();
    const MsCiphertext two = keys().ms2.encrypt(messages(2), kLevel);
    MsCiphertext twoCoefficient = two;
    twoCoefficient.backwardNTT();

    Outputs outputs;
    MsCiphertext &intoThree = outputs.three, &intoFour = outputs.four, &intoEight = outputs.eight;
    std::vector<SsCiphertext> outs(1, single());
    const auto beforeOuts = ciphertextWords(outs[0]);
    expectCases({
        {"MStoSS", [&] { converter.MStoSS(msCoefficient, *keys().mstoss, singleSecret(), outs); },
         Converter::kMStoSSNotNTT},
        {"SStoMS, second input",
         [&] {
             converter.SStoMS(SsList{single(), coefficient}, *keys().sstoms, intoThree);
         },
         Converter::kSStoMSNotNTT},
        {"IncreaseNS, last input",
         [&] {
             converter.IncreaseNS(MsList{two, twoCoefficient}, *keys().increase, intoFour);
         },
         Converter::kIncreaseNSNotNTT},
        {"SStoMSBisection, last input",
         [&] {
             converter.SStoMSBisection(SsList{single(), single(), coefficient}, *keys().bisection,
                                       intoEight);
         },
         Converter::kBisectionNotNTT},
    });
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_EQ(ciphertextWords(outs[0]), beforeOuts);
    outputs.expectUnchanged();
}

// The result carries the first input's rescale counter, log slots and
// encoding for every body: an input that differs in any of them would
// decrypt to another value (a counter of 0 beside 1 came back off by more
// than 1 in every slot), so it is refused before any work.
TEST_F(MultiSecretConverterTest, InputsOfOtherMetadataAreRefused) {
    using SsList = std::vector<SsCiphertext>;
    using MsList = std::vector<MsCiphertext>;
    const SsCiphertext ct = keys().ss.encrypt(messages(1), kLevel, 1);
    const SsCiphertext counter = keys().ss.encrypt(messages(1), kLevel, 0);
    const SsCiphertext slots = keys().ss.encrypt(messages(1, 2), kLevel, 1);
    SsCiphertext coefficients = ct;
    coefficients.setEncodingType(EncodingType::COEFFICIENT);
    const MsCiphertext two = keys().ms2.encrypt(messages(2), kLevel, 1);
    const MsCiphertext twoCounter = keys().ms2.encrypt(messages(2), kLevel, 0);
    const MsCiphertext twoSlots = keys().ms2.encrypt(messages(2, 2), kLevel, 1);

    Outputs outputs;
    MsCiphertext &intoThree = outputs.three, &intoFour = outputs.four, &intoEight = outputs.eight;
    expectCases({
        {"SStoMS, counter",
         [&] {
             converter.SStoMS(SsList{ct, counter}, *keys().sstoms, intoThree);
         },
         Converter::kSStoMSMetadata},
        {"SStoMS, slots",
         [&] {
             converter.SStoMS(SsList{ct, slots}, *keys().sstoms, intoThree);
         },
         Converter::kSStoMSMetadata},
        {"SStoMS, encoding",
         [&] {
             converter.SStoMS(SsList{ct, coefficients}, *keys().sstoms, intoThree);
         },
         Converter::kSStoMSMetadata},
        {"IncreaseNS, counter",
         [&] {
             converter.IncreaseNS(MsList{two, twoCounter}, *keys().increase, intoFour);
         },
         Converter::kIncreaseNSMetadata},
        {"IncreaseNS, slots",
         [&] {
             converter.IncreaseNS(MsList{two, twoSlots}, *keys().increase, intoFour);
         },
         Converter::kIncreaseNSMetadata},
        {"SStoMSBisection, counter of the last input",
         [&] {
             converter.SStoMSBisection(SsList{ct, ct, counter}, *keys().bisection, intoEight);
         },
         Converter::kBisectionMetadata},
    });
    outputs.expectUnchanged();
}

TEST_F(MultiSecretConverterTest, BisectionChecksInOrder) {
    using List = std::vector<SsCiphertext>;
    const SsCiphertext ct = single();
    MsCiphertext oneSecret(singleSecret(), false, true);
    MsCiphertext intoTwo(doublings()[0], false, true);
    MsCiphertext intoThree(threeSecrets(), false, true);
    MsCiphertext intoFour(doublings()[1], false, true);
    MsCiphertext intoEight(doublings()[2], false, true);
    const auto before = ciphertextWords(intoEight);
    const SStoMSBisectionKeyBundle &bundle = *keys().bisection;
    expectCases({
        {"empty", [&] { converter.SStoMSBisection(List{}, bundle, intoEight); },
         Converter::kBisectionEmpty},
        {"one secret", [&] { converter.SStoMSBisection(List(2, ct), bundle, oneSecret); },
         Converter::kBisectionFewSecrets},
        {"too many", [&] { converter.SStoMSBisection(List(5, ct), bundle, intoFour); },
         Converter::kBisectionTooMany},
        {"bundle short",
         [&] { converter.SStoMSBisection(List(5, ct), *keys().bisectionShort, intoEight); },
         Converter::kBisectionBundleShort},
        {"one round, SStoMS's count",
         [&] { converter.SStoMSBisection(List(3, ct), bundle, intoTwo); }, Converter::kSStoMSCount},
    });
    EXPECT_EQ(ciphertextWords(intoEight), before);
}

// Input i ends as body i of the last context of the rounds.
TEST_F(MultiSecretConverterTest, BisectionMergesTheInputsInOrder) {
    std::vector<Messages> m;
    std::vector<SsCiphertext> cts;
    for (int i = 0; i < 7; ++i) {
        m.push_back(messages(1));
        cts.push_back(keys().ss.encrypt(m.back(), kLevel));
    }
    const struct {
        const char *name;
        u64 inputs;
        const SStoMSBisectionKeyBundle *bundle;
        std::shared_ptr<ContextContent> context;
        const SchemeKeys<EncryptionType::MSRLWE> *key;
        u64 bodies;
    } rows[] = {
        {"two inputs", 2, &*keys().bisection, doublings()[0], &keys().ms2, 2},
        {"three inputs, one round", 3, &*keys().bisectionThree, threeSecrets(), &keys().ms, 3},
        {"three inputs, two rounds", 3, &*keys().bisection, doublings()[1], &keys().ms4, 3},
        // Input 4 is carried alone through rounds 1 and 2 and lands after
        // the four others: one body per input, none past the last.
        {"five inputs", 5, &*keys().bisection, doublings()[2], &keys().ms8, 5},
        {"seven inputs", 7, &*keys().bisection, doublings()[2], &keys().ms8, 7},
        {"one input, three rounds", 1, &*keys().bisection, doublings()[2], &keys().ms8, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<SsCiphertext> in(cts.begin(),
                                           cts.begin() + static_cast<long>(row.inputs));
        MsCiphertext out(row.context, false, true);
        converter.SStoMSBisection(in, *row.bundle, out);
        ASSERT_EQ(out.getNumPoly(), row.bodies + 1);
        const Messages got = decryptBodies(*row.key, out);
        for (u64 i = 0; i < row.inputs; ++i)
            EXPECT_LE(largestSlotError({got[i]}, m[i]), kBound) << i;
    }
}

TEST_F(MultiSecretConverterTest, ContextImbedCopiesThePolynomials) {
    const MsCiphertext three = keys().ms.encrypt(messages(3), kLevel);
    MsCiphertext two(doublings()[0], false, true);
    two.setLogSlots(3);
    contextImbed(three, two);
    EXPECT_EQ(two.getContext(), doublings()[0]);
    EXPECT_EQ(two.getLogSlots(), 3u);
    for (u64 i = 0; i < 3; ++i)
        EXPECT_EQ(wordsOf(two.getPoly(i)), wordsOf(three.getPoly(i)));

    const SsCiphertext ct = single();
    MsCiphertext pair(doublings()[0], false, true);
    pair.setNumPoly(2);
    contextImbed(ct, pair);
    for (u64 i = 0; i < 2; ++i)
        EXPECT_EQ(wordsOf(pair.getPoly(i)), wordsOf(ct.getPoly(i)));
    const auto before = ciphertextWords(two);
    expectThrowsMessage([&] { contextImbed(ct, two); }, kContextImbedShort);
    EXPECT_EQ(ciphertextWords(two), before);
}

} // namespace
} // namespace Quelt::test
