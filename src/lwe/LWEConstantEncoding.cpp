#include "lwe/LWEConstantEncoding.hpp"

#include "lwe/LWEContext.hpp"

namespace Quelt::LWE {

using u64 = std::uint64_t;

LevelledElement encodeConstant(const std::shared_ptr<ContextContent> &context, double c, u64 level,
                               int r) {
    const auto count = static_cast<u64>(r);
    const double log_scale = context->getScaleFactors().getScaleFactor(level - count);
    const PrimeModuli &chain = context->getPrimeModuli();
    LevelledElement element(context);
    element.setLevel(level);
    element.getData().resize(level + 1);
    for (u64 i = 0; i <= level; ++i) {
        const Modulus &modulus = chain.getModulus(i);
        u64 x = modulus.makeInteger(c, log_scale);
        for (u64 j = level; j + count > level; --j)
            x = modulus.barrettProduct(x, modulus.reduceWord(chain.getModulus(j).getPrime()));
        element[i] = x;
    }
    return element;
}

} // namespace Quelt::LWE
