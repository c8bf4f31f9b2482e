#include "arith/PrimeModuliFixture.hpp"

#include "Quelt/Exception.hpp"

namespace Quelt::test {
namespace {

using ConstTest = PrimeModuliFixture;

// X^(N/2) as a vector of N residues.
std::vector<u64> halfDegreeMonomial(u64 n) {
    std::vector<u64> m(n, 0);
    m[n / 2] = 1;
    return m;
}

TEST_F(ConstTest, IntegerAndLevelledProductsAgainstIntegersModQ) {
    const u128 q2 = modulusQ(2), q1 = modulusQ(1);
    const auto v = randomValues(q2);
    const Polynomial a = fromValues(v, 2);
    const u64 x = 0xfedcba9876543210ULL; // reduced per prime by the kernel
    Polynomial out(ctx(), false, true);
    chain().constMult(a, x, out);
    EXPECT_FALSE(out.isNTT()); // takes a's flag
    auto r = values(out, 2);
    for (u64 j = 0; j < kN; ++j)
        EXPECT_TRUE(r[j] == mulModWide(v[j], x, q2));

    // A constant at a lower level lowers the output's level.
    const u128 c = (static_cast<u128>(0x123456789abULL) << 40) | 0x55aa;
    const LevelledElement ce =
        element({static_cast<u64>(c % prime(0)), static_cast<u64>(c % prime(1))}, 1);
    chain().constMult(a, ce, out);
    EXPECT_EQ(out.getLevel(), 1u);
    EXPECT_EQ(out.getData().size(), 2 * kN);
    r = values(out, 1);
    for (u64 j = 0; j < kN; ++j)
        EXPECT_TRUE(r[j] == mulModWide(v[j] % q1, c, q1));

    // The constant q_1 leaves limb 1 zero.
    chain().constMult(a, prime(1), out);
    EXPECT_EQ(limb(out, 1), std::vector<u64>(kN, 0));
}

TEST_F(ConstTest, RealConstantAddedInEitherForm) {
    const u128 q = modulusQ(2);
    const auto v = randomValues(q);
    const Polynomial a = fromValues(v, 2);
    const u128 c = q - 12345; // -12345
    const LevelledElement ce =
        element({static_cast<u64>(c % prime(0)), static_cast<u64>(c % prime(1)),
                 static_cast<u64>(c % prime(2))},
                2);
    Polynomial coeff(ctx(), false, false);
    chain().constAdd(a, ce, coeff);
    EXPECT_FALSE(coeff.isNTT());
    Polynomial ntt(ctx(), false, false);
    chain().constAdd(transformed(a), ce, ntt);
    EXPECT_TRUE(ntt.isNTT());
    const auto r_coeff = values(coeff, 2), r_ntt = values(inverted(ntt), 2);
    for (u64 j = 0; j < kN; ++j) {
        const u128 expected = j == 0 ? (v[j] + c) % q : v[j];
        EXPECT_TRUE(r_coeff[j] == expected) << j;
        EXPECT_TRUE(r_ntt[j] == expected) << j;
    }
}

TEST_F(ConstTest, ComplexConstantIsMultiplicationByReAndImTimesXHalf) {
    const Polynomial a = randomPoly(2);
    const std::vector<u64> re_r = {11, 22, 33}, im_r = {prime(0) - 5, 7, 0x1234567};
    const LevelledElement re = element(re_r, 2), im = element(im_r, 2);
    Polynomial prod(ctx(), false, false), sum(ctx(), false, false), sum_coeff(ctx(), false, false);
    const Polynomial ta = transformed(a);
    chain().constMult(ta, re, im, prod);
    chain().constAdd(ta, re, im, sum);
    chain().constAdd(a, re, im, sum_coeff);
    const Polynomial p = inverted(prod), s = inverted(sum);
    for (u64 i = 0; i <= 2; ++i) {
        const u64 q = prime(i);
        // a (re + im X^(N/2)) modulo X^N + 1.
        const auto shifted = negacyclicProductRef(limb(a, i), halfDegreeMonomial(kN), q);
        for (u64 j = 0; j < kN; ++j) {
            const u64 expected = addModRef(mulModRef(a.getLimb(i)[j], re_r[i], q),
                                           mulModRef(shifted[j], im_r[i], q), q);
            EXPECT_EQ(p.getLimb(i)[j], expected);
            u64 added = a.getLimb(i)[j];
            if (j == 0)
                added = addModRef(added, re_r[i], q);
            if (j == kN / 2)
                added = addModRef(added, im_r[i], q);
            EXPECT_EQ(s.getLimb(i)[j], added);
            EXPECT_EQ(sum_coeff.getLimb(i)[j], added);
        }
    }
    // Multiplying a coefficient-form polynomial by a complex constant is refused.
    EXPECT_THROW(chain().constMult(a, re, im, prod), RuntimeException);
}

TEST_F(ConstTest, ComplexTableAndItsSpecialCases) {
    const std::vector<u64> re_r = {3, 4, 5}, zero = {0, 0, 0}, one = {1, 1, 1};
    const auto table = chain().computeConstantCoefficients(element(re_r, 2), element(zero, 2));
    ASSERT_EQ(table.size(), 6u);
    for (u64 j = 0; j <= 2; ++j) {
        EXPECT_EQ(table.getData()[2 * j], re_r[j]);
        EXPECT_EQ(table.getData()[2 * j + 1], re_r[j]);
    }
    // re = 0, im = 1: the first half of the slots times v_j, the second half
    // times q_j - v_j, and v_j squares to -1.
    const Polynomial a = transformed(randomPoly(2));
    Polynomial out(ctx(), false, false);
    chain().constMult(a, element(zero, 2), element(one, 2), out);
    const u64 *icoeff = chain().getICoefficients().getData();
    for (u64 i = 0; i <= 2; ++i) {
        EXPECT_EQ(mulModRef(icoeff[2 * i], icoeff[2 * i], prime(i)), prime(i) - 1);
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(out.getLimb(i)[j],
                      mulModRef(a.getLimb(i)[j], icoeff[2 * i + (j >= kN / 2)], prime(i)));
    }
    // im = 0 equals the real constant.
    Polynomial real(ctx(), false, false);
    chain().constMult(a, element(re_r, 1), element(zero, 2), out);
    chain().constMult(a, element(re_r, 1), real);
    EXPECT_EQ(out.getLevel(), 1u);
    for (u64 i = 0; i <= 1; ++i)
        EXPECT_EQ(limb(out, i), limb(real, i));
}

TEST_F(ConstTest, TwoPolynomialFormsMatchTheSingleForms) {
    const Polynomial a = transformed(randomPoly(2)), b = transformed(randomPoly(2));
    const LevelledElement c = element({9, 99, 999}, 2), im = element({1, 2, 3}, 2);
    Polynomial o1(ctx(), false, false), o2(ctx(), false, false), r1(ctx(), false, false),
        r2(ctx(), false, false);
    chain().constMultTwo(a, b, c, o1, o2);
    chain().constMult(a, c, r1);
    chain().constMult(b, c, r2);
    for (u64 i = 0; i <= 2; ++i) {
        EXPECT_EQ(limb(o1, i), limb(r1, i));
        EXPECT_EQ(limb(o2, i), limb(r2, i));
    }
    chain().constMultTwo(a, b, c, im, o1, o2);
    chain().constMult(a, c, im, r1);
    chain().constMult(b, c, im, r2);
    for (u64 i = 0; i <= 2; ++i) {
        EXPECT_EQ(limb(o1, i), limb(r1, i));
        EXPECT_EQ(limb(o2, i), limb(r2, i));
    }
    chain().constMultTwo(a, b, u64{77}, o1, o2);
    chain().constMult(a, u64{77}, r1);
    chain().constMult(b, u64{77}, r2);
    for (u64 i = 0; i <= 2; ++i) {
        EXPECT_EQ(limb(o1, i), limb(r1, i));
        EXPECT_EQ(limb(o2, i), limb(r2, i));
    }
}

TEST_F(ConstTest, SubtractAndMultiplyPerPrime) {
    const Polynomial a = randomPoly(2), b = randomPoly(1);
    const std::vector<u64> c = {prime(0) - 1, 2, 3};
    Polynomial out(ctx(), false, false);
    chain().subAndConstMult(a, b, c.data(), out);
    EXPECT_EQ(out.getLevel(), 1u);
    for (u64 i = 0; i <= 1; ++i)
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(
                out.getLimb(i)[j],
                mulModRef(subModRef(a.getLimb(i)[j], b.getLimb(i)[j], prime(i)), c[i], prime(i)));
}

TEST_F(ConstTest, ValidatedKernelSkipsRejectedLimbs) {
    const Polynomial a = randomPoly(2);
    Polynomial out(a);
    const std::vector<u64> c = {5, 6, 7, 8, 9, 10};
    chain().constMult<OutputModulusBoundValidator, true>(a, c.data(), out, {1, 2});
    EXPECT_EQ(limb(out, 0), limb(a, 0));
    EXPECT_EQ(limb(out, 2), limb(a, 2));
    for (u64 j = 0; j < kN; ++j)
        EXPECT_EQ(out.getLimb(1)[j], mulModRef(a.getLimb(1)[j], j < kN / 2 ? 7 : 8, prime(1)));
}

} // namespace
} // namespace Quelt::test
