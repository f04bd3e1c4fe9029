#pragma once
// A private Xvfb server for a test program: started on a free display
// number, waited for (bounded), stopped with the program. Tests skip when
// Xvfb is not installed. Header-only, so orvane_testing needs no X11; the
// programs that use it link X11 themselves.
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "end_child.h" // beside this header: some programs include it by its path

extern char** environ;

namespace testing_support {

class XvfbServer {
public:
    // `geometry` is the screen's "WxHxDEPTH".
    explicit XvfbServer(std::string geometry = "640x480x24")
    {
        // Xvfb picks a free display number itself and writes it to the pipe,
        // so parallel test programs never race for one.
        int fds[2];
        if (pipe(fds) != 0) return;
        std::string fdText = std::to_string(fds[1]);
        char arg0[] = "Xvfb";
        char displayfd[] = "-displayfd";
        char screen[] = "-screen";
        char zero[] = "0";
        char nolisten[] = "-nolisten";
        char tcp[] = "tcp";
        // No reset when the last client leaves: the next test connects at once.
        char noreset[] = "-noreset";
        char* argv[] = {arg0, displayfd, fdText.data(), screen, zero, geometry.data(), nolisten, tcp, noreset, nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            close(fds[0]);
            return;
        }
        // The number, then a connection; at most 10 s in all.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (std::chrono::steady_clock::now() < deadline && poll(&p, 1, 100) >= 0) {
            if (!(p.revents & (POLLIN | POLLHUP))) continue;
            char c = 0;
            if (read(fds[0], &c, 1) != 1 || c == '\n') break;
            number.push_back(c);
        }
        close(fds[0]);
        if (number.empty()) return;
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
        EndChild(pid_);
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ready() const { return ready_; }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace testing_support
