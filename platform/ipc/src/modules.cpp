#include "platform/modules.h"

#include <cctype>
#include <system_error>

#include <dlfcn.h>

#include "platform/program_folders.h"

namespace platform {

namespace {
bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
} // namespace

std::filesystem::path resolveModulePath(std::string_view name)
{
    std::string text;
    text.reserve(name.size() + 2);
    for (char c : name) {
        const char s = c == '\\' ? '/' : c;
        if (s == '/' && !text.empty() && text.back() == '/')
            continue; // "folder\" + "\file" gives a doubled separator
        text.push_back(s);
    }
    if (text.size() >= 4 && equalNoCase(std::string_view(text).substr(text.size() - 4), ".dll"))
        text.replace(text.size() - 4, 4, ".so");
    std::filesystem::path path(text);
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        return path;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const std::string wanted = path.filename().string();
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (equalNoCase(entry.path().filename().string(), wanted))
            return path.has_parent_path() ? folder / entry.path().filename() : entry.path().filename();
    }
    return path;
}

bool isBareFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<Module> Module::loadFromFolder(const std::filesystem::path& folder, std::string_view fileName)
{
    if (!isBareFileName(fileName))
        return std::nullopt;
    return load((folder / std::filesystem::path(std::string(fileName))).string());
}

std::filesystem::path findModule(std::string_view name)
{
    // A relative name is found in the program's folders (a language module
    // in the shipped data, the view library among the libraries).
    const std::filesystem::path found =
        resolve(name, [](const std::filesystem::path& candidate) -> std::optional<std::filesystem::path> {
            std::filesystem::path path = resolveModulePath(candidate.string());
            std::error_code ec;
            if (std::filesystem::exists(path, ec))
                return path;
            return std::nullopt;
        });
    return resolveModulePath(found.string());
}

std::optional<Module> Module::load(std::string_view name)
{
    const std::filesystem::path path = findModule(name);
    std::string file = path.string();
    // A bare name would make dlopen search the library path; a module of
    // ours is always a file name relative to the working folder or absolute.
    if (!path.has_parent_path())
        file = "./" + file;
    void* h = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr)
        return std::nullopt;
    return Module(h);
}

Module& Module::operator=(Module&& other) noexcept
{
    if (this != &other) {
        if (handle_ != nullptr)
            ::dlclose(handle_);
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

Module::~Module()
{
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

void* Module::symbol(const char* name) const
{
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

} // namespace platform
