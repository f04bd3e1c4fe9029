#include "app/shell/autostart.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace app {

namespace fs = std::filesystem;

fs::path DefaultAutostartFolder()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        return fs::path(config) / "autostart";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return fs::path(home) / ".config" / "autostart";
    return {};
}

namespace {

// The Exec key's quoting: the path in double quotes, with the characters
// the desktop entry format reserves inside quotes escaped.
std::string QuoteExec(const std::string& path)
{
    std::string out = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += "\\\\";
        if (c == '%')
            out += '%';
        if (c == '\n' || c == '\r')
            continue;
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string AutostartEntry(const fs::path& program)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vistrel\n"
           "Comment=Head tracking\n"
           "Exec=" +
           QuoteExec(program.string()) +
           "\n"
           "Terminal=false\n";
}

bool SetRunAtStartup(const fs::path& folder, const fs::path& program, bool on)
{
    if (folder.empty())
        return false;
    std::error_code ec;
    const fs::path file = folder / kAutostartFile;
    if (!on) {
        fs::remove(file, ec);
        return !fs::exists(file, ec);
    }
    fs::create_directories(folder, ec);
    const fs::path temp = folder / (std::string(kAutostartFile) + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << AutostartEntry(program);
        out.flush();
        if (!out) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, file, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

} // namespace app
