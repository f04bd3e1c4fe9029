#pragma once
// Files replaced whole: the new contents go to a temporary file beside the
// target, are flushed to disk and renamed over it, so a crash or a kill at
// any point leaves either the old file or the new one, never a mix.
//
// The temporary file is named ".<target name>.tmp-XXXXXX" (six letters or
// digits). A kill between creating and renaming it leaves it behind;
// RemoveLeftoverTemporaries deletes such files, and only such files, at the
// next start.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <sys/types.h>

namespace platform::files {

// Replaces `target` by `data`. A new file gets `mode`; an existing one keeps
// its permissions. False (and the old file untouched) when any step failed.
bool ReplaceFile(const std::filesystem::path& target, std::string_view data, mode_t mode = 0644);

// Writes `data` as the new file `target` the same way, but never over a
// file: false with errno EEXIST when one is there by the time of the rename
// (and nothing changed). Any other failure sets errno too.
bool CreateFileWhole(const std::filesystem::path& target, std::string_view data, mode_t mode = 0644);

// Whether `text` is what mkstemp and mkdtemp put for "XXXXXX": six letters
// or digits.
bool IsUniqueSuffix(std::string_view text);

// True when `name` is a temporary name that ReplaceFile makes for a target
// whose name `targetName` accepts.
bool IsTemporaryName(std::string_view name, const std::function<bool(std::string_view targetName)>& targetName);

// Deletes the regular files in `folder` (not below it) that are this
// process's user's and whose names IsTemporaryName accepts. Returns how
// many were removed.
std::size_t RemoveLeftoverTemporaries(const std::filesystem::path& folder,
                                      const std::function<bool(std::string_view targetName)>& targetName);

// The size of `file` in bytes, or -1 when it cannot be looked at.
std::int64_t FileSize(const std::filesystem::path& file);

} // namespace platform::files
