// The outsourced road's state: its enable step with the checks of the inner
// bootstrapper and the output evaluator, and the refusals of an empty road.

#include "boot/OutsourcedRoad.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <cmath>
#include <string>
#include <utility>

namespace Quelt {

OutsourcedRoad::OutsourcedRoad(std::shared_ptr<ContextContent> context)
    : context_(std::move(context)) {}

void OutsourcedRoad::enable(const std::shared_ptr<BootstrapperImpl> &inner,
                            const std::shared_ptr<HomEvaluatorImpl> &eval) {
    using B = BootstrapperImpl;
    if (!isOutsourcedBootstrapSupported(context_))
        throw RuntimeException(B::kNoOutsourcingMessage);
    const std::shared_ptr<ContextContent> inner_context = inner->getContext();
    if (getParameterPreset(inner_context) !=
        getOutsourcingParameterPresetFor(getParameterPreset(context_)))
        throw RuntimeException(B::kOutsourcingMismatchMessage);
    const std::shared_ptr<ContextContent> &output_context = eval->getContext();
    if (output_context->getParameter().small_parameter || getNumSecret(output_context) >= 2)
        throw RuntimeException(B::kOutputEvaluatorMessage);
    // The inner result is switched from the inner modulus at its output
    // level to the output chain's at its encryption level: where the first is
    // the smaller, the switch multiplies the inner bootstrap's error by the
    // ratio, which a few bits of slack cover and more do not.
    const double ratio = B::computeModulusSwitchCompensation(
        inner_context, output_context, inner->getLevelAfterFullSlotBootstrap(),
        getEncryptionLevel(output_context));
    const double short_bits = -std::log2(ratio);
    if (short_bits > B::kMaxShortInnerModulusBits)
        throw RuntimeException(B::kShortInnerModulusPrefix + inner_context->getParameter().name +
                               B::kShortInnerModulusMiddle +
                               std::to_string(static_cast<long>(std::lround(short_bits))) +
                               B::kShortInnerModulusSuffix);
    output_evaluator_ = eval;
    inner_ = inner;
}

const BootstrapperImpl &OutsourcedRoad::requireInner() const {
    if (!inner_)
        throw RuntimeException(BootstrapperImpl::kNoInnerBootstrapperMessage);
    return *inner_;
}

const HomEvaluatorImpl &OutsourcedRoad::requireOutputEvaluator() const {
    if (!output_evaluator_)
        throw RuntimeException(BootstrapperImpl::kNoMultiSecretOutputEvaluatorMessage);
    return *output_evaluator_;
}

const std::shared_ptr<ContextContent> &OutsourcedRoad::requireOutsourcedContext() const {
    if (!outsourced_context_)
        throw RuntimeException(BootstrapperImpl::kNoOutsourcedContextMessage);
    return outsourced_context_;
}

} // namespace Quelt
