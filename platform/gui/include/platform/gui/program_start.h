#pragma once
// What the suite's programs (vistrel, vslmouse) do around their toolkit: the
// command line (--help, --version and the toolkit's own options), the
// platform when there is no display, the toolkit's known noise in a run
// without a screen, and SIGTERM/SIGINT, which end the program cleanly
// whenever they come.
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <QPointer>
#include <QSocketNotifier>
#include <QtGlobal>

namespace platform::gui {

// What the command line asks for. The programs take no options of their own
// but --help and --version; the toolkit's options (-platform, -display,
// -style, -session, ...) pass to it.
struct CommandLine {
    enum class Action { Run, Help, Version, Error } action = Action::Run;
    std::string error;    // one line, for Error
    std::string platform; // the value of -platform, when given
};
// `args` as main gets them (args[0] is the program); `program` is named in
// the error's hint ("try '<program> --help'").
CommandLine ParseCommandLine(std::span<const std::string> args, std::string_view program);
// Answers a command line that asks for no run: the help or the version text
// on standard output (exit status 0), or "<program>: <error>" on standard
// error (status 2). The exit status, or nullopt when the program is to run.
std::optional<int> AnswerCommandLine(const CommandLine& commandLine, std::string_view program,
                                     std::string_view helpText, std::string_view versionText);

// Without DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM the toolkit would
// abort for want of a display: the offscreen platform is chosen then (in the
// environment, so the -platform option still wins). True when it was.
// Before the QApplication is made.
bool ChooseOffscreenWithoutDisplay();

// Whether the toolkit will run without a screen: the -platform option, else
// QT_QPA_PLATFORM, names the offscreen or the minimal platform.
bool HeadlessPlatform(const CommandLine& commandLine);
bool IsHeadlessPlatformName(std::string_view name);

// The two warnings the toolkit writes in every run without a screen (no
// runtime folder; the offscreen platform's size hints): they say nothing to
// the user and hide the program's own lines.
bool IsHeadlessToolkitNoise(std::string_view message);

// While it lives, the toolkit's messages that IsHeadlessToolkitNoise names
// are dropped; every other one goes where it went before. One at a time.
class HeadlessNoiseFilter {
public:
    HeadlessNoiseFilter();
    ~HeadlessNoiseFilter();
    HeadlessNoiseFilter(const HeadlessNoiseFilter&) = delete;
    HeadlessNoiseFilter& operator=(const HeadlessNoiseFilter&) = delete;
};

// SIGTERM and SIGINT, caught from construction on. The handler only notes
// the signal (a flag and a byte in a pipe); the GUI thread reads the pipe
// from whatever event loop runs, a message box's included, and a signal that
// came before any loop ran is still seen by Requested(). One at a time; the
// destructor gives the signals their default actions back.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether the handlers are in place.
    bool ok() const { return ok_; }
    // Whether a signal came.
    bool Requested() const;
    // From the next event loop on (after the QCoreApplication exists),
    // `onStop` runs on the GUI thread for each signal, also for one that
    // came before. The watch ends with the application or this object.
    void Watch(std::function<void()> onStop);

private:
    bool ok_ = false;
    int pipe_[2] = {-1, -1};
    QPointer<QSocketNotifier> notifier_;
    std::function<void()> onStop_;
};

// Closes the modal dialogs that are open (message boxes first, the dialog
// that runs a program's loop last) as if the user cancelled them, so that
// their loops return.
void CancelModalDialogs();

} // namespace platform::gui
