// The key switcher: the switching identity with generated keys at several
// levels and gadget ranks, the shape of digits and results, the digit count
// of a level, and every refusal in its order.

#include "eval/KeySwitcher.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "arith/PrimeModuliInnerProduct.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"
#include "keys/RingSwitchKeyAccess.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeySwitchReference.hpp"
#include "support/KeyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

// Degree 2^10, four base and quantize primes (50 and 40 bits), gadget rank 1
// (one digit of four primes, four temporary primes), 2 (two digits of two
// primes, two temporary primes) and 5, above the chain length (four digits of
// one prime, one temporary prime; the key's fifth digit is never used).
std::shared_ptr<ContextContent> rankOneContext() {
    static const auto ctx = makeContext(10, 4, 50, 40, 50, 1);
    return ctx;
}
std::shared_ptr<ContextContent> wideContext() {
    static const auto ctx = makeContext(10, 4, 50, 40, 50, 5);
    return ctx;
}

// A polynomial at `level` whose residues depend on the seed, in NTT form
// (the residues are taken as NTT slots) or in coefficient form.
Polynomial somePolynomial(const Context &ctx, u64 level, bool ntt, u64 seed) {
    Polynomial p(ctx, false, ntt);
    p.setLevel(level);
    QueltTest::fillResidues(p, seed);
    return p;
}

Rows rowsOfCoefficients(const Coefficients &c, const std::vector<u64> &primes) {
    Rows rows;
    for (u64 q : primes) {
        std::vector<u64> row(c.size());
        for (std::size_t j = 0; j < c.size(); ++j)
            row[j] = signedResidueRef(c[j], q);
        rows.push_back(std::move(row));
    }
    return rows;
}

Polynomial polynomialOfRows(const Context &ctx, const Rows &rows) {
    Polynomial p(ctx, false, false);
    p.setLevel(rows.size() - 1);
    for (u64 i = 0; i < rows.size(); ++i)
        std::copy(rows[i].begin(), rows[i].end(), p.getLimb(i));
    return p;
}

// The bound on the error of one key switch of a level-l polynomial with a key
// of error at most kKeyErrorBound (N the degree, alpha primes per digit, Q_j
// the product of digit j's primes, D the digits the level reaches, K
// temporary primes with product P, s the target secret):
//   N kKeyErrorBound (alpha / 2) sum_{j < D} Q_j / P    (digits times key errors, over P)
//   + (K + 1) / 2 (1 + ||s||_1)                         (rounding of the division by P)
// A digit is a sum of alpha centred residues times Q_j / q_m, so below
// alpha Q_j / 2; the fast conversion modulo P is off by at most K / 2 times P.
double switchErrorBound(const Context &ctx, u64 level, const Coefficients &s) {
    const std::vector<u64> primes = getPrimeList(ctx);
    const u64 L = getLength(ctx);
    const u64 K = getNumTP(ctx);
    const u64 alpha = (L + getGadgetRank(ctx) - 1) / getGadgetRank(ctx);
    const u64 digits = level / alpha + 1;
    long double p = 1;
    for (u64 m = 0; m < K; ++m)
        p *= static_cast<long double>(primes[L + m]);
    long double digit_sum = 0;
    for (u64 j = 0; j < digits; ++j) {
        long double q = 1;
        for (u64 i = j * alpha; i < std::min((j + 1) * alpha, L); ++i)
            q *= static_cast<long double>(primes[i]);
        digit_sum += q;
    }
    long double norm = 0;
    for (std::int64_t c : s)
        norm += static_cast<long double>(c < 0 ? -c : c);
    const long double n = static_cast<long double>(getDegree(ctx));
    return static_cast<double>(n * kKeyErrorBound * static_cast<long double>(alpha) / 2 *
                                   digit_sum / p +
                               static_cast<long double>(K + 1) / 2 * (1 + norm));
}

// Switches `in` with the key and checks the digits' and the result's shapes
// and that modDown(result) decrypts under `to` to in x `from` up to the bound,
// which must stay far below 2^40, the smallest scale of these contexts.
void expectSwitchIdentity(const Context &ctx, const KeySwitcher &ks, EvaluationKey &key,
                          const Polynomial &in, const Coefficients &from, const Coefficients &to) {
    const u64 level = in.getLevel();
    std::vector<Polynomial> digits;
    ks.modUpPQ(in, digits);
    ASSERT_EQ(digits.size(), ks.getFastBaseConv().getNumDigits(level));
    for (const Polynomial &digit : digits) {
        EXPECT_EQ(digit.getLevel(), level);
        EXPECT_TRUE(digit.isModUp() && digit.isNTT());
    }
    const Ciphertext switched = ks.multEvalKey(digits, key);
    ASSERT_EQ(switched.getNumPoly(), 2u);
    EXPECT_EQ(switched.getLevel(), level);
    EXPECT_TRUE(switched.isModUp());
    EXPECT_TRUE(switched.getPoly(0).isNTT() && switched.getPoly(1).isNTT());

    PolynomialVector down(ctx, 2, false, true);
    ks.getFastBaseConv().modDown(switched.getPolyVector(), down, true);
    const std::vector<u64> primes = primesUpTo(ctx, level);
    const Rows body = coefficientRows(ctx, down.getPoly(0), level);
    const Rows mask = coefficientRows(ctx, down.getPoly(1), level);
    const Rows decrypted =
        addRows(body, ringMulRows(mask, rowsOfCoefficients(to, primes), primes), primes);
    const Rows expected =
        ringMulRows(coefficientRows(ctx, in, level), rowsOfCoefficients(from, primes), primes);
    const double bound = switchErrorBound(ctx, level, to);
    EXPECT_LT(bound, std::ldexp(1.0, 30));
    expectSmallDifference(ctx, polynomialOfRows(ctx, decrypted), polynomialOfRows(ctx, expected),
                          level, static_cast<std::int64_t>(std::ceil(bound)));
}

// The three key kinds of a single-secret context, each switched at level 0,
// inside a partial digit and at the top.
void expectIdentities(const Context &ctx) {
    const RlweKey sk(ctx);
    const RlweKey other(ctx);
    const KeyPack pack(ctx);
    const KeyGenerator gen(ctx, sk, pack);
    gen.genMultKey();
    gen.genLeftRotKey(1);
    const RingSwitchKey ring = gen.genSwitchKey(other, sk);
    const KeySwitcher ks(ctx);
    const u64 n = getDegree(ctx);
    const Coefficients s = secretCoefficients(sk);

    struct Case {
        const char *name;
        EvaluationKey &key;
        Coefficients from;
    };
    const std::vector<Case> cases = {
        {"multiplication", *pack.getMultKey(), negacyclicSquare(s)},
        {"left rotation 1", *pack.getLeftRotKey(1, 0), automorphism(s, rotationExponent(n, 1))},
        {"switch between secrets", detail::RingSwitchKeyAccess::key(ring),
         secretCoefficients(other)},
    };
    const u64 top = getLength(ctx) - 1;
    // The first prime of the second digit, or below the top of a single digit.
    const u64 alpha = ks.getFastBaseConv().getPrimesPerDigit();
    const u64 partial = alpha < top ? alpha : top - 1;
    for (const Case &c : cases)
        for (u64 level : {u64{0}, partial, top}) {
            SCOPED_TRACE(std::string(c.name) + " at level " + std::to_string(level));
            expectSwitchIdentity(ctx, ks, c.key, somePolynomial(ctx, level, true, level + 7),
                                 c.from, s);
        }
}

} // namespace

TEST(KeySwitcherIdentityTest, GadgetRankOne) { expectIdentities(rankOneContext()); }
TEST(KeySwitcherIdentityTest, GadgetRankTwo) { expectIdentities(degreeTenContext()); }
TEST(KeySwitcherIdentityTest, GadgetRankAboveChainLength) { expectIdentities(wideContext()); }
TEST(KeySwitcherIdentityTest, FX) { expectIdentities(fxContext()); }

TEST(KeySwitcherTest, CoefficientAndNttInputsGiveTheSameDigits) {
    const Context &ctx = fxContext();
    const KeySwitcher ks(ctx);
    const u64 L = getLength(ctx);
    const u64 all = L + getNumTP(ctx);
    for (u64 level : {u64{0}, u64{7}, L - 1}) {
        SCOPED_TRACE(level);
        const Polynomial ntt = somePolynomial(ctx, level, true, 3);
        Polynomial coefficients = ntt;
        ctx->getPrimeModuli().backwardNTT<OutputModulusBoundValidator, 1>(
            coefficients, coefficients, {0, level + 1});
        ASSERT_FALSE(coefficients.isNTT());
        std::vector<Polynomial> a, b;
        ks.modUpPQ(ntt, a);
        ks.modUpPQ(coefficients, b);
        ASSERT_EQ(a.size(), b.size());
        for (u64 d = 0; d < a.size(); ++d) {
            EXPECT_TRUE(b[d].isNTT());
            for (u64 i = 0; i < all; ++i)
                if (i <= level || i >= L) {
                    EXPECT_TRUE(std::equal(a[d].getLimb(i), a[d].getLimb(i) + getDegree(ctx),
                                           b[d].getLimb(i)))
                        << "digit " << d << ", limb " << i;
                }
        }
    }
}

TEST(KeySwitcherTest, DigitCountOfALevel) {
    // FX: five temporary primes, gadget rank 5; the wide context: one
    // temporary prime, gadget rank 5, four levels.
    const struct {
        Context ctx;
        u64 level;
        u64 expected;
    } rows[] = {{fxContext(), 0, 1},   {fxContext(), 4, 1},     {fxContext(), 5, 2},
                {fxContext(), 24, 5},  {wideContext(), 0, 1},   {wideContext(), 3, 4},
                {wideContext(), 9, 5}, {rankOneContext(), 3, 1}};
    for (const auto &row : rows)
        EXPECT_EQ(utils::dnum(row.ctx, row.level), row.expected) << row.level;
    expectThrowsMessage([] { utils::dnum(Context(), 0); }, kNullContextMessage);
}

TEST(KeySwitcherTest, CommonDevice) {
    EXPECT_STREQ(utils::kEmptyOperandMessage, "Operand is empty so device is not defined");
    EXPECT_STREQ(utils::kOperandDevicesMessage, "Elements of operand are in different devices.");
    const Context &ctx = fxContext();
    std::vector<Polynomial> v;
    expectThrowsMessage([&] { utils::getCommonDeviceOrThrow(v); }, utils::kEmptyOperandMessage);
    v.emplace_back(ctx, false, true);
    v.emplace_back(ctx, false, true);
    EXPECT_EQ(utils::getCommonDeviceOrThrow(v), kHostDevice);
    v[1].to(Device{0, 1});
    expectThrowsMessage([&] { utils::getCommonDeviceOrThrow(v); }, utils::kOperandDevicesMessage);
}

TEST(KeySwitcherTest, RefusalsInOrder) {
    const Context &ctx = fxContext();
    const KeySwitcher ks(ctx);
    const Device other_host{0, 1};
    std::vector<Polynomial> digits;
    ks.modUpPQ(somePolynomial(ctx, 6, true, 1), digits);
    ASSERT_EQ(digits.size(), 2u);

    // No digit: refused before the key is looked at (this key holds nothing).
    EvaluationKey empty;
    expectThrowsMessage([&] { ks.multEvalKey({}, empty); }, utils::kEmptyOperandMessage);
    expectThrowsMessage([&] { ks.multEvalKeyMSRLWE({}, empty, 0); }, utils::kEmptyOperandMessage);

    // Digits on host ids 0 and 1.
    std::vector<Polynomial> mixed = digits;
    mixed[1].to(other_host);
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 5);
    expectThrowsMessage([&] { ks.multEvalKey(mixed, *key); }, utils::kOperandDevicesMessage);
    expectThrowsMessage([&] { ks.multEvalKeyMSRLWE(mixed, *key, 0); },
                        utils::kOperandDevicesMessage);

    // Keys that cannot serve the digits.
    expectThrowsMessage([&] { ks.multEvalKey(digits, empty); }, KeySwitcher::kKeyDigitsMessage);
    auto cut = makeEmptyRotKey(ctx, 1, 1);
    fillKey(*cut, 6);
    expectThrowsMessage([&] { ks.multEvalKey(digits, *cut); }, KeySwitcher::kKeyDigitsMessage);
    std::vector<Polynomial> uneven = digits;
    uneven[1].setLevel(5);
    expectThrowsMessage([&] { ks.multEvalKey(uneven, *key); }, KeySwitcher::kDigitShapeMessage);

    // Inputs that do not fit the context.
    std::vector<Polynomial> untouched = digits;
    expectThrowsMessage([&] { ks.modUpPQ(Polynomial(degreeTenContext(), false, true), untouched); },
                        KeySwitcher::kInputShapeMessage);
    EXPECT_EQ(QueltTest::wordsOf(untouched[0]), QueltTest::wordsOf(digits[0]));
}

// The multi-secret result: body j is the two-output inner product of the
// digits with secret j's block of body parts, the mask the one with the mask
// parts; a count below the context's secrets keeps the first bodies.
TEST(KeySwitcherTest, MultiSecretInnerProductLaysOutBodiesThenTheMask) {
    const Context ctx = twoSecretContext();
    const KeySwitcher ks(ctx);
    const u64 level = 2;
    std::vector<Polynomial> digits;
    ks.modUpPQ(somePolynomial(ctx, level, true, 2), digits);
    EvaluationKey key(ctx, 'z', 0, 0);
    fillKey(key, 9);
    // The key lives on host id 1 only: the call copies it to the digits'
    // device first.
    const Device other_host{0, 1};
    key.removeExcept(other_host);
    EXPECT_THROW(key.getAxIter(kHostDevice), std::out_of_range);
    const auto all = ks.multEvalKeyMSRLWE(digits, key, 0);
    EXPECT_NO_THROW(key.getAxIter(kHostDevice));
    EXPECT_NO_THROW(key.getBxIter(kHostDevice));
    const auto first = ks.multEvalKeyMSRLWE(digits, key, 1);
    ASSERT_EQ(all.getNumPoly(), 3u);
    ASSERT_EQ(first.getNumPoly(), 2u);
    EXPECT_EQ(all.getLevel(), level);
    EXPECT_TRUE(all.getPoly(0).isModUp());
    const u64 gadget = getGadgetRank(ctx);
    for (u64 j = 0; j < 2; ++j) {
        SCOPED_TRACE(j);
        Polynomial mask(ctx, true, true), body(ctx, true, true);
        mask.setLevel(level);
        body.setLevel(level);
        ctx->getPrimeModuli().innerProduct(
            makePolyIter(digits.cbegin()), makePolyIter(digits.cend()),
            makePolyIter(key.getAxIter(kHostDevice)),
            makePolyIter(key.getBxIter(kHostDevice) + static_cast<std::ptrdiff_t>(j * gadget)),
            mask, body);
        std::vector<u64> walk;
        for (u64 i = 0; i <= level; ++i)
            walk.push_back(i);
        for (u64 i = getLength(ctx); i < body.getData().size() / getDegree(ctx); ++i)
            walk.push_back(i);
        ASSERT_GT(walk.size(), level + 1);
        for (u64 i : walk) {
            const auto limb = [&](const Polynomial &p) {
                return std::vector<u64>(p.getLimb(i), p.getLimb(i) + getDegree(ctx));
            };
            EXPECT_EQ(limb(all.getPoly(j)), limb(body)) << "limb " << i;
            EXPECT_EQ(limb(all.getPoly(2)), limb(mask)) << "limb " << i;
            if (j == 0) {
                EXPECT_EQ(limb(first.getPoly(0)), limb(body)) << "limb " << i;
                EXPECT_EQ(limb(first.getPoly(1)), limb(mask)) << "limb " << i;
            }
        }
    }
    // More secrets than the context has, or than the key holds (a key of the
    // one-secret context of the same primes).
    expectThrowsMessage([&] { ks.multEvalKeyMSRLWE(digits, key, 3); },
                        KeySwitcher::kSecretCountMessage);
    expectThrowsMessage([&] { ks.multEvalKeyMSRLWE(digits, key, ~u64{0}); },
                        KeySwitcher::kSecretCountMessage);
    auto single = makeEmptyMultKey(degree64ThreePrimes());
    fillKey(*single, 10);
    expectThrowsMessage([&] { ks.multEvalKeyMSRLWE(digits, *single, 0); },
                        KeySwitcher::kKeySecretsMessage);
}

TEST(KeySwitcherTest, ModulusPackingKeySwitchHasNoHostKernel) {
    const Context &ctx = fxContext();
    const KeySwitcher ks(ctx);
    const ModPackKeyBundle bundle(ctx, 0);
    const Polynomial p(ctx, false, true);
    Polynomial elsewhere(ctx, false, true);
    elsewhere.to(Device{0, 1});
    expectThrowsMessage([&] { ks.modPackKeySwitch({}, bundle); }, utils::kEmptyOperandMessage);
    expectThrowsMessage(
        [&] {
            ks.modPackKeySwitch({&p, &elsewhere}, bundle);
        },
        utils::kOperandDevicesMessage);
    expectThrowsMessage([&] { ks.modPackKeySwitch({&p}, bundle); },
                        "Cannot support the function 'modPackKeySwitch' in the current build "
                        "configuration");
}

TEST(KeySwitcherTest, FastPathsMatchTheLandedPiecesWordForWord) {
    // Gadget ranks 2 (two primes per digit) and 5 (one prime per digit, the
    // path without a digit constant), FX (five primes per digit).
    for (const Context &ctx : {degreeTenContext(), wideContext(), fxContext()}) {
        const KeySwitcher ks(ctx);
        auto key = makeEmptyMultKey(ctx);
        fillKey(*key, 11);
        std::vector<Polynomial> digits;
        Polynomial body(ctx, false, true), mask(ctx, false, true);
        for (u64 level : {getLength(ctx) - 1, u64{0}, u64{2}})
            for (bool ntt : {true, false}) {
                SCOPED_TRACE(testing::Message() << "N " << getDegree(ctx) << ", level " << level
                                                << (ntt ? ", NTT" : ", coefficients"));
                const Polynomial in = somePolynomial(ctx, level, ntt, level * 2 + ntt);
                const ReferenceSwitch want = referenceSwitch(ctx, in, *key);
                // Into a reused digit vector (after the first round) and a
                // fresh one.
                std::vector<Polynomial> fresh;
                ks.modUpPQ(in, digits);
                ks.modUpPQ(in, fresh);
                ASSERT_EQ(digits.size(), want.digits.size());
                ASSERT_EQ(fresh.size(), want.digits.size());
                for (u64 d = 0; d < digits.size(); ++d) {
                    EXPECT_EQ(usedWords(digits[d]), usedWords(want.digits[d])) << "digit " << d;
                    EXPECT_EQ(usedWords(fresh[d]), usedWords(want.digits[d])) << "digit " << d;
                }
                PolynomialVector down(ctx, 2, false, true);
                ks.getFastBaseConv().modDown(ks.multEvalKey(digits, *key).getPolyVector(), down,
                                             true);
                ks.keySwitch(in, *key, body, mask);
                for (const Polynomial *p : {&down.getPoly(0), &body}) {
                    EXPECT_EQ(p->getLevel(), level);
                    EXPECT_TRUE(p->isNTT() && !p->isModUp());
                    EXPECT_EQ(QueltTest::wordsOf(*p), QueltTest::wordsOf(want.down[0]));
                }
                for (const Polynomial *p : {&down.getPoly(1), &mask})
                    EXPECT_EQ(QueltTest::wordsOf(*p), QueltTest::wordsOf(want.down[1]));
            }
        // The input may be one of the outputs.
        const Polynomial in = somePolynomial(ctx, 1, true, 99);
        const ReferenceSwitch want = referenceSwitch(ctx, in, *key);
        Polynomial both = in;
        ks.keySwitch(both, *key, both, mask);
        EXPECT_EQ(QueltTest::wordsOf(both), QueltTest::wordsOf(want.down[0]));
        EXPECT_EQ(QueltTest::wordsOf(mask), QueltTest::wordsOf(want.down[1]));
    }
}

TEST(KeySwitcherTest, SwitchOfRaisedDigitsEqualsTheWholeSwitch) {
    // Through no permutation, and through the automorphism X -> X^5: the
    // permuted digits are those of the automorphism's image.
    for (const Context &ctx : {degreeTenContext(), fxContext()}) {
        const KeySwitcher ks(ctx);
        const PrimeModuli &chain = ctx->getPrimeModuli();
        auto key = makeEmptyMultKey(ctx);
        fillKey(*key, 13);
        for (u64 level : {getLength(ctx) - 1, u64{0}, u64{3}}) {
            SCOPED_TRACE(testing::Message() << "N " << getDegree(ctx) << ", level " << level);
            const Polynomial in = somePolynomial(ctx, level, true, level + 40);
            Polynomial image = Polynomial::shapedLike(in);
            chain.frobeniusMapInNTT<false>(in, 5, image);
            std::vector<Polynomial> digits;
            ks.modUpPQ(in, digits);
            Polynomial body(ctx, false, true), mask(ctx, false, true);
            Polynomial want_body(ctx, false, true), want_mask(ctx, false, true);
            ks.keySwitchDigits(digits, nullptr, *key, body, mask);
            ks.keySwitch(in, *key, want_body, want_mask);
            EXPECT_EQ(QueltTest::wordsOf(body), QueltTest::wordsOf(want_body));
            EXPECT_EQ(QueltTest::wordsOf(mask), QueltTest::wordsOf(want_mask));
            ks.keySwitchDigits(digits, chain.frobeniusTable(5)->data(), *key, body, mask);
            ks.keySwitch(image, *key, want_body, want_mask);
            EXPECT_EQ(QueltTest::wordsOf(body), QueltTest::wordsOf(want_body));
            EXPECT_EQ(QueltTest::wordsOf(mask), QueltTest::wordsOf(want_mask));
        }
    }
}

TEST(KeySwitcherTest, SwitchOfRaisedDigitsRefusals) {
    const Context &ctx = fxContext();
    const KeySwitcher ks(ctx);
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 5);
    std::vector<Polynomial> digits, low;
    ks.modUpPQ(somePolynomial(ctx, 6, true, 1), digits);
    ks.modUpPQ(somePolynomial(ctx, 0, true, 2), low);
    Polynomial body(ctx, false, true), mask(ctx, false, true);
    const std::vector<u64> before = QueltTest::wordsOf(body);
    // No digit, digits of two levels, one digit too many.
    std::vector<Polynomial> mixed = digits;
    mixed.back() = low.front();
    std::vector<Polynomial> extra = digits;
    extra.push_back(digits.front());
    for (const std::vector<Polynomial> &bad : {std::vector<Polynomial>(), mixed, extra})
        expectThrowsMessage([&] { ks.keySwitchDigits(bad, nullptr, *key, body, mask); },
                            KeySwitcher::kDigitShapeMessage);
    expectThrowsMessage([&] { ks.keySwitchDigits(digits, nullptr, *key, body, body); },
                        KeySwitcher::kSameOutputMessage);
    expectThrowsMessage([&] { ks.keySwitchDigits(digits, nullptr, *key, digits[0], mask); },
                        KeySwitcher::kSameOutputMessage);
    auto cut = makeEmptyRotKey(ctx, 1, 1);
    fillKey(*cut, 6);
    expectThrowsMessage([&] { ks.keySwitchDigits(digits, nullptr, *cut, body, mask); },
                        KeySwitcher::kKeyDigitsMessage);
    EXPECT_EQ(QueltTest::wordsOf(body), before);
}

TEST(KeySwitcherTest, WholeSwitchRefusals) {
    const Context &ctx = fxContext();
    const KeySwitcher ks(ctx);
    const Polynomial in = somePolynomial(ctx, 6, true, 1);
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 5);
    Polynomial body(ctx, false, true), mask(ctx, false, true);
    const std::vector<u64> before = QueltTest::wordsOf(body);
    expectThrowsMessage(
        [&] { ks.keySwitch(Polynomial(degreeTenContext(), false, true), *key, body, mask); },
        KeySwitcher::kInputShapeMessage);
    expectThrowsMessage([&] { ks.keySwitch(in, *key, body, body); },
                        KeySwitcher::kSameOutputMessage);
    auto cut = makeEmptyRotKey(ctx, 1, 1);
    fillKey(*cut, 6);
    expectThrowsMessage([&] { ks.keySwitch(in, *cut, body, mask); },
                        KeySwitcher::kKeyDigitsMessage);
    auto other = makeEmptyMultKey(degreeTenContext());
    fillKey(*other, 7);
    expectThrowsMessage([&] { ks.keySwitch(in, *other, body, mask); },
                        KeySwitcher::kKeyShapeMessage);
    EvaluationKey empty;
    expectThrowsMessage([&] { ks.keySwitch(in, empty, body, mask); },
                        KeySwitcher::kKeyDigitsMessage);
    // No output was reshaped or written.
    EXPECT_EQ(body.getLevel(), getLength(ctx) - 1);
    EXPECT_EQ(QueltTest::wordsOf(body), before);
}

// The switch fused with the addition of two polynomials and the rescale:
// word for word the switch, the additions and rescaleTwo made one after the
// other, with four, two, one and five temporary primes.
TEST(KeySwitcherTest, FusedRescaleEqualsSwitchAddAndRescale) {
    for (const Context &ctx : {rankOneContext(), degreeTenContext(), wideContext(), fxContext()}) {
        const KeySwitcher ks(ctx);
        const PrimeModuli &chain = ctx->getPrimeModuli();
        auto key = makeEmptyMultKey(ctx);
        fillKey(*key, 17);
        Polynomial body(ctx, false, true), mask(ctx, false, true);
        for (u64 level : {getLength(ctx) - 1, u64{1}, u64{2}})
            for (bool ntt : {true, false}) {
                SCOPED_TRACE(testing::Message() << "N " << getDegree(ctx) << ", level " << level
                                                << (ntt ? ", NTT" : ", coefficients"));
                const Polynomial in = somePolynomial(ctx, level, ntt, level * 3 + ntt);
                const Polynomial add_body = somePolynomial(ctx, level, true, level + 50);
                const Polynomial add_mask = somePolynomial(ctx, level, true, level + 70);
                Polynomial want_body(ctx, false, true), want_mask(ctx, false, true);
                ks.keySwitch(in, *key, want_body, want_mask);
                chain.add(add_body, want_body, want_body);
                chain.add(add_mask, want_mask, want_mask);
                chain.rescaleTwo(want_body, want_mask);
                ks.keySwitchRescale(in, *key, add_body, add_mask, body, mask);
                EXPECT_EQ(body.getLevel(), level - 1);
                EXPECT_TRUE(body.isNTT() && mask.isNTT() && !body.isModUp());
                EXPECT_EQ(QueltTest::wordsOf(body), QueltTest::wordsOf(want_body));
                EXPECT_EQ(QueltTest::wordsOf(mask), QueltTest::wordsOf(want_mask));
                // The outputs may be the operands.
                Polynomial in_out = in, add_out = add_mask;
                ks.keySwitchRescale(in_out, *key, add_body, add_out, in_out, add_out);
                EXPECT_EQ(QueltTest::wordsOf(in_out), QueltTest::wordsOf(want_body));
                EXPECT_EQ(QueltTest::wordsOf(add_out), QueltTest::wordsOf(want_mask));
            }
    }
}

TEST(KeySwitcherTest, FusedRescaleRefusals) {
    const Context &ctx = fxContext();
    const KeySwitcher ks(ctx);
    const Polynomial in = somePolynomial(ctx, 6, true, 1);
    const Polynomial add = somePolynomial(ctx, 6, true, 2);
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 5);
    Polynomial body(ctx, false, true), mask(ctx, false, true);
    const std::vector<u64> before = QueltTest::wordsOf(body);
    const Polynomial bottom = somePolynomial(ctx, 0, true, 3);
    const Polynomial lower = somePolynomial(ctx, 5, true, 4);
    const Polynomial coefficients = somePolynomial(ctx, 6, false, 5);
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { ks.keySwitchRescale(bottom, *key, bottom, bottom, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchRescale(in, *key, lower, add, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchRescale(in, *key, add, coefficients, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchRescale(in, *key, add, add, body, body); },
         KeySwitcher::kSameOutputMessage},
    };
    for (const auto &[call, message] : cases)
        expectThrowsMessage(call, message);
    auto cut = makeEmptyRotKey(ctx, 1, 1);
    fillKey(*cut, 6);
    expectThrowsMessage([&] { ks.keySwitchRescale(in, *cut, add, add, body, mask); },
                        KeySwitcher::kKeyDigitsMessage);
    EXPECT_EQ(body.getLevel(), getLength(ctx) - 1);
    EXPECT_EQ(QueltTest::wordsOf(body), before);
}

// A sum of switches: word for word the products summed over the extended
// basis (multEvalKey), one mod-down, the additions and the rescale.
TEST(KeySwitcherTest, SumOfSwitchesEqualsOneDivisionOfTheSummedProducts) {
    for (const Context &ctx : {rankOneContext(), degreeTenContext(), wideContext(), fxContext()}) {
        const KeySwitcher ks(ctx);
        const PrimeModuli &chain = ctx->getPrimeModuli();
        std::vector<std::shared_ptr<EvaluationKey>> owned;
        std::vector<EvaluationKey *> keys;
        for (u64 c = 0; c < 3; ++c) {
            owned.push_back(makeEmptyMultKey(ctx));
            fillKey(*owned.back(), 21 + c);
            keys.push_back(owned.back().get());
        }
        for (u64 level : {getLength(ctx) - 1, u64{1}})
            for (u64 count : {u64{1}, u64{3}}) {
                SCOPED_TRACE(testing::Message() << "N " << getDegree(ctx) << ", level " << level
                                                << ", " << count << " inputs");
                std::vector<Polynomial> ins;
                for (u64 c = 0; c < count; ++c)
                    ins.push_back(somePolynomial(ctx, level, true, 100 + 10 * level + c));
                const Polynomial add_body = somePolynomial(ctx, level, true, 7);
                const Polynomial add_mask = somePolynomial(ctx, level, true, 8);
                std::optional<CiphertextBase<EncryptionType::RLWE>> extended;
                std::vector<Polynomial> digits;
                for (u64 c = 0; c < count; ++c) {
                    ks.modUpPQ(ins[c], digits);
                    auto pair = ks.multEvalKey(digits, *keys[c]);
                    if (extended)
                        for (u64 p = 0; p < 2; ++p)
                            chain.add(extended->getPoly(p), pair.getPoly(p), extended->getPoly(p));
                    else
                        extended = std::move(pair);
                }
                PolynomialVector down(ctx, 2, false, true);
                ks.getFastBaseConv().modDown(extended->getPolyVector(), down, true);
                const std::vector<EvaluationKey *> used(keys.begin(), keys.begin() + count);
                auto input = [&](u64 c) -> const Polynomial & { return ins[c]; };
                Polynomial body(ctx, false, true), mask(ctx, false, true);
                ks.keySwitchSum(level, count, input, used, nullptr, nullptr, false, body, mask);
                EXPECT_EQ(QueltTest::wordsOf(body), QueltTest::wordsOf(down.getPoly(0)));
                EXPECT_EQ(QueltTest::wordsOf(mask), QueltTest::wordsOf(down.getPoly(1)));
                Polynomial want_body = down.getPoly(0), want_mask = down.getPoly(1);
                chain.add(add_body, want_body, want_body);
                chain.add(add_mask, want_mask, want_mask);
                ks.keySwitchSum(level, count, input, used, &add_body, &add_mask, false, body, mask);
                EXPECT_EQ(QueltTest::wordsOf(body), QueltTest::wordsOf(want_body));
                EXPECT_EQ(QueltTest::wordsOf(mask), QueltTest::wordsOf(want_mask));
                chain.rescaleTwo(want_body, want_mask);
                ks.keySwitchSum(level, count, input, used, &add_body, &add_mask, true, body, mask);
                EXPECT_EQ(body.getLevel(), level - 1);
                EXPECT_EQ(QueltTest::wordsOf(body), QueltTest::wordsOf(want_body));
                EXPECT_EQ(QueltTest::wordsOf(mask), QueltTest::wordsOf(want_mask));
            }
    }
}

TEST(KeySwitcherTest, SumOfSwitchesRefusals) {
    const Context &ctx = fxContext();
    const KeySwitcher ks(ctx);
    const Polynomial in = somePolynomial(ctx, 6, true, 1);
    const Polynomial add = somePolynomial(ctx, 6, true, 2);
    const Polynomial lower = somePolynomial(ctx, 5, true, 3);
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 5);
    auto cut = makeEmptyRotKey(ctx, 1, 1);
    fillKey(*cut, 6);
    auto input = [&](u64) -> const Polynomial & { return in; };
    Polynomial body(ctx, false, true), mask(ctx, false, true);
    const std::vector<u64> before = QueltTest::wordsOf(body);
    const std::vector<EvaluationKey *> one = {key.get()};
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { ks.keySwitchSum(6, 0, input, {}, nullptr, nullptr, false, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchSum(6, 2, input, one, nullptr, nullptr, false, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] {
             ks.keySwitchSum(getLength(ctx), 1, input, one, nullptr, nullptr, false, body, mask);
         },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchSum(0, 1, input, one, &add, &add, true, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchSum(6, 1, input, one, nullptr, nullptr, true, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchSum(6, 1, input, one, &add, nullptr, false, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchSum(6, 1, input, one, &lower, &add, false, body, mask); },
         KeySwitcher::kInputShapeMessage},
        {[&] { ks.keySwitchSum(6, 1, input, one, &add, &add, false, body, body); },
         KeySwitcher::kSameOutputMessage},
        {[&] { ks.keySwitchSum(6, 1, input, {cut.get()}, nullptr, nullptr, false, body, mask); },
         KeySwitcher::kKeyDigitsMessage},
    };
    for (const auto &[call, message] : cases)
        expectThrowsMessage(call, message);
    EXPECT_EQ(body.getLevel(), getLength(ctx) - 1);
    EXPECT_EQ(QueltTest::wordsOf(body), before);
    // An input at another level is refused when it is reached.
    auto low = [&](u64) -> const Polynomial & { return lower; };
    expectThrowsMessage(
        [&] { ks.keySwitchSum(6, 1, low, one, nullptr, nullptr, false, body, mask); },
        KeySwitcher::kInputShapeMessage);
}
