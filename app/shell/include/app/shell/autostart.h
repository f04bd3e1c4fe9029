#pragma once
// "Run at Startup": the desktop's autostart entry for the program. On a
// Linux desktop that is an XDG autostart file, "vistrel.desktop" in the
// user's autostart folder, naming the program's path; turning the option off
// removes it. Failures are ignored by the caller, as the option stays a
// setting either way.
#include <filesystem>
#include <optional>
#include <string>

namespace app {

// $XDG_CONFIG_HOME/autostart, else ~/.config/autostart; empty when neither
// is known.
std::filesystem::path DefaultAutostartFolder();

// The entry's text for the program at `program`; nullopt for a path the
// entry cannot hold (a line break or another control character in it).
std::optional<std::string> AutostartEntry(const std::filesystem::path& program);

// Writes (on) or removes (off) the entry in `folder`; true when the folder
// now says what was asked. The file is written through a temporary file.
bool SetRunAtStartup(const std::filesystem::path& folder, const std::filesystem::path& program, bool on);

inline constexpr const char* kAutostartFile = "vistrel.desktop";

} // namespace app
