// Updates killed at any moment leave what belongs together: the catalogue
// pair and the view-library pair are each the one before or the one after,
// read as the program reads them, and what the kills left beside them goes
// at the next start.
#include "app/UpdateService.h"
#include "platform/linked_folder.h"
#include "profiles/GameList.h"
#include "testing/kill_loop.h"
#include "update_test_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

namespace fs = std::filesystem;

// A working folder of its own and the update service installing into it.
struct UpdateFolder {
    explicit UpdateFolder(const char* name) : dir(name), service(client, configFor(dir.path())) {}
    static CUpdateService::Config configFor(const fs::path& folder)
    {
        CUpdateService::Config config;
        config.folder = folder;
        config.catalogueKey = publicKey();
        return config;
    }
    testing_support::TempDir dir;
    platform::http::CurlClient client;
    const CUpdateService service;
};

// Empties the folder: the next round installs from version 1 again.
void wipe(const fs::path& folder)
{
    for (const auto& e : fs::directory_iterator(folder))
        fs::remove_all(e.path());
}

TEST(UpdateKill, AKilledCatalogueUpdateLeavesAWholePair)
{
    // Each child installs ever newer catalogues from the one after the last
    // installed; near the last package the folder starts afresh, so the
    // rounds are bounded by time and count, not by the packages.
    constexpr int kPackages = 40;
    std::vector<std::vector<std::uint8_t>> packages;
    for (int v = 1; v <= kPackages + 1; ++v)
        packages.push_back(MakeCataloguePackage(v).package);
    const UpdateFolder work("catalogue-kill");
    const auto& dir = work.dir;
    const auto& service = work.service;

    int installed = 0, news = 0, leftovers = 0;
    const auto result = testing_support::RunKillLoop(
        {.seed = 15},
        [&](int n) {
            if (const int v = installed + 1 + n; v <= kPackages)
                service.StoreGameList(packages[static_cast<std::size_t>(v - 1)]);
        },
        [&] {
            // As the next start finds it: the leftovers go, the pair loads.
            leftovers += static_cast<int>(service.RemoveUpdateLeftovers());
            const auto current = CurrentCatalogueFolder(dir.path());
            if (current != dir.path()) {
                CGameList pair;
                ASSERT_EQ(pair.LoadBytes(readFile(current / "sgl.dat"), readFile(current / "sgl.sig"), publicKey()), 0)
                    << "a mismatched pair in " << current;
                ASSERT_GE(pair.Version, installed);
                news += pair.Version > installed ? 1 : 0;
                installed = pair.Version;
            }
            if (installed >= kPackages - 5) {
                wipe(dir.path());
                installed = 0;
            }
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    std::printf("catalogue update: %d kills, %d found new, %d entries left behind and removed\n", result.kills, news,
                leftovers);

    // Nothing but the pair in use is left after the next install.
    ASSERT_EQ(service.StoreGameList(packages[kPackages]), 0);
    int folders = 0;
    for (const auto& e : fs::directory_iterator(dir.path()))
        folders += e.path().filename().string().rfind("catalogue.", 0) == 0 ? 1 : 0;
    EXPECT_EQ(folders, 1);
    CGameList list;
    ASSERT_EQ(list.Load(dir.path(), publicKey()), 0);
    EXPECT_EQ(list.Version, kPackages + 1);
}

// The version a view-library file of these packages names ("... v<n>...").
int versionOf(const std::vector<std::uint8_t>& file)
{
    const std::string text(file.begin(), file.end());
    const auto at = text.find(" v");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 2);
}

TEST(UpdateKill, AKilledViewLibraryUpdateLeavesAWholePair)
{
    // Both files of each package name its version; large enough that a
    // kill lands inside writing them too.
    constexpr int kPackages = 40;
    const std::string padding(64 * 1024, 'x');
    std::vector<std::vector<std::uint8_t>> packages;
    for (int v = 1; v <= kPackages; ++v) {
        const std::string views = "views v" + std::to_string(v) + " " + padding;
        const std::string inGame = "in-game v" + std::to_string(v) + " " + padding;
        const auto u = static_cast<std::uint32_t>(v);
        packages.push_back(MakePackage(
            {{kRecordViews, bytes(views)},
             {kRecordViewsSignature, SignPackageFile(CPackageKind::ViewLibrary, u, bytes(views), privateKey())},
             {kRecordViewsInGame, bytes(inGame)},
             {kRecordViewsInGameSignature, SignPackageFile(CPackageKind::ViewLibraryInGame, u, bytes(inGame), privateKey())}}));
    }
    const UpdateFolder work("views-kill");
    const auto& dir = work.dir;
    const auto& service = work.service;

    int installed = 0, news = 0, leftovers = 0;
    const auto result = testing_support::RunKillLoop(
        {.seed = 16},
        [&](int n) {
            if (const int v = installed + 1 + n; v <= kPackages)
                service.StoreViewLibrary(packages[static_cast<std::size_t>(v - 1)], static_cast<std::uint32_t>(v - 1));
        },
        [&] {
            leftovers += static_cast<int>(service.RemoveUpdateLeftovers());
            if (platform::files::LinkedFolder(dir.file(kViewLibraryUpdateFolder))) {
                // The two files the program would load: one folder, one version.
                const fs::path views = ViewLibraryFile(dir.path(), kViewsFile);
                const fs::path inGame = ViewLibraryFile(dir.path(), kViewsInGameFile);
                ASSERT_EQ(views.parent_path(), inGame.parent_path());
                const int version = versionOf(readFile(views));
                ASSERT_EQ(versionOf(readFile(inGame)), version) << "a mismatched pair in " << views.parent_path();
                ASSERT_EQ(readFile(views).size(), std::string("views v").size() + std::to_string(version).size() + 1 +
                                                      padding.size())
                    << "a cut file in " << views.parent_path();
                ASSERT_GE(version, installed);
                news += version > installed ? 1 : 0;
                installed = version;
            }
            if (installed >= kPackages - 5) {
                wipe(dir.path());
                installed = 0;
            }
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50);
    std::printf("view library update: %d kills, %d found new, %d entries left behind (unfinished or replaced pairs) "
                "and removed\n",
                result.kills, news, leftovers);
}

} // namespace
