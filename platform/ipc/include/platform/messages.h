#pragma once
// Windows and message queues between threads and processes of one session.
//
// A window is a 32-bit handle owned by the thread that created it, with a
// procedure that runs on that thread. Handles are valid in every process of
// the session and never reused within it. Each thread that touches its queue
// gets one. Posted messages wait in the owner's queue until it gets them; a
// sent message blocks the sender while the owner runs the procedure inside
// its next get/peek/wait, also from another process (over the owner process's
// abstract AF_UNIX SOCK_SEQPACKET socket). Top-level windows are listed in a
// session window table in shared memory, so they can be found by class or
// title and checked for life from any process.
//
// Only processes of the same user reach a process's windows: the socket
// serves a peer only when its credentials (SO_PEERCRED) carry this user's
// id, and closes any other at once; a sender likewise talks only to a
// socket held by the table's owner process of the same user. Connections
// are bounded in number and in how long they may wait for their request,
// and every connect, send and receive is bounded in time.
//
// Message numbers are the classic ones (WM_USER 0x400, WM_APP 0x8000, ...).
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform {

class Clock;

using HWND = std::uint32_t;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

struct Msg {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

struct WindowDesc {
    std::string className;
    std::string title;
    bool topLevel = true; // listed in the session window table
};

// How long a send waits for its answer by default: a hung or dead owner
// must not hang the sender.
inline constexpr std::chrono::milliseconds kDefaultSendTimeout{5000};

// Opens the session's window table (done on first use anyway); false when
// it is refused or cannot be opened, sharedObjectError() saying why.
bool openWindowTable();

// Creates a window owned by the calling thread; 0 on failure (window table
// full or not reachable). WM_CREATE is not sent.
HWND createWindow(const WindowDesc& desc, WindowProc proc);
// Destroys a window of this process. On the owner thread the procedure gets
// WM_DESTROY first. False when the handle is not a window of this process.
bool destroyWindow(HWND hwnd);
// Whether `hwnd` names a live window (its owner process still runs).
bool isWindow(HWND hwnd);
// The first live top-level window whose class and title match (null matches
// any); 0 when none.
HWND findWindow(const char* className, const char* title);
// Title of a live window; empty when it is none.
std::string windowTitle(HWND hwnd);

// Posts to the owner's queue; hwnd 0 posts to the calling thread's queue.
bool postMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Posts WM_QUIT with `exitCode` to the calling thread's queue.
void postQuitMessage(int exitCode);
// Runs the window's procedure on its owner thread and waits for its result,
// at most `timeout`. No value when the window is gone, its owner died or
// did not answer in time.
std::optional<LRESULT> sendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                   std::chrono::milliseconds timeout = kDefaultSendTimeout);

// While a window procedure handles a sent message: the process that sent
// it (its pid from the message socket's peer credentials for a message from
// another process, this process's pid for one sent within it). 0 when the
// calling thread is not handling a sent message, or the peer's pid could not
// be read.
int messageSenderPid();

// Waits for the next posted message (sent messages are handled meanwhile).
// Returns 1 with a message, 0 when it is WM_QUIT.
int getMessage(Msg& out);
// Handles sent messages, then takes (remove) or looks at the next posted or
// timer message; false when there is none.
bool peekMessage(Msg& out, bool remove = true);
// Waits until a posted or timer message is ready (handling sent messages
// meanwhile) or `timeout` passes; true when one is ready.
bool waitMessage(std::chrono::milliseconds timeout);
// Calls the procedure of msg.hwnd (of this process); 0 when there is none.
LRESULT dispatchMessage(const Msg& msg);

// For a thread whose loop waits on descriptors (the GUI thread in Qt's event
// loop): a descriptor of the calling thread's queue that turns readable when
// a message is posted or sent to the thread or its timers change, so that
// the loop sleeps until there is something to get. The loop drains it
// (clearQueueWake) and then gets what waits. Owned by the queue; -1 when none
// could be made.
int queueWakeDescriptor();
void clearQueueWake();
// How long until the calling thread's next timer is due on the message
// clock (zero when one is due now); no value when it has no timers.
std::optional<std::chrono::milliseconds> nextTimerDue();
// Whether timers run on the system clock (no test clock is set): only then
// does the time until the next one stay true while the loop sleeps.
bool messageClockIsSystem();

// Timers: WM_TIMER with wParam `id` to `hwnd`'s owner queue every
// `elapseMs` of the message clock. Setting an existing id restarts it.
bool setTimer(HWND hwnd, std::uintptr_t id, std::uint32_t elapseMs);
bool killTimer(HWND hwnd, std::uintptr_t id);
// The clock timers run on; null restores the system clock.
void setMessageClock(Clock* clock);

} // namespace platform
