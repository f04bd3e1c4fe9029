#include "app/url_launcher.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return 3;
    case EACCES:
    case EPERM: return 5;
    case ENOMEM:
    case EAGAIN:
    case E2BIG: return 8;
    case ENOEXEC:
    case EISDIR: return 11;
    case ETXTBSY: return 26; // in use: the sharing violation
    default: return 31;      // nothing could be started to open it
    }
}

namespace {

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

} // namespace

SpawnUrlLauncher::~SpawnUrlLauncher()
{
    if (reaper_.joinable()) {
        stop_.store(true, std::memory_order_release);
        wake();
        reaper_.join();
    }
    reap();
    for (const Child& c : children_)
        if (c.pidfd >= 0)
            ::close(c.pidfd);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void SpawnUrlLauncher::wake() const
{
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
    }
}

std::size_t SpawnUrlLauncher::Pending() const
{
    std::lock_guard lock(mutex_);
    return children_.size();
}

void SpawnUrlLauncher::reap()
{
    std::lock_guard lock(mutex_);
    std::erase_if(children_, [](const Child& c) {
        int status = 0;
        if (::waitpid(c.pid, &status, WNOHANG) == 0)
            return false;
        if (c.pidfd >= 0)
            ::close(c.pidfd);
        return true;
    });
}

void SpawnUrlLauncher::watch()
{
    std::vector<pollfd> fds;
    while (!stop_.load(std::memory_order_acquire)) {
        fds.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        {
            std::lock_guard lock(mutex_);
            for (const Child& c : children_)
                if (c.pidfd >= 0)
                    fds.push_back({c.pidfd, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(wakeFd_, &count, sizeof count);
        }
        reap();
    }
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
    const int pidfd = openPidfd(pid);
    {
        std::lock_guard lock(mutex_);
        children_.push_back({pid, pidfd});
    }
    if (pidfd >= 0) {
        if (!reaper_.joinable()) {
            wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            if (wakeFd_ >= 0)
                reaper_ = std::thread([this] { watch(); });
        }
        wake();
    }
    return kLaunchSucceeded;
}

std::filesystem::path HelpPagePath(const std::filesystem::path& programFolder)
{
    return programFolder / "Help" / "vsl4-index.html";
}

std::string FileUrl(const std::filesystem::path& file)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const unsigned char c : file.string()) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            url.push_back(static_cast<char>(c));
        } else {
            url.push_back('%');
            url.push_back(kHex[c >> 4]);
            url.push_back(kHex[c & 15]);
        }
    }
    return url;
}

std::u16string OpenHelpPage(const std::filesystem::path& programFolder, UrlLauncher& launcher)
{
    const std::filesystem::path page = std::filesystem::absolute(HelpPagePath(programFolder));
    const std::u16string head = u"Unable to open the help page " + page.u16string() + u":\n\n";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(page, ec))
        return head + std::u16string(u"The specified file was not found.");
    const int result = launcher.Open(FileUrl(page), 5);
    if (result > 32)
        return {};
    constexpr std::u16string_view kHyperlinkHead = u"Unable to open hyperlink:\n\n";
    return head + HyperlinkErrorText(result).substr(kHyperlinkHead.size());
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
