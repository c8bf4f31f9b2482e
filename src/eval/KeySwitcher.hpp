#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Device.hpp"
#include "arith/FastBaseConv.hpp"
#include "arith/RNSDecomposeData.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;
class EvaluationKey;
class ModPackKeyBundle;
class Polynomial;

namespace utils {

inline constexpr const char *kEmptyOperandMessage = FastBaseConv::kEmptyOperandMessage;
inline constexpr const char *kOperandDevicesMessage = FastBaseConv::kOperandDevicesMessage;

// The device of v's first polynomial after checking that every polynomial of
// v lies on it. Throws RuntimeException kEmptyOperandMessage for an empty v,
// kOperandDevicesMessage at the first polynomial on another device.
Device getCommonDeviceOrThrow(const std::vector<Polynomial> &v);

inline constexpr const char *kNoTemporaryPrimeMessage =
    "[KeySwitcher] The context has no temporary prime.";

// The number of gadget digits a key needs to switch a polynomial of the
// level: floor(level / numTP) + 1, at most the gadget rank. Throws the
// context getters' "[Context] The context is null" for an empty pointer and
// kNoTemporaryPrimeMessage for a context without temporary primes.
std::uint64_t dnum(const std::shared_ptr<ContextContent> &context, std::uint64_t level);

} // namespace utils

// Hybrid key switching of one polynomial a at level l over a context of L
// base and quantize primes and K temporary primes (product P):
//   1. modUpPQ: the gadget digits of a, each raised to the extended basis
//      (primes 0 .. l and the temporary primes);
//   2. multEvalKey: the inner product of the digits with the parts of a
//      switching key, a two-polynomial ciphertext over the extended basis
//      that decrypts under the key's target secret to P a s' plus a small
//      error (s' the key's source secret);
//   3. the caller divides it by P with getFastBaseConv().modDown.
//
// The switcher never holds keys. All members are const and keep no state
// between calls, so one switcher serves any number of threads at once as
// long as they write to different outputs.
class KeySwitcher {
public:
    // Keeps the context and builds its base-conversion and decomposition
    // tables; their failures propagate (a null context, a chain without
    // temporary primes, gadget rank 0).
    explicit KeySwitcher(const std::shared_ptr<ContextContent> &context);
    ~KeySwitcher();
    KeySwitcher(const KeySwitcher &) = delete;
    KeySwitcher &operator=(const KeySwitcher &) = delete;

    static constexpr const char *kInputShapeMessage =
        "[KeySwitcher] The input polynomial does not fit the context.";
    static constexpr const char *kDigitShapeMessage =
        "[KeySwitcher] The digits do not fit the context.";
    static constexpr const char *kKeyDigitsMessage =
        "[KeySwitcher] The key holds fewer digits than the operand.";
    static constexpr const char *kKeySecretsMessage =
        "[KeySwitcher] The key holds fewer secrets than requested.";
    static constexpr const char *kSecretCountMessage =
        "[KeySwitcher] The secret count exceeds the context's number of secrets.";

    // The gadget digits of `in` at its level l: FastBaseConv::getNumDigits(l)
    // polynomials, each mod-up, at level l and in NTT form whatever the form
    // of `in` (coefficient and NTT inputs of one polynomial give the same
    // digits). Limbs 0 .. l of `in` are read; its mod-up flag is not
    // consulted. `out` is overwritten; polynomials it already holds in the
    // shape of a digit keep their storage. Throws kInputShapeMessage for an
    // input of another degree or chain, a level outside the chain or an array
    // without limbs 0 .. l; a non-host input throws the accelerator-only
    // failure for "modUp". On failure `out` is unchanged.
    void modUpPQ(const Polynomial &in, std::vector<Polynomial> &out) const;

    // sum_j digits[j] (bx_j, ax_j) over the extended basis at the digits'
    // level: polynomial 0 the body sum, polynomial 1 the mask sum, mod-up and
    // in NTT form. Throws RuntimeException, in this order:
    // utils::kEmptyOperandMessage / utils::kOperandDevicesMessage (the key is
    // not touched), then EvaluationKey::copyTo's messages for the digits'
    // device, kKeyDigitsMessage when the key holds fewer masks or bodies than
    // there are digits, kDigitShapeMessage when the digits disagree in level
    // or do not hold the extended basis, and the inner product's messages.
    CiphertextBase<EncryptionType::RLWE> multEvalKey(const std::vector<Polynomial> &digits,
                                                     EvaluationKey &key) const;

    // The multi-secret form: numSecret body sums (0 = the context's number of
    // secrets) and the mask sum last: body j sums the digits times secret
    // j's block of gadget-rank body parts of the key, the mask the digits
    // times the mask parts, over the extended basis (mod-up, NTT form) at the
    // digits' level. Other devices than the host reach the accelerator stub
    // ("innerProductCUDA") or "innerProductMSRLWE". Before the inner
    // product: the digit-list messages of multEvalKey,
    // kSecretCountMessage for a count above the context's number of secrets
    // (before anything is allocated), the key messages of multEvalKey, then
    // kKeySecretsMessage when the key holds fewer secrets than asked.
    CiphertextBase<EncryptionType::MSRLWE> multEvalKeyMSRLWE(const std::vector<Polynomial> &digits,
                                                             EvaluationKey &key,
                                                             std::uint64_t numSecret) const;

    // Key switching of modulus packing; no host implementation. Throws
    // utils::kEmptyOperandMessage, FastBaseConv::kNullOperandMessage,
    // utils::kOperandDevicesMessage, then "Cannot support the function
    // 'modPackKeySwitch' in the current build configuration".
    [[noreturn]] void modPackKeySwitch(const std::vector<const Polynomial *> &inputs,
                                       const ModPackKeyBundle &bundle) const;

    // One whole key switch: body and mask receive, word for word, what
    // modDown(multEvalKey(modUpPQ(in), key), ntt = true) gives for
    // polynomials 0 and 1, at in's level, not mod-up, in NTT form, on the
    // host. The switch runs prime by prime (FastBaseConv::keySwitchLimbs):
    // neither the digits nor the sums over the extended basis are stored,
    // and its scratch lives in a workspace the switcher keeps for the next
    // call (a few are kept for concurrent callers; a caller finding none
    // builds one), so a call touches no fresh memory once the outputs have
    // their shape. Outputs of another shape are replaced; either may be
    // `in`. Throws, before any
    // output is written: the messages of modUpPQ, kSameOutputMessage when
    // body and mask are one polynomial, EvaluationKey::copyTo's messages for
    // the host, kKeyDigitsMessage, and kKeyShapeMessage for key parts that do
    // not span the extended basis.
    void keySwitch(const Polynomial &in, EvaluationKey &key, Polynomial &body,
                   Polynomial &mask) const;

    // keySwitch of `in` (at level l >= 1) with add_body and add_mask added to
    // the two results and both rescaled by q_l: body and mask receive, word
    // for word, the rescales of add_body + the switched body and add_mask +
    // the switched mask, at level l - 1 in NTT form, in one pass over the
    // limbs. The addends are host polynomials of the context at level l in
    // NTT form. Outputs of another shape are replaced; either may be an
    // operand. Throws, before any output is written: the messages of
    // modUpPQ, kInputShapeMessage for level 0 or an addend that does not fit,
    // kSameOutputMessage when body and mask are one polynomial, then the key
    // messages of keySwitch.
    void keySwitchRescale(const Polynomial &in, EvaluationKey &key, const Polynomial &add_body,
                          const Polynomial &add_mask, Polynomial &body, Polynomial &mask) const;

    // The sum over c < count of the key switches of input(c) under
    // *keys[c], all at `level`, summed over the extended basis and divided
    // by P once; add_body and add_mask (both or neither; host polynomials of
    // the context at `level` in NTT form) are added to the two sums, and with
    // `rescale` both are then rescaled by q_level. body and mask receive,
    // word for word, what the switches one by one, the additions and the
    // rescale give, at level (level - 1 with rescale) in NTT form. input(c)
    // is called once per c, in order; the polynomial it returns is read
    // before the next call. No digit and no sum over the extended basis is
    // stored beyond one target limb's. Throws, before any output is written:
    // kInputShapeMessage for no input, a key count other than count, a level
    // outside the chain, level 0 with rescale, a rescale without addends or
    // addends that do not fit or are outputs; kSameOutputMessage when body
    // and mask are one polynomial; the key messages of keySwitch. An input
    // that fails the checks of keySwitch, is at another level or is an
    // output throws kInputShapeMessage (or the accelerator-only failure)
    // when it is reached, leaving the outputs unspecified.
    void keySwitchSum(std::uint64_t level, std::uint64_t count,
                      const std::function<const Polynomial &(std::uint64_t)> &input,
                      const std::vector<EvaluationKey *> &keys, const Polynomial *add_body,
                      const Polynomial *add_mask, bool rescale, Polynomial &body,
                      Polynomial &mask) const;

    // keySwitch for a polynomial whose digits modUpPQ already made, each
    // read through `permutation` (N words, word w of a limb taken from word
    // permutation[w]; null for none): with the NTT-order permutation of an
    // automorphism, body and mask equal keySwitch of the automorphism's
    // image of the polynomial, word for word, without raising it again.
    // Throws kDigitShapeMessage unless digits holds the digit count of its
    // level in the extended basis, all at one level, kSameOutputMessage when
    // body and mask are one polynomial or either is a digit, then the key
    // messages of keySwitch, before any output is written.
    void keySwitchDigits(const std::vector<Polynomial> &digits, const std::uint32_t *permutation,
                         EvaluationKey &key, Polynomial &body, Polynomial &mask) const;

    static constexpr const char *kSameOutputMessage =
        "[KeySwitcher] The two outputs must be different polynomials.";
    static constexpr const char *kKeyShapeMessage =
        "[KeySwitcher] The key parts do not fit the context.";

    const FastBaseConv &getFastBaseConv() const { return base_conv_; }
    const std::shared_ptr<ContextContent> &getContext() const { return context_; }

private:
    struct Workspace;
    class WorkspacePool;

    // Throws the accelerator-only failure for a non-host input and
    // kInputShapeMessage for one that does not fit the chain.
    void checkInput(const Polynomial &in) const;
    // True for a host polynomial in mod-up layout over the context's chain.
    bool fitsExtendedBasis(const Polynomial &p) const;
    // Gives p the shape of a plain host polynomial of the context at level.
    void shapeOutput(Polynomial &p, std::uint64_t level) const;
    // The key's first D mask and body parts on the host, checked
    // (kKeyDigitsMessage, kKeyShapeMessage).
    void hostKeyParts(EvaluationKey &key, std::uint64_t D,
                      std::vector<const std::uint64_t *> &mask_parts,
                      std::vector<const std::uint64_t *> &body_parts) const;
    // A workspace from the pool, or a new one big enough for any level.
    std::unique_ptr<Workspace> takeWorkspace() const;

    // Copies the key's parts to the digits' device and checks that the key
    // holds a mask and a body per digit and that the digits share one level
    // and span the extended basis. Returns the number of bodies held there.
    std::uint64_t prepareKey(const std::vector<Polynomial> &digits, EvaluationKey &key,
                             const Device &device) const;

    std::shared_ptr<ContextContent> context_;
    FastBaseConv base_conv_;
    RNSDecomposeData decompose_data_;
    std::vector<std::uint64_t> primes_;
    // Workspaces of keySwitch; handed out and back without a lock.
    std::unique_ptr<WorkspacePool> pool_;
};

} // namespace Quelt
