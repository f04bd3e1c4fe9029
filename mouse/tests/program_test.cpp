// The program itself on a private X server: started beside an engine
// publisher in this process, it moves the real pointer through XTest.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/VSLEnhanced.h"
#include "mouse/client.h"
#include "mouse/settings.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

// Xlib last: its macros (Status, None...) would clash with the names above.
#include <X11/Xlib.h>

#include "testing/xvfb_server.h"

extern char** environ;

using namespace std::chrono_literals;
using platform::registry::Root;

namespace {

class Program {
public:
    explicit Program(const std::string& display)
    {
        std::string displayVar = "DISPLAY=" + display;
        std::vector<std::string> env = {displayVar, "QT_QPA_PLATFORM=offscreen"};
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string_view v(*e);
            if (!v.starts_with("DISPLAY=") && !v.starts_with("QT_QPA_PLATFORM="))
                env.emplace_back(v);
        }
        std::vector<char*> envp;
        for (auto& s : env)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        std::string exe = VSLMOUSE_PROGRAM;
        char* argv[] = {exe.data(), nullptr};
        if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
    }
    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// Where the program finds the client library, as vistrel publishes it.
void PublishClientLocation(platform::registry::Store& store)
{
    ASSERT_EQ(store.createKey(Root::CurrentUser, vslmouse::kLocationKey), 0);
    ASSERT_EQ(store.setString(Root::CurrentUser, vslmouse::kLocationKey, vslmouse::kLocationValue,
                              u"" OVCLIENT_DIR "\\"),
              0);
}

template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds wait = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return pred();
}

TEST(ProgramTest, MovesThePointerFromThePublishedPose)
{
    testing_support::XvfbServer server;
    if (!server.ready())
        GTEST_SKIP() << "Xvfb is not available";
    testing_support::TempSession session;
    testing_support::TempRegistry registry;
    auto store = registry.store();
    ASSERT_NO_FATAL_FAILURE(PublishClientLocation(*store));
    // Nothing in front reads DirectInput here: the hidden mode sends anyway.
    ASSERT_EQ(store->createKey(Root::CurrentUser, vslmouse::kSettingsKey), 0);
    ASSERT_EQ(store->setDword(Root::CurrentUser, vslmouse::kSettingsKey, "MovementType", vslmouse::kAlwaysSendCode), 0);

    Display* d = XOpenDisplay(server.name().c_str());
    ASSERT_NE(d, nullptr);
    XChangePointerControl(d, True, True, 1, 1, 0); // no acceleration
    XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, 100, 100);
    XSync(d, False);
    auto cursor = [d] {
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned int mask = 0;
        XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
        return std::pair{rx, ry};
    };

    CVSLEnhanced link(store);
    link.Start();
    ASSERT_TRUE(link.IsLibraryLoaded());
    Program program(server.name());
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(waitFor([&] { return link.Transmitting() == 1; }));
    EXPECT_EQ(link.ProfileId(), 8501u);
    EXPECT_NE(link.ClientWindow(), 0u);

    // A first record at rest, then yaw -100 and pitch 50: 20 right, 10 down.
    link.PublishPose(0, 0, 0, 0, 0, 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(cursor(), (std::pair{100, 100}));
    link.PublishPose(0, 0, 0, 0, 50, -100);
    EXPECT_TRUE(waitFor([&] { return cursor() != std::pair{100, 100}; }));
    EXPECT_EQ(cursor(), (std::pair{120, 110}));

    // The engine's centre request.
    link.SetClientParameter(2, 1);
    link.PublishPose(0, 0, 0, 0, 50, -100);
    EXPECT_TRUE(waitFor([&] { return cursor().first > 300; }));
    EXPECT_NEAR(cursor().first, 320, 1);
    EXPECT_NEAR(cursor().second, 240, 1);
    XCloseDisplay(d);
    link.Stop();
}

// The program started with `args` and the environment less `unset`; its
// output goes to a file. Ended with SIGKILL by the destructor.
class Started {
public:
    Started(std::vector<std::string> args, const std::vector<std::string>& unset)
    {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string_view v(*e);
            bool drop = false;
            for (const std::string& name : unset)
                drop = drop || v.starts_with(name + "=");
            if (!drop)
                env.emplace_back(v);
        }
        std::vector<char*> envp, argv;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        args.insert(args.begin(), VSLMOUSE_PROGRAM);
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        char name[] = "/tmp/vslmouse-out-XXXXXX";
        const int fd = ::mkstemp(name);
        output_ = name;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd, 1);
        posix_spawn_file_actions_adddup2(&actions, fd, 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fd);
    }
    ~Started()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        ::unlink(output_.c_str());
    }
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;

    pid_t pid() const { return pid_; }
    // Sends `signal` to the program while it runs; false once it has ended
    // (never to a pid of 0 or below, which would reach other processes).
    bool Signal(int signal) const { return pid_ > 0 && kill(pid_, signal) == 0; }
    // The exit status (128 + signal for one ended by a signal), or -1 when
    // it still runs after `wait`.
    int Exit(std::chrono::milliseconds wait = 10s)
    {
        int status = 0;
        if (pid_ <= 0 || !waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, wait))
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Output() const
    {
        std::ifstream in(output_);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    pid_t pid_ = -1;
    std::string output_;
};

// Like vistrel: --help and --version answer and exit, without a display too;
// anything else but the toolkit's options is an error.
TEST(ProgramTest, CommandLineIsAnsweredWithoutADisplay)
{
    const std::vector<std::string> noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    const struct {
        std::vector<std::string> args;
        int exit;
        const char* output;
    } cases[] = {
        {{"--help"}, 0, "Usage: vslmouse"},
        {{"-h"}, 0, "Usage: vslmouse"},
        {{"--version"}, 0, "vslmouse (Orvane head tracking) "},
        {{"--frobnicate"}, 2, "vslmouse: unknown option '--frobnicate' (try 'vslmouse --help')\n"},
        {{"game.exe"}, 2, "vslmouse: unexpected argument 'game.exe' (try 'vslmouse --help')\n"},
    };
    for (const auto& c : cases) {
        Started run(c.args, noDisplay);
        ASSERT_GT(run.pid(), 0);
        EXPECT_EQ(run.Exit(), c.exit) << c.args[0];
        EXPECT_EQ(run.Output().rfind(c.output, 0), 0u) << run.Output();
    }
}

// With no display at all it runs headless (the toolkit would abort), and a
// SIGTERM ends it as its Cancel button would.
TEST(ProgramTest, WithoutADisplayItRunsHeadlessAndEndsOnSigterm)
{
    testing_support::TempSession session;
    testing_support::TempRegistry registry;
    auto store = registry.store();
    ASSERT_NO_FATAL_FAILURE(PublishClientLocation(*store));
    CVSLEnhanced link(store);
    link.Start();
    ASSERT_TRUE(link.IsLibraryLoaded());
    Started run({}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"});
    ASSERT_GT(run.pid(), 0);
    // Up: it registered with the engine.
    EXPECT_TRUE(waitFor([&] { return link.Transmitting() == 1; }, 30s)) << run.Output();
    ASSERT_EQ(run.Exit(0ms), -1) << run.Output();
    ASSERT_TRUE(run.Signal(SIGTERM));
    EXPECT_EQ(run.Exit(), 0) << run.Output();
    // The toolkit's warnings of every run without a screen stay out of it.
    for (const char* noise : {"XDG_RUNTIME_DIR not set", "propagateSizeHints"})
        EXPECT_EQ(run.Output().find(noise), std::string::npos) << run.Output();
    link.Stop();
}

} // namespace
