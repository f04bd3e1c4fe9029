// Opening addresses without a shell, and the hyperlink error texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>

#include "app/url_launcher.h"
#include "testing/temp_dir.h"

namespace {

using namespace app;

TEST(HyperlinkErrorText, Table)
{
    const std::u16string head = u"Unable to open hyperlink:\n\n";
    const struct {
        int code;
        std::u16string text;
    } cases[] = {
        {0, u"The operating system is out\nof memory or resources."},
        {2, u"The specified file was not found."},
        {5, u"The operating system denied\naccess to the specified file."},
        {26, u"Unknown Error (26) occurred."},
        {31, u"There is no application associated\nwith the given filename extension."},
        {32, u"The specified dynamic-link library was not found."},
        {4, u"Unknown Error (4) occurred."},
        {-1, u"Unknown Error (-1) occurred."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HyperlinkErrorText(c.code), head + c.text) << c.code;
}

TEST(BrowserArguments, TheAddressStaysOneArgument)
{
    const std::string url = "http://example.org/a b\"c;rm -rf ~";
    using V = std::vector<std::string>;
    EXPECT_EQ(BrowserArguments("firefox", url), (V{"firefox", url}));
    EXPECT_EQ(BrowserArguments("  firefox  --new-tab ", url), (V{"firefox", "--new-tab", url}));
    EXPECT_EQ(BrowserArguments("browser \"%1\" --x", url), (V{"browser", url, "--x"}));
    EXPECT_EQ(BrowserArguments("browser %1", url), (V{"browser", url}));
    EXPECT_TRUE(BrowserArguments("   ", url).empty());
}

TEST(SpawnUrlLauncher, StartFailuresGiveShellCodes)
{
    SpawnUrlLauncher launcher;
    EXPECT_EQ(launcher.Spawn({"/nonexistent/orvane-no-such-program"}), 2);
    EXPECT_EQ(launcher.Spawn({}), 2);
    EXPECT_EQ(launcher.Spawn({"true"}), kLaunchSucceeded);
    EXPECT_EQ(ShellCodeForErrno(EACCES), 5);
    EXPECT_EQ(ShellCodeForErrno(ENOMEM), 8);
}

// Whatever stops a start, the result is a failure code (0-32): callers take
// anything above 32 for success and would skip the error and the fallback.
TEST(SpawnUrlLauncher, EveryStartFailureIsAFailure)
{
    for (int e : {ENAMETOOLONG, ELOOP, E2BIG, ETXTBSY, EISDIR, EIO, EINVAL, 200})
        EXPECT_LE(ShellCodeForErrno(e), 32) << e;

    testing_support::TempDir dir;
    const std::filesystem::path loop = dir.path() / "loop";
    std::filesystem::create_symlink(loop, loop);
    SpawnUrlLauncher launcher;
    EXPECT_EQ(launcher.Spawn({loop.string()}), 3);
    EXPECT_EQ(launcher.Spawn({(dir.path() / std::string(300, 'a')).string()}), 3);
}

// A start that fails falls back to $BROWSER: seen here with a PATH that
// holds no xdg-open and a browser that records what it was given.
TEST(SpawnUrlLauncher, FallsBackToTheBrowserVariable)
{
    testing_support::TempDir dir;
    const auto script = dir.path() / "browser";
    const auto seen = dir.path() / "seen";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nprintf '%s' \"$1\" > '" << seen.string() << "'\n";
    }
    ::chmod(script.c_str(), 0700);
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath != nullptr ? oldPath : "";
    ::setenv("PATH", dir.path().c_str(), 1);
    ::setenv("BROWSER", script.c_str(), 1);
    int result = 0;
    {
        SpawnUrlLauncher launcher;
        result = launcher.Open("http://example.org/x", 5);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (launcher.Pending() != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::setenv("PATH", savedPath.c_str(), 1);
    ::unsetenv("BROWSER");
    EXPECT_EQ(result, kLaunchSucceeded);
    std::ifstream in(seen);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "http://example.org/x");
}

// A browser that has ended is collected at once, not left as a zombie until
// the next launch.
TEST(SpawnUrlLauncher, EndedChildrenAreReapedWithoutAnotherLaunch)
{
    SpawnUrlLauncher launcher;
    ASSERT_EQ(launcher.Spawn({"true"}), kLaunchSucceeded);
    ASSERT_EQ(launcher.Spawn({"sh", "-c", "exit 3"}), kLaunchSucceeded);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (launcher.Pending() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(launcher.Pending(), 0u);
}

} // namespace

namespace {

struct RecordingLauncher : app::UrlLauncher {
    int result = app::kLaunchSucceeded;
    std::vector<std::string> opened;
    int Open(std::string_view url, int) override
    {
        opened.emplace_back(url);
        return result;
    }
};

} // namespace

// Help: the page of the program folder opens as a file address; a missing
// page or a browser that cannot be started is said, never passed over.
TEST(HelpPage, OpensThePageOrSaysWhyNot)
{
    testing_support::TempDir dir;
    const std::filesystem::path folder = dir.path() / "prog dir";
    RecordingLauncher launcher;
    const std::u16string missing = app::OpenHelpPage(folder, launcher);
    EXPECT_TRUE(launcher.opened.empty());
    EXPECT_EQ(missing.rfind(u"Unable to open the help page ", 0), 0u);
    EXPECT_NE(missing.find(u"vsl4-index.html"), std::u16string::npos);
    EXPECT_NE(missing.find(u"The specified file was not found."), std::u16string::npos);

    std::filesystem::create_directories(folder / "Help");
    std::ofstream(folder / "Help" / "vsl4-index.html") << "<html></html>";
    EXPECT_EQ(app::OpenHelpPage(folder, launcher), u"");
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(launcher.opened[0], app::FileUrl(folder / "Help" / "vsl4-index.html"));
    EXPECT_NE(launcher.opened[0].find("/prog%20dir/Help/vsl4-index.html"), std::string::npos);
    EXPECT_EQ(launcher.opened[0].rfind("file:///", 0), 0u);

    launcher.result = 31;
    const std::u16string failed = app::OpenHelpPage(folder, launcher);
    EXPECT_NE(failed.find(u"There is no application associated"), std::u16string::npos);
}

// The page itself ships in the program folder of the build.
TEST(HelpPage, ShipsInTheProgramFolder)
{
    const std::filesystem::path page = app::HelpPagePath(ORVANE_BIN_DIR);
    ASSERT_TRUE(std::filesystem::is_regular_file(page)) << page;
    std::ifstream in(page);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* topic : {"id=\"camera\"", "id=\"profiles\"", "id=\"curves\"", "id=\"hotkeys\"", "id=\"games\"",
                              "id=\"files\""})
        EXPECT_NE(text.find(topic), std::string::npos) << topic;
}
