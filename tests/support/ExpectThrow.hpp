#pragma once

// Runs a call that must throw RuntimeException and compares its message.

#include "Quelt/Exception.hpp"

#include <gtest/gtest.h>

#include <string>

namespace Quelt::test {

template <typename F>
void expectThrowsMessage(F &&call, const std::string &message) {
    try {
        call();
        ADD_FAILURE() << "expected RuntimeException: " << message;
    } catch (const RuntimeException &e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

} // namespace Quelt::test
