#include "client/CryptoSupport.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/WordArith.hpp"

#include <vector>

namespace Quelt::detail {

namespace {

// A polynomial an output can keep: the plain (not mod-up) layout of the
// context's base and quantize primes, on the host.
bool isPlainOf(const Polynomial &p, const ContextContent &context) {
    const PrimeModuli &chain = context.getPrimeModuli();
    const u64 length = context.getParameter().chain_length;
    if (p.isModUp() || p.getDegree() != chain.getDegree() || p.getChainLength() != length ||
        p.getSize() != length || p.getPrimes().size() != length || p.getDevice() != kHostDevice)
        return false;
    for (u64 i = 0; i < length; ++i)
        if (p.getPrimes()[i] != chain.getModulus(i).getPrime())
            return false;
    return true;
}

} // namespace

void sampleGaussianRows(Polynomial &p, const std::shared_ptr<ContextContent> &context, bool ntt) {
    RandomSampler().sampleGaussian(p, context);
    if (ntt)
        forwardRows(context->getPrimeModuli(), p, p.getLevel());
}

Polynomial makeSampleGaussian(const std::shared_ptr<ContextContent> &context, u64 level,
                              const Device &device, bool ntt) {
    Polynomial p(context, false, false);
    p.setLevel(level);
    sampleGaussianRows(p, context, false);
    p.to(device);
    if (ntt)
        forwardRows(context->getPrimeModuli(), p, level);
    return p;
}

bool coversRows(const Polynomial &p, const ContextContent &context, u64 top) {
    const PrimeModuli &chain = context.getPrimeModuli();
    const u64 n = chain.getDegree();
    if (n == 0 || p.getDegree() != n || p.getLevel() < top || top >= chain.getNumPrimes() ||
        p.getPrimes().size() <= top || p.getData().size() / n <= top)
        return false;
    for (u64 i = 0; i <= top; ++i)
        if (p.getPrimes()[i] != chain.getModulus(i).getPrime())
            return false;
    return true;
}

void requireHost(const Device &device) {
    if (device != kHostDevice)
        throw RuntimeException(kNotSupportedBuildCuda);
}

void forwardRows(const PrimeModuli &chain, Polynomial &p, u64 level) {
    chain.forwardNTT<OutputModulusBoundValidator, 1>(p, p, {0, level + 1});
}

void backwardRows(const PrimeModuli &chain, Polynomial &p, u64 level) {
    chain.backwardNTT<OutputModulusBoundValidator, 1>(p, p, {0, level + 1});
}

template <EncryptionType ET>
void shapeCiphertext(CiphertextBase<ET> &out, const std::shared_ptr<ContextContent> &context,
                     u64 count, u64 level, u64 logSlots, int rescaleCounter,
                     EncodingType encoding) {
    if (out.getContext() != context)
        out = CiphertextBase<ET>(context, false, true);
    std::vector<Polynomial> &polys = out.getPolyVector().getPolys();
    if (polys.size() > count)
        polys.erase(polys.begin() + static_cast<std::ptrdiff_t>(count), polys.end());
    for (Polynomial &p : polys)
        if (!isPlainOf(p, *context))
            p = Polynomial(context, false, true);
    while (polys.size() < count)
        polys.emplace_back(context, false, true);
    for (Polynomial &p : polys) {
        p.disableGerm();
        p.setLevel(level);
        p.setNTT(true);
    }
    out.setLogSlots(logSlots);
    out.setRescaleCounter(rescaleCounter);
    out.setEncodingType(encoding);
}

template void shapeCiphertext(CiphertextBase<EncryptionType::MLWE> &,
                              const std::shared_ptr<ContextContent> &, u64, u64, u64, int,
                              EncodingType);
template void shapeCiphertext(CiphertextBase<EncryptionType::RLWE> &,
                              const std::shared_ptr<ContextContent> &, u64, u64, u64, int,
                              EncodingType);
template void shapeCiphertext(CiphertextBase<EncryptionType::MSRLWE> &,
                              const std::shared_ptr<ContextContent> &, u64, u64, u64, int,
                              EncodingType);

} // namespace Quelt::detail
