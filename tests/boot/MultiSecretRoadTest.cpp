#include "boot/MultiSecretRoad.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "boot/BootTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

// The multi-secret road of a bootstrapper on FX and a two-secret copy of it:
// its one piece of state (the context of conjugate-invariant results), the
// entry checks of a batch and the first step of a multi-secret bootstrap.
// The roads themselves run in BootstrapMultiSecretTest and the transforms in
// BootstrapMultiSecretDFTTest.

namespace Quelt::test {
namespace {

const HomEvaluator &fxEval() {
    static const HomEvaluator eval(fxContext());
    return eval;
}

TEST(MultiSecretRoadTest, ConjInvOutputReplacesTheEarlierContext) {
    BootstrapperImpl boot(fxEval(), false, u64{1});
    MultiSecretRoad &road = boot.getMultiSecret();
    EXPECT_EQ(road.getConjInvOutputContext(), nullptr);
    road.enableConjInvOutput(degree64ThreePrimes());
    EXPECT_EQ(road.getConjInvOutputContext(), degree64ThreePrimes());
    road.enableConjInvOutput(fxContext());
    EXPECT_EQ(road.getConjInvOutputContext(), fxContext());
}

// FX has no batch support, so every batch that passes the level check stops
// there: the order of the checks shows in which message comes first.
TEST(MultiSecretRoadTest, CheckBatchBootstrappableChecksEveryCiphertextInOrder) {
    const BootstrapperImpl fx(fxEval(), false, u64{1});
    const MultiSecretRoad &road = fx.getMultiSecret();
    RingCiphertext coefficients = ciphertextAt(fxContext(), 2, 0);
    coefficients.setEncodingType(EncodingType::COEFFICIENT);
    struct Case {
        std::string name;
        std::vector<RingCiphertext> batch;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"empty", {}, BootstrapperImpl::kEmptyBatchMessage},
        // The level comes before FX's missing batch support.
        {"slot-encoded below level 3",
         {ciphertextAt(fxContext(), 2, 0)},
         BootstrapperImpl::kBatchLevelMessage},
        // A coefficient-encoded input needs no level of its own.
        {"coefficient-encoded below level 3",
         {coefficients},
         BootstrapperImpl::kNoBatchBootstrapMessage},
        {"counter 1 at level 3",
         {ciphertextAt(fxContext(), 3, 1)},
         BootstrapperImpl::kNoBatchBootstrapMessage},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage([&] { road.checkBatchBootstrappable(c.batch); }, c.message);
    }
}

// The first step of a multi-secret bootstrap on a two-secret copy of FX: down
// to level 3, each slot times mult_before_s2c (8 on FX).
TEST(MultiSecretRoadTest, MStoSSStepOneLevelsDownAndMultiplies) {
    const auto ctx = genMultiSecretContext(fxContext(), "FXTwoSecrets", 2);
    const HomEvaluator eval(ctx);
    const BootstrapperImpl boot(eval, false, u64{1});
    const SchemeKeys<EncryptionType::MSRLWE> keys(ctx);
    std::mt19937_64 rng(7);
    Messages messages = randomMessages(getLogFullSlots(ctx), 2, rng);
    const auto ct = keys.encrypt(messages, 10);

    const auto out = boot.getMultiSecret().bootstrapMStoSSStepOne(ct);
    EXPECT_EQ(out.getLevel(), 3u);
    EXPECT_EQ(out.getRescaleCounter(), 0);
    EXPECT_EQ(ct.getLevel(), 10u);
    for (Message &m : messages)
        for (auto &slot : m)
            slot *= 8.0;
    EXPECT_LT(largestSlotError(keys.decrypt(out), messages), 1e-6);
}

} // namespace
} // namespace Quelt::test
