// Saves of the mouse emulator's settings killed at random points.
#include <gtest/gtest.h>

#include "mouse/settings.h"
#include "testing/kill_loop.h"
#include "testing/temp_registry.h"

#include <cstdio>

using vslmouse::MouseSettings;

namespace {

// A save killed at any point leaves the five values all old or all new.
TEST(MouseSettingsKill, SaveKilledMidwayIsAllOrNothing)
{
    testing_support::TempRegistry registry;
    platform::registry::Store& store = *registry.store();
    MouseSettings a;
    a.xAxis = 1;
    a.yAxis = 2;
    a.autoPanning = true;
    a.autoPanningThreshold = 10;
    a.mouseOverrideDelay = 3;
    MouseSettings b;
    b.xAxis = 4;
    b.yAxis = 5;
    b.autoPanning = false;
    b.autoPanningThreshold = 90;
    b.mouseOverrideDelay = 9;
    ASSERT_EQ(vslmouse::SaveSettings(store, a), 0);
    int news = 0;
    const auto result = testing_support::RunKillLoop(
        {}, [&](int n) { vslmouse::SaveSettings(store, n % 2 ? a : b); },
        [&] {
            const MouseSettings read = vslmouse::LoadSettings(store);
            ASSERT_TRUE(read == a || read == b)
                << read.xAxis << " " << read.yAxis << " " << read.autoPanning << " " << read.autoPanningThreshold
                << " " << read.mouseOverrideDelay;
            news += read == b;
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    std::printf("mouse settings: %d kills, %d found new\n", result.kills, news);
}

} // namespace
