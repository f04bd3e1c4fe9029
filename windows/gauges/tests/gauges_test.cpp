#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <memory>

#include "testing/qt_app.h"
#include "testing/temp_registry.h"
#include "windows/gauges_dlg.h"

using namespace gauges;

namespace {

class FakeSource : public IGaugeSource {
public:
    PoseAxes raw{}, out{}, pre{};
    CProfile* profile = nullptr;
    mutable int saves = 0;
    PoseAxes RawAxes() const override { return raw; }
    PoseAxes OutputAxes() const override { return out; }
    PoseAxes PreCompensationAxes() const override { return pre; }
    CProfile* CurrentProfile() const override { return profile; }
    int SaveProfile(const CProfile&) const override { return ++saves, 0; }
};

int CountKind(const GaugePicture& pic, LineKind kind)
{
    int n = 0;
    for (const auto& l : pic.lines)
        n += l.kind == kind;
    return n;
}

} // namespace

TEST(GaugeModel, ActiveAndRespondingByMotionType)
{
    CProfile p;
    p.Axes[0].Enabled = 0;
    p.Axes[3].Enabled = 1;
    struct Case { int motion, gauge; bool active, responds; };
    const Case cases[] = {
        {0, 0, true, true},  {0, 1, true, true},  {0, 2, false, false}, {0, 3, false, false},
        {0, 5, false, false}, {1, 0, false, true}, {1, 3, true, true},   {2, 1, true, true},
    };
    for (const auto& c : cases) {
        p.MotionType = c.motion;
        EXPECT_EQ(IsGaugeActive(p, c.gauge), c.active) << c.motion << " " << c.gauge;
        EXPECT_EQ(GaugeResponds(p, c.gauge), c.responds) << c.motion << " " << c.gauge;
    }
}

TEST(GaugeModel, ValuesComeFromTheRightPoseIndex)
{
    PoseAxes raw{1, 2, 3, 4, 5, 6}, out{}, pre{10, 20, 30, 40, 50, 60};
    for (auto& v : raw)
        v *= 16383.0 / 50.0;
    for (auto& v : pre)
        v *= 16383.0 / 50.0;
    struct Case { int gauge; float raw, third; };
    const Case cases[] = {{0, 4, 4}, {1, 5, 5}, {2, 6, 6}, {3, 1, 10}, {4, 2, 20}, {5, 3, 30}};
    for (const auto& c : cases) {
        const auto v = ValuesForGauge(c.gauge, raw, out, pre);
        EXPECT_NEAR(v.raw, c.raw, 1e-4) << c.gauge;
        EXPECT_NEAR(v.third, c.third, 1e-4) << c.gauge;
    }
}

TEST(GaugeModel, LayoutPlacesCurveAndLines)
{
    CProfileAxis axis;
    for (std::size_t k = 0; k < axis.CurveData.size(); ++k)
        axis.CurveData[k] = static_cast<std::int32_t>(k * 5);
    // w 201: half 100, xs 2, ys 1.
    const auto pic = LayoutGauge(201, 80, axis, true, {25.0f, -50.0f, 25.0f});
    EXPECT_EQ(pic.background, Rgb(12, 9, 86));
    EXPECT_EQ(pic.curve.front(), (Point{0, 80}));
    EXPECT_EQ(pic.curve[7], (Point{100, 45}));
    EXPECT_EQ(pic.curve.back(), (Point{200, 10}));
    ASSERT_EQ(pic.lines.size(), 3u); // third equals raw: no third line
    EXPECT_EQ(pic.lines[0].x, 100);
    EXPECT_EQ(pic.lines[1].x, 150);
    EXPECT_EQ(pic.lines[1].colour, Rgb(255, 255, 0));
    EXPECT_EQ(pic.lines[2].x, 0);
    const auto grey = LayoutGauge(201, 80, axis, false, {0, 0, 10});
    EXPECT_EQ(grey.background, Rgb(100, 100, 100));
    EXPECT_EQ(grey.lines[1].colour, Rgb(210, 210, 0));
    EXPECT_EQ(grey.lines[2].colour, Rgb(160, 0, 0));
    EXPECT_EQ(CountKind(grey, LineKind::Third), 1);
    EXPECT_EQ(grey.lines[3].x, 120);
}

TEST(GaugeModel, HitTestSkipsOneAndPointGauges)
{
    std::array<Rect, kGaugeCount> rects{};
    for (int i = 0; i < kGaugeCount; ++i)
        rects[static_cast<std::size_t>(i)] = {i * 100, 0, 90, 50};
    CProfile p;
    p.MotionType = 0;
    EXPECT_EQ(GaugeAt(rects, 10, 10, p), 0);
    EXPECT_EQ(GaugeAt(rects, 110, 49, p), 1);
    EXPECT_EQ(GaugeAt(rects, 210, 10, p), -1);
    EXPECT_EQ(GaugeAt(rects, 95, 10, p), -1); // gap between frames
    p.MotionType = 1;
    EXPECT_EQ(GaugeAt(rects, 510, 10, p), 5);
}

TEST(GaugesController, TogglesSaveAndCancelRestoresCurve)
{
    FakeSource src;
    CProfile profile;
    profile.MotionType = 1;
    src.profile = &profile;
    const auto original = profile.Axes[2].CurveData;
    bool accept = false;
    int editedAxis = -1;
    CGaugesController c(src, [&](CProfile& live, int axis) {
        editedAxis = axis;
        live.Axes[static_cast<std::size_t>(axis)].CurveData.fill(80);
        return accept;
    });
    std::array<Rect, kGaugeCount> rects{};
    for (int i = 0; i < kGaugeCount; ++i)
        rects[static_cast<std::size_t>(i)] = {i * 100, 0, 90, 50};
    c.SetRects(rects);

    EXPECT_EQ(c.OnRightButtonUp(5, 5), 0);
    const int before = profile.Axes[0].Enabled;
    EXPECT_TRUE(c.OnCommand(kCmdEnable));
    EXPECT_NE(profile.Axes[0].Enabled, before);
    EXPECT_TRUE(c.OnCommand(kCmdInvert));
    EXPECT_EQ(profile.Axes[0].Inverted, 1);
    EXPECT_EQ(src.saves, 2);

    EXPECT_TRUE(c.OnDoubleClick(205, 5));
    EXPECT_EQ(editedAxis, 2);
    EXPECT_EQ(profile.Axes[2].CurveData, original);
    EXPECT_EQ(src.saves, 2);

    accept = true;
    EXPECT_EQ(c.OnRightButtonUp(205, 5), 2);
    EXPECT_TRUE(c.OnCommand(kCmdEdit));
    EXPECT_EQ(profile.Axes[2].CurveData[0], 80);
    EXPECT_EQ(src.saves, 3);

    profile.MotionType = 0;
    editedAxis = -1;
    EXPECT_EQ(c.OnRightButtonUp(305, 5), -1);
    EXPECT_FALSE(c.OnDoubleClick(305, 5));
    EXPECT_EQ(editedAxis, -1);
    EXPECT_EQ(c.StoredGauge(), 2); // the last menu's gauge stays
}

class GaugesWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        profile.MotionType = 1;
        profile.Name = u"Flight";
        src.profile = &profile;
        dlg = std::make_unique<CGaugesDlg>(src, [](CProfile&, int) { return false; });
        dlg->SetProfile(std::make_shared<app::CAppProfile>(registry.store()));
        dlg->OnInitDialog();
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    QRgb Pixel(int gauge, int x, int y) { return dlg->GaugeImage(gauge).pixel(x, y) & 0xFFFFFF; }
    testing_support::TempRegistry registry;
    FakeSource src;
    CProfile profile;
    std::unique_ptr<CGaugesDlg> dlg;
};

TEST_F(GaugesWindow, TickDrawsLinesAndName)
{
    EXPECT_EQ(dlg->Timer()->interval(), 33);
    EXPECT_TRUE(dlg->Timer()->isActive());
    src.raw[3] = 16383.0 / 2; // 25 %
    src.raw[0] = 16383.0 / 5;   // 10 %
    src.pre[0] = 16383.0 / 5;
    dlg->OnTimer();
    EXPECT_EQ(dlg->ProfileNameLabel()->text(), QStringLiteral("Flight"));
    const QImage& yaw = dlg->GaugeImage(0);
    const int half = yaw.width() / 2;
    const float xs = static_cast<float>(half) * 0.02f;
    EXPECT_EQ(Pixel(0, static_cast<int>(25 * xs + half) + 1, 3), Rgb(255, 255, 0));
    EXPECT_EQ(Pixel(0, 3, 3), Rgb(12, 9, 86));
    // x gauge with the pre-compensation value equal to raw: no third-line colour anywhere off the curve.
    const QImage& x = dlg->GaugeImage(3);
    int third = 0;
    for (int col = 0; col < x.width(); ++col)
        third += (x.pixel(col, 1) & 0xFFFFFF) == Rgb(10, 100, 215);
    EXPECT_EQ(third, 0);
    src.pre[0] = -16383.0 / 5;
    dlg->OnTimer();
    EXPECT_EQ(Pixel(3, static_cast<int>(-10 * xs + half), 1), Rgb(10, 100, 215));
}

TEST_F(GaugesWindow, DisablingYawTurnsItGreyAtTheNextTick)
{
    dlg->OnTimer();
    EXPECT_EQ(Pixel(0, 3, 3), Rgb(12, 9, 86));
    const QRect r = dlg->GaugeRect(0);
    QTest::mouseRelease(dlg.get(), Qt::RightButton, {}, r.center());
    EXPECT_TRUE(dlg->GaugeMenu()->isVisible());
    EXPECT_TRUE(dlg->GaugeMenu()->actions().at(2)->isChecked());
    dlg->GaugeMenu()->actions().at(2)->trigger();
    dlg->GaugeMenu()->hide();
    EXPECT_EQ(profile.Axes[0].Enabled, 0);
    EXPECT_EQ(src.saves, 1);
    dlg->OnTimer();
    EXPECT_EQ(Pixel(0, 3, 3), Rgb(100, 100, 100));
}

TEST_F(GaugesWindow, OnePointModeOpensNoMenuOnRoll)
{
    profile.MotionType = 0;
    profile.Axes[2].Enabled = 1;
    dlg->OnTimer();
    EXPECT_EQ(Pixel(2, 3, 3), Rgb(100, 100, 100));
    QTest::mouseRelease(dlg.get(), Qt::RightButton, {}, dlg->GaugeRect(2).center());
    EXPECT_FALSE(dlg->GaugeMenu()->isVisible());
}
