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
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "app/UpdatePackage.h"
#include "app/UpdateService.h"
#include "app/maker_server.h"
#include "platform/linked_folder.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "profiles/CatalogueMaker.h"
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

// The arguments of a desktop entry's Exec value, read as the Desktop Entry
// Specification reads them: the string escapes, then the quoting, then "%%".
std::vector<std::string> ExecArguments(const std::string& value)
{
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char c = value[++i];
        text += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        if (c != 's' && c != 'n' && c != 't' && c != 'r' && c != '\\')
            text.insert(text.size() - 1, 1, '\\');
    }
    std::vector<std::string> args;
    std::string arg;
    bool quoted = false, started = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            const bool escaped = c == '\\' && i + 1 < text.size() &&
                                 std::string_view("\"`$\\").find(text[i + 1]) != std::string_view::npos;
            if (escaped)
                arg += text[++i];
            else if (c == '"')
                quoted = false;
            else
                arg += c;
        } else if (c == ' ') {
            if (started)
                args.push_back(std::exchange(arg, {}));
            started = false;
        } else {
            started = true;
            if (c == '"')
                quoted = true;
            else
                arg += c;
        }
    }
    if (started)
        args.push_back(arg);
    for (std::string& a : args)
        for (std::size_t at = a.find("%%"); at != std::string::npos; at = a.find("%%", at + 1))
            a.erase(at, 1);
    return args;
}

// The value of `key` in a desktop entry's text, empty when it has none.
std::string EntryValue(const std::string& entry, const std::string& key)
{
    const std::size_t at = entry.find("\n" + key + "=");
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size() + 2;
    return entry.substr(start, entry.find('\n', start) - start);
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
    const std::string program = (install.prefix() / "bin/vistrel").string();
    EXPECT_EQ(EntryValue(Read(entry), "Exec"), "\"" + program + "\"") << Read(entry);
    EXPECT_EQ(EntryValue(Read(entry), "TryExec"), program) << Read(entry);

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

// A prefix with a space: the desktop entry still names the program, as a
// desktop reads the entry, and passes the validator.
void TheDesktopEntryNamesTheProgramInAnyPrefix(const Installed&)
{
    testing_support::TempDir dir("orvane-install-space");
    const fs::path prefix = dir.path() / "Orvane Suite";
    const Result installed = Shell(std::string(ORVANE_TEST_CMAKE) + " --install " + Quote(ORVANE_BUILD_DIR) +
                                   " --prefix " + Quote(prefix));
    ASSERT_EQ(installed.exit, 0) << installed.output;
    const fs::path entry = prefix / "share/applications/vistrel.desktop";
    const Result valid = Shell("desktop-file-validate " + Quote(entry));
    EXPECT_EQ(valid.exit, 0) << valid.output;
    const std::string text = Read(entry);
    const std::vector<std::string> exec = ExecArguments(EntryValue(text, "Exec"));
    ASSERT_EQ(exec.size(), 1u) << text;
    EXPECT_EQ(exec[0], (prefix / "bin/vistrel").string());
    EXPECT_EQ(EntryValue(text, "TryExec"), (prefix / "bin/vistrel").string()) << text;
    // What the desktop starts is the program.
    const Result version = Shell("env -u DISPLAY " + Quote(exec[0]) + " --version");
    EXPECT_EQ(version.exit, 0) << version.output;
}

// The maker's server for the installed program: the update query offers a
// catalogue of `version` in the package `name` (the other files at version
// 0); the packages are served from memory.
class UpdateServer {
public:
    UpdateServer()
    {
        started_ = server_.start();
        offer(0, "none");
    }
    bool started() const { return started_; }
    std::string base() const { return server_.base(); }
    void serve(const std::string& name, const std::vector<std::uint8_t>& data) { server_.serve(name, data); }
    void offer(int version, const std::string& name)
    {
        const auto reply = [&](int v) {
            return "<Update><FileVersion>" + std::to_string(v) + "</FileVersion><DownloadURL>" + server_.base() +
                   "/files/" + name + "</DownloadURL><MinimumSoftwareVersion>4.1.000</MinimumSoftwareVersion></Update>";
        };
        server_.setReplies(reply(version), reply(0));
    }

private:
    testing_support::MakerServer server_;
    bool started_ = false;
};

// A catalogue package of `version` signed with the build's catalogue key, as
// the maker's server would offer it; empty when it cannot be made.
std::vector<std::uint8_t> CataloguePackage(int version)
{
    const std::string keyText = Read(ORVANE_TEST_CATALOGUE_PRIVATE_KEY);
    const std::vector<std::uint8_t> key(keyText.begin(), keyText.end());
    testing_support::TempDir dir("orvane-install-package");
    const std::string xml = "<Games Version=\"" + std::to_string(version) + "\"><Game Name=\"Update " +
                            std::to_string(version) + "\" Id=\"9901\" ProfileId=\"9901\"/></Games>";
    if (MakeCatalogue(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()), key,
                      dir.file("sgl.dat"), dir.file("sgl.sig")) != 0)
        return {};
    const std::string data = Read(dir.file("sgl.dat")), signature = Read(dir.file("sgl.sig"));
    const std::vector<std::uint8_t> dataBytes(data.begin(), data.end());
    const std::vector<std::uint8_t> signatureBytes(signature.begin(), signature.end());
    const auto signedVersion = static_cast<std::uint32_t>(version);
    return MakePackage({{kRecordGameList, dataBytes},
                        {kRecordGameListSignature, signatureBytes},
                        {kRecordGameListPackageSignature,
                         SignPackageFile(CPackageKind::GameList, signedVersion, dataBytes, key)}});
}

// The user asks the running program for game updates (menu command 32786)
// and waits for its answer; the answer's text, empty when none came.
std::string CheckForGameUpdates(VistrelProcess& program)
{
    // The program's debug output repeats what it tells the user.
    static constexpr std::string_view kAnswer = "game updates: ";
    const auto told = [&] {
        const std::string out = program.output();
        std::size_t n = 0;
        for (std::size_t at = out.find(kAnswer); at != std::string::npos; at = out.find(kAnswer, at + 1))
            ++n;
        return n;
    };
    const std::size_t before = told();
    constexpr platform::UINT kCommandMessage = 0x0111; // WM_COMMAND
    const platform::HWND main = platform::findWindow("VistrelClass", nullptr);
    if (main == 0 || !platform::postMessage(main, kCommandMessage, kCmdCheckGameUpdates, 0))
        return {};
    if (!WaitUntil([&] { return told() > before; }, 30s))
        return {};
    const std::string out = program.output();
    const std::size_t at = out.rfind(kAnswer);
    return out.substr(at, out.find('\n', at) - at);
}

// A catalogue update reaches an installed program: installed into the
// user's folder, loaded from there at the next start, and judged against
// the catalogue the program loads (the shipped one, then the update). What
// killed updates left there goes at the next start, and nothing else.
void ACatalogueUpdateIsWhatTheInstalledProgramLoads(const Installed& install)
{
    UpdateServer server;
    ASSERT_TRUE(server.started());
    for (const int version : {1, 2, 3}) {
        const auto package = CataloguePackage(version);
        ASSERT_FALSE(package.empty()) << "the build's catalogue key cannot sign";
        server.serve("sgl" + std::to_string(version) + ".pkg", package);
    }
    const std::vector<std::pair<std::string, std::string>> env = {{"ORVANE_SERVICE_URL", server.base()},
                                                                  {"ORVANE_DEBUG", "1"}};
    // Its folders outlive this run: the next start works in them.
    VistrelProcess program = install.Start(env);
    ASSERT_TRUE(program.ready()) << program.output();
    const fs::path root = program.root(), work = program.folder();
    // The program came with catalogue version 1.
    EXPECT_NE(program.output().find("catalogue: version 1, "), std::string::npos) << program.output();

    // A package no newer than the shipped catalogue, offered as newer.
    server.offer(2, "sgl1.pkg");
    const std::string notNewer = CheckForGameUpdates(program);
    EXPECT_NE(notNewer.find("not newer than what is installed"), std::string::npos) << notNewer;
    EXPECT_FALSE(fs::exists(work / kCatalogueUpdateFolder));

    server.offer(3, "sgl3.pkg");
    const std::string updated = CheckForGameUpdates(program);
    EXPECT_NE(updated.find("Restart Vistrel"), std::string::npos) << updated << program.output();
    EXPECT_EQ(program.stop(), 0) << program.output();
    const auto pair = platform::files::LinkedFolder(work / kCatalogueUpdateFolder);
    ASSERT_TRUE(pair.has_value()) << "no update in " << work;

    // What killed updates leave, beside what is the user's.
    fs::create_directory(work / "catalogue.Kil1ed");
    std::ofstream(work / "catalogue.Kil1ed/sgl.dat") << "half";
    fs::create_directory_symlink("catalogue.Kil1ed", work / ".catalogue.Kil1ed.link");
    fs::create_directory(work / "views.Kil1ed");
    fs::create_directory_symlink("views.Kil1ed", work / ".views.Kil1ed.link");
    std::ofstream(work / ".VSLViews.so.Kil1ed") << "half";
    std::ofstream(work / ".VSLViewsi.so.Kil1ed") << "half";
    const char* mine[] = {"catalogue.mine", "catalogue-Kil1ed", ".VSLViews.so.keep"};
    for (const char* name : mine)
        std::ofstream(work / name) << "mine";

    auto options = testing_support::ProgramOptions();
    options.prefix = install.prefix();
    options.env = env;
    options.env.insert(options.env.end(), {{"XDG_DATA_HOME", (root / "xdg-data").string()},
                                           {"XDG_CONFIG_HOME", (root / "xdg-config").string()}});
    VistrelProcess again(options);
    ASSERT_TRUE(again.ready()) << again.output();
    EXPECT_NE(again.output().find("catalogue: version 3, 1 games, from " + pair->string()), std::string::npos)
        << again.output();
    // Judged against the update it loads now.
    server.offer(4, "sgl2.pkg");
    const std::string refused = CheckForGameUpdates(again);
    EXPECT_NE(refused.find("not newer than what is installed"), std::string::npos) << refused;
    EXPECT_EQ(platform::files::LinkedFolder(work / kCatalogueUpdateFolder), pair);
    EXPECT_EQ(again.stop(), 0) << again.output();

    for (const char* name : {"catalogue.Kil1ed", ".catalogue.Kil1ed.link", "views.Kil1ed", ".views.Kil1ed.link",
                             ".VSLViews.so.Kil1ed", ".VSLViewsi.so.Kil1ed"})
        EXPECT_EQ(fs::symlink_status(work / name).type(), fs::file_type::not_found) << name;
    for (const char* name : mine)
        EXPECT_EQ(Read(work / name), "mine") << name;
    EXPECT_TRUE(fs::exists(*pair / "sgl.dat"));
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
        {"TheDesktopEntryNamesTheProgramInAnyPrefix", TheDesktopEntryNamesTheProgramInAnyPrefix},
        {"ACatalogueUpdateIsWhatTheInstalledProgramLoads", ACatalogueUpdateIsWhatTheInstalledProgramLoads},
    };
    for (const Check& check : checks) {
        SCOPED_TRACE(check.name);
        check.run(install);
    }
}

} // namespace
