#include "platform/debug.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace debug = platform::debug;

TEST(Debug, CaptureCollectsLinesAndRestoresPreviousSink)
{
    debug::Capture outer;
    {
        debug::Capture inner;
        debug::output("inner line\n");
        EXPECT_TRUE(inner.contains("inner line"));
        EXPECT_EQ(inner.lines().front(), "inner line") << "trailing newline is trimmed";
    }
    debug::output("outer line");
    EXPECT_EQ(outer.lines().size(), 1u);
    EXPECT_TRUE(outer.contains("outer"));
    EXPECT_TRUE(debug::enabled());
}

TEST(Debug, ConcurrentWritersLoseNothing)
{
    debug::Capture capture;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([] {
            for (int i = 0; i < 250; ++i)
                debug::output("x");
        });
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(capture.lines().size(), 1000u);
}
