#include "boot/ModularReduction.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootParameter.hpp"
#include "context/ContextContent.hpp"
#include "context/ScaleFactors.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <cmath>
#include <complex>
#include <cstddef>
#include <string>
#include <utility>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
using Complex = std::complex<double>;

// 2 pi as the modular reduction uses it.
constexpr double kTwoPi = 6.283185307179586;
// The factors of the degree-7 arcsine polynomial
// (x^2 + c) (x^4 + b x^2 + d) x 5/112.
constexpr double kArcsineB = -1.2866839283926188;
constexpr double kArcsineD = 7.550517864616794;
constexpr double kArcsineC = 2.966683928392619;

void requireFinite(double value, const char *message) {
    if (!std::isfinite(value))
        throw RuntimeException(message);
}

// sf[level] of the context, refusing a level without a valid factor.
double scaleFactorAt(const ContextContent &context, u64 level) {
    const std::vector<double> &factors = context.getScaleFactors().getFactors();
    if (level >= factors.size() || factors[level] == 0.0)
        throw RuntimeException(kInvalidScaleFactorMessage);
    return factors[level];
}

RingCiphertext emptyLike(const RingCiphertext &ct) {
    return RingCiphertext(ct.getContext(), false, true);
}

// out = 2 in^2 - 1: the Chebyshev doubling T_2k = 2 T_k^2 - 1, one level.
void chebyshevDouble(const HomEvaluatorImpl &eval, const RingCiphertext &in, RingCiphertext &out) {
    eval.products().square(in, out);
    eval.constants().multInteger(out, 2, out);
    eval.sub(out, Complex(1.0), out);
}

// out = a b, rescaled (operands at one level).
void multRescale(const HomEvaluatorImpl &eval, const RingCiphertext &a, const RingCiphertext &b,
                 RingCiphertext &out) {
    eval.products().mult(a, b, out);
}

void multRescale(const HomEvaluatorImpl &eval, const RingCiphertext &a, double c,
                 RingCiphertext &out) {
    eval.constants().multWithoutRescale(a, Complex(c), out);
    eval.levels().rescale(out);
}

// The baby basis: T2 (one level below x), T4 (two), T2' = T2 one level
// down, T2'' two levels down, T4' one level down and T6 (three levels).
struct BabyBasis {
    RingCiphertext t2, t4, t2p, t2pp, t4p, t6;
};

BabyBasis babyBasis(const HomEvaluatorImpl &eval, const RingCiphertext &x, bool with_t6) {
    BabyBasis b{emptyLike(x), emptyLike(x), emptyLike(x), emptyLike(x), emptyLike(x), emptyLike(x)};
    chebyshevDouble(eval, x, b.t2);
    chebyshevDouble(eval, b.t2, b.t4);
    eval.levels().levelDownOne(b.t2, b.t2p);
    if (!with_t6)
        return b;
    eval.levels().levelDownOne(b.t2p, b.t2pp);
    eval.levels().levelDownOne(b.t4, b.t4p);
    // T6 = 2 T2 T4 - T2.
    eval.products().multWithoutRescale(b.t2p, b.t4, b.t6);
    eval.levels().rescale(b.t6);
    eval.constants().multInteger(b.t6, 2, b.t6);
    eval.sub(b.t6, b.t2pp, b.t6);
    return b;
}

// out += p x c (constant product without rescale).
void addScaled(const HomEvaluatorImpl &eval, const RingCiphertext &p, double c, RingCiphertext &out,
               RingCiphertext &scratch) {
    eval.constants().multWithoutRescale(p, Complex(c), scratch);
    eval.add(out, scratch, out);
}

// A block c0 + c1 T2 + c2 T4 + c3 T6 from the levelled-down basis, four
// levels below x.
void innerBlock(const HomEvaluatorImpl &eval, const BabyBasis &b, const double *c,
                RingCiphertext &out, RingCiphertext &scratch) {
    eval.constants().multWithoutRescale(b.t2pp, Complex(c[1]), out);
    addScaled(eval, b.t4p, c[2], out, scratch);
    addScaled(eval, b.t6, c[3], out, scratch);
    eval.levels().rescale(out);
    eval.add(out, Complex(c[0]), out);
}

// The last block, with T6 = (2 T4 - 1) T2 taken as one ciphertext product of
// (2 T4 - 1) and c3 T2: three levels below x.
void lastBlock(const HomEvaluatorImpl &eval, const BabyBasis &b, const double *c,
               RingCiphertext &out, RingCiphertext &scratch) {
    // v = c3 T2 in out, 2 T4 - 1 in scratch.
    multRescale(eval, b.t2, c[3], out);
    eval.constants().multInteger(b.t4, 2, scratch);
    eval.sub(scratch, Complex(1.0), scratch);
    eval.products().multWithoutRescale(scratch, out, out);
    addScaled(eval, b.t2p, c[1], out, scratch);
    addScaled(eval, b.t4, c[2], out, scratch);
    eval.levels().rescale(out);
    eval.add(out, Complex(c[0]), out);
}

// x += tensor(a, b), x holding an unrelinearised sum.
void addTensor(const HomEvaluatorImpl &eval, const RingCiphertext &a, const RingCiphertext &b,
               RingCiphertext &x, RingCiphertext &scratch) {
    eval.products().tensor(a, b, scratch);
    eval.add(x, scratch, x);
}

// out = relinearize(x), rescaled.
void relinearizeRescale(const HomEvaluatorImpl &eval, const RingCiphertext &x,
                        RingCiphertext &out) {
    eval.products().relinearizeRescale(x, out);
}

// The storage of an unrelinearised sum of products and of one product, kept
// for every sum of one cosine evaluation.
struct TensorSum {
    RingCiphertext x, scratch;
};

// m = 2 on the blocks B[b] .. B[b+3]: B[b] + B[b+1] G0 + (B[b+2] + B[b+3] G0)
// G1, the two products summed before one relinearisation. G[0] ends one
// level down.
void combineFour(const HomEvaluatorImpl &eval, std::vector<RingCiphertext> &B, u64 b,
                 std::vector<RingCiphertext> &G, TensorSum &sum, RingCiphertext &out) {
    RingCiphertext &x = sum.x;
    RingCiphertext &scratch = sum.scratch;
    multRescale(eval, B[b + 3], G[0], B[b + 3]);
    eval.levels().levelDownOne(G[0], G[0]);
    eval.products().tensor(B[b + 1], G[0], x);
    eval.add(B[b + 2], B[b + 3], B[b + 2]);
    addTensor(eval, B[b + 2], G[1], x, scratch);
    relinearizeRescale(eval, x, B[b + 2]);
    eval.levels().levelDownOne(B[b], B[b]);
    eval.add(B[b], B[b + 2], out);
}

// m = 3: the upper half B4 + B5 G0 + (B6 + B7 G0) G1 as for m = 2, then the
// lower half and the upper half times G2 in one sum of three products.
void combineEight(const HomEvaluatorImpl &eval, std::vector<RingCiphertext> &B,
                  std::vector<RingCiphertext> &G, TensorSum &sum, RingCiphertext &out) {
    combineFour(eval, B, 4, G, sum, B[4]);
    RingCiphertext &x = sum.x;
    RingCiphertext &scratch = sum.scratch;
    multRescale(eval, B[3], G[0], B[3]);
    eval.levels().levelDownOne(B[1], B[1]);
    eval.levels().levelDownOne(G[0], G[0]);
    eval.products().tensor(B[1], G[0], x);
    eval.levels().levelDownOne(B[2], B[2]);
    eval.add(B[2], B[3], B[2]);
    eval.levels().levelDownOne(G[1], G[1]);
    addTensor(eval, B[2], G[1], x, scratch);
    addTensor(eval, G[2], B[4], x, scratch);
    relinearizeRescale(eval, x, B[1]);
    eval.levels().levelDown(B[0], B[1].getLevel(), B[0]);
    eval.add(B[0], B[1], out);
}

// m >= 4: pass k folds every pair (B[j], B[j + 2^k]) into B[j] + B[j + 2^k]
// G[k]. The highest pair's upper block is one level higher than the others,
// so it is multiplied and rescaled on its own; the lower pairs take G[k] one
// level down and B[j] times 1.0, so that both products share one rescale.
void combineInPasses(const HomEvaluatorImpl &eval, u64 m, std::vector<RingCiphertext> &B,
                     std::vector<RingCiphertext> &G, RingCiphertext &out) {
    const u64 blocks = u64{1} << m;
    for (u64 k = 0; k < m; ++k) {
        const u64 h = u64{1} << k;
        const u64 top = blocks - 2 * h;
        multRescale(eval, B[top + h], G[k], B[top + h]);
        eval.add(B[top], B[top + h], B[top]);
        if (top == 0)
            continue;
        eval.levels().levelDownOne(G[k], G[k]);
        for (u64 j = 0; j < top; j += 2 * h) {
            eval.products().multWithoutRescale(B[j + h], G[k], B[j + h]);
            eval.constants().multWithoutRescale(B[j], Complex(1.0), B[j]);
            eval.add(B[j], B[j + h], B[j]);
            eval.levels().rescale(B[j]);
        }
    }
    out = std::move(B[0]);
}

} // namespace

ModReductionOptions ModReductionOptions::fromContext(const std::shared_ptr<ContextContent> &context,
                                                     bool use_multiply_const_before_s2c) {
    ModReductionOptions options;
    options.coeff_boot = isCoeffBoot(context);
    options.re_remove_i = isReRemoveI(context);
    options.full_packed_base_modulus = isFullPackedBaseModulus(context);
    options.automatic_gap_resolve = isAutomaticGapResolve(context);
    options.fva = getParameterPreset(context) == ParameterPreset::FVa;
    options.use_multiply_const_before_s2c = use_multiply_const_before_s2c;
    return options;
}

double rootOfAmplitude(double a, u64 r) {
    double s = std::fabs(a);
    // Square roots reach a fixed point (0, 1 or infinity) after some sixty
    // steps; a larger r changes nothing more.
    for (u64 i = 0; i < r; ++i) {
        const double next = std::sqrt(s);
        if (next == s)
            break;
        s = next;
    }
    return s;
}

u64 doubleAngleCorrectionLevel(const ModReductionEnv &env) {
    return (env.options.coeff_boot ? 3 : 0) + (env.options.re_remove_i ? 1 : 0) +
           getEncryptionLevel(env.context) + 1;
}

RemoveIConstants removeIConstants(const ModReductionEnv &env, double scale) {
    const ContextContent &context = *env.context;
    const BootParameter &param = env.param;
    const ModReductionOptions &options = env.options;
    requireFinite(scale, kRemoveINonFinite);
    const double q0 = static_cast<double>(context.getPrimeModuli().getModulus(0).getPrime());

    RemoveIConstants out;
    if (param.scale_before_remove_i) {
        const double e = scaleFactorAt(context, getLength(env.context) - 1);
        out.pre_scale = std::pow(2.0, e) / q0 /
                        (2.0 * param.range_k * static_cast<double>(param.mult_before_c2s));
        requireFinite(out.pre_scale, kRemoveINonFinite);
    }
    out.shift = 0.25 / param.range_k;
    requireFinite(out.shift, kRemoveINonFinite);

    const double p0 = scaleFactorAt(context, 0);
    double d = -p0;
    if (!options.fva) {
        const u64 index = (options.coeff_boot ? 3 : 0) + getEncryptionLevel(env.context) +
                          (options.re_remove_i ? 1 : 0) + 1;
        d += static_cast<double>(context.getScaleFactors().getCorrection(index));
    }
    out.A = options.automatic_gap_resolve
                ? 1.0
                : q0 * std::pow(2.0, d) / static_cast<double>(param.mult_before_s2c);
    out.A *= scale;
    out.a = options.full_packed_base_modulus ? out.A : out.A / kTwoPi;
    if (options.full_packed_base_modulus && !options.use_multiply_const_before_s2c)
        out.a /= static_cast<double>(param.mult_before_s2c);
    requireFinite(out.A, kRemoveINonFinite);
    requireFinite(out.a, kRemoveINonFinite);
    return out;
}

u64 removeILevelCost(const BootParameter &param) {
    const u64 arcsine = param.arcsine_degree == 3 ? 2 : param.arcsine_degree == 7 ? 3 : 0;
    return (param.scale_before_remove_i ? 1 : 0) + param.cosine_log_blocks + 3 +
           param.num_double_angle + arcsine;
}

void removeI(const ModReductionEnv &env, const RingCiphertext &in, RingCiphertext &out,
             double scale) {
    const RemoveIConstants k = removeIConstants(env, scale);
    const u64 cost = removeILevelCost(env.param);
    if (in.getLevel() < cost)
        throw RuntimeException(std::string(kRemoveILevelPrefix) + std::to_string(in.getLevel()) +
                               kRemoveILevelMiddle + std::to_string(cost) + " levels");
    const HomEvaluatorImpl &eval = env.eval;
    const u64 r = env.param.num_double_angle;
    // Built in a ciphertext of its own and handed to out at the end, so that
    // out (which may be in) is left as it was when a step throws.
    RingCiphertext t = emptyLike(in);
    if (env.param.scale_before_remove_i) {
        multRescale(eval, in, k.pre_scale, t);
        eval.sub(t, Complex(k.shift), t);
    } else {
        eval.sub(in, Complex(k.shift), t);
    }
    cosineApproxWithoutDoubleAngleFormula(env, t, t, k.a, r);
    doubleAngleFormula(env, t, t, k.a, r);
    arcsineApprox(env, t, t, env.param.arcsine_degree, k.A / kTwoPi);
    out = std::move(t);
}

void cosineApproxWithoutDoubleAngleFormula(const ModReductionEnv &env, const RingCiphertext &x,
                                           RingCiphertext &out, double a, u64 r) {
    requireFinite(a, kCosineNonFinite);
    const double s = env.param.arcsine_degree == 1 ? rootOfAmplitude(a, r) : 1.0;
    evaluateCosinePolynomial(env.eval, env.param.cosine_coeffs, env.param.cosine_log_blocks, s, x,
                             out);
}

void evaluateCosinePolynomial(const HomEvaluatorImpl &eval, const std::vector<double> &c, u64 m,
                              double s, const RingCiphertext &x, RingCiphertext &out) {
    // 2^m blocks of four: an m of 32 or more cannot name a list in memory.
    if (m >= 32 || c.size() != (u64{4} << m))
        throw RuntimeException(kCosineCoefficientCount);
    requireFinite(s, kCosineNonFinite);
    std::vector<double> sc(c.size());
    for (std::size_t i = 0; i < c.size(); ++i) {
        sc[i] = s * c[i];
        requireFinite(sc[i], kCosineNonFinite);
    }

    const u64 blocks = u64{1} << m;
    std::vector<RingCiphertext> B;
    std::vector<RingCiphertext> G;
    RingCiphertext scratch = emptyLike(x);
    {
        // The baby basis lives only until the blocks and T8 are made.
        const BabyBasis basis = babyBasis(eval, x, blocks > 1);
        B.reserve(blocks);
        for (u64 j = 0; j < blocks; ++j) {
            B.push_back(emptyLike(x));
            if (j + 1 < blocks)
                innerBlock(eval, basis, &sc[4 * j], B[j], scratch);
            else
                lastBlock(eval, basis, &sc[4 * j], B[j], scratch);
        }
        // G[0] = T8, G[k] = T_(8 2^k).
        G.reserve(m);
        for (u64 k = 0; k < m; ++k) {
            G.push_back(emptyLike(x));
            chebyshevDouble(eval, k == 0 ? basis.t4 : G[k - 1], G[k]);
        }
    }

    // The block scratch serves the products of the sums.
    TensorSum sum{emptyLike(x), std::move(scratch)};
    switch (m) {
    case 0:
        out = std::move(B[0]);
        break;
    case 1:
        multRescale(eval, B[1], G[0], B[1]);
        eval.add(B[1], B[0], out);
        break;
    case 2:
        combineFour(eval, B, 0, G, sum, out);
        break;
    case 3:
        combineEight(eval, B, G, sum, out);
        break;
    default:
        combineInPasses(eval, m, B, G, out);
        break;
    }
}

void doubleAngleFormula(const ModReductionEnv &env, const RingCiphertext &in, RingCiphertext &out,
                        double a, u64 r) {
    requireFinite(a, kDoubleAngleNonFinite);
    const HomEvaluatorImpl &eval = env.eval;
    const u64 lg = doubleAngleCorrectionLevel(env);
    const bool plain_sine = env.param.arcsine_degree == 1;
    const double correction =
        std::pow(2.0, -static_cast<double>(env.context->getScaleFactors().getCorrection(lg)));
    if (&out != &in)
        out = in;
    double v = 1.0;
    if (plain_sine) {
        if (r == 0) {
            if (a < 0)
                eval.negate(out, out);
            return;
        }
        v = rootOfAmplitude(a, r);
    } else if (r == 0) {
        return;
    }
    for (u64 i = 0; i < r; ++i) {
        const bool at_lg = out.getLevel() == lg;
        eval.products().multWithoutRescale(out, out, out);
        eval.constants().multInteger(out, 2, out);
        eval.levels().rescale(out);
        if (at_lg) {
            // Rescaling from level Lg scales the value by 2^-I[Lg]; the
            // subtrahend follows, v stays.
            eval.sub(out, Complex(v * v * correction), out);
        } else {
            v *= v;
            eval.sub(out, Complex(v), out);
        }
    }
    if (a < 0 && plain_sine)
        eval.negate(out, out);
}

void arcsineApprox(const ModReductionEnv &env, const RingCiphertext &in, RingCiphertext &out,
                   u64 degree, double a) {
    requireFinite(a, kArcsineNonFinite);
    const HomEvaluatorImpl &eval = env.eval;
    if (degree == 3) {
        // (a / 6) x (x^2 + 6).
        RingCiphertext u = emptyLike(in);
        eval.products().mult(in, in, u);
        eval.add(u, Complex(6.0), u);
        RingCiphertext w = emptyLike(in);
        multRescale(eval, in, a / 6.0, w);
        eval.products().mult(w, u, out);
    } else if (degree == 7) {
        // (5a / 112) x (x^2 + c) (x^4 + b x^2 + d).
        RingCiphertext s = emptyLike(in);
        eval.products().mult(in, in, s);
        RingCiphertext q = emptyLike(in);
        RingCiphertext scratch = emptyLike(in);
        eval.products().multWithoutRescale(s, s, q);
        eval.constants().multWithoutRescale(s, Complex(kArcsineB), scratch);
        eval.add(q, scratch, q);
        eval.levels().rescale(q);
        eval.add(q, Complex(kArcsineD), q);
        eval.add(s, Complex(kArcsineC), s);
        RingCiphertext p = emptyLike(in);
        multRescale(eval, in, 5.0 * a / 112.0, p);
        eval.products().mult(p, s, s);
        eval.products().mult(s, q, out);
    } else if (&out != &in) {
        out = in;
    }
}

void cosineApprox(const ModReductionEnv &env, const RingCiphertext &in, RingCiphertext &out,
                  double a) {
    const u64 r = env.param.num_double_angle;
    cosineApproxWithoutDoubleAngleFormula(env, in, out, a, r);
    doubleAngleFormula(env, out, out, a, r);
}

void evaluateExponential(const ModReductionEnv &env, const RingCiphertext &in, RingCiphertext &out,
                         double a) {
    requireFinite(a, kExponentialNonFinite);
    const ContextContent &context = *env.context;
    const u64 gap = getGapLevel(env.context);
    double d = 0.0;
    if (gap != 0)
        d = scaleFactorAt(context, gap + 1) - scaleFactorAt(context, gap);
    const u64 r = env.param.num_double_angle;
    const double shift = 0.25 * std::pow(2.0, static_cast<double>(r)) / env.param.range_k;
    const double amplitude = a / std::pow(2.0, d);
    requireFinite(shift, kExponentialNonFinite);
    requireFinite(amplitude, kExponentialNonFinite);

    const HomEvaluatorImpl &eval = env.eval;
    RingCiphertext t = emptyLike(in);
    eval.sub(in, Complex(shift), t);
    RingCiphertext c = emptyLike(in);
    cosineApproxWithoutDoubleAngleFormula(env, in, c, amplitude, r);
    cosineApproxWithoutDoubleAngleFormula(env, t, out, amplitude, r);
    eval.constants().multImagUnit(out, out);
    eval.add(out, c, out);
    for (u64 i = 0; i < r; ++i)
        eval.products().mult(out, out, out);
}

} // namespace Quelt
