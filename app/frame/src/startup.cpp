#include "app/frame/startup.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <system_error>

MutexHolder::MutexHolder(std::string_view name) : mutex_(platform::NamedMutex::open(name))
{
    if (!mutex_) {
        refusal_ = platform::sharedObjectError();
        return;
    }
    const platform::LockResult r = mutex_->lock(std::chrono::milliseconds(0));
    owned_ = platform::holds(r);
    alreadyExists_ = r == platform::LockResult::Timeout;
}

void MutexHolder::Close()
{
    if (mutex_ && owned_)
        mutex_->unlock();
    owned_ = false;
    mutex_.reset();
}

std::string SessionObjectsRefused(const MutexHolder& instance)
{
    if (!instance.IsOpen())
        return instance.Refusal();
    if (!platform::openWindowTable())
        return platform::sharedObjectError();
    return {};
}

bool RunStartup(IStartupSteps& steps)
{
    steps.SetWorkingFolder();
    steps.LoadSettings();
    steps.LoadLanguage();
    if (steps.SiblingRunning()) {
        steps.ReportSiblingRunning();
        return false;
    }
    if (steps.AlreadyRunning()) {
        steps.HandOver();
        return false;
    }
    if (!steps.RegisterWindowClass())
        return false;
    steps.PublishClientLocation();
    if (!steps.CreateFrame())
        return false;
    steps.ShowFrame();
    return true;
}

bool HandOverToRunningInstance()
{
    const platform::HWND running = platform::findWindow(app_frame::kWindowClass, nullptr);
    if (running == 0)
        return false;
    return platform::postMessage(running, app_frame::WM_COMMAND_, app_frame::ID_RESTORE, 0);
}

void PublishClientLocation(platform::registry::Store& store, const std::filesystem::path& folder)
{
    // The folder as the system spells it, then one backslash: the clients
    // take what comes before the last separator of either kind.
    std::u16string text = folder.u16string();
    text.push_back(u'\\');
    using platform::registry::Root;
    if (store.createKey(Root::CurrentUser, app_frame::kClientLocationKey) != platform::registry::kSuccess)
        return;
    store.setString(Root::CurrentUser, app_frame::kClientLocationKey, u"Path", text, false);
}

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

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLine out;
    const auto fail = [&](std::string text) {
        out.action = CommandLine::Action::Error;
        out.error = std::move(text) + " (try 'vistrel --help')";
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
        if (inlineValue)
            name = name.substr(0, equals);
        if (Listed(kToolkitFlags, name) && !inlineValue)
            continue;
        if (Listed(kToolkitOptionsWithValue, name)) {
            if (!inlineValue && ++i >= args.size())
                return fail("option '" + arg + "' needs a value");
            continue;
        }
        return fail("unknown option '" + arg + "'");
    }
    return out;
}

std::string HelpText()
{
    return "Usage: vistrel [--help | --version]\n"
           "Orvane head tracking: the tray program that runs the camera, tracks the head\n"
           "and hands the pose to games.\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "  -V, --version  show the version and exit\n"
           "\n"
           "Only one copy runs per user: a second start brings the running one to the front.\n"
           "\n"
           "Environment:\n"
           "  ORVANE_CAMERA    sim (simulated camera), usb (real cameras) or auto\n"
           "  ORVANE_USB_IDS   cameras' USB ids, vvvv:pppp,...; a leading + adds to the built-in ones\n"
           "  ORVANE_DEBUG     1: diagnostic output on standard error\n"
           "\n"
           "Files: settings.xml and Profiles/ in $XDG_DATA_HOME/orvane (~/.local/share/orvane)\n"
           "for an installed program, beside the program in a build tree.\n"
           "See vistrel(1).\n";
}

std::string VersionText(std::string_view version)
{
    return "vistrel (Orvane head tracking) " + std::string(version) + "\n";
}
