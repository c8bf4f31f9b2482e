#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Plaintext.hpp"
#include "eval/ConstantEvaluator.hpp"
#include "eval/EvaluatorDetail.hpp"
#include "eval/HomEvaluatorMessages.hpp"
#include "eval/LevelEvaluator.hpp"
#include "eval/MultiSecretEvaluator.hpp"
#include "eval/PlainEvaluator.hpp"
#include "eval/Precondition.hpp"
#include "eval/ProductEvaluator.hpp"
#include "eval/RotationEvaluator.hpp"

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Quelt {

class ContextContent;
class KeySwitcher;
class LevelledElement;
class Message;
class Polynomial;
class PolynomialVector;
class PrimeModuli;
class EvaluationKey;

// The implementation shared by copies of a HomEvaluator (and by the
// bootstrapper built on one): the context, the key pack that supplies
// evaluation keys and the key switcher. See include/Quelt/HomEvaluator.hpp
// for the behaviour of each operation.
//
// Negation, addition and subtraction and the plaintext-weighted sums of
// ciphertexts are the class's own; its parts hold the rest: plain()
// (PlainEvaluator: messages, plaintexts, polynomial lists), products()
// (ProductEvaluator: products of ring ciphertexts), levels()
// (LevelEvaluator: rescale, levelDown, conversions of ring ciphertexts),
// constants() (ConstantEvaluator: products with integers, constants,
// messages and plaintexts), rotations() (RotationEvaluator: automorphisms,
// key switches, hoisting) and multiSecret() (MultiSecretEvaluator); callers,
// the bootstrapper's roads among them, reach the parts' operations through
// these accessors.
//
// Every operation is const and keeps no state; the output comes last and may
// be one of the inputs. Each operation runs its entry checks (the utils
// functions of eval/Precondition.hpp and the messages of
// eval/HomEvaluatorMessages.hpp, which the class inherits) in a fixed order
// before it writes the output. The operand checks of Precondition.hpp
// (requireContext, requireForm, requireSameForm, requireNTTOperand,
// requirePlaintextScale) name the public operation; an operation that calls
// another public one runs its own first, so that its name is reported. The
// members named ...Checked and addWithoutCheck / subWithoutCheck run none of
// them: they serve callers that have checked their operands. An output that
// is not an input and belongs to another context (or has another mod-up
// state) than the operand is replaced by a fresh ciphertext of the operand's
// context, after the checks.
class HomEvaluatorImpl : public HomEvaluatorMessages {
public:
    using u64 = std::uint64_t;
    using i64 = std::int64_t;
    using Complex = std::complex<double>;

    // Each constructor ends with KeyPack::loadMultKey. With a context alone
    // the key pack is empty; with a path it is KeyPack(context, keyDirPath)
    // (its checks); with a key pack the evaluator shares that pack's store.
    explicit HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context);
    HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context, const std::string &keyDirPath);
    HomEvaluatorImpl(const std::shared_ptr<ContextContent> &context, KeyPack keyPack);
    // The parts of the evaluator refer to it: it is neither copied nor moved
    // (copies of a HomEvaluator share one).
    HomEvaluatorImpl(const HomEvaluatorImpl &) = delete;
    HomEvaluatorImpl &operator=(const HomEvaluatorImpl &) = delete;

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

    std::shared_ptr<ContextContent> context_;
    KeyPack key_pack_;
    std::shared_ptr<KeySwitcher> key_switcher_;
    // The parts refer to the evaluator; their own state is at most a pool of
    // scratch objects.
    PlainEvaluator plain_;
    ProductEvaluator products_{*this};
    LevelEvaluator levels_{*this};
    ConstantEvaluator constants_{*this};
    RotationEvaluator rotations_{*this};
    MultiSecretEvaluator multi_secret_{*this};

public:
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
    using MsCiphertext = MultiSecretEvaluator::MsCiphertext;
    using MsCiphertextIterator = MultiSecretEvaluator::MsCiphertextIterator;

    // ---- Plaintext-weighted sums (HomEvaluatorInnerProduct.cpp) ---------------
    using PlaintextIterator = std::vector<Plaintext>::const_iterator;
    using RingCiphertextIterator = std::vector<RingCiphertext>::const_iterator;
    using PolynomialVectorIterator = std::vector<PolynomialVector>::const_iterator;

    // out = the sum over i of the plaintext first[i] times cts[i], both
    // polynomials in NTT form, at the ciphertexts' level with cts[0]'s log
    // slots and rescale counter 1. Throws, before out changes:
    // kInnerProductEmpty; for each term kSizeNotTwo and the slot-encoding
    // message; "Operands have different levels." when the ciphertexts'
    // levels differ; checkPrecondition of cts[0] against every ciphertext
    // and plaintext; kInnerProductPlaintextBelow; kRescaleCountersNotZero
    // unless the counters are 0. out may be any of the ciphertexts.
    void innerProduct(PlaintextIterator first, PlaintextIterator last, RingCiphertextIterator cts,
                      RingCiphertext &out) const;
    // The plaintext-weighted sum of the lists bxs[i], polynomial by
    // polynomial, and the weighted sum of the automorphisms X -> X^e_i of in.
    // out takes as many polynomials as the (first) list, at its level and
    // mod-up state. kInnerProductEmpty, kEmptyPolynomialList (and
    // kExponentCount), then the messages of PrimeModuli's list sums; out is
    // not changed by a refused call.
    void innerProductBx(PlaintextIterator first, PlaintextIterator last,
                        PolynomialVectorIterator bxs, PolynomialVector &out) const;
    void frobeniusAndInnerProductBx(PlaintextIterator first, PlaintextIterator last,
                                    PolynomialVector &in, PolynomialVector &out,
                                    const std::vector<u64> &exponents) const;
    // One ciphertext: out = multWithoutRescale(cts[0], pt). More need the
    // rotate-multiply-add kernel, which this build lacks: after kMatmulEmpty
    // and the checks of multWithoutRescale they throw "Cannot support the
    // function 'rotMulAdd' in the current build configuration" and out is
    // not changed.
    void matmul(const std::vector<RingCiphertext> &cts, const Plaintext &pt,
                RingCiphertext &out) const;

    // ---- The parts -------------------------------------------------------------
    // Messages, plaintexts and polynomial lists (PlainOperations.cpp).
    const PlainEvaluator &plain() const { return plain_; }
    // Products of ring ciphertexts (ProductEvaluator.cpp).
    const ProductEvaluator &products() const { return products_; }
    // Levels and conversions of ring ciphertexts (LevelEvaluator.cpp).
    const LevelEvaluator &levels() const { return levels_; }
    // Products with integers, constants, messages and plaintexts
    // (ConstantEvaluator.cpp).
    const ConstantEvaluator &constants() const { return constants_; }
    // Rotations, conjugation, key switches and hoisting (RotationEvaluator.cpp).
    const RotationEvaluator &rotations() const { return rotations_; }
    // The multi-secret operations (MultiSecretEvaluator.cpp).
    const MultiSecretEvaluator &multiSecret() const { return multi_secret_; }
};

namespace detail {
// The implementation behind a HomEvaluator, for the library's own classes that
// drive an evaluator directly (the bootstrapper).
struct HomEvaluatorAccess {
    static const std::shared_ptr<HomEvaluatorImpl> &impl(const HomEvaluator &eval) {
        return eval.impl_;
    }
    static const std::shared_ptr<ContextContent> &context(const HomEvaluator &eval) {
        return eval.context_;
    }
};
} // namespace detail

} // namespace Quelt
