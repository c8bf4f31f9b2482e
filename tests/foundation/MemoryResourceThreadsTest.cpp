#include "Quelt/Device.hpp"
#include "Quelt/MemoryResource.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <thread>
#include <vector>

using namespace Quelt;

TEST(MemoryResourceTest, OneResourcePerDeviceAcrossThreads) {
    const Device device{0, 7};
    MemoryResource *first = getPerDeviceMemoryResource(device);
    std::vector<MemoryResource *> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t)
        threads.emplace_back([&seen, t, device] { seen[t] = getPerDeviceMemoryResource(device); });
    for (auto &thread : threads)
        thread.join();
    for (auto *resource : seen)
        EXPECT_EQ(resource, first);
    EXPECT_NE(getPerDeviceMemoryResource({0, 0}), first);
}
