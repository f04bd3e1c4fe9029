// Camera systems over the own driver: the device walk, starting a system
// that was never found, and stopping everything at the end.
#include "camera/camera_collection.h"

#include "system_fixture.h"
#include "testing/test_clock.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

using Orvane::CameraCollection;
using Orvane::CameraSystemFacade;
using testing_support::FakeSystemCamera;

namespace {

struct IdleHandle final : platform::usb::OwnDriverHandle {
    bool read(std::uint32_t, std::span<std::uint8_t>, std::uint32_t&) override { return false; }
    bool write(std::span<const std::uint8_t>, std::uint32_t&) override { return false; }
    void cancel() override {}
    void close() override {}
};

struct Devices final : platform::usb::OwnDriver {
    std::shared_ptr<platform::usb::OwnDriverHandle> open(int index) override
    {
        ++opens;
        return present.count(index) ? std::make_shared<IdleHandle>() : nullptr;
    }
    std::set<int> present;
    int opens = 0;
};

struct Fixture : ::testing::Test {
    std::unique_ptr<CameraSystemFacade> Make(int n)
    {
        made.push_back(n);
        if (failing.count(n))
            throw std::runtime_error("no configuration");
        return std::make_unique<CameraSystemFacade>(
            n, [](Orvane::CameraSystem&) { return std::make_unique<FakeSystemCamera>(); },
            CameraSystemFacade::Options{.stopPauseMs = 0, .managedCameraCount = {}, .clock = &clock});
    }
    Devices devices;
    testing_support::TestClock clock;
    std::set<int> failing;
    std::vector<int> made;
};

TEST_F(Fixture, QueryWalksUntilTheFirstMissingDevice)
{
    devices.present = {0, 1, 2, 4};
    failing = {1};
    CameraCollection c(devices, [this](int n) { return Make(n); }, clock);
    const auto before = clock.now();
    EXPECT_EQ(c.QueryDevices(), 3);
    EXPECT_EQ(c.NumberOfDevices(), 3);
    EXPECT_EQ(clock.now() - before, std::chrono::milliseconds(90));
    EXPECT_NE(c.Get(0), nullptr);
    EXPECT_EQ(c.Get(1), nullptr);  // its configuration read failed
    EXPECT_NE(c.Get(2), nullptr);
    EXPECT_EQ(c.Get(4), nullptr);
    // Again: listed systems are kept, the failed one is tried again.
    failing.clear();
    made.clear();
    EXPECT_EQ(c.QueryDevices(), 3);
    EXPECT_EQ(made, (std::vector<int>{1}));
    EXPECT_TRUE(c.Start(2));
    EXPECT_FALSE(c.Get(2)->IsStopped());
    EXPECT_FALSE(c.Start(7));
    EXPECT_TRUE(c.Stop(2));
    EXPECT_FALSE(c.Stop(7));
    EXPECT_TRUE(c.Get(2)->IsStopped());
}

TEST_F(Fixture, StartWithNoDevicesMakesSystemZero)
{
    CameraCollection c(devices, [this](int n) { return Make(n); }, clock);
    EXPECT_TRUE(c.Start(5));
    ASSERT_NE(c.Get(5), nullptr);
    EXPECT_EQ(c.Get(5)->GetCameraNumber(), 0);
    EXPECT_FALSE(c.Get(5)->IsStopped());
    EXPECT_EQ(c.AddCamera(9, Make(9)), 0);
    c.Start();
    EXPECT_FALSE(c.Get(9)->IsStopped());
    c.Stop();
    EXPECT_TRUE(c.Get(9)->IsStopped());
    c.Start();
    c.ClearCameraCollection();  // stops what runs
    EXPECT_EQ(c.Get(5), nullptr);
}

TEST_F(Fixture, WalkEndsAtTheGenericDriversNumbers)
{
    for (int i = 0; i < 1100; ++i)
        devices.present.insert(i);
    CameraCollection c(devices, [](int) { return nullptr; }, clock);
    EXPECT_EQ(c.QueryDevices(), 1024);
}

} // namespace
