#pragma once
// The main sheet over the simulated camera, with a temporary registry,
// session and program folder: the fixture of the sheet's tests, and of the
// camera soak test, which runs the sheet the way the program does.
#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "app/snap_property_sheet.h"
#include "camera/camera_manager.h"
#include "camera/device_camera.h"
#include "platform/devices/button_device.h"
#include "platform/http.h"
#include "simcam/hub.h"
#include "simcam/scene_source.h"
#include "testing/camera_timing.h"
#include "testing/sim_sheet.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

namespace sheet_test {

using namespace std::chrono_literals;

class NullKeyboard final : public CKeyboard {
public:
    bool Install(platform::HWND, platform::UINT message) override
    {
        installed = message;
        return true;
    }
    void Uninstall() override { uninstalled = true; }
    void SetHotKeys(const CHotKeys& keys) override
    {
        last = keys;
        ++sets;
    }
    void SetHotKey(std::uint32_t, int, int, int) override {}
    bool FilterAllKeys(platform::HWND, platform::UINT) override { return true; }
    bool StartTypingHook(platform::UINT, platform::UINT, platform::UINT) override { return true; }
    bool StopTypingHook() override { return true; }

    platform::UINT installed = 0;
    bool uninstalled = false;
    CHotKeys last;
    int sets = 0;
};

class FakeFrameWindows final : public IFrameWindows {
public:
    void ShowChildWindows(bool force) override { calls.push_back(force ? "show forced" : "show"); }
    void CloseChildWindows(bool remember) override { calls.push_back(remember ? "close remember" : "close"); }
    std::vector<std::string> calls;
};

class RecordingPage final : public CPropertyPageBase {
public:
    RecordingPage() : CPropertyPageBase(136) {}
    platform::LRESULT OnDeviceState(platform::WPARAM, platform::LPARAM) override
    {
        ++deviceState;
        return 0;
    }
    platform::LRESULT OnProfileChanged(platform::WPARAM, platform::LPARAM) override
    {
        ++profileChanged;
        return 0;
    }
    platform::LRESULT OnDeviceChange(platform::WPARAM, platform::LPARAM) override
    {
        ++deviceChange;
        return 0;
    }
    int deviceState = 0;
    int profileChanged = 0;
    int deviceChange = 0;
};

const char* kCatalogue = R"(<?xml version="1.0" encoding="UTF-8"?>
<Games Version="7" Developer="-1">
  <Game Name="Racer" Exe="racer.exe" Id="4701" ProfileId="4702">
    <DefaultProfile>Racer.xml</DefaultProfile>
    <ApplicationID>0123456789abcdef</ApplicationID>
    <Restrict Axis="0" Min="-100" Max="100" Supported="1"/>
  </Game>
  <Game Name="Flyer" Exe="flyer.exe" Id="4801" ProfileId="4802">
    <DefaultProfile>Flyer.xml</DefaultProfile>
  </Game>
</Games>
)";

constexpr std::uint32_t kPauseKey = 0x50;
constexpr std::uint32_t kCenterKey = 0x43;
constexpr std::uint32_t kPrecisionKey = 0x51;

class SheetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "sheet_test";
        static char* argv[] = {name, nullptr};
        static QApplication qt(argc, argv);
    }

    void SetUp() override
    {
        oldFolder = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        devicePath = testing_support::AttachSimulatedCamera(hub, dir.path());

        // A profile for the racing game, and the start profile.
        std::filesystem::create_directories(dir.path() / "Profiles");
        CProfile racer;
        racer.Path = u"Profiles\\Racer.xml";
        racer.Name = u"Racer";
        racer.MotionType = 0;
        ASSERT_EQ(racer.Save(), 0);
        MakeSheet();
    }

    void MakeSheet()
    {
        sheet.reset();
        CSnapPropertySheet::Config c =
            testing_support::SimulatedSheetConfig(hub, dir.path(), registry.store(), cameraTiming, kCatalogue);
        c.mainWindow = mainWindow;
        c.makeKeyboard = [this] {
            auto k = std::make_unique<NullKeyboard>();
            keyboard = k.get();
            return k;
        };
        c.buttons = makeButtons ? makeButtons() : std::make_unique<platform::devices::FakeButtonSource>();
        c.http = &http;
        c.serviceUrl = "http://news.test";
        c.newsIntervalMs = newsIntervalMs;
        c.askShowNews = [this](std::u16string_view question) {
            ++newsQuestions;
            newsQuestion = question;
            return showNews;
        };
        c.tellUser = [this](std::u16string_view text) { told.emplace_back(text); };
        c.texts = [this](unsigned id) { return texts ? texts(id) : std::u16string(); };
        sheet = std::make_unique<CSnapPropertySheet>(std::move(c));
    }

    // Recreates the sheet with other settings on disk.
    void WriteSettings(const std::function<void(CAppSettings&)>& change)
    {
        CAppSettings s;
        change(s);
        ASSERT_EQ(s.Save(dir.file("settings.xml")), 0);
    }

    std::size_t NewsRequests() const
    {
        std::size_t n = 0;
        for (const auto& r : http.requests())
            if (r.url.find("/update/news/query_url.cgi?") != std::string::npos)
                ++n;
        return n;
    }

    void TearDown() override
    {
        sheet.reset();
        testing_support::DetachSimulatedCamera();
        std::filesystem::current_path(oldFolder);
    }

    void Pump()
    {
        platform::Msg msg;
        while (platform::peekMessage(msg))
            platform::dispatchMessage(msg);
    }

    template <typename F>
    bool Eventually(F f)
    {
        return testing_support::PumpUntil([this] { Pump(); }, f);
    }

    void SetKeys(bool pauseToggle, bool precisionToggle)
    {
        CProfile* p = sheet->CurrentProfile();
        ASSERT_NE(p, nullptr);
        CKeyInfo center = p->HotKeys.GetAt(0);
        center.Code = kCenterKey;
        CKeyInfo pause = p->HotKeys.GetAt(1);
        pause.Code = kPauseKey;
        pause.Toggle = pauseToggle ? 1 : 0;
        CKeyInfo precision = p->HotKeys.GetAt(2);
        precision.Code = kPrecisionKey;
        precision.Toggle = precisionToggle ? 1 : 0;
        p->HotKeys.SetAtGrow(0, center);
        p->HotKeys.SetAtGrow(1, pause);
        p->HotKeys.SetAtGrow(2, precision);
        sheet->ActivateProfile(p);
        sheet->ResetPauseState();
    }

    platform::LRESULT Key(platform::UINT state, std::uint32_t key)
    {
        return sheet->WindowProc(WM_HOTKEY_KEY, state, static_cast<platform::LPARAM>(key));
    }

    testing_support::TempRegistry registry;
    testing_support::TempSession session;
    testing_support::TempDir dir{"snap-sheet"};
    std::filesystem::path oldFolder;
    simcam::Hub hub;
    std::string devicePath;
    // The window the sheet posts device changes to (none by default: tests
    // then tell the sheet themselves).
    platform::HWND mainWindow = 0;
    Orvane::CameraTiming cameraTiming = testing_support::FastCameraTiming();
    NullKeyboard* keyboard = nullptr;
    // The devices the sheet's action map reads (none: a fake without devices).
    std::function<std::unique_ptr<platform::devices::ButtonSource>()> makeButtons;
    platform::http::FakeClient http;
    std::uint32_t newsIntervalMs = CSnapPropertySheet::kNewsIntervalMs;
    bool showNews = false;
    int newsQuestions = 0;
    std::u16string newsQuestion;
    TextLookup texts;
    std::unique_ptr<CSnapPropertySheet> sheet;
    std::vector<std::u16string> told;
};

// The sheet as the program runs it: the camera streams a scene, and the
// camera manager's device changes reach the sheet through a window that
// stands in for the main frame.
class StreamingSheetTest : public SheetTest {
protected:
    static constexpr platform::UINT kDeviceChange = 0x0219;

    void SetUp() override
    {
        SheetTest::SetUp();
        mainWindow = platform::createWindow({"OrvaneTestFrame", "", false},
                                            [this](platform::HWND, platform::UINT m, platform::WPARAM, platform::LPARAM) {
                                                if (m == kDeviceChange && sheet)
                                                    sheet->OnDeviceChange();
                                                return platform::LRESULT{0};
                                            });
        ASSERT_NE(mainWindow, 0u);
        device = hub.generic(devicePath);
        // A still head: every frame shows the markers, so the engine counts
        // every frame the camera sends.
        simcam::SceneSettings scene;
        scene.still = true;
        device->setImageSource(simcam::MakeSceneSource(scene));
        Restart();
    }

    void TearDown() override
    {
        SheetTest::TearDown();
        platform::destroyWindow(mainWindow);
    }

    // A new sheet, created and tracking.
    void Restart()
    {
        MakeSheet();
        ASSERT_EQ(sheet->OnCreate(), 0);
        ASSERT_TRUE(Tracking());
    }

    // Whether the engine counts `frames` new frames within `bound`.
    bool Tracking(std::chrono::milliseconds bound = 10s, std::uint32_t frames = 5)
    {
        const std::uint32_t before = sheet->Engine().GetFrameCount();
        const auto until = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < until) {
            Pump();
            if (sheet->Engine().GetFrameCount() >= before + frames)
                return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    std::shared_ptr<simcam::Device> device;
};

} // namespace sheet_test
