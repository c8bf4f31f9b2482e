#include "foundation/ThreadSafe.hpp"

#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

using namespace Quelt;

// Writers that all find a key absent insert it once between them: whoever
// comes second after seeing it absent keeps the first entry; whoever saw it
// present replaces it.
TEST(ThreadSafeMapThreadsTest, OneInsertionPerKey) {
    for (int round = 0; round < 20; ++round) {
        ThreadSafeMap<std::uint64_t, int> map;
        std::atomic<int> insertions{0};
        Quelt::test::runTogether(8, [&](int t) {
            for (std::uint64_t key = 0; key < 16; ++key) {
                const auto [value, inserted] =
                    t % 2 == 0 ? map.try_emplace_or_replace(key, t) : map.try_emplace(key, t);
                if (inserted) {
                    ++insertions;
                    EXPECT_EQ(value, t);
                }
            }
        });
        EXPECT_EQ(insertions.load(), 16);
        EXPECT_EQ(map.size(), 16u);
    }
}
