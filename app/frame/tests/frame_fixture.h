#pragma once
// The main frame over the simulated camera, with fake dialogs and launcher,
// a registry, session and folder of its own: shared by the frame's test
// programs (offscreen, and under a real X server with a window manager).
// The program makes the QApplication before the first test.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>

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
#include "testing/sim_sheet.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"
#include "windows/XListCtrl.h"
#include "windows/gauges_dlg.h"
#include "windows/head3d/HeadzDlg.h"
#include "windows/tracking_dlg.h"

namespace frame_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace app_frame;

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

struct RecordingLauncher final : app::UrlLauncher {
    int result = app::kLaunchSucceeded;
    std::vector<std::string> opened;
    int Open(std::string_view url, int) override
    {
        opened.emplace_back(url);
        return result;
    }
};

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(QApplication::instance(), nullptr) << "the program makes the QApplication";
        oldFolder = fs::current_path();
        fs::current_path(dir.path());
        devicePath = testing_support::AttachSimulatedCamera(hub, dir.path());
        fs::create_directories(dir.path() / "Profiles");
        CAppSettings settings;
        settings.PeriodicNewsCheck = 0;
        settings.ConfirmClose = 0;
        ASSERT_EQ(settings.Save(dir.file("settings.xml")), 0);
    }

    void TearDown() override
    {
        frame.reset();
        testing_support::DetachSimulatedCamera();
        fs::current_path(oldFolder);
    }

    std::unique_ptr<CMainFrame> MakeFrame()
    {
        CMainFrame::Options o;
        o.useTray = false;
        o.dialogs = dialogs;
        o.launcher = launcher;
        o.confirmClose = [this] { return confirm; };
        o.autostartFolder = dir.path() / "autostart";
        o.programPath = "/opt/vistrel/vistrel";
        o.monitors.headsWithoutDevice = headsWithoutDevice;
        o.monitors.headsModelsFolder = headsModelsFolder;
        o.errorLines = errorLines;
        o.makeSheet = [this](platform::HWND main) {
            CSnapPropertySheet::Config c = testing_support::SimulatedSheetConfig(
                hub, dir.path(), registry.store(), testing_support::FastCameraTiming(), kCatalogue);
            c.mainWindow = main;
            c.engine.poseFileSync = poseFileSync;
            c.makeKeyboard = [] { return std::make_unique<NullKeyboard>(); };
            auto buttons = std::make_unique<platform::devices::FakeButtonSource>();
            buttons->attach({DeviceIdFromGuid(kPadGuid), DeviceIdFromGuid(kPadGuid), platform::devices::kTypeGamepad,
                             "Pad"},
                            8);
            c.buttons = std::move(buttons);
            c.http = httpClient != nullptr ? httpClient : &http;
            c.serviceUrl = serviceUrl;
            c.askShowNews = [](std::u16string_view) { return false; };
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
        return testing_support::PumpUntil([this] { Pump(); }, f);
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
    // Another HTTP client and service for the sheet (null: the fake above).
    platform::http::Client* httpClient = nullptr;
    std::string serviceUrl = "http://update.test";
    std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
    bool confirm = true;
    bool headsWithoutDevice = true;
    fs::path headsModelsFolder;
    // How the engine flushes a recording (null: fsync).
    CPoseFileWriter::FileSync poseFileSync = nullptr;
    // The frame's lines for what goes wrong at shutdown (null: messages).
    std::function<void(std::string_view)> errorLines;
    std::unique_ptr<CMainFrame> frame;
};

} // namespace frame_test
