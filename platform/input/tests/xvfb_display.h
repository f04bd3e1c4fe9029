#pragma once
// kbhook/tests still includes this path; the fixture itself is shared in testing/.
#include "../../../testing/include/testing/xvfb_server.h"

namespace xvfb_test {
using XvfbDisplay = testing_support::XvfbServer;
} // namespace xvfb_test
