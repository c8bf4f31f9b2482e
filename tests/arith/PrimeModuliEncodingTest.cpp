#include "arith/PrimeModuliFixture.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/Message.hpp"
#include "context/PolynomialVector.hpp"
#include "lwe/LWEContext.hpp"
#include "support/ExpectThrow.hpp"

#include <climits>
#include <cmath>
#include <complex>
#include <limits>

namespace Quelt::test {
namespace {

using EncodingTest = PrimeModuliFixture;

TEST_F(EncodingTest, MessageLayoutAndRounding) {
    // N/2 values: gap 1, real parts in the first half, imaginary in the second.
    std::vector<std::complex<double>> v(kN / 2);
    for (u64 k = 0; k < kN / 2; ++k)
        v[k] = {static_cast<double>(k) - 10.0, 0.25 * static_cast<double>(k)};
    v[0] = {-2.5, 2.5};
    v[1] = {-0.4, 0.4};
    v[2] = {-static_cast<double>(prime(0)), 1e20}; // a negative multiple of q_0
    const Message msg(v);
    Polynomial out(ctx(), false, true);
    chain().embeddingToN(msg, 1.0, out, false);
    EXPECT_FALSE(out.isNTT());
    auto round_half_away = [](double x) -> __int128 {
        return static_cast<__int128>(x > 0 ? x + 0.5 : x - 0.5);
    };
    for (u64 i = 0; i <= 2; ++i) {
        for (u64 k = 0; k < kN / 2; ++k) {
            EXPECT_EQ(out.getLimb(i)[k], signedResidueRef(round_half_away(v[k].real()), prime(i)));
            EXPECT_EQ(out.getLimb(i)[kN / 2 + k],
                      signedResidueRef(round_half_away(v[k].imag()), prime(i)));
        }
        EXPECT_EQ(out.getLimb(i)[0], prime(i) - 3);
        EXPECT_EQ(out.getLimb(i)[kN / 2], 3u);
        EXPECT_EQ(out.getLimb(i)[1], 0u);
        EXPECT_EQ(out.getLimb(i)[kN / 2 + 1], 0u);
    }
    EXPECT_EQ(out.getLimb(0)[2], 0u);
    EXPECT_EQ(out.getLimb(0)[kN / 2 + 2],
              signedResidueRef(static_cast<__int128>(100000000000000000000.0), prime(0)));
}

TEST_F(EncodingTest, SparseMessageAndExtendedWalk) {
    const Message msg(
        std::vector<std::complex<double>>{{1.5, -1.0}, {2.0, 0.0}, {-3.0, 4.0}, {0.0, 0.5}});
    Polynomial out = randomPoly(1, true);
    chain().embeddingToN(msg, 2.0, out, true);
    const u64 gap = kN / 2 / 4;
    const std::vector<__int128> re = {3, 4, -6, 0}, im = {-2, 0, 8, 1};
    for (u64 i : {0u, 1u, 3u}) {
        std::vector<u64> expected(kN, 0);
        for (u64 k = 0; k < 4; ++k) {
            expected[k * gap] = signedResidueRef(re[k], prime(i));
            expected[kN / 2 + k * gap] = signedResidueRef(im[k], prime(i));
        }
        EXPECT_EQ(limb(out, i), expected) << i;
    }
}

TEST_F(EncodingTest, ExtendedWalkZeroesTheLimbsBetweenLevelAndTemporaryPrimes) {
    // Level 0 of a mod-up polynomial whose every limb holds residues: limbs 1
    // and 2 lie between the level and the chain length, limb 3 is the
    // temporary prime.
    const Message msg(std::vector<std::complex<double>>{{5.0, -7.0}});
    const Polynomial filled = randomPoly(0, true);
    ASSERT_EQ(filled.getData().size(), (kL + kK) * kN);
    auto encoded = [](u64 p) {
        std::vector<u64> limb(kN, 0);
        limb[0] = 5;
        limb[kN / 2] = p - 7;
        return limb;
    };

    Polynomial out = filled;
    chain().embeddingToN(msg, 1.0, out, true);
    EXPECT_EQ(limb(out, 0), encoded(prime(0)));
    EXPECT_EQ(limb(out, 1), std::vector<u64>(kN, 0));
    EXPECT_EQ(limb(out, 2), std::vector<u64>(kN, 0));
    EXPECT_EQ(limb(out, 3), encoded(prime(3)));

    // Without the extended walk only the limbs up to the level are written.
    Polynomial plain = filled;
    chain().embeddingToN(msg, 1.0, plain, false);
    EXPECT_EQ(limb(plain, 0), encoded(prime(0)));
    for (u64 i = 1; i < kL + kK; ++i)
        EXPECT_EQ(limb(plain, i), limb(filled, i)) << i;
}

TEST_F(EncodingTest, MessageSizesAndValuesAreChecked) {
    Polynomial out(ctx(), false, false);
    const auto before = limb(out, 0);
    Message three(std::vector<std::complex<double>>{{1, 0}, {2, 0}, {3, 0}, {4, 0}});
    three.resize(3);
    Message too_big(std::vector<std::complex<double>>(kN, {1, 0}));
    Message empty(std::vector<std::complex<double>>{{1, 0}});
    empty.resize(0);
    Message nan(std::vector<std::complex<double>>{{std::nan(""), 0}, {0, 0}});
    Message huge(std::vector<std::complex<double>>{{0, 1e300}, {0, 0}});
    for (const Message *m : {&three, &too_big, &empty, &nan, &huge})
        EXPECT_THROW(chain().embeddingToN(*m, 1.0, out, false), RuntimeException);
    EXPECT_EQ(limb(out, 0), before);
}

TEST_F(EncodingTest, RealValues) {
    std::vector<double> values(16);
    for (u64 k = 0; k < 16; ++k)
        values[k] = static_cast<double>(k) - 7.5;
    Polynomial out = randomPoly(1);
    chain().embeddingToN(values.data(), 16, 2.0, out);
    for (u64 i = 0; i <= 1; ++i)
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(out.getLimb(i)[j],
                      j % 4 == 0 ? signedResidueRef(2 * static_cast<int>(j / 4) - 15, prime(i))
                                 : 0u);
    for (u64 n : {u64{3}, u64{0}}) {
        expectThrowsMessage([&] { chain().embeddingToN(values.data(), n, 1.0, out); },
                            "[embeddingToN] The degree of polynomial should be divided by "
                            "the size of message.");
    }
    values[3] = std::numeric_limits<double>::infinity();
    EXPECT_THROW(chain().embeddingToN(values.data(), 16, 1.0, out), RuntimeException);
}

TEST_F(EncodingTest, FactorsMultiplyEachLimbInTheSamePass) {
    const std::vector<u64> factors = {prime(1) * 3 + 7, 0, 1, prime(3) - 1};
    // Values below 2^63 after scaling, then one far above (the 128-bit path).
    for (double big : {0.0, 0x1p80}) {
        SCOPED_TRACE(big);
        const Message msg(std::vector<std::complex<double>>{
            {1.5, -1.0}, {-2.5, 1e6}, {big, -3.0}, {-0x1p40, 0.0}});
        Polynomial plain = randomPoly(2, true), scaled = randomPoly(2, true);
        chain().embeddingToN(msg, 2.0, plain, true);
        chain().embeddingToN(msg, 2.0, scaled, true, factors.data());
        for (u64 i : {0u, 1u, 2u, 3u})
            for (u64 j = 0; j < kN; ++j)
                EXPECT_EQ(scaled.getLimb(i)[j],
                          mulModRef(plain.getLimb(i)[j], factors[i] % prime(i), prime(i)))
                    << i << " " << j;

        std::vector<double> values = {-7.5, 2.0, big, 1e9};
        Polynomial plain_real = randomPoly(2), scaled_real = randomPoly(2);
        chain().embeddingToN(values.data(), 4, 3.0, plain_real);
        chain().embeddingToN(values.data(), 4, 3.0, scaled_real, factors.data());
        for (u64 i = 0; i <= 2; ++i)
            for (u64 j = 0; j < kN; ++j)
                EXPECT_EQ(scaled_real.getLimb(i)[j],
                          mulModRef(plain_real.getLimb(i)[j], factors[i] % prime(i), prime(i)));
        EXPECT_EQ(plain_real.getLimb(0)[0], prime(0) - 23);
        EXPECT_EQ(plain_real.getLimb(0)[3 * kN / 4], 3000000000u);
    }
}

TEST_F(EncodingTest, TopPrimeProductsAccumulateFromTheTop) {
    for (u64 level = 0; level < kL + kK; ++level)
        for (u64 count = 0; count <= level; ++count) {
            const std::vector<u64> products = chain().topPrimeProducts(level, count);
            ASSERT_EQ(products.size(), level + 1);
            for (u64 i = 0; i <= level; ++i) {
                u64 expected = 1;
                for (u64 j = level + 1 - count; j <= level; ++j)
                    expected = mulModRef(expected, prime(j) % prime(i), prime(i));
                EXPECT_EQ(products[i], expected) << level << " " << count << " " << i;
            }
        }
    EXPECT_THROW(chain().topPrimeProducts(1, 2), RuntimeException);
    EXPECT_THROW(chain().topPrimeProducts(kL + kK, 0), RuntimeException);
}

TEST_F(EncodingTest, LiftToRealRefusesWhatItCannotRead) {
    std::vector<double> out(kN);
    const Polynomial p = randomPoly(1);
    auto expectShape = [](auto &&call) {
        expectThrowsMessage([&] { call(); }, PrimeModuli::kShapeMismatchMessage);
    };
    expectShape([&] { chain().liftToReal(p, 1, 0, out.data()); });
    expectShape([&] { chain().liftToReal(p, kN + 1, 1, out.data()); });
    expectShape([&] { chain().liftToReal(p, 3, kN / 2, out.data()); });
    const auto other = makeContext(6, 3, 41, 40, 41, 3);
    Polynomial foreign(other, false, false);
    foreign.setLevel(1);
    expectShape([&] { chain().liftToReal(foreign, kN, 1, out.data()); });
    // The largest reach is fine: coefficient (count - 1) * stride = N - 2.
    chain().liftToReal(p, kN / 2, 2, out.data());
    chain().liftToReal(p, 0, 1, nullptr);
}

TEST_F(EncodingTest, SignedCoefficientsOnSmallPrimes) {
    // 25-bit primes: the int32 extremes exceed them.
    const std::vector<u64> small_primes = {0x1fffc81, 0x1fffb01, 0x1fff901};
    std::vector<Modulus> moduli;
    for (u64 p : small_primes)
        moduli.emplace_back(kN, p, NttType::NEGACYCLIC);
    const PrimeModuli small(moduli, kN, {});
    PolynomialVector vec(ctx(), 2, false, false);
    DeviceSpecificArray<int> coeffs(2 * kN);
    for (u64 j = 0; j < 2 * kN; ++j)
        coeffs.getData()[j] = static_cast<int>(j * 7919) - 300000;
    coeffs.getData()[0] = INT_MIN;
    coeffs.getData()[1] = INT_MAX;
    coeffs.getData()[2] = -1;
    coeffs.getData()[3] = -static_cast<int>(small_primes[0]);
    small.coefficientsToPolyVector(coeffs, vec);
    for (u64 p = 0; p < 2; ++p) {
        Polynomial &poly = vec.getPoly(p);
        EXPECT_TRUE(poly.isNTT());
        small.backwardNTT<AlwaysValidator, 1>(poly, poly, {});
        for (u64 i = 0; i <= 2; ++i)
            for (u64 j = 0; j < kN; ++j)
                EXPECT_EQ(poly.getLimb(i)[j],
                          signedResidueRef(coeffs.getData()[p * kN + j], small_primes[i]));
    }
    EXPECT_EQ(vec.getPoly(0).getLimb(0)[3], 0u);

    DeviceSpecificArray<int> wrong(kN);
    EXPECT_THROW(small.coefficientsToPolyVector(wrong, vec), RuntimeException);
    PolynomialVector none(ctx(), 0, false, false);
    DeviceSpecificArray<int> nothing(0);
    EXPECT_THROW(small.coefficientsToPolyVector(nothing, none), RuntimeException);
}

TEST_F(EncodingTest, SignedCoefficientsIntoLevelledVector) {
    const auto lwe = LWE::makeContext(8, 2, 40, 38);
    const PrimeModuli &lwe_chain = lwe->getPrimeModuli();
    LevelledVector v(lwe);
    DeviceSpecificArray<int> coeffs(8);
    const std::vector<int> values = {0, 1, -1, INT_MIN, INT_MAX, -77, 77, -123456789};
    std::copy(values.begin(), values.end(), coeffs.getData());
    lwe_chain.coefficientsToLevelledVector(coeffs, v);
    for (u64 i = 0; i <= 1; ++i)
        for (u64 j = 0; j < 8; ++j)
            EXPECT_EQ(v.getLimb(i)[j],
                      signedResidueRef(values[j], lwe_chain.getModulus(i).getPrime()));
    DeviceSpecificArray<int> wrong(7);
    expectThrowsMessage([&] { lwe_chain.coefficientsToLevelledVector(wrong, v); },
                        "[coefficientsToLevelledVector] Input slot size should be equal to "
                        "the dimension of levelled vector.");
}

TEST_F(EncodingTest, DiscretizeRoundsToMultiplesOfAStep) {
    const u64 q = prime(0);
    Polynomial p = randomPoly(0);
    std::vector<u64> c = limb(p, 0);
    c[0] = q - 1;
    c[1] = 0;
    c[2] = q / 2;
    c[3] = q / 3;
    std::copy(c.begin(), c.end(), p.getLimb(0));
    for (u64 s : {u64{1}, u64{20}, u64{64}}) {
        Polynomial d(p);
        chain().discretize(d, ctx(), s);
        for (u64 j = 0; j < kN; ++j) {
            // m = round(c 2^s / q), then round(m q / 2^s), reduced below q.
            const u128 two_s = static_cast<u128>(1) << s;
            const u128 m = (static_cast<u128>(c[j]) * two_s + q / 2) / q;
            const u128 back = (m * q + two_s / 2) / two_s;
            EXPECT_EQ(d.getLimb(0)[j], static_cast<u64>(back % q)) << s << " " << j;
            EXPECT_LT(d.getLimb(0)[j], q);
        }
    }
    // s = 1 takes q - 1 to q, which is stored as 0.
    Polynomial d(p);
    chain().discretize(d, ctx(), 1);
    EXPECT_EQ(d.getLimb(0)[0], 0u);
    EXPECT_THROW(chain().discretize(d, ctx(), 0), RuntimeException);
    EXPECT_THROW(chain().discretize(d, ctx(), 65), RuntimeException);

    Polynomial high = transformed(randomPoly(1));
    expectThrowsMessage([&] { chain().discretize(high, ctx(), 3); }, "Level should be zero");
    high.setLevel(0);
    expectThrowsMessage([&] { chain().discretize(high, ctx(), 3); },
                        "Polynomial should not be in NTT form");
}

TEST_F(EncodingTest, BaseModulusSwitchStaysBelowTheTarget) {
    const u64 q = prime(0);
    Polynomial in = randomPoly(0);
    in.getLimb(0)[0] = q - 1;
    in.getLimb(0)[1] = q / 2;
    in.getLimb(0)[2] = 0;
    const u64 t = 1024;
    Polynomial out(ctx(), false, true);
    chain().baseModulusSwitch(in, kN, t, out);
    EXPECT_FALSE(out.isNTT());
    for (u64 j = 0; j < kN; ++j) {
        const u64 v = static_cast<u64>((static_cast<u128>(in.getLimb(0)[j]) * t + q / 2) / q);
        EXPECT_EQ(out.getData().getData()[j], v % t);
    }
    EXPECT_EQ(out.getData().getData()[0], 0u);
    EXPECT_EQ(out.getData().getData()[1], t / 2);
    EXPECT_THROW(chain().baseModulusSwitch(in, kN, 0, out), RuntimeException);
    EXPECT_THROW(chain().baseModulusSwitch(in, kN + 1, t, out), RuntimeException);
    Polynomial high = randomPoly(1);
    EXPECT_THROW(chain().baseModulusSwitch(high, kN, t, out), RuntimeException);
}

} // namespace
} // namespace Quelt::test
