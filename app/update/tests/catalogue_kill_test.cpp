// A catalogue update killed at any moment leaves a pair that belongs
// together: the one before or the one after.
#include "app/UpdateService.h"
#include "profiles/GameList.h"
#include "testing/kill_loop.h"
#include "update_test_data.h"

#include <gtest/gtest.h>

namespace {

TEST(CatalogueKill, AKilledCatalogueUpdateLeavesAWholePair)
{
    constexpr int kPackages = 120;
    std::vector<std::vector<std::uint8_t>> packages;
    for (int v = 1; v <= kPackages + 1; ++v)
        packages.push_back(MakeCataloguePackage(v).package);
    testing_support::TempDir dir("catalogue-kill");
    platform::http::CurlClient client;
    CUpdateService::Config config;
    config.folder = dir.path();
    config.catalogueKey = publicKey();
    const CUpdateService service(client, config);

    // Each child installs ever newer catalogues from the one after the last
    // installed; each kill leaves the folder to be read as the loader does.
    int installed = 0;
    const auto result = testing_support::RunKillLoop(
        {.rounds = 60, .deadline = std::chrono::seconds(6), .seed = 15},
        [&](int n) {
            if (const int v = installed + 1 + n; v <= kPackages)
                service.StoreGameList(packages[static_cast<std::size_t>(v - 1)]);
        },
        [&] {
            const auto current = CurrentCatalogueFolder(dir.path());
            if (current == dir.path())
                return; // nothing installed yet
            CGameList pair;
            ASSERT_EQ(pair.LoadBytes(readFile(current / "sgl.dat"), readFile(current / "sgl.sig"), publicKey()), 0)
                << "a mismatched pair in " << current;
            EXPECT_GE(pair.Version, installed);
            installed = pair.Version;
        });
    EXPECT_GT(result.kills, 0);

    // What the kills left behind goes with the next install.
    ASSERT_EQ(service.StoreGameList(packages[kPackages]), 0);
    int folders = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        folders += e.path().filename().string().rfind("catalogue.", 0) == 0 ? 1 : 0;
    EXPECT_EQ(folders, 1);
    CGameList list;
    ASSERT_EQ(list.Load(dir.path(), publicKey()), 0);
    EXPECT_EQ(list.Version, kPackages + 1);
}

} // namespace
