#include "Quelt/Pointer.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;

namespace {

// A tiny implementation object: counts live instances, and can be told to
// fail its next copy.
struct Impl {
    static inline int live = 0;
    static inline bool fail_next_copy = false;
    std::vector<int> values;
    int tag = 0;

    explicit Impl(std::vector<int> v, int t = 0) : values(std::move(v)), tag(t) { ++live; }
    Impl(const Impl &other) : values(other.values), tag(other.tag) {
        if (fail_next_copy) {
            fail_next_copy = false;
            throw std::runtime_error("copy failed");
        }
        ++live;
    }
    Impl &operator=(const Impl &other) = default;
    ~Impl() { --live; }
};

class PointerTest : public ::testing::Test {
protected:
    void SetUp() override { Impl::live = 0; }
    void TearDown() override { EXPECT_EQ(Impl::live, 0); }
};

const char *const kEmpty = Pointer<Impl>::kEmptyMessage;

} // namespace

TEST_F(PointerTest, CopiesAreIndependent) {
    Pointer<Impl> source(new Impl({1, 2, 3}, 7));
    Pointer<Impl> copy(source);
    EXPECT_EQ(Impl::live, 2);
    EXPECT_NE(&*copy, &*source);
    copy->values[0] = 10;
    source->tag = 8;
    EXPECT_EQ(source->values[0], 1);
    EXPECT_EQ(copy->tag, 7);
}

TEST_F(PointerTest, CopyAssignmentAssignsIntoTheHeldObject) {
    Pointer<Impl> source(new Impl({1, 2}, 5));
    Pointer<Impl> target(new Impl({9, 9, 9, 9}));
    Impl *object = &*target;
    const int *storage = target->values.data();
    target = source;
    EXPECT_EQ(&*target, object);
    EXPECT_EQ(target->values.data(), storage); // capacity was enough: no new block
    EXPECT_EQ(target->values, (std::vector<int>{1, 2}));
    EXPECT_EQ(target->tag, 5);
    EXPECT_EQ(Impl::live, 2);

    const Pointer<Impl> &alias = target;
    target = alias;
    EXPECT_EQ(&*target, object);
    EXPECT_EQ(target->values, (std::vector<int>{1, 2}));
}

TEST_F(PointerTest, MovesHandOverTheObject) {
    Pointer<Impl> source(new Impl({4}));
    Impl *object = &*source;
    Pointer<Impl> moved(std::move(source));
    EXPECT_EQ(&*moved, object);
    EXPECT_TRUE(source.isEmpty());
    EXPECT_EQ(Impl::live, 1);

    Pointer<Impl> other(new Impl({5}));
    other = std::move(moved);
    EXPECT_EQ(&*other, object);
    EXPECT_EQ(Impl::live, 1); // the former object of `other` is gone
    EXPECT_TRUE(moved.isEmpty());

    Pointer<Impl> &alias = other;
    other = std::move(alias);
    EXPECT_EQ(&*other, object);

    // A moved-from pointer may receive an object again.
    source = std::move(other);
    EXPECT_EQ(&*source, object);
    EXPECT_EQ(Impl::live, 1);
}

TEST_F(PointerTest, EmptyPointersThrowInsteadOfDereferencingNull) {
    Pointer<Impl> full(new Impl({1}));
    Pointer<Impl> empty(std::move(full));
    Pointer<Impl> &moved = full;
    const Pointer<Impl> &constant = moved;
    expectThrowsMessage([&] { (void)*moved; }, kEmpty);
    expectThrowsMessage([&] { (void)moved->tag; }, kEmpty);
    expectThrowsMessage([&] { (void)*constant; }, kEmpty);
    expectThrowsMessage([&] { (void)constant->tag; }, kEmpty);
    expectThrowsMessage([&] { Pointer<Impl> copy(constant); }, kEmpty);
    expectThrowsMessage([&] { empty = constant; }, kEmpty);
    EXPECT_EQ(empty->values, (std::vector<int>{1}));

    // Copy-assigning into an empty pointer gives it a copy of the source.
    moved = empty;
    EXPECT_EQ(moved->values, (std::vector<int>{1}));
    EXPECT_NE(&*moved, &*empty);
}

TEST_F(PointerTest, FailedCopyLeavesNothingAllocated) {
    Pointer<Impl> source(new Impl({1}));
    Impl::fail_next_copy = true;
    EXPECT_THROW(Pointer<Impl> copy(source), std::runtime_error);
    EXPECT_EQ(Impl::live, 1);
}
