// Plaintext-weighted sums of ciphertexts against the slot-wise sums of
// products, their refusals in order with the output untouched, the product
// of a ciphertext list with one plaintext, and the plaintext-weighted sums
// of polynomial lists.

#include "Quelt/Bx.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using Impl = HomEvaluatorImpl;

// Products at the FX scales (2^40 and more) keep the slots within 2^-20 of
// the plain sums of three products of values below 0.5 in each part
// (measured: 2^-34, recorded as a test property).
constexpr double kBound = 0x1p-20;

std::string unsupported(const std::string &name) {
    return "Cannot support the function '" + name + "' in the current build configuration";
}

class HomEvaluatorInnerProductTest : public SchemeFixture {
protected:
    static constexpr u64 kTerms = 3;

    HomEvaluatorInnerProductTest() {
        level = getEncryptionLevel(context());
        for (u64 i = 0; i < kTerms; ++i) {
            xs.push_back(randomMessage());
            ys.push_back(randomMessage());
            cts.push_back(encrypt(xs.back()));
            pts.push_back(encoder.encode(ys.back(), level, 0));
        }
    }

    RingCiphertext fresh() const { return RingCiphertext(context(), false, true); }

    // The slot-wise sum over i of ys[i] * xs[i].
    Message plainSum() const {
        Message sum = xs[0];
        for (u64 j = 0; j < sum.getSize(); ++j) {
            sum[j] = 0.0;
            for (u64 i = 0; i < kTerms; ++i)
                sum[j] += ys[i][j] * xs[i][j];
        }
        return sum;
    }

    const HomEvaluator eval{context(), keyPack()};
    u64 level = 0;
    std::vector<Message> xs, ys;
    std::vector<RingCiphertext> cts;
    std::vector<Plaintext> pts;
};

TEST_F(HomEvaluatorInnerProductTest, DecryptsToTheSumOfSlotProductsWithCounterOne) {
    RingCiphertext out = fresh();
    eval.innerProduct(pts.cbegin(), pts.cend(), cts.cbegin(), out);
    EXPECT_EQ(out.getNumPoly(), 2u);
    EXPECT_EQ(out.getLevel(), level);
    EXPECT_EQ(out.getRescaleCounter(), 1);
    EXPECT_EQ(out.getLogSlots(), cts[0].getLogSlots());
    const double error = maxError(decrypt(out), plainSum());
    EXPECT_LT(error, kBound);
    RecordProperty("largest_error_log2", std::to_string(std::log2(error)));

    // The same words as the products made one by one and added.
    RingCiphertext sum = fresh(), term = fresh();
    eval.multWithoutRescale(cts[0], pts[0], sum);
    for (u64 i = 1; i < kTerms; ++i) {
        eval.multWithoutRescale(cts[i], pts[i], term);
        eval.add(sum, term, sum);
    }
    EXPECT_EQ(ciphertextWords(out), ciphertextWords(sum));

    // A single term is the product itself.
    eval.innerProduct(pts.cbegin(), pts.cbegin() + 1, cts.cbegin(), out);
    eval.multWithoutRescale(cts[0], pts[0], term);
    EXPECT_EQ(ciphertextWords(out), ciphertextWords(term));
}

TEST_F(HomEvaluatorInnerProductTest, OutputMayBeATermAndPlaintextsMustCarryTheCiphertextsScale) {
    RingCiphertext want = fresh();
    eval.innerProduct(pts.cbegin(), pts.cend(), cts.cbegin(), want);
    std::vector<RingCiphertext> aliased = cts;
    eval.innerProduct(pts.cbegin(), pts.cend(), aliased.cbegin(), aliased[0]);
    EXPECT_EQ(ciphertextWords(aliased[0]), ciphertextWords(want));
    aliased = cts;
    eval.innerProduct(pts.cbegin(), pts.cend(), aliased.cbegin(), aliased[2]);
    EXPECT_EQ(ciphertextWords(aliased[2]), ciphertextWords(want));
    // An output that held three polynomials at counter 1 is reshaped.
    RingCiphertext reused = fresh();
    eval.tensor(cts[0], cts[1], reused);
    eval.innerProduct(pts.cbegin(), pts.cend(), cts.cbegin(), reused);
    EXPECT_EQ(ciphertextWords(reused), ciphertextWords(want));

    // Ciphertexts one level down: plaintexts left at the level above carry
    // that level's scale, which FX's level below does not share (2^-20 off,
    // the slots 2^14 times further from the sums than the product's own
    // error), and are refused; taken to the ciphertexts' level they give the
    // sums there.
    std::vector<RingCiphertext> lower;
    for (const RingCiphertext &ct : cts) {
        lower.push_back(fresh());
        eval.levelDown(ct, level - 1, lower.back());
    }
    RingCiphertext out = fresh();
    const auto before = ciphertextWords(out);
    expectThrowsMessage([&] { eval.innerProduct(pts.cbegin(), pts.cend(), lower.cbegin(), out); },
                        Impl::kInnerProductPlaintextOtherScale);
    EXPECT_EQ(ciphertextWords(out), before);
    std::vector<Plaintext> relevelled;
    for (const Plaintext &pt : pts) {
        relevelled.push_back(pt);
        eval.relevel(pt, level - 1, relevelled.back());
    }
    eval.innerProduct(relevelled.cbegin(), relevelled.cend(), lower.cbegin(), out);
    EXPECT_EQ(out.getLevel(), level - 1);
    EXPECT_EQ(out.getRescaleCounter(), 1);
    EXPECT_LT(maxError(decrypt(out), plainSum()), 0x1p-30);
}

TEST_F(HomEvaluatorInnerProductTest, RefusalsInOrderLeaveTheOutputUnchanged) {
    RingCiphertext three = fresh();
    eval.tensor(cts[1], cts[1], three);
    RingCiphertext coeff = cts[1];
    coeff.setEncodingType(EncodingType::COEFFICIENT);
    RingCiphertext low = fresh();
    eval.levelDown(cts[1], level - 1, low);
    RingCiphertext other_slots = cts[1];
    other_slots.setLogSlots(cts[1].getLogSlots() - 1);
    RingCiphertext counted = cts[1];
    counted.setRescaleCounter(1);
    Plaintext pt_slots = pts[1];
    pt_slots.setLogSlots(pts[1].getLogSlots() - 1);
    const Plaintext pt_low = encoder.encode(ys[1], level - 1, 0);
    // A plaintext of a ring of degree 128 with FX's log slot count: it passes
    // the slot checks, but it is not over the evaluator's ring.
    const auto wider = makeContext(7, level + 2, 50, 40, 50, 2);
    const Plaintext pt_wider = EnDecoder(wider).encode(ys[1], level, 0);

    struct Row {
        std::string name;
        std::function<void(std::vector<RingCiphertext> &, std::vector<Plaintext> &)> spoil;
        std::string message;
        bool empty = false;
    };
    const std::vector<Row> rows = {
        {"empty range", [](auto &, auto &) {}, Impl::kInnerProductEmpty, true},
        {"three polynomials", [&](auto &c, auto &) { c[1] = three; }, Impl::kSizeNotTwo},
        {"coefficient encoding", [&](auto &c, auto &) { c[1] = coeff; },
         utils::kCoeffEncodedMessage},
        // The size and encoding of every term come before the levels.
        {"size before levels",
         [&](auto &c, auto &) {
             c[1] = low;
             c[2] = three;
         },
         Impl::kSizeNotTwo},
        {"ciphertext levels", [&](auto &c, auto &) { c[1] = low; },
         PrimeModuli::kDifferentLevelsMessage},
        {"ciphertext log slots", [&](auto &c, auto &) { c[1] = other_slots; },
         utils::kDifferentLogSlotsMessage},
        {"plaintext log slots", [&](auto &, auto &p) { p[1] = pt_slots; },
         utils::kDifferentLogSlotsMessage},
        {"one counter differs", [&](auto &c, auto &) { c[1] = counted; },
         utils::kDifferentRescaleCounterMessage},
        {"plaintext below", [&](auto &, auto &p) { p[1] = pt_low; },
         Impl::kInnerProductPlaintextBelow},
        {"plaintext of another degree", [&](auto &, auto &p) { p[1] = pt_wider; },
         "[innerProduct] The plaintext does not match the context of the HomEvaluator"},
        {"counters not zero",
         [&](auto &c, auto &p) {
             for (u64 i = 0; i < kTerms; ++i) {
                 c[i].setRescaleCounter(1);
                 p[i].setRescaleCounter(1);
             }
         },
         Impl::kRescaleCountersNotZero},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<RingCiphertext> c = cts;
        std::vector<Plaintext> p = pts;
        row.spoil(c, p);
        RingCiphertext out = cts[2];
        const auto before = ciphertextWords(out);
        const auto last = row.empty ? p.cbegin() : p.cend();
        expectThrowsMessage([&] { eval.innerProduct(p.cbegin(), last, c.cbegin(), out); },
                            row.message);
        EXPECT_EQ(ciphertextWords(out), before);
        // The same refusal with out being the first term.
        const auto first_before = ciphertextWords(c[0]);
        expectThrowsMessage([&] { eval.innerProduct(p.cbegin(), last, c.cbegin(), c[0]); },
                            row.message);
        EXPECT_EQ(ciphertextWords(c[0]), first_before);
    }
}

TEST_F(HomEvaluatorInnerProductTest, MatmulOfOneCiphertextIsTheUnrescaledProduct) {
    RingCiphertext want = fresh(), out = fresh();
    eval.multWithoutRescale(cts[0], pts[0], want);
    eval.matmul({cts[0]}, pts[0], out);
    EXPECT_EQ(ciphertextWords(out), ciphertextWords(want));
    std::vector<RingCiphertext> one = {cts[0]};
    eval.matmul(one, pts[0], one[0]);
    EXPECT_EQ(ciphertextWords(one[0]), ciphertextWords(want));
}

TEST_F(HomEvaluatorInnerProductTest, MatmulOfMoreCiphertextsRefusesAfterTheProductChecks) {
    RingCiphertext coeff = cts[0];
    coeff.setEncodingType(EncodingType::COEFFICIENT);
    Plaintext counted = pts[0];
    counted.setRescaleCounter(1);
    struct Row {
        std::string name;
        std::vector<RingCiphertext> list;
        const Plaintext *pt;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"empty", {}, &pts[0], Impl::kMatmulEmpty},
        {"two", {cts[0], cts[1]}, &pts[0], unsupported("rotMulAdd")},
        {"three", cts, &pts[0], unsupported("rotMulAdd")},
        {"coefficient first", {coeff, cts[1]}, &pts[0], utils::kCoeffEncodedMessage},
        {"plaintext counter", {cts[0], cts[1]}, &counted, Impl::kRescaleCountersNotZero},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        RingCiphertext out = cts[2];
        const auto before = ciphertextWords(out);
        expectThrowsMessage([&] { eval.matmul(row.list, *row.pt, out); }, row.message);
        EXPECT_EQ(ciphertextWords(out), before);
    }
}

// Sums of polynomial lists: the lists of the ciphertexts weighted by the
// plaintexts decrypt like innerProduct; the weighted automorphisms X -> X^(5^i)
// of one list are the weighted sum of its rotations.
TEST_F(HomEvaluatorInnerProductTest, SumsOfPolynomialListsAreTheWeightedSums) {
    std::vector<Bx> bxs;
    for (u64 i = 0; i < kTerms; ++i) {
        bxs.emplace_back(context(), 2, false);
        *bxs.back().getData() = cts[i].getPolyVector();
    }
    Bx sum(context(), 2, false);
    eval.innerProductBx(pts.cbegin(), pts.cend(), bxs.cbegin(), sum);
    RingCiphertext as_ct = cts[0];
    as_ct.getPolyVector() = *sum.getData();
    as_ct.setRescaleCounter(1);
    RingCiphertext want = fresh();
    eval.innerProduct(pts.cbegin(), pts.cend(), cts.cbegin(), want);
    EXPECT_EQ(ciphertextWords(as_ct), ciphertextWords(want));
    EXPECT_LT(maxError(decrypt(as_ct), plainSum()), kBound);

    const std::vector<u64> exponents = {5, 25, 125};
    Bx turned(context(), 2, false);
    eval.frobeniusAndInnerProductBx(pts.cbegin(), pts.cend(), bxs[0], turned, exponents);
    std::vector<Bx> rotations;
    for (u64 i = 0; i < kTerms; ++i) {
        rotations.emplace_back(context(), 2, false);
        eval.leftRotate(bxs[0], i + 1, rotations.back());
    }
    Bx by_rotations(context(), 2, false);
    eval.innerProductBx(pts.cbegin(), pts.cend(), rotations.cbegin(), by_rotations);
    ASSERT_EQ(turned.getData()->getSize(), 2u);
    for (u64 j = 0; j < 2; ++j)
        EXPECT_EQ(wordsOf(turned.getData()->getPoly(j)),
                  wordsOf(by_rotations.getData()->getPoly(j)));
}

TEST_F(HomEvaluatorInnerProductTest, SumsOfPolynomialListsRefuseBadArguments) {
    std::vector<Bx> bxs;
    for (u64 i = 0; i < kTerms; ++i) {
        bxs.emplace_back(context(), 2, false);
        *bxs.back().getData() = cts[i].getPolyVector();
    }
    Bx out(context(), 2, false);
    *out.getData() = cts[2].getPolyVector();
    const std::vector<u64> before = wordsOf(out.getData()->getPoly(0));
    const std::vector<u64> exponents = {5, 25, 125};

    // The argument checks come first.
    expectThrowsMessage([&] { eval.innerProductBx(pts.cbegin(), pts.cbegin(), bxs.cbegin(), out); },
                        Impl::kInnerProductEmpty);
    expectThrowsMessage(
        [&] {
            eval.frobeniusAndInnerProductBx(pts.cbegin(), pts.cbegin(), bxs[0], out, exponents);
        },
        Impl::kInnerProductEmpty);
    expectThrowsMessage(
        [&] {
            eval.frobeniusAndInnerProductBx(pts.cbegin(), pts.cend(), bxs[0], out, {5, 25});
        },
        Impl::kExponentCount);
    std::vector<Bx> empty_lists = bxs;
    empty_lists[0] = Bx(context(), 0, false);
    expectThrowsMessage(
        [&] { eval.innerProductBx(pts.cbegin(), pts.cend(), empty_lists.cbegin(), out); },
        Impl::kEmptyPolynomialList);
    expectThrowsMessage(
        [&] {
            eval.frobeniusAndInnerProductBx(pts.cbegin(), pts.cend(), empty_lists[0], out,
                                            exponents);
        },
        Impl::kEmptyPolynomialList);

    ASSERT_EQ(out.getData()->getSize(), 2u);
    EXPECT_EQ(out.getData()->getLevel(), cts[2].getLevel());
    EXPECT_EQ(wordsOf(out.getData()->getPoly(0)), before);
}

} // namespace
} // namespace Quelt::test
