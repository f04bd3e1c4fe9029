#pragma once
// Camera timings for tests on the simulated camera: threads that idle for a
// millisecond, short waits for configuration and the FPGA, and a watchdog
// that still outlasts a slow test machine. Header only: the tests that use
// it link the camera library themselves.
#include "camera/camera.h"

namespace testing_support {

inline Orvane::CameraTiming FastCameraTiming()
{
    Orvane::CameraTiming t;
    t.watchdogMs = 150;
    t.statusPolls = 400;
    t.threadStartMs = 1;
    t.sendIdleMs = 1;
    t.readerIdleMs = 1;
    t.imageIdleMs = 5;
    t.syncReadLimitMs = 3000;
    t.configWaitMs = 1500;
    t.fpgaRunningReads = 20;
    t.fpgaRunningPollMs = 1;
    t.stopSettleMs = 1;
    return t;
}

} // namespace testing_support
