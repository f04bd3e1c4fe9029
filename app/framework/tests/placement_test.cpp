// Where windows open again, and what is kept of them.
#include <gtest/gtest.h>

#include "app/placement.h"
#include "testing/temp_registry.h"


namespace {

using namespace app;

TEST(Placement, NearestMonitorPrefersTheOneHoldingThePoint)
{
    const std::vector<Monitor> monitors{
        {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}},
        {{1920, 0, 3200, 1024}, {1920, 0, 3200, 1024}},
    };
    EXPECT_EQ(NearestMonitor(monitors, {100, 100})->area.left, 0);
    EXPECT_EQ(NearestMonitor(monitors, {2000, 100})->area.left, 1920);
    // A point where a detached third monitor used to be: the nearest one.
    EXPECT_EQ(NearestMonitor(monitors, {4000, 500})->area.left, 1920);
    EXPECT_EQ(NearestMonitor(monitors, {-900, 2000})->area.left, 0);
    EXPECT_FALSE(NearestMonitor({}, {0, 0}).has_value());
}

TEST(Placement, ClampToWorkArea)
{
    const Rect work{0, 0, 1920, 1040};
    struct Case {
        Point in;
        Point out;
    } cases[] = {
        {{100, 200}, {100, 200}},         // inside stays
        {{-50, 200}, {0, 200}},           // left of it: left edge
        {{2500, 200}, {1920 - 300, 200}}, // past the right edge: right edges meet
        {{100, -10}, {100, 0}},           // above: top edge
        {{100, 1040}, {100, 1040 - 200}}, // on the bottom edge counts as past it
        {{-5, 5000}, {0, 1040 - 200}},
        {{1919, 1039}, {1620, 840}},      // a corner inside, the window not: all of it comes back
        {{1700, 900}, {1620, 840}},
        {{1620, 840}, {1620, 840}},       // flush with the corner stays
    };
    for (const auto& c : cases) {
        const Point got = ClampToWorkArea(c.in, work, 300, 200);
        EXPECT_EQ(got, c.out) << c.in.x << "," << c.in.y;
    }
    // Larger than the area: the top-left corner (the title bar) stays on it.
    EXPECT_EQ(ClampToWorkArea({500, 500}, {0, 30, 800, 600}, 1000, 700), (Point{0, 30}));
}

TEST(Placement, ShowCommandKeptAtClose)
{
    struct Case {
        bool visible;
        int placement;
        int saved;
    } cases[] = {
        {true, SW_SHOWNORMAL, 1},
        {true, SW_SHOWMINIMIZED, 2},
        {true, SW_SHOWMAXIMIZED, 3},
        {false, SW_SHOWNORMAL, 0},     // hidden in normal state
        {false, SW_SHOWMINIMIZED, 2},  // hidden but minimised keeps it
        {false, SW_SHOWMAXIMIZED, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SavedShowCommand({{0, 0}, c.placement, c.visible}), c.saved) << c.visible << " " << c.placement;
}

class PlacementStore : public ::testing::Test {
protected:
    testing_support::TempRegistry registry_;
    CAppProfile profile_{registry_.store()};
    std::vector<Monitor> monitors_{{{0, 0, 1280, 1024}, {0, 0, 1280, 984}}};
};

TEST_F(PlacementStore, MissingValuesGiveTheDefaults)
{
    const auto p = LoadPlacement(profile_, "gauges", monitors_, 300, 200);
    EXPECT_EQ(p.position, (Point{30, 30}));
    EXPECT_EQ(p.showCommand, 5);
}

TEST_F(PlacementStore, SavedThenLoadedUnderTheWindowsSection)
{
    SavePlacement(profile_, "heads", {{200, 300}, SW_SHOWMINIMIZED, true});
    std::uint32_t x = 0;
    ASSERT_EQ(registry_.store()->queryDword(platform::registry::Root::CurrentUser,
                                            "Software\\Orvane\\Vistrel\\heads", "xpos", x),
              platform::registry::kSuccess);
    EXPECT_EQ(x, 200u);
    const auto p = LoadPlacement(profile_, "HEADS", monitors_, 300, 200);
    EXPECT_EQ(p.position, (Point{200, 300}));
    EXPECT_EQ(p.showCommand, 2);
    // Another window's section is untouched.
    EXPECT_EQ(LoadPlacement(profile_, "gauges", monitors_, 300, 200).position, (Point{30, 30}));
}

TEST_F(PlacementStore, APositionOnADetachedMonitorComesBackOnTheNearestOne)
{
    SavePlacement(profile_, "tracking", {{1500, -40}, SW_SHOWNORMAL, true});
    const auto p = LoadPlacement(profile_, "tracking", monitors_, 300, 200);
    EXPECT_EQ(p.position, (Point{1280 - 300, 0}));
}

TEST_F(PlacementStore, NegativeNumbersRoundTrip)
{
    EXPECT_TRUE(profile_.WriteProfileInt("Settings", "xpos", -1200));
    EXPECT_EQ(profile_.GetProfileInt("Settings", "xpos", 0), -1200);
    // A value of another type is not a number.
    EXPECT_TRUE(profile_.WriteProfileString("Settings", "ypos", u"12"));
    EXPECT_EQ(profile_.GetProfileInt("Settings", "ypos", 7), 7);
    EXPECT_EQ(profile_.GetProfileString("Settings", "ypos", u""), u"12");
    EXPECT_EQ(profile_.GetProfileString("Settings", "none", u"dflt"), u"dflt");
}

TEST(PlacementDefaultStore, FollowsTheTestRegistry)
{
    CAppProfile profile; // on the default store, looked up on each use
    {
        testing_support::TempRegistry registry;
        EXPECT_TRUE(profile.WriteProfileInt("gauges", "showcmd", 3));
        EXPECT_EQ(profile.GetProfileInt("gauges", "showcmd", 5), 3);
    }
    testing_support::TempRegistry fresh;
    EXPECT_EQ(profile.GetProfileInt("gauges", "showcmd", 5), 5);
}

} // namespace
