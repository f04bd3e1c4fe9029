#include "platform/x11_windows.h"

#include <gtest/gtest.h>

#include "target_runner.h"
#include "testing/vistrel_process.h"
#include "testing/xvfb_server.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

using testing_support::TargetProcess;
using testing_support::WaitUntil;

namespace {

std::optional<platform::TopLevelWindow> byClass(platform::X11Windows& windows, const std::string& cls)
{
    for (auto& w : windows.list())
        if (w.className == cls)
            return w;
    return std::nullopt;
}

class X11WindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!xvfb.ready())
            GTEST_SKIP() << "Xvfb is not available";
    }
    std::string window(const std::string& instance, const std::string& cls, const std::string& title)
    {
        return "--window=" + xvfb.name() + "|" + instance + "|" + cls + "|" + title;
    }
    testing_support::XvfbServer xvfb;
};

TEST_F(X11WindowsTest, ListsClassTitleAndOwner)
{
    TargetProcess game(PROCESS_TARGET, {window("fsx", "FS98Main", "Microsoft Flight Simulator X \xE2\x80\x94 Cessna")});
    TargetProcess anonymous(PROCESS_TARGET, {"--nopid", window("bf2", "BF2 (v1.5)", "BF2 (v1.5, pid: 7)")});
    ASSERT_TRUE(game.ready());
    ASSERT_TRUE(anonymous.ready());
    platform::X11Windows windows(xvfb.name());

    auto fsx = byClass(windows, "FS98Main");
    ASSERT_TRUE(fsx);
    EXPECT_EQ(fsx->instanceName, "fsx");
    EXPECT_EQ(fsx->title, u"Microsoft Flight Simulator X \u2014 Cessna");
    EXPECT_EQ(fsx->pid, static_cast<std::uint32_t>(game.pid()));
    auto bf2 = byClass(windows, "BF2 (v1.5)");
    ASSERT_TRUE(bf2);
    EXPECT_EQ(bf2->pid, 0u); // the window does not say whose it is
    // The window started last is on top.
    auto all = windows.list();
    EXPECT_LT(std::find_if(all.begin(), all.end(), [&](auto& w) { return w.id == bf2->id; }) - all.begin(),
              std::find_if(all.begin(), all.end(), [&](auto& w) { return w.id == fsx->id; }) - all.begin());
}

TEST_F(X11WindowsTest, SeesAWindowGoWhenClosedOrWhenItsProgramEnds)
{
    TargetProcess first(PROCESS_TARGET, {window("a", "First", "one")});
    TargetProcess second(PROCESS_TARGET, {window("b", "Second", "two")});
    ASSERT_TRUE(first.ready());
    ASSERT_TRUE(second.ready());
    platform::X11Windows windows(xvfb.name());
    const auto one = byClass(windows, "First");
    const auto two = byClass(windows, "Second");
    ASSERT_TRUE(one && two);
    EXPECT_TRUE(windows.exists(one->id));
    EXPECT_TRUE(windows.exists(two->id));

    EXPECT_EQ(first.command("close"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return !windows.exists(one->id); }));
    EXPECT_FALSE(byClass(windows, "First"));
    second.kill();
    EXPECT_TRUE(WaitUntil([&] { return !windows.exists(two->id); }));
    EXPECT_FALSE(windows.exists(0x7FFFFFF)); // never was
}

TEST(X11Windows, WithoutAServerThereAreNoWindows)
{
    platform::X11Windows windows(":32767");
    EXPECT_TRUE(windows.list().empty());
    EXPECT_FALSE(windows.exists(1));
}

} // namespace
