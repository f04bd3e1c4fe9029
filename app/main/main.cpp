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

#include "app/dialog_base.h"
#include "app/frame/main_frame.h"
#include "app/frame/startup.h"
#include "app/placement.h"
#include "app/shell/texts.h"
#include "profiles/Languages.h"
#include "camera/camera_manager.h"
#include "camera/device_camera.h"
#include "platform/gui/message_pump.h"
#include "platform/power_notices.h"
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
        // A damaged file is kept beside under a dated name, the defaults
        // replace it, and the user hears of it this once.
        std::filesystem::path damaged;
        settings_.LoadOrCreate(CAppSettings::kFileName, &damaged);
        if (!damaged.empty())
            QMessageBox::warning(nullptr, QStringLiteral("Vistrel"),
                                 QString::fromStdU16String(CAppSettings::DamagedMessage(damaged)));
    }
    // The chosen language module, when it loads, supplies the texts; else
    // the built-in English ones stay.
    void LoadLanguage() override
    {
        auto texts = std::make_shared<app::CResourceTexts>();
        texts->LoadLanguage(kLanguageFolder, settings_.LanguageDll);
        texts_ = std::move(texts);
    }
    bool SiblingRunning() override
    {
        MutexHolder sibling(app_frame::kSiblingMutexName);
        return sibling.AlreadyExists();
    }
    void ReportSiblingRunning() override
    {
        QMessageBox::warning(nullptr, QStringLiteral("Vistrel"),
                             QString::fromStdU16String(texts_->Get(app::ids::kSiblingRunning)));
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
        o.texts = texts_;
        o.launcher = launcher_;
        frame_ = std::make_unique<CMainFrame>(std::move(o));
        // F1 and Help > Contents open the help page of the program folder.
        app::SetHelpHandler([this] {
            const std::filesystem::path page = folder_ / "Help" / "vsl4-index.html";
            launcher_->Open("file://" + page.string(), app::SW_SHOW);
        });
        if (!frame_->Create())
            return false;
        // Sleep and wake stop and restart the camera, as the frame's power
        // notices do.
        sleepWatch_ = platform::power::WatchSleep([window = frame_->Window()](platform::power::Notice n) {
            platform::postMessage(window, app_frame::WM_POWERBROADCAST_,
                                  n == platform::power::Notice::Suspend ? PBT_APMSUSPEND : PBT_APMRESUMESUSPEND, 0);
        });
        return true;
    }
    void ShowFrame() override { frame_->ShowInitially(); }

    // Stops the frame and the camera system, in that order.
    void Shutdown()
    {
        sleepWatch_.reset(); // joined before the window it posts to goes
        if (frame_)
            frame_->Shutdown();
        frame_.reset();
        app::SetHelpHandler(nullptr);
        Orvane::CameraManager::DestroyInstance();
        Orvane::CameraManager::SetDefaultBackend(nullptr);
        backend_.reset();
    }

private:
    MutexHolder& instance_;
    std::filesystem::path folder_;
    // Start-up's own copy of the settings, for the language; the sheet
    // loads the settings it runs on.
    CAppSettings settings_;
    std::shared_ptr<const app::CResourceTexts> texts_ = std::make_shared<app::CResourceTexts>();
    std::shared_ptr<app::UrlLauncher> launcher_ = std::make_shared<app::SpawnUrlLauncher>();
    std::unique_ptr<platform::usb::Backend> backend_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<platform::power::PowerWatch> sleepWatch_;
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

    // Named objects of the session that are not this user's are not used:
    // say which, and do not start.
    if (const std::string refused = SessionObjectsRefused(instance); !refused.empty()) {
        const std::string text = "Vistrel cannot start. " + refused;
        std::fprintf(stderr, "vistrel: %s\n", text.c_str());
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QMessageBox::critical(nullptr, QStringLiteral("Vistrel"), QString::fromStdString(text));
        return 1;
    }

    ProgramSteps steps(instance);
    int code = 0;
    if (RunStartup(steps))
        code = QApplication::exec();
    steps.Shutdown();
    instance.Close();
    return code;
}
