// The evaluator's construction, exact identities of its sums, and its error
// messages with their order, through the public evaluator. The levels and
// conversions are tested in LevelEvaluatorTest, the products with constants
// in ConstantEvaluatorTest.

#include "Quelt/HomEvaluator.hpp"

#include "Quelt/EnDecoder.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/Precondition.hpp"
#include "foundation/WordArith.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/PolyTestSupport.hpp"
#include "support/RingOperandsFixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using C = std::complex<double>;

// The ring operands of the degree-2^10 context and an evaluator on it.
struct HomEvaluatorTest : RingOperandsTest {
    HomEvaluator evaluator{ctx()};
};

// ---- Construction ----------------------------------------------------------------

TEST(HomEvaluatorConstructionTest, EveryConstructorLoadsTheMultiplicationKeyOfTheDirectory) {
    const auto &ctx = degree64FourPrimes();
    KeyDirectory dir("evaluator_mult_key");
    dir.writeKeyFile("MultKey.bin", storedForm(*filledMultKey(ctx, 3)));
    EXPECT_TRUE(HomEvaluatorImpl(ctx, dir.dir()).getKeyPack().isMultKeyLoaded());
    const KeyPack pack(ctx, dir.dir());
    EXPECT_TRUE(HomEvaluatorImpl(ctx, pack).getKeyPack().isMultKeyLoaded());
    EXPECT_TRUE(pack.isMultKeyLoaded()); // the evaluator shares the pack's store
    EXPECT_FALSE(HomEvaluatorImpl(ctx).getKeyPack().isMultKeyLoaded());
    HomEvaluator facade(ctx, dir.dir());
    expectThrowsMessage([&] { HomEvaluator(ctx, dir.file("missing")); },
                        "Cannot find path " + dir.file("missing"));
}

TEST(HomEvaluatorConstructionTest, MissingKeysThrowTheCallersMessage) {
    expectThrowsMessage(
        [] { utils::throwIfNotLoaded(nullptr, "Failed to load the multiplication key"); },
        "Failed to load the multiplication key");
    utils::throwIfNotLoaded(filledMultKey(degree64FourPrimes(), 1), "unused");
}

TEST(HomEvaluatorConstructionTest, EvaluatorsOnCopiesOfOnePackSeeKeysGeneratedLater) {
    const auto &ctx = degreeTenContext();
    const KeyPack pack(ctx);
    const HomEvaluatorImpl first(ctx, pack);
    const HomEvaluatorImpl second(ctx, KeyPack(pack));
    EXPECT_FALSE(first.getKeyPack().getMultKey());
    const RlweKey sk(ctx);
    KeyGenerator(ctx, sk, pack).genMultKey();
    ASSERT_TRUE(first.getKeyPack().getMultKey());
    EXPECT_EQ(first.getKeyPack().getMultKey(), second.getKeyPack().getMultKey());
    EXPECT_EQ(first.getContext(), ctx);
}

// ---- Exact identities ------------------------------------------------------------

// add needs no slot encoding (sub does): two coefficient-encoded ciphertexts
// at one level add to the same words as slot-encoded ones.
TEST_F(HomEvaluatorTest, CoefficientEncodedCiphertextsAdd) {
    Ciphertext a = top, b = other;
    a.setEncodingType(EncodingType::COEFFICIENT);
    b.setEncodingType(EncodingType::COEFFICIENT);
    Ciphertext sum(ctx(), false, true), slot_sum(ctx(), false, true);
    evaluator.add(a, b, sum);
    evaluator.add(top, other, slot_sum);
    EXPECT_EQ(sum.getEncodingType(), EncodingType::COEFFICIENT);
    sum.setEncodingType(EncodingType::SLOT);
    EXPECT_EQ(ciphertextWords(sum), ciphertextWords(slot_sum));
}

TEST_F(HomEvaluatorTest, TheThirdPolynomialIsCopiedOrNegated) {
    Ciphertext three = other;
    three.setNumPoly(3);
    QueltTest::fillResidues(three.getPoly(2), 77);
    Polynomial negated = three.getPoly(2);
    chain().negate(three.getPoly(2), negated);
    const auto wordsOf = [](const Polynomial &p) { return QueltTest::wordsOf(p); };
    struct Case {
        std::string name;
        std::function<void(Ciphertext &)> run;
        const Polynomial *third;
    };
    const std::vector<Case> cases = {
        {"two + three", [&](Ciphertext &out) { evaluator.add(top, three, out); },
         &three.getPoly(2)},
        {"three + two", [&](Ciphertext &out) { evaluator.add(three, top, out); },
         &three.getPoly(2)},
        {"two - three", [&](Ciphertext &out) { evaluator.sub(top, three, out); }, &negated},
        {"three - two", [&](Ciphertext &out) { evaluator.sub(three, top, out); },
         &three.getPoly(2)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Ciphertext out(ctx(), false, true);
        c.run(out);
        ASSERT_EQ(out.getNumPoly(), 3u);
        EXPECT_EQ(wordsOf(out.getPoly(2)), wordsOf(*c.third));
    }
}

TEST_F(HomEvaluatorTest, OutputsMayBeInputs) {
    const EnDecoder encoder(ctx());
    const Plaintext pt = encoder.encode(y.front(), 3, 0);
    const std::vector<std::pair<std::string, std::function<void(const Ciphertext &, Ciphertext &)>>>
        operations = {
            {"add", [&](const Ciphertext &a, Ciphertext &out) { evaluator.add(a, other, out); }},
            {"add lower",
             [&](const Ciphertext &a, Ciphertext &out) { evaluator.add(a, low, out); }},
            {"add constant",
             [&](const Ciphertext &a, Ciphertext &out) { evaluator.add(a, C(1.0, -2.0), out); }},
            {"mult 2.5",
             [&](const Ciphertext &a, Ciphertext &out) { evaluator.mult(a, C(2.5), out); }},
            {"mult -3",
             [&](const Ciphertext &a, Ciphertext &out) { evaluator.mult(a, C(-3.0), out); }},
            {"mult plaintext",
             [&](const Ciphertext &a, Ciphertext &out) { evaluator.mult(a, pt, out); }},
            {"levelDown",
             [&](const Ciphertext &a, Ciphertext &out) { evaluator.levelDown(a, 1, out); }},
            {"multImagUnit",
             [&](const Ciphertext &a, Ciphertext &out) { evaluator.multImagUnit(a, out); }},
        };
    for (const auto &[name, op] : operations) {
        SCOPED_TRACE(name);
        Ciphertext separate(ctx(), false, true);
        op(top, separate);
        Ciphertext in_place = top;
        op(in_place, in_place);
        EXPECT_EQ(ciphertextWords(in_place), ciphertextWords(separate));
    }
    // An output of another context takes the operand's.
    Ciphertext foreign(otherContext(), false, true);
    evaluator.add(top, other, foreign);
    Ciphertext separate(ctx(), false, true);
    evaluator.add(top, other, separate);
    EXPECT_EQ(foreign.getContext(), ctx());
    EXPECT_EQ(ciphertextWords(foreign), ciphertextWords(separate));
}

// ---- Messages and their order ----------------------------------------------------

TEST_F(HomEvaluatorTest, EveryCheckRunsInOrderBeforeTheOutputIsWritten) {
    const EnDecoder encoder(ctx());
    Ciphertext coeff = top;
    coeff.setEncodingType(EncodingType::COEFFICIENT);
    Ciphertext counter = top; // counter 1 at level 3
    evaluator.multWithoutRescale(top, C(1.0), counter);
    Ciphertext counter_coeff = counter;
    counter_coeff.setEncodingType(EncodingType::COEFFICIENT);
    Ciphertext slots = top;
    slots.setLogSlots(3);
    Ciphertext slots_coeff = coeff;
    slots_coeff.setLogSlots(3);
    Ciphertext counter_low(ctx(), false, true); // counter 1 at level 1
    evaluator.levelDown(top, 1, counter_low);
    counter_low.setRescaleCounter(1);
    Ciphertext elsewhere = top; // host memory of another id
    elsewhere.to(Device{0, 1});
    Ciphertext elsewhere_counter = counter;
    elsewhere_counter.to(Device{0, 1});
    Message msg_elsewhere = x.front();
    msg_elsewhere.to(Device{0, 1});
    Ciphertext mod_up(ctx(), true, true);
    mod_up.setLevel(3);
    const Message msg = x.front();
    const Message short_msg(3, C(0.5));
    const Plaintext pt = encoder.encode(msg, 3, 0);
    const Plaintext pt_counter = encoder.encode(msg, 3, 1);
    const Plaintext pt_bottom = encoder.encode(msg, 0, 0);
    Plaintext pt_slots = pt;
    pt_slots.setLogSlots(3);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const HomEvaluatorImpl impl(ctx());

    const std::string operands_coeff = "The operands have to encode the message on its slots";
    const std::string coeff_msg = "The operand have to encode the message on its slots";
    const std::string log_slots = "Two operands have different logSlots";
    const std::string counters = "Two operands have different RescaleCounter";
    const std::string encoding = "Two operands are encoding messages in different way";
    const std::string counter_zero = "The Operand should have rescale counter zero";
    const std::string counters_zero = "The Operands should have rescale counter zero";
    const std::string level_zero = "The level of the operand is zero";
    const std::string not_finite =
        "[Modulus] makeInteger: the scaled value must be finite and below 2^128";
    const std::string long_range = "[mult] The rounded constant is outside the range of long";
    struct Case {
        std::string name;
        std::function<void(Ciphertext &)> run;
        std::string message;
        // The ciphertext the output starts as (the operand of in-place
        // operations); a fresh encryption otherwise.
        const Ciphertext *start = nullptr;
    };
    const std::vector<Case> cases = {
        {"sub coeff", [&](Ciphertext &o) { evaluator.sub(coeff, top, o); }, operands_coeff},
        {"sub _ coeff", [&](Ciphertext &o) { evaluator.sub(top, coeff, o); }, operands_coeff},
        {"sub coeff, other slots", [&](Ciphertext &o) { evaluator.sub(slots_coeff, top, o); },
         operands_coeff},
        {"add slots and coeff", [&](Ciphertext &o) { evaluator.add(slots_coeff, top, o); },
         log_slots},
        {"add slots and counter", [&](Ciphertext &o) { evaluator.add(slots, counter, o); },
         log_slots},
        {"add counter", [&](Ciphertext &o) { evaluator.add(counter, top, o); }, counters},
        {"add counter and coeff", [&](Ciphertext &o) { evaluator.add(counter_coeff, top, o); },
         counters},
        {"add coeff", [&](Ciphertext &o) { evaluator.add(coeff, top, o); }, encoding},
        {"add devices", [&](Ciphertext &o) { evaluator.add(elsewhere, coeff, o); },
         "Two operands are in different devices"},
        {"add devices and counter",
         [&](Ciphertext &o) { evaluator.add(elsewhere_counter, top, o); }, counters},
        {"add message devices", [&](Ciphertext &o) { evaluator.add(top, msg_elsewhere, o); },
         "Two operands are in different devices"},
        {"add lower, counter above", [&](Ciphertext &o) { evaluator.add(counter, low, o); },
         counter_zero},
        {"add lower, counter below", [&](Ciphertext &o) { evaluator.add(top, counter_low, o); },
         counters},
        {"add mod-up", [&](Ciphertext &o) { evaluator.add(mod_up, low, o); },
         "Cannot add different level modUp-ed ciphertexts"},
        {"sub mod-up", [&](Ciphertext &o) { evaluator.sub(low, mod_up, o); },
         "Cannot sub different level modUp-ed ciphertexts"},
        {"add constant coeff", [&](Ciphertext &o) { evaluator.add(coeff, C(nan), o); }, coeff_msg},
        {"add NaN", [&](Ciphertext &o) { evaluator.add(top, C(nan), o); }, not_finite},
        {"sub infinite imaginary", [&](Ciphertext &o) { evaluator.sub(top, C(1.0, inf), o); },
         not_finite},
        {"add message coeff", [&](Ciphertext &o) { evaluator.add(coeff, short_msg, o); },
         coeff_msg},
        {"sub message slots", [&](Ciphertext &o) { evaluator.sub(top, short_msg, o); }, log_slots},
        {"add plaintext coeff", [&](Ciphertext &o) { evaluator.add(coeff, pt_counter, o); },
         coeff_msg},
        {"sub plaintext coeff", [&](Ciphertext &o) { evaluator.sub(coeff, pt_counter, o); },
         counters},
        {"add plaintext slots", [&](Ciphertext &o) { evaluator.add(top, pt_slots, o); }, log_slots},
        {"mult coeff", [&](Ciphertext &o) { evaluator.mult(counter_coeff, C(2.5), o); }, coeff_msg},
        {"mult counter", [&](Ciphertext &o) { evaluator.mult(counter, C(2.0), o); }, counter_zero},
        {"mult level 0", [&](Ciphertext &o) { evaluator.mult(bottom, C(2.5), o); }, level_zero},
        {"mult NaN at level 0", [&](Ciphertext &o) { evaluator.mult(bottom, C(nan), o); },
         not_finite},
        {"mult infinite", [&](Ciphertext &o) { evaluator.mult(top, C(0.0, -inf), o); }, not_finite},
        {"mult 1e30", [&](Ciphertext &o) { evaluator.mult(top, C(1e30), o); }, long_range},
        {"mult -1e19 i", [&](Ciphertext &o) { evaluator.mult(top, C(0.0, -1e19), o); }, long_range},
        {"mult 2^63", [&](Ciphertext &o) { evaluator.mult(top, C(std::ldexp(1.0, 63)), o); },
         long_range},
        {"multWithoutRescale level 0",
         [&](Ciphertext &o) { evaluator.multWithoutRescale(bottom, C(2.5), o); }, level_zero},
        {"multWithoutRescale counter at level",
         [&](Ciphertext &o) { evaluator.multWithoutRescale(counter_low, C(2.5), o); },
         "Rescale counter should be less than or equal to the level"},
        {"multWithoutRescale plaintext counter",
         [&](Ciphertext &o) { evaluator.multWithoutRescale(top, pt_counter, o); }, counters_zero},
        {"multWithoutRescale plaintext slots",
         [&](Ciphertext &o) { evaluator.multWithoutRescale(top, pt_slots, o); }, log_slots},
        {"mult plaintext coeff at level 0",
         [&](Ciphertext &o) { evaluator.mult(coeff, pt_bottom, o); }, coeff_msg},
        {"mult plaintext level 0", [&](Ciphertext &o) { evaluator.mult(top, pt_bottom, o); },
         level_zero},
        {"mult level 0 by plaintext", [&](Ciphertext &o) { evaluator.mult(bottom, pt_counter, o); },
         level_zero},
        {"mult plaintext counter", [&](Ciphertext &o) { evaluator.mult(counter, pt, o); },
         counters_zero},
        {"mult message level 0", [&](Ciphertext &o) { evaluator.mult(bottom, msg, o); },
         level_zero},
        {"mult message counter", [&](Ciphertext &o) { evaluator.mult(counter, msg, o); },
         counter_zero},
        {"mult message slots", [&](Ciphertext &o) { evaluator.mult(top, short_msg, o); },
         log_slots},
        {"multImagUnit coeff", [&](Ciphertext &o) { evaluator.multImagUnit(coeff, o); }, coeff_msg},
        {"rescale coeff", [&](Ciphertext &o) { evaluator.rescale(o); }, coeff_msg, &counter_coeff},
        {"rescale level 0", [&](Ciphertext &o) { evaluator.rescale(o); }, level_zero, &bottom},
        {"rescale counter 0", [&](Ciphertext &o) { evaluator.rescale(o); },
         "[rescale] Rescale Counter of the Ciphertext is zero or less", &top},
        {"inverseRescale top", [&](Ciphertext &o) { evaluator.inverseRescale(o); },
         "[inverseRescale] Cannot inverseRescale when the level is greater than or equal to the "
         "maximum level",
         &top},
        {"inverseRescale coeff", [&](Ciphertext &o) { evaluator.inverseRescale(o); }, coeff_msg,
         &coeff},
        {"levelDown above, coeff", [&](Ciphertext &o) { evaluator.levelDown(coeff, 4, o); },
         "[level down] target level is greater than level of Ciphertext."},
        {"levelDown coeff", [&](Ciphertext &o) { evaluator.levelDown(coeff, 1, o); }, coeff_msg},
        {"levelDown counter", [&](Ciphertext &o) { evaluator.levelDown(counter, 3, o); },
         counter_zero},
        {"levelDownOne coeff", [&](Ciphertext &o) { evaluator.levelDownOne(coeff, o); }, coeff_msg},
        {"levelDownOne level 0", [&](Ciphertext &o) { evaluator.levelDownOne(bottom, o); },
         level_zero},
        {"levelDownOne counter", [&](Ciphertext &o) { evaluator.levelDownOne(counter, o); },
         counter_zero},
        {"discretize level", [&](Ciphertext &o) { evaluator.discretize(o, 3); },
         PrimeModuli::kLevelZeroMessage, &top},
        {"discretize NTT", [&](Ciphertext &o) { evaluator.discretize(o, 3); },
         PrimeModuli::kNotInNTTMessage, &bottom},
        {"baseModulusSwitch level", [&](Ciphertext &o) { evaluator.baseModulusSwitch(top, o); },
         PrimeModuli::kLevelZeroMessage},
        {"modReduct", [&](Ciphertext &o) { evaluator.modReduct(o); },
         "Cannot support the function 'modReduct' in the current build configuration", &top},
        {"subWithoutCheck slots", [&](Ciphertext &o) { impl.subWithoutCheck(top, slots, o); },
         log_slots},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Ciphertext out = c.start ? *c.start : other;
        const auto before = ciphertextWords(out);
        expectThrowsMessage([&] { c.run(out); }, c.message);
        EXPECT_EQ(ciphertextWords(out), before);
    }
}

TEST_F(HomEvaluatorTest, BaseModulusSwitchChecksTheDegreesBeforeItShapesTheOutput) {
    Ciphertext ct = bottom;
    ct.backwardNTT();
    Ciphertext out(otherContext(), false, true);
    QueltTest::fillResidues(out.getPoly(1), 4);
    const auto before = ciphertextWords(out);
    expectThrowsMessage([&] { evaluator.baseModulusSwitch(ct, out); },
                        "[baseModulusSwitch] The degrees of the two contexts are different.");
    EXPECT_EQ(ciphertextWords(out), before);
}

} // namespace
} // namespace Quelt::test
