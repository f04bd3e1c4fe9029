#include "platform/process.h"

#include "target_runner.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>

using platform::systemProcesses;
using testing_support::TargetProcess;

namespace {

constexpr std::uint64_t kCode = 0x10400000;
constexpr std::uint64_t kData = 0x10410000;

TEST(Process, ReadsAndWritesCodeAndDataOfAnotherProcess)
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

TEST(Process, UnmappedMemoryFailsWhole)
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

TEST(Process, ExitIsSeenAndAccessFails)
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

TEST(Process, FindsByExecutableNameIgnoringCase)
{
    auto dir = std::filesystem::temp_directory_path() / ("h13proc-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto copy = dir / "Sample Game.exe";
    std::filesystem::copy_file(PROCESS_TARGET, copy, std::filesystem::copy_options::overwrite_existing);
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

TEST(Process, RegionsNameTheMappedFiles)
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
