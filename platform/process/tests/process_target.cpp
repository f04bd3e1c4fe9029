// A stand-in game for the process tests: maps memory at fixed addresses,
// optionally fills it and makes it read-only code, shows a top-level X11
// window, says "ready", then obeys simple commands on stdin:
//   dump ADDR SIZE   prints the bytes as hex (what the process itself sees)
//   poke ADDR HEX    writes bytes (the game changing its own state)
//   close            destroys its window
//   become UID       takes on another user's uid and gid (when root)
//   spin ADDR        says "spinning", then spins with known values in the
//                    registers any call may change until the u32 at ADDR is
//                    not 0, and says "intact" or which register changed
//   threadload PATH  loads PATH with dlopen on a new thread: "loaded",
//                    "failed", or "stuck" when that takes over 5 s (the
//                    loader's lock held)
//   exit             ends the process
// Arguments: ADDR:SIZE:PROT (PROT rw or rx), ADDR@FILE (the file mapped
// privately there, as a loaded module is) and ADDR=HEX fills, in order;
// fills are applied before protections. --window=DISPLAY|INSTANCE|CLASS|TITLE
// shows the window (WM_CLASS, WM_NAME and _NET_WM_NAME, and _NET_WM_PID
// unless --nopid comes before it).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <dlfcn.h>
#include <future>
#include <thread>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::uint8_t> parseHex(const std::string& hex)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> out(1);
    for (char c : text) {
        if (c == separator)
            out.emplace_back();
        else
            out.back().push_back(c);
    }
    return out;
}

// The game's main window.
struct GameWindow {
    Display* display = nullptr;
    ::Window id = 0;

    bool open(const std::string& description, bool withPid)
    {
        const auto parts = split(description, '|');
        if (parts.size() != 4)
            return false;
        display = XOpenDisplay(parts[0].c_str());
        if (!display)
            return false;
        id = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 64, 48, 0, 0, 0);
        std::string instance = parts[1], cls = parts[2];
        XClassHint hint{instance.data(), cls.data()};
        XSetClassHint(display, id, &hint);
        XStoreName(display, id, parts[3].c_str());
        XChangeProperty(display, id, XInternAtom(display, "_NET_WM_NAME", False),
                        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(parts[3].data()), static_cast<int>(parts[3].size()));
        if (withPid) {
            const long pid = ::getpid();
            XChangeProperty(display, id, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
        }
        XMapWindow(display, id);
        XSync(display, False);
        return true;
    }
    void close()
    {
        if (display && id) {
            XDestroyWindow(display, id);
            XSync(display, False);
            id = 0;
        }
    }
};

struct Area {
    std::uintptr_t address;
    std::size_t size;
    bool code;
};


#if defined(__x86_64__)
// Spins until *flag is non-zero with known values in the general registers
// and SSE registers that the calling convention lets any call change, then
// names the first one that changed ("" when none did).
std::string spinKeepingRegisters(const volatile std::uint32_t* flag)
{
    std::uint64_t seen[23] = {};
    asm volatile(
        "movq $0x1111111111111111, %%rcx\n\t"
        "movq $0x2222222222222222, %%rsi\n\t"
        "movq $0x3333333333333333, %%rdi\n\t"
        "movq $0x4444444444444444, %%r8\n\t"
        "movq $0x5555555555555555, %%r9\n\t"
        "movq $0x6666666666666666, %%r10\n\t"
        "movq $0x7777777777777777, %%r11\n\t"
        "movq %%rcx, %%xmm0\n\t movq %%rsi, %%xmm1\n\t movq %%rdi, %%xmm2\n\t movq %%r8, %%xmm3\n\t"
        "movq %%r9, %%xmm4\n\t movq %%r10, %%xmm5\n\t movq %%r11, %%xmm6\n\t movq %%rcx, %%xmm7\n\t"
        "movq %%rsi, %%xmm8\n\t movq %%rdi, %%xmm9\n\t movq %%r8, %%xmm10\n\t movq %%r9, %%xmm11\n\t"
        "movq %%r10, %%xmm12\n\t movq %%r11, %%xmm13\n\t movq %%rcx, %%xmm14\n\t movq %%rsi, %%xmm15\n\t"
        "1:\n\t"
        "pause\n\t"
        "cmpl $0, (%[flag])\n\t"
        "je 1b\n\t"
        "movq %%rcx, 0(%[seen])\n\t movq %%rsi, 8(%[seen])\n\t movq %%rdi, 16(%[seen])\n\t"
        "movq %%r8, 24(%[seen])\n\t movq %%r9, 32(%[seen])\n\t movq %%r10, 40(%[seen])\n\t"
        "movq %%r11, 48(%[seen])\n\t"
        "movq %%xmm0, 56(%[seen])\n\t movq %%xmm1, 64(%[seen])\n\t movq %%xmm2, 72(%[seen])\n\t"
        "movq %%xmm3, 80(%[seen])\n\t movq %%xmm4, 88(%[seen])\n\t movq %%xmm5, 96(%[seen])\n\t"
        "movq %%xmm6, 104(%[seen])\n\t movq %%xmm7, 112(%[seen])\n\t movq %%xmm8, 120(%[seen])\n\t"
        "movq %%xmm9, 128(%[seen])\n\t movq %%xmm10, 136(%[seen])\n\t movq %%xmm11, 144(%[seen])\n\t"
        "movq %%xmm12, 152(%[seen])\n\t movq %%xmm13, 160(%[seen])\n\t movq %%xmm14, 168(%[seen])\n\t"
        "movq %%xmm15, 176(%[seen])\n\t"
        :
        : [flag] "r"(flag), [seen] "r"(seen)
        : "rcx", "rsi", "rdi", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6",
          "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory", "cc");
    const std::uint64_t gprs[7] = {0x1111111111111111, 0x2222222222222222, 0x3333333333333333, 0x4444444444444444,
                                   0x5555555555555555, 0x6666666666666666, 0x7777777777777777};
    const char* names[7] = {"rcx", "rsi", "rdi", "r8", "r9", "r10", "r11"};
    for (int i = 0; i < 7; ++i)
        if (seen[i] != gprs[i])
            return names[i];
    for (int i = 0; i < 16; ++i)
        if (seen[7 + i] != gprs[i % 7])
            return "xmm" + std::to_string(i);
    return {};
}
#endif

} // namespace

int main(int argc, char** argv)
{
    std::vector<Area> areas;
    GameWindow window;
    bool withPid = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--nopid") {
            withPid = false;
            continue;
        }
        if (arg.rfind("--window=", 0) == 0) {
            if (!window.open(arg.substr(9), withPid)) {
                std::fprintf(stderr, "window: %s\n", arg.c_str());
                return 2;
            }
            continue;
        }
        if (auto eq = arg.find('='); eq != std::string::npos) {
            auto address = std::stoull(arg.substr(0, eq), nullptr, 0);
            auto bytes = parseHex(arg.substr(eq + 1));
            std::memcpy(reinterpret_cast<void*>(address), bytes.data(), bytes.size());
            continue;
        }
        if (auto at = arg.find('@'); at != std::string::npos) {
            auto address = std::stoull(arg.substr(0, at), nullptr, 0);
            int fd = ::open(arg.substr(at + 1).c_str(), O_RDONLY);
            struct stat st {};
            if (fd < 0 || ::fstat(fd, &st) != 0 ||
                ::mmap(reinterpret_cast<void*>(address), static_cast<std::size_t>(st.st_size), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_FIXED_NOREPLACE, fd, 0) != reinterpret_cast<void*>(address)) {
                std::perror("mmap file");
                return 2;
            }
            ::close(fd);
            continue;
        }
        auto c1 = arg.find(':');
        auto c2 = arg.find(':', c1 + 1);
        Area a{std::stoull(arg.substr(0, c1), nullptr, 0),
               std::stoull(arg.substr(c1 + 1, c2 - c1 - 1), nullptr, 0), arg.substr(c2 + 1) == "rx"};
        void* p = ::mmap(reinterpret_cast<void*>(a.address), a.size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (p != reinterpret_cast<void*>(a.address)) {
            std::perror("mmap");
            return 2;
        }
        areas.push_back(a);
    }
    for (const Area& a : areas)
        if (a.code)
            ::mprotect(reinterpret_cast<void*>(a.address), a.size, PROT_READ | PROT_EXEC);
    std::cout << "ready" << std::endl;
    std::string command;
    while (std::cin >> command) {
        if (command == "exit")
            return 0;
        if (command == "become") {
            unsigned id = 0;
            std::cin >> id;
            const bool done = ::setgroups(0, nullptr) == 0 && ::setresgid(id, id, id) == 0 && ::setresuid(id, id, id) == 0;
            std::cout << (done ? "ok" : "refused") << std::endl;
            continue;
        }
        if (command == "spin") {
            std::string address;
            std::cin >> address;
            std::cout << "spinning" << std::endl;
#if defined(__x86_64__)
            const std::string changed =
                spinKeepingRegisters(reinterpret_cast<const volatile std::uint32_t*>(std::stoull(address, nullptr, 0)));
            std::cout << (changed.empty() ? "intact" : changed + " changed") << std::endl;
#else
            std::cout << "intact" << std::endl;
#endif
            continue;
        }
        if (command == "threadload") {
            std::string path;
            std::cin >> path;
            auto done = std::make_shared<std::promise<bool>>();
            auto loaded = done->get_future();
            std::thread([path, done] { done->set_value(::dlopen(path.c_str(), RTLD_NOW) != nullptr); }).detach();
            if (loaded.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
                std::cout << "stuck" << std::endl;
            else
                std::cout << (loaded.get() ? "loaded" : "failed") << std::endl;
            continue;
        }
        if (command == "close") {
            window.close();
            std::cout << "ok" << std::endl;
            continue;
        }
        if (command == "dump") {
            std::string address, size;
            std::cin >> address >> size;
            auto* p = reinterpret_cast<const std::uint8_t*>(std::stoull(address, nullptr, 0));
            auto n = std::stoull(size, nullptr, 0);
            char buf[3];
            for (std::size_t i = 0; i < n; ++i) {
                std::snprintf(buf, sizeof buf, "%02x", p[i]);
                std::cout << buf;
            }
            std::cout << std::endl;
        } else if (command == "poke") {
            std::string address, hex;
            std::cin >> address >> hex;
            auto bytes = parseHex(hex);
            std::memcpy(reinterpret_cast<void*>(std::stoull(address, nullptr, 0)), bytes.data(), bytes.size());
            std::cout << "ok" << std::endl;
        }
    }
    return 0;
}
