// What the multi-secret key switches compute: on rings of degree 256, 1024
// and 64 (FX) with 2, 3 and 16 secrets, a ciphertext encrypted under the
// multi-secret key is rotated, conjugated, switched, summed and multiplied,
// and each secret's decryption is compared with the same operation on that
// secret's message.

#include "Quelt/Bx.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "context/ContextContent.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/MultiSecretEvaluator.hpp"
#include "foundation/WordArith.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/MultiSecretTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace Quelt::test {
namespace {

using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using Impl = HomEvaluatorImpl;

// Key switches and products at scale 2^40 stay within 2^-25 of the plain
// results (measured: at most 2^-26.3, on the inner products; the rotations
// stay below 2^-29).
constexpr double kBound = 0x1p-25;

u64 halfDegree(const std::shared_ptr<ContextContent> &ctx) {
    return u64{1} << getLogFullSlots(ctx);
}

// A multi-secret key with a pack holding the conjugation key and the
// rotation keys of 1, 2 and N/2 - 1 (3 is reached through 1 and 2), and a
// second key with the switching key from the first to it.
struct MsKeys {
    explicit MsKeys(const std::shared_ptr<ContextContent> &ctx)
        : scheme(ctx), other(ctx), pack(ctx),
          switch_key(KeyGenerator(ctx).genSwitchKeyMSRLWE(scheme.key, other.key)) {
        const KeyGenerator generator(ctx, scheme.key, pack);
        generator.genConjKey();
        for (u64 idx : {u64{1}, u64{2}, halfDegree(ctx) - 1})
            generator.genLeftRotKey(idx);
    }
    SchemeKeys<EncryptionType::MSRLWE> scheme;
    SchemeKeys<EncryptionType::MSRLWE> other;
    KeyPack pack;
    RingSwitchKey switch_key;
};

const MsKeys &keysOf(const std::shared_ptr<ContextContent> &ctx) {
    static std::mutex mutex;
    static std::map<const ContextContent *, std::unique_ptr<MsKeys>> made;
    const std::lock_guard<std::mutex> lock(mutex);
    auto &slot = made[ctx.get()];
    if (!slot)
        slot = std::make_unique<MsKeys>(ctx);
    return *slot;
}

// Slot j of every message moved to j - idx (a left rotation by idx).
Messages rotated(const Messages &m, u64 idx) {
    Messages out = m;
    for (u64 k = 0; k < m.size(); ++k)
        for (u64 j = 0; j < m[k].getSize(); ++j)
            out[k][j] = m[k][(j + idx) % m[k].getSize()];
    return out;
}

Messages conjugated(const Messages &m) {
    Messages out = m;
    for (Message &x : out)
        for (auto &slot : x)
            slot = std::conj(slot);
    return out;
}

Messages sum(const Messages &a, const Messages &b) {
    Messages out = a;
    for (u64 k = 0; k < a.size(); ++k)
        for (u64 j = 0; j < a[k].getSize(); ++j)
            out[k][j] += b[k][j];
    return out;
}

class MultiSecretResultsTest : public testing::TestWithParam<std::shared_ptr<ContextContent>> {
protected:
    const std::shared_ptr<ContextContent> &ctx() const { return ctx_; }
    u64 secrets() const { return getNumSecret(ctx_); }
    u64 half() const { return halfDegree(ctx_); }
    u64 level() const { return std::min<u64>(3, getEncryptionLevel(ctx_)); }
    const MsKeys &keys() const { return keysOf(ctx_); }

    Messages messages() { return randomMessages(getLogFullSlots(ctx_), secrets(), rng_); }
    MsCiphertext encrypt(const Messages &m) const { return keys().scheme.encrypt(m, level()); }
    // The largest slot error of every secret's decryption, checked against
    // the bound and returned.
    double expectDecrypts(const MsCiphertext &ct, const Messages &want,
                          const SchemeKeys<EncryptionType::MSRLWE> *by = nullptr) const {
        const Messages got = (by ? *by : keys().scheme).decrypt(ct);
        EXPECT_EQ(got.size(), secrets());
        const double error = largestSlotError(got, want);
        EXPECT_LE(error, kBound);
        worst_ = std::max(worst_, error);
        return error;
    }

    void TearDown() override {
        RecordProperty("largest_error_log2", std::to_string(std::log2(worst_)));
    }

    std::shared_ptr<ContextContent> ctx_ = GetParam();
    std::mt19937_64 rng_{20261211};
    mutable double worst_ = 0.0;
    const HomEvaluator eval{ctx_, keysOf(ctx_).pack};
    const Impl owner{ctx_, keysOf(ctx_).pack};
    const MultiSecretEvaluator &ms = owner.multiSecret();
};

INSTANTIATE_TEST_SUITE_P(Contexts, MultiSecretResultsTest, testing::ValuesIn(msResultContexts()),
                         [](const auto &info) {
                             return "N" + std::to_string(getDegree(info.param)) + "Secrets" +
                                    std::to_string(getNumSecret(info.param));
                         });

TEST_P(MultiSecretResultsTest, RotationsAndConjugationMoveEverySecretsSlots) {
    const Messages m = messages();
    const MsCiphertext ct = encrypt(m);
    MsCiphertext out(ctx(), false, true);
    // Held amounts, an amount through two held keys, and N/2 - 1.
    for (u64 idx : {u64{1}, u64{2}, u64{3}, half() - 1}) {
        SCOPED_TRACE(idx);
        eval.leftRotateMSRLWE(ct, idx, out);
        EXPECT_EQ(out.getNumPoly(), secrets() + 1);
        EXPECT_EQ(out.getLevel(), level());
        expectDecrypts(out, rotated(m, idx));
    }
    ms.rightRotateMSRLWE(ct, 1, out);
    expectDecrypts(out, rotated(m, half() - 1));
    // In place.
    MsCiphertext same = ct;
    eval.leftRotateMSRLWE(same, 1, same);
    expectDecrypts(same, rotated(m, 1));

    std::vector<MsCiphertext> outs;
    eval.leftRotateMSRLWE(ct, {1, 0, 2, half() - 1}, outs);
    ASSERT_EQ(outs.size(), 4u);
    const u64 amounts[] = {1, 0, 2, half() - 1};
    for (u64 i = 0; i < 4; ++i) {
        SCOPED_TRACE("hoisted " + std::to_string(amounts[i]));
        expectDecrypts(outs[i], rotated(m, amounts[i]));
    }

    eval.conjugateMSRLWE(ct, out);
    expectDecrypts(out, conjugated(m));
}

TEST_P(MultiSecretResultsTest, KeySwitchMovesToTheOtherKey) {
    const Messages m = messages();
    const MsCiphertext ct = encrypt(m);
    MsCiphertext out(ctx(), false, true);
    eval.switchKeyMSRLWE(ct, keys().switch_key, out);
    EXPECT_EQ(out.getNumPoly(), secrets() + 1);
    expectDecrypts(out, m, &keys().other);
    // The old key no longer decrypts it.
    EXPECT_GT(largestSlotError(keys().scheme.decrypt(out), m), 1.0);
}

TEST_P(MultiSecretResultsTest, RotationSumsAddTheRotatedMessages) {
    const Messages a = messages(), b = messages(), c = messages();
    const std::vector<MsCiphertext> cts = {encrypt(a), encrypt(b), encrypt(c)};
    MsCiphertext out(ctx(), false, true);
    eval.rotSumMSRLWE(cts, {1, 0, 2}, out);
    expectDecrypts(out, sum(sum(rotated(a, 1), b), rotated(c, 2)));
    // Every amount non-zero, out one of the inputs.
    std::vector<MsCiphertext> in = cts;
    eval.rotSumMSRLWE(in, {2, half() - 1, 1}, in[1]);
    expectDecrypts(in[1], sum(sum(rotated(a, 2), rotated(b, half() - 1)), rotated(c, 1)));
}

TEST_P(MultiSecretResultsTest, DeferredRotationsDecryptOnceTheBxIsAdded) {
    const Messages m = messages();
    const MsCiphertext ct = encrypt(m);

    // Lazy: one rotation, then a chain 1 then 2, then a right rotation.
    MsCiphertext out(ctx(), false, true), done(ctx(), false, true);
    Bx bx(ctx(), secrets(), true);
    eval.lazyLeftRotateMSRLWE(ct, 1, out, bx);
    eval.modDownBxAndSum(bx, out, done);
    expectDecrypts(done, rotated(m, 1));
    MsCiphertext second(ctx(), false, true);
    eval.lazyLeftRotateMSRLWE(out, bx, 2, second, bx); // bx_in is bx
    eval.modDownBxAndSum(bx, second, done);
    expectDecrypts(done, rotated(m, 3));
    PolynomialVector right(ctx(), secrets(), true, true);
    ms.lazyRightRotateMSRLWE(ct, 1, out, right);
    ms.modDownBxAndSum(right, out, done);
    expectDecrypts(done, rotated(m, half() - 1));

    // Light: the mask rotates alone, the bodies are rotated by the caller.
    Bx mask(ctx(), 1, false), bodies(ctx(), secrets(), false);
    eval.splitMSRLWECiphertext(ct, mask, bodies);
    Bx mask_out(ctx(), 1, false), parts(ctx(), 0, true);
    eval.lightLeftRotateMSRLWE(mask, 1, mask_out, parts);
    ASSERT_EQ(parts.getData()->getSize(), secrets());
    Bx mask_chain(ctx(), 1, false), parts_chain(ctx(), 0, true);
    eval.lightLeftRotateMSRLWE(mask_out, parts, 2, mask_chain, parts_chain);
    for (const auto &[amount, a, p] :
         {std::tuple<u64, const Bx *, const Bx *>{1, &mask_out, &parts},
          std::tuple<u64, const Bx *, const Bx *>{3, &mask_chain, &parts_chain}}) {
        SCOPED_TRACE("light " + std::to_string(amount));
        Bx turned(ctx(), secrets(), false);
        eval.leftRotate(bodies, amount, turned);
        MsCiphertext joined = ct;
        eval.combineMSRLWECiphertext(*a, turned, joined);
        eval.modDownBxAndSum(*p, joined, done);
        expectDecrypts(done, rotated(m, amount));
    }
}

TEST_P(MultiSecretResultsTest, InnerProductWeighsEverySecretsSlots) {
    const EnDecoder encoder(ctx());
    std::vector<MsCiphertext> cts;
    std::vector<Plaintext> pts;
    std::vector<Messages> xs;
    std::vector<Message> ys;
    for (int i = 0; i < 3; ++i) {
        xs.push_back(messages());
        cts.push_back(encrypt(xs.back()));
        ys.push_back(randomMessages(getLogFullSlots(ctx()), 1, rng_)[0]);
        pts.push_back(encoder.encode(ys.back(), level(), 0));
    }
    MsCiphertext out(ctx(), false, true);
    eval.innerProductMSRLWE(pts.cbegin(), pts.cend(), cts.cbegin(), out);
    EXPECT_EQ(out.getRescaleCounter(), 1);
    Messages want = xs[0];
    for (u64 k = 0; k < secrets(); ++k)
        for (u64 j = 0; j < want[k].getSize(); ++j) {
            want[k][j] = 0.0;
            for (u64 i = 0; i < 3; ++i)
                want[k][j] += ys[i][j] * xs[i][k][j];
        }
    expectDecrypts(out, want);
}

} // namespace
} // namespace Quelt::test
