#pragma once

// The key set of a full-slot bootstrap on a context that fuses the modulus
// raise, for the slow tests and the benchmarks (no test framework here).

#include "Quelt/Context.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/RadixDecomposition.hpp"

#include <cstdint>
#include <memory>

namespace Quelt::test {

// The rotation keys of bootstrapping the full slot count (minimal chains with
// min_key) and the fused rotation keys (of the sparse secret, with a new
// encapsulation key, when `sparse_secret`). A parameter that can outsource
// its bootstrap leaves the CoeffToSlot rotations out of the bootstrap set
// (its inner context runs them); bootstrapping locally needs those of the
// steps after the fused one, so they are added.
inline void genFusedBootstrapRotKeys(const KeyGenerator &generator,
                                     const std::shared_ptr<ContextContent> &ctx, bool min_key,
                                     bool sparse_secret) {
    const std::uint64_t full = getLogFullSlots(ctx);
    generator.genRotKeysForBootstrap(full, min_key);
    if (isOutsourcedBootstrapSupported(ctx)) {
        const RadixDecomposition rd = BootParameter(ctx).getRadixDecForC2S(full);
        for (std::uint64_t step = 1; step < rd.num_radices; ++step)
            for (const auto &amounts : {rd.getRotIndicesForBabyStep(step, min_key),
                                        rd.getRotIndicesForGiantStep(step, min_key)})
                for (const std::uint64_t amount : BootstrapperImpl::convertFromSgnIdx(amounts, ctx))
                    if (amount != 0)
                        generator.genLeftRotKey(amount);
    }
    if (sparse_secret)
        generator.genFuseRotKeyBundleWithSSE();
    else
        generator.genFuseRotKeyBundle();
}

} // namespace Quelt::test
