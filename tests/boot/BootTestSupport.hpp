#pragma once

// Contexts shared by the bootstrapping tests.

#include "Quelt/Context.hpp"

#include <memory>

namespace Quelt::test {

// FX: FGb's bootstrapping settings at degree 64 (chain length 25, full log
// slot count 5).
inline const std::shared_ptr<ContextContent> &fxContext() {
    static const auto context = makeContext(ParameterPreset::FX);
    return context;
}

} // namespace Quelt::test
