#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace Quelt::test {
namespace {

// The words of a plaintext with its header, for comparison across threads.
struct Words {
    u64 level, log_slots, counter;
    std::vector<u64> data;
    bool operator==(const Words &) const = default;
};

Words wordsOf(const Plaintext &pt) {
    const auto &data = pt.getMx().getData();
    return {pt.getLevel(), pt.getLogSlots(), static_cast<u64>(pt.getRescaleCounter()),
            std::vector<u64>(data.getData(), data.getData() + data.size())};
}

// One encoder shared by four threads gives every thread the words that a
// single thread gets.
TEST(EnDecoderThreadsTest, SharedEncoderGivesTheSameWords) {
    const auto ctx = makeContext(10, 6, 55, 45, 55, 3);
    const EnDecoder encoder(ctx);
    std::mt19937_64 rng(31);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<Message> msgs;
    for (u64 log_slots : {0, 6, 9}) {
        Message m(log_slots);
        for (auto &slot : m)
            slot = {dist(rng), dist(rng)};
        msgs.push_back(m);
    }
    auto work = [&] {
        std::vector<Words> out;
        for (const Message &m : msgs)
            for (u64 level = 0; level < 6; level += 2)
                out.push_back(wordsOf(encoder.encode(m, level, static_cast<int>(level / 2))));
        return out;
    };
    const std::vector<Words> reference = work();
    std::vector<std::vector<Words>> results(4);
    QueltTest::runTogether(4, [&](int t) { results[static_cast<u64>(t)] = work(); });
    for (const auto &r : results)
        EXPECT_TRUE(r == reference);
}

} // namespace
} // namespace Quelt::test
