#pragma once
// Where the program's files are.
//
// A program run from a build tree (or from a copy of one) keeps everything
// in the folder of its executable, which holds the suite's libraries beside
// it. An installed program (<prefix>/bin/vistrel) works in the user's data
// folder, $XDG_DATA_HOME/orvane (default ~/.local/share/orvane), and reads
// what it ships from <prefix>/share/orvane (catalogue, models, language
// modules, help) and <prefix>/lib/orvane (libraries).
//
// Every relative file name of the suite ("settings.xml", "Profiles\x.xml",
// "Language/x.so", "models", "sgl.dat") is found through resolve(): in the
// first of the working, data and library folders that has it, else in the
// working folder, where everything the suite writes goes (the working folder
// is the process's current folder, so names written relative to it land
// there too). Without folders set (tests, tools) names stay relative to the
// current folder.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct ProgramFolders {
    std::filesystem::path work;      // writable: settings, profiles, recordings, updates
    std::filesystem::path data;      // read-only data shipped with the program
    std::filesystem::path libraries; // the suite's libraries
    bool installed = false;

    friend bool operator==(const ProgramFolders&, const ProgramFolders&) = default;
};

// The file whose presence beside the executable marks a build tree's
// program folder.
inline constexpr std::string_view kBuildTreeMarker = "OVClient.so";
// Below an install prefix.
inline constexpr std::string_view kInstalledDataFolder = "share/orvane";
inline constexpr std::string_view kInstalledLibraryFolder = "lib/orvane";
// Below $XDG_DATA_HOME.
inline constexpr std::string_view kUserFolderName = "orvane";

// The environment as the folders are read from it (a test passes its own).
using Environment = std::function<const char*(const char*)>;

// This program's own executable file (/proc/self/exe); empty when unknown.
std::filesystem::path ownExecutable();

// The folders of a program whose executable is `exe`: its own folder when
// that holds the client library (a build tree or a copy of one); the
// installed layout when `exe` lies in <prefix>/bin and <prefix>/share/orvane
// exists; else its own folder. The user's data folder follows the XDG rules
// (an unset, empty or relative XDG_DATA_HOME means ~/.local/share).
ProgramFolders programFoldersFor(const std::filesystem::path& exe, const Environment& env = &std::getenv);

// The folders resolve() uses; nullopt (the start) keeps names relative.
void setProgramFolders(std::optional<ProgramFolders> folders);
std::optional<ProgramFolders> programFolders();

// A relative name of the suite, with '\' as '/' and doubled separators
// collapsed; an absolute name stays as it is.
std::filesystem::path suitePath(std::string_view name);

// Finds `name` in a folder: the path to use when it is there.
using FindInFolder = std::function<std::optional<std::filesystem::path>(const std::filesystem::path& candidate)>;

// The path of a relative name: see above. `find` decides whether a
// candidate is there (default: it exists), so that a caller can match a
// module's name without regard to case.
std::filesystem::path resolve(std::string_view name);
std::filesystem::path resolve(std::string_view name, const FindInFolder& find);

// Makes the working folder when it is missing (0700) and copies into it from
// the data folder each of `seeds` (files or folders) that it lacks; what the
// user already has is never touched. Then checks that a file can be made in
// it. The text says what failed, empty when the folder is usable.
std::string prepareWorkFolder(const ProgramFolders& folders, std::initializer_list<std::string_view> seeds);

} // namespace platform
