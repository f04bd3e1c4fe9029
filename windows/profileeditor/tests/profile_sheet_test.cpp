// The editor offscreen: controls write the live profile the engine reads,
// the host hears each push, and the opener's copy undoes it all on Cancel.
#include "windows/profile_sheet.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QTabWidget>
#include <QTest>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }

private:
    std::unique_ptr<QApplication> app;
    int argc = 1;
    char name[16] = "sheet_test";
    char* argv[2] = {name, nullptr};
};

const bool kRegistered = (::testing::AddGlobalTestEnvironment(new QtEnvironment), true);

struct FakeHost : IProfileEditorHost {
    std::set<int> open;
    std::map<int, std::int32_t> flags;
    std::vector<std::string> log;
    bool answer = true;
    bool curveOk = false;
    int pushes = 0;
    int locked = 0;
    void Locked(const std::function<void()>& write) override { ++locked; write(); }
    CHotKeys pushed;

    bool IsWindowOpen(int w) const override { return open.count(w) != 0; }
    void OpenWindow(int w) override { open.insert(w); log.push_back("open" + std::to_string(w)); }
    void CloseWindow(int w) override { open.erase(w); log.push_back("close" + std::to_string(w)); }
    std::int32_t LaunchFlag(int w) const override { auto it = flags.find(w); return it == flags.end() ? 0 : it->second; }
    void SetLaunchFlag(int w, std::int32_t v) override { flags[w] = v; }
    void SaveSettings() override { log.push_back("save"); }
    bool Ask(const std::u16string&) override { log.push_back("ask"); return answer; }
    void Message(const std::u16string&) override { log.push_back("message"); }
    void ApplyTrackingSettings() override { log.push_back("apply"); }
    void Recenter() override { log.push_back("recenter"); }
    void NotifyStateChanged() override { log.push_back("state"); }
    void ResetPauseState() override { log.push_back("pause"); }
    void SetHotKeys(const CHotKeys& keys) override { ++pushes; pushed = keys; }
    void RefreshActions() override { log.push_back("refresh"); }
    void EditHotKey(int, CHotKeys&) override { log.push_back("hotkey"); }
    bool EditCurve(CProfile& p, int axis) override
    {
        p.Axes[static_cast<std::size_t>(axis)].CurveData[0] = 79; // the dialog edits the live profile
        return curveOk;
    }
};

struct Editor : ::testing::Test {
    CProfile live;
    FakeHost host;
    Editor()
    {
        live.Name = u"Racing";
        live.HotKeys.SetDefaults();
    }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    void clickCell(CXListCtrl* list, int row, int column)
    {
        const QRect r = list->visualRect(list->model()->index(row, column));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
};

} // namespace

TEST_F(Editor, EditOpensOnMotionNewOnGeneral)
{
    CProfilePropertySheet edit(live, host);
    edit.SetNewProfile(0);
    edit.SetCaption(live.Name);
    edit.show();
    EXPECT_EQ(edit.GetActivePage(), &edit.Motion());
    EXPECT_EQ(edit.windowTitle(), QStringLiteral("Racing"));

    CProfilePropertySheet fresh(live, host);
    fresh.SetNewProfile(1);
    fresh.SetCaption(live.Name);
    fresh.show();
    EXPECT_EQ(fresh.GetActivePage(), &fresh.General());
    EXPECT_EQ(fresh.windowTitle(), QStringLiteral("New Profile"));
}

TEST_F(Editor, AxisCheckFlipsTheLiveProfileAndCancelRestoresTheCopy)
{
    profile_editor::CProfileEditSession session(live, {});
    const CProfile original = live;
    {
        CProfilePropertySheet sheet(live, host);
        sheet.show();
        CProfilePageMotion& m = sheet.Motion();
        ASSERT_TRUE(m.HasWindow());
        ASSERT_EQ(m.list->GetRowCount(), 6);
        clickCell(m.list, 1, 1);
        EXPECT_EQ(live.Axes[1].Enabled, 0); // seen by the engine at once
        EXPECT_GE(host.locked, 1);
        clickCell(m.list, 1, 2);
        EXPECT_EQ(live.Axes[1].Inverted, 1);
        click(m.more);
        EXPECT_EQ(live.Smoothing, original.Smoothing + 1.0f);
        EXPECT_EQ(m.smoothingValue->text(), QString::number(static_cast<int>(live.Smoothing)));
        sheet.reject();
    }
    EXPECT_NE(live, original);
    session.Cancel();
    EXPECT_EQ(live, original);
}

TEST_F(Editor, DotModeListsTwoRowsAndOtherModesSixWithARecentre)
{
    CProfilePropertySheet sheet(live, host);
    sheet.show();
    CProfilePageMotion& m = sheet.Motion();
    click(m.radios[0]);
    EXPECT_EQ(live.MotionType, 0);
    EXPECT_EQ(m.list->GetRowCount(), 2);
    host.log.clear();
    click(m.radios[2]);
    EXPECT_EQ(live.MotionType, 2);
    EXPECT_EQ(m.list->GetRowCount(), 6);
    EXPECT_EQ(host.log, (std::vector<std::string>{"apply", "recenter", "state"}));
    EXPECT_FALSE(m.radios[3]->isVisibleTo(&m));
}

TEST_F(Editor, CurveEditorCancelPutsTheProfileBack)
{
    CProfilePropertySheet sheet(live, host);
    sheet.show();
    CProfilePageMotion& m = sheet.Motion();
    const CProfile before = live;
    m.list->SelectRow(2);
    EXPECT_EQ(m.editAxis->text(), QStringLiteral("&Edit Roll..."));
    host.curveOk = false;
    click(m.editAxis);
    EXPECT_EQ(live, before);
    host.curveOk = true;
    click(m.editAxis);
    EXPECT_EQ(live.Axes[2].CurveData[0], 79);
    EXPECT_EQ(m.list->GetSelectedRow(), 2);
}

TEST_F(Editor, EmptyNameKeepsTheUserOnGeneral)
{
    CProfilePropertySheet sheet(live, host);
    sheet.SetNewProfile(1);
    sheet.show();
    sheet.General().name->setText(QString());
    sheet.accept();
    EXPECT_EQ(host.log, (std::vector<std::string>{"message"}));
    EXPECT_TRUE(sheet.isVisible());
    sheet.General().name->setText(QStringLiteral("Flight"));
    sheet.General().notes->setPlainText(QStringLiteral("n"));
    sheet.accept();
    EXPECT_EQ(live.Name, u"Flight");
    EXPECT_EQ(live.Notes, u"n");
}

TEST_F(Editor, DefaultsResetsAndReloadsEveryPageDeclineChangesNothing)
{
    live.Smoothing = 70.0f;
    CProfilePropertySheet sheet(live, host);
    sheet.SetNewProfile(1);
    sheet.show();
    sheet.SetActivePage(1);
    sheet.SetActivePage(0);
    host.answer = false;
    click(sheet.General().defaults);
    EXPECT_EQ(live.Smoothing, 70.0f);
    host.answer = true;
    click(sheet.General().defaults);
    CProfile reset = live;
    reset.SetDefaults();
    EXPECT_EQ(live, reset);
    EXPECT_EQ(sheet.Motion().smoothing->value(), static_cast<int>(reset.Smoothing));
}

TEST_F(Editor, HotKeyFlagsPushTheWholeSetAndJoystickKeysCannotTrap)
{
    CKeyInfo pad = live.HotKeys.GetAt(2);
    pad.Device = GUID_SysMouse;
    live.HotKeys.SetAtGrow(2, pad);
    CProfilePropertySheet sheet(live, host);
    sheet.show();
    sheet.SetActivePage(2);
    CProfilePageHotKeys& h = sheet.HotKeys();
    EXPECT_TRUE(h.rows[0].trap->isEnabled());
    EXPECT_FALSE(h.rows[2].trap->isEnabled());
    const std::int32_t was = live.HotKeys.GetAt(1).Toggle;
    click(h.rows[1].toggle);
    EXPECT_EQ(live.HotKeys.GetAt(1).Toggle, was ? 0 : 1);
    EXPECT_EQ(host.pushes, 1);
    EXPECT_EQ(host.pushed, live.HotKeys);
    EXPECT_EQ(host.log.back(), "pause");
    host.log.clear();
    click(h.rows[0].enable);
    EXPECT_EQ(live.HotKeys.GetAt(0).Enable, 0);
    EXPECT_EQ(host.pushes, 2);
    EXPECT_TRUE(host.log.empty()); // only the Pause Toggle resets the pause state
}

TEST_F(Editor, PreviewWindowOpenedByThePageClosesAndAClosedOneLosesItsFlag)
{
    host.flags = {{profile_editor::kHeads, 1}, {profile_editor::kGauges, 1}};
    {
        CProfilePropertySheet sheet(live, host);
        sheet.show();
        EXPECT_EQ(host.open, (std::set<int>{profile_editor::kHeads, profile_editor::kGauges}));
        host.open.erase(profile_editor::kGauges); // the user closes the gauges
        sheet.reject();
    }
    EXPECT_EQ(host.flags[profile_editor::kGauges], 0);
    EXPECT_EQ(host.flags[profile_editor::kHeads], 1);
    EXPECT_TRUE(host.open.empty());
}

TEST_F(Editor, LeavingGeneralWithAnEmptyNameSwitchesBack)
{
    CProfilePropertySheet sheet(live, host);
    sheet.SetNewProfile(1);
    sheet.show();
    sheet.General().name->setText(QString());
    sheet.SetActivePage(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet.GetActivePage(), &sheet.General());
    EXPECT_EQ(host.log, (std::vector<std::string>{"message"}));
}

// A new profile opens on General: the Motion page, and with it the preview
// windows the settings ask for, is built only when the user turns to it.
TEST_F(Editor, PagesAreBuiltWhenFirstShownSoANewProfileOpensNoPreviewWindows)
{
    host.flags[profile_editor::kHeads] = 1;
    host.flags[profile_editor::kGauges] = 1;
    CProfilePropertySheet sheet(live, host);
    EXPECT_FALSE(sheet.Motion().HasWindow()); // nothing is built before the sheet shows
    EXPECT_TRUE(host.open.empty());
    sheet.SetNewProfile(1);
    sheet.show();
    EXPECT_TRUE(sheet.General().HasWindow());
    EXPECT_FALSE(sheet.Motion().HasWindow());
    EXPECT_FALSE(sheet.HotKeys().HasWindow());
    EXPECT_TRUE(host.open.empty());
    sheet.SetActivePage(1);
    EXPECT_TRUE(sheet.Motion().HasWindow());
    EXPECT_EQ(host.open, (std::set<int>{profile_editor::kHeads, profile_editor::kGauges}));
    sheet.reject();
    EXPECT_TRUE(host.open.empty()); // the page closes what it opened
}
