// The key switches of sparse-secret encapsulation on a degree-128 pair whose
// sparse context shares the main context's prime 0: dense to sparse then
// back decrypts to the input, and the refusals.

#include "boot/SparseSecretSwitch.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/KeySwitcher.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

using u64 = std::uint64_t;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;

// Main: five primes in two digits, three temporary primes, named as FGbSSE.
std::shared_ptr<ContextContent> mainContext() {
    static const auto ctx = withParameter(makeContext(7, 5, 50, 40, 50, 2), [](Parameter &p) {
        p.preset = ParameterPreset::FGbSSE;
        p.sparse_secret_encapsulation = true;
    });
    return ctx;
}
// Sparse: the main prime 0 and one temporary prime, Hamming weight 8, named
// as SGb0.
std::shared_ptr<ContextContent> sparseContext() {
    static const auto ctx =
        withParameter(contextFromPrimes(mainContext(), 7, {0}, {5}, 1), [](Parameter &p) {
            p.hamming_weight = 8;
            p.preset = ParameterPreset::SGb0;
        });
    return ctx;
}

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

TEST(SparseSecretSwitch, DenseToSparseAndBackDecryptsToTheInput) {
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

TEST(SparseSecretSwitch, Refusals) {
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
