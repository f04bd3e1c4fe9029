#pragma once
// Whether this process may run threads at real-time priority: the suite's
// highest thread priorities are then SCHED_FIFO, and what depends on that
// (threads of the frame road keeping to one processor) can be tested. Asked
// on a scratch thread, so the caller's own priority is left as it is.
#include <pthread.h>
#include <sched.h>
#include <thread>

#include "platform/sync.h"

namespace testing_support {

inline bool RealTimePermitted()
{
    bool realTime = false;
    std::thread([&] {
        int policy = 0;
        sched_param param{};
        realTime = platform::Thread::setCurrentPriority(platform::ThreadPriority::Highest) &&
                   pthread_getschedparam(pthread_self(), &policy, &param) == 0 && policy == SCHED_FIFO;
    }).join();
    return realTime;
}

} // namespace testing_support
