// The product part of the evaluator on its own, reached through
// HomEvaluatorImpl::products(): products decrypting to the slot products, the
// fused relinearize-and-rescale against the steps one after the other, the
// reuse of its tensor products, and an evaluator without a multiplication
// key.

#include "eval/ProductEvaluator.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "support/AllocationCounter.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

// Products at FX scales keep the slots within 2^-15 of the plain products.
constexpr double kBound = 0x1p-15;

class ProductEvaluatorTest : public SchemeFixture {
protected:
    static RingCiphertext fresh() { return RingCiphertext(context(), false, true); }
    RingCiphertext encryptAt(const Message &m, std::uint64_t level) const {
        RingCiphertext ct = fresh();
        encryptor.encrypt(m, keyPack(), ct, level, 0);
        return ct;
    }
    static Message slotProduct(const Message &a, const Message &b) {
        Message out = a;
        for (std::uint64_t i = 0; i < out.getSize(); ++i)
            out[i] = a[i] * b[i];
        return out;
    }
};

// mult and square come down one level with counter 0; multWithoutRescale
// keeps the level with counter 1; operands at two levels meet at the lower.
TEST_F(ProductEvaluatorTest, ProductsDecryptToTheSlotProducts) {
    const HomEvaluatorImpl impl(context(), keyPack());
    const ProductEvaluator &products = impl.products();
    const Message x = randomMessage(), y = randomMessage();
    const RingCiphertext a = encryptAt(x, 6), b = encryptAt(y, 6), b_high = encryptAt(y, 9);
    const struct {
        const char *name;
        std::function<void(RingCiphertext &)> call;
        Message want;
        std::uint64_t level;
        int counter;
    } cases[] = {
        {"mult", [&](RingCiphertext &o) { products.mult(a, b, o); }, slotProduct(x, y), 5, 0},
        {"mult across levels", [&](RingCiphertext &o) { products.mult(b_high, a, o); },
         slotProduct(x, y), 5, 0},
        {"square", [&](RingCiphertext &o) { products.square(a, o); }, slotProduct(x, x), 5, 0},
        {"multWithoutRescale", [&](RingCiphertext &o) { products.multWithoutRescale(a, b, o); },
         slotProduct(x, y), 6, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        RingCiphertext out = fresh();
        c.call(out);
        EXPECT_EQ(out.getNumPoly(), 2u);
        EXPECT_EQ(out.getLevel(), c.level);
        EXPECT_EQ(out.getRescaleCounter(), c.counter);
        if (c.counter == 1)
            impl.levels().rescale(out);
        EXPECT_LT(maxError(decrypt(out), c.want), kBound);
    }
}

// The products rescaled in the switch's pass equal the unfused steps word for
// word: mult and square against multWithoutRescale then rescale, and
// relinearizeRescale against relinearize then rescale, into fresh, reused
// and aliased outputs; a four-polynomial input takes the steps one by one.
TEST_F(ProductEvaluatorTest, FusedRescalesEqualTheStepsOneAfterTheOther) {
    const HomEvaluatorImpl impl(context(), keyPack());
    const ProductEvaluator &products = impl.products();
    const Message x = randomMessage(), y = randomMessage(), z = randomMessage();
    for (const std::uint64_t level : {std::uint64_t{8}, std::uint64_t{5}, std::uint64_t{1}}) {
        SCOPED_TRACE(level);
        const RingCiphertext a = encryptAt(x, level);
        const RingCiphertext b = encryptAt(y, level);
        RingCiphertext want = fresh(), want_square = fresh(), t = fresh();
        products.multWithoutRescale(a, b, want);
        impl.levels().rescale(want);
        products.multWithoutRescale(a, a, want_square);
        impl.levels().rescale(want_square);
        products.tensor(a, b, t);
        RingCiphertext got = fresh(), reused = a, got_square = fresh();
        products.mult(a, b, got);
        products.mult(a, b, reused);
        products.square(a, got_square);
        EXPECT_EQ(ciphertextWords(got), ciphertextWords(want));
        EXPECT_EQ(ciphertextWords(reused), ciphertextWords(want));
        EXPECT_EQ(ciphertextWords(got_square), ciphertextWords(want_square));
        RingCiphertext relinearized = fresh(), aliased = t;
        products.relinearizeRescale(t, relinearized);
        products.relinearizeRescale(aliased, aliased);
        EXPECT_EQ(ciphertextWords(relinearized), ciphertextWords(want));
        EXPECT_EQ(ciphertextWords(aliased), ciphertextWords(want));
    }
    // Four polynomials: relinearised step by step, then rescaled.
    const RingCiphertext a = encryptAt(x, 6);
    const RingCiphertext b = encryptAt(y, 6);
    const RingCiphertext c = encryptAt(z, 6);
    RingCiphertext ab = fresh(), abc = fresh(), want = fresh(), got = fresh();
    products.tensor(a, b, ab);
    products.tensor(ab, c, abc);
    products.relinearize(abc, want);
    impl.levels().rescale(want);
    products.relinearizeRescale(abc, got);
    EXPECT_EQ(ciphertextWords(got), ciphertextWords(want));
    // The checks of relinearize, then those of rescale, before out changes.
    RingCiphertext unscaled = fresh();
    products.tensor(a, b, unscaled);
    unscaled.setRescaleCounter(0);
    RingCiphertext bottom = fresh();
    products.tensor(encryptAt(x, 0), encryptAt(y, 0), bottom);
    expectRefusedKeepingOutput([&](RingCiphertext &o) { products.relinearizeRescale(a, o); },
                               ProductEvaluator::kRelinearizeShortInput);
    expectRefusedKeepingOutput([&](RingCiphertext &o) { products.relinearizeRescale(unscaled, o); },
                               ProductEvaluator::kRescaleCounterNotPositive);
    expectRefusedKeepingOutput([&](RingCiphertext &o) { products.relinearizeRescale(bottom, o); },
                               ProductEvaluator::kLevelZero);
}

// A product keeps its tensor for the next one: once the output has its
// shape, a repeated product takes no more fresh memory than the
// relinearisation alone (the key switch's), and gives the same words.
TEST_F(ProductEvaluatorTest, RepeatedProductsReuseTheirTensor) {
    const HomEvaluatorImpl impl(context(), keyPack());
    const ProductEvaluator &products = impl.products();
    const RingCiphertext a = encryptAt(randomMessage(), 7), b = encryptAt(randomMessage(), 7);
    RingCiphertext first = fresh(), again = fresh(), t = fresh(), relinearized = fresh();
    products.multWithoutRescale(a, b, first);
    products.tensor(a, b, t);
    products.relinearize(t, relinearized);
    const std::uint64_t relinearize_bytes =
        alignedBytesDuring([&] { products.relinearize(t, relinearized); });
    products.multWithoutRescale(a, b, again);
    const std::uint64_t product_bytes =
        alignedBytesDuring([&] { products.multWithoutRescale(a, b, again); });
    EXPECT_LE(product_bytes, relinearize_bytes);
    EXPECT_EQ(ciphertextWords(again), ciphertextWords(first));
    EXPECT_EQ(ciphertextWords(relinearized), ciphertextWords(first));
}

// Without a multiplication key the tensor product still runs; every product
// that relinearises names the missing key and leaves its output as it was.
TEST_F(ProductEvaluatorTest, WithoutAMultiplicationKeyOnlyTheTensorRuns) {
    const HomEvaluatorImpl keyless(context());
    const ProductEvaluator &products = keyless.products();
    const RingCiphertext a = encryptAt(randomMessage(), 4), b = encryptAt(randomMessage(), 4);
    RingCiphertext t = fresh();
    products.tensor(a, b, t);
    EXPECT_EQ(t.getNumPoly(), 3u);
    EXPECT_EQ(t.getRescaleCounter(), 1);
    const std::function<void(RingCiphertext &)> calls[] = {
        [&](RingCiphertext &o) { products.relinearize(t, o); },
        [&](RingCiphertext &o) { products.relinearizeRescale(t, o); },
        [&](RingCiphertext &o) { products.multWithoutRescale(a, b, o); },
        [&](RingCiphertext &o) { products.mult(a, b, o); },
        [&](RingCiphertext &o) { products.square(a, o); },
    };
    for (const auto &call : calls)
        expectRefusedKeepingOutput(call, ProductEvaluator::kMultKeyMissing);
}

} // namespace
} // namespace Quelt::test
