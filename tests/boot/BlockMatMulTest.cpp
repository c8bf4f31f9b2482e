// Baby-step giant-step matrix products on FX against the same formula in
// message arithmetic (rotate, multiply by the diagonal, sum, rotate by the
// giant amount, sum): both one-dimensional forms and the two-dimensional ring
// form over a table of layouts, their levels, the refused arguments with the
// outputs untouched, and the multi-secret form's stop.

#include "Quelt/BlockMatMul.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/SecretKey.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using Messages = std::vector<Message>;

// Sums of up to 24 products of slots below 0.5 in each part, at the FX
// scales: the measured errors are at most 2^-32; the bound leaves room.
constexpr double kBound = 0x1p-24;

const std::string kBabyStepZero = "[blockMatMulBSGS] The baby step should be positive";
const std::string kBabyStepAboveDiagonals =
    "[blockMatMulBSGS] The baby step should not exceed the number of diagonals";
const std::string kNoInputs = "[blockMatMulBSGS] The list of input ciphertexts is empty";
const std::string kNoOutputs = "[blockMatMulBSGS] The list of output ciphertexts is empty";
const std::string kShortDiagonals =
    "[blockMatMulBSGS] The diagonal lists are shorter than the layout needs";

struct Layout {
    u64 bs, n, stride;
};

// Random diagonals; gs = 1; n not a multiple of bs; strides whose baby or
// giant amounts pass the slot count (32 slots: 3 * 13 = 39, 4 * 5 * 2 = 40);
// a stride above the slot count; stride 0.
const std::vector<Layout> kLayouts = {{4, 8, 1}, {8, 8, 1},  {3, 8, 2}, {4, 12, 13},
                                      {4, 8, 5}, {2, 4, 33}, {4, 8, 0}};

Message rotatedLeft(const Message &m, u64 amount) {
    Message out = m;
    std::rotate(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(amount % m.getSize()),
                out.end());
    return out;
}

Message zeros(u64 log_slots) { return Message(log_slots, 0.0); }

// acc += d * rot_amount(x), slot by slot.
void addProduct(Message &acc, const Message &d, const Message &x, u64 amount) {
    const Message r = rotatedLeft(x, amount);
    for (u64 s = 0; s < acc.getSize(); ++s)
        acc[s] += d[s] * r[s];
}

// The product formula for m inputs and one output list: sum over giant
// blocks j of rot_{g_j}( sum over inputs c and baby steps i of
// diags[c n + j bs + i] * rot_{r_i}(x_c) ).
Message expectedProduct(const Messages &xs, const Messages &diags, const Layout &l) {
    const u64 slots = xs[0].getSize();
    const u64 gs = l.n / l.bs;
    Message out = zeros(xs[0].getLogSlots());
    for (u64 j = 0; j < gs; ++j) {
        Message block = zeros(xs[0].getLogSlots());
        for (u64 c = 0; c < xs.size(); ++c)
            for (u64 i = 0; i < l.bs; ++i)
                addProduct(block, diags[c * l.n + j * l.bs + i], xs[c], i * l.stride % slots);
        const Message moved = rotatedLeft(block, j * l.bs * l.stride % slots);
        for (u64 s = 0; s < slots; ++s)
            out[s] += moved[s];
    }
    return out;
}

class BlockMatMulTest : public SchemeFixture {
protected:
    // Every left-rotation key of FX (1 .. 31), made once.
    static const KeyPack &rotationPack() {
        static const KeyPack pack = [] {
            KeyPack p(context());
            const KeyGenerator generator(context(), secretKey(), p);
            generator.genEncKey();
            for (u64 idx = 1; idx < (u64{1} << getLogFullSlots(context())); ++idx)
                generator.genLeftRotKey(idx);
            return p;
        }();
        return pack;
    }

    RingCiphertext fresh() const { return RingCiphertext(context(), false, true); }

    Messages randomMessages(u64 count) {
        Messages out;
        for (u64 i = 0; i < count; ++i)
            out.push_back(randomMessage());
        return out;
    }

    std::vector<Plaintext> encodeAll(const Messages &ms, u64 level) const {
        std::vector<Plaintext> out;
        for (const Message &m : ms)
            out.push_back(encoder.encode(m, level, 0));
        return out;
    }

    const HomEvaluator eval{context(), rotationPack()};
};

TEST_F(BlockMatMulTest, OneDimensionalFormsFollowTheFormula) {
    for (const Layout &l : kLayouts) {
        SCOPED_TRACE(testing::Message() << "bs " << l.bs << " n " << l.n << " stride " << l.stride);
        const Message x = randomMessage();
        const RingCiphertext ct = encrypt(x);
        const Messages diags = randomMessages(l.n);
        const Message want = expectedProduct({x}, diags, l);

        RingCiphertext fromPlain = fresh(), fromMessages = fresh();
        blockMatMul1DBSGS(eval, ct, encodeAll(diags, ct.getLevel()), fromPlain, l.bs, l.n,
                          l.stride);
        blockMatMul1DBSGS(eval, ct, diags, fromMessages, l.bs, l.n, l.stride);
        for (const RingCiphertext *out : {&fromPlain, &fromMessages}) {
            EXPECT_LT(maxError(decrypt(*out), want), kBound);
            EXPECT_EQ(out->getLevel(), ct.getLevel() - 1);
            EXPECT_EQ(out->getRescaleCounter(), 0);
            EXPECT_EQ(out->getLogSlots(), ct.getLogSlots());
        }
    }
}

TEST_F(BlockMatMulTest, TheOutputMayBeTheInput) {
    const Layout l{4, 8, 1};
    const Message x = randomMessage();
    RingCiphertext ct = encrypt(x);
    const Messages diags = randomMessages(l.n);
    blockMatMul1DBSGS(eval, ct, diags, ct, l.bs, l.n, l.stride);
    EXPECT_LT(maxError(decrypt(ct), expectedProduct({x}, diags, l)), kBound);
}

TEST_F(BlockMatMulTest, TheMessageFormEncodesTheUnusedTail) {
    // n = 5, bs = 2: diagonal 4 has no effect, but the message form encodes
    // it, so a message the encoder refuses is reported; the plaintext form
    // never reads that entry.
    const RingCiphertext ct = encrypt(randomMessage());
    Messages diags = randomMessages(5);
    diags[4] = Message(getLogFullSlots(context()) + 1, 0.5);
    expectRefusedKeepingOutput(
        [&](RingCiphertext &out) { blockMatMul1DBSGS(eval, ct, diags, out, 2, 5, 1); },
        "[encode] Message size is too large.");
    std::vector<Plaintext> plain =
        encodeAll(Messages(diags.begin(), diags.begin() + 4), ct.getLevel());
    plain.push_back(plain[0]);
    RingCiphertext out = fresh();
    blockMatMul1DBSGS(eval, ct, plain, out, 2, 5, 1);
    EXPECT_EQ(out.getLevel(), ct.getLevel() - 1);
}

TEST_F(BlockMatMulTest, TwoDimensionalFormFollowsTheFormulaForEveryOutput) {
    constexpr u64 kInputs = 2, kOutputs = 3;
    for (const Layout &l : kLayouts) {
        SCOPED_TRACE(testing::Message() << "bs " << l.bs << " n " << l.n << " stride " << l.stride);
        const Messages xs = randomMessages(kInputs);
        std::vector<RingCiphertext> cts;
        for (const Message &x : xs)
            cts.push_back(encrypt(x));
        std::vector<Messages> diags;
        std::vector<std::vector<Plaintext>> plain;
        for (u64 t = 0; t < kOutputs; ++t) {
            diags.push_back(randomMessages(kInputs * l.n));
            plain.push_back(encodeAll(diags.back(), cts[0].getLevel()));
        }
        std::vector<RingCiphertext> outs(kOutputs, fresh());
        blockMatMul2DBSGS(eval, cts, plain, outs, l.bs, l.n, l.stride);
        ASSERT_EQ(outs.size(), kOutputs);
        for (u64 t = 0; t < kOutputs; ++t) {
            SCOPED_TRACE(t);
            EXPECT_LT(maxError(decrypt(outs[t]), expectedProduct(xs, diags[t], l)), kBound);
            EXPECT_EQ(outs[t].getLevel(), cts[0].getLevel() - 1);
            EXPECT_EQ(outs[t].getRescaleCounter(), 0);
            EXPECT_EQ(outs[t].getLogSlots(), cts[0].getLogSlots());
        }
    }
}

TEST_F(BlockMatMulTest, RefusedArgumentsLeaveTheOutputsAsTheyWere) {
    const RingCiphertext ct = encrypt(randomMessage());
    const Messages diags = randomMessages(8);
    const std::vector<Plaintext> plain = encodeAll(diags, ct.getLevel());
    // The calls keep copies of their arguments (small at degree 64).
    const auto plain1D = [&](u64 bs, u64 n, const std::vector<Plaintext> &d) {
        return [this, &ct, bs, n, d](RingCiphertext &out) {
            blockMatMul1DBSGS(eval, ct, d, out, bs, n, 1);
        };
    };
    const auto message1D = [&](u64 bs, u64 n, const Messages &d) {
        return [this, &ct, bs, n, d](RingCiphertext &out) {
            blockMatMul1DBSGS(eval, ct, d, out, bs, n, 1);
        };
    };
    expectRefusedKeepingOutput(plain1D(0, 8, plain), kBabyStepZero);
    expectRefusedKeepingOutput(message1D(0, 8, diags), kBabyStepZero);
    expectRefusedKeepingOutput(plain1D(9, 8, plain), kBabyStepAboveDiagonals);
    expectRefusedKeepingOutput(message1D(9, 8, diags), kBabyStepAboveDiagonals);
    const std::vector<Plaintext> sevenPlain(plain.begin(), plain.begin() + 7);
    const Messages sevenMessages(diags.begin(), diags.begin() + 7);
    expectRefusedKeepingOutput(plain1D(4, 8, sevenPlain), kShortDiagonals);
    expectRefusedKeepingOutput(message1D(4, 8, sevenMessages), kShortDiagonals);

    // Two inputs and two outputs need two lists of 2 n diagonals.
    const std::vector<RingCiphertext> two(2, ct);
    const std::vector<std::vector<Plaintext>> lists(2,
                                                    encodeAll(randomMessages(16), ct.getLevel()));
    const auto matMul2D = [&](const std::vector<RingCiphertext> &in,
                              const std::vector<std::vector<Plaintext>> &d, u64 outputs, u64 bs) {
        return [this, in, d, outputs, bs](RingCiphertext &out) {
            std::vector<RingCiphertext> outs(outputs, out);
            blockMatMul2DBSGS(eval, in, d, outs, bs, 8, 1);
            out = outs.at(0);
        };
    };
    expectRefusedKeepingOutput(matMul2D(two, lists, 2, 0), kBabyStepZero);
    expectRefusedKeepingOutput(matMul2D(two, lists, 2, 9), kBabyStepAboveDiagonals);
    expectRefusedKeepingOutput(matMul2D({}, lists, 2, 4), kNoInputs);
    expectThrowsMessage(
        [&] {
            std::vector<RingCiphertext> none;
            blockMatMul2DBSGS(eval, two, lists, none, 4, 8, 1);
        },
        kNoOutputs);
    expectRefusedKeepingOutput(matMul2D(two, lists, 3, 4), kShortDiagonals);
    std::vector<std::vector<Plaintext>> shortList = lists;
    shortList[1].pop_back();
    expectRefusedKeepingOutput(matMul2D(two, shortList, 2, 4), kShortDiagonals);

    // A missing rotation key fails inside the evaluator, before any output
    // is written.
    const HomEvaluator keyless(context(), keyPack());
    expectRefusedKeepingOutput(
        [&](RingCiphertext &out) { blockMatMul1DBSGS(keyless, ct, plain, out, 4, 8, 1); },
        "Failed to load the left rotation key for index 1");
    expectRefusedKeepingOutput(
        [&](RingCiphertext &out) {
            std::vector<RingCiphertext> outs(2, out);
            blockMatMul2DBSGS(keyless, two, lists, outs, 4, 8, 1);
            out = outs.at(0);
        },
        "Failed to load the left rotation key for index 1");
}

TEST_F(BlockMatMulTest, TheMultiSecretFormFollowsTheFormulaForEverySecret) {
    using MultiCt = CiphertextBase<EncryptionType::MSRLWE>;
    const auto ctx = multiSecretContext();
    const u64 secrets = getNumSecret(ctx);
    SchemeKeys<EncryptionType::MSRLWE> scheme(ctx);
    KeyPack pack(ctx);
    const KeyGenerator generator(ctx, scheme.key, pack);
    for (u64 idx = 1; idx < (u64{1} << getLogFullSlots(ctx)); ++idx)
        generator.genLeftRotKey(idx);
    const HomEvaluator multi(ctx, pack);
    const EnDecoder ms_encoder(ctx);
    {
        const std::vector<MultiCt> ins(2, MultiCt(ctx, false, true));
        const std::vector<std::vector<Plaintext>> lists(3,
                                                        std::vector<Plaintext>(16, Plaintext(ctx)));
        // The preconditions come first.
        const auto call = [&](u64 bs, u64 outputs) {
            return [&, bs, outputs] {
                std::vector<MultiCt> outs(outputs, MultiCt(ctx, false, true));
                blockMatMul2DBSGS(multi, ins, lists, outs, bs, 8, 1);
            };
        };
        expectThrowsMessage(call(0, 3), kBabyStepZero);
        expectThrowsMessage(call(9, 3), kBabyStepAboveDiagonals);
        expectThrowsMessage(call(4, 0), kNoOutputs);
        expectThrowsMessage(call(4, 4), kShortDiagonals);
        expectThrowsMessage(
            [&] {
                std::vector<MultiCt> outs(3, MultiCt(ctx, false, true));
                blockMatMul2DBSGS(multi, std::vector<MultiCt>{}, lists, outs, 4, 8, 1);
            },
            kNoInputs);
    }
    // Then the products: secret k of output t follows the formula on the
    // messages of secret k.
    constexpr u64 kInputs = 2, kOutputs = 2;
    std::mt19937_64 rng(77);
    for (const Layout &l : {Layout{4, 8, 1}, Layout{3, 8, 2}, Layout{4, 8, 0}}) {
        SCOPED_TRACE(testing::Message() << "bs " << l.bs << " n " << l.n << " stride " << l.stride);
        std::vector<Messages> xs;
        std::vector<MultiCt> cts;
        for (u64 c = 0; c < kInputs; ++c) {
            xs.push_back(test::randomMessages(getLogFullSlots(ctx), secrets, rng));
            for (Message &m : xs.back())
                for (auto &slot : m)
                    slot *= 0.5;
            cts.push_back(scheme.encrypt(xs.back(), getEncryptionLevel(ctx)));
        }
        std::vector<Messages> diags;
        std::vector<std::vector<Plaintext>> plain;
        for (u64 t = 0; t < kOutputs; ++t) {
            diags.push_back(test::randomMessages(getLogFullSlots(ctx), kInputs * l.n, rng));
            for (Message &m : diags.back())
                for (auto &slot : m)
                    slot *= 0.5;
            plain.emplace_back();
            for (const Message &d : diags.back())
                plain.back().push_back(ms_encoder.encode(d, cts[0].getLevel(), 0));
        }
        std::vector<MultiCt> outs(kOutputs, MultiCt(ctx, false, true));
        blockMatMul2DBSGS(multi, cts, plain, outs, l.bs, l.n, l.stride);
        for (u64 t = 0; t < kOutputs; ++t) {
            EXPECT_EQ(outs[t].getLevel(), cts[0].getLevel() - 1);
            const Messages got = scheme.decrypt(outs[t]);
            ASSERT_EQ(got.size(), secrets);
            for (u64 k = 0; k < secrets; ++k) {
                const Message want = expectedProduct({xs[0][k], xs[1][k]}, diags[t], l);
                EXPECT_LT(maxError(got[k], want), kBound) << "output " << t << " secret " << k;
            }
        }
    }
}

} // namespace
} // namespace Quelt::test
