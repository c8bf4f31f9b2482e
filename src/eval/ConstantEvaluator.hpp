#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Plaintext.hpp"
#include "eval/HomEvaluatorMessages.hpp"

#include <complex>
#include <cstdint>

namespace Quelt {

class HomEvaluatorImpl;
class LevelledElement;
class Message;

// The evaluator's products of ciphertexts with factors that are not
// encrypted: integers, the imaginary unit, complex constants, messages and
// plaintexts. It belongs to a HomEvaluatorImpl, whose context and levels it
// uses, and keeps no state. The operations are const and follow the
// conventions of HomEvaluatorImpl (checks first, output last, which may be
// an input); see include/Quelt/HomEvaluator.hpp for each one's behaviour.
class ConstantEvaluator : public ArithmeticMessages {
public:
    using u64 = std::uint64_t;
    using i64 = std::int64_t;
    using Complex = std::complex<double>;

    // eval must outlive the constant evaluator (its owner).
    explicit ConstantEvaluator(const HomEvaluatorImpl &eval);
    ConstantEvaluator(const ConstantEvaluator &) = delete;
    ConstantEvaluator &operator=(const ConstantEvaluator &) = delete;

    template <EncryptionType ET>
    void multInteger(const CiphertextBase<ET> &ct, i64 k, CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void multImagUnit(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void mult(const CiphertextBase<ET> &ct, const Complex &c,
                                                     CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void mult(const CiphertextBase<ET> &ct, const Message &msg, CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void mult(const CiphertextBase<ET> &ct, const Plaintext &ptxt, CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void multWithoutRescale(const CiphertextBase<ET> &ct, const Complex &c,
                            CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void multWithoutRescale(const CiphertextBase<ET> &ct, const Plaintext &ptxt,
                            CiphertextBase<ET> &out) const;

    // Every polynomial of ct times the real (im null) or complex constant;
    // out shaped, metadata not set. Checked by the caller.
    template <EncryptionType ET>
    void multConstant(const CiphertextBase<ET> &ct, const LevelledElement &re,
                      const LevelledElement *im, CiphertextBase<ET> &out) const;

private:
    // Every polynomial of ct times the word k; out shaped, metadata not set.
    template <EncryptionType ET>
    void multWord(const CiphertextBase<ET> &ct, u64 k, CiphertextBase<ET> &out) const;

    const HomEvaluatorImpl &eval_;
};

} // namespace Quelt
