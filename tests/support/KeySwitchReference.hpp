#pragma once

// The key switch composed from the landed pieces alone (limb i times
// hatQInv_i in a polynomial of its own, FastBaseConv::modUp, the
// key-switching inner product, FastBaseConv::modDown to NTT form), against
// which the key switcher's own paths are compared word for word.

#include "Quelt/EvaluationKey.hpp"
#include "arith/FastBaseConv.hpp"
#include "arith/PolyIter.hpp"
#include "arith/PrimeModuliInnerProduct.hpp"
#include "arith/RNSDecomposeData.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt::test {

struct ReferenceSwitch {
    std::vector<Polynomial> digits;
    std::vector<Polynomial> down;
};

inline ReferenceSwitch referenceSwitch(const std::shared_ptr<ContextContent> &ctx,
                                       const Polynomial &in, EvaluationKey &key) {
    const FastBaseConv conv(ctx);
    const RNSDecomposeData decompose(ctx);
    const std::uint64_t level = in.getLevel();
    Polynomial scaled(ctx, false, in.isNTT());
    scaled.setLevel(level);
    ctx->getPrimeModuli().constMult<OutputModulusBoundValidator, false>(
        in, decompose.getHatQInvMod(kHostDevice), scaled, {0, level + 1});
    ReferenceSwitch r{conv.modUp(scaled), {}};
    PolynomialVector sums(ctx, 2, true, true);
    sums.setLevel(level);
    ctx->getPrimeModuli().innerProduct(
        makePolyIter(r.digits.cbegin()), makePolyIter(r.digits.cend()),
        makePolyIter(key.getAxIter(kHostDevice)), makePolyIter(key.getBxIter(kHostDevice)),
        sums.getPoly(1), sums.getPoly(0));
    PolynomialVector down(ctx, 2, false, true);
    conv.modDown(sums, down, true);
    r.down = down.getPolys();
    return r;
}

// Limbs 0 .. level and the temporary limbs of a mod-up polynomial.
inline std::vector<std::uint64_t> usedWords(const Polynomial &p) {
    std::vector<std::uint64_t> words;
    const std::uint64_t n = p.getDegree();
    for (std::uint64_t i = 0; i < p.getSize(); ++i)
        if (i <= p.getLevel() || i >= p.getChainLength())
            words.insert(words.end(), p.getLimb(i), p.getLimb(i) + n);
    return words;
}

} // namespace Quelt::test
