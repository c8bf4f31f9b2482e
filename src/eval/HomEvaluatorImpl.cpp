// Construction, negation, addition and subtraction of the evaluator.

#include "eval/HomEvaluatorImpl.hpp"

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
#include "eval/KeySwitcher.hpp"
#include "eval/Precondition.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace Quelt {

using detail::prepareOutput;

namespace {

// The operand checks of a sum of two ciphertexts: both over the evaluator's
// context, b in a's form (the prime-wise sum is the sum in either form, not
// across them).
template <EncryptionType ET>
void checkSumOperands(const ContextContent &context, const CiphertextBase<ET> &a,
                      const CiphertextBase<ET> &b, const char *function) {
    utils::requireContext(context, a, function, "first ciphertext");
    utils::requireContext(context, b, function, "second ciphertext");
    utils::requireSameForm(utils::formOf(a), utils::formOf(b), function, "first ciphertext",
                           "second ciphertext");
}

} // namespace

// ---- Construction ------------------------------------------------------------

HomEvaluatorImpl::HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context)
    : HomEvaluatorImpl(context, KeyPack(context)) {}

HomEvaluatorImpl::HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context,
                                   const std::string &keyDirPath)
    : HomEvaluatorImpl(context, KeyPack(context, keyDirPath)) {}

HomEvaluatorImpl::HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context, KeyPack keyPack)
    : context_(context), key_pack_(std::move(keyPack)),
      key_switcher_(std::make_shared<KeySwitcher>(context)), plain_(context) {
    key_pack_.loadMultKey();
}

// ---- Negation, addition and subtraction ----------------------------------------

template <EncryptionType ET>
requires(ET !=
         EncryptionType::MSRLWE) void HomEvaluatorImpl::negate(const CiphertextBase<ET> &ct,
                                                               CiphertextBase<ET> &out) const {
    utils::requireContext(*context_, ct, "negate", "ciphertext");
    const PrimeModuli &chain = context_->getPrimeModuli();
    prepareOutput(ct, out, ct.getNumPoly(), &out == &ct);
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        chain.negate(ct.getPoly(i), out.getPoly(i));
    utils::copyMetaData(ct, out);
}

template <EncryptionType ET>
void HomEvaluatorImpl::add(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
                           CiphertextBase<ET> &out) const {
    checkSumOperands(*context_, a, b, "add");
    addOrSub(a, b, out, false);
}

template <EncryptionType ET>
void HomEvaluatorImpl::sub(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
                           CiphertextBase<ET> &out) const {
    if (a.getEncodingType() == EncodingType::COEFFICIENT ||
        b.getEncodingType() == EncodingType::COEFFICIENT)
        throw RuntimeException(kOperandsCoeffEncoded);
    checkSumOperands(*context_, a, b, "sub");
    addOrSub(a, b, out, true);
}

template <EncryptionType ET>
void HomEvaluatorImpl::addOrSub(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
                                CiphertextBase<ET> &out, bool subtract) const {
    const u64 level_a = a.getLevel();
    const u64 level_b = b.getLevel();
    if (level_a == level_b) {
        addOrSubWithoutCheck(a, b, out, subtract);
        return;
    }
    if (a.isModUp() || b.isModUp())
        throw RuntimeException(subtract ? kSubDifferentLevelModUp : kAddDifferentLevelModUp);
    // The operand at the higher level comes down into a temporary; the
    // operands keep the caller's order.
    const bool a_higher = level_a > level_b;
    const CiphertextBase<ET> &higher = a_higher ? a : b;
    CiphertextBase<ET> lowered(higher.getContext(), false, true);
    levels_.levelDown(higher, std::min(level_a, level_b), lowered);
    if (a_higher)
        addOrSubWithoutCheck(lowered, b, out, subtract);
    else
        addOrSubWithoutCheck(a, lowered, out, subtract);
}

template <EncryptionType ET>
void HomEvaluatorImpl::addWithoutCheck(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
                                       CiphertextBase<ET> &out) const {
    addOrSubWithoutCheck(a, b, out, false);
}

template <EncryptionType ET>
void HomEvaluatorImpl::subWithoutCheck(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
                                       CiphertextBase<ET> &out) const {
    addOrSubWithoutCheck(a, b, out, true);
}

template <EncryptionType ET>
void HomEvaluatorImpl::addOrSubWithoutCheck(const CiphertextBase<ET> &a,
                                            const CiphertextBase<ET> &b, CiphertextBase<ET> &out,
                                            bool subtract) const {
    utils::checkPrecondition(a, b);
    if (a.isModUp() != b.isModUp())
        throw RuntimeException(PrimeModuli::kDifferentModUpMessage);
    const PrimeModuli &chain = context_->getPrimeModuli();
    const u64 n_a = a.getNumPoly();
    const u64 n_b = b.getNumPoly();
    const u64 common = std::min(n_a, n_b);
    const u64 level = std::min(a.getLevel(), b.getLevel());
    const bool tail_from_b = n_b > n_a;
    prepareOutput(a, out, std::max(n_a, n_b), &out == &a || &out == &b);
    for (u64 i = 0; i < common; ++i) {
        if (subtract)
            chain.sub(a.getPoly(i), b.getPoly(i), out.getPoly(i));
        else
            chain.add(a.getPoly(i), b.getPoly(i), out.getPoly(i));
    }
    // The polynomials only the longer operand has are copied (negated when
    // they come from b in a subtraction), at the level of the sums so that
    // the result's polynomials share one level.
    for (u64 i = common; i < out.getNumPoly(); ++i) {
        const Polynomial &source = tail_from_b ? b.getPoly(i) : a.getPoly(i);
        Polynomial &target = out.getPoly(i);
        if (subtract && tail_from_b)
            chain.negate(source, target);
        else if (&target != &source)
            target = source;
        if (target.getLevel() > level)
            target.setLevel(level);
    }
    utils::copyMetaData(a, out);
}

// ---- Plain data added to the body ------------------------------------------------

template <EncryptionType ET>
void HomEvaluatorImpl::addToBody(const CiphertextBase<ET> &ct, const Polynomial &p,
                                 CiphertextBase<ET> &out, bool subtract) const {
    const PrimeModuli &chain = context_->getPrimeModuli();
    const bool aliased = &out == &ct;
    prepareOutput(ct, out, ct.getNumPoly(), aliased);
    if (subtract)
        chain.sub(ct.getPoly(0), p, out.getPoly(0));
    else
        chain.add(ct.getPoly(0), p, out.getPoly(0));
    if (!aliased)
        for (u64 i = 1; i < ct.getNumPoly(); ++i)
            out.getPoly(i) = ct.getPoly(i);
    utils::copyMetaData(ct, out);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void HomEvaluatorImpl::add(const CiphertextBase<ET> &ct,
                                                                  const Complex &c,
                                                                  CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*context_, ct, "add", "ciphertext");
    const u64 level = ct.getLevel();
    const int counter = ct.getRescaleCounter();
    const ConstantEnDecoder encoder(context_);
    // The imaginary part only when it is not 0.0: a real constant is one
    // residue per prime.
    const LevelledElement re = encoder.encodeConst(c.real(), level, counter);
    std::optional<LevelledElement> im;
    if (c.imag() != 0.0)
        im = encoder.encodeConst(c.imag(), level, counter);
    const PrimeModuli &chain = context_->getPrimeModuli();
    const bool aliased = &out == &ct;
    prepareOutput(ct, out, ct.getNumPoly(), aliased);
    if (im)
        chain.constAdd(ct.getPoly(0), re, *im, out.getPoly(0));
    else
        chain.constAdd(ct.getPoly(0), re, out.getPoly(0));
    if (!aliased)
        for (u64 i = 1; i < ct.getNumPoly(); ++i)
            out.getPoly(i) = ct.getPoly(i);
    utils::copyMetaData(ct, out);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void HomEvaluatorImpl::sub(const CiphertextBase<ET> &ct,
                                                                  const Complex &c,
                                                                  CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireContext(*context_, ct, "sub", "ciphertext");
    add(ct, -c, out);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void HomEvaluatorImpl::add(const CiphertextBase<ET> &ct,
                                                                  const Message &msg,
                                                                  CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    // The message is encoded in NTT form.
    utils::requireNTTOperand(*context_, ct, "add", "ciphertext");
    utils::checkPrecondition(ct, msg);
    const Plaintext ptxt = EnDecoder(context_).encode(msg, ct.getLevel(), ct.getRescaleCounter());
    addToBody(ct, ptxt.getMx(), out, false);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void HomEvaluatorImpl::sub(const CiphertextBase<ET> &ct,
                                                                  const Message &msg,
                                                                  CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    utils::requireNTTOperand(*context_, ct, "sub", "ciphertext");
    utils::checkPrecondition(ct, msg);
    const Plaintext ptxt = EnDecoder(context_).encode(msg, ct.getLevel(), ct.getRescaleCounter());
    addToBody(ct, ptxt.getMx(), out, true);
}

template <EncryptionType ET>
void HomEvaluatorImpl::addPlaintext(const CiphertextBase<ET> &ct, const Plaintext &ptxt,
                                    CiphertextBase<ET> &out, bool subtract) const {
    const char *function = subtract ? "sub" : "add";
    utils::requireContext(*context_, ct, function, "ciphertext");
    utils::requireContext(*context_, ptxt, function, "plaintext");
    utils::requireSameForm(utils::formOf(ct), utils::formOf(ptxt), function, "ciphertext",
                           "plaintext");
    utils::checkPrecondition(ct, ptxt);
    const std::optional<Plaintext> reencoded =
        detail::reencodeIfLevelDiffers(context_, ptxt, ct.getLevel(), ct.getRescaleCounter());
    addToBody(ct, (reencoded ? *reencoded : ptxt).getMx(), out, subtract);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void HomEvaluatorImpl::add(const CiphertextBase<ET> &ct,
                                                                  const Plaintext &ptxt,
                                                                  CiphertextBase<ET> &out) const {
    utils::throwIfCoeff(ct);
    addPlaintext(ct, ptxt, out, false);
}

// Without the slot-encoding check: a coefficient-encoded ciphertext may lose
// a plaintext.
template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void HomEvaluatorImpl::sub(const CiphertextBase<ET> &ct,
                                                                  const Plaintext &ptxt,
                                                                  CiphertextBase<ET> &out) const {
    addPlaintext(ct, ptxt, out, true);
}

// ---- Instantiations -------------------------------------------------------------

#define QUELT_EVALUATOR_ALL_TYPES(ET)                                                              \
    template void HomEvaluatorImpl::add(const CiphertextBase<ET> &, const CiphertextBase<ET> &,    \
                                        CiphertextBase<ET> &) const;                               \
    template void HomEvaluatorImpl::sub(const CiphertextBase<ET> &, const CiphertextBase<ET> &,    \
                                        CiphertextBase<ET> &) const;                               \
    template void HomEvaluatorImpl::addWithoutCheck(                                               \
        const CiphertextBase<ET> &, const CiphertextBase<ET> &, CiphertextBase<ET> &) const;       \
    template void HomEvaluatorImpl::subWithoutCheck(                                               \
        const CiphertextBase<ET> &, const CiphertextBase<ET> &, CiphertextBase<ET> &) const;

#define QUELT_EVALUATOR_SINGLE_SECRET(ET)                                                          \
    template void HomEvaluatorImpl::negate(const CiphertextBase<ET> &, CiphertextBase<ET> &)       \
        const;                                                                                     \
    template void HomEvaluatorImpl::add(const CiphertextBase<ET> &, const Complex &,               \
                                        CiphertextBase<ET> &) const;                               \
    template void HomEvaluatorImpl::sub(const CiphertextBase<ET> &, const Complex &,               \
                                        CiphertextBase<ET> &) const;                               \
    template void HomEvaluatorImpl::add(const CiphertextBase<ET> &, const Message &,               \
                                        CiphertextBase<ET> &) const;                               \
    template void HomEvaluatorImpl::sub(const CiphertextBase<ET> &, const Message &,               \
                                        CiphertextBase<ET> &) const;                               \
    template void HomEvaluatorImpl::add(const CiphertextBase<ET> &, const Plaintext &,             \
                                        CiphertextBase<ET> &) const;                               \
    template void HomEvaluatorImpl::sub(const CiphertextBase<ET> &, const Plaintext &,             \
                                        CiphertextBase<ET> &) const;

QUELT_EVALUATOR_ALL_TYPES(EncryptionType::MLWE)
QUELT_EVALUATOR_ALL_TYPES(EncryptionType::RLWE)
QUELT_EVALUATOR_ALL_TYPES(EncryptionType::MSRLWE)
QUELT_EVALUATOR_SINGLE_SECRET(EncryptionType::MLWE)
QUELT_EVALUATOR_SINGLE_SECRET(EncryptionType::RLWE)

#undef QUELT_EVALUATOR_ALL_TYPES
#undef QUELT_EVALUATOR_SINGLE_SECRET

} // namespace Quelt
