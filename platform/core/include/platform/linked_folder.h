#pragma once
// A set of files replaced whole: the files live in a folder "<name>.XXXXXX"
// beside a symbolic link "<name>" that names it. An install writes the new
// set into a new folder and switches the link to it by one rename, so a
// crash or a kill at any point leaves the old set or the new one, never a
// mix. Readers resolve the link once and read every file of the set from
// the folder it named.
//
// A kill before the switch leaves the new folder (and the link being made,
// ".<name>.XXXXXX.link") behind; RemoveLinkedFolderLeftovers deletes those,
// and only those, at the next start.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform::files {

// The folder `link` names, resolved to its real path; nullopt when `link`
// is not a link to a folder.
std::optional<std::filesystem::path> LinkedFolder(const std::filesystem::path& link);

struct FolderFile {
    std::string name; // a bare file name
    std::span<const std::uint8_t> bytes;
};

// Writes `files` (mode 0644) into a new folder beside `link`, flushes them,
// then points `link` at the new folder by one rename. The folder `link`
// named before is removed afterwards when `removePrevious`, else kept (for a
// reader that still uses it) until the next RemoveLinkedFolderLeftovers.
// 0, or the errno of the failed step; on failure nothing has changed.
int InstallLinkedFolder(const std::filesystem::path& link, std::span<const FolderFile> files, bool removePrevious);

// Whether `name` is a folder name InstallLinkedFolder makes for `link`.
bool IsLinkedFolderName(std::string_view name, const std::filesystem::path& link);

// Deletes what installs for `link` left beside it: every folder of that
// pattern other than the one the link names, and the links being made.
// Only this user's entries of exactly those names; nothing else is touched.
// Returns how many were removed.
std::size_t RemoveLinkedFolderLeftovers(const std::filesystem::path& link);

} // namespace platform::files
