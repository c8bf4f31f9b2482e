#pragma once

#include "eval/Precondition.hpp"

#include <cstdint>
#include <memory>

namespace Quelt {
class LevelledElement;
}

namespace Quelt::LWE {

class ContextContent;
class Ciphertext;

// The implementation shared by copies of an LWE::HomEvaluator; see
// include/Quelt/LWE/HomEvaluator.hpp for the behaviour of each operation.
class HomEvaluatorImpl {
public:
    static constexpr const char *kLevelZero = utils::kLevelZeroMessage;
    static constexpr const char *kRescaleCounterNotPositive =
        utils::kRescaleCounterNotPositiveMessage;
    static constexpr const char *kTargetAboveLevel = utils::kTargetAboveLevelMessage;
    static constexpr const char *kRescaleCounterNotZero = utils::kRescaleCounterNotZeroMessage;
    static constexpr const char *kConstantOutOfLongRange = utils::kConstantOutOfLongRangeMessage;

    explicit HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context);

    void negate(const Ciphertext &ct, Ciphertext &out) const;
    void add(const Ciphertext &ct, const double &c, Ciphertext &out) const;
    void sub(const Ciphertext &ct, const double &c, Ciphertext &out) const;
    void add(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out) const;
    void sub(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out) const;
    void multInteger(const Ciphertext &ct, long n, Ciphertext &out) const;
    void mult(const Ciphertext &ct, const double &c, Ciphertext &out) const;
    void multWithoutRescale(const Ciphertext &ct, const double &c, Ciphertext &out) const;
    void rescale(Ciphertext &ct) const;
    void levelDown(const Ciphertext &ct, std::uint64_t target_level, Ciphertext &out) const;
    void levelDownOne(const Ciphertext &ct, Ciphertext &out) const;

private:
    // Ciphertext addition (subtract = false) or subtraction.
    void addOrSub(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out,
                  bool subtract) const;
    // out = ct times the residues of c (at ct's level), with the counter
    // `counter`; checked by the caller.
    void multResidues(const Ciphertext &ct, const LevelledElement &c, int counter,
                      Ciphertext &out) const;
    // The level-alignment step of levelDown, for a checked operand of counter
    // 0 above the target.
    void dropLevels(const Ciphertext &ct, std::uint64_t target_level, Ciphertext &out) const;
    // The rescale step, for a checked operand of level >= 1 and counter >= 1.
    void rescaleChecked(Ciphertext &ct) const;

    std::shared_ptr<ContextContent> context_;
};

} // namespace Quelt::LWE
