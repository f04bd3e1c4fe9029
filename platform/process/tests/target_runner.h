#pragma once
// Starts the stand-in game program and talks to it over pipes (test helper,
// shared with the view library's tests).
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testing_support {

// Why this program may not trace the programs it starts (Yama's ptrace
// scope); empty when it may.
inline std::string tracingRefusal()
{
    std::ifstream file("/proc/sys/kernel/yama/ptrace_scope");
    int scope = 0;
    if (!(file >> scope) || scope < 2 || (scope == 2 && ::geteuid() == 0))
        return {};
    return "kernel.yama.ptrace_scope is " + std::to_string(scope) + ": this program may not trace its children";
}

class TargetProcess {
public:
    // `runAs`: the uid (and gid) the program runs under; only root can ask.
    TargetProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                  std::optional<uid_t> runAs = std::nullopt)
    {
        int toChild[2];
        int fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        posix_spawn_file_actions_addclose(&actions, toChild[1]);
        posix_spawn_file_actions_addclose(&actions, fromChild[0]);
        std::vector<std::string> all{program.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (runAs) {
            // posix_spawn cannot change users: fork, and only system calls in the child.
            pid_ = ::fork();
            if (pid_ == 0) {
                ::dup2(toChild[0], 0);
                ::dup2(fromChild[1], 1);
                ::close(toChild[1]);
                ::close(fromChild[0]);
                if (::setgroups(0, nullptr) != 0 || ::setresgid(*runAs, *runAs, *runAs) != 0 ||
                    ::setresuid(*runAs, *runAs, *runAs) != 0)
                    ::_exit(126);
                ::execve(program.c_str(), argv.data(), environ);
                ::_exit(127);
            }
            if (pid_ < 0)
                pid_ = 0;
        } else if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = ::fdopen(toChild[1], "w");
        out_ = ::fdopen(fromChild[0], "r");
        ready_ = readLine() == "ready";
    }
    ~TargetProcess()
    {
        kill();
        if (in_)
            std::fclose(in_);
        if (out_)
            std::fclose(out_);
    }
    TargetProcess(const TargetProcess&) = delete;
    TargetProcess& operator=(const TargetProcess&) = delete;

    int pid() const { return pid_; }
    bool ready() const { return ready_; }

    std::string command(const std::string& line)
    {
        std::fputs((line + "\n").c_str(), in_);
        std::fflush(in_);
        return readLine();
    }
    // Asks the program to end and reaps it; returns its exit status.
    int exit()
    {
        if (pid_ <= 0)
            return -1;
        std::fputs("exit\n", in_);
        std::fflush(in_);
        return reap();
    }
    void kill()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        reap();
    }

private:
    int reap()
    {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
        return status;
    }
    std::string readLine()
    {
        std::string line;
        if (!out_)
            return line;
        int c;
        while ((c = std::fgetc(out_)) != EOF && c != '\n')
            line.push_back(static_cast<char>(c));
        return line;
    }

    pid_t pid_ = 0;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
    bool ready_ = false;
};

} // namespace testing_support
