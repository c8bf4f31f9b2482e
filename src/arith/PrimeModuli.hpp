#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/LWEParameterPreset.hpp"
#include "Quelt/MultipleDevice.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "arith/Modulus.hpp"
#include "arith/PolyIter.hpp"
#include "arith/Validators.hpp"
#include "foundation/WordArith.hpp"

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace Quelt {

class ContextContent;
class LevelledElement;
class Plaintext;
template <EncryptionType ET>
class CiphertextBase;
class LevelledVector;
class Message;
class Polynomial;
class PolynomialVector;

namespace cuda {
class DeviceEngineHolder;
} // namespace cuda

// The ordered chain of word-sized primes of one context, one `Modulus` (with
// its transform) per prime, and the owner of the tables that residue
// operations on the chain need.
//
// Prime index order: 0 is the base prime, 1 .. chain_length - 1 the quantize
// primes, chain_length .. chain_length + num_tp - 1 the temporary primes of key
// switching. A chain is complete when its constructor returns and is read-only
// afterwards, so any number of threads may use it at once.
//
// The polynomial-level operations of the chain are members as well; each group
// lives in its own source file (PrimeModuliArith.cpp and its siblings) and is
// declared in its own section below.
class PrimeModuli {
public:
    // ---------------------------------------------------------------------
    // Construction (PrimeModuli.cpp)
    // ---------------------------------------------------------------------

    // Chain of chain_length + num_tp primes found by search, transform type
    // NEGACYCLIC, degree N = 2^log_degree; num_tp = ceil(chain_length /
    // gadget_rank). Base, quantize and temporary primes have exactly
    // log_bpsize, log_qpsize and log_tpsize bits and are 1 modulo 2N.
    // Throws RuntimeException, before any prime is sought, when
    //   a size is above 61 bits, log_bpsize < log_qpsize, log_qpsize < 36,
    //   chain_length or gadget_rank is 0, log_bpsize + (num_tp - 1) *
    //   log_qpsize > floor((chain_length + gadget_rank - 1) * log_tpsize /
    //   gadget_rank), or log_degree > 61 (checked in that order);
    // and afterwards when a bit size holds too few such primes or the chain
    // would contain a prime twice (temporary primes of the quantize size).
    PrimeModuli(u64 log_degree, u64 chain_length, u64 log_bpsize, u64 log_qpsize, u64 log_tpsize,
                u64 gadget_rank, std::set<Device> devices);

    // Chain of the given moduli, in the given order. Throws RuntimeException
    // when the list is empty, a modulus has no transform (type NONE), a
    // modulus has another degree than `degree`, or a prime occurs twice.
    PrimeModuli(std::vector<Modulus> moduli, u64 degree, std::set<Device> devices);

    // Chain of the compiled-in prime list of a preset (aliases folded: 4 -> 3,
    // 6..11 -> 5, 31..37 -> 25). Transform type: CONJUGATE_INVARIANT when
    // conj_invariant is set, else NEGACYCLIC when force_negacyclic is set,
    // else NEGACYCLIC_SQUARE_4N when the preset's parameter has re_remove_i,
    // else NEGACYCLIC. Throws RuntimeException for CUSTOM and when `count`
    // differs from the length of the list; std::out_of_range for a value
    // without a list.
    PrimeModuli(ParameterPreset const &preset, u64 count, u64 degree, std::set<Device> devices,
                bool conj_invariant, bool force_negacyclic);

    // LWE chain from sizes: the largest prime below 2^log_bpsize, then the
    // chain_length - 1 largest primes below 2^log_qpsize (odd-step search),
    // without transforms (type NONE); the degree holds the LWE dimension.
    // Builds no tables. Throws RuntimeException for a size above 61 bits,
    // log_bpsize < log_qpsize, log_qpsize < 36 or chain_length 0 (in that
    // order), and for a repeated prime (log_bpsize = log_qpsize with
    // chain_length > 1).
    PrimeModuli(u64 dimension, u64 chain_length, u64 log_bpsize, u64 log_qpsize,
                std::set<Device> devices);

    // LWE chain of the compiled-in LWE list of a preset, without transforms.
    // Throws RuntimeException for CUSTOM and when `count` differs from the
    // length of the list.
    PrimeModuli(LWE::ParameterPreset const &preset, u64 count, u64 dimension,
                std::set<Device> devices);

    // Hands the chain to an accelerator. This build has none: always throws
    // "Cannot support the function 'toDevice' in the current build
    // configuration". Constructors call it only when an accelerator is
    // available.
    void toDevice();

    // ---------------------------------------------------------------------
    // Compiled-in prime lists (PrimeLists.cpp)
    // ---------------------------------------------------------------------

    // The primes of a preset in chain order. Throws std::out_of_range
    // ("map::at") for a value without a list (aliases, CUSTOM, above 119).
    static const std::vector<u64> &getPrimeList(ParameterPreset preset);
    static const std::vector<u64> &getPrimeList(LWE::ParameterPreset preset);

    // ---------------------------------------------------------------------
    // Accessors
    // ---------------------------------------------------------------------

    const std::vector<Modulus> &getModuli() const { return moduli_; }
    // Throws std::out_of_range for an index past the chain.
    const Modulus &getModulus(u64 index) const { return moduli_.at(index); }
    u64 getNumPrimes() const { return moduli_.size(); }
    // Ring degree N (the LWE dimension for LWE chains).
    u64 getDegree() const { return degree_; }
    const std::set<Device> &getDevices() const { return devices_; }

    // Two words per prime j: v_j, position 0 of the forward transform of
    // X^(N/2) (a square root of -1 modulo q_j for the negacyclic types), and
    // q_j - v_j. Empty for LWE chains.
    const DeviceSpecificArray<u64> &getICoefficients() const { return i_coefficients_; }

    // Row-major M x M table (M primes) of a device: entry [i][j] = q_i^-1 mod
    // q_j for j < i; entries with j >= i hold 0. Empty for LWE chains. Throws
    // std::out_of_range("map::at") for a device without a table.
    const DeviceSpecificArray<u64> &getInvPrimeData(const Device &device) const {
        return inv_prime_data_.at(device);
    }

    // ---------------------------------------------------------------------
    // Key-switching inner products (defined in PrimeModuliInnerProduct.hpp;
    // include it where they are called)
    // ---------------------------------------------------------------------

    // For every prime index i of the extended walk of out1 (0 .. level, then
    // the temporary primes when out1 is mod-up): out1_i = sum_k a_k,i b_k,i
    // and out2_i = sum_k a_k,i c_k,i modulo q_i, k over [a_first, a_last); b
    // and c advance with a and must hold at least as many elements. Limbs
    // are read through the iterators' accessors (polynomials, plaintexts,
    // ciphertext masks or bodies), all in NTT form; levels and flags of the
    // outputs are not changed. Outputs may alias terms position for position.
    // Throws RuntimeException, before anything is changed, in this order:
    // kEmptyInnerProductMessage (no term), kDifferentLevelsMessage,
    // kDifferentModUpMessage, kDifferentDevicesMessage (first a, b and c
    // elements on different devices), kUnsupportedDeviceMessage; an
    // accelerator device throws the accelerator-only failure for
    // "innerProductCUDA", any other non-host device for "innerProduct";
    // kInnerProductShapeMessage when an output does not fit the chain,
    // kInnerProductTermMessage when a polynomial term has another degree or
    // lacks a limb of the walk. The outputs are then moved to the operands'
    // device.
    template <typename ItA, typename AccA, typename ItB, typename AccB, typename ItC, typename AccC>
    void innerProduct(PolyIter<ItA, AccA> a_first, PolyIter<ItA, AccA> a_last,
                      PolyIter<ItB, AccB> b_first, PolyIter<ItC, AccC> c_first, Polynomial &out1,
                      Polynomial &out2) const;

    // Multi-secret key switching over the extended walk of out (as
    // innerProduct): out_j = sum_k a_k c_{j stride + k} for j < numSecret
    // (the key's body parts, secret-major with `stride` parts per secret) and
    // out_numSecret = sum_k a_k b_k (the mask parts), every residue below its
    // prime; polynomials of out past numSecret are not touched.
    // Throws RuntimeException: first the output's level and mod-up checks
    // (PolynomialVector), then kEmptyInnerProductMessage,
    // kDifferentDevicesMessage, kUnsupportedDeviceMessage, the accelerator
    // dispatch ("innerProductCUDA", other non-host devices
    // "innerProductMSRLWE"), kInnerProductShapeMessage when out holds fewer
    // than numSecret + 1 polynomials or one does not fit the chain,
    // kInnerProductStrideMessage for more terms than `stride`,
    // kInnerProductTermMessage when a polynomial term lacks a limb of the
    // walk. The outputs are then moved to the operands' device.
    template <typename ItA, typename AccA, typename ItB, typename AccB, typename ItC, typename AccC>
    void innerProductMSRLWE(PolyIter<ItA, AccA> a_first, PolyIter<ItA, AccA> a_last,
                            PolyIter<ItB, AccB> b_first, PolyIter<ItC, AccC> c_first,
                            PolynomialVector &out, u64 numSecret, u64 stride) const;

    // Plaintexts times accumulated key-switched parts over the extended walk
    // of out: out_j = sum_k mx_k ix_k.poly_j for j <= n. Same checks as
    // innerProductMSRLWE (own name "innerProductMSRLWEv2"; no stride), a
    // term lacking a polynomial or limb throws kInnerProductTermMessage, a
    // plaintext or polynomial below out's level kDifferentLevelsMessage.
    template <typename ItM, typename AccM, typename ItX, typename AccX>
    void innerProductMSRLWEv2(PolyIter<ItM, AccM> mx_first, PolyIter<ItM, AccM> mx_last,
                              PolyIterV2<ItX, AccX> ix, PolynomialVector &out, u64 n) const;

    // Plaintexts times automorphism images of the polynomials of `in`, over
    // the extended walk of out: out_j = sum_k mx_k in_j(X^(exponents[k])) for
    // j <= n (NTT form). Reads the output's device first: an accelerator
    // throws for "frobeniusAndInnerProductCUDA", another non-host device for
    // "frobeniusAndInnerProduct"; then kEmptyInnerProductMessage, the
    // output's level and mod-up checks, kInnerProductShapeMessage,
    // kInnerProductExponentMessage (fewer exponents than terms, or an even
    // one), kInnerProductTermMessage (in holds fewer than n + 1 polynomials),
    // kDifferentDevicesMessage (in on another device), kInnerProductTermMessage
    // (a limb missing), kDifferentLevelsMessage (a plaintext or polynomial
    // below out's level).
    // out must not share polynomials with in.
    template <typename ItM, typename AccM>
    void frobeniusAndInnerProduct(PolyIter<ItM, AccM> mx_first, PolyIter<ItM, AccM> mx_last,
                                  PolynomialVector &in, PolynomialVector &out, u64 n,
                                  const std::vector<u64> &exponents) const;

    // ---------------------------------------------------------------------
    // Polynomial operations (PrimeModuliArith.cpp and siblings)
    // ---------------------------------------------------------------------

    // =====================================================================
    // Polynomial-level operations
    //
    // Every operation runs in three layers: the member checks devices and
    // shapes, a validator picks the prime indices of the walk, and one
    // `Modulus` kernel or `NTT` transform runs per limb.
    //
    // Device rules shared by the operations (the "frame"):
    //   1. the operands named by an operation must be on one device, else
    //      "Operands are in different devices.";
    //   2. a device other than the default host {0, 0} must be in the
    //      chain's device set, else "The generated context does not support
    //      the operation with current operands; check the device.";
    //   3. only host devices (type 0) run here: type 1 throws the message of
    //      the accelerator twin ("Cannot support the function '<twin>' in the
    //      current build configuration"), any other type the same sentence
    //      with the operation's own name.
    // Every check, including the twin dispatch, happens before any output is
    // reshaped or written.
    //
    // Shaping an output to level L sets its level (a plain output's array
    // becomes N * (L + 1) words; a mod-up output keeps its size) and moves
    // its storage to the operands' device. Walks never go past a limb that
    // an operand read or written holds; polynomials whose degree differs
    // from the chain's, or whose array does not hold the limbs their level
    // and form claim, throw kShapeMismatchMessage.
    // Outputs may alias inputs unless an operation says otherwise.
    // =====================================================================

    static constexpr const char *kDifferentDevicesMessage = "Operands are in different devices.";
    static constexpr const char *kUnsupportedDeviceMessage =
        "The generated context does not support the operation with current operands; check "
        "the device.";
    static constexpr const char *kDifferentModUpMessage = "Operands have different mod-up states.";
    static constexpr const char *kDifferentLevelsMessage = "Operands have different levels.";
    static constexpr const char *kShapeMismatchMessage =
        "[PrimeModuli] The operand does not fit the prime chain.";

    // ---- Element-wise arithmetic (PrimeModuliArith.cpp) -------------------

    // out = a + b. Output level min(level a, level b), NTT flag of a. Plain
    // operands walk the primes up to that level; two mod-up operands also
    // add every temporary limb. Throws kDifferentModUpMessage when exactly
    // one operand is mod-up.
    void add(const Polynomial &a, const Polynomial &b, Polynomial &out) const;
    // out_i = a_i + b_i for every prime index i up to the smaller top index
    // of a, b and out that `validator` accepts. The level of out is the
    // caller's; its NTT flag becomes a's. Twin: addCUDA.
    template <typename V>
    void add(const Polynomial &a, const Polynomial &b, Polynomial &out, V validator) const;
    // out = a - b, shaped as add; mod-up operands must agree as in add.
    void sub(const Polynomial &a, const Polynomial &b, Polynomial &out) const;
    // out = -a on every limb a uses; level and NTT flag of a.
    void negate(const Polynomial &a, Polynomial &out) const;
    // Coefficient-wise products (meaningful in NTT form; the output's NTT
    // flag is set). The output level is the smallest level of the inputs.
    // When every input is mod-up the walk runs over all their limbs
    // (temporary ones included), otherwise over primes 0..level; it also
    // stops at the output's top index.
    void hadamardMult(const Polynomial &a, const Polynomial &b, Polynomial &out) const;
    // out1 = a * c and out2 = b * c in one pass. out1 must not be b or c
    // (out1 is written before out2 is computed).
    void hadamardMultTwo(const Polynomial &a, const Polynomial &b, const Polynomial &c,
                         Polynomial &out1, Polynomial &out2) const;
    // out += a * b on the limbs all three share (out already shaped by the
    // caller; nothing is reshaped).
    void hadamardMultAndAdd(const Polynomial &a, const Polynomial &b, Polynomial &out) const;
    // out1 += a * c, out2 += b * c; out1 must not be b or c.
    void hadamardMultTwoAndAdd(const Polynomial &a, const Polynomial &b, const Polynomial &c,
                               Polynomial &out1, Polynomial &out2) const;
    // Product over the base limbs up to the smaller level and, when a is
    // mod-up, its temporary limbs; those require b and out mod-up as well
    // (else kDifferentModUpMessage).
    void hadamardMultModUp(const Polynomial &a, const Polynomial &b, Polynomial &out) const;
    // Product of the two-part ciphertexts (b + a Y) and (d + c Y):
    // e = a d + b c, f = b d, g = a c, all shaped to the smallest input level.
    void tensor(const Polynomial &a, const Polynomial &b, const Polynomial &c, const Polynomial &d,
                Polynomial &e, Polynomial &f, Polynomial &g) const;
    // True when every limb a uses (0..level, and the temporary limbs of a
    // mod-up polynomial) is zero.
    bool isZero(const Polynomial &a) const;

    // ---- Constants (PrimeModuliConst.cpp) ----------------------------------

    // A copy of re's residues.
    DeviceSpecificArray<u64> computeConstantCoefficients(const LevelledElement &re) const;
    // Two words per prime j up to the smaller top index: re_j + i im_j and
    // re_j - i im_j, where i is the prime's I-coefficient (the value taken by
    // the first half of the NTT slots, its negation by the second half).
    DeviceSpecificArray<u64> computeConstantCoefficients(const LevelledElement &re,
                                                         const LevelledElement &im) const;
    // out_i = in_i * c[i] (Complex = false) or the first half of limb i times
    // c[2i] and the second half times c[2i + 1] (Complex = true), for every
    // index up to the smaller top index of in and out that the validator
    // accepts. c must hold an entry (two when complex) for each such index.
    // Nothing is reshaped. Twin: constMultBatchCUDA.
    template <typename V, bool Complex>
    void constMult(const Polynomial &in, const u64 *c, Polynomial &out, V validator) const;
    // out = in + c. In NTT form c is added to every slot; in coefficient
    // form to the constant coefficient, and the NTT flag is kept.
    void constAdd(const Polynomial &in, const LevelledElement &c, Polynomial &out) const;
    // out = in + (re + i im): the first half of the NTT slots gets z, the
    // second half its conjugate. In coefficient form of a negacyclic chain re
    // goes to coefficient 0 and im to coefficient N/2 (X^(N/2) is the
    // imaginary unit); the conjugate-invariant form throws.
    void constAdd(const Polynomial &in, const LevelledElement &re, const LevelledElement &im,
                  Polynomial &out) const;
    // out = in * c, level min(level of c, level of in).
    void constMult(const Polynomial &in, const LevelledElement &c, Polynomial &out) const;
    // out = in * (re + i im) in NTT form; throws kNotNTTMessage otherwise.
    void constMult(const Polynomial &in, const LevelledElement &re, const LevelledElement &im,
                   Polynomial &out) const;
    // out = in * x, x any word (reduced per prime).
    void constMult(const Polynomial &in, u64 x, Polynomial &out) const;
    void constMultTwo(const Polynomial &a, const Polynomial &b, const LevelledElement &c,
                      Polynomial &out1, Polynomial &out2) const;
    void constMultTwo(const Polynomial &a, const Polynomial &b, const LevelledElement &re,
                      const LevelledElement &im, Polynomial &out1, Polynomial &out2) const;
    void constMultTwo(const Polynomial &a, const Polynomial &b, u64 x, Polynomial &out1,
                      Polynomial &out2) const;
    // out_i = (a_i - b_i) * c[i] over the limbs a and b share; c holds an entry
    // per prime index walked. Output level min(level a, level b).
    void subAndConstMult(const Polynomial &a, const Polynomial &b, const u64 *c,
                         Polynomial &out) const;

    static constexpr const char *kNotNTTMessage =
        "[PrimeModuli] A complex constant needs a polynomial in NTT form.";

    // ---- Transforms and level changes (PrimeModuliDomain.cpp) -------------

    // out = NTT(in) on the limbs 0..top index of in that the validator
    // accepts (copied first when out is another polynomial); out takes in's
    // level and its NTT flag is set. K = 1 only: outputs below the prime.
    // Instantiated for AlwaysValidator, OutputModulusBoundValidator,
    // ModUpOutputModulusBoundValidator, ModUpOutputModulusBoundEvalValidator.
    template <typename V, int K>
    void forwardNTT(const Polynomial &in, Polynomial &out, V validator) const;
    // The inverse (factor N^-1 included); the NTT flag is cleared.
    // Instantiated for AlwaysValidator and OutputModulusBoundValidator.
    template <typename V, int K>
    void backwardNTT(const Polynomial &in, Polynomial &out, V validator) const;
    // Raw-array forms for accelerator memory only: type 1 calls the batch
    // twins, anything else throws "GPU is expected".
    template <typename V, int K>
    void forwardNTT(const Device &device, u64 *data, u64 num_limbs, V validator) const;
    template <typename V, int K>
    void backwardNTT(const Device &device, u64 *data, u64 num_limbs, V validator) const;
    // out = NTT(a) on the accepted limbs, then out_i = (b_i - out_i) * c[i].
    template <typename V, int K>
    void forwardNTTWithSubAndConstMult(const Polynomial &a, const Polynomial &b, const u64 *c,
                                       Polynomial &out, V validator) const;
    // One body of a switching key, limb by limb over every limb of the
    // mod-up operands (0..level, then the temporary limbs): the limb of
    // `error` (coefficient form) is transformed in place, then body_i =
    // error_i - mask_i * target_i, plus g_i * source_i on the base limbs i
    // that `digit` accepts, g_i = pmod[i] * hatq[i] mod q_i (one entry per
    // base prime in each table). error ends in NTT form. mask, target,
    // source and body are in NTT form; body may be the error or the mask.
    // Throws, before anything is written, the frame's device messages (twin
    // switchingKeyBodyCUDA), kDifferentModUpMessage unless all five are
    // mod-up, kDifferentLevelsMessage unless they share one level,
    // kShapeMismatchMessage when one does not fit the chain, and
    // kNoTransformMessage for a prime without a transform.
    void switchingKeyBody(Polynomial &error, const Polynomial &mask, const Polynomial &target,
                          const Polynomial &source, const u64 *pmod, const u64 *hatq,
                          OutputModulusBoundValidator digit, Polynomial &body) const;
    // No host implementation: after the device checks of the frame, clears
    // out's NTT flag and throws the accelerator-only failure (execiNttBatch
    // on an accelerator, backwardNTTWithConstMult elsewhere).
    template <typename V, int K>
    void backwardNTTWithConstMult(const Polynomial &in, const u64 *c, Polynomial &out,
                                  V validator) const;
    // p = round(p / q_l), l its level, in either form: the top residue is
    // lifted centred (values up to floor(q_l / 2) count as positive), and
    // p_i = (p_i - lift) * q_l^-1 mod q_i for i < l. The level drops by one.
    // Throws kRescaleBottomMessage at level 0.
    void rescale(Polynomial &p) const;
    // Both polynomials of a two-part ciphertext in one pass, limb by limb,
    // with the same words as two calls of rescale. They must share level and
    // device (kDifferentLevelsMessage, the frame's device messages) and be two
    // objects (kAliasedOutputMessage); everything is checked before either
    // changes.
    void rescaleTwo(Polynomial &a, Polynomial &b) const;
    // p = p * q_(l+1) at level l + 1 (the new limb is 0); the NTT flag stays.
    // Throws kInverseRescaleTopMessage when l + 1 is not below the chain
    // length of p.
    void inverseRescale(Polynomial &p) const;
    // out_j = the centred lift of limb src of in, modulo q_j, for j =
    // 0..level; out is in coefficient form at that level. Throws
    // kShapeMismatchMessage when in does not use limb src or level is not
    // below out's chain length.
    void normalizeMod(Polynomial &out, const Polynomial &in, u64 src, u64 level) const;

    static constexpr const char *kRescaleBottomMessage =
        "[PrimeModuli] Cannot rescale at level 0: there is no prime below the top one.";
    static constexpr const char *kInverseRescaleTopMessage =
        "[PrimeModuli] Cannot raise the level past the top of the chain.";

    // ---- Automorphisms (PrimeModuliAutomorphism.cpp) -----------------------

    // out = in(X^k) in NTT form (Accumulate: out += in(X^k)); k must be odd
    // (any odd value, taken modulo 2N). For k != 1 out must be another
    // polynomial than in.
    template <bool Accumulate>
    void frobeniusMapInNTT(const Polynomial &in, std::int64_t k, Polynomial &out) const;
    // out = in * X^k in coefficient form for any k (taken modulo 2N, with
    // X^N = -1); out must be another polynomial than in.
    void multMonomial(const Polynomial &in, Polynomial &out, std::int64_t k) const;
    // LWE vectors: out_i[j] = in_i[k - j] for j <= k, -in_i[n + k - j] for
    // j > k, per limb, n the dimension (the degree of the chain). k < n; out
    // must be another vector than in, of dimension n.
    void conjugateInvert(const LevelledVector &in, LevelledVector &out, u64 k) const;
    // outs[k] = conjugateInvert(in, k) for k = 0..outs.size() - 1; at most n
    // outputs, none null and none equal to in.
    void conjugateInvertBatch(const LevelledVector &in,
                              const std::vector<LevelledVector *> &outs) const;
    // The even part of a ciphertext of degree 2N as one of degree N: out
    // takes in's number of polynomials, level and rescale counter, and limb i
    // of each polynomial becomes out_i[j] = in_i[2j]. out's context must have
    // half the degree and the same primes up to the level, and every
    // polynomial of in must hold its limbs 0..level; all of it is checked
    // before out changes (kHalfDegreeMessage, kShapeMismatchMessage).
    void embedCiphertext(const CiphertextBase<EncryptionType::RLWE> &in,
                         CiphertextBase<EncryptionType::RLWE> &out) const;
    // No host implementation: always throw (rotMulAddCUDA / modReductCUDA
    // for a ciphertext on an accelerator, rotMulAdd / modReduct otherwise).
    void rotMulAdd(CiphertextBase<EncryptionType::RLWE> &out,
                   const CiphertextBase<EncryptionType::RLWE> &in, const Plaintext &ptxt,
                   u64 index) const;
    void modReduct(CiphertextBase<EncryptionType::RLWE> &ct) const;
    // No host implementation: always throws (multMonomialBatchCUDA for a
    // first input on an accelerator, multMonomialBatch otherwise).
    void multMonomialBatch(const std::vector<const Polynomial *> &ins,
                           std::vector<Polynomial *> &outs, std::int64_t k) const;

    static constexpr const char *kEvenFrobeniusMessage =
        "[PrimeModuli] The exponent of an automorphism must be odd.";
    static constexpr const char *kAliasedOutputMessage =
        "[PrimeModuli] The output must be another object than the input.";
    static constexpr const char *kHalfDegreeMessage =
        "[PrimeModuli] The degree of the output ciphertext must be half the degree of the "
        "input ciphertext.";

    // ---- Encoding (PrimeModuliEncoding.cpp) --------------------------------

    // Rounds scale * v half away from zero and writes the n = msg.getSize()
    // real parts at coefficients k * gap and the imaginary parts at N/2 + k *
    // gap, gap = (N/2) / n, of every limb (extended: also the temporary limbs
    // of a mod-up out, whose unused limbs between the level and the chain
    // length become 0); every other coefficient is 0 and the NTT flag is
    // cleared. n must be a power of two at most N/2, every scaled value finite
    // and below 2^126 in magnitude. With `factors`, the values written to limb
    // i are also multiplied by factors[i] modulo q_i (one entry per limb
    // written), in the same pass.
    void embeddingToN(const Message &msg, double scale, Polynomial &out, bool extended,
                      const u64 *factors = nullptr) const;
    // Real values: value k at coefficient k * (N / n) of limbs 0..level; n
    // must divide N (and be nonzero). `factors` as above.
    void embeddingToN(const double *values, u64 n, double scale, Polynomial &out,
                      const u64 *factors = nullptr) const;
    // Entry i, for i = 0..level: the product of the top `count` primes of the
    // level, q_(level - count + 1) ... q_level, modulo q_i, accumulated from
    // q_level downward (0 for i > level - count; 1 everywhere for count 0).
    // Throws kShapeMismatchMessage unless count <= level < number of primes.
    std::vector<u64> topPrimeProducts(u64 level, u64 count) const;
    // out[k] for k < count: coefficient k * stride of p as a signed integer,
    // converted to double. At level 0 the residue r modulo q_0 stands for r
    // when r <= floor(q_0 / 2), else for r - q_0; at higher levels limbs 0
    // and 1 are combined modulo Q = q_0 q_1 and split at floor(Q / 2) the
    // same way (no higher limb is read). Limbs in NTT form are
    // inverse-transformed in scratch memory; p is not changed. Throws
    // kShapeMismatchMessage when p does not fit the chain, its primes of the
    // limbs read are not the chain's, stride is 0 or (count - 1) * stride is
    // not below N.
    void liftToReal(const Polynomial &p, u64 count, u64 stride, double *out) const;
    // The same for one levelled element (the value of its residues 0, and 1
    // above level 0). Throws kShapeMismatchMessage when x does not hold those
    // residues of this chain, and the accelerator message ("liftToReal") for
    // a non-host element.
    double liftToReal(const LevelledElement &x) const;
    // Signed coefficients (m * N of them for m polynomials) into residues and
    // NTT form.
    void coefficientsToPolyVector(const DeviceSpecificArray<int> &coeffs,
                                  PolynomialVector &out) const;
    // Signed coefficients (the vector's dimension of them) into residues of
    // primes 0..level.
    void coefficientsToLevelledVector(const DeviceSpecificArray<int> &coeffs,
                                      LevelledVector &out) const;
    // Level-0 coefficient-form p: each coefficient c becomes round(q_0 *
    // round(c 2^s / q_0) / 2^s), reduced below q_0. 1 <= s <= 64.
    void discretize(Polynomial &p, const std::shared_ptr<ContextContent> &ctx, u64 s) const;
    // out[j] = round(in[j] * t / q_0) mod t for j < n, in at level 0 in
    // coefficient form; t >= 1, n at most the degree and out's array.
    void baseModulusSwitch(const Polynomial &in, u64 n, u64 t, Polynomial &out) const;

    static constexpr const char *kEmbeddingCountMessage =
        "[embeddingToN] The number of values should be a power of two at most half the degree.";
    static constexpr const char *kEmbeddingValueMessage =
        "[embeddingToN] A scaled value is not finite or too large.";
    static constexpr const char *kEmbeddingDivisorMessage =
        "[embeddingToN] The degree of polynomial should be divided by the size of message.";
    static constexpr const char *kLevelZeroMessage = "Level should be zero";
    static constexpr const char *kNotInNTTMessage = "Polynomial should not be in NTT form";

    // ---- Levelled elements and vectors (LevelledArith.cpp) -----------------

    void negate(const LevelledElement &a, LevelledElement &out) const;
    void add(const LevelledElement &a, const LevelledElement &b, LevelledElement &out) const;
    void sub(const LevelledElement &a, const LevelledElement &b, LevelledElement &out) const;
    void mult(const LevelledElement &a, const LevelledElement &b, LevelledElement &out) const;
    // a = round(a / q_l), l its level; throws kRescaleBottomMessage at 0.
    void rescale(LevelledElement &a) const;
    void negate(const LevelledVector &a, LevelledVector &out) const;
    void add(const LevelledVector &a, const LevelledVector &b, LevelledVector &out) const;
    void sub(const LevelledVector &a, const LevelledVector &b, LevelledVector &out) const;
    void constMult(const LevelledVector &v, const LevelledElement &c, LevelledVector &out) const;
    void rescale(LevelledVector &v) const;
    // out_i = sum_j a_i[j] b_i[j] for i up to the smaller level.
    void innerProduct(const LevelledVector &a, const LevelledVector &b, LevelledElement &out) const;

    // ---- Accelerator twins (PrimeModuliAccel.cpp) --------------------------
    // This build has no accelerator: each only throws "Cannot support the
    // function '<its name>' in the current build configuration".
    [[noreturn]] void execNttBatch() const;
    [[noreturn]] void convertNttBatch() const;
    [[noreturn]] void execiNttBatch() const;
    [[noreturn]] void execNttBatchWithSubAndConstMult() const;
    [[noreturn]] void discretizeCUDA() const;
    [[noreturn]] void baseModulusSwitchCUDA() const;
    [[noreturn]] void negateCUDA() const;
    [[noreturn]] void addCUDA() const;
    [[noreturn]] void subCUDA() const;
    [[noreturn]] void multCUDA() const;
    [[noreturn]] void constMultCUDA() const;
    [[noreturn]] void rescaleCUDA() const;
    [[noreturn]] void innerProductCUDA() const;
    [[noreturn]] void mulVectorCUDA() const;
    [[noreturn]] void mulAddVectorCUDA() const;
    [[noreturn]] void tensorCUDA() const;
    [[noreturn]] void constAddBatchCUDA() const;
    [[noreturn]] void constMultBatchCUDA() const;
    [[noreturn]] void subAndConstMultCUDA() const;
    [[noreturn]] void constMultTwoBatchCUDA() const;
    [[noreturn]] void normalizeModCUDA() const;
    [[noreturn]] void embeddingToNCUDA() const;
    [[noreturn]] void isZeroCUDA() const;
    [[noreturn]] void frobeniusMapInNTTCUDA() const;
    [[noreturn]] void multMonomialCUDA() const;
    [[noreturn]] void multMonomialBatchCUDA() const;
    [[noreturn]] void conjugateInvertCUDA() const;
    [[noreturn]] void conjugateInvertBatchCUDA() const;
    [[noreturn]] void frobeniusAndInnerProductCUDA() const;
    [[noreturn]] void rotMulAddCUDA() const;
    [[noreturn]] void modReductCUDA() const;
    [[noreturn]] void embedPolynomialCUDA() const;

    // ---- Entry checks --------------------------------------------------------
    // Every chain operation opens with its checks, one helper per kind, called
    // in the order its messages require and before anything is written:
    //   devices: getCommonDeviceAndCheck, checkDeviceSupported, then dispatch;
    //   forms:   checkSameModUp (and the transforms of the primes walked);
    //   aliases: checkOutputApart;
    //   shapes:  checkOperand, checkOutput (levels against the chain).
    // Outputs are shaped (shapeOutput) only once every check has passed.

    // Throws kDifferentModUpMessage unless x and y are both mod-up or both not.
    static void checkSameModUp(const Polynomial &x, const Polynomial &y);
    // Throws kAliasedOutputMessage when out is one of `others`.
    static void checkOutputApart(const void *out, std::initializer_list<const void *> others);

    // The device checks of the operation frame, shared with the arithmetic on
    // levelled constants.
    // Check 2 of the frame for one device.
    void checkDeviceSupported(const Device &device) const;
    // Checks 1 and 2 of the frame; returns the common device.
    Device getCommonDeviceAndCheck(std::initializer_list<const Device *> devices) const;
    // Check 3: returns for host devices; type 1 runs the twin (which throws),
    // any other type throws with `own`.
    static void dispatch(const Device &device, const char *twin, const char *own);

private:
    // Throws kShapeMismatchMessage unless p has the chain's degree, its top
    // index is a prime of the chain and its array holds limbs 0..top.
    void checkOperand(const Polynomial &p) const;
    // The same for an output about to be shaped to `level`.
    void checkOutput(const Polynomial &p, u64 level) const;
    // rescale of one or two polynomials (rescaleTwo), checked together.
    void rescalePolynomials(std::initializer_list<Polynomial *> polys) const;
    // Sets the level (resizing a plain output) and moves the storage.
    static void shapeOutput(Polynomial &out, u64 level, const Device &device);
    // Walk of a coefficient-wise product: the last prime index all inputs
    // and the (already shaped) output hold.
    static u64 productTop(std::initializer_list<const Polynomial *> inputs, u64 level,
                          std::initializer_list<const Polynomial *> outputs);
    // Per-limb multiply of a polynomial by a real or complex constant table
    // for indices 0..top accepted by the validator.
    template <typename V, bool Complex>
    void constMultLimbs(const Polynomial &in, const u64 *c, Polynomial &out, u64 top,
                        V validator) const;

public:
    // The slot permutation of X -> X^k in the NTT order (k odd, taken modulo
    // 2N): word j of the image is word table[j] of the input. Tables are
    // cached per exponent and shared by copies of the chain, up to a bound
    // on the words held (beyond it, tables are built for the call only).
    std::shared_ptr<const std::vector<std::uint32_t>> frobeniusTable(std::int64_t k) const;

private:
    // value^-1 modulo prime prime_index, by Fermat's little theorem.
    u64 inverseModPrime(u64 value, u64 prime_index) const;
    // The checks of one polynomial pair of embedCiphertext at `level`: half
    // degree, the limbs 0..level present in in and within out's chain, the
    // same primes on both sides, and a mod-up out that holds its whole
    // layout.
    void checkEmbedPolynomial(const Polynomial &in, const Polynomial &out, u64 level) const;
    // One checked polynomial of embedCiphertext: out_i[j] = in_i[2j] for the
    // limbs 0..level of in.
    void embedPolynomial(const Polynomial &in, Polynomial &out) const;

private:
    void initICoefficients();
    void initInvPrimeData();
    void handOverToAccelerator();

    // Moduli in chain order: base, quantize, temporary.
    std::vector<Modulus> moduli_;
    // Devices the context was made for; a non-host operand must be on one.
    std::set<Device> devices_;
    u64 degree_ = 0;
    // Automorphism tables by exponent (see frobeniusTable).
    class FrobeniusCache;
    static std::shared_ptr<FrobeniusCache> makeFrobeniusCache();
    std::shared_ptr<FrobeniusCache> frobenius_cache_ = makeFrobeniusCache();
    // Per-device accelerator engines; empty in this build.
    std::map<Device, std::shared_ptr<cuda::DeviceEngineHolder>> device_engines_;
    // Host array, 2 words per prime (see getICoefficients).
    DeviceSpecificArray<u64> i_coefficients_;
    // Per-device inverse-prime tables (see getInvPrimeData); rescaling by q_l
    // reads row l.
    MultipleDevice<DeviceSpecificArray<u64>> inv_prime_data_;
};

} // namespace Quelt
