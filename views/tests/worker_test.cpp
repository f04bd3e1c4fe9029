#include "views/worker.h"

#include "target_runner.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace views;
using testing_support::TargetProcess;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kF1Site{0x8B, 0x54, 0x24, 0x70, 0x8B, 0x44, 0x24, 0x74, 0x8D, 0x8B, 0xF0, 0x0F, 0x00,
                    0x00, 0x89, 0x11, 0x8B, 0x54, 0x24, 0x78, 0x89, 0x41, 0x04, 0x89, 0x51, 0x08};

// Windows that live as long as their fake process.
class FakeWindows : public WindowSource {
public:
    void add(GameWindow w, std::shared_ptr<platform::FakeProcess> owner)
    {
        std::lock_guard lock(mutex_);
        windows_.push_back({std::move(w), std::move(owner)});
    }
    void close(std::uint64_t id)
    {
        std::lock_guard lock(mutex_);
        std::erase_if(windows_, [&](const auto& e) { return e.first.id == id; });
    }
    std::vector<GameWindow> topLevelWindows() override
    {
        std::lock_guard lock(mutex_);
        std::vector<GameWindow> out;
        for (const auto& [w, owner] : windows_)
            if (owner->alive())
                out.push_back(w);
        return out;
    }
    bool exists(std::uint64_t id) override
    {
        std::lock_guard lock(mutex_);
        for (const auto& [w, owner] : windows_)
            if (w.id == id)
                return owner->alive();
        return false;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<GameWindow, std::shared_ptr<platform::FakeProcess>>> windows_;
};

class FakePoses : public PoseSource {
public:
    bool Connect(OVWindow game, std::uint16_t profileId) override
    {
        std::lock_guard lock(mutex_);
        connected_ = true;
        window_ = game;
        profile_ = profileId;
        ++connects_;
        return true;
    }
    bool Poll(OVPosePacket& record) override
    {
        std::lock_guard lock(mutex_);
        if (!connected_)
            return false;
        record = record_;
        return true;
    }
    void Disconnect() override
    {
        std::lock_guard lock(mutex_);
        connected_ = false;
        ++disconnects_;
    }
    void set(float pitch, float yaw)
    {
        std::lock_guard lock(mutex_);
        record_.value[1] = pitch;
        record_.value[2] = yaw;
        record_.frame = static_cast<std::uint16_t>(record_.frame % 32766 + 1);
    }
    int connects()
    {
        std::lock_guard lock(mutex_);
        return connects_;
    }
    int disconnects()
    {
        std::lock_guard lock(mutex_);
        return disconnects_;
    }
    std::uint16_t profile()
    {
        std::lock_guard lock(mutex_);
        return profile_;
    }

private:
    std::mutex mutex_;
    OVPosePacket record_{};
    bool connected_ = false;
    OVWindow window_ = 0;
    std::uint16_t profile_ = 0;
    int connects_ = 0;
    int disconnects_ = 0;
};

template <typename Pred>
bool eventually(Pred pred)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

WorkerTiming fast()
{
    WorkerTiming t;
    t.roundPauseMs = 1;
    t.rowPauseMs = 1;
    t.pollPauseMs = 1;
    t.helperPauseMs = 1;
    t.endWaitMs = 1;
    t.missLimit = 3;
    return t;
}

std::shared_ptr<platform::FakeProcess> f1Game(platform::FakeProcessSystem& system, int pid)
{
    auto game = system.add(pid, "F1C.exe");
    game->map(0x4F0000, 0x1000);
    game->map(0x59D000, 0x1000);
    game->map(0x5E4000, 0x1000);
    game->poke(0x4F0A2A, kF1Site);
    return game;
}

float yawOffset(platform::FakeProcess& game)
{
    auto b = game.peek(0x5E4704, 4);
    float f = 0;
    std::memcpy(&f, b.data(), 4);
    return f;
}

GameWindow f1Window(std::uint64_t id, std::uint32_t pid)
{
    return {id, u"CUBEApp", u"F1 Challenge 99-02", pid};
}

TEST(WindowMatch, PrefixRulesInEitherDirection)
{
    const SupportedGame fs2004{nullptr, nullptr, 0, u"Flight Simulator 2004", 2303, nullptr, u"FS98Main",
                               u"Microsoft Flight Simulator 2004", u"FS98Main", u"Microsoft Flight Simulator -"};
    const SupportedGame fsx{nullptr, nullptr, 0, u"Flight Simulator X", 2305, nullptr, u"FS98Main",
                            u"Microsoft Flight Simulator X", nullptr, nullptr};
    struct Case {
        std::u16string cls, title;
        bool row0, row1;
    } cases[] = {
        {u"FS98MAIN", u"Microsoft Flight Simulator X", false, true},
        {u"FS98Main", u"Microsoft Flight Simulator 2004 - Cessna", true, false},
        {u"FS98Main", u"Microsoft Flight Simulator - Boeing", true, false},
        {u"FS98", u"", true, true},           // shorter class, empty title: prefixes both ways
        {u"fs98main", u"microsoft Flight Simulator X", false, false}, // title case counts
        {u"", u"Microsoft Flight Simulator X", false, false},
    };
    for (const Case& c : cases) {
        GameWindow w{1, c.cls, c.title, 1};
        EXPECT_EQ(MatchGameWindow(w, fs2004) == 0, c.row0) << std::string(c.title.begin(), c.title.end());
        EXPECT_EQ(MatchGameWindow(w, fsx) == 0, c.row1) << std::string(c.title.begin(), c.title.end());
    }
    const SupportedGame f1 = gameTable()[1];
    EXPECT_EQ(MatchGameWindow({1, u"CUBERealtime", u"F1 Challenge '99-'02", 1}, f1), 0);
    EXPECT_EQ(MatchGameWindow({1, u"CUBEApp", u"F1 Challenge", 1}, f1), 0);
    EXPECT_NE(MatchGameWindow({1, u"CUBEApp", u"F2 Challenge", 1}, f1), 0);
}

TEST(GameTable, EndsWithANullRowAndKnowsBF2sCheck)
{
    auto table = gameTable();
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(table.back().displayName, nullptr);
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
        EXPECT_NE(table[i].factory, nullptr);
        EXPECT_NE(table[i].executable, nullptr);
        EXPECT_NE(table[i].factory(), nullptr);
    }
    const char* text = nullptr;
    EXPECT_TRUE(CheckBF2Version(nullptr, &text));
    EXPECT_STREQ(text, "version checking done in the injected dll.");
    EXPECT_EQ(VSLViewsVersion(), 2);
}

class WorkerOnFakes : public ::testing::Test {
protected:
    platform::FakeProcessSystem system;
    FakeWindows windows;
    FakePoses poses;
    ViewLibrary library;

    WorkerEnvironment env()
    {
        WorkerEnvironment e;
        e.processes = &system;
        e.windows = &windows;
        e.poses = &poses;
        e.timing = fast();
        e.standInWindow = false;
        return e;
    }
};

TEST_F(WorkerOnFakes, FollowsThePoseAndRestoresWhenTheWindowCloses)
{
    auto game = f1Game(system, 10);
    const Bytes original = game->peek(0x4F0A2A, 26);
    windows.add(f1Window(1, 10), game);
    ASSERT_EQ(library.start(env()), 0);
    EXPECT_TRUE(library.running());

    ASSERT_TRUE(eventually([&] { return game->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    // The worker registers its profile around the time it patches: wait for it.
    EXPECT_TRUE(eventually([&] { return poses.profile() == 4401; }));
    poses.set(0, 4096);
    ASSERT_TRUE(eventually([&] { return yawOffset(*game) < -0.3f; }));
    poses.set(0, -4096);
    ASSERT_TRUE(eventually([&] { return yawOffset(*game) > 0.3f; }));

    windows.close(1);
    ASSERT_TRUE(eventually([&] { return game->peek(0x4F0A2A, 26) == original; }));
    // The cave area is cleared after the patch site is restored: wait for both.
    EXPECT_TRUE(eventually([&] { return game->peek(0x59D5F0, 75) == Bytes(75, 0); }));
    EXPECT_TRUE(eventually([&] { return poses.disconnects() == 1; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_FALSE(library.running());
}

TEST_F(WorkerOnFakes, FirstRowWinsAndStopRestoresAtOnce)
{
    // Gravelton is listed first among the windows; F1, the earlier row, wins.
    auto rally = system.add(20, "GraveltonRally.exe");
    rally->map(0x7EA000, 0x1000);
    windows.add({2, u"D3D Window", u"Gravelton Rally - DirectX9", 20}, rally);
    auto f1 = f1Game(system, 10);
    const Bytes original = f1->peek(0x4F0A2A, 26);
    windows.add(f1Window(1, 10), f1);
    ASSERT_EQ(library.start(env()), 0);
    ASSERT_TRUE(eventually([&] { return f1->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    // The worker registers its profile around the time it patches: wait for it.
    EXPECT_TRUE(eventually([&] { return poses.profile() == 4401; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(f1->peek(0x4F0A2A, 26), original);
    EXPECT_EQ(rally->writeCount(), 0);
}

TEST_F(WorkerOnFakes, GameThatDiesMidSessionLeavesTheWorkerReadyForTheNext)
{
    auto first = f1Game(system, 10);
    windows.add(f1Window(1, 10), first);
    ASSERT_EQ(library.start(env()), 0);
    ASSERT_TRUE(eventually([&] { return first->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    first->failWrites(1000);
    poses.set(100, 100);
    first->kill();
    // The next game started is found and patched.
    auto second = f1Game(system, 11);
    windows.add(f1Window(3, 11), second);
    ASSERT_TRUE(eventually([&] { return second->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    EXPECT_GE(poses.connects(), 2);
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(second->peek(0x4F0A2A, 26), kF1Site);
}

TEST_F(WorkerOnFakes, RefusedFirstUpdateIsRetriedNextRound)
{
    auto game = f1Game(system, 10);
    game->poke(0x4F0A2A, Bytes{0x90});
    windows.add(f1Window(1, 10), game);
    ASSERT_EQ(library.start(env()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(poses.connects(), 0);
    EXPECT_EQ(game->writeCount(), 0);
    game->poke(0x4F0A2A, Bytes{0x8B});
    ASSERT_TRUE(eventually([&] { return game->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    EXPECT_EQ(library.stop(), 0);
}

// The whole road on a live stand-in process found by its executable name.
TEST(WorkerOnTarget, FindsTheRunningGameAndRestoresOnStop)
{
    auto dir = std::filesystem::temp_directory_path() / ("h13views-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto program = dir / "f1c.EXE";
    std::filesystem::copy_file(PROCESS_TARGET, program, std::filesystem::copy_options::overwrite_existing);
    std::string site = "0x4f0a2a=";
    char buf[3];
    for (auto b : kF1Site) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        site += buf;
    }
    {
        TargetProcess target(program, {"0x4f0000:4096:rx", "0x59d000:4096:rw", "0x5e4000:4096:rw", site});
        ASSERT_TRUE(target.ready());
        const std::string before = target.command("dump 0x4f0a2a 26");
        FakePoses poses;
        WorkerEnvironment env;
        env.poses = &poses;
        env.timing = fast();
        env.standInWindow = false;
        ViewLibrary library;
        ASSERT_EQ(library.start(env), 0);
        ASSERT_TRUE(eventually([&] { return target.command("dump 0x4f0a2a 1") == "e9"; }));
        poses.set(0, 8192);
        ASSERT_TRUE(eventually([&] { return target.command("dump 0x5e4704 4") != "00000000"; }));
        EXPECT_EQ(library.stop(), 0);
        EXPECT_EQ(target.command("dump 0x4f0a2a 26"), before);
        EXPECT_EQ(target.command("dump 0x59d5f0 4"), "00000000");

        // Once more, and this time the game dies under the writer.
        ASSERT_EQ(library.start(env), 0);
        ASSERT_TRUE(eventually([&] { return target.command("dump 0x4f0a2a 1") == "e9"; }));
        target.kill();
        EXPECT_TRUE(eventually([&] { return poses.disconnects() >= 2; }));
        EXPECT_EQ(library.stop(), 0);
    }
    std::filesystem::remove_all(dir);
}

} // namespace
