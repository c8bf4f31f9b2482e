// The sparse-secret companion of a bootstrapper on its own, on the degree-128
// pair whose sparse context shares the main context's prime 0: the checks of
// the companion in order, the refusals without one, and the switch onto the
// sparse secret, which the main context's switch back undoes.

#include "boot/SparseSecretRaise.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/SparseSecretSwitch.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/KeySwitcher.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;

Ciphertext encryptAtLevelZero(const RLWEKey &sk, const std::vector<double> &values) {
    Ciphertext ct(sseNamedMain(), false, true);
    Encryptor(sseNamedMain()).encryptWithScale(values, sk, ct, 0, std::ldexp(1.0, 30), true);
    return ct;
}

bool sameWords(const Polynomial &a, const Polynomial &b) {
    const u64 n = (a.getLevel() + 1) * a.getDegree();
    return a.getLevel() == b.getLevel() && std::equal(a.getLimb(0), a.getLimb(0) + n, b.getLimb(0));
}

TEST(SparseSecretRaiseTest, CheckCompanionChecksInOrder) {
    struct Case {
        std::string name;
        std::shared_ptr<ContextContent> main;
        std::shared_ptr<ContextContent> sparse;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"no sparse-secret encapsulation", degree64ThreePrimes(), sseNamedSparse(),
         BootstrapperImpl::kNoSparseSecretMessage},
        {"another preset than the sparse companion", sseNamedMain(), sseNamedMain(),
         BootstrapperImpl::kSparsePresetMismatchMessage},
        {"two secrets against one", genMultiSecretContext(sseNamedMain(), "SseRaiseMain2", 2),
         sseNamedSparse(), BootstrapperImpl::kSparseNumSecretMessage},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const SparseSecretRaise raise(c.main, c.sparse);
        expectThrowsMessage([&] { raise.checkCompanion(); }, c.message);
    }
    const SparseSecretRaise raise(sseNamedMain(), sseNamedSparse());
    raise.checkCompanion();
    EXPECT_EQ(raise.getSparseContext(), sseNamedSparse());
}

TEST(SparseSecretRaiseTest, WithoutACompanionEverySwitchIsRefused) {
    const SparseSecretRaise raise(sseNamedMain(), nullptr);
    EXPECT_EQ(raise.getSparseContext(), nullptr);
    expectThrowsMessage([&] { (void)raise.requireSwitcher(); },
                        BootstrapperImpl::kNoSparseContextMessage);
    const RLWEKey sk(sseNamedMain());
    const KeyPack pack(sseNamedMain(), sseNamedSparse());
    Ciphertext ct = encryptAtLevelZero(sk, std::vector<double>(4, 0.5));
    const Ciphertext before(ct);
    expectThrowsMessage([&] { raise.toSparse(ct, pack); },
                        BootstrapperImpl::kNoSparseContextMessage);
    EXPECT_TRUE(ct.getPoly(0).isNTT());
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        EXPECT_TRUE(sameWords(ct.getPoly(i), before.getPoly(i))) << i;
}

TEST(SparseSecretRaiseTest, ToSparseThenBackDecryptsToTheInput) {
    const RLWEKey sk(sseNamedMain());
    const KeyPack pack(sseNamedMain(), sseNamedSparse());
    KeyGenerator(sseNamedMain(), sseNamedSparse(), sk, pack).genSparseSecretEncapsulationKey();
    std::vector<double> values(getDegree(sseNamedMain()));
    for (u64 j = 0; j < values.size(); ++j)
        values[j] = std::cos(static_cast<double>(j));
    Ciphertext ct = encryptAtLevelZero(sk, values);

    const SparseSecretRaise raise(sseNamedMain(), sseNamedSparse());
    raise.toSparse(ct, pack);
    EXPECT_EQ(ct.getContext(), sseNamedMain());
    EXPECT_FALSE(ct.getPoly(0).isNTT());
    switchKeySTD(KeySwitcher(sseNamedMain()), pack, ct, ct, true);

    std::vector<double> decrypted;
    Decryptor(sseNamedMain()).decryptWithScale(ct, sk, decrypted, std::ldexp(1.0, 30), true);
    ASSERT_EQ(decrypted.size(), values.size());
    for (u64 j = 0; j < values.size(); ++j)
        EXPECT_NEAR(decrypted[j], values[j], 1e-5) << j;
}

} // namespace
} // namespace Quelt::test
