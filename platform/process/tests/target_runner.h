#pragma once
// Starts the stand-in game program and talks to it over pipes (test helper,
// shared with the view library's tests).
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
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

namespace detail {

// The system's answer for one child of this program: a process that waits,
// tried the way the tests use their stand-in games (read with
// process_vm_readv, /proc/PID/mem opened for writing, or seized by ptrace),
// then killed. The Yama file alone does not tell: under ptrace_scope 2 root
// may, others may not, and capabilities or other security modules decide
// too. Empty when allowed, else what refused it.
enum class Access { Memory, Tracing };

inline std::string childRefusal(Access access)
{
    int gate[2];
    if (::pipe(gate) != 0)
        return "no pipe for the probe";
    static volatile std::uint32_t probe = 0x600D;
    const pid_t child = ::fork();
    if (child == 0) {
        char byte;
        while (::read(gate[0], &byte, 1) < 0) {
        }
        ::_exit(0);
    }
    ::close(gate[0]);
    if (child < 0) {
        ::close(gate[1]);
        return "no child for the probe";
    }
    std::string refusal;
    auto explain = [&](const char* what) {
        refusal = std::string(what) + " of a child refused (" + std::strerror(errno) + ")";
        std::ifstream file("/proc/sys/kernel/yama/ptrace_scope");
        int scope = 0;
        if (file >> scope)
            refusal += "; kernel.yama.ptrace_scope is " + std::to_string(scope);
    };
    if (access == Access::Memory) {
        std::uint32_t seen = 0;
        iovec local{&seen, sizeof seen};
        iovec remote{const_cast<std::uint32_t*>(&probe), sizeof seen};
        const std::string mem = "/proc/" + std::to_string(child) + "/mem";
        const int fd = ::open(mem.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            explain("opening /proc/PID/mem for writing");
        else if (::process_vm_readv(child, &local, 1, &remote, 1, 0) != static_cast<ssize_t>(sizeof seen))
            explain("process_vm_readv");
        if (fd >= 0)
            ::close(fd);
    } else if (::ptrace(PTRACE_SEIZE, child, nullptr, nullptr) != 0) {
        explain("PTRACE_SEIZE");
    }
    ::kill(child, SIGKILL);
    ::close(gate[1]);
    int status = 0;
    while (::waitpid(child, &status, __WALL) < 0 && errno == EINTR) {
    }
    return refusal;
}

} // namespace detail

// Why this program may not read and write the memory of the programs it
// starts, as every game writer must; empty when it may. Asked once.
inline const std::string& memoryAccessRefusal()
{
    static const std::string why = detail::childRefusal(detail::Access::Memory);
    return why;
}

// Why this program may not trace the programs it starts (to load a module
// inside them); empty when it may. Asked once.
inline const std::string& tracingRefusal()
{
    static const std::string why = [] {
        if (const std::string& memory = memoryAccessRefusal(); !memory.empty())
            return memory;
        return detail::childRefusal(detail::Access::Tracing);
    }();
    return why;
}

// Skips the running test, with the reason, where the system refuses what
// it needs of the stand-in games it starts.
#define ORVANE_SKIP_WITHOUT_MEMORY_ACCESS()                                                   \
    if (const std::string& orvaneWhy = ::testing_support::memoryAccessRefusal(); !orvaneWhy.empty()) \
    GTEST_SKIP() << orvaneWhy
#define ORVANE_SKIP_WITHOUT_TRACING()                                                         \
    if (const std::string& orvaneWhy = ::testing_support::tracingRefusal(); !orvaneWhy.empty()) \
    GTEST_SKIP() << orvaneWhy

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
    // The program's next line (one it says without being asked).
    std::string nextLine() { return readLine(); }
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
