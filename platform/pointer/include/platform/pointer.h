#pragma once
// Synthetic mouse input and the desktop around it: moving the cursor the
// way SendInput does (relative steps, or absolute positions on a 0..65535
// scale of the screen), reading the cursor position, and finding the window
// in front and the process that owns it.
//
// The X11 backend sends XTest fake motion and reads XQueryPointer; the
// fakes keep a cursor of their own for tests.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace platform {

inline constexpr std::uint32_t MOUSEEVENTF_MOVE = 0x0001;
inline constexpr std::uint32_t MOUSEEVENTF_ABSOLUTE = 0x8000;

// One mouse event, laid out as Win32's MOUSEINPUT.
struct MouseInput {
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::uint32_t mouseData = 0;
    std::uint32_t flags = 0;
    std::uint32_t time = 0;
    std::uintptr_t extraInfo = 0;

    bool operator==(const MouseInput&) const = default;
};

struct CursorPoint {
    int x = 0;
    int y = 0;
    bool operator==(const CursorPoint&) const = default;
};

class Pointer {
public:
    virtual ~Pointer() = default;
    // Sends the events in order; returns how many were sent.
    virtual std::uint32_t sendInput(std::span<const MouseInput> events) = 0;
    // The cursor in screen pixels; nothing when it cannot be read.
    virtual std::optional<CursorPoint> cursorPos() = 0;
};

// Window ids are the window system's own; 0 is no window.
class WindowFocus {
public:
    virtual ~WindowFocus() = default;
    // The top-level window the user works in; 0 when none is known.
    virtual std::uint64_t foregroundWindow() = 0;
    // The process that owns a window; 0 when it cannot be told.
    virtual int windowProcess(std::uint64_t window) = 0;
};

// X11 backends on `display` (null: $DISPLAY). Null when the display cannot
// be opened (the pointer also needs the XTEST extension).
std::unique_ptr<Pointer> openX11Pointer(const char* display = nullptr);
std::unique_ptr<WindowFocus> openX11Focus(const char* display = nullptr);

// A screen with a cursor, for tests. Relative moves add to the cursor and
// absolute ones map 0..65535 onto the screen, both kept on the screen.
// Thread-safe.
class FakePointer final : public Pointer {
public:
    explicit FakePointer(int width = 1024, int height = 768) : width_(width), height_(height) {}

    std::uint32_t sendInput(std::span<const MouseInput> events) override;
    std::optional<CursorPoint> cursorPos() override;

    // The user moves the mouse.
    void moveByHand(int x, int y);
    // The next reads of the cursor fail.
    void failReads(bool fail);
    std::vector<MouseInput> events() const;
    void clearEvents();

private:
    void clamp();

    mutable std::mutex mutex_;
    int width_;
    int height_;
    CursorPoint cursor_{};
    bool failReads_ = false;
    std::vector<MouseInput> events_;
};

class FakeWindowFocus final : public WindowFocus {
public:
    void setForeground(std::uint64_t window, int pid);
    std::uint64_t foregroundWindow() override;
    int windowProcess(std::uint64_t window) override;
    int foregroundQueries() const;

private:
    mutable std::mutex mutex_;
    std::uint64_t window_ = 0;
    int pid_ = 0;
    int queries_ = 0;
};

} // namespace platform
