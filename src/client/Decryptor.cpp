#include "Quelt/Decryptor.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "client/CryptoSupport.hpp"
#include "context/CiphertextImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/PlaintextImpl.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

constexpr EncryptionType Rlwe = EncryptionType::RLWE;
constexpr EncryptionType Msrlwe = EncryptionType::MSRLWE;

constexpr const char *kNeedsSlots = "The operand have to encode the message on its slots";
constexpr const char *kNeedsCoefficients =
    "The operand have to encode the message on its coefficients";
constexpr const char *kMLWECount = "[decrypt] Number of polynomials of MLWE ciphertext is invalid";
constexpr const char *kMSRLWECount =
    "[decrypt] Number of polynomials of MSRLWE ciphertext is invalid";
constexpr const char *kPartialSize = "[partialDecrypt] Size of Ciphertext should be 2";
constexpr const char *kCiphertextMismatch =
    "[decrypt] The ciphertext does not match the context of the Decryptor";
constexpr const char *kKeyMismatch =
    "[decrypt] The key does not match the context of the Decryptor";
constexpr const char *kPartialCiphertextMismatch =
    "[partialDecrypt] The ciphertext does not match the context of the Decryptor";
constexpr const char *kPartialKeyMismatch =
    "[partialDecrypt] The key does not match the context of the Decryptor";

template <EncryptionType ET>
void requireEncoding(const CiphertextBase<ET> &ciphertext, EncodingType encoding) {
    if (ciphertext.getEncodingType() != encoding)
        throw RuntimeException(encoding == EncodingType::SLOT ? kNeedsSlots : kNeedsCoefficients);
}

// The messages of the shared operand checks of one operation.
struct MismatchMessages {
    const char *ciphertext;
    const char *key;
};
constexpr MismatchMessages kDecryptMessages{kCiphertextMismatch, kKeyMismatch};
constexpr MismatchMessages kPartialMessages{kPartialCiphertextMismatch, kPartialKeyMismatch};

// The checks every decryption makes after its own: one level and device, the
// host, every polynomial over the context's primes 0..level, the first
// `keyPolys` secret polynomials as well, and a rescale counter the output (a
// plaintext, or for partial decryption a ciphertext) can carry at that level.
// Returns the level.
template <EncryptionType ET>
u64 checkOperands(const ContextContent &context, const CiphertextBase<ET> &ciphertext,
                  const SecretKeyBase<ET> &secretKey, u64 keyPolys,
                  const MismatchMessages &messages, bool makesPlaintext) {
    const u64 level = ciphertext.getLevel();
    detail::requireHost(ciphertext.getDevice());
    for (const Polynomial &poly : ciphertext.getPolyVector().getPolys())
        if (!detail::coversRows(poly, context, level))
            throw RuntimeException(messages.ciphertext);
    const PolynomialVector &sx = secretKey.getSxVec();
    if (sx.getSize() < keyPolys)
        throw RuntimeException(messages.key);
    for (u64 i = 0; i < keyPolys; ++i)
        if (!detail::coversRows(sx.getPoly(i), context, level))
            throw RuntimeException(messages.key);
    // The counter goes to the output, which must accept it at this level (a
    // ciphertext whose level was lowered after its counter was set may carry
    // one above its level).
    if (makesPlaintext)
        PlaintextImpl::checkRescaleCounter(ciphertext.getRescaleCounter(), level);
    else
        CiphertextImpl<ET>::checkRescaleCounter(ciphertext.getRescaleCounter(), level);
    return level;
}

// The polynomials of a ciphertext in NTT form over rows 0..level: those
// already in NTT form are read in place, the others are transformed on
// copies.
class NttOperands {
public:
    NttOperands(const PolynomialVector &polys, const PrimeModuli &chain, u64 level) {
        copies_.reserve(polys.getSize());
        for (const Polynomial &poly : polys.getPolys()) {
            if (poly.isNTT()) {
                polys_.push_back(&poly);
                continue;
            }
            copies_.push_back(poly);
            detail::forwardRows(chain, copies_.back(), level);
            polys_.push_back(&copies_.back());
        }
    }

    const Polynomial &operator[](u64 i) const { return *polys_[i]; }
    u64 size() const { return polys_.size(); }

private:
    std::vector<Polynomial> copies_;
    std::vector<const Polynomial *> polys_;
};

// p = p + c over rows 0..level (either may span the temporary primes).
void addRows(const PrimeModuli &chain, Polynomial &p, const Polynomial &c, u64 level) {
    chain.add<OutputModulusBoundValidator>(p, c, p, {0, level + 1});
}

// A plaintext of the context to decrypt into: the level first, then the
// rescale counter (checked against it beforehand).
template <EncryptionType ET>
Plaintext makeOutput(const std::shared_ptr<ContextContent> &context,
                     const CiphertextBase<ET> &ciphertext, u64 level) {
    Plaintext plaintext(context);
    plaintext.setLevel(level);
    plaintext.setLogSlots(ciphertext.getLogSlots());
    plaintext.setRescaleCounter(ciphertext.getRescaleCounter());
    return plaintext;
}

// RLWE with n >= 2 polynomials by Horner's rule in s, MLWE as c0 + sum ci
// s(i-1). The encoding type is the caller's to check.
template <EncryptionType ET>
Plaintext decryptSingle(const std::shared_ptr<ContextContent> &context,
                        const CiphertextBase<ET> &ciphertext, const SecretKeyBase<ET> &secretKey) {
    u64 keyPolys = 1;
    if constexpr (ET == EncryptionType::MLWE) {
        keyPolys = getRank(ciphertext.getContext());
        if (ciphertext.getNumPoly() != keyPolys + 1)
            throw RuntimeException(kMLWECount);
    }
    const u64 level =
        checkOperands(*context, ciphertext, secretKey, keyPolys, kDecryptMessages, true);

    const PrimeModuli &chain = context->getPrimeModuli();
    const NttOperands c(ciphertext.getPolyVector(), chain, level);
    Plaintext plaintext = makeOutput(context, ciphertext, level);
    Polynomial &p = plaintext.getMx();
    const u64 n = c.size();
    if constexpr (ET == EncryptionType::RLWE) {
        const Polynomial &s = secretKey.getSx(0);
        chain.hadamardMult(c[n - 1], s, p);
        for (u64 j = n - 1; j-- > 0;) {
            addRows(chain, p, c[j], level);
            if (j > 0)
                chain.hadamardMult(p, s, p);
        }
    } else {
        chain.hadamardMult(c[1], secretKey.getSx(0), p);
        for (u64 i = 2; i < n; ++i)
            chain.hadamardMultAndAdd(c[i], secretKey.getSx(i - 1), p);
        addRows(chain, p, c[0], level);
    }
    return plaintext;
}

// The number of secrets of a multi-secret ciphertext and its level, after
// the polynomial count and the shared checks.
struct MultiSecretShape {
    u64 secrets;
    u64 level;
};
MultiSecretShape checkMultiSecret(const ContextContent &context,
                                  const CiphertextBase<Msrlwe> &ciphertext,
                                  const SecretKeyBase<Msrlwe> &secretKey) {
    const u64 secrets = getNumSecret(ciphertext.getContext());
    if (ciphertext.getNumPoly() != secrets + 1)
        throw RuntimeException(kMSRLWECount);
    return {secrets,
            checkOperands(context, ciphertext, secretKey, secrets, kDecryptMessages, true)};
}

// Plaintext i = ci + cs si, i = 0..s-1.
std::vector<Plaintext> decryptPerSecret(const std::shared_ptr<ContextContent> &context,
                                        const CiphertextBase<Msrlwe> &ciphertext,
                                        const SecretKeyBase<Msrlwe> &secretKey) {
    const auto [secrets, level] = checkMultiSecret(*context, ciphertext, secretKey);

    const PrimeModuli &chain = context->getPrimeModuli();
    const NttOperands c(ciphertext.getPolyVector(), chain, level);
    std::vector<Plaintext> plaintexts;
    plaintexts.reserve(secrets);
    for (u64 i = 0; i < secrets; ++i) {
        Plaintext plaintext = makeOutput(context, ciphertext, level);
        chain.hadamardMult(c[secrets], secretKey.getSx(i), plaintext.getMx());
        addRows(chain, plaintext.getMx(), c[i], level);
        plaintexts.push_back(std::move(plaintext));
    }
    return plaintexts;
}

// cs + sum ci si.
Plaintext decryptGeneral(const std::shared_ptr<ContextContent> &context,
                         const CiphertextBase<Msrlwe> &ciphertext,
                         const SecretKeyBase<Msrlwe> &secretKey) {
    const auto [secrets, level] = checkMultiSecret(*context, ciphertext, secretKey);

    const PrimeModuli &chain = context->getPrimeModuli();
    const NttOperands c(ciphertext.getPolyVector(), chain, level);
    Plaintext plaintext = makeOutput(context, ciphertext, level);
    Polynomial &p = plaintext.getMx();
    chain.hadamardMult(c[0], secretKey.getSx(0), p);
    for (u64 i = 1; i < secrets; ++i)
        chain.hadamardMultAndAdd(c[i], secretKey.getSx(i), p);
    addRows(chain, p, c[secrets], level);
    return plaintext;
}

} // namespace

Decryptor::Decryptor(const std::shared_ptr<ContextContent> &context) : context_(context) {
    if (!context_)
        throw RuntimeException(kNullContextMessage);
}

// ---------------------------------------------------------------------------
// RLWE and MLWE
// ---------------------------------------------------------------------------

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void Decryptor::decrypt(const CiphertextBase<ET> &ciphertext,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               Plaintext &out) const {
    requireEncoding(ciphertext, EncodingType::SLOT);
    out = decryptSingle(context_, ciphertext, secretKey);
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void Decryptor::decrypt(const CiphertextBase<ET> &ciphertext,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               Message &out) const {
    requireEncoding(ciphertext, EncodingType::SLOT);
    out = EnDecoder(context_).decode(decryptSingle(context_, ciphertext, secretKey));
}

template <EncryptionType ET>
requires(ET != EncryptionType::MSRLWE) void Decryptor::decrypt(const CiphertextBase<ET> &ciphertext,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               std::vector<double> &out) const {
    requireEncoding(ciphertext, EncodingType::COEFFICIENT);
    out = EnDecoder(context_).decodeWithoutFFT(decryptSingle(context_, ciphertext, secretKey));
}

template <EncryptionType ET>
requires(ET == EncryptionType::RLWE) void Decryptor::decryptWithScale(
    const CiphertextBase<ET> &ciphertext, const SecretKeyBase<ET> &secretKey,
    std::vector<double> &out, double scale, bool /*nttForm*/) const {
    requireEncoding(ciphertext, EncodingType::COEFFICIENT);
    out = EnDecoder(context_).decodeWithoutFFTWithScale(
        decryptSingle(context_, ciphertext, secretKey), scale);
}

template <EncryptionType ET>
requires(ET == EncryptionType::RLWE) void Decryptor::torusDecryptWithScale(
    const CiphertextBase<ET> &ciphertext, const SecretKeyBase<ET> &secretKey,
    std::vector<double> &out, double scale, double t) const {
    std::vector<double> values;
    decryptWithScale(ciphertext, secretKey, values, scale, false);
    if (t != 0.0) {
        const double threshold = -0.5 / t;
        for (double &value : values)
            if (value < threshold)
                value += 1.0;
    }
    out = std::move(values);
}

void Decryptor::partialDecrypt(const CiphertextBase<Rlwe> &ciphertext,
                               const SecretKeyBase<Rlwe> &secretKey,
                               CiphertextBase<Rlwe> &out) const {
    requireEncoding(ciphertext, EncodingType::SLOT);
    if (ciphertext.getNumPoly() != 2)
        throw RuntimeException(kPartialSize);
    const u64 level = checkOperands(*context_, ciphertext, secretKey, 1, kPartialMessages, false);

    // The output may be the input: read from a copy then.
    const CiphertextBase<Rlwe> *input = &ciphertext;
    std::optional<CiphertextBase<Rlwe>> copy;
    if (&out == &ciphertext)
        input = &copy.emplace(ciphertext);
    const PrimeModuli &chain = context_->getPrimeModuli();
    const NttOperands c(input->getPolyVector(), chain, level);
    const Polynomial e = detail::makeSampleGaussian(context_, level, kHostDevice, true);
    detail::shapeCiphertext(out, context_, 2, level, input->getLogSlots(),
                            input->getRescaleCounter(), input->getEncodingType());
    Polynomial &d0 = out.getPoly(0);
    chain.hadamardMult(c[1], secretKey.getSx(0), d0);
    addRows(chain, d0, c[0], level);
    addRows(chain, d0, e, level);
    const u64 words = (level + 1) * chain.getDegree();
    std::copy_n(c[1].getLimb(0), words, out.getPoly(1).getLimb(0));
}

// ---------------------------------------------------------------------------
// MSRLWE
// ---------------------------------------------------------------------------

void Decryptor::decrypt(const CiphertextBase<Msrlwe> &ciphertext,
                        const SecretKeyBase<Msrlwe> &secretKey, std::vector<Plaintext> &out) const {
    out = decryptPerSecret(context_, ciphertext, secretKey);
}

void Decryptor::decrypt(const CiphertextBase<Msrlwe> &ciphertext,
                        const SecretKeyBase<Msrlwe> &secretKey, std::vector<Message> &out) const {
    requireEncoding(ciphertext, EncodingType::SLOT);
    out = EnDecoder(context_).decode(decryptPerSecret(context_, ciphertext, secretKey));
}

void Decryptor::decrypt(const CiphertextBase<Msrlwe> &ciphertext,
                        const SecretKeyBase<Msrlwe> &secretKey,
                        std::vector<std::vector<double>> &out) const {
    requireEncoding(ciphertext, EncodingType::COEFFICIENT);
    const EnDecoder decoder(context_);
    std::vector<std::vector<double>> values;
    for (const Plaintext &plaintext : decryptPerSecret(context_, ciphertext, secretKey))
        values.push_back(decoder.decodeWithoutFFT(plaintext));
    out = std::move(values);
}

template <EncryptionType ET>
requires(ET == EncryptionType::MSRLWE) void Decryptor::decryptWithScale(
    const CiphertextBase<ET> &ciphertext, const SecretKeyBase<ET> &secretKey,
    std::vector<std::vector<double>> &out, double scale, bool /*nttForm*/) const {
    requireEncoding(ciphertext, EncodingType::COEFFICIENT);
    const EnDecoder decoder(context_);
    std::vector<std::vector<double>> values;
    for (const Plaintext &plaintext : decryptPerSecret(context_, ciphertext, secretKey))
        values.push_back(decoder.decodeWithoutFFTWithScale(plaintext, scale));
    out = std::move(values);
}

void Decryptor::generalDecrypt(const CiphertextBase<Msrlwe> &ciphertext,
                               const SecretKeyBase<Msrlwe> &secretKey, Plaintext &out) const {
    out = decryptGeneral(context_, ciphertext, secretKey);
}

void Decryptor::generalDecryptWithScale(const CiphertextBase<Msrlwe> &ciphertext,
                                        const SecretKeyBase<Msrlwe> &secretKey,
                                        std::vector<double> &out, double scale,
                                        bool /*nttForm*/) const {
    requireEncoding(ciphertext, EncodingType::COEFFICIENT);
    out = EnDecoder(context_).decodeWithoutFFTWithScale(
        decryptGeneral(context_, ciphertext, secretKey), scale);
}

// ---------------------------------------------------------------------------
// Instantiations
// ---------------------------------------------------------------------------

#define QUELT_DECRYPTOR_SINGLE_SECRET(ET)                                                          \
    template void Decryptor::decrypt<ET>(const CiphertextBase<ET> &, const SecretKeyBase<ET> &,    \
                                         Plaintext &) const;                                       \
    template void Decryptor::decrypt<ET>(const CiphertextBase<ET> &, const SecretKeyBase<ET> &,    \
                                         Message &) const;                                         \
    template void Decryptor::decrypt<ET>(const CiphertextBase<ET> &, const SecretKeyBase<ET> &,    \
                                         std::vector<double> &) const;

QUELT_DECRYPTOR_SINGLE_SECRET(EncryptionType::RLWE)
QUELT_DECRYPTOR_SINGLE_SECRET(EncryptionType::MLWE)
#undef QUELT_DECRYPTOR_SINGLE_SECRET

template void Decryptor::decryptWithScale<Rlwe>(const CiphertextBase<Rlwe> &,
                                                const SecretKeyBase<Rlwe> &, std::vector<double> &,
                                                double, bool) const;
template void Decryptor::torusDecryptWithScale<Rlwe>(const CiphertextBase<Rlwe> &,
                                                     const SecretKeyBase<Rlwe> &,
                                                     std::vector<double> &, double, double) const;
template void Decryptor::decryptWithScale<Msrlwe>(const CiphertextBase<Msrlwe> &,
                                                  const SecretKeyBase<Msrlwe> &,
                                                  std::vector<std::vector<double>> &, double,
                                                  bool) const;

} // namespace Quelt
