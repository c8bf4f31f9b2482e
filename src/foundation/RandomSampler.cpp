#include "foundation/RandomSampler.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "foundation/RandomSamplerDetail.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "foundation/WordReduction.hpp"
#include "lwe/LWEContext.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace Quelt {

namespace {

constexpr const char *kPolynomialMismatch =
    "[RandomSampler] The polynomial does not fit the context";
constexpr const char *kVectorMismatch = "[RandomSampler] The vector does not fit the context";
constexpr const char *kElementLevel = "[LevelledElement] Level exceeds the prime chain";
constexpr const char *kHammingWeight = "[sampleHWT] The Hamming weight cannot be met: more "
                                       "blocks than entries, or a weight above the block length";

// The limbs a sampler fills: every limb in mod-up form, limbs 0..level
// otherwise. Checks that the polynomial belongs to the context and that its
// array holds those limbs.
std::uint64_t selectedLimbCount(const Polynomial &p, const std::shared_ptr<ContextContent> &ctx) {
    const std::vector<std::uint64_t> chain = getPrimeList(ctx);
    const std::vector<std::uint64_t> &primes = p.getPrimes();
    const std::uint64_t count = p.getTopIndex() + 1;
    if (p.getDegree() != getDegree(ctx) || primes.size() != p.getSize() ||
        primes.size() > chain.size() || !std::equal(primes.begin(), primes.end(), chain.begin()) ||
        count > p.getSize() || p.getData().size() < count * p.getDegree())
        throw RuntimeException(kPolynomialMismatch);
    return count;
}

// Writes the small signed integers e into limbs 0..limbs-1 as residues.
template <typename Int>
void writeSignedLimbs(Polynomial &p, std::uint64_t limbs, const Int *e) {
    const std::uint64_t n = p.getDegree();
    for (std::uint64_t i = 0; i < limbs; ++i) {
        const std::uint64_t q = p.getPrimes()[i];
        std::uint64_t *limb = p.getLimb(i);
        for (std::uint64_t j = 0; j < n; ++j) {
            const auto v = static_cast<std::uint64_t>(static_cast<std::int64_t>(e[j]));
            limb[j] = e[j] < 0 ? v + q : v;
        }
    }
}

} // namespace

namespace detail {

void getDiscreteGaussianError(double sigma, std::uint64_t word, long &first, long &second) {
    constexpr double kTwoToMinus32 = 2.3283064365386963e-10;
    constexpr double kTwoPi = 6.283185307179586;
    const double u1 = static_cast<double>((word & 0xffffffffULL) + 1) * kTwoToMinus32;
    const double u2 = static_cast<double>(word >> 32) * kTwoToMinus32;
    const double r = std::sqrt(-2.0 * std::log(u1));
    const double theta = kTwoPi * u2;
    first = std::lround(std::cos(theta) * (sigma * r));
    second = std::lround(std::sin(theta) * (sigma * r));
}

void fillUniformResidues(std::uint64_t *limb, std::uint64_t n, std::uint64_t q) {
    auto &gen = UniformRandomBitGenerator::getInstance();
    const std::uint64_t threshold = (std::uint64_t{0} - q) % q;
    const std::uint64_t ratio = word::wordQuotient(q);
    gen.getRandomNumbers(limb, n);
    for (std::uint64_t j = 0; j < n; ++j) {
        std::uint64_t x = limb[j];
        while (x < threshold)
            x = gen();
        limb[j] = word::reduceWord(x, q, ratio);
    }
}

} // namespace detail

void checkHammingWeight(std::uint64_t dim, std::uint64_t hw, std::uint64_t blocks) {
    if (hw == 0 || blocks == 0)
        return;
    if (blocks > dim || hw > dim / blocks)
        throw RuntimeException(kHammingWeight);
}

void RandomSampler::sampleUniform(Polynomial &p, const std::shared_ptr<ContextContent> &ctx) const {
    const std::uint64_t limbs = selectedLimbCount(p, ctx);
    for (std::uint64_t i = 0; i < limbs; ++i)
        detail::fillUniformResidues(p.getLimb(i), p.getDegree(), p.getPrimes()[i]);
}

void RandomSampler::sampleGaussian(Polynomial &p,
                                   const std::shared_ptr<ContextContent> &ctx) const {
    const std::uint64_t limbs = selectedLimbCount(p, ctx);
    const double sigma = ctx->getParameter().sigma;
    const std::uint64_t n = p.getDegree();
    auto &gen = UniformRandomBitGenerator::getInstance();
    std::vector<std::int64_t> e(n + 1);
    for (std::uint64_t k = 0; 2 * k < n; ++k) {
        long first = 0, second = 0;
        detail::getDiscreteGaussianError(sigma, gen(), first, second);
        e[2 * k] = first;
        e[2 * k + 1] = second;
    }
    p.setNTT(false);
    writeSignedLimbs(p, limbs, e.data());
}

void RandomSampler::sampleHWT(DeviceSpecificArray<int> &out, std::uint64_t dim, std::uint64_t hw,
                              std::uint64_t blocks) const {
    checkHammingWeight(dim, hw, blocks);
    out.resize(dim);
    std::fill(out.begin(), out.end(), 0);
    if (blocks == 0 || hw == 0)
        return;
    auto &gen = UniformRandomBitGenerator::getInstance();
    const std::uint64_t b = dim / blocks;
    const std::uint64_t threshold = (std::uint64_t{0} - b) % b;
    for (std::uint64_t k = 0; k < blocks; ++k) {
        for (std::uint64_t placed = 0; placed < hw; ++placed) {
            std::uint64_t pos = 0;
            for (;;) {
                const std::uint64_t w = gen();
                if (w < threshold)
                    continue;
                pos = k * b + w % b;
                if (out[pos] == 0)
                    break;
            }
            out[pos] = (gen() & 1) ? 1 : -1;
        }
    }
}

void RandomSampler::sampleZO(Polynomial &p, const std::shared_ptr<ContextContent> &ctx) const {
    const std::uint64_t limbs = selectedLimbCount(p, ctx);
    const std::uint64_t n = p.getDegree();
    auto &gen = UniformRandomBitGenerator::getInstance();
    std::vector<std::int32_t> s(n);
    for (std::uint64_t g = 0; g * 32 < n; ++g) {
        const std::uint64_t w = gen();
        const std::uint64_t end = std::min<std::uint64_t>(32, n - g * 32);
        for (std::uint64_t m = 0; m < end; ++m) {
            const std::uint64_t bits = w >> (2 * m);
            s[g * 32 + m] = (bits & 2) ? ((bits & 1) ? 1 : -1) : 0;
        }
    }
    p.setNTT(false);
    writeSignedLimbs(p, limbs, s.data());
}

void RandomSampler::sampleUniform(LevelledVector &v,
                                  const std::shared_ptr<LWE::ContextContent> &ctx) const {
    const std::vector<std::uint64_t> primes = LWE::getPrimeList(ctx);
    const std::uint64_t n = LWE::getDimension(ctx);
    if (v.getDimension() != n || v.getLevel() >= primes.size())
        throw RuntimeException(kVectorMismatch);
    const std::uint64_t limbs = v.getLevel() + 1;
    const std::optional<std::uint64_t> words = utils::checkedProduct(limbs, n);
    if (!words || v.getData().size() < *words)
        throw RuntimeException(kVectorMismatch);
    for (std::uint64_t i = 0; i < limbs; ++i)
        detail::fillUniformResidues(v.getLimb(i), n, primes[i]);
}

void RandomSampler::sampleGaussian(LevelledElement &e,
                                   const std::shared_ptr<LWE::ContextContent> &ctx) const {
    // The level is checked against the context before the draw, with the
    // message the element's constructor would give.
    const std::uint64_t level = e.getLevel();
    if (level >= LWE::getEncryptionLevel(ctx) + 1)
        throw RuntimeException(kElementLevel);
    long first = 0, second = 0;
    detail::getDiscreteGaussianError(ctx->getParameter().sigma,
                                     UniformRandomBitGenerator::getInstance()(), first, second);
    e = LevelledElement(first, ctx, level);
}

} // namespace Quelt
