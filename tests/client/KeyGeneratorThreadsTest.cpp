// One key generator and one key pack shared by threads: rotation keys of
// disjoint and of identical indices, and readers of the multiplication key
// while it is replaced. Every key a thread sees must be complete.

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/KeyPack.hpp"
#include "client/KeyPackImpl.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

// Degree 64 (32 slots), two gadget digits.
std::shared_ptr<ContextContent> ctx() {
    static const auto context = makeContext(6, 5, 40, 40, 40, 2);
    return context;
}

constexpr int kThreads = 8;

} // namespace

TEST(KeyGeneratorThreadsTest, DisjointAndIdenticalRotationIndices) {
    const SecretKeyBase<EncryptionType::RLWE> sk(ctx());
    const KeyPack pack(ctx());
    const KeyGenerator gen(ctx(), sk, pack);
    // Thread t makes 2t + 1 and 2t + 2 alone, and 20 with every other thread.
    Quelt::test::runTogether(kThreads, [&](int t) {
        gen.genLeftRotKey(2 * static_cast<std::uint64_t>(t) + 1);
        gen.genLeftRotKey(20);
        gen.genLeftRotKey(2 * static_cast<std::uint64_t>(t) + 2);
    });
    std::vector<std::uint64_t> expected;
    for (std::uint64_t i = 1; i <= 2 * kThreads; ++i)
        expected.push_back(i);
    expected.push_back(20);
    EXPECT_EQ(detail::KeyPackAccess::impl(pack)->getRotKeyList(true), expected);

    const Coefficients s = secretCoefficients(sk);
    for (const std::uint64_t idx : expected) {
        SCOPED_TRACE(idx);
        expectSwitchingKeyIdentity(ctx(), *pack.getLeftRotKey(idx, 0),
                                   automorphism(s, rotationExponent(getDegree(ctx()), idx)), s);
    }
}

TEST(KeyGeneratorThreadsTest, ReadersSeeCompleteMultiplicationKeys) {
    const SecretKeyBase<EncryptionType::RLWE> sk(ctx());
    const KeyPack pack(ctx());
    const KeyGenerator gen(ctx(), sk, pack);
    gen.genMultKey();
    std::mutex mutex;
    std::set<std::shared_ptr<EvaluationKey>> seen;
    Quelt::test::runTogether(kThreads, [&](int t) {
        if (t == 0) {
            for (int i = 0; i < 6; ++i)
                gen.genMultKey();
            return;
        }
        std::set<std::shared_ptr<EvaluationKey>> mine;
        for (int i = 0; i < 200; ++i)
            mine.insert(pack.getMultKey());
        std::lock_guard<std::mutex> lock(mutex);
        seen.insert(mine.begin(), mine.end());
    });
    seen.insert(pack.getMultKey());
    const Coefficients s = secretCoefficients(sk);
    const Coefficients square = negacyclicSquare(s);
    for (const auto &key : seen) {
        ASSERT_TRUE(key);
        expectSwitchingKeyIdentity(ctx(), *key, square, s);
    }
}
