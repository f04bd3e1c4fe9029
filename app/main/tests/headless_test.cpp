// Without a display the program tells on standard output that the camera
// runs and the head is tracked, in short lines, and on standard error what
// it would otherwise show in a message box; nothing waits for an answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/pose_file.h"
#include "testing/vistrel_process.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<std::string> StatusLines(const std::string& output)
{
    std::istringstream lines(output);
    std::vector<std::string> out;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("vistrel: camera", 0) == 0)
            out.push_back(line);
    return out;
}

TEST(Headless, ShortLinesTellThatTheCameraRunsAndTheHeadIsTracked)
{
    auto options = testing_support::ProgramOptions();
    options.scene = "motion still\n";
    // As on a machine with nobody logged in: no runtime folder.
    options.unset = {"XDG_RUNTIME_DIR"};
    testing_support::VistrelProcess program(options);
    ASSERT_TRUE(program.ready()) << program.output();
    EXPECT_TRUE(testing_support::WaitUntil(
        [&] { return program.output().find("vistrel: camera running, head tracked\n") != std::string::npos; }, 30s))
        << program.output();
    EXPECT_EQ(program.stop(), 0) << program.output();
    // Only whole status lines of their few forms, the last one at the exit.
    const std::vector<std::string> lines = StatusLines(program.output());
    for (const std::string& line : lines)
        EXPECT_TRUE(line == "vistrel: camera running, head tracked" || line == "vistrel: camera running, head lost" ||
                    line == "vistrel: camera stopped")
            << line;
    EXPECT_GE(lines.size(), 2u);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "vistrel: camera stopped") << program.output();
    // The toolkit's warnings of every run without a screen stay out of it.
    for (const char* noise : {"XDG_RUNTIME_DIR not set", "propagateSizeHints"})
        EXPECT_EQ(program.output().find(noise), std::string::npos) << program.output();
}

// As a user starts it from a text console or over ssh: no DISPLAY, no
// WAYLAND_DISPLAY and no platform chosen.
TEST(Headless, WithNoDisplayAtAllTheProgramRunsHeadless)
{
    auto options = testing_support::ProgramOptions();
    options.scene = "motion still\n";
    options.unset = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    testing_support::VistrelProcess program(options);
    ASSERT_TRUE(program.ready()) << program.output();
    EXPECT_TRUE(testing_support::WaitUntil(
        [&] { return program.output().find("vistrel: camera running") != std::string::npos; }, 30s))
        << program.output();
    EXPECT_EQ(program.stop(), 0) << program.output();
}

std::string ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A user's damaged files met headless: every message is a line on standard
// error, none waits in a box nobody can see, and the program comes up.
// What a recording that was killed left is the user's recording again.
TEST(Headless, DamagedFilesAreToldOnStandardErrorAndNothingWaits)
{
    const std::string cut("<\0?\0x\0m\0l\0 \0v\0e", 15);
    const std::string settings = "<Settings>\r\n  <CameraRotation>2</Camera<otation>\r\n</Settings>\r\n";
    const auto header = PoseFileHeader();
    std::string recording(header.begin(), header.end());
    for (std::uint32_t tick : {1000u, 1033u}) {
        PoseRecord r;
        r.tick = tick;
        r.outputYaw = 12.5f;
        const auto bytes = EncodePoseRecord(r);
        recording.append(bytes.begin(), bytes.end());
    }
    const std::string cutRecording = recording + std::string(20, '\x7f'); // a record begun
    auto options = testing_support::ProgramOptions();
    options.files = {
        {"Profiles/Cut.xml", cut},
        {"settings.xml", settings},
        {"vistrel.tdf.Ab12Cd.part", cutRecording},
        {"vistrel.tdf.Zz99Yy.part", std::string(header.begin(), header.end())},
    };
    testing_support::VistrelProcess program(options);
    ASSERT_TRUE(program.ready()) << program.output();
    const std::string output = program.output();
    EXPECT_NE(output.find("vistrel: The settings file could not be read, so the default settings are used. The "
                          "damaged file was kept as settings-damaged-"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("vistrel: Could not read profile Profiles/Cut.xml."), std::string::npos) << output;
    EXPECT_EQ(program.stop(), 0) << program.output();

    const fs::path folder = program.folder();
    EXPECT_EQ(ReadFile(folder / "Profiles/Cut.xml"), cut);
    EXPECT_EQ(ReadFile(folder / "vistrel-recording-1.tdf"), recording) << "its whole records kept";
    EXPECT_FALSE(fs::exists(folder / "vistrel.tdf.Ab12Cd.part"));
    EXPECT_FALSE(fs::exists(folder / "vistrel.tdf.Zz99Yy.part")) << "no pose in it: removed";
    EXPECT_FALSE(fs::exists(folder / "vistrel-recording-2.tdf"));
}

} // namespace
