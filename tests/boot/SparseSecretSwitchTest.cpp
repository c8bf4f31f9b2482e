// The key switches of sparse-secret encapsulation on a degree-128 pair whose
// sparse context shares the main context's prime 0: dense to sparse then
// back decrypts to the input (one secret and two), and the refusals.

#include "boot/SparseSecretSwitch.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/KeySwitcher.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include "support/EvaluatorTestSupport.hpp"

#include <gtest/gtest.h>

#include <random>

#include <cmath>
#include <memory>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;

std::shared_ptr<ContextContent> mainContext() { return sseNamedMain(); }
std::shared_ptr<ContextContent> sparseContext() { return sseNamedSparse(); }

struct Pair {
    RLWEKey sk{mainContext()};
    KeyPack pack{mainContext(), sparseContext()};
    KeySwitcher sparseSwitcher{sparseContext()};
    KeySwitcher mainSwitcher{mainContext()};
};

Ciphertext encryptAtLevelZero(const RLWEKey &sk, const std::vector<double> &values) {
    Ciphertext ct(mainContext(), false, true);
    Encryptor(mainContext()).encryptWithScale(values, sk, ct, 0, std::ldexp(1.0, 30), true);
    return ct;
}

} // namespace

TEST(SparseSecretSwitchTest, DenseToSparseAndBackDecryptsToTheInput) {
    Pair pair;
    KeyGenerator(mainContext(), sparseContext(), pair.sk, pair.pack)
        .genSparseSecretEncapsulationKey();
    std::vector<double> values(getDegree(mainContext()));
    for (u64 j = 0; j < values.size(); ++j)
        values[j] = std::sin(static_cast<double>(j));
    Ciphertext ct = encryptAtLevelZero(pair.sk, values);
    const u64 logSlots = ct.getLogSlots();

    switchKeyDTS(mainContext(), pair.sparseSwitcher, pair.pack, ct, ct, false);
    EXPECT_EQ(ct.getContext(), mainContext());
    EXPECT_FALSE(ct.getPoly(0).isNTT());
    EXPECT_EQ(ct.getLogSlots(), logSlots);
    switchKeySTD(pair.mainSwitcher, pair.pack, ct, ct, true);
    EXPECT_TRUE(ct.getPoly(0).isNTT());
    EXPECT_TRUE(ct.getPoly(1).isNTT());
    EXPECT_EQ(ct.getLogSlots(), logSlots);
    EXPECT_EQ(ct.getLevel(), 0u);

    std::vector<double> decrypted;
    Decryptor(mainContext()).decryptWithScale(ct, pair.sk, decrypted, std::ldexp(1.0, 30), true);
    ASSERT_EQ(decrypted.size(), values.size());
    for (u64 j = 0; j < values.size(); ++j)
        EXPECT_NEAR(decrypted[j], values[j], 1e-5) << j;
}

TEST(SparseSecretSwitchTest, Refusals) {
    Pair pair;
    Ciphertext ct = encryptAtLevelZero(pair.sk, std::vector<double>(4, 0.5));
    Ciphertext three(ct);
    three.setNumPoly(3);
    Ciphertext out(ct);
    expectThrowsMessage(
        [&] { switchKeyDTS(mainContext(), pair.sparseSwitcher, pair.pack, three, out, false); },
        "[switchKeyDTS] ctxt size should be 2");
    expectThrowsMessage([&] { switchKeySTD(pair.mainSwitcher, pair.pack, three, out, true); },
                        "[switchKeySTD] ctxt size should be 2");
    // No encapsulation key in the pack.
    expectThrowsMessage(
        [&] { switchKeyDTS(mainContext(), pair.sparseSwitcher, pair.pack, ct, out, false); },
        kNoSparseSecretEncapsulationKeyMessage);
    expectThrowsMessage([&] { switchKeySTD(pair.mainSwitcher, pair.pack, ct, out, true); },
                        kNoSparseSecretEncapsulationKeyMessage);
}

// The multi-secret forms: dense to sparse and back decrypts to the input
// under every secret; the size check comes first.
TEST(SparseSecretSwitchTest, MultiSecretFormsDecryptToTheInput) {
    const auto main = genMultiSecretContext(mainContext(), "SseMain2", 2);
    const auto sparse = genMultiSecretContext(sparseContext(), "SseSparse2", 2);
    SchemeKeys<EncryptionType::MSRLWE> scheme(main);
    const KeyPack pack(main, sparse);
    KeyGenerator(main, sparse, scheme.key, pack).genSparseSecretEncapsulationKey();
    const KeySwitcher sparseSwitcher(sparse), mainSwitcher(main);
    std::mt19937_64 rng(5);
    const Messages m = randomMessages(getLogFullSlots(main), 2, rng);
    CiphertextBase<EncryptionType::MSRLWE> ct = scheme.encrypt(m, 0);
    CiphertextBase<EncryptionType::MSRLWE> two(ct);
    two.setNumPoly(2);
    expectThrowsMessage([&] { switchKeyDTS(main, sparseSwitcher, pack, two, ct, false); },
                        "[switchKeyDTS] ctxt size should be 3");
    switchKeyDTS(main, sparseSwitcher, pack, ct, ct, false);
    EXPECT_EQ(ct.getContext(), main);
    EXPECT_FALSE(ct.getPoly(0).isNTT());
    switchKeySTD(mainSwitcher, pack, ct, ct, true);
    EXPECT_TRUE(ct.getPoly(2).isNTT());
    EXPECT_EQ(ct.getLevel(), 0u);
    const double error = largestSlotError(scheme.decrypt(ct), m);
    RecordProperty("largest_error_log2", std::to_string(std::log2(error)));
    // Measured: 2^-31.3.
    EXPECT_LE(error, 0x1p-20);
}
