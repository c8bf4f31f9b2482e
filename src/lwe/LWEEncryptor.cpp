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

namespace Quelt::LWE {

namespace {

constexpr const char *kLevelAboveTop = "[encrypt] The level is above the top level of the context";
constexpr const char *kKeyDoesNotFit = "[encrypt] The secret key does not fit the context";

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
