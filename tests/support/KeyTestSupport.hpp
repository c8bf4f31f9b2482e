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

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt::test {

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
        QueltTest::fillResidues(body, seed + p++);
    p = 0;
    for (auto &mask : masksOf(key)) {
        if (seededMasks)
            populateUniformPoly(mask, true);
        else
            QueltTest::fillResidues(mask, seed + 1000 + p++);
    }
}

// The residues of every host polynomial, bodies first, then masks.
inline std::vector<std::vector<std::uint64_t>> keyWords(EvaluationKey &key) {
    std::vector<std::vector<std::uint64_t>> words;
    for (const auto &body : bodiesOf(key))
        words.push_back(QueltTest::wordsOf(body));
    for (const auto &mask : masksOf(key))
        words.push_back(QueltTest::wordsOf(mask));
    return words;
}

// The standalone form of a switching key: byte-order byte and record.
inline std::string savedKey(const EvaluationKey &key) {
    std::ostringstream out;
    save(key, out);
    return out.str();
}

} // namespace Quelt::test
