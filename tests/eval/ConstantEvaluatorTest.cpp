// The constant part of the evaluator on its own, reached through
// HomEvaluatorImpl::constants(): the exact products with integers and the
// imaginary unit, and products with constants decrypting to the scaled
// message at the level they use.

#include "eval/ConstantEvaluator.hpp"

#include "arith/PrimeModuli.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/RingOperandsFixture.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>

namespace Quelt::test {
namespace {

using C = std::complex<double>;

struct ConstantEvaluatorTest : RingOperandsTest {
    const HomEvaluatorImpl impl{ctx()};
    const ConstantEvaluator &constants = impl.constants();
};

TEST_F(ConstantEvaluatorTest, ImaginaryUnitTwiceIsNegation) {
    Ciphertext once(ctx(), false, true), twice(ctx(), false, true), negated(ctx(), false, true);
    constants.multImagUnit(top, once);
    constants.multImagUnit(once, twice);
    impl.negate(top, negated);
    EXPECT_EQ(ciphertextWords(twice), ciphertextWords(negated));
}

TEST_F(ConstantEvaluatorTest, IntegerProductsAreSums) {
    Ciphertext three(ctx(), false, true), sum(ctx(), false, true), product(ctx(), false, true);
    constants.multInteger(top, 3, three);
    impl.add(top, top, sum);
    impl.add(sum, top, sum);
    EXPECT_EQ(ciphertextWords(three), ciphertextWords(sum));
    // Gaussian integers take the exact path: 3.0 and 1.000000001 as integers,
    // -2 + i as -(2 ct) + i ct.
    constants.mult(top, C(3.0), product);
    EXPECT_EQ(ciphertextWords(product), ciphertextWords(three));
    constants.mult(top, C(1.000000001), product);
    EXPECT_EQ(ciphertextWords(product), ciphertextWords(top));
    Ciphertext twice(ctx(), false, true), imag(ctx(), false, true);
    constants.multInteger(top, 2, twice);
    impl.negate(twice, twice);
    constants.multImagUnit(top, imag);
    impl.addWithoutCheck(twice, imag, twice);
    constants.mult(top, C(-2.0, 1.0), product);
    EXPECT_EQ(ciphertextWords(product), ciphertextWords(twice));
    // At level 0 an integer costs nothing.
    constants.mult(bottom, C(2.0), product);
    constants.multInteger(bottom, 2, three);
    EXPECT_EQ(ciphertextWords(product), ciphertextWords(three));
}

TEST_F(ConstantEvaluatorTest, MultiplyingByZeroKeepsTheMetadata) {
    Ciphertext raised(ctx(), false, true), zero(ctx(), false, true);
    constants.multWithoutRescale(top, C(0.5), raised);
    raised.setLogSlots(4);
    constants.multInteger(raised, 0, zero);
    EXPECT_EQ(zero.getRescaleCounter(), 1);
    EXPECT_EQ(zero.getLogSlots(), 4u);
    EXPECT_EQ(zero.getLevel(), 3u);
    for (u64 i = 0; i < 2; ++i)
        EXPECT_TRUE(chain().isZero(zero.getPoly(i)));
}

// A constant other than a Gaussian integer uses a level; each product
// decrypts to the constant times the message. multWithoutRescale keeps the
// level with counter 1 until the rescale.
TEST_F(ConstantEvaluatorTest, ConstantsScaleTheMessageAtTheLevelTheyUse) {
    const struct {
        C c;
        u64 level;
    } cases[] = {{C(0.5), 2}, {C(-1.25, 0.75), 2}, {C(0.0, -0.5), 2}, {C(-3.0, 2.0), 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.c);
        Messages want = x;
        for (auto &slot : want.front())
            slot *= c.c;
        Ciphertext product = fresh(), unscaled = fresh();
        constants.mult(top, c.c, product);
        EXPECT_EQ(product.getLevel(), c.level);
        EXPECT_EQ(product.getRescaleCounter(), 0);
        EXPECT_LE(largestSlotError(keys.decrypt(product), want), 1e-7);
        constants.multWithoutRescale(top, c.c, unscaled);
        EXPECT_EQ(unscaled.getLevel(), 3u);
        EXPECT_EQ(unscaled.getRescaleCounter(), 1);
        impl.levels().rescale(unscaled);
        EXPECT_LE(largestSlotError(keys.decrypt(unscaled), want), 1e-7);
    }
}

} // namespace
} // namespace Quelt::test
