// Products of ring ciphertexts: encrypt, multiply, decrypt against the
// message products; the tensor product against prime-wise products; longer
// ciphertexts relinearised step by step; aliased outputs; where the
// multiplication key comes from; and the refusals in order.

#include "Quelt/HomEvaluator.hpp"

#include "Quelt/KeyGenerator.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using u128 = unsigned __int128;
using C = std::complex<double>;

// N = 2^10, nine base and quantize primes (50 and 40 bits), gadget rank 3.
const std::shared_ptr<ContextContent> &nineLevelContext() {
    static const auto ctx = makeContext(10, 9, 50, 40, 50, 3);
    return ctx;
}

// About 2^-20 at 40-bit scales. Measured (recorded as test properties): 2^-29.6
// for single products on the custom context, 2^-35 on FX, 2^-23.4 for the
// three-fold product through a four-polynomial ciphertext.
constexpr double kBound = 0x1p-20;

Messages slotProduct(const Messages &a, const Messages &b) {
    Messages out = a;
    for (u64 i = 0; i < out[0].getSize(); ++i)
        out[0][i] = a[0][i] * b[0][i];
    return out;
}

// A secret key, a pack with its multiplication key and an evaluator on it.
struct MultSetup {
    explicit MultSetup(const std::shared_ptr<ContextContent> &ctx)
        : keys((reseed(), ctx)), pack(ctx), evaluator(ctx, pack) {
        KeyGenerator(ctx, keys.key, pack).genMultKey();
        std::mt19937_64 rng(7);
        x = randomMessages(getLogFullSlots(ctx), 1, rng);
        y = randomMessages(getLogFullSlots(ctx), 1, rng);
        z = randomMessages(getLogFullSlots(ctx), 1, rng);
    }
    Ciphertext fresh() const { return Ciphertext(keys.context, false, true); }

    SchemeKeys<EncryptionType::RLWE> keys;
    KeyPack pack;
    HomEvaluator evaluator;
    Messages x, y, z;
};

MultSetup &customSetup() {
    static MultSetup setup(nineLevelContext());
    return setup;
}

// mult, square and multWithoutRescale then rescale against the message
// products, with the level and counter after each call; mult of operands at
// levels 7 and 5 lands at 4.
void runProducts(MultSetup &s, u64 level) {
    const HomEvaluator &ev = s.evaluator;
    const Ciphertext a = s.keys.encrypt(s.x, level);
    const Ciphertext b = s.keys.encrypt(s.y, level);
    const Ciphertext b_low = s.keys.encrypt(s.y, level - 2);
    struct Row {
        std::string name;
        std::function<void(Ciphertext &)> run;
        Messages want;
        u64 level;
        int counter;
    };
    const std::vector<Row> rows = {
        {"mult", [&](Ciphertext &o) { ev.mult(a, b, o); }, slotProduct(s.x, s.y), level - 1, 0},
        {"square", [&](Ciphertext &o) { ev.square(a, o); }, slotProduct(s.x, s.x), level - 1, 0},
        {"multWithoutRescale", [&](Ciphertext &o) { ev.multWithoutRescale(a, b, o); },
         slotProduct(s.x, s.y), level, 1},
        {"multWithoutRescale, rescale",
         [&](Ciphertext &o) {
             ev.multWithoutRescale(a, b, o);
             ev.rescale(o);
         },
         slotProduct(s.x, s.y), level - 1, 0},
        {"mult, higher first", [&](Ciphertext &o) { ev.mult(a, b_low, o); }, slotProduct(s.x, s.y),
         level - 3, 0},
        {"mult, higher second", [&](Ciphertext &o) { ev.mult(b_low, a, o); }, slotProduct(s.y, s.x),
         level - 3, 0},
    };
    double largest = 0.0;
    for (const Row &row : rows) {
        Ciphertext out = s.fresh();
        row.run(out);
        EXPECT_EQ(out.getNumPoly(), 2u) << row.name;
        EXPECT_EQ(out.getLevel(), row.level) << row.name;
        EXPECT_EQ(out.getRescaleCounter(), row.counter) << row.name;
        EXPECT_EQ(out.getLogSlots(), a.getLogSlots()) << row.name;
        const double error = largestSlotError(s.keys.decrypt(out), row.want);
        EXPECT_LT(error, kBound) << row.name;
        largest = std::max(largest, error);
    }
    ::testing::Test::RecordProperty("largest_error_log2", std::to_string(std::log2(largest)));
}

TEST(HomEvaluatorMultTest, ProductsDecryptToMessageProductsCustomDegreeTen) {
    runProducts(customSetup(), 7);
    runProducts(customSetup(), 5);
}

TEST(HomEvaluatorMultTest, ProductsDecryptToMessageProductsFX) {
    static MultSetup setup(fxContext());
    runProducts(setup, 7);
    runProducts(setup, 12);
}

// The two-by-two tensor against residue products computed apart.
TEST(HomEvaluatorMultTest, TensorIsThePrimeWiseProductOfThePolynomials) {
    MultSetup &s = customSetup();
    const auto &ctx = nineLevelContext();
    const Ciphertext a = s.keys.encrypt(s.x, 4);
    const Ciphertext b = s.keys.encrypt(s.y, 4);
    Ciphertext t = s.fresh();
    s.evaluator.tensor(a, b, t);
    ASSERT_EQ(t.getNumPoly(), 3u);
    EXPECT_EQ(t.getLevel(), 4u);
    EXPECT_EQ(t.getRescaleCounter(), 1);
    const u64 n = getDegree(ctx);
    for (u64 i = 0; i <= 4; ++i) {
        const u64 q = primeAt(ctx, i);
        const u64 *ba = a.getPoly(0).getLimb(i), *aa = a.getPoly(1).getLimb(i);
        const u64 *bb = b.getPoly(0).getLimb(i), *ab = b.getPoly(1).getLimb(i);
        for (u64 j = 0; j < n; ++j) {
            const u128 cross = (u128{aa[j]} * bb[j] % q + u128{ba[j]} * ab[j] % q) % q;
            ASSERT_EQ(t.getPoly(0).getLimb(i)[j], static_cast<u64>(u128{ba[j]} * bb[j] % q));
            ASSERT_EQ(t.getPoly(1).getLimb(i)[j], static_cast<u64>(cross));
            ASSERT_EQ(t.getPoly(2).getLimb(i)[j], static_cast<u64>(u128{aa[j]} * ab[j] % q));
        }
    }
}

// (x y) z through a four-polynomial ciphertext: two relinearisations, two
// rescalings.
TEST(HomEvaluatorMultTest, LongerCiphertextsRelineariseStepByStep) {
    MultSetup &s = customSetup();
    const HomEvaluator &ev = s.evaluator;
    const Ciphertext a = s.keys.encrypt(s.x, 6);
    const Ciphertext b = s.keys.encrypt(s.y, 6);
    const Ciphertext c = s.keys.encrypt(s.z, 6);
    Ciphertext three = s.fresh(), four = s.fresh();
    ev.tensor(a, b, three);
    ev.tensor(c, three, four);
    ASSERT_EQ(four.getNumPoly(), 4u);
    EXPECT_EQ(four.getRescaleCounter(), 2);
    Ciphertext once = s.fresh();
    ev.relinearize(four, once);
    ASSERT_EQ(once.getNumPoly(), 3u);
    EXPECT_EQ(once.getRescaleCounter(), 2);
    EXPECT_EQ(ciphertextWords(once)[2], ciphertextWords(four)[2]); // polynomial 0 copied
    // The same in place and into an output of another shape.
    Ciphertext in_place = four;
    ev.relinearize(in_place, in_place);
    EXPECT_EQ(ciphertextWords(in_place), ciphertextWords(once));
    Ciphertext twice = s.fresh();
    ev.relinearize(once, twice);
    ASSERT_EQ(twice.getNumPoly(), 2u);
    ev.rescale(twice);
    ev.rescale(twice);
    EXPECT_EQ(twice.getLevel(), 4u);
    EXPECT_EQ(twice.getRescaleCounter(), 0);
    const double error =
        largestSlotError(s.keys.decrypt(twice), slotProduct(slotProduct(s.x, s.y), s.z));
    EXPECT_LT(error, kBound);
    ::testing::Test::RecordProperty("largest_error_log2", std::to_string(std::log2(error)));
}

TEST(HomEvaluatorMultTest, AliasedOutputsGiveTheFreshResults) {
    MultSetup &s = customSetup();
    const HomEvaluator &ev = s.evaluator;
    const Ciphertext a = s.keys.encrypt(s.x, 5);
    const Ciphertext b = s.keys.encrypt(s.y, 5);
    const Ciphertext b_high = s.keys.encrypt(s.y, 7);
    Ciphertext square = s.fresh(), product = s.fresh(), aligned = s.fresh(), t = s.fresh();
    ev.square(a, square);
    ev.mult(a, b, product);
    ev.mult(a, b_high, aligned);
    ev.tensor(a, b, t);

    Ciphertext self = a;
    ev.mult(self, self, self);
    EXPECT_EQ(ciphertextWords(self), ciphertextWords(square));
    Ciphertext first = a;
    ev.mult(first, b, first);
    EXPECT_EQ(ciphertextWords(first), ciphertextWords(product));
    Ciphertext second = b;
    ev.mult(a, second, second);
    EXPECT_EQ(ciphertextWords(second), ciphertextWords(product));
    Ciphertext high = b_high;
    ev.mult(a, high, high);
    EXPECT_EQ(ciphertextWords(high), ciphertextWords(aligned));
    Ciphertext squared = a;
    ev.square(squared, squared);
    EXPECT_EQ(ciphertextWords(squared), ciphertextWords(square));
    Ciphertext tensored = a;
    ev.tensor(tensored, b, tensored);
    EXPECT_EQ(ciphertextWords(tensored), ciphertextWords(t));
}

// ---- Where the key comes from ------------------------------------------------------

TEST(HomEvaluatorMultTest, KeyFromTheContextAloneADirectoryOrASharedPack) {
    MultSetup &s = customSetup();
    const auto &ctx = nineLevelContext();
    const Ciphertext a = s.keys.encrypt(s.x, 3);
    const Ciphertext b = s.keys.encrypt(s.y, 3);
    Ciphertext want = s.fresh();
    s.evaluator.mult(a, b, want);

    // Without a key: additions and rescalings work, products report the key.
    const HomEvaluator keyless(ctx);
    Ciphertext out = s.fresh();
    keyless.add(a, b, out);
    keyless.multWithoutRescale(a, C(0.5), out);
    keyless.rescale(out);
    EXPECT_EQ(out.getLevel(), 2u);
    const Ciphertext before = out;
    expectThrowsMessage([&] { keyless.mult(a, b, out); }, "Failed to load the multiplication key");
    EXPECT_EQ(ciphertextWords(out), ciphertextWords(before));

    // From a key directory: found at construction.
    KeyDirectory dir("evaluator_mult_product");
    dir.writeKeyFile("MultKey.bin", storedForm(*s.pack.getMultKey()));
    const HomEvaluatorImpl from_dir(ctx, dir.dir());
    EXPECT_TRUE(from_dir.getKeyPack().isMultKeyLoaded());
    Ciphertext via_dir = s.fresh();
    from_dir.products().mult(a, b, via_dir);
    EXPECT_EQ(ciphertextWords(via_dir), ciphertextWords(want));

    // Copies of one pack: a key generated after construction serves both.
    const KeyPack pack(ctx);
    const HomEvaluator first(ctx, pack), second(ctx, KeyPack(pack));
    KeyGenerator(ctx, s.keys.key, pack).genMultKey();
    Ciphertext one = s.fresh(), two = s.fresh();
    first.mult(a, b, one);
    second.mult(a, b, two);
    EXPECT_EQ(ciphertextWords(one), ciphertextWords(two));
    EXPECT_LT(largestSlotError(s.keys.decrypt(one), slotProduct(s.x, s.y)), kBound);
}

// ---- Refusals ----------------------------------------------------------------------

TEST(HomEvaluatorMultTest, RefusalsInOrder) {
    MultSetup &s = customSetup();
    const HomEvaluator &ev = s.evaluator;
    const HomEvaluator keyless(nineLevelContext());
    const Ciphertext a3 = s.keys.encrypt(s.x, 3), b3 = s.keys.encrypt(s.y, 3);
    const Ciphertext a2 = s.keys.encrypt(s.x, 2), a0 = s.keys.encrypt(s.x, 0);
    const Ciphertext counted = s.keys.encrypt(s.x, 2, 1);
    Ciphertext coeff = a2;
    coeff.setEncodingType(EncodingType::COEFFICIENT);
    Ciphertext coeff3 = a3;
    coeff3.setEncodingType(EncodingType::COEFFICIENT);
    Ciphertext fewer_slots = a3;
    fewer_slots.setLogSlots(3);
    Ciphertext three = s.fresh();
    ev.tensor(a3, b3, three);
    Ciphertext three_coeff = three;
    three_coeff.setEncodingType(EncodingType::COEFFICIENT);
    Ciphertext three_zero = three; // three polynomials, counter 0
    three_zero.setRescaleCounter(0);

    const std::string slots_msg = "The operands have to encode the message on its slots";
    const std::string levels = "Operands have different levels.";
    const std::string log_slots = "Two operands have different logSlots";
    const std::string zero = "The level of the operand is zero";
    const std::string counters = "The Operands should have rescale counter zero";
    const std::string size = "Size > 2 is not supported yet";
    const std::string key = "Failed to load the multiplication key";
    struct Case {
        std::string name;
        std::function<void(Ciphertext &)> call;
        std::string message;
    };
    const std::vector<Case> cases = {
        // tensor
        {"tensor encoding before levels", [&](Ciphertext &o) { ev.tensor(coeff, a3, o); },
         slots_msg},
        {"tensor levels before slots", [&](Ciphertext &o) { ev.tensor(a2, fewer_slots, o); },
         levels},
        {"tensor log slots", [&](Ciphertext &o) { ev.tensor(a3, fewer_slots, o); }, log_slots},
        {"tensor counter above the level", [&](Ciphertext &o) { ev.tensor(counted, counted, o); },
         "Rescale counter should be less than or equal to the level"},
        // relinearize
        {"relinearize encoding", [&](Ciphertext &o) { ev.relinearize(three_coeff, o); },
         "The operand have to encode the message on its slots"},
        {"relinearize two polynomials", [&](Ciphertext &o) { ev.relinearize(a3, o); },
         "[relinearize] the length of the input ciphertext should be >= 3."},
        {"relinearize without key", [&](Ciphertext &o) { keyless.relinearize(three, o); }, key},
        // multWithoutRescale
        {"size before encoding", [&](Ciphertext &o) { ev.multWithoutRescale(three_coeff, a3, o); },
         size},
        {"encoding before levels", [&](Ciphertext &o) { ev.multWithoutRescale(a3, coeff, o); },
         slots_msg},
        {"levels before level 0", [&](Ciphertext &o) { ev.multWithoutRescale(a0, a3, o); }, levels},
        {"level 0", [&](Ciphertext &o) { ev.multWithoutRescale(a0, a0, o); }, zero},
        {"counters", [&](Ciphertext &o) { ev.multWithoutRescale(counted, a2, o); }, counters},
        {"log slots", [&](Ciphertext &o) { ev.multWithoutRescale(a3, fewer_slots, o); }, log_slots},
        {"multWithoutRescale without key",
         [&](Ciphertext &o) { keyless.multWithoutRescale(a3, b3, o); }, key},
        // mult
        {"mult encoding at different levels", [&](Ciphertext &o) { ev.mult(a3, coeff, o); },
         slots_msg},
        {"mult encoding of the higher", [&](Ciphertext &o) { ev.mult(coeff3, a2, o); }, slots_msg},
        {"mult level 0 before counters", [&](Ciphertext &o) { ev.mult(a0, counted, o); }, zero},
        {"mult counters", [&](Ciphertext &o) { ev.mult(a3, counted, o); }, counters},
        {"mult three polynomials", [&](Ciphertext &o) { ev.mult(three_zero, b3, o); }, size},
        {"mult log slots", [&](Ciphertext &o) { ev.mult(a2, fewer_slots, o); }, log_slots},
        {"mult without key", [&](Ciphertext &o) { keyless.mult(a3, a2, o); }, key},
        // square
        {"square counter", [&](Ciphertext &o) { ev.square(counted, o); }, counters},
        {"square three polynomials", [&](Ciphertext &o) { ev.square(three_zero, o); }, size},
        {"square level 0", [&](Ciphertext &o) { ev.square(a0, o); }, zero},
    };
    for (const Case &c : cases) {
        Ciphertext out = b3;
        SCOPED_TRACE(c.name);
        expectThrowsMessage([&] { c.call(out); }, c.message);
        EXPECT_EQ(ciphertextWords(out), ciphertextWords(b3));
    }
}

} // namespace
} // namespace Quelt::test
