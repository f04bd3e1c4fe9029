#pragma once
// Opening a web address in the user's browser, and the hyperlink error texts.
//
// Results keep the desktop shell's numbers: above 32 is success, 0-32 are
// the shell's error codes (2 file not found, 5 access denied, 8 out of
// memory, 31 no association, ...), so the error texts apply unchanged.
#include <string>
#include <string_view>
#include <sys/types.h>
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
// (see BrowserArguments). Children are reaped on later calls and at the
// end, never waited for.
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

private:
    void reap();
    std::vector<pid_t> children_;
};

// The shell code that stands for a failed start with `error` (an errno).
int ShellCodeForErrno(int error);

} // namespace app
