#include "app/url_launcher.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace app {

namespace {

std::u16string widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::u16string unknownError(int code)
{
    char text[64];
    std::snprintf(text, sizeof text, "Unknown Error (%d) occurred.", code);
    return widen(text);
}

} // namespace

std::u16string HyperlinkErrorText(int code)
{
    std::u16string reason;
    switch (code) {
    case 0: reason = u"The operating system is out\nof memory or resources."; break;
    case 2: reason = u"The specified file was not found."; break;
    case 3: reason = u"The specified path was not found."; break;
    case 5: reason = u"The operating system denied\naccess to the specified file."; break;
    case 8: reason = u"There was not enough memory to complete the operation."; break;
    case 11: reason = u"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."; break;
    // The sharing-violation text is replaced by the unknown-error format.
    case 26: reason = unknownError(code); break;
    case 27: reason = u"The filename association is\nincomplete or invalid."; break;
    case 28: reason = u"The DDE transaction could not\nbe completed because the request timed out."; break;
    case 29: reason = u"The DDE transaction failed."; break;
    case 30:
        reason = u"The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
        break;
    case 31: reason = u"There is no application associated\nwith the given filename extension."; break;
    case 32: reason = u"The specified dynamic-link library was not found."; break;
    default: reason = unknownError(code); break;
    }
    return u"Unable to open hyperlink:\n\n" + reason;
}

std::vector<std::string> BrowserArguments(std::string_view command, std::string_view url)
{
    std::vector<std::string> args;
    bool placed = false;
    std::size_t i = 0;
    while (i < command.size()) {
        while (i < command.size() && (command[i] == ' ' || command[i] == '\t'))
            ++i;
        if (i >= command.size())
            break;
        std::size_t end = i;
        while (end < command.size() && command[end] != ' ' && command[end] != '\t')
            ++end;
        const std::string_view word = command.substr(i, end - i);
        if (word == "%1" || word == "\"%1\"") {
            args.emplace_back(url);
            placed = true;
        } else {
            args.emplace_back(word);
        }
        i = end;
    }
    if (args.empty())
        return args;
    if (!placed)
        args.emplace_back(url);
    return args;
}

int ShellCodeForErrno(int error)
{
    switch (error) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES:
    case EPERM: return 5;
    case ENOMEM:
    case EAGAIN: return 8;
    case ENOEXEC: return 11;
    default: return error > 32 ? error : 31;
    }
}

SpawnUrlLauncher::~SpawnUrlLauncher() { reap(); }

void SpawnUrlLauncher::reap()
{
    std::erase_if(children_, [](pid_t pid) {
        int status = 0;
        return ::waitpid(pid, &status, WNOHANG) != 0;
    });
}

int SpawnUrlLauncher::Spawn(const std::vector<std::string>& args)
{
    reap();
    if (args.empty())
        return 2;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (rc != 0)
        return ShellCodeForErrno(rc);
    children_.push_back(pid);
    return kLaunchSucceeded;
}

int SpawnUrlLauncher::Open(std::string_view url, int)
{
    // The show command has no meaning to a browser started on Linux.
    const int first = Spawn({"xdg-open", std::string(url)});
    if (first > 32)
        return first;
    const char* browser = std::getenv("BROWSER");
    if (browser == nullptr || *browser == '\0')
        return first;
    const auto args = BrowserArguments(browser, url);
    return args.empty() ? first : Spawn(args);
}

} // namespace app
