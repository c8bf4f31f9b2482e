#include "boot/OutsourcedRoad.hpp"

#include "Quelt/HomEvaluator.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The outsourced road on its own, over the degree-64 outsourcing pair: what
// an empty road refuses, what enabling checks before it stores anything, and
// what it stores.

namespace Quelt::test {
namespace {

std::shared_ptr<BootstrapperImpl> bootstrapperOver(const HomEvaluator &eval) {
    return std::make_shared<BootstrapperImpl>(eval, false, std::nullopt);
}

void expectEmpty(const OutsourcedRoad &road) {
    EXPECT_EQ(road.getInner(), nullptr);
    EXPECT_EQ(road.getOutputEvaluator(), nullptr);
    EXPECT_EQ(road.getOutsourcedContext(), nullptr);
}

TEST(OutsourcedRoadTest, AnEmptyRoadRefusesItsInnerBootstrapperOuterContextAndOutputEvaluator) {
    const FxOutsourcing pair;
    const OutsourcedRoad road(pair.outer);
    expectEmpty(road);
    expectThrowsMessage([&] { (void)road.requireInner(); },
                        BootstrapperImpl::kNoInnerBootstrapperMessage);
    expectThrowsMessage([&] { (void)road.requireOutsourcedContext(); },
                        BootstrapperImpl::kNoOutsourcedContextMessage);
    expectThrowsMessage([&] { (void)road.requireOutputEvaluator(); },
                        BootstrapperImpl::kNoMultiSecretOutputEvaluatorMessage);
}

TEST(OutsourcedRoadTest, EnablingChecksBeforeItStoresTheInnerBootstrapperAndOutputEvaluator) {
    const FxOutsourcing pair;
    const std::shared_ptr<BootstrapperImpl> inner = bootstrapperOver(*pair.inner_eval);
    const std::shared_ptr<BootstrapperImpl> outer = bootstrapperOver(pair.outer_eval);
    const std::shared_ptr<HomEvaluatorImpl> output =
        detail::HomEvaluatorAccess::impl(pair.outer_eval);

    struct Case {
        std::string name;
        std::shared_ptr<ContextContent> context;
        std::shared_ptr<BootstrapperImpl> inner;
        const char *message;
    };
    const std::vector<Case> refused{
        {"context without outsourced bootstrapping", fxContext(), inner,
         BootstrapperImpl::kNoOutsourcingMessage},
        {"inner preset not the outsourcing companion", pair.outer, outer,
         BootstrapperImpl::kOutsourcingMismatchMessage},
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(c.name);
        OutsourcedRoad road(c.context);
        expectThrowsMessage([&] { road.enable(c.inner, output); }, c.message);
        expectEmpty(road);
    }

    OutsourcedRoad road(pair.outer);
    road.enable(inner, output);
    EXPECT_EQ(road.getInner(), inner);
    EXPECT_EQ(&road.requireInner(), inner.get());
    EXPECT_EQ(road.getOutputEvaluator(), output);
    EXPECT_EQ(&road.requireOutputEvaluator(), output.get());
    // The outer context belongs to the multi-secret fast removeI road and is
    // set with its evaluator only.
    EXPECT_EQ(road.getOutsourcedContext(), nullptr);
    road.setOuter(pair.inner, detail::HomEvaluatorAccess::impl(*pair.inner_eval));
    EXPECT_EQ(road.requireOutsourcedContext(), pair.inner);
    EXPECT_EQ(road.getOutputEvaluator(), detail::HomEvaluatorAccess::impl(*pair.inner_eval));
    EXPECT_EQ(road.getInner(), inner);
}

TEST(OutsourcedRoadTest, TheBootstrapperDelegatesToItsRoad) {
    const FxOutsourcing pair;
    const std::shared_ptr<BootstrapperImpl> inner = bootstrapperOver(*pair.inner_eval);
    const std::shared_ptr<BootstrapperImpl> boot = bootstrapperOver(pair.outer_eval);
    expectEmpty(boot->getOutsourced());
    const std::shared_ptr<HomEvaluatorImpl> output =
        detail::HomEvaluatorAccess::impl(pair.outer_eval);
    boot->enableOutsourcing(inner, output);
    EXPECT_EQ(boot->getOutsourced().getInner(), inner);
    EXPECT_EQ(boot->getOutsourced().getOutputEvaluator(), output);
}

} // namespace
} // namespace Quelt::test
