// The emulator against the real client library and the engine's publisher,
// both in this process: the library is found through a test registry.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/VSLEnhanced.h"
#include "mouse/emulator.h"
#include "platform/messages.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"
#include "testing/test_clock.h"

using namespace std::chrono_literals;

namespace {

class AnyForeground final : public vslmouse::ForegroundProbe {
public:
    std::uint64_t ForegroundWindow() override { return 1; }
    std::vector<std::string> ModuleNames(std::uint64_t) override { return {"game", "dinput8.dll"}; }
};

class MessageView final : public vslmouse::EmulatorView {
public:
    std::vector<std::u16string> messages;
    void ShowMessage(std::u16string_view text) override { messages.emplace_back(text); }
    void UpdateMeters(float, float) override {}
};

class ClientLinkTest : public ::testing::Test {
protected:
    testing_support::TempSession session;
    testing_support::TempRegistry registry;
    testing_support::TestClock clock;
    vslmouse::ClientBinding client;
    platform::FakePointer pointer{1024, 768};
    AnyForeground foreground;
    MessageView view;

    void setLocation(const std::string& folder)
    {
        auto store = registry.store();
        ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, vslmouse::kLocationKey), 0);
        ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, vslmouse::kLocationKey,
                                   vslmouse::kLocationValue, std::u16string(folder.begin(), folder.end()) + u"\\"),
                  0);
    }
    // Polls until a move arrives (the record crosses the library's section).
    bool pollUntilMoved(vslmouse::MouseEmulator& emulator, std::size_t count)
    {
        for (int i = 0; i < 200 && pointer.events().size() < count; ++i) {
            clock.advanceMs(vslmouse::kPollMs);
            emulator.RunTimers();
        }
        return pointer.events().size() >= count;
    }
};

TEST_F(ClientLinkTest, FollowsThePublishedPose)
{
    setLocation(OVCLIENT_DIR);
    CVSLEnhanced link(registry.store());
    link.Start();
    ASSERT_TRUE(link.IsLibraryLoaded());

    const platform::HWND window = platform::createWindow({"VSLMouseDialog", "Vistrel Mouse Emulation", true},
                                                         [](platform::HWND, platform::UINT, platform::WPARAM,
                                                            platform::LPARAM) { return platform::LRESULT{0}; });
    ASSERT_NE(window, 0u);
    vslmouse::MouseEmulator emulator(client, pointer, foreground, clock, *registry.store(), view);
    emulator.LoadSettings();
    ASSERT_EQ(emulator.OnInitDialog(window), 0);
    EXPECT_TRUE(client.IsLoaded());
    EXPECT_EQ(link.ClientWindow(), window);
    EXPECT_EQ(link.ProfileId(), 8501u);
    EXPECT_EQ(link.RequestFlags(), 119u);
    EXPECT_EQ(link.Transmitting(), 1);

    // Yaw drives x, pitch drives y (down for a rising pitch).
    link.PublishPose(0, 0, 0, 0, 0, 0);
    ASSERT_TRUE(pollUntilMoved(emulator, 1));
    pointer.clearEvents();
    link.PublishPose(0, 0, 0, 0, 50, -100);
    ASSERT_TRUE(pollUntilMoved(emulator, 1));
    ASSERT_EQ(pointer.events().size(), 1u);
    EXPECT_EQ(pointer.events()[0].dx, 20);
    EXPECT_EQ(pointer.events()[0].dy, 10);

    // The engine's centre request.
    pointer.clearEvents();
    link.SetClientParameter(2, 1);
    link.PublishPose(0, 0, 0, 0, 50, -100);
    ASSERT_TRUE(pollUntilMoved(emulator, 1));
    EXPECT_EQ(pointer.events()[0].flags, platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_ABSOLUTE);
    std::int32_t centre = -1;
    EXPECT_EQ(client.GetParameter(2, &centre), 0);
    EXPECT_EQ(centre, 0);

    emulator.OnDestroy();
    EXPECT_EQ(link.ClientWindow(), 0u);
    EXPECT_EQ(link.Transmitting(), 0);
    platform::destroyWindow(window);
    link.Stop();
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(ClientLinkTest, MissingLocationOrLibrary)
{
    vslmouse::MouseEmulator emulator(client, pointer, foreground, clock, *registry.store(), view);
    emulator.LoadSettings();
    EXPECT_EQ(emulator.OnInitDialog(5), vslmouse::kInitFailedExitCode);
    EXPECT_EQ(view.messages,
              (std::vector<std::u16string>{u"DLL Location key not present.", u"Unabled to initialize Vistrel."}));
    EXPECT_FALSE(emulator.Connected());
    // Unbound: every wrapper answers 4.
    OVPosePacket p{};
    std::uint16_t v = 0;
    std::int32_t n = 0;
    EXPECT_EQ(client.GetData(&p), 4);
    EXPECT_EQ(client.QueryVersion(&v), 4);
    EXPECT_EQ(client.GetParameter(0, &n), 4);
    EXPECT_EQ(client.SetParameter(2, 0), 4);
    EXPECT_EQ(client.RegisterWindowHandle(1), 4);
    EXPECT_EQ(client.UnregisterWindowHandle(), 4);
    EXPECT_EQ(client.RegisterProgramProfileID(1), 4);
    EXPECT_EQ(client.RequestData(1), 4);
    EXPECT_EQ(client.StartCursor(), 4);
    EXPECT_EQ(client.StopCursor(), 4);
    EXPECT_EQ(client.ReCenter(), 4);
    EXPECT_EQ(client.StartDataTransmission(), 4);
    EXPECT_EQ(client.StopDataTransmission(), 4);
    emulator.OnDestroy();

    // The key without its value; then a folder without the library.
    view.messages.clear();
    auto store = registry.store();
    ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, vslmouse::kLocationKey), 0);
    EXPECT_EQ(vslmouse::GetClientFolder(*store, [&](std::u16string_view t) { view.messages.emplace_back(t); }),
              "Error");
    EXPECT_EQ(view.messages, (std::vector<std::u16string>{u"Error reading location key!"}));
    view.messages.clear();
    setLocation("/nonexistent-folder");
    EXPECT_EQ(client.BindClient(*store, [&](std::u16string_view t) { view.messages.emplace_back(t); }), 4);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(vslmouse::ClientLibraryPath(""), "OVClient.dll");
    EXPECT_EQ(vslmouse::ClientLibraryPath("/opt/x"), "/opt/x\\OVClient.dll");
}

TEST_F(ClientLinkTest, MainProgramNotRunning)
{
    setLocation(OVCLIENT_DIR);
    vslmouse::MouseEmulator emulator(client, pointer, foreground, clock, *registry.store(), view);
    emulator.LoadSettings();
    EXPECT_EQ(emulator.OnInitDialog(5), vslmouse::kInitFailedExitCode);
    EXPECT_TRUE(client.IsLoaded());
    EXPECT_EQ(view.messages, (std::vector<std::u16string>{u"Unabled to initialize Vistrel."}));
    emulator.OnDestroy();
}

TEST(ClientBindingTest, PartlyBoundFunctionsAnswerFourForTheRest)
{
    vslmouse::ClientFunctions f;
    f.reCenter = [] { return std::int32_t{0}; };
    vslmouse::ClientBinding client(f);
    EXPECT_EQ(client.ReCenter(), 4); // nothing bound before BindClient
    testing_support::TempRegistry registry;
    EXPECT_EQ(client.BindClient(*registry.store(), {}), 0);
    EXPECT_EQ(client.ReCenter(), 0);
    EXPECT_EQ(client.StartCursor(), 4);
    client.Unbind();
    EXPECT_EQ(client.ReCenter(), 4);
}

} // namespace
