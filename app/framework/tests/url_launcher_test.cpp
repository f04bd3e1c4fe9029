// Opening addresses without a shell, and the hyperlink error texts.
#include <gtest/gtest.h>

#include "app/url_launcher.h"

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

} // namespace
