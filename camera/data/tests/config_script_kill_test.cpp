// Camera configuration scripts written while the program is killed.
#include "camera/config_script.h"

#include "testing/kill_loop.h"
#include "testing/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using Orvane::CameraConfigScript;

namespace {

// A write killed at any point leaves the old script or the new, whole.
TEST(ConfigScriptKill, WriteKilledMidwayLeavesAWholeFile)
{
    testing_support::TempDir folder{"config-script-kill"};
    const std::filesystem::path dir = folder.path();
    const auto Path = [&](const char* name) { return (dir / name).string(); };
    CameraConfigScript a;
    a.AddI2cCommand({0x42, 0x10, 0x80});
    CameraConfigScript b;
    b.SetVideoThreshold(87);
    for (int i = 0; i < 200; ++i)
        b.AddI2cCommand({static_cast<std::uint8_t>(i), 1, 2});
    ASSERT_TRUE(a.WriteXml(Path("s.xml")));
    const auto result = testing_support::RunKillLoop(
        {}, [&](int n) { (n % 2 ? a : b).WriteXml(Path("s.xml")); },
        [&] {
            CameraConfigScript read;
            ASSERT_TRUE(read.ReadXml(Path("s.xml"))) << read.GetLastError();
            ASSERT_TRUE(read == a || read == b);
            for (const auto& e : std::filesystem::directory_iterator(dir))
                if (e.path().filename() != "s.xml")
                    std::filesystem::remove(e.path()); // what a killed write left
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    std::printf("camera script: %d kills\n", result.kills);
}

} // namespace
