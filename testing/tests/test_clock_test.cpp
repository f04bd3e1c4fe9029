#include "testing/test_clock.h"

#include <gtest/gtest.h>

using testing_support::TestClock;

TEST(TestClock, MovesOnlyWhenTold)
{
    TestClock clock(std::chrono::milliseconds(0));
    EXPECT_EQ(clock.tickCount(), 0u);
    clock.sleepFor(std::chrono::milliseconds(1000));
    EXPECT_EQ(clock.tickCount(), 1000u);
    clock.advanceMs(5);
    EXPECT_EQ(clock.tickCount(), 1005u);
    EXPECT_EQ(clock.sleeps(), 1);
}

TEST(TestClock, TickCountWrapsAt32Bits)
{
    TestClock clock(std::chrono::milliseconds(0xFFFFFFFFll));
    EXPECT_EQ(clock.tickCount(), 0xFFFFFFFFu);
    clock.advanceMs(2);
    EXPECT_EQ(clock.tickCount(), 1u);
}
