// The products of ciphertexts with integers, the imaginary unit, complex
// constants, messages and plaintexts.

#include "eval/ConstantEvaluator.hpp"

#include "Quelt/EnDecoder.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PrimeModuli.hpp"
#include "client/ConstantEnDecoder.hpp"
#include "context/CiphertextImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "eval/EvaluatorDetail.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/LevelEvaluator.hpp"
#include "eval/Precondition.hpp"

#include <cmath>
#include <optional>

namespace Quelt {

using i64 = std::int64_t;
using Complex = ConstantEvaluator::Complex;
using detail::forEachPoly;
using detail::prepareOutput;

namespace {

// A constant within this distance of a Gaussian integer (on each part) is
// multiplied as that integer: exactly, without using a level.
constexpr double kIntegerTolerance = 1e-8;
// 2^63: rounded parts must lie in [-2^63, 2^63) to be held as i64.
constexpr double kTwoTo63 = 9223372036854775808.0;

// Complex constants are products in the NTT slots: refused for polynomials
// in coefficient form before anything is written.
template <EncryptionType ET>
void throwIfNotNTT(const CiphertextBase<ET> &ct) {
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        if (!ct.getPoly(i).isNTT())
            throw RuntimeException(PrimeModuli::kNotNTTMessage);
}

// The constant encoder's refusal of a part that is NaN or infinite, raised
// before anything is decided on the value.
void refuseNonFinite(const PrimeModuli &chain, const std::complex<double> &c) {
    for (const double part : {c.real(), c.imag()})
        if (!std::isfinite(part))
            (void)chain.getModulus(0).makeInteger(part, 0.0);
}

} // namespace

ConstantEvaluator::ConstantEvaluator(const HomEvaluatorImpl &eval) : eval_(eval) {}

template <EncryptionType ET>
void ConstantEvaluator::multConstant(const CiphertextBase<ET> &ct, const LevelledElement &re,
                                     const LevelledElement *im, CiphertextBase<ET> &out) const {
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    prepareOutput(ct, out, ct.getNumPoly(), &out == &ct);
    if (im)
        forEachPoly(
            ct, out,
            [&](const Polynomial &a, const Polynomial &b, Polynomial &oa, Polynomial &ob) {
                chain.constMultTwo(a, b, re, *im, oa, ob);
            },
            [&](const Polynomial &a, Polynomial &oa) { chain.constMult(a, re, *im, oa); });
    else
        forEachPoly(
            ct, out,
            [&](const Polynomial &a, const Polynomial &b, Polynomial &oa, Polynomial &ob) {
                chain.constMultTwo(a, b, re, oa, ob);
            },
            [&](const Polynomial &a, Polynomial &oa) { chain.constMult(a, re, oa); });
}

template <EncryptionType ET>
void ConstantEvaluator::multWord(const CiphertextBase<ET> &ct, u64 k,
                                 CiphertextBase<ET> &out) const {
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    prepareOutput(ct, out, ct.getNumPoly(), &out == &ct);
    forEachPoly(
        ct, out,
        [&](const Polynomial &a, const Polynomial &b, Polynomial &oa, Polynomial &ob) {
            chain.constMultTwo(a, b, k, oa, ob);
        },
        [&](const Polynomial &a, Polynomial &oa) { chain.constMult(a, k, oa); });
}

template <EncryptionType ET>
void ConstantEvaluator::multInteger(const CiphertextBase<ET> &ct, i64 k,
                                    CiphertextBase<ET> &out) const {
    utils::requireContext(*eval_.getContext(), ct, "multInteger", "ciphertext");
    if (k == 1) {
        if (&out != &ct)
            out = ct;
        return;
    }
    if (k == -1) {
        const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
        prepareOutput(ct, out, ct.getNumPoly(), &out == &ct);
        for (u64 i = 0; i < ct.getNumPoly(); ++i)
            chain.negate(ct.getPoly(i), out.getPoly(i));
    } else if (k < -1) {
        const LevelledElement residues(k, eval_.getContext(), ct.isModUp(), ct.getLevel());
        multConstant(ct, residues, nullptr, out);
    } else {
        multWord(ct, static_cast<u64>(k), out);
    }
    utils::copyMetaData(ct, out);
}

template <EncryptionType ET>
void ConstantEvaluator::multImagUnit(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*eval_.getContext(), ct, "multImagUnit", "ciphertext");
    throwIfNotNTT(ct);
    const u64 level = ct.getLevel();
    const LevelledElement re(0, eval_.getContext(), ct.isModUp(), level);
    const LevelledElement im(1, eval_.getContext(), ct.isModUp(), level);
    multConstant(ct, re, &im, out);
    utils::copyMetaData(ct, out);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void ConstantEvaluator::mult(const CiphertextBase<ET> &ct,
                                                                    const Complex &c,
                                                                    CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*eval_.getContext(), ct, "mult", "ciphertext");
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCounterNotZero);
    refuseNonFinite(eval_.getContext()->getPrimeModuli(), c);
    // std::round takes halves away from zero.
    const double re = std::round(c.real());
    const double im = std::round(c.imag());
    if (std::fabs(c.real() - re) > kIntegerTolerance ||
        std::fabs(c.imag() - im) > kIntegerTolerance) {
        if (ct.getLevel() == 0)
            throw RuntimeException(kLevelZero);
        multWithoutRescale(ct, c, out);
        eval_.levels().rescaleChecked(out);
        return;
    }
    // A Gaussian integer R + iI: exact, at the same level and counter.
    for (const double part : {re, im})
        if (!(part >= -kTwoTo63 && part < kTwoTo63))
            throw RuntimeException(kConstantOutOfLongRange);
    const auto real = static_cast<i64>(re);
    const auto imag = static_cast<i64>(im);
    if (imag == 0) {
        multInteger(ct, real, out);
        return;
    }
    // R x + I (i x) modulo each prime is the product with the residue of
    // R + I i, i the NTT image of X^(N/2): one pass, and the same words as
    // the integer products, the imaginary unit and the sum taken apart.
    throwIfNotNTT(ct);
    const LevelledElement real_residues(real, eval_.getContext(), ct.isModUp(), ct.getLevel());
    const LevelledElement imag_residues(imag, eval_.getContext(), ct.isModUp(), ct.getLevel());
    multConstant(ct, real_residues, &imag_residues, out);
    utils::copyMetaData(ct, out);
}

template <EncryptionType ET>
void ConstantEvaluator::multWithoutRescale(const CiphertextBase<ET> &ct, const Complex &c,
                                           CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*eval_.getContext(), ct, "multWithoutRescale", "ciphertext");
    const u64 level = ct.getLevel();
    if (level == 0)
        throw RuntimeException(kLevelZero);
    const int counter = ct.getRescaleCounter() + 1;
    CiphertextImpl<ET>::checkRescaleCounter(counter, level);
    const ConstantEnDecoder encoder(eval_.getContext());
    const LevelledElement re = encoder.encodeConst(c.real(), level, 0);
    std::optional<LevelledElement> im;
    if (c.imag() != 0.0) {
        im = encoder.encodeConst(c.imag(), level, 0);
        throwIfNotNTT(ct);
    }
    multConstant(ct, re, im ? &*im : nullptr, out);
    utils::copyMetaData(ct, out);
    out.setRescaleCounter(counter);
}

template <EncryptionType ET>
void ConstantEvaluator::multWithoutRescale(const CiphertextBase<ET> &ct, const Plaintext &ptxt,
                                           CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireNTTOperand(*eval_.getContext(), ct, "multWithoutRescale", "ciphertext");
    utils::requireNTTOperand(*eval_.getContext(), ptxt, "multWithoutRescale", "plaintext");
    if (ct.getRescaleCounter() != 0 || ptxt.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCountersNotZero);
    utils::checkPrecondition(ct, ptxt);
    // The product carries the plaintext's scale, that of its level, and
    // takes the lower level; the counter it sets stands for the scale of the
    // ciphertext's level.
    utils::requirePlaintextScale(*eval_.getContext(), ptxt, ct.getLevel(), kPlaintextBelow,
                                 kPlaintextOtherScale);
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    const Polynomial &mx = ptxt.getMx();
    prepareOutput(ct, out, ct.getNumPoly(), &out == &ct);
    forEachPoly(
        ct, out,
        [&](const Polynomial &a, const Polynomial &b, Polynomial &oa, Polynomial &ob) {
            chain.hadamardMultTwo(a, b, mx, oa, ob);
        },
        [&](const Polynomial &a, Polynomial &oa) { chain.hadamardMult(a, mx, oa); });
    utils::copyMetaData(ct, out);
    out.setRescaleCounter(1);
}

template <EncryptionType ET>
void ConstantEvaluator::mult(const CiphertextBase<ET> &ct, const Plaintext &ptxt,
                             CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireNTTOperand(*eval_.getContext(), ct, "mult", "ciphertext");
    utils::requireNTTOperand(*eval_.getContext(), ptxt, "mult", "plaintext");
    if (ct.getLevel() == 0 || ptxt.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (ct.getRescaleCounter() != 0 || ptxt.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCountersNotZero);
    const std::optional<Plaintext> reencoded =
        detail::reencodeIfLevelDiffers(eval_.getContext(), ptxt, ct.getLevel(), 0);
    multWithoutRescale(ct, reencoded ? *reencoded : ptxt, out);
    eval_.levels().rescaleChecked(out);
}

template <EncryptionType ET>
void ConstantEvaluator::mult(const CiphertextBase<ET> &ct, const Message &msg,
                             CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireNTTOperand(*eval_.getContext(), ct, "mult", "ciphertext");
    if (ct.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCounterNotZero);
    const Plaintext ptxt = EnDecoder(eval_.getContext()).encode(msg, ct.getLevel(), 0);
    multWithoutRescale(ct, ptxt, out);
    eval_.levels().rescaleChecked(out);
}

// ---- Instantiations -------------------------------------------------------------

#define QUELT_CONSTANT_ALL_TYPES(ET)                                                               \
    template void ConstantEvaluator::multInteger(const CiphertextBase<ET> &, i64,                  \
                                                 CiphertextBase<ET> &) const;                      \
    template void ConstantEvaluator::multImagUnit(const CiphertextBase<ET> &,                      \
                                                  CiphertextBase<ET> &) const;                     \
    template void ConstantEvaluator::mult(const CiphertextBase<ET> &, const Message &,             \
                                          CiphertextBase<ET> &) const;                             \
    template void ConstantEvaluator::mult(const CiphertextBase<ET> &, const Plaintext &,           \
                                          CiphertextBase<ET> &) const;                             \
    template void ConstantEvaluator::multWithoutRescale(                                           \
        const CiphertextBase<ET> &, const Complex &, CiphertextBase<ET> &) const;                  \
    template void ConstantEvaluator::multWithoutRescale(                                           \
        const CiphertextBase<ET> &, const Plaintext &, CiphertextBase<ET> &) const;                \
    template void ConstantEvaluator::multConstant(                                                 \
        const CiphertextBase<ET> &, const LevelledElement &, const LevelledElement *,              \
        CiphertextBase<ET> &) const;

#define QUELT_CONSTANT_SINGLE_SECRET(ET)                                                           \
    template void ConstantEvaluator::mult(const CiphertextBase<ET> &, const Complex &,             \
                                          CiphertextBase<ET> &) const;

QUELT_CONSTANT_ALL_TYPES(EncryptionType::MLWE)
QUELT_CONSTANT_ALL_TYPES(EncryptionType::RLWE)
QUELT_CONSTANT_ALL_TYPES(EncryptionType::MSRLWE)
QUELT_CONSTANT_SINGLE_SECRET(EncryptionType::MLWE)
QUELT_CONSTANT_SINGLE_SECRET(EncryptionType::RLWE)

#undef QUELT_CONSTANT_ALL_TYPES
#undef QUELT_CONSTANT_SINGLE_SECRET

} // namespace Quelt
