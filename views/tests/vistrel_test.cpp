#include "views/vistrel.h"

#include "engine/VSLEnhanced.h"
#include "platform/messages.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"
#include "views/worker.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

class Link : public CVSLEnhanced {
public:
    using CVSLEnhanced::CVSLEnhanced;
    ~Link() override { Stop(); }
    std::int32_t OnProfileId(std::uint32_t id) override
    {
        profile = id;
        return 1; // accepted
    }
    std::atomic<std::uint32_t> profile{0};
};

class VistrelTest : public ::testing::Test {
protected:
    testing_support::TempSession session;
    testing_support::TempRegistry registry;

    void setLocation(const std::string& folder)
    {
        auto store = registry.store();
        ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey), 0);
        ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey, "Path",
                                   std::u16string(folder.begin(), folder.end())),
                  0);
    }
};

TEST_F(VistrelTest, ConnectsLikeAGameAndPollsThePose)
{
    setLocation(std::string(OVCLIENT_DIR) + "\\");
    Link link(registry.store());
    link.Start();
    ASSERT_TRUE(link.IsLibraryLoaded());

    platform::HWND window = platform::createWindow({"VSLViewsGame", "game", false},
                                                   [](platform::HWND, platform::UINT, platform::WPARAM,
                                                      platform::LPARAM) { return platform::LRESULT{0}; });
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(platform::isWindow(window));
    CVistrel vistrel;
    OVPosePacket record{};
    EXPECT_FALSE(vistrel.Poll(record));
    ASSERT_TRUE(vistrel.Connect(window, 4401));
    EXPECT_TRUE(vistrel.Connect(window, 4401)); // already connected
    EXPECT_EQ(link.profile.load(), 4401u);
    EXPECT_EQ(link.ClientWindow(), window);

    link.PublishPose(1, 2, 3, 4, 5, 6);
    link.PublishPose(1, 2, 3, 4, 5, 6);
    ASSERT_TRUE(vistrel.Poll(record));
    EXPECT_NE(record.frame, 0);
    EXPECT_FLOAT_EQ(record.value[0], 4); // roll
    EXPECT_FLOAT_EQ(record.value[3], 1); // x

    vistrel.Disconnect();
    EXPECT_FALSE(vistrel.connected());
    EXPECT_EQ(link.ClientWindow(), 0u);
    EXPECT_FALSE(vistrel.Poll(record));
    platform::destroyWindow(window);
    link.Stop();
}

TEST_F(VistrelTest, MissingOrUnterminatedLocationNeverConnects)
{
    CVistrel none;
    EXPECT_FALSE(none.Connect(1, 4401));
    setLocation(OVCLIENT_DIR); // no trailing separator: "...binOVCLient.dll"
    CVistrel vistrel;
    EXPECT_FALSE(vistrel.Connect(1, 4401));
    EXPECT_FALSE(vistrel.Connect(1, 4401));
    OVPosePacket record{};
    EXPECT_FALSE(vistrel.Poll(record));
}

TEST_F(VistrelTest, NoMainProgramFailsPartWayAndRetries)
{
    setLocation(std::string(OVCLIENT_DIR) + "/");
    CVistrel vistrel;
    EXPECT_FALSE(vistrel.Connect(1, 4401));
    EXPECT_FALSE(vistrel.Connect(1, 4401));
    Link link(registry.store());
    link.Start();
    platform::HWND window = platform::createWindow({"VSLViewsGame", "game", false},
                                                   [](platform::HWND, platform::UINT, platform::WPARAM,
                                                      platform::LPARAM) { return platform::LRESULT{0}; });
    EXPECT_TRUE(vistrel.Connect(window, 4401));
    vistrel.Disconnect();
    platform::destroyWindow(window);
    link.Stop();
}

} // namespace
