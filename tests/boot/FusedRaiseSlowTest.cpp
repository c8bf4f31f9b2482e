// The fused modulus raise on the fusing presets (degree 2^16): the fused
// first CoeffToSlot step against the plain step-0 transform, its missing-key
// message, its multi-secret form, and full-slot bootstraps through it.
// Each test makes its own keys and constants: run them one at a time.

#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootTestSupport.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/DftMatrices.hpp"
#include "boot/FusedBootKeys.hpp"
#include "boot/SparseComplexMatrix.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
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

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;
using MSCiphertext = CiphertextBase<EncryptionType::MSRLWE>;

// factor * A v for the sparse step matrix A.
Message applyStep(const SparseComplexMatrix &a, const Message &v, double factor) {
    Message out(v.getLogSlots());
    std::fill(out.begin(), out.end(), std::complex<double>(0.0, 0.0));
    for (auto it = a.begin(); it != a.end(); ++it)
        if (!it.isEmpty())
            out[it.row()] += it.value() * v[it.col()];
    for (auto &x : out)
        x *= factor;
    return out;
}

// `got` is the first CoeffToSlot step (A_0 times the step factor, in
// message arithmetic) of `lifted`, up to a relative 10^-6.
void expectStepZeroOf(const std::shared_ptr<ContextContent> &ctx, const Message &lifted,
                      const Message &got) {
    const u64 full = getLogFullSlots(ctx);
    const BootParameter bp(ctx);
    const RadixDecomposition rd = bp.getRadixDecForC2S(full);
    std::vector<SparseComplexMatrix> stages;
    dftmatrix::buildInvV0(full, stages);
    const SparseComplexMatrix a0 = dftmatrix::stepMatrix(stages, rd.bit_ranges[0], true);
    const double factor = std::pow(bp.c2s_scale, 1.0 / static_cast<double>(bp.c2s_level_cost));
    const Message want = applyStep(a0, lifted, factor);

    double largest = 0.0;
    for (const auto &x : want)
        largest = std::max(largest, std::abs(x));
    const double error = maxDistance(got, want);
    std::cout << "fused first step: largest value " << largest << ", largest error " << error
              << "\n";
    ASSERT_GT(largest, 1.0);
    EXPECT_LT(error, 1e-6 * largest);
}

// A slot-encoded encryption of a random full-slot message at level 0.
Ciphertext levelZeroCiphertext(const std::shared_ptr<ContextContent> &ctx,
                               const SecretKeyBase<EncryptionType::RLWE> &sk, u64 seed) {
    std::mt19937_64 rng(seed);
    const Message m = randomBootMessage(rng, getLogFullSlots(ctx), 1.0);
    Ciphertext ct(ctx, false, true);
    Encryptor(ctx).encrypt(m, sk, ct);
    const KeyPack empty(ctx);
    HomEvaluator(ctx, empty).levelDown(ct, 0, ct);
    return ct;
}

// Full-slot bootstrap keys of a fusing preset: encryption, multiplication,
// conjugation and the minimal rotation keys (min_key, to keep the memory of a
// test near 4 GiB), and the fused rotation keys (made for the
// sparse secret when a sparse companion is given).
struct FusedBoot {
    explicit FusedBoot(ParameterPreset preset, bool sparse_secret = false)
        : ctx(makeContext(preset)),
          sparse(sparse_secret ? makeContext(getSparseParameterPresetFor(preset)) : nullptr),
          secret_key(ctx), pack(sparse ? KeyPack(ctx, sparse) : KeyPack(ctx)) {
        const KeyGenerator generator = sparse ? KeyGenerator(ctx, sparse, secret_key, pack)
                                              : KeyGenerator(ctx, secret_key, pack);
        generator.genEncKey();
        generator.genMultKey();
        generator.genConjKey();
        genFusedBootstrapRotKeys(generator, ctx, true, sparse != nullptr);
        eval = std::make_unique<HomEvaluator>(ctx, pack);
    }

    std::shared_ptr<ContextContent> ctx;
    std::shared_ptr<ContextContent> sparse;
    SecretKeyBase<EncryptionType::RLWE> secret_key;
    KeyPack pack;
    std::unique_ptr<HomEvaluator> eval;
};

void fullSlotBootstrap(const FusedBoot &fb, const char *name) {
    const Bootstrapper boot =
        fb.sparse ? Bootstrapper(*fb.eval, fb.sparse, true) : Bootstrapper(*fb.eval, true);
    const u64 full = getLogFullSlots(fb.ctx);
    std::mt19937_64 rng(29);
    const Message m = randomBootMessage(rng, full, 1.0);
    Ciphertext ct(fb.ctx, false, true);
    Encryptor(fb.ctx).encrypt(m, fb.pack, ct);
    fb.eval->levelDown(ct, 3, ct);
    Ciphertext out(fb.ctx, false, true);
    boot.bootstrap(ct, out, true);
    EXPECT_EQ(out.getLevel(), boot.getLevelAfterFullSlotBootstrap());
    EXPECT_EQ(out.getLogSlots(), full);
    Message got;
    Decryptor(fb.ctx).decrypt(out, fb.secret_key, got);
    const Precision p = precisionBits(got, m);
    std::cout << "[ " << name << " ] full-slot complex bootstrap through the fused raise: mean "
              << p.mean << " bits, min " << p.min << " bits\n";
    // Measured over 2^15 slots: FGe mean 24.4 bits, minimum 21.8 bits;
    // FGbSSE (K = 128/11, one double angle) mean 22.5 bits, minimum 21.2 bits.
    EXPECT_GT(p.mean, 21.0);
    EXPECT_GT(p.min, 19.0);
}

} // namespace

// The fused step on a prepared level-0 ciphertext decrypts to the step-0
// transform (with its factor) of what the ordinary raise decrypts to,
// m + q_0 I decoded.
namespace {

void expectPlainStepZero(ParameterPreset preset) {
    const auto ctx = makeContext(preset);
    const SecretKeyBase<EncryptionType::RLWE> sk(ctx);
    const KeyPack pack(ctx);
    KeyGenerator(ctx, sk, pack).genFuseRotKeyBundle();
    const HomEvaluator eval(ctx, pack);
    const BootstrapperImpl impl(eval, false, std::nullopt);
    const u64 full = getLogFullSlots(ctx);
    const u64 L = getLength(ctx);

    const Ciphertext ct = levelZeroCiphertext(ctx, sk, 7);
    // Reference: the ordinary raise to level L - 1, decrypted.
    Ciphertext raised = ct;
    raised.backwardNTT();
    impl.getTransforms().levelRecover(raised, raised, L - 1);
    raised.forwardNTT();
    Message lifted;
    Decryptor(ctx).decrypt(raised, sk, lifted);

    Ciphertext t = ct;
    t.backwardNTT();
    impl.getFusedRaise().prepare(t);
    EXPECT_EQ(t.getPoly(0).getLevel(), 1u);
    EXPECT_EQ(t.getPoly(1).getLevel(), L + 1);
    impl.getFusedRaise().firstStepOfC2S(t, t, impl.getBootParameter());
    EXPECT_EQ(t.getLevel(), L - 1);
    EXPECT_EQ(t.getRescaleCounter(), 0);
    EXPECT_EQ(t.getLogSlots(), full);
    EXPECT_TRUE(t.getPoly(0).isNTT());
    Message got;
    Decryptor(ctx).decrypt(t, sk, got);

    expectStepZeroOf(ctx, lifted, got);
}

} // namespace

TEST(FusedRaiseSlowTest, FirstStepMatchesThePlainStepZeroOnFGe) {
    expectPlainStepZero(ParameterPreset::FGe);
}

// The same on the primes of FGbSSE, with fused keys of the main secret.
TEST(FusedRaiseSlowTest, FirstStepMatchesThePlainStepZeroOnFGbSSE) {
    expectPlainStepZero(ParameterPreset::FGbSSE);
}

TEST(FusedRaiseSlowTest, MissingFuseKeyOfIndexZeroOnFGe) {
    const auto ctx = makeContext(ParameterPreset::FGe);
    const SecretKeyBase<EncryptionType::RLWE> sk(ctx);
    const KeyPack pack(ctx);
    const HomEvaluator eval(ctx, pack);
    const BootstrapperImpl impl(eval, false, std::nullopt);
    Ciphertext t = levelZeroCiphertext(ctx, sk, 8);
    t.backwardNTT();
    impl.getFusedRaise().prepare(t);
    Ciphertext out(ctx, false, true);
    expectThrowsMessage(
        [&] { impl.getFusedRaise().firstStepOfC2S(t, out, impl.getBootParameter()); },
        "Failed to load the fuse rotation key for index 0");
    // An ordinary ciphertext is not a prepared one.
    const Ciphertext plain = levelZeroCiphertext(ctx, sk, 9);
    expectThrowsMessage(
        [&] { impl.getFusedRaise().firstStepOfC2S(plain, out, impl.getBootParameter()); },
        FusedRaiseRoad::kFusedInputMessage);
}

// k secrets: k bodies over the fused prime set and one mask in, k + 1
// ordinary polynomials of the chain out, at level L - 1 with counter 0; body
// i plus mask times s_i decodes to the first step of what the ordinary raise
// gives for secret i.
TEST(FusedRaiseSlowTest, MultiSecretFormOnFGbMS) {
    const auto ctx = makeContext(ParameterPreset::FGbMS);
    const u64 k = getNumSecret(ctx);
    ASSERT_GE(k, 2u);
    const SecretKeyBase<EncryptionType::MSRLWE> sk(ctx);
    const KeyPack pack(ctx);
    KeyGenerator(ctx, sk, pack).genFuseRotKeyBundle();
    const HomEvaluator eval(ctx, pack);
    const BootstrapperImpl impl(eval, false, std::nullopt);
    const u64 L = getLength(ctx);

    // Random residues mod q_0 in coefficient form at level 0.
    MSCiphertext ct = randomLevelZeroMultiSecret(ctx, 11);
    ct.setLogSlots(getLogFullSlots(ctx));
    MSCiphertext raised = ct;
    impl.getTransforms().levelRecover(raised, raised, L - 1);
    raised.forwardNTT();

    impl.getFusedRaise().prepare(ct);
    MSCiphertext out(ctx, false, true);
    impl.getFusedRaise().firstStepOfC2S(ct, out, impl.getBootParameter());
    EXPECT_EQ(out.getNumPoly(), k + 1);
    EXPECT_EQ(out.getLevel(), L - 1);
    EXPECT_EQ(out.getRescaleCounter(), 0);
    for (u64 i = 0; i <= k; ++i) {
        EXPECT_TRUE(out.getPoly(i).isNTT());
        EXPECT_EQ(out.getPoly(i).getSize(), L);
    }

    // Body i + mask s_i, decoded at level L - 1.
    const PrimeModuli &chain = ctx->getPrimeModuli();
    const EnDecoder decoder(ctx);
    const auto phase = [&](const MSCiphertext &c, u64 i) {
        Plaintext pt(ctx);
        Polynomial product = c.getPoly(k);
        chain.hadamardMult(c.getPoly(k), sk.getSx(i), product);
        pt.getMx() = c.getPoly(i);
        chain.add(c.getPoly(i), product, pt.getMx());
        pt.setLogSlots(getLogFullSlots(ctx));
        return decoder.decode(pt);
    };
    for (const u64 i : {u64{0}, k - 1}) {
        SCOPED_TRACE(i);
        expectStepZeroOf(ctx, phase(raised, i), phase(out, i));
    }
}

TEST(FusedRaiseSlowTest, FullSlotBootstrapOnFGe) {
    const FusedBoot fb(ParameterPreset::FGe);
    fullSlotBootstrap(fb, "FGe");
}

// Sparse-secret encapsulation with the fused raise: the raise switches to the
// sparse secret and the fused keys back to the main one, so CoeffToSlot
// yields (I + e) / 2K per part with small integers I (|I| <= K) and small
// fractions e (the message's share).
TEST(FusedRaiseSlowTest, SparseSecretFusedRaiseOnFGbSSE) {
    const FusedBoot fb(ParameterPreset::FGbSSE, true);
    const BootstrapperImpl impl(*fb.eval, fb.sparse, true, std::nullopt);
    const double K = impl.getBootParameter().range_k;
    std::mt19937_64 rng(29);
    const Message m = randomBootMessage(rng, getLogFullSlots(fb.ctx), 1.0);
    Ciphertext ct(fb.ctx, false, true);
    Encryptor(fb.ctx).encrypt(m, fb.pack, ct);
    fb.eval->levelDown(ct, 3, ct);
    Ciphertext t = impl.getPipeline().bootstrapExceptRemoveI(ct);
    fb.eval->rescale(t);
    Message got;
    Decryptor(fb.ctx).decrypt(t, fb.secret_key, got);
    double largest_integer = 0.0;
    double largest_fraction = 0.0;
    for (const auto &x : got)
        for (const double part : {x.real(), x.imag()}) {
            const double v = 2.0 * K * part;
            largest_integer = std::max(largest_integer, std::abs(std::round(v)));
            largest_fraction = std::max(largest_fraction, std::abs(v - std::round(v)));
        }
    std::cout << "FGbSSE CoeffToSlot: largest |I| " << largest_integer << ", largest |e| "
              << largest_fraction << "\n";
    EXPECT_LE(largest_integer, K);
    EXPECT_LT(largest_fraction, 0.01);
    EXPECT_GT(largest_fraction, 0.0);

    // The raise switches to the sparse secret first, which a bootstrapper
    // built without the sparse-secret context cannot do.
    const Bootstrapper dense(*fb.eval, true);
    Ciphertext out(fb.ctx, false, true);
    expectThrowsMessage([&] { dense.bootstrap(ct, out, true); },
                        BootstrapperImpl::kNoSparseContextMessage);
}

// The full bootstrap through the sparse-secret fused raise; its modular
// reduction runs at the bootstrap scale on levels 20 to 14.
TEST(FusedRaiseSlowTest, FullSlotBootstrapOnFGbSSE) {
    const FusedBoot fb(ParameterPreset::FGbSSE, true);
    fullSlotBootstrap(fb, "FGbSSE");
}

} // namespace Quelt::test
