#pragma once
// The supported games, in the order the worker tries them, and how their
// windows are matched.
#include "platform/x11_windows.h"
#include "views/game_details.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace views {

struct SupportedGame {
    const char* outText = nullptr;
    bool (*preCheck)(CProcessPoker*, const char** outText) = nullptr;
    std::uint8_t helperDoesIt = 0;
    const char16_t* displayName = nullptr; // null ends the table
    std::uint32_t profileId = 0;
    std::unique_ptr<CGameDetails> (*factory)() = nullptr;
    const char16_t* className = nullptr;
    const char16_t* title = nullptr;
    const char16_t* altClassName = nullptr;
    const char16_t* altTitle = nullptr;
    // The game's program file: a game whose window cannot be found (no X
    // server, or a window that shows other names) is found by its running
    // executable instead, which then stands for its window.
    const char* executable = nullptr;
};

// The built-in table, ended by a row whose display name is null.
std::span<const SupportedGame> gameTable();

// A top-level window as the worker sees it.
struct GameWindow {
    std::uint64_t id = 0;
    std::u16string className;
    std::u16string title;
    std::uint32_t pid = 0;
};

// 0 when the window belongs to the row's game (prefix tests over the
// shorter length: class without case, title with case).
int MatchGameWindow(const GameWindow& window, const SupportedGame& row);

// Where the worker looks for a row's game window.
class WindowSource {
public:
    virtual ~WindowSource() = default;
    // The first window that matches the row; nullopt when none does.
    virtual std::optional<GameWindow> findGameWindow(const SupportedGame& row) = 0;
    virtual bool exists(std::uint64_t id) = 0;
    // The worker is done with the window (its session ended).
    virtual void forget(std::uint64_t /*id*/) {}
};

// A source that lists the top-level windows, matched in the order listed;
// a matching window that names its process comes before one that does not.
class WindowList : public WindowSource {
public:
    virtual std::vector<GameWindow> topLevelWindows() = 0;
    std::optional<GameWindow> findGameWindow(const SupportedGame& row) override;
};

// The desktop's X11 windows: the class name of WM_CLASS, the title, and
// _NET_WM_PID for the owner (0 when the window does not say).
class X11WindowSource : public WindowList {
public:
    explicit X11WindowSource(std::string display = {}) : windows_(std::move(display)) {}
    std::vector<GameWindow> topLevelWindows() override;
    bool exists(std::uint64_t id) override;
    void forget(std::uint64_t id) override;

private:
    platform::X11Windows windows_;
};

// Game windows stood for by running processes: a process whose executable
// is the row's gets a window with the row's class and title, living as long
// as the process. Their ids carry kProcessWindowBit.
class ProcessWindowSource : public WindowSource {
public:
    static constexpr std::uint64_t kProcessWindowBit = 1ull << 63;

    explicit ProcessWindowSource(platform::ProcessSystem& system) : system_(system) {}
    std::optional<GameWindow> findGameWindow(const SupportedGame& row) override;
    bool exists(std::uint64_t id) override;
    void forget(std::uint64_t id) override;

private:
    platform::ProcessSystem& system_;
    std::vector<std::pair<std::uint64_t, std::unique_ptr<platform::ProcessHandle>>> seen_;
};

// Windows first; a row's executable only where no window matches it, or
// where the matching window does not name its process.
class GameWindowFinder : public WindowSource {
public:
    GameWindowFinder(WindowSource& windows, ProcessWindowSource& processes) : windows_(windows), processes_(processes) {}
    std::optional<GameWindow> findGameWindow(const SupportedGame& row) override;
    bool exists(std::uint64_t id) override;
    void forget(std::uint64_t id) override;

private:
    WindowSource& windows_;
    ProcessWindowSource& processes_;
};

bool CheckBF2Version(CProcessPoker*, const char** outText);

} // namespace views
