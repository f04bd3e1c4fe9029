#include "views/game_table.h"

#include <algorithm>

namespace views {

namespace {

template <typename T>
std::unique_ptr<CGameDetails> make()
{
    return std::make_unique<T>();
}

// Simulator rows (through its own client library) and the helper-injected
// row are not part of this build: their writers need programs outside it.
const SupportedGame kTable[] = {
    {nullptr, nullptr, 0, u"Flight Simulator 2004", 2303, &make<CFS2004>, u"FS98Main",
     u"Microsoft Flight Simulator 2004", u"FS98Main", u"Microsoft Flight Simulator -", "fs9.exe"},
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

ProcessWindowSource::ProcessWindowSource(std::span<const SupportedGame> table, platform::ProcessSystem& system)
    : table_(table), system_(system)
{
}

std::vector<GameWindow> ProcessWindowSource::topLevelWindows()
{
    std::vector<GameWindow> windows;
    std::erase_if(seen_, [](const auto& entry) { return !entry.second->alive(); });
    for (const SupportedGame& row : table_) {
        if (!row.displayName || !row.executable)
            continue;
        for (int pid : system_.findByExecutable(row.executable)) {
            const auto id = static_cast<std::uint64_t>(pid);
            auto known = std::find_if(seen_.begin(), seen_.end(), [&](const auto& e) { return e.first == id; });
            if (known == seen_.end()) {
                auto handle = system_.open(pid);
                if (!handle)
                    continue;
                seen_.emplace_back(id, std::move(handle));
            }
            windows.push_back({id, row.className, row.title, static_cast<std::uint32_t>(pid)});
        }
    }
    return windows;
}

bool ProcessWindowSource::exists(std::uint64_t id)
{
    auto known = std::find_if(seen_.begin(), seen_.end(), [&](const auto& e) { return e.first == id; });
    return known != seen_.end() && known->second->alive();
}

} // namespace views
