#pragma once

#include "Quelt/EvaluationKey.hpp"
#include "Quelt/RingSwitchKey.hpp"

namespace Quelt::detail {

// The switching key behind a RingSwitchKey handle, for the code that fills it
// (the key generator) and the code that switches with it.
struct RingSwitchKeyAccess {
    static EvaluationKey &key(const RingSwitchKey &handle) { return *handle.key_; }
};

} // namespace Quelt::detail
