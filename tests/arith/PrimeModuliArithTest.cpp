#include "arith/PrimeModuliFixture.hpp"

#include "Quelt/Exception.hpp"
#include "support/ExpectThrow.hpp"

namespace Quelt::test {
namespace {

using ArithTest = PrimeModuliFixture;

TEST_F(ArithTest, AddSubNegateAgainstIntegersModQ) {
    const u128 q2 = modulusQ(2);
    const u128 q1 = modulusQ(1);
    const auto va = randomValues(q2);
    const auto vb = randomValues(q1);
    const Polynomial a = fromValues(va, 2);
    const Polynomial b = fromValues(vb, 1);

    Polynomial sum(ctx(), false, false), diff(ctx(), false, false), neg(ctx(), false, false);
    chain().add(a, b, sum);
    chain().sub(a, b, diff);
    chain().negate(a, neg);

    // Lower operand level wins, and the array holds exactly those limbs.
    EXPECT_EQ(sum.getLevel(), 1u);
    EXPECT_EQ(sum.getData().size(), 2 * kN);
    EXPECT_EQ(diff.getLevel(), 1u);
    EXPECT_EQ(neg.getLevel(), 2u);
    const auto s = values(sum, 1), d = values(diff, 1), n = values(neg, 2);
    for (u64 j = 0; j < kN; ++j) {
        const u128 x = va[j] % q1, y = vb[j];
        EXPECT_TRUE(s[j] == (x + y) % q1) << j;
        EXPECT_TRUE(d[j] == (x + q1 - y) % q1) << j;
        EXPECT_TRUE(n[j] == (q2 - va[j]) % q2) << j;
    }
}

TEST_F(ArithTest, NegateKeepsZeroAndAliasing) {
    Polynomial a = fromValues(std::vector<u128>(kN, 0), 2);
    chain().negate(a, a);
    for (u64 i = 0; i <= 2; ++i)
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(a.getLimb(i)[j], 0u);
}

TEST_F(ArithTest, HadamardProductsAgainstIntegersModQ) {
    const u128 q = modulusQ(2);
    const auto va = randomValues(q), vb = randomValues(q), vc = randomValues(q);
    const Polynomial a = fromValues(va, 2), b = fromValues(vb, 2), c = fromValues(vc, 2);

    Polynomial ab(ctx(), false, false);
    chain().hadamardMult(a, b, ab);
    EXPECT_TRUE(ab.isNTT());
    Polynomial ac(ctx(), false, false), bc(ctx(), false, false);
    chain().hadamardMultTwo(a, b, c, ac, bc);
    // acc = ab + a * c accumulated in place.
    Polynomial acc(ab);
    chain().hadamardMultAndAdd(a, c, acc);
    Polynomial acc1(ab), acc2(ab);
    chain().hadamardMultTwoAndAdd(a, b, c, acc1, acc2);

    const auto r_ab = values(ab, 2), r_ac = values(ac, 2), r_bc = values(bc, 2);
    const auto r_acc = values(acc, 2), r_acc1 = values(acc1, 2), r_acc2 = values(acc2, 2);
    for (u64 j = 0; j < kN; ++j) {
        const u128 xab = mulModWide(va[j], vb[j], q);
        const u128 xac = mulModWide(va[j], vc[j], q);
        const u128 xbc = mulModWide(vb[j], vc[j], q);
        EXPECT_TRUE(r_ab[j] == xab);
        EXPECT_TRUE(r_ac[j] == xac);
        EXPECT_TRUE(r_bc[j] == xbc);
        EXPECT_TRUE(r_acc[j] == (xab + xac) % q);
        EXPECT_TRUE(r_acc1[j] == (xab + xac) % q);
        EXPECT_TRUE(r_acc2[j] == (xab + xbc) % q);
    }
}

TEST_F(ArithTest, TensorIsTheProductOfLinearPolynomials) {
    const u128 q = modulusQ(2);
    const auto x0 = randomValues(q), x1 = randomValues(q), y0 = randomValues(q),
               y1 = randomValues(q);
    const Polynomial px0 = fromValues(x0, 2), px1 = fromValues(x1, 2), py0 = fromValues(y0, 2),
                     py1 = fromValues(y1, 2);
    Polynomial out0(ctx(), false, false), out1(ctx(), false, false), out2(ctx(), false, false);
    // (x0 + x1 Y)(y0 + y1 Y) = out0 + out1 Y + out2 Y^2.
    chain().tensor(px1, px0, py1, py0, out1, out0, out2);
    const auto r0 = values(out0, 2), r1 = values(out1, 2), r2 = values(out2, 2);
    for (u64 j = 0; j < kN; ++j) {
        EXPECT_TRUE(r0[j] == mulModWide(x0[j], y0[j], q));
        EXPECT_TRUE(r1[j] == (mulModWide(x0[j], y1[j], q) + mulModWide(x1[j], y0[j], q)) % q);
        EXPECT_TRUE(r2[j] == mulModWide(x1[j], y1[j], q));
    }
}

TEST_F(ArithTest, ModUpAdditionCoversTemporaryLimbsOnly) {
    Polynomial a = randomPoly(1, true), b = randomPoly(2, true);
    Polynomial out = randomPoly(2, true);
    const auto untouched = limb(out, 2);
    chain().add(a, b, out);
    EXPECT_EQ(out.getLevel(), 1u);
    for (u64 i : {0u, 1u, 3u})
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(out.getLimb(i)[j], addModRef(a.getLimb(i)[j], b.getLimb(i)[j], prime(i)));
    EXPECT_EQ(limb(out, 2), untouched);
}

TEST_F(ArithTest, MixedModUpShapes) {
    const Polynomial plain = randomPoly(2);
    const Polynomial mod_up = randomPoly(1, true);
    Polynomial out(ctx(), false, false);
    expectThrowsMessage([&] { chain().add(plain, mod_up, out); },
                        "Operands have different mod-up states.");
    // A product of a plain and a mod-up polynomial stays within the primes
    // both hold, and a plain output never reaches the temporary primes.
    chain().hadamardMult(plain, mod_up, out);
    EXPECT_EQ(out.getLevel(), 1u);
    EXPECT_EQ(out.getData().size(), 2 * kN);
    for (u64 i = 0; i <= 1; ++i)
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(out.getLimb(i)[j],
                      mulModRef(plain.getLimb(i)[j], mod_up.getLimb(i)[j], prime(i)));
    // Two mod-up inputs into a plain output: the output keeps a valid level.
    const Polynomial other = randomPoly(2, true);
    chain().hadamardMult(mod_up, other, out);
    EXPECT_EQ(out.getLevel(), 1u);
    EXPECT_LT(out.getLevel(), out.getChainLength());

    // The mod-up product visits the temporary limbs of all three.
    Polynomial out_up(ctx(), true, false);
    chain().hadamardMultModUp(mod_up, other, out_up);
    for (u64 i : {0u, 1u, 3u})
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(out_up.getLimb(i)[j],
                      mulModRef(mod_up.getLimb(i)[j], other.getLimb(i)[j], prime(i)));
    EXPECT_THROW(chain().hadamardMultModUp(mod_up, plain, out_up), RuntimeException);
}

TEST_F(ArithTest, AccumulatingProductsStopAtTheLowestLevel) {
    const Polynomial a = randomPoly(2), b = randomPoly(2);
    Polynomial out = randomPoly(0);
    const auto before = limb(out, 0);
    chain().hadamardMultAndAdd(a, b, out);
    EXPECT_EQ(out.getLevel(), 0u);
    for (u64 j = 0; j < kN; ++j)
        EXPECT_EQ(
            out.getLimb(0)[j],
            addModRef(before[j], mulModRef(a.getLimb(0)[j], b.getLimb(0)[j], prime(0)), prime(0)));
}

TEST_F(ArithTest, TwoOutputProductsRefuseAnOutputReadLater) {
    const Polynomial a = randomPoly(2);
    Polynomial b = randomPoly(2), c = randomPoly(2), other = randomPoly(2);
    const auto b_before = limb(b, 1);
    // out1 is written before b and c are read for out2.
    EXPECT_THROW(chain().hadamardMultTwo(a, b, c, b, other), RuntimeException);
    EXPECT_THROW(chain().hadamardMultTwo(a, b, c, c, other), RuntimeException);
    EXPECT_THROW(chain().hadamardMultTwoAndAdd(a, b, c, other, other), RuntimeException);
    EXPECT_EQ(limb(b, 1), b_before);
    // out2 may alias an input.
    Polynomial out1(ctx(), false, false);
    const Polynomial b_copy(b);
    chain().hadamardMultTwo(a, b, c, out1, b);
    for (u64 j = 0; j < kN; ++j)
        EXPECT_EQ(b.getLimb(2)[j], mulModRef(b_copy.getLimb(2)[j], c.getLimb(2)[j], prime(2)));
}

TEST_F(ArithTest, IsZeroIgnoresUnusedLimbs) {
    Polynomial p = fromValues(std::vector<u128>(kN, 0), 0, true);
    p.setLevel(0);
    // Limbs 1 and 2 lie between the level and the temporary primes.
    p.getLimb(1)[5] = 7;
    p.getLimb(2)[0] = 1;
    EXPECT_TRUE(chain().isZero(p));
    p.getLimb(3)[kN - 1] = 1;
    EXPECT_FALSE(chain().isZero(p));
}

} // namespace
} // namespace Quelt::test
