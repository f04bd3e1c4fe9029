#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/frame/status_lines.h"
#include "testing/test_clock.h"

namespace {

class StatusLinesTest : public ::testing::Test {
protected:
    testing_support::TestClock clock;
    std::vector<std::string> written;
    CStatusLines lines{clock, [this](std::string_view line) { written.emplace_back(line); }};
};

TEST_F(StatusLinesTest, TheFirstLineWaitsASecondForTheCameraToStart)
{
    lines.Update(false, false);
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(lines.Due(), std::chrono::milliseconds(1000));
    clock.advanceMs(400);
    lines.Update(true, false); // the camera came up meanwhile
    clock.advanceMs(600);
    lines.Flush();
    EXPECT_EQ(written, std::vector<std::string>{"vistrel: camera running, head lost"});
    EXPECT_FALSE(lines.Due());
}

TEST_F(StatusLinesTest, ChangesAreWrittenAtMostOnceASecondAndFlickersNever)
{
    clock.advanceMs(1000);
    lines.Update(true, true);
    EXPECT_EQ(written, std::vector<std::string>{"vistrel: camera running, head tracked"});

    // Lost and found again within the second: nothing to tell.
    clock.advanceMs(100);
    lines.Update(true, false);
    clock.advanceMs(100);
    lines.Update(true, true);
    EXPECT_FALSE(lines.Due());
    clock.advanceMs(2000);
    lines.Flush();
    EXPECT_EQ(written.size(), 1u);

    // A change long after the last line is written at once; the next one
    // waits for its second.
    lines.Update(true, false);
    clock.advanceMs(300);
    lines.Update(false, false);
    EXPECT_EQ(written.back(), "vistrel: camera running, head lost");
    EXPECT_EQ(lines.Due(), std::chrono::milliseconds(700));
    clock.advanceMs(699);
    lines.Flush();
    EXPECT_EQ(written.size(), 2u);
    clock.advanceMs(1);
    lines.Flush();
    EXPECT_EQ(written.back(), "vistrel: camera stopped");
    EXPECT_EQ(written.size(), 3u);
    lines.Flush(); // written once
    lines.Update(false, true); // no camera, no head: the same line
    EXPECT_EQ(written.size(), 3u);
}

// At exit nothing the user should know is left unsaid: the line held back
// in the last second, then that the camera stopped, at once.
TEST_F(StatusLinesTest, AtExitTheHeldBackLineAndTheFinalStateAreWritten)
{
    using Lines = std::vector<std::string>;
    struct Case {
        const char* what;
        std::function<void(CStatusLines&, testing_support::TestClock&)> before;
        Lines expected;
    };
    const Case cases[] = {
        {"nothing held back", [](CStatusLines& l, testing_support::TestClock& c) { c.advanceMs(1000); l.Update(true, true); },
         {"vistrel: camera running, head tracked", "vistrel: camera stopped"}},
        {"lost just before the exit",
         [](CStatusLines& l, testing_support::TestClock& c) {
             c.advanceMs(1000);
             l.Update(true, true);
             c.advanceMs(200);
             l.Update(true, false);
         },
         {"vistrel: camera running, head tracked", "vistrel: camera running, head lost", "vistrel: camera stopped"}},
        {"the first line still waiting for its second",
         [](CStatusLines& l, testing_support::TestClock& c) {
             l.Update(true, true);
             c.advanceMs(300);
         },
         {"vistrel: camera running, head tracked", "vistrel: camera stopped"}},
        {"stopped already said", [](CStatusLines& l, testing_support::TestClock& c) { c.advanceMs(1000); l.Update(false, false); },
         {"vistrel: camera stopped"}},
        {"nothing said yet", [](CStatusLines&, testing_support::TestClock&) {}, {"vistrel: camera stopped"}},
    };
    for (const Case& c : cases) {
        testing_support::TestClock clock;
        Lines out;
        CStatusLines l(clock, [&](std::string_view line) { out.emplace_back(line); });
        c.before(l, clock);
        l.Finish(false, false);
        EXPECT_EQ(out, c.expected) << c.what;
        l.Finish(false, false); // once
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

} // namespace
