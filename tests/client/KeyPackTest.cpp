#include "Quelt/KeyPack.hpp"

#include "Quelt/EncryptionKey.hpp"
#include "Quelt/Exception.hpp"
#include "support/DataObjects.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <cereal/details/helpers.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace Quelt::test {
namespace {

using QueltTest::wordsOf;

// The encryption-key slot: empty at first, filled from a record, shared by
// copies; a record that fails to load leaves the key held, and a key handed
// out stays as it was when the pack takes another.
TEST(KeyPack, EncryptionKeySlot) {
    const auto ctx = smallContext();
    KeyPack pack(ctx);
    EXPECT_FALSE(pack.isEncKeyLoaded());
    EXPECT_EQ(pack.getEncKey(), nullptr);

    const SecretKeyBase<EncryptionType::RLWE> sk(ctx);
    const EncryptionKey key(ctx, sk);
    std::istringstream in(streamBytes(key));
    pack.loadEncKey(in);
    const KeyPack copy = pack;
    ASSERT_TRUE(copy.isEncKeyLoaded());
    const std::shared_ptr<EncryptionKey> held = copy.getEncKey();
    EXPECT_EQ(held, pack.getEncKey());
    EXPECT_EQ(wordsOf(held->getAx()), wordsOf(key.getAx()));
    EXPECT_EQ(wordsOf(held->getBx()), wordsOf(key.getBx()));

    // A key of another context, and a record cut short.
    const auto other = QueltTest::smallContext();
    const SecretKeyBase<EncryptionType::RLWE> otherSk(other);
    std::istringstream foreign(streamBytes(EncryptionKey(other, otherSk)));
    expectThrowsMessage([&] { pack.loadEncKey(foreign); },
                        "[Verifier::load] Validation failed during deserializing objects.");
    const std::string record = streamBytes(key);
    std::istringstream cut(record.substr(0, record.size() / 2));
    EXPECT_THROW(pack.loadEncKey(cut), cereal::Exception);
    EXPECT_EQ(pack.getEncKey(), held);

    const EncryptionKey second(ctx, sk);
    std::istringstream again(streamBytes(second));
    pack.loadEncKey(again);
    EXPECT_NE(copy.getEncKey(), held);
    EXPECT_EQ(wordsOf(copy.getEncKey()->getBx()), wordsOf(second.getBx()));
    EXPECT_EQ(wordsOf(held->getBx()), wordsOf(key.getBx()));
}

} // namespace
} // namespace Quelt::test
