#include "platform/linked_folder.h"

#include "platform/file_replace.h"

#include <cerrno>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kUniqueLength = 6; // mkdtemp's XXXXXX
constexpr std::string_view kMakingSuffix = ".link";

fs::path folderOf(const fs::path& link) { return link.has_parent_path() ? link.parent_path() : fs::path("."); }

// ".<folder name>.link": the link made beside the new folder, renamed over
// the real one.
bool isMakingLinkName(std::string_view name, const fs::path& link)
{
    if (name.size() < 2 || name.front() != '.' || !name.ends_with(kMakingSuffix))
        return false;
    name.remove_prefix(1);
    name.remove_suffix(kMakingSuffix.size());
    return IsLinkedFolderName(name, link);
}

bool syncFolder(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

std::optional<fs::path> LinkedFolder(const fs::path& link)
{
    std::error_code ec;
    if (!fs::is_directory(link, ec))
        return std::nullopt;
    // Resolved once: every file of the set comes from the same folder even
    // when an install switches the link meanwhile.
    fs::path real = fs::canonical(link, ec);
    if (ec)
        return std::nullopt;
    return real;
}

bool IsLinkedFolderName(std::string_view name, const fs::path& link)
{
    const std::string stem = link.filename().string();
    if (stem.empty() || name.size() != stem.size() + 1 + kUniqueLength || !name.starts_with(stem) ||
        name[stem.size()] != '.')
        return false;
    return IsUniqueSuffix(name.substr(stem.size() + 1));
}

int InstallLinkedFolder(const fs::path& link, std::span<const FolderFile> files, bool removePrevious)
{
    const fs::path parent = folderOf(link);
    std::string pattern = (parent / (link.filename().string() + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return errno;
    const fs::path fresh = pattern;
    auto fail = [&](int error) {
        std::error_code ignored;
        fs::remove_all(fresh, ignored);
        return error != 0 ? error : EIO;
    };
    if (::chmod(fresh.c_str(), 0755) != 0)
        return fail(errno);
    for (const FolderFile& file : files) {
        const std::string_view data(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
        if (file.name.empty() || file.name.find('/') != std::string::npos)
            return fail(EINVAL);
        if (!CreateFileWhole(fresh / file.name, data, 0644))
            return fail(errno);
    }
    if (!syncFolder(fresh))
        return fail(errno);

    std::error_code ec;
    const fs::path previous = fs::read_symlink(link, ec);
    const fs::path making = parent / ("." + fresh.filename().string() + std::string(kMakingSuffix));
    if (::symlink(fresh.filename().c_str(), making.c_str()) != 0)
        return fail(errno);
    // The one step that changes what readers see.
    if (::rename(making.c_str(), link.c_str()) != 0) {
        const int error = errno;
        ::unlink(making.c_str());
        return fail(error);
    }
    syncFolder(parent);
    if (removePrevious && !previous.empty() && previous.filename() != fresh.filename() &&
        IsLinkedFolderName(previous.filename().string(), link)) {
        std::error_code ignored;
        fs::remove_all(parent / previous.filename(), ignored);
    }
    return 0;
}

std::size_t RemoveLinkedFolderLeftovers(const fs::path& link)
{
    const fs::path parent = folderOf(link);
    std::error_code ec;
    const std::string current = fs::read_symlink(link, ec).filename().string();
    std::size_t removed = 0;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const bool folder = IsLinkedFolderName(name, link);
        if (!(folder && name != current) && !isMakingLinkName(name, link))
            continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || st.st_uid != ::geteuid())
            continue;
        std::error_code ignored;
        if (folder && S_ISDIR(st.st_mode)) {
            if (fs::remove_all(it->path(), ignored) > 0)
                ++removed;
        } else if (!folder && S_ISLNK(st.st_mode) && ::unlink(it->path().c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

} // namespace platform::files
