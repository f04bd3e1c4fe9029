// Hot keys as a player uses them: the real program on the simulated camera,
// shown on a private X server, with the keyboard focus in another program's
// window (the game's), keys pressed through XTest. The effect is read from
// outside: the paused flag (parameter 1) and the re-centre flag (parameter 2)
// through a game's client library; the status bar's texts and the precision
// switch from the program's debug output (ORVANE_DEBUG), which prints the
// texts the status bar is given and each hot key's outcome; whether a key was
// trapped from which keys the focused window received.
// gtest before the X11 headers: their macros (None, Bool, ...) break it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "profiles/Profile.h"
#include "testing/client_process.h"
#include "testing/temp_dir.h"
#include "testing/vistrel_process.h"
#include "testing/xvfb_server.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
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

// The game's window, which holds the keyboard focus and counts the key
// events it receives.
class FocusWindow {
public:
    explicit FocusWindow(Display* d) : d_(d)
    {
        window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 300, 300, 100, 100, 0, 0, 0);
        XSelectInput(d, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
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
    // Presses and releases of `sym` that reached the window since the last call.
    int Received(KeySym sym)
    {
        XSync(d_, False);
        const KeyCode code = XKeysymToKeycode(d_, sym);
        int n = 0;
        XEvent e;
        while (XCheckWindowEvent(d_, window_, KeyPressMask | KeyReleaseMask, &e))
            if (e.xkey.keycode == code)
                ++n;
        return n;
    }

private:
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
        typist = XOpenDisplay(server->name().c_str());
        ASSERT_NE(typist, nullptr);
        // The tests make the repeats of a held key themselves: the server's
        // own would add presses whenever a slow run holds a key past its
        // repeat delay.
        XAutoRepeatOff(typist);
        XSync(typist, False);
    }
    void TearDown() override
    {
        game.reset();
        if (program) {
            EXPECT_EQ(program->stop(), 0) << program->output();
            program.reset();
        }
        focus.reset();
        if (typist)
            XCloseDisplay(typist);
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
        focus = std::make_unique<FocusWindow>(typist);
        focus->Focus();
        ASSERT_TRUE(focus->HasFocus());
        // The camera is up: from now on the status shows the pause.
        ASSERT_TRUE(WaitUntil([&] {
            const std::string status = LastStatus();
            return status == "Status: Tracking" || status == "Status: No Data" || status == "Status: Disabled";
        }, 60s)) << program->output();
    }

    void Key(KeySym sym, bool press)
    {
        XTestFakeKeyEvent(typist, XKeysymToKeycode(typist, sym), press ? True : False, CurrentTime);
        XSync(typist, False);
    }
    void Tap(KeySym sym)
    {
        Key(sym, true);
        Key(sym, false);
    }
    // Holds the modifiers around a tap, as a player's fingers do.
    void Chord(std::vector<KeySym> modifiers, KeySym sym)
    {
        for (KeySym m : modifiers)
            Key(m, true);
        Tap(sym);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
            Key(*it, false);
    }

    void Button(unsigned int button, bool press)
    {
        XTestFakeButtonEvent(typist, button, press ? True : False, CurrentTime);
        XSync(typist, False);
    }

    int Param(int index)
    {
        const std::string answer = game->ask("getparam " + std::to_string(index));
        return answer.rfind("0 ", 0) == 0 ? std::stoi(answer.substr(2)) : -1;
    }
    bool ParamBecomes(int index, int value) { return WaitUntil([&] { return Param(index) == value; }, 10s); }

    // Lines of the program's debug output that start with `prefix`.
    std::vector<std::string> Lines(const std::string& prefix)
    {
        std::vector<std::string> out;
        const std::string text = program->output();
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos)
                end = text.size();
            const std::string line = text.substr(at, end - at);
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line.substr(prefix.size()));
            at = end + 1;
        }
        return out;
    }
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

    static testing_support::XvfbServer* server;
    Display* typist = nullptr;
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
    const int passed = trap ? 0 : 2;  // a press and a release reach the game, or nothing

    // Pause: toggled by each press, or held to track.
    if (toggle) {
        ASSERT_TRUE(PausedBecomes(0)) << "start\n" << program->output();
        for (int round = 0; round < 3; ++round) {
            Tap(XK_F9);
            ASSERT_TRUE(PausedBecomes(1)) << "paused, round " << round << "\n" << program->output();
            Tap(XK_F9);
            ASSERT_TRUE(PausedBecomes(0)) << "resumed, round " << round << "\n" << program->output();
        }
    } else {
        ASSERT_TRUE(PausedBecomes(1)) << "start\n" << program->output();
        for (int round = 0; round < 3; ++round) {
            Key(XK_F9, true);
            ASSERT_TRUE(PausedBecomes(0)) << "held, round " << round << "\n" << program->output();
            Key(XK_F9, false);
            ASSERT_TRUE(PausedBecomes(1)) << "let go, round " << round << "\n" << program->output();
        }
        // Tracking again for the centre below.
        Key(XK_F9, true);
        ASSERT_TRUE(PausedBecomes(0)) << "held for the centre\n" << program->output();
    }
    // Six taps, or three holds and the press still held.
    EXPECT_EQ(focus->Received(XK_F9), trap ? 0 : toggle ? 12 : 7);

    // Centre: each press re-centres; the game sees the flag and clears it.
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(ParamBecomes(kRecentredFlag, 1)) << program->output();
        ASSERT_EQ(game->ask("setparam 2 0"), "0");
        ASSERT_EQ(Param(kRecentredFlag), 0);
        Tap(XK_F12);
        ASSERT_TRUE(ParamBecomes(kRecentredFlag, 1)) << "round " << round << "\n" << program->output();
    }
    EXPECT_EQ(focus->Received(XK_F12), 3 * passed);
    if (!toggle)
        Key(XK_F9, false);

    // Precision: switched on release, or on while held.
    std::size_t reports = 0;
    for (int round = 0; round < 3; ++round) {
        if (toggle) {
            Tap(XK_F7);
            reports += 2;
            ASSERT_TRUE(PrecisionAfter(reports, 1)) << "round " << round << "\n" << program->output();
            Tap(XK_F7);
            reports += 2;
            ASSERT_TRUE(PrecisionAfter(reports, 0)) << "round " << round << "\n" << program->output();
        } else {
            Key(XK_F7, true);
            ASSERT_TRUE(PrecisionAfter(++reports, 1)) << "round " << round << "\n" << program->output();
            Key(XK_F7, false);
            ASSERT_TRUE(PrecisionAfter(++reports, 0)) << "round " << round << "\n" << program->output();
        }
    }
    EXPECT_EQ(focus->Received(XK_F7), (toggle ? 6 : 3) * passed);
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

// Mouse buttons as hot keys: polled from the pointer, press after press.
TEST_F(HotKeys, MouseButtonsWorkPressAfterPress)
{
    // Pause on the right button (toggle), precision on the left one (held),
    // centre on the middle one.
    Start({{2, 1, 0, GUID_SysMouse}, {1, 1, 0, GUID_SysMouse}, {0, 0, 0, GUID_SysMouse}});
    EXPECT_TRUE(WaitUntil([&] { return LastStatusBar().find("Center: Mouse3 | Enable: Mouse2") != std::string::npos; }))
        << LastStatusBar();
    ASSERT_TRUE(PausedBecomes(0)) << "start\n" << program->output();
    std::size_t pauses = 0, precisions = 0, centres = 0;
    for (int round = 0; round < 3; ++round) {
        const std::string where = "round " + std::to_string(round);
        for (int paused : {1, 0}) {
            Button(3, true);
            ASSERT_TRUE(PausedBecomes(paused)) << where << "\n" << program->output();
            Button(3, false);
            pauses += 2;
            ASSERT_TRUE(CountBecomes("Hot key Pause ", pauses)) << where << "\n" << program->output();
        }
        Button(1, true);
        ASSERT_TRUE(PrecisionAfter(++precisions, 1)) << where << "\n" << program->output();
        Button(1, false);
        ASSERT_TRUE(PrecisionAfter(++precisions, 0)) << where << "\n" << program->output();

        ASSERT_TRUE(ParamBecomes(kRecentredFlag, 1));
        ASSERT_EQ(game->ask("setparam 2 0"), "0");
        Button(2, true);
        ASSERT_TRUE(ParamBecomes(kRecentredFlag, 1)) << where << "\n" << program->output();
        Button(2, false);
        // Each change is seen by the next poll; the next press comes after it.
        centres += 2;
        ASSERT_TRUE(CountBecomes("Hot key Center ", centres)) << where << "\n" << program->output();
    }
}

} // namespace
