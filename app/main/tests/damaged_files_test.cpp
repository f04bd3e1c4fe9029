// The program started by a user whose files were damaged: a profile cut to
// a few bytes, a settings file with a bad byte, and the temporary files of
// saves that a crash cut short. It starts, tells the user (who presses
// Return on each message), keeps the damaged files, removes only its own
// leftovers, and starts quietly the next time.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "testing/temp_dir.h"
#include "testing/vistrel_process.h"
#include "testing/xvfb_server.h"

// Last: Xlib's macros (Status, ...) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Presses Return on the display every few hundred milliseconds while it
// lives: the user answering whatever message the program shows. The display
// is opened here, not on the thread: Xlib reads the environment there,
// which the test's own set-up changes meanwhile (the session's name).
class ReturnPresser {
public:
    explicit ReturnPresser(const std::string& display)
        : display_(XOpenDisplay(display.c_str())),
          return_(display_ != nullptr ? XKeysymToKeycode(display_, XK_Return) : 0),
          thread_([this, d = display_, key = return_] {
              if (d == nullptr)
                  return;
              while (!stop_.load()) {
                  XTestFakeKeyEvent(d, key, True, CurrentTime);
                  XTestFakeKeyEvent(d, key, False, CurrentTime);
                  XSync(d, False);
                  presses_.fetch_add(1);
                  std::this_thread::sleep_for(300ms);
              }
              XCloseDisplay(d);
          })
    {
    }
    ~ReturnPresser()
    {
        stop_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> presses_{0};
    Display* display_; // closed by the thread
    KeyCode return_;
    std::thread thread_;
};

TEST(DamagedFiles, TheProgramStartsKeepsThemAndTellsTheUserOnce)
{
    testing_support::XvfbServer x;
    if (!x.ready())
        GTEST_SKIP() << "no Xvfb";
    // The first bytes of a UTF-16 profile file, as a crash during a copy leaves it.
    const std::string cut("<\0?\0x\0m\0l\0 \0v\0e", 15);
    const std::string settings = "<Settings>\r\n  <CameraRotation>2</Camera<otation>\r\n</Settings>\r\n";
    auto options = testing_support::ProgramOptions();
    options.display = x.name();
    // On an X display Qt brings in D-Bus, whose library keeps allocations
    // the leak checker of a sanitizer build counts against the program.
    testing_support::TempDir scratch{"damaged-files"};
    std::ofstream(scratch.file("lsan.supp")) << "leak:libdbus-1.so\n";
    options.env.emplace_back("LSAN_OPTIONS", "suppressions=" + scratch.file("lsan.supp").string());
    options.files = {
        {"Profiles/Cut.xml", cut},
        {"settings.xml", settings},
        {".settings.xml.tmp-Ab12Cd", "<Settings>"},
        {"Profiles/.Racing.xml.tmp-Zz99Yy", "<"},
        {"Profiles/notes.txt", "mine"},
    };
    auto again = options;
    again.files.clear();
    {
        auto user = std::make_unique<ReturnPresser>(x.name());
        testing_support::VistrelProcess program(options);
        user.reset(); // once it is up, nobody presses anything
        ASSERT_TRUE(program.ready()) << program.output();
        const fs::path folder = program.folder();
        EXPECT_EQ(program.stop(), 0) << program.output();

        // The damaged files are where they were, or beside under a dated name.
        EXPECT_EQ(readFile(folder / "Profiles/Cut.xml"), cut);
        int kept = 0;
        for (const auto& e : fs::directory_iterator(folder))
            if (e.path().filename().string().rfind("settings-damaged-", 0) == 0) {
                ++kept;
                EXPECT_EQ(readFile(e.path()), settings);
            }
        EXPECT_EQ(kept, 1);
        // Only the program's own leftovers are gone.
        EXPECT_FALSE(fs::exists(folder / ".settings.xml.tmp-Ab12Cd"));
        EXPECT_FALSE(fs::exists(folder / "Profiles/.Racing.xml.tmp-Zz99Yy"));
        EXPECT_EQ(readFile(folder / "Profiles/notes.txt"), "mine");

        // The next start gets the files this one left, less the cut
        // profile (whose message would rightly come again).
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            const std::string name = fs::relative(e.path(), folder).string();
            if (e.is_regular_file() && (name == "settings.xml" || name.rfind("Profiles/", 0) == 0) &&
                name != "Profiles/Cut.xml")
                again.files.emplace_back(name, readFile(e.path()));
        }
    }

    // The fresh settings load, so nothing more is said: the program comes
    // up with no one pressing anything.
    testing_support::VistrelProcess quiet(again);
    ASSERT_TRUE(quiet.ready()) << quiet.output();
    EXPECT_EQ(quiet.stop(), 0) << quiet.output();
}

} // namespace
