#include "views/worker.h"

#include <gtest/gtest.h>

#include "simconnect_standin.h"
#include "target_runner.h"
#include "view_test_data.h"
#include "testing/temp_dir.h"
#include "testing/temp_session.h"
#include "testing/vistrel_process.h"
#include "testing/xvfb_server.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace views;
using testing_support::TargetProcess;
using testing_support::WaitUntil;
using views_test::readAll;
using views_test::hex;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kF1Site{0x8B, 0x54, 0x24, 0x70, 0x8B, 0x44, 0x24, 0x74, 0x8D, 0x8B, 0xF0, 0x0F, 0x00,
                    0x00, 0x89, 0x11, 0x8B, 0x54, 0x24, 0x78, 0x89, 0x41, 0x04, 0x89, 0x51, 0x08};

// Windows that live as long as their fake process.
class FakeWindows : public WindowList {
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

// The system's processes as far as this test program's children go: test
// programs running at the same time start games of the same names.
class OwnChildren : public platform::ProcessSystem {
public:
    std::unique_ptr<platform::ProcessHandle> open(int pid) override { return system().open(pid); }
    std::vector<int> findByExecutable(std::string_view name) override
    {
        auto pids = system().findByExecutable(name);
        std::erase_if(pids, [](int pid) { return parentOf(pid) != ::getpid(); });
        return pids;
    }
    std::string executableName(int pid) override { return system().executableName(pid); }

private:
    static platform::ProcessSystem& system() { return platform::systemProcesses(); }
    static int parentOf(int pid)
    {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');
        if (close == std::string::npos)
            return 0;
        std::istringstream rest(text.substr(close + 1));
        std::string state;
        int parent = 0;
        rest >> state >> parent;
        return parent;
    }
};

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

TEST(WindowMatch, PrefixRulesInEitherDirectionClassWithoutCaseTitleWithCase)
{
    const auto table = gameTable();
    struct Case {
        std::u16string cls, title;
        int row; // the first row that matches; -1: none
    } cases[] = {
        {u"FS98MAIN", u"Microsoft Flight Simulator X", 1}, // not row 0: the title differs after the prefix
        {u"FS98Main", u"Microsoft Flight Simulator X - Cessna 172SP", 1},
        {u"FS98Main", u"Microsoft Flight Simulator 2004 - Cessna", 0},
        {u"FS98Main", u"Microsoft Flight Simulator - Boeing", 0}, // the alternative pair
        {u"FS98Main", u"Microsoft ESP", 2},
        {u"FS98", u"", 0},                                     // shorter class, empty title
        {u"fs98main", u"microsoft Flight Simulator X", -1},    // the title's case counts
        {u"BF2 (v1.5.3153-802.0)", u"BF2 (v1.5.3153-802.0, pid: 1234)", 12},
        {u"bf2 (V1.41)", u"BF2 (v1.41)", 12},
        {u"BF2", u"BF2", 12},                                  // shorter than the row's prefix
        {u"BF2 (", u"bf2 (", -1},
        {u"CUBEApp", u"F1 Challenge '99-'02", 3},
        {u"CUBERealtime", u"F1 Challenge", 3},
        {u"CUBEApp", u"F2 Challenge", -1},
        {u"papywin", u"NR2003 ", 10},
        {u"", u"Microsoft Flight Simulator X", -1},            // no class: no match
    };
    for (const Case& c : cases) {
        int first = -1;
        for (std::size_t row = 0; row + 1 < table.size() && first < 0; ++row)
            if (MatchGameWindow({1, c.cls, c.title, 1}, table[row]) == 0)
                first = static_cast<int>(row);
        EXPECT_EQ(first, c.row) << std::string(c.cls.begin(), c.cls.end()) << " / "
                                << std::string(c.title.begin(), c.title.end());
    }
}

TEST(GameTable, AllThirteenRowsInOrderEndedByANullRow)
{
    const auto table = gameTable();
    ASSERT_EQ(table.size(), 14u);
    EXPECT_EQ(table.back().displayName, nullptr);
    const std::pair<std::u16string, std::uint32_t> rows[] = {
        {u"Flight Simulator 2004", 2303}, {u"Flight Simulator X", 2305},         {u"Microsoft ESP", 2306},
        {u"F1 Challenge 99-02", 4401},    {u"Gravelton Rally (patch v102)", 3401}, {u"Combat Flight Simulator 3", 2304},
        {u"ToCA Race Driver 2", 8102},    {u"DTM Race Driver 2", 8102},            {u"V8 Supercars 2", 8102},
        {u"Dustline Rally 04", 8103},     {u"NASCAR Racing Season 2003", 7804},    {u"Wings of War", 7807},
        {u"Battlefield 2", 9651},
    };
    for (std::size_t i = 0; i < 13; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i].displayName, rows[i].first);
        EXPECT_EQ(table[i].profileId, rows[i].second);
        EXPECT_NE(table[i].executable, nullptr);
        EXPECT_EQ(table[i].outText, nullptr);
        // Only the last row has a pre-check, and the helper does its work.
        EXPECT_EQ(table[i].preCheck != nullptr, i == 12);
        EXPECT_EQ(table[i].helperDoesIt, i == 12 ? 1 : 0);
        ASSERT_NE(table[i].factory, nullptr);
        EXPECT_NE(table[i].factory(), nullptr);
    }
    EXPECT_NE(dynamic_cast<CFSX*>(table[1].factory().get()), nullptr);
    EXPECT_NE(dynamic_cast<CFSX*>(table[2].factory().get()), nullptr);
    EXPECT_NE(dynamic_cast<CBF2*>(table[12].factory().get()), nullptr);
    const char* text = nullptr;
    EXPECT_TRUE(table[12].preCheck(nullptr, &text));
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

    ASSERT_TRUE(WaitUntil([&] { return game->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    // The worker registers its profile around the time it patches: wait for it.
    EXPECT_TRUE(WaitUntil([&] { return poses.profile() == 4401; }));
    poses.set(0, 4096);
    ASSERT_TRUE(WaitUntil([&] { return yawOffset(*game) < -0.3f; }));
    poses.set(0, -4096);
    ASSERT_TRUE(WaitUntil([&] { return yawOffset(*game) > 0.3f; }));

    windows.close(1);
    ASSERT_TRUE(WaitUntil([&] { return game->peek(0x4F0A2A, 26) == original; }));
    // The cave area is cleared after the patch site is restored: wait for both.
    EXPECT_TRUE(WaitUntil([&] { return game->peek(0x59D5F0, 75) == Bytes(75, 0); }));
    EXPECT_TRUE(WaitUntil([&] { return poses.disconnects() == 1; }));
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
    ASSERT_TRUE(WaitUntil([&] { return f1->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    // The worker registers its profile around the time it patches: wait for it.
    EXPECT_TRUE(WaitUntil([&] { return poses.profile() == 4401; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(f1->peek(0x4F0A2A, 26), original);
    EXPECT_EQ(rally->writeCount(), 0);
}

TEST_F(WorkerOnFakes, GameThatDiesMidSessionLeavesTheWorkerReadyForTheNext)
{
    auto first = f1Game(system, 10);
    windows.add(f1Window(1, 10), first);
    ASSERT_EQ(library.start(env()), 0);
    ASSERT_TRUE(WaitUntil([&] { return first->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    first->failWrites(1000);
    poses.set(100, 100);
    first->kill();
    // The next game started is found and patched.
    auto second = f1Game(system, 11);
    windows.add(f1Window(3, 11), second);
    ASSERT_TRUE(WaitUntil([&] { return second->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    EXPECT_GE(poses.connects(), 2);
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(second->peek(0x4F0A2A, 26), kF1Site);
}

// A matching window that does not name its process (no _NET_WM_PID) is
// passed over for one that does, and where none does, the row's game is
// looked for by its executable.
TEST_F(WorkerOnFakes, AWindowWithoutItsProcessGivesWayToOneWithIt)
{
    auto unowned = f1Game(system, 10);
    auto owned = f1Game(system, 11);
    windows.add(f1Window(1, 0), unowned);
    windows.add(f1Window(2, 11), owned);
    ASSERT_EQ(library.start(env()), 0);
    ASSERT_TRUE(WaitUntil([&] { return owned->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(unowned->writeCount(), 0);
}

TEST_F(WorkerOnFakes, AWindowWithoutItsProcessIsTakenByTheGamesExecutable)
{
    auto game = f1Game(system, 10);
    windows.add(f1Window(1, 0), game);
    ProcessWindowSource processes(system);
    GameWindowFinder finder(windows, processes);
    auto e = env();
    e.windows = &finder;
    ASSERT_EQ(library.start(e), 0);
    ASSERT_TRUE(WaitUntil([&] { return game->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    EXPECT_TRUE(WaitUntil([&] { return poses.profile() == 4401; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(game->peek(0x4F0A2A, 26), kF1Site);
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
    ASSERT_TRUE(WaitUntil([&] { return game->peek(0x4F0A2A, 1) == Bytes{0xE9}; }));
    EXPECT_EQ(library.stop(), 0);
}

// The whole road on a live stand-in process that shows no window: found by
// its executable name.
TEST(WorkerOnTarget, FindsAGameWithoutAWindowByItsExecutableAndRestoresOnStop)
{
    ORVANE_SKIP_WITHOUT_MEMORY_ACCESS();
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
        X11WindowSource noServer(":32767");
        OwnChildren children;
        ProcessWindowSource processes(children);
        GameWindowFinder windows(noServer, processes);
        WorkerEnvironment env;
        env.windows = &windows;
        env.poses = &poses;
        env.timing = fast();
        env.standInWindow = false;
        ViewLibrary library;
        ASSERT_EQ(library.start(env), 0);
        ASSERT_TRUE(WaitUntil([&] { return target.command("dump 0x4f0a2a 1") == "e9"; }));
        poses.set(0, 8192);
        ASSERT_TRUE(WaitUntil([&] { return target.command("dump 0x5e4704 4") != "00000000"; }));
        EXPECT_EQ(library.stop(), 0);
        EXPECT_EQ(target.command("dump 0x4f0a2a 26"), before);
        EXPECT_EQ(target.command("dump 0x59d5f0 4"), "00000000");

        // Once more, and this time the game dies under the writer.
        ASSERT_EQ(library.start(env), 0);
        ASSERT_TRUE(WaitUntil([&] { return target.command("dump 0x4f0a2a 1") == "e9"; }));
        target.kill();
        EXPECT_TRUE(WaitUntil([&] { return poses.disconnects() >= 2; }));
        EXPECT_EQ(library.stop(), 0);
    }
    std::filesystem::remove_all(dir);
}

// Games on a desktop ----------------------------------------------------------

// The desktop's windows, counting each time the worker is handed a window.
class CountingWindows : public WindowSource {
public:
    explicit CountingWindows(WindowSource& inner) : inner_(inner) {}
    std::optional<GameWindow> findGameWindow(const SupportedGame& row) override
    {
        auto found = inner_.findGameWindow(row);
        if (found) {
            std::lock_guard lock(mutex_);
            ++handed_[found->pid];
        }
        return found;
    }
    bool exists(std::uint64_t id) override { return inner_.exists(id); }
    void forget(std::uint64_t id) override
    {
        inner_.forget(id);
        std::lock_guard lock(mutex_);
        ++sessionsEnded_;
    }
    int handed(int pid)
    {
        std::lock_guard lock(mutex_);
        return handed_[static_cast<std::uint32_t>(pid)];
    }
    int sessionsEnded()
    {
        std::lock_guard lock(mutex_);
        return sessionsEnded_;
    }

private:
    WindowSource& inner_;
    std::mutex mutex_;
    std::map<std::uint32_t, int> handed_;
    int sessionsEnded_ = 0;
};

class WorkerOnDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!xvfb.ready())
            GTEST_SKIP() << "Xvfb is not available";
        // Every writer reads and writes its game's memory.
        ORVANE_SKIP_WITHOUT_MEMORY_ACCESS();
    }
    std::string window(const std::string& cls, const std::string& title) const
    {
        return "--window=" + xvfb.name() + "|game|" + cls + "|" + title;
    }
    WorkerEnvironment env()
    {
        WorkerEnvironment e;
        e.windows = &counting;
        e.poses = &poses;
        e.timing = fast();
        e.timing.rowPauseMs = 2;
        e.standInWindow = false;
        return e;
    }
    // A copy of the stand-in game under another file name.
    std::filesystem::path programNamed(const std::string& name) const
    {
        auto path = programs.file(name);
        std::filesystem::copy_file(PROCESS_TARGET, path, std::filesystem::copy_options::overwrite_existing);
        return path;
    }

    testing_support::TempSession session;
    testing_support::TempDir programs{"orvane-games"};
    testing_support::XvfbServer xvfb;
    X11WindowSource desktop{xvfb.name()};
    OwnChildren children;
    ProcessWindowSource processes{children};
    GameWindowFinder finder{desktop, processes};
    CountingWindows counting{finder};
    FakePoses poses;
    ViewLibrary library; // stopped before the sources above go
};

std::vector<std::string> f1Arguments()
{
    return {"0x4f0000:4096:rx", "0x59d000:4096:rw", "0x5e4000:4096:rw", "0x4f0a2a=" + hex(kF1Site),
            "0x59d000=5a5a", "0x5e4700=0102030405060708090a0b0c"};
}

std::string f1Memory(TargetProcess& game)
{
    return game.command("dump 0x4f0000 4096") + game.command("dump 0x59d000 4096") + game.command("dump 0x5e4000 4096");
}

// A game found by its window (its program has no name the table knows),
// followed, and left exactly as it was when its window closes.
TEST_F(WorkerOnDesktop, FindsTheGameByItsWindowAndPutsEveryByteBackWhenTheWindowCloses)
{
    auto args = f1Arguments();
    args.push_back(window("CUBEApp", "F1 Challenge '99-'02"));
    TargetProcess game(PROCESS_TARGET, args);
    ASSERT_TRUE(game.ready());
    const std::string before = f1Memory(game);
    ASSERT_EQ(library.start(env()), 0);

    ASSERT_TRUE(WaitUntil([&] { return game.command("dump 0x4f0a2a 1") == "e9"; }));
    EXPECT_TRUE(WaitUntil([&] { return poses.profile() == 4401; }));
    poses.set(0, 4096);
    EXPECT_TRUE(WaitUntil([&] { return game.command("dump 0x5e4707 1") == "be"; })); // a negative yaw offset

    EXPECT_EQ(game.command("close"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return poses.disconnects() == 1; }));
    // Put back when the session's poker goes, after the wait that ends it.
    EXPECT_TRUE(WaitUntil([&] { return f1Memory(game) == before; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(f1Memory(game), before);
}

// A game whose window does not say which process it belongs to (no
// _NET_WM_PID) is found through its executable, the window's row telling
// which one to look for.
TEST_F(WorkerOnDesktop, AWindowWithoutItsProcessIdIsTakenThroughTheExecutable)
{
    auto args = f1Arguments();
    args.push_back("--nopid");
    args.push_back(window("CUBEApp", "F1 Challenge '99-'02"));
    TargetProcess game(programNamed("F1C.exe"), args);
    ASSERT_TRUE(game.ready());
    const std::string before = f1Memory(game);
    ASSERT_EQ(library.start(env()), 0);
    ASSERT_TRUE(WaitUntil([&] { return game.command("dump 0x4f0a2a 1") == "e9"; }));
    EXPECT_TRUE(WaitUntil([&] { return poses.profile() == 4401; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(f1Memory(game), before);
}

// A program that looks like a game (its window, or its file name) but holds
// other code is never written to, however often the worker looks at it.
TEST_F(WorkerOnDesktop, ADecoyNamedLikeAGameStaysUntouched)
{
    const std::vector<std::string> decoyMemory{"0x400000:4096:rx", "0x4b7000:4096:rx", "0xa4f000:4096:rw",
                                               "0x900000:4096:rw", "0x4b784f=9090909090", "0xa4fa60=00049000",
                                               "0x900060=03000000", "0x400370=5a5a5a5a"};
    auto dump = [](TargetProcess& p) { return p.command("dump 0x400000 4096") + p.command("dump 0x4b7000 4096"); };
    auto args = decoyMemory;
    args.push_back(window("ToCA Race Driver 2", "ToCA Race Driver 2"));
    TargetProcess shown(PROCESS_TARGET, args);
    TargetProcess named(programNamed("RD2.exe"), decoyMemory);
    ASSERT_TRUE(shown.ready());
    ASSERT_TRUE(named.ready());
    const std::string before = dump(shown);
    ASSERT_EQ(library.start(env()), 0);

    // The window is found first; with it gone, the program named like the game.
    EXPECT_TRUE(WaitUntil([&] { return counting.handed(shown.pid()) >= 2; }));
    EXPECT_EQ(shown.command("close"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return counting.handed(named.pid()) >= 2; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(dump(shown), before);
    EXPECT_EQ(dump(named), before);
    EXPECT_EQ(poses.connects(), 0);
}

TEST_F(WorkerOnDesktop, AnotherUsersGameIsNeverOpened)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a game under another uid";
    ::chmod(programs.path().c_str(), 0755);
    const auto program = programNamed("game");
    ::chmod(program.c_str(), 0755);
    auto args = f1Arguments();
    args.push_back(window("CUBEApp", "F1 Challenge"));
    TargetProcess stranger(program, args, 65534);
    ASSERT_TRUE(stranger.ready());
    const std::string before = f1Memory(stranger);
    ASSERT_EQ(library.start(env()), 0);
    EXPECT_TRUE(WaitUntil([&] { return counting.handed(stranger.pid()) >= 2; }));
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(f1Memory(stranger), before);
    EXPECT_EQ(poses.connects(), 0);
}

// Flight Simulator X and ESP through the stand-in of their client library,
// which lies in the program's folder.
TEST_F(WorkerOnDesktop, TheSimulatorsMoveTheirCameraThroughTheirLibrary)
{
    StandInSimulator simulator;
    ASSERT_TRUE(simulator.ready());
    TargetProcess fsx(PROCESS_TARGET, {window("FS98MAIN", "Microsoft Flight Simulator X")});
    ASSERT_TRUE(fsx.ready());
    ASSERT_EQ(library.start(env()), 0);
    ASSERT_TRUE(WaitUntil([&] { return poses.profile() == 2305; }));
    EXPECT_EQ(simulator.names(), "Open");
    poses.set(8191.5f, 0);
    ASSERT_TRUE(WaitUntil([&] { return simulator.calls().size() >= 2; }));
    EXPECT_FLOAT_EQ(simulator.calls()[1].values[3], 45.0f); // pitch, in degrees

    EXPECT_EQ(fsx.command("close"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return simulator.calls().back().name == std::string("Close"); }));
    TargetProcess esp(PROCESS_TARGET, {window("FS98Main", "Microsoft ESP")});
    ASSERT_TRUE(esp.ready());
    EXPECT_TRUE(WaitUntil([&] { return poses.profile() == 2306; }));
    EXPECT_EQ(library.stop(), 0);
}

// Battlefield 2: the stand-in helper is loaded into the game; the worker then
// only watches the window and reads no pose.
TEST_F(WorkerOnDesktop, Battlefield2sHelperIsLoadedAndTheWindowWatched)
{
    ORVANE_SKIP_WITHOUT_TRACING();
    const auto record = programs.file("helper.txt");
    ::setenv("VSLVIEWSI_RECORD", record.c_str(), 1);
    TargetProcess bf2(PROCESS_TARGET, {"0x10410000:4096:rw", window("BF2 (v1.50)", "BF2 (v1.50, pid: 1)")});
    ::unsetenv("VSLVIEWSI_RECORD");
    ASSERT_TRUE(bf2.ready());
    ASSERT_EQ(library.start(env()), 0);
    ASSERT_TRUE(WaitUntil([&] { return readAll(record) == "loaded 9651 held\n"; })) << readAll(record);
    EXPECT_EQ(bf2.command("dump 0x10410000 4"), "00000000"); // the game's thread goes on
    EXPECT_EQ(bf2.command("close"), "ok");
    // The session ends with the window; the helper is not loaded twice.
    EXPECT_TRUE(WaitUntil([&] { return counting.sessionsEnded() == 1; }));
    EXPECT_EQ(counting.handed(bf2.pid()), 1);
    EXPECT_EQ(library.stop(), 0);
    EXPECT_EQ(poses.connects(), 0);
    EXPECT_EQ(readAll(record), "loaded 9651 held\n");
}

} // namespace
