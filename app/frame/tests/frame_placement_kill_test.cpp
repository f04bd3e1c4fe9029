// The main window's placement and size, saved while the program is killed.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/frame/main_frame.h"
#include "testing/kill_loop.h"
#include "testing/temp_registry.h"

namespace {

// Position, state and size of one save, never the position of one save
// with the size of another.
TEST(FramePlacementKill, SaveKilledMidwayIsAllOrNothing)
{
    testing_support::TempRegistry registry;
    app::CAppProfile profile{registry.store()};
    const app::WindowPlacement a{{10, 20}, app::SW_SHOWNORMAL, true};
    const app::WindowPlacement b{{-300, 700}, app::SW_SHOWMINIMIZED, true};
    const auto save = [&](bool first) {
        if (first)
            app_frame::SaveFramePlacement(profile, a, 640, 480);
        else
            app_frame::SaveFramePlacement(profile, b, 1024, 768);
    };
    save(true);
    const auto result = testing_support::RunKillLoop(
        {}, [&](int n) { save(n % 2 != 0); },
        [&] {
            const auto get = [&](const char* value) { return profile.GetProfileInt("Settings", value, 0); };
            const int x = get("xpos"), y = get("ypos"), show = get("showcmd");
            const int width = get(app_frame::kWidthValue), height = get(app_frame::kHeightValue);
            const bool isA = x == 10 && y == 20 && show == app::SW_SHOWNORMAL && width == 640 && height == 480;
            const bool isB = x == -300 && y == 700 && show == app::SW_SHOWMINIMIZED && width == 1024 && height == 768;
            ASSERT_TRUE(isA || isB) << x << " " << y << " " << show << " " << width << "x" << height;
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    std::printf("main window placement: %d kills\n", result.kills);
}

} // namespace
