// The frame's monitor slots over a fake window factory: opening, raising,
// toggling, the re-open marks and their rules, the user's close notice,
// and what is kept across runs.
#include "app/shell/monitor_slots.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "testing/temp_registry.h"

namespace {

struct Log {
    std::vector<std::string> events;
    std::uintptr_t nextId = 100;
};

class FakeWindow final : public app::IMonitorWindow {
public:
    FakeWindow(Log& log, int slot) : log_(log), slot_(slot), id_(log.nextId++) {}
    std::uintptr_t Id() const override { return id_; }
    void Raise() override { log_.events.push_back("raise " + std::to_string(slot_)); }
    void Stop() override { log_.events.push_back("stop " + std::to_string(slot_)); }
    bool Message(platform::UINT message, platform::WPARAM wParam) override
    {
        log_.events.push_back("msg " + std::to_string(slot_) + " " + std::to_string(message) + " " +
                              std::to_string(wParam));
        return true;
    }

private:
    Log& log_;
    int slot_;
    std::uintptr_t id_;
};

class FakeFactory final : public app::IMonitorFactory {
public:
    explicit FakeFactory(Log& log) : log_(log) {}
    std::unique_ptr<app::IMonitorWindow> Open(int slot) override
    {
        log_.events.push_back("open " + std::to_string(slot));
        if (failing)
            return nullptr;
        return std::make_unique<FakeWindow>(log_, slot);
    }
    bool failing = false;

private:
    Log& log_;
};

class MonitorSlotsTest : public ::testing::Test {
protected:
    std::vector<std::string> Take()
    {
        auto e = std::move(log.events);
        log.events.clear();
        return e;
    }

    testing_support::TempRegistry registry;
    app::CAppProfile profile{registry.store()};
    Log log;
    FakeFactory factory{log};
    bool shown = true;
    app::CMonitorSlots slots{factory, profile, [this] { return shown; }};
};

using Events = std::vector<std::string>;

TEST_F(MonitorSlotsTest, OpensRaisesTogglesAndIgnoresTheFourthSlot)
{
    slots.CreateChildWindow(app::kSlotGauges);
    slots.CreateChildWindow(app::kSlotGauges);
    slots.CreateChildWindow(3);
    slots.CreateChildWindow(7);
    EXPECT_EQ(Take(), (Events{"open 0", "raise 0"}));
    EXPECT_TRUE(slots.IsOpen(0));
    EXPECT_FALSE(slots.IsOpen(3));

    // The View menu: a second click closes.
    slots.Toggle(app::kSlotHeads);
    slots.Toggle(app::kSlotHeads);
    EXPECT_EQ(Take(), (Events{"open 2", "stop 2"}));
    EXPECT_FALSE(slots.IsOpen(2));

    // A window that cannot be made leaves its slot empty.
    factory.failing = true;
    slots.CreateChildWindow(app::kSlotTracking);
    EXPECT_FALSE(slots.IsOpen(1));
    EXPECT_FALSE(slots.Message(1, 5001, 0));
    factory.failing = false;
    slots.CreateChildWindow(app::kSlotTracking);
    EXPECT_TRUE(slots.Message(1, 5001, 0));
}

TEST_F(MonitorSlotsTest, UserCloseEmptiesOnlyTheSlotOfThatWindow)
{
    slots.CreateChildWindow(0);
    slots.CreateChildWindow(1);
    Take();
    slots.OnModelessDestroyed(999); // a window no slot holds
    EXPECT_TRUE(slots.IsOpen(0));
    EXPECT_TRUE(slots.IsOpen(1));
    slots.OnModelessDestroyed(101); // the second window made
    EXPECT_EQ(Take(), (Events{"stop 1"}));
    EXPECT_TRUE(slots.IsOpen(0));
    EXPECT_FALSE(slots.IsOpen(1));
    // A late second notice for it does nothing.
    slots.OnModelessDestroyed(101);
    EXPECT_TRUE(Take().empty());
}

TEST_F(MonitorSlotsTest, ClosedWindowsComeBackOnlyWhenRememberedAndTheFrameIsShown)
{
    slots.CreateChildWindow(0);
    slots.CreateChildWindow(2);
    slots.CloseChildWindows(true);
    EXPECT_TRUE(slots.ReopenFlag(0));
    EXPECT_FALSE(slots.ReopenFlag(1));
    EXPECT_TRUE(slots.ReopenFlag(2));
    Take();

    // Hidden or minimised frame: nothing opens unless forced, marks stay.
    shown = false;
    slots.ShowChildWindows(false);
    EXPECT_TRUE(Take().empty());
    EXPECT_TRUE(slots.ReopenFlag(0));
    shown = true;
    slots.ShowChildWindows(false);
    EXPECT_EQ(Take(), (Events{"open 0", "open 2"}));
    EXPECT_FALSE(slots.ReopenFlag(0));
    EXPECT_FALSE(slots.ReopenFlag(2));

    // Closing without remembering marks nothing; a later show opens nothing.
    slots.CloseChildWindows(false);
    Take();
    slots.ShowChildWindows(true);
    EXPECT_TRUE(Take().empty());

    // Forced while hidden: opens.
    slots.CreateChildWindow(1);
    slots.CloseChildWindows(true);
    shown = false;
    Take();
    slots.ShowChildWindows(true);
    EXPECT_EQ(Take(), (Events{"open 1"}));
}

TEST_F(MonitorSlotsTest, OpenWindowsAreKeptForTheNextRun)
{
    slots.CreateChildWindow(1);
    slots.CreateChildWindow(2);
    slots.SaveOpenWindows();
    EXPECT_EQ(profile.GetProfileInt("windows", "0", -1), 0);
    EXPECT_EQ(profile.GetProfileInt("windows", "1", -1), 1);
    EXPECT_EQ(profile.GetProfileInt("windows", "2", -1), 1);
    EXPECT_EQ(profile.GetProfileInt("windows", "3", -1), 0);

    Log other;
    FakeFactory otherFactory{other};
    app::CMonitorSlots next(otherFactory, profile, [] { return true; });
    next.LoadReopenFlags();
    next.ShowChildWindows(true);
    EXPECT_EQ(other.events, (Events{"open 1", "open 2"}));
}

} // namespace
