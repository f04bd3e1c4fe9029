#pragma once
// Keysnare: the system-wide keyboard hook library (Keysnare.so). It turns key
// events into messages posted to one target window: hot-key presses and
// releases, every key release while a new key is being captured, and typing
// start / stop notices.
//
// Posted key event: (target, keyMessage, wParam 0x100 down / 0x101 up,
// lParam vk | modifiers << 16) with modifier bits 4 Shift, 2 Ctrl, 1 Alt.
#include "platform/messages.h"

#include <cstdint>

#define KEYSNARE_API __attribute__((visibility("default")))

extern "C" {

using HWND = platform::HWND;
using UINT = platform::UINT;
using WPARAM = platform::WPARAM;
using LPARAM = platform::LPARAM;
using LRESULT = platform::LRESULT;

// Hook kinds by their Windows numbers: the low-level hook and the thread hook.
inline constexpr int kKeysnareLowLevelHook = 13;
inline constexpr int kKeysnareThreadHook = 2;

// The event a low-level procedure's lParam points to.
struct KeysnareLowLevelEvent {
    std::uint32_t vkCode;
    std::uint32_t scanCode;
    std::uint32_t flags;
    std::uint32_t time;
    std::uintptr_t extraInfo;
};

KEYSNARE_API bool InstallKBhook(int idHook, HWND target, UINT keyMessage);
KEYSNARE_API void RemoveKBhook();
KEYSNARE_API void SetKBhotKeys(unsigned long keyAndModifiers, int post, int swallow, int anyModifiers);
KEYSNARE_API void ClearKBhotKeys();
KEYSNARE_API void SplitHotKeyAndModifiers(unsigned packed, unsigned* key, unsigned* modifiers);
KEYSNARE_API bool FilterAllKeys(int idHook, HWND target, UINT keyMessage);
KEYSNARE_API bool StartTypingHook(UINT startMessage, UINT stopMessage, UINT idleMs);
KEYSNARE_API bool StopTypingHook();

// The hook procedures: non-zero keeps the event from other programs. The
// low-level ones take (code, message, KeysnareLowLevelEvent*); the thread
// ones (code, vk, keystroke flags with bit 31 set on release).
KEYSNARE_API LRESULT LowLevelKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam);
KEYSNARE_API LRESULT KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam);
KEYSNARE_API LRESULT FilterAllKeyboardHookProcLL(int code, WPARAM wParam, LPARAM lParam);
KEYSNARE_API LRESULT FilterAllKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam);

// A forwarding hook: every key event posted unchanged as (message, vk, flags).
KEYSNARE_API int KeyboardHook_Start(HWND target, UINT message);
KEYSNARE_API int KeyboardHook_Stop();

} // extern "C"
