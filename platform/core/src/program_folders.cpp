#include "platform/program_folders.h"

#include "platform/file_replace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
std::optional<ProgramFolders> g_folders;

fs::path homeFolder(const Environment& env)
{
    if (const char* home = env("HOME"); home != nullptr && *home == '/')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "/";
}

fs::path userDataFolder(const Environment& env)
{
    // The XDG rules: a relative value is invalid and ignored.
    if (const char* data = env("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return fs::path(data) / kUserFolderName;
    return homeFolder(env) / ".local" / "share" / kUserFolderName;
}

std::string describe(const std::string& what, const fs::path& path, int error)
{
    return what + " " + path.string() + ": " + std::strerror(error);
}

bool readWhole(const fs::path& path, std::string& out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return n == 0;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

// Copies a file or a folder tree from `from` to the new path `to` (inside
// a temporary folder that is renamed into place by the caller).
std::string copyTree(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    if (fs::is_directory(from, ec)) {
        if (::mkdir(to.c_str(), 0755) != 0)
            return describe("cannot make the folder", to, errno);
        for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
            if (std::string problem = copyTree(it->path(), to / it->path().filename()); !problem.empty())
                return problem;
        }
        if (ec)
            return describe("cannot read the folder", from, ec.value());
        return {};
    }
    std::string bytes;
    if (!readWhole(from, bytes))
        return describe("cannot read", from, errno);
    if (!files::ReplaceFile(to, bytes, 0644))
        return describe("cannot write", to, errno);
    return {};
}

// Puts a copy of `from` at `to` unless something is there already: a file
// is written whole and renamed into place, a folder is filled under a
// temporary name and then renamed, so that a start cut short leaves either
// nothing or the whole seed.
std::string seed(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    if (fs::symlink_status(to, ec).type() != fs::file_type::not_found)
        return {};
    if (!fs::exists(from, ec))
        return {};
    const std::string stem = to.filename().string();
    if (!fs::is_directory(from, ec)) {
        std::string bytes;
        if (!readWhole(from, bytes))
            return describe("cannot read", from, errno);
        // Never over a file that appeared meanwhile.
        if (!files::CreateFileWhole(to, bytes, 0644) && errno != EEXIST)
            return describe("cannot write", to, errno);
        return {};
    }
    std::string pattern = (to.parent_path() / ("." + stem + ".seed-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return describe("cannot write in", to.parent_path(), errno);
    const fs::path temp = pattern;
    std::string problem;
    for (fs::directory_iterator it(from, ec), end; problem.empty() && !ec && it != end; it.increment(ec))
        problem = copyTree(it->path(), temp / it->path().filename());
    if (problem.empty() && ec)
        problem = describe("cannot read the folder", from, ec.value());
    if (problem.empty() && ::chmod(temp.c_str(), 0755) != 0)
        problem = describe("cannot write", temp, errno);
    if (problem.empty() && ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0 &&
        errno != EEXIST)
        problem = describe("cannot write", to, errno);
    fs::remove_all(temp, ec);
    return problem;
}

// Makes `folder` and any missing parents, new ones 0700 (the XDG rule).
std::string makeFolders(const fs::path& folder)
{
    std::error_code ec;
    if (fs::is_directory(folder, ec))
        return {};
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        if (std::string problem = makeFolders(folder.parent_path()); !problem.empty())
            return problem;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return describe("cannot make the folder", folder, errno);
    if (!fs::is_directory(folder, ec))
        return describe("cannot make the folder", folder, ENOTDIR);
    return {};
}

} // namespace

fs::path ownExecutable()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe;
}

ProgramFolders programFoldersFor(const fs::path& exe, const Environment& env)
{
    const fs::path own = exe.parent_path();
    ProgramFolders out{own, own, own, false};
    std::error_code ec;
    if (fs::exists(own / kBuildTreeMarker, ec))
        return out;
    const fs::path prefix = own.parent_path();
    if (own.filename() != "bin" || !fs::is_directory(prefix / kInstalledDataFolder, ec))
        return out;
    out.work = userDataFolder(env);
    out.data = prefix / kInstalledDataFolder;
    out.libraries = prefix / kInstalledLibraryFolder;
    out.installed = true;
    return out;
}

void setProgramFolders(std::optional<ProgramFolders> folders)
{
    std::lock_guard lock(g_mutex);
    g_folders = std::move(folders);
}

std::optional<ProgramFolders> programFolders()
{
    std::lock_guard lock(g_mutex);
    return g_folders;
}

fs::path suitePath(std::string_view name)
{
    std::string text;
    text.reserve(name.size());
    for (char c : name) {
        const char s = c == '\\' ? '/' : c;
        if (s == '/' && !text.empty() && text.back() == '/')
            continue;
        text.push_back(s);
    }
    return text;
}

fs::path resolve(std::string_view name)
{
    return resolve(name, [](const fs::path& candidate) -> std::optional<fs::path> {
        std::error_code ec;
        if (fs::exists(candidate, ec))
            return candidate;
        return std::nullopt;
    });
}

fs::path resolve(std::string_view name, const FindInFolder& find)
{
    const fs::path relative = suitePath(name);
    if (relative.is_absolute())
        return relative;
    const std::optional<ProgramFolders> folders = programFolders();
    if (!folders)
        return relative;
    for (const fs::path* folder : {&folders->work, &folders->data, &folders->libraries}) {
        if (folder->empty())
            continue;
        if (auto found = find(*folder / relative))
            return *found;
    }
    return folders->work / relative;
}

std::string prepareWorkFolder(const ProgramFolders& folders, std::initializer_list<std::string_view> seeds)
{
    if (std::string problem = makeFolders(folders.work); !problem.empty())
        return problem;
    if (folders.data != folders.work) {
        for (std::string_view name : seeds) {
            const fs::path relative = suitePath(name);
            if (std::string problem = seed(folders.data / relative, folders.work / relative); !problem.empty())
                return problem;
        }
    }
    std::string probe = (folders.work / ".write-test-XXXXXX").string();
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return describe("cannot write in", folders.work, errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

} // namespace platform
