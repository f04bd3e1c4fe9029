// A stand-in game for the process tests: maps memory at fixed addresses,
// optionally fills it and makes it read-only code, shows a top-level X11
// window, says "ready", then obeys simple commands on stdin:
//   dump ADDR SIZE   prints the bytes as hex (what the process itself sees)
//   poke ADDR HEX    writes bytes (the game changing its own state)
//   close            destroys its window
//   become UID       takes on another user's uid and gid (when root)
//   exit             ends the process
// Arguments: ADDR:SIZE:PROT (PROT rw or rx), ADDR@FILE (the file mapped
// privately there, as a loaded module is) and ADDR=HEX fills, in order;
// fills are applied before protections. --window=DISPLAY|INSTANCE|CLASS|TITLE
// shows the window (WM_CLASS, WM_NAME and _NET_WM_NAME, and _NET_WM_PID
// unless --nopid comes before it).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
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
