#include "Quelt/LWE/Ciphertext.hpp"
#include "Quelt/LWE/Encryptor.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "Quelt/Random.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/LweTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace Quelt::test {
namespace {

using LWE::Ciphertext;
using LWE::Encryptor;
using LWE::ParameterPreset;
using LWE::SecretKey;

// Two threads, each seeding its own generator, make keys and encrypt at the
// same time; each gets exactly what it gets alone.
TEST(LWEThreadsTest, KeysAndEncryptionsReproduceTheirSingleThreadResults) {
    const auto ctx = lweContext(ParameterPreset::SD3);
    auto job = [&](const std::array<u64, 4> &seed) {
        setSeed(seed);
        std::vector<std::string> records;
        for (int k = 0; k < 4; ++k) {
            const SecretKey sk(ctx);
            records.push_back(streamBytes(sk));
            Ciphertext ct(ctx);
            for (double value : {0.25, -3.0, 100.5}) {
                Encryptor(ctx).encrypt(value, sk, ct);
                records.push_back(streamBytes(ct));
            }
        }
        return records;
    };
    const std::array<u64, 4> seed_a{11, 12, 13, 14}, seed_b{21, 22, 23, 24};
    const auto alone_a = job(seed_a);
    const auto alone_b = job(seed_b);
    ASSERT_NE(alone_a, alone_b);
    std::vector<std::string> together_a, together_b;
    std::thread a([&] { together_a = job(seed_a); });
    std::thread b([&] { together_b = job(seed_b); });
    a.join();
    b.join();
    EXPECT_EQ(together_a, alone_a);
    EXPECT_EQ(together_b, alone_b);
}

// A seed saved on one thread gives the same key on another.
TEST(LWEThreadsTest, SeedReloadsOnAnotherThread) {
    const auto ctx = lweContext(ParameterPreset::SD3);
    reseed();
    const SecretKey key(ctx);
    const std::string seed_record = seedRecord(key);
    std::string reloaded;
    std::thread([&] {
        std::istringstream in(seed_record);
        reloaded = streamBytes(SecretKey(ctx, in));
    }).join();
    EXPECT_EQ(reloaded, streamBytes(key));
}

} // namespace
} // namespace Quelt::test
