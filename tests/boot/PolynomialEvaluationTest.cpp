// Polynomial evaluation on FX against Horner's rule in complex doubles on the
// decrypted input: single blocks, lone top coefficients, giant-step counts
// that are powers of two and that are not, baby steps that are not powers of
// two, zero coefficients inside blocks, the levels each case consumes, the
// conjugate-invariant form's identity and the refused arguments.

#include "Quelt/PolynomialEvaluation.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using Complex = std::complex<double>;
using Coeffs = std::vector<Complex>;

// Up to six levels of products of values below 1 in modulus at the FX scales:
// the measured errors are at most 2^-35; the bound leaves room.
constexpr double kBound = 0x1p-28;

const std::string kTooFewCoefficients =
    "[evaluatePolynomial] The polynomial should have at least two coefficients";
const std::string kBabyStepTooSmall = "[evaluatePolynomial] The baby step should be at least 2";
const std::string kTooFewBlocks =
    "[evaluatePolynomial] The conjugate-invariant form needs at least two blocks";

const Complex kMultiplier{0.75, -0.375};

// multiplier * sum_i coeffs[i] x^i by Horner's rule.
Complex horner(const Coeffs &coeffs, Complex x, Complex multiplier) {
    Complex acc = 0.0;
    for (u64 i = coeffs.size(); i-- > 0;)
        acc = acc * x + coeffs[i];
    return multiplier * acc;
}

Message applied(const Message &x, const std::function<Complex(Complex)> &f) {
    Message out = x;
    for (auto &slot : out)
        slot = f(slot);
    return out;
}

struct Case {
    const char *what;
    u64 size, bs;
    // Levels consumed: ceil(log2 i) per baby power x^i, ceil(log2 bs) + i per
    // giant power x^(bs 2^i), one per block rescale and per join.
    u64 levels;
    std::vector<u64> zeros = {};
    // Coefficients set to 1e-9: below the threshold, left out.
    std::vector<u64> tiny = {};
};

const std::vector<Case> kCases = {
    {"two coefficients", 2, 2, 1},
    {"S < bs, one block", 5, 8, 3},
    {"S = bs, one block", 8, 8, 3},
    {"lone top, S = 4 * 2 + 1", 9, 4, 4},
    {"lone top, S = 4 * 4 + 1, gs = 5", 17, 4, 5},
    {"lone top, S = 8 * 4 + 1", 33, 8, 6},
    {"gs = 4", 16, 4, 4},
    {"gs = 8, bs = 2", 16, 2, 4},
    {"gs = 6", 24, 4, 5},
    {"gs = 3, last block short", 10, 4, 4},
    {"bs = 5, gs = 4", 20, 5, 5},
    {"bs = 3, gs = 4", 12, 3, 4},
    // Inside blocks (never the top of a block, never the constant), and a
    // coefficient under the threshold.
    {"zeros inside blocks", 16, 4, 4, {1, 2, 5, 6, 9, 13, 14}, {10}},
    {"zero top and constant", 16, 4, 4, {0, 3, 7}},
};

class PolynomialEvaluationTest : public SchemeFixture {
protected:
    Coeffs randomCoeffs(u64 size) {
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        Coeffs c(size);
        for (Complex &v : c)
            v = {dist(rng), dist(rng)};
        return c;
    }

    RingCiphertext fresh() const { return RingCiphertext(context(), false, true); }

    const HomEvaluator eval{context(), keyPack()};
};

TEST_F(PolynomialEvaluationTest, MatchesHornerAndConsumesTheCountedLevels) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.what);
        Coeffs coeffs = randomCoeffs(c.size);
        for (u64 z : c.zeros)
            coeffs[z] = 0.0;
        for (u64 t : c.tiny)
            coeffs[t] = {1e-9, 0.0};
        const RingCiphertext ct = encrypt(randomMessage());
        const Message x = decrypt(ct);

        RingCiphertext out = fresh();
        evaluatePolynomial(eval, ct, coeffs, out, kMultiplier, c.bs);
        const Message want = applied(x, [&](Complex v) { return horner(coeffs, v, kMultiplier); });
        EXPECT_LT(maxError(decrypt(out), want), kBound);
        EXPECT_EQ(ct.getLevel() - out.getLevel(), c.levels);
        EXPECT_EQ(out.getRescaleCounter(), 0);
        EXPECT_EQ(out.getLogSlots(), ct.getLogSlots());
        EXPECT_EQ(out.getNumPoly(), 2u);
    }
}

TEST_F(PolynomialEvaluationTest, TheOutputMayBeTheInput) {
    const Coeffs coeffs = randomCoeffs(12);
    RingCiphertext ct = encrypt(randomMessage());
    const Message x = decrypt(ct);
    evaluatePolynomial(eval, ct, coeffs, ct, kMultiplier, 4);
    EXPECT_LT(maxError(decrypt(ct),
                       applied(x, [&](Complex v) { return horner(coeffs, v, kMultiplier); })),
              kBound);
}

TEST_F(PolynomialEvaluationTest, ConjugateInvariantFormAddsTheConjugateOfTheLowerHalf) {
    // S = bs 2^m: out = multiplier (c_0 + c_h x^h) + r + conj(r) with
    // r = multiplier sum_{0 < i < h} c_i x^i, h = S / 2.
    struct Shape {
        u64 size, bs;
    };
    for (const Shape s : {Shape{16, 4}, Shape{16, 2}, Shape{8, 4}, Shape{24, 3}}) {
        SCOPED_TRACE(testing::Message() << "S " << s.size << " bs " << s.bs);
        const Coeffs coeffs = randomCoeffs(s.size);
        const u64 h = s.size / 2;
        const Coeffs lower(coeffs.begin() + 1, coeffs.begin() + static_cast<std::ptrdiff_t>(h));
        const RingCiphertext ct = encrypt(randomMessage());
        const Message x = decrypt(ct);
        const Message want = applied(x, [&](Complex v) {
            const Complex r = v * horner(lower, v, kMultiplier);
            return kMultiplier * (coeffs[0] + coeffs[h] * std::pow(v, static_cast<double>(h))) + r +
                   std::conj(r);
        });
        RingCiphertext out = fresh();
        evaluateConjugateInvariantPolynomial(eval, ct, coeffs, out, kMultiplier, s.bs);
        EXPECT_LT(maxError(decrypt(out), want), kBound);
        EXPECT_EQ(out.getRescaleCounter(), 0);
    }
}

TEST_F(PolynomialEvaluationTest, RefusedArgumentsLeaveTheOutputAsItWas) {
    const RingCiphertext ct = encrypt(randomMessage());
    using Form = void (*)(const HomEvaluator &, const RingCiphertext &, const Coeffs &,
                          RingCiphertext &, Complex, u64);
    for (Form form : {Form{evaluatePolynomial}, Form{evaluateConjugateInvariantPolynomial}}) {
        const auto call = [&, form](u64 size, u64 bs) {
            return [this, &ct, form, size, bs](RingCiphertext &out) {
                form(eval, ct, Coeffs(size, 0.5), out, 1.0, bs);
            };
        };
        expectRefusedKeepingOutput(call(0, 4), kTooFewCoefficients);
        expectRefusedKeepingOutput(call(1, 4), kTooFewCoefficients);
        expectRefusedKeepingOutput(call(8, 1), kBabyStepTooSmall);
        expectRefusedKeepingOutput(call(8, 0), kBabyStepTooSmall);
    }
    // One block is not a conjugate-invariant layout.
    expectRefusedKeepingOutput(
        [&](RingCiphertext &out) {
            evaluateConjugateInvariantPolynomial(eval, ct, Coeffs(4, 0.5), out, 1.0, 4);
        },
        kTooFewBlocks);
    // A ciphertext without the levels the polynomial needs fails in the
    // evaluator; the output is still untouched.
    RingCiphertext low = fresh();
    eval.levelDown(ct, 2, low);
    expectRefusedKeepingOutput(
        [&](RingCiphertext &out) { evaluatePolynomial(eval, low, Coeffs(16, 0.5), out, 1.0, 4); },
        "The level of the operand is zero");
}

} // namespace
} // namespace Quelt::test
