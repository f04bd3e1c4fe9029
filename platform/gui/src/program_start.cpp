#include "platform/gui/program_start.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QWidget>

namespace platform::gui {

namespace {

// Options the toolkit takes itself, with and without a value.
constexpr std::array kToolkitOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger", "qwindowgeometry",
    "qwindowicon", "qwindowtitle", "session", "display", "geometry", "name", "style", "stylesheet"};
constexpr std::array kToolkitFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <typename List>
bool Listed(const List& list, std::string_view name)
{
    return std::any_of(list.begin(), list.end(), [&](const char* known) { return name == known; });
}

bool Set(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The signal handler's view of the one StopSignals: lock-free atomics only
// (the handler may run on any of the program's threads).
std::atomic<int> stopWriteFd{-1};
std::atomic<int> stopRequested{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int)
{
    const int saved = errno;
    stopRequested.store(1);
    if (const int fd = stopWriteFd.load(std::memory_order_relaxed); fd >= 0) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &c, 1);
    }
    errno = saved;
}

QtMessageHandler previousHandler = nullptr;

void FilterNoise(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (IsHeadlessToolkitNoise(message.toStdString()))
        return;
    if (previousHandler != nullptr)
        previousHandler(type, context, message);
}

} // namespace

CommandLine ParseCommandLine(std::span<const std::string> args, std::string_view program)
{
    CommandLine out;
    const auto fail = [&](std::string text) {
        out.action = CommandLine::Action::Error;
        out.error = std::move(text) + " (try '" + std::string(program) + " --help')";
        return out;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out.action = CommandLine::Action::Help;
            return out;
        }
        if (arg == "--version" || arg == "-V") {
            out.action = CommandLine::Action::Version;
            return out;
        }
        if (arg.size() < 2 || arg[0] != '-')
            return fail("unexpected argument '" + arg + "'");
        // The toolkit accepts -name and --name, and -name=value.
        std::string_view name(arg);
        name.remove_prefix(name.size() > 2 && name[1] == '-' ? 2 : 1);
        const std::size_t equals = name.find('=');
        const bool inlineValue = equals != std::string_view::npos;
        std::string_view value;
        if (inlineValue) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (Listed(kToolkitFlags, name) && !inlineValue)
            continue;
        if (Listed(kToolkitOptionsWithValue, name)) {
            if (!inlineValue) {
                if (++i >= args.size())
                    return fail("option '" + arg + "' needs a value");
                value = args[i];
            }
            if (name == "platform")
                out.platform = std::string(value);
            continue;
        }
        return fail("unknown option '" + arg + "'");
    }
    return out;
}

std::optional<int> AnswerCommandLine(const CommandLine& commandLine, std::string_view program,
                                     std::string_view helpText, std::string_view versionText)
{
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fwrite(helpText.data(), 1, helpText.size(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fwrite(versionText.data(), 1, versionText.size(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(program.size()), program.data(), commandLine.error.c_str());
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    return std::nullopt;
}

bool ChooseOffscreenWithoutDisplay()
{
    if (Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM"))
        return false;
    return ::setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0;
}

bool IsHeadlessPlatformName(std::string_view name)
{
    // "offscreen:option=value": the plugin's name comes before its options.
    name = name.substr(0, name.find(':'));
    return name == "offscreen" || name == "minimal";
}

bool HeadlessPlatform(const CommandLine& commandLine)
{
    if (!commandLine.platform.empty())
        return IsHeadlessPlatformName(commandLine.platform);
    const char* env = std::getenv("QT_QPA_PLATFORM");
    return env != nullptr && IsHeadlessPlatformName(env);
}

bool IsHeadlessToolkitNoise(std::string_view message)
{
    return message.starts_with("QStandardPaths: XDG_RUNTIME_DIR not set") ||
           message == "This plugin does not support propagateSizeHints()";
}

HeadlessNoiseFilter::HeadlessNoiseFilter() { previousHandler = qInstallMessageHandler(FilterNoise); }

HeadlessNoiseFilter::~HeadlessNoiseFilter()
{
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}

StopSignals::StopSignals()
{
    stopRequested.store(0);
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    stopWriteFd.store(pipe_[1]);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ok_ = ::sigaction(SIGTERM, &sa, nullptr) == 0 && ::sigaction(SIGINT, &sa, nullptr) == 0;
}

StopSignals::~StopSignals()
{
    delete notifier_.data();
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    stopWriteFd.store(-1);
    for (int& fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}

bool StopSignals::Requested() const { return stopRequested.load() != 0; }

void StopSignals::Watch(std::function<void()> onStop)
{
    onStop_ = std::move(onStop);
    if (pipe_[0] < 0 || notifier_)
        return;
    // A byte already in the pipe (a signal before now) makes the first loop
    // that runs take it.
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier_.data(), &QSocketNotifier::activated, notifier_.data(), [this] {
        char buffer[16];
        bool came = false;
        while (::read(pipe_[0], buffer, sizeof buffer) > 0)
            came = true;
        if (came && onStop_)
            onStop_();
    });
}

void CancelModalDialogs()
{
    // Each rejected dialog leaves its loop; the one below it is next. A
    // modal window that is no dialog is closed; the count bounds the pass
    // should one refuse to go.
    for (int i = 0; i < 32; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

} // namespace platform::gui
