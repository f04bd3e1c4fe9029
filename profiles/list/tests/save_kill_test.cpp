// Saves killed at random points: every file kind of this folder is found
// whole afterwards (the old contents or the new), and the temporary files a
// kill leaves are the ones the next start removes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/debug.h"
#include "platform/file_replace.h"
#include "profiles/GameList.h"
#include "profiles/ProfileList.h"
#include "testing/kill_loop.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"

namespace fs = std::filesystem;
namespace reg = platform::registry;

namespace {

// Temporary files left in `folder`, then removed as a start would.
int takeLeftovers(const fs::path& folder)
{
    return static_cast<int>(platform::files::RemoveLeftoverTemporaries(folder, [](std::string_view) { return true; }));
}

void expectNoStrays(const fs::path& folder, std::size_t files)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder))
        ++n;
    EXPECT_EQ(n, files);
}

TEST(KillDuringSave, ProfileFileIsAlwaysWhole)
{
    testing_support::TempDir dir{"kill-profile"};
    CProfile a;
    a.Path = (dir.path() / "Mine.xml").u16string();
    a.Name = u"Old";
    a.GameIds = {7};
    CProfile b = a;
    b.Name = u"New";
    b.Smoothing = 60;
    b.Notes = std::u16string(2000, u'n'); // a longer file: more places to be cut
    b.Axes[2].Enabled = 0;
    ASSERT_EQ(a.Save(), 0);

    int leftovers = 0;
    int news = 0;
    platform::debug::Capture quiet;
    const auto result = testing_support::RunKillLoop(
        {}, [&](int n) { (n % 2 ? a : b).Save(); },
        [&] {
            leftovers += takeLeftovers(dir.path());
            CProfile read;
            read.Path = a.Path;
            ASSERT_EQ(read.Load(), 0);
            ASSERT_TRUE(read == a || read == b) << "a mix of two saves";
            news += read == b;
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    expectNoStrays(dir.path(), 1);
    std::printf("profile: %d kills, %d found new, %d temporary files left and removed\n", result.kills, news,
                leftovers);
}

// Renaming a profile rewrites every map value that names it: all of them
// change together or none.
TEST(KillDuringSave, ProfileMapRenameIsOneChange)
{
    testing_support::TempRegistry registry;
    const char* key = "SOFTWARE\\Orvane\\Vistrel\\ProfileMap";
    reg::Store& store = *registry.store();
    ASSERT_EQ(store.createKey(reg::Root::CurrentUser, key), reg::kSuccess);
    for (int id = 0; id < 40; ++id)
        ASSERT_EQ(store.setString(reg::Root::CurrentUser, key, std::to_string(id), u"A.xml"), reg::kSuccess);
    ProfileMap map(registry.store());

    const auto result = testing_support::RunKillLoop(
        {}, [&](int n) { n % 2 ? map.RenameProfile(u"Profiles\\B.xml", u"Profiles\\A.xml") : map.RenameProfile(u"Profiles\\A.xml", u"Profiles\\B.xml"); },
        [&] {
            int a = 0;
            int b = 0;
            for (int id = 0; id < 40; ++id) {
                const std::u16string v = map.GetGameProfile(id);
                a += v == u"A.xml";
                b += v == u"B.xml";
            }
            ASSERT_TRUE((a == 40 && b == 0) || (a == 0 && b == 40)) << a << " old, " << b << " new";
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    std::printf("profile map: %d kills\n", result.kills);
}

} // namespace
