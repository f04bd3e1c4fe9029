#pragma once
// Ends a child process that a fixture started: SIGTERM, and SIGKILL when it
// has not gone within `grace` (a child stuck in its own clean-up must not
// hold the test program past its time). Header-only, like the fixtures that
// start such children.
#include <chrono>
#include <csignal>
#include <thread>

#include <cerrno>
#include <sys/types.h>
#include <sys/wait.h>

namespace testing_support {

// True when the child ended by itself within `grace` after SIGTERM.
inline bool EndChild(pid_t pid, std::chrono::milliseconds grace = std::chrono::seconds(5))
{
    if (pid <= 0)
        return true;
    ::kill(pid, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + grace;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return true;
        if (std::chrono::steady_clock::now() >= until)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
}

} // namespace testing_support
