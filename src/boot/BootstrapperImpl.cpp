#include "boot/BootstrapperImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "arith/Modulus.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace Quelt {

namespace {

using u64 = std::uint64_t;

std::string missingConstantsMessage(u64 log_slots) {
    return BootstrapperImpl::kMissingConstantsPrefix + std::to_string(log_slots) +
           BootstrapperImpl::kMissingConstantsSuffix;
}

} // namespace

BootstrapperImpl::BootstrapperImpl(const HomEvaluator &eval, bool min_key,
                                   std::optional<u64> log_slots)
    : context_(detail::HomEvaluatorAccess::context(eval)),
      eval_(detail::HomEvaluatorAccess::impl(eval)), boot_param_(context_),
      fused_raise_(context_, eval_), sparse_raise_(context_, nullptr), min_key_(min_key),
      fast_remove_i_(context_), outsourced_(context_), multi_secret_(*this) {
    construct(log_slots, false);
}

BootstrapperImpl::BootstrapperImpl(const HomEvaluator &eval,
                                   const std::shared_ptr<ContextContent> &context_sparse,
                                   bool min_key, std::optional<u64> log_slots)
    : context_(detail::HomEvaluatorAccess::context(eval)),
      eval_(detail::HomEvaluatorAccess::impl(eval)), boot_param_(context_),
      fused_raise_(context_, eval_), sparse_raise_(context_, context_sparse), min_key_(min_key),
      fast_remove_i_(context_), outsourced_(context_), multi_secret_(*this) {
    construct(log_slots, true);
}

BootstrapperImpl::~BootstrapperImpl() = default;

namespace {

// Whether the preset has a sparse-secret companion to raise the modulus with
// (a preset may carry the flag and serve only as another road's ring).
bool hasSparseCompanion(ParameterPreset preset) {
    try {
        getSparseParameterPresetFor(preset);
        return true;
    } catch (const RuntimeException &) {
        return false;
    }
}

} // namespace

void BootstrapperImpl::construct(std::optional<u64> log_slots, bool sparse_checks) {
    if (!isBootstrappableParameter(context_))
        throw RuntimeException(kNotBootstrappableMessage);
    const Parameter &parameter = context_->getParameter();
    // An outsourcing companion flagged for the sparse-secret raise without a
    // sparse companion (KAPLO_3_BTS_OUTSOURCE_REAL) can never raise.
    if (parameter.outsourcing_parameter && parameter.sparse_secret_encapsulation &&
        parameter.preset != ParameterPreset::CUSTOM && !hasSparseCompanion(parameter.preset))
        throw RuntimeException(kNoSparseCompanionPrefix + parameter.name +
                               kNoSparseCompanionMiddle +
                               (parameter.parent_preset ? Parameter(*parameter.parent_preset).name
                                                        : std::string("another preset")));
    if (sparse_checks)
        sparse_raise_.checkCompanion();
    boot_constants_[0].reset();
    makeBootConstants(log_slots ? *log_slots : getLogFullSlots(context_));
    if (isFuseModRaiseSupported(context_))
        initFuseModRaise();
}

// ---- Constants ---------------------------------------------------------------

bool BootstrapperImpl::isBootstrapReady(u64 log_slots) const {
    return log_slots == 0 || boot_constants_.count(log_slots) != 0;
}

const BootConstants *BootstrapperImpl::findBootConstants(u64 log_slots) const {
    const auto it = boot_constants_.find(log_slots);
    return it == boot_constants_.end() ? nullptr : it->second.get();
}

void BootstrapperImpl::makeBootConstants(u64 log_slots) {
    if (log_slots == 0) {
        boot_constants_[0].reset();
        return;
    }
    const u64 full = getLogFullSlots(context_);
    if (log_slots > full)
        throw RuntimeException(kLogSlotsTooLargeMessage + std::to_string(full));
    // The fused modulus raise multiplies the first CoeffToSlot step of the
    // full slot count into the raised ciphertext; constants of fewer slots
    // would be built but give wrong results.
    if (log_slots < full && isFuseModRaiseSupported(context_))
        throw RuntimeException(kFusedSparseSlotsMessage + std::to_string(full) +
                               kFusedSparseSlotsSuffix);
    if (boot_constants_.count(log_slots) != 0)
        return;
    auto constants = std::make_unique<BootConstants>(log_slots, context_, boot_param_);
    boot_constants_.emplace(log_slots, std::move(constants));
}

BootConstants &BootstrapperImpl::constantsForList(u64 log_slots,
                                                  const std::vector<u64> &log_dft_sizes) {
    if (log_dft_sizes.empty() || log_dft_sizes.back() != log_slots)
        throw RuntimeException(kDftSizesMismatchMessage);
    const auto it = boot_constants_.find(log_slots);
    if (it == boot_constants_.end() || !it->second)
        throw RuntimeException(missingConstantsMessage(log_slots));
    return *it->second;
}

void BootstrapperImpl::makeBootConstants(u64 log_slots, const std::vector<u64> &log_dft_sizes,
                                         const std::vector<u64> &levels,
                                         std::optional<double> scale) {
    constantsForList(log_slots, log_dft_sizes)
        .generateDFTEncodingsForS2C(boot_param_, log_dft_sizes, levels, scale);
}

std::vector<std::vector<Message>>
BootstrapperImpl::getMessageV0Diagonals(u64 log_slots, const std::vector<u64> &log_dft_sizes) {
    BootConstants &constants = constantsForList(log_slots, log_dft_sizes);
    constants.generateDFTMessagesForS2C(boot_param_, log_dft_sizes);
    return constants.getMsgV0(log_dft_sizes);
}

BootConstants *BootstrapperImpl::constantsForPlacement(u64 log_slots) {
    if (log_slots == 0)
        return nullptr;
    const auto it = boot_constants_.find(log_slots);
    if (it == boot_constants_.end() || !it->second)
        throw RuntimeException(missingConstantsMessage(log_slots));
    return it->second.get();
}

void BootstrapperImpl::loadBootConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->copyToIfNotExists(device);
}

void BootstrapperImpl::loadS2CConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->copyToIfNotExistsV0(device);
}

void BootstrapperImpl::loadC2SConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->copyToIfNotExistsInvV0(device);
}

void BootstrapperImpl::removeExceptS2CConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->removeExceptV0(device);
}

void BootstrapperImpl::removeExceptC2SConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->removeExceptInvV0(device);
}

// ---- Levels --------------------------------------------------------------------

u64 BootstrapperImpl::getMinLevelForBootstrap() const { return isCoeffBoot(context_) ? 0 : 3; }

u64 BootstrapperImpl::getLevelAfterFullSlotBootstrap() const {
    const Parameter &parameter = context_->getParameter();
    if (parameter.small_parameter)
        return 12;
    u64 arcsine_levels = 0;
    switch (boot_param_.arcsine_degree) {
    case 1:
        arcsine_levels = 0;
        break;
    case 3:
        arcsine_levels = 2;
        break;
    case 7:
        arcsine_levels = 3;
        break;
    default:
        throw RuntimeException(kArcsineDegreeMessage);
    }
    const u64 consumed = boot_param_.cosine_log_blocks +
                         (boot_param_.scale_before_remove_i ? 1 : 0) + arcsine_levels + 7 +
                         boot_param_.num_double_angle + 2 * (isReRemoveI(context_) ? 1 : 0);
    if (consumed > parameter.chain_length)
        throw RuntimeException(kLevelBudgetMessage);
    return parameter.chain_length - consumed;
}

// ---- Modes ---------------------------------------------------------------------

void BootstrapperImpl::enableOutsourcing(const std::shared_ptr<BootstrapperImpl> &inner,
                                         const std::shared_ptr<HomEvaluatorImpl> &eval) {
    outsourced_.enable(inner, eval);
}

void BootstrapperImpl::setStatusUseMultiplyConstBeforeS2C(bool use) {
    use_multiply_const_before_S2C_ = use;
    if (outsourced_.getInner())
        outsourced_.getInner()->use_multiply_const_before_S2C_ = use;
}

// ---- Helpers of the bootstrap roads ------------------------------------------------

double
BootstrapperImpl::computeModulusSwitchCompensation(const std::shared_ptr<ContextContent> &ctx_a,
                                                   const std::shared_ptr<ContextContent> &ctx_b,
                                                   u64 level_a, u64 level_b) {
    if (level_a >= getLength(ctx_a) || level_b >= getLength(ctx_b))
        throw RuntimeException(kCompensationLevelMessage);
    const std::vector<u64> primes_a = getPrimeList(ctx_a);
    const std::vector<u64> primes_b = getPrimeList(ctx_b);
    double ratio = 1.0;
    for (u64 i = 0; i <= level_a; ++i) {
        ratio *= static_cast<double>(primes_a[i]);
        if (!std::isfinite(ratio))
            throw RuntimeException(kCompensationNotFiniteMessage);
    }
    for (u64 i = 0; i <= level_b; ++i)
        ratio /= static_cast<double>(primes_b[i]);
    if (!std::isfinite(ratio))
        throw RuntimeException(kCompensationNotFiniteMessage);
    return ratio;
}

std::vector<u64> BootstrapperImpl::convertFromSgnIdx(const std::vector<i64> &indices,
                                                     const std::shared_ptr<ContextContent> &ctx) {
    const u64 mask = (u64{1} << getLogFullSlots(ctx)) - 1;
    std::vector<u64> out;
    out.reserve(indices.size());
    for (const i64 index : indices)
        out.push_back(static_cast<u64>(index) & mask);
    return out;
}

} // namespace Quelt
