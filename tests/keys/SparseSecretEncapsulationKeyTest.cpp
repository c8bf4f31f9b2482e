#include "Quelt/SparseSecretEncapsulationKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;
using test::bodiesOf;
using test::fillKey;
using test::keyWords;
using test::masksOf;
using test::savedKey;

namespace {

// Gadget ranks 2 (main) and 5 (sparse).
std::shared_ptr<ContextContent> mainContext() { return Quelt::test::degree64FourPrimes(); }
std::shared_ptr<ContextContent> sparseContext() { return Quelt::test::fiveDigitContext(); }

std::string saved(const SparseSecretEncapsulationKey &key) {
    std::ostringstream out;
    save(key, out);
    return out.str();
}

void loadKey(SparseSecretEncapsulationKey &key, const std::string &bytes) {
    std::istringstream in(bytes);
    load(key, in);
}

std::unique_ptr<SparseSecretEncapsulationKey> filledKey(std::uint64_t seed) {
    auto key = makeEmptySparseSecretEncapsulationKey(mainContext(), sparseContext());
    fillKey(key->getDTSPart(), seed, true);
    fillKey(key->getSTDPart(), seed + 100, true);
    return key;
}

} // namespace

TEST(SparseSecretEncapsulationKeyTest, PartsLiveOverTheirOwnContexts) {
    auto key = makeEmptySparseSecretEncapsulationKey(mainContext(), sparseContext());
    const SparseSecretEncapsulationKey &constant = *key;
    EXPECT_EQ(constant.getDTSPart().getContext(), sparseContext());
    EXPECT_EQ(constant.getSTDPart().getContext(), mainContext());
    EXPECT_EQ(key->getDTSPart().getType(), 's');
    EXPECT_EQ(key->getSTDPart().getType(), 's');
    EXPECT_EQ(key->getDTSPart().getGadgetRank(), 5u);
    EXPECT_EQ(bodiesOf(key->getDTSPart()).size(), 5u);
    EXPECT_EQ(key->getSTDPart().getGadgetRank(), 2u);
    EXPECT_EQ(bodiesOf(key->getSTDPart()).size(), 2u);

    SparseSecretEncapsulationKey blank;
    EXPECT_FALSE(blank.getDTSPart().getContext());
    EXPECT_EQ(blank.getSTDPart().getGadgetRank(), 0u);

    key->copyTo(Device{0, 1});
    EXPECT_EQ(masksOf(key->getSTDPart(), Device{0, 1}).size(), 2u);
    EXPECT_EQ(masksOf(key->getDTSPart(), Device{0, 1}).size(), 5u);
    key->removeExcept(Device{0, 1});
    expectThrowsMessage<std::out_of_range>([&] { key->getDTSPart().getGadgetRank(); }, "map::at");
    expectThrowsMessage<std::out_of_range>([&] { key->getSTDPart().getGadgetRank(); }, "map::at");
}

TEST(SparseSecretEncapsulationKeyTest, FileIsTwoEvaluationKeyRecords) {
    auto key = filledKey(1);
    const std::string bytes = saved(*key);
    const std::string dts = savedKey(key->getDTSPart());
    const std::string stdPart = savedKey(key->getSTDPart());
    EXPECT_EQ(bytes, dts + stdPart.substr(1));
    EXPECT_EQ(bytes.substr(1, 4), std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(bytes.substr(dts.size(), 4), std::string("\x01\x00\x00\x00", 4));

    std::ostringstream viaSerialize;
    Serialize::save(viaSerialize, *key);
    EXPECT_EQ(viaSerialize.str(), bytes);

    auto loaded = makeEmptySparseSecretEncapsulationKey(mainContext(), sparseContext());
    loadKey(*loaded, bytes);
    EXPECT_EQ(keyWords(loaded->getDTSPart()), keyWords(key->getDTSPart()));
    EXPECT_EQ(keyWords(loaded->getSTDPart()), keyWords(key->getSTDPart()));
    SparseSecretEncapsulationKey blank;
    std::istringstream in(bytes);
    Serialize::load(in, blank);
    EXPECT_EQ(blank.getDTSPart().getContextHash(), sparseContext()->getHash());
    EXPECT_EQ(keyWords(blank.getSTDPart()), keyWords(key->getSTDPart()));

    Quelt::test::TempFile file("sse_key.bin");
    Serialize::save(file.path(), *key);
    EXPECT_EQ(file.read(), bytes);
    auto fromFile = makeEmptySparseSecretEncapsulationKey(mainContext(), sparseContext());
    Serialize::load(file.path(), *fromFile);
    EXPECT_EQ(saved(*fromFile), bytes);
    const std::string missing = file.path() + ".missing/key.bin";
    expectThrowsMessage([&] { Serialize::save(missing, *key); }, "Cannot open file " + missing);
}

TEST(SparseSecretEncapsulationKeyTest, ABadPartLeavesBothPartsUnchanged) {
    auto key = filledKey(1);
    const std::string bytes = saved(*key);
    const std::size_t stdAt = savedKey(key->getDTSPart()).size();

    std::string badCode = bytes;
    badCode[stdAt] = 2;
    // The parts swapped: each record meets the other context's hash.
    const std::string swapped = savedKey(key->getSTDPart()) + savedKey(key->getDTSPart()).substr(1);
    for (const std::string &bad : {badCode, swapped}) {
        auto target = filledKey(7);
        const std::string before = saved(*target);
        expectThrowsMessage([&] { loadKey(*target, bad); },
                            "[Verifier::load] Validation failed during deserializing objects.");
        EXPECT_EQ(saved(*target), before);
    }
    auto target = filledKey(7);
    const std::string before = saved(*target);
    EXPECT_THROW(loadKey(*target, bytes.substr(0, bytes.size() - 10)), cereal::Exception);
    EXPECT_EQ(saved(*target), before);
}
