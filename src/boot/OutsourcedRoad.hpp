#pragma once

#include <memory>
#include <utility>

namespace Quelt {

class BootstrapperImpl;
class ContextContent;
class HomEvaluatorImpl;

// The state of the outsourced road of a bootstrapper over `context` (a
// context with outsourced bootstrapping): the inner bootstrapper that runs
// the bootstrap after SlotToCoeff on the outsourcing companion's chain, the
// evaluator that receives the results, and the outer context of the
// outsourced multi-secret fast removeI road. The output evaluator is also
// what the multi-secret fast removeI road and the extended forms of a small
// parameter run on, so it can be set on its own.
//
// Empty until an enable operation runs. Nothing here takes a lock: enabling
// must not run while another thread bootstraps.
class OutsourcedRoad {
public:
    explicit OutsourcedRoad(std::shared_ptr<ContextContent> context);

    // Checks, in this order, that the context supports outsourced
    // bootstrapping (BootstrapperImpl::kNoOutsourcingMessage), that inner's
    // preset is its outsourcing companion (kOutsourcingMismatchMessage), that
    // eval's context is single-secret and not small (kOutputEvaluatorMessage)
    // and that the inner modulus at its output level falls short of the
    // output chain's at its encryption level by at most
    // kMaxShortInnerModulusBits (kShortInnerModulus*); then stores eval as
    // the output evaluator and inner as the inner bootstrapper. A failure
    // changes nothing.
    void enable(const std::shared_ptr<BootstrapperImpl> &inner,
                const std::shared_ptr<HomEvaluatorImpl> &eval);
    void setOutputEvaluator(std::shared_ptr<HomEvaluatorImpl> eval) {
        output_evaluator_ = std::move(eval);
    }
    // The outer context of the outsourced multi-secret fast removeI road and
    // the output evaluator.
    void setOuter(std::shared_ptr<ContextContent> ctx_outer,
                  std::shared_ptr<HomEvaluatorImpl> eval) {
        outsourced_context_ = std::move(ctx_outer);
        output_evaluator_ = std::move(eval);
    }

    // The inner bootstrapper (BootstrapperImpl::kNoInnerBootstrapperMessage
    // when it is not set).
    const BootstrapperImpl &requireInner() const;
    // The output evaluator
    // (BootstrapperImpl::kNoMultiSecretOutputEvaluatorMessage when it is not
    // set).
    const HomEvaluatorImpl &requireOutputEvaluator() const;
    // The outer context (BootstrapperImpl::kNoOutsourcedContextMessage when
    // it is not set).
    const std::shared_ptr<ContextContent> &requireOutsourcedContext() const;

    const std::shared_ptr<BootstrapperImpl> &getInner() const { return inner_; }
    const std::shared_ptr<HomEvaluatorImpl> &getOutputEvaluator() const {
        return output_evaluator_;
    }
    const std::shared_ptr<ContextContent> &getOutsourcedContext() const {
        return outsourced_context_;
    }

private:
    std::shared_ptr<ContextContent> context_;
    // The outer context of the outsourced multi-secret fast removeI road.
    std::shared_ptr<ContextContent> outsourced_context_;
    // The evaluator that receives the results of the outsourced road.
    std::shared_ptr<HomEvaluatorImpl> output_evaluator_;
    // The inner bootstrapper, kept alive by this road so that dropping the
    // caller's handle leaves nothing dangling.
    std::shared_ptr<BootstrapperImpl> inner_;
};

} // namespace Quelt
