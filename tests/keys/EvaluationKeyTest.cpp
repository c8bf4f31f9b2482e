#include "Quelt/EvaluationKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;
using test::bodiesOf;
using test::fillKey;
using test::keyWords;
using test::masksOf;

namespace {

using Factory =
    std::function<std::unique_ptr<EvaluationKey>(const std::shared_ptr<ContextContent> &)>;

struct FactoryCase {
    const char *name;
    Factory make;
    char type;
    std::uint64_t aux;
    std::uint64_t dnum;
    std::uint64_t digits;
};

std::vector<FactoryCase> factoryCases(std::uint64_t gadgetRank) {
    return {
        {"mult", makeEmptyMultKey, 'm', 0, 0, gadgetRank},
        {"rot", [](const auto &c) { return makeEmptyRotKey(c, 5, 0); }, 'r', 5, 0, gadgetRank},
        {"rot cut", [](const auto &c) { return makeEmptyRotKey(c, 5, 2); }, 'r', 5, 2, 2},
        {"rot above the rank", [](const auto &c) { return makeEmptyRotKey(c, 3, 9); }, 'r', 3, 9,
         gadgetRank},
        {"ring switch", makeEmptyRingSwitchKey, 'w', 0, 0, gadgetRank},
        {"conj", makeEmptyConjKey, 'c', 0, 0, gadgetRank},
        {"mod pack", makeEmptyModPackKey, 'p', 0, 0, gadgetRank},
        {"ms to ss", makeEmptyMStoSSKey, 'z', 0, 0, gadgetRank},
        {"ss to ms", makeEmptySStoMSKey, 'x', 0, 0, gadgetRank},
        {"increase ns", makeEmptyIncreaseNSKey, 'i', 0, 0, gadgetRank},
    };
}

void expectKeyPolynomial(const Polynomial &p, const std::shared_ptr<ContextContent> &ctx) {
    EXPECT_TRUE(p.isModUp());
    EXPECT_TRUE(p.isNTT());
    EXPECT_FALSE(p.hasGerm());
    EXPECT_EQ(p.getLevel(), getLength(ctx) - 1);
    EXPECT_EQ(p.getPrimes(), getPrimeList(ctx));
    EXPECT_EQ(p.getData().size(), (getLength(ctx) + getNumTP(ctx)) * getDegree(ctx));
    EXPECT_EQ(p.getDevice(), kHostDevice);
}

const char *const kDoAllocate =
    "Cannot support the function 'doAllocate' in the current build configuration";

} // namespace

TEST(EvaluationKeyTest, FactoriesBuildFullHostListsOverTheChain) {
    for (const auto &ctx : {Quelt::test::fiveDigitContext(), Quelt::test::multiSecretContext()}) {
        const std::uint64_t secrets = getNumSecret(ctx);
        const std::uint64_t rank = getGadgetRank(ctx);
        for (const auto &c : factoryCases(rank)) {
            if (secrets > 1 && c.dnum != 0 && c.dnum < rank)
                continue; // refused, below
            SCOPED_TRACE(std::string(c.name) + " over " + std::to_string(secrets) + " secrets");
            auto key = c.make(ctx);
            EXPECT_EQ(key->getType(), c.type);
            EXPECT_EQ(key->getAux(), c.aux);
            EXPECT_EQ(key->getDnum(), c.dnum);
            EXPECT_EQ(key->getContext(), ctx);
            EXPECT_EQ(key->getContextHash(), ctx->getHash());
            EXPECT_EQ(key->getGadgetRank(), c.digits);
            ASSERT_EQ(masksOf(*key).size(), c.digits);
            ASSERT_EQ(bodiesOf(*key).size(), c.digits * secrets);
            EXPECT_EQ(masksOf(*key).capacity(), c.digits);
            EXPECT_EQ(bodiesOf(*key).capacity(), c.digits * secrets);
            for (const auto &p : masksOf(*key))
                expectKeyPolynomial(p, ctx);
            for (const auto &p : bodiesOf(*key))
                expectKeyPolynomial(p, ctx);
            EXPECT_EQ(&*key->getAxIter(kHostDevice), &masksOf(*key)[0]);
            EXPECT_EQ(&*key->getBxIter(kHostDevice), &bodiesOf(*key)[0]);
        }
    }
}

TEST(EvaluationKeyTest, DefaultKeyHasEmptyHostListsAndNoContext) {
    EvaluationKey key;
    EXPECT_EQ(key.getGadgetRank(), 0u);
    EXPECT_FALSE(key.getContext());
    EXPECT_EQ(key.getType(), 0);
    EXPECT_EQ(key.getAux(), 0u);
    EXPECT_EQ(key.getDnum(), 0u);
    EXPECT_EQ(key.getContextHash(), 0u);
    EXPECT_TRUE(bodiesOf(key).empty());
    const EvaluationKey &constant = key;
    EXPECT_EQ(constant.getAxIter(kHostDevice), masksOf(key).cbegin());
}

TEST(EvaluationKeyTest, MultiSecretKeysCannotBeCut) {
    const auto ctx = Quelt::test::multiSecretContext(); // gadget rank 2, four secrets
    expectThrowsMessage([&] { makeEmptyRotKey(ctx, 1, 1); }, EvaluationKey::kMultiSecretCut);
    expectThrowsMessage([&] { EvaluationKey(ctx, 'r', 1, 1); }, EvaluationKey::kMultiSecretCut);

    auto key = makeEmptyRotKey(ctx, 1, 0);
    fillKey(*key, 4);
    const auto before = keyWords(*key);
    expectThrowsMessage([&] { key->resizeDnumForRotkey(1); }, EvaluationKey::kMultiSecretCut);
    EXPECT_EQ(keyWords(*key), before);
    EXPECT_EQ(key->getDnum(), 0u);
    // Asking for every digit, or more, cuts nothing.
    key->resizeDnumForRotkey(2);
    EXPECT_EQ(key->getDnum(), 2u);
    EXPECT_EQ(keyWords(*key), before);
}

TEST(EvaluationKeyTest, ResizeKeepsTheLeadingDigitsWithTheirBodies) {
    const auto ctx = Quelt::test::fiveDigitContext();
    auto full = makeEmptyRotKey(ctx, 3, 0);
    fillKey(*full, 10);
    const auto words = keyWords(*full); // bodies 0..4, then masks 0..4

    full->resizeDnumForRotkey(2);
    EXPECT_EQ(full->getDnum(), 2u);
    EXPECT_EQ(full->getGadgetRank(), 2u);
    EXPECT_EQ(keyWords(*full),
              (std::vector<std::vector<std::uint64_t>>{words[0], words[1], words[5], words[6]}));

    // Already cut to 2, asked for 3: it keeps its 2 digits and says so.
    full->resizeDnumForRotkey(3);
    EXPECT_EQ(full->getDnum(), 2u);
    EXPECT_EQ(full->getGadgetRank(), 2u);
    full->resizeDnumForRotkey(1);
    EXPECT_EQ(full->getDnum(), 1u);
    EXPECT_EQ(keyWords(*full), (std::vector<std::vector<std::uint64_t>>{words[0], words[5]}));

    // Asking for the gadget rank or more records the request and cuts nothing.
    for (std::uint64_t dnum : {5u, 7u}) {
        auto key = makeEmptyRotKey(ctx, 3, 0);
        fillKey(*key, 10);
        key->resizeDnumForRotkey(dnum);
        EXPECT_EQ(key->getDnum(), dnum);
        EXPECT_EQ(keyWords(*key), words);
    }

    // A key without a context has no gadget rank to cut to.
    EvaluationKey empty;
    expectThrowsMessage([&] { empty.resizeDnumForRotkey(1); }, "[Context] The context is null");
}

TEST(EvaluationKeyTest, CopyToAndRemoveExceptManageDeviceEntries) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 7);
    const auto words = keyWords(*key);
    const auto *hostMask = masksOf(*key)[0].getData().getData();

    key->copyTo(kHostDevice);
    EXPECT_EQ(masksOf(*key)[0].getData().getData(), hostMask);

    const Device other{0, 1};
    key->copyTo(other);
    EXPECT_EQ(masksOf(*key)[0].getData().getData(), hostMask);
    ASSERT_EQ(masksOf(*key, other).size(), 2u);
    EXPECT_EQ(masksOf(*key, other)[1].getDevice(), other);
    EXPECT_EQ(Quelt::test::wordsOf(masksOf(*key, other)[1]), words[3]);
    EXPECT_EQ(Quelt::test::wordsOf(bodiesOf(*key, other)[0]), words[0]);
    EXPECT_NE(key->getBxIter(other)->getData().getData(), bodiesOf(*key)[0].getData().getData());

    key->removeExcept(kHostDevice);
    expectThrowsMessage<std::out_of_range>([&] { key->getAxIter(other); }, "map::at");
    expectThrowsMessage<std::out_of_range>([&] { key->getBxIter(other); }, "map::at");
    EXPECT_EQ(masksOf(*key)[0].getData().getData(), hostMask);

    // Towards an accelerator the device layer refuses; the host lists stay.
    for (auto move : {&EvaluationKey::copyTo, &EvaluationKey::removeExcept}) {
        expectThrowsMessage([&] { ((*key).*move)(Device{1, 0}); }, kDoAllocate);
        EXPECT_EQ(masksOf(*key)[0].getData().getData(), hostMask);
        EXPECT_EQ(keyWords(*key), words);
    }

    // A device without an entry receives a copy, then holds the only one.
    key->removeExcept(Device{0, 2});
    expectThrowsMessage<std::out_of_range>([&] { key->getGadgetRank(); }, "map::at");
    EXPECT_EQ(Quelt::test::wordsOf(*key->getAxIter(Device{0, 2})), words[2]);
    expectThrowsMessage<std::out_of_range>([&] { key->resizeDnumForRotkey(1); }, "map::at");
}
