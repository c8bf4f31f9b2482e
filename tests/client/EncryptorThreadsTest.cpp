#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"

#include "foundation/UniformRandomBitGenerator.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace Quelt::test {
namespace {

constexpr int kThreads = 8;

std::array<std::uint64_t, 4> seedOf(int thread) {
    return {static_cast<std::uint64_t>(thread) + 1, 2, 3, 4};
}

// What one thread does with its own seed: a secret-key and a public-key
// encryption of the message, both decrypted again.
struct Result {
    std::string secret;
    std::string pub;
    double worst = 0;
};

Result run(const Encryptor &enc, const Decryptor &dec, const PublicKeys &keys, const Message &msg,
           int thread) {
    UniformRandomBitGenerator::getInstance().setSeed(seedOf(thread));
    const auto &ctx = keys.secretKey.getContext();
    Result result;
    Ciphertext ct(ctx, false, true);
    Message out;
    enc.encrypt(msg, keys.secretKey, ct);
    result.secret = streamBytes(ct);
    dec.decrypt(ct, keys.secretKey, out);
    for (std::uint64_t i = 0; i < msg.getSize(); ++i)
        result.worst = std::max(result.worst, std::abs(out[i] - msg[i]));
    enc.encrypt(msg, keys.pack, ct);
    result.pub = streamBytes(ct);
    dec.decrypt(ct, keys.secretKey, out);
    for (std::uint64_t i = 0; i < msg.getSize(); ++i)
        result.worst = std::max(result.worst, std::abs(out[i] - msg[i]));
    return result;
}

// One encryptor, one decryptor and one key pack shared by 8 threads, each
// with its own seed: every thread gets exactly the ciphertexts a single
// thread gets from that seed, and they decrypt correctly.
TEST(EncryptorConcurrencyTest, SharedEncryptorAndDecryptorGiveTheSingleThreadCiphertexts) {
    const auto ctx = degreeTenContext();
    const PublicKeys keys(ctx);
    const Encryptor enc(ctx);
    const Decryptor dec(ctx);
    Message msg(getLogFullSlots(ctx));
    for (std::uint64_t i = 0; i < msg.getSize(); ++i)
        msg[i] = {0.001 * static_cast<double>(i % 100), -0.05};

    std::vector<Result> expected;
    for (int t = 0; t < kThreads; ++t)
        expected.push_back(run(enc, dec, keys, msg, t));

    std::vector<Result> got(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int round = 0; round < 3; ++round)
                got[t] = run(enc, dec, keys, msg, t);
        });
    go = true;
    for (std::thread &thread : threads)
        thread.join();

    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(got[t].secret, expected[t].secret);
        EXPECT_EQ(got[t].pub, expected[t].pub);
        EXPECT_LT(got[t].worst, 1e-6);
        if (t > 0) {
            EXPECT_NE(expected[t].secret, expected[0].secret);
        }
    }
}

} // namespace
} // namespace Quelt::test
