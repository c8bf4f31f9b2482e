// The multi-secret roads at degree 2^16: a rotation on FGbMS (four secrets),
// and bootstrapMStoSS and a batch bootstrap of two on a two-secret copy of
// FGb (the batch flag set), each result decrypted and compared with its
// message. The time of each road and the peak resident size are recorded as
// test properties. Several GB each: run one at a time.

#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using u64 = std::uint64_t;
using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

constexpr u64 kLogSlots = 15;

// The peak resident size of the process in GiB (VmHWM), 0 when unknown.
double peakGiB() {
    std::ifstream status("/proc/self/status");
    std::string field;
    while (status >> field)
        if (field == "VmHWM:") {
            double kib = 0;
            status >> kib;
            return kib / (1024.0 * 1024.0);
        }
    return 0;
}

template <typename F>
double seconds(F &&f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The smallest precision in bits over the slots, and the mean.
std::pair<double, double> bits(const Message &got, const Message &want) {
    double low = std::numeric_limits<double>::infinity(), mean = 0.0;
    for (u64 j = 0; j < want.getSize(); ++j) {
        const double b = -std::log2(std::max(std::abs(got[j] - want[j]), 1e-300));
        low = std::min(low, b);
        mean += b;
    }
    return {low, mean / static_cast<double>(want.getSize())};
}

TEST(MultiSecretFullDegreeSlowTest, FGbMSRotationMovesEverySecretsSlots) {
    const auto ctx = makeContext(ParameterPreset::FGbMS);
    const u64 secrets = getNumSecret(ctx);
    SchemeKeys<EncryptionType::MSRLWE> scheme(ctx);
    KeyPack pack(ctx);
    KeyGenerator(ctx, scheme.key, pack).genLeftRotKey(1);
    const HomEvaluator eval(ctx, pack);
    std::mt19937_64 rng(16);
    const Messages m = randomMessages(kLogSlots, secrets, rng);
    const MsCiphertext ct = scheme.encrypt(m, getEncryptionLevel(ctx));
    MsCiphertext out(ctx, false, true);
    eval.leftRotateMSRLWE(ct, 1, out); // untimed: first touch of the key
    const double time = seconds([&] { eval.leftRotateMSRLWE(ct, 1, out); });
    Messages want = m;
    for (u64 k = 0; k < secrets; ++k)
        for (u64 j = 0; j < want[k].getSize(); ++j)
            want[k][j] = m[k][(j + 1) % want[k].getSize()];
    const double error = largestSlotError(scheme.decrypt(out), want);
    EXPECT_LT(error, 0x1p-20);
    RecordProperty("rotation_seconds", std::to_string(time));
    RecordProperty("largest_error_log2", std::to_string(std::log2(error)));
    RecordProperty("peak_GiB", std::to_string(peakGiB()));
}

TEST(MultiSecretFullDegreeSlowTest, FGbTwoSecretsBootstrapsEverySecretAndBatch) {
    // The single-secret side receives the results.
    const auto ss = makeContext(ParameterPreset::FGb);
    SchemeKeys<EncryptionType::RLWE> ss_keys(ss);
    KeyPack ss_pack(ss);
    {
        const KeyGenerator generator(ss, ss_keys.key, ss_pack);
        generator.genMultKey();
        generator.genConjKey();
    }
    const HomEvaluator output(ss, ss_pack);
    const Interpolator interp(output);

    const auto ms = withParameter(makeContext(ParameterPreset::FGb, "FGbNS2", 2, false, false),
                                  [](Parameter &p) { p.batch_bootstrap = true; });
    SchemeKeys<EncryptionType::MSRLWE> ms_keys(ms);
    KeyPack ms_pack(ms);
    {
        const KeyGenerator generator(ms, ms_keys.key, ms_pack);
        generator.genConjKey();
        generator.genRotKeysForBootstrap(kLogSlots, true);
    }
    const HomEvaluator eval(ms, ms_pack);
    const Bootstrapper boot(eval, true);
    const MultiSecretSwitchKeyBundle bundle = KeyGenerator(ss).genMultiSecretSwitchKeyBundle(
        ss_keys.key, std::vector<MSRLWEKey>{ms_keys.key});

    std::mt19937_64 rng(17);
    const Messages m = randomMessages(kLogSlots, 2, rng);
    const auto decrypt = [&](const RingCiphertext &ct) { return ss_keys.decrypt(ct).at(0); };

    std::vector<RingCiphertext> outs;
    const double ms_time = seconds([&] {
        boot.bootstrapMStoSS(ms_keys.encrypt(m, 3), bundle.getMStoSSKeyBundle(), interp, outs);
    });
    ASSERT_EQ(outs.size(), 2u);
    for (u64 k = 0; k < 2; ++k) {
        const auto [low, mean] = bits(decrypt(outs[k]), m[k]);
        EXPECT_GT(low, 20.0) << k;
        RecordProperty("mstoss_min_bits_" + std::to_string(k), std::to_string(low));
        RecordProperty("mstoss_mean_bits_" + std::to_string(k), std::to_string(mean));
    }
    RecordProperty("mstoss_seconds", std::to_string(ms_time));

    std::vector<RingCiphertext> batch = {ss_keys.encrypt({m[0]}, 3), ss_keys.encrypt({m[1]}, 3)};
    outs.clear();
    const double batch_time =
        seconds([&] { boot.batchBootstrap(batch, bundle, interp, outs, false); });
    ASSERT_EQ(outs.size(), 2u);
    for (u64 k = 0; k < 2; ++k) {
        const auto [low, mean] = bits(decrypt(outs[k]), m[k]);
        EXPECT_GT(low, 20.0) << k;
        RecordProperty("batch_min_bits_" + std::to_string(k), std::to_string(low));
        RecordProperty("batch_mean_bits_" + std::to_string(k), std::to_string(mean));
    }
    RecordProperty("batch_seconds", std::to_string(batch_time));
    RecordProperty("peak_GiB", std::to_string(peakGiB()));
}

} // namespace
} // namespace Quelt::test
