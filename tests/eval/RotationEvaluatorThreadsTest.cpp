#include "eval/HomEvaluatorImpl.hpp"
#include "eval/RotationEvaluator.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/SchemeFixture.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace Quelt::test {
namespace {

class RotationEvaluatorThreadsTest : public SchemeFixture {};

// Four threads share one rotation evaluator, and with it the pool of raised
// digits that hoisted rotations take and give back; each thread, on its own
// ciphertext, gets the words its hoisted rotations give on a fresh evaluator.
TEST_F(RotationEvaluatorThreadsTest, HoistedRotationsShareTheDigitPool) {
    const u64 half = u64{1} << getLogFullSlots(context());
    const KeyPack pack = rotationPack({1, 3, 5, half - 1});
    const std::vector<u64> idxs = {1, 0, 3, 5, half - 1};
    std::vector<RingCiphertext> cts;
    for (int t = 0; t < 4; ++t)
        cts.push_back(encrypt(randomMessage()));
    using Words = std::vector<std::vector<std::vector<u64>>>;
    auto work = [&](const RotationEvaluator &rotations, u64 t) {
        Words out;
        std::vector<RingCiphertext> outs;
        for (int round = 0; round < 3; ++round) {
            rotations.leftRotate(cts[t], idxs, outs);
            for (const RingCiphertext &r : outs)
                out.push_back(ciphertextWords(r));
        }
        return out;
    };
    std::vector<Words> reference;
    for (u64 t = 0; t < 4; ++t)
        reference.push_back(work(HomEvaluatorImpl(context(), pack).rotations(), t));
    const HomEvaluatorImpl shared(context(), pack);
    std::vector<Words> results(4);
    runTogether(4, [&](int t) {
        const auto i = static_cast<u64>(t);
        results[i] = work(shared.rotations(), i);
    });
    for (u64 t = 0; t < 4; ++t)
        EXPECT_TRUE(results[t] == reference[t]) << "thread " << t;
}

} // namespace
} // namespace Quelt::test
