#pragma once

// Helpers for tests of stored forms: byte strings of numbers, a write buffer
// that runs out, and self-removing temporary files.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace Quelt::test {

// The bytes of a number, little-endian, or big-endian with `big`.
template <typename T>
std::string bytesOf(T value, bool big = false) {
    std::string out;
    const auto word = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<char>((word >> (8 * i)) & 0xff));
    if (big)
        std::reverse(out.begin(), out.end());
    return out;
}

// Reads the little-endian number of `width` bytes at `offset`.
inline std::uint64_t readLittle(const std::string &bytes, std::size_t offset, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes.at(offset + i)))
                 << (8 * i);
    return value;
}

// Offset of the first byte where the strings differ (a length difference
// counts at the end of the shorter one); npos when they are equal. Keeps
// failure output short for long stored forms.
inline std::size_t firstDifference(const std::string &a, const std::string &b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return i;
    return a.size() == b.size() ? std::string::npos : n;
}

// Accepts at most `limit` bytes, then reports every further write as short.
class LimitedBuffer : public std::streambuf {
public:
    explicit LimitedBuffer(std::streamsize limit) : limit_(limit) {}

protected:
    std::streamsize xsputn(const char *, std::streamsize n) override {
        const std::streamsize taken = std::min(n, limit_ - written_);
        written_ += taken;
        return taken;
    }
    int_type overflow(int_type c) override {
        return xsputn(nullptr, 1) == 1 ? c : traits_type::eof();
    }

private:
    std::streamsize limit_;
    std::streamsize written_ = 0;
};

// A path in the temporary directory, removed when the object goes.
class TempFile {
public:
    explicit TempFile(const std::string &name)
        : path_((std::filesystem::temp_directory_path() /
                 ("quelt_" + std::to_string(::getpid()) + "_" + name))
                    .string()) {}
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    const std::string &path() const { return path_; }
    void write(const std::string &bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string read() const { return contentsOf(path_); }
    // The bytes of any file (empty when it cannot be read).
    static std::string contentsOf(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string path_;
};

// A fresh directory in the temporary directory, removed with its contents
// when the object goes.
class TempDirectory {
public:
    explicit TempDirectory(const std::string &name)
        : path_(std::filesystem::temp_directory_path() /
                ("quelt_" + std::to_string(::getpid()) + "_" + name)) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory &) = delete;
    TempDirectory &operator=(const TempDirectory &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // The path of `name` inside the directory.
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    // The names of the entries, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

} // namespace Quelt::test

// The former name of the test support namespace, for code written against it.
namespace QueltTest = Quelt::test;
