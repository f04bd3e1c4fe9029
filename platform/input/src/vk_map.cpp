// X11 keysyms and Windows virtual-key codes, the codes hot keys are stored in.
#include "platform/keyboard_source.h"

#include <X11/keysym.h>

#include <array>
#include <utility>

namespace platform {
namespace {

struct Pair {
    unsigned long keysym;
    std::uint32_t vk;
};

// The first row of a code is its keysym on the way back.
constexpr Pair kTable[] = {
    {XK_BackSpace, 0x08}, {XK_Tab, 0x09}, {XK_ISO_Left_Tab, 0x09}, {XK_Clear, 0x0C}, {XK_Return, 0x0D},
    {XK_KP_Enter, 0x0D}, {XK_Pause, 0x13}, {XK_Caps_Lock, 0x14}, {XK_Escape, 0x1B}, {XK_space, 0x20},
    {XK_Prior, 0x21}, {XK_Next, 0x22}, {XK_End, 0x23}, {XK_Home, 0x24}, {XK_Left, 0x25}, {XK_Up, 0x26},
    {XK_Right, 0x27}, {XK_Down, 0x28}, {XK_Select, 0x29}, {XK_Print, 0x2C}, {XK_Insert, 0x2D},
    {XK_Delete, 0x2E}, {XK_Help, 0x2F},
    // The keypad without Num Lock gives the navigation codes, as the
    // system the codes come from does.
    {XK_KP_Prior, 0x21}, {XK_KP_Next, 0x22}, {XK_KP_End, 0x23}, {XK_KP_Home, 0x24}, {XK_KP_Left, 0x25},
    {XK_KP_Up, 0x26}, {XK_KP_Right, 0x27}, {XK_KP_Down, 0x28}, {XK_KP_Begin, 0x0C}, {XK_KP_Insert, 0x2D},
    {XK_KP_Delete, 0x2E},
    {XK_Super_L, 0x5B}, {XK_Super_R, 0x5C}, {XK_Menu, 0x5D},
    {XK_KP_0, 0x60}, {XK_KP_1, 0x61}, {XK_KP_2, 0x62}, {XK_KP_3, 0x63}, {XK_KP_4, 0x64}, {XK_KP_5, 0x65},
    {XK_KP_6, 0x66}, {XK_KP_7, 0x67}, {XK_KP_8, 0x68}, {XK_KP_9, 0x69}, {XK_KP_Multiply, 0x6A},
    {XK_KP_Add, 0x6B}, {XK_KP_Separator, 0x6C}, {XK_KP_Subtract, 0x6D}, {XK_KP_Decimal, 0x6E},
    {XK_KP_Divide, 0x6F},
    {XK_Num_Lock, 0x90}, {XK_Scroll_Lock, 0x91},
    {XK_Shift_L, 0xA0}, {XK_Shift_R, 0xA1}, {XK_Control_L, 0xA2}, {XK_Control_R, 0xA3}, {XK_Alt_L, 0xA4},
    {XK_Meta_L, 0xA4}, {XK_Alt_R, 0xA5}, {XK_ISO_Level3_Shift, 0xA5}, {XK_Meta_R, 0xA5},
    {XK_semicolon, 0xBA}, {XK_equal, 0xBB}, {XK_comma, 0xBC}, {XK_minus, 0xBD}, {XK_period, 0xBE},
    {XK_slash, 0xBF}, {XK_grave, 0xC0}, {XK_bracketleft, 0xDB}, {XK_backslash, 0xDC},
    {XK_bracketright, 0xDD}, {XK_apostrophe, 0xDE}, {XK_less, 0xE2},
};

} // namespace

std::uint32_t vkFromKeysym(unsigned long keysym)
{
    if (keysym >= XK_a && keysym <= XK_z) return static_cast<std::uint32_t>('A' + (keysym - XK_a));
    if (keysym >= XK_A && keysym <= XK_Z) return static_cast<std::uint32_t>('A' + (keysym - XK_A));
    if (keysym >= XK_0 && keysym <= XK_9) return static_cast<std::uint32_t>('0' + (keysym - XK_0));
    if (keysym >= XK_F1 && keysym <= XK_F24) return static_cast<std::uint32_t>(0x70 + (keysym - XK_F1));
    for (const Pair& p : kTable) {
        if (p.keysym == keysym) return p.vk;
    }
    return 0;
}

unsigned long keysymFromVk(std::uint32_t vk)
{
    if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
    if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
    // The generic modifier codes stand for their left keys.
    if (vk == 0x10) vk = 0xA0;
    if (vk == 0x11) vk = 0xA2;
    if (vk == 0x12) vk = 0xA4;
    for (const Pair& p : kTable) {
        if (p.vk == vk) return p.keysym;
    }
    return 0;
}

} // namespace platform
