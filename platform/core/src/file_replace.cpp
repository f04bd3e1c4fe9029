#include "platform/file_replace.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {
namespace {

constexpr std::string_view kTempMark = ".tmp-";
constexpr std::size_t kUniqueLength = 6; // mkstemp's XXXXXX

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The temporary file is written whole and flushed, then renamed onto
// `target` (over it only when `replace`). On failure errno tells why.
bool WriteWhole(const std::filesystem::path& target, std::string_view data, mode_t mode, bool replace)
{
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string temp = (folder / ("." + target.filename().string() + std::string(kTempMark) + "XXXXXX")).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (replace && ::stat(target.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    bool ok = writeAll(fd, data);
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = replace ? ::rename(temp.c_str(), target.c_str()) == 0
                     : ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    // The rename itself must reach the disk too.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace

bool ReplaceFile(const std::filesystem::path& target, std::string_view data, mode_t mode)
{
    return WriteWhole(target, data, mode, true);
}

bool CreateFileWhole(const std::filesystem::path& target, std::string_view data, mode_t mode)
{
    return WriteWhole(target, data, mode, false);
}

bool IsUniqueSuffix(std::string_view text)
{
    if (text.size() != kUniqueLength)
        return false;
    for (const char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool IsTemporaryName(std::string_view name, const std::function<bool(std::string_view)>& targetName)
{
    if (name.size() < 1 + kTempMark.size() + kUniqueLength || name.front() != '.')
        return false;
    if (!IsUniqueSuffix(name.substr(name.size() - kUniqueLength)))
        return false;
    std::string_view rest = name.substr(1, name.size() - 1 - kUniqueLength);
    if (!rest.ends_with(kTempMark))
        return false;
    rest.remove_suffix(kTempMark.size());
    return !rest.empty() && targetName(rest);
}

std::size_t RemoveLeftoverTemporaries(const std::filesystem::path& folder,
                                      const std::function<bool(std::string_view)>& targetName)
{
    std::size_t removed = 0;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return 0;
    for (const std::filesystem::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        if (!IsTemporaryName(name, targetName))
            continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::unlink(entry.path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

std::int64_t FileSize(const std::filesystem::path& file)
{
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int64_t>(st.st_size);
}

} // namespace platform::files
