#include "Quelt/DeviceSpecificArray.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <limits>
#include <utility>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;

namespace {

const char *const kDoAllocate =
    "Cannot support the function 'doAllocate' in the current build configuration";
const char *const kNoResource = "Cannot find a proper memory resource for the requested device.";
const char *const kTooLarge = "[DeviceSpecificArray] Requested size is too large.";

const Device kHost1{0, 1};
const Device kCuda{1, 0};
const Device kPinned{3, 0};
const CudaStreamView kOtherStream{42};

template <typename T>
T valueOf(std::uint64_t i) {
    if constexpr (std::is_same_v<T, bool>)
        return i % 2 == 1;
    else if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(static_cast<std::uintptr_t>(0x1000 + 8 * i));
    else if constexpr (std::is_same_v<T, std::complex<double>>)
        return T(static_cast<double>(i) + 0.5, -static_cast<double>(i));
    else
        return static_cast<T>(i * 3 + 1);
}

template <typename T>
void fill(DeviceSpecificArray<T> &array, std::uint64_t offset = 0) {
    for (std::uint64_t i = 0; i < array.size(); ++i)
        array[i] = valueOf<T>(i + offset);
}

template <typename T>
bool holds(const DeviceSpecificArray<T> &array, std::uint64_t count, std::uint64_t offset = 0) {
    for (std::uint64_t i = 0; i < count; ++i)
        if (!(array[i] == valueOf<T>(i + offset)))
            return false;
    return true;
}

template <typename T>
class DeviceSpecificArrayTypedTest : public ::testing::Test {};

using ElementTypes = ::testing::Types<std::uint64_t, std::uint64_t *, double, std::complex<double>,
                                      int, bool, unsigned __int128, __int128>;
TYPED_TEST_SUITE(DeviceSpecificArrayTypedTest, ElementTypes);

} // namespace

TYPED_TEST(DeviceSpecificArrayTypedTest, SizesCapacityAndExactGrowth) {
    using T = TypeParam;
    DeviceSpecificArray<T> empty(0);
    EXPECT_EQ(empty.getData(), nullptr);
    EXPECT_EQ(empty.capacityInBytes(), 0u);
    EXPECT_EQ(empty.getDevice(), kHostDevice);

    DeviceSpecificArray<T> array(5);
    EXPECT_EQ(array.size(), 5u);
    EXPECT_EQ(array.sizeInBytes(), 5 * sizeof(T));
    EXPECT_EQ(array.capacity(), 5u);
    EXPECT_EQ(array.capacityInBytes(), 5 * sizeof(T));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(array.getData()) % 32, 0u);
    fill(array);

    // Shrinking keeps the block; growing back within it shows the old elements.
    T *block = array.getData();
    array.resize(2);
    EXPECT_EQ(array.size(), 2u);
    EXPECT_EQ(array.capacity(), 5u);
    array.resize(5);
    EXPECT_EQ(array.getData(), block);
    EXPECT_TRUE(holds(array, 5));

    // Growth past the capacity is exact and keeps the leading elements.
    array.resize(3);
    array.resize(7);
    EXPECT_NE(array.getData(), block);
    EXPECT_EQ(array.capacity(), 7u);
    EXPECT_EQ(array.capacityInBytes(), 7 * sizeof(T));
    EXPECT_TRUE(holds(array, 3));

    // Copies take the source's size, not its capacity.
    array.resize(4);
    DeviceSpecificArray<T> copy(array);
    EXPECT_EQ(copy.size(), 4u);
    EXPECT_EQ(copy.capacity(), 4u);
    EXPECT_TRUE(holds(copy, 3));
    copy[0] = valueOf<T>(9);
    EXPECT_TRUE(array[0] == valueOf<T>(0));
}

TEST(DeviceSpecificArrayTest, OversizedRequestsAreRefused) {
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max() / 8 + 1;
    expectThrowsMessage([huge] { DeviceSpecificArray<std::uint64_t> a(huge); }, kTooLarge);
    DeviceSpecificArray<std::uint64_t> array(2);
    fill(array);
    const auto *block = array.getData();
    expectThrowsMessage([&] { array.resize(huge); }, kTooLarge);
    EXPECT_EQ(array.getData(), block);
    EXPECT_EQ(array.size(), 2u);
    EXPECT_TRUE(holds(array, 2));
}

TEST(DeviceSpecificArrayTest, CopyAssignmentReusesOrReplacesTheBlock) {
    struct Case {
        const char *name;
        std::uint64_t target_size;
        Device target_device;
        CudaStreamView target_stream;
        std::uint64_t source_size;
        bool keeps_block;
    };
    const Case cases[] = {
        {"smaller, same device and stream", 6, kHostDevice, {}, 4, true},
        {"equal size", 4, kHostDevice, {}, 4, true},
        {"smaller, other stream", 6, kHostDevice, kOtherStream, 4, false},
        {"smaller, other host id", 6, kHost1, {}, 4, false},
        {"larger", 3, kHostDevice, {}, 4, false},
        {"empty source", 3, kHostDevice, {}, 0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DeviceSpecificArray<std::uint64_t> source(c.source_size);
        fill(source);
        DeviceSpecificArray<std::uint64_t> target(c.target_size, c.target_device, c.target_stream);
        fill(target, 100);
        const auto *old_block = target.getData();
        const auto old_capacity = target.capacity();
        target = source;
        EXPECT_EQ(target.size(), c.source_size);
        EXPECT_TRUE(holds(target, c.source_size));
        EXPECT_EQ(target.getDevice(), source.getDevice());
        EXPECT_EQ(target.getStream(), source.getStream());
        if (c.keeps_block) {
            EXPECT_EQ(target.getData(), old_block);
            EXPECT_EQ(target.capacity(), old_capacity);
        } else {
            EXPECT_NE(target.getData(), old_block);
            EXPECT_EQ(target.capacity(), c.source_size);
        }
    }

    DeviceSpecificArray<std::uint64_t> self(3);
    fill(self);
    const auto *block = self.getData();
    auto &alias = self;
    self = alias;
    EXPECT_EQ(self.getData(), block);
    EXPECT_TRUE(holds(self, 3));
}

TEST(DeviceSpecificArrayTest, MovesLeaveAnEmptyHostArray) {
    DeviceSpecificArray<int> source(3, kHost1, kOtherStream);
    fill(source);
    const int *block = source.getData();
    DeviceSpecificArray<int> moved(std::move(source));
    EXPECT_EQ(moved.getData(), block);
    EXPECT_EQ(moved.getDevice(), kHost1);
    EXPECT_EQ(moved.getStream(), kOtherStream);
    EXPECT_EQ(moved.size(), 3u);
    EXPECT_EQ(source.getDevice(), kHostDevice);
    EXPECT_EQ(source.size(), 0u);
    EXPECT_EQ(source.capacity(), 0u);
    EXPECT_EQ(source.getData(), nullptr);
    EXPECT_EQ(source.getStream(), getDefaultStream());

    DeviceSpecificArray<int> other(5);
    const int *other_block = other.getData();
    other = std::move(moved);
    EXPECT_EQ(other.getData(), block);
    EXPECT_EQ(other.getDevice(), kHost1);
    EXPECT_EQ(moved.getData(), other_block);
    EXPECT_EQ(moved.size(), 5u);
}

TEST(DeviceSpecificArrayTest, ToMovesBetweenHostIdsAndKeepsBlockOnSameDevice) {
    DeviceSpecificArray<double> array(6);
    fill(array);
    const double *block = array.getData();
    array.to(kHostDevice, kOtherStream);
    EXPECT_EQ(array.getData(), block);
    EXPECT_EQ(array.getStream(), kOtherStream);

    array.resize(4);
    array.to(kHost1);
    EXPECT_NE(array.getData(), block);
    EXPECT_EQ(array.getDevice(), kHost1);
    EXPECT_EQ(array.getStream(), getDefaultStream());
    EXPECT_EQ(array.capacity(), 4u);
    EXPECT_TRUE(holds(array, 4));
}

TEST(DeviceSpecificArrayTest, NonHostDevicesFailWithoutChangingTheArray) {
    // Accelerator and pinned arrays can only be empty in this build.
    DeviceSpecificArray<std::uint64_t> cuda_empty(0, kCuda);
    EXPECT_EQ(cuda_empty.getDevice(), kCuda);
    EXPECT_EQ(cuda_empty.getData(), nullptr);
    expectThrowsMessage([] { DeviceSpecificArray<std::uint64_t> a(1, kCuda); }, kDoAllocate);
    expectThrowsMessage([] { DeviceSpecificArray<std::uint64_t> a(1, kPinned); }, kDoAllocate);
    expectThrowsMessage([] { DeviceSpecificArray<std::uint64_t> a(0, Device{2, 0}); }, kNoResource);
    expectThrowsMessage([&] { cuda_empty.resize(2); }, kDoAllocate);
    EXPECT_EQ(cuda_empty.size(), 0u);

    struct Case {
        const char *name;
        std::uint64_t size;
        Device target;
        const char *message;
    };
    const Case cases[] = {
        {"non-empty to accelerator", 3, kCuda, kDoAllocate},
        {"non-empty to pinned", 3, kPinned, kDoAllocate},
        {"empty to accelerator", 0, kCuda, kNotSupportedBuildCuda},
        {"empty to pinned", 0, kPinned, kNotSupportedBuildCuda},
        {"unknown device type", 3, Device{2, 0}, kNoResource},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DeviceSpecificArray<std::uint64_t> array(c.size);
        fill(array);
        const auto *block = array.getData();
        expectThrowsMessage([&] { array.to(c.target); }, c.message);
        EXPECT_EQ(array.getData(), block);
        EXPECT_EQ(array.getDevice(), kHostDevice);
        EXPECT_EQ(array.size(), c.size);
        EXPECT_TRUE(holds(array, c.size));
    }

    // Copying an empty accelerator array needs an accelerator copy.
    expectThrowsMessage([&] { DeviceSpecificArray<std::uint64_t> copy(cuda_empty); },
                        kNotSupportedBuildCuda);
    DeviceSpecificArray<std::uint64_t> target(2);
    fill(target);
    expectThrowsMessage([&] { target = cuda_empty; }, kNotSupportedBuildCuda);
    EXPECT_EQ(target.getDevice(), kHostDevice);
    EXPECT_TRUE(holds(target, 2));
}

TEST(DeviceSpecificArrayTest, CopyDataFromFollowsTheDevicePairRule) {
    struct Case {
        Device target, source;
        bool copies;
    };
    const Case cases[] = {
        {kHostDevice, kHostDevice, true}, {kHostDevice, kHost1, true},
        {kHost1, kHostDevice, true},      {kHostDevice, kCuda, false},
        {kCuda, kHostDevice, false},      {kCuda, kCuda, false},
        {kCuda, Device{1, 1}, false},     {kHostDevice, kPinned, false},
        {kPinned, kHostDevice, false},    {kCuda, kPinned, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.target.type) + "," + std::to_string(c.target.id) + " <- " +
                     std::to_string(c.source.type) + "," + std::to_string(c.source.id));
        const std::uint64_t n = c.copies ? 3 : 0;
        DeviceSpecificArray<int> source(n, c.source);
        DeviceSpecificArray<int> target(c.target.isHost() ? 5 : 0, c.target);
        fill(source);
        fill(target, 50);
        if (c.copies) {
            target.copyDataFrom(source);
            EXPECT_EQ(target.size(), 5u);
            EXPECT_TRUE(holds(target, 3));
            EXPECT_EQ(target[3], valueOf<int>(53));
        } else {
            expectThrowsMessage([&] { target.copyDataFrom(source, getDefaultStream()); },
                                kNotSupportedBuildCuda);
        }
    }

    DeviceSpecificArray<int> small(2), large(3);
    fill(small, 10);
    fill(large);
    expectThrowsMessage([&] { small.copyDataFrom(large); },
                        DeviceSpecificArray<int>::kBlockTooSmall);
    EXPECT_TRUE(holds(small, 2, 10));
    // Within the capacity, even past the size, the copy is allowed.
    small.resize(1);
    large.resize(2);
    small.copyDataFrom(large);
    EXPECT_EQ(small.size(), 1u);
    small.resize(2);
    EXPECT_TRUE(holds(small, 2));
}
