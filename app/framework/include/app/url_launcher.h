#pragma once
// Opening a web address in the user's browser, and the hyperlink error texts.
//
// Results keep the desktop shell's numbers: above 32 is success, 0-32 are
// the shell's error codes (2 file not found, 5 access denied, 8 out of
// memory, 31 no association, ...), so the error texts apply unchanged.
#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace app {

inline constexpr int kLaunchSucceeded = 33;

// The error box text for a failed launch with `code`.
std::u16string HyperlinkErrorText(int code);

// The command line to open `url` with a browser command such as $BROWSER
// names it: the command's words, the word "%1" (alone or in double quotes)
// replaced by the url; without one, the url is added as the last word. The
// url always stays one argument (no shell ever sees it).
std::vector<std::string> BrowserArguments(std::string_view command, std::string_view url);

class UrlLauncher {
public:
    virtual ~UrlLauncher() = default;
    // Opens `url`; above 32 on success, else a shell error code.
    virtual int Open(std::string_view url, int showCommand) = 0;
};

// Runs "xdg-open <url>"; when that cannot be started, the $BROWSER command
// (see BrowserArguments). A reaper thread collects each child as soon as it
// ends (the launcher never waits for one); it is joined by the destructor.
class SpawnUrlLauncher : public UrlLauncher {
public:
    SpawnUrlLauncher() = default;
    ~SpawnUrlLauncher() override;
    SpawnUrlLauncher(const SpawnUrlLauncher&) = delete;
    SpawnUrlLauncher& operator=(const SpawnUrlLauncher&) = delete;

    int Open(std::string_view url, int showCommand) override;

    // Runs `args` (args[0] looked up on PATH); kLaunchSucceeded or the shell
    // code of the failure.
    int Spawn(const std::vector<std::string>& args);

    // Children started and not yet collected.
    std::size_t Pending() const;

private:
    struct Child {
        pid_t pid;
        int pidfd; // -1 where the kernel gives none: collected on later calls
    };
    void reap();
    void watch();
    void wake() const;

    mutable std::mutex mutex_;
    std::vector<Child> children_;
    int wakeFd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread reaper_;
};

// The help page, "Help/vsl4-index.html" in the program folder.
std::filesystem::path HelpPagePath(const std::filesystem::path& programFolder);
// A "file://" address for a local file, with every byte outside the
// unreserved set and "/" percent-encoded.
std::string FileUrl(const std::filesystem::path& file);
// Opens the help page in the browser. Empty on success, else the text to
// show: the page is missing, or the browser could not be started.
std::u16string OpenHelpPage(const std::filesystem::path& programFolder, UrlLauncher& launcher);

// The shell code that stands for a failed start with `error` (an errno):
// always one of the shell's error codes (0-32), never a success.
int ShellCodeForErrno(int error);

} // namespace app
