// The bisection bundle (an SStoMS bundle and one IncreaseNS bundle per
// doubling of the number of secrets) and the multi-secret switch bundle that
// pairs it with an MStoSS bundle.

#include "Quelt/MultiSecretSwitchKeyBundle.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "keys/KeyBundleAssembly.hpp"
#include "keys/Serialize.hpp"

#include <cmath>
#include <utility>

namespace Quelt {

namespace {

using ContextList = std::vector<std::shared_ptr<ContextContent>>;

// floor(log2(x)) in double precision, 0 for x = 0 as for x = 1: the number of
// doublings that lead from one secret to (at most) x.
u64 doublings(u64 secrets) {
    return secrets < 2 ? 0 : static_cast<u64>(std::log2(static_cast<double>(secrets)));
}

// The number of doublings of a multi-secret context, at least one.
u64 requireDoublings(const std::shared_ptr<ContextContent> &ms) {
    const u64 m = doublings(getNumSecret(ms));
    if (m == 0)
        throw RuntimeException(SStoMSBisectionKeyBundle::kContextMismatch);
    return m;
}

const ContextList &checkedContexts(const ContextList &ms) {
    detail::KeyBundleAssembly::checkBisectionContexts(ms);
    return ms;
}

std::vector<IncreaseNSKeyBundle> emptySteps(const ContextList &ms) {
    std::vector<IncreaseNSKeyBundle> steps;
    steps.reserve(ms.size() - 1);
    for (u64 i = 0; i + 1 < ms.size(); ++i)
        steps.emplace_back(ms[i], 2);
    return steps;
}

// The single-secret context of a preset's multi-secret context: the preset's
// own context, or its one-secret variant when the preset has several secrets.
std::shared_ptr<ContextContent> singleSecretOf(const std::shared_ptr<ContextContent> &ms) {
    requireDoublings(ms);
    const ParameterPreset preset = getParameterPreset(ms);
    const std::set<int> ids = deviceSet2CudaDeviceIds(ms->getDevices());
    const Parameter record(preset);
    if (record.num_secret == 1)
        return makeContext(preset, ids);
    return makeContext(preset, record.name, 1, false, false, ids);
}

// The preset's variants with 2, 4, ..., 2^(m-1) secrets, then `ms`.
ContextList stepContexts(const std::shared_ptr<ContextContent> &ms) {
    const u64 m = requireDoublings(ms);
    const ParameterPreset preset = getParameterPreset(ms);
    const std::set<int> ids = deviceSet2CudaDeviceIds(ms->getDevices());
    const std::string name = getParameterName(ms);
    ContextList contexts;
    contexts.reserve(m);
    for (u64 j = 1; j < m; ++j) {
        const u64 secrets = u64{1} << j;
        contexts.push_back(makeContext(preset,
                                       name + "NS" + std::to_string(static_cast<double>(secrets)),
                                       secrets, false, false, ids));
    }
    contexts.push_back(ms);
    return contexts;
}

} // namespace

// ---------------------------------------------------------------------------

void detail::KeyBundleAssembly::checkBisectionContexts(const ContextList &ms) {
    if (ms.empty())
        throw RuntimeException(SStoMSBisectionKeyBundle::kContextMismatch);
    const u64 m = requireDoublings(ms.back());
    if (ms.size() != m)
        throw RuntimeException(SStoMSBisectionKeyBundle::kContextMismatch);
    for (u64 i = 0; i + 1 < m; ++i)
        if (getNumSecret(ms[i]) != u64{2} << i)
            throw RuntimeException(SStoMSBisectionKeyBundle::kContextMismatch);
}

SStoMSBisectionKeyBundle
detail::KeyBundleAssembly::bisection(std::shared_ptr<ContextContent> ss, ContextList ms,
                                     SStoMSKeyBundle sstoms,
                                     std::vector<IncreaseNSKeyBundle> increase_ns) {
    return SStoMSBisectionKeyBundle(std::move(ss), std::move(ms), std::move(sstoms),
                                    std::move(increase_ns));
}

MultiSecretSwitchKeyBundle detail::KeyBundleAssembly::multiSecretSwitch(
    std::shared_ptr<ContextContent> ss, std::shared_ptr<ContextContent> ms,
    std::optional<std::shared_ptr<ContextContent>> third,
    std::optional<std::shared_ptr<ContextContent>> fourth, MStoSSKeyBundle mstoss,
    SStoMSBisectionKeyBundle bisection, std::optional<MStoSSKeyBundle> complex) {
    return MultiSecretSwitchKeyBundle(std::move(ss), std::move(ms), std::move(third),
                                      std::move(fourth), std::move(mstoss), std::move(bisection),
                                      std::move(complex));
}

// ---------------------------------------------------------------------------

SStoMSBisectionKeyBundle::SStoMSBisectionKeyBundle(const std::shared_ptr<ContextContent> &ss,
                                                   const ContextList &ms)
    : ss_context_(ss), ms_contexts_(checkedContexts(ms)), sstoms_(ms_contexts_.front()),
      increase_ns_(emptySteps(ms_contexts_)) {}

SStoMSBisectionKeyBundle::SStoMSBisectionKeyBundle(const std::shared_ptr<ContextContent> &ms)
    : SStoMSBisectionKeyBundle(singleSecretOf(ms), stepContexts(ms)) {}

SStoMSBisectionKeyBundle::SStoMSBisectionKeyBundle(std::shared_ptr<ContextContent> ss,
                                                   ContextList ms, SStoMSKeyBundle sstoms,
                                                   std::vector<IncreaseNSKeyBundle> increase_ns)
    : ss_context_(std::move(ss)), ms_contexts_(std::move(ms)), sstoms_(std::move(sstoms)),
      increase_ns_(std::move(increase_ns)) {}

void SStoMSBisectionKeyBundle::to(const Device &device) {
    sstoms_.to(device);
    for (IncreaseNSKeyBundle &step : increase_ns_)
        step.to(device);
}

void SStoMSBisectionKeyBundle::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void SStoMSBisectionKeyBundle::load(std::istream &stream) { Serialize::load(stream, *this); }

void SStoMSBisectionKeyBundle::serialize(cereal::PortableBinaryOutputArchive &archive) const {
    sstoms_.serialize(archive);
    archive(static_cast<u64>(increase_ns_.size()));
    for (const IncreaseNSKeyBundle &step : increase_ns_)
        step.serialize(archive);
}

void SStoMSBisectionKeyBundle::serialize(cereal::PortableBinaryInputArchive &archive) {
    // Copies share the keys; each reads its body into a new list, and the
    // bundle takes them only once the whole record is read.
    SStoMSKeyBundle sstoms = sstoms_;
    sstoms.serialize(archive);
    u64 count = 0;
    archive(count);
    // One step per doubling of the number of secrets, as the bundle was made.
    if (count != increase_ns_.size())
        throw RuntimeException(KeyBundleMessages::kCountMismatch);
    std::vector<IncreaseNSKeyBundle> steps;
    steps.reserve(count);
    for (u64 i = 0; i < count; ++i) {
        IncreaseNSKeyBundle step = increase_ns_[i];
        step.serialize(archive);
        steps.push_back(std::move(step));
    }
    sstoms_ = std::move(sstoms);
    increase_ns_ = std::move(steps);
}

// ---------------------------------------------------------------------------

namespace {

const std::shared_ptr<ContextContent> &
checkedMultiSecret(const std::shared_ptr<ContextContent> &ms) {
    requireDoublings(ms);
    return ms;
}

} // namespace

MultiSecretSwitchKeyBundle::MultiSecretSwitchKeyBundle(const std::shared_ptr<ContextContent> &ss,
                                                       const std::shared_ptr<ContextContent> &ms)
    : ss_context_(ss), ms_context_(checkedMultiSecret(ms)), mstoss_(ms), bisection_(ms) {}

MultiSecretSwitchKeyBundle::MultiSecretSwitchKeyBundle(const std::shared_ptr<ContextContent> &c1,
                                                       const std::shared_ptr<ContextContent> &c2,
                                                       const std::shared_ptr<ContextContent> &c3,
                                                       const std::shared_ptr<ContextContent> &c4)
    : ss_context_(c1), ms_context_(checkedMultiSecret(c2)), third_context_(c3), fourth_context_(c4),
      mstoss_(c4), bisection_(c2), complex_(MStoSSKeyBundle(c1)) {}

MultiSecretSwitchKeyBundle::MultiSecretSwitchKeyBundle(
    std::shared_ptr<ContextContent> ss, std::shared_ptr<ContextContent> ms,
    std::optional<std::shared_ptr<ContextContent>> third,
    std::optional<std::shared_ptr<ContextContent>> fourth, MStoSSKeyBundle mstoss,
    SStoMSBisectionKeyBundle bisection, std::optional<MStoSSKeyBundle> complex)
    : ss_context_(std::move(ss)), ms_context_(std::move(ms)), third_context_(std::move(third)),
      fourth_context_(std::move(fourth)), mstoss_(std::move(mstoss)),
      bisection_(std::move(bisection)), complex_(std::move(complex)) {}

MStoSSKeyBundle &MultiSecretSwitchKeyBundle::getMStoSSKeyBundleComplex() {
    if (!complex_)
        throw RuntimeException(kNoComplexBundle);
    return *complex_;
}

const MStoSSKeyBundle &MultiSecretSwitchKeyBundle::getMStoSSKeyBundleComplex() const {
    if (!complex_)
        throw RuntimeException(kNoComplexBundle);
    return *complex_;
}

void MultiSecretSwitchKeyBundle::to(const Device &device) {
    mstoss_.to(device);
    bisection_.to(device);
    if (complex_)
        complex_->to(device);
}

void MultiSecretSwitchKeyBundle::save(std::ostream &stream) const {
    Serialize::save(stream, *this);
}
void MultiSecretSwitchKeyBundle::save(const std::string &path) const {
    Serialize::save(path, *this);
}
void MultiSecretSwitchKeyBundle::load(std::istream &stream) { Serialize::load(stream, *this); }
void MultiSecretSwitchKeyBundle::load(const std::string &path) { Serialize::load(path, *this); }

void MultiSecretSwitchKeyBundle::serialize(cereal::PortableBinaryOutputArchive &archive) const {
    mstoss_.serialize(archive);
    bisection_.serialize(archive);
}

void MultiSecretSwitchKeyBundle::serialize(cereal::PortableBinaryInputArchive &archive) {
    MStoSSKeyBundle mstoss = mstoss_;
    mstoss.serialize(archive);
    SStoMSBisectionKeyBundle bisection = bisection_;
    bisection.serialize(archive);
    mstoss_ = std::move(mstoss);
    bisection_ = std::move(bisection);
    // The record does not carry the 'complex' bundle.
    complex_.reset();
}

} // namespace Quelt
