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
// key switches, hoisting) and multiSecret() (MultiSecretEvaluator). The
// parts' operations that the bootstrapper's roads call on the evaluator are
// forwarded by one-line members of the same signature, each marked
// "forward for src/boot".
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

    // ---- Forwards to the parts -------------------------------------------------
    // The parts' operations that the bootstrapper's roads, its tests and the
    // benchmarks call on the evaluator, one line each with the part's
    // signature (the part documents them). The evaluator's own sources and
    // tests call the parts.

    // forward for src/boot
    void add(const PolynomialVector &a, const PolynomialVector &b, PolynomialVector &out) const {
        plain_.add(a, b, out);
    }
    // forward for src/boot
    void tensor(const RingCiphertext &a, const RingCiphertext &b, RingCiphertext &out) const {
        products_.tensor(a, b, out);
    }
    // forward for src/boot
    void relinearizeRescale(const RingCiphertext &in, RingCiphertext &out) const {
        products_.relinearizeRescale(in, out);
    }
    // forward for src/boot
    void multWithoutRescale(const RingCiphertext &a, const RingCiphertext &b,
                            RingCiphertext &out) const {
        products_.multWithoutRescale(a, b, out);
    }
    // forward for src/boot
    void mult(const RingCiphertext &a, const RingCiphertext &b, RingCiphertext &out) const {
        products_.mult(a, b, out);
    }
    // forward for src/boot
    void square(const RingCiphertext &a, RingCiphertext &out) const { products_.square(a, out); }
    // forward for src/boot
    template <EncryptionType ET>
    void rescale(CiphertextBase<ET> &ct) const {
        levels_.rescale(ct);
    }
    // forward for src/boot
    template <EncryptionType ET>
    void levelDown(const CiphertextBase<ET> &ct, u64 target_level, CiphertextBase<ET> &out) const {
        levels_.levelDown(ct, target_level, out);
    }
    // forward for src/boot
    template <EncryptionType ET>
    void levelDownOne(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out) const {
        levels_.levelDownOne(ct, out);
    }
    // forward for src/boot
    template <EncryptionType ET>
    void multInteger(const CiphertextBase<ET> &ct, i64 k, CiphertextBase<ET> &out) const {
        constants_.multInteger(ct, k, out);
    }
    // forward for src/boot
    template <EncryptionType ET>
    void multImagUnit(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out) const {
        constants_.multImagUnit(ct, out);
    }
    // forward for src/boot
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void mult(const CiphertextBase<ET> &ct, const Complex &c,
                                                     CiphertextBase<ET> &out) const {
        constants_.mult(ct, c, out);
    }
    // forward for src/boot
    template <EncryptionType ET>
    void mult(const CiphertextBase<ET> &ct, const Plaintext &ptxt, CiphertextBase<ET> &out) const {
        constants_.mult(ct, ptxt, out);
    }
    // forward for src/boot
    template <EncryptionType ET>
    void multWithoutRescale(const CiphertextBase<ET> &ct, const Complex &c,
                            CiphertextBase<ET> &out) const {
        constants_.multWithoutRescale(ct, c, out);
    }
    // forward for src/boot
    void rotatePoly(const Polynomial &in, u64 idx, Polynomial &out) const {
        rotations_.rotatePoly(in, idx, out);
    }
    // forward for src/boot
    void leftRotate(const RingCiphertext &ct, u64 idx, RingCiphertext &out) const {
        rotations_.leftRotate(ct, idx, out);
    }
    // forward for src/boot
    void rightRotate(const RingCiphertext &ct, u64 idx, RingCiphertext &out) const {
        rotations_.rightRotate(ct, idx, out);
    }
    // forward for src/boot
    void leftRotate(const RingCiphertext &ct, const std::vector<u64> &idxs,
                    std::vector<RingCiphertext> &outs) const {
        rotations_.leftRotate(ct, idxs, outs);
    }
    // forward for src/boot
    void conjugate(const RingCiphertext &ct, RingCiphertext &out) const {
        rotations_.conjugate(ct, out);
    }
    // forward for src/boot
    void switchKey(const RingCiphertext &ct, EvaluationKey &key, RingCiphertext &out,
                   bool ntt_body) const {
        rotations_.switchKey(ct, key, out, ntt_body);
    }
    // forward for src/boot
    void killImag(const RingCiphertext &ct, RingCiphertext &out) const {
        rotations_.killImag(ct, out);
    }
    // forward for src/boot
    void convertToHalfDeg(const RingCiphertext &ct, RingCiphertext &out) const {
        rotations_.convertToHalfDeg(ct, out);
    }
    // forward for src/boot
    void rotSum(const std::vector<RingCiphertext> &cts, const std::vector<u64> &idxs,
                RingCiphertext &out) const {
        rotations_.rotSum(cts, idxs, out);
    }
    // forward for src/boot
    void rotSumRescale(const std::vector<RingCiphertext> &cts, const std::vector<u64> &idxs,
                       RingCiphertext &out) const {
        rotations_.rotSumRescale(cts, idxs, out);
    }
    // forward for src/boot
    void leftRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out) const {
        multi_secret_.leftRotateMSRLWE(ct, idx, out);
    }
    // forward for src/boot
    void rightRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out) const {
        multi_secret_.rightRotateMSRLWE(ct, idx, out);
    }
    // forward for src/boot
    void leftRotateMSRLWE(const MsCiphertext &ct, const std::vector<u64> &idxs,
                          std::vector<MsCiphertext> &outs) const {
        multi_secret_.leftRotateMSRLWE(ct, idxs, outs);
    }
    // forward for src/boot
    void conjugateMSRLWE(const MsCiphertext &ct, MsCiphertext &out) const {
        multi_secret_.conjugateMSRLWE(ct, out);
    }
    // forward for src/boot
    void switchKeyMSRLWE(const MsCiphertext &ct, EvaluationKey &key, MsCiphertext &out) const {
        multi_secret_.switchKeyMSRLWE(ct, key, out);
    }
    // forward for src/boot
    void rotSumMSRLWE(const std::vector<MsCiphertext> &cts, const std::vector<u64> &idxs,
                      MsCiphertext &out) const {
        multi_secret_.rotSumMSRLWE(cts, idxs, out);
    }
    // forward for src/boot
    void lazyLeftRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out,
                              PolynomialVector &bx) const {
        multi_secret_.lazyLeftRotateMSRLWE(ct, idx, out, bx);
    }
    // forward for src/boot
    void lazyLeftRotateMSRLWE(const MsCiphertext &ct, const PolynomialVector &bx_in, u64 idx,
                              MsCiphertext &out, PolynomialVector &bx) const {
        multi_secret_.lazyLeftRotateMSRLWE(ct, bx_in, idx, out, bx);
    }
    // forward for src/boot
    void lazyRightRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out,
                               PolynomialVector &bx) const {
        multi_secret_.lazyRightRotateMSRLWE(ct, idx, out, bx);
    }
    // forward for src/boot
    void lazyRightRotateMSRLWE(const MsCiphertext &ct, const PolynomialVector &bx_in, u64 idx,
                               MsCiphertext &out, PolynomialVector &bx) const {
        multi_secret_.lazyRightRotateMSRLWE(ct, bx_in, idx, out, bx);
    }
    // forward for src/boot
    void modDownBxAndSum(const PolynomialVector &bx, const MsCiphertext &ct,
                         MsCiphertext &out) const {
        multi_secret_.modDownBxAndSum(bx, ct, out);
    }
    // forward for src/boot
    void innerProductMSRLWE(MultiSecretEvaluator::PlaintextIterator first,
                            MultiSecretEvaluator::PlaintextIterator last, MsCiphertextIterator cts,
                            MsCiphertext &out) const {
        multi_secret_.innerProductMSRLWE(first, last, cts, out);
    }
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
