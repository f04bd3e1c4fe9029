// The whole main frame over the simulated camera, offscreen: the monitor
// windows in their slots, the menus, the pages' and editors' adapters over
// the sheet, device notices, and what is kept for the next run.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/frame/main_frame.h"
#include "app/main_pages.h"
#include "camera/camera_manager.h"
#include "camera/device_camera.h"
#include "input/InputDevices.h"
#include "platform/devices/button_device.h"
#include "platform/http.h"
#include "simcam/hub.h"
#include "testing/camera_timing.h"
#include "testing/qt_app.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"
#include "windows/gauges_dlg.h"
#include "windows/head3d/HeadzDlg.h"
#include "windows/tracking_dlg.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace app_frame;

namespace {

class FakeDialogs final : public app::IShellDialogs {
public:
    bool Ask(const std::u16string& text, bool defaultNo) override
    {
        questions.push_back(text);
        askedDefaultNo = defaultNo;
        return answer;
    }
    void Message(const std::u16string& text) override { messages.push_back(text); }
    bool EditProfile(CProfile& profile, bool, IProfileEditorHost& host) override
    {
        ++edits;
        if (onEdit)
            onEdit(profile, host);
        return editOk;
    }
    void EditHotKey(int index, CHotKeys& keys, CKeyboard& keyboard, CActionMap& actions, platform::HWND) override
    {
        ++hotKeys;
        if (onHotKey)
            onHotKey(index, keys, keyboard, actions);
    }
    bool EditCurve(CProfile& profile, int axis, const std::function<void()>& changed) override
    {
        // An edit the way the curve editor makes it: in place, then told.
        profile.Axes[static_cast<std::size_t>(axis)].Inverted ^= 1;
        changed();
        if (onCurve)
            onCurve();
        return curveOk;
    }
    void ShowGameDetails(const CGameInfo&, bool& favourite) override { favourite = !favourite; }

    bool answer = false;
    bool askedDefaultNo = false;
    bool editOk = true;
    bool curveOk = false;
    int edits = 0;
    int hotKeys = 0;
    std::function<void(CProfile&, IProfileEditorHost&)> onEdit;
    std::function<void(int, CHotKeys&, CKeyboard&, CActionMap&)> onHotKey;
    std::function<void()> onCurve;
    std::vector<std::u16string> questions;
    std::vector<std::u16string> messages;
};

class NullKeyboard final : public CKeyboard {
public:
    bool Install(platform::HWND, platform::UINT) override { return true; }
    void Uninstall() override {}
    void SetHotKeys(const CHotKeys& keys) override
    {
        ++sets;
        watched = keys;
    }
    void SetHotKey(std::uint32_t, int, int, int) override {}
    bool FilterAllKeys(platform::HWND, platform::UINT) override { return true; }
    bool StartTypingHook(platform::UINT, platform::UINT, platform::UINT) override { return true; }
    bool StopTypingHook() override { return true; }
    int sets = 0;
    CHotKeys watched;
};

const Guid kPadGuid{0x5A5A0001, 0x0002, 0x0003, {4, 5, 6, 7, 8, 9, 10, 11}};

const char* kCatalogue = R"(<?xml version="1.0" encoding="UTF-8"?>
<Games Version="7" Developer="-1">
  <Game Name="Racer" Exe="racer.exe" Id="4701" ProfileId="4702" Category="2"></Game>
</Games>
)";

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)testing_support::qtApp();
        oldFolder = fs::current_path();
        fs::current_path(dir.path());
        {
            std::ofstream out(dir.file("camera.bit"), std::ios::binary);
            for (int i = 0; i < 400; ++i)
                out.put(static_cast<char>(i * 7 + 3));
        }
        simcam::Model m;
        m.revision = 8;
        m.fpga = simcam::FpgaStart::Unconfigured;
        devicePath = hub.addGeneric(m);
        Orvane::CameraManager::SetDefaultBackend(&hub);
        fs::create_directories(dir.path() / "Profiles");
        CAppSettings settings;
        settings.PeriodicNewsCheck = 0;
        settings.ConfirmClose = 0;
        ASSERT_EQ(settings.Save(dir.file("settings.xml")), 0);
    }

    void TearDown() override
    {
        frame.reset();
        Orvane::CameraManager::DestroyInstance();
        Orvane::CameraManager::SetDefaultBackend(nullptr);
        fs::current_path(oldFolder);
    }

    std::unique_ptr<CMainFrame> MakeFrame()
    {
        CMainFrame::Options o;
        o.useTray = false;
        o.dialogs = dialogs;
        o.confirmClose = [this] { return confirm; };
        o.autostartFolder = dir.path() / "autostart";
        o.programPath = "/opt/vistrel/vistrel";
        o.monitors.headsWithoutDevice = true;
        o.makeSheet = [this](platform::HWND main) {
            CSnapPropertySheet::Config c;
            c.mainWindow = main;
            c.registry = registry.store();
            c.makeCameraSystem = [this] {
                Orvane::CameraSystemFacade::Options fo;
                fo.stopPauseMs = 0;
                return std::make_unique<Orvane::CameraSystemFacade>(
                    CSnapPropertySheet::kCameraNumber,
                    Orvane::MakeDeviceCameraFactory(hub, CSnapPropertySheet::kCameraNumber, testing_support::FastCameraTiming(), dir.path(),
                                                    platform::systemClock()),
                    fo);
            };
            c.engine.frameWaitMs = 20;
            c.engine.poseFile = dir.file("vistrel.tdf");
            c.engine.registry = registry.store();
            c.cameraThread.viewsModule = "NoViewsHere.dll";
            c.cameraThread.retryMs = 5;
            c.cameraThread.waitSliceMs = 50;
            c.cameraThread.pollStepMs = 5;
            c.loadCatalogue = [](CGameList& games) {
                const std::string xml = kCatalogue;
                games.Parse(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
                return 0;
            };
            c.makeKeyboard = [] { return std::make_unique<NullKeyboard>(); };
            auto buttons = std::make_unique<platform::devices::FakeButtonSource>();
            buttons->attach({DeviceIdFromGuid(kPadGuid), DeviceIdFromGuid(kPadGuid), platform::devices::kTypeGamepad,
                             "Pad"},
                            8);
            c.buttons = std::move(buttons);
            c.http = &http;
            c.serviceUrl = "http://update.test";
            c.askShowNews = [] { return false; };
            return std::make_unique<CSnapPropertySheet>(std::move(c));
        };
        return std::make_unique<CMainFrame>(std::move(o));
    }

    void Create()
    {
        frame = MakeFrame();
        ASSERT_TRUE(frame->Create());
    }

    void Pump()
    {
        QApplication::processEvents();
        platform::Msg msg;
        while (platform::peekMessage(msg))
            platform::dispatchMessage(msg);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    template <typename F>
    bool Eventually(F f)
    {
        for (int i = 0; i < 1500; ++i) {
            Pump();
            if (f())
                return true;
            std::this_thread::sleep_for(2ms);
        }
        return f();
    }

    template <typename T>
    T* Window() const
    {
        const auto all = frame->findChildren<T*>();
        for (T* w : all)
            if (w->isVisible())
                return w;
        return nullptr;
    }

    CSnapPropertySheet& Sheet() { return *frame->Sheet(); }
    app::CAppProfile Profile() { return app::CAppProfile(registry.store()); }

    testing_support::TempRegistry registry;
    testing_support::TempSession session;
    testing_support::TempDir dir{"main-frame"};
    fs::path oldFolder;
    simcam::Hub hub;
    std::string devicePath;
    platform::http::FakeClient http;
    std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
    bool confirm = true;
    std::unique_ptr<CMainFrame> frame;
};

TEST_F(FrameTest, ViewCommandsOpenAndCloseEachMonitorWindow)
{
    Create();
    struct Case {
        platform::WPARAM command;
        int slot;
    };
    for (const Case c : {Case{ID_VIEW_GAUGES, 0}, Case{ID_VIEW_TRACKING, 1}, Case{ID_VIEW_HEADS, 2}}) {
        frame->OnCommand(c.command);
        EXPECT_TRUE(frame->Monitors()->IsOpen(c.slot)) << c.slot;
        EXPECT_TRUE(frame->CommandAction(c.command)->isChecked()) << c.slot;
    }
    EXPECT_NE(Window<CGaugesDlg>(), nullptr);
    EXPECT_NE(Window<CTrackingDlg>(), nullptr);
    EXPECT_NE(Window<CHeadzDlg>(), nullptr);
    frame->OnCommand(ID_VIEW_HEADS);
    Pump();
    EXPECT_FALSE(frame->Monitors()->IsOpen(2));
    EXPECT_FALSE(frame->CommandAction(ID_VIEW_HEADS)->isChecked());
    EXPECT_EQ(Window<CHeadzDlg>(), nullptr);

    // The user's close box: the window's notice empties its slot.
    Window<CGaugesDlg>()->close();
    ASSERT_TRUE(Eventually([&] { return !frame->Monitors()->IsOpen(0); }));
    EXPECT_TRUE(frame->Monitors()->IsOpen(1));
    EXPECT_EQ(Profile().GetProfileInt("gauges", "xpos", -1000) != -1000, true) << "its placement was kept";
}

TEST_F(FrameTest, GamesCloseTheWindowsAndTheirEndBringsThemBack)
{
    Create();
    frame->show();
    frame->OnCommand(ID_VIEW_GAUGES);
    Sheet().PostToSheet(WM_ACTIVE_GAME, 4701, 0);
    ASSERT_TRUE(Eventually([&] { return !frame->Monitors()->IsOpen(0); }));
    EXPECT_TRUE(frame->Monitors()->ReopenFlag(0));
    Sheet().PostToSheet(WM_ACTIVE_GAME, static_cast<platform::WPARAM>(-1), 0);
    ASSERT_TRUE(Eventually([&] { return frame->Monitors()->IsOpen(0); }));
    EXPECT_NE(Window<CGaugesDlg>(), nullptr);
}

TEST_F(FrameTest, FirstRunPlacementsAndOpenWindowsCarryOverToTheNextRun)
{
    Create();
    // Defaults of the first run, written once.
    for (const DefaultPlacement& p : kDefaultPlacements) {
        EXPECT_EQ(Profile().GetProfileInt(p.section, "xpos", -1), p.x) << p.section;
        EXPECT_EQ(Profile().GetProfileInt(p.section, "ypos", -1), p.y) << p.section;
    }
    EXPECT_EQ(Profile().GetProfileInt("Settings", "FirstTimeRun", 0), 1);
    app::CAppProfile p = Profile();
    EXPECT_FALSE(WriteFirstRunPlacements(p));

    frame->OnCommand(ID_VIEW_TRACKING);
    frame->move(300, 200);
    frame->Shutdown();
    EXPECT_EQ(Profile().GetProfileInt("windows", "1", 0), 1);
    EXPECT_EQ(Profile().GetProfileInt("windows", "0", 1), 0);
    EXPECT_EQ(Profile().GetProfileInt("Settings", "xpos", 0), 300);
    EXPECT_EQ(Profile().GetProfileInt("Settings", "ypos", 0), 200);
    EXPECT_EQ(Window<CTrackingDlg>(), nullptr) << "shutdown closes the windows";
    frame.reset();

    // The next run opens what was open and stands where the frame stood.
    Create();
    EXPECT_TRUE(frame->Monitors()->IsOpen(1));
    EXPECT_FALSE(frame->Monitors()->IsOpen(0));
    EXPECT_EQ(frame->pos(), QPoint(300, 200));
}

TEST_F(FrameTest, OptionsMenuSavesEachChoice)
{
    fs::create_directories(dir.path() / "Language");
    fs::copy_file(fs::path(LANGUAGE_TEST_MODULE_DIR) / "French.so", dir.path() / "Language" / "French.so");
    Create();
    const auto saved = [this] {
        CAppSettings s;
        EXPECT_EQ(s.Load(dir.file("settings.xml")), 0);
        return s;
    };

    // Run at Startup: the setting and the desktop's autostart entry.
    frame->OnCommand(ID_RUN_AT_STARTUP);
    EXPECT_EQ(saved().RunAtStartup, 1);
    EXPECT_TRUE(frame->CommandAction(ID_RUN_AT_STARTUP)->isChecked());
    EXPECT_TRUE(fs::exists(dir.path() / "autostart" / app::kAutostartFile));
    frame->OnCommand(ID_RUN_AT_STARTUP);
    EXPECT_EQ(saved().RunAtStartup, 0);
    EXPECT_FALSE(fs::exists(dir.path() / "autostart" / app::kAutostartFile));

    // Close to Tray, Run Minimized, Confirm: toggled and saved.
    frame->OnCommand(ID_CLOSE_TO_TRAY);
    EXPECT_TRUE(frame->CloseToTray());
    frame->OnCommand(ID_RUN_MINIMIZED);
    frame->OnCommand(ID_CONFIRM_CLOSE);
    EXPECT_EQ(saved().CloseToTray, 1);
    EXPECT_EQ(saved().RunMinimized, 1);
    EXPECT_EQ(saved().ConfirmClose, 1);

    // Periodic news: turning it on asks nothing; turning it off asks, No first.
    frame->OnCommand(ID_PERIODIC_NEWS);
    EXPECT_TRUE(dialogs->questions.empty());
    EXPECT_EQ(saved().PeriodicNewsCheck, 1);
    dialogs->answer = false;
    frame->OnCommand(ID_PERIODIC_NEWS);
    EXPECT_EQ(dialogs->questions.size(), 1u);
    EXPECT_TRUE(dialogs->askedDefaultNo);
    EXPECT_EQ(saved().PeriodicNewsCheck, 1);
    dialogs->answer = true;
    frame->OnCommand(ID_PERIODIC_NEWS);
    EXPECT_EQ(saved().PeriodicNewsCheck, 0);
    EXPECT_FALSE(frame->CommandAction(ID_PERIODIC_NEWS)->isChecked());

    // Languages: English and the module of the folder; a change is saved and
    // told once, choosing the language in use tells nothing.
    ASSERT_EQ(frame->LanguageMenu()->actions().size(), 2);
    EXPECT_EQ(frame->LanguageMenu()->actions()[1]->text(), QString::fromUtf16(u"Fran\u00e7ais"));
    EXPECT_TRUE(frame->CommandAction(ID_LANGUAGE_FIRST)->isChecked());
    frame->OnCommand(ID_LANGUAGE_FIRST + 1);
    EXPECT_EQ(saved().LanguageDll, u"French.so");
    EXPECT_TRUE(frame->CommandAction(ID_LANGUAGE_FIRST + 1)->isChecked());
    EXPECT_FALSE(frame->CommandAction(ID_LANGUAGE_FIRST)->isChecked());
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0], app::BuiltInText(app::ids::kLanguageChanged));
    frame->OnCommand(ID_LANGUAGE_FIRST + 1);
    EXPECT_EQ(dialogs->messages.size(), 1u);
}

TEST_F(FrameTest, RecordingAndPlaybackFollowEachOther)
{
    Create();
    QAction* record = frame->CommandAction(ID_RECORDING);
    EXPECT_TRUE(frame->CommandAction(ID_RECORDING)->isEnabled());
    EXPECT_FALSE(frame->CommandAction(ID_PLAYBACK)->isEnabled()) << "nothing recorded yet";
    frame->OnCommand(ID_RECORDING);
    EXPECT_TRUE(Sheet().Engine().IsRecording());
    EXPECT_EQ(frame->CommandAction(ID_RECORDING)->text(), QStringLiteral("&Stop Recording"));
    EXPECT_FALSE(frame->CommandAction(ID_PLAYBACK)->isEnabled()) << "not while recording";
    frame->OnCommand(ID_RECORDING);
    EXPECT_FALSE(Sheet().Engine().IsRecording());
    EXPECT_EQ(record->text(), QStringLiteral("&Start Recording"));
    EXPECT_TRUE(frame->CommandAction(ID_PLAYBACK)->isEnabled());
    ASSERT_TRUE(Eventually([&] { return frame->PaneText(0) != u""; }));
}

TEST_F(FrameTest, CameraNoticesReachTheCameraThreadThroughTheFrame)
{
    Create();
    auto* general = static_cast<CMainPageGeneral*>(Sheet().GetPage(0));
    ASSERT_TRUE(general->CreatePage());
    ASSERT_TRUE(Eventually([&] { return Sheet().CameraThread().CameraStarted(); }));
    ASSERT_TRUE(Eventually([&] { return general->DeviceText() != QStringLiteral("No device detected."); }))
        << "the Main page describes the camera once it runs";
    ASSERT_TRUE(Eventually([&] {
        return frame->PaneText(0).starts_with(u"Status: ") && frame->PaneText(0) != u"Status: No Device" &&
               frame->PaneText(0) != u"Status: Configuring";
    }));
    // Only the camera library's notice is posted to the frame window; it
    // wakes the camera thread, which sees the camera gone.
    hub.unplugGeneric(devicePath);
    ASSERT_TRUE(Eventually([&] { return !Sheet().CameraThread().DevicePresent(); }));
    ASSERT_TRUE(Eventually([&] { return frame->PaneText(0) == u"Status: No Device"; }));
    ASSERT_TRUE(Eventually([&] { return general->DeviceText() == QStringLiteral("No device detected."); }));
    hub.replugGeneric(devicePath);
    ASSERT_TRUE(Eventually([&] { return Sheet().CameraThread().DevicePresent() && Sheet().CameraThread().CameraStarted(); }));
    EXPECT_EQ(frame->WindowProc(WM_DEVICECHANGE_, 0x0018, 0), 1) << "every device notice is answered";

    // Power notices: suspend stops the camera, resume starts it again.
    EXPECT_EQ(frame->WindowProc(WM_POWERBROADCAST_, PBT_APMSUSPEND, 0), 1);
    EXPECT_TRUE(Sheet().CameraSystem().IsStopped());
    // A camera that does not answer the first start after a resume is
    // started again by the camera thread.
    frame->WindowProc(WM_POWERBROADCAST_, PBT_APMRESUMESUSPEND, 0);
    EXPECT_TRUE(Eventually([&] { return !Sheet().CameraSystem().IsStopped() && Sheet().CameraThread().CameraStarted(); }));
}

TEST_F(FrameTest, ExitAsksFirstWhenConfirmationIsOn)
{
    Create();
    {
        std::lock_guard lock(Sheet().StateLock());
        Sheet().Settings().ConfirmClose = 1;
    }
    frame->show();
    confirm = false;
    frame->OnCommand(ID_APP_EXIT);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(Sheet().CameraThread().RunFlag()) << "No leaves everything running";
}

TEST_F(FrameTest, GameUpdateCheckTellsTheOutcome)
{
    Create();
    // The catalogue's version and no view library newer than none.
    http.push(200, "<Reply><FileID>SGL</FileID><FileVersion>7</FileVersion><Status>1</Status></Reply>");
    http.push(200, "<Reply><FileID>VIEWMOD</FileID><FileVersion>0</FileVersion></Reply>");
    frame->OnCommand(ID_GAME_UPDATES);
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages.back(), u"Your game list is up to date.");
    const auto requests = http.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_NE(requests[0].url.find("http://update.test/update/files/queryinfo.cgi?"), std::string::npos);
    EXPECT_NE(requests[0].url.find("file_version=7&file_id=SGL"), std::string::npos);
    EXPECT_NE(requests[1].url.find("file_id=VIEWMOD"), std::string::npos);

    http.pushError(platform::http::kErrorNoNetwork);
    frame->OnCommand(ID_GAME_UPDATES);
    ASSERT_EQ(dialogs->messages.size(), 2u);
    EXPECT_EQ(dialogs->messages.back().rfind(u"An error occurred while contacting the update server.", 0), 0u);
}

TEST_F(FrameTest, ProfileEditorWorksOnTheLiveProfileAndItsPreviewWindows)
{
    Create();
    frame->OnCommand(ID_VIEW_TRACKING);
    ASSERT_TRUE(Sheet().SetActivePage(1));
    auto* page = static_cast<CMainPageProfiles*>(Sheet().GetPage(1));
    ASSERT_TRUE(page->HasWindow());
    page->ProfileTable()->selectRow(0);
    CProfile* edited = page->ProfileAt(0);
    ASSERT_NE(edited, nullptr);

    bool settingsOffWhileEditing = false;
    dialogs->onEdit = [&](CProfile& profile, IProfileEditorHost& host) {
        auto* tracking = Window<CTrackingDlg>();
        settingsOffWhileEditing = tracking != nullptr && !tracking->SettingsButton()->isEnabled();
        // A Motion-page change: under the lock, and the engine has it at once.
        host.Locked([&] { profile.MotionType = 2; });
        CEngineProfile copy;
        Sheet().CopyProfile(copy);
        EXPECT_EQ(copy.MotionType, 2);
        // A curve edit from the editor reaches the engine too.
        const std::int32_t before = profile.Axes[0].Inverted;
        EXPECT_FALSE(host.EditCurve(profile, 0));
        Sheet().CopyProfile(copy);
        EXPECT_NE(copy.Axes[0].Inverted, before);
        // The preview check boxes: launch flags by window, windows by slot.
        host.SetLaunchFlag(profile_editor::kHeads, 0);
        host.SetLaunchFlag(profile_editor::kGauges, 1);
        EXPECT_EQ(Sheet().Settings().ProfileLaunchHeads, 0);
        EXPECT_EQ(host.LaunchFlag(profile_editor::kGauges), 1);
        host.OpenWindow(profile_editor::kGauges);
        EXPECT_TRUE(host.IsWindowOpen(profile_editor::kGauges));
        EXPECT_TRUE(frame->Monitors()->IsOpen(app::kSlotGauges));
        host.CloseWindow(profile_editor::kGauges);
        EXPECT_FALSE(host.IsWindowOpen(profile_editor::kGauges));
        EXPECT_FALSE(host.IsWindowOpen(profile_editor::kGlobe));
        host.EditHotKey(0, profile.HotKeys);
    };
    page->OnEdit();
    EXPECT_EQ(dialogs->edits, 1);
    EXPECT_EQ(dialogs->hotKeys, 1);
    EXPECT_TRUE(settingsOffWhileEditing);
    EXPECT_TRUE(Window<CTrackingDlg>()->SettingsButton()->isEnabled()) << "back on after the editor";
    EXPECT_EQ(page->ProfileAt(0)->MotionType, 2) << "OK keeps the edit";
}

// The profile editor hands the keys it edits to the keyboard detector and
// the action map at once. Whatever it did, once a profile was made, copied,
// renamed or edited both hold exactly the current profile's keys, the ones
// the sheet maps key messages with.
TEST_F(FrameTest, AfterEveryProfileChangeTheHotKeyObjectsHoldTheCurrentProfilesKeys)
{
    Create();
    ASSERT_TRUE(Sheet().SetActivePage(1));
    auto* page = static_cast<CMainPageProfiles*>(Sheet().GetPage(1));
    auto* keyboard = dynamic_cast<NullKeyboard*>(Sheet().Keyboard());
    ASSERT_NE(keyboard, nullptr);

    // The editor as a user drives it: the Pause key becomes F5 and Precision
    // a pad button, each handed over the moment it is chosen.
    dialogs->onHotKey = [](int index, CHotKeys& keys, CKeyboard& detector, CActionMap& actions) {
        CKeyInfo k = keys.GetAt(index);
        k.Device = index == 2 ? kPadGuid : GUID_NULL;
        k.SetKey(index == 2 ? 3u : 0x74u);
        keys.SetAtGrow(index, k);
        detector.SetHotKeys(keys);
        actions.ClearBindings();
        actions.AddHotKeys(keys, WM_HOTKEY_ACTION);
    };
    dialogs->onEdit = [](CProfile& profile, IProfileEditorHost& host) {
        host.EditHotKey(1, profile.HotKeys);
        host.EditHotKey(2, profile.HotKeys);
        host.SetHotKeys(profile.HotKeys);
    };
    const auto expectCurrentKeys = [&](const char* after) {
        const CProfile* current = Sheet().CurrentProfile();
        ASSERT_NE(current, nullptr) << after;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(keyboard->watched.GetAt(i).Code, current->HotKeys.GetAt(i).Code) << after << ", key " << i;
            EXPECT_EQ(keyboard->watched.GetAt(i).Device, current->HotKeys.GetAt(i).Device) << after << ", key " << i;
        }
        std::vector<CActionMapEntry> want;
        for (int i = 0; i < 3; ++i)
            if (current->HotKeys.GetAt(i).Device != GUID_NULL)
                want.push_back({i, current->HotKeys.GetAt(i).Device,
                                static_cast<std::int32_t>(current->HotKeys.GetAt(i).Code), 0,
                                static_cast<std::int32_t>(WM_HOTKEY_ACTION)});
        EXPECT_EQ(Sheet().ActionMap().Bindings(), want) << after;
        // The sheet and the detector agree: F9 still pauses, F5 does nothing.
        EXPECT_EQ(current->HotKeys.FindKey(0x78), 1) << after;
    };

    const CProfile* current = Sheet().CurrentProfile();
    page->OnNew();
    EXPECT_EQ(Sheet().CurrentProfile(), current);
    expectCurrentKeys("a new profile");
    dialogs->editOk = false;
    page->OnNew();
    expectCurrentKeys("a new profile cancelled");
    dialogs->editOk = true;

    page->ProfileTable()->selectRow(0);
    page->OnCopy();
    expectCurrentKeys("a copy");

    // Editing another profile, renamed on the way: it is current while the
    // editor runs, the previous one afterwards.
    const int rows = page->ProfileTable()->rowCount();
    ASSERT_GE(rows, 2);
    page->ProfileTable()->selectRow(rows - 1);
    dialogs->onEdit = [](CProfile& profile, IProfileEditorHost& host) {
        profile.Name = u"Renamed";
        host.EditHotKey(1, profile.HotKeys);
        host.EditHotKey(2, profile.HotKeys);
    };
    page->OnEdit();
    expectCurrentKeys("an edit with a rename");
    dialogs->editOk = false;
    page->OnEdit();
    expectCurrentKeys("an edit cancelled");
}

TEST_F(FrameTest, GaugeCurveEditCancelledIsTakenBackInTheEngine)
{
    Create();
    frame->OnCommand(ID_VIEW_GAUGES);
    auto* gauges = Window<CGaugesDlg>();
    ASSERT_NE(gauges, nullptr);
    CProfile* live = Sheet().CurrentProfile();
    ASSERT_NE(live, nullptr);
    const std::int32_t before = live->Axes[1].Inverted;
    CEngineProfile during;
    dialogs->onCurve = [&] { Sheet().CopyProfile(during); };

    dialogs->curveOk = false;
    EXPECT_FALSE(gauges->Controller().EditCurve(1));
    EXPECT_NE(during.Axes[1].Inverted, before) << "the engine follows the open editor";
    CEngineProfile after;
    Sheet().CopyProfile(after);
    EXPECT_EQ(after.Axes[1].Inverted, before) << "Cancel takes the edit back in the engine too";
    EXPECT_EQ(live->Axes[1].Inverted, before);

    dialogs->curveOk = true;
    EXPECT_TRUE(gauges->Controller().EditCurve(1));
    Sheet().CopyProfile(after);
    EXPECT_NE(after.Axes[1].Inverted, before);
}

TEST_F(FrameTest, PagesHostKeepsFavouritesAndTheFilterInTheSettings)
{
    Create();
    ASSERT_TRUE(Sheet().SetActivePage(1));
    auto* page = static_cast<CMainPageProfiles*>(Sheet().GetPage(1));
    ASSERT_EQ(page->TitleTable()->rowCount(), 1);
    QMenu* menu = page->TitleMenu(0, {}, false);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("&Add To Favorites"));
    menu->actions()[0]->trigger();
    const auto saved = [this] {
        CAppSettings s;
        EXPECT_EQ(s.Load(dir.file("settings.xml")), 0);
        return s;
    };
    EXPECT_EQ(saved().Favorites, (std::vector<std::uint32_t>{4702}));

    // The Favorites filter shows it; removing it through Details empties the list.
    page->FilterCombo()->setCurrentIndex(TitleFilterIndex(kFilterFavorites));
    EXPECT_EQ(saved().TitleFilter, kFilterFavorites);
    ASSERT_EQ(page->TitleTable()->rowCount(), 1);
    page->OnDetails(0);
    EXPECT_EQ(page->TitleTable()->rowCount(), 0);
    EXPECT_TRUE(saved().Favorites.empty());
}

} // namespace
