// The whole main frame over the simulated camera, offscreen: the monitor
// windows in their slots, the menus, the pages' and editors' adapters over
// the sheet, device notices, and what is kept for the next run.
#include "frame_fixture.h"
#include "platform/local_http_server.h"
#include "testing/qt_app.h"

#include <QTimer>

#include <condition_variable>
#include <mutex>

using namespace frame_test;
using namespace std::chrono_literals;
using namespace app_frame;

namespace {

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

TEST_F(FrameTest, ARecordingThatCannotBeSavedIsKeptAndTheUserToldWhere)
{
    Create();
    // The pose file's name is taken by a folder: the rename at the stop fails.
    std::filesystem::create_directories(dir.file("vistrel.tdf") / "taken");
    frame->OnCommand(ID_RECORDING);
    ASSERT_TRUE(Sheet().Engine().IsRecording());
    EXPECT_TRUE(dialogs->messages.empty());
    frame->OnCommand(ID_RECORDING);
    EXPECT_FALSE(Sheet().Engine().IsRecording());
    const std::filesystem::path kept = Sheet().Engine().RecordingKeptAs();
    EXPECT_EQ(kept, dir.file("vistrel-recording-1.tdf"));
    EXPECT_GE(std::filesystem::file_size(kept), kPoseFileHeaderSize);
    ASSERT_EQ(dialogs->messages.size(), 1u);
    const std::u16string& told = dialogs->messages[0];
    EXPECT_EQ(told.rfind(u"The recording could not be saved as ", 0), 0u) << QString::fromStdU16String(told).toStdString();
    EXPECT_NE(told.find(kept.u16string()), std::u16string::npos);
}

// The program ends while it records: the recording is saved as Stop
// Recording saves it, and one that cannot be saved (its flush to disk or
// its rename fails) is kept under another name, which the user is told:
// in a message, or in a line when no one sees the windows.
TEST_F(FrameTest, ARecordingRunningAtShutdownIsSavedOrTheUserToldWhereItWasKept)
{
    const struct {
        const char* what;
        CPoseFileWriter::FileSync sync;
        bool nameTaken;
        bool headless;
    } cases[] = {
        {"saved", nullptr, false, false},
        {"flush fails", [](int) { errno = EIO; return -1; }, false, false},
        {"name taken", nullptr, true, false},
        {"flush fails, headless", [](int) { errno = EIO; return -1; }, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir.file("vistrel.tdf"));
        fs::remove_all(dir.file("vistrel-recording-1.tdf"));
        if (c.nameTaken)
            fs::create_directories(dir.file("vistrel.tdf") / "taken");
        dialogs->messages.clear();
        std::vector<std::string> lines;
        errorLines = c.headless ? std::function<void(std::string_view)>(
                                      [&lines](std::string_view line) { lines.emplace_back(line); })
                                : nullptr;
        poseFileSync = c.sync;
        Create();
        frame->OnCommand(ID_RECORDING);
        ASSERT_TRUE(Sheet().Engine().IsRecording());
        frame->Shutdown();
        const bool failed = c.sync != nullptr || c.nameTaken;
        const fs::path saved = failed ? dir.file("vistrel-recording-1.tdf") : dir.file("vistrel.tdf");
        ASSERT_TRUE(fs::is_regular_file(saved));
        EXPECT_GE(fs::file_size(saved), kPoseFileHeaderSize);
        if (!failed) {
            EXPECT_TRUE(dialogs->messages.empty());
            EXPECT_TRUE(lines.empty());
        } else if (c.headless) {
            EXPECT_TRUE(dialogs->messages.empty());
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].rfind("The recording could not be saved as " + dir.file("vistrel.tdf").string(), 0), 0u)
                << lines[0];
            EXPECT_NE(lines[0].find(saved.string()), std::string::npos) << lines[0];
        } else {
            ASSERT_EQ(dialogs->messages.size(), 1u);
            const std::u16string& message = dialogs->messages[0];
            EXPECT_EQ(message.rfind(u"The recording could not be saved as " + dir.file("vistrel.tdf").u16string(), 0),
                      0u);
            EXPECT_NE(message.find(saved.u16string()), std::u16string::npos);
        }
        frame.reset();
    }
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

// Check for Software Updates says what it found: no connection, or a page
// the browser could not be started for; a reachable page opens.
TEST_F(FrameTest, SoftwareUpdateCheckSaysWhatItFound)
{
    Create();
    const auto check = [this] {
        frame->OnCommand(ID_SOFTWARE_UPDATES);
        return Eventually([this] { return !frame->CheckingSoftwareUpdates(); });
    };
    http.pushError(platform::http::kErrorNoNetwork);
    ASSERT_TRUE(check());
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].rfind(u"An error occurred while contacting the update server.", 0), 0u);
    EXPECT_NE(dialogs->messages[0].find(QString::fromStdString(UpdateErrorText(1222)).toStdU16String()),
              std::u16string::npos);
    EXPECT_TRUE(launcher->opened.empty());

    http.push(200, "<html>4.1.037 is the latest version</html>");
    ASSERT_TRUE(check());
    ASSERT_EQ(launcher->opened.size(), 1u);
    EXPECT_EQ(launcher->opened[0], SoftwareUpdatePageUrl("http://update.test"));
    EXPECT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(http.requests().back().url, SoftwareUpdatePageUrl("http://update.test"));

    launcher->result = 2;
    ASSERT_TRUE(check());
    ASSERT_EQ(dialogs->messages.size(), 2u);
    EXPECT_EQ(dialogs->messages[1], app::HyperlinkErrorText(2));
}

// The check asks the server from a worker: while a slow server takes its
// time the window goes on with its events, the answer shows when it comes,
// and a check still running at shutdown is waited for and its answer dropped.
TEST_F(FrameTest, SoftwareUpdateCheckLeavesTheWindowRunningWhileTheServerTakesItsTime)
{
    testing_support::LocalHttpServer server;
    std::mutex lock;
    std::condition_variable changed;
    bool release = false;
    int answered = 0;
    server.server().Get("/update/index.html", [&](const httplib::Request&, httplib::Response& response) {
        std::unique_lock hold(lock);
        // Bounded, so that a check made on the window's own thread fails
        // the test instead of hanging it.
        changed.wait_for(hold, 5s, [&] { return release; });
        ++answered;
        response.set_content("<html>4.1.037 is the latest version</html>", "text/html");
    });
    ASSERT_TRUE(server.start());
    const auto pageRequests = [&] {
        int n = 0;
        for (const auto& seen : server.seen())
            n += seen.target.rfind("/update/index.html", 0) == 0 ? 1 : 0;
        return n;
    };
    const auto answer = [&](bool on) {
        std::lock_guard hold(lock);
        release = on;
        changed.notify_all();
    };
    platform::http::CurlClient curl;
    httpClient = &curl;
    serviceUrl = server.base();
    Create();

    frame->OnCommand(ID_SOFTWARE_UPDATES);
    bool ticked = false;
    QTimer::singleShot(0, frame.get(), [&] { ticked = true; });
    ASSERT_TRUE(Eventually([&] { return ticked && pageRequests() == 1; }));
    EXPECT_TRUE(frame->CheckingSoftwareUpdates());
    EXPECT_FALSE(frame->CommandAction(ID_SOFTWARE_UPDATES)->isEnabled());
    {
        std::lock_guard hold(lock);
        EXPECT_EQ(answered, 0);
    }
    EXPECT_TRUE(launcher->opened.empty());
    answer(true);
    ASSERT_TRUE(Eventually([&] { return !frame->CheckingSoftwareUpdates(); }));
    ASSERT_EQ(launcher->opened.size(), 1u);
    EXPECT_EQ(launcher->opened[0], SoftwareUpdatePageUrl(server.base()));
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_TRUE(frame->CommandAction(ID_SOFTWARE_UPDATES)->isEnabled());

    answer(false);
    frame->OnCommand(ID_SOFTWARE_UPDATES);
    ASSERT_TRUE(Eventually([&] { return pageRequests() == 2; }));
    answer(true); // the answer is on its way while the program shuts down
    frame->Shutdown();
    EXPECT_FALSE(frame->CheckingSoftwareUpdates());
    frame.reset();
    Pump();
    EXPECT_EQ(launcher->opened.size(), 1u);
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(FrameTest, ProfileEditorWorksOnTheLiveProfileAndItsPreviewWindows)
{
    Create();
    frame->show();
    frame->OnCommand(ID_VIEW_TRACKING);
    ASSERT_TRUE(Sheet().SetActivePage(1));
    auto* page = static_cast<CMainPageProfiles*>(Sheet().GetPage(1));
    ASSERT_TRUE(page->HasWindow());
    page->ProfileTable()->SelectRow(0);
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
    frame->show();
    ASSERT_TRUE(Sheet().SetActivePage(1));
    auto* page = static_cast<CMainPageProfiles*>(Sheet().GetPage(1));
    ASSERT_TRUE(page->HasWindow());
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

    page->ProfileTable()->SelectRow(0);
    page->OnCopy();
    expectCurrentKeys("a copy");

    // Editing another profile, renamed on the way: it is current while the
    // editor runs, the previous one afterwards.
    const int rows = page->ProfileTable()->GetRowCount();
    ASSERT_GE(rows, 2);
    page->ProfileTable()->SelectRow(rows - 1);
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
    frame->show(); // a page is built when it is first shown
    ASSERT_TRUE(Sheet().SetActivePage(1));
    auto* page = static_cast<CMainPageProfiles*>(Sheet().GetPage(1));
    ASSERT_EQ(page->TitleTable()->GetRowCount(), 1);
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
    ASSERT_EQ(page->TitleTable()->GetRowCount(), 1);
    page->OnDetails(0);
    EXPECT_EQ(page->TitleTable()->GetRowCount(), 0);
    EXPECT_TRUE(saved().Favorites.empty());
}

} // namespace
