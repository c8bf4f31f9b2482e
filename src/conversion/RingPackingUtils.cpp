#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/RingPacker.hpp"

#include <algorithm>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;

constexpr const char *kLWEDimensionMessage =
    "[genLWESecretKeyAfterUnPack] Input SecretKey degree should be equal to the dimension of LWE "
    "context.";
constexpr const char *kMLWEDimensionMessage =
    "[genMLWESecretKeyAfterUnPack] Input SecretKey degree should be equal to the "
    "dimension(degree * rank) of MLWE context.";
constexpr const char *kEmbedDivideMessage =
    "[genEmbedSecretKey] The degree of the secret key should divide the degree of the context.";
constexpr const char *kSecretCountMessage =
    "[genEmbedSecretKey] The context should have the secret key's number of secrets.";
constexpr const char *kConjInvDegreeMessage =
    "The degree of context_ci should be equal to twice degree of sk";
constexpr const char *kCompensationLevelMessage =
    "[computeModulusSwitchCompensation] The level exceeds the prime chain";

u64 quotient(u64 a, u64 b) { return b == 0 ? 0 : a / b; }

// The secret count of a key's blocks: 1 for RLWE, the context's for MSRLWE.
// The coefficient array of a key holds one block of `degree` integers per
// secret, and a new key reads as many blocks as its own context has secrets,
// so both contexts must agree.
template <EncryptionType ET>
u64 checkedSecretCount(const std::shared_ptr<ContextContent> &ctx, const SecretKeyBase<ET> &sk) {
    const u64 secrets = getNumSecret(sk.getContext());
    if (getNumSecret(ctx) != secrets || getRank(ctx) != 1 || getRank(sk.getContext()) != 1)
        throw RuntimeException(kSecretCountMessage);
    return secrets;
}

} // namespace

u64 getNumCiphertextsAfterUnPack(const std::shared_ptr<ContextContent> &ctx) {
    return getDegree(ctx);
}

u64 getNumCiphertextsAfterFullDecompose(const std::shared_ptr<ContextContent> &from,
                                        const std::shared_ptr<ContextContent> &to) {
    return quotient(getDegree(from), getDegree(to));
}

u64 getNumCiphertextsToFullCompose(const std::shared_ptr<ContextContent> &from,
                                   const std::shared_ptr<ContextContent> &to) {
    return quotient(getDegree(to), getDegree(from));
}

u64 getNumCiphertextsToModPack(const std::shared_ptr<ContextContent> &from,
                               const std::shared_ptr<ContextContent> &to) {
    return quotient(getDegree(to), getDegree(from));
}

u64 getNumCiphertextsToModPack(const std::shared_ptr<LWE::ContextContent> &,
                               const std::shared_ptr<ContextContent> &to) {
    return getDegree(to);
}

LWE::SecretKey genLWESecretKeyAfterUnPack(const std::shared_ptr<LWE::ContextContent> &ctx,
                                          const SecretKeyBase<EncryptionType::RLWE> &sk) {
    // The key reads `dimension` coefficients from the array.
    if (LWE::getDimension(ctx) != getDegree(sk.getContext()))
        throw RuntimeException(kLWEDimensionMessage);
    int *coefficients = sk.getCoefficients();
    return LWE::SecretKey(ctx, coefficients);
}

SecretKeyBase<EncryptionType::MLWE>
genMLWESecretKeyAfterUnPack(const std::shared_ptr<ContextContent> &ctx,
                            const SecretKeyBase<EncryptionType::RLWE> &sk) {
    const u64 n = getDegree(ctx);
    const u64 r = getRank(ctx);
    const u64 N = getDegree(sk.getContext());
    if (n * r != N)
        throw RuntimeException(kMLWEDimensionMessage);
    const int *s = sk.getCoefficients();
    std::vector<int> c(N);
    for (u64 k = 0; k < r; ++k)
        for (u64 j = 0; j < n; ++j)
            c[k * n + j] = s[k + j * r];
    int *data = c.data();
    return SecretKeyBase<EncryptionType::MLWE>(ctx, data);
}

template <EncryptionType ET>
SecretKeyBase<ET> genEmbedSecretKey(const std::shared_ptr<ContextContent> &ctx,
                                    const SecretKeyBase<ET> &sk) {
    const u64 n = getDegree(sk.getContext());
    const u64 N = getDegree(ctx);
    if (n == 0 || N < n || N % n != 0)
        throw RuntimeException(kEmbedDivideMessage);
    const u64 secrets = checkedSecretCount(ctx, sk);
    const u64 m = N / n;
    const int *s = sk.getCoefficients();
    std::vector<int> c(secrets * N, 0);
    for (u64 b = 0; b < secrets; ++b)
        for (u64 j = 0; j < n; ++j)
            c[b * N + j * m] = s[b * n + j];
    int *data = c.data();
    return SecretKeyBase<ET>(ctx, data);
}

template <EncryptionType ET>
SecretKeyBase<ET> genConjInvSecretKey(const std::shared_ptr<ContextContent> &context_ci,
                                      const SecretKeyBase<ET> &sk) {
    const u64 n = getDegree(sk.getContext());
    if (getDegree(context_ci) != 2 * n)
        throw RuntimeException(kConjInvDegreeMessage);
    const u64 secrets = checkedSecretCount(context_ci, sk);
    const int *s = sk.getCoefficients();
    std::vector<int> c(secrets * 2 * n, 0);
    for (u64 b = 0; b < secrets; ++b) {
        const int *src = s + b * n;
        int *dst = c.data() + b * 2 * n;
        dst[0] = src[0];
        for (u64 j = 1; j < n; ++j) {
            dst[j] = src[j];
            dst[2 * n - j] = -src[j];
        }
    }
    int *data = c.data();
    return SecretKeyBase<ET>(context_ci, data);
}

template SecretKeyBase<EncryptionType::RLWE>
genEmbedSecretKey(const std::shared_ptr<ContextContent> &,
                  const SecretKeyBase<EncryptionType::RLWE> &);
template SecretKeyBase<EncryptionType::MSRLWE>
genEmbedSecretKey(const std::shared_ptr<ContextContent> &,
                  const SecretKeyBase<EncryptionType::MSRLWE> &);
template SecretKeyBase<EncryptionType::RLWE>
genConjInvSecretKey(const std::shared_ptr<ContextContent> &,
                    const SecretKeyBase<EncryptionType::RLWE> &);
template SecretKeyBase<EncryptionType::MSRLWE>
genConjInvSecretKey(const std::shared_ptr<ContextContent> &,
                    const SecretKeyBase<EncryptionType::MSRLWE> &);

double computeModulusSwitchCompensation(const std::shared_ptr<ContextContent> &from,
                                        const std::shared_ptr<ContextContent> &to, u64 level_from,
                                        u64 level_to) {
    const std::vector<u64> p = getPrimeList(from);
    const std::vector<u64> q = getPrimeList(to);
    if (level_from >= getLength(from) || level_to >= getLength(to))
        throw RuntimeException(kCompensationLevelMessage);
    double value = 1.0;
    for (u64 i = 0; i <= std::max(level_from, level_to); ++i) {
        if (i <= level_from)
            value *= static_cast<double>(p[i]);
        if (i <= level_to)
            value /= static_cast<double>(q[i]);
    }
    return value;
}

} // namespace Quelt
