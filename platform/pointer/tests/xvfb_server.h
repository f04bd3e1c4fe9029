#pragma once
// A private Xvfb for one test program, on a display number Xvfb picks
// itself; not ready (the tests skip) when Xvfb is not installed.
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pointer_test {

class XvfbServer {
public:
    XvfbServer()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
                              "-nolisten", "tcp", "-noreset", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            close(fds[0]);
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (std::chrono::steady_clock::now() < deadline && poll(&p, 1, 100) >= 0) {
            if (!(p.revents & (POLLIN | POLLHUP)))
                continue;
            char c = 0;
            if (read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number.push_back(c);
        }
        close(fds[0]);
        if (number.empty())
            return;
        name_ = ":" + number;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Display* d = XOpenDisplay(name_.c_str())) {
                XCloseDisplay(d);
                ready_ = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~XvfbServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ready() const { return ready_; }
    const char* name() const { return name_.c_str(); }

private:
    std::string name_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace pointer_test
