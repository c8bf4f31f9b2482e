#pragma once

// A fixture for the evaluator's keyless operations on ring ciphertexts: a
// secret key of the degree-2^10 context (encryption level 3), two random
// messages x and y, and their encryptions at levels 3 (x and y), 1 (y) and 0
// (x).

#include "Quelt/Ciphertext.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace Quelt::test {

class RingOperandsTest : public ::testing::Test {
protected:
    RingOperandsTest() : keys((reseed(), degreeTenContext())) {
        std::mt19937_64 rng(11);
        x = randomMessages(getLogFullSlots(ctx()), 1, rng);
        y = randomMessages(getLogFullSlots(ctx()), 1, rng);
        top = keys.encrypt(x, 3);
        other = keys.encrypt(y, 3);
        low = keys.encrypt(y, 1);
        bottom = keys.encrypt(x, 0);
    }
    static const std::shared_ptr<ContextContent> &ctx() {
        static const auto context = degreeTenContext();
        return context;
    }
    static const PrimeModuli &chain() { return ctx()->getPrimeModuli(); }
    static Ciphertext fresh() { return Ciphertext(ctx(), false, true); }

    SchemeKeys<EncryptionType::RLWE> keys;
    Messages x, y;
    Ciphertext top{ctx(), false, true}, other{ctx(), false, true}, low{ctx(), false, true},
        bottom{ctx(), false, true};
};

} // namespace Quelt::test
