#include "platform/process.h"

#include "platform/debug.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <mutex>
#include <chrono>
#include <cstdio>

#if defined(__x86_64__)
#include <cpuid.h>
#include <cstddef>
#include <elf.h>
#include <sys/ptrace.h>
#include <sys/ucontext.h>
#include <sys/user.h>
#endif

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

std::vector<MemoryRegion> readRegions(int pid)
{
    std::vector<MemoryRegion> out;
    std::ifstream maps(procPath(pid, "maps"));
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

// The uids of a process (real, effective, saved, file system) from its
// status file, read afresh through an open descriptor.
std::optional<std::array<uid_t, 4>> readUids(int statusFd)
{
    char text[4096];
    const ssize_t n = ::pread(statusFd, text, sizeof text - 1, 0);
    if (n <= 0)
        return std::nullopt;
    const std::string_view status(text, static_cast<std::size_t>(n));
    const auto line = status.find("\nUid:");
    if (line == std::string_view::npos)
        return std::nullopt;
    const char* p = status.data() + line + 5;
    const char* end = status.data() + status.size();
    std::array<uid_t, 4> uids{};
    for (uid_t& uid : uids) {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        auto res = std::from_chars(p, end, uid);
        if (res.ec != std::errc{})
            return std::nullopt;
        p = res.ptr;
    }
    return uids;
}

// Whether every uid of the process is this program's own.
bool sameUser(int statusFd)
{
    const auto uids = readUids(statusFd);
    if (!uids)
        return false;
    const uid_t own = ::geteuid();
    return std::all_of(uids->begin(), uids->end(), [own](uid_t u) { return u == own; }) && ::getuid() == own;
}

class LinuxProcess : public ProcessHandle {
public:
    LinuxProcess(int pid, int pidfd, int mem, int status) : pid_(pid), pidfd_(pidfd), mem_(mem), status_(status) {}

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
        if (!sameUser(status_.get()))
            return false;
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

    std::vector<MemoryRegion> regions() const override { return readRegions(pid_); }

    RemoteCall loadModule(const std::string& path, std::chrono::milliseconds limit) override;

private:
    int pid_;
    Fd pidfd_;
    Fd mem_;
    Fd status_;
};

// Where this program's C library has its dlopen and its signal return (the
// few instructions "mov $15, %rax; syscall" that end every signal handler):
// the library's file as the system names it and each one's distance from
// the file's first mapping. A process that maps the same file has them at
// the same distances.
struct LoaderCode {
    std::string path;
    std::uint64_t dlopen = 0;       // offset of dlopen
    std::uint64_t sigreturn = 0;    // offset of the signal return
    std::vector<std::uint8_t> head; // dlopen's first bytes, to compare with the game's copy
};

constexpr std::array<std::uint8_t, 9> kSignalReturn{0x48, 0xC7, 0xC0, 0x0F, 0x00, 0x00, 0x00, 0x0F, 0x05};

std::uint64_t lowestMapping(const std::vector<MemoryRegion>& regions, const std::string& path)
{
    std::uint64_t base = 0;
    for (const auto& r : regions)
        if (r.path == path && (base == 0 || r.start < base))
            base = r.start;
    return base;
}

std::optional<LoaderCode> ownLoaderCode()
{
    // The C library's own dlopen, not a wrapper a sanitizer puts in front.
    void* libc = ::dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (!libc)
        return std::nullopt;
    void* function = ::dlsym(libc, "dlopen");
    ::dlclose(libc);
    if (!function)
        return std::nullopt;
    const auto address = reinterpret_cast<std::uintptr_t>(function);
    const auto regions = readRegions(static_cast<int>(::getpid()));
    LoaderCode code;
    for (const auto& r : regions)
        if (address >= r.start && address < r.end && !r.path.empty())
            code.path = r.path;
    if (code.path.empty())
        return std::nullopt;
    const std::uint64_t base = lowestMapping(regions, code.path);
    code.dlopen = address - base;
    const auto* head = reinterpret_cast<const std::uint8_t*>(address);
    code.head.assign(head, head + 16);
    for (const auto& r : regions) {
        if (r.path != code.path || !r.executable || !r.readable)
            continue;
        const std::span<const std::uint8_t> text(reinterpret_cast<const std::uint8_t*>(r.start), r.end - r.start);
        const auto found = std::search(text.begin(), text.end(), kSignalReturn.begin(), kSignalReturn.end());
        if (found != text.end()) {
            code.sigreturn = r.start + static_cast<std::uint64_t>(found - text.begin()) - base;
            return code;
        }
    }
    return std::nullopt;
}

#if defined(__x86_64__)

// The process's tracer (0: none), from its status file.
int tracerOf(int statusFd)
{
    char text[4096];
    const ssize_t n = ::pread(statusFd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    const std::string_view status(text, static_cast<std::size_t>(n));
    const auto line = status.find("\nTracerPid:");
    if (line == std::string_view::npos)
        return 0;
    const char* p = status.data() + line + 11;
    const char* end = status.data() + status.size();
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    int tracer = 0;
    std::from_chars(p, end, tracer);
    return tracer;
}

std::string ptraceRefusal(int pid, int error, int tracer)
{
    std::string text = "this program may not trace process " + std::to_string(pid) + " (" + std::strerror(error) + ")";
    if (tracer > 0) {
        text += ": it is already traced by process " + std::to_string(tracer) + " (a debugger or another tool)";
        return text;
    }
    std::ifstream scope("/proc/sys/kernel/yama/ptrace_scope");
    int value = 0;
    if (scope >> value && value > 0)
        text += "; kernel.yama.ptrace_scope is " + std::to_string(value) +
                (value >= 3 ? ", which allows no tracing at all" : ", which allows tracing only by privileged or parent processes");
    return text;
}

// The signals a thread blocks, from its status file (0 when unreadable).
std::uint64_t blockedSignals(int pid)
{
    const std::string leaf = "task/" + std::to_string(pid) + "/status";
    std::ifstream status(procPath(pid, leaf.c_str()));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigBlk:", 0) == 0) {
            std::size_t at = 7;
            while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
                ++at;
            std::uint64_t mask = 0;
            std::from_chars(line.data() + at, line.data() + line.size(), mask, 16);
            return mask;
        }
    return 0;
}

enum class Waited { Stopped, Ended, TimedOut, Failed };

// The traced process's next stop or end, waited for until `deadline`.
Waited waitTraced(int pid, int& status, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const int r = ::waitpid(pid, &status, __WALL | WNOHANG);
        if (r == pid)
            return WIFSTOPPED(status) ? Waited::Stopped : Waited::Ended;
        if (r < 0 && errno != EINTR)
            return Waited::Failed;
        if (std::chrono::steady_clock::now() >= deadline)
            return Waited::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Lets a traced process go on untraced. Only a stopped one can be let go:
// a running one is stopped first (bounded).
void release(int pid)
{
    if (::ptrace(PTRACE_DETACH, pid, nullptr, nullptr) == 0)
        return;
    ::ptrace(PTRACE_INTERRUPT, pid, nullptr, nullptr);
    int status = 0;
    if (waitTraced(pid, status, std::chrono::steady_clock::now() + std::chrono::seconds(1)) == Waited::Stopped)
        ::ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
}

// An integer where ptrace takes a pointer: the signal a resumed thread
// gets, or the register set asked for.
void* ptraceWord(int value)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value));
}

// Saved register state of the traced thread: general registers and the
// whole extended (x87, SSE, AVX...) state, so the thread goes on untouched.
struct ThreadState {
    user_regs_struct regs{};
    std::vector<std::uint8_t> extended;
    int extendedType = NT_X86_XSTATE;

    bool save(int pid)
    {
        if (::ptrace(PTRACE_GETREGS, pid, nullptr, &regs) != 0)
            return false;
        for (int type : {NT_X86_XSTATE, NT_PRFPREG}) {
            extended.assign(16384, 0);
            iovec io{extended.data(), extended.size()};
            if (::ptrace(PTRACE_GETREGSET, pid, ptraceWord(type), &io) == 0) {
                extended.resize(io.iov_len);
                extendedType = type;
                return true;
            }
        }
        return false;
    }
    void restore(int pid)
    {
        iovec io{extended.data(), extended.size()};
        ::ptrace(PTRACE_SETREGSET, pid, ptraceWord(extendedType), &io);
        ::ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
    }
};

// What rt_sigreturn reads on x86-64 (the kernel's struct rt_sigframe, with
// its ucontext and sigcontext): a call that returns into the C library's
// signal return through such a frame puts the thread back exactly as the
// frame says, by the kernel's hand, without a tracer.
struct KernelSigcontext {
    std::uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    std::uint64_t rdi, rsi, rbp, rbx, rdx, rax, rcx, rsp, rip, eflags;
    std::uint16_t cs, gs, fs, ss;
    std::uint64_t err, trapno, oldmask, cr2;
    std::uint64_t fpstate;
    std::uint64_t reserved[8];
};
struct KernelUcontext {
    std::uint64_t flags;
    std::uint64_t link;
    std::uint64_t stackPointer; // stack_t
    std::int32_t stackFlags;
    std::int32_t stackPad;
    std::uint64_t stackSize;
    KernelSigcontext mcontext;
    std::uint64_t sigmask;
};
struct SignalReturnFrame {
    std::uint64_t returnAddress; // where the call returns to
    KernelUcontext context;
    std::uint8_t info[128]; // siginfo, not read by the return
};
static_assert(sizeof(KernelSigcontext) == 256 && sizeof(KernelUcontext) == 304 && sizeof(SignalReturnFrame) == 440);
static_assert(offsetof(ucontext_t, uc_mcontext) == offsetof(KernelUcontext, mcontext) &&
              offsetof(ucontext_t, uc_sigmask) == offsetof(KernelUcontext, sigmask));
static_assert(REG_R8 == 0 && REG_RDI == 8 && REG_RAX == 13 && REG_RSP == 15 && REG_RIP == 16 && REG_EFL == 17);

constexpr std::uint64_t kUcFpXstate = 1, kUcSigcontextSs = 2, kUcStrictRestoreSs = 4;
constexpr std::uint32_t kFpXstateMagic1 = 0x46505853, kFpXstateMagic2 = 0x46505845;
constexpr std::size_t kSwBytesAt = 464;
constexpr std::size_t kXstateHeaderAt = 512;

// The extended state as rt_sigreturn takes it: the saved XSAVE image with
// the software words that say how much of it there is, and the closing
// magic word (or the legacy FXSAVE area alone when that is all there is).
std::vector<std::uint8_t> signalFpState(const ThreadState& saved)
{
    std::vector<std::uint8_t> fp = saved.extended;
    if (fp.size() < kSwBytesAt + 48)
        fp.resize(kSwBytesAt + 48, 0);
    std::fill(fp.begin() + kSwBytesAt, fp.begin() + kSwBytesAt + 48, std::uint8_t{0});
    if (saved.extendedType != NT_X86_XSTATE || fp.size() < kXstateHeaderAt + 64)
        return fp;
    std::uint64_t features = 0;
    std::memcpy(&features, fp.data() + kXstateHeaderAt, sizeof features);
    // Only as far as the last component in use (the rest is in its first
    // state), so that a process allowed fewer components than the machine
    // has takes it whole.
    std::uint32_t size = kXstateHeaderAt + 64;
    for (unsigned i = 2; i < 64; ++i) {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if ((features >> i) & 1 && __get_cpuid_count(0xD, i, &eax, &ebx, &ecx, &edx) && eax != 0)
            size = std::max(size, ebx + eax);
    }
    if (size > saved.extended.size())
        return fp; // not as expected: the legacy area only
    features |= 3; // x87 and SSE always
    const std::uint32_t extendedSize = size + 4;
    std::memcpy(fp.data() + kSwBytesAt, &kFpXstateMagic1, 4);
    std::memcpy(fp.data() + kSwBytesAt + 4, &extendedSize, 4);
    std::memcpy(fp.data() + kSwBytesAt + 8, &features, 8);
    std::memcpy(fp.data() + kSwBytesAt + 16, &size, 4);
    fp.resize(std::max<std::size_t>(fp.size(), size + 4));
    std::memcpy(fp.data() + size, &kFpXstateMagic2, 4);
    return fp;
}

// The frame that puts the thread back where it was stopped: its registers
// (an interrupted system call made to start again, as the kernel would on
// the way back), its blocked signals and its extended state at `fpAt`. The
// alternate signal stack is left as it is (an invalid mode is ignored).
SignalReturnFrame signalReturnFrame(const ThreadState& saved, std::uint64_t blocked, std::uint64_t fpAt)
{
    user_regs_struct r = saved.regs;
    const auto result = static_cast<std::int64_t>(r.rax);
    if (static_cast<std::int64_t>(r.orig_rax) >= 0) {
        constexpr std::int64_t kRestartSys = -512, kRestartNoIntr = -513, kRestartNoHand = -514, kRestartBlock = -516;
        if (result == kRestartSys || result == kRestartNoIntr || result == kRestartNoHand) {
            r.rax = r.orig_rax;
            r.rip -= 2;
        } else if (result == kRestartBlock) {
            r.rax = static_cast<std::uint64_t>(-EINTR); // as after a signal handler
        }
    }
    SignalReturnFrame f{};
    f.context.flags = kUcSigcontextSs | kUcStrictRestoreSs | (saved.extendedType == NT_X86_XSTATE ? kUcFpXstate : 0);
    f.context.stackFlags = 4;
    KernelSigcontext& c = f.context.mcontext;
    c.r8 = r.r8, c.r9 = r.r9, c.r10 = r.r10, c.r11 = r.r11, c.r12 = r.r12, c.r13 = r.r13, c.r14 = r.r14, c.r15 = r.r15;
    c.rdi = r.rdi, c.rsi = r.rsi, c.rbp = r.rbp, c.rbx = r.rbx, c.rdx = r.rdx, c.rax = r.rax, c.rcx = r.rcx;
    c.rsp = r.rsp, c.rip = r.rip, c.eflags = r.eflags;
    c.cs = static_cast<std::uint16_t>(r.cs);
    c.ss = static_cast<std::uint16_t>(r.ss);
    c.fpstate = fpAt;
    f.context.sigmask = blocked;
    return f;
}

template <typename T>
std::span<const std::uint8_t> bytesOf(const T& value)
{
    return {reinterpret_cast<const std::uint8_t*>(&value), sizeof value};
}

#endif

RemoteCall LinuxProcess::loadModule(const std::string& path, std::chrono::milliseconds limit)
{
    RemoteCall out;
    const std::string who = "process " + std::to_string(pid_);
    if (!sameUser(status_.get()) || !alive()) {
        out.error = who + " has ended or belongs to another user";
        return out;
    }
#if !defined(__x86_64__)
    (void)path;
    (void)limit;
    out.error = "loading a module into another process is not supported on this machine";
    return out;
#else
    const auto loader = ownLoaderCode();
    if (!loader) {
        out.error = "the C library's dlopen or signal return was not found in this program";
        return out;
    }
    const std::uint64_t base = lowestMapping(regions(), loader->path);
    if (base == 0) {
        out.error = who + " does not use this system's C library (" + loader->path + ")";
        return out;
    }
    const std::uint64_t dlopenAt = base + loader->dlopen;
    const std::uint64_t sigreturnAt = base + loader->sigreturn;
    {
        std::vector<std::uint8_t> head(loader->head.size());
        std::array<std::uint8_t, kSignalReturn.size()> sigreturn{};
        if (!read(dlopenAt, head) || head != loader->head || !read(sigreturnAt, sigreturn) || sigreturn != kSignalReturn) {
            out.error = who + " has another build of the C library at " + loader->path;
            return out;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;

    if (::ptrace(PTRACE_SEIZE, pid_, nullptr, nullptr) != 0) {
        const int error = errno;
        out.error = ptraceRefusal(pid_, error, tracerOf(status_.get()));
        return out;
    }
    int status = 0;
    // Stop the main thread where it is. Signals that arrive first go on to
    // it at once (a signal handed over at a later stop could be lost).
    ::ptrace(PTRACE_INTERRUPT, pid_, nullptr, nullptr);
    for (;;) {
        const Waited w = waitTraced(pid_, status, deadline);
        if (w == Waited::Ended) {
            out.error = who + " ended";
            return out;
        }
        if (w != Waited::Stopped) {
            out.error = who + " did not stop within " + std::to_string(limit.count()) + " ms";
            release(pid_);
            return out;
        }
        if ((status >> 16) == PTRACE_EVENT_STOP)
            break;
        ::ptrace(PTRACE_CONT, pid_, nullptr, ptraceWord(WSTOPSIG(status)));
    }
    ThreadState saved;
    if (!saved.save(pid_)) {
        out.error = "the registers of " + who + " could not be read";
        release(pid_);
        return out;
    }
    // The call's frame below the red zone of the interrupted code: a return
    // address of 0, whose fault ends the call while it is traced, then the
    // frame that would put the thread back by itself, its extended state
    // and the path.
    const std::uint64_t top = saved.regs.rsp - 256;
    const std::uint64_t pathAt = (top - (path.size() + 1)) & ~std::uint64_t{15};
    const std::vector<std::uint8_t> fpState = signalFpState(saved);
    const std::uint64_t fpAt = (pathAt - fpState.size()) & ~std::uint64_t{63};
    const std::uint64_t sp = ((fpAt - sizeof(SignalReturnFrame)) & ~std::uint64_t{15}) - 8;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(top - sp), 0);
    std::vector<std::uint8_t> original(frame.size());
    const SignalReturnFrame back = signalReturnFrame(saved, blockedSignals(pid_), fpAt);
    const auto backBytes = bytesOf(back);
    std::copy(backBytes.begin(), backBytes.end(), frame.begin());
    std::copy(fpState.begin(), fpState.end(), frame.begin() + static_cast<std::ptrdiff_t>(fpAt - sp));
    std::copy(path.begin(), path.end(), frame.begin() + static_cast<std::ptrdiff_t>(pathAt - sp));
    bool ran = read(sp, original) && write(sp, frame);
    if (ran) {
        user_regs_struct regs = saved.regs;
        regs.rip = dlopenAt;
        regs.rdi = pathAt;
        regs.rsi = RTLD_NOW;
        regs.rsp = sp;
        regs.rax = 0;
        regs.orig_rax = ~0ull; // no system call to restart on the way
        regs.eflags &= ~0x400ull; // the direction flag is clear at a call
        ran = ::ptrace(PTRACE_SETREGS, pid_, nullptr, &regs) == 0 && ::ptrace(PTRACE_CONT, pid_, nullptr, nullptr) == 0;
    }
    bool ended = false;
    // Once the time is up the thread is stopped once more to be handed the
    // frame's way back; the call is then left to finish on its own.
    bool abandoning = false;
    bool handOver = false;
    auto waitUntil = deadline;
    while (ran) {
        const Waited w = waitTraced(pid_, status, waitUntil);
        if (w == Waited::Ended) {
            ended = true;
            out.error = who + " ended during the call";
            break;
        }
        if (w != Waited::Stopped) {
            if (abandoning) {
                handOver = true; // it cannot be stopped now (an uninterruptible wait): it is not at its return either
                break;
            }
            abandoning = true;
            out.error = "the call in " + who + " did not return within " + std::to_string(limit.count()) +
                        " ms; it is left to finish there, and the thread then goes on where it was";
            ::ptrace(PTRACE_INTERRUPT, pid_, nullptr, nullptr);
            waitUntil = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            continue;
        }
        const int signal = WSTOPSIG(status);
        if ((status >> 16) != 0) {
            // A stop request. While abandoning, the thread is now stopped in
            // the call, unless the call has just returned to 0 and its fault
            // is still to come: then it is let go to that fault.
            if (abandoning) {
                user_regs_struct now{};
                if (::ptrace(PTRACE_GETREGS, pid_, nullptr, &now) == 0 && now.rip != 0) {
                    handOver = true;
                    break;
                }
            }
            ::ptrace(PTRACE_CONT, pid_, nullptr, nullptr);
            continue;
        }
        if (signal == SIGSEGV) {
            user_regs_struct now{};
            ::ptrace(PTRACE_GETREGS, pid_, nullptr, &now);
            if (now.rip == 0) {
                out.done = true;
                out.result = now.rax;
                out.error.clear();
            } else {
                out.error = "the call in " + who + " faulted";
            }
            break;
        }
        // The process's own signals reach it during the call too.
        ::ptrace(PTRACE_CONT, pid_, nullptr, ptraceWord(signal));
        if (abandoning)
            ::ptrace(PTRACE_INTERRUPT, pid_, nullptr, nullptr);
    }
    if (!ran && out.error.empty())
        out.error = "the call could not be set up in " + who;
    if (ended)
        return out;
    if (handOver) {
        // The call returns into the C library's signal return, which puts
        // back the registers, the blocked signals and the extended state
        // from the frame: the thread goes on where it was, with nothing of
        // the call left half done (the loader's lock is its own to release).
        write(sp, bytesOf(sigreturnAt));
        release(pid_);
        return out;
    }
    write(sp, original);
    saved.restore(pid_);
    release(pid_);
    return out;
#endif
}

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
        // Another user's process is never opened, whatever this program may.
        int status = ::open(procPath(pid, "status").c_str(), O_RDONLY | O_CLOEXEC);
        if (status < 0 || !sameUser(status)) {
            if (status >= 0) {
                ::close(status);
                if (debug::enabled())
                    debug::output("process " + std::to_string(pid) + " belongs to another user: not opened");
            }
            ::close(pidfd);
            return nullptr;
        }
        int mem = ::open(procPath(pid, "mem").c_str(), O_RDWR | O_CLOEXEC);
        if (mem < 0) {
            // The same permission as tracing it (Yama's ptrace_scope decides too).
            if (debug::enabled()) {
                const int error = errno;
                std::string text = "process " + std::to_string(pid) + ": its memory may not be opened (" +
                                   std::strerror(error) + ")";
                std::ifstream scope("/proc/sys/kernel/yama/ptrace_scope");
                if (int value = 0; scope >> value && value > 0)
                    text += "; kernel.yama.ptrace_scope is " + std::to_string(value);
                debug::output(text);
            }
            ::close(status);
            ::close(pidfd);
            return nullptr;
        }
        auto handle = std::make_unique<LinuxProcess>(pid, pidfd, mem, status);
        // The pid may have been reused between listing and opening: a pidfd
        // taken after the process died reports it dead at once, and one that
        // still lives vouches for the files opened after it.
        if (!handle->alive())
            return nullptr;
        return handle;
    }

    // Lists /proc once and names each process from the names of the scans
    // before: the game view library looks for its games every second, and
    // reading every process's executable link each time cost it a
    // millisecond or more of processor time a second on a busy desktop. A
    // name is known by pid and the inode of the pid's folder, which a new
    // process under a reused pid does not share; it is read again after
    // kRecheck, so a process that replaced its program (exec) is seen under
    // its new name by then.
    std::vector<int> findByExecutable(std::string_view name) override
    {
        std::vector<int> pids;
        DIR* dir = ::opendir("/proc");
        if (!dir)
            return pids;
        const int procFd = ::dirfd(dir);
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(namesLock_);
        ++scan_;
        while (dirent* entry = ::readdir(dir)) {
            int pid = 0;
            const char* n = entry->d_name;
            auto res = std::from_chars(n, n + std::strlen(n), pid);
            if (res.ec != std::errc{} || *res.ptr != '\0' || pid <= 0)
                continue;
            Known& known = names_[pid];
            if (known.scan == 0 || known.inode != entry->d_ino || now - known.read >= kRecheck) {
                known.inode = entry->d_ino;
                known.read = now;
                known.name = nameAt(procFd, pid);
            }
            known.scan = scan_;
            if (equalsIgnoreCase(known.name, name))
                pids.push_back(pid);
        }
        ::closedir(dir);
        // Processes that are gone are forgotten.
        std::erase_if(names_, [this](const auto& e) { return e.second.scan != scan_; });
        std::sort(pids.begin(), pids.end());
        return pids;
    }

    std::string executableName(int pid) override
    {
        const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (procFd < 0)
            return {};
        std::string out = nameAt(procFd, pid);
        ::close(procFd);
        return out;
    }

private:
    static constexpr auto kRecheck = std::chrono::seconds(10);

    struct Known {
        ino_t inode = 0;
        std::chrono::steady_clock::time_point read{};
        std::uint64_t scan = 0;
        std::string name;
    };

    // The executable's base name of `pid`, read relative to /proc.
    static std::string nameAt(int procFd, int pid)
    {
        char path[32];
        std::snprintf(path, sizeof path, "%d/exe", pid);
        char buffer[4096];
        const ssize_t n = ::readlinkat(procFd, path, buffer, sizeof buffer - 1);
        if (n > 0) {
            std::string_view target(buffer, static_cast<std::size_t>(n));
            // A replaced or removed file shows " (deleted)".
            constexpr std::string_view deleted = " (deleted)";
            if (target.ends_with(deleted))
                target.remove_suffix(deleted.size());
            return baseName(target);
        }
        // A kernel thread or a process that has ended has no executable.
        if (errno == ENOENT || errno == ESRCH)
            return {};
        // No access to the link: the first word of the command line.
        std::snprintf(path, sizeof path, "%d/cmdline", pid);
        const int fd = ::openat(procFd, path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return {};
        const ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
        ::close(fd);
        if (got <= 0)
            return {};
        return baseName(std::string_view(buffer, ::strnlen(buffer, static_cast<std::size_t>(got))));
    }

    std::mutex namesLock_;
    std::unordered_map<int, Known> names_;
    std::uint64_t scan_ = 0;
};

} // namespace

ProcessSystem& systemProcesses()
{
    static LinuxProcessSystem system;
    return system;
}

} // namespace platform
