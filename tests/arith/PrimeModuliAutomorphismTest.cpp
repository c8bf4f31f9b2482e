#include "arith/PrimeModuliFixture.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "lwe/LWEContext.hpp"
#include "support/ExpectThrow.hpp"

namespace Quelt::test {
namespace {

using AutomorphismTest = PrimeModuliFixture;

// a(X^k) modulo X^N + 1 and p, by substituting term by term.
std::vector<u64> substitute(const std::vector<u64> &a, std::int64_t k, u64 p) {
    const u64 n = a.size();
    const std::int64_t two_n = static_cast<std::int64_t>(2 * n);
    std::vector<u64> out(n, 0);
    for (u64 j = 0; j < n; ++j) {
        const u64 e =
            static_cast<u64>(((static_cast<std::int64_t>(j) * k) % two_n + two_n) % two_n);
        if (e < n)
            out[e] = addModRef(out[e], a[j], p);
        else
            out[e - n] = subModRef(out[e - n], a[j], p);
    }
    return out;
}

// X^k modulo X^N + 1 as N residues: X^(2N) = 1 and X^N = -1.
std::vector<u64> monomial(std::int64_t k, u64 n, u64 p) {
    const std::int64_t two_n = static_cast<std::int64_t>(2 * n);
    const u64 e = static_cast<u64>((k % two_n + two_n) % two_n);
    std::vector<u64> m(n, 0);
    if (e < n)
        m[e] = 1;
    else
        m[e - n] = p - 1;
    return m;
}

TEST_F(AutomorphismTest, FrobeniusMapIsSubstitution) {
    const Polynomial a = randomPoly(2);
    const Polynomial ta = transformed(a);
    const std::int64_t two_n = 2 * kN;
    for (std::int64_t k : {std::int64_t{5}, std::int64_t{25}, std::int64_t{-1}, two_n - 1,
                           std::int64_t{-5}, 3 * two_n + 7, std::int64_t{1}}) {
        Polynomial out(ctx(), false, false);
        chain().frobeniusMapInNTT<false>(ta, k, out);
        EXPECT_TRUE(out.isNTT());
        const Polynomial back = inverted(out);
        for (u64 i = 0; i <= 2; ++i)
            EXPECT_EQ(limb(back, i), substitute(limb(a, i), k, prime(i))) << "k = " << k;
    }
    // k = -1 reverses every limb, and 2N - 1 goes through the general table.
    Polynomial minus(ctx(), false, false), general(ctx(), false, false);
    chain().frobeniusMapInNTT<false>(ta, -1, minus);
    chain().frobeniusMapInNTT<false>(ta, two_n - 1, general);
    for (u64 i = 0; i <= 2; ++i) {
        EXPECT_EQ(limb(minus, i), limb(general, i));
        auto reversed = limb(ta, i);
        std::reverse(reversed.begin(), reversed.end());
        EXPECT_EQ(limb(minus, i), reversed);
    }
}

TEST_F(AutomorphismTest, TablesAreKeptPerExponentAndSharedByCopies) {
    const std::int64_t two_n = 2 * kN;
    const auto table = chain().frobeniusTable(5);
    ASSERT_EQ(table->size(), kN);
    EXPECT_EQ(chain().frobeniusTable(5 + 3 * two_n), table);
    EXPECT_EQ(chain().frobeniusTable(5 - two_n), table);
    const PrimeModuli copy = chain();
    EXPECT_EQ(copy.frobeniusTable(5), table);
    EXPECT_NE(chain().frobeniusTable(7), table);
    // A permutation of the slots.
    std::vector<std::uint32_t> sorted = *table;
    std::sort(sorted.begin(), sorted.end());
    for (u64 j = 0; j < kN; ++j)
        EXPECT_EQ(sorted[j], j);
}

TEST_F(AutomorphismTest, AccumulatingFrobeniusMap) {
    const Polynomial a = randomPoly(2), b = randomPoly(2);
    Polynomial acc = transformed(b);
    chain().frobeniusMapInNTT<true>(transformed(a), 5, acc);
    const Polynomial back = inverted(acc);
    for (u64 i = 0; i <= 2; ++i) {
        const auto sub = substitute(limb(a, i), 5, prime(i));
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(back.getLimb(i)[j], addModRef(b.getLimb(i)[j], sub[j], prime(i)));
    }
    // k = 1 is an addition.
    Polynomial twice = transformed(b);
    const Polynomial tb = transformed(b);
    chain().frobeniusMapInNTT<true>(tb, 1, twice);
    for (u64 j = 0; j < kN; ++j)
        EXPECT_EQ(twice.getLimb(1)[j], addModRef(tb.getLimb(1)[j], tb.getLimb(1)[j], prime(1)));
}

TEST_F(AutomorphismTest, FrobeniusRefusesEvenExponentsAndAliasing) {
    Polynomial a = transformed(randomPoly(2));
    const auto before = limb(a, 0);
    expectThrowsMessage([&] { chain().frobeniusMapInNTT<false>(a, 4, a); },
                        PrimeModuli::kEvenFrobeniusMessage);
    EXPECT_THROW(chain().frobeniusMapInNTT<false>(a, 5, a), RuntimeException);
    EXPECT_THROW(chain().frobeniusMapInNTT<true>(a, -1, a), RuntimeException);
    EXPECT_EQ(limb(a, 0), before);
}

TEST_F(AutomorphismTest, MonomialShiftsAnyExponent) {
    const Polynomial a = randomPoly(2);
    const std::int64_t n = kN;
    for (std::int64_t k : {std::int64_t{0}, std::int64_t{1}, std::int64_t{13}, n - 1, n, n + 3,
                           2 * n - 1, std::int64_t{-1}, -n, -3 * n - 5, 1001 * n + 17}) {
        Polynomial out(ctx(), false, true);
        chain().multMonomial(a, out, k);
        EXPECT_FALSE(out.isNTT());
        EXPECT_EQ(out.getLevel(), 2u);
        for (u64 i = 0; i <= 2; ++i)
            EXPECT_EQ(limb(out, i),
                      negacyclicProductRef(limb(a, i), monomial(k, kN, prime(i)), prime(i)))
                << "k = " << k;
    }
    // X^(N/2) twice is -1.
    Polynomial half(ctx(), false, false), twice(ctx(), false, false), neg(ctx(), false, false);
    chain().multMonomial(a, half, n / 2);
    chain().multMonomial(half, twice, n / 2);
    chain().negate(a, neg);
    for (u64 i = 0; i <= 2; ++i)
        EXPECT_EQ(limb(twice, i), limb(neg, i));
    Polynomial self(a);
    EXPECT_THROW(chain().multMonomial(self, self, 1), RuntimeException);
}

TEST_F(AutomorphismTest, NoHostPathForBatchedMonomials) {
    std::vector<const Polynomial *> ins;
    std::vector<Polynomial *> outs;
    expectThrowsMessage(
        [&] { chain().multMonomialBatch(ins, outs, 1); },
        "Cannot support the function 'multMonomialBatch' in the current build configuration");
}

class LweAutomorphismTest : public ::testing::Test {
protected:
    static constexpr u64 kDim = 16;
    static const std::shared_ptr<LWE::ContextContent> &lwe() {
        static const auto context = LWE::makeContext(kDim, 3, 40, 38);
        return context;
    }
    static const PrimeModuli &chain() { return lwe()->getPrimeModuli(); }
    std::mt19937_64 rng{7};

    LevelledVector randomVector() {
        LevelledVector v(lwe());
        for (u64 i = 0; i <= v.getLevel(); ++i) {
            const auto r = randomResidues(kDim, chain().getModulus(i).getPrime(), rng);
            std::copy(r.begin(), r.end(), v.getLimb(i));
        }
        return v;
    }
};

TEST_F(LweAutomorphismTest, ConjugateInvertPairsWithTheSecretToOneProductCoefficient) {
    const LevelledVector a = randomVector(), s = randomVector();
    for (u64 k : {u64{0}, u64{5}, kDim - 1}) {
        LevelledVector out(lwe());
        chain().conjugateInvert(a, out, k);
        LevelledElement dot(lwe());
        chain().innerProduct(out, s, dot);
        for (u64 i = 0; i <= 2; ++i) {
            const u64 q = chain().getModulus(i).getPrime();
            const std::vector<u64> av(a.getLimb(i), a.getLimb(i) + kDim),
                sv(s.getLimb(i), s.getLimb(i) + kDim);
            EXPECT_EQ(dot.getData().getData()[i], negacyclicProductRef(av, sv, q)[k]) << k;
        }
        if (k == kDim - 1) { // only reversed, nothing negated
            for (u64 j = 0; j < kDim; ++j)
                EXPECT_EQ(out.getLimb(0)[j], a.getLimb(0)[kDim - 1 - j]);
        }
    }
    LevelledVector out(lwe());
    EXPECT_THROW(chain().conjugateInvert(a, out, kDim), RuntimeException);
}

TEST_F(LweAutomorphismTest, BatchMatchesSingleCallsAndChecksItsOutputs) {
    const LevelledVector a = randomVector();
    std::vector<LevelledVector> storage(3, LevelledVector(lwe()));
    std::vector<LevelledVector *> outs = {&storage[0], &storage[1], &storage[2]};
    chain().conjugateInvertBatch(a, outs);
    for (u64 k = 0; k < 3; ++k) {
        LevelledVector single(lwe());
        chain().conjugateInvert(a, single, k);
        for (u64 i = 0; i <= 2; ++i)
            EXPECT_TRUE(
                std::equal(single.getLimb(i), single.getLimb(i) + kDim, storage[k].getLimb(i)));
    }
    std::vector<LevelledVector> many(kDim + 1, LevelledVector(lwe()));
    std::vector<LevelledVector *> too_many;
    for (auto &v : many)
        too_many.push_back(&v);
    EXPECT_THROW(chain().conjugateInvertBatch(a, too_many), RuntimeException);
    std::vector<LevelledVector *> with_null = {&storage[0], nullptr};
    EXPECT_THROW(chain().conjugateInvertBatch(a, with_null), RuntimeException);
}

} // namespace
} // namespace Quelt::test
