#include "Quelt/LWE/HomEvaluator.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Decryptor.hpp"
#include "Quelt/LWE/Encryptor.hpp"
#include "support/ExpectThrow.hpp"
#include "support/LweTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using LWE::Ciphertext;
using LWE::HomEvaluator;
using LWE::ParameterPreset;
using LWE::SecretKey;

// Encrypts, evaluates and decrypts with one key of one context.
class Scheme {
public:
    explicit Scheme(ParameterPreset preset)
        : ctx(lweContext(preset)), sk(ctx), evaluator(ctx), top(LWE::getEncryptionLevel(ctx)) {}

    Ciphertext encrypt(double value, u64 level, int counter = 0) const {
        Ciphertext ct(ctx);
        LWE::Encryptor(ctx).encrypt(value, sk, ct, level, counter);
        return ct;
    }
    double decrypt(const Ciphertext &ct) const {
        double out = 0;
        LWE::Decryptor(ctx).decrypt(ct, sk, out);
        return out;
    }

    std::shared_ptr<LWE::ContextContent> ctx;
    SecretKey sk;
    HomEvaluator evaluator;
    u64 top;
};

// Values far above the error (a few units of 2^-37 at most) and far below
// where the double rounding of the scaled values shows.
constexpr double kTolerance = 1e-9;

// One operation per row, checked against double arithmetic after
// decryption, with the level and the counter of its result.
TEST(LWEHomEvaluatorTest, OperationsAgreeWithDoubleArithmetic) {
    reseed();
    for (ParameterPreset preset : {ParameterPreset::SD3, ParameterPreset::SS7}) {
        const Scheme s(preset);
        const u64 top = s.top;
        // Operands at two different levels: 2 and 5 where the chain allows.
        const u64 low = top >= 5 ? 2 : 1, high = top >= 5 ? 5 : 3;
        const double x = 1.75, y = -0.625;
        Ciphertext cx = s.encrypt(x, top);
        const Ciphertext cy = s.encrypt(y, top);
        const Ciphertext cx_low = s.encrypt(x, low), cy_high = s.encrypt(y, high);
        const HomEvaluator &ev = s.evaluator;
        struct Row {
            const char *name;
            std::function<void(Ciphertext &)> op;
            double expected;
            u64 level;
            int counter;
        };
        const std::vector<Row> rows{
            {"negate", [&](Ciphertext &o) { ev.negate(cx, o); }, -x, top, 0},
            {"add constant", [&](Ciphertext &o) { ev.add(cx, 2.5, o); }, x + 2.5, top, 0},
            {"sub constant", [&](Ciphertext &o) { ev.sub(cx, 2.5, o); }, x - 2.5, top, 0},
            {"add", [&](Ciphertext &o) { ev.add(cx, cy, o); }, x + y, top, 0},
            {"sub", [&](Ciphertext &o) { ev.sub(cx, cy, o); }, x - y, top, 0},
            {"add across levels", [&](Ciphertext &o) { ev.add(cx_low, cy_high, o); }, x + y, low,
             0},
            {"sub across levels", [&](Ciphertext &o) { ev.sub(cy_high, cx_low, o); }, y - x, low,
             0},
            {"multInteger 0", [&](Ciphertext &o) { ev.multInteger(cx, 0, o); }, 0.0, top, 0},
            {"multInteger 1", [&](Ciphertext &o) { ev.multInteger(cx, 1, o); }, x, top, 0},
            {"multInteger -1", [&](Ciphertext &o) { ev.multInteger(cx, -1, o); }, -x, top, 0},
            {"multInteger 7", [&](Ciphertext &o) { ev.multInteger(cx, 7, o); }, 7 * x, top, 0},
            {"mult 3.000000001", [&](Ciphertext &o) { ev.mult(cx, 3.000000001, o); }, 3 * x, top,
             0},
            {"mult 2.5", [&](Ciphertext &o) { ev.mult(cx, 2.5, o); }, 2.5 * x, top - 1, 0},
            {"mult 1.0", [&](Ciphertext &o) { ev.mult(cx, 1.0, o); }, x, top, 0},
            {"mult -1.0", [&](Ciphertext &o) { ev.mult(cx, -1.0, o); }, -x, top, 0},
            {"mult 0.0", [&](Ciphertext &o) { ev.mult(cx, 0.0, o); }, 0.0, top, 0},
            {"multWithoutRescale", [&](Ciphertext &o) { ev.multWithoutRescale(cx, -1.5, o); },
             -1.5 * x, top, 1},
            {"multWithoutRescale, rescale",
             [&](Ciphertext &o) {
                 ev.multWithoutRescale(cx, -1.5, o);
                 ev.rescale(o);
             },
             -1.5 * x, top - 1, 0},
            {"levelDown to 0", [&](Ciphertext &o) { ev.levelDown(cx, 0, o); }, x, 0, 0},
            {"levelDown to low", [&](Ciphertext &o) { ev.levelDown(cx, low, o); }, x, low, 0},
            {"levelDownOne", [&](Ciphertext &o) { ev.levelDownOne(cx, o); }, x, top - 1, 0},
        };
        for (const Row &row : rows) {
            SCOPED_TRACE(::testing::Message()
                         << "preset " << static_cast<int>(preset) << ": " << row.name);
            Ciphertext out(s.ctx);
            row.op(out);
            EXPECT_EQ(out.getLevel(), row.level);
            EXPECT_EQ(out.getRescaleCounter(), row.counter);
            EXPECT_NEAR(s.decrypt(out), row.expected, kTolerance);
            // The same with x's ciphertext as the output: evaluation draws
            // nothing, so the result is the same word for word.
            const Ciphertext saved = cx;
            row.op(cx);
            EXPECT_EQ(streamBytes(cx), streamBytes(out)) << "output aliasing x";
            cx = saved;
        }

        // Multiplying by plus or minus one copies or negates bit for bit.
        Ciphertext a(s.ctx), b(s.ctx);
        ev.mult(cx, 1.0, a);
        EXPECT_EQ(streamBytes(a), streamBytes(cx));
        ev.mult(cx, -1.0, a);
        ev.negate(cx, b);
        EXPECT_EQ(streamBytes(a), streamBytes(b));
        ev.levelDown(cx, top, a);
        EXPECT_EQ(streamBytes(a), streamBytes(cx));
    }
}

// At level 0 only integer constants can be multiplied.
TEST(LWEHomEvaluatorTest, LevelZeroTakesIntegerConstantsOnly) {
    reseed();
    const Scheme s(ParameterPreset::SD3);
    const Ciphertext ct = s.encrypt(-3.5, 0);
    Ciphertext out(s.ctx);
    s.evaluator.mult(ct, 2.0, out);
    EXPECT_EQ(out.getLevel(), 0u);
    EXPECT_NEAR(s.decrypt(out), -7.0, kTolerance);
    expectThrowsMessage([&] { s.evaluator.mult(ct, 0.5, out); },
                        "The level of the operand is zero");
    // One-prime contexts likewise.
    const Scheme one(ParameterPreset::Discrete_G8A_LWE);
    const Ciphertext single = one.encrypt(1.25, 0);
    Ciphertext single_out(one.ctx);
    one.evaluator.mult(single, -3.0, single_out);
    EXPECT_NEAR(one.decrypt(single_out), -3.75, 1e-7);
}

// Every refusal leaves out as it was.
TEST(LWEHomEvaluatorTest, RefusalsInTheirOrder) {
    reseed();
    const Scheme s(ParameterPreset::SD3);
    const HomEvaluator &ev = s.evaluator;
    const Ciphertext top = s.encrypt(1.0, 3), low = s.encrypt(1.0, 1);
    const Ciphertext bottom = s.encrypt(1.0, 0);
    Ciphertext counted_top = s.encrypt(1.0, 3, 1), counted_low = s.encrypt(1.0, 2, 1);
    const Ciphertext foreign(lweContext(ParameterPreset::SS7));
    // The sizes of SD3 over other primes.
    const auto twin = LWE::makeContext(32, 4, 55, 45);
    const SecretKey twin_sk(twin);
    Ciphertext twin_ct(twin);
    LWE::Encryptor(twin).encrypt(1.0, twin_sk, twin_ct);
    const std::string kFit = "[LWE] The ciphertext does not fit the context";
    Ciphertext out = s.encrypt(9.0, 2);
    const std::string kLevelZero = "The level of the operand is zero";
    const std::string kNotZero = "The Operand should have rescale counter zero";
    const std::string kCounter = "Two operands have different RescaleCounter";
    const std::string kAboveLevel = "Rescale counter should be less than or equal to the level";
    const std::string kInteger =
        "[Modulus] makeInteger: the scaled value must be finite and below 2^128";
    const std::string kLong = "[mult] The rounded constant is outside the range of long";
    struct Case {
        const char *name;
        std::function<void()> call;
        std::string message;
    };
    const std::vector<Case> cases{
        {"add, counters 1 and 0", [&] { ev.add(counted_top, top, out); }, kCounter},
        {"sub, counters 0 and 1", [&] { ev.sub(low, counted_low, out); }, kCounter},
        {"add, counters 1 at levels 3 and 2", [&] { ev.add(counted_top, counted_low, out); },
         kNotZero},
        {"mult 0.5 at level 0", [&] { ev.mult(bottom, 0.5, out); }, kLevelZero},
        {"mult NaN at level 0", [&] { ev.mult(bottom, std::nan(""), out); }, kLevelZero},
        {"mult NaN", [&] { ev.mult(top, std::nan(""), out); }, kInteger},
        {"mult infinity", [&] { ev.mult(top, INFINITY, out); }, kInteger},
        {"mult 2^63", [&] { ev.mult(top, 0x1p63, out); }, kLong},
        {"mult -1e30", [&] { ev.mult(bottom, -1e30, out); }, kLong},
        {"add NaN", [&] { ev.add(top, std::nan(""), out); }, kInteger},
        {"sub too large", [&] { ev.sub(top, 1e30, out); }, kInteger},
        {"multWithoutRescale at level 0", [&] { ev.multWithoutRescale(bottom, 2.0, out); },
         kAboveLevel},
        {"multWithoutRescale at counter = level",
         [&] {
             Ciphertext ct = s.encrypt(1.0, 1, 1);
             ev.multWithoutRescale(ct, 2.0, out);
         },
         kAboveLevel},
        {"rescale at level 0",
         [&] {
             Ciphertext ct = bottom;
             ev.rescale(ct);
         },
         kLevelZero},
        {"rescale with counter 0",
         [&] {
             Ciphertext ct = top;
             ev.rescale(ct);
         },
         "[rescale] Rescale Counter of the Ciphertext is zero or less"},
        {"levelDown above the level", [&] { ev.levelDown(low, 2, out); },
         "[level down] target level is greater than level of Ciphertext."},
        {"levelDown with counter 1", [&] { ev.levelDown(counted_top, 1, out); }, kNotZero},
        {"levelDown to its own level with counter 1", [&] { ev.levelDown(counted_top, 3, out); },
         kNotZero},
        {"levelDownOne at level 0", [&] { ev.levelDownOne(bottom, out); }, kLevelZero},
        {"levelDownOne with counter 1", [&] { ev.levelDownOne(counted_top, out); }, kNotZero},
        {"operand of another context", [&] { ev.negate(foreign, out); },
         "[LWE] The ciphertext does not fit the context"},
        {"output of another context",
         [&] {
             Ciphertext other(lweContext(ParameterPreset::SS7));
             ev.negate(top, other);
         },
         "[LWE] The ciphertext does not fit the context"},
        {"operand of a context of the same sizes and other primes",
         [&] { ev.add(twin_ct, 1.0, out); }, kFit},
        {"second operand of such a context", [&] { ev.sub(top, twin_ct, out); }, kFit},
        {"integer product of such an operand", [&] { ev.mult(twin_ct, 3.0, out); }, kFit},
        {"output of such a context",
         [&] {
             Ciphertext other(twin);
             ev.negate(top, other);
         },
         kFit},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = streamBytes(out);
        expectThrowsMessage(c.call, c.message);
        EXPECT_EQ(streamBytes(out), before);
    }
    // The largest integer multiplier that fits: INT64_MIN.
    EXPECT_NO_THROW(ev.mult(top, -0x1p63, out));
    expectThrowsMessage([] { HomEvaluator(nullptr); }, "[Context] The context is null");
}

// FGbD12L1 has a scale factor at both levels: a counter-0 ciphertext at
// level 1 is brought down to level 0 by either level change.
TEST(LWEHomEvaluatorTest, FGbD12L1ChangesLevelFromItsTopLevel) {
    reseed();
    const Scheme s(ParameterPreset::FGbD12L1);
    ASSERT_EQ(s.top, 1u);
    const Ciphertext ct = s.encrypt(2.0, 1, 0);
    EXPECT_NEAR(s.decrypt(ct), 2.0, kTolerance);
    Ciphertext out(s.ctx);
    s.evaluator.levelDown(ct, 0, out);
    EXPECT_EQ(out.getLevel(), 0u);
    EXPECT_NEAR(s.decrypt(out), 2.0, kTolerance);
    Ciphertext one(s.ctx);
    s.evaluator.levelDownOne(ct, one);
    EXPECT_EQ(one.getLevel(), 0u);
    EXPECT_NEAR(s.decrypt(one), 2.0, kTolerance);

    // A counter-1 ciphertext rescaled to level 0 decrypts through one prime.
    const Ciphertext counted = s.encrypt(-6.5, 1, 1);
    EXPECT_NEAR(s.decrypt(counted), -6.5, 1e-9);
    Ciphertext rescaled = counted;
    s.evaluator.rescale(rescaled);
    EXPECT_EQ(rescaled.getLevel(), 0u);
    EXPECT_NEAR(s.decrypt(rescaled), -6.5, 1e-9);
}

} // namespace
} // namespace Quelt::test
