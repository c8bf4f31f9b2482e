#include "foundation/DeviceArraySerialization.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cereal/archives/portable_binary.hpp>

#include <complex>
#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;

namespace {

using Bytes = std::vector<unsigned char>;

template <typename T>
std::string saveToString(const DeviceSpecificArray<T> &array,
                         cereal::PortableBinaryOutputArchive::Options options =
                             cereal::PortableBinaryOutputArchive::Options::Default()) {
    std::ostringstream stream(std::ios::binary);
    {
        cereal::PortableBinaryOutputArchive archive(stream, options);
        archive(array);
    }
    return stream.str();
}

template <typename T>
void loadFromString(const std::string &bytes, DeviceSpecificArray<T> &array) {
    std::istringstream stream(bytes, std::ios::binary);
    cereal::PortableBinaryInputArchive archive(stream);
    archive(array);
}

std::string toString(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

// Appends `value` as `width` bytes, most significant first.
void putBigEndian(Bytes &out, std::uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
void putLittleEndian(Bytes &out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    return bits;
}

std::string shortRead(std::uint64_t asked, std::uint64_t read) {
    return "Failed to read " + std::to_string(asked) + " bytes from input stream! Read " +
           std::to_string(read);
}

template <typename T>
DeviceSpecificArray<T> makeArray(std::initializer_list<T> values) {
    DeviceSpecificArray<T> array(values.size());
    std::uint64_t i = 0;
    for (const T &v : values)
        array[i++] = v;
    return array;
}

template <typename T>
std::vector<T> contents(const DeviceSpecificArray<T> &array) {
    return std::vector<T>(array.begin(), array.end());
}

} // namespace

TEST(DeviceArraySerializationTest, WritesCountThenRawElements) {
    Bytes expected{1};
    putLittleEndian(expected, 2, 8);
    putLittleEndian(expected, 1, 4);
    putLittleEndian(expected, 0xfffffffe, 4);
    EXPECT_EQ(saveToString(makeArray<int>({1, -2})), toString(expected));

    Bytes empty{1};
    putLittleEndian(empty, 0, 8);
    EXPECT_EQ(saveToString(DeviceSpecificArray<std::uint64_t>(0)), toString(empty));

    // Only the size is written, not the capacity.
    auto words = makeArray<std::uint64_t>({7, 8, 9});
    words.resize(1);
    Bytes one{1};
    putLittleEndian(one, 1, 8);
    putLittleEndian(one, 7, 8);
    EXPECT_EQ(saveToString(words), toString(one));
}

TEST(DeviceArraySerializationTest, RoundTripsInBothByteOrders) {
    using Options = cereal::PortableBinaryOutputArchive::Options;
    for (const auto &options : {Options::LittleEndian(), Options::BigEndian()}) {
        const auto words = makeArray<std::uint64_t>({0, 1, 0x0123456789abcdefULL, ~0ULL});
        DeviceSpecificArray<std::uint64_t> w;
        loadFromString(saveToString(words, options), w);
        EXPECT_EQ(contents(w), contents(words));

        const auto ints = makeArray<int>({-1, 0, 2147483647, -2147483647 - 1});
        DeviceSpecificArray<int> i;
        loadFromString(saveToString(ints, options), i);
        EXPECT_EQ(contents(i), contents(ints));

        const auto complexes = makeArray<std::complex<double>>({{1.5, -2.25}, {-0.0, 1e300}});
        DeviceSpecificArray<std::complex<double>> c;
        loadFromString(saveToString(complexes, options), c);
        EXPECT_EQ(contents(c), contents(complexes));
    }
}

TEST(DeviceArraySerializationTest, LoadedArrayIsAnExactHostArray) {
    const std::string bytes = saveToString(makeArray<std::uint64_t>({4, 5, 6}));
    const CudaStreamView stream{7};
    for (const Device device : {kHostDevice, Device{0, 1}, Device{1, 0}}) {
        DeviceSpecificArray<std::uint64_t> target(device.isHost() ? 10 : 0, device, stream);
        loadFromString(bytes, target);
        EXPECT_EQ(target.getDevice(), kHostDevice);
        EXPECT_EQ(target.getStream(), stream);
        EXPECT_EQ(target.capacity(), 3u);
        EXPECT_EQ(contents(target), (std::vector<std::uint64_t>{4, 5, 6}));
    }
}

TEST(DeviceArraySerializationTest, BigEndianStreamsAreConvertedPerElement) {
    Bytes words{0};
    putBigEndian(words, 2, 8);
    putBigEndian(words, 0x0102030405060708ULL, 8);
    putBigEndian(words, 1, 8);
    DeviceSpecificArray<std::uint64_t> w;
    loadFromString(toString(words), w);
    EXPECT_EQ(contents(w), (std::vector<std::uint64_t>{0x0102030405060708ULL, 1}));

    Bytes ints{0};
    putBigEndian(ints, 3, 8);
    putBigEndian(ints, 0xfffffffe, 4);
    putBigEndian(ints, 0x01020304, 4);
    putBigEndian(ints, 0x80000000, 4);
    DeviceSpecificArray<int> i;
    loadFromString(toString(ints), i);
    EXPECT_EQ(contents(i), (std::vector<int>{-2, 0x01020304, -2147483647 - 1}));

    // Each double is reversed on its own: real and imaginary keep their places.
    Bytes complexes{0};
    putBigEndian(complexes, 2, 8);
    for (double part : {1.5, -2.25, 3.0e-310, -7.0})
        putBigEndian(complexes, bitsOf(part), 8);
    DeviceSpecificArray<std::complex<double>> c;
    loadFromString(toString(complexes), c);
    EXPECT_EQ(contents(c), (std::vector<std::complex<double>>{{1.5, -2.25}, {3.0e-310, -7.0}}));
}

TEST(DeviceArraySerializationTest, NonHostArraysCannotBeSaved) {
    DeviceSpecificArray<std::uint64_t> cuda(0, Device{1, 0});
    expectThrowsMessage([&] { saveToString(cuda); }, kNotSupportedBuildCuda);
    DeviceSpecificArray<int> pinned(0, Device{3, 0});
    expectThrowsMessage([&] { saveToString(pinned); },
                        "Cannot support the function 'save' in the current build configuration");
}

TEST(DeviceArraySerializationTest, BadStreamsLeaveTheArrayUnchanged) {
    struct Case {
        const char *name;
        std::uint64_t count;
        std::uint64_t words_present; // complete 8-byte words after the count
        std::uint64_t count_bytes;   // bytes of the count present
        std::string message;
    };
    const std::uint64_t limit = std::uint64_t{1} << 59; // 2^62 bytes: read piecewise
    const Case cases[] = {
        {"empty stream after the byte-order byte", 0, 0, 0, shortRead(8, 0)},
        {"truncated count", 0, 0, 3, shortRead(8, 3)},
        {"one element short", 4, 3, 8, shortRead(32, 24)},
        {"no elements", 2, 0, 8, shortRead(16, 0)},
        {"count far beyond the stream", limit, 2, 8, shortRead(limit * 8, 16)},
        {"byte size beyond any stream", std::uint64_t{1} << 60, 2, 8, detail::kStoredCountTooLarge},
        {"byte size wraps around", (std::uint64_t{1} << 61) + 1, 2, 8,
         detail::kStoredCountTooLarge},
        {"largest count", ~std::uint64_t{0}, 0, 8, detail::kStoredCountTooLarge},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes{1};
        putLittleEndian(bytes, c.count, 8);
        bytes.resize(1 + c.count_bytes);
        for (std::uint64_t k = 0; k < c.words_present; ++k)
            putLittleEndian(bytes, 100 + k, 8);

        auto target = makeArray<std::uint64_t>({1, 2, 3});
        target.to(target.getDevice(), CudaStreamView{5});
        const auto *block = target.getData();
        const std::string message = c.message;
        expectThrowsMessage<std::exception>([&] { loadFromString(toString(bytes), target); },
                                            message);
        EXPECT_EQ(target.getData(), block);
        EXPECT_EQ(target.size(), 3u);
        EXPECT_EQ(target.getStream(), CudaStreamView{5});
        EXPECT_EQ(contents(target), (std::vector<std::uint64_t>{1, 2, 3}));
    }
}

TEST(DeviceArraySerializationTest, LargeArraysAreReadPiecewise) {
    // Just above the size read in one piece, so the piecewise path is used.
    const std::uint64_t count = detail::kDirectReadBytes / 8 + 3;
    DeviceSpecificArray<std::uint64_t> source(count);
    for (std::uint64_t k = 0; k < count; ++k)
        source[k] = k * 0x9e3779b97f4a7c15ULL;
    const std::string bytes = saveToString(source);

    DeviceSpecificArray<std::uint64_t> loaded;
    loadFromString(bytes, loaded);
    ASSERT_EQ(loaded.size(), count);
    EXPECT_EQ(loaded.capacity(), count);
    EXPECT_EQ(std::memcmp(loaded.getData(), source.getData(), count * 8), 0);

    // A stream cut in the second piece reports the totals of the whole array.
    const std::string cut = bytes.substr(0, bytes.size() - 20);
    DeviceSpecificArray<std::uint64_t> target(1);
    target[0] = 77;
    expectThrowsMessage<cereal::Exception>([&] { loadFromString(cut, target); },
                                           shortRead(count * 8, count * 8 - 20));
    EXPECT_EQ(target.size(), 1u);
    EXPECT_EQ(target[0], 77u);
}
