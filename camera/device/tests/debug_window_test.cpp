// The camera's hidden debug window: made on a thread of its own at
// construction, answering on that thread, and gone (thread joined) when the
// camera goes or the window is closed.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "camera_fixture.h"
#include "platform/messages.h"
#include "simcam/hub.h"
#include "testing/temp_session.h"

namespace {

using camera_test::eventually;

TEST(CameraDebugWindow, LivesOnItsOwnThreadAndGoesWithTheCamera)
{
    testing_support::TempSession session;
    simcam::Hub hub;
    auto camera = std::make_unique<Orvane::Camera>(hub, 0);
    ASSERT_TRUE(eventually([&] { return camera->GetWindow() != 0; }));
    const platform::HWND window = camera->GetWindow();
    EXPECT_TRUE(platform::isWindow(window));
    EXPECT_EQ(platform::windowTitle(window), Orvane::Camera::DebugWindowTitle);
    // Hidden: not among the windows others find by class.
    EXPECT_EQ(platform::findWindow(Orvane::Camera::DebugWindowClass, nullptr), 0u);

    // Its procedure runs on the window's thread, not the caller's.
    for (platform::UINT message : {platform::UINT{0x000F}, platform::WM_USER + 1})
        EXPECT_EQ(platform::sendMessage(window, message, 0, 0, std::chrono::milliseconds(2000)), platform::LRESULT{0});

    EXPECT_FALSE(camera->IsShown());
    camera->ShowIt(true);
    EXPECT_TRUE(camera->IsShown());
    camera->ShowIt(false);
    EXPECT_FALSE(camera->IsShown());

    const auto before = std::chrono::steady_clock::now();
    camera.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_FALSE(platform::isWindow(window));
}

TEST(CameraDebugWindow, ClosedFromOutsideEndsItsThread)
{
    testing_support::TempSession session;
    simcam::Hub hub;
    Orvane::Camera camera(hub, 0);
    ASSERT_TRUE(eventually([&] { return camera.GetWindow() != 0; }));
    const platform::HWND window = camera.GetWindow();
    ASSERT_TRUE(platform::postMessage(window, platform::WM_CLOSE, 0, 0));
    EXPECT_TRUE(eventually([&] { return camera.GetWindow() == 0; }));
    EXPECT_FALSE(platform::isWindow(window));
    camera.DoShow();  // once per camera: no second window
    EXPECT_EQ(camera.GetWindow(), 0u);
}

TEST(CameraDebugWindow, EveryCameraHasItsOwn)
{
    testing_support::TempSession session;
    simcam::Hub hub;
    std::vector<std::unique_ptr<Orvane::Camera>> cameras;
    for (int i = 0; i < 6; ++i)
        cameras.push_back(std::make_unique<Orvane::Camera>(hub, i));
    std::vector<platform::HWND> windows;
    for (auto& c : cameras) {
        ASSERT_TRUE(eventually([&] { return c->GetWindow() != 0; }));
        windows.push_back(c->GetWindow());
    }
    for (std::size_t i = 1; i < windows.size(); ++i)
        EXPECT_NE(windows[i], windows[i - 1]);
    // Destroyed out of their order of making.
    cameras.erase(cameras.begin() + 2);
    EXPECT_FALSE(platform::isWindow(windows[2]));
    EXPECT_TRUE(platform::isWindow(windows[3]));
    cameras.clear();
    for (platform::HWND w : windows)
        EXPECT_FALSE(platform::isWindow(w));
}

} // namespace
