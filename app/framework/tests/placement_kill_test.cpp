// Window placements saved while the program is killed.
#include <gtest/gtest.h>

#include "app/placement.h"
#include "testing/kill_loop.h"
#include "testing/temp_registry.h"

#include <cstdio>

namespace {

using namespace app;

// A placement saved while the program is killed is found whole: position
// and state of one save, never the position of one and the state of another.
TEST(PlacementKill, SaveKilledMidwayIsAllOrNothing)
{
    testing_support::TempRegistry registry_;
    CAppProfile profile_{registry_.store()};
    const WindowPlacement a{{10, 20}, SW_SHOWNORMAL, true};
    const WindowPlacement b{{-300, 700}, SW_SHOWMINIMIZED, true};
    SavePlacement(profile_, "heads", a);
    const auto result = testing_support::RunKillLoop(
        {}, [&](int n) { SavePlacement(profile_, "heads", n % 2 ? a : b); },
        [&] {
            const int x = profile_.GetProfileInt("heads", "xpos", 0);
            const int y = profile_.GetProfileInt("heads", "ypos", 0);
            const int show = profile_.GetProfileInt("heads", "showcmd", 0);
            const bool isA = x == 10 && y == 20 && show == SW_SHOWNORMAL;
            const bool isB = x == -300 && y == 700 && show == SW_SHOWMINIMIZED;
            ASSERT_TRUE(isA || isB) << x << " " << y << " " << show;
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    std::printf("window placement: %d kills\n", result.kills);
}

} // namespace
