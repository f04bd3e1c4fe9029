// Saves of settings.xml killed at random points.
#include "profiles/AppSettings.h"

#include "testing/kill_loop.h"
#include "testing/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace {

// Saves killed at random points: the file is always whole (the old
// settings or the new), and what a kill leaves beside it is removed.
TEST(SettingsKill, SaveKilledMidwayLeavesAWholeFile)
{
    CAppSettings a;
    a.Tracking.CameraRotation = 2;
    CAppSettings b;
    b.Tracking.CameraRotation = 1;
    b.LanguageDll = u"other.dll";
    b.Favorites.assign(300, 12);
    testing_support::TempDir dir_{"orvane-settings-kill"};
    const std::filesystem::path file_ = dir_.file("settings.xml");
    ASSERT_EQ(a.Save(file_), 0);

    int leftovers = 0;
    const auto result = testing_support::RunKillLoop(
        {}, [&](int n) { (n % 2 ? a : b).Save(file_); },
        [&] {
            leftovers += static_cast<int>(CAppSettings::RemoveLeftovers(file_));
            CAppSettings read;
            read.Favorites.clear();
            ASSERT_EQ(read.Load(file_), 0);
            ASSERT_TRUE(read == a || read == b) << "a mix of two saves";
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path()))
        ++entries;
    EXPECT_EQ(entries, 1);
    std::printf("settings: %d kills, %d temporary files left and removed\n", result.kills, leftovers);
}

} // namespace
