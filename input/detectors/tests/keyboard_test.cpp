// The keyboard detectors: the choice by system class, the hook detector over
// Keysnare with a fake keyboard source, and the key-state detector's 10 ms
// polling on a stepped clock over the fake key-state device.
#include "input/Keyboard.h"

#include "testing/post_log.h"
#include "../../devices/tests/step_clock.h"

#include "kbhook/keysnare.h"
#include "kbhook/keysnare_services.h"
#include "platform/keyboard_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

using testing_support::Post;
using platform::devices::FakeKeyStateDevice;
using platform::devices::kSlotRequests;

constexpr platform::HWND kSheet = 0x30001;
constexpr platform::HWND kDialog = 0x30002;
constexpr std::uint32_t kF7 = 0x76, kF9 = 0x78, kF11 = 0x7A, kF12 = 0x7B;
const Guid kPad{0x12345678, 1, 2, {1, 1, 1, 1, 1, 1, 1, 1}};

TEST(KeyboardChoice, VersionClassesPickTheirDetector)
{
    struct Case {
        std::uint32_t platformId, major, minor;
        int cls;
        const char* what;
    };
    const Case cases[] = {
        {2, 5, 1, 5, "XP"},  {2, 6, 0, 4, "Vista"}, {2, 5, 0, 4, "2000"}, {2, 4, 0, 3, "NT 4"},
        {1, 4, 0, 0, "95"},  {1, 4, 10, 1, "98"},   {1, 4, 90, 2, "Me"},  {3, 10, 0, -1, "other"},
    };
    for (const Case& c : cases) {
        const int cls = CKeyboard::GetWindowsVersionClass(c.platformId, c.major, c.minor);
        EXPECT_EQ(cls, c.cls) << c.what;
        auto detector = CKeyboard::CreateForVersionClass(cls);
        if (cls == 4 || cls == 5) EXPECT_TRUE(dynamic_cast<CW2Kkeyboard*>(detector.get())) << c.what;
        else if (cls == 1 || cls == 2) EXPECT_TRUE(dynamic_cast<CW9xkeyboard*>(detector.get())) << c.what;
        else EXPECT_FALSE(detector) << c.what;
    }
    EXPECT_TRUE(dynamic_cast<CW2Kkeyboard*>(CKeyboard::Create().get()));
}

class RecordingSink final : public keysnare::MessageSink {
public:
    bool post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override { return fn(hwnd, message, wParam, lParam); }
    testing_support::PostLog log;
    std::function<bool(HWND, UINT, WPARAM, LPARAM)> fn = log.poster();
};

class HookDetectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        keysnare::reset();
        keysnare::useServices(&source, &sink, nullptr);
    }
    void TearDown() override
    {
        keysnare::reset();
        keysnare::useServices(nullptr, nullptr, nullptr);
    }
    void tap(std::uint32_t vk)
    {
        source.down(vk);
        source.up(vk);
    }
    static Post key(platform::WPARAM message, std::uint32_t vk) { return {kSheet, WM_HOTKEY_KEY, message, static_cast<platform::LPARAM>(vk)}; }

    platform::FakeKeyboardSource source;
    RecordingSink sink;
};

TEST_F(HookDetectorTest, ProfileKeysArePostedAndOldOnesGoQuiet)
{
    CW2Kkeyboard detector;
    for (const auto& w : detector.watched()) EXPECT_EQ(w.code, 0u);
    CHotKeys keys;  // F12, F9, F7
    ASSERT_TRUE(detector.Install(kSheet, WM_HOTKEY_KEY));
    detector.SetHotKeys(keys);
    tap(kF12);
    tap(kF9);
    EXPECT_EQ(sink.log.take(), (std::vector<Post>{key(0x100, kF12), key(0x101, kF12), key(0x100, kF9), key(0x101, kF9)}));

    CKeyInfo center = keys.GetAt(0);
    center.SetKey(kF11);
    keys.SetAtGrow(0, center);
    detector.SetHotKeys(keys);
    tap(kF12);
    EXPECT_TRUE(sink.log.take().empty()) << "F12 passes to the foreground program now";
    EXPECT_FALSE(source.down(kF12));
    source.up(kF12);
    tap(kF11);
    EXPECT_EQ(sink.log.take(), (std::vector<Post>{key(0x100, kF11), key(0x101, kF11)}));
    detector.Uninstall();
    EXPECT_FALSE(source.running());
}

TEST_F(HookDetectorTest, DeviceButtonKeysAreNeitherPostedNorTrapped)
{
    CW2Kkeyboard detector;
    CHotKeys keys;
    CKeyInfo pause;
    pause.Device = kPad;
    pause.Code = 13;  // button 13: the number of the Enter key
    pause.Enable = 1;
    pause.Trap = 1;
    keys.SetAtGrow(1, pause);
    ASSERT_TRUE(detector.Install(kSheet, WM_HOTKEY_KEY));
    detector.SetHotKeys(keys);
    // The record keeps the profile's Trap flag; posting nothing, it is
    // inert, and the key is not kept from other programs.
    EXPECT_EQ(detector.watched()[1].post, 0);
    EXPECT_EQ(detector.watched()[1].trap, 1);
    for (const platform::TrappedKey& t : source.trapped())
        EXPECT_NE(t.vk, 13u);
    EXPECT_FALSE(source.down(13));
    EXPECT_FALSE(source.up(13));
    EXPECT_TRUE(sink.log.take().empty());
    tap(kF12);
    EXPECT_EQ(sink.log.take().size(), 2u);
}

TEST_F(HookDetectorTest, CaptureReportsReleasesAndSwallowsEveryKey)
{
    CW2Kkeyboard detector;
    ASSERT_TRUE(detector.Install(kSheet, WM_HOTKEY_KEY));
    detector.SetHotKeys(CHotKeys{});
    ASSERT_TRUE(detector.FilterAllKeys(kDialog, 0x8500));
    EXPECT_TRUE(source.down(0x41));
    EXPECT_TRUE(source.up(0x41));
    const auto posts = sink.log.take();
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(posts.back().hwnd, kDialog);
    EXPECT_EQ(posts.back().message, 0x8500u);
    ASSERT_TRUE(detector.Install(kSheet, WM_HOTKEY_KEY));
    EXPECT_FALSE(source.down(0x41));
    source.up(0x41);
}

// The key-state detector.
class KeyStateDetectorTest : public ::testing::Test {
protected:
    KeyStateDetectorTest()
    {
        auto d = std::make_unique<FakeKeyStateDevice>();
        device = d.get();
        detector = std::make_unique<CW9xkeyboard>(std::move(d), clock, log.poster());
    }
    void TearDown() override
    {
        clock.release();
        detector.reset();
        keysnare::reset();
        keysnare::useServices(nullptr, nullptr, nullptr);
    }
    static Post key(platform::WPARAM message, std::uint32_t vk) { return {kSheet, WM_HOTKEY_KEY, message, static_cast<platform::LPARAM>(vk)}; }

    platform::FakeKeyboardSource source;  // the capture hook's keyboard
    input_test::StepClock clock;
    testing_support::PostLog log;
    FakeKeyStateDevice* device = nullptr;
    std::unique_ptr<CW9xkeyboard> detector;
};

TEST_F(KeyStateDetectorTest, MissingDeviceFailsAndRunsNoThread)
{
    device->setAvailable(false);
    EXPECT_FALSE(detector->Install(kSheet, WM_HOTKEY_KEY));
    EXPECT_FALSE(detector->Installed());
    EXPECT_EQ(clock.sleeps(), 0);
    EXPECT_TRUE(device->requests().empty());
    EXPECT_FALSE(detector->StartTypingHook(1, 2, 3));
    EXPECT_FALSE(detector->StopTypingHook());
}

TEST_F(KeyStateDetectorTest, PressesAndReleasesArePostedEveryTenMilliseconds)
{
    ASSERT_TRUE(detector->Install(kSheet, WM_HOTKEY_KEY));
    EXPECT_EQ(device->requests(), (std::vector<std::uint32_t>{228, 215}));
    device->clearRequests();
    detector->SetHotKeys(CHotKeys{});  // F12 -> slot 5, F9 -> slot 3, F7 -> slot 7
    EXPECT_EQ(device->requests(), (std::vector<std::uint32_t>{253, 254, 233, 239, 263, 264}));
    ASSERT_TRUE(clock.waitSleeps(1));
    device->clearRequests();

    const auto t0 = clock.now();
    device->press(kF12);
    ASSERT_TRUE(clock.step());
    EXPECT_EQ(log.take(), (std::vector<Post>{key(0x100, kF12)}));
    EXPECT_EQ(device->requests(), (std::vector<std::uint32_t>{220, 222, 224, 235, 252, 257, 262})) << "slot 4 is never polled";
    ASSERT_TRUE(clock.step());
    EXPECT_TRUE(log.take().empty()) << "held: reported once";
    device->press(kF7);
    device->release(kF12);
    ASSERT_TRUE(clock.step());
    EXPECT_EQ(log.take(), (std::vector<Post>{key(0x101, kF12), key(0x100, kF7)})) << "slot order: 5 before 7";
    EXPECT_EQ(clock.now() - t0, std::chrono::milliseconds(30));

    detector->SetHotKey(kF9, 0, 1, 1);  // disabled: no longer reported
    device->press(kF9);
    ASSERT_TRUE(clock.step());
    EXPECT_TRUE(log.take().empty());

    clock.release();
    detector->Uninstall();
    EXPECT_EQ(detector->ThreadExitCode(), CW9xkeyboard::kThreadExitCode);
    EXPECT_EQ(device->requests().back(), 216u);
    EXPECT_FALSE(device->isOpen());
}

TEST_F(KeyStateDetectorTest, IndexesOutsideTheThreeAndDeviceButtonsAreIgnored)
{
    EXPECT_EQ(CW9xkeyboard::SlotOfIndex(0), 5);
    EXPECT_EQ(CW9xkeyboard::SlotOfIndex(1), 3);
    EXPECT_EQ(CW9xkeyboard::SlotOfIndex(2), 7);
    EXPECT_EQ(CW9xkeyboard::SlotOfIndex(3), -1);
    ASSERT_TRUE(detector->Install(kSheet, WM_HOTKEY_KEY));
    device->clearRequests();
    detector->SetHotKey(kF11, 1, 1, 3);
    EXPECT_TRUE(device->requests().empty());

    CHotKeys keys;
    CKeyInfo center;
    center.Device = kPad;
    center.Code = 0x41;
    center.Enable = 1;
    keys.SetAtGrow(0, center);
    detector->SetHotKeys(keys);
    const auto requests = device->requests();
    EXPECT_EQ(requests[0], kSlotRequests[5].setKey);
    EXPECT_EQ(requests[1], kSlotRequests[5].disable);
    ASSERT_TRUE(clock.waitSleeps(1));
    device->press(0x41);
    ASSERT_TRUE(clock.step());
    EXPECT_TRUE(log.take().empty());
}

TEST_F(KeyStateDetectorTest, InstallingAgainAfterCaptureKeepsOneThreadAndTheKeys)
{
    keysnare::reset();
    keysnare::useServices(&source, nullptr, nullptr);
    detector->SetHotKeys(CHotKeys{});  // before Install: watched once installed
    ASSERT_TRUE(detector->Install(kSheet, WM_HOTKEY_KEY));
    ASSERT_TRUE(clock.waitSleeps(1));
    ASSERT_TRUE(detector->FilterAllKeys(kDialog, 0x8500));
    EXPECT_TRUE(source.running());

    clock.release();
    ASSERT_TRUE(detector->Install(kSheet, WM_HOTKEY_KEY));  // the dialog closes
    EXPECT_EQ(detector->ThreadExitCode(), 0) << "the new thread runs";
    EXPECT_FALSE(source.running()) << "capture hook removed";
    EXPECT_EQ(device->opens(), 2);
    device->press(kF9);
    // The clock runs free now; wait (bounded) for the poll to see the key.
    std::vector<Post> got;
    for (int i = 0; i < 1000 && got.empty(); ++i) {
        got = log.take();
        if (got.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), key(0x100, kF9));
    detector->Uninstall();
}

} // namespace
