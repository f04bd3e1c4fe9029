// The three-point pose through a game start, profile edits and a re-centre,
// as a player sees it: the real program on the simulated camera, shown on a
// private X server, with the head held still away from the neutral pose,
// and a game that reads all six axes. The profiles are edited the way a
// user does it, with the keyboard: the main window's Profiles page, the
// profile's row, "Edit...", a tracking mode in the editor, OK. Each of those
// moments makes where the head is the centre, so every axis must read (near)
// zero afterwards and stay there. Which profile is current and which clip
// model the engine was handed are read from the program's debug output.
// gtest before the X11 headers: their macros (None, Bool, ...) break it.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "profiles/Profile.h"
#include "testing/client_process.h"
#include "testing/vistrel_process.h"
#include "testing/x_typist.h"
#include "testing/xvfb_server.h"

#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;
using testing_support::ClientProcess;
using testing_support::VistrelProcess;
using testing_support::WaitUntil;

// A catalogue game (Flight Simulator 2002 through its module).
constexpr int kGameId = 2302;
constexpr double kNearZero = 0.01 * 16383;

// A profile with all six axes on. Motion type 3 reads the clip as mounting
// location 1, motion type 2 as location 2 and type 1 as location 0: the
// same three markers, told apart by another model.
std::string Profile(const char* name, int motionType, bool isDefault)
{
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Profile>\n  <Name>" + std::string(name) +
                    "</Name>\n  <MotionType>" + std::to_string(motionType) + "</MotionType>\n";
    if (isDefault)
        x += "  <AssociatedGame Id=\"4294967295\"></AssociatedGame>\n";
    for (int axis = 0; axis < 6; ++axis)
        x += "  <Axis Type=\"" + std::to_string(axis) + "\" Enabled=\"1\" Inverted=\"0\"></Axis>\n";
    return x + "</Profile>\n";
}

// The editor opens no preview windows, which would come up over it.
constexpr const char* kSettings = "<Settings>\n  <PeriodicNewsCheck>0</PeriodicNewsCheck>\n"
                                  "  <ProfileLaunchHeads>0</ProfileLaunchHeads>\n"
                                  "  <ProfileLaunchGauges>0</ProfileLaunchGauges>\n"
                                  "  <ProfileLaunchTracking>0</ProfileLaunchTracking>\n</Settings>\n";

class GameStartPose : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new testing_support::XvfbServer("1024x768x24"); }
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
        auto options = testing_support::ProgramOptions();
        options.display = server->name();
        options.env.push_back({"ORVANE_DEBUG", "1"});
        // Still, turned and moved from the neutral pose; discs large enough
        // for location 2's blob size window.
        options.scene = "revision 8\nlocation 1\nradius 6\nmotion still\npose 20 -10 5 30 -20 40\n";
        options.files = {{"Profiles/Desk.xml", Profile("Desk", 3, true)},
                         {"Profiles/Flying.xml", Profile("Flying", 2, false)},
                         {"settings.xml", kSettings}};
        program = std::make_unique<VistrelProcess>(options);
        ASSERT_TRUE(program->ready()) << program->output();
        // The game's profile in the profile map: not the one in use.
        auto store = program->registry().store();
        const std::string key = "SOFTWARE\\Orvane\\Vistrel\\ProfileMap";
        ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, key), platform::registry::kSuccess);
        ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, key, std::to_string(kGameId), u"Flying.xml"),
                  platform::registry::kSuccess);
        game = std::make_unique<ClientProcess>(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
        ASSERT_TRUE(game->ready());
    }
    void TearDown() override
    {
        game.reset();
        if (program) {
            EXPECT_EQ(program->stop(), 0) << program->output();
        }
        typist.reset();
    }

    std::vector<double> Read()
    {
        std::vector<double> f = ClientProcess::numbers(game->ask("getdata"));
        return f.size() == 19u && f[0] == 0 ? f : std::vector<double>{};
    }
    double Frame()
    {
        const auto f = Read();
        return f.empty() ? -1 : f[2];
    }
    // Lets `frames` frames pass (the counter runs 1..32766 and wraps).
    void Pass(int frames)
    {
        const double start = Frame();
        ASSERT_GE(start, 0) << program->output();
        ASSERT_TRUE(WaitUntil([&] {
            const double now = Frame();
            return now >= 0 && std::fmod(now - start + 32766, 32766) >= frames;
        })) << program->output();
    }
    // After `what`: the six axes (roll, pitch, yaw, x, y, z) near zero, and
    // still there a while later.
    void ExpectCentred(const char* what)
    {
        Pass(50);
        for (int check = 0; check < 2; ++check) {
            const auto f = Read();
            ASSERT_FALSE(f.empty()) << what;
            for (int axis = 0; axis < 6; ++axis)
                EXPECT_NEAR(f[static_cast<std::size_t>(4 + axis)], 0.0, kNearZero) << what << ", slot " << axis;
            Pass(30);
        }
    }

    std::vector<std::string> Lines(const std::string& prefix) { return program->lines(prefix); }
    std::string Last(const std::string& prefix)
    {
        const auto lines = Lines(prefix);
        return lines.empty() ? std::string() : lines.back();
    }
    std::string CurrentProfile() { return Last("Current profile: "); }
    std::string ClipModel() { return Last("Clip model: "); }

    // The motion type the profile's file holds.
    int SavedMotionType(const char* file)
    {
        CProfile p;
        const std::string path = (program->folder() / "Profiles" / file).string();
        p.Path = std::u16string(path.begin(), path.end());
        return p.Load() == 0 ? p.MotionType : -1;
    }

    // The user edits a profile on the Profiles page: its row chosen by
    // typing the first letter of its name, "Edit..." pressed, then in the
    // editor (captioned with the name) `inEditor` runs and OK is pressed.
    // The first edit starts on the Main page; later ones where the last one
    // left the keyboard focus, on "Edit...".
    void EditProfile(const std::string& name, const std::function<void()>& inEditor)
    {
        const Window frame = typist->TopLevel(program->pid(), "Vistrel");
        ASSERT_NE(frame, 0u) << "the main window";
        typist->Focus(frame);
        if (firstEdit) {
            typist->Chord({XK_Control_L}, XK_Tab); // the Profiles page
            typist->Tap(XK_Tab);                   // its profile list
            firstEdit = false;
        } else {
            typist->Chord({XK_Shift_L}, XK_Tab); // "New..."
            typist->Chord({XK_Shift_L}, XK_Tab); // the profile list
        }
        typist->Type(std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])))));
        typist->Tap(XK_Tab); // "New..."
        typist->Tap(XK_Tab); // "Edit..."
        typist->Tap(XK_space);
        Window editor = 0;
        ASSERT_TRUE(WaitUntil([&] { return (editor = typist->TopLevel(program->pid(), name)) != 0; }))
            << "the editor of " << name << "\n" << program->output();
        // The program gives a dialog it opens the keyboard focus itself.
        if (!WaitUntil([&] { return typist->HasFocus(editor); }, 2s))
            typist->Focus(editor);
        if (inEditor)
            inEditor();
        typist->Tap(XK_Return); // OK
        ASSERT_TRUE(WaitUntil([&] { return typist->TopLevel(program->pid(), name) == 0; }))
            << "the editor closed\n" << program->output();
    }
    // Presses `key` with Alt until the program's debug output shows `line`
    // (a key pressed while the dialog is still being activated is lost).
    void AltUntil(KeySym key, const std::string& prefix, const std::string& line)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            typist->Chord({XK_Alt_L}, key);
            if (WaitUntil([&] { return Last(prefix) == line; }, 2s))
                return;
        }
        ADD_FAILURE() << "no " << prefix << line << "\n" << program->output();
    }

    static testing_support::XvfbServer* server;
    std::unique_ptr<testing_support::XTypist> typist;
    std::unique_ptr<VistrelProcess> program;
    std::unique_ptr<ClientProcess> game;
    bool firstEdit = true;
};

testing_support::XvfbServer* GameStartPose::server = nullptr;

TEST_F(GameStartPose, EveryAxisReadsZeroAfterTheGameStartsProfileEditsAndARecentre)
{
    ASSERT_TRUE(WaitUntil([&] { return CurrentProfile() == "Desk"; })) << program->output();
    game->ask("window");
    ASSERT_EQ(game->ask("regwin"), "0");
    ASSERT_EQ(game->ask("request 119"), "0");
    ASSERT_EQ(game->ask("start"), "0");
    // The game starts: its profile, with another clip model, becomes the
    // current one, and the program re-centres.
    ASSERT_EQ(game->ask("profile " + std::to_string(kGameId)), "0");
    ASSERT_TRUE(WaitUntil([&] { return CurrentProfile() == "Flying" && ClipModel() == "mounting location 2"; }))
        << program->output();
    ExpectCentred("after the game start");

    // The user edits the game's profile: another tracking mode (another clip
    // model, applied as the radio button is pressed), then OK.
    ASSERT_EQ(game->ask("setparam 2 0"), "0");
    const std::size_t activations = Lines("Current profile: ").size();
    EditProfile("Flying", [&] { AltUntil(XK_p, "Clip model: ", "mounting location 0"); }); // "&Pendrix"
    ASSERT_TRUE(WaitUntil([&] { return Lines("Current profile: ").size() >= activations + 2; })) << program->output();
    EXPECT_EQ(SavedMotionType("Flying.xml"), 1);
    EXPECT_EQ(CurrentProfile(), "Flying") << program->output();
    EXPECT_EQ(ClipModel(), "mounting location 0") << "the edited profile's model is the engine's\n"
                                                  << program->output();
    ExpectCentred("after the game's profile was edited");
    // The change made the head's pose the centre (the program raised the
    // re-centred parameter), rather than leaving the old centre standing.
    EXPECT_EQ(game->ask("getparam 2"), "0 1");

    ASSERT_EQ(game->ask("recenter"), "0");
    ExpectCentred("after the game's re-centre");

    // Another profile edited and left as it was: it is current while the
    // editor is open, and afterwards the game's profile and its model are
    // back.
    const std::size_t before = Lines("Current profile: ").size();
    EditProfile("Desk", nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Lines("Current profile: ").size() >= before + 2; })) << program->output();
    const auto lines = Lines("Current profile: ");
    EXPECT_EQ(lines[before], "Desk");
    EXPECT_EQ(CurrentProfile(), "Flying") << program->output();
    EXPECT_EQ(ClipModel(), "mounting location 0") << program->output();
    EXPECT_EQ(SavedMotionType("Desk.xml"), 3);
    ExpectCentred("after the other profile was edited");
    EXPECT_EQ(game->ask("unreg"), "0");
}

} // namespace
