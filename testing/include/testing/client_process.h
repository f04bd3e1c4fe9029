#pragma once
// Runs the test client program as a child process and talks to it line by
// line over its standard input and output.
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

// The numbers of an answer line ("0 0 12 0 1.5 ..."), in order.
inline std::vector<double> Fields(const std::string& line)
{
    std::istringstream in(line);
    std::vector<double> out;
    double v;
    while (in >> v)
        out.push_back(v);
    return out;
}

class ClientProcess {
public:
    ClientProcess(const std::string& program, const std::string& library)
    {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t fa;
        ::posix_spawn_file_actions_init(&fa);
        ::posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        ::posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        ::posix_spawn_file_actions_addclose(&fa, in[1]);
        ::posix_spawn_file_actions_addclose(&fa, out[0]);
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(library.c_str()), nullptr};
        if (::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv, environ) != 0)
            pid_ = -1;
        ::posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
        ready_ = readLine() == "ready";
    }
    ~ClientProcess()
    {
        if (toChild_ >= 0)
            ::close(toChild_);
        if (pid_ > 0) {
            // A polite end first, so that the child's windows go properly.
            if (wait(std::chrono::milliseconds(2000)) < 0) {
                ::kill(pid_, SIGKILL);
                wait();
            }
        }
        if (fromChild_ >= 0)
            ::close(fromChild_);
    }
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    bool ready() const { return ready_; }
    int pid() const { return pid_; }

    // Sends one command line and returns the answer line.
    std::string ask(const std::string& line, std::chrono::milliseconds timeout = std::chrono::milliseconds(8000))
    {
        const std::string text = line + "\n";
        if (::write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return "<write failed>";
        return readLine(timeout);
    }
    int askInt(const std::string& line) { return std::stoi(ask(line)); }
    // The numbers of an answer line, in order ("getdata": result, status,
    // frame, reserved and the 15 values).
    static std::vector<double> numbers(const std::string& line) { return Fields(line); }
    // Sends a line without waiting for an answer.
    void tell(const std::string& line)
    {
        const std::string text = line + "\n";
        [[maybe_unused]] ssize_t n = ::write(toChild_, text.data(), text.size());
    }

    std::string readLine(std::chrono::milliseconds timeout = std::chrono::milliseconds(8000))
    {
        std::string line;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{fromChild_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char c;
            if (::read(fromChild_, &c, 1) != 1)
                return line.empty() ? "<eof>" : line;
            if (c == '\n')
                return line;
            line.push_back(c);
        }
        return "<timeout>";
    }

    void kill()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    int wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            if (std::chrono::steady_clock::now() > until)
                return -1;
            ::usleep(1000);
        }
        return 0;
    }

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    bool ready_ = false;
};

} // namespace testing_support
