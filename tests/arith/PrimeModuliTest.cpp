#include "arith/PrimeModuli.hpp"

#include "Quelt/Exception.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsContaining;

std::vector<u64> primesOf(const PrimeModuli &chain) {
    std::vector<u64> primes;
    for (const Modulus &m : chain.getModuli())
        primes.push_back(m.getPrime());
    return primes;
}

u64 mulMod(u64 a, u64 b, u64 m) { return static_cast<u64>(static_cast<u128>(a) * b % m); }

// The inverse-prime table: q_i * entry[i][j] = 1 mod q_j below the diagonal.
void expectInverseTable(const PrimeModuli &chain) {
    const std::vector<u64> q = primesOf(chain);
    const u64 M = q.size();
    const DeviceSpecificArray<u64> &table = chain.getInvPrimeData(kHostDevice);
    ASSERT_EQ(table.size(), M * M);
    for (u64 i = 0; i < M; ++i)
        for (u64 j = 0; j < M; ++j) {
            if (j >= i) {
                EXPECT_EQ(table[i * M + j], 0u); // unused, kept defined
                continue;
            }
            EXPECT_LT(table[i * M + j], q[j]);
            EXPECT_EQ(mulMod(q[i] % q[j], table[i * M + j], q[j]), 1u) << i << ", " << j;
        }
}

// The I-coefficients: pairs (v, q - v); for the negacyclic types v^2 = -1.
void expectICoefficients(const PrimeModuli &chain) {
    const std::vector<u64> q = primesOf(chain);
    const DeviceSpecificArray<u64> &ic = chain.getICoefficients();
    ASSERT_EQ(ic.size(), 2 * q.size());
    for (u64 j = 0; j < q.size(); ++j) {
        EXPECT_LT(ic[2 * j], q[j]);
        EXPECT_EQ(ic[2 * j] + ic[2 * j + 1], q[j]);
        if (chain.getModulus(j).getNttType() != NttType::CONJUGATE_INVARIANT) {
            EXPECT_EQ(mulMod(ic[2 * j], ic[2 * j], q[j]), q[j] - 1) << "prime " << j;
        }
    }
}

// Chains from sizes. Expected primes computed independently with big-integer
// arithmetic and a separate primality test, following the search rules: from
// 2^x downward in steps of 2N, candidates 2^x + 1 - k * 2N.
struct SizeCase {
    const char *name;
    u64 log_degree, chain_length, b, q, t, gadget_rank;
    std::vector<u64> primes;
};

const std::vector<SizeCase> &sizeCases() {
    static const std::vector<SizeCase> cases = {
        // b = q = t: one search for L + K primes, taken ascending.
        {"EqualSizes",
         4,
         3,
         50,
         50,
         50,
         3,
         {1125899906840897ULL, 1125899906841377ULL, 1125899906842177ULL, 1125899906842273ULL}},
        // b = q != t.
        {"BaseEqualsQuantize",
         4,
         2,
         40,
         40,
         45,
         1,
         {1099511627297ULL, 1099511626049ULL, 35184372088673ULL, 35184372088321ULL}},
        // t = b != q: the first prime of the temporary search is the base prime
        // and is skipped.
        {"TemporaryEqualsBase",
         4,
         3,
         45,
         36,
         45,
         2,
         {35184372088673ULL, 68719476577ULL, 68719476257ULL, 35184372088321ULL, 35184372088097ULL}},
        // L = 1: no quantize prime, the base prime and one temporary prime.
        {"SingleLevel", 4, 1, 45, 40, 50, 1, {35184372088673ULL, 1125899906842177ULL}},
        // L = 1 with equal sizes.
        {"SingleLevelEqualSizes", 4, 1, 40, 40, 40, 1, {1099511626049ULL, 1099511627297ULL}},
        // floor(6 * 41 / 4) = 61 >= 45 passes although K * t = 41 is below b.
        {"TemporaryCheckRoundsAfterProduct",
         4,
         3,
         45,
         40,
         41,
         4,
         {35184372088673ULL, 1099511627297ULL, 1099511626049ULL, 2199023255489ULL}},
    };
    return cases;
}

TEST(PrimeModuliTest, ChainsFromSizesMatchKnownAnswers) {
    for (const SizeCase &c : sizeCases()) {
        SCOPED_TRACE(c.name);
        const PrimeModuli chain(c.log_degree, c.chain_length, c.b, c.q, c.t, c.gadget_rank, {});
        EXPECT_EQ(primesOf(chain), c.primes);
        EXPECT_EQ(chain.getDegree(), u64{1} << c.log_degree);
        for (const Modulus &m : chain.getModuli()) {
            EXPECT_EQ(m.getNttType(), NttType::NEGACYCLIC);
            EXPECT_EQ(m.getDegree(), chain.getDegree());
            EXPECT_TRUE(m.getNTT());
        }
        expectICoefficients(chain);
        expectInverseTable(chain);
    }
}

TEST(PrimeModuliTest, FullSizeChainMatchesKnownAnswer) {
    // log_degree 16, L 25, b 58, q 42, t 60, gadget rank 5: K = 5.
    const std::vector<u64> expected = {
        288230376147386369ULL,  4398044938241ULL,       4398043496449ULL,
        4398042972161ULL,       4398042185729ULL,       4398034845697ULL,
        4398029340673ULL,       4398028029953ULL,       4398021869569ULL,
        4398021476353ULL,       4398021345281ULL,       4398018723841ULL,
        4398018592769ULL,       4398015184897ULL,       4398014660609ULL,
        4398010859521ULL,       4398008893441ULL,       4398007713793ULL,
        4398006140929ULL,       4398001684481ULL,       4397995917313ULL,
        4397993951233ULL,       4397993558017ULL,       4397989888001ULL,
        4397989232641ULL,       1152921504598720513ULL, 1152921504597016577ULL,
        1152921504595968001ULL, 1152921504592822273ULL, 1152921504592429057ULL};
    const PrimeModuli chain(16, 25, 58, 42, 60, 5, {});
    EXPECT_EQ(primesOf(chain), expected);
    EXPECT_EQ(chain.getDegree(), 65536u);
    expectICoefficients(chain);
    expectInverseTable(chain);
}

TEST(PrimeModuliTest, SizeChecksInOrder) {
    struct Case {
        u64 log_degree, L, b, q, t, d;
        const char *message;
    };
    const char *tooBig = "[PrimeModuli] Prime size is too big. It should be < 62";
    const char *baseSmall = "[PrimeModuli] Base prime should be greater than quantize primes";
    const char *quantizeSmall =
        "[PrimeModuli] Quantize primes should be greater than or equal to 36 bit";
    const char *tempSmall = "[PrimeModuli] log_tpsize should be greater than log_qpsize + "
                            "(log_bpsize - log_qpsize)/numTP";
    const Case cases[] = {
        {4, 3, 62, 35, 70, 0, tooBig}, // every size wrong: the size check comes first
        {4, 3, 61, 62, 61, 1, tooBig},
        {4, 3, 61, 61, 62, 1, tooBig},
        {4, 3, 61, 35, 61, 1, quantizeSmall}, // 61 bits pass the first check
        {4, 3, 40, 45, 45, 1, baseSmall},
        {4, 3, 30, 35, 40, 1, baseSmall}, // before the 36-bit check
        {4, 3, 40, 35, 40, 1, quantizeSmall},
        {4, 0, 40, 40, 40, 0, "[PrimeModuli] chain_length should be at least 1"},
        {4, 3, 40, 40, 40, 0, "[PrimeModuli] gadget_rank should be at least 1"},
        // L 3, d 1: K 3, b + 2q = 114 > 3t = 111.
        {4, 3, 42, 36, 37, 1, tempSmall},
        {62, 3, 40, 40, 40, 1, "[PrimeModuli] log_degree is too big. It should be < 62"},
        // Absurd chain lengths do not wrap around in the temporary check.
        {4, ~u64{0}, 41, 40, 40, 1, tempSmall},
        // They pass it here (K = 1) and then ask the search for 2^64 primes.
        {4, ~u64{0}, 40, 40, 40, ~u64{0},
         "[PrimeModuli] Cannot find 18446744073709551616 primes of 40 bits"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.log_degree << " " << c.L << " " << c.b << " " << c.q
                                        << " " << c.t << " " << c.d);
        expectThrowsContaining([&] { PrimeModuli(c.log_degree, c.L, c.b, c.q, c.t, c.d, {}); },
                               c.message);
    }
    // Equality passes the temporary check: b + 2q = 114 = 3t.
    EXPECT_EQ(PrimeModuli(4, 3, 42, 36, 38, 1, {}).getNumPrimes(), 6u);
}

TEST(PrimeModuliTest, SearchStaysWithinTheBitSize) {
    // 2^35 / 2^31 = 16 candidates of 36 bits that are 1 modulo 2^31: 21 primes
    // cannot be found.
    expectThrowsContaining([] { PrimeModuli(30, 20, 36, 36, 36, 20, {}); },
                           "[PrimeModuli] Cannot find 21 primes of 36 bits congruent to 1 modulo "
                           "2147483648");
    // The step 2N = 2^41 exceeds the range: an unbounded search would wrap
    // around zero into 64-bit candidates.
    expectThrowsContaining([] { PrimeModuli(40, 1, 40, 40, 40, 1, {}); },
                           "[PrimeModuli] Cannot find 2 primes of 40 bits");
    expectThrowsContaining([] { PrimeModuli(40, 1, 40, 40, 40, 1, {}); }, "1 modulo 2199023255552");
}

TEST(PrimeModuliTest, RepeatedPrimesAreRejected) {
    // Case b != q with t = q and L = 3: the temporary prime is the second
    // quantize prime.
    expectThrowsContaining(
        [] { PrimeModuli(4, 3, 45, 40, 40, 3, {}); },
        "[PrimeModuli] The prime 1099511626049 occurs more than once in the chain");
    // With L = 2 the only quantize prime is the skipped one: no repetition.
    const PrimeModuli chain(4, 2, 45, 40, 40, 2, {});
    EXPECT_EQ(primesOf(chain),
              (std::vector<u64>{35184372088673ULL, 1099511627297ULL, 1099511626049ULL}));
}

TEST(PrimeModuliTest, ChainFromModuli) {
    const PrimeModuli source(4, 3, 45, 36, 45, 2, {});
    std::vector<Modulus> reversed(source.getModuli().rbegin(), source.getModuli().rend());
    const PrimeModuli chain(reversed, 16, {Device{1, 0}});
    std::vector<u64> expected = primesOf(source);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(primesOf(chain), expected);
    EXPECT_EQ(chain.getDevices(), (std::set<Device>{Device{1, 0}}));
    expectICoefficients(chain);
    expectInverseTable(chain);

    // A single prime: one pair of I-coefficients, a 1 x 1 table.
    const PrimeModuli single({source.getModulus(0)}, 16, {});
    EXPECT_EQ(single.getNumPrimes(), 1u);
    expectICoefficients(single);
    EXPECT_EQ(single.getInvPrimeData(kHostDevice).size(), 1u);

    expectThrowsContaining([] { PrimeModuli(std::vector<Modulus>{}, 16, {}); },
                           "[PrimeModuli] The list of moduli is empty");
    const std::vector<Modulus> withoutTransform = {source.getModulus(0),
                                                   Modulus(16, 1099511627689ULL, NttType::NONE)};
    expectThrowsContaining([&] { PrimeModuli(withoutTransform, 16, {}); },
                           "[PrimeModuli] Modulus 1 of the list has no transform");
    expectThrowsContaining([] { PrimeModuli({Modulus()}, 16, {}); },
                           "[PrimeModuli] Modulus 0 of the list has no transform");
    expectThrowsContaining([&] { PrimeModuli({source.getModulus(0)}, 8, {}); },
                           "[PrimeModuli] Modulus 0 of the list has degree 16 instead of 8");
    expectThrowsContaining(
        [&] {
            PrimeModuli({source.getModulus(1), source.getModulus(1)}, 16, {});
        },
        "[PrimeModuli] The prime 68719476577 occurs more than once in the chain");
}

ParameterPreset preset(std::uint32_t value) { return static_cast<ParameterPreset>(value); }

TEST(PrimeModuliTest, PresetAliasesAndCustom) {
    // The chains of presets keep their primes for any degree they divide, so a
    // small degree keeps the transforms cheap.
    struct Alias {
        std::uint32_t value, target;
    };
    for (const Alias a : {Alias{7, 5}, Alias{4, 3}, Alias{31, 25}, Alias{25, 25}}) {
        SCOPED_TRACE(a.value);
        const std::vector<u64> &list = PrimeModuli::getPrimeList(preset(a.target));
        const PrimeModuli chain(preset(a.value), list.size(), 16, {}, false, false);
        EXPECT_EQ(primesOf(chain), list);
    }
    EXPECT_EQ(PrimeModuli::getPrimeList(preset(3))[0], 288230376147386369ULL);

    expectThrowsContaining([] { PrimeModuli(preset(21), 2, 16, {}, false, false); },
                           "Custom parameter preset cannot be constructed in this way");
    // The count must be the length of the list (2 for preset 25).
    expectThrowsContaining([] { PrimeModuli(preset(25), 3, 16, {}, false, false); },
                           "[PrimeModuli] The preset has 2 primes, but 3 were requested");
    EXPECT_THROW(PrimeModuli(preset(120), 2, 16, {}, false, false), std::out_of_range);
    // Degrees without a transform are refused by the transform of the first prime.
    expectThrowsContaining([] { PrimeModuli(preset(25), 2, 0, {}, false, false); },
                           "[NTT] degree must be a power of two.");
    EXPECT_THROW(PrimeModuli(preset(25), 2, 12, {}, false, false), RuntimeException);
}

TEST(PrimeModuliTest, PresetTransformType) {
    struct Case {
        std::uint32_t value;
        bool conj_invariant, force_negacyclic;
        NttType expected;
    };
    // Preset 53 has the re_remove_i flag, preset 25 does not.
    const Case cases[] = {
        {25, false, false, NttType::NEGACYCLIC},
        {53, false, false, NttType::NEGACYCLIC_SQUARE_4N},
        {53, false, true, NttType::NEGACYCLIC},
        {53, true, false, NttType::CONJUGATE_INVARIANT},
        {25, true, true, NttType::CONJUGATE_INVARIANT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.value << " " << c.conj_invariant << " " << c.force_negacyclic);
        const PrimeModuli chain(preset(c.value), 2, 16, {}, c.conj_invariant, c.force_negacyclic);
        EXPECT_EQ(primesOf(chain), PrimeModuli::getPrimeList(preset(c.value)));
        for (const Modulus &m : chain.getModuli())
            EXPECT_EQ(m.getNttType(), c.expected);
        expectICoefficients(chain);
        expectInverseTable(chain);
    }
}

void expectLweChain(const PrimeModuli &chain, u64 dimension) {
    EXPECT_EQ(chain.getDegree(), dimension);
    EXPECT_EQ(chain.getICoefficients().size(), 0u);
    EXPECT_EQ(chain.getInvPrimeData(kHostDevice).size(), 0u);
    for (const Modulus &m : chain.getModuli()) {
        EXPECT_EQ(m.getNttType(), NttType::NONE);
        EXPECT_FALSE(m.getNTT());
    }
}

TEST(PrimeModuliTest, LweChainFromSizes) {
    // The largest prime below 2^50, then the two largest below 2^40.
    const PrimeModuli chain(1000, 3, 50, 40, {});
    EXPECT_EQ(primesOf(chain),
              (std::vector<u64>{1125899906842597ULL, 1099511627689ULL, 1099511627609ULL}));
    expectLweChain(chain, 1000);

    EXPECT_EQ(primesOf(PrimeModuli(7, 1, 40, 40, {})), std::vector<u64>{1099511627689ULL});

    struct Case {
        u64 L, b, q;
        const char *message;
    };
    const Case cases[] = {
        {3, 62, 30, "[PrimeModuli] Prime size is too big. It should be < 62"},
        {3, 50, 62, "[PrimeModuli] Prime size is too big. It should be < 62"},
        {3, 30, 35, "[PrimeModuli] Base prime should be greater than quantize primes"},
        {3, 40, 35, "[PrimeModuli] Quantize primes should be greater than or equal to 36 bit"},
        {0, 40, 40, "[PrimeModuli] chain_length should be at least 1"},
        // b = q: the base prime would also be the first quantize prime.
        {2, 40, 40, "[PrimeModuli] The prime 1099511627689 occurs more than once in the chain"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.L << " " << c.b << " " << c.q);
        expectThrowsContaining([&] { PrimeModuli(16, c.L, c.b, c.q, {}); }, c.message);
    }
}

TEST(PrimeModuliTest, LweChainFromPreset) {
    const auto sd3 = static_cast<LWE::ParameterPreset>(1);
    const PrimeModuli chain(sd3, 4, 32, {});
    EXPECT_EQ(primesOf(chain), (std::vector<u64>{140737487306753ULL, 2199020634113ULL,
                                                 2199013294081ULL, 2199010148353ULL}));
    expectLweChain(chain, 32);

    const PrimeModuli single(static_cast<LWE::ParameterPreset>(3), 1, 4096, {});
    EXPECT_EQ(primesOf(single), std::vector<u64>{288230376147386369ULL});
    expectLweChain(single, 4096);

    expectThrowsContaining([] { PrimeModuli(static_cast<LWE::ParameterPreset>(2), 1, 32, {}); },
                           "Custom parameter preset cannot be constructed in this way");
    expectThrowsContaining([&] { PrimeModuli(sd3, 5, 32, {}); },
                           "[PrimeModuli] The preset has 4 primes, but 5 were requested");
}

TEST(PrimeModuliTest, AcceleratorHandOverIsUnsupported) {
    PrimeModuli chain(4, 1, 40, 40, 40, 1, {});
    expectThrowsContaining(
        [&] { chain.toDevice(); },
        "Cannot support the function 'toDevice' in the current build configuration");
}

} // namespace
} // namespace Quelt
