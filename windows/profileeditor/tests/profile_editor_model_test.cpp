#include "windows/profile_editor_model.h"

#include <map>
#include <set>
#include <vector>

#include <gtest/gtest.h>

using namespace profile_editor;

TEST(ProfileEditorSheet, StartPageAndCaption)
{
    EXPECT_EQ(StartPage(0), 1);
    EXPECT_EQ(StartPage(1), 0);
    EXPECT_EQ(Caption(1, u"Racing"), u"New Profile");
    EXPECT_EQ(Caption(0, u"Racing"), u"Racing");
    EXPECT_EQ(DefaultsQuestion(u"Racing"), u"Set profile Racing to default values?");
}

TEST(ProfileEditorGeneral, EmptyNameIsRefusedButNotesAreKept)
{
    CProfile p;
    EXPECT_FALSE(CommitGeneral(p, u"", u"n1"));
    EXPECT_EQ(p.Notes, u"n1");
    EXPECT_TRUE(CommitGeneral(p, u"Flight", u"n2"));
    EXPECT_EQ(p.Name, u"Flight");
    EXPECT_EQ(p.Notes, u"n2");
}

TEST(ProfileEditorMotion, TrackingModeTables)
{
    struct Load { std::int32_t type; TrackingRadio radio; };
    for (const Load& c : {Load{0, TrackingRadio::Dot}, Load{1, TrackingRadio::Pendrix},
                          Load{2, TrackingRadio::Halvexor}, Load{3, TrackingRadio::Custom},
                          Load{4, TrackingRadio::Pendrix}, Load{-1, TrackingRadio::Pendrix}}) {
        EXPECT_EQ(RadioForMotionType(c.type), c.radio) << c.type;
    }
    struct Read { bool dot, halvexor, custom; std::int32_t type; };
    for (const Read& c : {Read{true, false, false, 0}, Read{true, true, true, 0}, Read{false, true, true, 2},
                          Read{false, false, true, 3}, Read{false, false, false, 1}}) {
        EXPECT_EQ(MotionTypeFromRadios(c.dot, c.halvexor, c.custom), c.type);
    }
    EXPECT_TRUE(CustomEditVisible(3));
    EXPECT_FALSE(CustomEditVisible(1));
}

TEST(ProfileEditorMotion, DotModeShowsOnlyYawAndPitch)
{
    CProfile p;
    p.MotionType = 0;
    auto rows = AxisRows(p);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, u"Yaw");
    EXPECT_EQ(rows[1].name, u"Pitch");
    for (std::int32_t type : {1, 2, 3}) {
        p.MotionType = type;
        rows = AxisRows(p);
        ASSERT_EQ(rows.size(), 6u);
        EXPECT_EQ(rows[5].name, u"Z");
        EXPECT_EQ(rows[5].toolTip, u"Z translation is created by moving forward and backward.");
    }
    EXPECT_EQ(EditAxisButtonText(2), u"&Edit Roll...");
}

TEST(ProfileEditorMotion, RowsReflectTheAxes)
{
    CProfile p;
    p.Axes[1].Enabled = 0;
    p.Axes[1].Inverted = 1;
    p.Axes[1].SetCurveType(4);
    p.Axes[3].CurveType = 42; // corrupt file value
    const auto rows = AxisRows(p);
    EXPECT_FALSE(rows[1].enabled);
    EXPECT_TRUE(rows[1].inverted);
    EXPECT_EQ(rows[1].curveType, 4);
    EXPECT_EQ(rows[3].curveType, -1);
    EXPECT_EQ(CurveTypeNames()[5], u"Custom");
}

TEST(ProfileEditorMotion, CheckClicksChangeTheLiveAxis)
{
    CProfile p;
    EXPECT_TRUE(ApplyAxisCheck(p, 2, kColumnEnabled, false));
    EXPECT_EQ(p.Axes[2].Enabled, 0);
    EXPECT_TRUE(ApplyAxisCheck(p, 2, kColumnInvert, true));
    EXPECT_EQ(p.Axes[2].Inverted, 1);
    const CProfile before = p;
    EXPECT_FALSE(ApplyAxisCheck(p, 2, kColumnCurve, true));
    EXPECT_FALSE(ApplyAxisCheck(p, 6, kColumnEnabled, false));
    EXPECT_FALSE(ApplyAxisCheck(p, -1, kColumnEnabled, false));
    p.MotionType = 0;
    EXPECT_FALSE(ApplyAxisCheck(p, 2, kColumnEnabled, true)); // roll is not listed in Dot mode
    p.MotionType = before.MotionType;
    EXPECT_EQ(p, before);
}

TEST(ProfileEditorMotion, CurveChoiceLoadsPresetsAndCustomKeepsSlopes)
{
    CProfile p;
    ASSERT_TRUE(ApplyAxisCurve(p, 0, 0));
    CProfileAxis linear(0);
    linear.SetCurveType(0);
    EXPECT_EQ(p.Axes[0].CurveData, linear.CurveData);
    EXPECT_EQ(p.Axes[0].CurveTable, linear.CurveTable);
    p.Axes[0].CurveData[3] = 77;
    const auto edited = p.Axes[0].CurveData;
    ASSERT_TRUE(ApplyAxisCurve(p, 0, 5));
    EXPECT_EQ(p.Axes[0].CurveType, 5);
    EXPECT_EQ(p.Axes[0].CurveData, edited);
    EXPECT_FALSE(ApplyAxisCurve(p, 0, 6));
    EXPECT_FALSE(ApplyAxisCurve(p, 0, -1));
    EXPECT_EQ(p.Axes[0].CurveType, 5);
}

TEST(ProfileEditorMotion, Smoothing)
{
    CProfile p;
    struct C { float stored; int pos; };
    for (const C& c : {C{25.9f, 25}, C{0.0f, 1}, C{-3.0f, 1}, C{100.0f, 100}, C{1e9f, 100}}) {
        p.Smoothing = c.stored;
        EXPECT_EQ(SmoothingSliderPosition(p), c.pos) << c.stored;
    }
    EXPECT_EQ(StoreSmoothing(p, 40), 40);
    EXPECT_EQ(p.Smoothing, 40.0f);
    EXPECT_EQ(StoreSmoothing(p, 0), 1);   // "<" at the bottom
    EXPECT_EQ(StoreSmoothing(p, 101), 100); // ">" at the top
    EXPECT_EQ(SmoothingText(37), u"37");
    for (int code = -1; code <= 10; ++code) {
        EXPECT_EQ(SmoothingScrollActs(code), code >= 0 && code <= 8 && code != 6) << code;
    }
}

TEST(ProfileEditorHotKeys, FlagsRoundTripAndTrapFollowsDevice)
{
    CHotKeys keys;
    keys.SetDefaults();
    HotKeyFlags f = LoadHotKeyFlags(keys);
    EXPECT_EQ(f.pauseToggle, keys.GetAt(1).Toggle);
    const std::int32_t centerToggle = keys.GetAt(0).Toggle;
    f.centerEnable = 0;
    f.pauseTrap = 0;
    f.precisionToggle = 0;
    StoreHotKeyFlags(keys, f);
    EXPECT_EQ(LoadHotKeyFlags(keys), f);
    EXPECT_EQ(keys.GetAt(0).Toggle, centerToggle);
    EXPECT_EQ(keys.GetAt(0).Enable, 0);

    CKeyInfo key = keys.GetAt(2);
    EXPECT_TRUE(TrapAvailable(key));
    key.Device = GUID_SysMouse;
    EXPECT_FALSE(TrapAvailable(key));
}

namespace {

struct FakeHost : IPreviewHost {
    std::set<int> open;
    std::map<int, std::int32_t> flags;
    std::vector<std::string> log;
    bool IsWindowOpen(int w) const override { return open.count(w) != 0; }
    void OpenWindow(int w) override { open.insert(w); log.push_back("open" + std::to_string(w)); }
    void CloseWindow(int w) override { open.erase(w); log.push_back("close" + std::to_string(w)); }
    std::int32_t LaunchFlag(int w) const override { auto it = flags.find(w); return it == flags.end() ? 0 : it->second; }
    void SetLaunchFlag(int w, std::int32_t v) override { flags[w] = v; }
    void SaveSettings() override { log.push_back("save"); }
};

} // namespace

TEST(ProfileEditorPreview, InitOpensFlaggedWindowsInOrderAndDestroyClosesOnlyThose)
{
    FakeHost host;
    host.flags = {{kGauges, 1}, {kTracking, 1}, {kHeads, 1}, {kGlobe, 1}};
    host.open = {kTracking}; // already open: not the page's
    CPreviewWindows pw(host);
    pw.Init();
    EXPECT_EQ(host.log, (std::vector<std::string>{"open2", "open0"}));
    EXPECT_TRUE(pw.Opened(kHeads));
    EXPECT_FALSE(pw.Opened(kTracking));

    host.open.erase(kGauges); // the user closes the gauges window
    host.log.clear();
    pw.Destroy();
    EXPECT_EQ(host.flags[kGauges], 0);
    EXPECT_EQ(host.flags[kGlobe], 0);
    EXPECT_EQ(host.flags[kHeads], 1);
    EXPECT_EQ(host.flags[kTracking], 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"save", "close2"}));
    EXPECT_EQ(host.open, (std::set<int>{kTracking}));
}

TEST(ProfileEditorPreview, ClickStoresSavesAndOpensOrCloses)
{
    FakeHost host;
    CPreviewWindows pw(host);
    pw.Click(kTracking, true);
    EXPECT_EQ(host.flags[kTracking], 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"save", "open1"}));
    host.log.clear();
    pw.Click(kTracking, false);
    EXPECT_EQ(host.flags[kTracking], 0);
    EXPECT_EQ(host.log, (std::vector<std::string>{"save", "close1"}));
    EXPECT_FALSE(pw.Opened(kTracking)); // a click does not make it the page's
}

TEST(ProfileEditorSession, CancelRestoresTheOpenersCopyUnderTheLock)
{
    CProfile live;
    live.Name = u"Mine";
    int locked = 0;
    CProfileEditSession session(live, [&](const std::function<void()>& f) { ++locked; f(); });
    const CProfile original = live;
    // Live edits, including Defaults.
    ApplyAxisCheck(live, 0, kColumnEnabled, false);
    StoreSmoothing(live, 90);
    live.SetDefaults();
    CommitGeneral(live, u"Other", u"x");
    EXPECT_NE(live, original);
    session.Cancel();
    EXPECT_EQ(live, original);
    EXPECT_EQ(locked, 1);
}
