#include "views/game_table.h"

#include "platform/utf.h"

#include <algorithm>

namespace views {

namespace {

template <typename T>
std::unique_ptr<CGameDetails> make()
{
    return std::make_unique<T>();
}

const SupportedGame kTable[] = {
    {nullptr, nullptr, 0, u"Flight Simulator 2004", 2303, &make<CFS2004>, u"FS98Main",
     u"Microsoft Flight Simulator 2004", u"FS98Main", u"Microsoft Flight Simulator -", "fs9.exe"},
    {nullptr, nullptr, 0, u"Flight Simulator X", 2305, &make<CFSX>, u"FS98Main", u"Microsoft Flight Simulator X",
     nullptr, nullptr, "fsx.exe"},
    {nullptr, nullptr, 0, u"Microsoft ESP", 2306, &make<CFSX>, u"FS98Main", u"Microsoft ESP", nullptr, nullptr,
     "esp.exe"},
    {nullptr, nullptr, 0, u"F1 Challenge 99-02", 4401, &make<CF1Challenge>, u"CUBERealtime", u"F1 Challenge",
     u"CUBEApp", u"F1 Challenge", "F1C.exe"},
    {nullptr, nullptr, 0, u"Gravelton Rally (patch v102)", 3401, &make<CGraveltonRally>, u"D3D Window",
     u"Gravelton Rally - DirectX9", nullptr, nullptr, "GraveltonRally.exe"},
    {nullptr, nullptr, 0, u"Combat Flight Simulator 3", 2304, &make<CCombatFS3>, u"CFS3_MainWnd",
     u"Combat Flight Simulator 3", nullptr, nullptr, "CFS3.exe"},
    {nullptr, nullptr, 0, u"ToCA Race Driver 2", 8102, &make<CToCARaceDriver2>, u"ToCA Race Driver 2",
     u"ToCA Race Driver 2", nullptr, nullptr, "RD2.exe"},
    {nullptr, nullptr, 0, u"DTM Race Driver 2", 8102, &make<CToCARaceDriver2>, u"DTM Race Driver 2",
     u"DTM Race Driver 2", nullptr, nullptr, "DTMRD2.exe"},
    {nullptr, nullptr, 0, u"V8 Supercars 2", 8102, &make<CToCARaceDriver2>, u"V8 Supercars 2", u"V8 Supercars 2",
     nullptr, nullptr, "V8S2.exe"},
    {nullptr, nullptr, 0, u"Dustline Rally 04", 8103, &make<CDustlineRally04>, u"PC_DLR4", u"PC_DLR4", nullptr,
     nullptr, "DLR4.exe"},
    {nullptr, nullptr, 0, u"NASCAR Racing Season 2003", 7804, &make<CNascarRacing2003>, u"PapyWin", u"NR2003",
     nullptr, nullptr, "NR2003.exe"},
    {nullptr, nullptr, 0, u"Wings of War", 7807, &make<CWingsOfWar>, u"LS3D", u"Wings of War", nullptr, nullptr,
     "WingsOfWar.exe"},
    {nullptr, &CheckBF2Version, 1, u"Battlefield 2", 9651, &make<CBF2>, u"BF2 (", u"BF2 (", nullptr, nullptr,
     "BF2.exe"},
    {},
};

char16_t lower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool prefixEqual(std::u16string_view a, std::u16string_view b, bool ignoreCase)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (ignoreCase ? lower(a[i]) != lower(b[i]) : a[i] != b[i])
            return false;
    return true;
}

bool pairMatches(const GameWindow& w, const char16_t* cls, const char16_t* title)
{
    return cls && title && prefixEqual(w.className, cls, true) && prefixEqual(w.title, title, false);
}


} // namespace

std::span<const SupportedGame> gameTable()
{
    return kTable;
}

int MatchGameWindow(const GameWindow& window, const SupportedGame& row)
{
    // Class names are at most 260 characters, as the system gives them.
    GameWindow w = window;
    if (w.className.size() > 260)
        w.className.resize(260);
    if (w.title.size() > 260)
        w.title.resize(260);
    if (w.className.empty())
        return 1;
    if (pairMatches(w, row.className, row.title))
        return 0;
    if (row.altClassName && pairMatches(w, row.altClassName, row.altTitle))
        return 0;
    return 1;
}

bool CheckBF2Version(CProcessPoker*, const char** outText)
{
    if (outText)
        *outText = "version checking done in the injected dll.";
    return true;
}

std::optional<GameWindow> WindowList::findGameWindow(const SupportedGame& row)
{
    // A window that does not name its process cannot be attached to: the
    // first match that does is taken before it.
    std::optional<GameWindow> unowned;
    for (GameWindow& w : topLevelWindows())
        if (MatchGameWindow(w, row) == 0) {
            if (w.pid != 0)
                return std::move(w);
            if (!unowned)
                unowned = std::move(w);
        }
    return unowned;
}

std::vector<GameWindow> X11WindowSource::topLevelWindows()
{
    std::vector<GameWindow> out;
    for (platform::TopLevelWindow& w : windows_.list())
        out.push_back({w.id, platform::latin1ToUtf16(w.className), std::move(w.title), w.pid});
    return out;
}

bool X11WindowSource::exists(std::uint64_t id)
{
    return id <= 0xFFFFFFFFu && windows_.exists(static_cast<std::uint32_t>(id));
}

void X11WindowSource::forget(std::uint64_t id)
{
    if (id <= 0xFFFFFFFFu)
        windows_.forget(static_cast<std::uint32_t>(id));
}

std::optional<GameWindow> ProcessWindowSource::findGameWindow(const SupportedGame& row)
{
    if (!row.executable)
        return std::nullopt;
    std::erase_if(seen_, [](const auto& entry) { return !entry.second->alive(); });
    for (int pid : system_.findByExecutable(row.executable)) {
        const std::uint64_t id = kProcessWindowBit | static_cast<std::uint32_t>(pid);
        auto known = std::find_if(seen_.begin(), seen_.end(), [&](const auto& e) { return e.first == id; });
        if (known == seen_.end()) {
            auto handle = system_.open(pid);
            if (!handle)
                continue; // gone, or another user's
            seen_.emplace_back(id, std::move(handle));
        }
        return GameWindow{id, row.className, row.title, static_cast<std::uint32_t>(pid)};
    }
    return std::nullopt;
}

bool ProcessWindowSource::exists(std::uint64_t id)
{
    auto known = std::find_if(seen_.begin(), seen_.end(), [&](const auto& e) { return e.first == id; });
    return known != seen_.end() && known->second->alive();
}

void ProcessWindowSource::forget(std::uint64_t id)
{
    std::erase_if(seen_, [&](const auto& entry) { return entry.first == id; });
}

std::optional<GameWindow> GameWindowFinder::findGameWindow(const SupportedGame& row)
{
    auto window = windows_.findGameWindow(row);
    if (window && window->pid != 0)
        return window;
    // No window, or one without _NET_WM_PID (not every program sets it):
    // the game's process is looked for by its executable.
    if (auto process = processes_.findGameWindow(row))
        return process;
    return window;
}

bool GameWindowFinder::exists(std::uint64_t id)
{
    return (id & ProcessWindowSource::kProcessWindowBit) ? processes_.exists(id) : windows_.exists(id);
}

void GameWindowFinder::forget(std::uint64_t id)
{
    if (id & ProcessWindowSource::kProcessWindowBit)
        processes_.forget(id);
    else
        windows_.forget(id);
}

} // namespace views
