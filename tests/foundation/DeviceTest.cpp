#include "Quelt/Device.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/MemoryResource.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;

namespace {
const char *const kNoResource = "Cannot find a proper memory resource for the requested device.";
const char *const kDoAllocate =
    "Cannot support the function 'doAllocate' in the current build configuration";
} // namespace

TEST(DeviceTest, OrdersByIdThenType) {
    struct Case {
        Device a, b;
        bool less;
    };
    const Case cases[] = {
        {{1, 0}, {0, 1}, true},  {{0, 0}, {1, 0}, true},  {{0, 0}, {0, 0}, false},
        {{0, 1}, {1, 0}, false}, {{3, 0}, {0, 1}, true},  {{0, -1}, {0, 0}, true},
        {{-1, 0}, {0, 0}, true}, {{1, 2}, {0, 2}, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.a < c.b, c.less)
            << c.a.type << "," << c.a.id << " < " << c.b.type << "," << c.b.id;
        EXPECT_EQ(std::less<Device>()(c.a, c.b), c.less);
    }
    const std::set<Device> devices{{0, 1}, {1, 0}, {0, 0}, {3, 0}};
    EXPECT_EQ(*devices.begin(), (Device{0, 0}));
    EXPECT_TRUE((Device{1, 2} == Device{1, 2}));
    EXPECT_TRUE((Device{1, 2} != Device{2, 1}));
}

TEST(DeviceTest, StreamsAreNullHandles) {
    EXPECT_EQ(getDefaultStream().handle, 0u);
    CudaStream stream;
    EXPECT_EQ(stream.view(), getDefaultStream());
}

TEST(MemoryResourceTest, OneResourcePerDeviceOfItsKind) {
    EXPECT_EQ(getPerDeviceMemoryResource({0, 6}), getPerDeviceMemoryResource({0, 6}));
    EXPECT_NE(getPerDeviceMemoryResource({0, 0}), getPerDeviceMemoryResource({0, 6}));

    EXPECT_NE(dynamic_cast<HostMemoryResource *>(getPerDeviceMemoryResource({0, 0})), nullptr);
    EXPECT_NE(dynamic_cast<CudaMemoryResource *>(getPerDeviceMemoryResource({1, 0})), nullptr);
    EXPECT_NE(dynamic_cast<PinnedMemoryResource *>(getPerDeviceMemoryResource({3, 0})), nullptr);
}

TEST(MemoryResourceTest, UnknownDeviceTypesHaveNoResource) {
    for (int type : {2, 4, -1, 100})
        expectThrowsMessage([type] { getPerDeviceMemoryResource(Device{type, 0}); }, kNoResource);
}

TEST(MemoryResourceTest, LargeHostBlocksAreKeptForTheSameSize) {
    // A freed block of 4 MiB or more serves the next request of exactly its
    // size; other sizes get blocks of their own. Blocks stay writable to the
    // last byte. (Under AddressSanitizer nothing is kept.)
    MemoryResource *host = getPerDeviceMemoryResource({0, 0});
    const std::uint64_t bytes = (std::uint64_t{4} << 20) + 4096;
    auto *first = static_cast<unsigned char *>(host->doAllocate(bytes, getDefaultStream()));
    first[bytes - 1] = 1;
    host->doDeallocate(first, bytes, getDefaultStream());
    auto *other = static_cast<unsigned char *>(host->doAllocate(bytes + 8, getDefaultStream()));
    auto *again = static_cast<unsigned char *>(host->doAllocate(bytes, getDefaultStream()));
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_NE(other, first);
    EXPECT_EQ(again, first);
#endif
    other[bytes + 7] = 2;
    again[bytes - 1] = 3;
    host->doDeallocate(other, bytes + 8, getDefaultStream());
    host->doDeallocate(again, bytes, getDefaultStream());
}

TEST(MemoryResourceTest, HostBlocksAreAlignedAndZeroGivesNull) {
    MemoryResource *host = getPerDeviceMemoryResource({0, 0});
    EXPECT_EQ(host->doAllocate(0, getDefaultStream()), nullptr);
    host->doDeallocate(nullptr, 0, getDefaultStream());
    for (std::uint64_t bytes : {1, 7, 32, 33, 1000}) {
        void *block = host->doAllocate(bytes, getDefaultStream());
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 32, 0u) << bytes;
        static_cast<unsigned char *>(block)[bytes - 1] = 1;
        host->doDeallocate(block, bytes, getDefaultStream());
    }
    // Blocks of 4 MiB and more start on a 2 MiB (huge page) boundary; both
    // sides of the bound are handed back with the size they were made with.
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    for (std::uint64_t bytes : {4 * kMiB - 1, 4 * kMiB, 9 * kMiB + 5}) {
        void *block = host->doAllocate(bytes, getDefaultStream());
        ASSERT_NE(block, nullptr);
        const std::uint64_t alignment = bytes >= 4 * kMiB ? 2 * kMiB : 32;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u) << bytes;
        static_cast<unsigned char *>(block)[bytes - 1] = 1;
        host->doDeallocate(block, bytes, getDefaultStream());
    }
}

TEST(MemoryResourceTest, AcceleratorAndPinnedGiveNullOnlyForZeroBytes) {
    for (const Device device : {Device{1, 0}, Device{3, 0}}) {
        MemoryResource *resource = getPerDeviceMemoryResource(device);
        EXPECT_EQ(resource->doAllocate(0, getDefaultStream()), nullptr);
        // A pinned block that is really null would let an array with a size
        // point nowhere, so both kinds refuse every non-zero request.
        for (std::uint64_t bytes : {1, 4096})
            expectThrowsMessage([&] { resource->doAllocate(bytes, getDefaultStream()); },
                                kDoAllocate);
        resource->doDeallocate(nullptr, 0, getDefaultStream());
    }
}

TEST(CudaToolsTest, HostOnlyAnswers) {
    EXPECT_FALSE(CudaTools::isAvailable());
    EXPECT_EQ(CudaTools::cudaGetDeviceCount(), 0);
    EXPECT_EQ(CudaTools::cudaGetDevice(), 0);
    CudaTools::cudaSetDevice(3);
    CudaTools::cudaDeviceSynchronize();
    CudaTools::nvtxPush("label");
    CudaTools::nvtxPop();
    EXPECT_EQ(CudaTools::getCudaMemoryInfo(), (std::pair<std::uint64_t, std::uint64_t>{0, 0}));

    EXPECT_EQ(getCurrentCudaDevice(), (Device{1, 0}));
    setCurrentCudaDevice(5);
    EXPECT_EQ(getCurrentCudaDevice(), (Device{1, 0}));
    EXPECT_EQ(CudaTools::cudaGetDevice(), 0);
}

TEST(CudaToolsTest, CollectsAcceleratorIds) {
    EXPECT_EQ(deviceSet2CudaDeviceIds({{0, 0}, {1, 2}, {1, 0}, {3, 0}}), (std::set<int>{0, 2}));
    EXPECT_TRUE(deviceSet2CudaDeviceIds({}).empty());
    EXPECT_TRUE(deviceSet2CudaDeviceIds({{0, 0}, {3, 1}, {0, 4}}).empty());
}

TEST(CudaToolsTest, UnsupportedOperationsAndCopies) {
    EXPECT_EQ(unsupportedFunctionMessage("addCUDA"),
              "Cannot support the function 'addCUDA' in the current build configuration");
    expectThrowsMessage([] { throwUnsupportedFunction("save"); },
                        "Cannot support the function 'save' in the current build configuration");
    std::uint64_t a = 1, b = 2;
    expectThrowsMessage([&] { heteroDeviceCopy(&a, 8, &b, getDefaultStream()); },
                        kNotSupportedBuildCuda);
    expectThrowsMessage([&] { deviceToDeviceCopy(0, &a, 8, 1, &b, getDefaultStream()); },
                        kNotSupportedBuildCuda);
    EXPECT_EQ(b, 2u);
    EXPECT_STREQ(kNotSupportedBuildCuda, "Not supported. Build with QUELT_CUDA flag.");
}
