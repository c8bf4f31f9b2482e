#include "context/PolynomialVector.hpp"

#include "Quelt/Bx.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using test::degree64ThreePrimes;
constexpr std::uint64_t kN = 64;

TEST(PolynomialVectorTest, AgreementChecksNameTheDisagreement) {
    PolynomialVector v(degree64ThreePrimes(), 2, false, true);
    EXPECT_EQ(v.getSize(), 2u);
    EXPECT_EQ(v.getLevel(), 2u);
    EXPECT_FALSE(v.isModUp());
    EXPECT_TRUE(v.isNTT());
    EXPECT_EQ(v.getDevice(), kHostDevice);

    v.getPoly(1).setLevel(1);
    expectThrowsMessage([&] { v.getLevel(); }, "Polynomials have different levels");
    v.getPoly(1).setLevel(2);
    v.getPoly(1).setNTT(false);
    expectThrowsMessage([&] { v.isNTT(); }, "Polynomials have different NTT states");
    v.getPoly(1) = Polynomial(degree64ThreePrimes(), true, true);
    expectThrowsMessage([&] { v.isModUp(); }, "Polynomials have different modUp states");
    // An empty array is the one kind a host-only build can place on another
    // device (pinned memory).
    v.getPoly(0).setData(DeviceSpecificArray<std::uint64_t>(0, Device{Device::kPinned, 0}));
    expectThrowsMessage([&] { v.getDevice(); }, "Polynomials are in different devices");
}

TEST(PolynomialVectorTest, EmptyVectorThrowsOutOfRangeButKnowsItsDegree) {
    PolynomialVector v(degree64ThreePrimes(), 0, false, false);
    EXPECT_EQ(v.getSize(), 0u);
    EXPECT_THROW(v.getLevel(), std::out_of_range);
    EXPECT_THROW(v.isModUp(), std::out_of_range);
    EXPECT_THROW(v.isNTT(), std::out_of_range);
    EXPECT_THROW(v.getDevice(), std::out_of_range);
    expectThrowsMessage<std::out_of_range>(
        [&] { v.getPoly(0); },
        "vector::_M_range_check: __n (which is 0) >= this->size() (which is 0)");
    // The degree and the growth come from the context.
    EXPECT_EQ(v.getDegree(), kN);
    v.setSize(2);
    ASSERT_EQ(v.getSize(), 2u);
    EXPECT_EQ(v.getLevel(), 2u);
    EXPECT_FALSE(v.isModUp());
    EXPECT_FALSE(v.isNTT());
    EXPECT_EQ(v.getPoly(1).getData().size(), 3 * kN);
}

TEST(PolynomialVectorTest, SetLevelAndSetSize) {
    PolynomialVector plain(degree64ThreePrimes(), 2, false, false);
    plain.setLevel(1);
    for (std::uint64_t i = 0; i < 2; ++i)
        EXPECT_EQ(plain.getPoly(i).getData().size(), 2 * kN);
    PolynomialVector up(degree64ThreePrimes(), 2, true, true);
    up.setLevel(1);
    EXPECT_EQ(up.getLevel(), 1u);
    EXPECT_EQ(up.getPoly(0).getData().size(), 4 * kN);

    // A level beyond the chain is refused before any polynomial changes.
    EXPECT_THROW(plain.setLevel(3), RuntimeException);
    EXPECT_EQ(plain.getLevel(), 1u);

    // Growing copies the shape of polynomial 0, not its germ or residues.
    up.getPoly(0).getGerm().emplace();
    up.setSize(4);
    ASSERT_EQ(up.getSize(), 4u);
    for (std::uint64_t i = 2; i < 4; ++i) {
        const Polynomial &p = up.getPoly(i);
        EXPECT_EQ(p.getDegree(), kN);
        EXPECT_EQ(p.getChainLength(), 3u);
        EXPECT_EQ(p.getSize(), 4u);
        EXPECT_EQ(p.getLevel(), 1u);
        EXPECT_TRUE(p.isModUp());
        EXPECT_TRUE(p.isNTT());
        EXPECT_EQ(p.getPrimes(), up.getPoly(0).getPrimes());
        EXPECT_FALSE(p.hasGerm());
        EXPECT_EQ(p.getData().size(), 4 * kN);
        EXPECT_EQ(p.getDevice(), kHostDevice);
    }
    up.setSize(2);
    EXPECT_EQ(up.getSize(), 2u);
    up.setSize(0);
    EXPECT_EQ(up.getSize(), 0u);
}

TEST(PolynomialVectorTest, BxCopiesShareOneVector) {
    Bx bx(degree64ThreePrimes(), 3, false);
    ASSERT_EQ(bx.getData()->getSize(), 3u);
    EXPECT_TRUE(bx.getData()->isNTT());
    EXPECT_FALSE(bx.isModUp());
    EXPECT_EQ(bx.getLevel(), 2u);
    Bx copy = bx;
    bx.getData()->getPoly(2).getData()[7] = 1234;
    EXPECT_EQ(copy.getData()->getPoly(2).getData()[7], 1234u);
    copy.getData()->setLevel(0);
    EXPECT_EQ(bx.getLevel(), 0u);

    Bx up(degree64ThreePrimes(), 1, true);
    EXPECT_TRUE(up.isModUp());
    Bx empty(degree64ThreePrimes(), 0, false);
    EXPECT_THROW(empty.isModUp(), std::out_of_range);
}

} // namespace
} // namespace Quelt
