// The scene file of the program's simulated camera, and the camera the
// system backend makes from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

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
                                           "reach 0.5\nnoise 0.2\nradius 6\n",
                                           s, error))
        << error;
    EXPECT_EQ(s.revision, 9);
    EXPECT_EQ(s.location, 3);
    EXPECT_TRUE(s.still);
    EXPECT_EQ(s.reach, 0.5);
    EXPECT_EQ(s.noise, 0.2);
    EXPECT_EQ(s.radius, 6.0);
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
    };
    for (const auto& c : cases) {
        SceneSettings s;
        std::string error;
        EXPECT_FALSE(simcam::ParseSceneSettings(c.text, s, error)) << c.text;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(s.location, SceneSettings{}.location) << c.text;
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

    // An unreadable file leaves the default scene.
    setenv("ORVANE_SIMCAM_SCENE", dir.file("missing").c_str(), 1);
    backend = simcam::makeSystemBackend();
    hub = dynamic_cast<simcam::Hub*>(backend.get());
    ASSERT_NE(hub, nullptr);
    ASSERT_NE(camera(), nullptr);
    EXPECT_EQ(camera()->model().revision, SceneSettings{}.revision);
    unsetenv("ORVANE_SIMCAM_SCENE");
    unsetenv("ORVANE_CAMERA");
}
