#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace Quelt {

// Deterministic stream of 64-bit words: block c of a seed is the first 1 MiB of
// the keyed BLAKE3 extendable output of the 8-byte little-endian block number
// c, under the 32-byte little-endian image of the four seed words; word i of a
// block is its bytes 8i..8i+7 read little-endian. The stream is block 0, block
// 1, ..., each word once.
//
// Each thread has its own generator (getInstance()); a generator is used by one
// thread at a time.
class UniformRandomBitGenerator {
public:
    using result_type = std::uint64_t;
    static constexpr std::uint64_t kBlockWords = 131072;
    static constexpr std::uint64_t kBlockBytes = kBlockWords * sizeof(std::uint64_t);
    // Byte-order byte, four seed words, counter, index.
    static constexpr std::size_t kStateBytes = 49;

    // Seeds the generator with four 32-bit draws of std::random_device("default"),
    // one per seed word (upper halves zero), and produces block 0.
    UniformRandomBitGenerator();
    ~UniformRandomBitGenerator() = default;
    UniformRandomBitGenerator(const UniformRandomBitGenerator &) = delete;
    UniformRandomBitGenerator &operator=(const UniformRandomBitGenerator &) = delete;

    // The next word of the stream.
    result_type operator()() {
        if (index_ >= kBlockWords) {
            ++counter_;
            refillBuffer();
            index_ = 0;
        }
        return buffer_[index_++];
    }

    // Writes the next n words of the stream to out: exactly the words n calls
    // of operator() would return. out must hold n words.
    void getRandomNumbers(std::uint64_t *out, std::uint64_t n);

    // Installs a new seed and rewinds to word 0 of block 0.
    void setSeed(const std::array<std::uint64_t, 4> &seed);
    std::array<std::uint64_t, 4> getSeed() const { return seed_; }

    // Regenerates the block `counter` into the buffer; the position in the
    // block is unchanged.
    void refillBuffer();

    // The 49-byte state form in a portable binary archive: byte-order byte, the
    // four seed words, the block counter and the index in the block, each word
    // in the writer's byte order. A short write raises the archive's exception.
    void save(std::ostream &stream) const;
    std::string getState() const;

    // Reads a state form and continues the stream from the stored position.
    // All fields are read before any is installed: a short or unreadable state
    // raises the archive's exception ("Failed to read N bytes from input
    // stream! Read M") and leaves the generator as it was.
    void load(std::istream &stream);
    void setState(const std::string &state);

    // The stream position (seed, block counter, index) as plain words.
    // Taking and restoring one allocates nothing and cannot fail, so a scope
    // guard can put a generator back from its destructor.
    struct Position {
        std::array<std::uint64_t, 4> seed;
        std::uint64_t counter;
        std::uint64_t index;
    };
    Position getPosition() const noexcept { return {seed_, counter_, index_}; }
    void setPosition(const Position &position) noexcept;

    // The calling thread's generator, built on its first use.
    static UniformRandomBitGenerator &getInstance();

private:
    std::array<std::uint64_t, 4> seed_{};
    std::uint64_t counter_ = 0;
    std::uint64_t index_ = 0;
    // 1 MiB per generator: on the heap so that generators can live on the stack.
    std::unique_ptr<std::uint64_t[]> buffer_;
};

// Puts the calling thread's generator back at the position it had when the
// guard was made, on every way out of the scope (exceptions included).
class GeneratorStateGuard {
public:
    GeneratorStateGuard()
        : generator_(UniformRandomBitGenerator::getInstance()),
          position_(generator_.getPosition()) {}
    ~GeneratorStateGuard() { generator_.setPosition(position_); }
    GeneratorStateGuard(const GeneratorStateGuard &) = delete;
    GeneratorStateGuard &operator=(const GeneratorStateGuard &) = delete;

private:
    UniformRandomBitGenerator &generator_;
    UniformRandomBitGenerator::Position position_;
};

} // namespace Quelt
