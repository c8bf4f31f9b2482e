#include "eval/ProductEvaluator.hpp"

#include "Quelt/KeyGenerator.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/PolyTestSupport.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace Quelt::test {
namespace {

using Words = std::vector<std::vector<std::uint64_t>>;

// Four threads share one product evaluator, and with it the pool of tensor
// products, on an evaluator whose multiplication key is still in its key
// directory: the first products load it (once, under the key pack's locks),
// and every thread gets, word for word, what the same calls give on one
// thread afterwards.
TEST(ProductEvaluatorThreadsTest, SharedEvaluatorLoadsTheKeyLazilyAndMultipliesAsAlone) {
    const auto &ctx = degreeTenContext();
    reseed();
    const SchemeKeys<EncryptionType::RLWE> keys(ctx);
    KeyDirectory dir("evaluator_mult_threads");
    const HomEvaluatorImpl evaluator(ctx, dir.dir());
    const ProductEvaluator &products = evaluator.products();
    {
        const KeyPack pack(ctx);
        KeyGenerator(ctx, keys.key, pack).genMultKey();
        dir.writeKeyFile("MultKey.bin", storedForm(*pack.getMultKey()));
    }
    ASSERT_FALSE(evaluator.getKeyPack().isMultKeyLoaded());

    constexpr int kThreads = 4;
    std::mt19937_64 rng(9);
    const Ciphertext shared = keys.encrypt(randomMessages(getLogFullSlots(ctx), 1, rng), 3);
    std::vector<Ciphertext> inputs;
    for (int t = 0; t < kThreads; ++t)
        inputs.push_back(keys.encrypt(randomMessages(getLogFullSlots(ctx), 1, rng), 3));
    const auto job = [&](int t) {
        const Ciphertext &in = inputs[static_cast<std::size_t>(t)];
        Ciphertext product(ctx, false, true), squared(ctx, false, true), aligned(ctx, false, true);
        for (int round = 0; round < 4; ++round) {
            products.mult(in, shared, product);
            products.square(product, squared);
            products.mult(squared, in, aligned);
        }
        Words words;
        for (const Ciphertext *ct : {&product, &squared, &aligned})
            for (auto &row : ciphertextWords(*ct))
                words.push_back(row);
        return words;
    };
    std::vector<Words> together(kThreads);
    QueltTest::runTogether(kThreads,
                           [&](int t) { together[static_cast<std::size_t>(t)] = job(t); });
    EXPECT_TRUE(evaluator.getKeyPack().isMultKeyLoaded());
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(together[static_cast<std::size_t>(t)], job(t)) << t;
}

} // namespace
} // namespace Quelt::test
