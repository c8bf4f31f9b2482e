// The loaders refuse what does not belong to their target. Every case is a
// file the test writes into a directory of its own; each row names the
// message the load now gives and checks that the target is as it was.

#include "Quelt/EvaluationKey.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "Quelt/SecretKey.hpp"
#include "client/KeyPackImpl.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "foundation/WordArith.hpp"
#include "keys/SecretKeyImpl.hpp"
#include "keys/Serialize.hpp"
#include "support/AllocationCounter.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyBundleTestSupport.hpp"
#include "support/KeyPackTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

using namespace Quelt;
using test::bytesOf;
using test::expectThrowsMessage;
using test::filledMultKey;
using test::filledRotKey;
using test::implOf;

namespace {

constexpr const char *kVerifier =
    "[Verifier::load] Validation failed during deserializing objects.";

std::shared_ptr<ContextContent> ctx() { return test::degree64FourPrimes(); }

// A refusal: the bytes of the file, and the message its load gives.
struct Row {
    std::string name;
    std::string bytes;
    std::string message;
};

// Writes each row's file into `dir`, runs `load` on it against a fresh target
// made by `make`, and checks the message and that `snapshot` of the target
// did not change. The load must also allocate no more than a small multiple
// of the file in the library's arrays.
template <typename Target>
void expectRefusals(const test::TempDirectory &dir, const std::vector<Row> &rows,
                    const std::function<Target()> &make,
                    const std::function<void(Target &, const std::string &)> &load,
                    const std::function<std::string(const Target &)> &snapshot) {
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.file(row.name);
        std::ofstream(path, std::ios::binary) << row.bytes;
        Target target = make();
        const std::string before = snapshot(target);
        const u64 allocated = test::alignedBytesDuring(
            [&] { expectThrowsMessage([&] { load(target, path); }, row.message); });
        EXPECT_LE(allocated, 16 * row.bytes.size() + (u64{1} << 16));
        EXPECT_EQ(snapshot(target), before);
    }
}

std::string packStream(const KeyPack &pack) {
    std::ostringstream out;
    pack.save(out);
    return out.str();
}

// A pack that holds keys of every kind the stream carries.
KeyPack heldPack() {
    KeyPack pack(ctx());
    implOf(pack).installEncKey(test::generatedEncKey(ctx()));
    implOf(pack).installMultKey(filledMultKey(ctx(), 1));
    implOf(pack).tryEmplaceRotKey(3, filledRotKey(ctx(), 3, 3));
    return pack;
}

// The stream of a pack in which `file` files a key.
std::string packStreamWith(const std::function<void(KeyPackImpl &)> &file) {
    const KeyPack pack(ctx());
    file(implOf(pack));
    return packStream(pack);
}

// The stored form of one polynomial, written field by field.
std::string polynomialRecord(u64 degree, u64 chain, u64 size, u64 level,
                             const std::vector<u64> &primes, bool seeded) {
    std::string bytes = bytesOf(degree) + bytesOf(chain) + bytesOf(size) + bytesOf(level);
    bytes += std::string("\x01\x01", 2); // mod-up, NTT
    bytes += bytesOf(static_cast<u64>(primes.size()));
    for (const u64 p : primes)
        bytes += bytesOf(p);
    if (seeded)
        return bytes + std::string(1, '\0') + std::string(1024, '\x5a');
    const u64 words = size * degree;
    bytes += std::string(1, '\x01') + bytesOf(words);
    for (u64 i = 0; i < words; ++i)
        bytes += bytesOf(i % 97);
    return bytes;
}

// An evaluation-key record (without the byte-order byte) of one body and one
// mask.
std::string evaluationRecord(const std::string &body, const std::string &mask, char type) {
    return bytesOf(std::uint32_t{1}) + bytesOf(u64{0}) + std::string(1, type) + bytesOf(u64{0}) +
           bytesOf(u64{1}) + body + bytesOf(u64{1}) + mask;
}

std::vector<u64> manyPrimes() { return std::vector<u64>(32, (u64{1} << 50) - 27); }

} // namespace

// The whole-pack stream: each key must be of the kind of its place and, for
// a rotation key, of its index below the slot count (32 here).
TEST(LoaderRefusalTest, WholePackStream) {
    const test::TempDirectory dir("refuse_pack_stream");
    const auto keyOne = [] { return filledRotKey(ctx(), 1, 7); };
    const std::vector<Row> rows = {
        {"rotation key 1 under index 5",
         packStreamWith([&](KeyPackImpl &p) { p.tryEmplaceRotKey(5, keyOne()); }), kVerifier},
        {"rotation key 1 under index 2",
         packStreamWith([&](KeyPackImpl &p) { p.tryEmplaceRotKey(2, keyOne()); }), kVerifier},
        {"rotation key 1 under index 0",
         packStreamWith([&](KeyPackImpl &p) { p.tryEmplaceRotKey(0, keyOne()); }), kVerifier},
        {"rotation key 1 under index 33 (beyond the slots)",
         packStreamWith([&](KeyPackImpl &p) { p.tryEmplaceRotKey(33, keyOne()); }), kVerifier},
        {"rotation key 1 under index 1 + 32", packStreamWith([&](KeyPackImpl &p) {
             p.tryEmplaceRotKey(33, filledRotKey(ctx(), 33, 7));
         }),
         kVerifier},
        {"rotation key in the multiplication slot",
         packStreamWith([&](KeyPackImpl &p) { p.installMultKey(keyOne()); }), kVerifier},
        {"multiplication key in the conjugation slot",
         packStreamWith([&](KeyPackImpl &p) { p.installConjKey(filledMultKey(ctx(), 2)); }),
         kVerifier},
        {"multiplication key as rotation key 4",
         packStreamWith([&](KeyPackImpl &p) { p.tryEmplaceRotKey(4, filledMultKey(ctx(), 2)); }),
         kVerifier},
        {"rotation key of another context", packStreamWith([&](KeyPackImpl &p) {
             p.tryEmplaceRotKey(1, filledRotKey(test::degree64FivePrimes(), 1, 7));
         }),
         kVerifier},
    };
    expectRefusals<KeyPack>(
        dir, rows, heldPack,
        [](KeyPack &pack, const std::string &path) {
            std::ifstream in(path, std::ios::binary);
            pack.load(in);
        },
        packStream);

    // Keys in their places load, and key 1 rotates by 1.
    KeyPack pack = heldPack();
    const std::string good =
        packStreamWith([&](KeyPackImpl &p) { p.tryEmplaceRotKey(1, keyOne()); });
    std::istringstream in(good);
    pack.load(in);
    EXPECT_EQ(pack.getLeftRotKey(1, 0)->getAux(), 1u);
    EXPECT_EQ(packStream(pack), good);
}

// Bundles made over a context take only what they were made for.
TEST(LoaderRefusalTest, KeyBundles) {
    const test::TempDirectory dir("refuse_bundles");
    const auto four = test::fourSecretContext();
    // Four secrets over other primes: another context of the same shape.
    static const auto otherFour = makeContext(6, 3, 42, 42, 42, 3, 1, 4);
    const auto filledMStoSS = [](const std::shared_ptr<ContextContent> &c, u64 seed) {
        MStoSSKeyBundle bundle(c);
        test::fillBundle(bundle, seed, true);
        return bundle;
    };
    const std::string good = test::savedBundle(filledMStoSS(four, 3));
    SStoMSKeyBundle sstoms(four);
    test::fillBundle(sstoms, 5, true);
    const auto elements = [](u64 count, const std::string &body) {
        return std::string(1, '\x01') + bytesOf(count) + body;
    };
    const std::vector<Row> rows = {
        {"an MStoSS bundle of another context", test::savedBundle(filledMStoSS(otherFour, 5)),
         KeyBundleMessages::kForeignKey},
        {"an SStoMS bundle", test::savedBundle(sstoms), KeyBundleMessages::kForeignKey},
        {"count 2 of 4", elements(2, good.substr(9)), KeyBundleMessages::kCountMismatch},
        {"four empty elements", elements(4, std::string(16, '\0')), KeyBundleMessages::kMissingKey},
        {"no element", elements(0, ""), KeyBundleMessages::kCountMismatch},
    };
    expectRefusals<MStoSSKeyBundle>(
        dir, rows, [&] { return filledMStoSS(four, 9); },
        [](MStoSSKeyBundle &bundle, const std::string &path) {
            std::ifstream in(path, std::ios::binary);
            bundle.load(in);
        },
        [](const MStoSSKeyBundle &bundle) { return test::savedBundle(bundle); });

    // The multi-secret switch bundle over the FX preset with four secrets:
    // its MStoSS part replaced by that of another context.
    static const auto fx = makeContext(ParameterPreset::FX);
    static const auto fxFour = makeContext(ParameterPreset::FX, "FXNS4", 4, false, false);
    const auto filledSwitch = [](u64 seed) {
        MultiSecretSwitchKeyBundle bundle(fx, fxFour);
        test::fillBundle(bundle.getMStoSSKeyBundle(), seed, true);
        test::fillBundle(bundle.getSStoMSBisectionKeyBundle().getSStoMSKeyBundle(), seed + 1, true);
        for (IncreaseNSKeyBundle &step :
             bundle.getSStoMSBisectionKeyBundle().getIncreaseNSKeyBundleVec())
            test::fillBundle(step, seed + 2, true);
        return bundle;
    };
    const MultiSecretSwitchKeyBundle own = filledSwitch(11);
    const std::string ownBytes = test::savedBundle(own);
    const std::size_t ownMStoSS = test::savedBundle(own.getMStoSSKeyBundle()).size();
    const std::vector<Row> switchRows = {
        {"an MStoSS part of another context",
         test::savedBundle(filledMStoSS(four, 12)) + ownBytes.substr(ownMStoSS),
         KeyBundleMessages::kForeignKey},
    };
    expectRefusals<MultiSecretSwitchKeyBundle>(
        dir, switchRows, [&] { return filledSwitch(13); },
        [](MultiSecretSwitchKeyBundle &bundle, const std::string &path) { bundle.load(path); },
        [](const MultiSecretSwitchKeyBundle &bundle) { return test::savedBundle(bundle); });

    // The bisection bundle: its step count is the one it was made for.
    const auto secrets = [](u64 n) { return makeContext(6, 3, 40, 40, 40, 3, 1, n); };
    const auto filledBisection = [&](u64 doublings, u64 seed) {
        std::vector<std::shared_ptr<ContextContent>> ms;
        for (u64 j = 1; j <= doublings; ++j)
            ms.push_back(secrets(u64{1} << j));
        SStoMSBisectionKeyBundle bundle(secrets(1), ms);
        test::fillBundle(bundle.getSStoMSKeyBundle(), seed, true);
        for (IncreaseNSKeyBundle &step : bundle.getIncreaseNSKeyBundleVec())
            test::fillBundle(step, seed + 1, true);
        return bundle;
    };
    const std::vector<Row> steps = {
        {"two steps into a bundle made for none", test::savedBundle(filledBisection(3, 4)),
         KeyBundleMessages::kCountMismatch},
        {"one step into a bundle made for none", test::savedBundle(filledBisection(2, 4)),
         KeyBundleMessages::kCountMismatch},
    };
    expectRefusals<SStoMSBisectionKeyBundle>(
        dir, steps, [&] { return filledBisection(1, 8); },
        [](SStoMSBisectionKeyBundle &bundle, const std::string &path) {
            std::ifstream in(path, std::ios::binary);
            bundle.load(in);
        },
        [](const SStoMSBisectionKeyBundle &bundle) { return test::savedBundle(bundle); });
}

// Keys read without a context (EvaluationKey() and the bundle made without
// one) check every shape before a seed is regenerated: a few hundred bytes
// that describe 512 MiB of seeded residues allocate next to nothing.
TEST(LoaderRefusalTest, SeedsAreRegeneratedOnlyForAConsistentRecord) {
    const test::TempDirectory dir("refuse_seeds");
    const u64 huge = u64{1} << 21;
    const std::string hugeSeed = polynomialRecord(huge, 1, 32, 0, manyPrimes(), true);
    const std::string smallStored = polynomialRecord(64, 1, 2, 0, {97, 193}, false);
    const std::string smallSeed = polynomialRecord(64, 1, 2, 0, {97, 193}, true);
    const auto key = [](const std::string &record) { return std::string(1, '\x01') + record; };
    const std::vector<Row> rows = {
        {"a seeded body and mask of 512 MiB", key(evaluationRecord(hugeSeed, hugeSeed, 'r')),
         EvaluationKey::kLoadSeeded},
        {"a small body and a seeded mask of 512 MiB",
         key(evaluationRecord(smallStored, hugeSeed, 'r')), EvaluationKey::kLoadShape},
        {"a seeded body", key(evaluationRecord(smallSeed, smallSeed, 'r')),
         EvaluationKey::kLoadSeeded},
    };
    using KeyPointer = std::shared_ptr<EvaluationKey>;
    expectRefusals<KeyPointer>(
        dir, rows, [] { return std::make_shared<EvaluationKey>(); },
        [](KeyPointer &k, const std::string &path) { Serialize::load(path, *k); },
        [](const KeyPointer &k) { return test::savedKey(*k); });

    // The same records as bundle elements.
    std::vector<Row> bundleRows;
    for (const Row &row : rows)
        bundleRows.push_back({"bundle " + row.name,
                              std::string(1, '\x01') + bytesOf(u64{1}) +
                                  bytesOf(std::uint32_t{0x80000001}) + row.bytes.substr(1),
                              row.message});
    expectRefusals<IncreaseNSKeyBundle>(
        dir, bundleRows, [] { return IncreaseNSKeyBundle(); },
        [](IncreaseNSKeyBundle &bundle, const std::string &path) {
            std::ifstream in(path, std::ios::binary);
            bundle.load(in);
        },
        [](const IncreaseNSKeyBundle &bundle) { return test::savedBundle(bundle); });

    // A stored body with a seeded mask of its shape loads, the mask
    // regenerated from its seed.
    EvaluationKey loaded;
    std::istringstream in(key(evaluationRecord(smallStored, smallSeed, 'r')));
    Serialize::load(in, loaded);
    ASSERT_EQ(test::masksOf(loaded).size(), 1u);
    EXPECT_EQ(test::masksOf(loaded)[0].getData().size(), 128u);
}

// Key directory entries: only regular files are key files; list-form names
// parse strictly; indices at or beyond the slot count are not steps.
TEST(LoaderRefusalTest, KeyDirectoryEntries) {
    test::KeyDirectory dir("refuse_directory_entries");
    Serialize::save(dir.keyFile("RotKey4.bin"), *filledRotKey(ctx(), 4, 4));
    std::filesystem::create_directory(dir.keyFile("RotKey9.bin"));
    std::filesystem::create_directory(dir.keyFile("MultKey.bin"));
    ASSERT_EQ(::mkfifo(dir.keyFile("RotKey7.bin").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.keyFile("FuseRotKey7.bin").c_str(), 0600), 0);
    const std::string notRegular = KeyPackImpl::kNotRegularKeyFile;
    const KeyPack pack(ctx(), dir.dir());
    struct Case {
        const char *name;
        std::function<void()> call;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a directory as rotation key 9", [&] { pack.getLeftRotKey(9, 0); },
         notRegular + dir.keyFile("RotKey9.bin")},
        {"a pipe as rotation key 7 (never blocks)", [&] { pack.getLeftRotKey(7, 0); },
         notRegular + dir.keyFile("RotKey7.bin")},
        {"a directory as the multiplication key", [&] { pack.getMultKey(); },
         notRegular + dir.keyFile("MultKey.bin")},
        {"a pipe as fused key 7", [&] { pack.getFuseRotKey(7); },
         notRegular + dir.keyFile("FuseRotKey7.bin")},
        {"Serialize::load of a directory",
         [&] {
             EvaluationKey key;
             Serialize::load(dir.keyFile("RotKey9.bin"), key);
         },
         "Cannot open file " + dir.keyFile("RotKey9.bin")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage(c.call, c.message);
        EXPECT_TRUE(implOf(pack).getRotKeyList(true).empty());
        EXPECT_FALSE(pack.isMultKeyLoaded());
    }
    // The probes answer false; the scans take only the regular file.
    EXPECT_FALSE(pack.isLeftRotKeyFileAvailable(9));
    EXPECT_FALSE(pack.isLeftRotKeyFileAvailable(7));
    EXPECT_FALSE(implOf(pack).isMultKeyFileAvailable());
    EXPECT_EQ(implOf(pack).getRotKeyList(false), std::vector<u64>{4});

    // Stray names: an index at or beyond the 32 slots, leading zeros, and
    // numbers beyond 64 bits are no rotation steps.
    for (const char *name : {"RotKey40.bin", "RotKey32.bin", "RotKey04.bin",
                             "RotKey99999999999999999999.bin", "RotKey.bin", "RotKey5Xbin"})
        dir.writeKeyFile(name, "");
    EXPECT_EQ(implOf(pack).getRotKeyList(false), std::vector<u64>{4});
    EXPECT_EQ(pack.getRotKeyDecomposition(8), (std::vector<u64>{4, 4}));
    expectThrowsMessage([&] { pack.getRotKeyDecomposition(5); },
                        "[getRotKeyDecomposition] Can not reach to such rotation idx using given "
                        "rot keys.");
}

// loadMinRotKey: names that do not parse as the library writes them are
// skipped, and a number never wraps.
TEST(LoaderRefusalTest, ListFormNames) {
    const auto five = test::fiveDigitContext();
    test::KeyDirectory keys("refuse_list_keys");
    for (const u64 idx : {1, 2, 3})
        Serialize::save(keys.keyFile("RotKey" + std::to_string(idx) + ".bin"),
                        *filledRotKey(five, idx, idx));
    using Held = std::vector<std::pair<u64, u64>>;
    struct Case {
        const char *name;
        Held held; // index, recorded dnum
    };
    const std::vector<Case> cases = {
        {"RotKey99999999999999999999_1.bin", {}},
        {"RotKey1_99999999999999999999.bin", {}},
        {"RotKey_.bin", {}},
        {"RotKey2_3Xbin", {}},
        {"RotKey02_3.bin", {}},
        {"RotKey2_03.bin", {}},
        {"RotKey-1_2.bin", {}},
        {"RotKey33_2.bin", {}},
        {"RotKey2_3.bin", {{2, 3}}},
        // A dnum at or above the gadget rank (5) is recorded as asked and
        // cuts nothing.
        {"RotKey1_99999999999999.bin", {{1, 99999999999999}}},
        {"RotKey3_7.bin", {{3, 7}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        test::KeyDirectory list("refuse_list_names");
        list.writeKeyFile(c.name, "");
        KeyPack pack(five, keys.dir());
        pack.setMinimalKeyLoad(true);
        pack.loadMinRotKey(list.dir());
        Held held;
        for (const u64 idx : implOf(pack).getRotKeyList(true)) {
            const auto key = pack.getLeftRotKey(idx, 1);
            held.emplace_back(idx, key->getDnum());
            EXPECT_EQ(test::masksOf(*key).size(), std::min<u64>(key->getDnum(), 5));
        }
        EXPECT_EQ(held, c.held);
    }
}

// A secret-key load that is refused draws nothing from the caller's
// generator (nor does one that succeeds).
TEST(LoaderRefusalTest, SecretKeysDrawNothing) {
    const test::TempDirectory dir("refuse_secret");
    const SecretKeyBase<EncryptionType::RLWE> secret(ctx());
    std::ostringstream out;
    secret.save(out);
    const std::string good = out.str();
    // The one polynomial of sx is the record's tail: replace its residues by
    // a seed.
    const u64 size = getLength(ctx()) + getNumTP(ctx());
    const u64 header = 4 * 8 + 2 + 8 + size * 8;
    const u64 poly = header + 1 + 8 + size * getDegree(ctx()) * 8;
    const std::string prefix = good.substr(0, good.size() - poly);
    const std::string seeded = prefix + good.substr(good.size() - poly, header) +
                               std::string(1, '\0') + std::string(1024, '\x11');
    std::string otherHash = good;
    otherHash[1 + 1 + 4 + 4] ^= 1;
    using Key = SecretKeyImpl<EncryptionType::RLWE>;
    const std::vector<Row> rows = {
        {"a seeded secret polynomial", seeded, Key::kLoadPolynomialShape},
        {"another context", otherHash, kVerifier},
    };
    auto &generator = UniformRandomBitGenerator::getInstance();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.file(row.name);
        std::ofstream(path, std::ios::binary) << row.bytes;
        const std::string state = generator.getState();
        expectThrowsMessage([&] { SecretKeyBase<EncryptionType::RLWE>(ctx(), path); }, row.message);
        EXPECT_EQ(generator.getState(), state);
    }
    const std::string state = generator.getState();
    std::istringstream in(good);
    const SecretKeyBase<EncryptionType::RLWE> loaded(ctx(), in);
    EXPECT_EQ(generator.getState(), state);
}
