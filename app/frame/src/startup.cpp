#include "app/frame/startup.h"

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

std::filesystem::path ProgramFolder()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return exe.parent_path();
}
