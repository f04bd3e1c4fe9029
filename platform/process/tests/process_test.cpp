#include "platform/process.h"

#include "target_runner.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::systemProcesses;
using testing_support::TargetProcess;

namespace {

constexpr std::uint64_t kCode = 0x10400000;
constexpr std::uint64_t kData = 0x10410000;

// Tests on live stand-in processes: skipped where the system does not let
// this program read and write its children's memory (Yama's ptrace_scope 2
// without privilege, or 3).
class Process : public ::testing::Test {
protected:
    void SetUp() override { ORVANE_SKIP_WITHOUT_MEMORY_ACCESS(); }
};

TEST_F(Process, ReadsAndWritesCodeAndDataOfAnotherProcess)
{
    TargetProcess target(PROCESS_TARGET, {"0x10400000:4096:rx", "0x10410000:4096:rw",
                                          "0x10400010=e88c05f6ff"});
    ASSERT_TRUE(target.ready());
    auto process = systemProcesses().open(target.pid());
    ASSERT_TRUE(process);
    EXPECT_TRUE(process->alive());

    std::array<std::uint8_t, 5> code{};
    ASSERT_TRUE(process->read(kCode + 0x10, code));
    EXPECT_EQ(code, (std::array<std::uint8_t, 5>{0xE8, 0x8C, 0x05, 0xF6, 0xFF}));

    // Code pages are read-only to the process itself; the write still lands.
    const std::array<std::uint8_t, 5> jump{0xE9, 0xBF, 0x8E, 0xF4, 0xFF};
    ASSERT_TRUE(process->write(kCode + 0x10, jump));
    EXPECT_EQ(target.command("dump 0x10400010 5"), "e9bf8ef4ff");
    const std::array<std::uint8_t, 4> data{1, 2, 3, 4};
    ASSERT_TRUE(process->write(kData + 4, data));
    EXPECT_EQ(target.command("dump 0x10410004 4"), "01020304");

    bool found = false;
    for (const auto& region : process->regions())
        if (region.start == kCode) {
            found = true;
            EXPECT_TRUE(region.executable);
            EXPECT_FALSE(region.writable);
        }
    EXPECT_TRUE(found);
}

TEST_F(Process, UnmappedMemoryFailsWhole)
{
    TargetProcess target(PROCESS_TARGET, {"0x10400000:4096:rw"});
    ASSERT_TRUE(target.ready());
    auto process = systemProcesses().open(target.pid());
    ASSERT_TRUE(process);
    std::array<std::uint8_t, 8> bytes{};
    // Straddles the end of the mapping.
    EXPECT_FALSE(process->read(kCode + 4092, bytes));
    EXPECT_FALSE(process->read(0x20000000, bytes));
    EXPECT_FALSE(process->write(0x20000000, bytes));
}

TEST_F(Process, ExitIsSeenAndAccessFails)
{
    TargetProcess target(PROCESS_TARGET, {"0x10400000:4096:rw"});
    ASSERT_TRUE(target.ready());
    int pid = target.pid();
    auto process = systemProcesses().open(pid);
    ASSERT_TRUE(process);
    target.kill();
    EXPECT_FALSE(process->alive());
    std::array<std::uint8_t, 4> bytes{};
    EXPECT_FALSE(process->read(kCode, bytes));
    EXPECT_FALSE(process->write(kCode, bytes));
    EXPECT_FALSE(systemProcesses().open(pid));
}

TEST_F(Process, FindsByExecutableNameIgnoringCase)
{
    auto dir = std::filesystem::temp_directory_path() / ("h13proc-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto copy = dir / "Sample Game.exe";
    std::filesystem::copy_file(PROCESS_TARGET, copy, std::filesystem::copy_options::overwrite_existing);
    // Names are kept from one scan to the next: one made before the game
    // started must not hide it.
    EXPECT_TRUE(systemProcesses().findByExecutable("Sample Game.exe").empty());
    {
        TargetProcess target(copy, {"0x10400000:4096:rw"});
        ASSERT_TRUE(target.ready());
        EXPECT_EQ(systemProcesses().executableName(target.pid()), "Sample Game.exe");
        auto pids = systemProcesses().findByExecutable("SAMPLE GAME.EXE");
        ASSERT_EQ(pids.size(), 1u);
        EXPECT_EQ(pids[0], target.pid());
        auto process = systemProcesses().openByExecutable("sample game.exe");
        ASSERT_TRUE(process);
        EXPECT_EQ(process->pid(), target.pid());
    }
    EXPECT_TRUE(systemProcesses().findByExecutable("Sample Game.exe").empty());
    std::filesystem::remove_all(dir);
}

TEST_F(Process, RegionsNameTheMappedFiles)
{
    auto dir = std::filesystem::temp_directory_path() / ("h13mod-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "Modules dir");
    auto module = dir / "Modules dir" / "WINDOW.DLL";
    {
        std::FILE* f = std::fopen(module.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::vector<std::uint8_t> image(0x3000, 0xAB);
        std::fwrite(image.data(), 1, image.size(), f);
        std::fclose(f);
    }
    {
        TargetProcess target(PROCESS_TARGET, {"0x21000000@" + module.string()});
        ASSERT_TRUE(target.ready());
        auto process = systemProcesses().open(target.pid());
        ASSERT_TRUE(process);
        std::uint64_t low = 0, high = 0;
        for (const auto& r : process->regions())
            if (r.path == module.string()) {
                low = low == 0 ? r.start : std::min(low, r.start);
                high = std::max(high, r.end);
            }
        EXPECT_EQ(low, 0x21000000u);
        EXPECT_EQ(high, 0x21003000u);
        std::array<std::uint8_t, 2> bytes{};
        ASSERT_TRUE(process->read(0x21002FFE, bytes));
        EXPECT_EQ(bytes[1], 0xAB);
    }
    std::filesystem::remove_all(dir);
}

// Another user's process --------------------------------------------------

constexpr uid_t kStranger = 65534;

// A copy of the stand-in program that any user may run.
class StrangerProgram {
public:
    StrangerProgram()
    {
        char pattern[] = "/tmp/orvane-stranger-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            return;
        dir_ = pattern;
        ::chmod(dir_.c_str(), 0755);
        std::filesystem::copy_file(PROCESS_TARGET, dir_ / "game");
        ::chmod((dir_ / "game").c_str(), 0755);
    }
    ~StrangerProgram() { std::filesystem::remove_all(dir_); }
    std::filesystem::path path() const { return dir_ / "game"; }

private:
    std::filesystem::path dir_;
};

TEST_F(Process, AnotherUsersProcessIsNeitherOpenedNorWritten)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a process under another uid";
    StrangerProgram program;
    {
        TargetProcess stranger(program.path(), {"0x10410000:4096:rw"}, kStranger);
        ASSERT_TRUE(stranger.ready());
        EXPECT_FALSE(systemProcesses().open(stranger.pid()));
        EXPECT_EQ(stranger.command("dump 0x10410000 4"), "00000000");
    }
    // A process that was ours when opened and changes user afterwards.
    TargetProcess target(program.path(), {"0x10410000:4096:rw"});
    ASSERT_TRUE(target.ready());
    auto process = systemProcesses().open(target.pid());
    ASSERT_TRUE(process);
    const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
    ASSERT_TRUE(process->write(kData, bytes));
    ASSERT_EQ(target.command("become 65534"), "ok");
    EXPECT_FALSE(process->write(kData + 4, bytes));
    EXPECT_EQ(target.command("dump 0x10410000 8"), "0102030400000000");
    const auto call = process->loadModule(TEST_MODULE, std::chrono::seconds(10));
    EXPECT_FALSE(call.done);
    EXPECT_NE(call.error.find("another user"), std::string::npos) << call.error;
}

// A module loaded inside the process ----------------------------------------

bool mapsFile(platform::ProcessHandle& process, const std::string& path)
{
    for (const auto& r : process.regions())
        if (r.path == path)
            return true;
    return false;
}

TEST_F(Process, LoadsAModuleInsideAndTheGameGoesOn)
{
    ORVANE_SKIP_WITHOUT_TRACING();
    TargetProcess target(PROCESS_TARGET, {"0x10410000:4096:rw", "0x10410000=0011223344"});
    ASSERT_TRUE(target.ready());
    auto process = systemProcesses().open(target.pid());
    ASSERT_TRUE(process);
    const auto module = std::filesystem::canonical(TEST_MODULE).string();

    const auto call = process->loadModule(module, std::chrono::seconds(10));
    ASSERT_TRUE(call.done) << call.error;
    EXPECT_NE(call.result, 0u);
    EXPECT_TRUE(mapsFile(*process, module));
    // The constructor ran inside, and the game's own thread answers as before.
    EXPECT_EQ(target.command("dump 0x10410ff0 4"), "0d600000");
    EXPECT_EQ(target.command("dump 0x10410000 5"), "0011223344");
    EXPECT_EQ(target.command("poke 0x10410000 ff"), "ok");

    // The same call once more gives the same module; a missing file gives 0.
    EXPECT_EQ(process->loadModule(module, std::chrono::seconds(10)).result, call.result);
    const auto missing = process->loadModule("/nonexistent/VSLViewsi.so", std::chrono::seconds(10));
    EXPECT_TRUE(missing.done) << missing.error;
    EXPECT_EQ(missing.result, 0u);
    EXPECT_EQ(target.command("dump 0x10410000 1"), "ff");
}

// A load whose module takes longer than the limit: reported as not done,
// and not cut short. The thread finishes the load in the game's own time and
// then goes back by itself to where it was stopped: the loader's lock is
// free again, the module set up whole, and the registers any call may change
// as they were.
class UnfinishedLoad : public Process {
protected:
    void SetUp() override
    {
        ORVANE_SKIP_WITHOUT_TRACING();
        ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
        // Held open both ways, so that neither end waits for the other.
        gateFd = ::open(gate.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(gateFd, 0);
        ::setenv("PROCESS_TEST_MODULE_GATE", gate.c_str(), 1);
        target = std::make_unique<TargetProcess>(PROCESS_TARGET, std::vector<std::string>{"0x10410000:4096:rw"});
        ::unsetenv("PROCESS_TEST_MODULE_GATE");
        ASSERT_TRUE(target->ready());
        process = systemProcesses().open(target->pid());
        ASSERT_TRUE(process);
    }
    void TearDown() override
    {
        target.reset();
        if (gateFd >= 0)
            ::close(gateFd);
        std::filesystem::remove(gate);
    }
    // Lets the module's constructor return.
    void openGate() { ASSERT_EQ(::write(gateFd, "x", 1), 1); }
    std::string tracer() const
    {
        std::ifstream status("/proc/" + std::to_string(target->pid()) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("TracerPid:", 0) == 0)
                return line.substr(line.find_first_not_of(" \t", 10));
        return {};
    }

    const std::filesystem::path gate =
        std::filesystem::temp_directory_path() / ("orvane-gate-" + std::to_string(::getpid()));
    int gateFd = -1;
    std::unique_ptr<TargetProcess> target;
    std::unique_ptr<platform::ProcessHandle> process;
};

TEST_F(UnfinishedLoad, TheLoadFinishesInTheGameWhichThenGoesOnWhereItWas)
{
    const auto call = process->loadModule(SLOW_MODULE, std::chrono::milliseconds(200));
    EXPECT_FALSE(call.done);
    EXPECT_NE(call.error.find("did not return within 200 ms"), std::string::npos) << call.error;
    // Let go while the module's constructor still waits.
    EXPECT_EQ(tracer(), "0");
    EXPECT_TRUE(mapsFile(*process, std::filesystem::canonical(SLOW_MODULE).string()));
    std::array<std::uint8_t, 4> mark{};
    ASSERT_TRUE(process->read(kData + 0xFF0, mark));
    EXPECT_EQ(mark, (std::array<std::uint8_t, 4>{}));
    openGate();
    // Its thread was waiting for a command when stopped, and goes on waiting
    // for one.
    EXPECT_EQ(target->command("dump 0x10410ff0 4"), "0d600000");
    // The loader's lock is free: another thread of the game loads a module.
    EXPECT_EQ(target->command("threadload " + std::string(TEST_MODULE)), "loaded");
    const auto again = process->loadModule(TEST_MODULE, std::chrono::seconds(10));
    EXPECT_TRUE(again.done) << again.error;
    EXPECT_EQ(target->exit(), 0);
}

TEST_F(UnfinishedLoad, AThreadStoppedInItsOwnWorkGetsEveryRegisterBack)
{
    EXPECT_EQ(target->command("spin 0x10410f00"), "spinning");
    const auto call = process->loadModule(SLOW_MODULE, std::chrono::milliseconds(200));
    EXPECT_FALSE(call.done);
    openGate();
    const std::array<std::uint8_t, 4> go{1, 0, 0, 0};
    ASSERT_TRUE(process->write(kData + 0xF00, go));
    EXPECT_EQ(target->nextLine(), "intact");
    EXPECT_EQ(target->command("dump 0x10410ff0 4"), "0d600000");
    EXPECT_EQ(target->exit(), 0);
}

TEST_F(Process, ACallThatReturnsGivesTheThreadEveryRegisterBack)
{
    ORVANE_SKIP_WITHOUT_TRACING();
    TargetProcess target(PROCESS_TARGET, {"0x10410000:4096:rw"});
    ASSERT_TRUE(target.ready());
    auto process = systemProcesses().open(target.pid());
    ASSERT_TRUE(process);
    EXPECT_EQ(target.command("spin 0x10410f00"), "spinning");
    const auto call = process->loadModule(TEST_MODULE, std::chrono::seconds(10));
    EXPECT_TRUE(call.done) << call.error;
    const std::array<std::uint8_t, 4> go{1, 0, 0, 0};
    ASSERT_TRUE(process->write(kData + 0xF00, go));
    EXPECT_EQ(target.nextLine(), "intact");
}

// Another tracer (a debugger) holds the game: the seize is refused, the call
// never made, and the game goes on as it was, still its tracer's.
class OtherTracer {
public:
    explicit OtherTracer(int pid)
    {
        int ready[2];
        if (::pipe(hold_) != 0 || ::pipe(ready) != 0)
            return;
        child_ = ::fork();
        if (child_ == 0) {
            ::close(hold_[1]);
            ::close(ready[0]);
            char byte = ::ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) == 0 ? 'y' : 'n';
            (void)!::write(ready[1], &byte, 1);
            while (::read(hold_[0], &byte, 1) < 0) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold_[0]);
        hold_[0] = -1;
        char byte = 0;
        seized_ = child_ > 0 && ::read(ready[0], &byte, 1) == 1 && byte == 'y';
        ::close(ready[0]);
    }
    ~OtherTracer()
    {
        ::close(hold_[1]);
        if (child_ > 0)
            ::waitpid(child_, nullptr, 0);
    }
    OtherTracer(const OtherTracer&) = delete;
    OtherTracer& operator=(const OtherTracer&) = delete;
    bool seized() const { return seized_; }
    pid_t pid() const { return child_; }

private:
    int hold_[2] = {-1, -1};
    pid_t child_ = -1;
    bool seized_ = false;
};

TEST_F(Process, AGameTracedByAnotherIsLeftAloneWithTheReason)
{
    ORVANE_SKIP_WITHOUT_TRACING();
    TargetProcess target(PROCESS_TARGET, {"0x10410000:4096:rw", "0x10410000=0011223344"});
    ASSERT_TRUE(target.ready());
    auto process = systemProcesses().open(target.pid());
    ASSERT_TRUE(process);
    const auto regionsBefore = process->regions().size();
    {
        OtherTracer debugger(target.pid());
        ASSERT_TRUE(debugger.seized());
        const auto module = std::filesystem::canonical(TEST_MODULE).string();
        const auto call = process->loadModule(module, std::chrono::seconds(10));
        EXPECT_FALSE(call.done);
        EXPECT_NE(call.error.find("may not trace process " + std::to_string(target.pid())), std::string::npos)
            << call.error;
        EXPECT_NE(call.error.find("already traced by process " + std::to_string(debugger.pid())), std::string::npos)
            << call.error;
        // Nothing ran inside; the game answers as before and is still the debugger's.
        EXPECT_FALSE(mapsFile(*process, module));
        EXPECT_EQ(process->regions().size(), regionsBefore);
        EXPECT_EQ(target.command("dump 0x10410ff0 4"), "00000000");
        EXPECT_EQ(target.command("dump 0x10410000 5"), "0011223344");
        std::ifstream status("/proc/" + std::to_string(target.pid()) + "/status");
        const std::string text((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("TracerPid:\t" + std::to_string(debugger.pid()) + "\n"), std::string::npos);
    }
    EXPECT_EQ(target.command("poke 0x10410000 ff"), "ok");
    EXPECT_EQ(target.exit(), 0);
}

TEST(FakeProcess, LoadsModulesAsTheTestSays)
{
    platform::FakeProcessSystem system;
    auto fake = system.add(42, "Game.exe");
    fake->map(0x1000, 16);
    auto handle = system.open(42);
    auto call = handle->loadModule("/game/helper.so", std::chrono::seconds(1));
    ASSERT_TRUE(call.done);
    EXPECT_TRUE(mapsFile(*handle, "/game/helper.so"));
    fake->answerLoads([](const std::string&) { return platform::RemoteCall{false, 0, "refused"}; });
    EXPECT_EQ(handle->loadModule("/game/other.so", std::chrono::seconds(1)).error, "refused");
    EXPECT_EQ(fake->loadRequests(), (std::vector<std::string>{"/game/helper.so", "/game/other.so"}));
}

TEST(FakeProcess, BlocksProtectionAndDeath)
{
    platform::FakeProcessSystem system;
    auto fake = system.add(42, "Game.exe");
    fake->map(0x1000, 16);
    std::array<std::uint8_t, 4> bytes{9, 8, 7, 6};
    auto handle = system.open(42);
    ASSERT_TRUE(handle);
    EXPECT_TRUE(handle->write(0x100C, bytes));
    EXPECT_FALSE(handle->write(0x100E, bytes)); // past the block
    EXPECT_EQ(fake->peek(0x100C, 4), (std::vector<std::uint8_t>{9, 8, 7, 6}));
    fake->failWrites(1);
    EXPECT_FALSE(handle->write(0x1000, bytes));
    EXPECT_TRUE(handle->write(0x1000, bytes));
    EXPECT_EQ(system.findByExecutable("game.EXE"), std::vector<int>{42});
    fake->kill();
    EXPECT_FALSE(handle->alive());
    EXPECT_FALSE(handle->read(0x1000, bytes));
    EXPECT_FALSE(system.open(42));
}

} // namespace
