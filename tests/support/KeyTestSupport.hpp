#pragma once

// Views of keys for tests: switching keys filled with known residues and
// their stored forms, and the defining check of an encryption key by
// replaying its draws (generation takes the 128-word seed of ax, then one
// Gaussian error polynomial e at the encryption level l, from the calling
// thread's generator; the key must then hold ax regenerated from that seed
// over all chain primes at level l, and bx with bx + ax * s = NTT(e) exactly
// on primes 0..l), shared by every way of generating the key.

#include "Quelt/Context.hpp"
#include "Quelt/EncryptionKey.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/SecretKey.hpp"
#include "Quelt/SparseSecretEncapsulationKey.hpp"
#include "arith/NTT.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/PolyGerm.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "support/DataObjects.hpp"
#include "support/ModularReference.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt::test {

// A degree-128 pair named as a preset and its sparse companion (FGbSSE and
// SGb0), so that operations which check the companion preset run at this
// degree. Main: five primes in two digits, three temporary primes. Sparse:
// the main prime 0 and one temporary prime, Hamming weight 8.
inline std::shared_ptr<ContextContent> sseNamedMain() {
    static const auto ctx = withParameter(makeContext(7, 5, 50, 40, 50, 2), [](Parameter &p) {
        p.preset = ParameterPreset::FGbSSE;
        p.sparse_secret_encapsulation = true;
    });
    return ctx;
}
inline std::shared_ptr<ContextContent> sseNamedSparse() {
    static const auto ctx =
        withParameter(contextFromPrimes(sseNamedMain(), 7, {0}, {5}, 1), [](Parameter &p) {
            p.hamming_weight = 8;
            p.preset = ParameterPreset::SGb0;
        });
    return ctx;
}

// rank x secrets x N: the coefficients of a secret key of the context.
inline std::uint64_t secretCoefficientCount(const std::shared_ptr<ContextContent> &ctx) {
    return getRank(ctx) * getNumSecret(ctx) * getDegree(ctx);
}

template <EncryptionType ET>
std::vector<int> coefficientsOf(const SecretKeyBase<ET> &key) {
    const int *c = key.getCoefficients();
    return std::vector<int>(c, c + secretCoefficientCount(key.getContext()));
}

// The words of every polynomial of sx.
template <EncryptionType ET>
std::vector<std::vector<std::uint64_t>> residuesOf(const SecretKeyBase<ET> &key) {
    std::vector<std::vector<std::uint64_t>> words;
    for (const Polynomial &poly : key.getSxVec().getPolys())
        words.emplace_back(poly.getData().begin(), poly.getData().end());
    return words;
}

// The full and the seed-only record of a secret key.
template <EncryptionType ET>
std::string fullRecord(const SecretKeyBase<ET> &key) {
    std::ostringstream out;
    key.save(out);
    return out.str();
}

// (Any key with saveSeedOnly: those of the LWE scheme too.)
template <typename Key>
std::string seedRecord(const Key &key) {
    std::ostringstream out;
    key.saveSeedOnly(out);
    return out.str();
}

// The generator state a sampled key recorded: the tail of its seed-only form.
template <EncryptionType ET>
std::string recordedState(const SecretKeyBase<ET> &key) {
    const std::string bytes = seedRecord(key);
    return bytes.substr(bytes.size() - UniformRandomBitGenerator::kStateBytes);
}

// Generates a key with `generate` from the seed {1, 2, 3, 4}, replays the
// draws and checks the key against them. Returns the key.
inline EncryptionKey
expectEncryptionKeyReplays(const std::shared_ptr<ContextContent> &ctx,
                           const SecretKeyBase<EncryptionType::RLWE> &secretKey,
                           const std::function<EncryptionKey()> &generate) {
    auto &gen = UniformRandomBitGenerator::getInstance();
    gen.setSeed({1, 2, 3, 4});
    EncryptionKey key = generate();
    const std::string after = gen.getState();

    const std::uint64_t n = getDegree(ctx);
    const std::uint64_t length = getLength(ctx);
    const std::uint64_t level = getEncryptionLevel(ctx);
    gen.setSeed({1, 2, 3, 4});
    const PolyGerm germ;
    Polynomial error(ctx, false, true);
    error.setLevel(level);
    RandomSampler().sampleGaussian(error, ctx);
    EXPECT_EQ(gen.getState(), after) << "generation draws more than the seed and the error";
    ctx->getPrimeModuli().forwardNTT<OutputModulusBoundValidator, 1>(
        error, error, OutputModulusBoundValidator(0, level + 1));

    const Polynomial &ax = key.getAx();
    const Polynomial &bx = key.getBx();
    EXPECT_TRUE(ax.isNTT() && bx.isNTT());
    EXPECT_FALSE(ax.isModUp() || bx.isModUp());
    EXPECT_EQ(ax.getLevel(), level);
    EXPECT_EQ(bx.getLevel(), level);
    EXPECT_TRUE(ax.hasGerm() && *ax.getGerm() == germ);
    std::vector<std::uint64_t> primes = getPrimeList(ctx);
    primes.resize(length);
    const auto regenerated = detail::regenerateUniformResidues(germ, n, primes);
    EXPECT_EQ(std::vector<std::uint64_t>(ax.getData().begin(), ax.getData().end()),
              std::vector<std::uint64_t>(regenerated.begin(), regenerated.end()));
    EXPECT_EQ(ax.getData().size(), length * n);

    const Polynomial &s = secretKey.getSx(0);
    for (std::uint64_t i = 0; i <= level; ++i) {
        const std::uint64_t q = primes[i];
        for (std::uint64_t j = 0; j < n; ++j) {
            const std::uint64_t sum =
                addModRef(bx.getLimb(i)[j], mulModRef(ax.getLimb(i)[j], s.getLimb(i)[j], q), q);
            if (sum != error.getLimb(i)[j]) {
                ADD_FAILURE() << "bx + ax * s differs from the error at prime " << i << ", slot "
                              << j;
                return key;
            }
        }
    }
    return key;
}

// The host (or another device's) lists of a switching key.
inline std::vector<Polynomial> &masksOf(EvaluationKey &key, const Device &device = kHostDevice) {
    return detail::EvaluationKeyAccess::ax(key, device);
}
inline std::vector<Polynomial> &bodiesOf(EvaluationKey &key, const Device &device = kHostDevice) {
    return detail::EvaluationKeyAccess::bx(key, device);
}

// Gives every host polynomial of the key residues of its own: body p from
// seed + p, mask p from seed + 1000 + p. With seededMasks the masks are
// instead drawn from fresh seeds, as generated keys carry them.
inline void fillKey(EvaluationKey &key, std::uint64_t seed, bool seededMasks = false) {
    std::uint64_t p = 0;
    for (auto &body : bodiesOf(key))
        Quelt::test::fillResidues(body, seed + p++);
    p = 0;
    for (auto &mask : masksOf(key)) {
        if (seededMasks)
            populateUniformPoly(mask, true);
        else
            Quelt::test::fillResidues(mask, seed + 1000 + p++);
    }
}

// The residues of every host polynomial, bodies first, then masks.
inline std::vector<std::vector<std::uint64_t>> keyWords(EvaluationKey &key) {
    std::vector<std::vector<std::uint64_t>> words;
    for (const auto &body : bodiesOf(key))
        words.push_back(Quelt::test::wordsOf(body));
    for (const auto &mask : masksOf(key))
        words.push_back(Quelt::test::wordsOf(mask));
    return words;
}

// The standalone form of a switching key: byte-order byte and record.
inline std::string savedKey(const EvaluationKey &key) {
    std::ostringstream out;
    save(key, out);
    return out.str();
}

// ---- The defining identity of switching keys, over the integers ----------
//
// A switching key from s' to s over a context of L base and K temporary
// primes (product PQ) with gadget rank d holds, for every secret k and digit
// j, b = bx[k d + j] and a = ax[j] with b + a s_k = e + P (Q / Q_j) s'_k
// modulo PQ, e a small error. The check below recomputes this from the
// integer coefficients of s and s' alone: the key's polynomials are taken to
// coefficient form with the library's inverse transform, a s_k is a
// schoolbook product, the residues are joined by big-integer CRT and the
// gadget factor comes from the prime values.

using Coefficients = std::vector<std::int64_t>;

// The integer coefficients of secret k of a rank-1 key.
template <EncryptionType ET>
Coefficients secretCoefficients(const SecretKeyBase<ET> &key, std::uint64_t k = 0) {
    const std::uint64_t n = getDegree(key.getContext());
    const int *c = key.getCoefficients() + k * n;
    return Coefficients(c, c + n);
}

// s^2 modulo X^N + 1, by the schoolbook rule.
inline Coefficients negacyclicSquare(const Coefficients &s) {
    const std::size_t n = s.size();
    Coefficients out(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            if (i + j < n)
                out[i + j] += s[i] * s[j];
            else
                out[i + j - n] -= s[i] * s[j];
    return out;
}

// s(X^g) modulo X^N + 1: coefficient i goes to i g mod 2N, negated when that
// is N or more (X^N = -1). g odd.
inline Coefficients automorphism(const Coefficients &s, std::uint64_t g) {
    const std::uint64_t n = s.size();
    Coefficients out(n, 0);
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t e =
            static_cast<std::uint64_t>(static_cast<unsigned __int128>(i) * g % (2 * n));
        if (e < n)
            out[e] += s[i];
        else
            out[e - n] -= s[i];
    }
    return out;
}

// 5^idx mod 2N, the exponent of the left rotation by idx, by repeated
// multiplication.
inline std::uint64_t rotationExponent(std::uint64_t n, std::uint64_t idx) {
    std::uint64_t g = 1;
    for (std::uint64_t i = 0; i < idx; ++i)
        g = g * 5 % (2 * n);
    return g;
}

// Limb i of a polynomial of the context in coefficient form (the library's
// inverse transform of one NTT-form limb).
inline std::vector<std::uint64_t> coefficientLimb(const std::shared_ptr<ContextContent> &ctx,
                                                  const Polynomial &poly, std::uint64_t i) {
    std::vector<std::uint64_t> limb(poly.getLimb(i), poly.getLimb(i) + poly.getDegree());
    ctx->getPrimeModuli().getModulus(i).getNTT()->computeBackward<1>(limb.data());
    return limb;
}

// The error bound of generated keys: |e| stays below 21 for the rounded
// Gaussian of width 3.2.
inline constexpr std::int64_t kKeyErrorBound = 21;

// The integer e with |e| <= bound whose residues modulo the primes are
// `residues`, or nothing. By the Chinese remainder theorem this is the
// centred value of the residues modulo the product of the primes, when that
// value is that small: e is read off the first prime and must then match
// every other (all primes above 2 bound).
inline std::optional<std::int64_t> smallCrtValue(const std::vector<std::uint64_t> &residues,
                                                 const std::vector<std::uint64_t> &primes,
                                                 std::int64_t bound) {
    const std::uint64_t q0 = primes[0];
    const std::uint64_t r0 = residues[0];
    const std::int64_t e =
        r0 > q0 / 2 ? -static_cast<std::int64_t>(q0 - r0) : static_cast<std::int64_t>(r0);
    if (e > bound || e < -bound)
        return std::nullopt;
    for (std::size_t i = 1; i < primes.size(); ++i)
        if (residues[i] != signedResidueRef(e, primes[i]))
            return std::nullopt;
    return e;
}

// How the check below forms a s: by the schoolbook rule (independent of the
// library's transforms, for small degrees), or pointwise in the library's NTT
// form (tested on its own), which degree 2^16 needs.
enum class KeyProduct { Schoolbook, Transform };

// Checks the identity for every secret k (from[k] the source, to[k] the
// target coefficients) and digit j of a switching key over ctx, and that the
// masks and bodies have the key's shape. Returns the errors, body by body
// (position k d + j), empty on the first failure.
inline std::vector<Coefficients>
expectSwitchingKeyIdentity(const std::shared_ptr<ContextContent> &ctx, const EvaluationKey &key,
                           const std::vector<Coefficients> &from,
                           const std::vector<Coefficients> &to,
                           KeyProduct product = KeyProduct::Schoolbook) {
    const std::vector<std::uint64_t> primes = getPrimeList(ctx);
    const std::uint64_t n = getDegree(ctx);
    const std::uint64_t length = getLength(ctx);
    const std::uint64_t d = getGadgetRank(ctx);
    const std::uint64_t secrets = from.size();
    const auto &ax = detail::EvaluationKeyAccess::ax(key, kHostDevice);
    const auto &bx = detail::EvaluationKeyAccess::bx(key, kHostDevice);
    std::vector<Coefficients> errors;
    if (ax.size() != d || bx.size() != d * secrets || to.size() != secrets) {
        ADD_FAILURE() << "the key holds " << ax.size() << " masks and " << bx.size()
                      << " bodies, not " << d << " and " << d * secrets;
        return {};
    }
    for (const auto *list : {&ax, &bx})
        for (const Polynomial &p : *list)
            if (!p.isNTT() || !p.isModUp() || p.getSize() != primes.size() ||
                p.getLevel() != length - 1) {
                ADD_FAILURE() << "a key polynomial is not mod-up in NTT form over the chain";
                return {};
            }
    const std::uint64_t alpha = (length + d - 1) / d;
    for (std::uint64_t k = 0; k < secrets; ++k) {
        for (std::uint64_t j = 0; j < d; ++j) {
            const auto inDigit = [&](std::uint64_t i) {
                return i >= j * alpha && i < std::min((j + 1) * alpha, length);
            };
            // b + a s_k - P (Q / Q_j) s'_k per prime, in coefficient form; the
            // gadget factor is 0 outside digit j.
            std::vector<std::vector<std::uint64_t>> sums(primes.size());
            for (std::uint64_t i = 0; i < primes.size(); ++i) {
                const std::uint64_t q = primes[i];
                std::vector<std::uint64_t> s(n);
                for (std::uint64_t c = 0; c < n; ++c)
                    s[c] = signedResidueRef(to[k][c], q);
                if (product == KeyProduct::Schoolbook) {
                    const auto as = negacyclicProductRef(coefficientLimb(ctx, ax[j], i), s, q);
                    sums[i] = coefficientLimb(ctx, bx[k * d + j], i);
                    for (std::uint64_t c = 0; c < n; ++c)
                        sums[i][c] = addModRef(sums[i][c], as[c], q);
                } else {
                    const NTT &ntt = *ctx->getPrimeModuli().getModulus(i).getNTT();
                    ntt.computeForward<1>(s.data());
                    sums[i].resize(n);
                    for (std::uint64_t c = 0; c < n; ++c)
                        sums[i][c] = addModRef(bx[k * d + j].getLimb(i)[c],
                                               mulModRef(ax[j].getLimb(i)[c], s[c], q), q);
                    ntt.computeBackward<1>(sums[i].data());
                }
                std::uint64_t gadget = 0;
                if (inDigit(i)) {
                    gadget = 1;
                    for (std::uint64_t m = 0; m < primes.size(); ++m)
                        if (!inDigit(m))
                            gadget = mulModRef(gadget, primes[m] % q, q);
                }
                for (std::uint64_t c = 0; c < n; ++c)
                    sums[i][c] = subModRef(
                        sums[i][c], mulModRef(gadget, signedResidueRef(from[k][c], q), q), q);
            }
            Coefficients error(n);
            std::vector<std::uint64_t> residues(primes.size());
            for (std::uint64_t c = 0; c < n; ++c) {
                for (std::uint64_t i = 0; i < primes.size(); ++i)
                    residues[i] = sums[i][c];
                const auto e = smallCrtValue(residues, primes, kKeyErrorBound);
                if (!e) {
                    ADD_FAILURE() << "secret " << k << ", digit " << j << ", coefficient " << c
                                  << ": b + a s - P Q^_j s' is not a small error";
                    return {};
                }
                error[c] = *e;
            }
            errors.push_back(std::move(error));
        }
    }
    return errors;
}

// The single-secret form.
inline std::vector<Coefficients>
expectSwitchingKeyIdentity(const std::shared_ptr<ContextContent> &ctx, const EvaluationKey &key,
                           const Coefficients &from, const Coefficients &to,
                           KeyProduct product = KeyProduct::Schoolbook) {
    return expectSwitchingKeyIdentity(ctx, key, std::vector<Coefficients>{from},
                                      std::vector<Coefficients>{to}, product);
}

// The errors of different digits (and secrets) are drawn apart.
inline void expectDistinctErrors(const std::vector<Coefficients> &errors) {
    for (std::size_t a = 0; a < errors.size(); ++a)
        for (std::size_t b = a + 1; b < errors.size(); ++b)
            EXPECT_NE(errors[a], errors[b]) << "bodies " << a << " and " << b;
}

// Every mask of the key carries a germ and holds exactly the residues its
// germ regenerates over the chain.
inline void expectMasksFromGerms(const std::shared_ptr<ContextContent> &ctx,
                                 const EvaluationKey &key) {
    for (const Polynomial &mask : detail::EvaluationKeyAccess::ax(key, kHostDevice)) {
        ASSERT_TRUE(mask.hasGerm());
        const auto regenerated =
            detail::regenerateUniformResidues(*mask.getGerm(), getDegree(ctx), getPrimeList(ctx));
        EXPECT_EQ(Quelt::test::wordsOf(mask),
                  std::vector<std::uint64_t>(regenerated.begin(), regenerated.end()));
    }
}

// ---- Encapsulation keys ----------------------------------------------------

// The coefficients of every secret of a key, secret by secret.
template <EncryptionType ET>
std::vector<Coefficients> allSecretCoefficients(const SecretKeyBase<ET> &key) {
    std::vector<Coefficients> s;
    for (std::uint64_t k = 0; k < getNumSecret(key.getContext()); ++k)
        s.push_back(secretCoefficients(key, k));
    return s;
}

// The sparse secret of an encapsulation key made right after setSeed(seed):
// the only draw before the keys' own is that secret.
template <typename Key>
Key replayedSparseSecret(const std::shared_ptr<ContextContent> &sparse,
                         const std::array<std::uint64_t, 4> &seed) {
    UniformRandomBitGenerator::getInstance().setSeed(seed);
    return Key(sparse);
}

// An encapsulation key made right after setSeed(seed) for the default key sk:
// the DTS part over the sparse context switches sk to the replayed sparse
// secret B, the STD part over the main context switches B to sk (secret k to
// secret k), both of type 's' with masks from germs and fresh errors. B has
// the sparse context's Hamming weight. Returns B's coefficients.
template <typename Key>
std::vector<Coefficients> expectEncapsulationKey(const std::shared_ptr<ContextContent> &main,
                                                 const std::shared_ptr<ContextContent> &sparse,
                                                 const SparseSecretEncapsulationKey &key,
                                                 const Key &sk,
                                                 const std::array<std::uint64_t, 4> &seed,
                                                 KeyProduct product = KeyProduct::Schoolbook) {
    const std::vector<Coefficients> dense = allSecretCoefficients(sk);
    const std::vector<Coefficients> b =
        allSecretCoefficients(replayedSparseSecret<Key>(sparse, seed));
    for (const Coefficients &s : b)
        EXPECT_EQ(static_cast<std::uint64_t>(
                      std::count_if(s.begin(), s.end(), [](std::int64_t c) { return c != 0; })),
                  getHammingWeight(sparse));
    EXPECT_NE(b, dense);
    EXPECT_EQ(key.getDTSPart().getContext(), sparse);
    EXPECT_EQ(key.getSTDPart().getContext(), main);
    EXPECT_EQ(key.getDTSPart().getType(), 's');
    EXPECT_EQ(key.getSTDPart().getType(), 's');
    {
        SCOPED_TRACE("DTS part");
        expectMasksFromGerms(sparse, key.getDTSPart());
        expectDistinctErrors(
            expectSwitchingKeyIdentity(sparse, key.getDTSPart(), dense, b, product));
    }
    SCOPED_TRACE("STD part");
    expectMasksFromGerms(main, key.getSTDPart());
    expectDistinctErrors(expectSwitchingKeyIdentity(main, key.getSTDPart(), b, dense, product));
    return b;
}

} // namespace Quelt::test
