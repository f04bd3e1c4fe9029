#pragma once
// A system-wide keyboard source: every key event of the session, in Windows
// virtual-key terms, handed to one handler on the source's own thread.
// Backends: X11 (XInput2 raw key events, XGrabKey for trapped keys,
// XGrabKeyboard while every key is trapped) and a fake driven by tests.
//
// X11 decides ahead of time which keys other programs do not see (by
// grabs), not per event: a key is kept from them when it is trapped, and the
// handler's verdict is advisory there. The fake reports the verdict back.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// Key messages by their Windows numbers.
inline constexpr std::uint32_t kKeyDown = 0x100;
inline constexpr std::uint32_t kKeyUp = 0x101;
inline constexpr std::uint32_t kSysKeyDown = 0x104;
inline constexpr std::uint32_t kSysKeyUp = 0x105;

// Modifier bits of the hot-key code.
inline constexpr std::uint32_t kModAlt = 1;
inline constexpr std::uint32_t kModCtrl = 2;
inline constexpr std::uint32_t kModShift = 4;

struct KeyEvent {
    std::uint32_t vk = 0;  // virtual-key code; modifiers as their left/right codes 160-165
    std::uint32_t message = kKeyDown;
    std::uint32_t scanCode = 0;
    std::uint32_t time = 0;  // milliseconds tick of the event
};

// A combination other programs must not see while a hook runs.
struct TrappedKey {
    std::uint32_t vk = 0;
    std::uint32_t modifiers = 0;  // kModShift | kModCtrl | kModAlt
    bool anyModifiers = false;
    bool operator==(const TrappedKey&) const = default;
};

class KeyboardSource {
public:
    // Returns true when the event should be kept from other programs.
    using Handler = std::function<bool(const KeyEvent&)>;

    virtual ~KeyboardSource() = default;
    // Starts delivering events; false when the source cannot run (no display).
    virtual bool start(Handler handler) = 0;
    // Stops delivering; once it returns the handler runs no more.
    virtual void stop() = 0;
    virtual bool running() const = 0;
    // Replaces the set of trapped combinations.
    virtual void trapKeys(std::vector<TrappedKey> keys) = 0;
    // Traps every key (capture), or ends that.
    virtual void trapAll(bool on) = 0;
    // Modifier bits held right now, from the real key state.
    virtual std::uint32_t heldModifiers() = 0;
};

// The test double: events are fed by the test on its own thread.
class FakeKeyboardSource final : public KeyboardSource {
public:
    bool start(Handler handler) override;
    void stop() override;
    bool running() const override;
    void trapKeys(std::vector<TrappedKey> keys) override;
    void trapAll(bool on) override;
    std::uint32_t heldModifiers() override;

    // Feeds one event; true when the handler kept it from other programs
    // (false when the source is not running).
    bool feed(const KeyEvent& event);
    bool down(std::uint32_t vk) { return feed({vk, kKeyDown, 0, 0}); }
    bool up(std::uint32_t vk) { return feed({vk, kKeyUp, 0, 0}); }
    bool sysDown(std::uint32_t vk) { return feed({vk, kSysKeyDown, 0, 0}); }
    bool sysUp(std::uint32_t vk) { return feed({vk, kSysKeyUp, 0, 0}); }

    void setAvailable(bool available);
    void setHeldModifiers(std::uint32_t bits);
    std::vector<TrappedKey> trapped() const;
    bool trappingAll() const;

private:
    mutable std::mutex mutex_;
    Handler handler_;
    bool available_ = true;
    bool running_ = false;
    std::vector<TrappedKey> trapped_;
    bool all_ = false;
    std::uint32_t held_ = 0;
};

// The X11 source for `display` (empty: $DISPLAY). Its start() fails when no
// display or no XInput2 is there.
std::unique_ptr<KeyboardSource> makeX11KeyboardSource(std::string display = {});

// Windows virtual-key code of an X11 keysym, 0 when it has none; and back
// (0 when the code has no keysym).
std::uint32_t vkFromKeysym(unsigned long keysym);
unsigned long keysymFromVk(std::uint32_t vk);

} // namespace platform
