#pragma once

// Contexts and case tables for the tests of the multi-secret operations: a
// ring of degree 256 over five 40-bit primes (levels 0 .. 4) with its
// multi-secret variants on the same primes, the message of the missing host
// kernel, and tables of calls that must each throw one message.

#include "Quelt/Context.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Quelt::test {

inline const std::string kMulVectorMessage =
    "Cannot support the function 'mulVector' in the current build configuration";

inline const std::shared_ptr<ContextContent> &msBaseContext() {
    static const auto ctx = makeContext(8, 5, 40, 40, 40, 2);
    return ctx;
}
// Two and three secrets over msBaseContext's primes.
inline const std::shared_ptr<ContextContent> &msTwoSecrets() {
    static const auto ctx = genMultiSecretContext(msBaseContext(), "MsTestNS2", 2);
    return ctx;
}
inline const std::shared_ptr<ContextContent> &msThreeSecrets() {
    static const auto ctx = genMultiSecretContext(msBaseContext(), "MsTestNS3", 3);
    return ctx;
}

// A call and the message it must throw.
struct ThrowCase {
    std::string name;
    std::function<void()> call;
    std::string message;
};

inline void expectCases(const std::vector<ThrowCase> &cases) {
    for (const ThrowCase &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage(c.call, c.message);
    }
}

} // namespace Quelt::test
