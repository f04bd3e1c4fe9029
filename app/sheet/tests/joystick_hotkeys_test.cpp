// Joystick buttons as hot keys, the way the program reads them: the main
// sheet with its own action map and poll thread over SDL's joysticks, and an
// SDL virtual joystick whose buttons the test presses. A virtual joystick
// exists only inside the process that attaches it, and these machines have
// no /dev/input or /dev/uinput, so the program itself cannot be handed one
// from a test (its keys and mouse buttons are pressed in
// app/main/tests/hotkeys_test.cpp); here the program's sheet runs in the
// test's process instead. The outcome of each press is read from the engine
// and from the sheet's debug line for each hot key.
#include <SDL.h>

#include <cstring>

#include "input/InputDevices.h"
#include "platform/debug.h"
#include "sheet_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace sheet_test;

struct JoystickOptions {
    int pauseToggle;
    int precisionToggle;
    int trap;
    const char* name;
    friend void PrintTo(const JoystickOptions& o, std::ostream* out) { *out << o.name; }
};

// The buttons of the three actions (0 Center, 1 Pause, 2 Precision).
constexpr int kButtons[] = {4, 7, 0};

class JoystickHotKeys : public SheetTest, public ::testing::WithParamInterface<JoystickOptions> {
protected:
    void SetUp() override
    {
        SheetTest::SetUp();
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        sdl = true;
        const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 12, 0);
        ASSERT_GE(index, 0) << SDL_GetError();
        joystick = SDL_JoystickOpen(index);
        ASSERT_NE(joystick, nullptr) << SDL_GetError();
        platform::devices::DeviceId id{};
        const SDL_JoystickGUID guid = SDL_JoystickGetGUID(joystick);
        std::memcpy(id.data(), guid.data, id.size());
        pad = GuidFromDeviceId(id);

        makeButtons = [] { return platform::devices::makeSdlButtonSource(); };
        MakeSheet();
        ASSERT_EQ(sheet->OnCreate(), 0);
        const JoystickOptions o = GetParam();
        CProfile* p = sheet->CurrentProfile();
        ASSERT_NE(p, nullptr);
        const int toggles[] = {1, o.pauseToggle, o.precisionToggle};
        for (int action = 0; action < 3; ++action) {
            CKeyInfo k = p->HotKeys.GetAt(action);
            k.Device = pad;
            k.SetKey(static_cast<std::uint32_t>(kButtons[action]));
            k.Toggle = toggles[action];
            k.Trap = o.trap;
            p->HotKeys.SetAtGrow(action, k);
        }
        sheet->ActivateProfile(p);
        sheet->ResetPauseState();
        // The poll's first look at the joystick only notes which buttons are
        // down: centre presses until one is seen.
        bool seen = false;
        for (int attempt = 0; attempt < 50 && !seen; ++attempt) {
            const std::size_t before = Told();
            SDL_JoystickSetVirtualButton(joystick, kButtons[0], SDL_PRESSED);
            seen = Within(300ms, [&] { return Told() > before; });
            SDL_JoystickSetVirtualButton(joystick, kButtons[0], SDL_RELEASED);
            const std::size_t pressed = Told();
            Within(300ms, [&] { return Told() > pressed; });
        }
        ASSERT_TRUE(seen) << "the sheet never saw the joystick";
        told = Told();
    }
    void TearDown() override
    {
        // The sheet's poll thread reads the joystick: it ends first.
        SheetTest::TearDown();
        if (joystick != nullptr) {
            SDL_JoystickClose(joystick);
            SDL_JoystickDetachVirtual(0);
        }
        if (sdl)
            SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    // Pumps the sheet's messages until `f` holds, at most `limit`.
    template <typename F>
    bool Within(std::chrono::milliseconds limit, F f)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            Pump();
            if (f())
                return true;
            std::this_thread::sleep_for(2ms);
        }
        return f();
    }

    std::size_t Told() const
    {
        std::size_t n = 0;
        for (const std::string& line : debug.lines())
            n += line.rfind("Hot key ", 0) == 0 ? 1 : 0;
        return n;
    }
    std::string LastTold() const
    {
        const auto lines = debug.lines();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->rfind("Hot key ", 0) == 0)
                return *it;
        return {};
    }
    // Presses or lets go of an action's button and waits until the sheet has
    // acted on it: the joystick is polled, so its next change must come
    // after the poll saw this one.
    void Change(int action, bool down)
    {
        SDL_JoystickSetVirtualButton(joystick, kButtons[action], down ? SDL_PRESSED : SDL_RELEASED);
        const std::size_t want = ++told;
        ASSERT_TRUE(Eventually([&] { return Told() >= want; })) << "action " << action << (down ? " down" : " up");
        ASSERT_EQ(Told(), want) << LastTold();
        static constexpr const char* kNames[] = {"Center", "Pause", "Precision"};
        EXPECT_EQ(LastTold().rfind(std::string("Hot key ") + kNames[action] + (down ? " down" : " up"), 0), 0u)
            << LastTold();
    }

    platform::debug::Capture debug;
    bool sdl = false;
    SDL_Joystick* joystick = nullptr;
    Guid pad{};
    std::size_t told = 0;
};

TEST_P(JoystickHotKeys, EachButtonWorksPressAfterPress)
{
    const JoystickOptions o = GetParam();
    CCameraDataProcessor& engine = sheet->Engine();

    // Pause: toggled by each press, or held to track.
    if (o.pauseToggle) {
        EXPECT_FALSE(engine.IsPaused());
        for (int round = 0; round < 3; ++round) {
            for (bool paused : {true, false}) {
                Change(1, true);
                EXPECT_EQ(engine.IsPaused(), paused) << "pressed, round " << round;
                Change(1, false);
                EXPECT_EQ(engine.IsPaused(), paused) << "let go, round " << round;
            }
        }
    } else {
        EXPECT_TRUE(engine.IsPaused());
        for (int round = 0; round < 3; ++round) {
            Change(1, true);
            EXPECT_FALSE(engine.IsPaused()) << "held, round " << round;
            Change(1, false);
            EXPECT_TRUE(engine.IsPaused()) << "let go, round " << round;
        }
    }

    // Centre: each press reaches the sheet's centre.
    for (int round = 0; round < 3; ++round) {
        Change(0, true);
        Change(0, false);
    }

    // Precision: switched on release, or on while held.
    for (int round = 0; round < 3; ++round) {
        if (o.precisionToggle) {
            for (bool on : {true, false}) {
                Change(2, true);
                EXPECT_EQ(engine.IsPrecision(), !on) << "not yet on the press, round " << round;
                Change(2, false);
                EXPECT_EQ(engine.IsPrecision(), on) << "round " << round;
            }
        } else {
            Change(2, true);
            EXPECT_TRUE(engine.IsPrecision()) << "held, round " << round;
            Change(2, false);
            EXPECT_FALSE(engine.IsPrecision()) << "let go, round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ToggleAndTrap, JoystickHotKeys,
                         ::testing::Values(JoystickOptions{1, 1, 1, "ToggleTrapped"},
                                           JoystickOptions{1, 1, 0, "TogglePassed"},
                                           JoystickOptions{0, 0, 1, "HoldTrapped"},
                                           JoystickOptions{0, 0, 0, "HoldPassed"},
                                           JoystickOptions{1, 0, 0, "TogglePauseHoldPrecision"},
                                           JoystickOptions{0, 1, 1, "HoldPauseTogglePrecisionTrapped"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
