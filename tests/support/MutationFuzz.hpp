#pragma once

// A bounded, deterministic mutation fuzzer for the loaders: a valid stored
// form is damaged in many small ways (bits flipped, bytes and 64-bit fields
// overwritten with telling values, cuts, repeats, deletions, insertions) and
// each damaged form is loaded into a fresh target. Every load must either
// succeed or throw the library's RuntimeException or the archive's
// cereal::Exception; a refused load must leave its target as it was, must
// allocate no more than a small multiple of its input in the library's
// arrays, and no load may draw from the caller's random generator. Run under
// the AddressSanitizer build, this also finds reads past an array and
// undefined behaviour.

#include "Quelt/Exception.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "support/AllocationCounter.hpp"

#include <cereal/details/helpers.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <typeinfo>

namespace Quelt::test {

// One damaged form of `bytes`; the same generator state gives the same form.
inline std::string mutate(const std::string &bytes, std::mt19937_64 &random) {
    std::string out = bytes;
    const auto at = [&](std::size_t size) {
        return size == 0 ? std::size_t{0} : static_cast<std::size_t>(random() % size);
    };
    static const std::uint64_t kTelling[] = {0,
                                             1,
                                             2,
                                             3,
                                             64,
                                             0x7f,
                                             0x80000001,
                                             std::uint64_t{1} << 21,
                                             std::uint64_t{1} << 32,
                                             std::uint64_t{1} << 60,
                                             ~std::uint64_t{0},
                                             ~std::uint64_t{0} >> 1};
    const int rounds = 1 + static_cast<int>(random() % 3);
    for (int r = 0; r < rounds; ++r) {
        switch (random() % 7) {
        case 0: // a bit
            if (!out.empty())
                out[at(out.size())] ^= static_cast<char>(1u << (random() % 8));
            break;
        case 1: // a byte
            if (!out.empty())
                out[at(out.size())] = static_cast<char>(random() & 0xff);
            break;
        case 2: { // a 64-bit field (counts, degrees, sizes) or its low half
            if (out.size() < 8)
                break;
            std::size_t pos = at(out.size() - 7);
            // Mostly a place that holds a small number, as the header fields
            // do: the first one from a random start.
            if (random() % 4 != 0)
                for (std::size_t k = 0; k + 8 <= out.size(); ++k) {
                    const std::size_t p = (pos + k) % (out.size() - 7);
                    std::uint64_t field = 0;
                    for (std::size_t b = 0; b < 8; ++b)
                        field |= std::uint64_t{static_cast<unsigned char>(out[p + b])} << (8 * b);
                    if (field >= 1 && field <= 4096) {
                        pos = p;
                        break;
                    }
                }
            const std::uint64_t value = kTelling[random() % std::size(kTelling)];
            const std::size_t width = random() % 2 == 0 ? 8 : 4;
            for (std::size_t b = 0; b < width; ++b)
                out[pos + b] = static_cast<char>((value >> (8 * b)) & 0xff);
            break;
        }
        case 3: // a cut
            out.resize(at(out.size() + 1));
            break;
        case 4: { // a repeated piece
            const std::size_t pos = at(out.size() + 1);
            const std::size_t len = std::min<std::size_t>(1 + random() % 64, out.size() - pos);
            out.insert(pos, out.substr(pos, len));
            break;
        }
        case 5: { // a deleted piece
            const std::size_t pos = at(out.size() + 1);
            out.erase(pos, 1 + random() % 16);
            break;
        }
        default: { // inserted bytes
            const std::size_t pos = at(out.size() + 1);
            std::string extra(1 + random() % 9, '\0');
            for (char &c : extra)
                c = static_cast<char>(random() & 0xff);
            out.insert(pos, extra);
            break;
        }
        }
    }
    return out;
}

// Runs `rounds` damaged forms of `valid` through `load` into targets made by
// `make`, checked as the header says (`snapshot` shows a target's state).
// The valid form itself must load.
template <typename Target>
void fuzzLoader(const std::string &name, const std::string &valid, int rounds,
                const std::function<Target()> &make,
                const std::function<void(Target &, std::istream &)> &load,
                const std::function<std::string(const Target &)> &snapshot,
                std::uint64_t seed = 20261211) {
    SCOPED_TRACE(name);
    {
        Target target = make();
        std::istringstream in(valid);
        ASSERT_NO_THROW(load(target, in)) << "the valid form must load";
    }
    std::mt19937_64 random(seed);
    auto &generator = UniformRandomBitGenerator::getInstance();
    int refused = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string bytes = mutate(valid, random);
        Target target = make();
        const std::string before = snapshot(target);
        const std::string state = generator.getState();
        bool threw = false;
        std::string unexpected;
        const std::uint64_t allocated = alignedBytesDuring([&] {
            try {
                std::istringstream in(bytes);
                load(target, in);
            } catch (const RuntimeException &) {
                threw = true;
            } catch (const cereal::Exception &) {
                threw = true;
            } catch (const std::exception &e) {
                threw = true;
                unexpected = std::string(typeid(e).name()) + ": " + e.what();
            }
        });
        ASSERT_EQ(unexpected, "") << "round " << round;
        EXPECT_EQ(generator.getState(), state) << "round " << round << " drew from the generator";
        EXPECT_LE(allocated, 64 * (bytes.size() + valid.size()) + (std::uint64_t{1} << 20))
            << "round " << round;
        if (threw) {
            ++refused;
            EXPECT_EQ(snapshot(target), before) << "round " << round << " changed its target";
        }
    }
    // Most damage must be noticed; a loader that takes everything is broken.
    EXPECT_GT(refused, rounds / 4);
}

} // namespace Quelt::test
