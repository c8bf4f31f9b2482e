// Modulus packing of LWE and MLWE ciphertexts into one MLWE or RLWE
// ciphertext, decrypted against the packed messages, and its refusals in
// order.

#include "Quelt/RingPacker.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/LWE/Encryptor.hpp"
#include "context/ContextContent.hpp"
#include "conversion/ConversionTestSupport.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace Quelt::test {
namespace {

using RingCt = CiphertextBase<EncryptionType::RLWE>;
using ModuleCt = CiphertextBase<EncryptionType::MLWE>;
using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;
using MLWEKey = SecretKeyBase<EncryptionType::MLWE>;

// The packed errors are sums of one key-switching error per group and the
// inputs' own errors: far below 2^-16 of the scale on these contexts.
constexpr double kBound = 1.0 / (1 << 16);

// N LWE encryptions of the values.
std::vector<LWE::Ciphertext> encryptAll(const std::vector<double> &values,
                                        const LWE::SecretKey &sk) {
    const LWE::Encryptor enc(sk.getContext());
    std::vector<LWE::Ciphertext> cts(values.size(), LWE::Ciphertext(sk.getContext()));
    for (u64 i = 0; i < values.size(); ++i)
        enc.encrypt(values[i], sk, cts[i]);
    return cts;
}

template <typename T>
std::vector<const T *> pointers(const std::vector<T> &v) {
    std::vector<const T *> p;
    for (const T &x : v)
        p.push_back(&x);
    return p;
}

std::shared_ptr<ContextContent> preset(ParameterPreset p) { return makeContext(p); }

} // namespace

TEST(RingPackerModPackTest, LWEIntoModuleOfRankSixtyFour) {
    const auto d12 = preset(ParameterPreset::FGbD12L0);
    const auto d6 = preset(ParameterPreset::FGbD6R6L0);
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::FGbD12L0);
    const LWE::SecretKey in_sk(lwe);
    const MLWEKey out_sk(d6);
    const ModPackKeyBundle keys = KeyGenerator(d12).genModPackKeyBundle(in_sk, out_sk);
    ASSERT_EQ(keys.getNumKeys(), 64U);
    const std::vector<double> v = uniformValues(64, 1);
    const std::vector<LWE::Ciphertext> ins = encryptAll(v, in_sk);
    ModuleCt out(d6, false, false);
    RingPacker().modPack(pointers(ins), keys, out);
    EXPECT_EQ(out.getEncodingType(), EncodingType::COEFFICIENT);
    EXPECT_EQ(out.getLogSlots(), getLogFullSlots(d6));
    std::vector<double> got;
    Decryptor(d6).decrypt(out, out_sk, got);
    for (u64 i = 0; i < 64; ++i)
        ASSERT_NEAR(got[i], v[i], kBound) << i;
}

TEST(RingPackerModPackTest, LWEIntoRingOfTheSamePrimes) {
    // SD3: the LWE primes are the ring's first four.
    const auto ring = preset(ParameterPreset::SD3);
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::SD3);
    const LWE::SecretKey in_sk(lwe);
    const RLWEKey out_sk(ring);
    const ModPackKeyBundle keys = KeyGenerator(ring).genModPackKeyBundle(in_sk, out_sk);
    ASSERT_EQ(keys.getNumKeys(), 32U);
    const std::vector<double> v = uniformValues(getDegree(ring), 2);
    const std::vector<LWE::Ciphertext> ins = encryptAll(v, in_sk);
    RingCt out(ring, false, false);
    RingPacker().modPack(pointers(ins), keys, out);
    std::vector<double> got;
    Decryptor(ring).decrypt(out, out_sk, got);
    for (u64 i = 0; i < v.size(); ++i)
        ASSERT_NEAR(got[i], v[i], kBound) << i;
    // The result replaces the output whole, whatever state it was in: an
    // output in the mod-up state (whose limbs the copies cannot fill) gets
    // the same ciphertext.
    RingCt raised(ring, true, true);
    RingPacker().modPack(pointers(ins), keys, raised);
    EXPECT_FALSE(raised.isModUp());
    EXPECT_EQ(streamBytes(raised), streamBytes(out));
}

// The output may be one of the inputs: they are read before it is replaced.
TEST(RingPackerModPackTest, OutputMayBeAnInput) {
    const auto d12 = preset(ParameterPreset::FGbD12L0);
    const auto d6 = preset(ParameterPreset::FGbD6R6L0);
    const MLWEKey in_sk(d6), out_sk(d6);
    const ModPackKeyBundle keys = KeyGenerator(d12).genModPackKeyBundle(in_sk, out_sk);
    ASSERT_EQ(keys.getNumKeys(), 1U);
    const std::vector<double> v = uniformValues(64, 4);
    ModuleCt ct(d6, false, false);
    Encryptor(d6).encrypt(v, in_sk, ct);
    RingPacker().modPack(std::vector<const ModuleCt *>{&ct}, keys, ct);
    std::vector<double> got;
    Decryptor(d6).decrypt(ct, out_sk, got);
    ASSERT_EQ(got.size(), 64U);
    for (u64 i = 0; i < 64; ++i)
        ASSERT_NEAR(got[i], v[i], kBound) << i;
}

TEST(RingPackerModPackTest, ModuleCiphertextsIntoRingAndModule) {
    const auto d12 = preset(ParameterPreset::FGbD12L0);
    const auto d6 = preset(ParameterPreset::FGbD6R6L0);
    const auto d8 = preset(ParameterPreset::FGbD8R4L0);
    const KeyGenerator gen(d12);
    const MLWEKey in_sk(d6);
    const Encryptor enc(d6);
    struct Case {
        std::shared_ptr<ContextContent> out_ctx;
        u64 inputs, keys;
    };
    for (const Case &c : {Case{d12, 64, 64}, Case{d8, 4, 4}}) {
        SCOPED_TRACE(getDegree(c.out_ctx));
        std::vector<std::vector<double>> values;
        std::vector<ModuleCt> ins(c.inputs, ModuleCt(d6, false, false));
        for (u64 i = 0; i < c.inputs; ++i) {
            values.push_back(uniformValues(64, 10 + i));
            enc.encrypt(values[i], in_sk, ins[i]);
        }
        const u64 N = getDegree(c.out_ctx);
        if (c.out_ctx == d12) {
            const RLWEKey out_sk(d12);
            const ModPackKeyBundle keys = gen.genModPackKeyBundle(in_sk, out_sk);
            ASSERT_EQ(keys.getNumKeys(), c.keys);
            RingCt out(d12, false, false);
            RingPacker().modPack(pointers(ins), keys, out);
            std::vector<double> got;
            Decryptor(d12).decrypt(out, out_sk, got);
            for (u64 j = 0; j < N; ++j)
                ASSERT_NEAR(got[j], values[j % c.inputs][j / c.inputs], kBound) << j;
        } else {
            const MLWEKey out_sk(c.out_ctx);
            const ModPackKeyBundle keys = gen.genModPackKeyBundle(in_sk, out_sk);
            ASSERT_EQ(keys.getNumKeys(), c.keys);
            ModuleCt out(c.out_ctx, false, false);
            RingPacker().modPack(pointers(ins), keys, out);
            std::vector<double> got;
            Decryptor(c.out_ctx).decrypt(out, out_sk, got);
            for (u64 j = 0; j < N; ++j)
                ASSERT_NEAR(got[j], values[j % c.inputs][j / c.inputs], kBound) << j;
        }
    }
}

TEST(RingPackerModPackTest, ChecksInOrder) {
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::SD3); // dimension 32, 4 primes
    const auto ring64 = degree64ThreePrimes();                    // encryption level 2
    const LWE::SecretKey sk(lwe);
    const std::vector<LWE::Ciphertext> cts = encryptAll(uniformValues(64, 3), sk);
    const RingPacker packer;
    const std::string dimension =
        "[modPack] Total dimension of encrypting messages of input and output does not match";
    const std::string incompatible =
        "[modPack] Input or output ciphertexts is not compatible to the given modpack keys";

    RingCt out(ring64, false, false);
    const ModPackKeyBundle thirty_two(ring64, 32), thirty_three(ring64, 33);
    std::vector<const LWE::Ciphertext *> ins = pointers(cts);
    std::vector<const LWE::Ciphertext *> fewer(ins.begin(), ins.end() - 1);
    expectThrowsMessage([&] { packer.modPack(fewer, thirty_two, out); }, dimension);
    expectThrowsMessage([&] { packer.modPack(ins, thirty_three, out); }, incompatible);
    // Rank 3 does not divide the dimension 32.
    const auto rank3 = withParameter(ring64, [](Parameter &p) { p.rank = 3; });
    ModuleCt out3(rank3, false, false);
    ASSERT_EQ(out3.getNumPoly(), 4U);
    expectThrowsMessage([&] { packer.modPack(ins, thirty_two, out3); }, incompatible);

    // The counter is compared before the device.
    std::vector<LWE::Ciphertext> odd = cts;
    odd[5].setRescaleCounter(1);
    odd[5].to(Device{0, 1});
    expectThrowsMessage([&] { packer.modPack(pointers(odd), thirty_two, out); },
                        "Two operands have different RescaleCounter");
    odd[5].setRescaleCounter(0);
    expectThrowsMessage([&] { packer.modPack(pointers(odd), thirty_two, out); },
                        "Two operands are in different devices");

    // Level 3 against an output chain whose encryption level is 2.
    expectThrowsMessage([&] { packer.modPack(ins, thirty_two, out); },
                        "[modPack] The level of given ciphertext(s) is more than the level of max "
                        "encryption level of the output ciphertext");
    // Level 2 on another chain.
    std::vector<LWE::Ciphertext> lower = cts;
    for (auto &c : lower)
        c.setLevel(2);
    expectThrowsMessage([&] { packer.modPack(pointers(lower), thirty_two, out); },
                        "[setContext] Input context is not compatible with the ciphertext.");

    // MLWE inputs: count, keys, encoding.
    const auto d6 = preset(ParameterPreset::FGbD6R6L0);
    const auto d12 = preset(ParameterPreset::FGbD12L0);
    std::vector<ModuleCt> mins(64, ModuleCt(d6, false, false));
    for (auto &m : mins)
        m.setEncodingType(EncodingType::COEFFICIENT);
    RingCt rout(d12, false, false);
    const ModPackKeyBundle sixty_four(d12, 64), sixty_five(d12, 65);
    std::vector<const ModuleCt *> mptrs = pointers(mins);
    std::vector<const ModuleCt *> mfewer(mptrs.begin(), mptrs.end() - 1);
    expectThrowsMessage([&] { packer.modPack(mfewer, sixty_four, rout); }, dimension);
    expectThrowsMessage([&] { packer.modPack(mptrs, sixty_five, rout); }, incompatible);
    mins[0].setEncodingType(EncodingType::SLOT);
    expectThrowsMessage([&] { packer.modPack(mptrs, sixty_four, rout); },
                        "The operand have to encode the message on its coefficients");
    // Keys of another degree than the output's times its rank.
    mins[0].setEncodingType(EncodingType::COEFFICIENT);
    const ModPackKeyBundle wrong_degree(d6, 64);
    expectThrowsMessage([&] { packer.modPack(mptrs, wrong_degree, rout); },
                        "[mlweKeySwitch] The context of the modpack keys should have the output's "
                        "degree times its rank and the output's primes.");
    // Keys of the right degree over other primes.
    const ModPackKeyBundle other_primes(makeContext(12, 1, 50, 40, 50, 1), 64);
    expectThrowsMessage([&] { packer.modPack(mptrs, other_primes, rout); },
                        "[setContext] Input context is not compatible with the ciphertext.");
}

} // namespace Quelt::test
