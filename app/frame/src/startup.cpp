#include "app/frame/startup.h"

#include "client/ovclient.h"

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
    // The client library's objects, opened as the library opens them: games
    // would meet another user's section and mutexes there.
    if (!platform::SharedSection::open(OV_SECTION_NAME, sizeof(OVSharedSection), OVInitSharedSection))
        return platform::sharedObjectError();
    for (const char* mutex : {OV_RECORD_MUTEX_NAME, OV_COMMAND_MUTEX_NAME})
        if (!platform::NamedMutex::open(mutex))
            return platform::sharedObjectError();
    return {};
}

bool RunStartup(IStartupSteps& steps)
{
    steps.SetWorkingFolder();
    steps.LoadSettings();
    if (steps.StopRequested())
        return false;
    steps.LoadLanguage();
    if (steps.StopRequested())
        return false;
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
    if (steps.StopRequested() || !steps.CreateFrame() || steps.StopRequested())
        return false;
    steps.ShowFrame();
    return !steps.StopRequested();
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
