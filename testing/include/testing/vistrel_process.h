#pragma once
// The real main program for a test, run the way a user runs it: started
// from a private copy of the program folder (so its settings, profiles and
// recordings are its own), on the simulated camera, headless or on a given X
// display, with a session and a registry of its own that the test process
// and every child it starts share. Stopped with SIGTERM and a bounded wait.
//
// A test that uses it is declared with orvane_uses_program(<target>) in its
// CMakeLists.txt, which gives VISTREL_PATH; the game stand-in beside it is
// testing_support::ClientProcess with OVCLIENT_BIN / OVCLIENT_LIBRARY.
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

namespace testing_support {

struct VistrelOptions {
    // The program to copy; its folder is the build's program folder.
    std::filesystem::path program;
    // Text of a scene file for the simulated camera ("key value" lines);
    // empty: the camera's default scene.
    std::string scene;
    // An X display (":5") to show the windows on; empty: headless.
    std::string display;
    // Files to place in the program folder before the start (name, text),
    // e.g. "settings.xml" or "Profiles/My.xml".
    std::vector<std::pair<std::string, std::string>> files;
    // More environment for the program (name, value); these win.
    std::vector<std::pair<std::string, std::string>> env;
    // Variables the program must not get at all, inherited or set above
    // (ORVANE_DEBUG of a developer's shell, say, or "QT_QPA_PLATFORM").
    std::vector<std::string> unset;
    // Standard error to a file of its own (errors()) rather than mixed into
    // standard output.
    bool separateErrors = false;
    // Whether the constructor waits (bounded) until the program is up; a
    // test that stops it while it starts does not.
    bool waitReady = true;
    // Runs with the program's session name just before the start (to set
    // up what the program meets in its session).
    std::function<void(const std::string& session)> beforeStart;
    std::vector<std::string> args;
    // Whether the game view library is in the folder. Off by default: it
    // would look for games among every process of the user, and other
    // tests run stand-in games of their own at the same time.
    bool viewLibrary = false;
    // Whether the simulated camera takes faults from a FIFO of the test's
    // (VistrelProcess::camera; the commands are in simcam/control.h).
    bool cameraControl = false;
    // Runs the program installed under this prefix (<prefix>/bin/vistrel)
    // as it is, in place of a copy of the build's program folder; it then
    // works in $XDG_DATA_HOME/orvane inside the test's folder, where
    // `files` go too. The install's view library is the test's to keep out.
    std::filesystem::path prefix;
};

#ifdef VISTREL_PATH
// Options for the program this test was built beside.
inline VistrelOptions ProgramOptions()
{
    VistrelOptions options;
    options.program = VISTREL_PATH;
    return options;
}
#endif

class VistrelProcess {
public:
    // Prepares the folder and starts the program; ready() tells whether it
    // came up (its main window and its game command window exist; false
    // at once without waitReady).
    explicit VistrelProcess(VistrelOptions options);
    ~VistrelProcess();
    VistrelProcess(const VistrelProcess&) = delete;
    VistrelProcess& operator=(const VistrelProcess&) = delete;

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }
    // The folder the program works in: its program folder, or for an
    // installed program its folder in $XDG_DATA_HOME.
    const std::filesystem::path& folder() const { return work_; }
    // The test's own folder (the XDG folders are inside).
    const std::filesystem::path& root() const { return folder_.path(); }
    const TempSession& session() const { return session_; }
    const TempRegistry& registry() const { return registry_; }

    // SIGTERM, then waits at most `limit` for the exit: the exit code, 128 +
    // signal when a signal ended it, or -1 when it had to be killed.
    int stop(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Whether the program is still running (reaps it when it has ended).
    bool running();
    // Sends `signal` to the program while it runs; false once it has ended.
    bool signal(int signal);
    // What the program wrote to standard output and error so far.
    std::string output() const;
    // What it wrote to standard error alone (separateErrors on; else empty).
    std::string errors() const;
    // What follows `prefix` on each line of output() that starts with it,
    // in order (the program's debug lines, say).
    std::vector<std::string> lines(const std::string& prefix) const;
    // Sends one command line to the simulated camera (cameraControl on),
    // e.g. "unplug"; false when it could not be written within a few seconds.
    bool camera(const std::string& command);

private:
    TempSession session_;
    TempRegistry registry_;
    TempDir folder_{"vistrel-folder"};
    std::filesystem::path work_;
    pid_t pid_ = -1;
    int exitCode_ = -1;
    bool ready_ = false;
};

// Polls `condition` every few milliseconds until it holds or `limit` has
// passed; returns its last value. For conditions another process makes true.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

} // namespace testing_support
