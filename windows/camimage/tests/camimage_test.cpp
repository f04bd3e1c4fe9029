#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "camera/settings.h"
#include "testing/qt_app.h"
#include "testing/temp_registry.h"
#include "windows/tracking_dlg.h"

using namespace camimage;

namespace {

struct FakeObject {
    std::int32_t rank;
    double score;
    float area;
    std::vector<CFrameCopy::Run> runs;
};

class FakeSource : public ITrackingImageSource {
public:
    std::uint32_t counter = 0;
    int revision = 5;
    int motion = 0;
    int copies = 0;
    std::vector<FakeObject> objects;
    std::uint32_t FrameCounter() const override { return counter; }
    bool CopyHeldFrame(CFrameCopy& out) override
    {
        ++copies;
        out.Clear();
        for (const auto& o : objects)
            out.AddObject(o.rank, o.score, o.area, o.runs);
        return true;
    }
    int HardwareRevision() const override { return revision; }
    int MotionType() const override { return motion; }
};

class FakeHost : public ITrackingSettingsHost {
public:
    int MotionType() const override { return 1; }
    int HardwareRevision() const override { return 5; }
    void SaveSettings() override { ++saves; }
    void ReapplyCameraOptions() override {}
    void ApplyScorerLimits() override {}
    void SetIlluminationLeds() override {}
    void ApplyTrackingSettings() override { ++applies; }
    int saves = 0, applies = 0;
};

// Colour of a 32-bit pixel (the bitmap stores r, g, b, pad).
std::uint32_t At(const Orvane::BitMap& bm, int x, int y)
{
    const std::uint8_t* p = bm(x, y);
    return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
}

FakeObject Dot(std::int32_t rank, double score, int line, float area = 10)
{
    return {rank, score, area, {{line, 10.0f, 20.0f}}};
}

} // namespace

TEST(TrackingImage, ScaleAndSizePerRevision)
{
    for (int rev : {7, 8, 9}) {
        EXPECT_DOUBLE_EQ(ScaleForRevision(rev), 0.55);
        const auto s = ImageSizeForRevision(rev);
        EXPECT_EQ(s.width, static_cast<int>(Orvane::Settings::GetMaxScanLineWidth(rev) * 0.55));
        EXPECT_EQ(s.height, static_cast<int>(Orvane::Settings::GetMaxNumScanLines(rev) * 0.55));
    }
    for (int rev : {0, 5, 6, 10}) {
        EXPECT_DOUBLE_EQ(ScaleForRevision(rev), 1.0);
        EXPECT_EQ(ImageSizeForRevision(rev).width, Orvane::Settings::GetMaxScanLineWidth(rev));
    }
}

TEST(TrackingImage, ColourTable)
{
    const auto t = BuildColourTable(400);
    ASSERT_EQ(t.size(), 400u);
    EXPECT_EQ(t[0], 0x00FF00u);
    EXPECT_EQ(t[1], 0xFFFFFFu);
    EXPECT_EQ(t[2], 0xBFBFBFu);
    EXPECT_EQ(t[3], 0x7F7F7Fu);
    EXPECT_EQ(t[4], 0x3F3F3Fu);
    EXPECT_EQ(t[399], 0x3F3F3Fu);
}

TEST(TrackingImage, ColoursByModeAndRank)
{
    Orvane::BitMap bm;
    bm.Initialize(100, 40, 0, Orvane::BitMap::Depth32, nullptr);
    const auto colours = BuildColourTable(400);
    CFrameCopy copy;
    const FakeObject objects[] = {Dot(2, 1.0, 0), Dot(1, 2.0, 1, 33.7f), Dot(0, -1.0, 2), Dot(0, 0.0, 3),
                                  Dot(500, 0.5, 4)};
    for (const auto& o : objects)
        copy.AddObject(o.rank, o.score, o.area, o.runs);
    copy.AddObject(1, 1.0, 5, std::vector<CFrameCopy::Run>{{5, 30.0f, 20.0f}}); // stop left of start

    auto r = DrawFrameCopy(copy, bm, 1.0, 0, colours);
    EXPECT_EQ(At(bm, 15, 0), 0xFFFFFFu);
    EXPECT_EQ(At(bm, 15, 1), 0x00FF00u);
    EXPECT_EQ(At(bm, 15, 2), kOtherColour);
    EXPECT_EQ(At(bm, 15, 3), kOtherColour);
    EXPECT_EQ(At(bm, 15, 4), 0x3F3F3Fu); // rank beyond the table takes the last entry
    EXPECT_EQ(At(bm, 25, 5), 0u);
    EXPECT_EQ(r.runsDrawn, 5);
    EXPECT_EQ(r.bestArea, 5); // the last rank-1 object's area

    bm.Clear();
    r = DrawFrameCopy(copy, bm, 1.0, 1, colours);
    for (int line = 0; line < 3; ++line)
        EXPECT_EQ(At(bm, 15, line), 0x00FF00u) << line;
    EXPECT_EQ(At(bm, 15, 3), kOtherColour);
    EXPECT_EQ(At(bm, 15, 4), kOtherColour);
    EXPECT_EQ(r.bestArea, -1);

    bm.Clear();
    DrawFrameCopy(copy, bm, 0.55, 0, colours);
    EXPECT_EQ(At(bm, 6, 2), 0x3F3F3Fu); // line 4 -> 2, runs 10..20 -> 5..11
    EXPECT_EQ(At(bm, 12, 2), 0u);
}

TEST(TrackingImage, DotLabel)
{
    DotLabel l;
    EXPECT_FALSE(l.Update(0, -1));
    EXPECT_TRUE(l.Update(0, 12));
    EXPECT_EQ(l.shown, 12);
    EXPECT_FALSE(l.Update(0, 12));
    EXPECT_FALSE(l.Update(0, -1));
    EXPECT_EQ(l.shown, 12);
    EXPECT_TRUE(l.Update(1, 12));
    EXPECT_FALSE(l.visible);
    EXPECT_TRUE(l.Update(0, 12));
    EXPECT_TRUE(l.visible);
}

TEST(TrackingImage, FrameCopyFromAFrame)
{
    Orvane::Frame frame(20, 20);
    frame.SetObjectCount(2);
    frame.AddSegment(Orvane::LineSegment(3, 1.0f, 4.0f, 3.0f));
    frame.AddSegment(Orvane::LineSegment(4, 2.0f, 5.0f, 3.0f));
    frame.GetObjects()[0].AddScanLine(&frame.GetSegments()[0]);
    frame.GetObjects()[0].AddScanLine(&frame.GetSegments()[1]);
    frame.GetObjects()[0].SetRank(1);
    frame.GetObjects()[1].SetScore(-2);
    CFrameCopy copy;
    copy.CopyFrom(frame);
    ASSERT_EQ(copy.Objects().size(), 2u);
    const auto runs = copy.RunsOf(copy.Objects()[0]);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].line, 4);
    EXPECT_FLOAT_EQ(runs[1].stop, 5.0f);
    EXPECT_EQ(copy.Objects()[0].rank, 1);
    EXPECT_DOUBLE_EQ(copy.Objects()[1].score, -2);
    EXPECT_TRUE(copy.RunsOf(copy.Objects()[1]).empty());
}

TEST(TrackingImage, TickDrawsOncePerFrameAndSwitchesDepth)
{
    FakeSource src;
    src.objects = {Dot(1, 1.0, 2)};
    CTrackingImage image;
    EXPECT_FALSE(image.Tick(src, 32)); // counter still 0
    src.counter = 1;
    EXPECT_TRUE(image.Tick(src, 32));
    EXPECT_TRUE(image.TakeEraseRequest());
    EXPECT_EQ(image.Chosen().GetBitsPerPixel(), 32);
    EXPECT_FALSE(image.Tick(src, 32));
    EXPECT_EQ(src.copies, 1);
    src.counter = 2;
    EXPECT_TRUE(image.Tick(src, 32));
    EXPECT_FALSE(image.TakeEraseRequest());
    src.counter = 3;
    EXPECT_TRUE(image.Tick(src, 16));
    EXPECT_TRUE(image.TakeEraseRequest());
    EXPECT_EQ(image.Chosen().GetBitsPerPixel(), 16);
    EXPECT_EQ(image.Chosen().GetPixel(15, 2), 0x00FF00u & 0xF8FCF8u);
    src.revision = 8;
    src.counter = 4;
    EXPECT_TRUE(image.Tick(src, 16));
    EXPECT_TRUE(image.TakeEraseRequest());
    EXPECT_EQ(image.Chosen().PixelWidth(), ImageSizeForRevision(8).width);
}

class TrackingWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        dlg = std::make_unique<CTrackingDlg>(src, live, host);
        dlg->SetProfile(std::make_shared<app::CAppProfile>(registry.store()));
        dlg->SetScreenDepth([this] { return depth; });
        dlg->OnInitDialog();
        dlg->show();
    }
    testing_support::TempRegistry registry;
    FakeSource src;
    CAppSettings live;
    FakeHost host;
    int depth = 32;
    std::unique_ptr<CTrackingDlg> dlg;
};

TEST_F(TrackingWindow, DrawsNewFramesAndTheDotLabel)
{
    EXPECT_EQ(dlg->Timer()->interval(), 16);
    src.objects = {Dot(1, 1.0, 2, 42.9f)};
    src.counter = 7;
    dlg->OnTimer();
    ASSERT_FALSE(dlg->Picture().isNull());
    EXPECT_EQ(dlg->Picture().pixel(15, 2) & 0xFFFFFF, 0x00FF00u);
    EXPECT_TRUE(dlg->DotValue()->isVisibleTo(dlg.get()));
    EXPECT_EQ(dlg->DotValue()->text(), QStringLiteral("42"));
    EXPECT_EQ(dlg->Erases(), 1);
    dlg->OnTimer();
    EXPECT_EQ(src.copies, 1);
    depth = 16;
    src.counter = 8;
    dlg->OnTimer();
    EXPECT_EQ(dlg->Erases(), 2);
    EXPECT_EQ(dlg->Picture().pixel(15, 2) & 0xFFFFFF, 0x00FC00u);
    src.motion = 1;
    src.objects = {Dot(0, 1, 0), Dot(0, 1, 1), Dot(0, 1, 2), Dot(0, 1, 3)};
    src.counter = 9;
    dlg->OnTimer();
    EXPECT_FALSE(dlg->DotValue()->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->DotTitle()->isVisibleTo(dlg.get()));
    EXPECT_EQ(dlg->Picture().pixel(15, 3) & 0xFFFFFF, 0x0000F8u);
}

TEST_F(TrackingWindow, SettingsButtonMessageAndCancelRestores)
{
    EXPECT_TRUE(dlg->OnMessage(CTrackingDlg::kEnableSettingsMessage, 0));
    EXPECT_FALSE(dlg->SettingsButton()->isEnabled());
    EXPECT_TRUE(dlg->OnMessage(CTrackingDlg::kEnableSettingsMessage, 1));
    EXPECT_TRUE(dlg->SettingsButton()->isEnabled());
    EXPECT_FALSE(dlg->OnMessage(5002, 0));

    live.Tracking.FilterThreshold = 170;
    live.Tracking.LightFiltering = 1;
    live.Favorites = {4};
    const CTrackingSettings before = live.Tracking;
    bool accept = false;
    dlg->SetSettingsRunner([&](CAppSettings& s, ITrackingSettingsHost&) {
        s.Tracking.FilterThreshold = 60;
        s.Tracking.LedsOn = 0;
        s.Tracking.CameraRotation = 2;
        s.Favorites.push_back(5);
        return accept;
    });
    dlg->OnSettings();
    EXPECT_EQ(live.Tracking, before);
    EXPECT_EQ(live.Favorites, (std::vector<std::uint32_t>{4, 5}));
    EXPECT_EQ(host.applies, 1);
    EXPECT_EQ(host.saves, 1);
    accept = true;
    dlg->OnSettings();
    EXPECT_EQ(live.Tracking.FilterThreshold, 60);
    EXPECT_EQ(host.applies, 1);
}
