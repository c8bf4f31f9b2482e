#include "Quelt/Random.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <thread>
#include <vector>

using namespace Quelt;

namespace {
using Seed = std::array<std::uint64_t, 4>;
} // namespace

TEST(UniformRandomBitGeneratorTest, ThreadsHaveTheirOwnGenerators) {
    setSeed({1, 2, 3, 4});
    auto &mine = UniformRandomBitGenerator::getInstance();
    mine();
    std::vector<std::uint64_t> first(2);
    std::array<std::uint64_t, 4> fresh_seed{};
    std::thread worker([&] {
        fresh_seed = getSeed();
        setSeed({1, 2, 3, 4});
        first[0] = UniformRandomBitGenerator::getInstance()();
        setSeed({0, 0, 0, 0});
        first[1] = UniformRandomBitGenerator::getInstance()();
    });
    worker.join();
    EXPECT_EQ(first[0], 0xc7d302f6b80b866eULL);
    EXPECT_EQ(first[1], 0xad8f07deebf2ed69ULL);
    EXPECT_EQ(getSeed(), (Seed{1, 2, 3, 4}));
    EXPECT_EQ(mine(), 0x45bbb7b20124cf2cULL);
    for (auto word : fresh_seed)
        EXPECT_EQ(word >> 32, 0u);
}
