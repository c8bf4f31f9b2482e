#include "eval/Precondition.hpp"

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "client/CryptoSupport.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"

#include <string>
#include <vector>

namespace Quelt::utils {

namespace {

// The checks the three forms share, in their order: log slots, then (when
// the second operand has one) the rescale counter, then the device.
template <EncryptionType ET>
void checkSlotsCounterDevice(const CiphertextBase<ET> &ct, std::uint64_t log_slots,
                             const int *counter, const Device &device) {
    if (ct.getLogSlots() != log_slots)
        throw RuntimeException(kDifferentLogSlotsMessage);
    if (counter && ct.getRescaleCounter() != *counter)
        throw RuntimeException(kDifferentRescaleCounterMessage);
    if (ct.getDevice() != device)
        throw RuntimeException(kDifferentDevicesMessage);
}

const char *formName(Form form) {
    switch (form) {
    case Form::NTT:
        return "NTT";
    case Form::COEFFICIENT:
        return "coefficient";
    default:
        return "mixed";
    }
}

Form formOfFlags(u64 ntt_count, u64 count) {
    if (ntt_count == count)
        return Form::NTT;
    return ntt_count == 0 ? Form::COEFFICIENT : Form::MIXED;
}

// The residues of p are over the context's ring and primes on every limb in
// use: limbs 0..level (with an array that holds them), and in mod-up form the
// temporary limbs of the context's chain.
bool fitsContext(const Polynomial &p, const ContextContent &context) {
    const u64 length = context.getParameter().chain_length;
    if (p.getLevel() >= length || !detail::coversRows(p, context, p.getLevel()))
        return false;
    if (!p.isModUp())
        return true;
    const PrimeModuli &chain = context.getPrimeModuli();
    if (p.getChainLength() != length || p.getSize() > chain.getNumPrimes() ||
        p.getPrimes().size() < p.getSize())
        return false;
    for (u64 i = length; i < p.getSize(); ++i)
        if (p.getPrimes()[i] != chain.getModulus(i).getPrime())
            return false;
    return true;
}

// The transforms of the limbs 0..level agree: the same residues mean another
// ring element under a conjugate-invariant transform.
bool sameTransforms(const ContextContent &a, const ContextContent &b, u64 level) {
    const PrimeModuli &x = a.getPrimeModuli();
    const PrimeModuli &y = b.getPrimeModuli();
    if (x.getNumPrimes() <= level || y.getNumPrimes() <= level)
        return false;
    for (u64 i = 0; i <= level; ++i)
        if (x.getModulus(i).getNttType() != y.getModulus(i).getNttType())
            return false;
    return true;
}

[[noreturn]] void throwContextMismatch(const char *function, const char *operand) {
    throw RuntimeException(std::string("[") + function + "] The " + operand +
                           " does not match the context of the HomEvaluator");
}

} // namespace

template <EncryptionType ET>
Form formOf(const CiphertextBase<ET> &ct) {
    u64 ntt = 0;
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        ntt += ct.getPoly(i).isNTT() ? 1 : 0;
    return formOfFlags(ntt, ct.getNumPoly());
}

Form formOf(const Plaintext &ptxt) { return formOfFlags(ptxt.getMx().isNTT() ? 1 : 0, 1); }

void requireForm(Form form, Form needed, const char *function, const char *operand) {
    if (form != needed)
        throw RuntimeException(std::string("[") + function + "] The " + operand + " is in " +
                               formName(form) + " form; the operation needs " + formName(needed) +
                               " form");
}

void requireSameForm(Form first_form, Form second_form, const char *function, const char *first,
                     const char *second) {
    if (first_form != second_form)
        throw RuntimeException(std::string("[") + function + "] The " + second + " is in " +
                               formName(second_form) + " form, the " + first + " in " +
                               formName(first_form) + " form");
}

template <EncryptionType ET>
void requireContext(const ContextContent &context, const CiphertextBase<ET> &ct,
                    const char *function, const char *operand) {
    // A ciphertext keeps its polynomials over its own context's chain.
    const ContextContent *own = ct.getContext().get();
    if (own == &context)
        return;
    if (own == nullptr || !sameTransforms(*own, context, ct.getLevel()))
        throwContextMismatch(function, operand);
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        if (!fitsContext(ct.getPoly(i), context))
            throwContextMismatch(function, operand);
}

void requireContext(const ContextContent &context, const Plaintext &ptxt, const char *function,
                    const char *operand) {
    if (!fitsContext(ptxt.getMx(), context))
        throwContextMismatch(function, operand);
}

template <EncryptionType ET>
void requireNTTOperand(const ContextContent &context, const CiphertextBase<ET> &ct,
                       const char *function, const char *operand) {
    requireContext(context, ct, function, operand);
    requireForm(formOf(ct), Form::NTT, function, operand);
}

void requireNTTOperand(const ContextContent &context, const Plaintext &ptxt, const char *function,
                       const char *operand) {
    requireContext(context, ptxt, function, operand);
    requireForm(formOf(ptxt), Form::NTT, function, operand);
}

void requirePlaintextScale(const ContextContent &context, const Plaintext &ptxt, u64 level,
                           const char *below, const char *other_scale) {
    const u64 own = ptxt.getLevel();
    if (own < level)
        throw RuntimeException(below);
    const std::vector<double> &factors = context.getScaleFactors().getFactors();
    if (own > level && !(own < factors.size() && factors[own] == factors[level]))
        throw RuntimeException(other_scale);
}

template <EncryptionType ET>
void throwIfCoeff(const CiphertextBase<ET> &ct) {
    if (ct.getEncodingType() == EncodingType::COEFFICIENT)
        throw RuntimeException(kCoeffEncodedMessage);
}

template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b) {
    const int counter = b.getRescaleCounter();
    checkSlotsCounterDevice(a, b.getLogSlots(), &counter, b.getDevice());
    if (a.getEncodingType() != b.getEncodingType())
        throw RuntimeException(kDifferentEncodingMessage);
}

template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &ct, const Plaintext &ptxt) {
    const int counter = ptxt.getRescaleCounter();
    checkSlotsCounterDevice(ct, ptxt.getLogSlots(), &counter, ptxt.getDevice());
}

template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &ct, const Message &msg) {
    checkSlotsCounterDevice(ct, msg.getLogSlots(), nullptr, msg.getDevice());
}

template <EncryptionType ET>
void copyMetaData(const CiphertextBase<ET> &src, CiphertextBase<ET> &dst) {
    dst.setLogSlots(src.getLogSlots());
    dst.setRescaleCounter(src.getRescaleCounter());
    dst.setEncodingType(src.getEncodingType());
}

void throwIfNotLoaded(const std::shared_ptr<EvaluationKey> &key, const std::string &message) {
    if (!key)
        throw RuntimeException(message);
}

#define QUELT_INSTANTIATE_PRECONDITION(ET)                                                         \
    template void throwIfCoeff(const CiphertextBase<ET> &);                                        \
    template void checkPrecondition(const CiphertextBase<ET> &, const CiphertextBase<ET> &);       \
    template void checkPrecondition(const CiphertextBase<ET> &, const Plaintext &);                \
    template void checkPrecondition(const CiphertextBase<ET> &, const Message &);                  \
    template void copyMetaData(const CiphertextBase<ET> &, CiphertextBase<ET> &);                  \
    template Form formOf(const CiphertextBase<ET> &);                                              \
    template void requireContext(const ContextContent &, const CiphertextBase<ET> &, const char *, \
                                 const char *);                                                    \
    template void requireNTTOperand(const ContextContent &, const CiphertextBase<ET> &,            \
                                    const char *, const char *);

QUELT_INSTANTIATE_PRECONDITION(EncryptionType::MLWE)
QUELT_INSTANTIATE_PRECONDITION(EncryptionType::RLWE)
QUELT_INSTANTIATE_PRECONDITION(EncryptionType::MSRLWE)

#undef QUELT_INSTANTIATE_PRECONDITION

} // namespace Quelt::utils
