// The multi-secret roads at degree 2^16: a rotation on FGbMS (four secrets),
// and bootstrapMStoSS and a batch bootstrap on two- and four-secret copies of
// FGb (the batch flag set), each result decrypted and compared with its
// message. The time of each road and the peak resident size are recorded as
// test properties. Several GB each (the four-secret bootstraps about 11 GiB):
// run one at a time.
//
// Measured (shared machine, other jobs running): the FGbMS rotation 0.17 s,
// error 2^-28, 0.8 GiB; two secrets: bootstrapMStoSS 27.7 s, batch of two
// 27.3 s, 24.9 bits mean and above 21.4 bits minimum, 6.8 GiB; four
// secrets: 48.6 s and 48.0 s, 24.9 / 21.6 bits, 10.9 GiB.

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
#include "foundation/WordArith.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

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
    testing::Test::RecordProperty("rotation_seconds", std::to_string(time));
    testing::Test::RecordProperty("largest_error_log2", std::to_string(std::log2(error)));
    testing::Test::RecordProperty("peak_GiB", std::to_string(peakGiB()));
}

// bootstrapMStoSS and a batch bootstrap of `secrets` ciphertexts on a copy of
// FGb with that many secrets (the batch flag set), minimal rotation keys.
void bootstrapsEverySecretAndBatch(u64 secrets) {
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

    // The keys of 2, 4, ..., `secrets` secrets for the packing rounds.
    std::vector<std::shared_ptr<ContextContent>> contexts;
    std::vector<MSRLWEKey> keys;
    for (u64 k = 2; k <= secrets; k *= 2) {
        contexts.push_back(withParameter(
            makeContext(ParameterPreset::FGb, "FGbNS" + std::to_string(k), k, false, false),
            [](Parameter &p) { p.batch_bootstrap = true; }));
        keys.emplace_back(contexts.back());
    }
    const auto &ms = contexts.back();
    SchemeKeys<EncryptionType::MSRLWE> ms_keys(ms);
    ms_keys.key = keys.back();
    KeyPack ms_pack(ms);
    {
        const KeyGenerator generator(ms, ms_keys.key, ms_pack);
        generator.genConjKey();
        generator.genRotKeysForBootstrap(kLogSlots, true);
    }
    const HomEvaluator eval(ms, ms_pack);
    const Bootstrapper boot(eval, true);
    const MultiSecretSwitchKeyBundle bundle =
        KeyGenerator(ss).genMultiSecretSwitchKeyBundle(ss_keys.key, keys);

    std::mt19937_64 rng(17);
    const Messages m = randomMessages(kLogSlots, secrets, rng);
    const auto decrypt = [&](const RingCiphertext &ct) { return ss_keys.decrypt(ct).at(0); };
    const auto check = [&](const std::vector<RingCiphertext> &outs, const std::string &what) {
        ASSERT_EQ(outs.size(), secrets);
        double low = std::numeric_limits<double>::infinity();
        double mean = low;
        for (u64 k = 0; k < secrets; ++k) {
            const auto [l, a] = bits(decrypt(outs[k]), m[k]);
            EXPECT_GT(l, 20.0) << what << " " << k;
            low = std::min(low, l);
            mean = std::min(mean, a);
        }
        testing::Test::RecordProperty(what + "_min_bits", std::to_string(low));
        testing::Test::RecordProperty(what + "_worst_mean_bits", std::to_string(mean));
    };

    std::vector<RingCiphertext> outs;
    const double ms_time = seconds([&] {
        boot.bootstrapMStoSS(ms_keys.encrypt(m, 3), bundle.getMStoSSKeyBundle(), interp, outs);
    });
    check(outs, "mstoss");
    testing::Test::RecordProperty("mstoss_seconds", std::to_string(ms_time));

    std::vector<RingCiphertext> batch;
    for (u64 k = 0; k < secrets; ++k)
        batch.push_back(ss_keys.encrypt({m[k]}, 3));
    outs.clear();
    const double batch_time =
        seconds([&] { boot.batchBootstrap(batch, bundle, interp, outs, false); });
    check(outs, "batch");
    testing::Test::RecordProperty("batch_seconds", std::to_string(batch_time));
    testing::Test::RecordProperty("peak_GiB", std::to_string(peakGiB()));
}

TEST(MultiSecretFullDegreeSlowTest, FGbTwoSecretsBootstrapsEverySecretAndBatch) {
    bootstrapsEverySecretAndBatch(2);
}

TEST(MultiSecretFullDegreeSlowTest, FGbFourSecretsBootstrapsEverySecretAndBatch) {
    bootstrapsEverySecretAndBatch(4);
}

} // namespace
} // namespace Quelt::test
