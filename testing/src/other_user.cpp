#include "testing/other_user.h"

#include <csignal>
#include <thread>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

bool canRunAsOtherUser(std::string* why)
{
    if (::geteuid() == 0)
        return true;
    if (why != nullptr)
        *why = "the stranger is played by user 65534, which only a test running as root can become";
    return false;
}

int runAsOtherUser(const std::function<int()>& fn, std::chrono::milliseconds timeout)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUid) != 0 || ::setuid(kOtherUid) != 0 ||
            ::geteuid() != kOtherUid)
            ::_exit(126);
        ::_exit(fn() & 0xff);
    }
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0 || std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace testing_support
