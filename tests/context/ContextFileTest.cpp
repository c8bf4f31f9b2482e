#include "Quelt/Context.hpp"

#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"

#include <cereal/details/helpers.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using Bytes = std::vector<unsigned char>;

class ContextFileTest : public ::testing::Test {
protected:
    std::string path(const std::string &name) const { return temp_.file(name); }

    static Bytes readBytes(const std::string &file) {
        std::ifstream in(file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void writeBytes(const std::string &file, const Bytes &bytes) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    // A directory of this test's own, removed with its files afterwards.
    const Quelt::test::TempDirectory temp_{
        std::string("context_file_") +
        ::testing::UnitTest::GetInstance()->current_test_info()->name()};
    const std::filesystem::path &dir_ = temp_.path();
};

void appendLittle(Bytes &bytes, u64 value, int width) {
    for (int i = 0; i < width; ++i)
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
void appendBig(Bytes &bytes, u64 value, int width) {
    for (int i = width - 1; i >= 0; --i)
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// preset, log_degree, encryption_level, gadget_rank, log_bpsize, log_tpsize,
// log_qpsize, chain_length, rank, num_secret.
Bytes contextFile(const std::vector<u64> &fields, bool big_endian) {
    Bytes bytes{static_cast<unsigned char>(big_endian ? 0 : 1)};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const int width = i == 0 ? 4 : 8;
        big_endian ? appendBig(bytes, fields[i], width) : appendLittle(bytes, fields[i], width);
    }
    return bytes;
}

TEST_F(ContextFileTest, PresetFileIsByteExactAndReloadsEqual) {
    const auto ctx = makeContext(ParameterPreset::FGb);
    saveContextToFile(ctx, path("fgb"));
    const Bytes bytes = readBytes(path("fgb"));
    ASSERT_EQ(bytes.size(), 77u);
    EXPECT_EQ(bytes, contextFile({3, 16, 12, 5, 0, 0, 0, 25, 1, 1}, false));
    const auto reloaded = makeContextFromFile(path("fgb"));
    EXPECT_TRUE(*reloaded == *ctx);
    EXPECT_EQ(reloaded->getHash(), ctx->getHash());
    EXPECT_EQ(getPrimeList(reloaded), getPrimeList(ctx));
}

TEST_F(ContextFileTest, CustomFileKeepsSizesRankAndSecrets) {
    const auto ctx = makeContext(10, 5, 50, 40, 51, 3, 1, 3);
    saveContextToFile(ctx, path("custom"));
    // Bit sizes in the order base, temporary, quantize.
    EXPECT_EQ(readBytes(path("custom")), contextFile({21, 10, 4, 3, 50, 51, 40, 5, 1, 3}, false));
    const auto reloaded = makeContextFromFile(path("custom"));
    EXPECT_TRUE(*reloaded == *ctx);
    EXPECT_EQ(reloaded->getHash(), ctx->getHash());
    EXPECT_EQ(getPrimeList(reloaded), getPrimeList(ctx));
    EXPECT_EQ(getNumSecret(reloaded), 3u);
    EXPECT_EQ(getLength(reloaded), 5u);
    EXPECT_EQ(getEncryptionLevel(reloaded), 4u);
}

TEST_F(ContextFileTest, MultiSecretVariantsReloadAsThePlainPreset) {
    const auto base = makeContext(ParameterPreset::FGbL0);
    const auto renamed = makeContext(ParameterPreset::FGbL0, "renamed", 4, false, false);
    const auto copy = genMultiSecretContext(base, "copy", 2);
    for (const auto &ctx : {renamed, copy}) {
        saveContextToFile(ctx, path("ms"));
        EXPECT_EQ(readBytes(path("ms"))[69], static_cast<unsigned char>(getNumSecret(ctx)));
        const auto reloaded = makeContextFromFile(path("ms"));
        EXPECT_EQ(getParameterName(reloaded), "FGbL0");
        EXPECT_EQ(getNumSecret(reloaded), 1u);
        EXPECT_TRUE(*reloaded == *ctx);
        EXPECT_EQ(reloaded->getHash(), ctx->getHash());
    }
}

TEST_F(ContextFileTest, VariantsOfAnotherRingAreNotSaved) {
    const std::string message = "[saveContextToFile] A context with a doubled degree or cyclic "
                                "transforms cannot be saved to a context file";
    const auto doubled = makeContext(ParameterPreset::FGfO0, "doubled", 1, false, true);
    const auto cyclic = makeContext(ParameterPreset::FGfO0, "cyclic", 1, true, false);
    writeBytes(path("kept"), {42});
    expectThrowsMessage([&] { saveContextToFile(doubled, path("kept")); }, message);
    expectThrowsMessage([&] { saveContextToFile(cyclic, path("kept")); }, message);
    // Refused before the file is opened: the old contents stay.
    EXPECT_EQ(readBytes(path("kept")), Bytes{42});
    expectThrowsMessage(
        [&] { saveContextToFile(genMultiSecretContext(cyclic, "c2", 2), path("new")); }, message);
    EXPECT_FALSE(std::filesystem::exists(path("new")));
}

TEST_F(ContextFileTest, BigEndianFilesAreRead) {
    writeBytes(path("be_custom"), contextFile({21, 10, 4, 3, 50, 51, 40, 5, 1, 2}, true));
    const auto custom = makeContextFromFile(path("be_custom"));
    const auto expected = makeContext(10, 5, 50, 40, 51, 3, 1, 2);
    EXPECT_TRUE(*custom == *expected);
    EXPECT_EQ(custom->getHash(), expected->getHash());
    EXPECT_EQ(getNumSecret(custom), 2u);

    writeBytes(path("be_preset"), contextFile({43, 16, 0, 1, 0, 0, 0, 1, 1, 1}, true));
    EXPECT_EQ(getParameterPreset(makeContextFromFile(path("be_preset"))), ParameterPreset::FGbL0);
}

TEST_F(ContextFileTest, OpeningAndShortFiles) {
    const auto ctx = makeContext(ParameterPreset::FGbL0);
    expectThrowsMessage([&] { makeContextFromFile(path("missing")); },
                        "Cannot open file " + path("missing"));
    expectThrowsMessage([&] { saveContextToFile(ctx, dir_.string()); },
                        "Cannot open file " + dir_.string());
    saveContextToFile(ctx, path("full"));
    Bytes bytes = readBytes(path("full"));
    bytes.resize(76);
    writeBytes(path("short"), bytes);
    EXPECT_THROW(makeContextFromFile(path("short")), cereal::Exception);
    expectThrowsMessage([&] { makeContextFromFile(path("full"), {0}); },
                        "Invalid CUDA device ID: 0");
}

TEST_F(ContextFileTest, OutOfRangeContentsAreRefused) {
    writeBytes(path("preset"), contextFile({120, 16, 0, 1, 0, 0, 0, 1, 1, 1}, false));
    expectThrowsMessage([&] { makeContextFromFile(path("preset")); },
                        "The input parameter preset is not yet supported.");
    writeBytes(path("preset_max"), contextFile({0xffffffff, 16, 0, 1, 0, 0, 0, 1, 1, 1}, false));
    expectThrowsMessage([&] { makeContextFromFile(path("preset_max")); },
                        "The input parameter preset is not yet supported.");
    // Custom sizes: log_degree, chain_length, gadget_rank, rank and bit sizes out of range.
    const std::vector<std::vector<u64>> bad{
        {21, 64, 4, 3, 50, 51, 40, 5, 1, 1},      {21, ~u64{0}, 4, 3, 50, 51, 40, 5, 1, 1},
        {21, 10, 4, 3, 50, 51, 40, 0, 1, 1},      {21, 10, 4, 3, 50, 51, 40, 51, 1, 1},
        {21, 10, 4, 0, 50, 51, 40, 5, 1, 1},      {21, 10, 4, 3, 50, 51, 40, 5, 2, 1},
        {21, 10, 4, 3, 70, 51, 40, 5, 1, 1},      {21, 10, 4, 3, 50, 0, 40, 5, 1, 1},
        {21, 10, 4, 3, 50, 51, ~u64{0}, 5, 1, 1}, {21, 10, 4, 3, 40, 51, 50, 5, 1, 1},
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        writeBytes(path("bad"), contextFile(bad[i], false));
        EXPECT_THROW(makeContextFromFile(path("bad")), RuntimeException);
    }
    // A gadget rank beyond the chain length is not out of range: one digit.
    writeBytes(path("wide_gadget"), contextFile({21, 10, 4, ~u64{0}, 50, 51, 40, 5, 1, 1}, false));
    EXPECT_EQ(getNumTP(makeContextFromFile(path("wide_gadget"))), 1u);
}

} // namespace
} // namespace Quelt
