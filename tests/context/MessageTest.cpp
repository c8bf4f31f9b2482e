#include "Quelt/Message.hpp"

#include "Quelt/Exception.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <complex>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;
using Complex = std::complex<double>;

namespace {

constexpr const char *kNotPowerOfTwo = "[Message] The size of message must be a power of two";

std::vector<Complex> slotsOf(const Message &m) { return std::vector<Complex>(m.begin(), m.end()); }

std::string saveToString(const Message &m) {
    std::ostringstream out(std::ios::binary);
    m.save(out);
    return out.str();
}

void appendLittle(std::string &bytes, std::uint64_t word) {
    for (int i = 0; i < 8; ++i)
        bytes.push_back(static_cast<char>((word >> (8 * i)) & 0xff));
}
void appendBig(std::string &bytes, std::uint64_t word) {
    for (int i = 7; i >= 0; --i)
        bytes.push_back(static_cast<char>((word >> (8 * i)) & 0xff));
}

using Quelt::test::LimitedBuffer;
using Quelt::test::TempFile;

const std::vector<Complex> kFour = {{1.5, -2.0}, {0.25, 3.0}, {-0.0, 1e300}, {-7.125, 0.5}};

} // namespace

TEST(MessageTest, ConstructorsAndSizes) {
    Message empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.getSize(), 0u);
    EXPECT_EQ(empty.getLogSlots(), 0u);
    EXPECT_EQ(empty.getDevice(), kHostDevice);
    EXPECT_TRUE(Message(std::vector<Complex>{}).isEmpty());

    Message one(std::vector<Complex>{{2.0, 3.0}});
    EXPECT_EQ(one.getSize(), 1u);
    EXPECT_EQ(one.getLogSlots(), 0u);
    EXPECT_EQ(one[0], Complex(2.0, 3.0));

    Message four(kFour);
    EXPECT_FALSE(four.isEmpty());
    EXPECT_EQ(four.getLogSlots(), 2u);
    EXPECT_EQ(slotsOf(four), kFour);
    EXPECT_EQ(four.end() - four.begin(), 4);

    Message filled(3, Complex(0.5, -1.0));
    EXPECT_EQ(filled.getSize(), 8u);
    EXPECT_EQ(slotsOf(filled), std::vector<Complex>(8, Complex(0.5, -1.0)));
    EXPECT_EQ(Message(0, Complex(1.0, 1.0)).getSize(), 1u);
    EXPECT_EQ(Message(std::uint64_t{5}).getSize(), 32u);

    four.resize(6);
    EXPECT_EQ(four.getSize(), 6u);
    EXPECT_EQ(four.getLogSlots(), 2u);
    EXPECT_EQ(four[3], kFour[3]);
}

TEST(MessageTest, RefusesBadSizes) {
    for (std::size_t n : {3u, 6u, 12u})
        expectThrowsMessage([&] { Message m{std::vector<Complex>(n)}; }, kNotPowerOfTwo);
    expectThrowsMessage([] { Message m(std::uint64_t{64}); },
                        "[Message] The log slot count must be below 64");
    // 2^60 slots of 16 bytes do not fit in 64 bits of bytes.
    EXPECT_THROW(Message m(std::uint64_t{60}), RuntimeException);
}

TEST(MessageTest, FileFormIsByteExact) {
    Message m(kFour);
    std::string expected(1, '\x01');
    appendLittle(expected, 4);
    for (const Complex &c : kFour) {
        char raw[16];
        std::memcpy(raw, &c, 16); // real part then imaginary part
        expected.append(raw, 16);
    }
    ASSERT_EQ(std::endian::native, std::endian::little);
    EXPECT_EQ(saveToString(m), expected);

    TempFile file("exact");
    m.save(file.path());
    EXPECT_EQ(file.read(), expected);

    for (std::uint64_t log : {0u, 1u, 5u}) {
        const std::string bytes = saveToString(Message(log, Complex(1.0, 2.0)));
        EXPECT_EQ(bytes.size(), 9 + 16 * (std::uint64_t{1} << log));
        EXPECT_EQ(bytes[0], '\x01');
    }
    EXPECT_EQ(saveToString(Message()), std::string("\x01\0\0\0\0\0\0\0\0", 9));
}

TEST(MessageTest, RoundTripsThroughStreamsAndFiles) {
    const Message source(kFour);
    Message target(2, Complex(9.0, 9.0));
    std::istringstream in(saveToString(source));
    target.load(in);
    EXPECT_EQ(slotsOf(target), kFour);

    TempFile file("roundtrip");
    source.save(file.path());
    Message fromFile;
    fromFile.load(file.path());
    EXPECT_EQ(slotsOf(fromFile), kFour);
    EXPECT_EQ(fromFile.getDevice(), kHostDevice);
}

TEST(MessageTest, LoadsAnyStoredCount) {
    std::string bytes(1, '\x01');
    appendLittle(bytes, 3);
    for (int i = 0; i < 3; ++i) {
        const Complex c(i, -i);
        char raw[16];
        std::memcpy(raw, &c, 16);
        bytes.append(raw, 16);
    }
    Message m;
    std::istringstream in(bytes);
    m.load(in);
    EXPECT_EQ(m.getSize(), 3u);
    EXPECT_EQ(m.getLogSlots(), 1u);
    EXPECT_EQ(m[2], Complex(2.0, -2.0));
}

TEST(MessageTest, ReadsBigEndianFiles) {
    // Writer of the other byte order: byte 0, count and every double reversed,
    // each double on its own so real and imaginary parts keep their places.
    const std::vector<Complex> slots = {{1.0, -2.5}, {3.75, 1e-300}, {-0.5, 6.0}};
    std::string bytes(1, '\x00');
    appendBig(bytes, slots.size());
    for (const Complex &c : slots) {
        appendBig(bytes, std::bit_cast<std::uint64_t>(c.real()));
        appendBig(bytes, std::bit_cast<std::uint64_t>(c.imag()));
    }
    TempFile file("bigendian");
    file.write(bytes);
    Message m(kFour);
    m.load(file.path());
    EXPECT_EQ(slotsOf(m), slots);
}

TEST(MessageTest, FailedLoadsLeaveTheMessageUnchanged) {
    const std::string good = saveToString(Message(kFour)); // 73 bytes
    struct Case {
        std::string bytes;
        std::string message;
    };
    std::string hugeCount(1, '\x01');
    appendLittle(hugeCount, std::uint64_t{1} << 40); // far more than the stream holds
    hugeCount += good.substr(9);
    std::string overflowCount(1, '\x01');
    appendLittle(overflowCount, std::uint64_t{1} << 60); // 16 x count wraps
    const Case cases[] = {
        {"", "Failed to read 1 bytes from input stream! Read 0"},
        {good.substr(0, 5), "Failed to read 8 bytes from input stream! Read 4"},
        {good.substr(0, 9), "Failed to read 64 bytes from input stream! Read 0"},
        {good.substr(0, 70), "Failed to read 64 bytes from input stream! Read 61"},
        {hugeCount, "Failed to read 17592186044416 bytes from input stream! Read 64"},
    };
    const std::vector<Complex> before = {{4.0, 4.5}, {-1.0, 0.0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        TempFile file("truncated");
        file.write(c.bytes);
        Message m(before);
        const Complex *data = m.begin();
        expectThrowsMessage<cereal::Exception>([&] { m.load(file.path()); }, c.message);
        EXPECT_EQ(slotsOf(m), before);
        EXPECT_EQ(m.begin(), data);
    }

    Message m(before);
    std::istringstream in(overflowCount);
    expectThrowsMessage([&] { m.load(in); },
                        "[DeviceSpecificArray] Stored element count is too large.");
    EXPECT_EQ(slotsOf(m), before);
}

TEST(MessageTest, ReportsUnopenableFilesAndShortWrites) {
    const std::string missing = "/nonexistent-quelt-dir/message.bin";
    Message m(kFour);
    expectThrowsMessage([&] { m.load(missing); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { m.save(missing); }, "Cannot open file " + missing);
    EXPECT_EQ(slotsOf(m), kFour);

    LimitedBuffer buffer(5);
    std::ostream out(&buffer);
    expectThrowsMessage<cereal::Exception>([&] { m.save(out); },
                                           "Failed to write 8 bytes to output stream! Wrote 4");
}

TEST(MessageTest, CopiesAreDeep) {
    Message source(kFour);
    Message copy(source);
    EXPECT_NE(copy.begin(), source.begin());
    copy[0] = Complex(100.0, 0.0);
    EXPECT_EQ(slotsOf(source), kFour);
    source[1] = Complex(-100.0, 0.0);
    EXPECT_EQ(copy[1], kFour[1]);

    // Copy assignment reuses a large enough block of the target.
    Message target(3, Complex());
    const Complex *block = target.begin();
    target = source;
    EXPECT_EQ(target.begin(), block);
    EXPECT_EQ(slotsOf(target), slotsOf(source));

    const auto &alias = target;
    target = alias;
    EXPECT_EQ(slotsOf(target), slotsOf(source));
}

TEST(MessageTest, MovesHandTheSlotsOver) {
    Message source(kFour);
    const Complex *data = source.begin();
    Message moved(std::move(source));
    EXPECT_EQ(moved.begin(), data);
    EXPECT_EQ(slotsOf(moved), kFour);
    // A moved-from message refuses to be used rather than dereference nothing.
    EXPECT_THROW((void)source.getSize(), RuntimeException);
    EXPECT_THROW((void)Message(source), RuntimeException);

    source = std::move(moved);
    EXPECT_EQ(source.begin(), data);
    Message target(1, Complex());
    target = std::move(source);
    EXPECT_EQ(target.begin(), data);
    EXPECT_EQ(slotsOf(target), kFour);
}

TEST(MessageTest, DevicePlacement) {
    Message m(kFour);
    const Complex *data = m.begin();
    m.allocate(kHostDevice);
    m.to(kHostDevice);
    EXPECT_EQ(m.begin(), data);
    EXPECT_EQ(slotsOf(m), kFour);

    // Accelerator memory does not exist in this build; the slots stay put.
    EXPECT_THROW(m.allocate(Device{Device::kCuda, 0}), RuntimeException);
    EXPECT_THROW(m.to(Device{Device::kCuda, 0}), RuntimeException);
    EXPECT_EQ(m.getDevice(), kHostDevice);
    EXPECT_EQ(slotsOf(m), kFour);

    // An empty message moves to any device without an allocation; saving it
    // from there needs a host copy.
    Message empty;
    empty.allocate(Device{Device::kCuda, 0});
    EXPECT_EQ(empty.getDevice(), (Device{Device::kCuda, 0}));
    std::ostringstream out;
    expectThrowsMessage([&] { empty.save(out); }, "Not supported. Build with QUELT_CUDA flag.");
    // Loading always gives a host message.
    std::istringstream in(saveToString(m));
    empty.load(in);
    EXPECT_EQ(empty.getDevice(), kHostDevice);
    EXPECT_EQ(slotsOf(empty), kFour);
}
