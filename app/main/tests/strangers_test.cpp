// The running program as another local user meets it: that user reaches
// none of its windows, cannot end it, and cannot crowd out its games.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../../../platform/ipc/src/wire.h"
#include "platform/messages.h"
#include "testing/client_process.h"
#include "testing/other_user.h"
#include "testing/vistrel_process.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ClientProcess;
using testing_support::VistrelProcess;
using testing_support::WaitUntil;

TEST(Strangers, AnotherUserCannotEndTheProgramNorCrowdOutItsGames)
{
    ORVANE_REQUIRE_OTHER_USER();
    VistrelProcess program(testing_support::ProgramOptions());
    ASSERT_TRUE(program.ready()) << program.output();
    const platform::HWND frame = platform::findWindow("VistrelClass", nullptr);
    const platform::HWND command = platform::findWindow(nullptr, "Orvane");
    ASSERT_NE(frame, 0u);
    ASSERT_NE(command, 0u);
    const std::string socket = testing_support::messageSocketOf(program.pid(), program.session().name());
    ASSERT_FALSE(socket.empty());
    // Few descriptors, as a desktop session's default gives: idle
    // connections could run it out of them.
    const rlimit few{512, 512};
    ASSERT_EQ(::prlimit(program.pid(), RLIMIT_NOFILE, &few, nullptr), 0);

    // The stranger guesses the handles and posts what would end the program
    // (WM_QUIT, WM_CLOSE, File > Exit), sends a game command, then keeps
    // a crowd of idle connections open while a game of the user plays.
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    int attack = -2;
    std::thread stranger([&] {
        attack = testing_support::runAsOtherUser(
            [&] {
                for (const platform::HWND h : {frame, command}) {
                    const std::pair<std::uint32_t, std::uint32_t> frames[] = {
                        {platform::wire::kPost, platform::WM_QUIT},
                        {platform::wire::kPost, platform::WM_CLOSE},
                        {platform::wire::kPost, 0x0111}, // WM_COMMAND, with File > Exit below
                        {platform::wire::kSend, 0x0405},
                    };
                    for (const auto& [kind, message] : frames) {
                        const int fd = testing_support::connectToMessageSocket(socket, false);
                        if (fd < 0)
                            continue;
                        const platform::wire::Request r{platform::wire::kMagic, kind, h, message,
                                                        message == 0x0111 ? 57665u : 1021u, 0};
                        ::send(fd, &r, sizeof r, MSG_NOSIGNAL);
                        ::close(fd);
                    }
                }
                // The child of a threaded process allocates nothing.
                static int crowd[1100];
                int open = 0;
                for (int& fd : crowd)
                    if ((fd = testing_support::connectToMessageSocket(socket, true)) >= 0)
                        ++open;
                char c = 1;
                [[maybe_unused]] ssize_t n = ::write(ready[1], &c, 1);
                n = ::read(done[0], &c, 1);
                for (int fd : crowd)
                    if (fd >= 0)
                        ::close(fd);
                return open > 0 ? 0 : 1;
            },
            60s);
    });
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);

    // A game of the user still gets every answer, at once.
    ClientProcess game(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
    ASSERT_TRUE(game.ready());
    game.ask("window");
    EXPECT_EQ(game.ask("regwin", 3000ms), "0");
    EXPECT_EQ(game.ask("profile 2302", 3000ms), "0");
    EXPECT_EQ(game.ask("unreg", 3000ms), "0");
    [[maybe_unused]] ssize_t n = ::write(done[1], &c, 1);
    stranger.join();
    EXPECT_EQ(attack, 0);

    // Nothing the stranger posted reached the program: it runs on, and
    // ends cleanly when its own user asks.
    EXPECT_TRUE(platform::sendMessage(frame, platform::WM_NULL, 0, 0, 5000ms).has_value());
    EXPECT_FALSE(WaitUntil([&] { return !program.running(); }, 1500ms)) << program.output();
    EXPECT_EQ(program.stop(), 0) << program.output();
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
}

// The client library's section and mutexes made first by a stranger (who
// would read and forge the pose games get): the program names the object
// and does not start.
TEST(Strangers, TheProgramDoesNotStartOnAnotherUsersClientObjects)
{
    ORVANE_REQUIRE_OTHER_USERS_SHARED_OBJECTS();
    for (const std::string object : {".OVClient", ".mutex.OVClientMutex", ".mutex.OVClientCommand"}) {
        SCOPED_TRACE(object);
        auto options = testing_support::ProgramOptions();
        options.waitReady = false;
        std::string made;
        options.beforeStart = [&](const std::string& session) {
            if (testing_support::makeSharedObjectAsOtherUser("/" + session + object))
                made = "/dev/shm/" + session + object;
        };
        VistrelProcess program(options);
        ASSERT_FALSE(made.empty());
        ASSERT_TRUE(WaitUntil([&] { return !program.running(); }, 60s)) << program.output();
        EXPECT_EQ(program.stop(), 1) << program.output();
        EXPECT_NE(program.output().find("vistrel: Vistrel cannot start. The shared object " + made +
                                        " belongs to user 65534"),
                  std::string::npos)
            << program.output();
    }
}

} // namespace
