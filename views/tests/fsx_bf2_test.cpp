// The two writers that work through programs outside the suite: the
// simulator's client library (Flight Simulator X, ESP) and the helper
// loaded into Battlefield 2, each against a stand-in.
#include "views/game_details.h"

#include "platform/shared.h"
#include "simconnect_standin.h"
#include "target_runner.h"
#include "view_test_data.h"
#include "testing/temp_dir.h"
#include "testing/temp_session.h"
#include "testing/vistrel_process.h"

#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using namespace views;
using testing_support::TargetProcess;
using testing_support::WaitUntil;
using views_test::readAll;
using views_test::pose;

namespace {

// Flight Simulator X ----------------------------------------------------------

class FSX : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(simulator.ready()); }
    StandInSimulator simulator;
    SimConnectLink link{std::filesystem::path(SIMCONNECT_STANDIN).parent_path()};
    CProcessPoker poker;
};

TEST_F(FSX, ConnectsFirstThenSendsEachNewFrameScaled)
{
    CFSX writer(link);
    const OVPosePacket none{};
    EXPECT_EQ(writer.Update(&poker, &none), 0u);
    auto calls = simulator.calls();
    ASSERT_EQ(simulator.names(), "Open");
    EXPECT_STREQ(calls[0].text, "Vistrel SimConnect Interface");
    void* const connection = calls[0].handle;

    const auto first = pose(16383, 16383, 16383, 16383, 16383, 16383, 1);
    EXPECT_EQ(writer.Update(&poker, &first), 0u);
    EXPECT_EQ(writer.Update(&poker, &first), 0u); // the same frame: no second call
    auto record = pose(0, -8191.5f, 8191.5f, -16383, 0, 0, 2);
    record.status = 1; // not a pose the engine vouches for
    EXPECT_EQ(writer.Update(&poker, &record), 0u);
    record.status = 0;
    EXPECT_EQ(writer.Update(&poker, &record), 0u);

    calls = simulator.calls();
    ASSERT_EQ(simulator.names(), "Open CameraSetRelative6DOF CameraSetRelative6DOF");
    EXPECT_EQ(calls[1].handle, connection);
    // x, y, z, pitch, bank (roll), heading (yaw), with their scales and signs.
    const float full[6] = {-0.25f, 0.5f, -0.5f, 90.0f, 90.0f, -180.0f};
    for (int i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(calls[1].values[i], full[i]) << i;
    const float second[6] = {0.25f, 0, 0, -45.0f, 0, -90.0f};
    for (int i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(calls[2].values[i], second[i]) << i;

    writer.OnStop();
    calls = simulator.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_STREQ(calls[3].name, "Close");
    EXPECT_EQ(calls[3].handle, connection);
    EXPECT_FALSE(link.connected());
}

TEST_F(FSX, MissingLibraryAndRefusedConnectionHaveTheirCodes)
{
    testing_support::TempDir empty;
    SimConnectLink nowhere(empty.path());
    CFSX lost(nowhere);
    const OVPosePacket none{};
    EXPECT_EQ(lost.Update(&poker, &none), 1u);
    lost.OnStop();

    simulator.refuse(true);
    CFSX refused(link);
    EXPECT_EQ(refused.Update(&poker, &none), 2u);
    refused.OnStop(); // nothing to close
    EXPECT_EQ(simulator.names(), "Open");

    // The library stays loaded; the next session connects.
    simulator.refuse(false);
    CFSX next(link);
    EXPECT_EQ(next.Update(&poker, &none), 0u);
    EXPECT_TRUE(link.connected());
    next.OnStop();
}

TEST(FSXTable, TheSimulatorRowsShareOneLinkInTheProgramsFolder)
{
    EXPECT_EQ(hostProgramFolder(), std::filesystem::path(SIMCONNECT_STANDIN).parent_path());
    EXPECT_EQ(&sharedSimConnect(), &sharedSimConnect());
}

// Battlefield 2 -------------------------------------------------------------

// Whether another thread holds "VSLVIEWSHOOKMUTEX" (asked from a thread of
// its own, as the helper in the game would).
bool hookMutexHeld()
{
    return std::async(std::launch::async, [] {
               auto mutex = platform::NamedMutex::open("VSLVIEWSHOOKMUTEX");
               if (!mutex)
                   return false;
               if (!platform::holds(mutex->lock(std::chrono::milliseconds(0))))
                   return true;
               mutex->unlock();
               return false;
           })
        .get();
}

std::uint32_t sharedProfileId()
{
    auto section = platform::SharedSection::open("VistrelVMSharedMemory", 4);
    std::uint32_t id = 0;
    if (section)
        std::memcpy(&id, section->data(), 4);
    return id;
}

class BF2OnFakes : public ::testing::Test {
protected:
    testing_support::TempSession session;
    testing_support::TempDir folder;
    platform::FakeProcessSystem system;
    std::shared_ptr<platform::FakeProcess> game = system.add(40, "BF2.exe");
    CProcessPoker poker{system};
    OVPosePacket record{};

    void SetUp() override
    {
        game->map(0x400000, 0x1000, "/games/bf2/BF2.exe");
        std::ofstream(folder.path() / "VSLViewsi.so") << "module";
        ASSERT_TRUE(poker.Attach(40));
    }
};

TEST_F(BF2OnFakes, LoadsTheHelperOnceWithTheProfileIdHandedOver)
{
    std::uint32_t idWhileLoading = 0;
    bool heldWhileLoading = false;
    game->answerLoads([&](const std::string&) {
        idWhileLoading = sharedProfileId();
        heldWhileLoading = hookMutexHeld();
        return platform::RemoteCall{true, 0x7F0000001000, {}};
    });
    CBF2 writer(system, folder.path());
    EXPECT_EQ(writer.Update(&poker, &record), 0u);
    EXPECT_EQ(idWhileLoading, 9651u);
    // The mutex tells the helper who loads it: held while it starts, free after.
    EXPECT_TRUE(heldWhileLoading);
    EXPECT_FALSE(hookMutexHeld());
    EXPECT_EQ(game->loadRequests(), std::vector<std::string>{(folder.path() / "VSLViewsi.so").string()});
    // Done: later updates do nothing.
    EXPECT_EQ(writer.Update(&poker, &record), 0u);
    EXPECT_EQ(game->loadRequests().size(), 1u);
    EXPECT_EQ(game->writeCount(), 0);
}

TEST_F(BF2OnFakes, AHelperAlreadyInsideIsAskedToStartAgain)
{
    game->map(0x7F0000000000, 0x1000, "/opt/orvane/VSLVIEWSI.SO");
    auto again = platform::NamedEvent::open("VSLViewsEvent40", false);
    ASSERT_TRUE(again);
    CBF2 writer(system, folder.path());
    EXPECT_EQ(writer.Update(&poker, &record), 0u);
    EXPECT_TRUE(game->loadRequests().empty());
    EXPECT_EQ(again->wait(std::chrono::milliseconds(0)), 0u);
}

TEST_F(BF2OnFakes, FailuresAreReportedAndTriedAgain)
{
    // The game cannot load it, or the call cannot be made.
    game->answerLoads([](const std::string&) { return platform::RemoteCall{true, 0, {}}; });
    CBF2 writer(system, folder.path());
    EXPECT_EQ(writer.Update(&poker, &record), kWriteFailed);
    game->answerLoads([](const std::string&) { return platform::RemoteCall{false, 0, "not permitted"}; });
    EXPECT_EQ(writer.Update(&poker, &record), kWriteFailed);
    game->answerLoads({});
    EXPECT_EQ(writer.Update(&poker, &record), 0u);
    EXPECT_EQ(game->loadRequests().size(), 3u);

}

TEST_F(BF2OnFakes, WithoutTheHelperInstalledTheGameIsNotTouched)
{
    testing_support::TempDir empty;
    CBF2 without(system, empty.path());
    EXPECT_EQ(without.Update(&poker, &record), kWriteFailed);
    EXPECT_TRUE(game->loadRequests().empty());
}

// The stand-in helper really loaded into a stand-in game.
TEST(BF2OnTarget, TheHelperRunsInsideTheGameAndStartsAgainWhenAsked)
{
    ORVANE_SKIP_WITHOUT_TRACING();
    testing_support::TempSession session;
    testing_support::TempDir dir;
    const auto record = dir.path() / "helper.txt";
    ::setenv("VSLVIEWSI_RECORD", record.c_str(), 1);
    TargetProcess game(PROCESS_TARGET, {"0x10410000:4096:rw"});
    ::unsetenv("VSLVIEWSI_RECORD");
    ASSERT_TRUE(game.ready());
    const auto folder = std::filesystem::path(HELPER_STANDIN).parent_path();
    {
        CProcessPoker poker;
        ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(game.pid())));
        CBF2 writer(platform::systemProcesses(), folder);
        const OVPosePacket none{};
        ASSERT_EQ(writer.Update(&poker, &none), 0u);
        // The view library held its mutex while the helper started.
        EXPECT_EQ(readAll(record), "loaded 9651 held\n");
        // The game's own thread goes on.
        EXPECT_EQ(game.command("dump 0x10410000 4"), "00000000");

        CBF2 second(platform::systemProcesses(), folder);
        ASSERT_EQ(second.Update(&poker, &none), 0u);
        EXPECT_TRUE(WaitUntil([&] { return readAll(record) == "loaded 9651 held\nagain\n"; })) << readAll(record);
    }
    EXPECT_EQ(game.command("poke 0x10410000 01"), "ok");
}

} // namespace
