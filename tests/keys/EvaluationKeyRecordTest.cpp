#include "Quelt/EvaluationKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::bytesOf;
using Quelt::test::expectThrowsMessage;
using test::bodiesOf;
using test::fillKey;
using test::keyWords;
using test::masksOf;
using test::savedKey;

namespace {

constexpr const char *kVerifierMessage =
    "[Verifier::load] Validation failed during deserializing objects.";

// One stored polynomial without the byte-order byte of its own archive.
std::string polyRecord(const Polynomial &p) { return test::saveToString(p).substr(1); }

std::vector<std::string> records(const std::vector<Polynomial> &polys) {
    std::vector<std::string> out;
    for (const auto &p : polys)
        out.push_back(polyRecord(p));
    return out;
}

// A standalone evaluation-key form put together field by field.
std::string keyForm(std::uint32_t code, std::uint64_t hash, char type, std::uint64_t aux,
                    const std::vector<std::string> &bodies, const std::vector<std::string> &masks,
                    std::uint64_t bodyCount, std::uint64_t maskCount) {
    std::string out = "\x01" + bytesOf(code) + bytesOf(hash) + std::string(1, type) + bytesOf(aux);
    out += bytesOf(bodyCount);
    for (const auto &r : bodies)
        out += r;
    out += bytesOf(maskCount);
    for (const auto &r : masks)
        out += r;
    return out;
}
std::string keyForm(std::uint64_t hash, char type, std::uint64_t aux,
                    const std::vector<std::string> &bodies, const std::vector<std::string> &masks) {
    return keyForm(1, hash, type, aux, bodies, masks, bodies.size(), masks.size());
}

void loadKey(EvaluationKey &key, const std::string &bytes) {
    std::istringstream in(bytes);
    load(key, in);
}

// The polynomial record of a key of another context, or in another shape.
std::string foreignRecord() {
    auto other = makeEmptyMultKey(Quelt::test::degree64FivePrimes());
    fillKey(*other, 3);
    return polyRecord(masksOf(*other)[0]);
}

} // namespace

TEST(EvaluationKeyRecordTest, StandaloneFormIsByteExact) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    auto key = makeEmptyRotKey(ctx, 6, 0);
    fillKey(*key, 21);
    const std::string bytes = savedKey(*key);
    const std::string expected =
        keyForm(ctx->getHash(), 'r', 6, records(bodiesOf(*key)), records(masksOf(*key)));
    EXPECT_EQ(Quelt::test::firstDifference(bytes, expected), std::string::npos);
    EXPECT_EQ(bytes.substr(0, 5), std::string("\x01\x01\x00\x00\x00", 5));
    std::size_t polys = 0;
    for (const auto &r : records(bodiesOf(*key)))
        polys += r.size();
    for (const auto &r : records(masksOf(*key)))
        polys += r.size();
    EXPECT_EQ(bytes.size(), 38 + polys);

    // Every writer makes the same bytes.
    std::ostringstream viaSerialize;
    Serialize::save(viaSerialize, *key);
    EXPECT_EQ(viaSerialize.str(), bytes);
    Quelt::test::TempFile file("evaluation_key_form.bin");
    Serialize::save(file.path(), *key);
    EXPECT_EQ(file.read(), bytes);
}

TEST(EvaluationKeyRecordTest, EveryKindRoundTrips) {
    using Factory =
        std::function<std::unique_ptr<EvaluationKey>(const std::shared_ptr<ContextContent> &)>;
    const Factory factories[] = {
        makeEmptyMultKey,       [](const auto &c) { return makeEmptyRotKey(c, 12, 0); },
        makeEmptyRingSwitchKey, makeEmptyConjKey,
        makeEmptyModPackKey,    makeEmptyMStoSSKey,
        makeEmptySStoMSKey,     makeEmptyIncreaseNSKey};
    for (const auto &ctx : {Quelt::test::degree64FourPrimes(), Quelt::test::multiSecretContext()}) {
        for (const auto &make : factories) {
            auto key = make(ctx);
            SCOPED_TRACE(std::string(1, key->getType()) + " " + std::to_string(getNumSecret(ctx)));
            fillKey(*key, 40);
            const std::string bytes = savedKey(*key);

            auto sameKind = make(ctx);
            EvaluationKey blank;
            for (EvaluationKey *target : {sameKind.get(), &blank}) {
                loadKey(*target, bytes);
                EXPECT_EQ(target->getType(), key->getType());
                EXPECT_EQ(target->getAux(), key->getAux());
                EXPECT_EQ(target->getContextHash(), ctx->getHash());
                EXPECT_EQ(target->getDnum(), 0u);
                EXPECT_EQ(keyWords(*target), keyWords(*key));
                EXPECT_EQ(savedKey(*target), bytes);
            }
        }
    }
}

TEST(EvaluationKeyRecordTest, SeededMasksTravelAsTheirSeeds) {
    const auto ctx = Quelt::test::degree64FourPrimes(); // six primes held by each polynomial
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 2, true);
    const std::string bytes = savedKey(*key);
    const std::size_t body = 8 * (5 + 6) + 3 + 8 + 8 * 6 * 64;
    const std::size_t seededMask = 8 * (5 + 6) + 3 + 1024;
    EXPECT_EQ(bytes.size(), 38 + 2 * body + 2 * seededMask);

    auto loaded = makeEmptyMultKey(ctx);
    loadKey(*loaded, bytes);
    for (std::size_t j = 0; j < 2; ++j) {
        EXPECT_EQ(masksOf(*loaded)[j].getGerm(), masksOf(*key)[j].getGerm());
        EXPECT_EQ(Quelt::test::wordsOf(masksOf(*loaded)[j]),
                  Quelt::test::wordsOf(masksOf(*key)[j]));
    }
    EXPECT_EQ(keyWords(*loaded), keyWords(*key));
}

TEST(EvaluationKeyRecordTest, LoadsTakeTypeAuxAndHashFromTheRecord) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    auto rot = makeEmptyRotKey(ctx, 9, 0);
    fillKey(*rot, 5);
    auto target = makeEmptyRotKey(ctx, 0, 0);
    loadKey(*target, savedKey(*rot));
    EXPECT_EQ(target->getAux(), 9u);

    // A multiplication key read into a rotation key becomes one: the generic
    // load checks neither the letter nor aux.
    auto mult = makeEmptyMultKey(ctx);
    fillKey(*mult, 6);
    loadKey(*target, savedKey(*mult));
    EXPECT_EQ(target->getType(), 'm');
    EXPECT_EQ(target->getAux(), 0u);

    // Another context's key: refused by a key with a context, taken by a key
    // without one.
    const auto other = Quelt::test::degree64FivePrimes();
    auto foreign = makeEmptyConjKey(other);
    fillKey(*foreign, 8);
    const std::string before = savedKey(*target);
    expectThrowsMessage([&] { loadKey(*target, savedKey(*foreign)); }, kVerifierMessage);
    EXPECT_EQ(savedKey(*target), before);
    EvaluationKey blank;
    loadKey(blank, savedKey(*foreign));
    EXPECT_EQ(blank.getContextHash(), other->getHash());
    EXPECT_EQ(blank.getType(), 'c');
    EXPECT_EQ(keyWords(blank), keyWords(*foreign));
    EXPECT_FALSE(blank.getContext());

    // Object code 0 (an encryption key) is not an evaluation key.
    std::string code0 = savedKey(*mult);
    code0[1] = 0;
    expectThrowsMessage([&] { loadKey(*target, code0); }, kVerifierMessage);
    expectThrowsMessage([&] { loadKey(blank, code0); }, kVerifierMessage);
}

TEST(EvaluationKeyRecordTest, CutKeysReloadCut) {
    const auto ctx = Quelt::test::fiveDigitContext();
    auto key = makeEmptyRotKey(ctx, 4, 0);
    fillKey(*key, 30);
    key->resizeDnumForRotkey(2);
    const std::string bytes = savedKey(*key);

    for (std::uint64_t dnum : {0u, 2u}) {
        auto target = makeEmptyRotKey(ctx, 4, dnum);
        loadKey(*target, bytes);
        EXPECT_EQ(target->getGadgetRank(), 2u);
        EXPECT_EQ(bodiesOf(*target).size(), 2u);
        EXPECT_EQ(target->getDnum(), 2u);
        EXPECT_EQ(keyWords(*target), keyWords(*key));
    }
    // A full record read into a cut key makes it full again.
    auto full = makeEmptyRotKey(ctx, 4, 0);
    fillKey(*full, 31);
    loadKey(*key, savedKey(*full));
    EXPECT_EQ(key->getDnum(), 0u);
    EXPECT_EQ(key->getGadgetRank(), 5u);
}

TEST(EvaluationKeyRecordTest, LoadReplacesEveryDeviceEntry) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 1);
    key->removeExcept(Device{0, 1}); // moved away: no host entry left
    EvaluationKey blank;
    blank.copyTo(Device{0, 2});
    auto source = makeEmptyMultKey(ctx);
    fillKey(*source, 2);
    for (EvaluationKey *target : {key.get(), &blank}) {
        loadKey(*target, savedKey(*source));
        expectThrowsMessage<std::out_of_range>([&] { target->getAxIter(Device{0, 1}); }, "map::at");
        expectThrowsMessage<std::out_of_range>([&] { target->getBxIter(Device{0, 2}); }, "map::at");
        EXPECT_EQ(keyWords(*target), keyWords(*source));
    }
}

TEST(EvaluationKeyRecordTest, DamagedRecordsLeaveTheKeyUnchanged) {
    const auto ctx = Quelt::test::degree64FourPrimes(); // gadget rank 2, one secret
    const std::uint64_t hash = ctx->getHash();
    auto source = makeEmptyMultKey(ctx);
    fillKey(*source, 50);
    const auto b = records(bodiesOf(*source));
    const auto m = records(masksOf(*source));
    const std::string good = keyForm(hash, 'm', 0, b, m);

    Polynomial plain(ctx, false, true);
    Quelt::test::fillResidues(plain, 1);
    Polynomial coefficients(ctx, true, false);
    Quelt::test::fillResidues(coefficients, 1);

    const auto ms = Quelt::test::multiSecretContext(); // same chain, four secrets
    auto msKey = makeEmptyMultKey(ms);
    fillKey(*msKey, 60);
    const auto msBodies = records(bodiesOf(*msKey));
    const std::vector<std::string> fourBodies(msBodies.begin(), msBodies.begin() + 4);

    struct Case {
        const char *name;
        std::string bytes;
        std::shared_ptr<ContextContent> context; // the receiving key's
        const char *message;
    };
    const Case cases[] = {
        {"no polynomial", keyForm(hash, 'm', 0, {}, {}), ctx, EvaluationKey::kLoadCounts},
        {"more digits than the gadget rank",
         keyForm(hash, 'm', 0, {b[0], b[1], b[0]}, {m[0], m[1], m[0]}), ctx,
         EvaluationKey::kLoadCounts},
        {"fewer masks than bodies", keyForm(hash, 'm', 0, b, {m[0]}), ctx,
         EvaluationKey::kLoadCounts},
        {"huge body count", keyForm(1, hash, 'm', 0, b, m, ~0ULL, 2), ctx,
         EvaluationKey::kLoadCounts},
        {"huge mask count", keyForm(1, hash, 'm', 0, b, m, 2, ~0ULL), ctx,
         EvaluationKey::kLoadCounts},
        {"a polynomial of another chain", keyForm(hash, 'm', 0, {b[0], foreignRecord()}, m), ctx,
         "[Polynomial::load] Chain length does not match the context"},
        {"a polynomial without the temporary primes",
         keyForm(hash, 'm', 0, b, {m[0], polyRecord(plain)}), ctx, EvaluationKey::kLoadShape},
        {"a polynomial in coefficient form",
         keyForm(hash, 'm', 0, {polyRecord(coefficients), b[1]}, m), ctx,
         EvaluationKey::kLoadShape},
        {"a cut multi-secret key", keyForm(hash, 'm', 0, fourBodies, {m[0]}), ms,
         EvaluationKey::kLoadCounts},
        {"bodies not a multiple of the secrets", keyForm(hash, 'm', 0, b, {m[0]}), ms,
         EvaluationKey::kLoadCounts},
        // Without a context the record is checked in itself.
        {"free: no mask", keyForm(hash, 'm', 0, b, {}), nullptr, EvaluationKey::kLoadCounts},
        {"free: bodies not a multiple of the masks", keyForm(hash, 'm', 0, {b[0], b[1], b[0]}, m),
         nullptr, EvaluationKey::kLoadCounts},
        {"free: polynomials of two shapes", keyForm(hash, 'm', 0, b, {m[0], foreignRecord()}),
         nullptr, EvaluationKey::kLoadShape},
        {"free: not mod-up", keyForm(hash, 'm', 0, {polyRecord(plain)}, {polyRecord(plain)}),
         nullptr, EvaluationKey::kLoadShape},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto target =
            c.context ? makeEmptyRotKey(c.context, 3, 0) : std::make_unique<EvaluationKey>();
        if (c.context)
            fillKey(*target, 70);
        const std::string before = savedKey(*target);
        expectThrowsMessage([&] { loadKey(*target, c.bytes); }, c.message);
        EXPECT_EQ(savedKey(*target), before);
        EXPECT_EQ(target->getType(), c.context ? 'r' : 0);
    }

    // Streams that end early: in the header, in a body, between the lists,
    // in the last mask.
    for (std::size_t cut : {std::size_t{3}, std::size_t{30}, std::size_t{200},
                            38 + b[0].size() + b[1].size() - 8, good.size() - 1}) {
        SCOPED_TRACE(cut);
        auto target = makeEmptyRotKey(ctx, 3, 0);
        fillKey(*target, 70);
        const std::string before = savedKey(*target);
        EXPECT_THROW(loadKey(*target, good.substr(0, cut)), cereal::Exception);
        EXPECT_EQ(savedKey(*target), before);
    }
}

TEST(EvaluationKeyRecordTest, BigEndianFormLoads) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    auto key = makeEmptyRotKey(ctx, 0x0102030405, 0);
    fillKey(*key, 3, true);
    Quelt::test::fillResidues(masksOf(*key)[1], 77); // one mask as an array, one as a seed
    masksOf(*key)[1].disableGerm();
    const std::string le = savedKey(*key);

    std::string be = le;
    be[0] = 0;
    const std::size_t at = test::reverseEvaluationKeyRecord(be, 1);
    ASSERT_EQ(at, be.size());

    auto loaded = makeEmptyRotKey(ctx, 0, 0);
    loadKey(*loaded, be);
    EXPECT_EQ(loaded->getAux(), 0x0102030405u);
    EXPECT_EQ(loaded->getContextHash(), ctx->getHash());
    EXPECT_EQ(keyWords(*loaded), keyWords(*key));
    EXPECT_EQ(savedKey(*loaded), le);
}

TEST(EvaluationKeyRecordTest, PathForms) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    auto key = makeEmptyConjKey(ctx);
    fillKey(*key, 12, true);
    Quelt::test::TempFile file("conj_key.bin");
    Serialize::save(file.path(), *key);
    auto loaded = makeEmptyConjKey(ctx);
    Serialize::load(file.path(), *loaded);
    EXPECT_EQ(keyWords(*loaded), keyWords(*key));

    const std::string missing = file.path() + ".missing/key.bin";
    expectThrowsMessage([&] { Serialize::save(missing, *key); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { Serialize::load(missing, *loaded); }, "Cannot open file " + missing);
}

// The one validation of a key against a context, for the operations that take
// one: a key fits the context it was made for, also cut to fewer digits with
// one secret, and no longer fits with other counts or shapes.
TEST(EvaluationKeyRecordTest, FitsChecksIdentityCountsAndShapes) {
    using detail::EvaluationKeyAccess;
    const auto ctx = Quelt::test::degree64FourPrimes(); // one secret, gadget rank 2
    const auto fitsAfter = [](const std::shared_ptr<ContextContent> &c,
                              const std::function<void(EvaluationKey &)> &change) {
        auto key = makeEmptyMultKey(c);
        fillKey(*key, 5);
        change(*key);
        return EvaluationKeyAccess::fits(*key, c);
    };
    const auto unchanged = [](EvaluationKey &) {};
    EXPECT_TRUE(fitsAfter(ctx, unchanged));
    EXPECT_TRUE(fitsAfter(Quelt::test::multiSecretContext(), unchanged));
    const auto key = makeEmptyMultKey(ctx);
    EXPECT_FALSE(EvaluationKeyAccess::fits(*key, Quelt::test::degree64FivePrimes()));
    EXPECT_FALSE(EvaluationKeyAccess::fits(*key, nullptr));

    const auto cutOneDigit = [](EvaluationKey &k) {
        auto &bodies = bodiesOf(k);
        masksOf(k).pop_back();
        bodies.erase(bodies.begin() + static_cast<std::ptrdiff_t>(bodies.size() / 2), bodies.end());
    };
    EXPECT_TRUE(fitsAfter(ctx, cutOneDigit));
    EXPECT_FALSE(fitsAfter(Quelt::test::multiSecretContext(), cutOneDigit));
    EXPECT_FALSE(fitsAfter(ctx, [](EvaluationKey &k) { bodiesOf(k).pop_back(); }));
    EXPECT_FALSE(fitsAfter(ctx, [](EvaluationKey &k) { masksOf(k)[0].setNTT(false); }));
    EXPECT_FALSE(fitsAfter(ctx, [](EvaluationKey &k) { bodiesOf(k)[1].getData().resize(64); }));
}
