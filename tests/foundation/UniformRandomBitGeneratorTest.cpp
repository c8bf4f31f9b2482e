#include "foundation/UniformRandomBitGenerator.hpp"
#include "Quelt/Random.hpp"
#include "foundation/Blake3Utils.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cereal/details/helpers.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;

namespace {

using Seed = std::array<std::uint64_t, 4>;
constexpr std::uint64_t kBlock = UniformRandomBitGenerator::kBlockWords;

// Generators hold a 1 MiB buffer; keep them off the stack.
std::unique_ptr<UniformRandomBitGenerator> seeded(const Seed &seed) {
    auto generator = std::make_unique<UniformRandomBitGenerator>();
    generator->setSeed(seed);
    return generator;
}

std::vector<std::uint64_t> draw(UniformRandomBitGenerator &generator, std::uint64_t n) {
    std::vector<std::uint64_t> words(n);
    for (auto &w : words)
        w = generator();
    return words;
}

std::string hex(const std::vector<unsigned char> &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string shortRead(int asked, int read) {
    return "Failed to read " + std::to_string(asked) + " bytes from input stream! Read " +
           std::to_string(read);
}

} // namespace

TEST(Blake3UtilsTest, KnownAnswers) {
    const std::string abc = "abc";
    std::vector<unsigned char> out(70);
    utils::doBLAKE3Hash(out.data(), out.size(), abc.data(), abc.size());
    EXPECT_EQ(hex(out), "6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85"
                        "1fb250ae7393f5d02813b65d521a0d492d9ba09cf7ce7f4cffd900f23374bf0b"
                        "c08a1fb0b38e");
    out.assign(32, 0);
    utils::doBLAKE3Hash(out.data(), out.size(), nullptr, 0);
    EXPECT_EQ(hex(out), "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");

    // Keyed: key bytes 0..31 = the seed {1, 2, 3, 4} as little-endian words,
    // message = block number 1 as 8 little-endian bytes.
    std::uint8_t key[32] = {};
    for (int w = 0; w < 4; ++w)
        key[8 * w] = static_cast<std::uint8_t>(w + 1);
    const std::uint8_t message[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    out.assign(16, 0);
    utils::doBLAKE3KeyedHash(out.data(), out.size(), message, sizeof(message), key);
    EXPECT_EQ(hex(out), "87a6adc921306eca930361d5d07d7067");
}

TEST(UniformRandomBitGeneratorTest, KnownAnswerStreams) {
    auto zero = seeded({0, 0, 0, 0});
    EXPECT_EQ((*zero)(), 0xad8f07deebf2ed69ULL);
    EXPECT_EQ((*zero)(), 0xd30f9b7f0b4aa65fULL);

    setSeed({1, 2, 3, 4});
    auto &generator = UniformRandomBitGenerator::getInstance();
    EXPECT_EQ(getSeed(), (Seed{1, 2, 3, 4}));
    EXPECT_EQ(generator(), 0xc7d302f6b80b866eULL);
    EXPECT_EQ(generator(), 0x45bbb7b20124cf2cULL);
    EXPECT_EQ(generator(), 0xea241ff6cc0dd023ULL);
    std::vector<std::uint64_t> skipped(kBlock - 4);
    generator.getRandomNumbers(skipped.data(), skipped.size());
    EXPECT_EQ(skipped[65536 - 3], 0xe5e2ee4e85a73870ULL);
    EXPECT_EQ(generator(), 0x13ac4b7c9929efc6ULL); // word 131071, last of block 0
    EXPECT_EQ(generator(), 0xca6e3021c9ada687ULL); // word 131072, first of block 1
    EXPECT_EQ(generator(), 0x67707dd0d5610393ULL);

    // All 64 bits of every seed word reach the key.
    setSeed({~0ULL, 0x8000000000000001ULL, 0x0123456789abcdefULL, 0xfedcba9876543210ULL});
    std::vector<std::uint64_t> block5(5 * kBlock + 1);
    generator.getRandomNumbers(block5.data(), block5.size());
    EXPECT_EQ(block5.back(), 0x7ea6b7ac05e28b26ULL);
}

TEST(UniformRandomBitGeneratorTest, BulkAndSingleDrawsAgree) {
    // Runs that start and end at and across block boundaries, and one longer
    // than a whole block.
    const std::uint64_t runs[] = {0, 1, kBlock - 2, 1, 1, 3, kBlock + 5, kBlock - 8, 17};
    auto single = seeded({9, 8, 7, 6});
    auto bulk = seeded({9, 8, 7, 6});
    for (std::uint64_t n : runs) {
        std::vector<std::uint64_t> got(n + 1, 0x5a5a5a5a5a5a5a5aULL);
        bulk->getRandomNumbers(got.data(), n);
        EXPECT_EQ(got.back(), 0x5a5a5a5a5a5a5a5aULL) << "wrote past the end";
        got.pop_back();
        EXPECT_EQ(got, draw(*single, n)) << n;
        EXPECT_EQ(bulk->getState(), single->getState()) << n;
    }
}

TEST(UniformRandomBitGeneratorTest, StateFormAndRestore) {
    auto generator = seeded({0x1122334455667788ULL, 2, 3, 4});
    draw(*generator, 5);
    const std::string state = generator->getState();
    ASSERT_EQ(state.size(), UniformRandomBitGenerator::kStateBytes);
    std::string expected("\x01", 1);
    for (std::uint64_t word : {0x1122334455667788ULL, 2ULL, 3ULL, 4ULL, 0ULL, 5ULL})
        for (int i = 0; i < 8; ++i)
            expected += static_cast<char>(word >> (8 * i));
    EXPECT_EQ(state, expected);

    const auto next = draw(*generator, 10);
    generator->setState(state);
    EXPECT_EQ(draw(*generator, 10), next);

    // A state taken when a block is used up continues with the next block.
    auto reference = seeded({5, 5, 5, 5});
    std::vector<std::uint64_t> skip(kBlock);
    reference->getRandomNumbers(skip.data(), kBlock);
    const std::string at_end = reference->getState();
    const auto after = draw(*reference, 3);
    auto other = seeded({0, 0, 0, 0});
    std::istringstream stream(at_end, std::ios::binary);
    other->load(stream);
    EXPECT_EQ(other->getSeed(), (Seed{5, 5, 5, 5}));
    EXPECT_EQ(draw(*other, 3), after);

    std::ostringstream saved(std::ios::binary);
    other->save(saved);
    EXPECT_EQ(saved.str(), other->getState());
}

TEST(UniformRandomBitGeneratorTest, BigEndianStateIsConverted) {
    std::string state(1, '\0');
    for (std::uint64_t word : {1ULL, 2ULL, 3ULL, 4ULL, 1ULL, 2ULL})
        for (int i = 7; i >= 0; --i)
            state += static_cast<char>(word >> (8 * i));
    auto generator = seeded({0, 0, 0, 0});
    generator->setState(state);
    EXPECT_EQ(generator->getSeed(), (Seed{1, 2, 3, 4}));
    // Block 1, word 2 of seed {1, 2, 3, 4}.
    auto reference = seeded({1, 2, 3, 4});
    std::vector<std::uint64_t> skip(kBlock + 2);
    reference->getRandomNumbers(skip.data(), skip.size());
    EXPECT_EQ(skip[kBlock + 1], 0x67707dd0d5610393ULL);
    EXPECT_EQ((*generator)(), (*reference)());
}

TEST(UniformRandomBitGeneratorTest, ShortStateLeavesTheGeneratorAsItWas) {
    auto generator = seeded({7, 7, 7, 7});
    draw(*generator, 3);
    const std::string before = generator->getState();
    const std::string full = seeded({1, 2, 3, 4})->getState();
    struct Case {
        std::size_t length;
        std::string message;
    };
    const Case cases[] = {
        {0, shortRead(1, 0)},  {1, shortRead(8, 0)},  {20, shortRead(8, 3)},
        {33, shortRead(8, 0)}, {41, shortRead(8, 0)}, {48, shortRead(8, 7)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.length);
        expectThrowsMessage<cereal::Exception>(
            [&] { generator->setState(full.substr(0, c.length)); }, c.message);
        EXPECT_EQ(generator->getState(), before);
    }
    auto reference = seeded({7, 7, 7, 7});
    draw(*reference, 3);
    EXPECT_EQ(draw(*generator, 4), draw(*reference, 4));
}

TEST(UniformRandomBitGeneratorTest, ConstructorSeedsHaveZeroUpperHalves) {
    for (int k = 0; k < 3; ++k) {
        auto generator = std::make_unique<UniformRandomBitGenerator>();
        for (auto word : generator->getSeed())
            EXPECT_EQ(word >> 32, 0u);
        // The first word is word 0 of block 0 under that seed.
        auto reference = seeded(generator->getSeed());
        EXPECT_EQ((*generator)(), (*reference)());
    }
}

TEST(UniformRandomBitGeneratorTest, StateGuardPutsTheThreadsGeneratorBack) {
    auto &generator = UniformRandomBitGenerator::getInstance();
    generator.setSeed({7, 7, 7, 7});
    generator();
    const std::string state = generator.getState();
    {
        const GeneratorStateGuard guard;
        generator.setSeed({1, 1, 1, 1});
        draw(generator, kBlock + 3);
    }
    EXPECT_EQ(generator.getState(), state);
    try {
        const GeneratorStateGuard guard;
        draw(generator, 10);
        throw std::runtime_error("leaving the scope");
    } catch (const std::runtime_error &) {
    }
    EXPECT_EQ(generator.getState(), state);
}
