#pragma once
// Notices of the machine going to sleep and waking up, so that the camera can
// be stopped before a suspend and started again after it. Linux tells of both
// through systemd-logind's PrepareForSleep signal on the system bus (true
// before the sleep, false after the wake).
#include <functional>
#include <memory>
#include <string>

namespace platform::power {

enum class Notice { Suspend, Resume };

// Watches for the notices on a thread of its own until destroyed (the
// destructor stops and joins it). `notify` runs on that thread.
class PowerWatch {
public:
    virtual ~PowerWatch() = default;
};

struct WatchOptions {
    // The bus to listen on: empty for the system bus, else a D-Bus address.
    std::string busAddress;
    // Only signals from this bus name count (logind's, on the system bus).
    std::string sender = "org.freedesktop.login1";
    // How long a wait for the bus lasts before the thread looks whether it
    // is to stop (ms); it bounds the destructor's wait.
    int pollMs = 200;
};

// Null when the bus cannot be reached (no system bus, as in containers):
// the program then runs without the notices.
std::unique_ptr<PowerWatch> WatchSleep(std::function<void(Notice)> notify, const WatchOptions& options = {});

} // namespace platform::power
