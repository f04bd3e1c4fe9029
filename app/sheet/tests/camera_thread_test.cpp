// The camera thread over a scripted camera: it starts the camera, notices
// removal and arrival, retries while the driver has the device, serves read
// requests, and retries a missing view library without harm.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <mutex>
#include <thread>
#include <vector>

#include "app/camera_thread.h"
#include "app/property_sheet.h"
#include "testing/temp_dir.h"

namespace {

using namespace std::chrono_literals;

class ScriptedCamera final : public ICameraControl {
public:
    void RegisterNotificationWindow() override {}
    void ProbeForDevices() override {}
    bool Start(bool, bool) override
    {
        if (hangStarts) {
            // A camera that leaves its configuration unanswered: the start
            // waits until it is cancelled (or gives up long after).
            ++hungStarts;
            const auto until = std::chrono::steady_clock::now() + 20s;
            while (!cancelled.load() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(1ms);
            return false;
        }
        if (cancelled.load())
            return false;
        std::lock_guard lock(m);
        ++starts;
        if (flicker)
            plugged = true;
        if (!plugged || failStarts > 0) {
            if (failStarts > 0)
                --failStarts;
            return false;
        }
        running = true;
        if (++goodStarts == unplugAfterStart || flicker)
            plugged = false;  // pulled out the moment the start ends
        return true;
    }
    void Stop() override
    {
        std::lock_guard lock(m);
        ++stops;
        running = false;
    }
    bool IsDevicePresent() override
    {
        std::lock_guard lock(m);
        return plugged;
    }
    bool IsUsbDeviceOpen() override
    {
        std::lock_guard lock(m);
        return plugged;
    }
    void CancelStarts(bool cancel) override { cancelled.store(cancel); }
    void SetCameraNumber(int) override {}
    bool QueryUsbDriver(int& number) override
    {
        std::lock_guard lock(m);
        ++queries;
        number = 3;
        return driverSees;
    }
    unsigned char ReadLeds() override { return leds.load(); }
    int ReadConfiguration() override { return 9; }
    bool ReadCameraStatus(std::array<std::uint8_t, 5>& status) override
    {
        status = {1, 2, 3, 4, 5};
        return true;
    }

    void Plug(bool on)
    {
        std::lock_guard lock(m);
        plugged = on;
    }
    int Starts()
    {
        std::lock_guard lock(m);
        return starts;
    }
    int Stops()
    {
        std::lock_guard lock(m);
        return stops;
    }
    int Queries()
    {
        std::lock_guard lock(m);
        return queries;
    }

    std::mutex m;
    bool plugged = true;
    bool running = false;
    bool driverSees = false;
    int failStarts = 0;
    int unplugAfterStart = 0;  // the successful start after which the device goes
    bool flicker = false;      // every start finds the device, which goes right after
    int goodStarts = 0;
    int starts = 0;
    int stops = 0;
    int queries = 0;
    std::atomic<unsigned char> leds{0x11};
    std::atomic<bool> hangStarts{false};
    std::atomic<int> hungStarts{0};
    std::atomic<bool> cancelled{false};
};

class RecordingHost final : public ICameraThreadHost {
public:
    void PostNotifyPages(platform::UINT code) override
    {
        std::lock_guard lock(m);
        codes.push_back(code);
    }
    void PostUpdateStatus() override { ++updates; }
    void OnCameraStarted() override { ++applied; }
    void SetRecenterTimer() override { ++timers; }

    int Count(platform::UINT code)
    {
        std::lock_guard lock(m);
        int n = 0;
        for (auto c : codes)
            n += c == code ? 1 : 0;
        return n;
    }

    std::mutex m;
    std::vector<platform::UINT> codes;
    std::atomic<int> updates{0};
    std::atomic<int> applied{0};
    std::atomic<int> timers{0};
};

template <typename F>
bool Eventually(F f)
{
    for (int i = 0; i < 500; ++i) {
        if (f())
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return f();
}

CCameraThread::Options FastOptions()
{
    CCameraThread::Options o;
    o.viewsModule = "NoSuchViews.dll";
    o.retryMs = 5;
    o.waitSliceMs = 50;
    o.pollStepMs = 5;
    return o;
}

TEST(CameraThread, StartsRestartsAfterReplugAndRecentresOnlyOnce)
{
    ScriptedCamera camera;
    RecordingHost host;
    CCameraThread thread(camera, host, FastOptions());
    thread.Start();

    ASSERT_TRUE(Eventually([&] { return thread.CameraStarted() && host.Count(app::PN_DEVICE_STATE) >= 2; }));
    EXPECT_TRUE(thread.DevicePresent());
    EXPECT_FALSE(thread.Configuring());
    EXPECT_EQ(host.applied.load(), 1);
    EXPECT_EQ(host.timers.load(), 1);
    EXPECT_EQ(thread.HardwareRevision(), 9);
    EXPECT_TRUE(Eventually([&] { return thread.LastLedState() == 0x11; }));

    // Removal: the camera is stopped and the pages are told.
    camera.Plug(false);
    const int stopsBefore = camera.Stops();
    thread.Wake();
    ASSERT_TRUE(Eventually([&] { return !thread.DevicePresent(); }));
    EXPECT_TRUE(Eventually([&] { return !thread.CameraStarted() && camera.Stops() > stopsBefore; }));
    EXPECT_EQ(host.Count(app::PN_DEVICE_STATE), 3);

    // Arrival: restarted, options applied again, no second re-centre.
    camera.Plug(true);
    thread.Wake();
    ASSERT_TRUE(Eventually([&] { return thread.CameraStarted() && host.applied.load() == 2; }));
    EXPECT_TRUE(thread.DevicePresent());
    EXPECT_EQ(host.timers.load(), 1);

    thread.Stop();
    EXPECT_FALSE(thread.Running());
}

// Stopping the thread while a start waits on a camera that does not answer
// ends that start at once; a thread started again may start the camera.
TEST(CameraThread, StopCancelsAStartUnderWay)
{
    ScriptedCamera camera;
    camera.hangStarts = true;
    RecordingHost host;
    CCameraThread thread(camera, host, FastOptions());
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return camera.hungStarts.load() > 0; }));
    const auto begin = std::chrono::steady_clock::now();
    thread.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
    EXPECT_FALSE(thread.Running());

    camera.hangStarts = false;
    thread.Start();
    EXPECT_TRUE(Eventually([&] { return thread.CameraStarted(); }));
    thread.Stop();
}

TEST(CameraThread, DeviceLostJustAfterAStartStopsTheCameraForAFullRestart)
{
    // The device leaves the moment the pass's second start (the restart
    // step) ends; or every start finds it for a moment only, so that it was
    // absent before the start as well as after.
    for (const bool flicker : {false, true}) {
        SCOPED_TRACE(flicker ? "flickering device" : "device lost after the restart");
        ScriptedCamera camera;
        camera.unplugAfterStart = 2;
        camera.flicker = flicker;
        RecordingHost host;
        CCameraThread thread(camera, host, FastOptions());
        thread.Start();
        ASSERT_TRUE(Eventually([&] { return camera.Starts() >= 2 && !thread.DevicePresent(); }));
        EXPECT_TRUE(Eventually([&] { return !thread.CameraStarted() && camera.Stops() >= 1; }))
            << "a camera that went away is stopped, so that the next start sets it up again";

        {
            std::lock_guard lock(camera.m);
            camera.flicker = false;
        }
        camera.Plug(true);
        const int starts = camera.Starts();
        thread.Wake();
        EXPECT_TRUE(Eventually([&] { return thread.CameraStarted() && thread.DevicePresent(); }));
        EXPECT_GT(camera.Starts(), starts);
        thread.Stop();
    }
}

TEST(CameraThread, RetriesWhileTheDriverHasTheDeviceAndWaitsOtherwise)
{
    ScriptedCamera camera;
    camera.failStarts = 1000000;
    camera.driverSees = true;
    RecordingHost host;
    CCameraThread thread(camera, host, FastOptions());
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return camera.Queries() >= 5; }));
    EXPECT_TRUE(thread.Configuring());

    // Without the driver's device the thread waits for a wake.
    {
        std::lock_guard lock(camera.m);
        camera.driverSees = false;
    }
    ASSERT_TRUE(Eventually([&] { return !thread.Configuring(); }));
    const int queries = camera.Queries();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(camera.Queries(), queries);
    {
        std::lock_guard lock(camera.m);
        camera.failStarts = 0;
    }
    thread.Wake();
    EXPECT_TRUE(Eventually([&] { return thread.CameraStarted(); }));
    thread.Stop();
}

TEST(CameraThread, ServesReadRequestsAndToleratesMissingViews)
{
    ScriptedCamera camera;
    RecordingHost host;
    CCameraThread thread(camera, host, FastOptions());
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return thread.CameraStarted(); }));
    thread.SetViewsEnabled(true);
    EXPECT_FALSE(thread.ViewsLoaded());
    EXPECT_EQ(thread.GetViewsVersion(), 0u);

    const int before = host.Count(app::PN_CAMERA_STATUS);
    camera.leds = 0x22;
    thread.RequestRead(CCameraThread::kReadLeds | CCameraThread::kReadStatus);
    thread.Wake();
    ASSERT_TRUE(Eventually([&] { return host.Count(app::PN_CAMERA_STATUS) > before; }));
    EXPECT_TRUE(Eventually([&] { return thread.LastLedState() == 0x22; }));
    EXPECT_EQ(thread.CameraStatus(), (std::array<std::uint8_t, 5>{1, 2, 3, 4, 5}));

    // Power notices stop the camera; the thread starts it again after a
    // resume and applies its options, also when the first start fails.
    const int starts = camera.Starts();
    thread.Suspend();
    EXPECT_FALSE(camera.running);
    int options = host.applied.load();
    thread.Resume();
    EXPECT_TRUE(Eventually([&] {
        std::lock_guard lock(camera.m);
        return camera.running && thread.CameraStarted();
    }));
    EXPECT_EQ(camera.Starts(), starts + 1);
    EXPECT_TRUE(Eventually([&] { return host.applied.load() > options; })) << "its options are applied again";
    {
        std::lock_guard lock(camera.m);
        camera.failStarts = 1;
        camera.driverSees = true; // the device is back: the thread retries
    }
    options = host.applied.load();
    thread.Suspend();
    thread.Resume();
    EXPECT_TRUE(Eventually([&] {
        std::lock_guard lock(camera.m);
        return camera.running && thread.CameraStarted();
    }));
    EXPECT_EQ(camera.Starts(), starts + 3);
    EXPECT_TRUE(Eventually([&] { return host.applied.load() > options; }));
    {
        std::lock_guard lock(camera.m);
        camera.driverSees = false;
    }

    const auto t0 = std::chrono::steady_clock::now();
    thread.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_FALSE(thread.Running());
}

#ifdef TEST_VIEWS_MODULE
// The view library is loaded and started on the camera thread, stopped and
// freed before SetViewsEnabled(false) returns, and loaded afresh when views
// are enabled again; at shutdown it is stopped first.
TEST(CameraThread, LoadsStartsAndStopsTheViewLibrary)
{
    testing_support::TempDir dir{"camera-views"};
    const auto log = dir.file("views.log");
    setenv("ORVANE_TEST_VIEWS_LOG", log.c_str(), 1);
    auto read = [&] {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };

    ScriptedCamera camera;
    RecordingHost host;
    CCameraThread::Options o = FastOptions();
    o.viewsModule = TEST_VIEWS_MODULE;
    CCameraThread thread(camera, host, o);
    thread.Start();
    thread.SetViewsEnabled(true);
    ASSERT_TRUE(Eventually([&] { return thread.ViewsLoaded() && thread.GetViewsVersion() == 7u; }));
    EXPECT_EQ(read(), "start\n");

    thread.SetViewsEnabled(false);
    EXPECT_FALSE(thread.ViewsLoaded());
    EXPECT_EQ(thread.GetViewsVersion(), 0u);
    EXPECT_EQ(read(), "start\nstop\n");

    thread.SetViewsEnabled(true);
    ASSERT_TRUE(Eventually([&] { return thread.ViewsLoaded(); }));
    thread.Stop();
    EXPECT_FALSE(thread.ViewsLoaded());
    EXPECT_EQ(read(), "start\nstop\nstart\nstop\n");
    unsetenv("ORVANE_TEST_VIEWS_LOG");
}

// An installed view-library update (the "views" link in the working folder
// naming the folder of the pair) is what the thread loads by the library's
// name.
TEST(CameraThread, LoadsAnInstalledViewLibraryUpdate)
{
    namespace fs = std::filesystem;
    testing_support::TempDir dir{"camera-views-update"};
    fs::create_directory(dir.file("views.Ab12Cd"));
    fs::copy_file(fs::path(TEST_VIEWS_MODULE).replace_extension(".so"), dir.file("views.Ab12Cd/VSLViews.so"));
    fs::create_directory_symlink("views.Ab12Cd", dir.file("views"));
    ScriptedCamera camera;
    RecordingHost host;
    CCameraThread::Options o = FastOptions();
    o.viewsModule = "VSLViews.dll";
    o.workFolder = dir.path();
    CCameraThread thread(camera, host, o);
    thread.Start();
    thread.SetViewsEnabled(true);
    ASSERT_TRUE(Eventually([&] { return thread.ViewsLoaded() && thread.GetViewsVersion() == 7u; }));
    thread.Stop();
}
#endif

} // namespace
