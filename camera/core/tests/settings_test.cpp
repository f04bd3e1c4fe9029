#include "camera/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Orvane;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { Settings::ResetToDefaults(); }
    void TearDown() override { Settings::ResetToDefaults(); }
};

TEST_F(SettingsTest, FrameGeometryByRevision)
{
    struct Case {
        int revision, lines, width, href, vref;
    } cases[] = {
        {4, 290, 355, 42, 12}, {5, 288, 355, 74, 11}, {6, 288, 355, 0, 0},  {7, 480, 640, 0, 0},
        {8, 480, 640, 0, 0},   {9, 480, 640, 0, 0},   {12, 480, 640, 0, 0}, {3, 256, 256, 0, 0},
        {13, 256, 256, 0, 0},  {0, 256, 256, 0, 0},   {-1, 256, 256, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.revision);
        EXPECT_EQ(Settings::GetMaxNumScanLines(c.revision), c.lines);
        EXPECT_EQ(Settings::GetMaxScanLineWidth(c.revision), c.width);
        EXPECT_EQ(Settings::GetHrefOffset(c.revision), c.href);
        EXPECT_EQ(Settings::GetVrefOffset(c.revision), c.vref);
    }
}

TEST_F(SettingsTest, ConstantsAndDefaults)
{
    static_assert(Settings::MaxNumberOfObjects_ == 400);
    EXPECT_EQ(Settings::GetMaxNumberOfObjects(), 400);
    EXPECT_EQ(Settings::GetMinNumberOfObjects(), 400);
    EXPECT_EQ(Settings::GetDeltaLimit(), 10);
    EXPECT_EQ(Settings::GetDormantLimit(), 200);
    EXPECT_EQ(Settings::GetStaticMaximum(), 2000);
    EXPECT_EQ(Settings::GetStaticReset(), 1000);
    EXPECT_EQ(Settings::GetStaticLimit(), 300);
    EXPECT_EQ(Settings::GetActiveThreshold(), 20);
    EXPECT_EQ(Settings::GetSkipLines(), 2);
    EXPECT_EQ(Settings::GetMinimumSize(), 7);

    EXPECT_TRUE(Settings::DoStaticTest());
    EXPECT_TRUE(Settings::DoAspectTest());
    EXPECT_EQ(Settings::GetMinimumArea(), 3u);
    EXPECT_EQ(Settings::GetMaximumArea(), 200u);
    EXPECT_EQ(Settings::GetBestArea(), 100u);
    EXPECT_EQ(Settings::GetAreaWeight(), 1.0);
    EXPECT_EQ(Settings::GetMinimumAspectRatio(), 0.25);
    EXPECT_EQ(Settings::GetMaximumAspectRatio(), 4.0);
    EXPECT_EQ(Settings::GetBestAspectRatio(), 1.0);
    EXPECT_EQ(Settings::GetAspectRatioWeight(), 1.0);
    EXPECT_EQ(Settings::GetMinimumProximity(), 3u);
    EXPECT_EQ(Settings::GetMaximumProximity(), 300u);
    EXPECT_EQ(Settings::GetBestProximity(), 20u);
    EXPECT_EQ(Settings::GetProximityWeight(), 1.0);
    EXPECT_EQ(Settings::GetMinimumDistLastTracked(), 0u);
    EXPECT_EQ(Settings::GetMaximumDistLastTracked(), 20u);
    EXPECT_EQ(Settings::GetBestDistLastTracked(), 0u);
    EXPECT_EQ(Settings::GetDistLastTrackedWeight(), 2.0);
    EXPECT_EQ(Settings::GetMinimumStaticCount(), 0u);
    EXPECT_EQ(Settings::GetMaximumStaticCount(), 200u);
    EXPECT_EQ(Settings::GetBestStaticCount(), 0u);
    EXPECT_EQ(Settings::GetStaticCountWeight(), 1.0);
    EXPECT_EQ(Settings::GetScreenCenterWeight(), 1.0);
    EXPECT_EQ(Settings::GetImagerCenterX(), 128.0);
    EXPECT_EQ(Settings::GetImagerCenterY(), 128.0);
    EXPECT_EQ(Settings::GetNumFramesTrackedMissing(), 50);
    EXPECT_EQ(Settings::GetMinNumFramesTrackingCurrent(), 100);
    EXPECT_EQ(Settings::GetMinimumWidth(), 3u);
    EXPECT_EQ(Settings::GetMaximumWidth(), 15u);
    EXPECT_EQ(Settings::GetMinimumHeight(), 2u);
    EXPECT_EQ(Settings::GetMaximumHeight(), 15u);
    EXPECT_EQ(Settings::GetCameraRotation(), 0);
    EXPECT_FALSE(Settings::InvertX());
    EXPECT_FALSE(Settings::InvertY());
}

TEST_F(SettingsTest, EveryValueRoundTripsAndSettersWriteOnlyTheirOwn)
{
    const double awkward = std::nextafter(0.1, 1.0);
    Settings::SetAreaWeight(awkward);
    Settings::SetImagerCenterX(std::numeric_limits<double>::denorm_min());
    Settings::SetImagerCenterY(-0.0);
    Settings::SetBestAspectRatio(1e308);
    Settings::SetMaximumArea(0xFFFFFFFFu);
    Settings::SetCameraRotation(-3);
    Settings::DoStaticTest(false);
    Settings::InvertY(true);

    EXPECT_EQ(Settings::GetAreaWeight(), awkward);
    EXPECT_EQ(Settings::GetImagerCenterX(), std::numeric_limits<double>::denorm_min());
    EXPECT_TRUE(std::signbit(Settings::GetImagerCenterY()));
    EXPECT_EQ(Settings::GetBestAspectRatio(), 1e308);
    EXPECT_EQ(Settings::GetMaximumArea(), 0xFFFFFFFFu);
    EXPECT_EQ(Settings::GetCameraRotation(), -3);
    EXPECT_FALSE(Settings::DoStaticTest());
    EXPECT_TRUE(Settings::InvertY());

    // Neighbours of what was set keep their defaults.
    EXPECT_EQ(Settings::GetMinimumArea(), 3u);
    EXPECT_EQ(Settings::GetBestArea(), 100u);
    EXPECT_EQ(Settings::GetAspectRatioWeight(), 1.0);
    EXPECT_EQ(Settings::GetMinimumAspectRatio(), 0.25);
    EXPECT_TRUE(Settings::DoAspectTest());
    EXPECT_FALSE(Settings::InvertX());

    Settings::ResetToDefaults();
    EXPECT_EQ(Settings::GetAreaWeight(), 1.0);
    EXPECT_EQ(Settings::GetMaximumArea(), 200u);
    EXPECT_TRUE(Settings::DoStaticTest());
}
