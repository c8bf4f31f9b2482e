#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "eval/HomEvaluatorMessages.hpp"

#include <cstdint>

namespace Quelt {

class HomEvaluatorImpl;

// The evaluator's level operations (rescale, inverseRescale, levelDown,
// levelDownOne) and the conversions of ring ciphertexts between moduli and
// contexts (discretize, baseModulusSwitch, switchContext, modReduct). It
// belongs to a HomEvaluatorImpl, whose context and products with constants
// it uses, and keeps no state. The operations are const and follow the
// conventions of HomEvaluatorImpl (checks first, output last, which may be
// an input).
class LevelEvaluator : public ArithmeticMessages {
public:
    using u64 = std::uint64_t;
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;

    // eval must outlive the level evaluator (its owner).
    explicit LevelEvaluator(const HomEvaluatorImpl &eval);
    LevelEvaluator(const LevelEvaluator &) = delete;
    LevelEvaluator &operator=(const LevelEvaluator &) = delete;

    template <EncryptionType ET>
    void rescale(CiphertextBase<ET> &ct) const;
    template <EncryptionType ET>
    void levelDown(const CiphertextBase<ET> &ct, u64 target_level, CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void levelDownOne(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out) const;
    // Divides every polynomial by its top prime (both of a two-polynomial
    // ciphertext in one pass) and lowers the counter; checked by the caller.
    template <EncryptionType ET>
    void rescaleChecked(CiphertextBase<ET> &ct) const;

    // ---- Ring ciphertexts only -------------------------------------------------

    void inverseRescale(RingCiphertext &ct) const;
    void discretize(RingCiphertext &ct, u64 s) const;
    void baseModulusSwitch(const RingCiphertext &ct, RingCiphertext &out) const;
    void switchContext(const RingCiphertext &ct, RingCiphertext &out) const;
    void modReduct(RingCiphertext &ct) const;

private:
    const HomEvaluatorImpl &eval_;
};

} // namespace Quelt
