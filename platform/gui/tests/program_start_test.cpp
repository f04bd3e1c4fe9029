// What the programs do around the toolkit: the command line, the platform
// without a display, the headless noise, and the stop signals.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QTimer>

#include "platform/gui/program_start.h"

namespace {

using platform::gui::CommandLine;

// Help, version and the toolkit's own options only; an error is one line
// that names the program.
TEST(ProgramStart, CommandLineNamesTheProgramAndTellsThePlatform)
{
    using A = CommandLine::Action;
    const struct {
        std::vector<std::string> args;
        A action;
        const char* error;
        const char* platform;
    } cases[] = {
        {{"vslmouse"}, A::Run, "", ""},
        {{"vslmouse", "--help"}, A::Help, "", ""},
        {{"vslmouse", "-V"}, A::Version, "", ""},
        {{"vslmouse", "-platform", "offscreen"}, A::Run, "", "offscreen"},
        {{"vslmouse", "--platform=xcb", "-display", ":1"}, A::Run, "", "xcb"},
        {{"vslmouse", "--nope"}, A::Error, "unknown option '--nope' (try 'vslmouse --help')", ""},
        {{"vistrel", "x"}, A::Error, "unexpected argument 'x' (try 'vistrel --help')", ""},
        {{"vistrel"}, A::Run, "", ""},
        {{"vistrel", "--help"}, A::Help, "", ""},
        {{"vistrel", "-h"}, A::Help, "", ""},
        {{"vistrel", "--version"}, A::Version, "", ""},
        {{"vistrel", "-V"}, A::Version, "", ""},
        // The toolkit's options pass to it, with their values.
        {{"vistrel", "-platform", "offscreen", "--display", ":3", "-reverse", "-style=fusion"}, A::Run, "", "offscreen"},
        {{"vistrel", "-session", "abc", "--version"}, A::Version, "", ""},
        {{"vistrel", "--frobnicate"}, A::Error, "unknown option '--frobnicate' (try 'vistrel --help')", ""},
        {{"vistrel", "-x"}, A::Error, "unknown option '-x' (try 'vistrel --help')", ""},
        {{"vistrel", "game.xml"}, A::Error, "unexpected argument 'game.xml' (try 'vistrel --help')", ""},
        {{"vistrel", "-"}, A::Error, "unexpected argument '-' (try 'vistrel --help')", ""},
        {{"vistrel", "-platform"}, A::Error, "option '-platform' needs a value (try 'vistrel --help')", ""},
        {{"vistrel", "-reverse=1"}, A::Error, "unknown option '-reverse=1' (try 'vistrel --help')", ""},
    };
    for (const auto& c : cases) {
        const CommandLine r = platform::gui::ParseCommandLine(c.args, c.args[0]);
        EXPECT_EQ(r.action, c.action) << c.args.back();
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
        EXPECT_EQ(r.platform, c.platform);
    }
}

// Restores the environment variables it was made with.
class SavedEnv {
public:
    explicit SavedEnv(std::vector<std::string> names) : names_(std::move(names))
    {
        for (const auto& n : names_) {
            const char* v = std::getenv(n.c_str());
            values_.emplace_back(v != nullptr, v != nullptr ? v : "");
        }
    }
    ~SavedEnv()
    {
        for (std::size_t i = 0; i < names_.size(); ++i)
            if (values_[i].first)
                ::setenv(names_[i].c_str(), values_[i].second.c_str(), 1);
            else
                ::unsetenv(names_[i].c_str());
    }

private:
    std::vector<std::string> names_;
    std::vector<std::pair<bool, std::string>> values_;
};

TEST(ProgramStart, OffscreenIsChosenOnlyWhenNothingNamesADisplayOrAPlatform)
{
    const SavedEnv saved({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    const struct {
        const char* display;
        const char* wayland;
        const char* platform;
        bool chosen;
    } cases[] = {
        {nullptr, nullptr, nullptr, true},
        {"", "", "", true},
        {":0", nullptr, nullptr, false},
        {nullptr, "wayland-0", nullptr, false},
        {nullptr, nullptr, "xcb", false},
    };
    for (const auto& c : cases) {
        const auto put = [](const char* name, const char* value) {
            if (value != nullptr)
                ::setenv(name, value, 1);
            else
                ::unsetenv(name);
        };
        put("DISPLAY", c.display);
        put("WAYLAND_DISPLAY", c.wayland);
        put("QT_QPA_PLATFORM", c.platform);
        EXPECT_EQ(platform::gui::ChooseOffscreenWithoutDisplay(), c.chosen);
        const char* now = std::getenv("QT_QPA_PLATFORM");
        EXPECT_EQ(std::string(now != nullptr ? now : ""), c.chosen ? "offscreen" : (c.platform ? c.platform : ""));
        EXPECT_EQ(platform::gui::HeadlessPlatform(CommandLine{}), c.chosen);
        // The command line's -platform wins.
        CommandLine withPlatform;
        withPlatform.platform = "xcb";
        EXPECT_FALSE(platform::gui::HeadlessPlatform(withPlatform));
    }
    EXPECT_TRUE(platform::gui::IsHeadlessPlatformName("offscreen:fontengine=freetype"));
    EXPECT_TRUE(platform::gui::IsHeadlessPlatformName("minimal"));
    EXPECT_FALSE(platform::gui::IsHeadlessPlatformName("xcb"));
}

// Only the two known lines are dropped; every other message goes on.
TEST(ProgramStart, TheHeadlessFilterDropsOnlyTheToolkitsKnownNoise)
{
    static std::vector<std::string> seen;
    seen.clear();
    const QtMessageHandler before =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { seen.push_back(m.toStdString()); });
    {
        const platform::gui::HeadlessNoiseFilter filter;
        qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'");
        qWarning("This plugin does not support propagateSizeHints()");
        qWarning("This plugin does not support propagateSizeHints() at all");
        qWarning("QStandardPaths: wrong permissions on runtime directory /run/user/0");
    }
    qWarning("This plugin does not support propagateSizeHints()");
    qInstallMessageHandler(before);
    EXPECT_EQ(seen, (std::vector<std::string>{"This plugin does not support propagateSizeHints() at all",
                                              "QStandardPaths: wrong permissions on runtime directory /run/user/0",
                                              "This plugin does not support propagateSizeHints()"}));
}

// A signal that came before any loop ran is remembered and handed to the
// first loop; one that comes in the loop is handed over at once.
TEST(ProgramStart, StopSignalsAreNeverLost)
{
    int argc = 1;
    char name[] = "program_start_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    for (const int signal : {SIGTERM, SIGINT}) {
        platform::gui::StopSignals stop;
        ASSERT_TRUE(stop.ok());
        EXPECT_FALSE(stop.Requested());
        ASSERT_EQ(::raise(signal), 0); // caught: the test goes on
        EXPECT_TRUE(stop.Requested());
        int calls = 0;
        stop.Watch([&] {
            if (++calls == 1)
                ::raise(signal); // a second one, in the loop
            else
                QCoreApplication::exit(0);
        });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
        EXPECT_EQ(QCoreApplication::exec(), 0);
        EXPECT_EQ(calls, 2);
    }
    // Gone with the object: the default action is back.
    struct sigaction now {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

} // namespace
