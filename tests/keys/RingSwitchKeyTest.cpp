#include "Quelt/RingSwitchKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;
using test::fillKey;
using test::keyWords;
using test::savedKey;

namespace {

// degree64ThreePrimes: gadget rank 2, one secret, 4 + 2 primes of 64 residues.
constexpr std::uint64_t kN = 64;
constexpr std::uint64_t kPrimes = 6;

std::string saved(const RingSwitchKey &key) {
    std::ostringstream out;
    key.save(out);
    return out.str();
}

void loadKey(RingSwitchKey &key, const std::string &bytes) {
    std::istringstream in(bytes);
    key.load(in);
}

// Every residue of the key through its accessors: masks, then bodies.
std::vector<std::uint64_t> residues(const RingSwitchKey &key, const Device &device = kHostDevice) {
    std::vector<std::uint64_t> out;
    for (auto get : {&RingSwitchKey::getAxPolyData, &RingSwitchKey::getBxPolyData})
        for (std::uint64_t i = 0; i < 2; ++i)
            for (std::uint64_t j = 0; j < kPrimes; ++j) {
                const std::uint64_t *limb = (key.*get)(i, j, device);
                out.insert(out.end(), limb, limb + kN);
            }
    return out;
}

// An evaluation key of type 'w' filled with known residues, and a ring switch
// key holding the same residues, written through its accessors.
std::unique_ptr<EvaluationKey> filledPair(RingSwitchKey &handle, std::uint64_t seed) {
    auto key = makeEmptyRingSwitchKey(Quelt::test::degree64FourPrimes());
    fillKey(*key, seed);
    for (std::uint64_t i = 0; i < 2; ++i)
        for (std::uint64_t j = 0; j < kPrimes; ++j) {
            std::copy_n(test::masksOf(*key)[i].getLimb(j), kN,
                        handle.getAxPolyData(i, j, kHostDevice));
            std::copy_n(test::bodiesOf(*key)[i].getLimb(j), kN,
                        handle.getBxPolyData(i, j, kHostDevice));
        }
    return key;
}

} // namespace

TEST(RingSwitchKeyTest, SavesAsTheStandaloneFormOfItsKey) {
    RingSwitchKey handle(Quelt::test::degree64FourPrimes());
    auto key = filledPair(handle, 3);
    const std::string bytes = saved(handle);
    EXPECT_EQ(bytes, savedKey(*key));
    EXPECT_EQ(static_cast<unsigned char>(bytes[13]), 0x77);

    RingSwitchKey loaded(Quelt::test::degree64FourPrimes());
    loadKey(loaded, bytes);
    EXPECT_EQ(residues(loaded), residues(handle));

    Quelt::test::TempFile file("ring_switch_key.bin");
    handle.save(file.path());
    EXPECT_EQ(file.read(), bytes);
    RingSwitchKey fromFile(Quelt::test::degree64FourPrimes());
    fromFile.load(file.path());
    EXPECT_EQ(residues(fromFile), residues(handle));
    const std::string missing = file.path() + ".missing/key.bin";
    expectThrowsMessage([&] { fromFile.load(missing); }, "Cannot open file " + missing);
}

TEST(RingSwitchKeyTest, CopiesShareOneKey) {
    RingSwitchKey handle(Quelt::test::degree64FourPrimes());
    filledPair(handle, 5);
    RingSwitchKey copy = handle;
    EXPECT_EQ(copy.getAxPolyData(1, 5, kHostDevice), handle.getAxPolyData(1, 5, kHostDevice));
    copy.getBxPolyData(0, 0, kHostDevice)[0] = 12345;
    EXPECT_EQ(handle.getBxPolyData(0, 0, kHostDevice)[0], 12345u);

    const auto before = residues(handle);
    handle.to(kHostDevice);
    EXPECT_EQ(residues(copy), before);
    copy.to(Device{0, 1});
    EXPECT_EQ(residues(handle, Device{0, 1}), before);
    expectThrowsMessage<std::out_of_range>([&] { handle.getAxPolyData(0, 0, kHostDevice); },
                                           "map::at");
    expectThrowsMessage<std::out_of_range>([&] { saved(handle); }, "map::at");
}

TEST(RingSwitchKeyTest, AccessorsCheckTheirIndices) {
    RingSwitchKey handle(Quelt::test::degree64FourPrimes());
    expectThrowsMessage<std::out_of_range>([&] { handle.getAxPolyData(2, 0, kHostDevice); },
                                           RingSwitchKey::kPolynomialIndexOutOfRange);
    expectThrowsMessage<std::out_of_range>([&] { handle.getBxPolyData(0, kPrimes, kHostDevice); },
                                           RingSwitchKey::kPrimeIndexOutOfRange);
    EXPECT_EQ(handle.getBxPolyData(1, kPrimes - 1, kHostDevice) + kN,
              handle.getBxPolyData(1, 0, kHostDevice) + kPrimes * kN);
}

TEST(RingSwitchKeyTest, LoadRefusesOtherKinds) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    auto mult = makeEmptyMultKey(ctx);
    fillKey(*mult, 8);
    std::string auxOne = savedKey(*mult);
    auxOne[13] = 'w';
    auxOne[14] = 1;
    RingSwitchKey target(ctx);
    filledPair(target, 9);
    const auto before = residues(target);
    for (const std::string &bad : {savedKey(*mult), auxOne}) {
        expectThrowsMessage([&] { loadKey(target, bad); },
                            "[Verifier::load] Validation failed during deserializing objects.");
        EXPECT_EQ(residues(target), before);
    }
    // With the right letter and aux the same residues load.
    auxOne[14] = 0;
    loadKey(target, auxOne);
    EXPECT_NE(residues(target), before);
}
