#include "foundation/ThreadSafe.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace Quelt;

TEST(ThreadSafeMapTest, InsertOnlyOrReplace) {
    ThreadSafeMap<std::uint64_t, std::string> map;
    EXPECT_EQ(map.try_emplace(3, "a"), (std::pair<std::string, bool>("a", true)));
    EXPECT_EQ(map.try_emplace(3, "b"), (std::pair<std::string, bool>("a", false)));
    EXPECT_EQ(map.try_emplace_or_replace(3, "c"), (std::pair<std::string, bool>("c", false)));
    EXPECT_EQ(map.try_emplace_or_replace(1, "d"), (std::pair<std::string, bool>("d", true)));
    EXPECT_EQ(map.find(3), "c");
    EXPECT_EQ(map.find(2), std::nullopt);
    EXPECT_TRUE(map.contains(1));
    EXPECT_EQ(map.at(1), "d");
    EXPECT_THROW(map.at(2), std::out_of_range);
    EXPECT_EQ(map.size(), 2u);

    std::vector<std::pair<std::uint64_t, std::string>> walked;
    map.forEach(
        [&](std::uint64_t key, const std::string &value) { walked.emplace_back(key, value); });
    EXPECT_EQ(walked, (std::vector<std::pair<std::uint64_t, std::string>>{{1, "d"}, {3, "c"}}));
    EXPECT_EQ(map.entries(), walked);
    EXPECT_EQ(map.write([](auto &values) { return values.erase(1); }), 1u);
    EXPECT_EQ(map.read([](const auto &values) { return values.size(); }), 1u);
}
