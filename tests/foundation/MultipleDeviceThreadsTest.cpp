#include "Quelt/MultipleDevice.hpp"

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

using namespace Quelt;

namespace {
using Words = DeviceSpecificArray<std::uint64_t>;
} // namespace

// A per-device value that counts how often it is copied.
struct CountedValue {
    static inline std::atomic<int> copies{0};
    CountedValue() = default;
    CountedValue(const CountedValue &) { ++copies; }
    CountedValue(CountedValue &&) noexcept {}
    CountedValue &operator=(const CountedValue &) {
        ++copies;
        return *this;
    }
    CountedValue &operator=(CountedValue &&) noexcept { return *this; }
    void to(const Device &) {}
};

TEST(MultipleDeviceTest, ConcurrentCopiesToOneDeviceCopyOnce) {
    // Callers released together all ask for the same missing entry: exactly
    // one of them may copy, the others find its copy.
    for (int round = 0; round < 200; ++round) {
        MultipleDevice<CountedValue> values{CountedValue()};
        CountedValue::copies = 0;
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&values, &ready] {
                ++ready;
                while (ready < 4) {
                }
                values.copyFromAnyDeviceTo(Device{0, 1});
            });
        for (auto &thread : threads)
            thread.join();
        ASSERT_EQ(CountedValue::copies, 1) << "round " << round;
        EXPECT_EQ(values.size(), 2u);
    }
}

TEST(MultipleDeviceTest, ConcurrentLookupsAndInsertions) {
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
