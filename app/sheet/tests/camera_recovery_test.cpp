// The camera comes back by itself, as the program runs it: the main sheet's
// camera thread over the simulated camera streaming a scene, with the
// device notices reaching the sheet the way the main frame passes them on.
// Failed reads and unplugs (also one right after a start) end with the
// engine counting frames again, without anyone telling the sheet.
#include "sheet_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace sheet_test;

using CameraRecoveryTest = StreamingSheetTest;

TEST_F(CameraRecoveryTest, TrackingResumesAfterFailedImageReadsOfAnyLength)
{
    for (int n : {1, 3, 4, 9, 20}) {
        SCOPED_TRACE(n);
        device->failReads(n, simcam::Path::Image);
        EXPECT_TRUE(Tracking());
    }
}

TEST_F(CameraRecoveryTest, CameraAnswersAgainAfterFailedReplyReads)
{
    Orvane::Camera* camera = sheet->CameraSystem().GetCamera().GetDevice();
    ASSERT_NE(camera, nullptr);
    unsigned v = 0;
    ASSERT_TRUE(camera->FPGARegRead(32, &v));
    device->failReads(6, simcam::Path::Reply);
    // Each try waits for its answer (or the watchdog): bounded by time, not tries.
    const auto until = std::chrono::steady_clock::now() + 10s;
    bool answered = false;
    while (!answered && std::chrono::steady_clock::now() < until) {
        Pump();
        answered = camera->FPGARegRead(32, &v);
    }
    EXPECT_TRUE(answered);
    EXPECT_TRUE(Tracking());
}

TEST_F(CameraRecoveryTest, UnplugRightAfterAStartComesBackWithTheNextNotices)
{
    for (int i = 0; i < 25; ++i) {
        SCOPED_TRACE(i);
        hub.unplugGeneric(devicePath);
        ASSERT_TRUE(Eventually([&] { return !sheet->CameraThread().DevicePresent(); }));
        hub.replugGeneric(devicePath);
        // Pulled out again the moment the camera thread has started it, while
        // it may still be finishing that pass.
        ASSERT_TRUE(Eventually([&] { return sheet->CameraThread().CameraStarted(); }));
        hub.unplugGeneric(devicePath);
        ASSERT_TRUE(Eventually([&] { return !sheet->CameraThread().DevicePresent(); }));
        hub.replugGeneric(devicePath);
        ASSERT_TRUE(Tracking());
    }
}

} // namespace
