#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <sys/stat.h>

#include "platform/program_folders.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::ProgramFolders;

void Write(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// An environment of our own for the XDG rules.
struct FakeEnv {
    std::map<std::string, std::string> values;
    platform::Environment get() const
    {
        return [this](const char* name) -> const char* {
            auto it = values.find(name);
            return it == values.end() ? nullptr : it->second.c_str();
        };
    }
};

// Folders stay set only for the test that sets them.
struct FoldersGuard {
    ~FoldersGuard() { platform::setProgramFolders(std::nullopt); }
};

TEST(ProgramFolders, BuildTreesAndTheirCopiesKeepEverythingBesideTheProgram)
{
    testing_support::TempDir dir;
    const fs::path bin = dir.file("build/bin");
    Write(bin / "vistrel", "");
    Write(bin / "OVClient.so", "");
    // A build's bin/ under a prefix-like tree is still a build tree.
    fs::create_directories(dir.file("build/share/orvane"));
    FakeEnv env{{{"HOME", "/home/u"}}};
    EXPECT_EQ(platform::programFoldersFor(bin / "vistrel", env.get()), (ProgramFolders{bin, bin, bin, false}));

    // The test fixture's private copy: the program copied, the rest linked.
    const fs::path copy = dir.file("copy");
    Write(copy / "vistrel", "");
    fs::create_symlink(bin / "OVClient.so", copy / "OVClient.so");
    EXPECT_EQ(platform::programFoldersFor(copy / "vistrel", env.get()), (ProgramFolders{copy, copy, copy, false}));

    // Nothing of ours anywhere: the program's own folder, as before.
    const fs::path lone = dir.file("lone/bin");
    Write(lone / "vistrel", "");
    EXPECT_EQ(platform::programFoldersFor(lone / "vistrel", env.get()), (ProgramFolders{lone, lone, lone, false}));
}

TEST(ProgramFolders, AnInstalledProgramWorksInTheUsersDataFolder)
{
    testing_support::TempDir dir;
    const fs::path prefix = dir.file("usr");
    Write(prefix / "bin/vistrel", "");
    fs::create_directories(prefix / "share/orvane");
    const fs::path exe = prefix / "bin/vistrel";

    struct Case {
        std::map<std::string, std::string> env;
        fs::path work;
    };
    const Case cases[] = {
        {{{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/xdg/data"}}, "/xdg/data/orvane"},
        {{{"HOME", "/home/u"}}, "/home/u/.local/share/orvane"},
        {{{"HOME", "/home/u"}, {"XDG_DATA_HOME", ""}}, "/home/u/.local/share/orvane"},
        // A relative value is not valid: the default stands.
        {{{"HOME", "/home/u"}, {"XDG_DATA_HOME", "relative/data"}}, "/home/u/.local/share/orvane"},
    };
    for (const Case& c : cases) {
        FakeEnv env{c.env};
        const ProgramFolders f = platform::programFoldersFor(exe, env.get());
        EXPECT_TRUE(f.installed);
        EXPECT_EQ(f.work, c.work);
        EXPECT_EQ(f.data, prefix / "share/orvane");
        EXPECT_EQ(f.libraries, prefix / "lib/orvane");
    }
}

TEST(ProgramFolders, NamesResolveInTheWorkingThenDataThenLibraryFolder)
{
    FoldersGuard guard;
    testing_support::TempDir dir;
    const ProgramFolders f{dir.file("work"), dir.file("data"), dir.file("lib"), true};
    Write(f.data / "sgl.dat", "shipped");
    Write(f.data / "models/head.x", "mesh");
    Write(f.libraries / "VSLViews.so", "lib");
    Write(f.data / "Profiles/Shipped.xml", "seed");
    Write(f.work / "Profiles/Mine.xml", "mine");

    // Without folders names stay relative to the current folder.
    EXPECT_EQ(platform::resolve("Profiles\\Mine.xml"), fs::path("Profiles/Mine.xml"));

    platform::setProgramFolders(f);
    EXPECT_EQ(platform::resolve("sgl.dat"), f.data / "sgl.dat");
    EXPECT_EQ(platform::resolve("models"), f.data / "models");
    EXPECT_EQ(platform::resolve("VSLViews.so"), f.libraries / "VSLViews.so");
    // The user's own folder wins: an updated catalogue, the user's profiles.
    Write(f.work / "sgl.dat", "updated");
    EXPECT_EQ(platform::resolve("sgl.dat"), f.work / "sgl.dat");
    EXPECT_EQ(platform::resolve("Profiles\\\\Mine.xml"), f.work / "Profiles/Mine.xml");
    // What is nowhere is written in the working folder.
    EXPECT_EQ(platform::resolve("vistrel.tdf"), f.work / "vistrel.tdf");
    EXPECT_EQ(platform::resolve("/abs/file"), fs::path("/abs/file"));
    // A caller's own matching (modules match their names without case).
    EXPECT_EQ(platform::resolve("vslviews.so",
                                [&](const fs::path& candidate) -> std::optional<fs::path> {
                                    if (candidate.parent_path() == f.libraries)
                                        return f.libraries / "VSLViews.so";
                                    return std::nullopt;
                                }),
              f.libraries / "VSLViews.so");
}

TEST(ProgramFolders, FirstStartMakesTheFolderAndSeedsWhatIsMissing)
{
    testing_support::TempDir dir;
    const ProgramFolders f{dir.file("xdg/data/orvane"), dir.file("share"), dir.file("lib"), true};
    Write(f.data / "settings.xml", "<settings/>");
    Write(f.data / "Profiles/Default_Profile.xml", "<profile/>");
    Write(f.data / "Profiles/Racing/Car.xml", "<car/>");
    Write(f.data / "sgl.dat", "read only");

    EXPECT_EQ(platform::prepareWorkFolder(f, {"settings.xml", "Profiles"}), "");
    struct stat st{};
    ASSERT_EQ(::stat(f.work.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(Read(f.work / "settings.xml"), "<settings/>");
    EXPECT_EQ(Read(f.work / "Profiles/Default_Profile.xml"), "<profile/>");
    EXPECT_EQ(Read(f.work / "Profiles/Racing/Car.xml"), "<car/>");
    EXPECT_FALSE(fs::exists(f.work / "sgl.dat")); // read from the data folder, never copied
    // Nothing temporary is left.
    for (const auto& entry : fs::directory_iterator(f.work))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();

    // Later starts never touch what the user has, nor bring back what the
    // user removed from a folder that exists.
    Write(f.work / "settings.xml", "<mine/>");
    fs::remove(f.work / "Profiles/Default_Profile.xml");
    EXPECT_EQ(platform::prepareWorkFolder(f, {"settings.xml", "Profiles"}), "");
    EXPECT_EQ(Read(f.work / "settings.xml"), "<mine/>");
    EXPECT_FALSE(fs::exists(f.work / "Profiles/Default_Profile.xml"));
    // A file removed whole comes back from the seed.
    fs::remove(f.work / "settings.xml");
    EXPECT_EQ(platform::prepareWorkFolder(f, {"settings.xml", "Profiles"}), "");
    EXPECT_EQ(Read(f.work / "settings.xml"), "<settings/>");
}

TEST(ProgramFolders, AFolderThatCannotBeMadeIsReported)
{
    testing_support::TempDir dir;
    // A file where a folder should be stops even the superuser.
    Write(dir.file("file"), "");
    const ProgramFolders f{dir.file("file/orvane"), dir.file("share"), dir.file("lib"), true};
    const std::string problem = platform::prepareWorkFolder(f, {"settings.xml"});
    EXPECT_NE(problem.find(dir.file("file").string()), std::string::npos) << problem;
    EXPECT_NE(problem.find("cannot make the folder"), std::string::npos) << problem;
}

} // namespace
