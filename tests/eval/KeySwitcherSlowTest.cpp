// The key switcher at FGb size (degree 2^16, 25 base and quantize primes, 5
// temporary primes, gadget rank 5): its digits and its whole switch equal the
// landed pieces' word for word at the top level and inside a partial digit.

#include "eval/KeySwitcher.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "support/DataObjects.hpp"
#include "support/KeySwitchReference.hpp"
#include "support/KeyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

TEST(KeySwitcherSlowTest, FGbMatchesTheLandedPiecesWordForWord) {
    const auto ctx = makeContext(ParameterPreset::FGb);
    const KeySwitcher ks(ctx);
    auto key = makeEmptyMultKey(ctx);
    fillKey(*key, 4);
    Polynomial body(ctx, false, true), mask(ctx, false, true);
    for (std::uint64_t level : {getLength(ctx) - 1, std::uint64_t{7}}) {
        SCOPED_TRACE(level);
        Polynomial in(ctx, false, true);
        in.setLevel(level);
        QueltTest::fillResidues(in, level);
        const ReferenceSwitch want = referenceSwitch(ctx, in, *key);
        std::vector<Polynomial> digits;
        ks.modUpPQ(in, digits);
        ASSERT_EQ(digits.size(), want.digits.size());
        for (std::size_t d = 0; d < digits.size(); ++d)
            EXPECT_EQ(usedWords(digits[d]), usedWords(want.digits[d])) << "digit " << d;
        ks.keySwitch(in, *key, body, mask);
        EXPECT_EQ(QueltTest::wordsOf(body), QueltTest::wordsOf(want.down[0]));
        EXPECT_EQ(QueltTest::wordsOf(mask), QueltTest::wordsOf(want.down[1]));
    }
}
