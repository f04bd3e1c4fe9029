// The three-point pose through a game start, a profile change and a
// re-centre, as a player sees it: the real program on the simulated camera
// with the head held still away from the neutral pose, and a game that
// reads all six axes. Each of those moments makes where the head is the
// centre, so every axis must read (near) zero afterwards and stay there.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "platform/registry.h"
#include "testing/client_process.h"
#include "testing/vistrel_process.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ClientProcess;
using testing_support::VistrelProcess;
using testing_support::WaitUntil;

// A catalogue game (Flight Simulator 2002 through its module).
constexpr int kGameId = 2302;
// The sheet's message that makes the default profile the current one.
constexpr platform::UINT kSelectDefaultProfile = 0x812D;
constexpr double kNearZero = 0.01 * 16383;

// A profile with all six axes on. Motion type 3 reads the clip as mounting
// location 1, motion type 2 as location 2: the same three markers, told
// apart by another model (the sheet hands the engine a changed one).
std::string Profile(const char* name, int motionType, bool isDefault)
{
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Profile>\n  <Name>" + std::string(name) +
                    "</Name>\n  <MotionType>" + std::to_string(motionType) + "</MotionType>\n";
    if (isDefault)
        x += "  <AssociatedGame Id=\"4294967295\"></AssociatedGame>\n";
    for (int axis = 0; axis < 6; ++axis)
        x += "  <Axis Type=\"" + std::to_string(axis) + "\" Enabled=\"1\" Inverted=\"0\"></Axis>\n";
    return x + "</Profile>\n";
}

class GameStartPose : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto options = testing_support::ProgramOptions();
        // Still, turned and moved from the neutral pose; discs large enough
        // for location 2's blob size window.
        options.scene = "revision 8\nlocation 1\nradius 6\nmotion still\npose 20 -10 5 30 -20 40\n";
        options.files = {{"Profiles/Desk.xml", Profile("Desk", 3, true)},
                         {"Profiles/Flying.xml", Profile("Flying", 2, false)}};
        program = std::make_unique<VistrelProcess>(options);
        ASSERT_TRUE(program->ready()) << program->output();
        // The game's profile in the profile map: not the one in use.
        auto store = program->registry().store();
        const std::string key = "SOFTWARE\\Orvane\\Vistrel\\ProfileMap";
        ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, key), platform::registry::kSuccess);
        ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, key, std::to_string(kGameId), u"Flying.xml"),
                  platform::registry::kSuccess);
        game = std::make_unique<ClientProcess>(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
        ASSERT_TRUE(game->ready());
    }
    void TearDown() override
    {
        game.reset();
        if (program) {
            EXPECT_EQ(program->stop(), 0) << program->output();
        }
    }

    std::vector<double> Read()
    {
        std::vector<double> f = ClientProcess::numbers(game->ask("getdata"));
        return f.size() == 19u && f[0] == 0 ? f : std::vector<double>{};
    }
    double Frame()
    {
        const auto f = Read();
        return f.empty() ? -1 : f[2];
    }
    // Lets `frames` frames pass (the counter runs 1..32766 and wraps).
    void Pass(int frames)
    {
        const double start = Frame();
        ASSERT_GE(start, 0) << program->output();
        ASSERT_TRUE(WaitUntil([&] {
            const double now = Frame();
            return now >= 0 && std::fmod(now - start + 32766, 32766) >= frames;
        })) << program->output();
    }
    // After `what`: the six axes (roll, pitch, yaw, x, y, z) near zero, and
    // still there a while later.
    void ExpectCentred(const char* what)
    {
        Pass(50);
        for (int check = 0; check < 2; ++check) {
            const auto f = Read();
            ASSERT_FALSE(f.empty()) << what;
            for (int axis = 0; axis < 6; ++axis)
                EXPECT_NEAR(f[static_cast<std::size_t>(4 + axis)], 0.0, kNearZero) << what << ", slot " << axis;
            Pass(30);
        }
    }

    std::unique_ptr<VistrelProcess> program;
    std::unique_ptr<ClientProcess> game;
};

TEST_F(GameStartPose, EveryAxisReadsZeroAfterTheGameStartsAProfileChangeAndARecentre)
{
    game->ask("window");
    ASSERT_EQ(game->ask("regwin"), "0");
    ASSERT_EQ(game->ask("request 119"), "0");
    ASSERT_EQ(game->ask("start"), "0");
    // The game starts: its profile (another clip model) comes in, and the
    // program re-centres.
    ASSERT_EQ(game->ask("profile " + std::to_string(kGameId)), "0");
    ExpectCentred("after the game start");

    // The user changes the profile through the main sheet: it goes back to
    // the default profile, with the other model.
    const platform::HWND sheet = platform::findWindow("OrvaneSnapSheet", nullptr);
    ASSERT_NE(sheet, 0u);
    ASSERT_EQ(game->ask("setparam 2 0"), "0");
    ASSERT_TRUE(platform::postMessage(sheet, kSelectDefaultProfile, 0, 0));
    ExpectCentred("after the profile change");
    // The change made the head's pose the centre (the program raised the
    // re-centred parameter), rather than leaving the old centre standing.
    EXPECT_EQ(game->ask("getparam 2"), "0 1");

    ASSERT_EQ(game->ask("recenter"), "0");
    ExpectCentred("after the game's re-centre");
    // The same profile again: the same model, nothing changes.
    ASSERT_TRUE(platform::postMessage(sheet, kSelectDefaultProfile, 0, 0));
    ExpectCentred("after the same profile again");
    EXPECT_EQ(game->ask("unreg"), "0");
}

} // namespace
