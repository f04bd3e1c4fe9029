// The action map over fake devices: binding, dispatch, capture, refresh and
// the poll thread on a stepped clock.
#include "input/ActionMap.h"

#include "testing/post_log.h"
#include "step_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using testing_support::Post;
using platform::devices::DeviceInstance;
using platform::devices::FakeButtonSource;
namespace dev = platform::devices;

constexpr platform::HWND kOwner = 0x20001;
constexpr platform::HWND kDialog = 0x20002;
constexpr platform::UINT kCaptured = 0x8400;

const Guid kPadA{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const Guid kPadB{0x44444444, 0x5555, 0x6666, {8, 7, 6, 5, 4, 3, 2, 1}};

DeviceInstance instanceOf(const Guid& g, std::uint32_t type, std::string name = "pad")
{
    return {DeviceIdFromGuid(g), DeviceIdFromGuid(g), type, std::move(name)};
}

CKeyInfo deviceKey(const Guid& device, std::uint32_t button, int enable = 1)
{
    CKeyInfo k;
    k.Device = device;
    k.Code = button;
    k.Enable = enable;
    return k;
}

class ActionMapTest : public ::testing::Test {
protected:
    ActionMapTest()
    {
        auto src = std::make_unique<FakeButtonSource>();
        source = src.get();
        padA = source->attach(instanceOf(kPadA, dev::kTypeGamepad), 16);
        padB = source->attach(instanceOf(kPadB, dev::kTypeJoystick), 16);
        mouse = source->attach({dev::kSystemMouseId, dev::kSystemMouseId, dev::kTypeMouse, "Mouse"}, 3);
        keyboard = source->attach(instanceOf(GUID_SysKeyboard, dev::kTypeKeyboard), 0);
        control = source->attach(instanceOf(kPadB, dev::kTypeDeviceCtrl), 0);
        map = std::make_unique<CActionMap>(std::move(src), log.poster());
        EXPECT_EQ(map->Create(kOwner), 0);
        map->Poll();  // baseline
    }

    void press(std::size_t device, int button, bool down)
    {
        source->setButton(device, button, down);
    }

    testing_support::PostLog log;
    FakeButtonSource* source = nullptr;
    std::size_t padA = 0, padB = 0, mouse = 0, keyboard = 0, control = 0;
    std::unique_ptr<CActionMap> map;
};

TEST(DeviceIds, GuidByteOrderMatchesTheSystemMouse)
{
    EXPECT_EQ(GuidFromDeviceId(dev::kSystemMouseId), GUID_SysMouse);
    EXPECT_EQ(DeviceIdFromGuid(GUID_SysMouse), dev::kSystemMouseId);
    EXPECT_EQ(GuidFromDeviceId(DeviceIdFromGuid(kPadA)), kPadA);
}

TEST_F(ActionMapTest, KeyboardsAndDeviceControlsAreNotListed)
{
    CInputDevice* array = nullptr;
    int count = 0;
    CInputDevices devices(std::make_unique<FakeButtonSource>());
    EXPECT_EQ(devices.GetDevices(nullptr, &count), kInputInvalidArg);
    EXPECT_EQ(devices.GetDevices(&array, nullptr), kInputInvalidArg);
    map->WithDevices([&](const std::vector<CInputDevice>& list) {
        ASSERT_EQ(list.size(), 3u);
        EXPECT_EQ(list[0].instance, kPadA);
        EXPECT_EQ(list[1].instance, kPadB);
        EXPECT_EQ(list[2].instance, GUID_SysMouse);
        EXPECT_EQ(list[0].name, u"pad");
        for (const auto& d : list) {
            EXPECT_EQ(d.enumerated, 1u);
            EXPECT_EQ(d.secondFlag, 0u);
            EXPECT_EQ(d.bindings, 0u);
        }
    });
}

TEST_F(ActionMapTest, PressAndReleaseReachTheOwnerAsActions)
{
    CHotKeys keys;
    keys.SetAtGrow(0, deviceKey(kPadA, 3));
    keys.SetAtGrow(1, deviceKey(GUID_SysMouse, 0, /*enable*/ 0));  // Enable is not looked at
    CKeyInfo keyboardKey;
    keyboardKey.Code = 0x7B;
    keyboardKey.Enable = 1;
    keys.SetAtGrow(2, keyboardKey);  // the keyboard detector's
    map->AddHotKeys(keys, WM_HOTKEY_ACTION);
    ASSERT_EQ(map->Bindings().size(), 2u);

    press(padA, 3, true);
    press(mouse, 0, true);
    EXPECT_EQ(map->Poll(), 0);
    press(padA, 3, false);
    EXPECT_EQ(map->Poll(), 0);
    const std::vector<Post> expected{{kOwner, WM_HOTKEY_ACTION, 0x100, 0},
                                     {kOwner, WM_HOTKEY_ACTION, 0x100, 1},
                                     {kOwner, WM_HOTKEY_ACTION, 0x101, 0}};
    EXPECT_EQ(log.take(), expected);

    press(padB, 3, true);  // the same button on another device
    map->Poll();
    EXPECT_TRUE(log.take().empty());
}

TEST_F(ActionMapTest, ShortHotKeySetAndTwoActionsOnOneButton)
{
    CHotKeys keys;
    keys.RemoveAll();
    keys.SetAtGrow(0, deviceKey(kPadA, 5));
    map->AddHotKeys(keys, WM_HOTKEY_ACTION);
    map->AddBinding({2, kPadA, 5, 0, 0x8131});
    const auto bindings = map->Bindings();
    ASSERT_EQ(bindings.size(), 2u);
    press(padA, 5, true);
    map->Poll();
    const std::vector<Post> expected{{kOwner, WM_HOTKEY_ACTION, 0x100, 0}, {kOwner, 0x8131, 0x100, 2}};
    EXPECT_EQ(log.take(), expected);
}

TEST_F(ActionMapTest, RebindingReplacesInPlaceAndFollowsTheDevice)
{
    map->AddBinding({1, kPadA, 2, 0, WM_HOTKEY_ACTION});
    map->AddBinding({0, kPadA, 4, 0, WM_HOTKEY_ACTION});
    map->AddBinding({1, kPadA, 7, 0, WM_HOTKEY_ACTION});
    auto bindings = map->Bindings();
    ASSERT_EQ(bindings.size(), 2u);
    EXPECT_EQ(bindings[0].action, 1);
    EXPECT_EQ(bindings[0].button, 7);
    map->WithDevices([](const std::vector<CInputDevice>& list) { EXPECT_EQ(list[0].bindings, 2u); });

    // Moving the Pause binding to the other pad: that pad is now dispatched.
    map->AddBinding({1, kPadB, 7, 0, WM_HOTKEY_ACTION});
    map->WithDevices([](const std::vector<CInputDevice>& list) {
        EXPECT_EQ(list[0].bindings, 1u);
        EXPECT_EQ(list[1].bindings, 1u);
    });
    press(padB, 7, true);
    map->Poll();
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x100, 1}}));

    CActionMapEntry probe;
    probe.device = kPadB;
    probe.button = 7;
    EXPECT_EQ(map->FindEntry(probe), 1);
    EXPECT_EQ(probe.action, 1);
    probe.button = 2;
    probe.action = -1;
    EXPECT_EQ(map->FindEntry(probe), 0);
    EXPECT_EQ(probe.action, -1);

    EXPECT_EQ(map->ClearBindings(), 0);
    EXPECT_TRUE(map->Bindings().empty());
    map->WithDevices([](const std::vector<CInputDevice>& list) {
        for (const auto& d : list) EXPECT_EQ(d.bindings, 0u);
    });
}

TEST_F(ActionMapTest, AnEndedCaptureLetsTheNextPressThrough)
{
    map->AddBinding({2, GUID_SysMouse, 1, 0, WM_HOTKEY_ACTION});
    map->BeginCapture(kDialog, kCaptured);
    map->EndCapture();
    EXPECT_FALSE(map->Capturing());
    press(mouse, 1, true);
    map->Poll();
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x100, 2}}));
}

TEST_F(ActionMapTest, SystemKeyboardFlagFollowsTheDevice)
{
    map->AddBinding({0, GUID_SysKeyboard, 0x58, 0, WM_HOTKEY_ACTION});
    map->AddBinding({1, kPadA, 1, 1, WM_HOTKEY_ACTION});
    const auto bindings = map->Bindings();
    EXPECT_EQ(bindings[0].systemKeyboard, 1);
    EXPECT_EQ(bindings[1].systemKeyboard, 0);
}

TEST_F(ActionMapTest, CaptureTakesThePressAndLetsTheReleaseThrough)
{
    map->AddBinding({2, GUID_SysMouse, 1, 0, WM_HOTKEY_ACTION});
    map->BeginCapture(kDialog, kCaptured);
    EXPECT_TRUE(map->Capturing());
    EXPECT_EQ(map->GetCapturedEntry(), CActionMapEntry{});
    press(mouse, 1, true);
    map->Poll();
    EXPECT_EQ(log.take(), (std::vector<Post>{{kDialog, kCaptured, 0, 0}}));
    EXPECT_FALSE(map->Capturing());
    const CActionMapEntry captured = map->GetCapturedEntry();
    EXPECT_EQ(captured.action, -1);
    EXPECT_EQ(captured.device, GUID_SysMouse);
    EXPECT_EQ(captured.button, 1);
    EXPECT_EQ(captured.systemKeyboard, 0);

    press(mouse, 1, false);
    map->Poll();
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x101, 2}}));
}

TEST_F(ActionMapTest, UnboundDevicesAreDrainedAndFailedReadsReported)
{
    map->AddBinding({0, kPadB, 0, 0, WM_HOTKEY_ACTION});
    const int before = source->reads(padA);
    press(padA, 0, true);
    map->Poll();
    map->Poll();
    EXPECT_EQ(source->reads(padA), before + 2);
    EXPECT_GE(source->acquires(padA), 2);
    EXPECT_TRUE(log.take().empty());

    source->failReads(padA, dev::kErrorInputLost);
    press(padB, 0, true);
    EXPECT_EQ(map->Poll(), dev::kErrorInputLost);
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x100, 0}}));
    source->failReads(padA, dev::kOk);
    EXPECT_EQ(map->Poll(), 0);
}

TEST_F(ActionMapTest, RefreshFindsNewDevicesAndRecounts)
{
    const Guid padC{0x77777777, 1, 2, {3, 3, 3, 3, 3, 3, 3, 3}};
    map->AddBinding({0, padC, 2, 0, WM_HOTKEY_ACTION});
    const auto c = source->attach(instanceOf(padC, dev::kTypeJoystick), 4);
    source->detach(padB);
    EXPECT_EQ(map->Refresh(), 0);
    map->WithDevices([&](const std::vector<CInputDevice>& list) {
        ASSERT_EQ(list.size(), 3u);
        EXPECT_EQ(list[2].instance, padC);
        EXPECT_EQ(list[2].bindings, 1u);
    });
    map->Poll();  // baseline of the new device
    press(c, 2, true);
    map->Poll();
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x100, 0}}));
}

TEST(InputPoller, PollsOncePerPeriodOfItsClock)
{
    auto src = std::make_unique<FakeButtonSource>();
    FakeButtonSource* source = src.get();
    const auto pad = source->attach(instanceOf(kPadA, dev::kTypeGamepad), 4);
    testing_support::PostLog log;
    CActionMap map(std::move(src), log.poster());
    map.Create(kOwner);
    map.AddBinding({1, kPadA, 2, 0, WM_HOTKEY_ACTION});

    input_test::StepClock clock;
    CInputPoller poller(map, clock);
    ASSERT_TRUE(poller.Start());
    EXPECT_FALSE(poller.Start());
    ASSERT_TRUE(clock.waitSleeps(1));  // first poll done: the baseline
    const auto t0 = clock.now();
    source->setButton(pad, 2, true);
    ASSERT_TRUE(clock.step());
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x100, 1}}));
    source->setButton(pad, 2, false);
    ASSERT_TRUE(clock.step());
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x101, 1}}));
    EXPECT_EQ(clock.now() - t0, std::chrono::milliseconds(66));
    EXPECT_EQ(source->reads(pad), 3);
    clock.release();
    poller.Stop();
    EXPECT_FALSE(poller.Running());
}

TEST(InputPoller, SleepsWithoutBindingsAndWakesForOneOrACapture)
{
    auto src = std::make_unique<FakeButtonSource>();
    FakeButtonSource* source = src.get();
    const auto pad = source->attach(instanceOf(kPadA, dev::kTypeGamepad), 4);
    testing_support::PostLog log;
    CActionMap map(std::move(src), log.poster());
    map.Create(kOwner);
    map.Poll();  // the baseline: nothing held
    EXPECT_FALSE(map.Wanted());

    input_test::StepClock clock;
    CInputPoller poller(map, clock);
    ASSERT_TRUE(poller.Start());
    // Nothing to poll for: the thread neither reads the devices nor starts
    // its period. (A short look; a polling thread would have done both.)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(source->reads(pad), 1);
    EXPECT_EQ(clock.sleeps(), 0);

    // Held while nobody polled: not a press once a binding wakes the thread.
    source->setButton(pad, 2, true);
    map.AddBinding({1, kPadA, 2, 0, WM_HOTKEY_ACTION});
    EXPECT_TRUE(map.Wanted());
    ASSERT_TRUE(clock.waitSleeps(1));
    EXPECT_TRUE(log.take().empty());
    source->setButton(pad, 2, false);
    ASSERT_TRUE(clock.step());
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x101, 1}}));
    source->setButton(pad, 2, true);
    ASSERT_TRUE(clock.step());
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x100, 1}}));
    clock.release();
    poller.Stop();

    // Unbound again, a capture is what wakes it.
    map.ClearBindings();
    EXPECT_FALSE(map.Wanted());
    input_test::StepClock second;
    CInputPoller again(map, second);
    ASSERT_TRUE(again.Start());
    map.BeginCapture(kDialog, kCaptured);
    EXPECT_TRUE(map.Wanted());
    ASSERT_TRUE(second.waitSleeps(1));
    source->setButton(pad, 3, true);
    ASSERT_TRUE(second.step());
    EXPECT_EQ(log.take(), (std::vector<Post>{{kDialog, kCaptured, 0, 0}}));
    EXPECT_FALSE(map.Wanted()) << "the capture is over";
    second.release();
    again.Stop();
    EXPECT_FALSE(again.Running());
}

// A profile made current again clears its bindings and adds them back; a
// poll thread that found the map empty in between loses no press.
TEST(InputPoller, BindingsMadeAnewLoseNoPress)
{
    auto src = std::make_unique<FakeButtonSource>();
    FakeButtonSource* source = src.get();
    const auto pad = source->attach(instanceOf(kPadA, dev::kTypeGamepad), 4);
    testing_support::PostLog log;
    CActionMap map(std::move(src), log.poster());
    map.Create(kOwner);
    map.AddBinding({0, kPadA, 1, 0, WM_HOTKEY_ACTION});
    input_test::StepClock clock;
    CInputPoller poller(map, clock);
    ASSERT_TRUE(poller.Start());
    ASSERT_TRUE(clock.waitSleeps(1));
    map.ClearBindings();
    clock.allow();
    // Time for the thread to find the map empty and rest.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    source->setButton(pad, 1, true);
    map.AddBinding({0, kPadA, 1, 0, WM_HOTKEY_ACTION});
    ASSERT_TRUE(clock.waitSleeps(2));
    EXPECT_EQ(log.take(), (std::vector<Post>{{kOwner, WM_HOTKEY_ACTION, 0x100, 0}}));
    clock.release();
    poller.Stop();
}

} // namespace
