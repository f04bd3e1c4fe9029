#include "testing/other_user.h"

#include <csignal>
#include <cstring>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

bool canRunAsOtherUser(std::string* why)
{
    if (::geteuid() != 0) {
        if (why != nullptr)
            *why = "the stranger is played by user 65534, which only a test running as root can become";
        return false;
    }
    // Root may still be unable to change ids (a container without the
    // capability, a user namespace that does not map 65534): try once.
    static const int probe = runAsOtherUser([] { return 0; });
    if (probe != 0) {
        if (why != nullptr)
            *why = "this root cannot become user 65534 (setuid refused: no capability, or the id is not mapped)";
        return false;
    }
    return true;
}

bool canMakeSharedObjectsAsOtherUser(std::string* why)
{
    if (!canRunAsOtherUser(why))
        return false;
    // The name is made here: the child only makes system calls.
    static const std::string name = "/orvane-other-user-probe." + std::to_string(::getpid());
    static const int probe = runAsOtherUser([] {
        const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            return 1;
        ::close(fd);
        ::shm_unlink(name.c_str());
        return 0;
    });
    if (probe != 0) {
        if (why != nullptr)
            *why = "user 65534 cannot make shared-memory objects here (/dev/shm is not open to every user)";
        return false;
    }
    return true;
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

bool makeSharedObjectAsOtherUser(const std::string& objectName, long bytes)
{
    return runAsOtherUser([&] {
               const int fd = ::shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
               if (fd < 0 || ::fchmod(fd, 0666) != 0 || ::ftruncate(fd, bytes) != 0)
                   return 1;
               ::close(fd);
               return 0;
           }) == 0;
}

std::string messageSocketOf(int pid, const std::string& session)
{
    std::ifstream in("/proc/net/unix");
    const std::string wanted = "@" + session + ".ipc." + std::to_string(pid) + ".";
    std::string line;
    while (std::getline(in, line))
        if (const auto at = line.find(wanted); at != std::string::npos)
            return line.substr(at + 1);
    return {};
}

int connectToMessageSocket(const std::string& name, bool nonBlocking)
{
    sockaddr_un addr{};
    if (name.empty() || name.size() >= sizeof addr.sun_path)
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0)
        return -1;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace testing_support
