#include "Quelt/MultipleDevice.hpp"
#include "foundation/DeviceSpecificArray2D.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <stdexcept>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;

namespace {

using Words = DeviceSpecificArray<std::uint64_t>;
// A list of per-device parts, standing in for lists of polynomials: moving it
// moves every element.
using WordLists = std::vector<Words>;

const char *const kEmptyMap = "Value-device map is empty.";

Words words(std::initializer_list<std::uint64_t> values, const Device &device = kHostDevice) {
    Words array(values.size(), device);
    std::uint64_t i = 0;
    for (auto v : values)
        array[i++] = v;
    return array;
}

std::vector<std::uint64_t> contents(const Words &array) { return {array.begin(), array.end()}; }

WordLists list(std::initializer_list<std::uint64_t> first, const Device &device) {
    WordLists value;
    value.push_back(words(first, device));
    value.push_back(words({99}, device));
    return value;
}

} // namespace

TEST(MultipleDeviceTest, DefaultMapsOfWordsHoldAnEmptyHostEntry) {
    MultipleDevice<Words> tables;
    EXPECT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables.at(kHostDevice).size(), 0u);
    EXPECT_EQ(tables.at(kHostDevice).getDevice(), kHostDevice);

    EXPECT_EQ(MultipleDevice<DeviceSpecificArray<std::complex<double>>>().size(), 0u);
    EXPECT_EQ(MultipleDevice<WordLists>().size(), 0u);
}

TEST(MultipleDeviceTest, AtOfAnAbsentDeviceThrowsAndReleasesTheLock) {
    MultipleDevice<Words> tables;
    expectThrowsMessage<std::out_of_range>([&] { tables.at(Device{0, 1}); }, "map::at");
    const auto &constant = tables;
    expectThrowsMessage<std::out_of_range>([&] { constant.at(Device{1, 0}); }, "map::at");
    // The map still answers: a lock left held would deadlock here.
    tables.set(Device{0, 1}, words({1}));
    EXPECT_EQ(tables.size(), 2u);
}

TEST(MultipleDeviceTest, CopyToCopiesMovesAndReplaces) {
    MultipleDevice<Words> tables;
    tables.set(kHostDevice, words({1, 2, 3}));
    tables.copyTo(kHostDevice, Device{0, 1});
    const Words &copy = tables.at(Device{0, 1});
    EXPECT_EQ(copy.getDevice(), (Device{0, 1}));
    EXPECT_EQ(contents(copy), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_NE(copy.getData(), tables.at(kHostDevice).getData());

    tables.at(kHostDevice)[0] = 10;
    tables.copyTo(kHostDevice, Device{0, 1});
    EXPECT_EQ(contents(tables.at(Device{0, 1})), (std::vector<std::uint64_t>{10, 2, 3}));
    EXPECT_EQ(tables.size(), 2u);

    expectThrowsMessage<std::out_of_range>(
        [&] {
            tables.copyTo(Device{0, 5}, kHostDevice);
        },
        "map::at");
    // No accelerator: the move fails and the map stays as it was.
    expectThrowsMessage(
        [&] {
            tables.copyTo(kHostDevice, Device{1, 0});
        },
        "Cannot support the function 'doAllocate' in the current build configuration");
    MultipleDevice<Words> empty_tables;
    expectThrowsMessage(
        [&] {
            empty_tables.copyTo(kHostDevice, Device{1, 0});
        },
        kNotSupportedBuildCuda);
    EXPECT_EQ(tables.size(), 2u);
    EXPECT_FALSE(tables.contains(Device{1, 0}));
    EXPECT_EQ(empty_tables.size(), 1u);
}

TEST(MultipleDeviceTest, ComplexTablesSkipTheHostTarget) {
    MultipleDevice<DeviceSpecificArray<std::complex<double>>> roots;
    roots.copyTo(Device{0, 4}, kHostDevice);
    EXPECT_EQ(roots.size(), 0u);
    roots.set(Device{0, 1}, DeviceSpecificArray<std::complex<double>>(2, Device{0, 1}));
    roots.copyTo(Device{0, 1}, kHostDevice);
    EXPECT_FALSE(roots.contains(kHostDevice));
    roots.copyTo(Device{0, 1}, Device{0, 2});
    EXPECT_EQ(roots.at(Device{0, 2}).size(), 2u);
}

TEST(MultipleDeviceTest, CopyFromAnyDeviceToTakesTheSmallestDevice) {
    MultipleDevice<WordLists> parts;
    expectThrowsMessage([&] { parts.copyFromAnyDeviceTo(kHostDevice); }, kEmptyMap);
    EXPECT_EQ(parts.size(), 0u);

    parts.set(Device{0, 2}, list({2}, Device{0, 2}));
    parts.set(Device{0, 1}, list({1}, Device{0, 1}));
    const auto *present = parts.at(Device{0, 2})[0].getData();
    parts.copyFromAnyDeviceTo(Device{0, 2});
    EXPECT_EQ(parts.at(Device{0, 2})[0].getData(), present);

    parts.copyFromAnyDeviceTo(Device{0, 5});
    const WordLists &copied = parts.at(Device{0, 5});
    ASSERT_EQ(copied.size(), 2u);
    EXPECT_EQ(contents(copied[0]), (std::vector<std::uint64_t>{1}));
    EXPECT_EQ(copied[0].getDevice(), (Device{0, 5}));
    EXPECT_EQ(copied[1].getDevice(), (Device{0, 5}));

    // Devices order by id first: the pinned device {3, 0} comes before {0, 1}.
    parts.set(Device{3, 0}, WordLists{});
    parts.copyFromAnyDeviceTo(Device{0, 6});
    EXPECT_TRUE(parts.at(Device{0, 6}).empty());
}

TEST(MultipleDeviceTest, RemoveExceptKeepsExactlyOneEntry) {
    MultipleDevice<WordLists> parts;
    expectThrowsMessage([&] { parts.removeExcept(kHostDevice); }, kEmptyMap);

    parts.set(Device{0, 2}, list({2}, Device{0, 2}));
    parts.set(Device{0, 1}, list({1}, Device{0, 1}));
    const auto *kept = parts.at(Device{0, 2})[0].getData();
    parts.removeExcept(Device{0, 2});
    EXPECT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts.at(Device{0, 2})[0].getData(), kept);

    parts.set(Device{0, 1}, list({1}, Device{0, 1}));
    parts.removeExcept(Device{0, 3});
    EXPECT_EQ(parts.size(), 1u);
    EXPECT_EQ(contents(parts.at(Device{0, 3})[0]), (std::vector<std::uint64_t>{1}));
    EXPECT_EQ(parts.at(Device{0, 3})[0].getDevice(), (Device{0, 3}));
}

TEST(MultipleDeviceTest, ResetToLeavesOneEntry) {
    MultipleDevice<WordLists> parts;
    parts.resetTo(Device{0, 2}, list({2}, Device{0, 2}));
    parts.set(kHostDevice, list({1}, kHostDevice));
    parts.set(Device{0, 3}, list({3}, Device{0, 3}));
    parts.resetTo(kHostDevice, list({4}, kHostDevice));
    EXPECT_EQ(parts.size(), 1u);
    EXPECT_EQ(contents(parts.at(kHostDevice)[0]), (std::vector<std::uint64_t>{4}));
    EXPECT_FALSE(parts.contains(Device{0, 2}));
}

TEST(DeviceSpecificArray2DTest, RowMajorLayout) {
    DeviceSpecificArray2D<std::uint64_t> table(2, 3);
    EXPECT_EQ(table.rows(), 2u);
    EXPECT_EQ(table.columns(), 3u);
    EXPECT_EQ(table.array().size(), 6u);
    for (std::uint64_t r = 0; r < 2; ++r)
        for (std::uint64_t c = 0; c < 3; ++c)
            table.at(r, c) = 10 * r + c;
    EXPECT_EQ(table.array()[4], 11u);
    EXPECT_EQ(table.row(1)[2], 12u);
    table.to(Device{0, 1});
    EXPECT_EQ(table.getDevice(), (Device{0, 1}));
    EXPECT_EQ(table.at(1, 0), 10u);
    expectThrowsMessage(
        [] {
            DeviceSpecificArray2D<std::uint64_t> t(std::uint64_t{1} << 32, std::uint64_t{1} << 32);
        },
        "[DeviceSpecificArray] Requested size is too large.");
}
