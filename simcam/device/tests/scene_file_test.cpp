// The scene file of the program's simulated camera, and the camera the
// system backend makes from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include "simcam/hub.h"
#include "simcam/scene_file.h"
#include "testing/temp_dir.h"

using simcam::SceneSettings;

TEST(SceneFile, KeysValuesAndComments)
{
    SceneSettings s;
    std::string error;
    ASSERT_TRUE(simcam::ParseSceneSettings("# a still head on revision 9\n"
                                           "revision 9\r\n"
                                           "  location\t3   # an arrow clip\n"
                                           "\n"
                                           "motion still\n"
                                           "reach 0.5\nnoise 0.2\nradius 6\nrate 120\n",
                                           s, error))
        << error;
    EXPECT_EQ(s.revision, 9);
    EXPECT_EQ(s.location, 3);
    EXPECT_TRUE(s.still);
    EXPECT_EQ(s.reach, 0.5);
    EXPECT_EQ(s.noise, 0.2);
    EXPECT_EQ(s.radius, 6.0);
    EXPECT_EQ(s.rate, 120.0);
}

TEST(SceneFile, AWrongLineIsNamedAndChangesNothing)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"revision 10\n", "line 1: bad value for revision: \"10\""},
        {"location 2\nlocation five\n", "line 2: bad value for location: \"five\""},
        {"motion fast\n", "line 1: bad value for motion: \"fast\""},
        {"reach 1.5\n", "line 1: bad value for reach: \"1.5\""},
        {"noise\n", "line 1: bad value for noise: \"\""},
        {"colour red\n", "line 1: unknown key \"colour\""},
        {"radius 4px\n", "line 1: bad value for radius: \"4px\""},
        {"rate 0\n", "line 1: bad value for rate: \"0\""},
        {"rate 501\n", "line 1: bad value for rate: \"501\""},
        {"motion still\npose 20 -10 5 30 -20\n", "line 2: bad value for pose: \"20 -10 5 30 -20\""},
        {"pose 20 -10 5 30 -20 40 1\n", "line 1: bad value for pose: \"20 -10 5 30 -20 40 1\""},
        {"pose 95 0 0 0 0 0\n", "line 1: bad value for pose: \"95 0 0 0 0 0\""},
        {"pose 0 0 0 0 0 -301\n", "line 1: bad value for pose: \"0 0 0 0 0 -301\""},
        {"pose 0 0 nan 0 0 0\n", "line 1: bad value for pose: \"0 0 nan 0 0 0\""},
        {"pose 0,0,0,0,0,0\n", "line 1: bad value for pose: \"0,0,0,0,0,0\""},
    };
    for (const auto& c : cases) {
        SceneSettings s;
        std::string error;
        EXPECT_FALSE(simcam::ParseSceneSettings(c.text, s, error)) << c.text;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(s.location, SceneSettings{}.location) << c.text;
    }
}

TEST(SceneFile, AStillHeadAtAChosenPose)
{
    SceneSettings s;
    std::string error;
    ASSERT_TRUE(simcam::ParseSceneSettings("motion still\npose 20 -10.5 5 30\t-20 40  # turned\n", s, error)) << error;
    EXPECT_TRUE(s.still);
    EXPECT_EQ(s.pose.yaw, 20);
    EXPECT_EQ(s.pose.pitch, -10.5);
    EXPECT_EQ(s.pose.roll, 5);
    EXPECT_EQ(s.pose.x, 30);
    EXPECT_EQ(s.pose.y, -20);
    EXPECT_EQ(s.pose.z, 40);
    ASSERT_TRUE(simcam::ParseSceneSettings("pose -90 90 -90 300 -300 300\n", s, error)) << error;
    EXPECT_EQ(s.pose.x, 300);

    // The simulated camera holds the head there.
    s.pose = {20, -10, 5, 30, -20, 40};
    auto source = simcam::MakeSceneSource(s);
    simcam::StreamState state;
    state.revision = s.revision;
    std::vector<std::uint8_t> packet;
    ASSERT_TRUE(source->nextPacket(state, packet));
    const auto pose = source->LastPose();
    EXPECT_EQ(pose.yaw, 20);
    EXPECT_EQ(pose.pitch, -10);
    EXPECT_EQ(pose.roll, 5);
    EXPECT_EQ(pose.z, 40);
}

// A scene file is a few lines: one far larger is refused unread, with the
// default scene, and the reason names it.
TEST(SceneFile, AFileFarLargerThanAnySceneIsRefused)
{
    testing_support::TempDir dir("scene");
    const std::string lines = "revision 12\nmotion still\n";
    const auto file = dir.file("scene");
    for (const std::size_t size : {simcam::kMaxSceneFileBytes, simcam::kMaxSceneFileBytes + 1}) {
        // Lines and then a comment, up to `size` bytes.
        std::ofstream(file, std::ios::binary) << lines << "#" << std::string(size - lines.size() - 2, 'x') << "\n";
        ASSERT_EQ(std::filesystem::file_size(file), size);
        std::string error;
        const SceneSettings s = simcam::LoadSceneSettings(file, error);
        if (size <= simcam::kMaxSceneFileBytes) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(s.revision, 12);
        } else {
            EXPECT_NE(error.find(file.string() + " is too large"), std::string::npos) << error;
            EXPECT_EQ(s.revision, SceneSettings{}.revision);
        }
    }
}

TEST(SceneFile, TheSystemBackendShowsTheFilesScene)
{
    testing_support::TempDir dir("scene");
    std::ofstream(dir.file("scene")) << "revision 12\nmotion still\n";
    setenv("ORVANE_CAMERA", "sim", 1);
    setenv("ORVANE_SIMCAM_SCENE", dir.file("scene").c_str(), 1);
    auto backend = simcam::makeSystemBackend();
    auto* hub = dynamic_cast<simcam::Hub*>(backend.get());
    ASSERT_NE(hub, nullptr);
    const auto camera = [&hub] {
        const auto paths = hub->genericDriver().devicePaths(platform::usb::kCameraInterfaceGuid1);
        return paths.empty() ? nullptr : hub->generic(paths.front());
    };
    ASSERT_NE(camera(), nullptr);
    EXPECT_EQ(camera()->model().revision, 12);
    EXPECT_EQ(camera()->model().fpga, simcam::FpgaStart::NoUpload);

    // An unreadable file leaves the default scene, and says so on standard
    // error even without debug output.
    unsetenv("ORVANE_DEBUG");
    setenv("ORVANE_SIMCAM_SCENE", dir.file("missing").c_str(), 1);
    testing::internal::CaptureStderr();
    backend = simcam::makeSystemBackend();
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("cannot read " + dir.file("missing").string()), std::string::npos) << told;
    std::ofstream(dir.file("bad")) << "motion still\npose 1 2 3\n";
    setenv("ORVANE_SIMCAM_SCENE", dir.file("bad").c_str(), 1);
    testing::internal::CaptureStderr();
    auto bad = simcam::makeSystemBackend();
    const std::string badTold = testing::internal::GetCapturedStderr();
    EXPECT_NE(badTold.find("line 2: bad value for pose"), std::string::npos) << badTold;
    bad.reset();
    setenv("ORVANE_SIMCAM_SCENE", dir.file("missing").c_str(), 1);
    backend = simcam::makeSystemBackend();
    hub = dynamic_cast<simcam::Hub*>(backend.get());
    ASSERT_NE(hub, nullptr);
    ASSERT_NE(camera(), nullptr);
    EXPECT_EQ(camera()->model().revision, SceneSettings{}.revision);
    unsetenv("ORVANE_SIMCAM_SCENE");
    unsetenv("ORVANE_CAMERA");
}

// Only a regular file of a sensible size is a scene file: a folder would
// read as an empty one, and a FIFO would hold the program's start until
// someone wrote to it.
TEST(SceneFile, WhatIsNoSceneFileIsRefusedNamingIt)
{
    testing_support::TempDir dir("scene-kinds");
    ::mkfifo(dir.file("fifo").c_str(), 0600);
    {
        std::ofstream big(dir.file("big"));
        big << "motion still\n";
        big << std::string(std::size_t(2) << 20, '#') << '\n';
    }
    for (const char* name : {"missing", "", "fifo", "big"}) {
        const std::filesystem::path file = *name ? dir.file(name) : dir.path();
        std::string error;
        const SceneSettings s = simcam::LoadSceneSettings(file, error);
        const std::string told = std::string(name) == "big" ? file.string() + " is too large" : "cannot read " + file.string() + ": ";
        EXPECT_EQ(error.substr(0, told.size()), told) << name;
        EXPECT_FALSE(s.still) << name;
    }
    std::ofstream(dir.file("scene")) << "motion still\n";
    std::string error;
    EXPECT_TRUE(simcam::LoadSceneSettings(dir.file("scene"), error).still);
    EXPECT_EQ(error, "");
}
