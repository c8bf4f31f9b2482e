#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"

#include <cstdint>
#include <memory>
#include <vector>

// The modular reduction of bootstrapping: after CoeffToSlot every slot holds
// a small real number plus an unknown integer multiple of 1/K; removeI keeps
// the small part and drops the integer by a scaled cosine (a fixed polynomial
// in the Chebyshev basis), r double-angle steps and a short arcsine
// correction. evaluateExponential turns the same input into
// exp(2 pi i K x). Everything runs on the given evaluator over ring
// ciphertexts; each function takes what the bootstrapper holds explicitly.

namespace Quelt {

class ContextContent;
class HomEvaluatorImpl;
struct BootParameter;

// The switches of the modular reduction that are not part of the
// BootParameter: the context's bootstrapping flags and the bootstrapper's
// multiply-before-SlotToCoeff mode.
struct ModReductionOptions {
    // The message sits in the coefficients: the levels of the reduction's
    // output are three higher.
    bool coeff_boot = false;
    // One more level is kept above the encryption level.
    bool re_remove_i = false;
    // The output scale is A itself rather than A / 2 pi.
    bool full_packed_base_modulus = false;
    // The reduction's output already has the right scale: A = 1.
    bool automatic_gap_resolve = false;
    // Preset FVa: the scale exponent is -sf[0] alone.
    bool fva = false;
    // The bootstrapper multiplies by mult_before_s2c before SlotToCoeff.
    bool use_multiply_const_before_s2c = true;

    // The flags of `context` (its preset for fva) and the given mode.
    static ModReductionOptions fromContext(const std::shared_ptr<ContextContent> &context,
                                           bool use_multiply_const_before_s2c);
};

// What a modular reduction runs on: the evaluator, its context, the
// bootstrapping settings of that context and the options. The evaluator and
// the settings are the caller's and must outlive the calls. A bootstrapper
// passes {*eval, context, boot_param, ModReductionOptions::fromContext(
// context, use_multiply_const_before_S2C)}.
struct ModReductionEnv {
    const HomEvaluatorImpl &eval;
    std::shared_ptr<ContextContent> context;
    const BootParameter &param;
    ModReductionOptions options;
};

inline constexpr const char *kRemoveINonFinite =
    "[removeI] The scale and the constants derived from it must be finite";
inline constexpr const char *kRemoveILevelPrefix = "[removeI] The operand is at level ";
inline constexpr const char *kRemoveILevelMiddle = ", but the modular reduction uses ";
inline constexpr const char *kCosineNonFinite = "[cosineApprox] The constant a must be finite";
inline constexpr const char *kCosineCoefficientCount =
    "[cosineApprox] The coefficient list must hold four coefficients for each of the 2^m blocks";
inline constexpr const char *kDoubleAngleNonFinite =
    "[doubleAngleFormula] The constant a must be finite";
inline constexpr const char *kArcsineNonFinite = "[arcsineApprox] The constant a must be finite";
inline constexpr const char *kExponentialNonFinite =
    "[evaluateExponential] The constant a must be finite";

// The constants removeI derives from the context, the settings and `scale`.
struct RemoveIConstants {
    // The pre-scaling factor 2^sf[L-1] / q0 / (2K mult_before_c2s), or 0 when
    // scale_before_remove_i is not set.
    double pre_scale = 0.0;
    // The shift 0.25 / K that turns the cosine into a sine.
    double shift = 0.0;
    // A: the factor between the reduced value and the message.
    double A = 0.0;
    // a: the amplitude of the cosine and double-angle steps.
    double a = 0.0;
};

// Throws "[ScaleFactors] The scale factor for given level is not valid" for
// a missing factor at level L - 1 (with pre-scaling) or at level 0, and
// kRemoveINonFinite when `scale` or a derived constant is not finite.
RemoveIConstants removeIConstants(const ModReductionEnv &env, double scale);

// Level Lg, where the double-angle step meets the scale correction of the
// context: (3 with coefficient bootstrapping) + re_remove_i + encryption
// level + 1.
std::uint64_t doubleAngleCorrectionLevel(const ModReductionEnv &env);

// s = |a|^(1/2^r) by r successive square roots.
double rootOfAmplitude(double a, std::uint64_t r);

// out = the modular reduction of in: the slot value t = (I + e) / K becomes
// about A e (times 2^-I[Lg] when the double angle meets level Lg), the
// integer I removed. `scale` multiplies A. Uses the cosine's m + 3 levels,
// r double-angle levels, the arcsine's levels and one more with pre-scaling.
// Throws what removeIConstants throws, then "[removeI] The operand is at
// level <l>, but the modular reduction uses <n> levels" for an input below
// that cost, before anything runs; then the evaluator's messages, leaving out
// as it was.
// The levels removeI uses: the cosine's m + 3, r double-angle levels, the
// arcsine's (0, 2 or 3) and one more with pre-scaling.
std::uint64_t removeILevelCost(const BootParameter &param);

void removeI(const ModReductionEnv &env, const CiphertextBase<EncryptionType::RLWE> &in,
             CiphertextBase<EncryptionType::RLWE> &out, double scale);

// out = the block-form cosine polynomial of the settings in x, every
// coefficient times s = |a|^(1/2^r) when arcsine_degree is 1, else 1.0.
// m + 3 levels. Throws kCosineNonFinite for a non-finite a, then what
// evaluateCosinePolynomial throws.
void cosineApproxWithoutDoubleAngleFormula(const ModReductionEnv &env,
                                           const CiphertextBase<EncryptionType::RLWE> &x,
                                           CiphertextBase<EncryptionType::RLWE> &out, double a,
                                           std::uint64_t r);

// out = the sum over j < 2^m of s B_j(x) times the product of
// T_(8 2^k)(x) over the set bits k of j, where B_j = c[4j] + c[4j+1] T2 +
// c[4j+2] T4 + c[4j+3] T6: baby basis T2, T4, T6, giant basis T8, T16, ...,
// unrelinearised sums of products for m = 2 and 3. The output lies m + 3
// levels below x. Throws kCosineCoefficientCount unless c holds 4 x 2^m
// entries, kCosineNonFinite when s or one of the scaled coefficients is not
// finite; both before anything runs.
void evaluateCosinePolynomial(const HomEvaluatorImpl &eval, const std::vector<double> &c,
                              std::uint64_t m, double s,
                              const CiphertextBase<EncryptionType::RLWE> &x,
                              CiphertextBase<EncryptionType::RLWE> &out);

// r steps of out = 2 out^2 - v^2, the amplitude v following |a|^(1/2^r)
// (arcsine degree 1) or 1.0; at level Lg the step subtracts
// v^2 2^-I[Lg] instead and keeps v. With arcsine degree 1 a negative a
// negates the result (and r = 0 then only negates). Throws
// kDoubleAngleNonFinite for a non-finite a.
void doubleAngleFormula(const ModReductionEnv &env, const CiphertextBase<EncryptionType::RLWE> &in,
                        CiphertextBase<EncryptionType::RLWE> &out, double a, std::uint64_t r);

// out = a (x + x^3/6) (degree 3, two levels) or a (x + x^3/6 + 3x^5/40 +
// 5x^7/112) (degree 7, three levels); any other degree copies in. Throws
// kArcsineNonFinite for a non-finite a.
void arcsineApprox(const ModReductionEnv &env, const CiphertextBase<EncryptionType::RLWE> &in,
                   CiphertextBase<EncryptionType::RLWE> &out, std::uint64_t degree, double a);

// The cosine followed by the double-angle steps, r from the settings.
void cosineApprox(const ModReductionEnv &env, const CiphertextBase<EncryptionType::RLWE> &in,
                  CiphertextBase<EncryptionType::RLWE> &out, double a);

// out = about (a / 2^d) exp(2 pi i K x) for the slot value x, d the scale
// step at the gap level (0 without one): the cosine of x and of x shifted
// by a quarter period as real and imaginary part, then r squarings. Throws
// "[ScaleFactors] The scale factor for given level is not valid" for a
// missing factor around the gap level and kExponentialNonFinite for a
// non-finite constant, before anything runs.
void evaluateExponential(const ModReductionEnv &env, const CiphertextBase<EncryptionType::RLWE> &in,
                         CiphertextBase<EncryptionType::RLWE> &out, double a);

} // namespace Quelt
