#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "testing/qt_app.h"
#include "windows/tracking_settings_dlg.h"

namespace {

// Records the calls with the value saved at each save.
class FakeHost : public ITrackingSettingsHost {
public:
    explicit FakeHost(CAppSettings& s) : settings(s) {}
    int MotionType() const override { return motion; }
    int HardwareRevision() const override { return revision; }
    void SaveSettings() override { saved.push_back(settings); }
    void ReapplyCameraOptions() override { calls.push_back("camera"); }
    void ApplyScorerLimits() override { calls.push_back("scorer"); }
    void SetIlluminationLeds() override { calls.push_back("leds"); }
    void ApplyTrackingSettings() override { calls.push_back("all"); }
    int Count(const std::string& c) const { return static_cast<int>(std::count(calls.begin(), calls.end(), c)); }

    CAppSettings& settings;
    int motion = 1;
    int revision = 5;
    std::vector<CAppSettings> saved;
    std::vector<std::string> calls;
};

struct Fixture {
    CAppSettings live;
    FakeHost host{live};
    std::vector<int> asked;
    bool answer = true;
    YesNoQuestion Ask()
    {
        return [this](int id, std::u16string_view) {
            asked.push_back(id);
            return answer;
        };
    }
};

} // namespace

TEST(TrackingSettingsModel, FilteringOffAtInitResetsTheThresholdInUse)
{
    struct Case { int motion, revision, reflective, clip; bool clipMode; };
    const Case cases[] = {{0, 5, 130, 230, false}, {1, 9, 150, 240, false}, {2, 5, 130, 230, true}, {3, 9, 150, 240, true}};
    for (const auto& c : cases) {
        Fixture f;
        f.host.motion = c.motion;
        f.host.revision = c.revision;
        f.live.Tracking.LightFiltering = 0;
        f.live.Tracking.HalvexorLightFiltering = 0;
        f.live.Tracking.FilterThreshold = 77;
        f.live.Tracking.HalvexorFilterThreshold = 99;
        CTrackingSettingsModel m(f.live, f.host, f.Ask());
        m.Init();
        EXPECT_EQ(m.ClipMode(), c.clipMode);
        EXPECT_EQ(f.live.Tracking.FilterThreshold, c.reflective);
        EXPECT_EQ(f.live.Tracking.HalvexorFilterThreshold, c.clip);
        EXPECT_EQ(m.Threshold(), c.clipMode ? c.clip : c.reflective);
        EXPECT_FALSE(m.ThresholdEnabled());
        ASSERT_FALSE(f.host.saved.empty());
        EXPECT_EQ(f.host.saved.back().Tracking.FilterThreshold, c.reflective);
    }
}

TEST(TrackingSettingsModel, FilteringOnKeepsThresholdAndEnablesSlider)
{
    Fixture f;
    f.live.Tracking.LightFiltering = 1;
    f.live.Tracking.FilterThreshold = 200;
    CTrackingSettingsModel m(f.live, f.host, f.Ask());
    m.Init();
    EXPECT_EQ(m.Threshold(), 200);
    EXPECT_TRUE(m.ThresholdEnabled());
    EXPECT_EQ(m.SetThreshold(20), 40);
    EXPECT_EQ(m.SetThreshold(999), 253);
    EXPECT_EQ(f.live.Tracking.FilterThreshold, 253);
}

TEST(TrackingSettingsModel, LedQuestionsPerSet)
{
    struct Case { int motion; bool from, to, answer, result; int askedId; };
    const Case cases[] = {
        {1, true, false, false, true, kLedsOffQuestionId},  // refused: stays on
        {1, true, false, true, false, kLedsOffQuestionId},
        {1, false, true, true, true, 0},                    // no question
        {2, false, true, false, false, kLedsOnQuestionId},  // refused: stays off
        {2, false, true, true, true, kLedsOnQuestionId},
        {3, true, false, true, false, 0},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.host.motion = c.motion;
        f.answer = c.answer;
        const bool clip = c.motion >= 2;
        (clip ? f.live.Tracking.HalvexorLedsOn : f.live.Tracking.LedsOn) = c.from;
        const auto otherBefore = clip ? f.live.Tracking.LedsOn : f.live.Tracking.HalvexorLedsOn;
        CTrackingSettingsModel m(f.live, f.host, f.Ask());
        m.Init();
        f.host.calls.clear();
        EXPECT_EQ(m.SetLeds(c.to), c.result);
        EXPECT_EQ(m.LedsChecked(), c.result);
        EXPECT_EQ((clip ? f.live.Tracking.HalvexorLedsOn : f.live.Tracking.LedsOn) != 0, c.result);
        EXPECT_EQ(clip ? f.live.Tracking.LedsOn : f.live.Tracking.HalvexorLedsOn, otherBefore);
        EXPECT_EQ(f.asked.empty() ? 0 : f.asked.front(), c.askedId);
        EXPECT_EQ(f.host.Count("leds"), c.result == c.to ? 1 : 0);
    }
}

TEST(TrackingSettingsModel, ClipModeEditsOnlyHalvexorValues)
{
    Fixture f;
    f.host.motion = 2;
    f.live.Tracking.HalvexorLightFiltering = 1;
    const CTrackingSettings before = f.live.Tracking;
    CTrackingSettingsModel m(f.live, f.host, f.Ask());
    m.Init();
    m.SetThreshold(100);
    m.SetLightFiltering(true);
    EXPECT_EQ(f.live.Tracking.HalvexorFilterThreshold, 100);
    EXPECT_EQ(f.live.Tracking.FilterThreshold, before.FilterThreshold);
    EXPECT_EQ(f.live.Tracking.LightFiltering, before.LightFiltering);
    EXPECT_EQ(f.live.Tracking.LedsOn, before.LedsOn);
}

TEST(TrackingSettingsModel, SizeRotationAndObjectType)
{
    Fixture f;
    CTrackingSettingsModel m(f.live, f.host, f.Ask());
    m.Init();
    f.host.calls.clear();
    EXPECT_EQ(m.SetSize(2), 5);
    EXPECT_EQ(m.StepSize(-1), 5);
    EXPECT_EQ(m.SetSize(600), 500);
    EXPECT_EQ(m.StepSize(1), 500);
    EXPECT_EQ(f.host.Count("scorer"), 4);
    EXPECT_FLOAT_EQ(f.live.Tracking.ObjectSizeBest, 500.0f);
    m.SetRotation(3);
    EXPECT_EQ(f.live.Tracking.CameraRotation, 3);
    EXPECT_EQ(m.RotationIcon(), 139);
    EXPECT_EQ(CTrackingSettingsModel::IconForRotation(7), 136);
    CTrackingSettings expect = f.live.Tracking;
    expect.SetObjectType(1);
    m.SetObjectType(1);
    EXPECT_EQ(f.live.Tracking.ObjectType, 1);
    EXPECT_EQ(m.Size(), static_cast<int>(expect.ObjectSizeBest));
}

TEST(TrackingSettingsBackup, RestoresEverythingButFavourites)
{
    Fixture f;
    f.live.Tracking.LightFiltering = 0;
    f.live.Tracking.FilterThreshold = 180;
    f.live.Favorites = {1, 2};
    const CAppSettings before = f.live;
    const CTrackingSettingsBackup backup(f.live);
    {
        CTrackingSettingsModel m(f.live, f.host, f.Ask());
        m.Init(); // resets the threshold to 130
        m.SetLeds(false);
        m.SetRotation(2);
        m.SetLightFiltering(true);
        m.SetThreshold(60);
    }
    f.live.Favorites.push_back(3);
    f.host.calls.clear();
    backup.Restore(f.live, f.host);
    EXPECT_EQ(f.live.Tracking, before.Tracking);
    EXPECT_EQ(f.live.Favorites, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(f.host.saved.back().Tracking.FilterThreshold, 180);
    EXPECT_EQ(f.host.calls, std::vector<std::string>{"all"});
}

TEST(TrackingSettingsDialog, ControlsDriveTheLiveSettings)
{
    Fixture f;
    f.live.Tracking.LightFiltering = 0;
    f.answer = false;
    CTrackingSettingsDlg dlg(f.live, f.host, f.Ask());
    EXPECT_FALSE(dlg.ThresholdSlider()->isEnabled());
    EXPECT_FALSE(dlg.ThresholdUp()->isEnabled());
    EXPECT_EQ(dlg.ThresholdLabel()->text(), QStringLiteral("130"));
    EXPECT_FALSE(dlg.ObjectTypeRadio(0)->isVisibleTo(&dlg));

    dlg.LedsBox()->click(); // refused
    EXPECT_TRUE(dlg.LedsBox()->isChecked());
    EXPECT_EQ(f.live.Tracking.LedsOn, 1);

    dlg.RotationRadio(3)->click();
    EXPECT_EQ(f.live.Tracking.CameraRotation, 3);
    EXPECT_EQ(dlg.ShownIcon(), 139);

    dlg.FilteringBox()->click();
    EXPECT_TRUE(dlg.ThresholdSlider()->isEnabled());
    dlg.ThresholdUp()->click();
    EXPECT_EQ(f.live.Tracking.FilterThreshold, 131);
    EXPECT_EQ(dlg.ThresholdLabel()->text(), QStringLiteral("131"));
    dlg.ThresholdSlider()->setValue(200);
    EXPECT_EQ(f.live.Tracking.FilterThreshold, 200);

    dlg.SizeSlider()->setValue(dlg.SizeSlider()->minimum());
    dlg.SizeDown()->click();
    EXPECT_FLOAT_EQ(f.live.Tracking.ObjectSizeBest, 5.0f);
    EXPECT_EQ(dlg.SizeLabel()->text(), QStringLiteral("5"));
    dlg.BlueLedBox()->click();
    EXPECT_EQ(f.live.Tracking.UseBlueLed, 0);
}
