#pragma once

#include "Quelt/KeyBundle.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace Quelt::detail {

// Composite bundles assembled from parts that are already made, for the key
// generator: it generates the sub-bundles and moves them in, so the public
// constructors' empty keys and preset contexts are never made.
struct KeyBundleAssembly {
    // The check of SStoMSBisectionKeyBundle's list constructor. Throws
    // SStoMSBisectionKeyBundle::kContextMismatch unless, with m =
    // floor(log2(secrets of the last context)) >= 1, the list holds m
    // contexts and context i has 2^(i+1) secrets for i < m - 1.
    static void checkBisectionContexts(const std::vector<std::shared_ptr<ContextContent>> &ms);

    static SStoMSBisectionKeyBundle bisection(std::shared_ptr<ContextContent> ss,
                                              std::vector<std::shared_ptr<ContextContent>> ms,
                                              SStoMSKeyBundle sstoms,
                                              std::vector<IncreaseNSKeyBundle> increase_ns);

    static MultiSecretSwitchKeyBundle
    multiSecretSwitch(std::shared_ptr<ContextContent> ss, std::shared_ptr<ContextContent> ms,
                      std::optional<std::shared_ptr<ContextContent>> third,
                      std::optional<std::shared_ptr<ContextContent>> fourth, MStoSSKeyBundle mstoss,
                      SStoMSBisectionKeyBundle bisection, std::optional<MStoSSKeyBundle> complex);
};

} // namespace Quelt::detail
