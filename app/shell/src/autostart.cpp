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

// The Exec key's value: the path in double quotes. Inside quotes the
// characters " ` $ and \ take a backslash, and a % is doubled (field codes);
// then the string rules of the format double every backslash again, so a
// literal backslash becomes four.
std::optional<std::string> QuoteExec(const std::string& path)
{
    std::string out = "\"";
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
        if (c == '\\')
            out += "\\\\\\\\";
        else if (c == '"' || c == '`' || c == '$')
            out += std::string("\\\\") + c;
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out + "\"";
}

} // namespace

std::optional<std::string> AutostartEntry(const fs::path& program)
{
    const auto exec = QuoteExec(program.string());
    if (!exec)
        return std::nullopt;
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vistrel\n"
           "Comment=Head tracking\n"
           "Exec=" +
           *exec +
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
    const auto entry = AutostartEntry(program);
    if (!entry)
        return false;
    fs::create_directories(folder, ec);
    const fs::path temp = folder / (std::string(kAutostartFile) + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << *entry;
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
