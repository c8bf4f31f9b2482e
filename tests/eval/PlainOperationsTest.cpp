// The evaluator's operations on plain data: messages against hand-written
// std::complex loops, plaintexts through decode(op(encode(m))) against the
// same arithmetic on messages, their refusals in order, and the polynomial
// list operations against prime-wise sums and products.

#include "Quelt/Bx.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/PlainChecks.hpp"
#include "eval/PlainEvaluator.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using C = std::complex<double>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Bit patterns, so that NaN parts and signed zeros compare exactly.
std::vector<u64> bitsOf(const Message &m) {
    std::vector<u64> bits;
    for (const C &slot : m) {
        bits.push_back(std::bit_cast<u64>(slot.real()));
        bits.push_back(std::bit_cast<u64>(slot.imag()));
    }
    return bits;
}

// The header fields and the words of every limb in use of a plaintext.
std::vector<u64> plainWords(const Plaintext &p) {
    const Polynomial &mx = p.getMx();
    std::vector<u64> words = {p.getLevel(), static_cast<u64>(p.getRescaleCounter()),
                              p.getLogSlots(), mx.isNTT() ? 1u : 0u};
    words.insert(words.end(), mx.getLimb(0), mx.getLimb(0) + (mx.getLevel() + 1) * mx.getDegree());
    return words;
}

// ---- Messages --------------------------------------------------------------------

// Finite slots, infinities, NaN parts and signed zeros.
Message specialMessage() {
    return Message(std::vector<C>{{1.5, -2.25},
                                  {kInf, 0.0},
                                  {kInf, kInf},
                                  {kNaN, 1.0},
                                  {-0.0, 0.0},
                                  {0.0, -kInf},
                                  {3.0, kNaN},
                                  {-1e300, 1e300}});
}

TEST(PlainMessageTest, EveryOperationIsTheStdComplexLoop) {
    const HomEvaluator evaluator(degree64ThreePrimes());
    const Message x = specialMessage();
    Message y = x;
    std::reverse(y.begin(), y.end());
    const C c(0.5, kInf);
    using Unary = std::function<void(const Message &, Message &)>;
    const std::vector<std::pair<Unary, std::function<C(C, C)>>> rows = {
        {[&](const Message &m, Message &o) { evaluator.negate(m, o); }, [](C a, C) { return -a; }},
        {[&](const Message &m, Message &o) { evaluator.add(m, c, o); },
         [&](C a, C) { return a + c; }},
        {[&](const Message &m, Message &o) { evaluator.sub(m, c, o); },
         [&](C a, C) { return a - c; }},
        {[&](const Message &m, Message &o) { evaluator.add(m, y, o); },
         [](C a, C b) { return a + b; }},
        {[&](const Message &m, Message &o) { evaluator.sub(m, y, o); },
         [](C a, C b) { return a - b; }},
        {[&](const Message &m, Message &o) { evaluator.mult(m, c, o); },
         [&](C a, C) { return c * a; }},
        {[&](const Message &m, Message &o) { evaluator.mult(m, y, o); },
         [](C a, C b) { return a * b; }},
        {[&](const Message &m, Message &o) { evaluator.square(m, o); },
         [](C a, C) { return a * a; }},
        {[&](const Message &m, Message &o) { evaluator.multImagUnit(m, o); },
         [](C a, C) { return a * C(0.0, 1.0); }},
        {[&](const Message &m, Message &o) { evaluator.conjugate(m, o); },
         [](C a, C) { return C(a.real(), -a.imag()); }},
    };
    for (std::size_t r = 0; r < rows.size(); ++r) {
        Message want(x.getLogSlots());
        for (u64 i = 0; i < x.getSize(); ++i)
            want[i] = rows[r].second(x[i], y[i]);
        Message fresh;
        rows[r].first(x, fresh);
        EXPECT_EQ(bitsOf(fresh), bitsOf(want)) << r;
        Message in_place = x;
        rows[r].first(in_place, in_place);
        EXPECT_EQ(bitsOf(in_place), bitsOf(want)) << r;
    }
    // The language's rules for infinite parts: an infinite factor times a
    // non-zero finite one stays infinite instead of turning into NaN.
    Message product;
    evaluator.mult(Message(std::vector<C>{{kInf, kInf}}), C(1.0, 0.0), product);
    EXPECT_TRUE(std::isinf(std::abs(product[0])));
}

TEST(PlainMessageTest, OutputTakesTheOperandsSizeAndDevice) {
    const PlainEvaluator evaluator(degree64ThreePrimes());
    const Message a(std::vector<C>{{1.0, 2.0}});
    Message empty;
    evaluator.add(a, a, empty);
    ASSERT_EQ(empty.getSize(), 1u);
    EXPECT_EQ(empty[0], C(2.0, 4.0));
    EXPECT_EQ(empty.getDevice(), a.getDevice());
    Message larger(5);
    Message other_device(2);
    other_device.to(Device(Device::kHost, 1));
    for (Message *out : {&larger, &other_device}) {
        evaluator.conjugate(a, *out);
        EXPECT_EQ(out->getSize(), 1u);
        EXPECT_EQ(out->getDevice(), a.getDevice());
        EXPECT_EQ((*out)[0], C(1.0, -2.0));
    }
}

TEST(PlainMessageTest, RefusalsInOrder) {
    const PlainEvaluator evaluator(degree64ThreePrimes());
    const Message three(3), four(4);
    Message on_other(3);
    on_other.to(Device(Device::kHost, 1));
    Message oversized(3);
    oversized.resize(9); // log slots 3, but nine slots
    Message out(3, C(7.0, 7.0));
    const Message untouched = out;
    struct Case {
        std::function<void()> call;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[&] { evaluator.add(three, four, out); }, "Two operands have different logSlots"},
        {[&] { evaluator.sub(three, oversized, out); }, "Two operands have different logSlots"},
        {[&] { evaluator.mult(on_other, four, out); }, "Two operands have different logSlots"},
        {[&] { evaluator.mult(three, on_other, out); }, "Two operands are in different devices"},
    };
    for (const Case &c : cases)
        expectThrowsMessage(c.call, c.message);
    EXPECT_EQ(bitsOf(out), bitsOf(untouched));
}

// ---- Plaintexts ------------------------------------------------------------------

// FX: degree 64, 32 slots, a long chain of 40-bit scales.
struct PlainPlaintextTest : ::testing::Test {
    PlainPlaintextTest() : encoder(fxContext()), evaluator(fxContext()) {
        std::mt19937_64 rng(5);
        x = randomMessages(getLogFullSlots(fxContext()), 1, rng)[0];
        y = randomMessages(getLogFullSlots(fxContext()), 1, rng)[0];
    }
    Plaintext encode(const Message &m, u64 level, int counter = 0) const {
        return encoder.encode(m, level, counter);
    }
    Message apply(const Message &m, const std::function<C(C)> &f) const {
        Message out = m;
        for (C &slot : out)
            slot = f(slot);
        return out;
    }
    static constexpr u64 kLevel = 5;
    static constexpr double kBound = 0x1p-20;

    EnDecoder encoder;
    HomEvaluator evaluator;
    Message x, y;
};

// decode(op(encode(x), encode(y))) = op(x, y), with the result's level and
// counter.
TEST_F(PlainPlaintextTest, DecodedResultsMatchMessageArithmetic) {
    const C c(0.75, -0.5);
    struct Row {
        std::string name;
        std::function<void(const Plaintext &, const Plaintext &, Plaintext &)> run;
        std::function<C(C, C)> slot;
        u64 levels_used;
        int counter;
    };
    const std::vector<Row> rows = {
        {"negate", [&](auto &p, auto &, auto &o) { evaluator.negate(p, o); },
         [](C a, C) { return -a; }, 0, 0},
        {"add constant", [&](auto &p, auto &, auto &o) { evaluator.add(p, c, o); },
         [&](C a, C) { return a + c; }, 0, 0},
        {"add real", [&](auto &p, auto &, auto &o) { evaluator.add(p, C(-0.25), o); },
         [](C a, C) { return a - 0.25; }, 0, 0},
        {"sub constant", [&](auto &p, auto &, auto &o) { evaluator.sub(p, c, o); },
         [&](C a, C) { return a - c; }, 0, 0},
        {"add", [&](auto &p, auto &q, auto &o) { evaluator.add(p, q, o); },
         [](C a, C b) { return a + b; }, 0, 0},
        {"sub", [&](auto &p, auto &q, auto &o) { evaluator.sub(p, q, o); },
         [](C a, C b) { return a - b; }, 0, 0},
        {"multWithoutRescale constant",
         [&](auto &p, auto &, auto &o) { evaluator.multWithoutRescale(p, c, o); },
         [&](C a, C) { return c * a; }, 0, 1},
        {"mult constant", [&](auto &p, auto &, auto &o) { evaluator.mult(p, c, o); },
         [&](C a, C) { return c * a; }, 1, 0},
        {"mult 2.0", [&](auto &p, auto &, auto &o) { evaluator.mult(p, C(2.0), o); },
         [](C a, C) { return 2.0 * a; }, 1, 0},
        {"multWithoutRescale",
         [&](auto &p, auto &q, auto &o) { evaluator.multWithoutRescale(p, q, o); },
         [](C a, C b) { return a * b; }, 0, 1},
        {"mult", [&](auto &p, auto &q, auto &o) { evaluator.mult(p, q, o); },
         [](C a, C b) { return a * b; }, 1, 0},
        {"square", [&](auto &p, auto &, auto &o) { evaluator.square(p, o); },
         [](C a, C) { return a * a; }, 1, 0},
        {"multImagUnit", [&](auto &p, auto &, auto &o) { evaluator.multImagUnit(p, o); },
         [](C a, C) { return a * C(0.0, 1.0); }, 0, 0},
        {"multInteger 1", [&](auto &p, auto &, auto &o) { evaluator.multInteger(p, 1, o); },
         [](C a, C) { return a; }, 0, 0},
        {"multInteger -1", [&](auto &p, auto &, auto &o) { evaluator.multInteger(p, -1, o); },
         [](C a, C) { return -a; }, 0, 0},
        {"multInteger -5", [&](auto &p, auto &, auto &o) { evaluator.multInteger(p, -5, o); },
         [](C a, C) { return -5.0 * a; }, 0, 0},
        {"multInteger 7", [&](auto &p, auto &, auto &o) { evaluator.multInteger(p, 7, o); },
         [](C a, C) { return 7.0 * a; }, 0, 0},
        {"multInteger 0", [&](auto &p, auto &, auto &o) { evaluator.multInteger(p, 0, o); },
         [](C, C) { return C(0.0); }, 0, 0},
        {"conjugate", [&](auto &p, auto &, auto &o) { evaluator.conjugate(p, o); },
         [](C a, C) { return std::conj(a); }, 0, 0},
    };
    const Plaintext p = encode(x, kLevel);
    const Plaintext q = encode(y, kLevel);
    double largest = 0.0;
    for (const Row &row : rows) {
        Message want(x.getLogSlots());
        for (u64 i = 0; i < x.getSize(); ++i)
            want[i] = row.slot(x[i], y[i]);
        for (const bool in_place : {false, true}) {
            Plaintext out(fxContext());
            if (in_place) {
                out = p;
                row.run(out, q, out);
            } else {
                row.run(p, q, out);
            }
            EXPECT_EQ(out.getLevel(), kLevel - row.levels_used) << row.name;
            EXPECT_EQ(out.getRescaleCounter(), row.counter) << row.name;
            EXPECT_EQ(out.getLogSlots(), x.getLogSlots()) << row.name;
            const double error = largestSlotError({encoder.decode(out)}, {want});
            EXPECT_LT(error, kBound) << row.name << " in place " << in_place;
            largest = std::max(largest, error);
        }
    }
    RecordProperty("largest_error_log2", std::to_string(std::log2(largest)));
}

TEST_F(PlainPlaintextTest, LevelsAndRelevel) {
    Plaintext p = encode(x, kLevel);
    Plaintext raised = p;
    evaluator.inverseRescale(raised);
    EXPECT_EQ(raised.getLevel(), kLevel + 1);
    EXPECT_EQ(raised.getRescaleCounter(), 1);
    evaluator.rescale(raised);
    EXPECT_EQ(plainWords(raised), plainWords(p));

    const u64 top = getLength(fxContext()) - 1;
    for (const u64 target : {u64{2}, kLevel, u64{12}, top}) {
        Plaintext out(fxContext());
        evaluator.relevel(p, target, out);
        EXPECT_EQ(out.getLevel(), target);
        EXPECT_LT(largestSlotError({encoder.decode(out)}, {x}), kBound) << target;
    }
    // A counter travels along.
    Plaintext counted(fxContext());
    evaluator.multWithoutRescale(p, C(0.5), counted);
    Plaintext releveled(fxContext());
    evaluator.relevel(counted, 3, releveled);
    EXPECT_EQ(releveled.getRescaleCounter(), 1);
    EXPECT_LT(
        largestSlotError({encoder.decode(releveled)}, {apply(x, [](C a) { return 0.5 * a; })}),
        kBound);
}

TEST_F(PlainPlaintextTest, RefusalsInOrder) {
    const Plaintext p5 = encode(x, 5), q5 = encode(y, 5), p4 = encode(x, 4), p0 = encode(x, 0);
    Plaintext counted = encode(x, 5, 1);
    const Plaintext full = encode(x, 1, 1); // counter equal to the level
    Plaintext fewer_slots = encode(Message(3, C(0.5)), 5);
    Plaintext elsewhere = q5;
    elsewhere.to(Device(Device::kHost, 1));
    const Plaintext top = encode(x, getLength(fxContext()) - 1);
    Plaintext out = encode(y, 7);
    const Plaintext untouched = out;
    struct Case {
        std::string name;
        std::function<void()> call;
        std::string message;
    };
    const std::string levels = "Operands have different levels.";
    const std::string slots = "Two operands have different logSlots";
    const std::string counters = "Two operands have different RescaleCounter";
    const std::string devices = "Two operands are in different devices";
    const std::string zero = "The level of the operand is zero";
    const std::string counter_zero = "The Operands should have rescale counter zero";
    const std::vector<Case> cases = {
        {"add levels before slots", [&] { evaluator.add(p4, fewer_slots, out); }, levels},
        {"sub slots before counters", [&] { evaluator.sub(counted, fewer_slots, out); }, slots},
        {"add counters", [&] { evaluator.add(p5, counted, out); }, counters},
        {"add devices", [&] { evaluator.add(p5, elsewhere, out); }, devices},
        {"multWithoutRescale constant at 0", [&] { evaluator.multWithoutRescale(p0, C(2.0), out); },
         zero},
        {"mult constant at 0", [&] { evaluator.mult(p0, C(2.0), out); }, zero},
        {"multWithoutRescale constant, counter above the level",
         [&] { evaluator.multWithoutRescale(full, C(2.0), out); },
         "Rescale counter should be less than or equal to the level"},
        {"mult constant counter", [&] { evaluator.mult(counted, C(2.0), out); },
         "The Operand should have rescale counter zero"},
        {"add NaN", [&] { evaluator.add(p5, C(kNaN, 0.0), out); },
         "[Modulus] makeInteger: the scaled value must be finite and below 2^128"},
        {"mult infinite imaginary part", [&] { evaluator.mult(p5, C(1.0, kInf), out); },
         "[Modulus] makeInteger: the scaled value must be finite and below 2^128"},
        {"product level 0 before levels", [&] { evaluator.mult(p0, p5, out); }, zero},
        {"product levels before counters", [&] { evaluator.multWithoutRescale(p4, counted, out); },
         levels},
        {"product counters before slots", [&] { evaluator.mult(counted, fewer_slots, out); },
         counter_zero},
        {"product slots", [&] { evaluator.multWithoutRescale(p5, fewer_slots, out); }, slots},
        {"square counter", [&] { evaluator.square(counted, out); }, counter_zero},
        {"relevel above the chain", [&] { evaluator.relevel(p5, getLength(fxContext()), out); },
         "[relevel] target_level too big"},
        {"relevel counter above target", [&] { evaluator.relevel(counted, 0, out); },
         "Rescale counter should be less than or equal to the level"},
    };
    for (const Case &c : cases)
        expectThrowsMessage(c.call, c.message);
    EXPECT_EQ(plainWords(out), plainWords(untouched));

    Plaintext in_place = p5;
    expectThrowsMessage([&] { evaluator.rescale(in_place); },
                        "[rescale] Rescale Counter of the Plaintext is zero or less");
    Plaintext bottom = encode(x, 0, 0);
    expectThrowsMessage([&] { evaluator.rescale(bottom); }, zero);
    Plaintext highest = top;
    expectThrowsMessage([&] { evaluator.inverseRescale(highest); },
                        "[inverseRescale] Cannot inverseRescale when the level is greater than "
                        "or equal to the maximum level");
    EXPECT_EQ(plainWords(in_place), plainWords(p5));
}

// ---- Polynomial lists --------------------------------------------------------------

// Mod-up polynomials of the small context with residues from a seed.
PolynomialVector modUpList(u64 count, u64 seed) {
    const auto &ctx = degree64FourPrimes();
    PolynomialVector list(ctx, count, true, true);
    for (u64 i = 0; i < count; ++i)
        QueltTest::fillResidues(list.getPoly(i), seed + i);
    return list;
}

// The limbs a mod-up polynomial uses: 0..level and the temporary ones.
std::vector<u64> usedLimbs(const Polynomial &p) {
    std::vector<u64> limbs;
    for (u64 i = 0; i < p.getSize(); ++i)
        if (i <= p.getLevel() || i >= p.getChainLength())
            limbs.push_back(i);
    return limbs;
}

TEST(PlainPolynomialListTest, SumsAndProductsArePrimeWise) {
    const auto &ctx = degree64FourPrimes();
    const HomEvaluator evaluator(ctx);
    const u64 n = getDegree(ctx);
    const PolynomialVector three = modUpList(3, 10), two = modUpList(2, 20);
    Plaintext p(ctx, true);
    QueltTest::fillResidues(p.getMx(), 99);
    for (const bool longer_first : {true, false}) {
        Bx a(ctx, 0, true), b(ctx, 0, true), out(ctx, 1, false);
        *a.getData() = longer_first ? three : two;
        *b.getData() = longer_first ? two : three;
        evaluator.add(a, b, out);
        const PolynomialVector &sum = *out.getData();
        ASSERT_EQ(sum.getSize(), 3u);
        for (u64 k = 0; k < 3; ++k) {
            ASSERT_TRUE(sum.getPoly(k).isModUp());
            for (const u64 i : usedLimbs(three.getPoly(k))) {
                const u64 q = three.getPoly(k).getPrime(i);
                for (u64 j = 0; j < n; ++j) {
                    u64 want = three.getPoly(k).getLimb(i)[j];
                    if (k < 2)
                        want = static_cast<u64>(
                            (static_cast<unsigned __int128>(want) + two.getPoly(k).getLimb(i)[j]) %
                            q);
                    ASSERT_EQ(sum.getPoly(k).getLimb(i)[j], want) << k << " " << i << " " << j;
                }
            }
        }
    }
    Bx list(ctx, 0, true), product(ctx, 0, true);
    *list.getData() = three;
    evaluator.multWithoutRescale(list, p, product);
    evaluator.multWithoutRescale(list, p, list); // in place
    for (const Bx *result : {&product, &list}) {
        ASSERT_EQ(result->getData()->getSize(), 3u);
        for (u64 k = 0; k < 3; ++k)
            for (const u64 i : usedLimbs(three.getPoly(k))) {
                const u64 q = three.getPoly(k).getPrime(i);
                for (u64 j = 0; j < n; ++j)
                    ASSERT_EQ(result->getData()->getPoly(k).getLimb(i)[j],
                              static_cast<u64>(
                                  static_cast<unsigned __int128>(three.getPoly(k).getLimb(i)[j]) *
                                  p.getMx().getLimb(i)[j] % q));
            }
    }
    Bx hollow(ctx, 1, true);
    hollow.getData().reset();
    expectThrowsMessage([&] { evaluator.add(hollow, list, product); },
                        "[Bx] The handle holds no polynomial list.");
}

} // namespace
} // namespace Quelt::test
