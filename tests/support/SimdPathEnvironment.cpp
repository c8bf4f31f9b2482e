// QUELT_TEST_SIMD=scalar|avx2|avx512|ifma forces one path of the arithmetic
// kernels for the whole test program, so that the test command can run the
// suite once more on another path. The library itself reads no environment
// variable; the test program sets the path through the internal switch.

#include "foundation/SimdPath.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>

namespace {

class SimdPathEnvironment : public testing::Environment {
public:
    void SetUp() override {
        const char *forced = std::getenv("QUELT_TEST_SIMD");
        if (forced == nullptr || *forced == '\0')
            return;
        // An unknown name or a path the processor lacks fails the whole run:
        // a forced run must never pass on another path.
        try {
            Quelt::simd::setActivePath(Quelt::simd::parsePath(forced));
        } catch (const std::exception &e) {
            FAIL() << "QUELT_TEST_SIMD: " << e.what();
        }
    }
};

[[maybe_unused]] testing::Environment *const kEnvironment =
    testing::AddGlobalTestEnvironment(new SimdPathEnvironment);

} // namespace
