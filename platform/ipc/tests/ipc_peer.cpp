// Helper for the cross-process tests: owns a window, or holds a named mutex.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <unistd.h>

#include "platform/messages.h"
#include "platform/shared.h"

using namespace platform;

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string mode = argv[1];
    if (mode == "server") {
        const HWND h = createWindow({"PeerClass", argv[2], true}, [](HWND self, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            switch (m) {
            case WM_USER + 1:
                return static_cast<LRESULT>(w) + l;
            case WM_USER + 2: // answer by post to the window in lParam
                postMessage(static_cast<HWND>(l), WM_USER + 3, w, static_cast<LPARAM>(self));
                return 1;
            case WM_USER + 4:
                std::this_thread::sleep_for(std::chrono::milliseconds(w));
                return 4;
            case WM_USER + 5: // who sent this
                return messageSenderPid();
            case WM_USER + 6: // sends WM_USER + 7 to the window in lParam, returns its answer
                return sendMessage(static_cast<HWND>(l), WM_USER + 7, 0, 0).value_or(-1);
            case WM_USER + 9:
                std::_Exit(0); // dies in the middle of a send
            case WM_CLOSE:
                postQuitMessage(0);
                return 0;
            default:
                return 0;
            }
        });
        if (h == 0)
            return 3;
        std::printf("%u\n", h);
        std::fflush(stdout);
        Msg msg;
        while (getMessage(msg) != 0)
            dispatchMessage(msg);
        destroyWindow(h);
        return 0;
    }
    if (mode == "lock") {
        auto m = NamedMutex::open(argv[2]);
        if (!m || !holds(m->lock(std::chrono::milliseconds(1000))))
            return 3;
        std::printf("locked\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(30)); // killed by the test
        return 0;
    }
    return 2;
}
