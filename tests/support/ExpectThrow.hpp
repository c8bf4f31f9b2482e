#pragma once

// The one check of "this call throws RuntimeException (or E) with this
// message". An exception of another type propagates and fails the test.

#include "Quelt/Exception.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace Quelt::test {

// The message of the E `call` throws, or nothing when it returns.
template <typename E = RuntimeException, typename F>
std::optional<std::string> caughtMessage(F &&call) {
    try {
        call();
    } catch (const E &e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

// The same with an empty string when the call returns.
template <typename E = RuntimeException, typename F>
std::string thrownMessage(F &&call) {
    return caughtMessage<E>(std::forward<F>(call)).value_or("");
}

// Fails the test unless `call` throws E with exactly `message`.
template <typename E = RuntimeException, typename F>
void expectThrowsMessage(F &&call, const std::string &message) {
    const std::optional<std::string> caught = caughtMessage<E>(std::forward<F>(call));
    if (!caught)
        ADD_FAILURE() << "expected exception: " << message;
    else
        EXPECT_EQ(*caught, message);
}

// Fails the test unless `call` throws E whose message contains `text`.
template <typename E = RuntimeException, typename F>
void expectThrowsContaining(F &&call, const std::string &text) {
    const std::optional<std::string> caught = caughtMessage<E>(std::forward<F>(call));
    if (!caught)
        ADD_FAILURE() << "expected exception containing: " << text;
    else
        EXPECT_THAT(*caught, testing::HasSubstr(text));
}

} // namespace Quelt::test
