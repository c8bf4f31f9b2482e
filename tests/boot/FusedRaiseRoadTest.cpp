#include "boot/FusedRaiseRoad.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "client/ExtendedEncoding.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

// The fused-raise road on its own, over FX: FX does not fuse its raise (so a
// bootstrapper over it leaves its road empty), but it has the temporary
// primes the road's prime set and constants are made of, so the installation
// and the preparation run here at degree 64. The first CoeffToSlot step needs
// the fused rotation keys of a fusing preset (degree 2^16) and is checked
// numerically by the slow tests.

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;

FusedRaiseRoad fxRoad() {
    return FusedRaiseRoad(fxContext(), detail::HomEvaluatorAccess::impl(fxBootEval()));
}

// Two diagonals as the constants of a fusing preset hold them: mod-up
// plaintexts at the top level, whose temporary limbs carry q_L and q_(L+1).
std::vector<Plaintext> extendedDiagonals() {
    const auto &ctx = fxContext();
    std::vector<Plaintext> out;
    for (double v : {0.25, -0.5}) {
        Message m(getLogFullSlots(ctx));
        for (u64 i = 0; i < m.getSize(); ++i)
            m[i] = {v + 0.01 * static_cast<double>(i), -v};
        out.push_back(detail::encodeExtendedWithScale(ctx, m, getLength(ctx) - 1, 1024.0));
    }
    return out;
}

// A road installed with extendedDiagonals().
FusedRaiseRoad installedRoad() {
    FusedRaiseRoad road = fxRoad();
    road.install(road.makePrimeSet(), extendedDiagonals());
    return road;
}

// A level-0 ciphertext in coefficient form, its residues spread over q_0.
Ciphertext levelZero(u64 seed) {
    Ciphertext ct(fxContext(), false, false);
    ct.setLevel(0);
    QueltTest::fillResidues(ct.getPoly(0), seed);
    QueltTest::fillResidues(ct.getPoly(1), seed + 1);
    return ct;
}

// The residues of every limb of p up to its level.
std::vector<u64> residues(const Polynomial &p) {
    return std::vector<u64>(p.getLimb(0), p.getLimb(0) + (p.getLevel() + 1) * p.getDegree());
}

// x mod q_0 lifted centred and reduced modulo q.
u64 centredLift(u64 x, u64 q0, u64 q) {
    if (x <= q0 / 2)
        return x % q;
    const u64 negative = (q0 - x) % q;
    return negative == 0 ? 0 : q - negative;
}

TEST(FusedRaiseRoadTest, AnEmptyRoadRefusesBeforeTouchingItsOperands) {
    const FusedRaiseRoad road = fxRoad();
    EXPECT_EQ(road.getPrimeModuli(), nullptr);
    EXPECT_FALSE(road.getConstants().contains(kHostDevice));
    Ciphertext ct = levelZero(3);
    const Ciphertext before = ct;
    expectThrowsMessage([&] { road.prepare(ct); }, FusedRaiseRoad::kNoFusedRaiseMessage);
    expectThrowsMessage([&] { road.multiplyByWord(ct, 3); }, FusedRaiseRoad::kNoFusedRaiseMessage);
    // A factor of 1 has nothing to multiply.
    road.multiplyByWord(ct, 1);
    Ciphertext out(fxContext(), false, true);
    const BootParameter boot_param(fxContext());
    expectThrowsMessage([&] { road.firstStepOfC2S(ct, out, boot_param); },
                        FusedRaiseRoad::kNoFusedRaiseMessage);
    for (u64 p = 0; p < 2; ++p) {
        EXPECT_EQ(ct.getPoly(p).getLevel(), 0u);
        EXPECT_EQ(residues(ct.getPoly(p)), residues(before.getPoly(p)));
    }
}

// A bootstrapper over a context that does not fuse its raise keeps its road
// empty and refuses the fused steps with the road's message.
TEST(FusedRaiseRoadTest, ABootstrapperOfANonFusingContextKeepsItEmpty) {
    const BootstrapperImpl boot(fxBootEval(), false, u64{0});
    EXPECT_EQ(boot.getFusedRaise().getPrimeModuli(), nullptr);
    Ciphertext ct = levelZero(5);
    Ciphertext out(fxContext(), false, true);
    expectThrowsMessage(
        [&] { boot.getFusedRaise().firstStepOfC2S(ct, out, boot.getBootParameter()); },
        FusedRaiseRoad::kNoFusedRaiseMessage);
    expectThrowsMessage([&] { boot.getFusedRaise().multiplyByWord(ct, 2); },
                        FusedRaiseRoad::kNoFusedRaiseMessage);
}

TEST(FusedRaiseRoadTest, PrimeSetIsTheBasePrimeAndTheSecondTemporaryPrime) {
    const auto &ctx = fxContext();
    const u64 L = getLength(ctx);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    ASSERT_GE(chain.getModuli().size(), L + 2);
    const std::shared_ptr<PrimeModuli> set = fxRoad().makePrimeSet();
    ASSERT_EQ(set->getModuli().size(), 2u);
    EXPECT_EQ(set->getModulus(0).getPrime(), chain.getModulus(0).getPrime());
    EXPECT_EQ(set->getModulus(1).getPrime(), chain.getModulus(L + 1).getPrime());
}

TEST(FusedRaiseRoadTest, InstallKeepsTheResiduesOfTheTwoFusedPrimes) {
    const auto &ctx = fxContext();
    const u64 L = getLength(ctx);
    const u64 N = getDegree(ctx);
    FusedRaiseRoad road = fxRoad();
    const std::vector<Plaintext> diagonals = extendedDiagonals();
    road.install(road.makePrimeSet(), diagonals);
    ASSERT_NE(road.getPrimeModuli(), nullptr);
    const std::vector<Polynomial> &constants = road.getConstants().at(kHostDevice);
    ASSERT_EQ(constants.size(), diagonals.size());
    for (u64 d = 0; d < diagonals.size(); ++d) {
        SCOPED_TRACE(d);
        const Polynomial &mx = diagonals[d].getMx();
        EXPECT_EQ(constants[d].getLevel(), 1u);
        EXPECT_TRUE(constants[d].isNTT());
        const std::vector<u64> limb0(constants[d].getLimb(0), constants[d].getLimb(0) + N);
        const std::vector<u64> limb1(constants[d].getLimb(1), constants[d].getLimb(1) + N);
        EXPECT_EQ(limb0, std::vector<u64>(mx.getLimb(0), mx.getLimb(0) + N));
        EXPECT_EQ(limb1, std::vector<u64>(mx.getLimb(L + 1), mx.getLimb(L + 1) + N));
    }
}

// The diagonals of a non-fusing preset stop at the chain: the road refuses
// them and stays empty.
TEST(FusedRaiseRoadTest, InstallRefusesDiagonalsWithoutTheTemporaryPrime) {
    const auto &ctx = fxContext();
    const BootstrapperImpl boot(fxBootEval(), false, std::nullopt);
    const std::vector<Plaintext> &diagonals =
        boot.getConstants().findBootConstants(getLogFullSlots(ctx))->getInvV0(kHostDevice, 0);
    FusedRaiseRoad road = fxRoad();
    expectThrowsMessage([&] { road.install(road.makePrimeSet(), diagonals); },
                        BootConstants::kFusedPrimeMessage);
    EXPECT_EQ(road.getPrimeModuli(), nullptr);
    EXPECT_FALSE(road.getConstants().contains(kHostDevice));
}

// Each body becomes its residues mod q_0 lifted centred to {q_0, q_(L+1)},
// the mask its lift to q_0 .. q_(L+1); both in NTT form. Refused inputs
// carry the level-recovery messages and stay unchanged.
TEST(FusedRaiseRoadTest, PrepareLiftsBodiesAndMaskCentred) {
    const auto &ctx = fxContext();
    const u64 L = getLength(ctx);
    const u64 N = getDegree(ctx);
    const FusedRaiseRoad road = installedRoad();
    const PrimeModuli &chain = ctx->getPrimeModuli();
    const u64 q0 = chain.getModulus(0).getPrime();

    Ciphertext ct = levelZero(7);
    const Ciphertext before = ct;
    road.prepare(ct);
    Polynomial body = ct.getPoly(0);
    Polynomial mask = ct.getPoly(1);
    EXPECT_EQ(body.getLevel(), 1u);
    EXPECT_EQ(mask.getLevel(), L + 1);
    ASSERT_TRUE(body.isNTT());
    ASSERT_TRUE(mask.isNTT());
    road.getPrimeModuli()->backwardNTT<OutputModulusBoundValidator, 1>(
        body, body, OutputModulusBoundValidator(0, 2));
    chain.backwardNTT<OutputModulusBoundValidator, 1>(mask, mask,
                                                      OutputModulusBoundValidator(0, L + 2));
    const u64 q_fused = chain.getModulus(L + 1).getPrime();
    for (u64 i = 0; i < N; ++i) {
        const u64 b = before.getPoly(0).getLimb(0)[i];
        ASSERT_EQ(body.getLimb(0)[i], b);
        ASSERT_EQ(body.getLimb(1)[i], centredLift(b, q0, q_fused));
        const u64 a = before.getPoly(1).getLimb(0)[i];
        for (u64 t = 0; t < L + 2; ++t)
            ASSERT_EQ(mask.getLimb(t)[i], centredLift(a, q0, chain.getModulus(t).getPrime()))
                << "limb " << t;
    }

    Ciphertext wrong_level = before;
    wrong_level.setLevel(1);
    expectThrowsMessage([&] { road.prepare(wrong_level); }, BootstrapperImpl::kRecoverLevelMessage);
    Ciphertext counted = before;
    counted.setRescaleCounter(1);
    expectThrowsMessage([&] { road.prepare(counted); }, BootstrapperImpl::kRecoverCounterMessage);
    Ciphertext ntt = before;
    ntt.forwardNTT();
    const Ciphertext ntt_before = ntt;
    expectThrowsMessage([&] { road.prepare(ntt); }, BootstrapperImpl::kRecoverNTTMessage);
    EXPECT_EQ(residues(ntt.getPoly(0)), residues(ntt_before.getPoly(0)));
}

// multiplyByWord multiplies the bodies over the fused set and the mask over
// the raised primes, limb by limb.
TEST(FusedRaiseRoadTest, MultiplyByWordScalesEveryLimb) {
    const auto &ctx = fxContext();
    const u64 L = getLength(ctx);
    const u64 N = getDegree(ctx);
    const FusedRaiseRoad road = installedRoad();
    Ciphertext ct = levelZero(9);
    road.prepare(ct);
    const Ciphertext prepared = ct;
    constexpr u64 kFactor = 12345;
    road.multiplyByWord(ct, kFactor);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    for (u64 i = 0; i < N; ++i) {
        for (u64 t : {u64{0}, u64{1}}) {
            const u64 q = road.getPrimeModuli()->getModulus(t).getPrime();
            ASSERT_EQ(ct.getPoly(0).getLimb(t)[i],
                      mulModRef(prepared.getPoly(0).getLimb(t)[i], kFactor, q));
        }
        for (u64 t = 0; t < L + 2; ++t)
            ASSERT_EQ(ct.getPoly(1).getLimb(t)[i],
                      mulModRef(prepared.getPoly(1).getLimb(t)[i], kFactor,
                                chain.getModulus(t).getPrime()));
    }
}

} // namespace
} // namespace Quelt::test
