#include "mouse/foreground.h"

#include <algorithm>
#include <cctype>

namespace vslmouse {
namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && platform::equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string baseName(std::string_view path)
{
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace

bool IsDirectInputModuleList(std::span<const std::string> modules)
{
    if (modules.empty())
        return false;
    if (platform::equalsIgnoreCase(modules.front(), "VSLMouse.exe") ||
        platform::equalsIgnoreCase(modules.front(), "vslmouse"))
        return true;
    // The whole prefix is required: a shorter name (even an empty one) is
    // no DirectInput module.
    return std::any_of(modules.begin(), modules.end(),
                       [](const std::string& m) { return startsWithNoCase(m, "dinput"); });
}

std::vector<std::string> SystemForeground::ModuleNames(std::uint64_t window)
{
    const int pid = focus_.windowProcess(window);
    if (pid <= 0)
        return {};
    std::vector<std::string> names;
    std::string exe = processes_.executableName(pid);
    if (exe.empty())
        return {};
    names.push_back(std::move(exe));
    if (auto process = processes_.open(pid)) {
        for (const platform::MemoryRegion& r : process->regions()) {
            if (r.path.empty() || r.path.front() != '/')
                continue; // anonymous memory and [heap]-like pseudo names
            std::string name = baseName(r.path);
            if (std::find(names.begin() + 1, names.end(), name) == names.end())
                names.push_back(std::move(name));
        }
    }
    return names;
}

} // namespace vslmouse
