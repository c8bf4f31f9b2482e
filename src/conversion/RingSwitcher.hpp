#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;
class LevelledElement;
class LevelledVector;
class Polynomial;

// Re-indexing copies of RNS polynomials between rings of power-of-two degree
// n and N = m n, and between polynomials and the per-prime constants and
// vectors of the LWE side. No operation does modular arithmetic except
// embedNTT on primes whose transforms do not share evaluation points (see
// there). Every copy runs limb by limb: limbs 0 .. level of the polynomial
// being written (or read, where said), all of its limbs in mod-up form.
//
// Each operation checks its operands in a fixed order, then dispatches on
// the device (the host copies; an accelerator throws "Cannot support the
// function '<op>CUDA' in the current build configuration" with the twin's
// name, any other device the same with the operation's own name), then
// shapes its outputs (storage on the input's device, the input's level, the
// array of (level + 1) x degree words) and copies. An output is never one of
// the inputs. The class holds nothing; all members are const.
class RingSwitcher {
public:
    static constexpr const char *kTotalDimensionMessage =
        "The total dimension of the operands are different";
    static constexpr const char *kNotNTTMessage =
        "Polynomials should be of non-NTT form in ring switching.";
    static constexpr const char *kEmptyOperandMessage = "Operand is empty so device is not defined";
    static constexpr const char *kDifferentDevicesMessage =
        "Elements of operand are in different devices.";
    static constexpr const char *kVectorCountMessage =
        "The number of LevelledVectors does not match to the degree of Polynomial";
    static constexpr const char *kPolynomialCountMessage =
        "The number of Polynomials does not match to the dimension of LevelledVector";
    static constexpr const char *kNotDivideMessage =
        "The total dimension of op1 does not divide that of op2";
    static constexpr const char *kHalfDegreeMessage = "Output degree should be half input degree.";
    static constexpr const char *kTwiceDegreeMessage =
        "Output degree should be twice input degree.";
    static constexpr const char *kIncompatibleContextMessage =
        "[setContext] Input context is not compatible with the ciphertext.";
    // Checks of this library beyond the fixed table above: lists whose
    // entries would be read out of range, null entries, outputs that are
    // inputs, and operands whose arrays lack the limbs the copy walks.
    static constexpr const char *kUnequalDegreesMessage =
        "[RingSwitcher] The polynomials of a list should have one degree.";
    static constexpr const char *kEmptyOutputsMessage =
        "[RingSwitcher] The list of output polynomials is empty.";
    static constexpr const char *kNullOperandMessage = "[RingSwitcher] An operand is null.";
    static constexpr const char *kAliasedOutputMessage =
        "[RingSwitcher] The output must be another object than the input.";
    static constexpr const char *kShapeMessage =
        "[RingSwitcher] An operand does not hold the limbs of the copy.";
    static constexpr const char *kNoTransformMessage =
        "[RingSwitcher] A prime of the chain has no transform.";

    // outs[k][l][j] = in[l][k + j m], m = N / degree of the outputs: output k
    // holds coefficient class k. The outputs' degrees must sum to N and be
    // equal; they take in's level and NTT flag (in must be in coefficient
    // form) and must share its mod-up state.
    void split(const Polynomial &in, std::vector<Polynomial *> &outs) const;
    // outs[k][l] = in[l][k] for k < N.
    void split(const Polynomial &in, std::vector<LevelledElement *> &outs) const;
    // out[l][t] = in[l][t]; the vector's dimension must be N.
    void split(const Polynomial &in, LevelledVector &out) const;

    // out[l][j c + t] = ins[t][l][j], c = ins.size(): the inverse of split
    // for c = m. The inputs share one degree, which c times is out's.
    void combine(const std::vector<const Polynomial *> &ins, Polynomial &out) const;
    // out[l][k] = ins[k][l] for k < N; out leaves NTT form.
    void combine(const std::vector<const LevelledElement *> &ins, Polynomial &out) const;
    // outs[t][l][k] = ins[k][l][t]: N vectors of dimension d transposed into
    // d polynomials of degree N, in tiles of at most 256 x 256.
    void combineBatch(const std::vector<const LevelledVector *> &ins,
                      std::vector<Polynomial *> &outs) const;

    // out[l][j m] = in[l][j], every other coefficient 0 (X -> X^m).
    void embed(const Polynomial &in, Polynomial &out) const;
    // out[l][0] = in[l], every other coefficient 0.
    void embed(const LevelledElement &in, Polynomial &out) const;
    // X -> X^m on a polynomial of the context `from` (degree n) into one of
    // `to` (degree N). In NTT form the image of prime l is the input's words
    // each repeated m times where the two transforms of l share evaluation
    // points (sharesEvaluationPoints); elsewhere limb l goes through
    // coefficient form (inverse transform at n, embedding, forward transform
    // at N), both transforms being those of the two chains. A coefficient-form
    // input is embedded as by embed. The primes of in must be `from`'s and
    // those of out `to`'s over the limbs walked, else
    // kIncompatibleContextMessage.
    void embedNTT(const std::shared_ptr<ContextContent> &from, const Polynomial &in,
                  const std::shared_ptr<ContextContent> &to, Polynomial &out) const;
    // The per-prime road of embedNTT for limbs 0 .. top: true where limb l
    // goes through coefficient form.
    static std::vector<bool> embedThroughCoefficients(const std::shared_ptr<ContextContent> &from,
                                                      const std::shared_ptr<ContextContent> &to,
                                                      std::uint64_t top);

    // out[l][j] = in[l][j m]: coefficient class 0.
    void extract(const Polynomial &in, Polynomial &out) const;
    // out[l] = in[l][0].
    void extract(const Polynomial &in, LevelledElement &out) const;

    // Degree 2n to degree n: out[l][t] = in[l][t] for t < n.
    void conjInvToCyclic(const Polynomial &in, Polynomial &out) const;
    // Degree n to degree 2n: out[l][t] = in[l][t], out[l][n + t] =
    // in[l][n - 1 - t].
    void cyclicToConjInv(const Polynomial &in, Polynomial &out) const;
};

} // namespace Quelt
