#include "views/game_details.h"

#include "target_runner.h"
#include "view_test_data.h"
#include "testing/test_clock.h"

#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <numbers>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>

using namespace views;
using testing_support::TargetProcess;
using views_test::hex;
using views_test::pose;

namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
Bytes bytesOf(const T& v)
{
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

float floatAt(platform::FakeProcess& p, std::uint64_t address)
{
    auto b = p.peek(address, 4);
    float f = 0;
    std::memcpy(&f, b.data(), 4);
    return f;
}

class FakeGame : public ::testing::Test {
protected:
    platform::FakeProcessSystem system;
    std::shared_ptr<platform::FakeProcess> game = system.add(100, "Game.exe");
    CProcessPoker poker{system};
    testing_support::TestClock clock;

    void attach() { ASSERT_TRUE(poker.Attach(100)); }
    void putU32(std::uint64_t address, std::uint32_t v) { game->poke(address, bytesOf(v)); }
    void putFloat(std::uint64_t address, float v) { game->poke(address, bytesOf(v)); }
};

// F1 Challenge on a live stand-in process ----------------------------------

const char* kF1Site = "8b5424708b4424748d8bf00f0000891 18b54247889410489 5108";

class F1OnTarget : public ::testing::Test {
protected:
    void SetUp() override { ORVANE_SKIP_WITHOUT_MEMORY_ACCESS(); }
    static std::vector<std::string> args(const std::string& site)
    {
        return {"0x4f0000:4096:rx", "0x59d000:4096:rw", "0x5e4000:4096:rw", "0x4f0a2a=" + site,
                "0x5e4700=0102030405060708090a0b0c"};
    }
    static std::string site()
    {
        std::string s = kF1Site;
        std::erase(s, ' ');
        return s;
    }
    std::string dumpAll(TargetProcess& t)
    {
        return t.command("dump 0x4f0a2a 26") + t.command("dump 0x59d5f0 75") + t.command("dump 0x5e4700 12");
    }
};

TEST_F(F1OnTarget, PatchesCaveAndSiteThenRestoresEveryByte)
{
    TargetProcess target(PROCESS_TARGET, args(site()));
    ASSERT_TRUE(target.ready());
    const std::string before = dumpAll(target);
    {
        CProcessPoker poker;
        ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(target.pid())));
        CF1Challenge writer;
        auto record = pose(0, 16384, 4096);
        ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
        EXPECT_EQ(target.command("dump 0x4f0a2a 5"), "e9c1cb0a00");
        const std::string cave = target.command("dump 0x59d5f0 75");
        EXPECT_EQ(cave.substr(0, 8), "d9442470");
        EXPECT_EQ(cave.substr(84, 52), site());
        EXPECT_EQ(cave.substr(136), "b8440a4f00ffe0");
        // Looking fully down is held at -0.11; yaw a quarter of the way.
        float expected[3] = {-0.11f, 4096.0f * -(1.0f / 16384) * 5 * std::numbers::pi_v<float> / 12, 0};
        EXPECT_EQ(target.command("dump 0x5e4700 12"), hex(Bytes(reinterpret_cast<std::uint8_t*>(expected),
                                                                reinterpret_cast<std::uint8_t*>(expected) + 12)));
        // Later updates write the offsets only.
        auto level = pose();
        ASSERT_EQ(writer.Update(&poker, &level), kWriteOk);
        EXPECT_EQ(target.command("dump 0x5e4700 12"), "000000800000008000000000");
    }
    EXPECT_EQ(dumpAll(target), before);
}

TEST_F(F1OnTarget, OtherCodeAtTheSiteIsLeftAlone)
{
    std::string other = site();
    other[0] = '9';
    other[1] = '0';
    TargetProcess target(PROCESS_TARGET, args(other));
    ASSERT_TRUE(target.ready());
    const std::string before = dumpAll(target);
    CProcessPoker poker;
    ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(target.pid())));
    CF1Challenge writer;
    auto record = pose(0, 100, 100);
    EXPECT_EQ(writer.Update(&poker, &record), kCodeDiffers);
    EXPECT_EQ(writer.Update(&poker, &record), kCodeDiffers);
    EXPECT_EQ(dumpAll(target), before);
    EXPECT_EQ(poker.rememberedCount(), 0u);
}

TEST_F(F1OnTarget, UsedCaveAreaAndUnreadableSiteAreRefused)
{
    TargetProcess target(PROCESS_TARGET, {"0x4f0000:4096:rx", "0x59d000:4096:rw", "0x5e4000:4096:rw",
                                          "0x4f0a2a=" + site(), "0x59d600=01"});
    ASSERT_TRUE(target.ready());
    CProcessPoker poker;
    ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(target.pid())));
    CF1Challenge writer;
    auto record = pose();
    EXPECT_EQ(writer.Update(&poker, &record), kWriteFailed);
    EXPECT_EQ(target.command("dump 0x4f0a2a 2"), "8b54");

    TargetProcess bare(PROCESS_TARGET, {"0x5e4000:4096:rw"});
    ASSERT_TRUE(bare.ready());
    CProcessPoker other;
    ASSERT_TRUE(other.Attach(static_cast<std::uint32_t>(bare.pid())));
    CF1Challenge second;
    EXPECT_EQ(second.Update(&other, &record), kReadFailed);
}

// State-driven patches -----------------------------------------------------

TEST_F(FakeGame, TocaPatchesOnEnteringTheStateAndUnpatchesOnLeaving)
{
    game->map(0x400000, 0x1000);
    game->map(0x4B7000, 0x1000);
    game->map(0xA4F000, 0x1000);
    game->map(0x900000, 0x1000);
    game->poke(0x4B784F, Bytes{0xE8, 0x8C, 0x05, 0xF6, 0xFF});
    putU32(0xA4FA60, 0x900400);
    attach();
    CToCARaceDriver2 writer;
    auto record = pose(0, 0, 0, 16384, 0, 0);

    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_FALSE(writer.patched());
    EXPECT_EQ(game->peek(0x4B784F, 5), (Bytes{0xE8, 0x8C, 0x05, 0xF6, 0xFF}));
    EXPECT_FLOAT_EQ(floatAt(*game, 0x400380), 0.42f); // position goes on in every state

    putU32(0x900400 - 928, 3);
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_TRUE(writer.patched());
    EXPECT_EQ(game->peek(0x4B784F, 5), (Bytes{0xE9, 0xBF, 0x8E, 0xF4, 0xFF}));
    const Bytes cave = tocaCaveImage();
    ASSERT_EQ(cave.size(), 1113u);
    // The cave's entry (the jump's target) runs the displaced call and jumps back.
    EXPECT_EQ(game->peek(0x400713, 10), (Bytes{0xE8, 0xC8, 0x76, 0x01, 0x00, 0xE9, 0x37, 0x71, 0x0B, 0x00}));
    EXPECT_FLOAT_EQ(floatAt(*game, 0x400390), 0.1f);
    const int writes = game->writeCount();
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    // Matrix (one write) and three positions; the cave is not written again.
    EXPECT_EQ(game->writeCount(), writes + 4);

    putU32(0x900400 - 928, 0);
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_FALSE(writer.patched());
    EXPECT_EQ(game->peek(0x4B784F, 5), (Bytes{0xE8, 0x8C, 0x05, 0xF6, 0xFF}));
}

// A process that is not the game (another build, or a program named like
// it) in the active state, with other code at the patch site: every state
// writer refuses it and writes nothing at all, the cave and data included.
TEST(StateWriters, OtherCodeAtTheSiteIsRefusedAndNothingIsWritten)
{
    struct Case {
        const char* name;
        std::unique_ptr<CGameDetails> (*make)();
        std::uint32_t site;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> state; // address, value
    } cases[] = {
        {"ToCA", [] { return std::unique_ptr<CGameDetails>(new CToCARaceDriver2); }, 0x4B784F,
         {{0xA4FA60, 0x900400}, {0x900400 - 928, 3}}},
        {"Dustline", [] { return std::unique_ptr<CGameDetails>(new CDustlineRally04); }, 0x41A5FC, {{0x6397C4, 1}}},
        {"NASCAR", [] { return std::unique_ptr<CGameDetails>(new CNascarRacing2003); }, 0x56AB9D, {{0xC069DB, 1}}},
        {"Wings of War", [] { return std::unique_ptr<CGameDetails>(new CWingsOfWar); }, 0x40A266, {{0x4E5B30, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::FakeProcessSystem system;
        auto decoy = system.add(7, "decoy");
        for (std::uint64_t page : {0x400000, 0x41A000, 0x4B7000, 0x56A000, 0x639000, 0x40A000, 0x4E5000, 0x74E000,
                                   0x900000, 0xA4F000, 0xC06000})
            decoy->map(page, 0x1000);
        decoy->poke(c.site, Bytes{0x90, 0x90, 0x90, 0x90, 0x90, 0x90});
        for (auto [address, value] : c.state)
            decoy->poke(address, bytesOf(value));
        CProcessPoker poker(system);
        ASSERT_TRUE(poker.Attach(7));
        auto writer = c.make();
        auto record = pose(100, 200, 300, 400, 500, 600);
        EXPECT_EQ(writer->Update(&poker, &record), kCodeDiffers);
        EXPECT_EQ(writer->Update(&poker, &record), kCodeDiffers);
        EXPECT_EQ(decoy->writeCount(), 0);
        EXPECT_EQ(poker.rememberedCount(), 0u);
    }
}

// The same on a live process, where the site is read-only code: not one
// byte of the decoy changes.
TEST(StateWriters, ReadOnlyCodeOfADecoyIsNotChanged)
{
    ORVANE_SKIP_WITHOUT_MEMORY_ACCESS();
    TargetProcess decoy(PROCESS_TARGET, {"0x400000:4096:rx", "0x4b7000:4096:rx", "0xa4f000:4096:rw",
                                         "0x900000:4096:rw", "0x4b784f=9090909090", "0xa4fa60=00049000",
                                         "0x900060=03000000"});
    ASSERT_TRUE(decoy.ready());
    auto dump = [&] { return decoy.command("dump 0x400000 4096") + decoy.command("dump 0x4b7000 4096"); };
    const std::string before = dump();
    {
        CProcessPoker poker;
        ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(decoy.pid())));
        CToCARaceDriver2 writer;
        auto record = pose(100, 200, 300, 400, 500, 600);
        EXPECT_EQ(writer.Update(&poker, &record), kCodeDiffers);
    }
    EXPECT_EQ(dump(), before);
}

TEST_F(FakeGame, DustlineTakesTheGamesNewCameraAsBase)
{
    game->map(0x400000, 0x1000);
    game->map(0x41A000, 0x1000);
    game->map(0x639000, 0x1000);
    game->poke(0x41A5FC, Bytes{0xE8, 0xBF, 0xC1, 0xFF, 0xFF});
    putU32(0x6397C4, 1);
    attach();
    CDustlineRally04 writer;
    auto record = pose();
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_TRUE(writer.patched());
    EXPECT_EQ(game->peek(0x41A5FC, 5), (Bytes{0xE9, 0x22, 0x5E, 0xFE, 0xFF}));
    EXPECT_FLOAT_EQ(floatAt(*game, 0x400090), 0.35f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x40008C), 0.475f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x400088), 0.025f);
    // The matrix carries the quarter turn of this game's camera.
    EXPECT_NEAR(floatAt(*game, 0x4000A4 + 8), -1.0f, 1e-6);

    putFloat(0x400090, 1);
    putFloat(0x40008C, 2);
    putFloat(0x400088, 3);
    record = pose(0, 0, 0, 16384, 0, 16384);
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x400090), 1 + 0.42f + 0.35f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x40008C), 2 + 0.475f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x400088), 3 + 0.025f - 0.42f);
    // Its own values are not mistaken for a move of the game's.
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x400090), 1 + 0.42f + 0.35f);
}

TEST_F(FakeGame, NascarWritesAnglesAndOffsets)
{
    game->map(0x400000, 0x1000);
    game->map(0x56A000, 0x1000);
    game->map(0x74E000, 0x1000);
    game->map(0xC06000, 0x1000);
    game->poke(0x56AB9D, Bytes{0x50, 0xE8, 0x7D, 0xC3, 0x08, 0x00});
    putU32(0xC069DB, 1);
    attach();
    CNascarRacing2003 writer;
    auto record = pose(8192, 0, -16384, 16384, 16384, 16384);
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->peek(0x56AB9D, 6), (Bytes{0xE9, 0x5E, 0x57, 0xE9, 0xFF, 0x90}));
    EXPECT_EQ(game->peek(0x400300, 3), (Bytes{0xD9, 0x04, 0x24}));
    EXPECT_FLOAT_EQ(floatAt(*game, 0x4002F0), -std::numbers::pi_v<float>);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x4002F8), std::numbers::pi_v<float> / 2);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x74EBBC), 0.1f - 0.42f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x74EBC0), 0.42f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x74EBC4), 0.52f);
}

TEST_F(FakeGame, WingsOfWarWritesRowsAndPositionIntoTheCamera)
{
    game->map(0x40A000, 0x1000);
    game->map(0x4E5000, 0x1000);
    game->map(0x700000, 0x1000);
    game->poke(0x40A266, Bytes{0x74, 0x74});
    putU32(0x4E5B14, 0x700000);
    putFloat(0x700000 + 108 + 12, 42); // the rows' fourth floats stay
    attach();
    CWingsOfWar writer;
    auto record = pose(0, 0, 0, 16384, 16384, 16384);
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->writeCount(), 0); // not in the patched state

    putU32(0x4E5B30, 2);
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->peek(0x40A266, 2), (Bytes{0xEB, 0x74}));
    EXPECT_FLOAT_EQ(floatAt(*game, 0x700000 + 108), 1);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x700000 + 124 + 4), 1);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x700000 + 140 + 8), 1);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x700000 + 108 + 12), 42);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x700000 + 156), -0.42f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x700000 + 160), 0.42f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x700000 + 164), -0.42f);

    game->failWrites(1);
    EXPECT_EQ(writer.Update(&poker, &record), kWriteFailed);
}

// The session's end puts back every byte a state writer changed, also when
// the game is still in the patched state then.
TEST(StateWriters, EverythingComesBackWhenTheSessionEndsInThePatchedState)
{
    ORVANE_SKIP_WITHOUT_MEMORY_ACCESS();
    TargetProcess game(PROCESS_TARGET, {"0x400000:4096:rw", "0x4b7000:4096:rx", "0xa4f000:4096:rw",
                                        "0x900000:4096:rw", "0x4b784f=e88c05f6ff", "0xa4fa60=00049000",
                                        "0x400370=deadbeef"});
    ASSERT_TRUE(game.ready());
    auto dump = [&] { return game.command("dump 0x400000 4096") + game.command("dump 0x4b7000 4096"); };
    const std::string before = dump();
    {
        CProcessPoker poker;
        ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(game.pid())));
        CToCARaceDriver2 writer;
        auto record = pose(0, 4096, 8192, 16384, 0, 0);
        ASSERT_EQ(writer.Update(&poker, &record), kWriteOk); // not racing: the layout only
        EXPECT_EQ(game.command("dump 0x4b784f 5"), "e88c05f6ff");
        EXPECT_EQ(game.command("dump 0x400380 4"), "3d0ad73e"); // x: 0.42
        ASSERT_EQ(game.command("poke 0x900060 03000000"), "ok");
        ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
        EXPECT_TRUE(writer.patched());
        EXPECT_EQ(game.command("dump 0x4b784f 5"), "e9bf8ef4ff");
        EXPECT_EQ(game.command("dump 0x400713 5"), "e8c8760100"); // the displaced call in the cave
    }
    EXPECT_EQ(dump(), before);
}

TEST(Nascar, RaisesEveryThreadOfTheProcessAndPutsEachBack)
{
    auto niceOf = [](pid_t tid) { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid)); };
    // A second thread of this process, at a nice value of its own.
    std::mutex mutex;
    std::condition_variable changed;
    pid_t other = 0;
    bool done = false;
    std::thread worker([&] {
        ::setpriority(PRIO_PROCESS, 0, 5);
        std::unique_lock lock(mutex);
        other = static_cast<pid_t>(::syscall(SYS_gettid));
        changed.notify_all();
        changed.wait(lock, [&] { return done; });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return other != 0; });
    }
    const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
    const int selfBefore = niceOf(self);
    {
        CNascarRacing2003 writer;
        writer.OnStart();
        // Lowering a nice value needs the privilege to; without it nothing changes.
        if (::geteuid() == 0) {
            EXPECT_EQ(niceOf(other), 5 - CNascarRacing2003::kHighPriorityStep);
            EXPECT_EQ(niceOf(self), std::max(-20, selfBefore - CNascarRacing2003::kHighPriorityStep));
        }
        writer.OnStop();
        EXPECT_EQ(niceOf(other), 5);
        EXPECT_EQ(niceOf(self), selfBefore);
        // A writer destroyed without OnStop puts the priorities back too.
        writer.OnStart();
    }
    EXPECT_EQ(niceOf(other), 5);
    EXPECT_EQ(niceOf(self), selfBefore);
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    changed.notify_all();
    worker.join();
}

// Pointer chain and camera records -----------------------------------------

TEST_F(FakeGame, CombatFS3FollowsThePointerChain)
{
    game->map(0x8AF000, 0x1000);
    game->map(0x100000, 0x1000);
    game->map(0x200000, 0x1000);
    // p1..p8 laid out in one block; q's code in another.
    const std::uint32_t b = 0x100000;
    putU32(0x8AFD18, b);           // p1
    putU32(b + 20, b + 0x100);     // p2
    putU32(b + 0x108, b + 0x200);  // p3
    putU32(b + 0x21C, b + 0x300);  // p4
    putU32(b + 0x314, b + 0x400);  // p5
    putU32(b + 0x408, b + 0x500);  // p6
    putU32(b + 0x500, b + 0x600);  // p7
    putU32(b + 0x600, b + 0x700);  // p8
    putU32(b + 0x71C, 0x200000);   // q
    putU32(b + 0x600 + 272, 0x200100);
    attach();
    CCombatFS3 writer;
    writer.setClock(clock);
    auto record = pose(0, 16384, 16384, 16384, 16384, 16384);

    // Not the expected code: nothing written, after a short pause.
    const auto t0 = clock.now();
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(clock.now() - t0, std::chrono::milliseconds(250));
    EXPECT_EQ(game->writeCount(), 0);

    game->poke(0x200007, Bytes{0x64, 0xA1, 0, 0, 0, 0, 0x50, 0x64, 0x89, 0x25, 0, 0, 0, 0, 0x83, 0xEC, 0x30, 0x56});
    putU32(b + 0x600 + 264, 1); // busy
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->writeCount(), 0);
    putU32(b + 0x600 + 264, 0);
    game->failWrites(0);
    const int before = game->writeCount();
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->writeCount(), before + 1);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x200100 + 400), -std::numbers::pi_v<float>);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x200100 + 404), std::numbers::pi_v<float>);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x200100 + 408), -0.2f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x200100 + 412), 0.2f);
    EXPECT_FLOAT_EQ(floatAt(*game, 0x200100 + 416), -0.25f);

    putU32(b + 0x408, 0); // p6 null: nothing to do
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    putU32(b + 0x408, 0x900000); // p6 unreadable target
    EXPECT_EQ(writer.Update(&poker, &record), kReadFailed);
}

TEST_F(FakeGame, GraveltonRestoresEachViewsRecordWhenLeavingIt)
{
    const std::uint32_t object = 0x300000;
    game->map(0x7EA000, 0x1000);
    game->map(object, 0x1000);
    putU32(0x7EA67C, object);
    putU32(object + 1832, 1);
    putU32(object + 112, 3);
    std::array<float, 14> view3{}, view4{};
    for (std::size_t i = 0; i < 14; ++i) {
        view3[i] = static_cast<float>(i + 1);
        view4[i] = static_cast<float>(100 + i);
    }
    game->poke(object + 904, bytesOf(view3));
    game->poke(object + 960, bytesOf(view4));
    attach();
    CGraveltonRally writer;
    writer.setClock(clock);
    auto record = pose(0, 0, 16384 / 1.586663f * std::numbers::pi_v<float> / 2);

    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    // A quarter turn about Z moves (1, 2, 3) to (-2, 1, 3); floats 9-13 stay.
    EXPECT_NEAR(floatAt(*game, object + 904), -2, 1e-5);
    EXPECT_NEAR(floatAt(*game, object + 908), 1, 1e-5);
    EXPECT_NEAR(floatAt(*game, object + 912), 3, 1e-5);
    EXPECT_FLOAT_EQ(floatAt(*game, object + 904 + 36), 10);

    putU32(object + 112, 4);
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->peek(object + 904, 56), bytesOf(view3));
    EXPECT_NEAR(floatAt(*game, object + 960), -101, 1e-4);

    // Leaving the game restores the record of the view in use.
    poker.Undo();
    EXPECT_EQ(game->peek(object + 960, 56), bytesOf(view4));
}

TEST_F(FakeGame, GraveltonWaitsForItsObjectAndTheDrivingState)
{
    const std::uint32_t object = 0x300000;
    game->map(0x7EA000, 0x1000);
    game->map(object, 0x1000);
    attach();
    CGraveltonRally writer;
    writer.setClock(clock);
    auto record = pose();
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    putU32(0x7EA67C, object);
    putU32(object + 112, 5);
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk); // state 0
    EXPECT_EQ(game->writeCount(), 0);
    putU32(object + 1832, 1);
    putU32(object + 112, 7); // not a cockpit view
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->writeCount(), 0);
    putU32(object + 112, 5);
    EXPECT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->writeCount(), 1);
    game->kill();
    EXPECT_EQ(writer.Update(&poker, &record), kReadFailed);
}

// Flight Simulator 2004 ------------------------------------------------------

class FS2004Game : public FakeGame {
protected:
    static constexpr std::uint32_t kWindow = 0x21000000;
    static constexpr std::uint32_t kControls = 0x22000000;
    static constexpr std::uint32_t kView = 0x30000000;

    void SetUp() override
    {
        // window.dll in two mappings with the code in the second.
        game->map(kWindow, 0x1000, "/game/Modules/WINDOW.DLL");
        game->map(kWindow + 0x2000, 0xE000, "/game/Modules/WINDOW.DLL");
        game->map(kControls, 0x1D000, "/game/Modules/controls.dll");
        game->map(kView, 0x2000);
        game->poke(kWindow + 0x2686, Bytes{0xFF, 0x92, 0x18, 0x01, 0x00, 0x00, 0x8D, 0x44, 0x24, 0x08, 0x50});
        putU32(kControls + 0x1C05C, kView);
        putU32(kView + 0x118C, kView + 0x100); // view
        putU32(kView + 0x100, kView + 0x200);  // its name
        putU32(kView + 0x100 + 24, kView + 0x400); // camera
        setName("SPOT PLANE");
        attach();
        writer.Prepare(100);
    }
    void setName(const std::string& name)
    {
        Bytes text(32, 0);
        std::copy(name.begin(), name.end(), text.begin());
        game->poke(kView + 0x200, text);
    }
    CFS2004 writer{system};
};

TEST_F(FS2004Game, FindsTheSitePatchesAndWritesOnlyInTheVirtualCockpit)
{
    EXPECT_EQ(writer.window().base, kWindow);
    EXPECT_EQ(writer.window().size, 0x10000u);
    EXPECT_EQ(writer.controls().base, kControls);
    EXPECT_EQ(writer.site(), kWindow + 0x2686);

    auto record = pose(0, 0, 0, 16384, 16384, 16384);
    const Bytes camera = game->peek(kView + 0x400 + 80, 64);
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_EQ(game->peek(kWindow + 0x2686, 6), (Bytes{0xE9, 0xB2, 0xA7, 0x00, 0x00, 0x90}));
    const Bytes cave = game->peek(kWindow + 0xCE3D, 58);
    EXPECT_EQ(cave, fs2004CaveImage(kWindow));
    EXPECT_EQ(Bytes(cave.begin() + 11, cave.begin() + 15), (Bytes{0xEE, 0xCF, 0x00, 0x21}));
    // An outside view: nothing written.
    EXPECT_EQ(game->peek(kView + 0x400 + 80, 64), camera);
    EXPECT_FLOAT_EQ(floatAt(*game, kWindow + 0xCFEE), 0);

    setName("VIRTUAL COCKPIT - FRONT");
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_FLOAT_EQ(floatAt(*game, kWindow + 0xCFEE), -0.42f);
    EXPECT_FLOAT_EQ(floatAt(*game, kWindow + 0xCFF2), 0.42f);
    EXPECT_FLOAT_EQ(floatAt(*game, kWindow + 0xCFF6), -0.42f);
    EXPECT_FLOAT_EQ(floatAt(*game, kView + 0x400 + 80), 1);
    EXPECT_FLOAT_EQ(floatAt(*game, kView + 0x400 + 80 + 60), 1);

    // The Japanese name counts too.
    setName("\x89\xBC\x91\x7A\x83\x52\x83\x62\x83\x4E\x83\x73\x83\x62\x83\x67");
    record = pose(0, 0, 8192);
    ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
    EXPECT_NEAR(floatAt(*game, kView + 0x400 + 80 + 8), 1, 1e-6);

    poker.Undo();
    EXPECT_EQ(game->peek(kWindow + 0x2686, 6), (Bytes{0xFF, 0x92, 0x18, 0x01, 0x00, 0x00}));
    EXPECT_EQ(game->peek(kWindow + 0xCE3D, 58), Bytes(58, 0));
}

TEST_F(FS2004Game, ChangedSiteIsRefused)
{
    game->poke(kWindow + 0x2686, Bytes{0xCC});
    auto record = pose();
    EXPECT_EQ(writer.Update(&poker, &record), kCodeDiffers);
    EXPECT_EQ(game->writeCount(), 0);
    CFS2004 unprepared{system};
    EXPECT_EQ(unprepared.Update(&poker, &record), kReadFailed);
}

// The same on a live stand-in process with the two modules mapped from files.
TEST(FS2004OnTarget, PreparesFromTheLoadedModulesAndRestores)
{
    ORVANE_SKIP_WITHOUT_MEMORY_ACCESS();
    auto dir = std::filesystem::temp_directory_path() / ("h13fs9-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto writeFile = [](const std::filesystem::path& path, const Bytes& bytes) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    };
    Bytes window(0x10000, 0);
    const Bytes site{0xFF, 0x92, 0x18, 0x01, 0x00, 0x00, 0x8D, 0x44, 0x24, 0x08, 0x50};
    std::copy(site.begin(), site.end(), window.begin() + 0x2686);
    Bytes controls(0x1D000, 0);
    const std::uint32_t view = 0x10410000;
    std::memcpy(controls.data() + 0x1C05C, &view, 4);
    writeFile(dir / "Window.dll", window);
    writeFile(dir / "CONTROLS.DLL", controls);
    {
        // view data: [view + 0x118C] -> view + 0x100 -> name at view + 0x200, camera at view + 0x400.
        TargetProcess target(PROCESS_TARGET,
                             {"0x21000000@" + (dir / "Window.dll").string(), "0x22000000@" + (dir / "CONTROLS.DLL").string(),
                              "0x10410000:8192:rw", "0x1041118c=00014110", "0x10410100=00024110", "0x10410118=00044110",
                              "0x10410200=5649525455414c20434f434b504954"});
        ASSERT_TRUE(target.ready());
        CProcessPoker poker;
        ASSERT_TRUE(poker.Attach(static_cast<std::uint32_t>(target.pid())));
        CFS2004 writer;
        writer.Prepare(static_cast<std::uint32_t>(target.pid()));
        EXPECT_EQ(writer.site(), 0x21002686u);
        EXPECT_EQ(writer.controls().base, 0x22000000u);
        auto record = pose(0, 0, 0, 16384, 0, 0);
        ASSERT_EQ(writer.Update(&poker, &record), kWriteOk);
        EXPECT_EQ(target.command("dump 0x21002686 6"), "e9b2a7000090");
        EXPECT_EQ(target.command("dump 0x2100cfee 4"), "3d0ad7be"); // -0.42
        EXPECT_EQ(target.command("dump 0x10410450 4"), "0000803f"); // camera + 80: 1.0
        poker.Undo();
        EXPECT_EQ(target.command("dump 0x21002686 6"), "ff9218010000");
        EXPECT_EQ(target.command("dump 0x2100ce3d 4"), "00000000");
    }
    std::filesystem::remove_all(dir);
}

} // namespace
