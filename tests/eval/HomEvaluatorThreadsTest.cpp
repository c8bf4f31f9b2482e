#include "Quelt/HomEvaluator.hpp"

#include "Quelt/EnDecoder.hpp"
#include "Quelt/Plaintext.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/PolyTestSupport.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <vector>

namespace Quelt::test {
namespace {

using Words = std::vector<std::vector<std::uint64_t>>;

// Four threads share one evaluator, one plaintext and one ciphertext operand
// and write to outputs of their own; each gets, word for word, what the same
// calls give on one thread.
TEST(HomEvaluatorThreadsTest, SharedEvaluatorGivesTheSingleThreadResults) {
    const auto &ctx = degreeTenContext();
    reseed();
    const SchemeKeys<EncryptionType::RLWE> keys(ctx);
    const HomEvaluator evaluator(ctx);
    std::mt19937_64 rng(3);
    const Messages shared_message = randomMessages(getLogFullSlots(ctx), 1, rng);
    const Ciphertext shared = keys.encrypt(shared_message, 3);
    const Plaintext pt = EnDecoder(ctx).encode(shared_message.front(), 3, 0);
    constexpr int kThreads = 4;
    std::vector<Ciphertext> inputs;
    for (int t = 0; t < kThreads; ++t)
        inputs.push_back(keys.encrypt(randomMessages(getLogFullSlots(ctx), 1, rng), 3));

    const auto job = [&](int t) {
        const Ciphertext &in = inputs[static_cast<std::size_t>(t)];
        Ciphertext sum(ctx, false, true), scaled(ctx, false, true), product(ctx, false, true),
            lowered(ctx, false, true);
        Words words;
        for (int round = 0; round < 8; ++round) {
            evaluator.add(in, shared, sum);
            evaluator.mult(sum, std::complex<double>(2.5, -0.5), scaled);
            evaluator.mult(in, pt, product);
            evaluator.sub(scaled, product, product);
            evaluator.levelDown(in, 1, lowered);
            evaluator.add(lowered, shared, lowered);
            evaluator.multInteger(lowered, -7, lowered);
        }
        for (const Ciphertext *ct : {&sum, &product, &lowered})
            for (auto &row : ciphertextWords(*ct))
                words.push_back(row);
        return words;
    };
    std::vector<Words> alone;
    for (int t = 0; t < kThreads; ++t)
        alone.push_back(job(t));
    std::vector<Words> together(kThreads);
    QueltTest::runTogether(kThreads,
                           [&](int t) { together[static_cast<std::size_t>(t)] = job(t); });
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(together[static_cast<std::size_t>(t)], alone[static_cast<std::size_t>(t)]) << t;
}

} // namespace
} // namespace Quelt::test
