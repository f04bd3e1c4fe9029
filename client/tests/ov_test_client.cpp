// A game stand-in for the tests: loads OVClient from the path in argv[1] and
// runs one command per line of standard input, answering one line each.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "client/binder.h"
#include "client/ovclient.h"
#include "platform/messages.h"
#include "platform/modules.h"
#include "platform/shared.h"
#include "platform/sync.h"

namespace {

// The client's own window, on a thread that pumps it.
class ClientWindow {
public:
    ClientWindow()
    {
        thread_ = std::thread([this] {
            hwnd_ = platform::createWindow({"TestClient", "Test client", true},
                                           [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM)
                                               -> platform::LRESULT { return 0; });
            ready_.set();
            platform::Msg m;
            while (platform::getMessage(m) != 0)
                platform::dispatchMessage(m);
            platform::destroyWindow(hwnd_);
        });
        ready_.wait(5000);
    }
    ~ClientWindow()
    {
        platform::postMessage(hwnd_, platform::WM_QUIT, 0, 0);
        thread_.join();
    }
    platform::HWND hwnd() const { return hwnd_; }

private:
    platform::Event ready_;
    std::atomic<platform::HWND> hwnd_{0};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    auto lib = platform::Module::load(argv[1]);
    if (!lib)
        return 3;
    const ovclient::ClientFunctions api = ovclient::BindFunctions(*lib);
    std::unique_ptr<ClientWindow> window;
    std::unique_ptr<platform::NamedMutex> held;
    std::printf("ready\n");
    std::fflush(stdout);

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        std::ostringstream out;
        long a = 0, b = 0;
        if (cmd == "window") {
            window = std::make_unique<ClientWindow>();
            out << window->hwnd();
        } else if (cmd == "close") {
            window.reset();
            out << "closed";
        } else if (cmd == "regwin") {
            platform::HWND h = window ? window->hwnd() : 0;
            if (in >> a)
                h = static_cast<platform::HWND>(a);
            out << api.registerWindowHandle(h);
        } else if (cmd == "postreg") {
            // Registers `a` by a posted command, which reaches the program
            // without its sender: the program cannot tell which process it is.
            in >> a;
            const platform::HWND server = platform::findWindow(nullptr, "Orvane");
            out << (server != 0 && platform::postMessage(server, OV_COMMAND_MESSAGE, OV_CMD_REGISTER_WINDOW,
                                                         static_cast<platform::LPARAM>(a))
                        ? "posted"
                        : "failed");
        } else if (cmd == "unreg") {
            out << api.unregisterWindowHandle();
        } else if (cmd == "profile") {
            in >> a;
            out << api.registerProgramProfileID(static_cast<std::uint16_t>(a));
        } else if (cmd == "request") {
            in >> a;
            out << api.requestData(static_cast<std::uint16_t>(a));
        } else if (cmd == "start") {
            out << api.startDataTransmission();
        } else if (cmd == "stop") {
            out << api.stopDataTransmission();
        } else if (cmd == "cursoron") {
            out << api.startCursor();
        } else if (cmd == "cursoroff") {
            out << api.stopCursor();
        } else if (cmd == "recenter") {
            out << api.reCenter();
        } else if (cmd == "getdata") {
            OVPosePacket p{};
            const int r = api.getData(&p);
            out << r << ' ' << p.status << ' ' << p.frame << ' ' << p.reserved;
            for (float v : p.value)
                out << ' ' << v;
        } else if (cmd == "version") {
            std::uint16_t v = 0xffff;
            const int r = api.queryVersion(&v);
            out << r << ' ' << v;
        } else if (cmd == "getparam") {
            in >> a;
            std::int32_t v = -99;
            const int r = api.getParameter(static_cast<std::int32_t>(a), &v);
            out << r << ' ' << v;
        } else if (cmd == "setparam") {
            in >> a >> b;
            out << api.setParameter(static_cast<std::int32_t>(a), static_cast<std::int32_t>(b));
        } else if (cmd == "spam") {
            // Repeats a request with the given flags; counts answers other
            // than the flags themselves (the test server echoes them).
            in >> a >> b;
            long wrong = 0;
            for (long i = 0; i < b; ++i)
                if (api.requestData(static_cast<std::uint16_t>(a)) != a)
                    ++wrong;
            out << wrong;
        } else if (cmd == "hold") {
            held = platform::NamedMutex::open("OVClientMutex");
            out << (held && platform::holds(held->lock(std::chrono::milliseconds(1000))) ? "held" : "failed");
        } else if (cmd == "die") {
            std::_Exit(9); // leaves whatever it holds
        } else if (cmd == "exit") {
            break;
        } else {
            out << "unknown";
        }
        std::printf("%s\n", out.str().c_str());
        std::fflush(stdout);
    }
    return 0;
}
