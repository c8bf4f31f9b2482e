#pragma once

// The one check of "this call throws RuntimeException with this message".

#include "Quelt/Exception.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace Quelt::test {

// The message of the RuntimeException `call` throws, or nothing when it
// returns.
template <typename F>
std::optional<std::string> caughtMessage(F &&call) {
    try {
        call();
    } catch (const RuntimeException &e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

// The same with an empty string when the call returns.
template <typename F>
std::string thrownMessage(F &&call) {
    return caughtMessage(std::forward<F>(call)).value_or("");
}

// Fails the test unless `call` throws RuntimeException with exactly `message`.
template <typename F>
void expectThrowsMessage(F &&call, const std::string &message) {
    const std::optional<std::string> caught = caughtMessage(std::forward<F>(call));
    if (!caught)
        ADD_FAILURE() << "expected RuntimeException: " << message;
    else
        EXPECT_EQ(*caught, message);
}

// Fails the test unless `call` throws RuntimeException whose message contains
// `text`.
template <typename F>
void expectThrowsContaining(F &&call, const std::string &text) {
    const std::optional<std::string> caught = caughtMessage(std::forward<F>(call));
    if (!caught)
        ADD_FAILURE() << "expected RuntimeException containing: " << text;
    else
        EXPECT_THAT(*caught, testing::HasSubstr(text));
}

} // namespace Quelt::test
