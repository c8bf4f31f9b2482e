#include "Quelt/EncryptionKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/ContextContent.hpp"
#include "context/PolyGerm.hpp"
#include "context/Polynomial.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "keys/EncryptionKeyImpl.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <cereal/archives/portable_binary.hpp>
#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using Quelt::test::bytesOf;
using Quelt::test::wordsOf;
using Rlwe = SecretKeyBase<EncryptionType::RLWE>;

constexpr const char *kVerifier =
    "[Verifier::load] Validation failed during deserializing objects.";
constexpr std::uint64_t kN = 64;

// The small context (three base and quantize primes, one temporary prime)
// with encryption level 1, so that the key's level differs from the top.
std::shared_ptr<ContextContent> levelOneContext() {
    static const auto ctx = test::withParameter(test::degree64ThreePrimes(),
                                                [](Parameter &p) { p.encryption_level = 1; });
    return ctx;
}

std::string saved(const EncryptionKey &key) {
    std::ostringstream out;
    key.save(out);
    return out.str();
}

std::string patched(std::string bytes, std::size_t offset, const std::string &value) {
    return bytes.replace(offset, value.size(), value);
}

// A secret key and an encryption key generated from it over the level-one context.
struct Generated {
    Rlwe sk{levelOneContext()};
    EncryptionKey key{levelOneContext(), sk};
};

TEST(EncryptionKeyTest, MatchesItsDefiningFormulaByReplay) {
    for (const auto &ctx :
         {levelOneContext(), test::degree64ThreePrimes(), Quelt::test::degree64FourPrimes()}) {
        const Rlwe sk(ctx);
        const EncryptionKey key =
            test::expectEncryptionKeyReplays(ctx, sk, [&] { return EncryptionKey(ctx, sk); });
        EXPECT_EQ(key.getBx().getData().size(), (getEncryptionLevel(ctx) + 1) * kN);
    }
}

TEST(EncryptionKeyTest, RecordIsByteExact) {
    const auto ctx = levelOneContext();
    const Generated g;
    const std::string bytes = saved(g.key);
    const std::vector<std::uint64_t> primes = {test::kSmallPrimes[0], test::kSmallPrimes[1],
                                               test::kSmallPrimes[2]};
    // Header words of a polynomial over the three base primes at level 1.
    std::string header = bytesOf(kN) + bytesOf(std::uint64_t{3}) + bytesOf(std::uint64_t{3}) +
                         bytesOf(std::uint64_t{1}) + std::string("\x00\x01", 2) +
                         bytesOf(std::uint64_t{3});
    for (const std::uint64_t q : primes)
        header += bytesOf(q);

    std::string expected = "\x01" + bytesOf(std::uint32_t{0}) + bytesOf(ctx->getHash());
    expected += header + "\x01" + bytesOf(2 * kN);
    for (const std::uint64_t w : wordsOf(g.key.getBx()))
        expected += bytesOf(w);
    expected += header + std::string(1, '\0');
    expected += std::string(reinterpret_cast<const char *>(g.key.getAx().getGerm()->data()), 1024);
    EXPECT_EQ(bytes.size(), 13u + (51 + 24 + 16 * kN) + (1067 + 24));
    EXPECT_EQ(Quelt::test::firstDifference(bytes, expected), std::string::npos);
}

TEST(EncryptionKeyTest, ReloadReproducesTheKey) {
    const auto ctx = levelOneContext();
    const Generated g;
    const std::string bytes = saved(g.key);
    auto &gen = UniformRandomBitGenerator::getInstance();

    // The load draws nothing from the caller's generator.
    test::reseed();
    const std::string afterOneSeed = gen.getState();
    EncryptionKey fromStream(ctx);
    std::istringstream in(bytes);
    fromStream.load(in);
    EXPECT_EQ(gen.getState(), afterOneSeed);
    EXPECT_EQ(wordsOf(fromStream.getAx()), wordsOf(g.key.getAx()));
    EXPECT_EQ(wordsOf(fromStream.getBx()), wordsOf(g.key.getBx()));
    EXPECT_EQ(*fromStream.getAx().getGerm(), *g.key.getAx().getGerm());
    EXPECT_EQ(fromStream.getAx().getLevel(), 1u);
    EXPECT_EQ(saved(fromStream), bytes);

    // Files, the free functions and the serialisation layer's entry points.
    const Quelt::test::TempFile file("encryption_key.bin");
    g.key.save(file.path());
    EXPECT_EQ(file.read(), bytes);
    EncryptionKey fromFile(ctx);
    fromFile.load(file.path());
    EXPECT_EQ(saved(fromFile), bytes);
    Serialize::save(file.path(), g.key);
    EXPECT_EQ(file.read(), bytes);
    std::ostringstream viaFree;
    save(g.key, viaFree);
    EXPECT_EQ(viaFree.str(), bytes);
    EncryptionKey viaFreeLoad(ctx);
    std::istringstream freeIn(bytes);
    load(viaFreeLoad, freeIn);
    EXPECT_EQ(saved(viaFreeLoad), bytes);

    const std::string missing = file.path() + ".missing/EncKey.bin";
    expectThrowsMessage([&] { g.key.save(missing); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { fromFile.load(missing); }, "Cannot open file " + missing);
}

TEST(EncryptionKeyTest, RefusedRecordsLeaveTheKeyUnchanged) {
    const auto ctx = levelOneContext();
    const Generated g;
    const std::string good = saved(g.key);
    // Offsets: code 1, hash 5, bx at 13 (level 37, flags 45 and 46, word
    // count 80), ax at 1112 (level 1136, flags 1144 and 1145).
    ASSERT_EQ(good.size(), 2203u);
    const Rlwe otherSk(ctx);
    EncryptionKey target(ctx, otherSk);
    const std::string before = saved(target);

    const char *shape = EncryptionKeyImpl::kLoadShape;
    struct Case {
        const char *name;
        std::string bytes;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"object code 1", patched(good, 1, bytesOf(std::uint32_t{1})), kVerifier},
        {"another hash", patched(good, 5, bytesOf(ctx->getHash() + 1)), kVerifier},
        {"another context's key",
         saved(EncryptionKey(test::otherContext(), Rlwe(test::otherContext()))), kVerifier},
        {"bx below the encryption level", patched(good, 37, bytesOf(std::uint64_t{0})), shape},
        {"bx in coefficient form", patched(good, 46, std::string(1, '\0')), shape},
        {"bx in mod-up form", patched(good, 45, "\x01"),
         "[Polynomial::load] Size does not match the context"},
        {"bx with a huge array", patched(good, 80, bytesOf(std::uint64_t{1} << 61)),
         "[Polynomial::load] Array length does not match the header"},
        {"ax above the encryption level", patched(good, 1136, bytesOf(std::uint64_t{2})), shape},
        {"ax in coefficient form", patched(good, 1145, std::string(1, '\0')), shape},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.bytes);
        expectThrowsMessage([&] { target.load(in); }, c.message);
        EXPECT_EQ(saved(target), before);
    }

    for (const std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{9}, std::size_t{500},
                                  std::size_t{1111}, std::size_t{2000}, good.size() - 1}) {
        SCOPED_TRACE(cut);
        std::istringstream in(good.substr(0, cut));
        EXPECT_THROW(target.load(in), cereal::Exception);
        EXPECT_EQ(saved(target), before);
    }
    std::istringstream cutInBx(good.substr(0, 100));
    expectThrowsMessage<cereal::Exception>([&] { target.load(cutInBx); },
                                           "Failed to read 1024 bytes from input stream! Read 12");
    EXPECT_EQ(saved(target), before);
}

TEST(EncryptionKeyTest, LoadAgainstAContextTheCallerPasses) {
    // Inside a larger record no hash is compared: the key keeps the stored
    // one, and the polynomials are checked against the context passed in.
    const auto ctx = levelOneContext();
    const Generated g;
    const std::string good = saved(g.key);
    const std::string foreignHash = patched(good, 5, bytesOf(std::uint64_t{42}));
    EncryptionKey key(ctx);
    {
        std::istringstream in(foreignHash);
        cereal::PortableBinaryInputArchive archive(in);
        key.load(archive, ctx);
    }
    EXPECT_EQ(saved(key), foreignHash);
    EXPECT_EQ(wordsOf(key.getBx()), wordsOf(g.key.getBx()));
    {
        std::istringstream in(patched(good, 46, std::string(1, '\0')));
        cereal::PortableBinaryInputArchive archive(in);
        expectThrowsMessage([&] { key.load(archive, ctx); }, EncryptionKeyImpl::kLoadShape);
    }
    EXPECT_EQ(saved(key), foreignHash);
}

TEST(EncryptionKeyTest, EmptyKeyDevicesAndCopies) {
    const auto ctx = levelOneContext();
    const EncryptionKey empty(ctx);
    EXPECT_EQ(empty.getAx().getLevel(), 2u);
    EXPECT_TRUE(empty.getAx().isNTT() && empty.getBx().isNTT());
    EXPECT_FALSE(empty.getAx().isModUp() || empty.getAx().hasGerm());
    EXPECT_EQ(empty.getBx().getData().size(), 3 * kN);
    expectThrowsMessage([] { EncryptionKey k(nullptr); }, "[Context] The context is null");

    Generated g;
    const std::string bytes = saved(g.key);
    EncryptionKey copy(g.key);
    copy.getBx().getLimb(0)[0] ^= 1;
    EXPECT_EQ(saved(g.key), bytes);
    EncryptionKey assigned(ctx);
    assigned = g.key;
    EXPECT_EQ(saved(assigned), bytes);
    const EncryptionKey &self = assigned;
    assigned = self;
    EXPECT_EQ(saved(assigned), bytes);

    EXPECT_EQ(g.key.getDevice(), kHostDevice);
    g.key.to(kHostDevice);
    g.key.allocate(kHostDevice);
    EXPECT_EQ(saved(g.key), bytes);
    // bx on another device (an empty pinned array stands for one).
    const Quelt::test::TempFile file("EncKey.bin");
    g.key.save(file.path());
    g.key.getBx().setData(DeviceSpecificArray<std::uint64_t>(0, Device{Device::kPinned, 0}));
    expectThrowsMessage([&] { g.key.getDevice(); },
                        "Polynomials in a ciphertext are in different devices");
    // Its record cannot be written past the header; the file saved before
    // stays as it was.
    expectThrowsMessage([&] { g.key.save(file.path()); },
                        "Cannot support the function 'save' in the current build configuration");
    EXPECT_EQ(file.read(), bytes);
}

} // namespace
} // namespace Quelt
