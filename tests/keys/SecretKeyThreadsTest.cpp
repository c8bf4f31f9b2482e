#include "Quelt/SecretKey.hpp"

#include "foundation/UniformRandomBitGenerator.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace Quelt {
namespace {

using test::coefficientsOf;
using test::seedRecord;
using Rlwe = SecretKeyBase<EncryptionType::RLWE>;

TEST(SecretKeyConcurrencyTest, SeedOnlyLoadsOnOneThreadLeaveAnotherThreadsStreamAlone) {
    test::reseed();
    const Rlwe source(test::degree64ThreePrimes());
    const std::string bytes = seedRecord(source);
    constexpr std::size_t kWords = 4096;

    const auto drawFrom = [](std::array<std::uint64_t, 4> seed) {
        UniformRandomBitGenerator::getInstance().setSeed(seed);
        std::vector<std::uint64_t> words(kWords);
        for (auto &w : words)
            w = UniformRandomBitGenerator::getInstance()();
        return words;
    };
    std::vector<std::uint64_t> expected;
    std::thread reference([&] { expected = drawFrom({9, 9, 9, 9}); });
    reference.join();

    std::atomic<bool> go{false};
    std::vector<std::uint64_t> drawn;
    std::thread drawer([&] {
        while (!go.load())
            std::this_thread::yield();
        drawn = drawFrom({9, 9, 9, 9});
    });
    const auto loadedCoefficients = [&] {
        std::istringstream in(bytes);
        return coefficientsOf(Rlwe(test::degree64ThreePrimes(), in));
    };
    // Two loaders share the context and the record; each regenerates the key
    // on its own generator and puts that generator back.
    bool allEqual[2] = {true, true};
    std::vector<std::thread> loaders;
    for (int t = 0; t < 2; ++t)
        loaders.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < 10; ++i)
                allEqual[t] = allEqual[t] && loadedCoefficients() == coefficientsOf(source);
        });
    go.store(true);
    drawer.join();
    for (auto &loader : loaders)
        loader.join();
    EXPECT_TRUE(allEqual[0] && allEqual[1]);
    EXPECT_EQ(drawn, expected);
}

} // namespace
} // namespace Quelt
