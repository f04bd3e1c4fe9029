// Hot keys as a player uses them: the real program on the simulated camera,
// shown on a private X server, with the keyboard focus in another program's
// window (the game's), keys and mouse buttons pressed through XTest. The
// effect is read from outside: the paused flag (parameter 1) and the
// re-centre flag (parameter 2) through a game's client library; the status
// bar's texts and the precision switch from the program's debug output
// (ORVANE_DEBUG), which prints the texts the status bar is given and each
// hot key's outcome; whether a key was trapped from which keys and buttons
// the focused window received.
//
// Joystick buttons are not here: an SDL virtual joystick exists only inside
// the process that attaches it, and these machines have no /dev/input or
// /dev/uinput through which a test could give the program a device. The
// main sheet's own tests press them (app/sheet/tests/joystick_hotkeys_test.cpp),
// and the hot-key entry dialog's X11 test captures them.
// gtest before the X11 headers: their macros (None, Bool, ...) break it.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "profiles/Profile.h"
#include "testing/client_process.h"
#include "testing/temp_dir.h"
#include "testing/vistrel_process.h"
#include "testing/x_typist.h"
#include "testing/xvfb_server.h"

#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;
using testing_support::ClientProcess;
using testing_support::VistrelProcess;
using testing_support::WaitUntil;

constexpr int kPausedFlag = 1;
constexpr int kRecentredFlag = 2;
constexpr std::uint32_t kCtrl = 2, kShift = 4, kAlt = 1;

struct KeySpec {
    std::uint32_t code;  // HotKeyAndModifiers, or a device's button
    int toggle;
    int trap;
    Guid device = GUID_NULL;
};

// The bytes of a default profile file with these three hot keys.
std::string DefaultProfileFile(const KeySpec (&keys)[3])
{
    testing_support::TempDir dir("hotkeys-profile");
    CProfile p;
    p.Name = u"Default Profile";
    p.SetDefaults();
    p.GameIds.push_back(CProfile::kDefaultGameId);
    for (int i = 0; i < 3; ++i) {
        CKeyInfo k = p.HotKeys.GetAt(i);
        k.Device = keys[i].device;
        k.SetKey(keys[i].code);
        k.Toggle = keys[i].toggle;
        k.Trap = keys[i].trap;
        p.HotKeys.SetAtGrow(i, k);
    }
    const std::string path = (dir.path() / "Default.xml").string();
    p.Path = std::u16string(path.begin(), path.end());
    EXPECT_EQ(p.Save(), 0);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The game's window, which holds the keyboard focus and the pointer, and
// counts the key and button events it receives.
class FocusWindow {
public:
    explicit FocusWindow(Display* d) : d_(d)
    {
        window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 300, 300, 100, 100, 0, 0, 0);
        XSelectInput(d, window_, kEvents | StructureNotifyMask);
        XMapWindow(d, window_);
        XEvent e;
        do
            XWindowEvent(d, window_, StructureNotifyMask, &e);
        while (e.type != MapNotify);
    }
    ~FocusWindow() { XDestroyWindow(d_, window_); }
    FocusWindow(const FocusWindow&) = delete;
    FocusWindow& operator=(const FocusWindow&) = delete;

    void Focus()
    {
        XSetInputFocus(d_, window_, RevertToPointerRoot, CurrentTime);
        XSync(d_, False);
    }
    bool HasFocus()
    {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d_, &focus, &revert);
        return focus == window_;
    }
    // The middle of the window on the screen.
    int X() const { return 350; }
    int Y() const { return 350; }
    // Presses and releases of `sym` that reached the window since the last call.
    int Received(KeySym sym) { return Take(XKeysymToKeycode(d_, sym), KeyPress, KeyRelease); }
    // Presses and releases of the pointer's `button`, likewise.
    int ReceivedButton(unsigned int button) { return Take(button, ButtonPress, ButtonRelease); }

private:
    static constexpr long kEvents = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask;

    // Drains the window's input events and counts those of `detail`; the
    // others stay for their own count.
    int Take(unsigned int detail, int press, int release)
    {
        XSync(d_, False);
        int n = 0;
        std::vector<XEvent> other;
        XEvent e;
        while (XCheckWindowEvent(d_, window_, kEvents, &e)) {
            const unsigned int d = e.type == KeyPress || e.type == KeyRelease ? e.xkey.keycode : e.xbutton.button;
            if ((e.type == press || e.type == release) && d == detail)
                ++n;
            else
                other.push_back(e);
        }
        for (auto it = other.rbegin(); it != other.rend(); ++it)
            XPutBackEvent(d_, &*it);
        return n;
    }

    Display* d_;
    Window window_ = 0;
};

class HotKeys : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new testing_support::XvfbServer(); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!server->ready())
            GTEST_SKIP() << "no Xvfb";
        typist = std::make_unique<testing_support::XTypist>(server->name());
        ASSERT_TRUE(typist->ok());
        // The tests make the repeats of a held key themselves: the server's
        // own would add presses whenever a slow run holds a key past its
        // repeat delay.
        XAutoRepeatOff(typist->display());
        XSync(typist->display(), False);
    }
    void TearDown() override
    {
        game.reset();
        if (program) {
            EXPECT_EQ(program->stop(), 0) << program->output();
            program.reset();
        }
        focus.reset();
        typist.reset();
    }

    // Starts the program with a default profile of these keys, a game
    // beside it that reads the shared flags, and the game's window focused.
    void Start(const KeySpec (&keys)[3])
    {
        auto options = testing_support::ProgramOptions();
        options.display = server->name();
        options.env.push_back({"ORVANE_DEBUG", "1"});
        options.files.push_back({"Profiles/Default.xml", DefaultProfileFile(keys)});
        program = std::make_unique<VistrelProcess>(options);
        ASSERT_TRUE(program->ready()) << program->output();
        game = std::make_unique<ClientProcess>(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
        ASSERT_TRUE(game->ready());
        focus = std::make_unique<FocusWindow>(typist->display());
        focus->Focus();
        ASSERT_TRUE(focus->HasFocus());
        // The camera is up: from now on the status shows the pause.
        ASSERT_TRUE(WaitUntil([&] {
            const std::string status = LastStatus();
            return status == "Status: Tracking" || status == "Status: No Data" || status == "Status: Disabled";
        }, 60s)) << program->output();
    }

    void Key(KeySym sym, bool press) { typist->Key(sym, press); }
    void Tap(KeySym sym) { typist->Tap(sym); }
    void Chord(const std::vector<KeySym>& modifiers, KeySym sym) { typist->Chord(modifiers, sym); }
    void Button(unsigned int button, bool press) { typist->Button(button, press); }

    int Param(int index)
    {
        const std::string answer = game->ask("getparam " + std::to_string(index));
        return answer.rfind("0 ", 0) == 0 ? std::stoi(answer.substr(2)) : -1;
    }
    bool ParamBecomes(int index, int value) { return WaitUntil([&] { return Param(index) == value; }, 10s); }

    // What follows `prefix` on the program's debug lines that start with it.
    std::vector<std::string> Lines(const std::string& prefix) { return program->lines(prefix); }
    // The status bar's first pane as last set.
    std::string LastStatus()
    {
        const auto lines = Lines("Status bar: ");
        return lines.empty() ? std::string() : lines.back().substr(0, lines.back().find(" | "));
    }
    std::string LastStatusBar()
    {
        const auto lines = Lines("Status bar: ");
        return lines.empty() ? std::string() : lines.back();
    }
    std::size_t Count(const std::string& prefix) { return Lines(prefix).size(); }
    bool CountBecomes(const std::string& prefix, std::size_t n)
    {
        return WaitUntil([&] { return Count(prefix) >= n; }, 10s) && Count(prefix) == n;
    }
    // The precision switch after the last hot key that touched it.
    int Precision()
    {
        const auto lines = Lines("Hot key Precision ");
        if (lines.empty())
            return 0;
        return lines.back().find("precision 1") != std::string::npos ? 1 : 0;
    }
    // Waits until `count` precision hot-key reports are out; the last one's state.
    bool PrecisionAfter(std::size_t count, int value)
    {
        return WaitUntil([&] { return Lines("Hot key Precision ").size() >= count && Precision() == value; }, 10s);
    }

    // The paused flag as the game reads it, and the status bar with it.
    bool PausedBecomes(int paused)
    {
        if (!ParamBecomes(kPausedFlag, paused))
            return false;
        return WaitUntil([&] {
            const std::string status = LastStatus();
            return paused ? status == "Status: Disabled" : !status.empty() && status != "Status: Disabled";
        }, 10s);
    }

    // Presses (or lets go of) the hot key of an action: 0 Center, 1 Pause,
    // 2 Precision.
    using Press = std::function<void(int action, bool down)>;

    // Each hot key pressed again and again: Pause toggled by each press or
    // held to track, Center re-centring on each press, Precision switched on
    // release or on while held. Each press and release is waited for until
    // the program has told its outcome, so that a button, which is polled,
    // changes only once the poll saw its last change. Returns how often each
    // action's key went down.
    std::array<int, 3> PressAfterPress(bool pauseToggle, bool precisionToggle, const Press& press)
    {
        std::array<int, 3> downs{};
        std::size_t told = Count("Hot key ");
        const auto change = [&](int action, bool down) {
            press(action, down);
            if (down)
                ++downs[static_cast<std::size_t>(action)];
            EXPECT_TRUE(CountBecomes("Hot key ", ++told)) << "action " << action << (down ? " down" : " up");
        };

        // Pause.
        if (pauseToggle) {
            EXPECT_TRUE(PausedBecomes(0)) << "start\n" << program->output();
            for (int round = 0; round < 3; ++round) {
                for (int paused : {1, 0}) {
                    change(1, true);
                    EXPECT_TRUE(PausedBecomes(paused)) << "pressed, round " << round << "\n" << program->output();
                    change(1, false);
                    EXPECT_TRUE(PausedBecomes(paused)) << "let go, round " << round << "\n" << program->output();
                }
            }
        } else {
            EXPECT_TRUE(PausedBecomes(1)) << "start\n" << program->output();
            for (int round = 0; round < 3; ++round) {
                change(1, true);
                EXPECT_TRUE(PausedBecomes(0)) << "held, round " << round << "\n" << program->output();
                change(1, false);
                EXPECT_TRUE(PausedBecomes(1)) << "let go, round " << round << "\n" << program->output();
            }
            // Tracking again for the centre below.
            change(1, true);
            EXPECT_TRUE(PausedBecomes(0)) << "held for the centre\n" << program->output();
        }

        // Centre: each press re-centres; the game sees the flag and clears it.
        for (int round = 0; round < 3; ++round) {
            EXPECT_TRUE(ParamBecomes(kRecentredFlag, 1)) << program->output();
            EXPECT_EQ(game->ask("setparam 2 0"), "0");
            EXPECT_EQ(Param(kRecentredFlag), 0);
            change(0, true);
            EXPECT_TRUE(ParamBecomes(kRecentredFlag, 1)) << "round " << round << "\n" << program->output();
            change(0, false);
        }
        if (!pauseToggle)
            change(1, false);

        // Precision: switched on release, or on while held.
        for (int round = 0; round < 3; ++round) {
            if (precisionToggle) {
                for (int on : {1, 0}) {
                    change(2, true);
                    EXPECT_EQ(Precision(), 1 - on) << "not yet on the press, round " << round;
                    change(2, false);
                    EXPECT_EQ(Precision(), on) << "round " << round << "\n" << program->output();
                }
            } else {
                change(2, true);
                EXPECT_EQ(Precision(), 1) << "held, round " << round << "\n" << program->output();
                change(2, false);
                EXPECT_EQ(Precision(), 0) << "let go, round " << round << "\n" << program->output();
            }
        }
        return downs;
    }

    static testing_support::XvfbServer* server;
    std::unique_ptr<testing_support::XTypist> typist;
    std::unique_ptr<VistrelProcess> program;
    std::unique_ptr<ClientProcess> game;
    std::unique_ptr<FocusWindow> focus;
};

testing_support::XvfbServer* HotKeys::server = nullptr;

constexpr std::uint32_t kF12 = 0x7B, kF9 = 0x78, kF7 = 0x76;

// Every combination of Toggle and Trap for the three keys, each pressed
// again and again with the focus in the game's window.
class EveryOption : public HotKeys, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(EveryOption, EachKeyWorksPressAfterPress)
{
    const auto [toggle, trap] = GetParam();
    Start({{kF12, toggle, trap}, {kF9, toggle, trap}, {kF7, toggle, trap}});
    const KeySym keys[] = {XK_F12, XK_F9, XK_F7};
    const auto downs = PressAfterPress(toggle != 0, toggle != 0,
                                       [&](int action, bool down) { Key(keys[action], down); });
    // A trapped key reaches the game not at all, another press and release.
    for (int action = 0; action < 3; ++action)
        EXPECT_EQ(focus->Received(keys[action]), trap ? 0 : 2 * downs[static_cast<std::size_t>(action)])
            << "action " << action;
}

INSTANTIATE_TEST_SUITE_P(ToggleAndTrap, EveryOption,
                         ::testing::Values(std::pair{1, 1}, std::pair{1, 0}, std::pair{0, 1}, std::pair{0, 0}),
                         [](const auto& info) {
                             return std::string(info.param.first ? "Toggle" : "Hold") +
                                    (info.param.second ? "Trapped" : "Passed");
                         });

// Keys with modifiers match only with exactly their modifiers, whatever
// locks are on; the same key with other modifiers passes to the game.
TEST_F(HotKeys, ModifiersMustMatchExactly)
{
    Start({{kF12 | kAlt << 16, 1, 1}, {kF9 | (kCtrl | kShift) << 16, 1, 1}, {kF7 | kShift << 16, 1, 1}});
    EXPECT_TRUE(WaitUntil([&] { return LastStatusBar().find("Center: Alt+F12 | Enable: Ctrl+Shift+F9") !=
                                       std::string::npos; }))
        << LastStatusBar();
    ASSERT_TRUE(PausedBecomes(0)) << "start\n" << program->output();

    // Not the pause key: each passes to the game; then the real one.
    Tap(XK_F9);
    Chord({XK_Control_L}, XK_F9);
    Chord({XK_Shift_L, XK_Alt_L}, XK_F9);
    EXPECT_EQ(focus->Received(XK_F9), 6);
    Chord({XK_Control_L, XK_Shift_L}, XK_F9);
    ASSERT_TRUE(PausedBecomes(1)) << "Ctrl+Shift+F9\n" << program->output();
    EXPECT_TRUE(CountBecomes("Hot key Pause down", 1)) << program->output();
    // With Caps Lock on, and the modifiers let go in another order.
    Tap(XK_Caps_Lock);
    Key(XK_Shift_R, true);
    Key(XK_Control_R, true);
    Key(XK_F9, true);
    Key(XK_Shift_R, false);
    Key(XK_F9, false);
    Key(XK_Control_R, false);
    Tap(XK_Caps_Lock);
    ASSERT_TRUE(PausedBecomes(0)) << "Ctrl+Shift+F9 with Caps Lock\n" << program->output();
    EXPECT_EQ(focus->Received(XK_F9), 0) << "the pause key is trapped";

    // Centre on Alt+F12 only; F12 alone passes.
    ASSERT_TRUE(ParamBecomes(kRecentredFlag, 1));
    ASSERT_EQ(game->ask("setparam 2 0"), "0");
    Tap(XK_F12);
    Chord({XK_Alt_L}, XK_F12);
    ASSERT_TRUE(ParamBecomes(kRecentredFlag, 1)) << program->output();
    EXPECT_TRUE(CountBecomes("Hot key Center down", 1)) << program->output();
    EXPECT_EQ(focus->Received(XK_F12), 2);

    // Precision on Shift+F7, after F10 (a system key without Alt).
    Tap(XK_F10);
    Chord({XK_Shift_L}, XK_F7);
    ASSERT_TRUE(PrecisionAfter(2, 1)) << program->output();
    Chord({XK_Shift_R}, XK_F7);
    ASSERT_TRUE(PrecisionAfter(4, 0)) << program->output();
    Tap(XK_F7);
    Chord({XK_Shift_L}, XK_F7);
    ASSERT_TRUE(PrecisionAfter(6, 1)) << program->output();
    EXPECT_EQ(focus->Received(XK_F7), 2);
}

// A key held down repeats its press until let go (XTest repeats it as the
// server's auto-repeat does): each hot key acts once per hold.
TEST_F(HotKeys, AKeyHeldWithAutoRepeatActsOnce)
{
    Start({{kF12, 1, 1}, {kF9, 0, 1}, {kF7, 1, 1}});
    ASSERT_TRUE(PausedBecomes(1)) << "start, hold to track\n" << program->output();
    const auto hold = [&](KeySym sym, int repeats) {
        for (int i = 0; i <= repeats; ++i)
            Key(sym, true);
    };
    hold(XK_F9, 8);
    ASSERT_TRUE(PausedBecomes(0)) << "held\n" << program->output();
    hold(XK_F12, 8);
    Key(XK_F12, false);
    hold(XK_F7, 8);
    Key(XK_F7, false);
    ASSERT_TRUE(PrecisionAfter(2, 1)) << program->output();
    Key(XK_F9, false);
    ASSERT_TRUE(PausedBecomes(1)) << "let go\n" << program->output();
    EXPECT_TRUE(CountBecomes("Hot key Pause ", 2)) << program->output();
    EXPECT_EQ(Count("Hot key Center "), 2u);
    EXPECT_EQ(Count("Hot key Precision "), 2u);
    EXPECT_EQ(focus->Received(XK_F9) + focus->Received(XK_F12) + focus->Received(XK_F7), 0);

    // The next hold acts again.
    hold(XK_F7, 3);
    Key(XK_F7, false);
    ASSERT_TRUE(PrecisionAfter(4, 0)) << program->output();
}

struct MouseOptions {
    int pauseToggle;
    int precisionToggle;
    int trap;
    const char* name;
    friend void PrintTo(const MouseOptions& o, std::ostream* out) { *out << o.name; }
};

// Mouse buttons as hot keys, polled from the pointer, press after press in
// the combinations of Toggle and Trap (and with the two keys that have a
// Toggle flag set apart). Trapping is the keyboard hook's alone: the clicks
// reach the game's window whatever Trap says.
class MouseOption : public HotKeys, public ::testing::WithParamInterface<MouseOptions> {};

TEST_P(MouseOption, EachButtonWorksPressAfterPress)
{
    const MouseOptions o = GetParam();
    // Centre on the middle button (Mouse3), pause on the right one (Mouse2),
    // precision on the left one (Mouse1).
    Start({{2, 1, o.trap, GUID_SysMouse}, {1, o.pauseToggle, o.trap, GUID_SysMouse},
           {0, o.precisionToggle, o.trap, GUID_SysMouse}});
    EXPECT_TRUE(WaitUntil([&] { return LastStatusBar().find("Center: Mouse3 | Enable: Mouse2") != std::string::npos; }))
        << LastStatusBar();
    typist->MoveTo(focus->X(), focus->Y());
    const unsigned int buttons[] = {2, 3, 1}; // the X server's numbers
    const auto downs = PressAfterPress(o.pauseToggle != 0, o.precisionToggle != 0,
                                       [&](int action, bool down) { Button(buttons[action], down); });
    for (int action = 0; action < 3; ++action)
        EXPECT_EQ(focus->ReceivedButton(buttons[action]), 2 * downs[static_cast<std::size_t>(action)])
            << "action " << action;
}

INSTANTIATE_TEST_SUITE_P(ToggleAndTrap, MouseOption,
                         ::testing::Values(MouseOptions{1, 1, 1, "ToggleTrapped"}, MouseOptions{1, 1, 0, "TogglePassed"},
                                           MouseOptions{0, 0, 1, "HoldTrapped"}, MouseOptions{0, 0, 0, "HoldPassed"},
                                           MouseOptions{1, 0, 0, "TogglePauseHoldPrecision"},
                                           MouseOptions{0, 1, 1, "HoldPauseTogglePrecisionTrapped"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
