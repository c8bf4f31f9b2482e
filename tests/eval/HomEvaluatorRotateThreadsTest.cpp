#include "Quelt/HomEvaluator.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/SchemeFixture.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

std::vector<std::vector<u64>> wordsOf(const CiphertextBase<EncryptionType::RLWE> &ct) {
    std::vector<std::vector<u64>> words;
    for (u64 i = 0; i < ct.getNumPoly(); ++i)
        words.push_back(test::wordsOf(ct.getPoly(i)));
    return words;
}

class HomEvaluatorRotateThreadsTest : public SchemeFixture {};

// Four threads share one evaluator whose rotation keys load lazily from its
// key directory, the first thread to need a key reading it; every thread
// gets the single-thread words.
TEST_F(HomEvaluatorRotateThreadsTest, LazyKeysGiveTheSingleThreadWords) {
    const TempDirectory temp("rotate_threads");
    const std::filesystem::path &dir = temp.path();
    {
        KeyPack pack(context());
        const KeyGenerator generator(context(), secretKey(), pack);
        generator.genConjKey();
        for (u64 idx : {1, 2, 5, 9})
            generator.genLeftRotKey(idx);
        pack.save(dir.string());
    }
    const RingCiphertext ct = encrypt(randomMessage());
    auto work = [&ct](const HomEvaluator &eval) {
        std::vector<std::vector<std::vector<u64>>> out;
        RingCiphertext r(context(), false, true);
        for (u64 idx : {1, 2, 5, 9, 3}) { // 3 = 1 + 2 through the held keys
            eval.leftRotate(ct, idx, r);
            out.push_back(wordsOf(r));
        }
        eval.conjugate(ct, r);
        out.push_back(wordsOf(r));
        return out;
    };
    const auto reference = work(HomEvaluator(context(), KeyPack(context(), dir.string())));
    const HomEvaluator shared(context(), KeyPack(context(), dir.string()));
    std::vector<decltype(work(shared))> results(4);
    // Each thread holds 1, 2, 5 and 9 before it asks for 3, so the
    // decomposition table is built from the same keys as in the reference.
    runTogether(4, [&](int t) { results[static_cast<u64>(t)] = work(shared); });
    for (const auto &r : results)
        EXPECT_TRUE(r == reference);
}

} // namespace
} // namespace Quelt::test
