// The main program's side for the benchmarks: runs the command window and
// publishes a pose at 1000 Hz for a client registered by itself, until its
// standard input closes.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include "engine/VSLEnhanced.h"

int main()
{
    CVSLEnhanced link;
    link.Start();
    if (!link.IsLibraryLoaded() || link.CommandWindow() == 0)
        return 3;
    const platform::HWND client = platform::createWindow(
        {"BenchClient", "bench client", true},
        [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) -> platform::LRESULT { return 0; });
    const platform::HWND server = link.CommandWindow();
    platform::sendMessage(server, OV_COMMAND_MESSAGE, OV_CMD_REGISTER_WINDOW, client);
    platform::sendMessage(server, OV_COMMAND_MESSAGE, OV_CMD_REGISTER_PROFILE, 2302);
    platform::sendMessage(server, OV_COMMAND_MESSAGE, OV_CMD_START_DATA, 0);
    std::printf("ready\n");
    std::fflush(stdout);

    auto next = std::chrono::steady_clock::now();
    float t = 0;
    for (;;) {
        pollfd p{0, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0)
            break; // stdin closed or written: stop
        link.PublishPose(t, -t, t * 0.5f, 1, 2, 3);
        t += 1;
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
    }
    link.Stop();
    platform::destroyWindow(client);
    return 0;
}
