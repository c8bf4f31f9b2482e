#include "boot/ModularReduction.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/ScaleFactors.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

// The modular reduction on FX (degree 64, 25 primes, encryption level 12,
// the one scale correction -16 at level 13): every step on encrypted real
// slots against the same arithmetic in double precision.

namespace Quelt::test {
namespace {

using Complex = std::complex<double>;

constexpr double kPi = std::numbers::pi;

// cos(k arccos x), the Chebyshev polynomial itself.
double chebyshev(u64 k, double x) { return std::cos(static_cast<double>(k) * std::acos(x)); }

// s times the block-form polynomial: the sum over j of (c[4j] + c[4j+1] T2 +
// c[4j+2] T4 + c[4j+3] T6) times T_(8 2^k) for every set bit k of j.
double blockModel(const std::vector<double> &c, u64 m, double s, double x) {
    double sum = 0.0;
    for (u64 j = 0; j < (u64{1} << m); ++j) {
        double block = c[4 * j] + c[4 * j + 1] * chebyshev(2, x) + c[4 * j + 2] * chebyshev(4, x) +
                       c[4 * j + 3] * chebyshev(6, x);
        for (u64 k = 0; k < m; ++k)
            if ((j >> k) & 1)
                block *= chebyshev(u64{8} << k, x);
        sum += block;
    }
    return s * sum;
}

// The precision of an error in bits.
double bits(double error) { return -std::log2(error); }

class ModularReductionTest : public SchemeFixture {
protected:
    static constexpr u64 kTop = 24;
    // Level Lg of FX: the encryption level plus one.
    static constexpr u64 kLg = 13;

    ModularReductionTest() : param(context()) {}

    ModReductionEnv env() const {
        return {eval, context(), param, ModReductionOptions::fromContext(context(), true)};
    }

    // Real slots uniform in [lo, hi].
    std::vector<double> uniform(double lo, double hi) {
        std::uniform_real_distribution<double> dist(lo, hi);
        std::vector<double> out(u64{1} << getLogFullSlots(context()));
        for (double &v : out)
            v = dist(rng);
        return out;
    }

    // Real slots encrypted without error at any level (c0 = m - c1 s): the
    // encryptor stops at the encryption level.
    RingCiphertext encryptAt(const std::vector<double> &values, u64 level) const {
        const std::vector<Complex> slots(values.begin(), values.end());
        RingCiphertext ct(context(), false, true);
        ct.setLevel(level);
        QueltTest::fillResidues(ct.getPoly(1), level + 7);
        Polynomial product = ct.getPoly(1);
        const PrimeModuli &chain = context()->getPrimeModuli();
        chain.hadamardMult(ct.getPoly(1), secretKey().getSx(0), product);
        chain.sub(encoder.encode(Message(slots), level, 0).getMx(), product, ct.getPoly(0));
        return ct;
    }

    // The largest distance between the decrypted slots and f of the inputs;
    // the ciphertext must have counter 0 at `level`.
    double errorAgainst(const RingCiphertext &ct, u64 level, const std::vector<double> &inputs,
                        const std::function<Complex(double)> &f) const {
        EXPECT_EQ(ct.getLevel(), level);
        EXPECT_EQ(ct.getRescaleCounter(), 0);
        const Message got = decrypt(ct);
        double worst = 0.0;
        for (u64 i = 0; i < inputs.size(); ++i)
            worst = std::max(worst, std::abs(got[i] - f(inputs[i])));
        return worst;
    }

    // Slots (I + e) / (K f) with integers |I| < K = 28 and |e| <= 0.02; e
    // receives the fractions.
    std::vector<double> integersPlusFractions(std::vector<double> &e, double f) {
        std::uniform_int_distribution<int> integer(-27, 27);
        std::uniform_real_distribution<double> fraction(-0.02, 0.02);
        e.resize(u64{1} << getLogFullSlots(context()));
        std::vector<double> slots(e.size());
        for (u64 i = 0; i < e.size(); ++i) {
            e[i] = fraction(rng);
            slots[i] = (integer(rng) + e[i]) / 28.0 / f;
        }
        return slots;
    }

    // FX's prime q0, sf[0] and correction at level Lg, read from the context.
    static double q0() { return static_cast<double>(getPrimeList(context()).at(0)); }
    static double sf0() { return context()->getScaleFactors().getFactors().at(0); }
    static double correctionLg() {
        return static_cast<double>(context()->getScaleFactors().getCorrection(kLg));
    }

    HomEvaluatorImpl eval{context(), keyPack()};
    BootParameter param;
};

TEST_F(ModularReductionTest, FxSettingsAreTheOnesTheseTestsAssume) {
    EXPECT_EQ(getLength(context()), 25u);
    EXPECT_EQ(getEncryptionLevel(context()), 12u);
    EXPECT_EQ(doubleAngleCorrectionLevel(env()), kLg);
    EXPECT_EQ(correctionLg(), -16.0);
    EXPECT_EQ(param.cosine_log_blocks, 3u);
    EXPECT_EQ(param.num_double_angle, 3u);
    EXPECT_EQ(param.arcsine_degree, 1u);
    EXPECT_EQ(param.range_k, 28.0);
    EXPECT_EQ(param.mult_before_s2c, 8u);
    EXPECT_FALSE(param.scale_before_remove_i);
}

// The cosine kernel for m = 0 .. 4 with random coefficients: m + 3 levels,
// the value of the block form.
TEST_F(ModularReductionTest, CosineKernelMatchesTheBlockFormForEveryM) {
    std::uniform_real_distribution<double> coeff(-1.0, 1.0);
    const double s = 0.75;
    for (u64 m = 0; m <= 4; ++m) {
        SCOPED_TRACE(m);
        std::vector<double> c(u64{4} << m);
        for (double &v : c)
            v = coeff(rng);
        const std::vector<double> x = uniform(-1.0, 1.0);
        const RingCiphertext in = encryptAt(x, kTop);
        RingCiphertext out(context(), false, true);
        evaluateCosinePolynomial(eval, c, m, s, in, out);
        const double error =
            errorAgainst(out, kTop - (m + 3), x, [&](double v) { return blockModel(c, m, s, v); });
        // Measured: 41.9 (m = 4) to 47.3 (m = 0) bits.
        EXPECT_GT(bits(error), 39.0) << "measured " << bits(error);
    }
}

TEST_F(ModularReductionTest, CosineKernelMayOverwriteItsInput) {
    const std::vector<double> c = param.cosine_coeffs;
    const std::vector<double> x = uniform(-1.0, 1.0);
    RingCiphertext ct = encryptAt(x, kTop);
    evaluateCosinePolynomial(eval, c, 3, 1.0, ct, ct);
    const double error =
        errorAgainst(ct, kTop - 6, x, [&](double v) { return blockModel(c, 3, 1.0, v); });
    // Measured: 44.5 bits.
    EXPECT_GT(bits(error), 41.0) << "measured " << bits(error);
}

// The member scales the coefficients by |a|^(1/2^r) for arcsine degree 1 and
// by 1 otherwise; FX's coefficients approximate cos(7 pi x).
TEST_F(ModularReductionTest, CosineTakesTheAmplitudeRootForDegreeOne) {
    const std::vector<double> x = uniform(-1.0, 1.0);
    const RingCiphertext in = encryptAt(x, kTop);
    const double a = -0.3;
    for (u64 degree : {u64{1}, u64{3}}) {
        SCOPED_TRACE(degree);
        param.arcsine_degree = degree;
        const double s = degree == 1 ? std::pow(0.3, 1.0 / 8.0) : 1.0;
        RingCiphertext out(context(), false, true);
        cosineApproxWithoutDoubleAngleFormula(env(), in, out, a, 3);
        const double error = errorAgainst(
            out, kTop - 6, x, [&](double v) { return blockModel(param.cosine_coeffs, 3, s, v); });
        // Measured: 44.5 and 44.7 bits.
        EXPECT_GT(bits(error), 41.0) << "measured " << bits(error);
        // And the polynomial is the cosine it stands for.
        const double to_cosine =
            errorAgainst(out, kTop - 6, x, [&](double v) { return s * std::cos(7.0 * kPi * v); });
        EXPECT_LT(to_cosine, 1e-6);
    }
}

// r double-angle steps on s cos(theta): |a| cos(2^r theta), negated for a < 0
// with degree 1; the run through level Lg picks up 2^-I[Lg] in its last step.
TEST_F(ModularReductionTest, DoubleAngleRaisesTheAngle) {
    struct Case {
        u64 degree;
        double a;
        u64 r;
        u64 level;
        double factor; // of the result beyond |a| cos(2^r theta), sign included
    };
    const double lg_factor = std::pow(2.0, -correctionLg());
    const std::vector<Case> cases{
        {1, 0.3, 3, 20, 1.0},
        {1, -0.3, 3, 20, -1.0},
        {1, 0.3, 3, kLg + 2, lg_factor},
        {1, -0.3, 3, kLg + 2, -lg_factor},
        {3, 0.3, 2, 20, 1.0},
        {3, -0.3, 2, 20, 1.0},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message()
                     << "degree " << k.degree << " a " << k.a << " level " << k.level);
        param.arcsine_degree = k.degree;
        // degree 1 starts from the amplitude |a|^(1/2^r); the others from 1.
        const double s = k.degree == 1 ? std::pow(std::fabs(k.a), 1.0 / 8.0) : 1.0;
        const double amplitude = k.degree == 1 ? std::fabs(k.a) : 1.0;
        const std::vector<double> theta = uniform(-kPi, kPi);
        std::vector<double> start(theta.size());
        for (u64 i = 0; i < theta.size(); ++i)
            start[i] = s * std::cos(theta[i]);
        const RingCiphertext in = encryptAt(start, k.level);
        RingCiphertext out(context(), false, true);
        doubleAngleFormula(env(), in, out, k.a, k.r);
        const double scale = std::fabs(k.factor) * amplitude;
        const double error = errorAgainst(out, k.level - k.r, theta, [&](double t) {
            return k.factor * amplitude * std::cos(std::pow(2.0, k.r) * t);
        });
        // Measured: 43.4 to 45.7 bits relative to the output's size.
        EXPECT_GT(bits(error / scale), 40.0) << "measured " << bits(error / scale);
    }
}

TEST_F(ModularReductionTest, DoubleAngleWithoutStepsNegatesOrCopies) {
    const std::vector<double> x = uniform(-1.0, 1.0);
    const RingCiphertext in = encryptAt(x, 20);
    RingCiphertext out(context(), false, true);
    doubleAngleFormula(env(), in, out, -0.5, 0);
    EXPECT_LT(errorAgainst(out, 20, x, [](double v) { return -v; }), 1e-9);
    doubleAngleFormula(env(), in, out, 0.5, 0);
    EXPECT_LT(errorAgainst(out, 20, x, [](double v) { return v; }), 1e-9);
    param.arcsine_degree = 3;
    doubleAngleFormula(env(), in, out, -0.5, 0);
    EXPECT_LT(errorAgainst(out, 20, x, [](double v) { return v; }), 1e-9);
}

// cosineApprox with arcsine degree 1, r = 0 and a < 0: the cosine scaled by
// |a| and negated, the double-angle step using no level.
TEST_F(ModularReductionTest, CosineApproxWithoutStepsIsTheNegatedCosine) {
    param.num_double_angle = 0;
    const std::vector<double> x = uniform(-1.0, 1.0);
    const RingCiphertext in = encryptAt(x, kTop);
    RingCiphertext out(context(), false, true);
    cosineApprox(env(), in, out, -0.4);
    const double error = errorAgainst(
        out, kTop - 6, x, [&](double v) { return -blockModel(param.cosine_coeffs, 3, 0.4, v); });
    // Measured: 45.6 bits.
    EXPECT_GT(bits(error), 42.0) << "measured " << bits(error);
}

TEST_F(ModularReductionTest, ArcsineUsesTwoAndThreeLevels) {
    const double a = 0.7;
    const std::vector<double> x = uniform(-0.5, 0.5);
    const RingCiphertext in = encryptAt(x, 20);
    RingCiphertext out(context(), false, true);

    arcsineApprox(env(), in, out, 3, a);
    double error = errorAgainst(out, 18, x, [&](double v) { return a * (v + v * v * v / 6.0); });
    // Measured: 49.6 bits.
    EXPECT_GT(bits(error), 46.0) << "measured " << bits(error);

    arcsineApprox(env(), in, out, 7, a);
    error = errorAgainst(out, 17, x, [&](double v) {
        const double v2 = v * v;
        return a * v * (1.0 + v2 / 6.0 + 3.0 * v2 * v2 / 40.0 + 5.0 * v2 * v2 * v2 / 112.0);
    });
    // Measured: 48.4 bits.
    EXPECT_GT(bits(error), 45.0) << "measured " << bits(error);

    arcsineApprox(env(), in, out, 1, a);
    EXPECT_LT(errorAgainst(out, 20, x, [](double v) { return v; }), 1e-9);
}

// exp(2 pi i K x), K = 28: the cosine of x and of x - 2^r / (4K), r squarings.
TEST_F(ModularReductionTest, ExponentialTurnsTheSlotIntoARootOfUnity) {
    const std::vector<double> x = uniform(-0.9, 0.9);
    const RingCiphertext in = encryptAt(x, kTop);
    RingCiphertext out(context(), false, true);
    evaluateExponential(env(), in, out, 1.0);
    const double error = errorAgainst(
        out, kTop - 9, x, [](double v) { return std::exp(Complex(0.0, 2.0 * kPi * 28.0 * v)); });
    // Measured: 40.5 bits.
    EXPECT_GT(bits(error), 37.0) << "measured " << bits(error);
}

// Slot values (I + e) / K lose I and keep e: the output is 2^-I[Lg] A / 2pi
// sin(2 pi e), A = q0 2^(I[Lg] - sf[0]) / mult_before_s2c times the scale.
TEST_F(ModularReductionTest, RemoveIKeepsTheFractionAndDropsTheInteger) {
    std::vector<double> e;
    const std::vector<double> t = integersPlusFractions(e, 1.0);
    const u64 level = 21;
    const RingCiphertext in = encryptAt(t, level);
    for (double scale : {1.0, 0.5}) {
        SCOPED_TRACE(scale);
        const double A = q0() * std::pow(2.0, correctionLg() - sf0()) / 8.0 * scale;
        const double out_factor = std::pow(2.0, -correctionLg()) * A / (2.0 * kPi);
        RingCiphertext out(context(), false, true);
        removeI(env(), in, out, scale);
        const double error = errorAgainst(out, getEncryptionLevel(context()), e, [&](double v) {
            return out_factor * std::sin(2.0 * kPi * v);
        });
        // Relative to the slope of the output in e (2^-I[Lg] A, about 8000):
        // measured 42.2 bits.
        const double slope = out_factor * 2.0 * kPi;
        EXPECT_GT(bits(error / slope), 39.0) << "measured " << bits(error / slope);
    }
}

TEST_F(ModularReductionTest, BootstrapperMembersRunOnItsOwnSettings) {
    // A bootstrapper of FX without constants: its members and its
    // environment give the words of the reduction run on an evaluator with
    // the same keys.
    const BootstrapperImpl boot(HomEvaluator(context(), keyPack()), false, 0);
    EXPECT_TRUE(boot.getPipeline().modReductionEnv().options.use_multiply_const_before_s2c);
    std::vector<double> e;
    const RingCiphertext in = encryptAt(integersPlusFractions(e, 1.0), 21);
    RingCiphertext want(context(), false, true), got(context(), false, true);
    removeI(env(), in, want, 1.0);
    boot.getPipeline().removeI(in, got, 1.0);
    for (u64 k = 0; k < 2; ++k)
        EXPECT_EQ(QueltTest::wordsOf(got.getPoly(k)), QueltTest::wordsOf(want.getPoly(k)));
    cosineApprox(env(), in, want, 1.0);
    cosineApprox(boot.getPipeline().modReductionEnv(), in, got, 1.0);
    for (u64 k = 0; k < 2; ++k)
        EXPECT_EQ(QueltTest::wordsOf(got.getPoly(k)), QueltTest::wordsOf(want.getPoly(k)));
}

// With the pre-scaling multiply the input is divided by
// f = 2^sf[L-1] / q0 / (2K mult_before_c2s) first, one level more.
TEST_F(ModularReductionTest, RemoveIAppliesThePreScaling) {
    param.scale_before_remove_i = true;
    const double f = std::pow(2.0, context()->getScaleFactors().getFactors().at(24)) / q0() / 56.0;
    std::vector<double> e;
    const std::vector<double> y = integersPlusFractions(e, f);
    RingCiphertext ct = encryptAt(y, 22);
    const double A = q0() * std::pow(2.0, correctionLg() - sf0()) / 8.0;
    const double out_factor = std::pow(2.0, -correctionLg()) * A / (2.0 * kPi);
    removeI(env(), ct, ct, 1.0);
    const double error = errorAgainst(ct, getEncryptionLevel(context()), e, [&](double v) {
        return out_factor * std::sin(2.0 * kPi * v);
    });
    // Measured: 41.9 bits.
    const double slope = out_factor * 2.0 * kPi;
    EXPECT_GT(bits(error / slope), 39.0) << "measured " << bits(error / slope);
}

// The rules of A and a, on FX's numbers with the flags switched.
TEST_F(ModularReductionTest, RemoveIConstantsFollowTheFlags) {
    const double base = q0() * std::pow(2.0, -sf0()) / 8.0;
    const double twoPi = 6.283185307179586;
    ModReductionEnv e = env();
    RemoveIConstants k = removeIConstants(e, 2.0);
    EXPECT_DOUBLE_EQ(k.A, 2.0 * base * std::pow(2.0, -16.0));
    EXPECT_DOUBLE_EQ(k.a, k.A / twoPi);
    EXPECT_DOUBLE_EQ(k.shift, 0.25 / 28.0);
    EXPECT_EQ(k.pre_scale, 0.0);

    e.options.fva = true;
    EXPECT_DOUBLE_EQ(removeIConstants(e, 1.0).A, base);
    e.options.fva = false;
    // The correction is read at level 3 + 12 + 1 = 16, where FX has none.
    e.options.coeff_boot = true;
    EXPECT_DOUBLE_EQ(removeIConstants(e, 1.0).A, base);
    e.options.coeff_boot = false;
    e.options.re_remove_i = true;
    EXPECT_DOUBLE_EQ(removeIConstants(e, 1.0).A, base);
    e.options.re_remove_i = false;

    e.options.automatic_gap_resolve = true;
    k = removeIConstants(e, 3.0);
    EXPECT_EQ(k.A, 3.0);
    EXPECT_DOUBLE_EQ(k.a, 3.0 / twoPi);
    e.options.automatic_gap_resolve = false;

    e.options.full_packed_base_modulus = true;
    k = removeIConstants(e, 1.0);
    EXPECT_EQ(k.a, k.A);
    e.options.use_multiply_const_before_s2c = false;
    k = removeIConstants(e, 1.0);
    EXPECT_DOUBLE_EQ(k.a, k.A / 8.0);
}

TEST_F(ModularReductionTest, NonFiniteConstantsAreRefusedBeforeAnythingChanges) {
    const std::vector<double> x = uniform(-0.5, 0.5);
    const RingCiphertext in = encryptAt(x, 21);
    RingCiphertext out = in;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();

    expectThrowsMessage([&] { removeI(env(), in, out, nan); }, kRemoveINonFinite);
    expectThrowsMessage([&] { removeI(env(), in, out, inf); }, kRemoveINonFinite);
    expectThrowsMessage([&] { cosineApproxWithoutDoubleAngleFormula(env(), in, out, nan, 3); },
                        kCosineNonFinite);
    expectThrowsMessage(
        [&] { evaluateCosinePolynomial(eval, param.cosine_coeffs, 3, inf, in, out); },
        kCosineNonFinite);
    expectThrowsMessage([&] { doubleAngleFormula(env(), in, out, inf, 3); }, kDoubleAngleNonFinite);
    expectThrowsMessage([&] { arcsineApprox(env(), in, out, 3, nan); }, kArcsineNonFinite);
    expectThrowsMessage([&] { evaluateExponential(env(), in, out, inf); }, kExponentialNonFinite);

    BootParameter zero_k = param;
    zero_k.range_k = 0.0;
    const ModReductionEnv bad{eval, context(), zero_k, env().options};
    expectThrowsMessage([&] { removeI(bad, in, out, 1.0); }, kRemoveINonFinite);
    expectThrowsMessage([&] { evaluateExponential(bad, in, out, 1.0); }, kExponentialNonFinite);
    BootParameter zero_mult = param;
    zero_mult.mult_before_s2c = 0;
    const ModReductionEnv bad_mult{eval, context(), zero_mult, env().options};
    expectThrowsMessage([&] { removeI(bad_mult, in, out, 1.0); }, kRemoveINonFinite);

    // out is still the copy of in.
    EXPECT_LT(errorAgainst(out, 21, x, [](double v) { return v; }), 1e-9);
}

TEST_F(ModularReductionTest, CoefficientListMustFillTheBlocks) {
    const RingCiphertext in = encryptAt(uniform(-0.5, 0.5), kTop);
    RingCiphertext out(context(), false, true);
    for (u64 size : {u64{0}, u64{31}, u64{33}}) {
        const std::vector<double> c(size, 0.1);
        expectThrowsMessage([&] { evaluateCosinePolynomial(eval, c, 3, 1.0, in, out); },
                            kCosineCoefficientCount);
    }
    expectThrowsMessage(
        [&] { evaluateCosinePolynomial(eval, std::vector<double>(4, 0.1), 64, 1.0, in, out); },
        kCosineCoefficientCount);
    // A preset without bootstrapping settings has no coefficients.
    param.cosine_coeffs.clear();
    expectThrowsMessage([&] { removeI(env(), in, out, 1.0); }, kCosineCoefficientCount);
}

} // namespace
} // namespace Quelt::test
