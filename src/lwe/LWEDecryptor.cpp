#include "Quelt/LWE/Decryptor.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Ciphertext.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "foundation/WordArith.hpp"
#include "lwe/LWECiphertextImpl.hpp"
#include "lwe/LWEContext.hpp"
#include "lwe/LWEPrecondition.hpp"

#include <cmath>

namespace Quelt::LWE {

namespace {

constexpr const char *kDifferentDimension = "[decrypt] ctxt and sk have different dimension";
constexpr const char *kKeyDoesNotFit = "[decrypt] The secret key does not fit the context";

} // namespace

Decryptor::Decryptor(const std::shared_ptr<ContextContent> &context)
    : context_(checkedContext(context)) {}

void Decryptor::decrypt(const Ciphertext &ct, const SecretKey &sk, double &out) const {
    const ContextContent &context = *context_;
    const u64 level = ct.getLevel();
    const int counter = ct.getRescaleCounter();
    CiphertextImpl::checkRescaleCounter(counter, level);
    // After r rescales the element stands at level l - r with the scale
    // 2^sf[l - r] that the encoder gave a message of (l, r) once the r top
    // primes are divided out.
    const u64 final_level = level - static_cast<u64>(counter);
    const double log_scale = context.getScaleFactors().getScaleFactor(final_level);
    if (sk.getSx().getDimension() != ct.getAx().getDimension())
        throw RuntimeException(kDifferentDimension);
    // Residues of another chain (or another scale) read with this context's
    // primes would decrypt to noise.
    if (!detail::sameScheme(*ct.getContext(), context))
        throw RuntimeException(detail::kCiphertextDoesNotFitMessage);
    if (!detail::sameScheme(*sk.getContext(), context))
        throw RuntimeException(kKeyDoesNotFit);

    const PrimeModuli &chain = context.getPrimeModuli();
    LevelledElement x(context_);
    chain.innerProduct(ct.getAx(), sk.getSx(), x);
    chain.add(x, ct.getBx(), x);
    for (int i = 0; i < counter; ++i)
        chain.rescale(x);
    if (x.getDevice() != kHostDevice)
        x.to(kHostDevice);

    const double value = chain.liftToReal(x);
    out = final_level == 0 ? value * std::pow(2.0, -log_scale) : value * std::pow(0.5, log_scale);
}

} // namespace Quelt::LWE
