#include "testing/kill_loop.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <random>
#include <thread>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace {

// Waits for the child; only an interrupted wait is tried again (a wait that
// fails otherwise, as with SIGCHLD ignored, would never succeed).
void reap(pid_t child, int& status)
{
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

// The longest of three children that run save(0) and save(1) and exit.
std::chrono::microseconds timeTwoSaves(const std::function<void(int)>& save)
{
    std::chrono::microseconds longest{0};
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child < 0)
            break;
        if (child == 0) {
            save(0);
            save(1);
            ::_exit(0);
        }
        int status = 0;
        reap(child, status);
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start));
    }
    return longest;
}

} // namespace

KillLoopResult RunKillLoop(const KillLoopOptions& options, const std::function<void(int)>& save,
                           const std::function<void()>& check)
{
    KillLoopResult result;
    result.maxDelay = options.maxDelay.count() > 0 ? options.maxDelay : 2 * timeTwoSaves(save);
    check(); // what the measuring saves left is whole too
    std::mt19937 random(options.seed);
    std::uniform_int_distribution<long> delay(0, result.maxDelay.count());
    const auto end = std::chrono::steady_clock::now() + options.deadline;
    for (int round = 0; round < options.rounds && std::chrono::steady_clock::now() < end; ++round) {
        const pid_t parent = ::getpid();
        const pid_t child = ::fork();
        if (child < 0)
            break;
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(3);
            for (int n = 0;; ++n)
                save(n);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        reap(child, status);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            ++result.kills;
        else
            ++result.childFailed;
        check();
    }
    return result;
}

} // namespace testing_support
