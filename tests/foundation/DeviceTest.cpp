#include "Quelt/Device.hpp"
#include "Quelt/MemoryResource.hpp"

#include <gtest/gtest.h>

using namespace Quelt;

TEST(Device, OrdersByIdThenType) {
    EXPECT_TRUE((Device{1, 0} < Device{0, 1}));
    EXPECT_TRUE((Device{0, 0} < Device{1, 0}));
    EXPECT_FALSE((Device{0, 0} < Device{0, 0}));
}
