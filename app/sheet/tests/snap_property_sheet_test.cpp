// The main sheet over the simulated camera, a temporary registry, session
// and program folder: it starts everything, hot keys reach the engine, a
// game that starts switches the profile, device removal and arrival restart
// the camera, and shutdown joins everything.
#include "sheet_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace sheet_test;

TEST_F(SheetTest, StartsEverythingAndShutsDownInOrder)
{
    auto* page = new RecordingPage;
    sheet->AddPage(page);
    ASSERT_TRUE(page->CreatePage());
    ASSERT_EQ(sheet->OnCreate(), 0);
    EXPECT_TRUE(sheet->RunFlag());
    ASSERT_NE(sheet->CurrentProfile(), nullptr);
    EXPECT_TRUE(sheet->CurrentProfile()->IsDefault());
    EXPECT_EQ(keyboard->installed, WM_HOTKEY_KEY);
    EXPECT_GE(keyboard->sets, 1);
    EXPECT_TRUE(sheet->Engine().IsRunning());
    EXPECT_EQ(sheet->ActiveGameId(), -1);
    EXPECT_TRUE(std::filesystem::exists(dir.file("settings.xml")));

    // The camera thread starts the simulated camera.
    ASSERT_TRUE(
        Eventually([&] { return sheet->CameraThread().CameraStarted() && sheet->CameraThread().DevicePresent(); }));
    EXPECT_FALSE(sheet->CameraSystem().IsStopped());
    EXPECT_TRUE(Eventually([&] { return page->deviceState >= 1; })) << "the camera thread's notices reach the pages";

    // Removal stops the camera; arrival restarts it.
    hub.unplugGeneric(devicePath);
    sheet->OnDeviceChange();
    EXPECT_EQ(page->deviceChange, 1);
    ASSERT_TRUE(Eventually([&] { return !sheet->CameraThread().DevicePresent(); }));
    hub.replugGeneric(devicePath);
    sheet->OnDeviceChange();
    ASSERT_TRUE(
        Eventually([&] { return sheet->CameraThread().CameraStarted() && sheet->CameraThread().DevicePresent(); }));

    const auto t0 = std::chrono::steady_clock::now();
    sheet->OnDestroy();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    EXPECT_FALSE(sheet->RunFlag());
    EXPECT_FALSE(sheet->CameraThread().Running());
    EXPECT_FALSE(sheet->Engine().IsRunning());
    EXPECT_TRUE(sheet->CameraSystem().IsStopped());
    EXPECT_TRUE(keyboard->uninstalled);

    // With the run flag clear the pages hear nothing more.
    const int before = page->deviceState;
    sheet->WindowProc(WM_NOTIFY_PAGES, app::PN_DEVICE_STATE, 0);
    EXPECT_EQ(page->deviceState, before);
}

TEST_F(SheetTest, HotKeysReachTheEngine)
{
    ASSERT_EQ(sheet->OnCreate(), 0);

    // Toggle pause: holding flips once; the next press flips back.
    SetKeys(true, true);
    EXPECT_FALSE(sheet->Engine().IsPaused());
    EXPECT_EQ(Key(WM_KEYDOWN_, kPauseKey), 0);
    EXPECT_TRUE(sheet->Engine().IsPaused());
    EXPECT_TRUE(sheet->CameraSystem().IsStatusRedOn());
    EXPECT_EQ(Key(WM_KEYDOWN_, kPauseKey), 1) << "auto-repeat";
    EXPECT_TRUE(sheet->Engine().IsPaused());
    EXPECT_EQ(Key(WM_KEYUP_, kPauseKey), 0);
    EXPECT_EQ(Key(WM_KEYDOWN_, kPauseKey), 0);
    EXPECT_FALSE(sheet->Engine().IsPaused());
    EXPECT_FALSE(sheet->CameraSystem().IsStatusRedOn());
    Key(WM_KEYUP_, kPauseKey);

    // Toggle precision switches on release, not on press.
    Key(WM_KEYDOWN_, kPrecisionKey);
    EXPECT_FALSE(sheet->Engine().IsPrecision());
    Key(WM_KEYUP_, kPrecisionKey);
    EXPECT_TRUE(sheet->Engine().IsPrecision());
    Key(WM_KEYDOWN_, kPrecisionKey);
    Key(WM_KEYUP_, kPrecisionKey);
    EXPECT_FALSE(sheet->Engine().IsPrecision());

    // Hold mode: paused except while held; precision only while held.
    SetKeys(false, false);
    EXPECT_TRUE(sheet->Engine().IsPaused());
    EXPECT_EQ(Key(WM_KEYDOWN_, kPauseKey), 0);
    EXPECT_FALSE(sheet->Engine().IsPaused());
    EXPECT_EQ(Key(WM_KEYDOWN_, kPauseKey), 1);
    EXPECT_EQ(Key(WM_KEYUP_, kPauseKey), 0);
    EXPECT_TRUE(sheet->Engine().IsPaused());
    Key(WM_KEYDOWN_, kPrecisionKey);
    EXPECT_TRUE(sheet->Engine().IsPrecision());
    Key(WM_KEYUP_, kPrecisionKey);
    EXPECT_FALSE(sheet->Engine().IsPrecision());

    // Centre answers 1; an unbound key answers 0; through the posted route too.
    EXPECT_EQ(Key(WM_KEYDOWN_, kCenterKey), 1);
    EXPECT_EQ(Key(WM_KEYDOWN_, 0x7A), 0);
    EXPECT_EQ(sheet->WindowProc(WM_HOTKEY_ACTION, WM_KEYDOWN_, 7), 0);
    ASSERT_TRUE(platform::postMessage(sheet->Window(), WM_HOTKEY_ACTION, WM_KEYDOWN_, 1));
    Pump();
    EXPECT_FALSE(sheet->Engine().IsPaused());
    sheet->OnDestroy();
}

TEST_F(SheetTest, AnUnreadableProfileIsToldAndTheOthersLoad)
{
    std::ofstream(dir.file("Profiles/Broken.xml")) << "<Profile><Name>half";
    MakeSheet();
    ASSERT_EQ(sheet->OnCreate(), 0);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(u"Broken.xml"), std::u16string::npos);
    EXPECT_EQ(sheet->Profiles().GetCount(), 2); // the racer and a new default profile
    sheet->OnDestroy();
}

// A damaged settings file (the camera turned half round, then a bad byte)
// is kept beside, the user is told once, and the defaults are used.
TEST_F(SheetTest, DamagedSettingsAreKeptBesideAndToldOnce)
{
    WriteSettings([](CAppSettings& s) { s.Tracking.CameraRotation = 2; });
    std::string text;
    {
        std::ifstream in(dir.file("settings.xml"), std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    text[text.size() / 2] = '<';
    std::ofstream(dir.file("settings.xml"), std::ios::binary) << text;
    std::ofstream(dir.file(".settings.xml.tmp-Xy12Zq")) << "<Settings>";

    MakeSheet();
    ASSERT_EQ(sheet->OnCreate(), 0);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(u"settings-damaged-"), std::u16string::npos);
    EXPECT_EQ(sheet->CameraRotation(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file(".settings.xml.tmp-Xy12Zq")));
    int kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().rfind("settings-damaged-", 0) == 0) {
            ++kept;
            std::ifstream in(e.path(), std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
        }
    EXPECT_EQ(kept, 1);
    sheet->OnDestroy();

    told.clear();
    MakeSheet();
    ASSERT_EQ(sheet->OnCreate(), 0);
    EXPECT_TRUE(told.empty());
    sheet->OnDestroy();
}

// The damaged-settings message comes in the interface language (text 5007),
// and what a killed recording left is the user's recording again.
TEST_F(SheetTest, DamagedSettingsAreToldInTheLanguageAndCutRecordingsKept)
{
    std::ofstream(dir.file("settings.xml"), std::ios::binary) << "<Settings><LedsOn>1</Led";
    const auto header = PoseFileHeader();
    std::string recording(header.begin(), header.end());
    PoseRecord r;
    r.tick = 77;
    const auto record = EncodePoseRecord(r);
    recording.append(record.begin(), record.end());
    std::ofstream(dir.file("vistrel.tdf.Kk55Kk.part"), std::ios::binary) << recording << "cut";
    texts = [](unsigned id) {
        return id == kSettingsDamagedId ? std::u16string(u"R\u00e9glages endommag\u00e9s, gard\u00e9s sous %s.")
                                        : std::u16string();
    };
    MakeSheet();
    ASSERT_EQ(sheet->OnCreate(), 0);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].rfind(u"R\u00e9glages endommag\u00e9s, gard\u00e9s sous ", 0), 0u) << told[0].size();
    EXPECT_NE(told[0].find(u"settings-damaged-"), std::u16string::npos);
    std::ifstream in(dir.file("vistrel-recording-1.tdf"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), recording);
    EXPECT_FALSE(std::filesystem::exists(dir.file("vistrel.tdf.Kk55Kk.part")));
    sheet->OnDestroy();
}

TEST_F(SheetTest, GameStartSwitchesProfileUnlessExclusive)
{
    ASSERT_EQ(sheet->OnCreate(), 0);
    CProfile* start = sheet->CurrentProfile();
    ASSERT_NE(start, nullptr);

    // A listed game hands its application ids to the engine.
    sheet->PostToSheet(WM_ACTIVE_GAME, 4701, 0);
    Pump();
    EXPECT_EQ(sheet->Engine().ApplicationIds(), (std::array<std::uint32_t, 2>{0x01234567u, 0x89abcdefu}));

    // An unknown game changes nothing; the first record stands as active,
    // and the engine gets no application ids.
    sheet->PostToSheet(WM_GAME_STARTED, 999, 0);
    sheet->PostToSheet(WM_ACTIVE_GAME, 999, 0);
    Pump();
    EXPECT_EQ(sheet->CurrentProfile(), start);
    EXPECT_EQ(sheet->ActiveGameId(), 999);
    EXPECT_EQ(sheet->Engine().ApplicationIds(), (std::array<std::uint32_t, 2>{0u, 0u}));
    CEngineLimits limits{};
    sheet->CopyGameLimits(limits);
    EXPECT_EQ(limits[0].Max, 100);

    auto* page = new RecordingPage;
    sheet->AddPage(page);
    ASSERT_TRUE(page->CreatePage());
    sheet->PostToSheet(WM_GAME_STARTED, 4701, 0);
    Pump();
    EXPECT_EQ(page->profileChanged, 1);
    ASSERT_NE(sheet->CurrentProfile(), start);
    EXPECT_EQ(sheet->CurrentProfile()->Name, u"Racer");
    EXPECT_EQ(keyboard->last, sheet->CurrentProfile()->HotKeys);
    CEngineProfile copy;
    sheet->CopyProfile(copy);
    EXPECT_EQ(copy.MotionType, 0);

    // An exclusive current profile stays.
    CProfile* racer = sheet->CurrentProfile();
    sheet->ActivateProfile(start);
    start->Override = 1;
    sheet->OnGameStarted(4701);
    EXPECT_EQ(sheet->CurrentProfile(), start);
    start->Override = 0;
    sheet->OnGameStarted(4701);
    EXPECT_EQ(sheet->CurrentProfile(), racer);

    // Settings are saved on request and read back.
    {
        std::lock_guard lock(sheet->StateLock());
        sheet->Settings().Tracking.CameraRotation = 1;
    }
    EXPECT_EQ(sheet->SaveSettings(), 0);
    EXPECT_EQ(sheet->CameraRotation(), 1);
    CAppSettings back;
    ASSERT_EQ(back.Load(dir.file("settings.xml")), 0);
    EXPECT_EQ(back.Tracking.CameraRotation, 1);
    sheet->OnDestroy();
}

TEST_F(SheetTest, NewsNewerThanTheLastSeenIsOfferedOnceAndRemembered)
{
    http.push(200, "<NewsInfo><URLVersion>5</URLVersion><ReplyURL>http://n/5</ReplyURL></NewsInfo>");
    for (int i = 0; i < 3; ++i)
        sheet->AddPage(new RecordingPage);
    ASSERT_EQ(sheet->OnCreate(), 0);
    ASSERT_TRUE(Eventually([&] { return newsQuestions == 1; })) << "the news thread's find reaches the user";
    EXPECT_EQ(NewsRequests(), 1u);
    // Declined: the version counts as seen, so the next check stays quiet.
    EXPECT_EQ(sheet->AppProfile().GetProfileInt("Settings", "LastNewsVersion", 0), 5);
    EXPECT_NE(http.requests().front().url.find("http://news.test/update/news/"), std::string::npos);
    sheet->StartNewsThread();
    ASSERT_TRUE(Eventually([&] { return NewsRequests() == 2 && !sheet->NewsThreadRunning(); }));
    Pump();
    EXPECT_EQ(newsQuestions, 1);

    // Newer news, accepted: the News page comes to the front, nothing is stored.
    http.push(200, "<NewsInfo><URLVersion>6</URLVersion><ReplyURL>http://n/6</ReplyURL></NewsInfo>");
    showNews = true;
    sheet->StartNewsThread();
    ASSERT_TRUE(Eventually([&] { return newsQuestions == 2 && sheet->GetActivePage() == sheet->GetPage(2); }));
    EXPECT_EQ(sheet->AppProfile().GetProfileInt("Settings", "LastNewsVersion", 0), 5);
    EXPECT_EQ(newsQuestion, kNewsQuestion);

    // The question is asked in the interface language.
    texts = [](unsigned id) { return id == kNewsQuestionId ? std::u16string(u"Des nouvelles ?") : std::u16string(); };
    http.push(200, "<NewsInfo><URLVersion>7</URLVersion><ReplyURL>http://n/7</ReplyURL></NewsInfo>");
    sheet->StartNewsThread();
    ASSERT_TRUE(Eventually([&] { return newsQuestions == 3; }));
    EXPECT_EQ(newsQuestion, u"Des nouvelles ?");
    sheet->OnDestroy();
}

TEST_F(SheetTest, PeriodicNewsCheckRunsOnItsTimerOnlyWhileOn)
{
    http.push(200, "<NewsInfo><URLVersion>0</URLVersion></NewsInfo>");
    newsIntervalMs = 20;
    MakeSheet();
    WriteSettings([](CAppSettings& s) { s.PeriodicNewsCheck = 0; });
    ASSERT_EQ(sheet->OnCreate(), 0);
    for (int i = 0; i < 20; ++i) {
        Pump();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(NewsRequests(), 0u) << "no news thread at start and no timer";

    // Turned on: the timer starts a check each time it fires.
    {
        std::lock_guard lock(sheet->StateLock());
        sheet->Settings().PeriodicNewsCheck = 1;
    }
    sheet->SetNewsTimer();
    ASSERT_TRUE(Eventually([&] { return NewsRequests() >= 2; }));
    {
        std::lock_guard lock(sheet->StateLock());
        sheet->Settings().PeriodicNewsCheck = 0;
    }
    sheet->SetNewsTimer();
    Eventually([&] { return !sheet->NewsThreadRunning(); });
    Pump();
    const std::size_t seen = NewsRequests();
    for (int i = 0; i < 20; ++i) {
        Pump();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(NewsRequests(), seen);
    EXPECT_EQ(newsQuestions, 0) << "version 0 is not news";
    sheet->OnDestroy();
}

TEST_F(SheetTest, GamesComingAndGoingCloseAndReopenTheMonitorWindows)
{
    FakeFrameWindows frame;
    sheet->SetFrameWindows(&frame);
    ASSERT_EQ(sheet->OnCreate(), 0);
    EXPECT_TRUE(frame.calls.empty()) << "the start-up call changes no window";
    sheet->OnActiveGame(4701, 0);
    sheet->OnActiveGame(-1, 0);
    sheet->OnActiveGame(1003, 0);
    EXPECT_EQ(frame.calls, (std::vector<std::string>{"close remember", "show", "close"}));
    EXPECT_EQ(sheet->ActiveGameRecord(), nullptr) << "1003 is not listed: no name to show";
    sheet->OnActiveGame(4801, 0);
    ASSERT_NE(sheet->ActiveGameRecord(), nullptr);
    EXPECT_EQ(sheet->ActiveGameRecord()->Name, u"Flyer");
    sheet->SetFrameWindows(nullptr);
    sheet->OnDestroy();
}

TEST_F(SheetTest, CameraStartStoresThresholdsOnTheGuiThreadAndEditsReachTheEngine)
{
    WriteSettings([](CAppSettings& s) {
        s.Tracking.FilterThreshold = 200;
        s.Tracking.HalvexorFilterThreshold = 210;
    });
    ASSERT_EQ(sheet->OnCreate(), 0);
    // The start-up call applies them at once, from the GUI thread.
    EXPECT_EQ(sheet->Settings().Tracking.FilterThreshold, 130);
    {
        std::lock_guard lock(sheet->StateLock());
        sheet->Settings().Tracking.FilterThreshold = 201;
    }
    ASSERT_TRUE(Eventually([&] { return sheet->CameraThread().CameraStarted(); }));
    // The camera thread's start asks the GUI thread to store the revision's values.
    ASSERT_TRUE(Eventually([&] { return sheet->Settings().Tracking.FilterThreshold == 130; }));
    EXPECT_EQ(sheet->Settings().Tracking.HalvexorFilterThreshold, 230);

    CProfile* p = sheet->CurrentProfile();
    ASSERT_NE(p, nullptr);
    p->MotionType = 2;
    CEngineProfile copy;
    sheet->CopyProfile(copy);
    EXPECT_NE(copy.MotionType, 2) << "the engine works on its copy";
    sheet->PushProfileToEngine();
    sheet->CopyProfile(copy);
    EXPECT_EQ(copy.MotionType, 2);
    sheet->OnDestroy();
}

} // namespace
