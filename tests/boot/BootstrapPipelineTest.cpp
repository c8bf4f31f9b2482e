#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/Modulus.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "context/Polynomial.hpp"
#include "context/ScaleFactors.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

// The bootstrap pipeline on FX (degree 64, 32 slots, the primes and
// bootstrapping settings of FGb): refreshed ciphertexts decrypt to the
// message, and the transforms' intermediate forms are checked on their own.

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;
using Complex = std::complex<double>;

// The precision in bits that the extended forms must gain (measured on FX:
// 25.0 bits mean plain, 29.9 extended, 30.7 and 30.9 for the two parts).
constexpr double kExtendedMargin = 3.0;

class BootstrapPipelineTest : public testing::Test {
protected:
    static const std::shared_ptr<ContextContent> &ctx() { return fxContext(); }

    Ciphertext encrypt(const Message &m) const {
        Ciphertext ct(ctx(), false, true);
        encryptor.encrypt(m, fxBootKeys().pack, ct);
        return ct;
    }
    Message decrypt(const Ciphertext &ct) const {
        Message out;
        decryptor.decrypt(ct, fxBootKeys().secret_key, out);
        return out;
    }
    Ciphertext atLevel(const Ciphertext &ct, u64 level) const {
        Ciphertext out(ctx(), false, true);
        fxBootEval().levelDown(ct, level, out);
        return out;
    }
    // The message encrypted and levelled down to 3.
    Ciphertext exhausted(const Message &m) const { return atLevel(encrypt(m), 3); }
    static Ciphertext blank() { return Ciphertext(ctx(), false, true); }

    // The precision of ct against want, printed under `what`.
    Precision measure(const Ciphertext &ct, const Message &want, const std::string &what) const {
        const Precision p = precisionBits(decrypt(ct), want);
        std::cout << "[ FX ] " << what << ": mean " << p.mean << " bits, min " << p.min
                  << " bits\n";
        return p;
    }

    std::mt19937_64 rng{20261211};
    const Encryptor encryptor{ctx()};
    const Decryptor decryptor{ctx()};
};

// The slot index whose value the encoder puts at position j before its
// inverse FFT: j with its log_slots bits reversed.
u64 bitReverse(u64 j, u64 log_slots) {
    u64 r = 0;
    for (u64 b = 0; b < log_slots; ++b)
        r |= ((j >> b) & 1) << (log_slots - 1 - b);
    return r;
}

TEST_F(BootstrapPipelineTest, FullSlotComplexBootstrap) {
    const Bootstrapper boot(fxBootEval(), false);
    const Message m = randomBootMessage(rng, 5, 1.0);
    for (const u64 level : {u64{3}, u64{12}}) {
        SCOPED_TRACE(level);
        const Ciphertext in = atLevel(encrypt(m), level);
        Ciphertext out = blank();
        boot.bootstrap(in, out, true);
        EXPECT_EQ(out.getLevel(), boot.getLevelAfterFullSlotBootstrap());
        EXPECT_EQ(out.getLevel(), 12u);
        EXPECT_EQ(out.getRescaleCounter(), 0);
        EXPECT_EQ(out.getLogSlots(), 5u);
        const Precision p =
            measure(out, m, "full-slot complex from level " + std::to_string(level));
        // Measured: mean 25.0 bits, minimum 22.9 bits.
        EXPECT_GT(p.mean, 22.0);
        EXPECT_GT(p.min, 20.0);
    }
}

TEST_F(BootstrapPipelineTest, SparseSlots) {
    Bootstrapper boot(fxBootEval(), u64{0}, false);
    // log_slots 0 needs no constants.
    EXPECT_TRUE(boot.isBootstrapReady(0));
    for (u64 s = 0; s <= 4; ++s) {
        SCOPED_TRACE(s);
        boot.makeBootConstants(s);
        const Message m = randomBootMessage(rng, s, 1.0);
        Ciphertext out = blank();
        boot.bootstrap(exhausted(m), out, true);
        EXPECT_EQ(out.getLogSlots(), s);
        EXPECT_EQ(out.getLevel(), 12u);
        const Precision p = measure(out, m, "log_slots " + std::to_string(s));
        // Measured: mean 25 to 27 bits, minimum 23 to 26 bits.
        EXPECT_GT(p.min, 20.0);
    }
}

TEST_F(BootstrapPipelineTest, RealBootstrap) {
    const Bootstrapper boot(fxBootEval(), false);
    const Message m = randomBootMessage(rng, 5, 1.0, true);
    Ciphertext out = blank();
    boot.bootstrap(exhausted(m), out, false);
    EXPECT_EQ(out.getLevel(), 12u);
    const Precision p = measure(out, m, "real bootstrap");
    // Measured: mean 25.6 bits, minimum 23.3 bits.
    EXPECT_GT(p.min, 20.0);
}

// The real and imaginary parts, each times the scale, in real slots.
Message part(const Message &m, bool imag, double scale) {
    Message out(m);
    for (u64 i = 0; i < m.getSize(); ++i)
        out[i] = Complex(scale * (imag ? m[i].imag() : m[i].real()), 0.0);
    return out;
}

TEST_F(BootstrapPipelineTest, TwoOutputBootstrap) {
    const Bootstrapper boot(fxBootEval(), false);
    const Message m = randomBootMessage(rng, 5, 1.0);
    for (const double scale : {1.0, 0.5}) {
        SCOPED_TRACE(scale);
        Ciphertext re = blank(), im = blank();
        boot.bootstrap(exhausted(m), re, im, scale);
        EXPECT_GT(measure(re, part(m, false, scale), "two-output real part").min, 20.0);
        EXPECT_GT(measure(im, part(m, true, scale), "two-output imaginary part").min, 20.0);
    }
}

TEST_F(BootstrapPipelineTest, HalfBootOfSlotToCoeffOutput) {
    const Bootstrapper boot(fxBootEval(), false);
    const Message m = randomBootMessage(rng, 5, 1.0);
    Ciphertext coeffs = blank();
    boot.slotToCoeff(encrypt(m), coeffs);
    EXPECT_EQ(coeffs.getEncodingType(), EncodingType::COEFFICIENT);
    for (const bool keep_real : {false, true}) {
        Ciphertext out = blank();
        boot.halfBoot(coeffs, out, true, keep_real);
        EXPECT_EQ(out.getLevel(), 12u);
        EXPECT_EQ(out.getEncodingType(), EncodingType::SLOT);
        EXPECT_GT(measure(out, m, "halfBoot").min, 20.0);
    }
    Ciphertext re = blank(), im = blank();
    boot.halfBoot(coeffs, re, im);
    EXPECT_GT(measure(re, part(m, false, 1.0), "halfBoot real part").min, 20.0);
    EXPECT_GT(measure(im, part(m, true, 1.0), "halfBoot imaginary part").min, 20.0);
    // The real road of a coefficient input.
    const Message r = part(m, false, 1.0);
    boot.slotToCoeff(encrypt(r), coeffs);
    Ciphertext out = blank();
    boot.halfBoot(coeffs, out, false, false);
    EXPECT_GT(measure(out, r, "real halfBoot").min, 20.0);
}

TEST_F(BootstrapPipelineTest, SlotToCoeffCoefficientLayout) {
    Bootstrapper boot(fxBootEval(), false);
    const double s2c_scale = BootParameter(ctx()).s2c_scale;
    for (const u64 s : {u64{5}, u64{3}}) {
        SCOPED_TRACE(s);
        boot.makeBootConstants(s);
        const Message m = randomBootMessage(rng, s, 1.0);
        Ciphertext coeffs = blank();
        boot.slotToCoeff(encrypt(m), coeffs);
        EXPECT_EQ(coeffs.getLevel(), 0u);
        EXPECT_FALSE(coeffs.getPoly(0).isNTT());
        EXPECT_FALSE(coeffs.getPoly(1).isNTT());
        // The decryptor reads coefficients j g and N/2 + j g (g = N / 2 /
        // 2^s) into positions j and 2^s + j.
        std::vector<double> got;
        decryptor.decrypt(coeffs, fxBootKeys().secret_key, got);
        const u64 slots = u64{1} << s;
        ASSERT_EQ(got.size(), 2 * slots);
        std::vector<double> want(got.size(), 0.0);
        for (u64 j = 0; j < slots; ++j) {
            const Complex v = m[bitReverse(j, s)] * s2c_scale;
            want[j] = v.real();
            want[slots + j] = v.imag();
        }
        for (u64 k = 0; k < got.size(); ++k)
            EXPECT_NEAR(got[k], want[k], 1e-5) << "coefficient " << k;
    }
}

TEST_F(BootstrapPipelineTest, SingleStepsGiveSlotToCoeff) {
    BootstrapperImpl boot(fxBootEval(), false, u64{5});
    const BootParameter &param = boot.getBootParameter();
    // A split of three steps, (0, 1), (1, 3), (3, 5), at levels 1, 2, 3:
    // the whole budget of three levels, each step at the level it runs at.
    ASSERT_EQ(param.s2c_level_cost, 3u);
    boot.getConstants().makeBootConstants(5, {1, 3, 5}, {1, 2, 3}, std::nullopt);
    const Message m = randomBootMessage(rng, 5, 1.0);
    const Ciphertext in = exhausted(m);
    Ciphertext whole = blank();
    boot.getTransforms().slotToCoeff(in, whole);
    Ciphertext steps = blank();
    boot.getTransforms().slotToCoeffSingleStep(in, steps, {3, 5});
    EXPECT_EQ(steps.getLevel(), 2u);
    boot.getTransforms().slotToCoeffSingleStep(steps, steps, {1, 3});
    boot.getTransforms().slotToCoeffSingleStep(steps, steps, {0, 1});
    EXPECT_EQ(steps.getLevel(), 0u);
    // Both are the inverse DFT at level 0 (still slot-encoded): compare
    // their coefficients.
    for (Ciphertext *ct : {&whole, &steps}) {
        ct->setEncodingType(EncodingType::COEFFICIENT);
        ct->backwardNTT();
    }
    std::vector<double> a, b;
    decryptor.decrypt(whole, fxBootKeys().secret_key, a);
    decryptor.decrypt(steps, fxBootKeys().secret_key, b);
    ASSERT_EQ(a.size(), b.size());
    for (u64 k = 0; k < a.size(); ++k)
        EXPECT_NEAR(a[k], b[k], 1e-5) << "coefficient " << k;
}

TEST_F(BootstrapPipelineTest, MinimalKeyChainsMatchTheHoistedRoad) {
    // log_slots 4 runs one step with four giant blocks (the cyclic chain),
    // 3 one with two, 5 a later step as well.
    for (const u64 s : {u64{3}, u64{4}, u64{5}}) {
        SCOPED_TRACE(s);
        EXPECT_LE(ctx()->getRotIndicesForBootstrap(s, true, false).size(),
                  ctx()->getRotIndicesForBootstrap(s, false, false).size());
        const Message m = randomBootMessage(rng, s, 1.0);
        const Ciphertext in = exhausted(m);
        Bootstrapper hoisted(fxBootEval(), s, false);
        Bootstrapper min_key(fxMinKeyEval(), s, true);
        Bootstrapper c2s_min(fxBootEval(), s, false);
        c2s_min.setC2Suseminkey(true);
        Ciphertext a = blank(), b = blank(), c = blank();
        hoisted.bootstrap(in, a, true);
        min_key.bootstrap(in, b, true);
        c2s_min.bootstrap(in, c, true);
        const Message want = decrypt(a);
        EXPECT_GT(precisionBits(decrypt(b), want).min, 20.0);
        EXPECT_GT(precisionBits(decrypt(c), want).min, 20.0);
        EXPECT_GT(measure(b, m, "min_key").min, 20.0);
        EXPECT_GT(measure(c, m, "C2S_use_min_key").min, 20.0);
    }
}

TEST_F(BootstrapPipelineTest, ExtendedBootstrapGainsPrecision) {
    const Bootstrapper boot(fxBootEval(), false);
    const Message m = randomBootMessage(rng, 5, 1.0);
    const Ciphertext in = atLevel(encrypt(m), 4);
    Ciphertext plain = blank(), extended = blank();
    boot.bootstrap(in, plain, true);
    boot.bootstrapExtended(in, extended, true);
    const Precision p = measure(plain, m, "plain");
    const Precision e = measure(extended, m, "extended");
    EXPECT_EQ(extended.getLevel(), plain.getLevel());
    EXPECT_EQ(extended.getLogSlots(), 5u);
    EXPECT_GT(e.mean, p.mean + kExtendedMargin);

    Ciphertext re = blank(), im = blank();
    boot.bootstrapExtended(in, re, im);
    const Precision er = measure(re, part(m, false, 1.0), "extended real part");
    const Precision ei = measure(im, part(m, true, 1.0), "extended imaginary part");
    EXPECT_GT(std::min(er.mean, ei.mean), p.mean + kExtendedMargin);
}

TEST_F(BootstrapPipelineTest, IntegerToRootsBootstrap) {
    // After CoeffToSlot a slot holds x mult_before_s2c 2^sf[0] / q0 plus an
    // integer; the exponential gives exp(2 pi i f x), at the scale left by
    // the level with the scale correction (2^16 on FX).
    const BootParameter param(ctx());
    const double f = static_cast<double>(param.mult_before_s2c) *
                     std::pow(2.0, ctx()->getScaleFactors().getFactors().at(0)) /
                     static_cast<double>(getPrimeList(ctx()).at(0));
    const double magnitude =
        std::pow(2.0, -static_cast<double>(ctx()->getScaleFactors().getCorrection(13)));
    const auto root = [&](double x) {
        return magnitude * std::exp(Complex(0.0, 2.0 * std::numbers::pi * f * x));
    };
    const Bootstrapper boot(fxBootEval(), false);
    const Message m = randomBootMessage(rng, 5, 1.0);
    Message want_re(m), want_im(m);
    for (u64 i = 0; i < m.getSize(); ++i) {
        want_re[i] = root(m[i].real());
        want_im[i] = root(m[i].imag());
    }
    const Ciphertext in = exhausted(m);
    Ciphertext out = blank();
    boot.integerToRootsBootstrap(in, out);
    // Relative to the magnitude: measured 30 bits and more.
    const auto relative = [&](const Ciphertext &ct, const Message &want) {
        return precisionBits(decrypt(ct), want).min + std::log2(magnitude);
    };
    const Message real = part(m, false, 1.0);
    Ciphertext real_in = exhausted(real);
    boot.integerToRootsBootstrap(real_in, out);
    EXPECT_GT(relative(out, want_re), 20.0);
    Ciphertext re = blank(), im = blank();
    boot.integerToRootsBootstrap(in, re, im);
    EXPECT_GT(relative(re, want_re), 20.0);
    EXPECT_GT(relative(im, want_im), 20.0);
}

// ---- Outsourced road --------------------------------------------------------------------

TEST_F(BootstrapPipelineTest, OutsourcedRoadsOnADegree64Pair) {
    FxOutsourcing pair;
    const Bootstrapper inner(*pair.inner_eval, false);
    Bootstrapper boot(pair.outer_eval, false);
    boot.enableOutsourcing(inner);
    const Message m = randomBootMessage(rng, 5, 1.0);
    const Ciphertext in(pair.outer, exhausted(m));
    // The results sit on the outer chain at its encryption level; read them
    // through FX, whose primes they use.
    const auto read = [&](const Ciphertext &ct) {
        EXPECT_EQ(ct.getContext(), pair.outer);
        EXPECT_EQ(ct.getLevel(), 12u);
        EXPECT_EQ(ct.getRescaleCounter(), 0);
        EXPECT_EQ(ct.getLogSlots(), 5u);
        return decrypt(Ciphertext(ctx(), ct));
    };

    Ciphertext out(pair.outer, false, true);
    boot.bootstrap(in, out, true);
    const Precision complex = precisionBits(read(out), m);
    std::cout << "[ FX ] outsourced complex: mean " << complex.mean << " bits, min " << complex.min
              << " bits\n";
    EXPECT_GT(complex.mean, 22.0);
    EXPECT_GT(complex.min, 20.0);

    Ciphertext re(pair.outer, false, true), im(pair.outer, false, true);
    boot.bootstrap(in, re, im, 1.0);
    const Precision pr = precisionBits(read(re), part(m, false, 1.0));
    const Precision pi = precisionBits(read(im), part(m, true, 1.0));
    std::cout << "[ FX ] outsourced two-output: real " << pr.mean << " bits, imaginary " << pi.mean
              << " bits\n";
    EXPECT_GT(std::min(pr.min, pi.min), 20.0);

    // A coefficient-encoded input (SlotToCoeff already run here) goes to the
    // inner bootstrapper as it is.
    Ciphertext coeffs(pair.outer, false, true);
    boot.slotToCoeff(in, coeffs);
    Ciphertext half(pair.outer, false, true);
    boot.halfBoot(coeffs, half, true, false);
    EXPECT_GT(precisionBits(read(half), m).min, 20.0);
    // No real part is kept on the outsourced road: the request is refused
    // (it used to come back one level off, at -41 bits) and the output is
    // left alone.
    const std::string keep_real =
        "[halfBoot] keep_real is not available on the road outsourced to FGeO (its result cannot "
        "come back one level above the encryption level): call halfBoot with keep_real = false";
    for (const bool complex : {true, false}) {
        Ciphertext kept(half);
        expectThrowsMessage([&] { boot.halfBoot(coeffs, kept, complex, true); }, keep_real);
        EXPECT_EQ(QueltTest::wordsOf(kept.getPoly(0)), QueltTest::wordsOf(half.getPoly(0)));
    }

    // The roots of the real parts, as on FX itself (see
    // IntegerToRootsBootstrap): the inner bootstrapper works from FX's
    // level-0 scale and hands its result back at the same scale.
    const BootParameter param(ctx());
    const double f = static_cast<double>(param.mult_before_s2c) *
                     std::pow(2.0, ctx()->getScaleFactors().getFactors().at(0)) /
                     static_cast<double>(getPrimeList(ctx()).at(0));
    const double magnitude =
        std::pow(2.0, -static_cast<double>(ctx()->getScaleFactors().getCorrection(13)));
    const Message real = part(m, false, 1.0);
    Message want(real);
    for (u64 i = 0; i < m.getSize(); ++i)
        want[i] = magnitude * std::exp(Complex(0.0, 2.0 * std::numbers::pi * f * real[i].real()));
    const Ciphertext real_in(pair.outer, exhausted(real));
    Ciphertext roots(pair.outer, false, true);
    boot.integerToRootsBootstrap(real_in, roots);
    const Precision pe = precisionBits(read(roots), want);
    std::cout << "[ FX ] outsourced integerToRootsBootstrap: " << pe.min + std::log2(magnitude)
              << " bits relative to the magnitude\n";
    EXPECT_GT(pe.min + std::log2(magnitude), 20.0);
    Ciphertext roots_re(pair.outer, false, true), roots_im(pair.outer, false, true);
    boot.integerToRootsBootstrap(real_in, roots_re, roots_im);
    EXPECT_GT(precisionBits(read(roots_re), want).min + std::log2(magnitude), 20.0);
}

// ---- Messages -----------------------------------------------------------------------------

TEST_F(BootstrapPipelineTest, MessageTable) {
    const Bootstrapper boot(fxBootEval(), false);
    const BootstrapperImpl impl(fxBootEval(), false, u64{5});
    const Message m = randomBootMessage(rng, 5, 1.0);
    const Ciphertext ct = encrypt(m);
    Ciphertext coeffs = blank();
    boot.slotToCoeff(ct, coeffs);

    Ciphertext level2 = atLevel(ct, 2);
    Ciphertext three = ct;
    three.setNumPoly(3);
    Ciphertext sparse = atLevel(encrypt(randomBootMessage(rng, 2, 1.0)), 3);
    Ciphertext counter = ct;
    fxBootEval().multWithoutRescale(ct, Complex(1.0, 0.0), counter);
    Ciphertext level3 = atLevel(ct, 3);
    Ciphertext at1 = atLevel(ct, 1);
    at1.backwardNTT();
    Polynomial ntt_poly = ct.getPoly(0);
    Polynomial high_poly = ct.getPoly(0);

    Ciphertext out = blank(), out2 = blank();
    struct Case {
        const char *name;
        std::function<void()> call;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"level 2", [&] { boot.bootstrap(level2, out, true); },
         "[bootstrap] Level of ciphertext should be >= 3."},
        {"three polynomials", [&] { boot.bootstrap(three, out, true); },
         "[bootstrap] Size should be 2"},
        {"missing constants", [&] { boot.bootstrap(sparse, out, true); },
         "[bootstrap] Bootstrapping constants for log slots 2 do not exist."},
        {"counter", [&] { boot.bootstrap(counter, out, true); },
         "The Operand should have rescale counter zero"},
        {"two outputs, counter", [&] { boot.bootstrap(counter, out, out2, 1.0); },
         "The Operand should have rescale counter zero"},
        {"coefficient input", [&] { boot.bootstrap(coeffs, out, true); },
         "The operand have to encode the message on its slots"},
        {"slot input to halfBoot", [&] { boot.halfBoot(ct, out, true, false); },
         "The operand have to encode the message on its coefficients"},
        {"slot input to two-output halfBoot", [&] { boot.halfBoot(ct, out, out2); },
         "The operand have to encode the message on its coefficients"},
        {"extended level 3", [&] { boot.bootstrapExtended(level3, out, true); },
         "[bootstrap extended] Level of ciphertext should be >= 4."},
        {"extended size", [&] { boot.bootstrapExtended(three, out, out2); },
         "[bootstrap extended] Size should be 2"},
        {"extended counter", [&] { boot.bootstrapExtended(counter, out, true); },
         "The Operand should have rescale counter zero"},
        {"extended coefficient input", [&] { boot.bootstrapExtended(coeffs, out, true); },
         "The operand have to encode the message on its slots"},
        {"extended aliased outputs", [&] { boot.bootstrapExtended(ct, out, out); },
         BootstrapperImpl::kAliasedOutputsMessage},
        {"slotToCoeff of a coefficient input", [&] { boot.slotToCoeff(coeffs, out); },
         "The operand have to encode the message on its slots"},
        {"slotToCoeff level 2", [&] { boot.slotToCoeff(level2, out); },
         "[slotToCoeff] Level of ciphertext should be >= 3"},
        {"levelRecover level 1", [&] { impl.getTransforms().levelRecover(at1, out, 5); },
         "[levelRecover] Level should be zero"},
        {"levelRecover of a ciphertext in NTT form",
         [&] { impl.getTransforms().levelRecover(atLevel(ct, 0), out, 5); },
         "[levelRecover] Input should be non-NTT form."},
        {"levelRecover polynomial in NTT form",
         [&] { impl.getTransforms().levelRecover(ntt_poly, high_poly, 5); },
         "[levelRecover] Input should be non-NTT form."},
        {"levelRecover polynomial above level 0",
         [&] { impl.getTransforms().levelRecover(at1.getPoly(0), high_poly, 5); },
         "[levelRecover] Level should be zero."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage(c.call, c.message);
    }
}

TEST_F(BootstrapPipelineTest, ChecksComeBeforeTheOutputChanges) {
    const Bootstrapper boot(fxBootEval(), false);
    const Ciphertext ct = encrypt(randomBootMessage(rng, 5, 1.0));
    Ciphertext out = ct;
    expectThrowsMessage([&] { boot.bootstrap(atLevel(ct, 2), out, true); },
                        "[bootstrap] Level of ciphertext should be >= 3.");
    EXPECT_EQ(out.getLevel(), ct.getLevel());
    EXPECT_EQ(out.getPoly(0).getData()[0], ct.getPoly(0).getData()[0]);
}

TEST_F(BootstrapPipelineTest, ExtendedBootstrapNeedsBothConstantsBeforeItWrites) {
    // The second pass runs at the full slot count: its constants are checked
    // with the input's before the output changes.
    const Bootstrapper boot(fxBootEval(), u64{3}, false);
    const Ciphertext in = atLevel(encrypt(randomBootMessage(rng, 3, 1.0)), 4);
    Ciphertext out = in, other = in;
    const std::string missing = "[bootstrap] Bootstrapping constants for log slots 5 do not exist.";
    expectThrowsMessage([&] { boot.bootstrapExtended(in, out, true); }, missing);
    expectThrowsMessage([&] { boot.bootstrapExtended(in, out, other); }, missing);
    EXPECT_EQ(out.getPoly(0).getData()[0], in.getPoly(0).getData()[0]);
    EXPECT_EQ(other.getPoly(0).getData()[0], in.getPoly(0).getData()[0]);
}

TEST_F(BootstrapPipelineTest, ExtendedBootstrapOnASmallParameterNeedsItsEvaluator) {
    // FX with the small-parameter flag: the extended forms run on the output
    // evaluator, which only enableOutsourcing installs.
    const auto small = withParameter(ctx(), [](Parameter &p) { p.small_parameter = true; });
    const HomEvaluator eval(small, fxBootKeys().pack);
    const BootstrapperImpl boot(eval, false, std::nullopt);
    Ciphertext in(small, false, true);
    in.setLevel(5);
    Ciphertext out(small, false, true);
    expectThrowsMessage([&] { boot.getPipeline().bootstrapExtended(in, out, true); },
                        BootstrapperImpl::kNoOutputEvaluatorMessage);
}

TEST_F(BootstrapPipelineTest, RefusedRoadsLeaveTheOutputUnchanged) {
    const Message m = randomBootMessage(rng, 5, 1.0);
    const Ciphertext in = exhausted(m);
    struct Road {
        const char *name;
        std::function<void(Parameter &)> flag;
        bool complex;
        std::string message;
    };
    const std::vector<Road> roads = {
        {"fast removeI before enableFastRemoveI", [](Parameter &p) { p.re_remove_i = true; }, true,
         FastRemoveIRoad::kFastRemoveINotEnabledMessage},
        {"sparse-secret raise without the sparse context",
         [](Parameter &p) { p.sparse_secret_encapsulation = true; }, true,
         BootstrapperImpl::kNoSparseContextMessage},
        {"real road under coefficient bootstrapping", [](Parameter &p) { p.coeff_boot = true; },
         false, "Real bootstrap is not enabled for this parameter"},
    };
    for (const Road &road : roads) {
        SCOPED_TRACE(road.name);
        const auto flagged = withParameter(ctx(), road.flag);
        const HomEvaluator eval(flagged, fxBootKeys().pack);
        const Bootstrapper boot(eval, false);
        Ciphertext ct(flagged, in);
        Ciphertext out = ct;
        expectThrowsMessage([&] { boot.bootstrap(ct, out, road.complex); }, road.message);
        EXPECT_EQ(out.getPoly(0).getData()[0], ct.getPoly(0).getData()[0]);
    }
}

} // namespace
} // namespace Quelt::test
