#pragma once
// Starts a helper program as a child process and reads its "ready" line.
#include <chrono>
#include <string>
#include <vector>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace peer {

class Process {
public:
    explicit Process(const std::vector<std::string>& argv)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        ::posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid_ = -1;
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Process()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (out_ >= 0)
            ::close(out_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    int pid() const { return pid_; }

    // The next line the child writes, waiting at most `timeout`.
    std::string readLine(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
    {
        std::string line;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char c;
            if (::read(out_, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line.push_back(c);
        }
        return line;
    }

    void kill()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    // Exit status (or 128+signal), -1 when it had none within the time.
    int wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
    {
        if (pid_ <= 0)
            return status_;
        const auto until = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                return status_;
            }
            if (std::chrono::steady_clock::now() > until)
                return -1;
            ::usleep(1000);
        }
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
};

} // namespace peer
