#include "Quelt/LWE/Encryptor.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Ciphertext.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "client/ConstantEnDecoder.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/WordArith.hpp"
#include "lwe/LWECiphertextImpl.hpp"
#include "lwe/LWEContext.hpp"
#include "lwe/LWEPrecondition.hpp"

#include <cmath>

namespace Quelt::LWE {

namespace {

constexpr const char *kLevelAboveTop = "[encrypt] The level is above the top level of the context";
constexpr const char *kKeyDoesNotFit = "[encrypt] The secret key does not fit the context";
constexpr const char *kValueDoesNotFit =
    "[encrypt] The value does not fit the modulus of its level";

// The message integer |value| 2^log_scale (as the encoder truncates it, known
// to be below 2^128) must lie in the centred range of q_0 ... q_top, the
// modulus the element stands over once its rescales are done; beyond it the
// residues wrap and the ciphertext decrypts to another number.
void checkValueFits(double value, double log_scale, const PrimeModuli &chain, u64 top) {
    const auto scaled = static_cast<u128>(std::fabs(value) * std::pow(2.0, log_scale));
    u128 modulus = 1;
    for (u64 i = 0; i <= top; ++i) {
        const u64 q = chain.getModulus(i).getPrime();
        // A modulus of 2^128 or more holds every such integer.
        if (modulus > ~u128{0} / q)
            return;
        modulus *= q;
    }
    if (scaled > modulus / 2)
        throw RuntimeException(kValueDoesNotFit);
}

} // namespace

Encryptor::Encryptor(const std::shared_ptr<ContextContent> &context)
    : context_(checkedContext(context)) {}

void Encryptor::encrypt(double value, const SecretKey &sk, Ciphertext &out) const {
    encrypt(value, sk, out, getEncryptionLevel(context_), 0);
}

void Encryptor::encrypt(double value, const SecretKey &sk, Ciphertext &out, u64 level,
                        int rescale_counter) const {
    const ContextContent &context = *context_;
    const Parameter &parameter = context.getParameter();
    if (level >= parameter.chain_length)
        throw RuntimeException(kLevelAboveTop);
    CiphertextImpl::checkRescaleCounter(rescale_counter, level);
    const LevelledVector &sx = sk.getSx();
    if (!detail::sameScheme(*sk.getContext(), context) ||
        sx.getDimension() != parameter.dimension || sx.getLevel() < level)
        throw RuntimeException(kKeyDoesNotFit);
    detail::checkOutput(out, context);
    // The message is encoded before the first draw: a value or level that
    // cannot be encoded leaves the generator and out untouched.
    LevelledElement m = ConstantEnDecoder(context_).encodeConst(value, level, rescale_counter);
    const u64 final_level = level - static_cast<u64>(rescale_counter);
    checkValueFits(value, context.getScaleFactors().getScaleFactor(final_level),
                   context.getPrimeModuli(), final_level);

    // Draws: the mask first, then the error.
    const RandomSampler sampler;
    out.setLevel(level);
    sampler.sampleUniform(out.getAx(), context_);
    LevelledElement e(context_);
    e.setLevel(level);
    sampler.sampleGaussian(e, context_);
    out.setRescaleCounter(rescale_counter);

    const Device device = sk.getDevice();
    if (m.getDevice() != device)
        m.to(device);
    if (e.getDevice() != device)
        e.to(device);
    if (out.getAx().getDevice() != device || out.getBx().getDevice() != device)
        out.to(device);

    // b = m + e - <a, s>
    const PrimeModuli &chain = context.getPrimeModuli();
    LevelledElement &bx = out.getBx();
    chain.innerProduct(out.getAx(), sx, bx);
    chain.sub(m, bx, bx);
    chain.add(bx, e, bx);
}

} // namespace Quelt::LWE
