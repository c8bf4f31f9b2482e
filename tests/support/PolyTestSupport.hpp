#pragma once

// Small contexts and stream helpers shared by the polynomial, vector, levelled
// constant and sampler tests.

#include "Quelt/Context.hpp"
#include "context/ContextContent.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"

#include <cereal/archives/portable_binary.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt::test {

// N = 64, three base/quantize primes and one temporary prime, all of 40 bits:
// 0xffffffe101, 0xffffffe681, 0xffffffeb81 | 0xffffffee81.
inline std::shared_ptr<ContextContent> degree64ThreePrimes() {
    static const auto ctx = makeContext(6, 3, 40, 40, 40, 3);
    return ctx;
}
inline const std::vector<std::uint64_t> kSmallPrimes = {0xffffffe101, 0xffffffe681, 0xffffffeb81,
                                                        0xffffffee81};

// N = 128 with the same sizes: a context the small context's objects do not fit.
inline std::shared_ptr<ContextContent> otherContext() {
    static const auto ctx = makeContext(7, 3, 40, 40, 40, 3);
    return ctx;
}

// The other shapes of secret at N = 64: the module preset of rank 4 (four
// base and quantize primes, one temporary prime), and the small context's
// sizes with two or four secrets.
inline std::shared_ptr<ContextContent> rankFourContext() {
    static const auto ctx = makeContext(ParameterPreset::SD3D6R2);
    return ctx;
}
inline std::shared_ptr<ContextContent> twoSecretContext() {
    static const auto ctx = makeContext(6, 3, 40, 40, 40, 3, 1, 2);
    return ctx;
}
inline std::shared_ptr<ContextContent> fourSecretContext() {
    static const auto ctx = makeContext(6, 3, 40, 40, 40, 3, 1, 4);
    return ctx;
}

// FX: FGb's settings at degree 64 (chain length 25, encryption level 12, full
// log slot count 5).
inline const std::shared_ptr<ContextContent> &fxContext() {
    static const auto ctx = makeContext(ParameterPreset::FX);
    return ctx;
}

// A copy of ctx (same primes, transforms, scale factors and identity hash)
// whose parameter record is changed by `change`: shapes no preset or custom
// size gives, such as a Hamming weight above the degree.
template <typename Change>
std::shared_ptr<ContextContent> withParameter(const std::shared_ptr<ContextContent> &ctx,
                                              Change change) {
    Parameter parameter = ctx->getParameter();
    change(parameter);
    return std::make_shared<ContextContent>(parameter, ctx->getPrimeModuli().getModuli(),
                                            ctx->getScaleFactors(), ctx->getDevices());
}

// A custom context of degree 2^log_degree over primes of ctx's own chain:
// the base and quantize primes of indices `base`, then the temporary primes of
// indices `temporary`, in gadget_rank digits, built by the constructor from a
// ready chain of moduli. Primes that are 1 modulo 2N for ctx's degree N are so
// for every smaller power of two, so log_degree may be at most ctx's. Two such
// contexts share their primes exactly where the index lists agree. `types`
// gives the transform type of the first moduli in that order (the rest are
// negacyclic with the smallest root).
inline std::shared_ptr<ContextContent>
contextFromPrimes(const std::shared_ptr<ContextContent> &ctx, std::uint64_t log_degree,
                  const std::vector<std::uint64_t> &base,
                  const std::vector<std::uint64_t> &temporary, std::uint64_t gadget_rank,
                  const std::vector<NttType> &types = {}) {
    const std::uint64_t degree = std::uint64_t{1} << log_degree;
    std::vector<Modulus> moduli;
    for (const auto *indices : {&base, &temporary})
        for (const std::uint64_t i : *indices)
            moduli.emplace_back(degree, ctx->getPrimeModuli().getModulus(i).getPrime(),
                                moduli.size() < types.size() ? types[moduli.size()]
                                                             : NttType::NEGACYCLIC);
    Parameter parameter = ctx->getParameter();
    parameter.preset = ParameterPreset::CUSTOM;
    parameter.name = "CUSTOM";
    parameter.log_degree = log_degree;
    parameter.degree = degree;
    parameter.num_slots = degree / 2;
    parameter.chain_length = base.size();
    parameter.num_quantize_primes = base.size() - 1;
    parameter.num_tp = temporary.size();
    parameter.gadget_rank = gadget_rank;
    parameter.encryption_level = base.size() - 1;
    parameter.hamming_weight = std::min(parameter.hamming_weight, degree / 2);
    const PrimeModuli chain(moduli, degree, ctx->getDevices());
    return std::make_shared<ContextContent>(parameter, moduli, ScaleFactors(parameter, chain),
                                            ctx->getDevices());
}

// The seed of the known-answer vectors.
inline const std::array<std::uint64_t, 4> kTestSeed = {1, 2, 3, 4};

inline void reseed() { UniformRandomBitGenerator::getInstance().setSeed(kTestSeed); }

// The next word of the calling thread's generator without consuming it.
inline std::uint64_t peekWord() {
    auto &gen = UniformRandomBitGenerator::getInstance();
    const std::string state = gen.getState();
    const std::uint64_t w = gen();
    gen.setState(state);
    return w;
}

// The word `skip` words ahead of the generator's position, without consuming.
inline std::uint64_t wordAhead(std::uint64_t skip) {
    auto &gen = UniformRandomBitGenerator::getInstance();
    const std::string state = gen.getState();
    for (std::uint64_t i = 0; i < skip; ++i)
        gen();
    const std::uint64_t w = gen();
    gen.setState(state);
    return w;
}

// The stream form of an object with save(std::ostream&).
template <typename T>
std::string streamBytes(const T &object) {
    std::ostringstream out;
    object.save(out);
    return out.str();
}

template <typename T>
std::string saveToString(const T &object) {
    std::ostringstream out;
    {
        cereal::PortableBinaryOutputArchive ar(out);
        object.save(ar);
    }
    return out.str();
}

template <typename T, typename Ctx>
void loadFromString(T &object, const std::string &bytes, const Ctx &ctx) {
    std::istringstream in(bytes);
    cereal::PortableBinaryInputArchive ar(in);
    object.load(ar, ctx);
}

inline void putWord(std::string &bytes, std::size_t offset, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
}
inline std::uint64_t getWord(const std::string &bytes, std::size_t offset) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[offset + i]);
    return v;
}

// One field of a stored form replaced by another value, and the message a
// reader must refuse it with.
struct DamagedField {
    const char *name;
    std::size_t offset; // byte offset in the stream (the byte-order byte is at 0)
    int width;          // 8 for a word, 1 for a byte
    std::uint64_t value;
    const char *message;

    std::string appliedTo(const std::string &good) const {
        std::string bad = good;
        if (width == 8)
            putWord(bad, offset, value);
        else
            bad[offset] = static_cast<char>(value);
        return bad;
    }
};

// Rewrites the stored polynomial that starts at `offset` of a little-endian
// stream as a big-endian writer makes it (every multi-byte number reversed,
// the germ bytes as they are) and returns the offset just after it.
inline std::size_t reversePolynomialRecord(std::string &bytes, std::size_t offset) {
    auto swapAt = [&](std::size_t at) {
        std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
    };
    // degree, chain length, size, level; the two flag bytes; the primes.
    for (std::size_t k = 0; k < 4; ++k)
        swapAt(offset + 8 * k);
    const std::size_t countAt = offset + 34;
    const std::uint64_t primes = getWord(bytes, countAt);
    for (std::uint64_t k = 0; k <= primes; ++k)
        swapAt(countAt + 8 * k);
    const std::size_t germFlag = countAt + 8 + 8 * primes;
    if (bytes[germFlag] == 0)
        return germFlag + 1 + 1024;
    const std::size_t wordsAt = germFlag + 1;
    const std::uint64_t words = getWord(bytes, wordsAt);
    for (std::uint64_t k = 0; k <= words; ++k)
        swapAt(wordsAt + 8 * k);
    return wordsAt + 8 + 8 * words;
}

// Rewrites the evaluation-key record (without byte-order byte) that starts at
// `offset` of a little-endian stream as a big-endian writer makes it, and
// returns the offset just after it.
inline std::size_t reverseEvaluationKeyRecord(std::string &bytes, std::size_t offset) {
    auto swap = [&](std::size_t at, std::size_t width) {
        std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + width));
    };
    swap(offset, 4);      // code
    swap(offset + 4, 8);  // hash
    swap(offset + 13, 8); // aux
    std::size_t at = offset + 21;
    for (int list = 0; list < 2; ++list) {
        const std::uint64_t count = getWord(bytes, at);
        swap(at, 8);
        at += 8;
        for (std::uint64_t k = 0; k < count; ++k)
            at = reversePolynomialRecord(bytes, at);
    }
    return at;
}

} // namespace Quelt::test
