#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/RingPacker.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/FastRemoveITestSupport.hpp"
#include "boot/FastRoadKeys.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <iostream>
#include <memory>
#include <random>
#include <vector>

// The fast removeI road at degree 2^16: the mask identity on FGfL7's
// double-degree and conjugate-invariant variants, and full-slot bootstraps
// through the road (FGfL7 outsourced to FGfOL7, FGf on its own chain) with
// the precision printed.
// Each bootstrap test makes its keys (the rotation keys of a full-slot
// bootstrap at degree 2^16 take several GiB): run one at a time.

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;
using RingSecretKey = SecretKeyBase<EncryptionType::RLWE>;

TEST(FastRemoveISlowTest, MaskIdentityOnFGfL7Variants) {
    const auto main = makeContext(ParameterPreset::FGfL7);
    const auto embed = makeContext(ParameterPreset::FGfL7, "FGfL7embed", 1, false, true);
    const auto real = makeContext(ParameterPreset::FGfL7, "FGfL7real", 1, true, false);
    std::mt19937_64 rng(7);
    const MaskIdentityErrors errors = maskIdentity(main, embed, real, rng);
    std::cout << "[ FGfL7 ] mask identity: forward " << errors.forward << ", back " << errors.back
              << "\n";
    // Measured: 2.2e-7 forward (the message scale is 2^32 there), below
    // 1e-9 back.
    EXPECT_LT(errors.forward, 1e-5);
    EXPECT_LT(errors.back, 1e-5);
}

// FGfO0 (one 58-bit prime with scale 2^58) cannot hold the product of a
// message and a mask, so there the masks and the conjugate-invariant round
// trip are checked apart: the masks decode to their halves, and a real
// vector of the double-degree ring survives the move into the
// conjugate-invariant ring and back word for word.
TEST(FastRemoveISlowTest, FGfO0MasksAndConjugateInvariantRoundTrip) {
    const auto main = makeContext(ParameterPreset::FGfO0);
    const auto embed = makeContext(ParameterPreset::FGfO0, "FGfO0embed", 1, false, true);
    const auto real = makeContext(ParameterPreset::FGfO0, "FGfO0real", 1, true, false);
    const std::vector<Plaintext> masks = FastRemoveIRoad::encodePlaintextMasks(main, embed);
    ASSERT_EQ(masks.size(), 2u);
    const u64 n = getDegree(main);
    for (u64 k = 0; k < 2; ++k) {
        const Message m = EnDecoder(embed).decode(masks[k]);
        ASSERT_EQ(m.getSize(), n);
        const std::complex<double> second(0.0, k == 0 ? -1.0 : 1.0);
        double worst = 0.0;
        for (u64 i = 0; i < n; ++i)
            worst = std::max(worst, std::abs(m[i] - (i < n / 2 ? 1.0 : second)));
        EXPECT_LT(worst, 1e-9) << k;
    }
    std::mt19937_64 rng(53);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Message w(getLogFullSlots(embed));
    for (auto &slot : w)
        slot = dist(rng);
    const Plaintext e = EnDecoder(embed).encodeWithScale(w, 0, std::ldexp(1.0, 40), true);
    Plaintext r(real);
    r.setLevel(0);
    RingPacker().conversionToReal(e, r);
    Plaintext back(embed);
    back.setLevel(0);
    back.setLogSlots(getLogFullSlots(embed));
    RingPacker().conversionToComplex(r, back);
    EXPECT_EQ(QueltTest::wordsOf(back.getMx()), QueltTest::wordsOf(e.getMx()));
}

void printPrecision(const char *preset, const char *what, const Precision &p) {
    std::cout << "[ " << preset << " ] " << what << ": mean " << p.mean << " bits, min " << p.min
              << " bits\n";
}

// FGfL7 with its own secret (weight 192) bootstraps through FGfOL7, whose
// raise runs on its sparse companion's secret, and FGfOL7's fast removeI
// road: complex and two-output results on FGfL7's chain. Its own chain is
// refused (the raise on the weight-192 secret leaves the reduction's range).
TEST(FastRemoveISlowTest, FGfL7ThroughFGfOL7FastRoad) {
    const OutsourcedFastRoad road(ParameterPreset::FGfL7);
    const PresetBootKeys &keys = road.outer;
    std::mt19937_64 rng(15);
    const Message m = randomBootMessage(rng, 15, 1.0);
    const Ciphertext in = keys.exhausted(m);
    Ciphertext out(keys.ctx, false, true);
    expectThrowsMessage([&] { keys.bootstrapper()->bootstrap(in, out, false); },
                        BootstrapperImpl::kFGfL7Message);

    road.boot->bootstrap(in, out, true);
    EXPECT_EQ(out.getContext(), keys.ctx);
    EXPECT_EQ(out.getLevel(), getEncryptionLevel(keys.ctx));
    EXPECT_EQ(out.getLogSlots(), 15u);
    const Precision p = precisionBits(keys.decrypt(out), m);
    printPrecision("FGfL7", "outsourced fast-road complex bootstrap", p);
    // Measured: mean 22.5 bits, minimum 21.1 bits; 13.3 GiB resident for
    // both sides' keys.
    EXPECT_GT(p.mean, 20.0);
    EXPECT_GT(p.min, 18.0);

    Ciphertext re(keys.ctx, false, true), im(keys.ctx, false, true);
    road.boot->bootstrap(in, re, im, 1.0);
    Message want_re(15), want_im(15);
    for (u64 i = 0; i < m.getSize(); ++i) {
        want_re[i] = m[i].real();
        want_im[i] = m[i].imag();
    }
    const Precision pr = precisionBits(keys.decrypt(re), want_re);
    const Precision pi = precisionBits(keys.decrypt(im), want_im);
    printPrecision("FGfL7", "outsourced two-output bootstrap, real part", pr);
    printPrecision("FGfL7", "outsourced two-output bootstrap, imaginary part", pi);
    // Measured: mean 23.3 bits, minimum 21.2 bits for both parts.
    EXPECT_GT(pr.mean, 20.0);
    EXPECT_GT(pi.mean, 20.0);
    EXPECT_GT(std::min(pr.min, pi.min), 18.0);
}

// keep_real on a preset's own fast road (FGf: sparse-secret fused raise):
// the result stays in the conjugate-invariant ring as the N real values
// [Re m, Im m].
TEST(FastRemoveISlowTest, FGfFullSlotRealBootstrap) {
    const FastRoadKeys keys(ParameterPreset::FGf, 15, 192);
    BootstrapperImpl boot(*keys.eval, keys.sparse, false, std::nullopt);
    keys.enableOn(boot);
    std::mt19937_64 rng(16);
    const Message m = randomBootMessage(rng, 15, 1.0);
    Ciphertext in = keys.exhausted(m);
    boot.getPipeline().checkBootstrappable(in);
    Ciphertext r(keys.ctx, false, true);
    boot.getPipeline().bootstrapOnce(in, r, true, 1.0, true);
    EXPECT_EQ(r.getContext(), keys.real);
    const Message got = keys.decryptReal(r);
    const u64 n = m.getSize();
    ASSERT_EQ(got.getSize(), 2 * n);
    Message want(getLogFullSlots(keys.embed));
    for (u64 i = 0; i < n; ++i) {
        want[i] = m[i].real();
        want[n + i] = m[i].imag();
    }
    const Precision p = precisionBits(got, want);
    std::cout << "[ FGf ] real result at level " << r.getLevel() << "\n";
    printPrecision("FGf", "fast-road real (keep_real) bootstrap", p);
    // Measured: mean 23.3 bits, minimum 21.3 bits, at level 13; 12.1 GiB.
    EXPECT_GT(p.mean, 20.0);
    EXPECT_GT(p.min, 18.0);
}

// FGf switches to its sparse secret for the raise, fuses the raise into the
// first CoeffToSlot step and reduces through the fast road: the three roads
// of a full-slot bootstrap together, with the preset's own secret weight.
TEST(FastRemoveISlowTest, FGfFullSlotBootstrapThroughSparseFusedAndFastRoads) {
    const FastRoadKeys keys(ParameterPreset::FGf, 15, 192);
    ASSERT_NE(keys.sparse, nullptr);
    Bootstrapper boot(*keys.eval, keys.sparse, false);
    keys.enableOn(boot);
    std::mt19937_64 rng(18);
    const Message m = randomBootMessage(rng, 15, 1.0);
    Ciphertext out(keys.ctx, false, true);
    boot.bootstrap(keys.exhausted(m), out, true);
    EXPECT_EQ(out.getLevel(), boot.getLevelAfterFullSlotBootstrap());
    const Precision p = precisionBits(keys.decrypt(out), m);
    std::cout << "[ FGf ] sparse, fused and fast-road complex bootstrap: mean " << p.mean
              << " bits, min " << p.min << " bits\n";
    EXPECT_GT(p.mean, 20.0);
    EXPECT_GT(p.min, 18.0);
}

} // namespace
} // namespace Quelt::test
