// Without a display the program tells on standard output that the camera
// runs and the head is tracked, in short lines.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "testing/vistrel_process.h"

namespace {

using namespace std::chrono_literals;

TEST(Headless, ShortLinesTellThatTheCameraRunsAndTheHeadIsTracked)
{
    auto options = testing_support::ProgramOptions();
    options.scene = "motion still\n";
    testing_support::VistrelProcess program(options);
    ASSERT_TRUE(program.ready()) << program.output();
    EXPECT_TRUE(testing_support::WaitUntil(
        [&] { return program.output().find("vistrel: camera running, head tracked\n") != std::string::npos; }, 30s))
        << program.output();
    EXPECT_EQ(program.stop(), 0) << program.output();
    // Only whole status lines of their few forms.
    std::istringstream lines(program.output());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("vistrel: camera", 0) != 0)
            continue;
        ++count;
        EXPECT_TRUE(line == "vistrel: camera running, head tracked" || line == "vistrel: camera running, head lost" ||
                    line == "vistrel: camera stopped")
            << line;
    }
    EXPECT_GE(count, 1);
}

} // namespace
