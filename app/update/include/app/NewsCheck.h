#pragma once
// The short-lived news thread: one news query; when the server's news
// version is above the last one the user saw, the reply is handed to the
// sheet (which posts WM_NEWS_AVAILABLE). The reply travels with the post, so
// no string is shared between threads. Joined before the object goes.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "app/UpdateService.h"
#include "platform/sync.h"

class CNewsCheck {
public:
    using LastVersion = std::function<std::int32_t()>; // "Settings"/"LastNewsVersion", default 0
    using Announce = std::function<void(const CNewsReply&)>;

    CNewsCheck(const CUpdateService& service, LastVersion lastVersion, Announce announce);
    ~CNewsCheck();
    CNewsCheck(const CNewsCheck&) = delete;
    CNewsCheck& operator=(const CNewsCheck&) = delete;

    // Starts a check unless one is running (a finished one is joined first);
    // false when one was still running.
    bool Start();
    bool Running() const { return running_.load(); }
    // Waits for the running check; bounded by the service's time-outs.
    void Join();

    // The check itself, on the calling thread: true when news was announced.
    bool CheckNews();

private:
    const CUpdateService& service_;
    LastVersion lastVersion_;
    Announce announce_;
    std::mutex lock_;
    platform::Thread thread_;
    std::atomic<bool> running_{false};
};
