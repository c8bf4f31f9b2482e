#include "Quelt/Context.hpp"

#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

ParameterPreset preset(std::uint32_t value) { return static_cast<ParameterPreset>(value); }

// Custom chains, identity hashes and default scale factors computed
// independently (prime search, hash and plain rule in another language).
struct CustomCase {
    u64 log_degree, chain_length, log_bpsize, log_qpsize, log_tpsize, gadget_rank;
    std::vector<u64> primes;
    u64 hash;
    std::vector<double> factors;
};

const std::vector<CustomCase> &customCases() {
    static const std::vector<CustomCase> cases{
        {10,
         5,
         50,
         40,
         50,
         3,
         {1125899906826241, 1099511592961, 1099511590913, 1099511560193, 1099511556097,
          1125899906820097, 1125899906738177},
         0x7e50e92e035bcb48ULL,
         {39.99999974471459, 39.999999849516506, 39.99999990057385, 39.9999999059483,
          39.9999999059483}},
        {10,
         3,
         45,
         45,
         45,
         3,
         {35184371884033, 35184371961857, 35184371986433, 35184372060161},
         0xfef563f80ec411daULL,
         {44.99999999680896, 44.99999999580125, 44.99999999580125}},
        {10,
         4,
         45,
         45,
         50,
         2,
         {35184372060161, 35184371986433, 35184371961857, 35184371884033, 1125899906826241,
          1125899906820097},
         0x21fb90fb7bad6488ULL,
         {44.99999998102149, 44.99999998841137, 44.99999999160245, 44.99999999160245}},
        {6,
         3,
         50,
         50,
         50,
         3,
         {1125899906826241, 1125899906837633, 1125899906839937, 1125899906840833},
         0xa33b5b67b37f8568ULL,
         {49.9999999999995, 49.999999999996554, 49.999999999996554}},
    };
    return cases;
}

TEST(ContextIdentityTest, CustomContextsMatchIndependentHashes) {
    for (const CustomCase &c : customCases()) {
        SCOPED_TRACE("log_degree " + std::to_string(c.log_degree) + ", L " +
                     std::to_string(c.chain_length));
        const auto ctx = makeContext(c.log_degree, c.chain_length, c.log_bpsize, c.log_qpsize,
                                     c.log_tpsize, c.gadget_rank);
        EXPECT_EQ(getPrimeList(ctx), c.primes);
        EXPECT_EQ(ctx->getHash(), c.hash);
        EXPECT_EQ(utils::computeContextHash(c.primes, u64{1} << c.log_degree), c.hash);
        const std::vector<double> factors = getDefaultScaleFactorList(ctx);
        ASSERT_EQ(factors.size(), c.factors.size());
        for (u64 l = 0; l < factors.size(); ++l)
            EXPECT_NEAR(factors[l], c.factors[l], 1e-12) << "level " << l;
        // Temporary primes have no factor; custom contexts have no corrections.
        const ScaleFactors &all = ctx->getScaleFactors();
        ASSERT_EQ(all.getFactors().size(), c.primes.size());
        for (u64 l = c.chain_length; l < c.primes.size(); ++l)
            EXPECT_EQ(all.getFactors()[l], 0.0);
        for (std::int64_t correction : all.getCorrections())
            EXPECT_EQ(correction, 0);
    }
}

TEST(ContextIdentityTest, PresetHashCoversEveryPrimeAndTheDegree) {
    const auto ctx = makeContext(ParameterPreset::FGb);
    const auto &primes = PrimeModuli::getPrimeList(ParameterPreset::FGb);
    EXPECT_EQ(ctx->getHash(), utils::computeContextHash(primes, 65536));
    EXPECT_NE(ctx->getHash(), utils::computeContextHash(primes, 32768));
}

TEST(ContextGettersTest, FGbRecordAndChain) {
    const auto ctx = makeContext(ParameterPreset::FGb);
    EXPECT_EQ(getLogFullSlots(ctx), 15u);
    EXPECT_EQ(getDegree(ctx), 65536u);
    EXPECT_EQ(getRank(ctx), 1u);
    EXPECT_EQ(getNumSecret(ctx), 1u);
    EXPECT_EQ(getLength(ctx), 25u);
    EXPECT_EQ(getNumTP(ctx), 5u);
    EXPECT_EQ(getGadgetRank(ctx), 5u);
    EXPECT_EQ(getEncryptionLevel(ctx), 12u);
    EXPECT_EQ(getRemoveIBeginLevel(ctx), 0u);
    EXPECT_EQ(getRemoveIEndLevel(ctx), 0u);
    EXPECT_EQ(getGapLevel(ctx), 0u);
    EXPECT_EQ(getHammingWeight(ctx), 192u);
    EXPECT_EQ(getSecurityLevel(ctx), SecurityLevel::SL128);
    EXPECT_EQ(getParameterPreset(ctx), ParameterPreset::FGb);
    EXPECT_EQ(getParameterName(ctx), "FGb");
    EXPECT_EQ(getPrimeList(ctx), PrimeModuli::getPrimeList(ParameterPreset::FGb));
    EXPECT_EQ(getPrimeList(ctx).size(), 30u);
    const std::vector<double> factors = getDefaultScaleFactorList(ctx);
    EXPECT_EQ(factors, std::vector<double>(ctx->getScaleFactors().getFactors().begin(),
                                           ctx->getScaleFactors().getFactors().begin() + 25));
}

TEST(ContextGettersTest, PredicatesFollowTheFlags) {
    using Predicate = bool (*)(const std::shared_ptr<ContextContent> &);
    const Predicate predicates[] = {isBootstrappableParameter,
                                    isExtendedBootstrapSupported,
                                    isSparseSecretEncapsulationSupported,
                                    isDoubleHoistingSupported,
                                    isFuseModRaiseSupported,
                                    isCoeffBoot,
                                    isReRemoveI,
                                    isOutsourcedBootstrapSupported,
                                    isFullPackedBaseModulus,
                                    isAutomaticGapResolve};
    struct Case {
        ParameterPreset preset;
        std::vector<bool> expected;
    };
    // FGf: B X S T F R O; Discrete_G8A: B S F O P G; FFFMS: B X S H; FGCa: B S T C R.
    const Case cases[] = {
        {ParameterPreset::FGf, {true, true, true, false, true, false, true, true, false, false}},
        {preset(80), {true, false, true, false, true, false, false, true, true, true}},
        {ParameterPreset::FFFMS,
         {true, true, true, true, false, false, false, false, false, false}},
        {preset(74), {true, false, true, false, false, true, true, false, false, false}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("preset " + std::to_string(static_cast<std::uint32_t>(c.preset)));
        const auto ctx = makeContext(c.preset);
        for (std::size_t i = 0; i < std::size(predicates); ++i)
            EXPECT_EQ(predicates[i](ctx), c.expected[i]) << "predicate " << i;
    }
    const auto fgf = makeContext(ParameterPreset::FGf);
    EXPECT_EQ(getRemoveIBeginLevel(fgf), 21u);
    EXPECT_EQ(getRemoveIEndLevel(fgf), 13u);
}

TEST(ContextGettersTest, PowersOfFiveModuloTwiceTheDegree) {
    const auto ctx = makeContext(6, 2, 50, 40, 50, 2);
    // N = 64: 5^j mod 128.
    const u64 expected[] = {1, 5, 25, 125, 113, 53, 9, 45};
    for (u64 j = 0; j < 8; ++j)
        EXPECT_EQ(getPow(ctx, j), expected[j]);
    u64 last = 1;
    for (u64 j = 0; j < 31; ++j)
        last = last * 5 % 128;
    EXPECT_EQ(getPow(ctx, 31), last);
    EXPECT_THROW(getPow(ctx, 32), RuntimeException);
    EXPECT_THROW(getPow(ctx, ~u64{0}), RuntimeException);
}

TEST(ContextGettersTest, OutsourcingContextsHaveNoDefaultFactorsBelowTheirEncryptionLevel) {
    const auto ctx = makeContext(ParameterPreset::FGfO);
    expectThrowsMessage([&] { getDefaultScaleFactorList(ctx); }, kInvalidScaleFactorMessage);
    // The whole-copy preset keeps 23 factors but hands out its one level.
    const auto g8 = makeContext(ParameterPreset::Discrete_G8A_L0);
    EXPECT_EQ(g8->getScaleFactors().getFactors().size(), 23u);
    EXPECT_EQ(getDefaultScaleFactorList(g8).size(), 1u);
}

TEST(ContextGettersTest, NullContextIsRefused) {
    const std::shared_ptr<ContextContent> none;
    expectThrowsMessage([&] { getDegree(none); }, kNullContextMessage);
    expectThrowsMessage([&] { getPrimeList(none); }, kNullContextMessage);
    expectThrowsMessage([&] { genMultiSecretContext(none, "x", 2); }, kNullContextMessage);
    expectThrowsMessage([&] { getRotIndicesForBootstrap(none, 4, false, false); },
                        kNullContextMessage);
}

TEST(ContextFactoriesTest, DevicesAndParameterFailures) {
    expectThrowsMessage([] { makeContext(ParameterPreset::FGbL0, {0}); },
                        "Invalid CUDA device ID: 0");
    expectThrowsMessage([] { makeContext(ParameterPreset::FGbL0, {-1}); },
                        "Invalid CUDA device ID: -1");
    expectThrowsMessage([] { makeContext(ParameterPreset::CUSTOM); },
                        "Need to specify some parameters in order to use CUSTOM parameters.");
    expectThrowsMessage([] { makeContext(preset(120)); },
                        "The input parameter preset is not yet supported.");
    expectThrowsMessage([] { makeContext(5, 3, 50, 40, 50, 3); }, "[Parameter] Invalid log_degree");
    expectThrowsMessage([] { makeContext(10, 3, 50, 40, 50, 3, 2); },
                        "[Parameter] custom parameter with rank > 1 is not supported.");
    expectThrowsMessage([] { makeContext(10, 3, 62, 40, 50, 3); },
                        "[PrimeModuli] Prime size is too big. It should be < 62");
    const auto host_only = makeContext(ParameterPreset::FGbL0, {});
    EXPECT_TRUE(host_only->getDevices().empty());
}

TEST(ContextFactoriesTest, CustomFormsDefaultRankAndSecrets) {
    const auto three = makeContext(6, 3, 50, 40, 50, 3, 1, 3);
    EXPECT_EQ(getNumSecret(three), 3u);
    EXPECT_EQ(getRank(three), 1u);
    EXPECT_EQ(getParameterPreset(three), ParameterPreset::CUSTOM);
    EXPECT_EQ(getParameterName(three), "CUSTOM");
    EXPECT_EQ(getNumSecret(makeContext(6, 3, 50, 40, 50, 3, 1)), 1u);
    EXPECT_EQ(getEncryptionLevel(three), 2u);
    EXPECT_EQ(getNumTP(three), 1u);
}

TEST(ContextEqualityTest, PresetsCustomSizesAndRings) {
    const auto fgb = makeContext(ParameterPreset::FGb);
    const auto fgb_ms = makeContext(ParameterPreset::FGb, "other", 4, false, false);
    EXPECT_EQ(getParameterName(fgb_ms), "other");
    EXPECT_EQ(getNumSecret(fgb_ms), 4u);
    EXPECT_TRUE(*fgb == *fgb_ms);
    EXPECT_FALSE(*fgb != *fgb_ms);
    EXPECT_EQ(fgb->getHash(), fgb_ms->getHash());
    EXPECT_TRUE(*fgb != *makeContext(ParameterPreset::FGbL7));

    // Four and five levels with gadget rank 3 both have two temporary primes.
    const auto short_chain = makeContext(6, 4, 50, 40, 50, 3);
    const auto long_chain = makeContext(6, 5, 50, 40, 50, 3);
    const auto other_gadget = makeContext(6, 4, 50, 40, 50, 4);
    EXPECT_TRUE(*short_chain == *long_chain);
    EXPECT_NE(short_chain->getHash(), long_chain->getHash());
    EXPECT_TRUE(*short_chain != *other_gadget);
    EXPECT_TRUE(*short_chain != *makeContext(7, 4, 50, 40, 50, 3));
    EXPECT_TRUE(*short_chain != *makeContext(6, 4, 50, 40, 51, 3));
    EXPECT_TRUE(*short_chain != *fgb);
    EXPECT_TRUE(*fgb != *short_chain);
}

TEST(ContextEqualityTest, DoubleDegreeAndCyclicVariantsAreOtherRings) {
    // FGfO0 has primes = 1 mod 4N, so both variants can be built.
    const auto plain = makeContext(ParameterPreset::FGfO0);
    const auto doubled = makeContext(ParameterPreset::FGfO0, "doubled", 2, false, true);
    const auto cyclic = makeContext(ParameterPreset::FGfO0, "cyclic", 2, true, false);
    const auto renamed = makeContext(ParameterPreset::FGfO0, "renamed", 2, false, false);
    EXPECT_EQ(getDegree(doubled), 2 * getDegree(plain));
    EXPECT_TRUE(*plain != *doubled);
    EXPECT_TRUE(*doubled != *plain);
    EXPECT_TRUE(*plain != *cyclic);
    EXPECT_TRUE(*cyclic != *plain);
    EXPECT_TRUE(*plain == *renamed);
    // Same primes and degree, but the cyclic ring gets an identity of its own,
    // which its multi-secret copies keep.
    EXPECT_NE(cyclic->getHash(), plain->getHash());
    EXPECT_EQ(renamed->getHash(), plain->getHash());
    EXPECT_EQ(genMultiSecretContext(cyclic, "cyclic4", 4)->getHash(), cyclic->getHash());
    for (NttType type : cyclic->getNttTypes())
        EXPECT_EQ(type, NttType::CONJUGATE_INVARIANT);
    for (NttType type : doubled->getNttTypes())
        EXPECT_EQ(type, NttType::NEGACYCLIC);
    for (NttType type : plain->getNttTypes())
        EXPECT_EQ(type, NttType::NEGACYCLIC_SQUARE_4N);
}

TEST(ContextMultiSecretTest, CopiesKeepPrimesAndHash) {
    const auto ctx = makeContext(ParameterPreset::FGbL0);
    const auto copy = genMultiSecretContext(ctx, "renamed", 3);
    EXPECT_EQ(getParameterName(copy), "renamed");
    EXPECT_EQ(getNumSecret(copy), 3u);
    EXPECT_EQ(getParameterPreset(copy), ParameterPreset::FGbL0);
    EXPECT_EQ(getPrimeList(copy), getPrimeList(ctx));
    EXPECT_EQ(copy->getHash(), ctx->getHash());
    EXPECT_EQ(copy->getScaleFactors().getFactors(), ctx->getScaleFactors().getFactors());
    EXPECT_TRUE(*copy == *ctx);
}

TEST(ContextMultiSecretTest, VectorNamesAndSecretCounts) {
    const auto sse = makeContext(6, 2, 50, 40, 50, 2);
    EXPECT_TRUE(genMultiSecretContextVector(sse, 0, "").empty());
    const auto three = genMultiSecretContextVector(sse, 3, "");
    ASSERT_EQ(three.size(), 3u);
    for (u64 i = 0; i < 3; ++i) {
        EXPECT_EQ(getNumSecret(three[i]), u64{2} << i);
        EXPECT_EQ(three[i]->getHash(), sse->getHash());
    }
    EXPECT_EQ(getParameterName(three[2]), "CUSTOMNS8");
    EXPECT_THROW(genMultiSecretContextVector(sse, 64, ""), RuntimeException);
}

TEST(ContextMultiSecretTest, VectorOfFGbSSE) {
    const auto ctx = makeContext(ParameterPreset::FGbSSE);
    const auto named = genMultiSecretContextVector(ctx, 2, "x");
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(getParameterName(named[0]), "FGbSSENS2x");
    EXPECT_EQ(getParameterName(named[1]), "FGbSSENS4x");
    EXPECT_EQ(getNumSecret(named[1]), 4u);
}

// Expected sets derived by hand from the radix steps: the default split of
// log_slots, strides 2^(S - l_0), then division by each radix, baby counts
// 2^ceil(l_0/2) and 2^(floor(l_i/2)+1), and the giant amounts k * stride * baby.
TEST(ContextBootstrapRotationsTest, FGbFullSlots) {
    const auto ctx = makeContext(ParameterPreset::FGb);
    // {5, 5, 5}: strides 1024, 32, 1; baby 8, 8, 8; giant 4, 8, 8. No folding.
    const std::set<std::int64_t> expected{
        -16384, -8192, -1024, -768, -512, -256, -32,  -24,  -16,  -8,   0,    1,    2,
        3,      4,     5,     6,    7,    8,    16,   24,   32,   64,   96,   128,  160,
        192,    224,   256,   512,  768,  1024, 2048, 3072, 4096, 5120, 6144, 7168, 8192};
    EXPECT_EQ(getRotIndicesForBootstrap(ctx, 15, false, false), expected);
    // {4, 4, 4} in minimal-key mode, then folding by 4096, 8192 and 16384.
    const std::set<std::int64_t> min_key{-1024, -128, -8, 1, 8, 16, 128, 256, 4096, 8192, 16384};
    EXPECT_EQ(getRotIndicesForBootstrap(ctx, 12, true, false), min_key);
    expectThrowsMessage([&] { getRotIndicesForBootstrap(ctx, 21, false, false); },
                        "[RadixDecomposition] log_slots value is too large");
}

TEST(ContextBootstrapRotationsTest, OutsourcedFGfKeepsOnlySlotToCoeff) {
    const auto ctx = makeContext(ParameterPreset::FGf);
    // SlotToCoeff {4, 3, 3} minimal: strides 64, 8, 1; folding 2^10 .. 2^14.
    const std::set<std::int64_t> expected{-256, -32,  -4,   1,    4,    8,    32,
                                          64,   1024, 2048, 4096, 8192, 16384};
    EXPECT_EQ(getRotIndicesForBootstrap(ctx, 10, true, false), expected);
    const std::set<std::int64_t> folding_only{1024, 2048, 4096, 8192, 16384};
    EXPECT_EQ(getRotIndicesForBootstrap(ctx, 10, false, true), folding_only);
}

TEST(ContextBootstrapRotationsTest, FusedContextsSkipTheFirstCoeffToSlotStep) {
    // FGbSSE: CoeffToSlot {6, 3, 3, 3} from step 1 adds -64 and -4 to FGb's set.
    const auto sse = makeContext(ParameterPreset::FGbSSE);
    const std::set<std::int64_t> expected{
        -16384, -8192, -1024, -768, -512, -256, -64,  -32,  -24,  -16,  -8,   -4,   0,   1,
        2,      3,     4,     5,    6,    7,    8,    16,   24,   32,   64,   96,   128, 160,
        192,    224,   256,   512,  768,  1024, 2048, 3072, 4096, 5120, 6144, 7168, 8192};
    EXPECT_EQ(getRotIndicesForBootstrap(sse, 15, false, false), expected);
    // Discrete_G8A_OBTS: CoeffToSlot {4, 4, 3, 4}.
    const auto obts = makeContext(preset(82));
    const std::set<std::int64_t> obts_expected{-1024, -256, -64,  -32,  -8,   -4,  1,
                                               4,     8,    16,   32,   64,   128, 512,
                                               1024,  2048, 4096, 8192, 16384};
    EXPECT_EQ(getRotIndicesForBootstrap(obts, 9, true, false), obts_expected);
}

TEST(ContextBootstrapRotationsTest, RefusedContexts) {
    expectThrowsMessage(
        [] { getRotIndicesForBootstrap(makeContext(ParameterPreset::FGbL0), 4, false, false); },
        "The parameter dose not support bootstrap.");
    const auto doubled = makeContext(ParameterPreset::FGfO0, "x", 1, false, true);
    expectThrowsMessage([&] { getRotIndicesForBootstrap(doubled, 4, false, false); },
                        "The parameter dose not support bootstrap.");
}

TEST(ContextBootstrapRotationsTest, FusedContextOfAnotherDegreeIsRefused) {
    // A double-degree multi-secret variant keeps the fused flag.
    const auto doubled = makeContext(ParameterPreset::FGf, "x", 2, false, true);
    expectThrowsMessage([&] { getRotIndicesForBootstrap(doubled, 4, false, false); },
                        "Currently, FuseModRaise is only supported for degree 2^16");
}

TEST(ContextBootstrapRotationsTest, ListFormFromRunningTotals) {
    const auto ctx = makeContext(ParameterPreset::FGbL0);
    const std::set<std::int64_t> expected{
        -16384, -12288, -8192, -4096, -512, -256, -64,  -32,  -8,   -4,   0,
        1,      2,      3,     4,     8,    16,   24,   32,   64,   128,  192,
        256,    512,    1024,  1536,  2048, 2560, 3072, 3584, 4096, 8192, 12288};
    EXPECT_EQ(getRotIndicesForBootstrap(ctx, std::vector<u64>{6, 9, 12, 15}, false), expected);
    const std::set<std::int64_t> min_key{-4096, -256, -32, -4, 1, 4, 8, 32, 64, 256, 512};
    EXPECT_EQ(getRotIndicesForBootstrap(ctx, std::vector<u64>{6, 9, 12, 15}, true), min_key);
    EXPECT_THROW(getRotIndicesForBootstrap(ctx, std::vector<u64>{}, false), RuntimeException);
    EXPECT_THROW(getRotIndicesForBootstrap(ctx, std::vector<u64>{6, 3, 20}, false),
                 RuntimeException);
    expectThrowsMessage(
        [&] {
            getRotIndicesForBootstrap(ctx, std::vector<u64>{6, 6}, false);
        },
        "[RadixDecomposition] Each radix has to be non-zero.");
}

} // namespace
} // namespace Quelt

namespace Quelt {
namespace {

TEST(ContextPresetsTest, EveryPresetBuildsItsContext) {
    for (std::uint32_t v = 0; v <= 119; ++v) {
        if (v == 21)
            continue;
        SCOPED_TRACE("preset " + std::to_string(v));
        const auto ctx = makeContext(preset(v));
        const Parameter parameter(preset(v));
        EXPECT_EQ(getParameterPreset(ctx), preset(v));
        EXPECT_EQ(getDegree(ctx), parameter.degree);
        EXPECT_EQ(getLength(ctx), parameter.chain_length);
        const std::vector<u64> primes = getPrimeList(ctx);
        EXPECT_EQ(primes.size(), parameter.chain_length + parameter.num_tp);
        EXPECT_EQ(ctx->getHash(), utils::computeContextHash(primes, parameter.degree));
        const NttType expected =
            parameter.re_remove_i ? NttType::NEGACYCLIC_SQUARE_4N : NttType::NEGACYCLIC;
        for (NttType type : ctx->getNttTypes())
            EXPECT_EQ(type, expected);
    }
}

} // namespace
} // namespace Quelt
