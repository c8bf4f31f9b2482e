#include "foundation/MultipleDevice.hpp"

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

using namespace Quelt;

namespace {
using Words = DeviceSpecificArray<std::uint64_t>;
} // namespace

TEST(MultipleDevice, ConcurrentLookupsAndInsertions) {
    MultipleDevice<Words> tables;
    Words five(1);
    five[0] = 5;
    tables.set(kHostDevice, std::move(five));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&tables, t] {
            for (int k = 0; k < 50; ++k) {
                EXPECT_EQ(tables.at(kHostDevice)[0], 5u);
                tables.copyTo(kHostDevice, Device{0, 1 + (t * 50 + k) % 7});
            }
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(tables.size(), 8u);
}
