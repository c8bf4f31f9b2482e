#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/FastRemoveIRoad.hpp"
#include "boot/FastRemoveITestSupport.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <memory>

// The enable operations of the fast removeI road and its masks on FX
// (degree 64) and its double-degree and conjugate-invariant variants. The
// road itself needs degree 2^16 presets (FastRemoveISlowTest.cpp).

namespace Quelt::test {
namespace {

using Complex = std::complex<double>;

class FastRemoveITest : public SchemeFixture {
protected:
    static const std::shared_ptr<ContextContent> &embedContext() {
        static const auto ctx = makeContext(ParameterPreset::FX, "FXembed", 1, false, true);
        return ctx;
    }
    static const std::shared_ptr<ContextContent> &conjInvContext() {
        static const auto ctx = makeContext(ParameterPreset::FX, "FXreal", 1, true, false);
        return ctx;
    }

    const HomEvaluator eval{context(), keyPack()};
    const Interpolator interp{eval};
    const RingSwitchKey key{embedContext()};
    const RingSwitchKey key_back{embedContext()};
};

TEST_F(FastRemoveITest, EnableStoresTheStateAndMakesTheMasks) {
    BootstrapperImpl boot(eval, false, 0);
    EXPECT_TRUE(boot.getFastRemoveI().getMasks().empty());
    EXPECT_FALSE(boot.getFastRemoveI().getEmbedEvaluator());
    boot.enableFastRemoveI(embedContext(), conjInvContext(), key, key_back, interp);
    EXPECT_EQ(boot.getFastRemoveI().getConjInvContext(), conjInvContext());
    ASSERT_TRUE(boot.getFastRemoveI().getEmbedEvaluator());
    EXPECT_EQ(boot.getFastRemoveI().getEmbedEvaluator()->getContext(), embedContext());
    EXPECT_NE(boot.getFastRemoveI().getEmbedEvaluator(), boot.getEvaluator());
    ASSERT_TRUE(boot.getFastRemoveI().getInterpolator());
    EXPECT_EQ(&boot.getFastRemoveI().getInterpolator()->getEval(), &interp.getEval());
    EXPECT_FALSE(boot.getFastRemoveI().getComplexEvaluator());

    // Mask 0: 1 on the first half of the embedding ring's N slots, -i on
    // the second, at the remove-I begin level; mask 1: 1 and +i at the end
    // level. Only the host holds them.
    const std::vector<Plaintext> &masks = boot.getFastRemoveI().getMasks();
    ASSERT_EQ(masks.size(), 2u);
    const EnDecoder decoder(embedContext());
    const u64 n = u64{1} << getLogFullSlots(embedContext());
    EXPECT_EQ(n, getDegree(context()));
    for (u64 k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(masks[k].getMx().getDegree(), 2 * getDegree(context()));
        EXPECT_EQ(masks[k].getLevel(),
                  k == 0 ? getRemoveIBeginLevel(context()) : getRemoveIEndLevel(context()));
        const Message m = decoder.decode(masks[k]);
        ASSERT_EQ(m.getSize(), n);
        const Complex second(0.0, k == 0 ? -1.0 : 1.0);
        for (u64 i = 0; i < n; ++i)
            ASSERT_LT(std::abs(m[i] - (i < n / 2 ? Complex(1.0) : second)), 1e-9) << i;
    }
    ASSERT_EQ(boot.getFastRemoveI().getMasksByDevice().size(), 1u);
    const std::vector<Plaintext> &host = boot.getFastRemoveI().getMasksByDevice().at(kHostDevice);
    ASSERT_EQ(host.size(), 2u);
    for (u64 k = 0; k < 2; ++k)
        EXPECT_EQ(QueltTest::wordsOf(host[k].getMx()), QueltTest::wordsOf(masks[k].getMx()));
}

// A second call replaces contexts, evaluator and interpolator, but the
// masks stay those encoded for the first embedding context (the second
// one here is FX itself, of half the degree: nothing about the contexts is
// checked).
TEST_F(FastRemoveITest, EnablingTwiceKeepsTheFirstMasks) {
    BootstrapperImpl boot(eval, false, 0);
    boot.enableFastRemoveI(embedContext(), conjInvContext(), key, key_back, interp);
    const std::vector<u64> first = QueltTest::wordsOf(boot.getFastRemoveI().getMasks()[0].getMx());
    const auto other_real = makeContext(ParameterPreset::FX, "FXreal2", 1, true, false);
    const Interpolator other_interp(eval);
    boot.enableFastRemoveI(context(), other_real, RingSwitchKey(context()),
                           RingSwitchKey(context()), other_interp);
    EXPECT_EQ(boot.getFastRemoveI().getConjInvContext(), other_real);
    EXPECT_EQ(boot.getFastRemoveI().getEmbedEvaluator()->getContext(), context());
    EXPECT_EQ(&boot.getFastRemoveI().getInterpolator()->getEval(), &other_interp.getEval());
    ASSERT_EQ(boot.getFastRemoveI().getMasks().size(), 2u);
    EXPECT_EQ(boot.getFastRemoveI().getMasks()[0].getMx().getDegree(), 2 * getDegree(context()));
    EXPECT_EQ(QueltTest::wordsOf(boot.getFastRemoveI().getMasks()[0].getMx()), first);
    EXPECT_EQ(
        QueltTest::wordsOf(boot.getFastRemoveI().getMasksByDevice().at(kHostDevice)[0].getMx()),
        first);
}

TEST_F(FastRemoveITest, MultiSecretFormAlsoSetsTheComplexAndOutputEvaluators) {
    BootstrapperImpl boot(eval, false, 0);
    const HomEvaluator output(context(), keyPack());
    boot.enableFastRemoveIMSRLWE(embedContext(), context(), conjInvContext(), key, key_back, interp,
                                 output);
    ASSERT_TRUE(boot.getFastRemoveI().getComplexEvaluator());
    EXPECT_EQ(boot.getFastRemoveI().getComplexEvaluator()->getContext(), context());
    EXPECT_NE(boot.getFastRemoveI().getComplexEvaluator(), boot.getEvaluator());
    EXPECT_EQ(boot.getOutsourced().getOutputEvaluator(), detail::HomEvaluatorAccess::impl(output));
    EXPECT_EQ(boot.getFastRemoveI().getMasks().size(), 2u);
}

// The road on its own, without a bootstrapper: empty, it refuses the
// complex road and lacks the multi-secret state; enabled, it has both, and
// the multi-secret form adds the complex evaluator alone.
TEST_F(FastRemoveITest, TheRoadStandsAlone) {
    FastRemoveIRoad road(context());
    EXPECT_FALSE(road.hasMultiSecretState());
    expectThrowsMessage([&] { road.require(); }, FastRemoveIRoad::kFastRemoveINotEnabledMessage);
    road.enable(embedContext(), conjInvContext(), key, key_back, interp);
    EXPECT_TRUE(road.hasMultiSecretState());
    EXPECT_NO_THROW(road.require());
    EXPECT_FALSE(road.getComplexEvaluator());
    const std::vector<u64> mask = QueltTest::wordsOf(road.getMasks()[1].getMx());
    road.enableMultiSecret(embedContext(), context(), conjInvContext(), key, key_back, interp);
    ASSERT_TRUE(road.getComplexEvaluator());
    EXPECT_EQ(road.getComplexEvaluator()->getContext(), context());
    EXPECT_EQ(QueltTest::wordsOf(road.getMasks()[1].getMx()), mask);
}

TEST_F(FastRemoveITest, OutsourcedFormWithoutInnerBootstrapperChangesNothing) {
    BootstrapperImpl boot(eval, false, 0);
    const HomEvaluator output(context(), keyPack());
    expectThrowsMessage(
        [&] {
            boot.enableOutsourcedFastRemoveIMSRLWE(context(), embedContext(), context(),
                                                   conjInvContext(), key, key_back, interp, output);
        },
        "[Bootstrapper] There is no internal outsourced bootstrapper. Enable outsourcing first");
    EXPECT_FALSE(boot.getOutsourced().getOutsourcedContext());
    EXPECT_FALSE(boot.getOutsourced().getOutputEvaluator());
    EXPECT_FALSE(boot.getFastRemoveI().getEmbedEvaluator());
    EXPECT_FALSE(boot.getFastRemoveI().getConjInvContext());
    EXPECT_FALSE(boot.getFastRemoveI().getInterpolator());
    EXPECT_TRUE(boot.getFastRemoveI().getMasks().empty());
    EXPECT_TRUE(boot.getFastRemoveI().getMasksByDevice().empty());
}

// The public facade forwards: the masks appear on the shared state.
TEST_F(FastRemoveITest, FacadeForwards) {
    Bootstrapper boot(eval, 0, false);
    boot.enableFastRemoveI(embedContext(), conjInvContext(), key, key_back, interp);
    const HomEvaluator output(context(), keyPack());
    boot.enableFastRemoveIMSRLWE(embedContext(), context(), conjInvContext(), key, key_back, interp,
                                 output);
    expectThrowsMessage(
        [&] {
            boot.enableOutsourcedFastRemoveIMSRLWE(context(), embedContext(), context(),
                                                   conjInvContext(), key, key_back, interp, output);
        },
        BootstrapperImpl::kNoInnerForFastRemoveIMessage);
}

// A mask level the embedding context does not have: the encoder refuses and
// nothing is stored.
TEST_F(FastRemoveITest, FailedEnableStoresNothing) {
    const auto flagged = withParameter(context(), [](Parameter &p) {
        p.remove_i_begin_level = 40;
        p.remove_i_end_level = 30;
    });
    const HomEvaluator flagged_eval(flagged, keyPack());
    BootstrapperImpl boot(flagged_eval, false, 0);
    EXPECT_ANY_THROW(
        boot.enableFastRemoveI(embedContext(), conjInvContext(), key, key_back, interp));
    EXPECT_FALSE(boot.getFastRemoveI().getEmbedEvaluator());
    EXPECT_FALSE(boot.getFastRemoveI().getConjInvContext());
    EXPECT_TRUE(boot.getFastRemoveI().getMasks().empty());
}

// Without an enable operation the conversion back refuses; a complex
// bootstrap on a re-remove-I context does too (BootstrapPipelineTest).
TEST_F(FastRemoveITest, RoadPiecesRefuseBeforeEnabling) {
    const BootstrapperImpl boot(eval, false, 0);
    const RingCiphertext r = encrypt(randomMessage());
    RingCiphertext out(context(), false, true);
    expectThrowsMessage(
        [&] {
            boot.getFastRemoveI().convertConjugateInvariantCiphertextToComplex(
                r, out, HomEvaluatorImpl(context()));
        },
        FastRemoveIRoad::kFastRemoveINotEnabledMessage);
}

// The mask identity (see FastRemoveITestSupport.hpp) on FX's variants, with
// FX's remove-I levels set to 2 and 1 so that a product with a mask has room
// above the primes' scale; FGfL7 is in FastRemoveISlowTest.cpp.
TEST_F(FastRemoveITest, MaskIdentity) {
    const auto flagged = withParameter(context(), [](Parameter &p) {
        p.remove_i_begin_level = 2;
        p.remove_i_end_level = 1;
    });
    const MaskIdentityErrors errors = maskIdentity(flagged, embedContext(), conjInvContext(), rng);
    // Measured: about 1e-11 both ways.
    EXPECT_LT(errors.forward, 1e-8) << errors.forward;
    EXPECT_LT(errors.back, 1e-8) << errors.back;
}

} // namespace
} // namespace Quelt::test
