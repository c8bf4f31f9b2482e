#include "support/SchemeFixture.hpp"

namespace Quelt::test {
namespace {

class SchemeTest : public SchemeFixture {};

// The fixture holds the encryption key and the evaluation keys later
// operations need; a fresh encryption decrypts to its message.
TEST_F(SchemeTest, KeysAreSharedAndEncryptionRoundTrips) {
    ASSERT_TRUE(keyPack().getMultKey());
    ASSERT_TRUE(keyPack().getConjKey());
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    EXPECT_EQ(ct.getLevel(), getEncryptionLevel(context()));
    EXPECT_LT(maxError(decrypt(ct), m), 1e-6);
}

} // namespace
} // namespace Quelt::test
