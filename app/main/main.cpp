// The Vistrel program: a single-instance tray application.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>

#include "app/frame/main_frame.h"
#include "app/frame/startup.h"
#include "camera/camera_manager.h"
#include "camera/device_camera.h"
#include "platform/gui/message_pump.h"
#include "simcam/hub.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// A SIGTERM or SIGINT ends the message loop, so shutdown runs in order.
bool InstallSignalHandlers()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &sa, nullptr) == 0 && ::sigaction(SIGINT, &sa, nullptr) == 0;
}

class ProgramSteps final : public IStartupSteps {
public:
    explicit ProgramSteps(MutexHolder& instance) : instance_(instance) {}

    void SetWorkingFolder() override
    {
        folder_ = ProgramFolder();
        std::error_code ec;
        if (!folder_.empty())
            std::filesystem::current_path(folder_, ec);
        else
            folder_ = std::filesystem::current_path(ec);
    }
    void LoadSettings() override
    {
        CAppSettings settings;
        if (settings.Load() != 0)
            settings.Save();
    }
    // The interface texts are built in; a language library is not loaded.
    void LoadLanguage() override {}
    bool SiblingRunning() override
    {
        MutexHolder sibling(app_frame::kSiblingMutexName);
        return sibling.AlreadyExists();
    }
    void ReportSiblingRunning() override
    {
        QMessageBox::warning(nullptr, QStringLiteral("Vistrel"),
                             QStringLiteral("Zorbel and Vistrel cannot be used at the same time.  Close Zorbel before running Vistrel."));
    }
    bool AlreadyRunning() override { return instance_.AlreadyExists(); }
    void HandOver() override { HandOverToRunningInstance(); }
    bool RegisterWindowClass() override { return true; }
    void PublishClientLocation() override
    {
        if (auto store = platform::registry::defaultStore())
            ::PublishClientLocation(*store, folder_);
    }
    bool CreateFrame() override
    {
        backend_ = simcam::makeSystemBackend();
        Orvane::CameraManager::SetDefaultBackend(backend_.get());
        CMainFrame::Options o;
        o.makeSheet = [this](platform::HWND main) {
            CSnapPropertySheet::Config c;
            c.mainWindow = main;
            c.makeCameraSystem = [this] {
                const int n = CSnapPropertySheet::kCameraNumber;
                return std::make_unique<Orvane::CameraSystemFacade>(
                    n, Orvane::MakeDeviceCameraFactory(*backend_, n, {}, folder_), Orvane::CameraSystemFacade::Options{});
            };
            return std::make_unique<CSnapPropertySheet>(std::move(c));
        };
        frame_ = std::make_unique<CMainFrame>(std::move(o));
        return frame_->Create();
    }
    void ShowFrame() override { frame_->ShowInitially(); }

    // Stops the frame and the camera system, in that order.
    void Shutdown()
    {
        if (frame_)
            frame_->Shutdown();
        frame_.reset();
        Orvane::CameraManager::DestroyInstance();
        Orvane::CameraManager::SetDefaultBackend(nullptr);
        backend_.reset();
    }

private:
    MutexHolder& instance_;
    std::filesystem::path folder_;
    std::unique_ptr<platform::usb::Backend> backend_;
    std::unique_ptr<CMainFrame> frame_;
};

} // namespace

int main(int argc, char** argv)
{
    MutexHolder instance(app_frame::kInstanceMutexName);
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    platform::gui::MessagePump pump;
    if (!InstallSignalHandlers()) {
        std::fputs("vistrel: cannot install signal handlers\n", stderr);
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &qt, [] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::exit(0);
    });

    ProgramSteps steps(instance);
    int code = 0;
    if (RunStartup(steps))
        code = QApplication::exec();
    steps.Shutdown();
    instance.Close();
    return code;
}
