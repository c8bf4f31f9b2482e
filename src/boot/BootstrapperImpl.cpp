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
#include <limits>
#include <string>
#include <utility>

namespace Quelt {

BootstrapperImpl::BootstrapperImpl(const HomEvaluator &eval, bool min_key,
                                   std::optional<u64> log_slots)
    : context_(detail::HomEvaluatorAccess::context(eval)),
      eval_(detail::HomEvaluatorAccess::impl(eval)), boot_param_(context_),
      fused_raise_(context_, eval_), constants_(context_, boot_param_),
      sparse_raise_(context_, nullptr), modes_{min_key}, fast_remove_i_(context_),
      outsourced_(context_), transforms_(*this), pipeline_(*this), multi_secret_(*this) {
    construct(log_slots, false);
}

BootstrapperImpl::BootstrapperImpl(const HomEvaluator &eval,
                                   const std::shared_ptr<ContextContent> &context_sparse,
                                   bool min_key, std::optional<u64> log_slots)
    : context_(detail::HomEvaluatorAccess::context(eval)),
      eval_(detail::HomEvaluatorAccess::impl(eval)), boot_param_(context_),
      fused_raise_(context_, eval_), constants_(context_, boot_param_),
      sparse_raise_(context_, context_sparse), modes_{min_key}, fast_remove_i_(context_),
      outsourced_(context_), transforms_(*this), pipeline_(*this), multi_secret_(*this) {
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
    constants_.makeBootConstants(log_slots ? *log_slots : getLogFullSlots(context_));
    if (isFuseModRaiseSupported(context_))
        initFuseModRaise();
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
    modes_.multiply_const_before_s2c = use;
    if (outsourced_.getInner())
        outsourced_.getInner()->modes_.multiply_const_before_s2c = use;
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

BootstrapperImpl::i64 BootstrapperImpl::multiplier(u64 value) {
    if (value > static_cast<u64>(std::numeric_limits<i64>::max()))
        throw RuntimeException(kMultiplierMessage);
    return static_cast<i64>(value);
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
