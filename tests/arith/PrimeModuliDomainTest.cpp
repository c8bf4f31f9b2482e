#include "arith/PrimeModuliFixture.hpp"

#include "Quelt/Exception.hpp"
#include "support/ExpectThrow.hpp"

namespace Quelt::test {
namespace {

using DomainTest = PrimeModuliFixture;

// round(v / q) with the centred lift of v mod q (a remainder of exactly
// floor(q / 2) rounds down), reduced modulo m.
u128 roundedDivision(u128 v, u64 q, u128 m) {
    const u64 r = static_cast<u64>(v % q);
    const u128 down = v / q;
    return (r <= q / 2 ? down : down + 1) % m;
}

TEST_F(DomainTest, TransformsRoundTripAndMultiplyNegacyclically) {
    const Polynomial a = randomPoly(2), b = randomPoly(2);
    const Polynomial ta = transformed(a);
    EXPECT_TRUE(ta.isNTT());
    const Polynomial back = inverted(ta);
    EXPECT_FALSE(back.isNTT());
    for (u64 i = 0; i <= 2; ++i)
        EXPECT_EQ(limb(back, i), limb(a, i));

    Polynomial prod(ctx(), false, false);
    chain().hadamardMult(ta, transformed(b), prod);
    const Polynomial c = inverted(prod);
    for (u64 i = 0; i <= 2; ++i)
        EXPECT_EQ(limb(c, i), negacyclicProductRef(limb(a, i), limb(b, i), prime(i)));

    // A bounded validator changes the form of the chosen limbs only.
    Polynomial part(a);
    chain().forwardNTT<OutputModulusBoundValidator, 1>(part, part, {1, 2});
    EXPECT_TRUE(part.isNTT());
    EXPECT_EQ(limb(part, 0), limb(a, 0));
    EXPECT_EQ(limb(part, 1), limb(ta, 1));
    EXPECT_EQ(limb(part, 2), limb(a, 2));

    // Mod-up polynomials transform their temporary limbs as well.
    const Polynomial up = randomPoly(1, true);
    Polynomial tup(up);
    chain().forwardNTT<ModUpOutputModulusBoundEvalValidator, 1>(up, tup, {1, kL});
    chain().backwardNTT<AlwaysValidator, 1>(tup, tup, {});
    for (u64 i : {0u, 1u, 3u})
        EXPECT_EQ(limb(tup, i), limb(up, i));
}

TEST_F(DomainTest, RescaleIsRoundedDivisionInBothForms) {
    const u128 q2 = modulusQ(2), q1 = modulusQ(1);
    auto v = randomValues(q2);
    const u64 top = prime(2);
    // The tie rule: a remainder of floor(q/2) counts as positive, one more as
    // negative; also the extremes 0 and Q - 1.
    v[0] = static_cast<u128>(12345) * top + top / 2;
    v[1] = static_cast<u128>(12345) * top + top / 2 + 1;
    v[2] = 0;
    v[3] = q2 - 1;
    v[4] = static_cast<u128>(7) * top - 3;
    const Polynomial a = fromValues(v, 2);

    Polynomial coeff(a);
    chain().rescale(coeff);
    EXPECT_EQ(coeff.getLevel(), 1u);
    EXPECT_FALSE(coeff.isNTT());
    EXPECT_EQ(coeff.getData().size(), 2 * kN);
    Polynomial ntt = transformed(a);
    chain().rescale(ntt);
    EXPECT_TRUE(ntt.isNTT());
    EXPECT_EQ(ntt.getLevel(), 1u);

    const auto r = values(coeff, 1), r_ntt = values(inverted(ntt), 1);
    for (u64 j = 0; j < kN; ++j) {
        EXPECT_TRUE(r[j] == roundedDivision(v[j], top, q1)) << j;
        EXPECT_TRUE(r_ntt[j] == r[j]) << j;
    }
    EXPECT_TRUE(r[0] == 12345);
    EXPECT_TRUE(r[1] == 12346);
    EXPECT_TRUE(r[2] == 0);
    EXPECT_TRUE(r[4] == 7);

    // The same small integer k q + r on every prime gives k.
    Polynomial small = fromValues(std::vector<u128>(kN, static_cast<u128>(99) * top + 5), 2);
    chain().rescale(small);
    EXPECT_EQ(limb(small, 0), std::vector<u64>(kN, 99));
    EXPECT_EQ(limb(small, 1), std::vector<u64>(kN, 99));
}

TEST_F(DomainTest, LevelChangesAtTheEndsOfTheChainThrow) {
    Polynomial bottom = randomPoly(0);
    const auto before = limb(bottom, 0);
    expectThrowsMessage([&] { chain().rescale(bottom); }, PrimeModuli::kRescaleBottomMessage);
    EXPECT_EQ(limb(bottom, 0), before);
    Polynomial top = randomPoly(kL - 1);
    EXPECT_THROW(chain().inverseRescale(top), RuntimeException);
    EXPECT_EQ(top.getLevel(), kL - 1);
}

TEST_F(DomainTest, InverseRescaleMultipliesByTheNextPrime) {
    const u128 q1 = modulusQ(1), q2 = modulusQ(2);
    const auto v = randomValues(q1);
    for (bool ntt : {false, true}) {
        Polynomial a = fromValues(v, 1);
        if (ntt)
            a = transformed(a);
        Polynomial raised(a);
        chain().inverseRescale(raised);
        EXPECT_EQ(raised.getLevel(), 2u);
        EXPECT_EQ(raised.isNTT(), ntt);
        EXPECT_EQ(limb(raised, 2), std::vector<u64>(kN, 0));
        const auto r = values(ntt ? inverted(raised) : raised, 2);
        for (u64 j = 0; j < kN; ++j)
            EXPECT_TRUE(r[j] == mulModWide(v[j], prime(2), q2));
        chain().rescale(raised);
        for (u64 i = 0; i <= 1; ++i)
            EXPECT_EQ(limb(raised, i), limb(a, i));
    }
}

TEST_F(DomainTest, NormalizeModLiftsOneLimbCentred) {
    Polynomial in = randomPoly(2);
    const u64 src = prime(2);
    in.getLimb(2)[0] = src - 1;     // -1
    in.getLimb(2)[1] = 1;           // 1
    in.getLimb(2)[2] = src / 2;     // positive
    in.getLimb(2)[3] = src / 2 + 1; // negative
    Polynomial out(ctx(), false, true);
    chain().normalizeMod(out, in, 2, 1);
    EXPECT_EQ(out.getLevel(), 1u);
    EXPECT_FALSE(out.isNTT());
    for (u64 i = 0; i <= 1; ++i) {
        const u64 q = prime(i);
        EXPECT_EQ(out.getLimb(i)[0], q - 1);
        EXPECT_EQ(out.getLimb(i)[1], 1u);
        EXPECT_EQ(out.getLimb(i)[2], (src / 2) % q);
        EXPECT_EQ(out.getLimb(i)[3], subModRef((src / 2 + 1) % q, src % q, q));
    }
    EXPECT_THROW(chain().normalizeMod(in, in, 2, 1), RuntimeException);
    Polynomial low = randomPoly(1);
    EXPECT_THROW(chain().normalizeMod(out, low, 2, 1), RuntimeException);
}

TEST_F(DomainTest, ForwardTransformWithSubtractionAndMultiplication) {
    Polynomial a = randomPoly(1);
    const Polynomial b = transformed(randomPoly(2));
    const Polynomial ta = transformed(a);
    const std::vector<u64> c = {17, 19};
    chain().forwardNTTWithSubAndConstMult<OutputModulusBoundValidator, 1>(a, b, c.data(), a,
                                                                          {0, 2});
    EXPECT_TRUE(a.isNTT());
    for (u64 i = 0; i <= 1; ++i)
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(
                a.getLimb(i)[j],
                mulModRef(subModRef(b.getLimb(i)[j], ta.getLimb(i)[j], prime(i)), c[i], prime(i)));
}

// A switching-key body over the mod-up chain: the error is transformed limb
// by limb, and only the digit's base primes get the gadget term.
TEST_F(DomainTest, SwitchingKeyBodyTransformsTheErrorAndAddsTheDigitTerm) {
    const u64 top = kL - 1;
    Polynomial error = randomPoly(top, true, false);
    const Polynomial mask = randomPoly(top, true, true), target = randomPoly(top, true, true);
    const Polynomial source = randomPoly(top, true, true);
    const Polynomial expected_error = transformed(error);
    const std::vector<u64> pmod = {3, 5, 7}, hatq = {11, 13, prime(2) - 1};
    Polynomial body(ctx(), true, false);
    chain().switchingKeyBody(error, mask, target, source, pmod.data(), hatq.data(), {1, 3}, body);
    EXPECT_TRUE(error.isNTT() && body.isNTT());
    EXPECT_EQ(error.getData().size(), expected_error.getData().size());
    for (u64 i = 0; i < kL + kK; ++i) {
        const u64 q = prime(i);
        const u64 g = i >= 1 && i < kL ? mulModRef(pmod[i], hatq[i], q) : 0;
        EXPECT_EQ(limb(error, i), limb(expected_error, i));
        for (u64 j = 0; j < kN; ++j) {
            const u64 want =
                addModRef(subModRef(expected_error.getLimb(i)[j],
                                    mulModRef(mask.getLimb(i)[j], target.getLimb(i)[j], q), q),
                          mulModRef(g, source.getLimb(i)[j], q), q);
            ASSERT_EQ(body.getLimb(i)[j], want) << "limb " << i << ", position " << j;
        }
    }

    // Every operand mod-up at one level, else nothing is written.
    Polynomial plain = randomPoly(top);
    Polynomial lower = randomPoly(top - 1, true, true);
    const std::vector<u64> before = limb(body, 0);
    EXPECT_THROW(chain().switchingKeyBody(error, mask, plain, source, pmod.data(), hatq.data(),
                                          {0, 1}, body),
                 RuntimeException);
    EXPECT_THROW(chain().switchingKeyBody(error, mask, target, lower, pmod.data(), hatq.data(),
                                          {0, 1}, body),
                 RuntimeException);
    EXPECT_EQ(limb(body, 0), before);
}

TEST_F(DomainTest, AcceleratorOnlyTransformsThrow) {
    Polynomial a = randomPoly(1, false, true);
    const std::vector<u64> c(3, 1);
    expectThrowsMessage(
        [&] {
            chain().backwardNTTWithConstMult<OutputModulusBoundValidator, 1>(a, c.data(), a,
                                                                             {0, 2});
        },
        "Cannot support the function 'backwardNTTWithConstMult' in the "
        "current build configuration");
    // The output leaves the NTT form before the throw.
    EXPECT_FALSE(a.isNTT());
    expectThrowsMessage(
        [&] {
            chain().forwardNTT<OutputModulusBoundValidator, 1>(kHostDevice, a.getLimb(0), 1,
                                                               {0, 1});
        },
        "GPU is expected");
    expectThrowsMessage(
        [&] {
            chain().backwardNTT<OutputModulusBoundValidator, 1>(Device(1, 0), nullptr, 1, {0, 1});
        },
        "Cannot support the function 'execiNttBatch' in the current build configuration");
}

} // namespace
} // namespace Quelt::test
