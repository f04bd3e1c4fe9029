#pragma once
// The view library's worker: finds a running supported game, attaches its
// writer and feeds it every new pose until the game goes away, then puts
// the game's memory back as it was.
#include "platform/sync.h"
#include "views/game_table.h"
#include "views/vistrel.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace views {

struct WorkerTiming {
    std::uint32_t roundPauseMs = 1000;  // before each scan of the table
    std::uint32_t rowPauseMs = 1000;    // after a row that was not taken
    std::uint32_t pollPauseMs = 5;      // no new pose yet
    std::uint32_t helperPauseMs = 1000; // helper-driven game: window checks
    std::uint32_t endWaitMs = 5000;     // after a session, before the next round
    int missLimit = 200;                // polls without the window
};

struct WorkerEnvironment {
    std::span<const SupportedGame> table = gameTable();
    platform::ProcessSystem* processes = &platform::systemProcesses();
    // Null: the desktop's X11 windows ($DISPLAY), and where no window
    // matches a row, the processes running the row's executable.
    WindowSource* windows = nullptr;
    // Null: a CVistrel of the worker's own.
    PoseSource* poses = nullptr;
    WorkerTiming timing{};
    // Register a window of the library's own for the game's session: the
    // engine checks the registered window's life, and a game's own window
    // lives in another window system.
    bool standInWindow = true;
};

class ViewWorker {
public:
    explicit ViewWorker(WorkerEnvironment env);
    // Runs until `stop` is set (an auto-reset event: its signal is taken).
    void run(platform::Event& stop);

private:
    bool pause(platform::Event& stop, std::uint32_t ms);
    bool stopped(platform::Event& stop);
    enum class SessionEnd { Refused, GameGone, Stopped };
    SessionEnd session(platform::Event& stop, CProcessPoker& poker, const SupportedGame& row, const GameWindow& window);

    WorkerEnvironment env_;
    std::unique_ptr<X11WindowSource> x11Windows_;
    std::unique_ptr<ProcessWindowSource> processWindows_;
    std::unique_ptr<WindowSource> ownWindows_;
    std::unique_ptr<CVistrel> ownPoses_;
    int miss_ = 0;
};

// The library's start and stop: one worker thread at a time.
class ViewLibrary {
public:
    ViewLibrary() = default;
    ~ViewLibrary() { stop(); }
    ViewLibrary(const ViewLibrary&) = delete;
    ViewLibrary& operator=(const ViewLibrary&) = delete;

    int start(WorkerEnvironment env = {});
    int stop();
    bool running() const { return running_.load(); }

private:
    std::unique_ptr<platform::Event> stop_;
    platform::Thread thread_;
    std::atomic<bool> running_{false};
};

} // namespace views

extern "C" __attribute__((visibility("default"))) int VSLViewsStart();
extern "C" __attribute__((visibility("default"))) int VSLViewsStop();
extern "C" __attribute__((visibility("default"))) int VSLViewsVersion();
