#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fake_client.h"
#include "mouse/emulator.h"
#include "testing/temp_registry.h"
#include "testing/test_clock.h"

using mouse_test::FakeClient;
using platform::MouseInput;
using vslmouse::MouseEmulator;

namespace {

class FakeForeground final : public vslmouse::ForegroundProbe {
public:
    std::uint64_t window = 1;
    std::vector<std::string> modules = {"game.exe", "libc.so.6", "DINPUT8.dll"};
    int moduleQueries = 0;

    std::uint64_t ForegroundWindow() override { return window; }
    std::vector<std::string> ModuleNames(std::uint64_t) override
    {
        ++moduleQueries;
        return modules;
    }
};

class RecordingView final : public vslmouse::EmulatorView {
public:
    std::vector<std::u16string> messages;
    std::vector<std::pair<float, float>> meters;
    void ShowMessage(std::u16string_view text) override { messages.emplace_back(text); }
    void UpdateMeters(float x, float y) override { meters.emplace_back(x, y); }
};

MouseInput Relative(int dx, int dy)
{
    return {dx, dy, 0, platform::MOUSEEVENTF_MOVE, 0, vslmouse::kExtraInfo};
}

class EmulatorTest : public ::testing::Test {
protected:
    testing_support::TempRegistry registry;
    testing_support::TestClock clock;
    FakeClient fake;
    vslmouse::ClientBinding client{FakeClient::functions()};
    platform::FakePointer pointer{1024, 768};
    FakeForeground foreground;
    RecordingView view;
    std::unique_ptr<MouseEmulator> emulator;

    void SetUp() override
    {
        FakeClient::current() = &fake;
        pointer.moveByHand(500, 400);
    }
    void TearDown() override
    {
        if (emulator)
            emulator->OnDestroy();
        FakeClient::current() = nullptr;
    }
    void setDword(const char* name, std::uint32_t v)
    {
        auto store = registry.store();
        ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, vslmouse::kSettingsKey), 0);
        ASSERT_EQ(store->setDword(platform::registry::Root::CurrentUser, vslmouse::kSettingsKey, name, v), 0);
    }
    // The dialog's start with the stored settings.
    int start()
    {
        emulator = std::make_unique<MouseEmulator>(client, pointer, foreground, clock, *registry.store(), view);
        emulator->LoadSettings();
        return emulator->OnInitDialog(77);
    }
    // One poll period of the clock, with the timers it fires.
    void step(long long ms = vslmouse::kPollMs)
    {
        clock.advanceMs(ms);
        emulator->RunTimers();
    }
    // A new frame and one poll.
    void frame(float yaw, float pitch = 0, float z = 0)
    {
        fake.setPose(static_cast<std::uint16_t>(fake.record.frame + 1), yaw, pitch, 0, 0, 0, z);
        step();
    }
};

TEST_F(EmulatorTest, StartConnectsRegistersAndStartsTheTimers)
{
    ASSERT_EQ(start(), 0);
    EXPECT_TRUE(emulator->Connected());
    EXPECT_EQ(fake.commands(), (std::vector<std::string>{"RegisterWindowHandle", "QueryVersion", "RequestData",
                                                         "RegisterProgramProfileID", "StartDataTransmission"}));
    EXPECT_EQ(fake.window, 77u);
    EXPECT_EQ(fake.flags, 119);
    EXPECT_EQ(fake.profile, 8501);
    EXPECT_EQ(emulator->Timers().Period(vslmouse::kPollTimer), 8u);
    EXPECT_EQ(emulator->Timers().Period(vslmouse::kMeterTimer), 33u);

    emulator->OnDestroy();
    EXPECT_EQ(fake.commands().back(), "UnregisterWindowHandle");
    EXPECT_EQ(fake.commands()[fake.commands().size() - 2], "StopDataTransmission");
    EXPECT_FALSE(emulator->Timers().TimeToNext().has_value());
}

TEST_F(EmulatorTest, FailedStartsTellTheUserAndEndWithTwo)
{
    struct Case {
        const char* name;
        std::int32_t FakeClient::*field;
        bool tornDown; // registered, so stopped and unregistered at the end
    };
    const Case cases[] = {
        {"window refused", &FakeClient::registerResult, false},
        {"profile refused", &FakeClient::profileResult, true},
        {"start refused", &FakeClient::startResult, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakeClient{};
        view.messages.clear();
        fake.*c.field = OV_PROFILE_REFUSED;
        EXPECT_EQ(start(), vslmouse::kInitFailedExitCode);
        EXPECT_EQ(view.messages, (std::vector<std::u16string>{u"Unabled to initialize Vistrel."}));
        EXPECT_FALSE(emulator->Timers().IsSet(vslmouse::kPollTimer));
        emulator->OnDestroy();
        const auto cmds = fake.commands();
        const bool stopped = std::find(cmds.begin(), cmds.end(), "StopDataTransmission") != cmds.end();
        const bool unregistered = std::find(cmds.begin(), cmds.end(), "UnregisterWindowHandle") != cmds.end();
        EXPECT_EQ(stopped, c.tornDown);
        EXPECT_EQ(unregistered, c.tornDown);
        emulator.reset();
    }
}

TEST_F(EmulatorTest, CursorStepsFromTheChosenAxes)
{
    struct Case {
        const char* name;
        int xAxis, yAxis, autoPanning, scaling;
        OVPosePacket last, next;
        int dx, dy;
    };
    auto pose = [](float yaw, float pitch, float z) {
        OVPosePacket p{};
        p.value[2] = yaw;
        p.value[1] = pitch;
        p.value[5] = z;
        return p;
    };
    const Case cases[] = {
        {"yaw down by 100", 0, 1, 0, 5, pose(1000, 0, 0), pose(900, 0, 0), 20, 0},
        {"pitch up, cursor down", 0, 1, 0, 5, pose(0, 0, 0), pose(0, 50, 0), 0, 10},
        {"z up, cursor up", 0, 5, 0, 5, pose(0, 0, 0), pose(0, 0, 50), 0, -10},
        {"truncated toward zero", 0, 1, 0, 5, pose(0, 0, 0), pose(14, -14, 0), -2, -2},
        {"auto-pan right of the threshold", 0, 1, 1, 5, pose(9000, 0, 0), pose(9000, 0, 0), -20, 0},
        {"auto-pan left of the threshold", 0, 1, 1, 5, pose(-9000, 0, 0), pose(-9000, 0, 0), 20, 0},
        {"at the threshold no pan", 0, 1, 1, 5, pose(8191, 0, 0), pose(8191, 0, 0), 0, 0},
        {"scaling 0 is taken as 5", 0, 1, 0, 0, pose(1000, 0, 0), pose(900, 0, 0), 20, 0},
        {"scaling 10", 0, 1, 0, 10, pose(1000, 0, 0), pose(900, 0, 0), 10, 0},
        {"pitch drives x", 1, 0, 0, 5, pose(0, 100, 0), pose(50, 0, 0), 20, -10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setDword("XAxis", c.xAxis);
        setDword("YAxis", c.yAxis);
        setDword("AutoPanning", c.autoPanning);
        setDword("Scaling", c.scaling);
        ASSERT_EQ(start(), 0);
        pointer.clearEvents();
        emulator->MoveCursor(c.last, c.next);
        EXPECT_EQ(pointer.events(), (std::vector<MouseInput>{Relative(c.dx, c.dy)}));
        emulator->OnDestroy();
    }
}

TEST_F(EmulatorTest, CorruptRecordsMoveNothingWild)
{
    ASSERT_EQ(start(), 0);
    OVPosePacket last{}, next{};
    next.value[2] = std::numeric_limits<float>::quiet_NaN();
    next.value[1] = 3e38f;
    emulator->MoveCursor(last, next);
    ASSERT_EQ(pointer.events().size(), 1u);
    EXPECT_EQ(pointer.events()[0].dx, 0);
    EXPECT_EQ(pointer.events()[0].dy, 32767); // no step beyond the whole range
}

TEST_F(EmulatorTest, PollSendsOnlyForNewFrames)
{
    setDword("AutoPanning", 1);
    ASSERT_EQ(start(), 0);
    fake.setPose(1, 9000);
    step();
    fake.setPose(2, 9000);
    step();
    EXPECT_EQ(pointer.events(), (std::vector<MouseInput>{Relative(-20, 0), Relative(-20, 0)}));

    // Same frame counter, a status word, a failing read: nothing.
    pointer.clearEvents();
    EXPECT_EQ(emulator->Poll(), vslmouse::kUnchangedFrame);
    fake.setPose(3, 0);
    fake.record.status = 1;
    EXPECT_EQ(emulator->Poll(), vslmouse::kUnchangedFrame);
    fake.record.status = 0;
    fake.getDataResult = OV_NO_SERVER;
    EXPECT_EQ(emulator->Poll(), OV_NO_SERVER);
    EXPECT_TRUE(pointer.events().empty());
    EXPECT_EQ(emulator->LastRecord().frame, 2);
    fake.getDataResult = 0;
    EXPECT_EQ(emulator->Poll(), 0);
    EXPECT_EQ(emulator->LastRecord().frame, 3);
}

TEST_F(EmulatorTest, CentreRequestJumpsToTheMiddleAndIsCleared)
{
    ASSERT_EQ(start(), 0);
    fake.parameter[2] = 1;
    fake.setPose(1, 4000);
    step();
    EXPECT_EQ(pointer.events(), (std::vector<MouseInput>{{0x7FFF, 0x7FFF, 0,
                                                          platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_ABSOLUTE,
                                                          0, vslmouse::kExtraInfo}}));
    EXPECT_EQ(fake.parameter[2], 0);
    EXPECT_EQ(pointer.cursorPos(), (platform::CursorPoint{511, 383}));
    EXPECT_EQ(emulator->LastRecord().frame, 1);
    // The jump was the program's own: the next frame moves on from there.
    pointer.clearEvents();
    frame(3900);
    EXPECT_EQ(pointer.events(), (std::vector<MouseInput>{Relative(20, 0)}));
    EXPECT_FALSE(emulator->Overriding());
}

TEST_F(EmulatorTest, HandMovesPauseForTheOverrideDelay)
{
    setDword("MouseOverrideDelay", 3);
    ASSERT_EQ(start(), 0);
    frame(-100); // dx 20
    ASSERT_EQ(pointer.events().size(), 1u);
    pointer.clearEvents();

    pointer.moveByHand(10, 10);
    frame(-200);
    EXPECT_TRUE(emulator->Overriding());
    EXPECT_EQ(emulator->Timers().Period(vslmouse::kOverrideTimer), 300u);
    // Frames keep coming; one more hand move 104 ms later restarts the pause.
    platform::Duration handMove{};
    for (int t = 8; t <= 800; t += 8) {
        if (t == 104) {
            pointer.moveByHand(20, 20);
            handMove = clock.now();
        }
        frame(-200);
        if (t >= 104 && clock.now() - handMove < std::chrono::milliseconds(300)) {
            ASSERT_TRUE(emulator->Overriding()) << t;
        }
        if (!emulator->Overriding())
            break;
    }
    EXPECT_FALSE(emulator->Overriding());
    EXPECT_LE(clock.now() - handMove, std::chrono::milliseconds(300 + 2 * vslmouse::kPollMs));
    EXPECT_TRUE(pointer.events().empty() || pointer.events() == std::vector<MouseInput>{Relative(0, 0)});
    pointer.clearEvents();
    frame(-300);
    EXPECT_EQ(pointer.events(), (std::vector<MouseInput>{Relative(20, 0)}));
}

TEST_F(EmulatorTest, ForegroundGate)
{
    ASSERT_EQ(start(), 0);
    frame(-100);
    EXPECT_EQ(pointer.events().size(), 1u);
    const int queries = foreground.moduleQueries;
    frame(-200);
    EXPECT_EQ(foreground.moduleQueries, queries); // cached for the same window

    // Another window whose process has no DirectInput module.
    foreground.window = 2;
    foreground.modules = {"editor", "libc.so.6", "din.so"};
    pointer.clearEvents();
    frame(-300);
    frame(-400);
    EXPECT_TRUE(pointer.events().empty());
    EXPECT_EQ(foreground.moduleQueries, queries + 2); // a false result is asked again

    // The emulator itself in front.
    foreground.modules = {"vslmouse", "libQt6Widgets.so.6"};
    frame(-500);
    EXPECT_EQ(pointer.events().size(), 1u);
    EXPECT_TRUE(emulator->IsDirectInputForeground());
}

TEST_F(EmulatorTest, HiddenModeSendsWhateverIsInFront)
{
    setDword("MovementType", 47219386);
    foreground.modules = {"editor"};
    ASSERT_EQ(start(), 0);
    frame(-100);
    EXPECT_EQ(pointer.events(), (std::vector<MouseInput>{Relative(20, 0)}));

    emulator->OnDestroy();
    setDword("MovementType", 47219387);
    ASSERT_EQ(start(), 0);
    pointer.clearEvents();
    frame(-200);
    EXPECT_TRUE(pointer.events().empty());
}

TEST_F(EmulatorTest, MetersShowTheLastRecordEvery33ms)
{
    setDword("YAxis", 5);
    ASSERT_EQ(start(), 0);
    fake.setPose(1, 123, 0, 0, 0, 0, -45);
    step(8);
    EXPECT_TRUE(view.meters.empty());
    for (int i = 0; i < 4; ++i)
        step(8);
    ASSERT_EQ(view.meters.size(), 1u);
    EXPECT_EQ(view.meters[0], (std::pair<float, float>{123, -45}));
}

TEST(ModuleListTest, DirectInputAndTheEmulator)
{
    using V = std::vector<std::string>;
    EXPECT_TRUE(vslmouse::IsDirectInputModuleList(V{"game.exe", "DInput8.DLL"}));
    EXPECT_TRUE(vslmouse::IsDirectInputModuleList(V{"dinput.exe"}));
    EXPECT_TRUE(vslmouse::IsDirectInputModuleList(V{"VSLMOUSE.EXE", "libc.so.6"}));
    EXPECT_TRUE(vslmouse::IsDirectInputModuleList(V{"vslmouse"}));
    EXPECT_FALSE(vslmouse::IsDirectInputModuleList(V{"game.exe", "din", "", "xdinput.so"}));
    EXPECT_FALSE(vslmouse::IsDirectInputModuleList(V{}));
    EXPECT_FALSE(vslmouse::IsDirectInputModuleList(V{"libvslmouse.so"}));
}

TEST(SystemForegroundTest, ModulesOfTheWindowsProcess)
{
    platform::FakeWindowFocus focus;
    platform::FakeProcessSystem processes;
    auto game = processes.add(4242, "game.exe");
    game->map(0x400000, 4096, "/opt/game/game.exe");
    game->map(0x500000, 4096);
    game->map(0x600000, 4096, "/opt/game/dinput8.dll");
    game->map(0x601000, 4096, "/opt/game/dinput8.dll");
    game->map(0x700000, 4096, "[heap]");
    vslmouse::SystemForeground foreground(focus, processes);

    EXPECT_EQ(foreground.ForegroundWindow(), 0u);
    EXPECT_TRUE(foreground.ModuleNames(0).empty());
    focus.setForeground(0x1200007, 4242);
    EXPECT_EQ(foreground.ForegroundWindow(), 0x1200007u);
    EXPECT_EQ(foreground.ModuleNames(0x1200007),
              (std::vector<std::string>{"game.exe", "game.exe", "dinput8.dll"}));
    focus.setForeground(0x1200008, 999); // a process that is not there
    EXPECT_TRUE(foreground.ModuleNames(0x1200008).empty());
}

TEST(TextsTest, LabelsAboutAndMeters)
{
    EXPECT_EQ(vslmouse::DelayText(0), u"0.0 seconds");
    EXPECT_EQ(vslmouse::DelayText(7), u"0.7 seconds");
    EXPECT_EQ(vslmouse::DelayText(10), u"1.0 seconds");
    EXPECT_EQ(vslmouse::ThresholdText(95), u"95");
    EXPECT_EQ(vslmouse::AboutText(), u"Vistrel Mouse Emulation Version 4.1  Build 37");

    auto m = vslmouse::LayoutMeter(0, 200, false, 50);
    EXPECT_EQ(m.centre, 100);
    EXPECT_EQ(m.marker, 100);
    EXPECT_FALSE(m.zones);
    EXPECT_EQ(vslmouse::LayoutMeter(16383, 200, false, 50).marker, 199);
    EXPECT_EQ(vslmouse::LayoutMeter(-16383, 200, false, 50).marker, 0);
    EXPECT_EQ(vslmouse::LayoutMeter(8191.5f, 200, false, 50).marker, 150);
    EXPECT_EQ(vslmouse::LayoutMeter(1e30f, 200, false, 50).marker, 199);
    m = vslmouse::LayoutMeter(0, 200, true, 50);
    EXPECT_TRUE(m.zones);
    EXPECT_EQ(m.leftZoneEnd, 50);
    EXPECT_EQ(m.rightZoneStart, 150);
    EXPECT_EQ(vslmouse::LayoutMeter(5, 0, true, 50).marker, 0);
}

} // namespace
