// The install as a distribution would ship it: installed into a prefix that
// is then made read-only, the installed program started with folders of its
// own, a game built from the README's example against the installed header
// and pkg-config file reading the pose from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "platform/registry.h"
#include "testing/temp_dir.h"
#include "testing/vistrel_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::VistrelProcess;
using testing_support::WaitUntil;

struct Result {
    int exit = -1;
    std::string output;
};

// Runs a shell command line, standard output and error together.
Result Shell(const std::string& command)
{
    Result r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return r;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        r.output.append(buffer, n);
    const int status = ::pclose(pipe);
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every file under `root` with its size and change time: what a run wrote.
std::map<std::string, std::string> Listing(const fs::path& root)
{
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        out[entry.path().string()] = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                                     std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_mode);
    }
    return out;
}

// The C example in the README's section on reading the pose.
std::string ReadmeExample()
{
    const std::string readme = Read(ORVANE_SOURCE_DIR "/README.md");
    const std::size_t section = readme.find("## How a game reads the pose");
    if (section == std::string::npos)
        return {};
    const std::size_t start = readme.find("```c\n", section);
    const std::size_t end = readme.find("```\n", start + 5);
    if (start == std::string::npos || end == std::string::npos)
        return {};
    return readme.substr(start + 5, end - start - 5);
}

// The suite installed into a prefix of its own, which is then made
// read-only, as a packaged install is to its users. One install serves every
// check: it is the slow part, and installs from one build must not run at once.
class Installed {
public:
    Installed()
        : result_(Shell(std::string(ORVANE_TEST_CMAKE) + " --install " + Quote(ORVANE_BUILD_DIR) + " --prefix " +
                        Quote(prefix_.path())))
    {
        // The game view library leaves the install, as it stays out of
        // every test of the program: it would look for games among all of
        // the user's processes, where other tests run stand-in games.
        std::error_code ec;
        fs::rename(prefix_.path() / "lib/orvane/VSLViews.so", aside_.path() / "VSLViews.so", ec);
        Shell("chmod -R a-w " + Quote(prefix_.path()));
    }
    ~Installed() { Shell("chmod -R u+w " + Quote(prefix_.path())); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;

    const Result& result() const { return result_; }
    const fs::path& prefix() const { return prefix_.path(); }
    const fs::path& aside() const { return aside_.path(); }
    VistrelProcess Start(std::vector<std::pair<std::string, std::string>> env = {}) const
    {
        auto options = testing_support::ProgramOptions();
        options.prefix = prefix();
        options.env = std::move(env);
        return VistrelProcess(options);
    }

private:
    testing_support::TempDir prefix_{"orvane-install"};
    testing_support::TempDir aside_{"orvane-install-aside"};
    Result result_;
};

void LaysOutTheSuiteAsLinuxExpects(const Installed& install)
{
    const char* expected[] = {
        "bin/vistrel", "bin/vslmouse",
        "lib/orvane/Lumbrix.so", "lib/orvane/OVClient.so", "lib/orvane/Keysnare.so", "lib/orvane/Numbra.so",
        "lib/orvane/Vistrel-2002.so",
        "share/orvane/sgl.dat", "share/orvane/sgl.sig", "share/orvane/models/head.x", "share/orvane/Language",
        "share/orvane/settings.xml", "share/orvane/Profiles/Default_Profile.xml",
        "share/applications/vistrel.desktop",
        "share/icons/hicolor/16x16/apps/vistrel.png", "share/icons/hicolor/48x48/apps/vistrel.png",
        "share/icons/hicolor/256x256/apps/vistrel.png", "share/icons/hicolor/scalable/apps/vistrel.svg",
        "share/man/man1/vistrel.1", "share/man/man1/vslmouse.1",
        "include/orvane/ovclient.h", "lib/pkgconfig/orvane-client.pc",
    };
    for (const char* file : expected)
        EXPECT_TRUE(fs::exists(install.prefix() / file)) << file;
    EXPECT_TRUE(fs::exists(install.aside() / "VSLViews.so")); // installed, then set aside
    // Nothing of the build's program folder beside the programs.
    EXPECT_FALSE(fs::exists(install.prefix() / "bin/OVClient.so"));
    EXPECT_FALSE(fs::exists(install.prefix() / "bin/settings.xml"));

    // The udev rule comes exactly with the build's camera ids.
    const fs::path rule = install.prefix() / "lib/udev/rules.d/70-orvane-cameras.rules";
    if (std::string(ORVANE_TEST_USB_IDS).empty()) {
        EXPECT_FALSE(fs::exists(rule));
    } else {
        EXPECT_NE(Read(rule).find("TAG+=\"uaccess\""), std::string::npos);
    }

    const fs::path entry = install.prefix() / "share/applications/vistrel.desktop";
    const Result valid = Shell("desktop-file-validate " + Quote(entry));
    EXPECT_EQ(valid.exit, 0) << valid.output;
    EXPECT_NE(Read(entry).find("Exec=" + (install.prefix() / "bin/vistrel").string() + "\n"), std::string::npos)
        << Read(entry);

    // The programs find their libraries in lib/orvane, not in the build.
    const Result needed = Shell("LD_TRACE_LOADED_OBJECTS=1 " + Quote(install.prefix() / "bin/vistrel"));
    EXPECT_NE(needed.output.find("lib/orvane/Keysnare.so"), std::string::npos) << needed.output;
    EXPECT_EQ(needed.output.find(ORVANE_BUILD_DIR), std::string::npos) << needed.output;
    EXPECT_EQ(needed.output.find("not found"), std::string::npos) << needed.output;
}

void TheProgramAnswersHelpAndVersionAndRefusesUnknownOptions(const Installed& install)
{
    const std::string program = Quote(install.prefix() / "bin/vistrel");
    // No display is needed for these.
    const Result help = Shell("env -u DISPLAY " + program + " --help");
    EXPECT_EQ(help.exit, 0);
    EXPECT_NE(help.output.find("Usage: vistrel"), std::string::npos) << help.output;
    const Result version = Shell("env -u DISPLAY " + program + " --version");
    EXPECT_EQ(version.exit, 0);
    EXPECT_EQ(version.output, std::string("vistrel (Orvane head tracking) ") + ORVANE_TEST_VERSION + "\n");
    for (const char* bad : {"--frobnicate", "-x", "stray"}) {
        const Result r = Shell("env -u DISPLAY " + program + " " + bad);
        EXPECT_EQ(r.exit, 2) << bad;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_NE(r.output.find(bad), std::string::npos) << r.output;
    }
    // The mouse emulator answers the same way.
    const std::string mouse = "env -u DISPLAY -u QT_QPA_PLATFORM " + Quote(install.prefix() / "bin/vslmouse");
    const Result mouseHelp = Shell(mouse + " --help");
    EXPECT_EQ(mouseHelp.exit, 0);
    EXPECT_NE(mouseHelp.output.find("Usage: vslmouse"), std::string::npos) << mouseHelp.output;
    const Result mouseVersion = Shell(mouse + " --version");
    EXPECT_EQ(mouseVersion.exit, 0);
    EXPECT_EQ(mouseVersion.output, std::string("vslmouse (Orvane head tracking) ") + ORVANE_TEST_VERSION + "\n");
    EXPECT_EQ(Shell(mouse + " --frobnicate").exit, 2);
}

void TheInstalledProgramKeepsTheUsersFilesInTheUsersFolder(const Installed& install)
{
    const auto before = Listing(install.prefix());
    {
        VistrelProcess program = install.Start();
        ASSERT_TRUE(program.ready()) << program.output();
        const fs::path work = program.folder();
        EXPECT_EQ(work, program.root() / "xdg-data/orvane");
        // Seeded on the first start from share/orvane.
        EXPECT_TRUE(fs::exists(work / "settings.xml"));
        EXPECT_EQ(Read(work / "Profiles/Default_Profile.xml"), Read(install.prefix() / "share/orvane/Profiles/Default_Profile.xml"));
        // Games load the installed client library.
        std::u16string location;
        ASSERT_EQ(platform::registry::defaultStore()->queryString(platform::registry::Root::CurrentUser,
                                                                  u"SOFTWARE\\Orvane\\Orvane\\OVClient Location", u"Path",
                                                                  location),
                  0);
        const std::string expected = (install.prefix() / "lib/orvane").string() + "\\";
        EXPECT_EQ(location, std::u16string(expected.begin(), expected.end()));
        EXPECT_EQ(program.stop(), 0) << program.output();

        // Without its files the program writes new ones there: the
        // settings with their defaults, a new default profile.
        fs::remove(work / "settings.xml");
        fs::remove(work / "Profiles/Default_Profile.xml");
        // The next start runs in the same folders, as from a text console:
        // no display and no platform named, so it runs headless by itself.
        auto options = testing_support::ProgramOptions();
        options.prefix = install.prefix();
        options.env = {{"XDG_DATA_HOME", (program.root() / "xdg-data").string()},
                       {"XDG_CONFIG_HOME", (program.root() / "xdg-config").string()}};
        options.unset = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
        VistrelProcess again(options);
        ASSERT_TRUE(again.ready()) << again.output();
        EXPECT_TRUE(fs::exists(work / "settings.xml"));
        EXPECT_TRUE(WaitUntil([&] { return fs::exists(work / "Profiles/Default_Profile.xml"); }, 20s));
        EXPECT_EQ(again.output().find("could not be saved"), std::string::npos) << again.output();
        EXPECT_EQ(again.stop(), 0) << again.output();
    }
    // Nothing was written under the prefix (a superuser's test could have).
    EXPECT_EQ(Listing(install.prefix()), before);
}

void AFolderThatCannotBeWrittenIsToldOnce(const Installed& install)
{
    testing_support::TempDir dir("orvane-unwritable");
    std::ofstream(dir.file("not-a-folder")) << "x";
    VistrelProcess program = install.Start({{"XDG_DATA_HOME", dir.file("not-a-folder").string()}});
    ASSERT_TRUE(program.ready()) << program.output();
    const std::string out = program.output();
    const std::string told = "settings, profiles and recordings will not be saved";
    const std::size_t first = out.find(told);
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_NE(out.find(dir.file("not-a-folder").string()), std::string::npos) << out;
    EXPECT_EQ(out.find(told, first + 1), std::string::npos) << out;
    EXPECT_EQ(program.stop(), 0) << program.output();
}

void TheReadmesExampleBuildsAgainstTheInstallAndReadsThePose(const Installed& install)
{
    const std::string example = ReadmeExample();
    ASSERT_FALSE(example.empty()) << "no C example in the README";
    testing_support::TempDir dir("orvane-example");
    std::ofstream(dir.file("game.c")) << example;
    const std::string pkgConfig = "PKG_CONFIG_PATH=" + Quote(install.prefix() / "lib/pkgconfig") + " pkg-config";
    const Result build = Shell(std::string(ORVANE_TEST_C_COMPILER) + " " + ORVANE_TEST_C_FLAGS + " -o " +
                             Quote(dir.file("game")) + " " + Quote(dir.file("game.c")) + " $(" + pkgConfig +
                             " --cflags --libs orvane-client)");
    ASSERT_EQ(build.exit, 0) << build.output;

    VistrelProcess program = install.Start();
    ASSERT_TRUE(program.ready()) << program.output();
    const Result game = Shell("env -u DISPLAY " + Quote(dir.file("game")));
    EXPECT_EQ(game.exit, 0) << game.output << program.output();
    // A line per new frame it read: "frame <n> yaw <v> pitch <v>".
    EXPECT_GE(std::count(game.output.begin(), game.output.end(), '\n'), 10) << game.output;
    EXPECT_NE(game.output.find("frame "), std::string::npos) << game.output;
    EXPECT_EQ(program.stop(), 0) << program.output();
}

TEST(Install, AsADistributionShipsIt)
{
    const Installed install;
    ASSERT_EQ(install.result().exit, 0) << install.result().output;
    struct Check {
        const char* name;
        void (*run)(const Installed&);
    };
    const Check checks[] = {
        {"LaysOutTheSuiteAsLinuxExpects", LaysOutTheSuiteAsLinuxExpects},
        {"TheProgramAnswersHelpAndVersionAndRefusesUnknownOptions", TheProgramAnswersHelpAndVersionAndRefusesUnknownOptions},
        {"TheInstalledProgramKeepsTheUsersFilesInTheUsersFolder", TheInstalledProgramKeepsTheUsersFilesInTheUsersFolder},
        {"AFolderThatCannotBeWrittenIsToldOnce", AFolderThatCannotBeWrittenIsToldOnce},
        {"TheReadmesExampleBuildsAgainstTheInstallAndReadsThePose", TheReadmesExampleBuildsAgainstTheInstallAndReadsThePose},
    };
    for (const Check& check : checks) {
        SCOPED_TRACE(check.name);
        check.run(install);
    }
}

} // namespace
