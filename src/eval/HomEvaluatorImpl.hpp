#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Plaintext.hpp"
#include "eval/Precondition.hpp"

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Quelt {

class ContextContent;
class KeySwitcher;
class LevelledElement;
class Message;
class Polynomial;

// The implementation shared by copies of a HomEvaluator (and by the
// bootstrapper built on one): the context, the key pack that supplies
// evaluation keys and the key switcher. See include/Quelt/HomEvaluator.hpp
// for the behaviour of each operation.
//
// Every operation is const and keeps no state; the output comes last and may
// be one of the inputs. Each operation runs its entry checks (the utils
// functions of eval/Precondition.hpp and the messages below) in a fixed order
// before it writes the output, except where a compound operation (mult by a
// constant, plaintext or message, levelDown, level-aligning add and sub)
// fails in its later step. An output that is not an input and belongs to
// another context (or has another mod-up state) than the operand is replaced
// by a fresh ciphertext of the operand's context first.
class HomEvaluatorImpl {
public:
    using u64 = std::uint64_t;
    using i64 = std::int64_t;
    using Complex = std::complex<double>;

    static constexpr const char *kLevelZero = utils::kLevelZeroMessage;
    static constexpr const char *kRescaleCounterNotZero = utils::kRescaleCounterNotZeroMessage;
    static constexpr const char *kRescaleCountersNotZero =
        "The Operands should have rescale counter zero";
    static constexpr const char *kRescaleCounterNotPositive =
        utils::kRescaleCounterNotPositiveMessage;
    static constexpr const char *kTargetAboveLevel = utils::kTargetAboveLevelMessage;
    static constexpr const char *kInverseRescaleAtTop =
        "[inverseRescale] Cannot inverseRescale when the level is greater than or equal to the "
        "maximum level";
    static constexpr const char *kOperandsCoeffEncoded =
        "The operands have to encode the message on its slots";
    static constexpr const char *kAddDifferentLevelModUp =
        "Cannot add different level modUp-ed ciphertexts";
    static constexpr const char *kSubDifferentLevelModUp =
        "Cannot sub different level modUp-ed ciphertexts";
    static constexpr const char *kDifferentDegrees =
        "[baseModulusSwitch] The degrees of the two contexts are different.";
    static constexpr const char *kConstantOutOfLongRange = utils::kConstantOutOfLongRangeMessage;

    // Each constructor ends with KeyPack::loadMultKey. With a context alone
    // the key pack is empty; with a path it is KeyPack(context, keyDirPath)
    // (its checks); with a key pack the evaluator shares that pack's store.
    explicit HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context);
    HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context, const std::string &keyDirPath);
    HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context, KeyPack keyPack);

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    const KeyPack &getKeyPack() const { return key_pack_; }
    const std::shared_ptr<KeySwitcher> &getKeySwitcher() const { return key_switcher_; }

    // ---- Negation, addition and subtraction ----------------------------------

    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void negate(const CiphertextBase<ET> &ct,
                                                       CiphertextBase<ET> &out) const;

    template <EncryptionType ET>
    void add(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
             CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void sub(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
             CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void addWithoutCheck(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
                         CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void subWithoutCheck(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
                         CiphertextBase<ET> &out) const;

    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void add(const CiphertextBase<ET> &ct, const Complex &c,
                                                    CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void sub(const CiphertextBase<ET> &ct, const Complex &c,
                                                    CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void add(const CiphertextBase<ET> &ct,
                                                    const Message &msg,
                                                    CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void sub(const CiphertextBase<ET> &ct,
                                                    const Message &msg,
                                                    CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void add(const CiphertextBase<ET> &ct,
                                                    const Plaintext &ptxt,
                                                    CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void sub(const CiphertextBase<ET> &ct,
                                                    const Plaintext &ptxt,
                                                    CiphertextBase<ET> &out) const;

    // ---- Multiplication by constants, messages and plaintexts ----------------

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

    // ---- Levels ----------------------------------------------------------------

    template <EncryptionType ET>
    void rescale(CiphertextBase<ET> &ct) const;
    template <EncryptionType ET>
    void levelDown(const CiphertextBase<ET> &ct, u64 target_level, CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void levelDownOne(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out) const;

    // ---- Ring ciphertexts only -------------------------------------------------

    void inverseRescale(CiphertextBase<EncryptionType::RLWE> &ct) const;
    void discretize(CiphertextBase<EncryptionType::RLWE> &ct, u64 s) const;
    void baseModulusSwitch(const CiphertextBase<EncryptionType::RLWE> &ct,
                           CiphertextBase<EncryptionType::RLWE> &out) const;
    void switchContext(const CiphertextBase<EncryptionType::RLWE> &ct,
                       CiphertextBase<EncryptionType::RLWE> &out) const;
    void modReduct(CiphertextBase<EncryptionType::RLWE> &ct) const;

private:
    // a + b or a - b after the entry checks of add / sub.
    template <EncryptionType ET>
    void addOrSub(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b, CiphertextBase<ET> &out,
                  bool subtract) const;
    template <EncryptionType ET>
    void addOrSubWithoutCheck(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b,
                              CiphertextBase<ET> &out, bool subtract) const;
    // Polynomial 0 of ct plus (minus) p, the others copied; metadata of ct.
    template <EncryptionType ET>
    void addToBody(const CiphertextBase<ET> &ct, const Polynomial &p, CiphertextBase<ET> &out,
                   bool subtract) const;
    // add / sub of a plaintext after their entry checks.
    template <EncryptionType ET>
    void addPlaintext(const CiphertextBase<ET> &ct, const Plaintext &ptxt, CiphertextBase<ET> &out,
                      bool subtract) const;
    // Every polynomial of ct times the real (im null) or complex constant, or
    // the word k; out shaped, metadata not set.
    template <EncryptionType ET>
    void multConstant(const CiphertextBase<ET> &ct, const LevelledElement &re,
                      const LevelledElement *im, CiphertextBase<ET> &out) const;
    template <EncryptionType ET>
    void multWord(const CiphertextBase<ET> &ct, u64 k, CiphertextBase<ET> &out) const;
    // Divides every polynomial by its top prime (both of a two-polynomial
    // ciphertext in one pass) and lowers the counter; checked by the caller.
    template <EncryptionType ET>
    void rescaleChecked(CiphertextBase<ET> &ct) const;
    // The plaintext re-encoded at `level` with `counter` when its level is
    // another; otherwise nothing (the caller uses ptxt).
    std::optional<Plaintext> reencodeIfLevelDiffers(const Plaintext &ptxt, u64 level,
                                                    int counter) const;

    std::shared_ptr<ContextContent> context_;
    KeyPack key_pack_;
    std::shared_ptr<KeySwitcher> key_switcher_;
};

} // namespace Quelt
