#include "Quelt/Encryptor.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/EncryptionKey.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyPack.hpp"
#include "arith/PrimeModuli.hpp"
#include "client/CryptoSupport.hpp"
#include "client/EncodeChecks.hpp"
#include "context/CiphertextImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/WordArith.hpp"

#include <span>
#include <vector>

namespace Quelt {

namespace {

constexpr EncryptionType Rlwe = EncryptionType::RLWE;

constexpr const char *kNoEncryptionKey = "[encrypt] Failed to load the encryption key";
constexpr const char *kPublicKeyLevel =
    "[encrypt] Level of an input Plaintext cannot be greater than encryption level.";
constexpr const char *kSecretKeyLevel =
    "[encrypt] Level of an input Plaintext cannot be greater than encryption level";
constexpr const char *kTooFewInputs =
    "[encrypt] The vector size is less than the number of secret.";
constexpr const char *kKeyMismatch =
    "[encrypt] The key does not match the context of the Encryptor";
constexpr const char *kPlaintextMismatch =
    "[encrypt] The plaintext does not match the context of the Encryptor";
constexpr const char *kMixedLevels = "[encrypt] The plaintexts are not at one level";

std::shared_ptr<EncryptionKey> takeEncryptionKey(const KeyPack &keyPack) {
    std::shared_ptr<EncryptionKey> key = keyPack.getEncKey();
    if (!key)
        throw RuntimeException(kNoEncryptionKey);
    return key;
}

void checkSameDevice(const Device &a, const Device &b) {
    if (a != b)
        throw RuntimeException(PrimeModuli::kDifferentDevicesMessage);
}

// The checks a plaintext passes before encryption at its level: on the host,
// over the context's primes, not spanning the temporary primes (the error it
// is added to does not), with a rescale counter the ciphertext can take (a
// plaintext whose level was lowered after its counter was set may carry one
// above its level).
void checkPlaintext(const ContextContent &context, const Plaintext &plaintext) {
    detail::requireHost(plaintext.getDevice());
    if (!detail::coversRows(plaintext.getMx(), context, plaintext.getLevel()))
        throw RuntimeException(kPlaintextMismatch);
    if (plaintext.getMx().isModUp())
        throw RuntimeException(PrimeModuli::kDifferentModUpMessage);
    CiphertextImpl<EncryptionType::RLWE>::checkRescaleCounter(plaintext.getRescaleCounter(),
                                                              plaintext.getLevel());
}

// The first `count` secret polynomials cover the rows of the level.
template <EncryptionType ET>
void checkSecretKey(const ContextContent &context, const SecretKeyBase<ET> &secretKey, u64 count,
                    u64 level) {
    const PolynomialVector &sx = secretKey.getSxVec();
    if (sx.getSize() < count)
        throw RuntimeException(kKeyMismatch);
    for (u64 i = 0; i < count; ++i)
        if (!detail::coversRows(sx.getPoly(i), context, level))
            throw RuntimeException(kKeyMismatch);
}

// e = e + m in m's form (e drawn in that form), then e in NTT form.
void addPlaintext(const PrimeModuli &chain, Polynomial &e, const Plaintext &plaintext) {
    const Polynomial &m = plaintext.getMx();
    chain.add(e, m, e);
    if (!m.isNTT())
        detail::forwardRows(chain, e, e.getLevel());
}

// The real-vector forms hand their result back in coefficient form.
template <EncryptionType ET>
void toCoefficientForm(CiphertextBase<ET> &out) {
    out.backwardNTT();
}

// Public-key encryption with a key taken from the pack (device checked).
void encryptWithKey(const std::shared_ptr<ContextContent> &context, const Plaintext &plaintext,
                    const EncryptionKey &key, CiphertextBase<Rlwe> &out, EncodingType encoding) {
    const u64 level = plaintext.getLevel();
    if (level > getEncryptionLevel(context))
        throw RuntimeException(kPublicKeyLevel);
    if (!detail::coversRows(key.getAx(), *context, level) ||
        !detail::coversRows(key.getBx(), *context, level))
        throw RuntimeException(kKeyMismatch);
    checkPlaintext(*context, plaintext);

    const PrimeModuli &chain = context->getPrimeModuli();
    const RandomSampler sampler;
    detail::shapeCiphertext(out, context, 2, level, plaintext.getLogSlots(),
                            plaintext.getRescaleCounter(), encoding);
    Polynomial &c0 = out.getPoly(0);
    Polynomial &c1 = out.getPoly(1);
    // Draw order v, e0, e1. The errors are drawn straight into the outputs:
    // c1 = e0, c0 = e1 + m, and the product adds a v and b v in one pass.
    Polynomial v = Polynomial::shapedLike(c0);
    sampler.sampleZO(v, context);
    detail::forwardRows(chain, v, level);
    detail::sampleGaussianRows(c1, context, true);
    detail::sampleGaussianRows(c0, context, plaintext.getMx().isNTT());
    addPlaintext(chain, c0, plaintext);
    chain.hadamardMultTwoAndAdd(key.getAx(), key.getBx(), v, c1, c0);
}

// Secret-key encryption, RLWE and MLWE: c0 = e + m - sum ci s(i-1).
template <EncryptionType ET>
void encryptWithSecret(const std::shared_ptr<ContextContent> &context, const Plaintext &plaintext,
                       const SecretKeyBase<ET> &secretKey, CiphertextBase<ET> &out,
                       EncodingType encoding) {
    const u64 level = plaintext.getLevel();
    if (level > getEncryptionLevel(context))
        throw RuntimeException(kSecretKeyLevel);
    const u64 rank = getRank(secretKey.getContext());
    checkSecretKey(*context, secretKey, rank, level);
    checkPlaintext(*context, plaintext);

    const PrimeModuli &chain = context->getPrimeModuli();
    const RandomSampler sampler;
    detail::shapeCiphertext(out, context, rank + 1, level, plaintext.getLogSlots(),
                            plaintext.getRescaleCounter(), encoding);
    for (u64 i = 1; i <= rank; ++i)
        sampler.sampleUniform(out.getPoly(i), context);
    Polynomial &c0 = out.getPoly(0);
    detail::sampleGaussianRows(c0, context, plaintext.getMx().isNTT());
    addPlaintext(chain, c0, plaintext);
    Polynomial masked = Polynomial::shapedLike(c0);
    chain.hadamardMult(out.getPoly(1), secretKey.getSx(0), masked);
    for (u64 i = 2; i <= rank; ++i)
        chain.hadamardMultAndAdd(out.getPoly(i), secretKey.getSx(i - 1), masked);
    chain.sub(c0, masked, c0);
}

// MSRLWE: one plaintext per secret (exactly s of them), common mask last.
void encryptWithSecrets(const std::shared_ptr<ContextContent> &context,
                        std::span<const Plaintext> plaintexts,
                        const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                        CiphertextBase<EncryptionType::MSRLWE> &out, EncodingType encoding) {
    const Plaintext &first = plaintexts.front();
    const u64 level = first.getLevel();
    if (level > getEncryptionLevel(context))
        throw RuntimeException(kSecretKeyLevel);
    for (const Plaintext &plaintext : plaintexts)
        if (plaintext.getLevel() != level)
            throw RuntimeException(kMixedLevels);
    const u64 secrets = plaintexts.size();
    checkSecretKey(*context, secretKey, secrets, level);
    for (const Plaintext &plaintext : plaintexts)
        checkPlaintext(*context, plaintext);

    const PrimeModuli &chain = context->getPrimeModuli();
    detail::shapeCiphertext(out, context, secrets + 1, level, first.getLogSlots(),
                            first.getRescaleCounter(), encoding);
    Polynomial &mask = out.getPoly(secrets);
    RandomSampler().sampleUniform(mask, context);
    Polynomial masked = Polynomial::shapedLike(mask);
    for (u64 i = 0; i < secrets; ++i) {
        Polynomial &ci = out.getPoly(i);
        detail::sampleGaussianRows(ci, context, plaintexts[i].getMx().isNTT());
        addPlaintext(chain, ci, plaintexts[i]);
        chain.hadamardMult(mask, secretKey.getSx(i), masked);
        chain.sub(ci, masked, ci);
    }
}

// The number of secrets of the key, checked against the number of inputs.
u64 secretCount(const SecretKeyBase<EncryptionType::MSRLWE> &secretKey, u64 inputs) {
    const u64 secrets = getNumSecret(secretKey.getContext());
    if (inputs < secrets)
        throw RuntimeException(kTooFewInputs);
    return secrets;
}

// encode(inputs[i]) for the first `count` inputs, in order.
template <typename T, typename Encode>
std::vector<Plaintext> encodeFirst(const std::vector<T> &inputs, u64 count, Encode encode) {
    std::vector<Plaintext> plaintexts;
    plaintexts.reserve(count);
    for (u64 i = 0; i < count; ++i)
        plaintexts.push_back(encode(inputs[i]));
    return plaintexts;
}

} // namespace

Encryptor::Encryptor(const std::shared_ptr<ContextContent> &context) : context_(context) {
    if (!context_)
        throw RuntimeException(kNullContextMessage);
}

// ---------------------------------------------------------------------------
// Public key
// ---------------------------------------------------------------------------

void Encryptor::encrypt(const Plaintext &plaintext, const KeyPack &keyPack,
                        CiphertextBase<Rlwe> &out) const {
    const std::shared_ptr<EncryptionKey> key = takeEncryptionKey(keyPack);
    checkSameDevice(plaintext.getDevice(), key->getDevice());
    encryptWithKey(context_, plaintext, *key, out, EncodingType::SLOT);
}

void Encryptor::encrypt(const Message &message, const KeyPack &keyPack, CiphertextBase<Rlwe> &out,
                        u64 level, int rescaleCounter) const {
    const std::shared_ptr<EncryptionKey> key = takeEncryptionKey(keyPack);
    checkSameDevice(message.getDevice(), key->getDevice());
    const Plaintext plaintext =
        EnDecoder(context_).encodeWithoutNTT(message, level, rescaleCounter);
    encryptWithKey(context_, plaintext, *key, out, EncodingType::SLOT);
}

void Encryptor::encrypt(const Message &message, const KeyPack &keyPack,
                        CiphertextBase<Rlwe> &out) const {
    encrypt(message, keyPack, out, getEncryptionLevel(context_), 0);
}

template <EncryptionType ET>
requires(ET ==
         EncryptionType::RLWE) void Encryptor::encryptWithScale(const std::vector<double> &values,
                                                                const KeyPack &keyPack,
                                                                CiphertextBase<ET> &out, u64 level,
                                                                double scale, bool keepNTT) const {
    detail::checkRealVectorSize(values.size());
    const Plaintext plaintext = EnDecoder(context_).encodeWithScale(values, level, scale, false);
    const std::shared_ptr<EncryptionKey> key = takeEncryptionKey(keyPack);
    checkSameDevice(plaintext.getDevice(), key->getDevice());
    encryptWithKey(context_, plaintext, *key, out, EncodingType::COEFFICIENT);
    if (!keepNTT)
        toCoefficientForm(out);
}

// ---------------------------------------------------------------------------
// Secret key, RLWE and MLWE
// ---------------------------------------------------------------------------

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void Encryptor::encrypt(const Plaintext &plaintext,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               CiphertextBase<ET> &out) const {
    encryptWithSecret(context_, plaintext, secretKey, out, EncodingType::SLOT);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void Encryptor::encrypt(const Message &message,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               CiphertextBase<ET> &out, u64 level,
                                                               int rescaleCounter) const {
    const Plaintext plaintext =
        EnDecoder(context_).encodeWithoutNTT(message, level, rescaleCounter);
    encryptWithSecret(context_, plaintext, secretKey, out, EncodingType::SLOT);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void Encryptor::encrypt(const Message &message,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               CiphertextBase<ET> &out) const {
    encrypt(message, secretKey, out, getEncryptionLevel(context_), 0);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void Encryptor::encrypt(const std::vector<double> &values,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               CiphertextBase<ET> &out, u64 level,
                                                               int rescaleCounter) const {
    detail::checkRealVectorSize(values.size());
    const Plaintext plaintext = EnDecoder(context_).encodeWithoutNTT(values, level, rescaleCounter);
    encryptWithSecret(context_, plaintext, secretKey, out, EncodingType::COEFFICIENT);
    toCoefficientForm(out);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void Encryptor::encrypt(const std::vector<double> &values,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               CiphertextBase<ET> &out) const {
    encrypt(values, secretKey, out, getEncryptionLevel(context_), 0);
}

template <EncryptionType ET>
requires(ET ==
         EncryptionType::RLWE) void Encryptor::encryptWithScale(const std::vector<double> &values,
                                                                const SecretKeyBase<ET> &secretKey,
                                                                CiphertextBase<ET> &out, u64 level,
                                                                double scale, bool keepNTT) const {
    detail::checkRealVectorSize(values.size());
    const Plaintext plaintext = EnDecoder(context_).encodeWithScale(values, level, scale, false);
    encryptWithSecret(context_, plaintext, secretKey, out, EncodingType::COEFFICIENT);
    if (!keepNTT)
        toCoefficientForm(out);
}

// ---------------------------------------------------------------------------
// Secret key, MSRLWE
// ---------------------------------------------------------------------------

void Encryptor::encrypt(const std::vector<Plaintext> &plaintexts,
                        const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                        CiphertextBase<EncryptionType::MSRLWE> &out) const {
    const u64 secrets = secretCount(secretKey, plaintexts.size());
    encryptWithSecrets(context_, std::span(plaintexts).first(secrets), secretKey, out,
                       EncodingType::SLOT);
}

void Encryptor::encrypt(const std::vector<Message> &messages,
                        const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                        CiphertextBase<EncryptionType::MSRLWE> &out, u64 level,
                        int rescaleCounter) const {
    const u64 secrets = secretCount(secretKey, messages.size());
    const EnDecoder encoder(context_);
    const std::vector<Plaintext> plaintexts =
        encodeFirst(messages, secrets, [&](const Message &message) {
            return encoder.encodeWithoutNTT(message, level, rescaleCounter);
        });
    encryptWithSecrets(context_, plaintexts, secretKey, out, EncodingType::SLOT);
}

void Encryptor::encrypt(const std::vector<Message> &messages,
                        const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                        CiphertextBase<EncryptionType::MSRLWE> &out) const {
    encrypt(messages, secretKey, out, getEncryptionLevel(context_), 0);
}

void Encryptor::encrypt(const std::vector<std::vector<double>> &values,
                        const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                        CiphertextBase<EncryptionType::MSRLWE> &out, u64 level,
                        int rescaleCounter) const {
    const u64 secrets = secretCount(secretKey, values.size());
    const EnDecoder encoder(context_);
    const std::vector<Plaintext> plaintexts =
        encodeFirst(values, secrets, [&](const std::vector<double> &vector) {
            return encoder.encodeWithoutNTT(vector, level, rescaleCounter);
        });
    encryptWithSecrets(context_, plaintexts, secretKey, out, EncodingType::COEFFICIENT);
    toCoefficientForm(out);
}

void Encryptor::encrypt(const std::vector<std::vector<double>> &values,
                        const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                        CiphertextBase<EncryptionType::MSRLWE> &out) const {
    encrypt(values, secretKey, out, getEncryptionLevel(context_), 0);
}

template <EncryptionType ET>
requires(ET == EncryptionType::MSRLWE) void Encryptor::encryptWithScale(
    const std::vector<std::vector<double>> &values, const SecretKeyBase<ET> &secretKey,
    CiphertextBase<ET> &out, u64 level, double scale, bool keepNTT) const {
    const u64 secrets = secretCount(secretKey, values.size());
    for (u64 i = 0; i < secrets; ++i)
        detail::checkRealVectorSize(values[i].size());
    const EnDecoder encoder(context_);
    const std::vector<Plaintext> plaintexts =
        encodeFirst(values, secrets, [&](const std::vector<double> &vector) {
            return encoder.encodeWithScale(vector, level, scale, false);
        });
    encryptWithSecrets(context_, plaintexts, secretKey, out, EncodingType::COEFFICIENT);
    if (!keepNTT)
        toCoefficientForm(out);
}

// ---------------------------------------------------------------------------
// Instantiations
// ---------------------------------------------------------------------------

#define QUELT_ENCRYPTOR_SINGLE_SECRET(ET)                                                          \
    template void Encryptor::encrypt<ET>(const Plaintext &, const SecretKeyBase<ET> &,             \
                                         CiphertextBase<ET> &) const;                              \
    template void Encryptor::encrypt<ET>(const Message &, const SecretKeyBase<ET> &,               \
                                         CiphertextBase<ET> &, u64, int) const;                    \
    template void Encryptor::encrypt<ET>(const Message &, const SecretKeyBase<ET> &,               \
                                         CiphertextBase<ET> &) const;                              \
    template void Encryptor::encrypt<ET>(const std::vector<double> &, const SecretKeyBase<ET> &,   \
                                         CiphertextBase<ET> &, u64, int) const;                    \
    template void Encryptor::encrypt<ET>(const std::vector<double> &, const SecretKeyBase<ET> &,   \
                                         CiphertextBase<ET> &) const;

QUELT_ENCRYPTOR_SINGLE_SECRET(EncryptionType::RLWE)
QUELT_ENCRYPTOR_SINGLE_SECRET(EncryptionType::MLWE)
#undef QUELT_ENCRYPTOR_SINGLE_SECRET

template void Encryptor::encryptWithScale<Rlwe>(const std::vector<double> &,
                                                const SecretKeyBase<Rlwe> &, CiphertextBase<Rlwe> &,
                                                u64, double, bool) const;
template void Encryptor::encryptWithScale<Rlwe>(const std::vector<double> &, const KeyPack &,
                                                CiphertextBase<Rlwe> &, u64, double, bool) const;
template void Encryptor::encryptWithScale<EncryptionType::MSRLWE>(
    const std::vector<std::vector<double>> &, const SecretKeyBase<EncryptionType::MSRLWE> &,
    CiphertextBase<EncryptionType::MSRLWE> &, u64, double, bool) const;

} // namespace Quelt
