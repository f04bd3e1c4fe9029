// Key codes between X11 and the hook's virtual keys, and the fake source.
#include <gtest/gtest.h>

#include "platform/keyboard_source.h"

#include <X11/keysym.h>

namespace {

TEST(KeyCodes, KeysymsToVirtualKeysAndBack)
{
    struct Case { unsigned long keysym; std::uint32_t vk; };
    const Case cases[] = {
        {XK_a, 0x41}, {XK_z, 0x5A}, {XK_0, 0x30}, {XK_9, 0x39}, {XK_F1, 0x70}, {XK_F10, 0x79}, {XK_F12, 0x7B},
        {XK_F24, 0x87}, {XK_Shift_L, 0xA0}, {XK_Shift_R, 0xA1}, {XK_Control_L, 0xA2}, {XK_Control_R, 0xA3},
        {XK_Alt_L, 0xA4}, {XK_Alt_R, 0xA5}, {XK_Return, 0x0D}, {XK_Escape, 0x1B}, {XK_space, 0x20},
        {XK_Prior, 0x21}, {XK_Home, 0x24}, {XK_Left, 0x25}, {XK_Down, 0x28}, {XK_Insert, 0x2D},
        {XK_Delete, 0x2E}, {XK_KP_0, 0x60}, {XK_KP_Divide, 0x6F}, {XK_Pause, 0x13}, {XK_Scroll_Lock, 0x91},
        {XK_semicolon, 0xBA}, {XK_grave, 0xC0}, {XK_apostrophe, 0xDE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::vkFromKeysym(c.keysym), c.vk) << std::hex << c.keysym;
        EXPECT_EQ(platform::keysymFromVk(c.vk), c.keysym) << std::hex << c.vk;
    }
    EXPECT_EQ(platform::vkFromKeysym(XK_A), 0x41u);
    EXPECT_EQ(platform::vkFromKeysym(XK_KP_Home), 0x24u);  // keypad without Num Lock
    EXPECT_EQ(platform::keysymFromVk(0x11), static_cast<unsigned long>(XK_Control_L));
    EXPECT_EQ(platform::vkFromKeysym(0x12345678), 0u);
    EXPECT_EQ(platform::keysymFromVk(0xFF), 0u);
}

TEST(FakeKeyboardSource, FeedsTheHandlerWhileRunning)
{
    platform::FakeKeyboardSource source;
    EXPECT_FALSE(source.down(0x41));  // not started
    std::vector<platform::KeyEvent> seen;
    ASSERT_TRUE(source.start([&](const platform::KeyEvent& e) {
        seen.push_back(e);
        return e.vk == 0x7B;
    }));
    EXPECT_TRUE(source.running());
    EXPECT_TRUE(source.down(0x7B));
    EXPECT_FALSE(source.sysUp(0x41));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].message, platform::kSysKeyUp);
    source.trapKeys({{0x7B, platform::kModCtrl, false}});
    source.trapAll(true);
    EXPECT_EQ(source.trapped().size(), 1u);
    EXPECT_TRUE(source.trappingAll());
    source.stop();
    EXPECT_FALSE(source.running());
    EXPECT_TRUE(source.trapped().empty());
    EXPECT_FALSE(source.trappingAll());
    source.setAvailable(false);
    EXPECT_FALSE(source.start([](const platform::KeyEvent&) { return false; }));
}

TEST(X11KeyboardSource, NoDisplayNoStart)
{
    auto source = platform::makeX11KeyboardSource(":4711");
    EXPECT_FALSE(source->start([](const platform::KeyEvent&) { return false; }));
    EXPECT_FALSE(source->running());
    source->trapKeys({});
    EXPECT_EQ(source->heldModifiers(), 0u);
    source->stop();
}

} // namespace
