#include "foundation/UniformRandomBitGenerator.hpp"

#include "Quelt/Random.hpp"
#include "foundation/Blake3Utils.hpp"

#include <cereal/archives/portable_binary.hpp>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <sstream>

namespace Quelt {

namespace {

void storeLittleEndian(std::uint8_t *out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

UniformRandomBitGenerator::UniformRandomBitGenerator()
    : buffer_(std::make_unique_for_overwrite<std::uint64_t[]>(kBlockWords)) {
    std::random_device device("default");
    for (auto &word : seed_)
        word = static_cast<std::uint32_t>(device());
    refillBuffer();
}

void UniformRandomBitGenerator::refillBuffer() {
    std::uint8_t key[32];
    for (std::size_t i = 0; i < seed_.size(); ++i)
        storeLittleEndian(key + 8 * i, seed_[i]);
    std::uint8_t message[8];
    storeLittleEndian(message, counter_);
    utils::doBLAKE3KeyedHash(buffer_.get(), kBlockBytes, message, sizeof(message), key);
    if constexpr (std::endian::native == std::endian::big) {
        for (std::uint64_t i = 0; i < kBlockWords; ++i)
            buffer_[i] = __builtin_bswap64(buffer_[i]);
    }
}

void UniformRandomBitGenerator::getRandomNumbers(std::uint64_t *out, std::uint64_t n) {
    while (n > 0) {
        if (index_ >= kBlockWords) {
            ++counter_;
            refillBuffer();
            index_ = 0;
        }
        const std::uint64_t run = std::min(kBlockWords - index_, n);
        std::memcpy(out, buffer_.get() + index_, run * sizeof(std::uint64_t));
        index_ += run;
        out += run;
        n -= run;
    }
}

void UniformRandomBitGenerator::setSeed(const std::array<std::uint64_t, 4> &seed) {
    seed_ = seed;
    counter_ = 0;
    refillBuffer();
    index_ = 0;
}

void UniformRandomBitGenerator::save(std::ostream &stream) const {
    cereal::PortableBinaryOutputArchive archive(stream);
    archive(seed_[0], seed_[1], seed_[2], seed_[3], counter_, index_);
}

std::string UniformRandomBitGenerator::getState() const {
    std::ostringstream stream(std::ios::binary);
    save(stream);
    return std::move(stream).str();
}

void UniformRandomBitGenerator::load(std::istream &stream) {
    std::array<std::uint64_t, 4> seed{};
    std::uint64_t counter = 0;
    std::uint64_t index = 0;
    {
        // Parse the whole form first: a short state must not leave the
        // generator with a mix of old and new fields.
        cereal::PortableBinaryInputArchive archive(stream);
        archive(seed[0], seed[1], seed[2], seed[3], counter, index);
    }
    setPosition({seed, counter, index});
}

void UniformRandomBitGenerator::setPosition(const Position &position) noexcept {
    seed_ = position.seed;
    counter_ = position.counter;
    index_ = position.index;
    refillBuffer();
}

void UniformRandomBitGenerator::setState(const std::string &state) {
    std::istringstream stream(state, std::ios::binary);
    load(stream);
}

UniformRandomBitGenerator &UniformRandomBitGenerator::getInstance() {
    thread_local UniformRandomBitGenerator urbg;
    return urbg;
}

std::array<std::uint64_t, 4> getSeed() {
    return UniformRandomBitGenerator::getInstance().getSeed();
}

void setSeed(const std::array<std::uint64_t, 4> &seed) {
    UniformRandomBitGenerator::getInstance().setSeed(seed);
}

} // namespace Quelt
