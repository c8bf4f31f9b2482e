#include "lwe/LWEPrecondition.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Ciphertext.hpp"
#include "lwe/LWECiphertextImpl.hpp"
#include "lwe/LWEContext.hpp"

namespace Quelt {

void utils::checkPrecondition(const LWE::Ciphertext &a, const LWE::Ciphertext &b) {
    if (a.getRescaleCounter() != b.getRescaleCounter())
        throw RuntimeException(kDifferentRescaleCounterMessage);
    if (a.getDevice() != b.getDevice())
        throw RuntimeException(kDifferentDevicesMessage);
}

namespace LWE::detail {

bool sameScheme(const ContextContent &a, const ContextContent &b) {
    if (&a == &b)
        return true;
    const Parameter &pa = a.getParameter();
    const Parameter &pb = b.getParameter();
    if (pa.dimension != pb.dimension || pa.chain_length != pb.chain_length)
        return false;
    for (std::uint64_t i = 0; i < pa.chain_length; ++i)
        if (a.getPrimeModuli().getModulus(i).getPrime() !=
            b.getPrimeModuli().getModulus(i).getPrime())
            return false;
    return a.getScaleFactors().getFactors() == b.getScaleFactors().getFactors();
}

void checkOutput(const Ciphertext &ct, const ContextContent &context) {
    if (!sameScheme(*ct.getContext(), context) ||
        ct.getAx().getDimension() != context.getParameter().dimension ||
        ct.getBx().getSize() != context.getParameter().chain_length || ct.getBx().isModUp())
        throw RuntimeException(kCiphertextDoesNotFitMessage);
}

std::uint64_t checkOperand(const Ciphertext &ct, const ContextContent &context) {
    checkOutput(ct, context);
    const std::uint64_t level = ct.getLevel();
    ct.getDevice();
    // Every residue of the level is there to be read.
    if (ct.getAx().getData().size() / ct.getAx().getDimension() <= level ||
        ct.getBx().getData().size() <= level)
        throw RuntimeException(kCiphertextDoesNotFitMessage);
    CiphertextImpl::checkRescaleCounter(ct.getRescaleCounter(), level);
    return level;
}

} // namespace LWE::detail

} // namespace Quelt
