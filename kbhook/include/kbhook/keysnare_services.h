#pragma once
// What the Keysnare exports stand on: the keyboard source, the window
// messages they post and the idle timer of the typing notices. The defaults
// are the X11 source, the session's window messages and a timer thread;
// tests put doubles in their place.
#include "kbhook/keysnare.h"
#include "platform/keyboard_source.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace keysnare {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual bool post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// Posts through the session's window messages.
KEYSNARE_API MessageSink& windowMessages();

// One-shot timers whose callbacks get their id. Ids are never 0 nor
// 0xFFFFFFFF; a cancelled timer's callback does not run later.
class IdleTimer {
public:
    using Callback = std::function<void(std::uintptr_t id)>;
    virtual ~IdleTimer() = default;
    virtual std::uintptr_t start(std::chrono::milliseconds delay, Callback callback) = 0;
    virtual void cancel(std::uintptr_t id) = 0;
};

// The library's view of its state, as the shared section holds it.
struct SectionView {
    bool hooked;
    HWND target;
    UINT keyMessage;
    UINT typingStartMessage;
    UINT typingStopMessage;
    UINT typingIdleMs;
    std::uintptr_t typingTimer;
    std::uint32_t modifiers;
};

// Replaces the services (null: the default of that kind). Removes any hook
// first; the objects must outlive their use.
KEYSNARE_API void useServices(platform::KeyboardSource* source, MessageSink* sink, IdleTimer* timer);
// Back to the initial state: no hook, no records, the section's initial values.
KEYSNARE_API void reset();
KEYSNARE_API SectionView section();

} // namespace keysnare
