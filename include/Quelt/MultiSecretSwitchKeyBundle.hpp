#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/KeyBundle.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Quelt {

class ContextContent;

namespace detail {
struct KeyBundleAssembly;
}

// The keys that merge single-secret ciphertexts into one multi-secret
// ciphertext by doubling the number of secrets step by step: an SStoMS bundle
// for the first merge into two secrets, then one IncreaseNS bundle of two
// keys per doubling, with the single-secret context and the multi-secret
// context of every step (context i has 2^(i+1) secrets).
//
// Stored form (one archive): the byte-order byte, the SStoMS bundle's body,
// u64 step count n, then n IncreaseNS bodies; key identifiers are numbered
// across the whole record. No context is stored. A load reads everything
// into new lists and commits only when the whole record is read. The step
// count must be the bundle's own (KeyBundleMessages::kCountMismatch
// otherwise), and every body is checked as KeyBundle.hpp describes for a
// bundle over its context.
class SStoMSBisectionKeyBundle {
public:
    static constexpr const char *kContextMismatch =
        "[SStoMSBisectionKeyBundle] Context mismatch. Make sure the contexts are well aligned.";

    // From the single-secret context and the list of multi-secret contexts.
    // With m = floor(log2(secrets of the last context)), the list must hold
    // m contexts, context i with 2^(i+1) secrets for i < m - 1; else (also
    // for an empty list and m = 0) kContextMismatch, before anything is made.
    // The SStoMS bundle is made over the first context, IncreaseNS bundle i
    // (two keys) over context i.
    SStoMSBisectionKeyBundle(const std::shared_ptr<ContextContent> &ss,
                             const std::vector<std::shared_ptr<ContextContent>> &ms);
    // From one multi-secret context of a preset p: the single-secret context
    // is p's context (p's single-secret variant when p itself has several
    // secrets), the steps are p's variants named <name>NS2.000000,
    // <name>NS4.000000, ... with 2, 4, ... secrets, and `ms` is the last.
    // A context of one secret throws kContextMismatch; a CUSTOM context the
    // preset lookup's message.
    explicit SStoMSBisectionKeyBundle(const std::shared_ptr<ContextContent> &ms);

    SStoMSKeyBundle &getSStoMSKeyBundle() { return sstoms_; }
    const SStoMSKeyBundle &getSStoMSKeyBundle() const { return sstoms_; }
    // IncreaseNS bundle i; std::out_of_range for i not below the step count.
    IncreaseNSKeyBundle &getIncreaseNSKeyBundle(std::uint64_t i) { return increase_ns_.at(i); }
    const IncreaseNSKeyBundle &getIncreaseNSKeyBundle(std::uint64_t i) const {
        return increase_ns_.at(i);
    }
    std::vector<IncreaseNSKeyBundle> &getIncreaseNSKeyBundleVec() { return increase_ns_; }
    const std::vector<IncreaseNSKeyBundle> &getIncreaseNSKeyBundleVec() const {
        return increase_ns_;
    }
    // Multi-secret context i; std::out_of_range for i not below their count.
    const std::shared_ptr<ContextContent> &getMSContext(std::uint64_t i) const {
        return ms_contexts_.at(i);
    }
    const std::shared_ptr<ContextContent> &getSSContext() const { return ss_context_; }

    // The SStoMS bundle, then every IncreaseNS bundle, to `device`.
    void to(const Device &device);

    void save(std::ostream &stream) const;
    void load(std::istream &stream);
    void serialize(cereal::PortableBinaryOutputArchive &archive) const;
    void serialize(cereal::PortableBinaryInputArchive &archive);

private:
    friend struct detail::KeyBundleAssembly;
    SStoMSBisectionKeyBundle(std::shared_ptr<ContextContent> ss,
                             std::vector<std::shared_ptr<ContextContent>> ms,
                             SStoMSKeyBundle sstoms, std::vector<IncreaseNSKeyBundle> increase_ns);

    std::shared_ptr<ContextContent> ss_context_;
    std::vector<std::shared_ptr<ContextContent>> ms_contexts_;
    SStoMSKeyBundle sstoms_;
    std::vector<IncreaseNSKeyBundle> increase_ns_;
};

// A single-secret and a multi-secret context with the MStoSS bundle from the
// multi-secret context back to single secrets and the bisection bundle into
// it. Made from four contexts it also holds the third and fourth contexts and
// a second MStoSS bundle, the 'complex' one.
//
// Stored form (stream and file alike, one archive): the byte-order byte, the
// MStoSS body, then the bisection body (its step count and bodies), key
// identifiers numbered across the whole record. Neither contexts nor the
// 'complex' bundle are stored: after a load the 'complex' bundle is absent.
// A load commits only when the whole record is read.
class MultiSecretSwitchKeyBundle {
public:
    static constexpr const char *kNoComplexBundle =
        "[MultiSecretSwitchKeyBundle] The complex bundle is not present";

    // MStoSS bundle over `ms`, bisection bundle SStoMSBisectionKeyBundle(ms).
    MultiSecretSwitchKeyBundle(const std::shared_ptr<ContextContent> &ss,
                               const std::shared_ptr<ContextContent> &ms);
    // Single-secret context c1, multi-secret context c2; MStoSS bundle over
    // c4, bisection bundle SStoMSBisectionKeyBundle(c2), 'complex' bundle
    // over c1.
    MultiSecretSwitchKeyBundle(const std::shared_ptr<ContextContent> &c1,
                               const std::shared_ptr<ContextContent> &c2,
                               const std::shared_ptr<ContextContent> &c3,
                               const std::shared_ptr<ContextContent> &c4);

    MStoSSKeyBundle &getMStoSSKeyBundle() { return mstoss_; }
    const MStoSSKeyBundle &getMStoSSKeyBundle() const { return mstoss_; }
    SStoMSBisectionKeyBundle &getSStoMSBisectionKeyBundle() { return bisection_; }
    const SStoMSBisectionKeyBundle &getSStoMSBisectionKeyBundle() const { return bisection_; }
    // The 'complex' bundle; RuntimeException kNoComplexBundle when absent.
    MStoSSKeyBundle &getMStoSSKeyBundleComplex();
    const MStoSSKeyBundle &getMStoSSKeyBundleComplex() const;
    const std::shared_ptr<ContextContent> &getMSContext() const { return ms_context_; }
    const std::shared_ptr<ContextContent> &getSSContext() const { return ss_context_; }

    // The MStoSS bundle, the bisection bundle and the 'complex' bundle when
    // present, to `device`.
    void to(const Device &device);

    void save(std::ostream &stream) const;
    void save(const std::string &path) const;
    void load(std::istream &stream);
    void load(const std::string &path);
    void serialize(cereal::PortableBinaryOutputArchive &archive) const;
    void serialize(cereal::PortableBinaryInputArchive &archive);

private:
    friend struct detail::KeyBundleAssembly;
    MultiSecretSwitchKeyBundle(std::shared_ptr<ContextContent> ss,
                               std::shared_ptr<ContextContent> ms,
                               std::optional<std::shared_ptr<ContextContent>> third,
                               std::optional<std::shared_ptr<ContextContent>> fourth,
                               MStoSSKeyBundle mstoss, SStoMSBisectionKeyBundle bisection,
                               std::optional<MStoSSKeyBundle> complex);

    std::shared_ptr<ContextContent> ss_context_;
    std::shared_ptr<ContextContent> ms_context_;
    std::optional<std::shared_ptr<ContextContent>> third_context_;
    std::optional<std::shared_ptr<ContextContent>> fourth_context_;
    MStoSSKeyBundle mstoss_;
    SStoMSBisectionKeyBundle bisection_;
    std::optional<MStoSSKeyBundle> complex_;
};

} // namespace Quelt
