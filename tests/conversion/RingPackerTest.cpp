// Unpacking into LWE and MLWE ciphertexts, decomposition and composition
// with ring-switch keys, the conjugate-invariant conversions, and every
// refusal in its order.

#include "Quelt/RingPacker.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/LWE/Decryptor.hpp"
#include "Quelt/LWE/HomEvaluator.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "conversion/ConversionTestSupport.hpp"
#include "foundation/WordArith.hpp"
#include "lwe/LWEContext.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using RingCt = CiphertextBase<EncryptionType::RLWE>;
using ModuleCt = CiphertextBase<EncryptionType::MLWE>;
using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;
using MLWEKey = SecretKeyBase<EncryptionType::MLWE>;

// A fresh encryption's error is a rounded Gaussian of width 3.2 times a
// ternary secret's spread, far below 2^20 units of the scale 2^sf (sf above
// 40 on every context below).
constexpr double kBound = 1.0 / (1 << 20);

// A coefficient-encoded ciphertext of random words (coefficient form).
RingCt rawCiphertext(const std::shared_ptr<ContextContent> &ctx, u64 level, u64 seed) {
    std::mt19937_64 rng(seed);
    RingCt ct(ctx, false, false);
    ct.setLevel(level);
    ct.setEncodingType(EncodingType::COEFFICIENT);
    for (u64 p = 0; p < 2; ++p)
        for (u64 l = 0; l <= level; ++l) {
            const u64 q = ctx->getPrimeModuli().getModulus(l).getPrime();
            for (u64 j = 0; j < getDegree(ctx); ++j)
                ct.getPoly(p).getLimb(l)[j] = rng() % q;
        }
    return ct;
}

u64 negate(u64 x, u64 q) { return x == 0 ? 0 : q - x; }

std::shared_ptr<ContextContent> d12() {
    static const auto ctx = makeContext(ParameterPreset::FGbD12L0);
    return ctx;
}
std::shared_ptr<LWE::ContextContent> lweD12() {
    static const auto ctx = LWE::makeContext(LWE::ParameterPreset::FGbD12L0);
    return ctx;
}

// Degree 256, two base primes, two temporary primes; the small ring takes
// the same base primes at degree 64.
std::shared_ptr<ContextContent> large() {
    static const auto ctx = makeContext(8, 2, 50, 40, 50, 1);
    return ctx;
}
std::shared_ptr<ContextContent> small() {
    static const auto ctx = contextFromPrimes(large(), 6, {0, 1}, {2}, 1);
    return ctx;
}

std::vector<LWE::Ciphertext> lweOutputs(u64 n) {
    return std::vector<LWE::Ciphertext>(n, LWE::Ciphertext(lweD12()));
}
std::vector<LWE::Ciphertext *> pointers(std::vector<LWE::Ciphertext> &v) {
    std::vector<LWE::Ciphertext *> p;
    for (auto &c : v)
        p.push_back(&c);
    return p;
}

} // namespace

TEST(RingPackerTest, UnPackToLWEDecryptsEveryCoefficient) {
    const RLWEKey sk(d12());
    const std::vector<double> c = uniformValues(4096, 1);
    RingCt ct(d12(), false, false);
    Encryptor(d12()).encrypt(c, sk, ct);
    std::vector<LWE::Ciphertext> outs = lweOutputs(4096);
    const RingPacker packer;
    packer.unPack(ct, pointers(outs));
    const LWE::SecretKey lwe_sk = genLWESecretKeyAfterUnPack(lweD12(), sk);
    const LWE::Decryptor dec(lweD12());
    for (u64 k = 0; k < 4096; ++k) {
        double v = 0;
        dec.decrypt(outs[k], lwe_sk, v);
        ASSERT_NEAR(v, c[k], kBound) << k;
    }
    LWE::Ciphertext one(lweD12());
    packer.unPackOneOutput(ct, one);
    EXPECT_EQ(one.getLevel(), outs[0].getLevel());
    EXPECT_EQ(one.getRescaleCounter(), outs[0].getRescaleCounter());
    EXPECT_EQ(one.getBxData()[0], outs[0].getBxData()[0]);
    for (u64 t = 0; t < 4096; ++t)
        ASSERT_EQ(one.getAxData(0)[t], outs[0].getAxData(0)[t]);
}

// FGbD12L1 holds the two primes of FGbD12NS1L1 and its scale factors: a
// level-1 ring ciphertext unpacked into it decrypts at level 1 and, rescaled
// by the evaluator, at level 0.
TEST(RingPackerTest, UnPackFromTheTwoPrimeRingDecryptsAtLevelOne) {
    const auto ring = makeContext(ParameterPreset::FGbD12NS1L1);
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::FGbD12L1);
    ASSERT_EQ(getEncryptionLevel(ring), 1u);
    const RLWEKey sk(ring);
    const std::vector<double> c = uniformValues(4096, 7);
    RingCt ct(ring, false, false);
    Encryptor(ring).encrypt(c, sk, ct);
    ASSERT_EQ(ct.getLevel(), 1u);
    const LWE::SecretKey lwe_sk = genLWESecretKeyAfterUnPack(lwe, sk);
    const LWE::Decryptor dec(lwe);
    const RingPacker packer;
    for (const u64 k : {u64{0}, u64{1}, u64{2049}, u64{4095}}) {
        std::vector<LWE::Ciphertext> outs(4096, LWE::Ciphertext(lwe));
        if (k == 0)
            packer.unPackOneOutput(ct, outs[0]);
        else
            packer.unPack(ct, pointers(outs));
        ASSERT_EQ(outs[k].getLevel(), 1u);
        double v = 0;
        dec.decrypt(outs[k], lwe_sk, v);
        EXPECT_NEAR(v, c[k], kBound) << k;
        LWE::Ciphertext down(lwe);
        LWE::HomEvaluator(lwe).levelDown(outs[k], 0, down);
        ASSERT_EQ(down.getLevel(), 0u);
        dec.decrypt(down, lwe_sk, v);
        EXPECT_NEAR(v, c[k], kBound) << k;
    }
}

TEST(RingPackerTest, UnPackMaskFollowsTheNegacyclicRule) {
    // The rule on raw words: a'_k[t] = a[k - t] (t <= k), -a[N + k - t]
    // (t > k); for N = 4 and k = 1 that is (a_1, a_0, -a_3, -a_2).
    const auto four_ptr = LWE::makeContext(4, 1, 40, 40);
    const u64 q = four_ptr->getPrimeValues()[0];
    LevelledVector a(four_ptr), out(four_ptr);
    for (u64 t = 0; t < 4; ++t)
        a.getLimb(0)[t] = 10 + t;
    four_ptr->getPrimeModuli().conjugateInvert(a, out, 1);
    EXPECT_EQ(std::vector<u64>(out.getLimb(0), out.getLimb(0) + 4),
              (std::vector<u64>{11, 10, q - 13, q - 12}));

    const u64 N = 4096;
    const RingCt ct = rawCiphertext(d12(), 0, 2);
    std::vector<LWE::Ciphertext> outs = lweOutputs(N);
    RingPacker().unPack(ct, pointers(outs));
    const u64 p = getPrimeList(d12())[0];
    for (const u64 k : {u64{0}, u64{1}, u64{2047}, N - 1}) {
        ASSERT_EQ(outs[k].getBxData()[0], ct.getPoly(0).getLimb(0)[k]);
        const u64 *a_in = ct.getPoly(1).getLimb(0);
        for (u64 t = 0; t < N; ++t)
            ASSERT_EQ(outs[k].getAxData(0)[t], t <= k ? a_in[k - t] : negate(a_in[N + k - t], p))
                << k << " " << t;
    }
}

TEST(RingPackerTest, UnPackToMLWEDecryptsEveryClass) {
    const auto module = makeContext(ParameterPreset::FGbD6R6L0);
    const RLWEKey sk(d12());
    const std::vector<double> c = uniformValues(4096, 3);
    RingCt ct(d12(), false, false);
    Encryptor(d12()).encrypt(c, sk, ct);
    std::vector<ModuleCt> outs(64, ModuleCt(module, false, false));
    std::vector<ModuleCt *> ptrs;
    for (auto &o : outs)
        ptrs.push_back(&o);
    const RingPacker packer;
    packer.unPack(ct, ptrs);
    const MLWEKey mk = genMLWESecretKeyAfterUnPack(module, sk);
    const Decryptor dec(module);
    for (u64 i = 0; i < 64; ++i) {
        EXPECT_EQ(outs[i].getEncodingType(), EncodingType::COEFFICIENT);
        EXPECT_EQ(outs[i].getLogSlots(), getLogFullSlots(module));
        std::vector<double> v;
        dec.decrypt(outs[i], mk, v);
        ASSERT_EQ(v.size(), 64U);
        for (u64 j = 0; j < 64; ++j)
            ASSERT_NEAR(v[j], c[i + 64 * j], kBound) << i << " " << j;
    }
    ModuleCt one(module, false, false);
    packer.unPackOneOutput(ct, one);
    for (u64 p = 0; p < one.getNumPoly(); ++p)
        for (u64 j = 0; j < 64; ++j)
            ASSERT_EQ(one.getPoly(p).getLimb(0)[j], outs[0].getPoly(p).getLimb(0)[j]);
}

TEST(RingPackerTest, UnPackToRankTwoMasks) {
    // r = 2: output 0 has masks (A_0, X A_1), output 1 has (A_1, A_0).
    const auto big = makeContext(7, 2, 40, 40, 40, 1);
    const auto module =
        withParameter(contextFromPrimes(big, 6, {0, 1}, {2}, 1), [](Parameter &p) { p.rank = 2; });
    const RingCt ct = rawCiphertext(big, 1, 4);
    std::vector<ModuleCt> outs(2, ModuleCt(module, false, false));
    RingPacker().unPack(ct, std::vector<ModuleCt *>{&outs[0], &outs[1]});
    for (u64 l = 0; l <= 1; ++l) {
        const u64 q = getPrimeList(big)[l];
        const u64 *b = ct.getPoly(0).getLimb(l);
        const u64 *a = ct.getPoly(1).getLimb(l);
        for (u64 j = 0; j < 64; ++j) {
            const u64 A0 = a[2 * j], A1 = a[2 * j + 1];
            // X A_1: coefficient j is A_1[j - 1], the wrapped one negated.
            const u64 XA1 = j == 0 ? negate(a[2 * 63 + 1], q) : a[2 * (j - 1) + 1];
            ASSERT_EQ(outs[0].getPoly(0).getLimb(l)[j], b[2 * j]);
            ASSERT_EQ(outs[1].getPoly(0).getLimb(l)[j], b[2 * j + 1]);
            ASSERT_EQ(outs[0].getPoly(1).getLimb(l)[j], A0);
            ASSERT_EQ(outs[0].getPoly(2).getLimb(l)[j], XA1);
            ASSERT_EQ(outs[1].getPoly(1).getLimb(l)[j], A1);
            ASSERT_EQ(outs[1].getPoly(2).getLimb(l)[j], A0);
        }
    }
}

TEST(RingPackerTest, DecomposeThenComposeReturnsTheMessage) {
    const RLWEKey sk(large());
    const RLWEKey sk_small(small());
    const KeyGenerator gen(large(), sk);
    const RingSwitchKey down = gen.genDecomposeKey(large(), sk_small);
    const RingSwitchKey up = gen.genComposeKey(sk_small);
    const std::vector<double> c = uniformValues(256, 5);
    RingCt ct(large(), false, false);
    Encryptor(large()).encrypt(c, sk, ct);
    const RingPacker packer;
    const Decryptor dec_small(small()), dec_large(large());

    std::vector<RingCt> parts(4, RingCt(small(), false, false));
    std::vector<RingCt *> outs;
    for (auto &p : parts)
        outs.push_back(&p);
    packer.decompose(ct, down, outs);
    for (u64 k = 0; k < 4; ++k) {
        EXPECT_EQ(parts[k].getEncodingType(), EncodingType::COEFFICIENT);
        EXPECT_EQ(parts[k].getLevel(), ct.getLevel());
        std::vector<double> v;
        dec_small.decrypt(parts[k], sk_small, v);
        for (u64 j = 0; j < 64; ++j)
            ASSERT_NEAR(v[j], c[k + 4 * j], kBound) << k << " " << j;
    }
    // One output: class 0 only.
    RingCt first(small(), false, false);
    std::vector<RingCt *> single = {&first};
    packer.decompose(ct, down, single);
    std::vector<double> v0;
    dec_small.decrypt(first, sk_small, v0);
    for (u64 j = 0; j < 64; ++j)
        ASSERT_NEAR(v0[j], c[4 * j], kBound);

    RingCt back(large(), false, false);
    packer.compose({&parts[0], &parts[1], &parts[2], &parts[3]}, up, back);
    std::vector<double> v;
    dec_large.decrypt(back, sk, v);
    for (u64 i = 0; i < 256; ++i)
        ASSERT_NEAR(v[i], c[i], 2 * kBound) << i;

    // One input is embedded: its coefficients at multiples of 4, zeros
    // elsewhere.
    RingCt embedded(large(), false, false);
    packer.compose({&first}, up, embedded);
    dec_large.decrypt(embedded, sk, v);
    for (u64 i = 0; i < 256; ++i)
        ASSERT_NEAR(v[i], i % 4 == 0 ? c[i] : 0.0, 2 * kBound) << i;
}

TEST(RingPackerTest, ConversionsRoundTripAndLeaveMetadata) {
    const auto half = contextFromPrimes(degree64ThreePrimes(), 5, {0, 1, 2}, {3}, 3);
    const auto full = degree64ThreePrimes();
    const RingPacker packer;
    std::mt19937_64 rng(6);

    Plaintext p(half);
    for (u64 l = 0; l < 3; ++l)
        for (u64 j = 0; j < 32; ++j)
            p.getMx().getLimb(l)[j] = rng() >> 30;
    Plaintext wide(full);
    wide.setLogSlots(2);
    packer.conversionToComplex(p, wide);
    EXPECT_EQ(wide.getLogSlots(), 2U);
    for (u64 l = 0; l < 3; ++l)
        for (u64 j = 0; j < 32; ++j) {
            ASSERT_EQ(wide.getMx().getLimb(l)[j], p.getMx().getLimb(l)[j]);
            ASSERT_EQ(wide.getMx().getLimb(l)[63 - j], p.getMx().getLimb(l)[j]);
        }
    Plaintext back(half);
    back.setLogSlots(1);
    packer.conversionToReal(wide, back);
    EXPECT_EQ(back.getLogSlots(), 1U);
    for (u64 l = 0; l < 3; ++l)
        for (u64 j = 0; j < 32; ++j)
            ASSERT_EQ(back.getMx().getLimb(l)[j], p.getMx().getLimb(l)[j]);

    RingCt ct = rawCiphertext(half, 1, 7);
    ct.setRescaleCounter(1);
    RingCt ct_wide(full, false, false);
    ct_wide.setLogSlots(3);
    packer.conversionToComplex(ct, ct_wide);
    EXPECT_EQ(ct_wide.getLogSlots(), 3U);
    EXPECT_EQ(ct_wide.getRescaleCounter(), 0);
    EXPECT_EQ(ct_wide.getEncodingType(), EncodingType::SLOT);
    EXPECT_EQ(ct_wide.getLevel(), 1U);
    RingCt ct_back(half, false, false);
    packer.conversionToReal(ct_wide, ct_back);
    EXPECT_EQ(ct_back.getEncodingType(), EncodingType::SLOT);
    for (u64 k = 0; k < 2; ++k)
        for (u64 l = 0; l <= 1; ++l)
            for (u64 j = 0; j < 32; ++j)
                ASSERT_EQ(ct_back.getPoly(k).getLimb(l)[j], ct.getPoly(k).getLimb(l)[j]);

    // A multi-secret ciphertext takes every polynomial along.
    const auto ms_half = contextFromPrimes(twoSecretContext(), 5, {0, 1, 2}, {3}, 3);
    CiphertextBase<EncryptionType::MSRLWE> ms_wide(twoSecretContext(), false, false);
    CiphertextBase<EncryptionType::MSRLWE> ms_out(ms_half, false, false);
    for (u64 k = 0; k < 3; ++k)
        for (u64 l = 0; l < 3; ++l)
            for (u64 j = 0; j < 64; ++j)
                ms_wide.getPoly(k).getLimb(l)[j] = k * 100 + j;
    packer.conversionToReal(ms_wide, ms_out);
    ASSERT_EQ(ms_out.getNumPoly(), 3U);
    EXPECT_EQ(ms_out.getPoly(2).getLimb(2)[31], 231U);

    expectThrowsMessage([&] { packer.conversionToReal(p, back); },
                        "Output degree should be half input degree.");
    expectThrowsMessage([&] { packer.conversionToComplex(wide, wide); },
                        "Output degree should be twice input degree.");
    RingCt untouched(full, false, false);
    expectThrowsMessage([&] { packer.conversionToReal(ct, untouched); },
                        "Output degree should be half input degree.");
}

// The conversions copy words as they stand, so the output is in the input's
// form whatever its own flag was: a transform-form input must not come out
// flagged as coefficients (or the reverse), which would be read as noise.
TEST(RingPackerTest, ConversionsKeepTheFormOfTheWords) {
    const auto half = contextFromPrimes(degree64ThreePrimes(), 5, {0, 1, 2}, {3}, 3);
    const auto full = degree64ThreePrimes();
    const RingPacker packer;
    struct Case {
        const char *name;
        bool to_real;
        bool in_ntt;
        bool out_ntt;
    };
    for (const Case &c : {Case{"to real, transform into coefficients", true, true, false},
                          Case{"to real, coefficients into transform", true, false, true},
                          Case{"to complex, transform into coefficients", false, true, false},
                          Case{"to complex, coefficients into transform", false, false, true}}) {
        SCOPED_TRACE(c.name);
        const auto &in_ctx = c.to_real ? full : half;
        const auto &out_ctx = c.to_real ? half : full;
        RingCt in = rawCiphertext(in_ctx, 2, 12);
        for (u64 p = 0; p < 2; ++p)
            in.getPoly(p).setNTT(c.in_ntt);
        RingCt out(out_ctx, false, c.out_ntt);
        Plaintext pin(in_ctx), pout(out_ctx);
        pin.getMx() = in.getPoly(0);
        pout.getMx().setNTT(c.out_ntt);
        if (c.to_real) {
            packer.conversionToReal(in, out);
            packer.conversionToReal(pin, pout);
        } else {
            packer.conversionToComplex(in, out);
            packer.conversionToComplex(pin, pout);
        }
        EXPECT_EQ(pout.getMx().isNTT(), c.in_ntt);
        for (u64 p = 0; p < 2; ++p) {
            EXPECT_EQ(out.getPoly(p).isNTT(), c.in_ntt);
            for (u64 l = 0; l <= 2; ++l)
                for (u64 j = 0; j < 32; ++j)
                    ASSERT_EQ(out.getPoly(p).getLimb(l)[j], in.getPoly(p).getLimb(l)[j]);
        }
    }
}

// Every output of a list takes its own part; an object listed twice would
// keep only the last part written to it. The lists are refused before any
// output changes.
TEST(RingPackerTest, OutputsListedTwiceAreRefusedBeforeAnyWrite) {
    const std::string repeated = "[RingPacker] An output ciphertext is listed more than once.";
    const RingPacker packer;
    const RLWEKey sk(large());
    const RLWEKey sk_small(small());
    const RingSwitchKey down = KeyGenerator(large(), sk).genDecomposeKey(large(), sk_small);
    const RingCt first = rawCiphertext(large(), 1, 13), second = rawCiphertext(large(), 1, 14);
    std::vector<RingCt> parts(4, RingCt(small(), false, false));
    std::vector<RingCt *> part_ptrs{&parts[0], &parts[1], &parts[2], &parts[3]};
    packer.decompose(first, down, part_ptrs);

    const auto module = withParameter(contextFromPrimes(large(), 7, {0, 1}, {2}, 1),
                                      [](Parameter &p) { p.rank = 2; });
    std::vector<ModuleCt> classes(2, ModuleCt(module, false, false));
    packer.unPack(first, std::vector<ModuleCt *>{&classes[0], &classes[1]});

    const RingCt d12_first = rawCiphertext(d12(), 0, 15), d12_second = rawCiphertext(d12(), 0, 16);
    std::vector<LWE::Ciphertext> lwes = lweOutputs(4096);
    std::vector<LWE::Ciphertext *> lwe_ptrs = pointers(lwes);
    packer.unPack(d12_first, lwe_ptrs);

    struct Case {
        const char *name;
        std::function<void()> call;
    };
    const std::vector<Case> cases{
        {"decompose",
         [&] {
             std::vector<RingCt *> outs{&parts[0], &parts[1], &parts[0], &parts[3]};
             packer.decompose(second, down, outs);
         }},
        {"unPack to module ciphertexts",
         [&] {
             packer.unPack(second, std::vector<ModuleCt *>{&classes[1], &classes[1]});
         }},
        {"unPack to LWE ciphertexts",
         [&] {
             std::vector<LWE::Ciphertext *> outs = lwe_ptrs;
             outs[4095] = outs[7];
             packer.unPack(d12_second, outs);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> before;
        for (const RingCt &p : parts)
            before.push_back(streamBytes(p));
        for (const ModuleCt &m : classes)
            before.push_back(streamBytes(m));
        for (const u64 k : {u64{0}, u64{7}, u64{4094}})
            before.push_back(streamBytes(lwes[k]));
        expectThrowsMessage(c.call, repeated);
        std::vector<std::string> after;
        for (const RingCt &p : parts)
            after.push_back(streamBytes(p));
        for (const ModuleCt &m : classes)
            after.push_back(streamBytes(m));
        for (const u64 k : {u64{0}, u64{7}, u64{4094}})
            after.push_back(streamBytes(lwes[k]));
        EXPECT_EQ(after, before);
    }
}

TEST(RingPackerTest, UnPackChecksInOrder) {
    const RingPacker packer;
    const std::string level_message = "[unPack] The level of given ciphertext is more than the "
                                      "level of max encryption level of the output ciphertext(s)";
    const std::string coefficients = "The operand have to encode the message on its coefficients";
    const std::string incompatible =
        "[setContext] Input context is not compatible with the ciphertext.";
    RingCt ct = rawCiphertext(d12(), 0, 8);
    std::vector<LWE::Ciphertext> few = lweOutputs(4095);
    expectThrowsMessage([&] { packer.unPack(ct, pointers(few)); },
                        "[unPack] Input Ciphertext degree should be equal to the number of output "
                        "LWE Ciphertexts");
    RingCt slots = ct;
    slots.setEncodingType(EncodingType::SLOT);
    LWE::Ciphertext one(lweD12());
    expectThrowsMessage([&] { packer.unPackOneOutput(slots, one); }, coefficients);
    // Level 1 of a two-prime ring against the one-prime LWE chain.
    const auto two = makeContext(12, 2, 50, 40, 50, 1);
    const RingCt high = rawCiphertext(two, 1, 9);
    expectThrowsMessage([&] { packer.unPackOneOutput(high, one); }, level_message);
    // Level 0 of that ring: another prime.
    const RingCt other = rawCiphertext(two, 0, 9);
    expectThrowsMessage([&] { packer.unPackOneOutput(other, one); }, incompatible);
    RingCt ntt = ct;
    ntt.getPoly(0).setNTT(true);
    ntt.getPoly(1).setNTT(true);
    expectThrowsMessage([&] { packer.unPackOneOutput(ntt, one); },
                        "Polynomials should be of non-NTT form in ring switching.");

    const auto module = makeContext(ParameterPreset::FGbD6R6L0);
    std::vector<ModuleCt> mouts(63, ModuleCt(module, false, false));
    std::vector<ModuleCt *> mptrs;
    for (auto &o : mouts)
        mptrs.push_back(&o);
    expectThrowsMessage([&] { packer.unPack(ct, mptrs); },
                        "[unPack] Input Ciphertext degree should be equal to the sum of the degree "
                        "of output MLWE Ciphertexts");
    ModuleCt mone(module, false, false);
    expectThrowsMessage([&] { packer.unPackOneOutput(slots, mone); }, coefficients);
    expectThrowsMessage([&] { packer.unPackOneOutput(high, mone); }, level_message);
    expectThrowsMessage([&] { packer.unPackOneOutput(other, mone); }, incompatible);
}

TEST(RingPackerTest, DecomposeAndComposeCheckInOrder) {
    const RLWEKey sk(large());
    const RLWEKey sk_small(small());
    const KeyGenerator gen(large(), sk);
    const RingSwitchKey down = gen.genDecomposeKey(large(), sk_small);
    const RingPacker packer;
    const RingCt ct = rawCiphertext(large(), 1, 10);
    std::vector<RingCt> parts(4, RingCt(small(), false, false));
    std::vector<RingCt *> outs;
    for (auto &p : parts)
        outs.push_back(&p);

    const auto wider = makeContext(9, 2, 50, 40, 50, 1);
    RingCt too_wide(wider, false, false);
    std::vector<RingCt *> wide_outs = {&too_wide};
    expectThrowsMessage([&] { packer.decompose(ct, down, wide_outs); },
                        "[decompose] Degree of output ciphertext(s) should divide of degree input "
                        "ciphertext");
    std::vector<RingCt *> three(outs.begin(), outs.begin() + 3);
    const std::string count_message =
        "[decompose] The dimension of output ciphertext(s) should be equal to input ciphertext "
        "unless the case of extracting a single ciphertext";
    expectThrowsMessage([&] { packer.decompose(ct, down, three); }, count_message);
    std::vector<RingCt *> none;
    expectThrowsMessage([&] { packer.decompose(ct, down, none); }, count_message);
    RingCt slots = ct;
    slots.setEncodingType(EncodingType::SLOT);
    expectThrowsMessage([&] { packer.decompose(slots, down, outs); },
                        "The operand have to encode the message on its coefficients");
    const auto low = contextFromPrimes(large(), 6, {0}, {2}, 1);
    RingCt low_out(low, false, false);
    std::vector<RingCt *> low_outs = {&low_out};
    expectThrowsMessage([&] { packer.decompose(ct, down, low_outs); },
                        "[decompose] The level of given ciphertext is more than the level of max "
                        "encryption level of the output ciphertext(s)");
    RingCt ntt = ct;
    ntt.forwardNTT();
    expectThrowsMessage([&] { packer.decompose(ntt, down, outs); },
                        "Polynomials should be of non-NTT form in ring switching.");
    const auto swapped = contextFromPrimes(large(), 6, {1, 0}, {2}, 1);
    RingCt swapped_out(swapped, false, false);
    std::vector<RingCt *> swapped_outs = {&swapped_out};
    expectThrowsMessage([&] { packer.decompose(ct, down, swapped_outs); },
                        "[setContext] Input context is not compatible with the ciphertext.");

    const RingSwitchKey up = gen.genComposeKey(sk_small);
    RingCt out(large(), false, false);
    const RingCt a = rawCiphertext(small(), 1, 11);
    RingCt wide_in(wider, false, false);
    expectThrowsMessage([&] { packer.compose({&wide_in}, up, out); },
                        "[compose] Degree of input ciphertext(s) should divide of degree output "
                        "ciphertext");
    expectThrowsMessage(
        [&] {
            packer.compose(std::vector<const RingCt *>{&a, &a}, up, out);
        },
        "[compose] The dimension of input ciphertext(s) should be equal to output "
        "ciphertext unless the case of embedding a single ciphertext");
    RingCt a_slots = a;
    a_slots.setEncodingType(EncodingType::SLOT);
    expectThrowsMessage([&] { packer.compose({&a_slots}, up, out); },
                        "The operand have to encode the message on its coefficients");
    RingCt a_counter = a;
    a_counter.setRescaleCounter(1);
    expectThrowsMessage(
        [&] {
            packer.compose({&a, &a, &a, &a_counter}, up, out);
        },
        "Two operands have different RescaleCounter");
    RingCt a_ntt = a;
    a_ntt.forwardNTT();
    expectThrowsMessage([&] { packer.compose({&a_ntt}, up, out); },
                        "Polynomials should be of non-NTT form in ring switching.");
    RingCt a_low = a;
    a_low.setLevel(0);
    const std::string out_before = streamBytes(out);
    expectThrowsMessage(
        [&] {
            packer.compose({&a, &a, &a_low, &a}, up, out);
        },
        "[compose] The input ciphertexts should be at one level");
    EXPECT_EQ(streamBytes(out), out_before);
}

} // namespace Quelt::test
