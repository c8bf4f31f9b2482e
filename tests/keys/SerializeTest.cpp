#include "keys/Serialize.hpp"

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Quelt;
using Quelt::test::bytesOf;
using Quelt::test::degree64FourPrimes;
using Quelt::test::expectThrowsMessage;
using Quelt::test::fillResidues;
using Quelt::test::wordsOf;

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

TEST(SerializeTest, ArchiveConventionsAreByteExact) {
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

TEST(SerializeTest, ReadsTheOtherByteOrder) {
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

TEST(SerializeTest, EachCallIsOneArchive) {
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

TEST(SerializeTest, VerifierHeaderForms) {
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
    expectThrowsMessage([&] { Serialize::load(in2, other); }, kVerifierMessage);
    EXPECT_EQ(other.value, 5u);
    std::string wrongCode = bytes;
    wrongCode[9] = 4;
    Record target{record.hash, 5, {1, 2}, "old"};
    std::istringstream in3(wrongCode);
    expectThrowsMessage([&] { Serialize::load(in3, target); }, kVerifierMessage);
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
        expectThrowsMessage([&] { Verifier::loadKeyForm(ar, ObjectCode::ENCRYPTION_KEY); },
                            kVerifierMessage);
    }
}

TEST(SerializeTest, ShortReadsAndWrites) {
    std::istringstream in("\x01" + std::string("\x05\x00\x00", 3));
    std::uint64_t word = 0;
    expectThrowsMessage<cereal::Exception>([&] { Serialize::load(in, word); },
                                           "Failed to read 8 bytes from input stream! Read 3");
    Quelt::test::LimitedBuffer buffer(4);
    std::ostream out(&buffer);
    expectThrowsMessage<cereal::Exception>([&] { Serialize::save(out, word); },
                                           "Failed to write 8 bytes to output stream! Wrote 3");
}

TEST(SerializeTest, FilesAndOpenFailures) {
    const Quelt::test::TempFile file("serialize.bin");
    const std::string &path = file.path();
    Serialize::save(path, std::uint64_t{11}, std::string("x"));
    Serialize::save(path, std::uint32_t{3}); // truncates
    EXPECT_EQ(std::filesystem::file_size(path), 5u);
    std::uint32_t value = 0;
    Serialize::load(path, value);
    EXPECT_EQ(value, 3u);

    const std::string missing = path + ".no_such_dir/file.bin";
    expectThrowsMessage([&] { Serialize::save(missing, value); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { Serialize::load(missing, value); }, "Cannot open file " + missing);
}

namespace {

// Writes a number, then throws as a writer that fails part-way does.
struct FailingRecord {
    void save(cereal::PortableBinaryOutputArchive &ar) const {
        ar(std::uint64_t{7});
        throw RuntimeException("writer failed");
    }
};

// Notes the directory's entries while it is being written.
struct PeekingRecord {
    const Quelt::test::TempDirectory *dir;
    std::vector<std::string> *seen;
    void save(cereal::PortableBinaryOutputArchive &ar) const {
        *seen = dir->entries();
        ar(std::uint32_t{1});
    }
};

} // namespace

TEST(SerializeTest, FilesAreReplacedOnlyWhenComplete) {
    const Quelt::test::TempDirectory dir("serialize_replace");
    const std::string path = dir.file("RotKey5.bin");
    Serialize::save(path, std::uint64_t{11}, std::string("old"));
    const std::string before = Quelt::test::TempFile::contentsOf(path);

    // A writer that throws part-way leaves the previous file and no temporary.
    expectThrowsMessage([&] { Serialize::save(path, FailingRecord{}); }, "writer failed");
    EXPECT_EQ(Quelt::test::TempFile::contentsOf(path), before);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"RotKey5.bin"});

    // While a file is written, its temporary sits beside it under a name that
    // the key directory's scans never take for a key file.
    for (const std::string name : {"RotKey5.bin", "RotKey3_0.bin", "EncKey.bin"}) {
        std::vector<std::string> seen;
        Serialize::save(dir.file(name), PeekingRecord{&dir, &seen});
        // The temporary is the entry seen then that is gone now.
        std::vector<std::string> temporaries;
        for (const std::string &entry : seen)
            if (!std::filesystem::exists(dir.file(entry)))
                temporaries.push_back(entry);
        ASSERT_EQ(temporaries.size(), 1u) << name;
        const std::string &temporary = temporaries.front();
        EXPECT_EQ(temporary.front(), '.') << temporary;
        EXPECT_FALSE(std::regex_match(temporary, std::regex("RotKey(\\d*)\\.bin")));
        EXPECT_FALSE(std::regex_match(temporary, std::regex("RotKey(\\d*)_(\\d*).bin")));
    }
    EXPECT_EQ(dir.entries(),
              (std::vector<std::string>{"EncKey.bin", "RotKey3_0.bin", "RotKey5.bin"}));

    // A path naming a directory, or a directory that is missing, cannot be
    // opened; nothing is left behind.
    const std::string sub = dir.file("PK");
    std::filesystem::create_directory(sub);
    expectThrowsMessage([&] { Serialize::save(sub, std::uint32_t{1}); }, "Cannot open file " + sub);
    expectThrowsMessage([&] { Serialize::save(sub + "/", std::uint32_t{1}); },
                        "Cannot open file " + sub + "/");
    const std::string missing = dir.file("missing/EncKey.bin");
    expectThrowsMessage([&] { Serialize::save(missing, std::uint32_t{1}); },
                        "Cannot open file " + missing);
    EXPECT_EQ(dir.entries(),
              (std::vector<std::string>{"EncKey.bin", "PK", "RotKey3_0.bin", "RotKey5.bin"}));
    EXPECT_TRUE(std::filesystem::is_empty(sub));
}

TEST(SerializeTest, LinksAndPipesKeepTheirKind) {
    const Quelt::test::TempDirectory dir("serialize_kinds");
    const std::string real = dir.file("real.bin");
    const std::string link = dir.file("link.bin");
    Serialize::save(real, std::uint32_t{1});
    std::filesystem::create_symlink(real, link);
    Serialize::save(link, std::uint32_t{2});
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Quelt::test::TempFile::contentsOf(real), "\x01" + bytesOf(std::uint32_t{2}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"link.bin", "real.bin"}));

    // A pipe receives the record and stays a pipe. It is held open at both
    // ends here, so that neither the writer nor this test blocks.
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int fd = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    Serialize::save(pipe, std::uint32_t{3});
    char buffer[16];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0),
              "\x01" + bytesOf(std::uint32_t{3}));
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
}

TEST(SerializeTest, MessagesKeepTheirForm) {
    Message message(1, {1.5, -2.0});
    std::ostringstream direct;
    message.save(direct);
    std::ostringstream viaLayer;
    Serialize::save(viaLayer, std::uint64_t{2}, 1.5, -2.0, 1.5, -2.0);
    EXPECT_EQ(direct.str(), viaLayer.str());
}

// ---------------------------------------------------------------------------
// Ciphertext files
// ---------------------------------------------------------------------------

namespace {

using Rlwe = CiphertextBase<EncryptionType::RLWE>;
using Mlwe = CiphertextBase<EncryptionType::MLWE>;
using Msrlwe = CiphertextBase<EncryptionType::MSRLWE>;

constexpr std::uint64_t kN = 64;

template <EncryptionType ET>
std::string savedCiphertext(const CiphertextBase<ET> &ct) {
    std::ostringstream out;
    ct.save(out);
    return out.str();
}

struct PolyState {
    std::uint64_t level;
    bool modUp;
    bool ntt;
    bool seeded;
    std::vector<std::uint64_t> words;
    bool operator==(const PolyState &) const = default;
};

// Everything a ciphertext load could change.
struct CiphertextState {
    std::uint64_t logSlots;
    int counter;
    EncodingType encoding;
    std::vector<PolyState> polys;
    bool operator==(const CiphertextState &) const = default;
};

template <EncryptionType ET>
CiphertextState stateOf(const CiphertextBase<ET> &ct) {
    CiphertextState state{ct.getLogSlots(), ct.getRescaleCounter(), ct.getEncodingType(), {}};
    for (std::uint64_t i = 0; i < ct.getNumPoly(); ++i) {
        const Polynomial &p = ct.getPoly(i);
        state.polys.push_back({p.getLevel(), p.isModUp(), p.isNTT(), p.hasGerm(), wordsOf(p)});
    }
    return state;
}

// Known residues in every polynomial, and polynomial `seeded` (if any) drawn
// from a fresh seed.
template <EncryptionType ET>
void fill(CiphertextBase<ET> &ct, std::uint64_t seed, std::uint64_t seeded = ~std::uint64_t{0}) {
    for (std::uint64_t i = 0; i < ct.getNumPoly(); ++i) {
        if (i == seeded)
            populateUniformPoly(ct.getPoly(i), true);
        else
            fillResidues(ct.getPoly(i), seed + i);
    }
}

// RLWE at level 1, counter 1, coefficient encoding, 2^3 slots; polynomial 1
// stored as its seed.
Rlwe sampleCiphertext() {
    Rlwe ct(degree64FourPrimes(), false, true);
    ct.setLevel(1);
    fill(ct, 3, 1);
    ct.setRescaleCounter(1);
    ct.setEncodingType(EncodingType::COEFFICIENT);
    ct.setLogSlots(3);
    return ct;
}

} // namespace

TEST(CiphertextFileTest, IsByteExact) {
    const auto ctx = degree64FourPrimes();
    const Rlwe ct = sampleCiphertext();
    const std::string bytes = savedCiphertext(ct);
    const std::vector<std::uint64_t> primes = ct.getPoly(0).getPrimes();
    ASSERT_EQ(primes.size(), 4u);
    // 37 bytes of header, then 51 + 8p + 8w for the plain polynomial and
    // 1067 + 8p for the seeded one.
    ASSERT_EQ(bytes.size(), 37u + (51 + 8 * 4 + 8 * 2 * kN) + (1067 + 8 * 4));

    std::string expected = "\x01" + bytesOf(ctx->getHash()) + bytesOf(std::uint32_t{3});
    expected += bytesOf(std::uint64_t{3}) + bytesOf(std::int32_t{1}) + bytesOf(std::uint32_t{1});
    expected += bytesOf(std::uint64_t{2});
    for (std::uint64_t i = 0; i < 2; ++i) {
        const Polynomial &p = ct.getPoly(i);
        expected += bytesOf(kN) + bytesOf(std::uint64_t{4}) + bytesOf(std::uint64_t{4}) +
                    bytesOf(std::uint64_t{1});
        expected += std::string("\x00\x01", 2);
        expected += bytesOf(std::uint64_t{4});
        for (const std::uint64_t q : primes)
            expected += bytesOf(q);
        if (i == 1) {
            expected += std::string(1, '\x00');
            expected += std::string(reinterpret_cast<const char *>(p.getGerm()->data()), 1024);
        } else {
            expected += "\x01" + bytesOf(std::uint64_t{2 * kN});
            for (const std::uint64_t w : wordsOf(p))
                expected += bytesOf(w);
        }
    }
    EXPECT_EQ(Quelt::test::firstDifference(bytes, expected), std::string::npos);
    EXPECT_EQ(bytes.substr(9, 4), std::string("\x03\x00\x00\x00", 4));
}

TEST(CiphertextFileTest, ReadsAHandMadeBigEndianFile) {
    const auto ctx = degree64FourPrimes();
    const std::vector<std::uint64_t> primes = Rlwe(ctx, false, true).getPoly(0).getPrimes();
    std::string bytes(1, '\x00');
    bytes += bytesOf(ctx->getHash(), true) + bytesOf(std::uint32_t{3}, true);
    bytes += bytesOf(std::uint64_t{2}, true) + bytesOf(std::int32_t{4}, true) +
             bytesOf(std::uint32_t{0}, true);
    bytes += bytesOf(std::uint64_t{2}, true);
    for (std::uint64_t i = 0; i < 2; ++i) {
        bytes += bytesOf(kN, true) + bytesOf(std::uint64_t{4}, true) +
                 bytesOf(std::uint64_t{4}, true) + bytesOf(std::uint64_t{0}, true);
        bytes += std::string("\x00\x01", 2);
        bytes += bytesOf(std::uint64_t{4}, true);
        for (const std::uint64_t q : primes)
            bytes += bytesOf(q, true);
        bytes += "\x01" + bytesOf(kN, true);
        for (std::uint64_t j = 0; j < kN; ++j)
            bytes += bytesOf(1000 * i + j, true);
    }
    Rlwe ct(ctx, false, true);
    std::istringstream in(bytes);
    ct.load(in);
    EXPECT_EQ(ct.getLogSlots(), 2u);
    EXPECT_EQ(ct.getRescaleCounter(), 4); // any counter at level 0
    EXPECT_EQ(ct.getEncodingType(), EncodingType::SLOT);
    EXPECT_EQ(ct.getLevel(), 0u);
    for (std::uint64_t i = 0; i < 2; ++i)
        for (std::uint64_t j = 0; j < kN; ++j)
            ASSERT_EQ(ct.getPolyData(i, 0)[j], 1000 * i + j);
}

TEST(CiphertextFileTest, RoundTripsForEveryEncryptionType) {
    // RLWE on the small context, MLWE of rank 4, two-secret RLWE.
    Rlwe rlwe = sampleCiphertext();
    Mlwe mlwe(makeContext(ParameterPreset::SD3D6R2), false, true);
    mlwe.setLevel(2);
    fill(mlwe, 11, 2);
    Msrlwe ms(makeContext(ParameterPreset::FGbD12NS2L1), false, false);
    fill(ms, 21, 2);
    ms.setRescaleCounter(1);

    const Quelt::test::TempFile file("ciphertext.bin");
    const auto check = [&](const auto &original) {
        using Ct = std::decay_t<decltype(original)>;
        Ct fromStream(original.getContext(), false, true);
        std::istringstream in(savedCiphertext(original));
        fromStream.load(in);
        EXPECT_EQ(stateOf(fromStream), stateOf(original));

        original.save(file.path());
        Ct fromFile(original.getContext(), true, false);
        fromFile.load(file.path());
        EXPECT_EQ(stateOf(fromFile), stateOf(original));
        EXPECT_EQ(fromFile.getContext(), original.getContext());
        EXPECT_EQ(fromFile.getPolyVector().getContext(), original.getContext());
    };
    check(rlwe);
    check(mlwe);
    check(ms);

    // Another encryption type over the same context, and another count.
    Rlwe three(ms.getContext(), false, true);
    three.setNumPoly(2);
    std::istringstream in(savedCiphertext(ms));
    three.load(in);
    EXPECT_EQ(three.getNumPoly(), 3u);
    EXPECT_EQ(stateOf(three), stateOf(ms));

    // Two records in one stream, each with its own byte-order byte.
    std::stringstream both;
    rlwe.save(both);
    Rlwe second = sampleCiphertext();
    second.setLogSlots(1);
    second.save(both);
    Rlwe a(degree64FourPrimes(), false, true), b(degree64FourPrimes(), false, true);
    a.load(both);
    b.load(both);
    EXPECT_EQ(stateOf(a), stateOf(rlwe));
    EXPECT_EQ(stateOf(b), stateOf(second));

    const std::string missing = file.path() + ".missing/c.bin";
    expectThrowsMessage([&] { rlwe.save(missing); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { a.load(missing); }, "Cannot open file " + missing);
}

TEST(CiphertextFileTest, RefusedLoadsLeaveTheCiphertextUnchanged) {
    const std::string good = savedCiphertext(sampleCiphertext());
    Rlwe target(degree64FourPrimes(), false, true);
    fill(target, 50);
    target.setRescaleCounter(2);
    const CiphertextState before = stateOf(target);

    const auto attempt = [&](const std::string &bytes) {
        std::istringstream in(bytes);
        target.load(in);
    };
    const auto patched = [&](std::size_t offset, const std::string &value) {
        std::string bytes = good;
        bytes.replace(offset, value.size(), value);
        return bytes;
    };

    // The verifier: another context, a plaintext, another code.
    Rlwe foreign(Quelt::test::degree64FivePrimes(), false, true);
    const CiphertextState foreignBefore = stateOf(foreign);
    std::istringstream foreignIn(good);
    expectThrowsMessage([&] { foreign.load(foreignIn); }, kVerifierMessage);
    EXPECT_EQ(stateOf(foreign), foreignBefore);
    Plaintext pt(degree64FourPrimes());
    fillResidues(pt.getMx(), 1);
    std::ostringstream ptOut;
    pt.save(ptOut);
    expectThrowsMessage([&] { attempt(ptOut.str()); }, kVerifierMessage);
    expectThrowsMessage([&] { attempt(patched(9, bytesOf(std::uint32_t{5}))); }, kVerifierMessage);

    // Fields out of range (the stored level is 1).
    expectThrowsMessage([&] { attempt(patched(25, bytesOf(std::uint32_t{2}))); },
                        "[Ciphertext] The stored encoding type is not known");
    expectThrowsMessage([&] { attempt(patched(29, bytesOf(std::uint64_t{1}))); },
                        "The size of a ciphertext should be greater than 1");
    expectThrowsMessage([&] { attempt(patched(29, bytesOf(std::uint64_t{0}))); },
                        "The size of a ciphertext should be greater than 1");
    expectThrowsMessage([&] { attempt(patched(21, bytesOf(std::int32_t{2}))); },
                        "Rescale counter should be less than or equal to the level");
    expectThrowsMessage([&] { attempt(patched(21, bytesOf(std::int32_t{-1}))); },
                        "Rescale counter should be greater than or equal to zero");
    // A polynomial of another degree; a count larger than the file holds.
    EXPECT_THROW(attempt(patched(37, bytesOf(std::uint64_t{128}))), RuntimeException);
    EXPECT_THROW(attempt(patched(29, bytesOf(std::uint64_t{1} << 40))), cereal::Exception);
    // Polynomials at different levels.
    Rlwe mixed = sampleCiphertext();
    mixed.getPoly(0).setLevel(0);
    expectThrowsMessage([&] { attempt(savedCiphertext(mixed)); },
                        "Polynomials have different levels");

    // Truncated: inside the log slot count, inside the second polynomial.
    expectThrowsMessage<cereal::Exception>([&] { attempt(good.substr(0, 18)); },
                                           "Failed to read 8 bytes from input stream! Read 5");
    EXPECT_THROW(attempt(good.substr(0, good.size() - 100)), cereal::Exception);
    const Quelt::test::TempFile cut("ciphertext_cut.bin");
    cut.write(good.substr(0, 30));
    expectThrowsMessage<cereal::Exception>([&] { target.load(cut.path()); },
                                           "Failed to read 8 bytes from input stream! Read 1");

    EXPECT_EQ(stateOf(target), before);
    EXPECT_EQ(target.getNumPoly(), 2u);
}
