#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/KeyBundle.hpp"

#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;
class SStoMSBisectionKeyBundle;

// Conversions between single-secret (RLWE) and multi-secret (MSRLWE)
// ciphertexts by key switching with the keys of the key bundles. A
// multi-secret ciphertext holds one body per secret it carries and the shared
// mask last; it may carry fewer bodies than its context has secrets (a short
// ciphertext), and its polynomial count tells how many.
//
// The converter holds nothing: make one on the stack. Every operation builds
// its own key switcher over the relevant context for the call, so one
// converter serves any number of threads; the bundles are only read. Results
// are built apart from the outputs, which change only when an operation
// completes.
//
// SStoMS, IncreaseNS and SStoMSBisection switch keys with the multi-secret
// key switch, MStoSS with single-secret ones.
class MultiSecretConverter {
public:
    static constexpr const char *kSStoMSCount =
        "[MultiSecretConverter/SStoMS] The number of input ciphertexts does not match withthe "
        "number of num_secret of the target MSRLWE context";
    static constexpr const char *kSStoMSKeyMissing = "Failed to load the SStoMS key.";
    static constexpr const char *kSStoMSEmpty =
        "[MultiSecretConverter/SStoMS] The list of input ciphertexts is empty";
    static constexpr const char *kIncreaseNSCount =
        "[MultiSecretConverter/IncreaseNS] The number of input ciphertexts does not match withthe "
        "number of num_secret of the target MSRLWE context";
    static constexpr const char *kIncreaseNSDivide =
        "[MultiSecretConverter/IncreaseNS] The NS of secret_from does not divide the NS of "
        "secret_to";
    static constexpr const char *kIncreaseNSKeyMissing = "Failed to load the IncreaseNS key.";
    static constexpr const char *kIncreaseNSEmpty =
        "[MultiSecretConverter/IncreaseNS] The list of input ciphertexts is empty";
    static constexpr const char *kIncreaseNSBodies =
        "[MultiSecretConverter/IncreaseNS] An input ciphertext carries more bodies than the NS of "
        "secret_from";
    static constexpr const char *kIncreaseNSShortInput =
        "[MultiSecretConverter/IncreaseNS] Only the last input ciphertext may carry fewer bodies "
        "than the NS of secret_from";
    static constexpr const char *kMStoSSKeyMissing = "Failed to load the MStoSS key.";
    static constexpr const char *kIncompatibleContext =
        "[setContext] Input context is not compatible with the ciphertext.";
    static constexpr const char *kBisectionEmpty =
        "[MultiSecretConverter/SStoMSBisection] The list of input ciphertexts is empty";
    static constexpr const char *kBisectionFewSecrets =
        "[MultiSecretConverter/SStoMSBisection] The output context must have at least two "
        "secrets";
    static constexpr const char *kBisectionTooMany =
        "[MultiSecretConverter/SStoMSBisection] There are more input ciphertexts than the rounds "
        "can merge";
    static constexpr const char *kBisectionBundleShort =
        "[MultiSecretConverter/SStoMSBisection] The key bundle holds fewer steps than the rounds "
        "need";
    static constexpr const char *kSStoMSNotNTT =
        "[MultiSecretConverter/SStoMS] The input ciphertexts must be in NTT form";
    static constexpr const char *kIncreaseNSNotNTT =
        "[MultiSecretConverter/IncreaseNS] The input ciphertexts must be in NTT form";
    static constexpr const char *kMStoSSNotNTT =
        "[MultiSecretConverter/MStoSS] The input ciphertext must be in NTT form";
    static constexpr const char *kBisectionNotNTT =
        "[MultiSecretConverter/SStoMSBisection] The input ciphertexts must be in NTT form";
    // The result carries one rescale counter, slot count and encoding for
    // all its bodies: inputs that differ in them would decrypt to other
    // values than they hold.
    static constexpr const char *kSStoMSMetadata =
        "[MultiSecretConverter/SStoMS] The input ciphertexts must share one rescale counter, "
        "number of slots and encoding type";
    static constexpr const char *kIncreaseNSMetadata =
        "[MultiSecretConverter/IncreaseNS] The input ciphertexts must share one rescale counter, "
        "number of slots and encoding type";
    static constexpr const char *kBisectionMetadata =
        "[MultiSecretConverter/SStoMSBisection] The input ciphertexts must share one rescale "
        "counter, number of slots and encoding type";

    // n = ctxts.size() ciphertexts into one of n bodies in ctxt_out's
    // context: input i's mask switched by SStoMS key i, the switched parts
    // summed over the extended basis and divided by P once, body i added.
    // The result takes the first input's log slots, rescale counter and
    // encoding type. Throws kSStoMSEmpty; kSStoMSCount when the context has
    // fewer than n secrets; kSStoMSNotNTT when an input is in coefficient
    // form (its body could not be added to the switched parts);
    // kSStoMSMetadata when an input's rescale counter, log slots or encoding
    // type differs from the first input's; then, per
    // input, kSStoMSKeyMissing for an empty key (std::out_of_range for a
    // bundle without key i) before its switch.
    void SStoMS(const std::vector<CiphertextBase<EncryptionType::RLWE>> &ctxts,
                const SStoMSKeyBundle &keys,
                CiphertextBase<EncryptionType::MSRLWE> &ctxt_out) const;

    // m multi-secret ciphertexts of ns_from secrets (the first input's
    // context) into one of ctxt_out's ns_to secrets: the bodies of input j go
    // to positions j ns_from + b; the result carries (m - 1) ns_from +
    // (bodies of the last input) bodies, one per input body and no more (so
    // ns_to of them when m = ns_to / ns_from inputs are all full), and the
    // first input's log slots, counter and encoding. Throws
    // kIncreaseNSEmpty; kIncreaseNSCount when ns_to / ns_from < m, then
    // kIncreaseNSDivide when ns_from does not divide ns_to;
    // kIncreaseNSBodies for an input of more than ns_from bodies;
    // kIncreaseNSShortInput for an input other than the last with fewer
    // (its missing bodies would decrypt to noise in the middle of the
    // result); kIncreaseNSNotNTT for an input in coefficient form;
    // kIncreaseNSMetadata for an input whose rescale counter, log slots or
    // encoding type differs from the first's; then, per input,
    // kIncreaseNSKeyMissing before its switch.
    void IncreaseNS(const std::vector<CiphertextBase<EncryptionType::MSRLWE>> &ctxts,
                    const IncreaseNSKeyBundle &keys,
                    CiphertextBase<EncryptionType::MSRLWE> &ctxt_out) const;

    // One single-secret ciphertext of context_ss per body of ctxt (k of
    // them, fewer for a short ciphertext): the mask is decomposed once, and
    // output i is its switch by MStoSS key i, divided by P, plus body i.
    // ctxts_out is replaced; every output takes ctxt's log slots, rescale
    // counter and encoding type. Throws, before anything is computed,
    // kMStoSSNotNTT when ctxt is in coefficient form, kIncompatibleContext
    // unless context_ss has ctxt's degree and the same primes (and
    // transforms) at 0 .. ctxt's level, and kMStoSSKeyMissing when the
    // bundle has no key for a body.
    void MStoSS(const CiphertextBase<EncryptionType::MSRLWE> &ctxt, const MStoSSKeyBundle &keys,
                const std::shared_ptr<ContextContent> &context_ss,
                std::vector<CiphertextBase<EncryptionType::RLWE>> &ctxts_out) const;

    // The inputs merged pairwise in R = floor(log2 k) rounds (k the number
    // of secrets of ctxt_out's context): R = 1 is one SStoMS into ctxt_out's
    // context; otherwise round 0 merges pairs by SStoMS into the bundle's
    // first multi-secret context and round r pairs of the previous results by
    // IncreaseNS into context r, an odd last input carried alone; ctxt_out
    // becomes the result, in the bundle's context R - 1, with the first
    // input's encoding type and one body per input (a short ciphertext when
    // there are fewer inputs than the context's secrets). Throws, before the
    // first key switch, kBisectionEmpty, kBisectionFewSecrets (k < 2),
    // kBisectionNotNTT for an input in coefficient form, kBisectionMetadata
    // for an input whose rescale counter, log slots or encoding type differs
    // from the first's, then for R >= 2
    // kBisectionTooMany (more than 2^R inputs) and kBisectionBundleShort; the
    // messages of SStoMS and IncreaseNS follow.
    void SStoMSBisection(const std::vector<CiphertextBase<EncryptionType::RLWE>> &ctxts,
                         const SStoMSBisectionKeyBundle &keys,
                         CiphertextBase<EncryptionType::MSRLWE> &ctxt_out) const;
};

} // namespace Quelt
