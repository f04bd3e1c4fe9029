// The hook procedures through the fake keyboard source: hot keys with
// modifiers, capture of every key, typing notices and the forwarding hook.
#include "kbhook/keysnare.h"
#include "kbhook/keysnare_services.h"

#include "platform/keyboard_source.h"
#include "testing/post_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr HWND kTarget = 0x10001;
constexpr UINT kKeyMessage = 0x812C;
constexpr std::uint32_t kF10 = 0x79, kF11 = 0x7A, kF12 = 0x7B;
constexpr std::uint32_t kLShift = 0xA0, kLCtrl = 0xA2, kLAlt = 0xA4, kA = 0x41;
constexpr WPARAM kDown = 0x100, kUp = 0x101;

using testing_support::Post;

class RecordingSink final : public keysnare::MessageSink, public testing_support::PostLog {
public:
    bool post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return record(hwnd, message, wParam, lParam);
    }
};

// Timers on a clock the test moves.
class ManualTimer final : public keysnare::IdleTimer {
public:
    std::uintptr_t start(std::chrono::milliseconds delay, Callback callback) override
    {
        std::lock_guard lock(mutex_);
        const std::uintptr_t id = ++next_;
        pending_[id] = {now_ + delay.count(), std::move(callback)};
        return id;
    }
    void cancel(std::uintptr_t id) override
    {
        std::lock_guard lock(mutex_);
        pending_.erase(id);
    }
    void advance(long long ms)
    {
        long long target = 0;
        {
            std::lock_guard lock(mutex_);
            target = now_ + ms;
        }
        for (;;) {
            std::uintptr_t id = 0;
            Callback cb;
            {
                std::lock_guard lock(mutex_);
                auto due = pending_.end();
                for (auto it = pending_.begin(); it != pending_.end(); ++it) {
                    if (it->second.due <= target && (due == pending_.end() || it->second.due < due->second.due)) due = it;
                }
                if (due == pending_.end()) {
                    now_ = target;
                    return;
                }
                now_ = due->second.due;
                id = due->first;
                cb = std::move(due->second.callback);
                pending_.erase(due);
            }
            cb(id);
        }
    }
    std::size_t pending()
    {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }

private:
    struct Entry {
        long long due;
        Callback callback;
    };
    std::mutex mutex_;
    std::map<std::uintptr_t, Entry> pending_;
    std::uintptr_t next_ = 0;
    long long now_ = 0;
};

class KeysnareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        keysnare::reset();
        keysnare::useServices(&source, &sink, &timer);
    }
    void TearDown() override
    {
        keysnare::reset();
        keysnare::useServices(nullptr, nullptr, nullptr);
    }
    Post key(WPARAM message, std::uint32_t vk, std::uint32_t mods = 0)
    {
        return {kTarget, kKeyMessage, message, static_cast<LPARAM>(vk | mods << 16)};
    }

    platform::FakeKeyboardSource source;
    RecordingSink sink;
    ManualTimer timer;
};

TEST_F(KeysnareTest, HotKeysMatchTheirModifiers)
{
    SetKBhotKeys(kF12, 1, 1, 0);
    SetKBhotKeys(0x0002007B, 1, 1, 0);
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    EXPECT_EQ(source.trapped().size(), 2u);

    EXPECT_FALSE(source.down(kLCtrl));  // modifiers pass, post nothing
    EXPECT_TRUE(source.down(kF12));
    EXPECT_TRUE(source.up(kF12));
    EXPECT_FALSE(source.up(kLCtrl));
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kDown, kF12, 2), key(kUp, kF12, 2)}));
    EXPECT_EQ(key(kDown, kF12, 2).lParam, 0x0002007B);

    EXPECT_TRUE(source.down(kF12));
    EXPECT_TRUE(source.up(kF12));
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kDown, kF12), key(kUp, kF12)}));

    // Shift held: neither record matches and F12 passes.
    source.down(kLShift);
    EXPECT_FALSE(source.down(kF12));
    EXPECT_FALSE(source.up(kF12));
    source.up(kLShift);
    EXPECT_TRUE(sink.take().empty());
}

TEST_F(KeysnareTest, AnyModifiersRecordsComeFirstAndPostWithoutModifiers)
{
    SetKBhotKeys(kF11, 1, 0, 0);
    SetKBhotKeys(kF11, 1, 1, 1);  // found by the lookup: becomes an any-modifiers record
    SetKBhotKeys(kF12, 1, 0, 0);
    SetKBhotKeys(kF12 | 4u << 16, 1, 1, 1);  // a new record, in front
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    ASSERT_TRUE(StartTypingHook(0x9001, 0x9002, 250));

    source.down(kLCtrl);
    source.down(kLAlt);
    sink.take();  // the modifiers are typing
    EXPECT_TRUE(source.down(kF11));
    EXPECT_TRUE(source.up(kF11));
    EXPECT_TRUE(source.down(kF12));  // the front record (swallow 1) wins
    EXPECT_TRUE(source.up(kF12));
    source.up(kLAlt);
    source.up(kLCtrl);
    std::vector<Post> posts = sink.take();
    const std::vector<Post> expected = {key(kDown, kF11), key(kUp, kF11), key(kDown, kF12, 4), key(kUp, kF12, 4)};
    ASSERT_GE(posts.size(), 4u);
    EXPECT_EQ(std::vector<Post>(posts.begin(), posts.begin() + 4), expected);
}

TEST_F(KeysnareTest, HeldHotKeyPostsOnePressAndOneRelease)
{
    SetKBhotKeys(kF12, 1, 1, 0);
    SetKBhotKeys(kF11, 1, 0, 0);
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    ASSERT_TRUE(StartTypingHook(0x9001, 0x9002, 250));
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(source.down(kF12));  // repeats swallowed too
    EXPECT_TRUE(source.up(kF12));
    // swallow 0: posted and passed on, yet no typing notice.
    EXPECT_FALSE(source.down(kF11));
    EXPECT_FALSE(source.up(kF11));
    EXPECT_EQ(sink.take(),
              (std::vector<Post>{key(kDown, kF12), key(kUp, kF12), key(kDown, kF11), key(kUp, kF11)}));
    EXPECT_EQ(keysnare::section().typingTimer, 0xFFFFFFFFu);
}

TEST_F(KeysnareTest, InertRecordPassesAndCountsAsTyping)
{
    SetKBhotKeys(kF12, 1, 1, 0);
    SetKBhotKeys(kF12, 0, 0, 0);  // disabled in place
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    EXPECT_TRUE(source.trapped().empty());
    ASSERT_TRUE(StartTypingHook(0x9001, 0x9002, 250));
    EXPECT_FALSE(source.down(kF12));
    EXPECT_EQ(sink.take(), (std::vector<Post>{{kTarget, 0x9001, 0, 0}}));
}

TEST_F(KeysnareTest, CaptureAllPostsReleasesWithModifiersAndSwallowsEverything)
{
    ASSERT_TRUE(FilterAllKeys(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    EXPECT_TRUE(source.trappingAll());
    EXPECT_TRUE(source.down(kLCtrl));
    EXPECT_TRUE(source.down(kA));
    EXPECT_TRUE(source.up(kA));
    EXPECT_TRUE(source.up(kLCtrl));
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kUp, kA, 2)}));
    EXPECT_EQ(key(kUp, kA, 2).lParam, 0x00020041);

    // Back to hot keys: the keyboard is no longer trapped.
    SetKBhotKeys(kF12, 1, 1, 0);
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    EXPECT_FALSE(source.trappingAll());
    EXPECT_FALSE(source.down(kA));
}

// Capture starts while a key is down (the Enter that pressed the button
// which opened the entry dialog): its release is not the user's choice.
TEST_F(KeysnareTest, CaptureTakesOnlyKeysPressedWhileItRuns)
{
    constexpr std::uint32_t kEnter = 0x0D;
    for (const int hook : {kKeysnareLowLevelHook, kKeysnareThreadHook}) {
        ASSERT_TRUE(InstallKBhook(hook, kTarget, kKeyMessage)) << hook;
        source.down(kEnter);
        source.down(kLCtrl);
        source.setHeldModifiers(2);
        ASSERT_TRUE(FilterAllKeys(hook, kTarget, kKeyMessage)) << hook;
        EXPECT_TRUE(source.up(kEnter)) << hook;
        EXPECT_TRUE(sink.take().empty()) << hook;
        // Ctrl, held from before, still counts; A pressed now is taken.
        EXPECT_TRUE(source.down(kA));
        EXPECT_TRUE(source.up(kA));
        EXPECT_TRUE(source.up(kLCtrl));
        source.setHeldModifiers(0);
        EXPECT_EQ(sink.take(), (std::vector<Post>{key(kUp, kA, 2)})) << hook;
        // A capture that starts again forgets the presses of the last one.
        EXPECT_TRUE(source.down(kA));
        ASSERT_TRUE(FilterAllKeys(hook, kTarget, kKeyMessage)) << hook;
        EXPECT_TRUE(source.up(kA));
        EXPECT_TRUE(sink.take().empty()) << hook;
        RemoveKBhook();
    }
}

TEST_F(KeysnareTest, TypingStartsWithTheFirstKeyAndStopsAfterTheIdleTime)
{
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    ASSERT_TRUE(StartTypingHook(0x9001, 0x9002, 250));
    EXPECT_FALSE(source.down(kA));
    EXPECT_EQ(sink.take(), (std::vector<Post>{{kTarget, 0x9001, 0, 0}}));
    timer.advance(100);
    EXPECT_FALSE(source.down(kA));  // restarts the idle time, no second start
    EXPECT_TRUE(sink.take().empty());
    timer.advance(249);
    EXPECT_TRUE(sink.take().empty());
    timer.advance(1);  // 250 ms after the second key
    EXPECT_EQ(sink.take(), (std::vector<Post>{{kTarget, 0x9002, 0, 0}}));
    EXPECT_EQ(keysnare::section().typingTimer, 0xFFFFFFFFu);

    // Switched off meanwhile: the running timer ends silently.
    source.down(kA);
    sink.take();
    ASSERT_TRUE(StopTypingHook());
    timer.advance(1000);
    EXPECT_TRUE(sink.take().empty());
    source.down(kA);
    EXPECT_TRUE(sink.take().empty());
}

TEST_F(KeysnareTest, SystemKeyWithoutAltLeavesUnmodifiedHotKeysWorking)
{
    SetKBhotKeys(kF12, 1, 1, 0);
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    // F10 arrives as a system key with no Alt held.
    EXPECT_FALSE(source.sysDown(kF10));
    EXPECT_FALSE(source.sysUp(kF10));
    EXPECT_EQ(keysnare::section().modifiers, 0u);
    EXPECT_TRUE(source.down(kF12));
    EXPECT_TRUE(source.up(kF12));
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kDown, kF12), key(kUp, kF12)}));

    // A real Alt still counts: Alt+F12 is not the F12 record.
    EXPECT_FALSE(source.sysDown(kLAlt));
    EXPECT_EQ(keysnare::section().modifiers, 1u);
    EXPECT_FALSE(source.sysDown(kF12));
    EXPECT_FALSE(source.sysUp(kF12));
    EXPECT_FALSE(source.up(kLAlt));
    EXPECT_TRUE(source.down(kF12));
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kDown, kF12)}));
}

TEST_F(KeysnareTest, ModifiersFollowTheRealKeysAcrossInstalls)
{
    SetKBhotKeys(0x0002007B, 1, 1, 0);
    source.setHeldModifiers(2);  // Ctrl went down while no hook ran
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    EXPECT_EQ(keysnare::section().modifiers, 2u);
    EXPECT_TRUE(source.down(kF12));
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kDown, kF12, 2)}));
    // Its release is missed; after a new install the held flag is gone, the
    // modifiers come from the real keys again.
    source.setHeldModifiers(0);
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    EXPECT_EQ(keysnare::section().modifiers, 0u);
    EXPECT_FALSE(source.up(kF12));
    EXPECT_TRUE(sink.take().empty());
}

TEST_F(KeysnareTest, SettingRecordsLeavesTheLiveModifiersAlone)
{
    SetKBhotKeys(0x0002007B, 1, 1, 0);
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    source.down(kLCtrl);
    SetKBhotKeys(kF12, 1, 0, 0);  // another record, looked up with its own modifiers
    EXPECT_EQ(keysnare::section().modifiers, 2u);
    EXPECT_EQ(source.trapped().size(), 1u);  // only swallowed keys are trapped
    EXPECT_TRUE(source.down(kF12));
    source.up(kF12);
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kDown, kF12, 2), key(kUp, kF12, 2)}));
    // Disabling it: Ctrl+F12 passes and is no longer trapped.
    SetKBhotKeys(0x0002007B, 0, 0, 0);
    EXPECT_TRUE(source.trapped().empty());
    EXPECT_FALSE(source.down(kF12));
    EXPECT_TRUE(sink.take().empty());
    ClearKBhotKeys();
    source.up(kF12);
    source.up(kLCtrl);
    EXPECT_TRUE(sink.take().empty());
}

TEST_F(KeysnareTest, ThreadHookForm)
{
    SetKBhotKeys(kF12, 1, 1, 0);
    SetKBhotKeys(0x0002007B, 1, 0, 0);
    ASSERT_TRUE(InstallKBhook(kKeysnareThreadHook, kTarget, kKeyMessage));
    // Through the source: left/right modifiers reach the procedure as the generic codes.
    EXPECT_TRUE(source.down(kF12));
    EXPECT_FALSE(source.down(kF12));  // an auto-repeat passes on, unposted
    EXPECT_TRUE(source.up(kF12));
    EXPECT_FALSE(source.down(kLCtrl));
    EXPECT_FALSE(source.down(kF12));
    EXPECT_FALSE(source.up(kF12));
    EXPECT_EQ(sink.take(),
              (std::vector<Post>{key(kDown, kF12), key(kUp, kF12), key(kDown, kF12, 2), key(kUp, kF12, 2)}));
    // Called directly with keystroke flags: bit 31 is the release.
    EXPECT_EQ(KeyboardHookProc(0, 17, static_cast<LPARAM>(0xC0000001u)), 0);  // Ctrl up
    EXPECT_EQ(KeyboardHookProc(0, kF12, 1), -1);
    EXPECT_EQ(KeyboardHookProc(0, kF12, static_cast<LPARAM>(0xC0000001u)), -1);
    EXPECT_EQ(KeyboardHookProc(-1, kF12, 1), 0);
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kDown, kF12), key(kUp, kF12)}));

    ASSERT_TRUE(FilterAllKeys(kKeysnareThreadHook, kTarget, kKeyMessage));
    EXPECT_TRUE(source.down(16));
    EXPECT_TRUE(source.down(kA));
    EXPECT_TRUE(source.up(kA));
    EXPECT_EQ(FilterAllKeyboardHookProc(0, kA, static_cast<LPARAM>(0x80000001u)), -1);
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kUp, kA, 4), key(kUp, kA, 4)}));
}

TEST_F(KeysnareTest, ProceduresCalledDirectly)
{
    SetKBhotKeys(kF12, 1, 1, 0);
    // The section starts as the image's values.
    const keysnare::SectionView fresh = keysnare::section();
    EXPECT_FALSE(fresh.hooked);
    EXPECT_EQ(fresh.keyMessage, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.typingStartMessage, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.typingIdleMs, 250u);
    EXPECT_EQ(fresh.typingTimer, 0xFFFFFFFFu);

    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    KeysnareLowLevelEvent ev{kF12, 0x58, 0, 0, 0};
    const auto p = reinterpret_cast<LPARAM>(&ev);
    EXPECT_EQ(LowLevelKeyboardHookProc(-1, kDown, p), 0);
    EXPECT_EQ(LowLevelKeyboardHookProc(0, kDown, 0), 0);
    EXPECT_EQ(LowLevelKeyboardHookProc(0, kDown, p), -1);
    EXPECT_EQ(LowLevelKeyboardHookProc(0, kUp, p), -1);
    KeysnareLowLevelEvent shift{kLShift, 0, 0, 0, 0};
    EXPECT_EQ(FilterAllKeyboardHookProcLL(0, kDown, reinterpret_cast<LPARAM>(&shift)), -1);
    EXPECT_EQ(FilterAllKeyboardHookProcLL(0, kUp, p), -1);
    EXPECT_EQ(FilterAllKeyboardHookProcLL(-1, kUp, p), 0);
    EXPECT_EQ(sink.take(), (std::vector<Post>{key(kDown, kF12), key(kUp, kF12), key(kUp, kF12, 4)}));

    unsigned vk = 0, mods = 0;
    SplitHotKeyAndModifiers(0x0002007B, &vk, &mods);
    EXPECT_EQ(vk, 0x7Bu);
    EXPECT_EQ(mods, 2u);

    RemoveKBhook();
    const keysnare::SectionView gone = keysnare::section();
    EXPECT_FALSE(gone.hooked);
    EXPECT_EQ(gone.target, 0u);
    EXPECT_EQ(gone.keyMessage, 0xFFFFFFFFu);
    EXPECT_FALSE(source.running());
}

TEST_F(KeysnareTest, ForwardingHook)
{
    ASSERT_EQ(KeyboardHook_Start(kTarget, 0x9100), 1);
    EXPECT_EQ(KeyboardHook_Start(kTarget, 0x9100), 0);  // one hook at a time
    EXPECT_FALSE(source.down(kF12));
    EXPECT_FALSE(source.down(kF12));
    EXPECT_FALSE(source.up(kF12));
    EXPECT_FALSE(source.down(kLCtrl));
    const std::vector<Post> expected = {
        {kTarget, 0x9100, kF12, 0x00000001},
        {kTarget, 0x9100, kF12, 0x40000001},                           // already down
        {kTarget, 0x9100, kF12, static_cast<LPARAM>(0xC0000001u)},    // released
        {kTarget, 0x9100, 17, 0x00000001},
    };
    EXPECT_EQ(sink.take(), expected);
    EXPECT_EQ(KeyboardHook_Stop(), 1);
    EXPECT_EQ(KeyboardHook_Stop(), 1);
    EXPECT_FALSE(source.running());
}

TEST_F(KeysnareTest, NoSourceNoHook)
{
    source.setAvailable(false);
    EXPECT_FALSE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    EXPECT_FALSE(keysnare::section().hooked);
    EXPECT_FALSE(FilterAllKeys(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    EXPECT_EQ(KeyboardHook_Start(kTarget, 0x9100), 0);
}

} // namespace

namespace {

TEST(KeysnareTimer, TheDefaultTimerEndsTyping)
{
    platform::FakeKeyboardSource source;
    RecordingSink sink;
    keysnare::reset();
    keysnare::useServices(&source, &sink, nullptr);  // the timer thread
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, kTarget, kKeyMessage));
    ASSERT_TRUE(StartTypingHook(0x9001, 0x9002, 20));
    EXPECT_FALSE(source.down(kA));
    std::vector<Post> posts;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (posts.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        for (const Post& p : sink.take()) posts.push_back(p);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(posts, (std::vector<Post>{{kTarget, 0x9001, 0, 0}, {kTarget, 0x9002, 0, 0}}));
    keysnare::reset();
    keysnare::useServices(nullptr, nullptr, nullptr);
}

} // namespace
