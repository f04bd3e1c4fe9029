// Which monitor windows were open at exit, saved while the program is killed.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/shell/monitor_slots.h"
#include "testing/kill_loop.h"
#include "testing/temp_registry.h"

namespace {

class Window final : public app::IMonitorWindow {
public:
    std::uintptr_t Id() const override { return reinterpret_cast<std::uintptr_t>(this); }
    void Raise() override {}
    void Stop() override {}
    bool Message(platform::UINT, platform::WPARAM) override { return false; }
};

class Factory final : public app::IMonitorFactory {
public:
    std::unique_ptr<app::IMonitorWindow> Open(int) override { return std::make_unique<Window>(); }
};

// The four marks of one exit, never some of one exit and some of another:
// the saves alternate between the gauges and heads open, and the camera
// image alone.
TEST(OpenWindowsKill, SaveKilledMidwayIsAllOrNothing)
{
    testing_support::TempRegistry registry;
    app::CAppProfile profile{registry.store()};
    Factory factory;
    app::CMonitorSlots slots(factory, profile, [] { return true; });
    const auto open = [&](bool gaugesAndHeads) {
        for (int slot = 0; slot < app::kSlotCount; ++slot)
            slots.CloseChildWindow(slot);
        if (gaugesAndHeads) {
            slots.CreateChildWindow(app::kSlotGauges);
            slots.CreateChildWindow(app::kSlotHeads);
        } else {
            slots.CreateChildWindow(app::kSlotTracking);
        }
    };
    open(true);
    slots.SaveOpenWindows();
    const auto result = testing_support::RunKillLoop(
        {},
        [&](int n) {
            open(n % 2 != 0);
            slots.SaveOpenWindows();
        },
        [&] {
            std::string marks;
            for (int slot = 0; slot < app::kSlotCount; ++slot)
                marks += std::to_string(profile.GetProfileInt(app::CMonitorSlots::kSection, std::to_string(slot), 7));
            ASSERT_TRUE(marks == "1010" || marks == "0100") << marks;
        });
    EXPECT_EQ(result.childFailed, 0);
    EXPECT_GE(result.kills, 50); // the rounds are bounded in time too
    std::printf("open monitor windows: %d kills\n", result.kills);
}

} // namespace
