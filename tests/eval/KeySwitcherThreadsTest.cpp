// One key switcher and one key shared by four threads, each switching its own
// polynomials at several levels into its own outputs, step by step and
// through the switcher's workspaces: every result equals the single-thread
// result bit for bit.

#include "eval/KeySwitcher.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

using namespace Quelt;

namespace {

using Words = std::vector<std::vector<u64>>;

constexpr int kThreads = 4;
constexpr u64 kRounds = 4;

// Degree 2^10, four base and quantize primes in two digits, two temporary
// primes.
std::shared_ptr<ContextContent> ctx() {
    static const auto context = makeContext(10, 4, 50, 40, 50, 2);
    return context;
}

// Switch of the polynomial of thread t, round r: its level runs over the
// chain; odd rounds give the input in coefficient form.
Words switchOnce(const KeySwitcher &ks, EvaluationKey &key, int t, u64 r) {
    const u64 level = (static_cast<u64>(t) + r) % getLength(ctx());
    Polynomial in(ctx(), false, r % 2 == 0);
    in.setLevel(level);
    QueltTest::fillResidues(in, static_cast<u64>(t) * 100 + r);
    std::vector<Polynomial> digits;
    ks.modUpPQ(in, digits);
    const auto switched = ks.multEvalKey(digits, key);
    PolynomialVector down(ctx(), 2, false, true);
    ks.getFastBaseConv().modDown(switched.getPolyVector(), down, true);
    // The whole switch through the switcher's shared workspaces.
    Polynomial body(ctx(), false, true), mask(ctx(), false, true);
    ks.keySwitch(in, key, body, mask);
    return {QueltTest::wordsOf(down.getPoly(0)), QueltTest::wordsOf(down.getPoly(1)),
            QueltTest::wordsOf(body), QueltTest::wordsOf(mask)};
}

} // namespace

TEST(KeySwitcherThreadsTest, SharedSwitcherGivesTheSingleThreadResults) {
    const KeySwitcher ks(ctx());
    auto key = makeEmptyMultKey(ctx());
    test::fillKey(*key, 3);
    std::vector<std::vector<Words>> expected(kThreads);
    for (int t = 0; t < kThreads; ++t)
        for (u64 r = 0; r < kRounds; ++r)
            expected[static_cast<std::size_t>(t)].push_back(switchOnce(ks, *key, t, r));

    std::vector<std::vector<Words>> results(kThreads);
    QueltTest::runTogether(kThreads, [&](int t) {
        for (u64 r = 0; r < kRounds; ++r)
            results[static_cast<std::size_t>(t)].push_back(switchOnce(ks, *key, t, r));
    });
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(results[static_cast<std::size_t>(t)], expected[static_cast<std::size_t>(t)])
            << "thread " << t;
}
