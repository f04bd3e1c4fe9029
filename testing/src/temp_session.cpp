#include "testing/temp_session.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace testing_support {

TempSession::TempSession()
{
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    name_ = "orvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + "-" +
            std::to_string(static_cast<unsigned long long>(stamp) % 1000000007ULL);
    if (const char* old = std::getenv("ORVANE_SESSION")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("ORVANE_SESSION", name_.c_str(), 1);
}

TempSession::~TempSession()
{
    removeObjects(name_);
    if (hadPrevious_)
        ::setenv("ORVANE_SESSION", previous_.c_str(), 1);
    else
        ::unsetenv("ORVANE_SESSION");
}

void TempSession::removeObjects(const std::string& name)
{
    // POSIX shared memory lives in /dev/shm; abstract sockets go with
    // their processes.
    std::error_code ec;
    const std::string prefix = name + ".";
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        const std::string file = entry.path().filename().string();
        if (file.compare(0, prefix.size(), prefix) == 0)
            std::filesystem::remove(entry.path(), ec);
    }
}

} // namespace testing_support
