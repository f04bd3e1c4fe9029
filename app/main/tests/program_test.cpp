// The program as a user starts it, with a game beside it: the real vistrel
// on the simulated camera, and a game process that reads the pose through
// the client library.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "testing/client_process.h"
#include "testing/vistrel_process.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ClientProcess;
using testing_support::VistrelProcess;
using testing_support::WaitUntil;

using testing_support::Fields;

TEST(Program, AGameReadsTheMovingHeadAndTheProgramEndsCleanly)
{
    auto options = testing_support::ProgramOptions();
    VistrelProcess program(options);
    ASSERT_TRUE(program.ready()) << program.output();

    ClientProcess game(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
    ASSERT_TRUE(game.ready());
    game.ask("window");
    ASSERT_EQ(game.ask("regwin"), "0");
    // A game the catalogue knows (its program profile id).
    ASSERT_EQ(game.ask("profile 2302"), "0");
    ASSERT_EQ(game.ask("request 119"), "0");
    ASSERT_EQ(game.ask("start"), "0");

    // The scripted head moves: frames count up and the pose changes.
    std::vector<double> first, later;
    ASSERT_TRUE(WaitUntil([&] {
        first = Fields(game.ask("getdata"));
        return first.size() == 19u && first[2] > 0;
    })) << program.output();
    ASSERT_TRUE(WaitUntil([&] {
        later = Fields(game.ask("getdata"));
        return later.size() == 19u && later[2] != first[2] &&
               (later[4] != first[4] || later[5] != first[5] || later[6] != first[6]);
    })) << program.output();
    EXPECT_EQ(game.ask("unreg"), "0");

    EXPECT_EQ(program.stop(), 0) << program.output();
    EXPECT_EQ(platform::findWindow("VistrelClass", nullptr), 0u);
}

} // namespace
