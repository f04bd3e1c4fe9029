#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::unique_ptr<ProcessHandle> ProcessSystem::openByExecutable(std::string_view name)
{
    for (int pid : findByExecutable(name))
        if (auto handle = open(pid))
            return handle;
    return nullptr;
}

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string procPath(int pid, const char* leaf)
{
    return "/proc/" + std::to_string(pid) + "/" + leaf;
}

class LinuxProcess : public ProcessHandle {
public:
    LinuxProcess(int pid, int pidfd, int mem) : pid_(pid), pidfd_(pidfd), mem_(mem) {}

    int pid() const override { return pid_; }

    bool read(std::uint64_t address, std::span<std::uint8_t> out) override
    {
        if (out.empty())
            return true;
        iovec local{out.data(), out.size()};
        iovec remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), out.size()};
        ssize_t got = ::process_vm_readv(pid_, &local, 1, &remote, 1, 0);
        if (got == static_cast<ssize_t>(out.size()))
            return alive();
        // Some kernels refuse process_vm_readv where /proc/PID/mem works.
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t n = ::pread(mem_.get(), out.data() + done, out.size() - done,
                                static_cast<off_t>(address + done));
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return alive();
    }

    bool write(std::uint64_t address, std::span<const std::uint8_t> bytes) override
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::pwrite(mem_.get(), bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(address + done));
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool alive() const override
    {
        pollfd p{pidfd_.get(), POLLIN, 0};
        int r = ::poll(&p, 1, 0);
        return r == 0;
    }

    std::vector<MemoryRegion> regions() const override
    {
        std::vector<MemoryRegion> out;
        std::ifstream maps(procPath(pid_, "maps"));
        std::string line;
        while (std::getline(maps, line)) {
            // start-end perms offset dev inode [path]
            MemoryRegion r;
            const char* p = line.data();
            const char* e = p + line.size();
            auto res = std::from_chars(p, e, r.start, 16);
            if (res.ec != std::errc{} || res.ptr == e || *res.ptr != '-')
                continue;
            res = std::from_chars(res.ptr + 1, e, r.end, 16);
            if (res.ec != std::errc{} || e - res.ptr < 5)
                continue;
            const char* perms = res.ptr + 1;
            r.readable = perms[0] == 'r';
            r.writable = perms[1] == 'w';
            r.executable = perms[2] == 'x';
            // Skip four fields to reach the path.
            const char* q = perms;
            for (int field = 0; field < 4 && q < e; ++field) {
                while (q < e && *q != ' ')
                    ++q;
                while (q < e && *q == ' ')
                    ++q;
            }
            r.path.assign(q, e);
            out.push_back(std::move(r));
        }
        return out;
    }

private:
    int pid_;
    Fd pidfd_;
    Fd mem_;
};

std::string baseName(std::string_view path)
{
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

class LinuxProcessSystem : public ProcessSystem {
public:
    std::unique_ptr<ProcessHandle> open(int pid) override
    {
        if (pid <= 0)
            return nullptr;
        int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (pidfd < 0)
            return nullptr;
        int mem = ::open(procPath(pid, "mem").c_str(), O_RDWR | O_CLOEXEC);
        if (mem < 0) {
            ::close(pidfd);
            return nullptr;
        }
        auto handle = std::make_unique<LinuxProcess>(pid, pidfd, mem);
        // The pid may have been reused between listing and opening: a pidfd
        // taken after the process died reports it dead at once.
        if (!handle->alive())
            return nullptr;
        return handle;
    }

    std::vector<int> findByExecutable(std::string_view name) override
    {
        std::vector<int> pids;
        DIR* dir = ::opendir("/proc");
        if (!dir)
            return pids;
        while (dirent* entry = ::readdir(dir)) {
            int pid = 0;
            const char* n = entry->d_name;
            auto res = std::from_chars(n, n + std::strlen(n), pid);
            if (res.ec != std::errc{} || *res.ptr != '\0' || pid <= 0)
                continue;
            if (equalsIgnoreCase(executableName(pid), name))
                pids.push_back(pid);
        }
        ::closedir(dir);
        std::sort(pids.begin(), pids.end());
        return pids;
    }

    std::string executableName(int pid) override
    {
        char buffer[4096];
        ssize_t n = ::readlink(procPath(pid, "exe").c_str(), buffer, sizeof buffer - 1);
        if (n > 0) {
            std::string_view target(buffer, static_cast<std::size_t>(n));
            // A replaced or removed file shows " (deleted)".
            constexpr std::string_view deleted = " (deleted)";
            if (target.ends_with(deleted))
                target.remove_suffix(deleted.size());
            return baseName(target);
        }
        // No access to the link: the first word of the command line.
        std::ifstream cmdline(procPath(pid, "cmdline"));
        std::string argv0;
        std::getline(cmdline, argv0, '\0');
        return baseName(argv0);
    }
};

} // namespace

ProcessSystem& systemProcesses()
{
    static LinuxProcessSystem system;
    return system;
}

} // namespace platform
