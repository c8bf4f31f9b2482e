// Every vector path of the lazy key-switching kernels (base conversion and the
// two-output inner product) gives the scalar path's words.

#include "arith/KeySwitchKernels.hpp"

#include "support/SimdPaths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;
namespace kk = Quelt::keyswitch_kernels;

namespace {

using Words = std::vector<u64>;

// Largest primes below 2^30, 2^42, 2^50, 2^52, 2^58, 2^60, 2^61 and 2^62
// (found with a short big-integer script).
constexpr u64 kPrimes[] = {1073741789ULL,          4398046511093ULL,      1125899906842597ULL,
                           4503599627370449ULL,    288230376151711717ULL, 1152921504606846883ULL,
                           2305843009213693951ULL, 4611686018427387847ULL};

class KeySwitchPathsTest : public PathTest {};

// One conversion: sources modulo `source_primes` (centred, reaching q - 1,
// q / 2 and q / 2 + 1), targets modulo `target_primes`, over words
// [offset, offset + n) of limbs of `length` words.
Words convertAll(const std::vector<u64> &source_primes, const std::vector<u64> &target_primes,
                 u64 offset, u64 n, u64 length, std::mt19937_64 &rng) {
    const u64 count = source_primes.size();
    std::vector<Words> limbs(count, Words(length));
    std::vector<const std::int64_t *> sources;
    u64 largest = 0;
    for (u64 m = 0; m < count; ++m) {
        const u64 q = source_primes[m];
        limbs[m] = wordsNearTop(length, q, rng);
        for (u64 c = 1; c < length; c += 4)
            limbs[m][c] = q / 2 + c % 2;
        kk::centredLift(limbs[m].data(), q, length);
        sources.push_back(reinterpret_cast<const std::int64_t *>(limbs[m].data()));
        largest = std::max(largest, q);
    }
    const u64 num_targets = target_primes.size();
    std::vector<std::vector<std::int64_t>> factors(num_targets, std::vector<std::int64_t>(count));
    std::vector<Words> outs(num_targets, Words(length, 7));
    std::vector<kk::ConversionTarget> targets;
    for (u64 t = 0; t < num_targets; ++t) {
        const u64 p = target_primes[t];
        largest = std::max(largest, p);
        for (u64 m = 0; m < count; ++m)
            factors[t][m] = static_cast<std::int64_t>(m == 0 ? p - 1 : rng() % p);
        const Modulus modulus(8, p, NttType::NONE);
        targets.push_back(
            {factors[t].data(), kk::FoldConstants::of(modulus), kk::foldBias(p), outs[t].data()});
    }
    const u64 per_fold =
        kk::signedTermsPerFold(static_cast<unsigned __int128>(largest / 2 + 1) * largest);
    u64 largest_source = 0;
    for (u64 q : source_primes)
        largest_source = std::max(largest_source, q);
    kk::convertBlock(sources.data(), count, largest_source / 2 + 1, targets.data(), num_targets,
                     per_fold, offset, n);
    Words all;
    for (const Words &o : outs)
        all.insert(all.end(), o.begin(), o.end());
    return all;
}

} // namespace

// Sources all below 2^52 (their centred words fit 52 bits) or not, targets on
// both sides of 2^52 and more of them than one pass converts, blocks that do
// not start or end on a vector boundary.
TEST_P(KeySwitchPathsTest, ConversionMatchesScalar) {
    const std::vector<std::vector<u64>> source_sets = {
        {kPrimes[0]},
        {kPrimes[1], kPrimes[1]},
        {kPrimes[1], kPrimes[2], kPrimes[3], kPrimes[0], kPrimes[2]},
        {kPrimes[4], kPrimes[1], kPrimes[5]},
        {kPrimes[7], kPrimes[6], kPrimes[5], kPrimes[4], kPrimes[7]},
    };
    std::vector<u64> targets;
    for (int round = 0; round < 3; ++round)
        targets.insert(targets.end(), std::begin(kPrimes), std::end(kPrimes));
    targets.resize(19);
    for (const auto &sources : source_sets) {
        for (const auto &[offset, n] : {std::pair<u64, u64>{0, 64}, {3, 13}, {5, 1}}) {
            const u64 seed = sources.size() * 100 + offset;
            const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
                std::mt19937_64 rng(seed);
                return convertAll(sources, targets, offset, n, 64, rng);
            });
            EXPECT_EQ(scalar, vector) << sources.size() << " sources, offset " << offset;
        }
    }
}

// Counts below and above the number of products a 128-bit sum holds, outputs
// aliasing the terms (and, accumulating, added to), lengths that are not
// multiples of eight.
TEST_P(KeySwitchPathsTest, InnerProductMatchesScalar) {
    std::mt19937_64 rng(31);
    for (u64 p : kPrimes) {
        const Modulus modulus(8, p, NttType::NONE);
        const u64 per_fold = kk::termsPerFold(static_cast<unsigned __int128>(p - 1) * (p - 1));
        for (u64 count : {u64{1}, u64{5}, u64{40}}) {
            for (const auto &[n, accumulate] :
                 {std::pair<u64, bool>{13, false}, {64, false}, {13, true}, {64, true}}) {
                std::vector<Words> a(count), b(count), c(count);
                for (u64 k = 0; k < count; ++k) {
                    a[k] = wordsNearTop(n, p, rng);
                    b[k] = wordsNearTop(n, p, rng);
                    c[k] = wordsNearTop(n, p, rng);
                }
                const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
                    std::vector<Words> x = a, y = b, z = c;
                    std::vector<const u64 *> pa, pb, pc;
                    for (u64 k = 0; k < count; ++k) {
                        pa.push_back(x[k].data());
                        pb.push_back(y[k].data());
                        pc.push_back(z[k].data());
                    }
                    // out1 is the first term's a, out2 the last term's c.
                    kk::innerProductTwo(pa.data(), pb.data(), pc.data(), count, per_fold,
                                        kk::FoldConstants::of(modulus), x[0].data(),
                                        z[count - 1].data(), n, accumulate);
                    return std::make_pair(x[0], z[count - 1]);
                });
                EXPECT_EQ(scalar, vector) << "p = " << p << ", count = " << count << ", n = " << n
                                          << ", accumulate " << accumulate;
            }
        }
    }
}

// Orders that move aligned blocks of eight words to aligned blocks of eight
// (as the automorphisms in NTT order do; the blocks shuffled and the words
// within each), orders that do not (a shuffle of all words, the reversal of
// a length that is not a multiple of eight), and lengths with a tail shorter
// than a vector: every word is the input's word at its index, and no word
// past the end is written.
TEST_P(KeySwitchPathsTest, PermutedWordsMatchScalar) {
    std::mt19937_64 rng(37);
    auto blockwise = [&](u64 n) {
        std::vector<std::uint32_t> blocks(n / 8), order;
        for (u64 b = 0; b < n / 8; ++b)
            blocks[b] = static_cast<std::uint32_t>(b);
        std::shuffle(blocks.begin(), blocks.end(), rng);
        for (std::uint32_t b : blocks) {
            std::uint32_t lanes[8] = {0, 1, 2, 3, 4, 5, 6, 7};
            std::shuffle(std::begin(lanes), std::end(lanes), rng);
            for (std::uint32_t lane : lanes)
                order.push_back(8 * b + lane);
        }
        for (u64 w = order.size(); w < n; ++w)
            order.push_back(static_cast<std::uint32_t>(w));
        return order;
    };
    auto shuffled = [&](u64 n) {
        std::vector<std::uint32_t> order(n);
        for (u64 w = 0; w < n; ++w)
            order[w] = static_cast<std::uint32_t>(w);
        std::shuffle(order.begin(), order.end(), rng);
        return order;
    };
    auto reversed = [](u64 n) {
        std::vector<std::uint32_t> order(n);
        for (u64 w = 0; w < n; ++w)
            order[w] = static_cast<std::uint32_t>(n - 1 - w);
        return order;
    };
    // 1003 words: the tail of three words maps to itself in the block order;
    // the reversal's first vector reads two source blocks.
    const std::vector<std::pair<u64, std::vector<std::uint32_t>>> orders = {
        {64, blockwise(64)}, {1024, blockwise(1024)}, {1003, blockwise(1003)}, {64, shuffled(64)},
        {13, reversed(13)},  {1003, reversed(1003)},  {1024, reversed(1024)},  {5, shuffled(5)}};
    for (const auto &[n, order] : orders) {
        Words in(n);
        for (u64 &w : in)
            w = rng();
        const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
            Words out(n + 3, 7);
            kk::permuteWords(in.data(), order.data(), out.data(), n);
            return out;
        });
        EXPECT_EQ(scalar, vector) << "n = " << n;
        for (u64 w = 0; w < n; ++w)
            ASSERT_EQ(vector[w], in[order[w]]) << "n = " << n << ", word " << w;
        EXPECT_EQ(vector[n], 7u) << "n = " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Simd, KeySwitchPathsTest, testing::ValuesIn(kVectorPaths), pathParamName);
