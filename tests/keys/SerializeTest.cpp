#include "keys/Serialize.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "support/ByteStreams.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using QueltTest::bytesOf;
using testing::ThrowsMessage;

namespace {

constexpr const char *kVerifierMessage =
    "[Verifier::load] Validation failed during deserializing objects.";

// A small library-style record: a number, a vector and a string, with the
// verifier header of a made-up context.
struct Record {
    std::uint64_t hash = 0;
    std::uint32_t value = 0;
    std::vector<std::uint64_t> words;
    std::string name;

    void save(cereal::PortableBinaryOutputArchive &ar) const {
        Verifier::save(ar, hash, ObjectCode::CIPHERTEXT);
        ar(value, words, name);
    }
    void load(cereal::PortableBinaryInputArchive &ar) {
        Verifier::load(ar, hash, ObjectCode::CIPHERTEXT);
        ar(value, words, name);
    }
};

} // namespace

TEST(Serialize, ArchiveConventionsAreByteExact) {
    std::ostringstream out;
    const std::optional<std::uint32_t> empty;
    const std::optional<std::uint32_t> seven = 7;
    const auto shared = std::make_shared<std::uint32_t>(9);
    const std::shared_ptr<std::uint32_t> null;
    Serialize::save(out, std::uint8_t{0xab}, true, std::int32_t{-2}, std::uint64_t{5},
                    std::vector<std::uint64_t>{1, 2}, std::string("ab"), empty, seven, shared,
                    shared, null);
    std::string expected = "\x01";
    expected += "\xab";
    expected += "\x01";
    expected += bytesOf(std::int32_t{-2});
    expected += bytesOf(std::uint64_t{5});
    expected += bytesOf(std::uint64_t{2}) + bytesOf(std::uint64_t{1}) + bytesOf(std::uint64_t{2});
    expected += bytesOf(std::uint64_t{2}) + "ab";
    expected += "\x01";
    expected += std::string("\x00", 1) + bytesOf(std::uint32_t{7});
    expected += bytesOf(std::uint32_t{0x80000001}) + bytesOf(std::uint32_t{9});
    expected += bytesOf(std::uint32_t{1});
    expected += bytesOf(std::uint32_t{0});
    EXPECT_EQ(out.str(), expected);

    // Read back into fresh objects; the repeated pointer is the same object.
    std::istringstream in(out.str());
    std::uint8_t byte = 0;
    bool flag = false;
    std::int32_t negative = 0;
    std::uint64_t word = 0;
    std::vector<std::uint64_t> words;
    std::string text;
    std::optional<std::uint32_t> a = 3, b;
    std::shared_ptr<std::uint32_t> p, q, r = std::make_shared<std::uint32_t>(1);
    Serialize::load(in, byte, flag, negative, word, words, text, a, b, p, q, r);
    EXPECT_EQ(byte, 0xab);
    EXPECT_TRUE(flag);
    EXPECT_EQ(negative, -2);
    EXPECT_EQ(word, 5u);
    EXPECT_EQ(words, (std::vector<std::uint64_t>{1, 2}));
    EXPECT_EQ(text, "ab");
    EXPECT_FALSE(a.has_value());
    EXPECT_EQ(b, 7u);
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, 9u);
    EXPECT_EQ(p, q);
    EXPECT_FALSE(r);
}

TEST(Serialize, ReadsTheOtherByteOrder) {
    // Written by a big-endian host: numbers reversed, the string as it is.
    for (const char order : {'\x00', '\x02'}) {
        std::string bytes(1, order);
        bytes += bytesOf(std::uint32_t{0x01020304}, true);
        bytes += bytesOf(std::uint64_t{2}, true) + bytesOf(std::uint64_t{10}, true) +
                 bytesOf(std::uint64_t{0x1122334455667788}, true);
        bytes += bytesOf(std::uint64_t{3}, true) + "xyz";
        std::istringstream in(bytes);
        std::uint32_t value = 0;
        std::vector<std::uint64_t> words;
        std::string text;
        Serialize::load(in, value, words, text);
        EXPECT_EQ(value, 0x01020304u);
        EXPECT_EQ(words, (std::vector<std::uint64_t>{10, 0x1122334455667788}));
        EXPECT_EQ(text, "xyz");
    }
}

TEST(Serialize, EachCallIsOneArchive) {
    std::ostringstream out;
    Serialize::save(out, std::uint32_t{1});
    Serialize::save(out, std::uint32_t{2});
    EXPECT_EQ(out.str(), "\x01" + bytesOf(std::uint32_t{1}) + "\x01" + bytesOf(std::uint32_t{2}));
    std::istringstream in(out.str());
    std::uint32_t a = 0, b = 0;
    Serialize::load(in, a);
    Serialize::load(in, b);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
}

TEST(Serialize, VerifierHeaderForms) {
    Record record{0x0123456789abcdef, 42, {7}, "k"};
    std::ostringstream out;
    Serialize::save(out, record);
    const std::string bytes = out.str();
    EXPECT_EQ(bytes.substr(0, 13), "\x01" + bytesOf(record.hash) + bytesOf(std::uint32_t{3}));

    Record same{record.hash, 0, {}, ""};
    std::istringstream in(bytes);
    Serialize::load(in, same);
    EXPECT_EQ(same.value, 42u);
    EXPECT_EQ(same.words, record.words);
    EXPECT_EQ(same.name, "k");

    // Another context's hash, or another code with the right hash.
    Record other{record.hash + 1, 5, {1, 2}, "old"};
    std::istringstream in2(bytes);
    EXPECT_THAT([&] { Serialize::load(in2, other); }, ThrowsMessage<RuntimeException>(kVerifierMessage));
    EXPECT_EQ(other.value, 5u);
    std::string wrongCode = bytes;
    wrongCode[9] = 4;
    Record target{record.hash, 5, {1, 2}, "old"};
    std::istringstream in3(wrongCode);
    EXPECT_THAT([&] { Serialize::load(in3, target); }, ThrowsMessage<RuntimeException>(kVerifierMessage));
    EXPECT_EQ(target.words, (std::vector<std::uint64_t>{1, 2}));

    // Key form: code first, only the code is checked, the hash comes back.
    std::ostringstream keyOut;
    {
        cereal::PortableBinaryOutputArchive ar(keyOut);
        Verifier::saveKeyForm(ar, ObjectCode::EVALUATION_KEY, 77);
    }
    EXPECT_EQ(keyOut.str(), "\x01" + bytesOf(std::uint32_t{1}) + bytesOf(std::uint64_t{77}));
    {
        std::istringstream keyIn(keyOut.str());
        cereal::PortableBinaryInputArchive ar(keyIn);
        EXPECT_EQ(Verifier::loadKeyForm(ar, ObjectCode::EVALUATION_KEY), 77u);
    }
    {
        std::istringstream keyIn(keyOut.str());
        cereal::PortableBinaryInputArchive ar(keyIn);
        EXPECT_THAT([&] { Verifier::loadKeyForm(ar, ObjectCode::ENCRYPTION_KEY); },
                    ThrowsMessage<RuntimeException>(kVerifierMessage));
    }
}

TEST(Serialize, ShortReadsAndWrites) {
    std::istringstream in("\x01" + std::string("\x05\x00\x00", 3));
    std::uint64_t word = 0;
    EXPECT_THAT([&] { Serialize::load(in, word); },
                ThrowsMessage<cereal::Exception>("Failed to read 8 bytes from input stream! Read 3"));
    QueltTest::LimitedBuffer buffer(4);
    std::ostream out(&buffer);
    EXPECT_THAT([&] { Serialize::save(out, word); },
                ThrowsMessage<cereal::Exception>("Failed to write 8 bytes to output stream! Wrote 3"));
}

TEST(Serialize, FilesAndOpenFailures) {
    const QueltTest::TempFile file("serialize.bin");
    const std::string &path = file.path();
    Serialize::save(path, std::uint64_t{11}, std::string("x"));
    Serialize::save(path, std::uint32_t{3}); // truncates
    EXPECT_EQ(std::filesystem::file_size(path), 5u);
    std::uint32_t value = 0;
    Serialize::load(path, value);
    EXPECT_EQ(value, 3u);

    const std::string missing = path + ".no_such_dir/file.bin";
    EXPECT_THAT([&] { Serialize::save(missing, value); },
                ThrowsMessage<RuntimeException>("Cannot open file " + missing));
    EXPECT_THAT([&] { Serialize::load(missing, value); },
                ThrowsMessage<RuntimeException>("Cannot open file " + missing));
}

TEST(Serialize, MessagesKeepTheirForm) {
    Message message(1, {1.5, -2.0});
    std::ostringstream direct;
    message.save(direct);
    std::ostringstream viaLayer;
    Serialize::save(viaLayer, std::uint64_t{2}, 1.5, -2.0, 1.5, -2.0);
    EXPECT_EQ(direct.str(), viaLayer.str());
}
