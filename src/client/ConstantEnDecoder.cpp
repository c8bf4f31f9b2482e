#include "client/ConstantEnDecoder.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "arith/PrimeModuli.hpp"
#include "client/EncodeChecks.hpp"
#include "context/ContextContent.hpp"
#include "context/RescaleCounter.hpp"
#include "context/ScaleFactors.hpp"
#include "foundation/WordArith.hpp"
#include "lwe/LWEContext.hpp"

#include <vector>

namespace Quelt {

namespace {

template <typename Context>
const std::shared_ptr<Context> &checkedContext(const std::shared_ptr<Context> &context) {
    if (!context)
        throw RuntimeException(kNullContextMessage);
    return context;
}

u64 chainLength(const std::shared_ptr<ContextContent> &context) { return getLength(context); }
u64 chainLength(const std::shared_ptr<LWE::ContextContent> &context) {
    return LWE::getEncryptionLevel(context) + 1;
}

template <typename Context>
LevelledElement encodeConstant(const std::shared_ptr<Context> &context, double value, u64 level,
                               int r) {
    detail::checkEncodeLevel(level, chainLength(context));
    detail::checkEncodeRescaleCounter(r, level);
    RescaleCounter::isValidRescaleCounter(r);
    const u64 counter = static_cast<u64>(r);
    const double logScale = context->getScaleFactors().getScaleFactor(level - counter);
    const PrimeModuli &chain = context->getPrimeModuli();
    const std::vector<u64> factors = chain.topPrimeProducts(level, counter);

    LevelledElement element = [&] {
        if constexpr (std::is_same_v<Context, ContextContent>)
            return LevelledElement(context, false);
        else
            return LevelledElement(context);
    }();
    element.setLevel(level);
    element.getData().resize(level + 1);
    for (u64 i = 0; i <= level; ++i) {
        const Modulus &modulus = chain.getModulus(i);
        element[i] = modulus.barrettProduct(modulus.makeInteger(value, logScale), factors[i]);
    }
    return element;
}

} // namespace

ConstantEnDecoder::ConstantEnDecoder(const std::shared_ptr<ContextContent> &context)
    : context_(checkedContext(context)) {}

ConstantEnDecoder::ConstantEnDecoder(const std::shared_ptr<LWE::ContextContent> &context)
    : context_(checkedContext(context)) {}

LevelledElement ConstantEnDecoder::encodeConst(const double &value, u64 level, int r) const {
    return std::visit([&](const auto &context) { return encodeConstant(context, value, level, r); },
                      context_);
}

} // namespace Quelt
