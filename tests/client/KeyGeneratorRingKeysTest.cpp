// The sparse-secret encapsulation key, the compose and decompose keys between
// ring degrees and the compatible level of two chains: each key against the
// defining identity of switching keys over the integers, where keys go, and
// every refusal in its order.

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/SparseSecretEncapsulationKey.hpp"
#include "client/KeyGeneratorImpl.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "client/KeyPackImpl.hpp"
#include "foundation/WordArith.hpp"
#include "keys/RingSwitchKeyAccess.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

// ---- Encapsulation pairs at degree 128 -----------------------------------

// Main: five base and quantize primes in two digits, three temporary primes.
std::shared_ptr<ContextContent> mainContext() {
    static const auto ctx = makeContext(7, 5, 50, 40, 50, 2);
    return ctx;
}
// Sparse: other primes, two base and quantize primes in one digit, and a
// secret of Hamming weight 8.
std::shared_ptr<ContextContent> sparseContext() {
    static const auto ctx =
        withParameter(makeContext(7, 2, 52, 42, 52, 1), [](Parameter &p) { p.hamming_weight = 8; });
    return ctx;
}

// The same pair as a preset and its sparse companion would be (FGbSSE and
// SGb0 in name, the record flags to match), so the public operation runs at
// this degree.
std::shared_ptr<ContextContent> sseMain() {
    static const auto ctx = withParameter(mainContext(), [](Parameter &p) {
        p.preset = ParameterPreset::FGbSSE;
        p.sparse_secret_encapsulation = true;
    });
    return ctx;
}
std::shared_ptr<ContextContent> sseSparse() {
    static const auto ctx =
        withParameter(sparseContext(), [](Parameter &p) { p.preset = ParameterPreset::SGb0; });
    return ctx;
}

const std::array<u64, 4> kSeed = {5, 6, 7, 8};

// Makes an encapsulation key through the generator's one routine over the
// given pair, from kSeed, and checks it and the returned C.
template <typename Key>
void expectRoutineOnPair(const std::shared_ptr<ContextContent> &main,
                         const std::shared_ptr<ContextContent> &sparse) {
    const Key sk(main);
    const KeyPack pack(main);
    const KeyGeneratorImpl impl(main, sk, detail::KeyPackAccess::impl(pack));
    const RNSDecomposeData sparseTables(sparse);
    auto key = makeEmptySparseSecretEncapsulationKey(main, sparse);
    UniformRandomBitGenerator::getInstance().setSeed(kSeed);
    const PolynomialVector c = impl.fillSparseSecretEncapsulationKey(main, impl.getDecomposeData(),
                                                                     sparse, sparseTables, *key);
    expectEncapsulationKey(main, sparse, *key, sk, kSeed);
    const Key b = replayedSparseSecret<Key>(sparse, kSeed);
    const Key cExpected(main, b.getCoefficients());
    ASSERT_EQ(c.getSize(), getNumSecret(main));
    for (u64 k = 0; k < c.getSize(); ++k)
        EXPECT_EQ(QueltTest::wordsOf(c.getPoly(k)), QueltTest::wordsOf(cExpected.getSx(k)));
}

std::shared_ptr<EvaluationKey> heldPart(const KeyPack &pack, bool dts) {
    const auto key = pack.getSparseSecretEncapsulationKey();
    return std::shared_ptr<EvaluationKey>(key, dts ? &key->getDTSPart() : &key->getSTDPart());
}

} // namespace

// ---------------------------------------------------------------------------
// Encapsulation keys
// ---------------------------------------------------------------------------

TEST(EncapsulationKeyTest, RoutineOnSmallPairs) {
    {
        SCOPED_TRACE("one secret");
        expectRoutineOnPair<RLWEKey>(mainContext(), sparseContext());
    }
    SCOPED_TRACE("two secrets");
    expectRoutineOnPair<MSRLWEKey>(genMultiSecretContext(mainContext(), "main2", 2),
                                   genMultiSecretContext(sparseContext(), "sparse2", 2));
}

TEST(EncapsulationKeyTest, PublicOperationReplacesTheKeyAndLeavesFusedKeys) {
    const RLWEKey sk(sseMain());
    const KeyPack pack(sseMain(), sseSparse());
    const KeyGenerator gen(sseMain(), sseSparse(), sk, pack);
    const auto fused = filledFuseRotKey(sseMain(), 3);
    implOf(pack).tryEmplaceFuseRotKey(4, fused);

    UniformRandomBitGenerator::getInstance().setSeed(kSeed);
    gen.genSparseSecretEncapsulationKey();
    const auto first = pack.getSparseSecretEncapsulationKey();
    ASSERT_TRUE(first);
    const std::vector<Coefficients> firstSparse =
        expectEncapsulationKey(sseMain(), sseSparse(), *first, sk, kSeed);
    const auto firstWords = keyWords(*heldPart(pack, true));
    const auto firstStd = keyWords(*heldPart(pack, false));

    // A second call: a new key for a new sparse secret; the key held by the
    // caller stays as it was, and so do the fused keys.
    const std::array<u64, 4> other = {1, 1, 1, 1};
    UniformRandomBitGenerator::getInstance().setSeed(other);
    gen.genSparseSecretEncapsulationKey();
    const auto second = pack.getSparseSecretEncapsulationKey();
    EXPECT_NE(second, first);
    EXPECT_EQ(keyWords(first->getDTSPart()), firstWords);
    EXPECT_EQ(keyWords(first->getSTDPart()), firstStd);
    EXPECT_NE(expectEncapsulationKey(sseMain(), sseSparse(), *second, sk, other), firstSparse);
    EXPECT_EQ(pack.getFuseRotKey(4), fused);
}

// The multi-secret pair (FGbSSEMS2 and SGb0MS2 in name) through the public
// operation: each part switches secret k to secret k.
TEST(EncapsulationKeyTest, PublicOperationWithTwoSecrets) {
    const auto main = withParameter(sseMain(), [](Parameter &p) {
        p.preset = ParameterPreset::FGbSSEMS2;
        p.num_secret = 2;
    });
    const auto sparse = withParameter(sseSparse(), [](Parameter &p) {
        p.preset = ParameterPreset::SGb0MS2;
        p.num_secret = 2;
    });
    const MSRLWEKey sk(main);
    const KeyPack pack(main, sparse);
    UniformRandomBitGenerator::getInstance().setSeed(kSeed);
    KeyGenerator(main, sparse, sk, pack).genSparseSecretEncapsulationKey();
    ASSERT_TRUE(pack.getSparseSecretEncapsulationKey());
    expectEncapsulationKey(main, sparse, *pack.getSparseSecretEncapsulationKey(), sk, kSeed);
}

TEST(EncapsulationKeyTest, Refusals) {
    const RLWEKey sk(sseMain());
    const auto sparseOtherDegree = withParameter(
        makeContext(8, 2, 52, 42, 52, 1), [](Parameter &p) { p.preset = ParameterPreset::SGb0; });
    const auto mainTwo = withParameter(sseMain(), [](Parameter &p) { p.num_secret = 2; });
    const MSRLWEKey skTwo(mainTwo);
    const RLWEKey skCustom(mainContext());
    const auto custom =
        withParameter(mainContext(), [](Parameter &p) { p.sparse_secret_encapsulation = true; });
    const RLWEKey skFlagged(custom);
    const auto flushed = [&] {
        KeyGenerator gen(sseMain(), sseSparse(), sk);
        gen.flush();
        return gen;
    }();
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        // No default key comes first, then the sparse context.
        {[] { KeyGenerator(sseMain()).genSparseSecretEncapsulationKey(); },
         KeyGeneratorMessages::kNoDefaultKey},
        {[&] { KeyGenerator(sseMain(), sk).genSparseSecretEncapsulationKey(); },
         KeyGeneratorMessages::kNoSparseContext},
        {[&] {
             KeyGenerator(mainTwo, sseSparse(), skTwo, KeyPack(mainTwo, sseSparse()))
                 .genSparseSecretEncapsulationKey();
         },
         KeyGeneratorMessages::kSparseMismatch},
        {[&] { KeyGenerator(sseMain(), sparseOtherDegree, sk).genSparseSecretEncapsulationKey(); },
         KeyGeneratorMessages::kSparseMismatch},
        // The pack must take the key: one made without a sparse context (as
        // after flush) refuses before anything is made.
        {[&] {
             KeyGenerator(sseMain(), sseSparse(), sk, KeyPack(sseMain()))
                 .genSparseSecretEncapsulationKey();
         },
         KeyPackImpl::kNoSparseContext},
        {[&] { flushed.genSparseSecretEncapsulationKey(); }, KeyPackImpl::kNoSparseContext},
        // The constructor's preset-pair checks.
        {[&] { KeyGenerator(sseMain(), fxContext(), sk); }, KeyGeneratorMessages::kSparseMismatch},
        {[&] { KeyGenerator(mainContext(), sseSparse(), skCustom); },
         KeyGeneratorMessages::kNoSparseSupport},
        {[&] { KeyGenerator(custom, sseSparse(), skFlagged); },
         "This parameter preset does not have corresponding sparse parameter preset"},
    };
    auto &rng = UniformRandomBitGenerator::getInstance();
    for (const auto &[call, message] : cases) {
        SCOPED_TRACE(message);
        const std::string before = rng.getState();
        expectThrowsMessage(call, message);
        EXPECT_EQ(rng.getState(), before);
    }

    // The routine itself refuses a sparse context of another shape before it
    // draws.
    const KeyPack pack(mainContext());
    const KeyGeneratorImpl impl(mainContext(), RLWEKey(mainContext()),
                                detail::KeyPackAccess::impl(pack));
    const auto other = makeContext(8, 2, 52, 42, 52, 1);
    SparseSecretEncapsulationKey key(mainContext(), other);
    const std::string before = rng.getState();
    expectThrowsMessage(
        [&] {
            impl.fillSparseSecretEncapsulationKey(mainContext(), impl.getDecomposeData(), other,
                                                  RNSDecomposeData(other), key);
        },
        KeyGeneratorMessages::kSparseMismatch);
    EXPECT_EQ(rng.getState(), before);
}

// ---------------------------------------------------------------------------
// Compose and decompose keys
// ---------------------------------------------------------------------------

namespace {

// Degree 256: five base and quantize primes (indices 0-4) in two digits and
// three temporary primes (5-7). The small contexts below take their primes
// from this chain by index.
std::shared_ptr<ContextContent> large() {
    static const auto ctx = makeContext(8, 5, 50, 40, 50, 2);
    return ctx;
}
std::shared_ptr<ContextContent> fromLarge(u64 log_degree, const std::vector<u64> &base,
                                          const std::vector<u64> &temporary = {7}) {
    return contextFromPrimes(large(), log_degree, base, temporary, 1);
}

// The N coefficients of s(X^(N/n)), written out.
Coefficients embedded(const RLWEKey &small, u64 degree) {
    const Coefficients s = secretCoefficients(small);
    Coefficients out(degree, 0);
    for (u64 i = 0; i < s.size(); ++i)
        out[i * (degree / s.size())] = s[i];
    return out;
}

} // namespace

TEST(RingKeysTest, ComposeAndDecomposeIdentities) {
    const RLWEKey sk(large());
    const KeyGenerator gen(large(), sk);
    const u64 n = getDegree(large());
    // The decompose key's own chain: primes 0 and 1 (the small contexts'),
    // then 4, another temporary set and three digits.
    const auto to = contextFromPrimes(large(), 8, {0, 1, 4}, {6, 2}, 3);
    for (const u64 log_small : {u64{6}, u64{8}}) {
        SCOPED_TRACE(log_small);
        const RLWEKey small(fromLarge(log_small, {0, 1}));
        const Coefficients e = embedded(small, n);
        if (log_small == 6) {
            for (u64 i = 0; i < 64; ++i)
                ASSERT_EQ(e[4 * i], secretCoefficients(small)[i]);
        }

        const RingSwitchKey compose = gen.genComposeKey(small);
        const EvaluationKey &c = detail::RingSwitchKeyAccess::key(compose);
        EXPECT_EQ(c.getType(), 'w');
        EXPECT_EQ(c.getContext(), large());
        expectMasksFromGerms(large(), c);
        expectDistinctErrors(expectSwitchingKeyIdentity(large(), c, e, secretCoefficients(sk)));

        const RingSwitchKey decompose = gen.genDecomposeKey(to, small);
        const EvaluationKey &d = detail::RingSwitchKeyAccess::key(decompose);
        EXPECT_EQ(d.getType(), 'w');
        EXPECT_EQ(d.getContext(), to);
        expectMasksFromGerms(to, d);
        expectDistinctErrors(expectSwitchingKeyIdentity(to, d, secretCoefficients(sk), e));
    }
}

TEST(RingKeysTest, CheckOrders) {
    const RLWEKey sk(large());
    const KeyGenerator gen(large(), sk);
    const KeyGenerator none(large());
    const auto to = contextFromPrimes(large(), 8, {0, 1, 4}, {6}, 1);
    const RLWEKey fits(fromLarge(6, {0, 1}));
    // Degree 512 does not divide 256 (its primes are its own).
    const RLWEKey twiceDegree(makeContext(9, 2, 50, 40, 50, 1));
    // Level 2: agrees with the generator up to level 1 only (with `to` in
    // full); with both up to level 1; with the generator only.
    const RLWEKey notSubset(fromLarge(6, {0, 1, 4}));
    const RLWEKey inNeither(fromLarge(6, {0, 1, 3}));
    const RLWEKey notInTo(fromLarge(6, {0, 1, 2}));
    // Prime 0 differs from the generator's and from `to`'s.
    const RLWEKey otherBase(fromLarge(6, {1, 0}));
    const auto otherDegreeTo = makeContext(7, 3, 50, 40, 50, 1);
    const auto toOtherBase = contextFromPrimes(large(), 8, {3, 1}, {6}, 1);
    const auto toTwoSecrets = genMultiSecretContext(to, "to2", 2);
    const MSRLWEKey multi(genMultiSecretContext(large(), "large2", 2));
    const KeyGenerator multiGen(multi.getContext(), multi, KeyPack(multi.getContext()));

    using Call = std::function<void()>;
    const std::vector<std::pair<Call, std::string>> compose = {
        {[&] { none.genComposeKey(twiceDegree); }, KeyGeneratorMessages::kNoDefaultKey},
        {[&] { gen.genComposeKey(twiceDegree); }, KeyGeneratorMessages::kComposeDegree},
        {[&] { gen.genComposeKey(notSubset); }, KeyGeneratorMessages::kComposeSubset},
        {[&] { gen.genComposeKey(otherBase); }, kNotCompatibleAtAnyLevel},
        {[&] { multiGen.genComposeKey(fits); }, KeyGeneratorMessages::kNoDefaultKey},
        {[&] { multiGen.genDecomposeKey(to, fits); }, KeyGeneratorMessages::kNoDefaultKey},
    };
    const std::vector<std::pair<Call, std::string>> decompose = {
        {[&] { none.genDecomposeKey(otherDegreeTo, twiceDegree); },
         KeyGeneratorMessages::kNoDefaultKey},
        {[&] { gen.genDecomposeKey(otherDegreeTo, fits); },
         KeyGeneratorMessages::kDecomposeKeyDegree},
        {[&] { gen.genDecomposeKey(otherDegreeTo, twiceDegree); },
         KeyGeneratorMessages::kDecomposeKeyDegree},
        {[&] { gen.genDecomposeKey(to, twiceDegree); }, KeyGeneratorMessages::kDecomposeDegree},
        {[&] { gen.genDecomposeKey(toOtherBase, twiceDegree); },
         KeyGeneratorMessages::kDecomposeDegree},
        {[&] { gen.genDecomposeKey(to, notSubset); }, KeyGeneratorMessages::kDecomposeSubset},
        {[&] { gen.genDecomposeKey(to, inNeither); }, KeyGeneratorMessages::kDecomposeSubset},
        {[&] { gen.genDecomposeKey(toOtherBase, notSubset); },
         KeyGeneratorMessages::kDecomposeSubset},
        {[&] { gen.genDecomposeKey(to, notInTo); }, KeyGeneratorMessages::kDecomposeKeySubset},
        {[&] { gen.genDecomposeKey(toTwoSecrets, notInTo); },
         KeyGeneratorMessages::kDecomposeKeySubset},
        {[&] { gen.genDecomposeKey(toTwoSecrets, fits); },
         KeyGeneratorMessages::kDecomposeKeySecrets},
        // Prime 0: against the generator before any subset message, and
        // against `to` alone.
        {[&] { gen.genDecomposeKey(toOtherBase, otherBase); }, kNotCompatibleAtAnyLevel},
        {[&] { gen.genDecomposeKey(to, otherBase); }, kNotCompatibleAtAnyLevel},
        {[&] { gen.genDecomposeKey(toOtherBase, fits); }, kNotCompatibleAtAnyLevel},
    };
    auto &rng = UniformRandomBitGenerator::getInstance();
    for (const auto *table : {&compose, &decompose})
        for (std::size_t i = 0; i < table->size(); ++i) {
            SCOPED_TRACE(testing::Message()
                         << (table == &compose ? "compose " : "decompose ") << i);
            const std::string before = rng.getState();
            expectThrowsMessage((*table)[i].first, (*table)[i].second);
            EXPECT_EQ(rng.getState(), before) << "a key was drawn before the refusal";
        }
}

// ---------------------------------------------------------------------------
// Compatible level
// ---------------------------------------------------------------------------

TEST(RingKeysTest, MaxCompatibleLevel) {
    const struct {
        std::vector<u64> a, b;
        u64 level;
    } cases[] = {
        {{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, 4},
        {{0, 1, 2, 3, 4}, {0, 1, 2}, 2},
        {{0, 1, 2}, {0, 1, 2, 3, 4}, 2},
        {{0, 1, 2, 3, 4}, {0, 1, 3, 4}, 1},
        {{0, 2, 3}, {0, 1, 2, 3}, 0},
        {{0}, {0, 1, 2}, 0},
        {{0, 1}, {0}, 0},
        {{0, 1, 2, 4}, {0, 1, 2, 3}, 2},
    };
    for (const auto &c : cases) {
        const auto a = fromLarge(6, c.a), b = fromLarge(6, c.b);
        SCOPED_TRACE(testing::Message() << c.a.size() << " and " << c.b.size() << " primes");
        EXPECT_EQ(getMaxCompatibleLevel(a, b), c.level);
    }
    // The generator's own context with a small one from its chain.
    EXPECT_EQ(getMaxCompatibleLevel(large(), fromLarge(6, {0, 1, 2})), 2u);
    expectThrowsMessage(
        [] {
            getMaxCompatibleLevel(fromLarge(6, {1, 2}), fromLarge(6, {0, 2}));
        },
        kNotCompatibleAtAnyLevel);

    // The LWE form: the LWE preset SD3 holds the first four primes of the
    // ring preset SD3.
    const auto ring = makeContext(ParameterPreset::SD3);
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::SD3);
    const u64 tp = getLength(ring);
    EXPECT_EQ(getMaxCompatibleLevel(lwe, ring), 3u);
    EXPECT_EQ(getMaxCompatibleLevel(lwe, contextFromPrimes(ring, 6, {0, 1}, {tp}, 1)), 1u);
    EXPECT_EQ(getMaxCompatibleLevel(lwe, contextFromPrimes(ring, 6, {0, 2, 1}, {tp}, 1)), 0u);
    expectThrowsMessage(
        [&] { getMaxCompatibleLevel(LWE::makeContext(LWE::ParameterPreset::SS7), ring); },
        kNotCompatibleAtAnyLevel);
}
