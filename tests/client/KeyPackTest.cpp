#include "Quelt/KeyPack.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "client/KeyPackImpl.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::thrownMessage;
using test::expectThrowsMessage;
using test::filledConjKey;
using test::filledMultKey;
using test::filledRotKey;
using test::implOf;
using test::KeyDirectory;
using test::keyWords;
using test::masksOf;
using test::storedForm;
using testing::StartsWith;

namespace {

constexpr const char *kVerifierMessage =
    "[Verifier::load] Validation failed during deserializing objects.";
constexpr const char *kNoSparseContext =
    "[KeyPack] The key pack was not constructed with a sparse context";

// Degree 64 (32 slots), gadget rank 2, two temporary primes.
std::shared_ptr<ContextContent> ctx() { return Quelt::test::degree64FourPrimes(); }
// Degree 64, gadget rank 5: room for rotation keys cut to 1 to 4 digits.
std::shared_ptr<ContextContent> fiveDigits() { return Quelt::test::fiveDigitContext(); }

std::vector<std::uint64_t> heldIndices(const KeyPack &pack) {
    return implOf(pack).getRotKeyList(true);
}

std::istringstream streamOf(const std::string &bytes) { return std::istringstream(bytes); }

} // namespace

TEST(KeyPackTest, ConstructorChecksAndTheirOrder) {
    Quelt::test::TempDirectory root("keypack_ctor");
    const std::string missing = root.file("missing");
    const std::string noKeySubdirectory = root.path().string();
    const std::string file = root.file("plain");
    std::ofstream(file) << "x";
    KeyDirectory good("keypack_ctor_good");

    expectThrowsMessage([] { KeyPack{std::shared_ptr<ContextContent>()}; },
                        "[Context] The context is null");
    // Custom contexts support no encapsulation.
    expectThrowsMessage(
        [] {
            KeyPack{ctx(), Quelt::test::degree64FivePrimes()};
        },
        "[KeyPack] context does not support sparse secret encapsulation");
    for (const std::string &path : {missing, noKeySubdirectory, file, std::string()})
        expectThrowsMessage([&] { KeyPack{ctx(), path}; }, "Cannot find path " + path);
    // Nothing is created by a refused constructor.
    EXPECT_EQ(root.entries(), std::vector<std::string>{"plain"});
    // The directory is checked before the sparse context.
    expectThrowsMessage(
        [&] {
            KeyPack{ctx(), Quelt::test::degree64FivePrimes(), missing};
        },
        "Cannot find path " + missing);
    expectThrowsMessage(
        [&] {
            KeyPack{ctx(), Quelt::test::degree64FivePrimes(), good.dir()};
        },
        "[KeyPack] context does not support sparse secret encapsulation");

    const KeyPack pack(ctx(), good.dir());
    EXPECT_TRUE(implOf(pack).isKeyDirPathSet());
    EXPECT_FALSE(implOf(KeyPack(ctx())).isKeyDirPathSet());
    EXPECT_FALSE(KeyPack(ctx()).getMinimalKeyLoad());
}

TEST(KeyPackTest, CopiesShareOneStore) {
    const KeyPack pack(ctx());
    const KeyPack copy = pack;
    const auto key = filledMultKey(ctx(), 1);
    implOf(pack).installMultKey(key);
    EXPECT_EQ(copy.getMultKey(), key);
}

// Left members use idx AND 31, right members (32 - (idx AND 31)) AND 31.
TEST(KeyPackTest, RotationIndicesAreReducedModuloTheSlots) {
    KeyDirectory dir("keypack_reduce");
    for (const std::uint64_t idx : {1, 31})
        Serialize::save(dir.keyFile("RotKey" + std::to_string(idx) + ".bin"),
                        *filledRotKey(ctx(), idx, idx));
    struct Case {
        const char *call;
        std::function<void(KeyPack &)> run;
        std::uint64_t held;
    };
    const std::vector<Case> cases = {
        {"loadLeftRotKey(33)", [](KeyPack &p) { p.loadLeftRotKey(33, 0); }, 1},
        {"getLeftRotKey(63)", [](KeyPack &p) { EXPECT_TRUE(p.getLeftRotKey(63, 0)); }, 31},
        {"loadRightRotKey(1)", [](KeyPack &p) { p.loadRightRotKey(1, 0); }, 31},
        {"getRightRotKey(1)", [](KeyPack &p) { EXPECT_TRUE(p.getRightRotKey(1, 0)); }, 31},
        {"getRightRotKey(95)", [](KeyPack &p) { EXPECT_TRUE(p.getRightRotKey(95, 0)); }, 1},
    };
    for (const Case &c : cases) {
        KeyPack pack(ctx(), dir.dir());
        c.run(pack);
        EXPECT_EQ(heldIndices(pack), std::vector<std::uint64_t>{c.held}) << c.call;
        EXPECT_EQ(pack.getLeftRotKey(c.held, 0)->getAux(), c.held) << c.call;
    }

    // Index 0: both 0 and 32 reduce to it, on either side.
    KeyPack pack(ctx());
    auto zero = streamOf(storedForm(*filledRotKey(ctx(), 0, 5)));
    pack.loadLeftRotKey(32, zero, 0);
    EXPECT_EQ(heldIndices(pack), std::vector<std::uint64_t>{0});
    EXPECT_TRUE(pack.isRightRotKeyLoaded(0, 0));
    EXPECT_TRUE(pack.isLeftRotKeyLoaded(32, 0));
    EXPECT_TRUE(pack.isRightRotKeyLoaded(64, 0));
    EXPECT_FALSE(pack.isLeftRotKeyLoaded(1, 0));

    // File probes, fused keys and decompositions take the index as given.
    const KeyPack onDir(ctx(), dir.dir());
    EXPECT_TRUE(onDir.isLeftRotKeyFileAvailable(1));
    EXPECT_FALSE(onDir.isLeftRotKeyFileAvailable(33));
    Serialize::save(dir.keyFile("FuseRotKey1.bin"), *test::filledFuseRotKey(ctx(), 7));
    EXPECT_FALSE(onDir.getFuseRotKey(33));
    EXPECT_TRUE(onDir.getFuseRotKey(1));
}

// Every key the pack loads lazily from its directory: held keys come back
// without another read, a missing file gives an empty pointer, a damaged one
// the reader's error and nothing held until it is repaired.
TEST(KeyPackTest, LazyLoadsFromTheKeyDirectory) {
    struct Kind {
        const char *file;
        std::string stored;
        // The re-saved held key ("" when the getter gives none) and its
        // address.
        std::function<std::string(const KeyPack &)> get;
        std::function<const void *(const KeyPack &)> address;
        std::function<bool(const KeyPack &)> loaded;
    };
    const auto resaved = [](const auto &key) { return key ? storedForm(*key) : std::string(); };
    const std::vector<Kind> kinds = {
        {"EncKey.bin", storedForm(*test::generatedEncKey(ctx())),
         [&](const KeyPack &p) { return resaved(p.getEncKey()); },
         [](const KeyPack &p) -> const void * { return p.getEncKey().get(); },
         [](const KeyPack &p) { return p.isEncKeyLoaded(); }},
        {"MultKey.bin", storedForm(*filledMultKey(ctx(), 10)),
         [&](const KeyPack &p) { return resaved(p.getMultKey()); },
         [](const KeyPack &p) -> const void * { return p.getMultKey().get(); },
         [](const KeyPack &p) { return p.isMultKeyLoaded(); }},
        {"ConjKey.bin", storedForm(*filledConjKey(ctx(), 20)),
         [&](const KeyPack &p) { return resaved(p.getConjKey()); },
         [](const KeyPack &p) -> const void * { return p.getConjKey().get(); },
         [](const KeyPack &p) { return p.isConjKeyLoaded(); }},
        {"RotKey5.bin", storedForm(*filledRotKey(ctx(), 5, 30)),
         [&](const KeyPack &p) { return resaved(p.getLeftRotKey(5, 0)); },
         [](const KeyPack &p) -> const void * { return p.getLeftRotKey(5, 0).get(); },
         [](const KeyPack &p) { return p.isLeftRotKeyLoaded(5, 0); }},
        {"FuseRotKey5.bin", storedForm(*test::filledFuseRotKey(ctx(), 40)),
         [&](const KeyPack &p) { return resaved(p.getFuseRotKey(5)); },
         [](const KeyPack &p) -> const void * { return p.getFuseRotKey(5).get(); },
         [](const KeyPack &p) { return implOf(p).isFuseRotKeyLoaded(5); }},
    };
    for (const Kind &kind : kinds) {
        SCOPED_TRACE(kind.file);
        KeyDirectory dir("keypack_lazy");
        const KeyPack pack(ctx(), dir.dir());
        EXPECT_EQ(kind.get(pack), "");
        EXPECT_FALSE(kind.loaded(pack));

        dir.writeKeyFile(kind.file, kind.stored);
        EXPECT_EQ(kind.get(pack), kind.stored);
        EXPECT_TRUE(kind.loaded(pack));
        const void *held = kind.address(pack);
        // A damaged file is not read again while the key is held.
        dir.writeKeyFile(kind.file, "damaged");
        EXPECT_EQ(kind.address(pack), held);

        const KeyPack fresh(ctx(), dir.dir());
        dir.writeKeyFile(kind.file, kind.stored.substr(0, kind.stored.size() - 9));
        EXPECT_THAT(thrownMessage<cereal::Exception>([&] { kind.get(fresh); }),
                    StartsWith("Failed to read "));
        EXPECT_FALSE(kind.loaded(fresh));
        dir.writeKeyFile(kind.file, kind.stored);
        EXPECT_EQ(kind.get(fresh), kind.stored);
    }
    // Without a key directory no file is probed.
    const KeyPack bare(ctx());
    EXPECT_FALSE(bare.getMultKey());
    EXPECT_FALSE(bare.getLeftRotKey(5, 0));
    EXPECT_FALSE(implOf(bare).isMultKeyFileAvailable());
}

// Where the pack knows the context, a key stored for another context, of
// another kind or for another index is refused and nothing changes; a key
// held before a refused stream load stays.
TEST(KeyPackTest, RefusesKeysOfAnotherContextKindOrIndex) {
    const std::uint64_t foreignHash = Quelt::test::degree64FivePrimes()->getHash();
    const std::string mult = storedForm(*filledMultKey(ctx(), 1));
    const std::string conj = storedForm(*filledConjKey(ctx(), 2));
    const std::string rot3 = storedForm(*filledRotKey(ctx(), 3, 3));
    const std::string rot4 = storedForm(*filledRotKey(ctx(), 4, 4));
    const std::string enc = storedForm(*test::generatedEncKey(ctx()));
    struct Case {
        const char *what;
        const char *file;
        std::string bytes;
        std::function<bool(KeyPack &)> fromDirectory; // true when a key came back
        std::function<void(KeyPack &, std::istream &)> fromStream;
        std::function<const void *(KeyPack &)> held;
    };
    const auto multFromStream = [](KeyPack &p, std::istream &in) { p.loadMultKey(in); };
    const auto conjFromStream = [](KeyPack &p, std::istream &in) { p.loadConjKey(in); };
    const auto rotFromStream = [](KeyPack &p, std::istream &in) { p.loadLeftRotKey(3, in, 0); };
    const auto encFromStream = [](KeyPack &p, std::istream &in) { p.loadEncKey(in); };
    const auto multHeld = [](KeyPack &p) -> const void * { return p.getMultKey().get(); };
    const auto conjHeld = [](KeyPack &p) -> const void * { return p.getConjKey().get(); };
    const auto rotHeld = [](KeyPack &p) -> const void * { return p.getLeftRotKey(3, 0).get(); };
    const auto encHeld = [](KeyPack &p) -> const void * { return p.getEncKey().get(); };
    const std::vector<Case> cases = {
        {"conjugation key as multiplication key", "MultKey.bin", conj,
         [](KeyPack &p) { return p.getMultKey() != nullptr; }, multFromStream, multHeld},
        {"multiplication key of another context", "MultKey.bin", test::withHash(mult, foreignHash),
         [](KeyPack &p) { return p.getMultKey() != nullptr; }, multFromStream, multHeld},
        {"multiplication key as conjugation key", "ConjKey.bin", mult,
         [](KeyPack &p) { return p.getConjKey() != nullptr; }, conjFromStream, conjHeld},
        {"rotation key 4 as rotation key 3", "RotKey3.bin", rot4,
         [](KeyPack &p) { return p.getLeftRotKey(3, 0) != nullptr; }, rotFromStream, rotHeld},
        {"multiplication key as rotation key", "RotKey3.bin", mult,
         [](KeyPack &p) { return p.getLeftRotKey(3, 0) != nullptr; }, rotFromStream, rotHeld},
        {"rotation key of another context", "RotKey3.bin", test::withHash(rot3, foreignHash),
         [](KeyPack &p) { return p.getLeftRotKey(3, 0) != nullptr; }, rotFromStream, rotHeld},
        {"encryption key of another context", "EncKey.bin", test::withHash(enc, foreignHash),
         [](KeyPack &p) { return p.getEncKey() != nullptr; }, encFromStream, encHeld},
    };
    const std::map<std::string, std::string> valid = {
        {"MultKey.bin", mult}, {"ConjKey.bin", conj}, {"RotKey3.bin", rot3}, {"EncKey.bin", enc}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        KeyDirectory dir("keypack_refuse");
        dir.writeKeyFile(c.file, c.bytes);
        KeyPack onDir(ctx(), dir.dir());
        expectThrowsMessage([&] { c.fromDirectory(onDir); }, kVerifierMessage);
        dir.writeKeyFile(c.file, valid.at(c.file));
        EXPECT_TRUE(c.fromDirectory(onDir)) << "the refused key left something behind";

        KeyPack pack(ctx());
        auto good = streamOf(valid.at(c.file));
        c.fromStream(pack, good);
        const void *before = c.held(pack);
        auto bad = streamOf(c.bytes);
        expectThrowsMessage([&] { c.fromStream(pack, bad); }, kVerifierMessage);
        EXPECT_EQ(c.held(pack), before);
    }
}

TEST(KeyPackTest, StreamLoadsReplaceHeldKeys) {
    KeyPack pack(ctx());
    const auto first = filledMultKey(ctx(), 1);
    const auto second = filledMultKey(ctx(), 2);
    auto in = streamOf(storedForm(*first));
    pack.loadMultKey(in);
    const auto handedOut = pack.getMultKey();
    in = streamOf(storedForm(*second));
    pack.loadMultKey(in);
    EXPECT_EQ(keyWords(*pack.getMultKey()), keyWords(*second));
    // A key handed out before is not changed by the replacement.
    EXPECT_EQ(keyWords(*handedOut), keyWords(*first));

    const auto enc1 = test::generatedEncKey(ctx());
    const auto enc2 = test::generatedEncKey(ctx());
    in = streamOf(storedForm(*enc1));
    pack.loadEncKey(in);
    in = streamOf(storedForm(*enc2));
    pack.loadEncKey(in);
    EXPECT_EQ(storedForm(*pack.getEncKey()), storedForm(*enc2));

    in = streamOf(storedForm(*filledConjKey(ctx(), 3)));
    pack.loadConjKey(in);
    in = streamOf(storedForm(*filledConjKey(ctx(), 4)));
    pack.loadConjKey(in);
    EXPECT_EQ(keyWords(*pack.getConjKey()), keyWords(*filledConjKey(ctx(), 4)));

    implOf(pack).tryEmplaceRotKey(7, filledRotKey(ctx(), 7, 5));
    in = streamOf(storedForm(*filledRotKey(ctx(), 7, 6)));
    pack.loadLeftRotKey(7, in, 0);
    EXPECT_EQ(keyWords(*pack.getLeftRotKey(7, 0)), keyWords(*filledRotKey(ctx(), 7, 6)));
}

TEST(KeyPackTest, EncapsulationKeyNeedsASparseContext) {
    KeyDirectory dir("keypack_sse");
    KeyPack pack(ctx(), dir.dir());
    EXPECT_FALSE(pack.getSparseSecretEncapsulationKey());
    EXPECT_FALSE(pack.isSparseSecretEncapsulationKeyLoaded());

    auto key = makeEmptySparseSecretEncapsulationKey(ctx(), fiveDigits());
    test::fillKey(key->getDTSPart(), 1);
    test::fillKey(key->getSTDPart(), 2);
    const std::string stored = storedForm(*key);
    dir.writeKeyFile("SparseSecretEncapsulationKey.bin", stored);
    EXPECT_TRUE(implOf(pack).isSparseSecretEncapsulationKeyFileAvailable());
    expectThrowsMessage([&] { pack.getSparseSecretEncapsulationKey(); }, kNoSparseContext);
    expectThrowsMessage([&] { pack.loadSparseSecretEncapsulationKey(); }, kNoSparseContext);
    auto in = streamOf(stored);
    expectThrowsMessage([&] { pack.loadSparseSecretEncapsulationKey(in); }, kNoSparseContext);
    expectThrowsMessage([&] { implOf(pack).installSparseSecretEncapsulationKey(std::move(key)); },
                        kNoSparseContext);
    EXPECT_FALSE(pack.isSparseSecretEncapsulationKeyLoaded());
}

// With minimal key load on, a rotation key is read with only the digits a
// request asks for, and read again when a request needs more.
TEST(KeyPackTest, MinimalKeyLoad) {
    KeyDirectory dir("keypack_minimal");
    const auto full = filledRotKey(fiveDigits(), 3, 9);
    Serialize::save(dir.keyFile("RotKey3.bin"), *full);
    const auto digits = [](const std::shared_ptr<EvaluationKey> &key) {
        return key ? masksOf(*key).size() : 0;
    };

    {
        SCOPED_TRACE("off: the full key, whatever the request");
        KeyPack pack(fiveDigits(), dir.dir());
        pack.loadLeftRotKey(3, 2);
        EXPECT_EQ(digits(pack.getLeftRotKey(3, 2)), 5u);
        EXPECT_EQ(pack.getLeftRotKey(3, 2)->getDnum(), 0u);
        for (std::uint64_t d = 0; d <= 6; ++d)
            EXPECT_TRUE(pack.isLeftRotKeyLoaded(3, d)) << d;
    }
    {
        SCOPED_TRACE("on: cut to the request, read again for more");
        KeyPack pack(fiveDigits(), dir.dir());
        pack.setMinimalKeyLoad(true);
        EXPECT_TRUE(pack.getMinimalKeyLoad());
        pack.loadLeftRotKey(3, 2);
        const auto cut = pack.getLeftRotKey(3, 2);
        EXPECT_EQ(digits(cut), 2u);
        EXPECT_EQ(cut->getDnum(), 2u);
        // Bodies, then masks: the first two digits of each.
        const auto words = keyWords(*full);
        EXPECT_EQ(keyWords(*cut), (std::vector{words[0], words[1], words[5], words[6]}));
        EXPECT_TRUE(pack.isLeftRotKeyLoaded(3, 1));
        EXPECT_TRUE(pack.isLeftRotKeyLoaded(3, 2));
        EXPECT_FALSE(pack.isLeftRotKeyLoaded(3, 3));
        EXPECT_FALSE(pack.isLeftRotKeyLoaded(3, 0)) << "0 asks for every digit";
        EXPECT_EQ(pack.getLeftRotKey(3, 1), cut);
        pack.loadLeftRotKey(3, 3);
        EXPECT_EQ(digits(pack.getLeftRotKey(3, 3)), 3u);
        EXPECT_EQ(digits(cut), 2u) << "a key handed out stays as it was";
        // Every digit: asked with 0 or with the gadget rank or more; the key
        // records the request (7 is kept as 7, nothing cut).
        for (const std::uint64_t d : {0, 5, 7}) {
            KeyPack other(fiveDigits(), dir.dir());
            other.setMinimalKeyLoad(true);
            other.loadLeftRotKey(3, 2);
            const auto whole = other.getLeftRotKey(3, d);
            EXPECT_EQ(digits(whole), 5u) << d;
            EXPECT_EQ(whole->getDnum(), d) << d;
            for (std::uint64_t e = 0; e <= 6; ++e)
                EXPECT_TRUE(other.isLeftRotKeyLoaded(3, e)) << d << " " << e;
        }
    }
    {
        SCOPED_TRACE("switched off after cut loads: a cut key counts as missing");
        KeyPack pack(fiveDigits(), dir.dir());
        pack.setMinimalKeyLoad(true);
        pack.loadLeftRotKey(3, 1);
        pack.setMinimalKeyLoad(false);
        EXPECT_FALSE(pack.isLeftRotKeyLoaded(3, 1));
        EXPECT_EQ(digits(pack.getLeftRotKey(3, 1)), 5u);
    }
    {
        SCOPED_TRACE("stream loads are cut the same way");
        KeyPack pack(fiveDigits());
        pack.setMinimalKeyLoad(true);
        auto in = streamOf(storedForm(*full));
        pack.loadLeftRotKey(3, in, 4);
        EXPECT_EQ(digits(pack.getLeftRotKey(3, 4)), 4u);
        EXPECT_FALSE(pack.isLeftRotKeyLoaded(3, 0));
    }
    {
        SCOPED_TRACE("a key file that holds fewer digits serves only what it holds");
        KeyDirectory cutDir("keypack_minimal_cut");
        auto cutKey = filledRotKey(fiveDigits(), 3, 9);
        cutKey->resizeDnumForRotkey(2);
        Serialize::save(cutDir.keyFile("RotKey3.bin"), *cutKey);
        KeyPack pack(fiveDigits(), cutDir.dir());
        EXPECT_FALSE(pack.getLeftRotKey(3, 0));
        pack.setMinimalKeyLoad(true);
        EXPECT_EQ(digits(pack.getLeftRotKey(3, 2)), 2u);
        EXPECT_FALSE(pack.getLeftRotKey(3, 3));
    }
}

// Keys of a multi-secret context index their bodies with the gadget rank, so
// the pack keeps them whole.
TEST(KeyPackTest, MultiSecretRotationKeysStayWhole) {
    const auto multi = Quelt::test::multiSecretContext();
    KeyDirectory dir("keypack_multi");
    Serialize::save(dir.keyFile("RotKey3.bin"), *filledRotKey(multi, 3, 9));
    KeyPack pack(multi, dir.dir());
    pack.setMinimalKeyLoad(true);
    const auto key = pack.getLeftRotKey(3, 1);
    ASSERT_TRUE(key);
    EXPECT_EQ(masksOf(*key).size(), getGadgetRank(multi));
    EXPECT_EQ(key->getDnum(), 0u);
    EXPECT_TRUE(pack.isLeftRotKeyLoaded(3, 1));
    EXPECT_TRUE(pack.isLeftRotKeyLoaded(3, 0));

    // A request at or above the gadget rank is recorded, nothing cut.
    const std::uint64_t above = getGadgetRank(multi) + 3;
    KeyPack other(multi, dir.dir());
    other.setMinimalKeyLoad(true);
    const auto whole = other.getLeftRotKey(3, above);
    ASSERT_TRUE(whole);
    EXPECT_EQ(masksOf(*whole).size(), getGadgetRank(multi));
    EXPECT_EQ(whole->getDnum(), above);
    EXPECT_TRUE(other.isLeftRotKeyLoaded(3, 1));
    EXPECT_TRUE(other.isLeftRotKeyLoaded(3, 0));
}

TEST(KeyPackTest, KeyGeneratorStores) {
    const KeyPack pack(ctx());
    KeyPackImpl &impl = implOf(pack);
    const auto a = filledRotKey(ctx(), 5, 1);
    const auto b = filledRotKey(ctx(), 5, 2);
    EXPECT_TRUE(impl.tryEmplaceRotKey(5, a));
    EXPECT_FALSE(impl.tryEmplaceRotKey(5, b));
    EXPECT_EQ(pack.getLeftRotKey(5, 0), a);

    const auto m1 = filledMultKey(ctx(), 1);
    const auto m2 = filledMultKey(ctx(), 2);
    impl.installMultKey(m1);
    impl.installMultKey(m2);
    EXPECT_EQ(pack.getMultKey(), m2);
    const auto c = filledConjKey(ctx(), 3);
    impl.installConjKey(c);
    EXPECT_EQ(pack.getConjKey(), c);
    const auto e = test::generatedEncKey(ctx());
    impl.installEncKey(e);
    EXPECT_EQ(pack.getEncKey(), e);

    const auto f1 = test::filledFuseRotKey(ctx(), 1);
    const auto f2 = test::filledFuseRotKey(ctx(), 2);
    EXPECT_TRUE(impl.tryEmplaceFuseRotKey(4, f1));
    EXPECT_FALSE(impl.tryEmplaceFuseRotKey(4, f2));
    EXPECT_EQ(pack.getFuseRotKey(4), f1);
    impl.insertOrReplaceFuseRotKey(4, f2);
    EXPECT_EQ(pack.getFuseRotKey(4), f2);
    impl.insertOrReplaceFuseRotKey(6, f1);
    EXPECT_EQ(pack.getFuseRotKey(6), f1);
}

TEST(KeyPackTest, DevicesOfTheKeys) {
    const Device second{0, 1};
    const KeyPack source(ctx());
    KeyPackImpl &impl = implOf(source);
    impl.installEncKey(test::generatedEncKey(ctx()));
    impl.installMultKey(filledMultKey(ctx(), 1));
    impl.installConjKey(filledConjKey(ctx(), 2));
    impl.tryEmplaceRotKey(3, filledRotKey(ctx(), 3, 3));
    impl.tryEmplaceFuseRotKey(3, test::filledFuseRotKey(ctx(), 4));

    KeyPack pack = source;
    pack.copyTo(second);
    EXPECT_EQ(pack.getEncKey()->getDevice(), kHostDevice) << "copyTo leaves the encryption key";
    for (const auto &key : {pack.getMultKey(), pack.getConjKey(), pack.getLeftRotKey(3, 0)}) {
        EXPECT_NO_THROW(key->getAxIter(second));
        EXPECT_NO_THROW(key->getAxIter(kHostDevice));
    }
    EXPECT_NO_THROW(pack.getFuseRotKey(3)->getPoly(second, 0));

    pack.to(second);
    EXPECT_EQ(pack.getEncKey()->getDevice(), second);
    for (const auto &key : {pack.getMultKey(), pack.getConjKey(), pack.getLeftRotKey(3, 0)}) {
        EXPECT_NO_THROW(key->getBxIter(second));
        EXPECT_THROW(key->getBxIter(kHostDevice), std::out_of_range);
    }
    EXPECT_THROW(pack.getFuseRotKey(3)->getPoly(kHostDevice, 0), std::out_of_range);
    // The stream holds host lists only.
    std::ostringstream out;
    EXPECT_THROW(pack.save(out), std::out_of_range);

    // An accelerator: the device layer's message, the keys where they were.
    const Device accelerator{1, 0};
    for (const auto &move : std::vector<std::function<void()>>{[&] { pack.to(accelerator); },
                                                               [&] { pack.copyTo(accelerator); }}) {
        expectThrowsMessage(
            move, "Cannot support the function 'doAllocate' in the current build configuration");
        EXPECT_EQ(pack.getEncKey()->getDevice(), second);
        EXPECT_NO_THROW(pack.getMultKey()->getAxIter(second));
    }
}
