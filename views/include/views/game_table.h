#pragma once
// The supported games, in the order the worker tries them, and how their
// windows are matched.
#include "views/game_details.h"

#include <cstdint>
#include <memory>
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
    // The game's program file: on this system a game is found by its
    // running executable, which stands for its main window.
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

// Where the worker looks for game windows.
class WindowSource {
public:
    virtual ~WindowSource() = default;
    virtual std::vector<GameWindow> topLevelWindows() = 0;
    virtual bool exists(std::uint64_t id) = 0;
};

// Game windows stood for by running processes: each process whose
// executable is a row's gets a window with that row's class and title; the
// window lives as long as the process.
class ProcessWindowSource : public WindowSource {
public:
    ProcessWindowSource(std::span<const SupportedGame> table, platform::ProcessSystem& system);
    std::vector<GameWindow> topLevelWindows() override;
    bool exists(std::uint64_t id) override;

private:
    std::span<const SupportedGame> table_;
    platform::ProcessSystem& system_;
    std::vector<std::pair<std::uint64_t, std::unique_ptr<platform::ProcessHandle>>> seen_;
};

bool CheckBF2Version(CProcessPoker*, const char** outText);

} // namespace views
