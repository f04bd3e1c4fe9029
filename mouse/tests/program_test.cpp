// The program itself on a private X server: started beside an engine
// publisher in this process, it moves the real pointer through XTest.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

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
    ASSERT_EQ(store->createKey(Root::CurrentUser, vslmouse::kLocationKey), 0);
    ASSERT_EQ(store->setString(Root::CurrentUser, vslmouse::kLocationKey, vslmouse::kLocationValue,
                               u"" OVCLIENT_DIR "\\"),
              0);
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

} // namespace
