// The key generator: every key kind against its defining identity over the
// integers, the draw order, where keys go in the pack, the bootstrapping
// rotation sets and every refusal.

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyPack.hpp"
#include "client/KeyGeneratorImpl.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "client/KeyPackImpl.hpp"
#include "keys/RingSwitchKeyAccess.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

// Degree 64 (32 slots), five base and quantize primes in two gadget digits of
// three and two primes, three temporary primes.
std::shared_ptr<ContextContent> custom() {
    static const auto ctx = makeContext(6, 5, 40, 40, 40, 2);
    return ctx;
}
// The same primes with two secrets.
std::shared_ptr<ContextContent> twoSecrets() {
    static const auto ctx = genMultiSecretContext(custom(), "custom2", 2);
    return ctx;
}

std::uint64_t slotsOf(const std::shared_ptr<ContextContent> &ctx) { return getDegree(ctx) / 2; }

std::vector<std::uint64_t> heldIndices(const KeyPack &pack) {
    return implOf(pack).getRotKeyList(true);
}

// One key kind of a single-secret generator: how it is made and fetched, and
// its source secret in terms of the target's coefficients.
struct KeyKind {
    const char *name;
    std::function<std::shared_ptr<EvaluationKey>(const KeyGenerator &, const KeyPack &)> make;
    std::function<Coefficients(const Coefficients &s, std::uint64_t n)> source;
};

std::vector<KeyKind> singleSecretKinds(std::uint64_t slots) {
    return {
        {"multiplication",
         [](const KeyGenerator &gen, const KeyPack &pack) {
             gen.genMultKey();
             return pack.getMultKey();
         },
         [](const Coefficients &s, std::uint64_t) { return negacyclicSquare(s); }},
        {"conjugation",
         [](const KeyGenerator &gen, const KeyPack &pack) {
             gen.genConjKey();
             return pack.getConjKey();
         },
         [](const Coefficients &s, std::uint64_t n) { return automorphism(s, 2 * n - 1); }},
        {"left rotation 1",
         [](const KeyGenerator &gen, const KeyPack &pack) {
             gen.genLeftRotKey(1);
             return pack.getLeftRotKey(1, 0);
         },
         [](const Coefficients &s, std::uint64_t n) {
             return automorphism(s, rotationExponent(n, 1));
         }},
        {"left rotation 13",
         [](const KeyGenerator &gen, const KeyPack &pack) {
             gen.genLeftRotKey(13);
             return pack.getLeftRotKey(13, 0);
         },
         [](const Coefficients &s, std::uint64_t n) {
             return automorphism(s, rotationExponent(n, 13));
         }},
        {"right rotation 3",
         [](const KeyGenerator &gen, const KeyPack &pack) {
             gen.genRightRotKey(3);
             return pack.getRightRotKey(3, 0);
         },
         [slots](const Coefficients &s, std::uint64_t n) {
             return automorphism(s, rotationExponent(n, slots - 3));
         }},
    };
}

void expectSingleSecretKinds(const std::shared_ptr<ContextContent> &ctx) {
    const RLWEKey sk(ctx);
    const KeyPack pack(ctx);
    const KeyGenerator gen(ctx, sk, pack);
    const Coefficients s = secretCoefficients(sk);
    for (const KeyKind &kind : singleSecretKinds(slotsOf(ctx))) {
        SCOPED_TRACE(kind.name);
        const std::shared_ptr<EvaluationKey> key = kind.make(gen, pack);
        ASSERT_TRUE(key);
        expectDistinctErrors(
            expectSwitchingKeyIdentity(ctx, *key, kind.source(s, getDegree(ctx)), s));
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Identities
// ---------------------------------------------------------------------------

TEST(KeyGeneratorIdentityTest, EveryKindOnTheCustomContext) { expectSingleSecretKinds(custom()); }

TEST(KeyGeneratorIdentityTest, EveryKindOnFX) { expectSingleSecretKinds(fxContext()); }

TEST(KeyGeneratorIdentityTest, SwitchKeysBetweenTwoSecrets) {
    const RLWEKey from(custom()), to(custom());
    const KeyGenerator gen(custom());
    const RingSwitchKey key = gen.genSwitchKey(from, to);
    const EvaluationKey &inner = detail::RingSwitchKeyAccess::key(key);
    EXPECT_EQ(inner.getType(), 'w');
    expectMasksFromGerms(custom(), inner);
    expectDistinctErrors(expectSwitchingKeyIdentity(custom(), inner, secretCoefficients(from),
                                                    secretCoefficients(to)));
}

TEST(KeyGeneratorIdentityTest, MultiSecretKeys) {
    const auto ctx = twoSecrets();
    const std::uint64_t n = getDegree(ctx);
    const MSRLWEKey sk(ctx);
    const KeyPack pack(ctx);
    const KeyGenerator gen(ctx, sk, pack);
    const std::vector<Coefficients> s = {secretCoefficients(sk, 0), secretCoefficients(sk, 1)};
    auto mapped = [&](std::uint64_t g) {
        return std::vector<Coefficients>{automorphism(s[0], g), automorphism(s[1], g)};
    };

    gen.genConjKey();
    expectDistinctErrors(expectSwitchingKeyIdentity(ctx, *pack.getConjKey(), mapped(2 * n - 1), s));
    gen.genLeftRotKey(6);
    expectDistinctErrors(expectSwitchingKeyIdentity(ctx, *pack.getLeftRotKey(6, 0),
                                                    mapped(rotationExponent(n, 6)), s));

    const MSRLWEKey other(ctx);
    const RingSwitchKey key = gen.genSwitchKeyMSRLWE(other, sk);
    expectDistinctErrors(expectSwitchingKeyIdentity(
        ctx, detail::RingSwitchKeyAccess::key(key),
        {secretCoefficients(other, 0), secretCoefficients(other, 1)}, s));
}

TEST(KeyGeneratorIdentityTest, EncryptionKey) {
    for (const auto &ctx : {custom(), fxContext()}) {
        const RLWEKey sk(ctx);
        const KeyPack pack(ctx);
        const KeyGenerator gen(ctx, sk, pack);
        expectEncryptionKeyReplays(ctx, sk, [&] {
            gen.genEncKey();
            return *pack.getEncKey();
        });
    }
}

TEST(KeyGeneratorIdentityTest, MasksRegenerateAndSavedKeysStillHold) {
    const RLWEKey sk(custom());
    const KeyPack pack(custom());
    const KeyGenerator gen(custom(), sk, pack);
    gen.genLeftRotKey(5);
    const std::shared_ptr<EvaluationKey> key = pack.getLeftRotKey(5, 0);
    expectMasksFromGerms(custom(), *key);

    std::stringstream stream;
    save(*key, stream);
    EvaluationKey loaded(custom(), 'r', 5, 0);
    load(loaded, stream);
    EXPECT_EQ(keyWords(loaded), keyWords(*key));
    const Coefficients s = secretCoefficients(sk);
    expectSwitchingKeyIdentity(custom(), loaded, automorphism(s, rotationExponent(64, 5)), s);
}

// ---------------------------------------------------------------------------
// Draw order
// ---------------------------------------------------------------------------

namespace {

// Replays the draws of a key made from the seed {9, 8, 7, 6}: the d mask
// seeds first, then one Gaussian error over all L + K primes per digit and
// secret (digit outer); rebuilds every body with plain modular arithmetic and
// the gadget factors from the prime values, for sources and targets given in
// NTT form, and compares it word for word.
void expectReplayedKey(const std::shared_ptr<ContextContent> &ctx, EvaluationKey &key,
                       const std::string &state_after, const std::vector<const Polynomial *> &from,
                       const std::vector<const Polynomial *> &to) {
    const std::uint64_t n = getDegree(ctx), length = getLength(ctx), d = getGadgetRank(ctx);
    const std::uint64_t secrets = from.size();
    const std::vector<std::uint64_t> primes = getPrimeList(ctx);
    auto &rng = UniformRandomBitGenerator::getInstance();
    rng.setSeed({9, 8, 7, 6});
    std::vector<PolyGerm> germs(d);
    std::vector<Polynomial> errors; // digit-major, as drawn
    for (std::uint64_t t = 0; t < d * secrets; ++t) {
        errors.emplace_back(ctx, true, false);
        RandomSampler().sampleGaussian(errors.back(), ctx);
        ctx->getPrimeModuli().forwardNTT<AlwaysValidator, 1>(errors.back(), errors.back(),
                                                             AlwaysValidator());
    }
    EXPECT_EQ(rng.getState(), state_after) << "the key draws more than its seeds and errors";

    const auto &ax = masksOf(key);
    const auto &bx = bodiesOf(key);
    const std::uint64_t alpha = (length + d - 1) / d;
    for (std::uint64_t j = 0; j < d; ++j) {
        ASSERT_EQ(*ax[j].getGerm(), germs[j]);
        for (std::uint64_t i = 0; i < primes.size(); ++i) {
            const std::uint64_t q = primes[i];
            // P Q / Q_j modulo q_i on the primes of digit j.
            std::uint64_t gadget = 0;
            if (i >= j * alpha && i < std::min((j + 1) * alpha, length)) {
                gadget = 1;
                for (std::uint64_t m = 0; m < primes.size(); ++m)
                    if (m < j * alpha || m >= std::min((j + 1) * alpha, length))
                        gadget = mulModRef(gadget, primes[m] % q, q);
            }
            for (std::uint64_t k = 0; k < secrets; ++k)
                for (std::uint64_t c = 0; c < n; ++c) {
                    const std::uint64_t as =
                        mulModRef(ax[j].getLimb(i)[c], to[k]->getLimb(i)[c], q);
                    const std::uint64_t expected =
                        addModRef(subModRef(errors[j * secrets + k].getLimb(i)[c], as, q),
                                  mulModRef(gadget, from[k]->getLimb(i)[c], q), q);
                    ASSERT_EQ(bx[k * d + j].getLimb(i)[c], expected)
                        << "secret " << k << ", digit " << j << ", prime " << i << ", coefficient "
                        << c;
                }
        }
    }
}

} // namespace

TEST(KeyGeneratorDrawsTest, ReplayRebuildsKeysWordForWord) {
    auto &rng = UniformRandomBitGenerator::getInstance();
    {
        const RLWEKey sk(custom());
        const KeyPack pack(custom());
        rng.setSeed({9, 8, 7, 6});
        KeyGenerator(custom(), sk, pack).genLeftRotKey(3);
        const std::string after = rng.getState();
        Polynomial source(custom(), true, true);
        custom()->getPrimeModuli().frobeniusMapInNTT<false>(
            sk.getSx(0), static_cast<std::int64_t>(getPow(custom(), 3)), source);
        expectReplayedKey(custom(), *pack.getLeftRotKey(3, 0), after, {&source}, {&sk.getSx(0)});
    }
    // Two secrets: the errors go digit by digit, secret by secret.
    const auto ctx = twoSecrets();
    const MSRLWEKey sk(ctx);
    const KeyPack pack(ctx);
    rng.setSeed({9, 8, 7, 6});
    KeyGenerator(ctx, sk, pack).genConjKey();
    const std::string after = rng.getState();
    std::vector<Polynomial> sources;
    for (std::uint64_t k = 0; k < 2; ++k) {
        sources.emplace_back(ctx, true, true);
        ctx->getPrimeModuli().frobeniusMapInNTT<false>(sk.getSx(k), -1, sources.back());
    }
    expectReplayedKey(ctx, *pack.getConjKey(), after, {&sources[0], &sources[1]},
                      {&sk.getSx(0), &sk.getSx(1)});
}

// ---------------------------------------------------------------------------
// Where keys go
// ---------------------------------------------------------------------------

TEST(KeyGeneratorPackTest, RotationKeysAreKeptFixedKeysReplaced) {
    const RLWEKey sk(fxContext());
    const KeyPack pack(fxContext());
    const KeyGenerator gen(fxContext(), sk, pack);

    gen.genRightRotKey(3);
    EXPECT_EQ(heldIndices(pack), std::vector<std::uint64_t>{29});
    const auto held = pack.getLeftRotKey(29, 0);
    gen.genLeftRotKey(29);
    EXPECT_EQ(pack.getLeftRotKey(29, 0), held);

    gen.genRotKeyIfNotExist(-1);
    gen.genRotKeyIfNotExist(32);
    gen.genRotKeyIfNotExist(0);
    EXPECT_EQ(heldIndices(pack), (std::vector<std::uint64_t>{29, 31}));

    gen.genMultKey();
    const auto mult = pack.getMultKey();
    gen.genMultKey();
    EXPECT_NE(pack.getMultKey(), mult);
    gen.genConjKey();
    const auto conj = pack.getConjKey();
    gen.genConjKey();
    EXPECT_NE(pack.getConjKey(), conj);
    gen.genEncKey();
    const auto enc = pack.getEncKey();
    gen.genEncKey();
    EXPECT_NE(pack.getEncKey(), enc);
    // Ring switch keys stay out of the pack.
    gen.genSwitchKey(sk, sk);
    EXPECT_EQ(heldIndices(pack), (std::vector<std::uint64_t>{29, 31}));
}

TEST(KeyGeneratorPackTest, BundleEqualsKeysMadeOneByOne) {
    const RLWEKey sk(fxContext());
    const KeyPack bundled(fxContext()), single(fxContext());
    auto &rng = UniformRandomBitGenerator::getInstance();
    rng.setSeed({1, 1, 2, 3});
    KeyGenerator(fxContext(), sk, bundled).genRotKeyBundle();
    rng.setSeed({1, 1, 2, 3});
    const std::vector<std::uint64_t> order = {1, 31, 2, 30, 4, 28, 8, 24, 16};
    const KeyGenerator one(fxContext(), sk, single);
    for (const std::uint64_t idx : order)
        one.genLeftRotKey(idx);
    EXPECT_EQ(heldIndices(bundled), (std::vector<std::uint64_t>{1, 2, 4, 8, 16, 24, 28, 30, 31}));
    for (const std::uint64_t idx : order)
        EXPECT_EQ(keyWords(*bundled.getLeftRotKey(idx, 0)), keyWords(*single.getLeftRotKey(idx, 0)))
            << "index " << idx;

    // Held indices are skipped: a second bundle changes nothing.
    const auto first = bundled.getLeftRotKey(16, 0);
    KeyGenerator(fxContext(), sk, bundled).genRotKeyBundle();
    EXPECT_EQ(bundled.getLeftRotKey(16, 0), first);
}

TEST(KeyGeneratorPackTest, FlushStartsANewPack) {
    const RLWEKey sk(custom());
    const KeyPack pack(custom());
    KeyGenerator gen(custom(), sk, pack);
    gen.genLeftRotKey(1);
    gen.flush();
    gen.genLeftRotKey(2);
    EXPECT_EQ(heldIndices(pack), std::vector<std::uint64_t>{1});

    KeyDirectory dir("keygen_flush");
    gen.save(dir.dir());
    EXPECT_EQ(dir.keyFiles(), std::vector<std::string>{"RotKey2.bin"});
}

// ---------------------------------------------------------------------------
// Bootstrapping sets
// ---------------------------------------------------------------------------

namespace {

// The amounts of the context's rule, reduced modulo the slots, 0 left out.
std::vector<std::uint64_t> reducedRule(const std::shared_ptr<ContextContent> &ctx,
                                       std::uint64_t log_slots, bool min_key) {
    std::set<std::uint64_t> out;
    for (const std::int64_t a : getRotIndicesForBootstrap(ctx, log_slots, min_key, false))
        if (const std::uint64_t r = static_cast<std::uint64_t>(a) & (slotsOf(ctx) - 1); r != 0)
            out.insert(r);
    return std::vector<std::uint64_t>(out.begin(), out.end());
}

} // namespace

TEST(KeyGeneratorBootstrapTest, KeysOfFXAreTheReducedRuleSet) {
    const RLWEKey sk(fxContext());
    // Values from the written rule (a short script), for log_slots 3 and 5.
    const struct {
        std::uint64_t log_slots;
        bool min_key;
        std::vector<std::uint64_t> expected;
    } cases[] = {
        {3, false, {1, 2, 3, 8, 16, 28}},
        {3, true, {1, 8, 16, 28}},
        {5, false, {1, 2, 3, 4, 8, 12, 16, 28}},
        {5, true, {1, 4, 16, 28}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.log_slots << (c.min_key ? " min" : ""));
        EXPECT_EQ(reducedRule(fxContext(), c.log_slots, c.min_key), c.expected);
        const KeyPack pack(fxContext());
        KeyGenerator(fxContext(), sk, pack).genRotKeysForBootstrap(c.log_slots, c.min_key);
        EXPECT_EQ(heldIndices(pack), c.expected);
    }

    // Held indices are skipped; the list form takes running totals.
    const KeyPack pack(fxContext());
    const KeyGenerator gen(fxContext(), sk, pack);
    gen.genLeftRotKey(3);
    const auto held = pack.getLeftRotKey(3, 0);
    gen.genRotKeysForBootstrap(std::vector<std::uint64_t>{2, 5}, false);
    EXPECT_EQ(heldIndices(pack), (std::vector<std::uint64_t>{1, 2, 3, 4, 8, 16, 24, 28}));
    EXPECT_EQ(pack.getLeftRotKey(3, 0), held);
}

TEST(KeyGeneratorBootstrapTest, IndexFunctionMakesNoKey) {
    EXPECT_EQ(detail::bootstrapRotationIndices(fxContext(), 5, false, false),
              (std::vector<std::uint64_t>{1, 2, 3, 4, 8, 12, 16, 28}));
    // Minimal keys for CoeffToSlot alone: FX's SlotToCoeff and CoeffToSlot
    // use one split, so the full SlotToCoeff steps cover the set.
    EXPECT_EQ(detail::bootstrapRotationIndices(fxContext(), 5, false, true),
              detail::bootstrapRotationIndices(fxContext(), 5, false, false));
    EXPECT_EQ(detail::bootstrapRotationIndices(fxContext(), 5, true, true),
              detail::bootstrapRotationIndices(fxContext(), 5, true, false));
    EXPECT_EQ(detail::bootstrapRotationIndices(fxContext(), std::vector<std::uint64_t>{2, 5}, true),
              (std::vector<std::uint64_t>{1, 4, 8, 16, 28}));
}

// ---------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------

TEST(KeyGeneratorErrorsTest, Construction) {
    const RLWEKey sk(custom());
    // Other sizes, and the same primes with two secrets.
    const RLWEKey otherSizes(Quelt::test::degree64FourPrimes());
    const RLWEKey twoSecretKey(twoSecrets());
    const MSRLWEKey multi(twoSecrets());

    expectThrowsMessage([] { KeyGenerator{std::shared_ptr<ContextContent>()}; },
                        "[Context] The context is null");
    expectThrowsMessage([&] { KeyGenerator(custom(), otherSizes); },
                        KeyGeneratorMessages::kKeyMismatch);
    expectThrowsMessage([&] { KeyGenerator(custom(), twoSecretKey); },
                        KeyGeneratorMessages::kKeyMismatch);
    expectThrowsMessage([&] { KeyGenerator(custom(), multi, KeyPack(custom())); },
                        KeyGeneratorMessages::kKeyMismatch);
    expectThrowsMessage(
        [&] { KeyGenerator(custom(), sk, KeyPack(Quelt::test::degree64FourPrimes())); },
        KeyGeneratorMessages::kPackMismatch);
    expectThrowsMessage([&] { KeyGenerator(custom(), sk, KeyPack(twoSecrets())); },
                        KeyGeneratorMessages::kPackMismatch);
    // The key check comes before the sparse checks; custom contexts have no
    // encapsulation.
    expectThrowsMessage([&] { KeyGenerator(custom(), fxContext(), otherSizes); },
                        KeyGeneratorMessages::kKeyMismatch);
    expectThrowsMessage([&] { KeyGenerator(custom(), fxContext(), sk); },
                        KeyGeneratorMessages::kNoSparseSupport);
    expectThrowsMessage([&] { KeyGenerator(custom(), fxContext(), sk, KeyPack(custom())); },
                        KeyGeneratorMessages::kNoSparseSupport);

    // Another context object of the same preset passes the constructor, not
    // genSwitchKey, which wants the generator's own object.
    const auto fxAgain = makeContext(ParameterPreset::FX);
    const RLWEKey onAgain(fxAgain);
    const KeyGenerator gen(fxContext(), onAgain);
    const RLWEKey onFx(fxContext());
    expectThrowsMessage([&] { gen.genSwitchKey(onAgain, onFx); },
                        KeyGeneratorMessages::kSwitchKeyContext);
    expectThrowsMessage([&] { gen.genSwitchKey(onFx, onAgain); },
                        KeyGeneratorMessages::kSwitchKeyContext);
    const MSRLWEKey multiAgain(genMultiSecretContext(custom(), "again", 2));
    expectThrowsMessage([&] { KeyGenerator(twoSecrets()).genSwitchKeyMSRLWE(multiAgain, multi); },
                        KeyGeneratorMessages::kSwitchKeyContext);
}

TEST(KeyGeneratorErrorsTest, Operations) {
    const KeyGenerator none(custom());
    const std::uint64_t slots = slotsOf(custom());
    const std::vector<std::pair<const char *, std::function<void()>>> withoutKey = {
        {"genEncKey", [&] { none.genEncKey(); }},
        {"genMultKey", [&] { none.genMultKey(); }},
        {"genConjKey", [&] { none.genConjKey(); }},
        {"genLeftRotKey", [&] { none.genLeftRotKey(1); }},
        {"genLeftRotKey(0)", [&] { none.genLeftRotKey(0); }},
        {"genRightRotKey", [&] { none.genRightRotKey(1); }},
        {"genRotKeyIfNotExist", [&] { none.genRotKeyIfNotExist(0); }},
        {"genRotKeyBundle", [&] { none.genRotKeyBundle(); }},
        {"genRotKeysForBootstrap", [&] { none.genRotKeysForBootstrap(3, false); }},
        {"genRotKeysForBootstrap list",
         [&] { none.genRotKeysForBootstrap(std::vector<std::uint64_t>{}, false); }},
    };
    for (const auto &[name, call] : withoutKey) {
        SCOPED_TRACE(name);
        expectThrowsMessage(call, KeyGeneratorMessages::kNoDefaultKey);
    }
    // The right-rotation index is checked first.
    for (const std::uint64_t idx : {std::uint64_t{0}, slots, slots + 1})
        expectThrowsMessage([&] { none.genRightRotKey(idx); },
                            KeyGeneratorMessages::kWrongRotationIndex);

    const RLWEKey sk(custom());
    const KeyPack pack(custom());
    const KeyGenerator gen(custom(), sk, pack);
    for (const std::uint64_t idx : {std::uint64_t{0}, slots, ~std::uint64_t{0}})
        expectThrowsMessage([&] { gen.genLeftRotKey(idx); },
                            KeyGeneratorMessages::kWrongRotationIndex);
    // The context's rule speaks for the bootstrapping sets.
    expectThrowsMessage([&] { gen.genRotKeysForBootstrap(3, false); },
                        "The parameter dose not support bootstrap.");
    const std::string badList =
        "[getRotIndicesForBootstrap] The DFT sizes must be a non-empty, non-decreasing list";
    expectThrowsMessage([&] { gen.genRotKeysForBootstrap(std::vector<std::uint64_t>{}, false); },
                        badList);
    expectThrowsMessage(
        [&] {
            gen.genRotKeysForBootstrap(std::vector<std::uint64_t>{3, 2}, false);
        },
        badList);
    expectThrowsMessage(
        [&] {
            gen.genRotKeysForBootstrap(std::vector<std::uint64_t>{3, 3}, false);
        },
        "[RadixDecomposition] Each radix has to be non-zero.");
    EXPECT_TRUE(heldIndices(pack).empty());

    // A generator holds one kind of key; the other kind's path refuses.
    const MSRLWEKey multi(twoSecrets());
    const KeyGenerator multiGen(twoSecrets(), multi, KeyPack(twoSecrets()));
    expectThrowsMessage([&] { multiGen.genEncKey(); }, KeyGeneratorMessages::kEncKeyMultiSecret);
    expectThrowsMessage([&] { multiGen.genMultKey(); }, KeyGeneratorMessages::kMultKeyMultiSecret);
    const KeyGenerator rlweOnTwo(twoSecrets(), RLWEKey(twoSecrets()), KeyPack(twoSecrets()));
    expectThrowsMessage([&] { rlweOnTwo.genConjKey(); }, KeyGeneratorMessages::kNoDefaultKey);
    expectThrowsMessage([&] { rlweOnTwo.genLeftRotKey(1); }, KeyGeneratorMessages::kNoDefaultKey);
    const KeyGenerator multiOnOne(custom(), MSRLWEKey(custom()), KeyPack(custom()));
    for (const auto &call : std::vector<std::function<void()>>{
             [&] { multiOnOne.genEncKey(); }, [&] { multiOnOne.genMultKey(); },
             [&] { multiOnOne.genConjKey(); }, [&] { multiOnOne.genLeftRotKey(1); }})
        expectThrowsMessage(call, KeyGeneratorMessages::kNoDefaultKey);
}

// A key whose lists do not hold the context's digits is refused before
// anything is drawn; the plain-mask block.
TEST(KeyGeneratorBlocksTest, KeyShapeCheckAndPlainMasks) {
    const auto ctx = Quelt::test::fiveDigitContext();
    const RLWEKey sk(ctx);
    const KeyPack pack(ctx);
    const KeyGeneratorImpl impl(ctx, sk, detail::KeyPackAccess::impl(pack));
    auto cut = makeEmptyRotKey(ctx, 1, 0);
    cut->resizeDnumForRotkey(2);
    auto &rng = UniformRandomBitGenerator::getInstance();
    const std::string before = rng.getState();
    expectThrowsMessage(
        [&] { impl.genSwitchingKey(ctx, impl.getDecomposeData(), sk.getSx(0), sk.getSx(0), *cut); },
        KeyGeneratorImplBase::kKeyShape);
    EXPECT_EQ(rng.getState(), before);

    // The plain-mask block samples uniformly, one mask after another, and
    // keeps no seed.
    auto key = makeEmptyRotKey(ctx, 1, 0);
    rng.setSeed({4, 4, 4, 4});
    impl.genSwitchingKeyAx(ctx, key->getAxIter(kHostDevice));
    rng.setSeed({4, 4, 4, 4});
    for (const Polynomial &mask : masksOf(*key)) {
        Polynomial expected(ctx, true, true);
        RandomSampler().sampleUniform(expected, ctx);
        EXPECT_FALSE(mask.hasGerm());
        EXPECT_EQ(Quelt::test::wordsOf(mask), Quelt::test::wordsOf(expected));
    }
}
