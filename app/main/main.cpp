// The Vistrel program: a single-instance tray application.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "app/dialog_base.h"
#include "app/frame/main_frame.h"
#include "app/frame/startup.h"
#include "app/placement.h"
#include "app/shell/texts.h"
#include "app/url_launcher.h"
#include "profiles/Languages.h"
#include "camera/camera_manager.h"
#include "camera/device_camera.h"
#include "platform/gui/message_pump.h"
#include "platform/power_notices.h"
#include "platform/program_folders.h"
#include "profiles/ProfileList.h"
#include "simcam/hub.h"
#include "windows/curve_object.h"

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

    // The program folder of a build tree, or the user's data folder of an
    // installed program (made and seeded on the first start); every relative
    // name of the program resolves through these folders from now on.
    void SetWorkingFolder() override
    {
        std::error_code ec;
        if (const std::filesystem::path exe = platform::ownExecutable(); !exe.empty()) {
            folders_ = platform::programFoldersFor(exe);
        } else {
            const std::filesystem::path here = std::filesystem::current_path(ec);
            folders_ = platform::ProgramFolders{here, here, here, false};
        }
        const std::string profiles = std::filesystem::path(std::u16string(kProfilesFolder)).string();
        folderProblem_ = platform::prepareWorkFolder(folders_, {CAppSettings::kFileName, profiles});
        platform::setProgramFolders(folders_);
        // Without its folder the program runs on what it ships: reads find
        // the shipped settings and profiles, writes fail and are reported.
        std::filesystem::current_path(folders_.work, ec);
        if (ec) {
            if (folderProblem_.empty())
                folderProblem_ = "cannot use the folder " + folders_.work.string() + ": " + ec.message();
            std::filesystem::current_path(folders_.data, ec);
        }
        if (!folderProblem_.empty())
            std::fprintf(stderr, "vistrel: %s; settings, profiles and recordings will not be saved\n",
                         folderProblem_.c_str());
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
        // Clients load the client library from the folder named here.
        if (auto store = platform::registry::defaultStore())
            ::PublishClientLocation(*store, folders_.libraries);
    }
    bool CreateFrame() override
    {
        // An installed program looks for real cameras unless told otherwise;
        // a build tree runs on the simulated one.
        backend_ = simcam::makeSystemBackend(folders_.installed ? platform::usb::BackendChoice::Usb
                                                                 : platform::usb::BackendChoice::Sim);
        Orvane::CameraManager::SetDefaultBackend(backend_.get());
        CMainFrame::Options o;
        o.makeSheet = [this](platform::HWND main) {
            CSnapPropertySheet::Config c;
            c.mainWindow = main;
            c.texts = [texts = texts_](unsigned id) { return texts->Get(id); };
            c.makeCameraSystem = [this] {
                const int n = CSnapPropertySheet::kCameraNumber;
                return std::make_unique<Orvane::CameraSystemFacade>(
                    n, Orvane::MakeDeviceCameraFactory(*backend_, n), Orvane::CameraSystemFacade::Options{});
            };
            return std::make_unique<CSnapPropertySheet>(std::move(c));
        };
        o.texts = texts_;
        o.launcher = launcher_;
        o.statusLines = statusLines_;
        o.errorLines = errorLines_;
        frame_ = std::make_unique<CMainFrame>(std::move(o));
        // F1 and Help > Contents open the program's help page.
        app::SetHelpHandler([this] {
            // The page is found where the program's shipped files are.
            const std::filesystem::path page = platform::resolve("Help/vsl4-index.html");
            const std::u16string error = app::OpenHelpPage(page.parent_path().parent_path(), *launcher_);
            if (!error.empty()) {
                QApplication::beep();
                QMessageBox::warning(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                                       : frame_.get(),
                                     QStringLiteral("Vistrel"), QString::fromStdU16String(error));
            }
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
    void ShowFrame() override
    {
        frame_->ShowInitially();
        // Once, and clearly: the user's changes would otherwise be lost
        // without a word.
        if (!folderProblem_.empty()) {
            auto* box = new QMessageBox(
                QMessageBox::Warning, QStringLiteral("Vistrel"),
                QStringLiteral("Vistrel cannot save in its folder: %1.\n\nSettings, profiles and recordings will "
                               "not be saved until the folder can be written.")
                    .arg(QString::fromStdString(folderProblem_)),
                QMessageBox::Ok, frame_.get());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setModal(false);
            box->show();
        }
    }
    // Short status lines on standard output (a program without a window on screen).
    void WriteStatusLines()
    {
        statusLines_ = [](std::string_view line) {
            std::fprintf(stdout, "%.*s\n", static_cast<int>(line.size()), line.data());
            std::fflush(stdout);
        };
        errorLines_ = [](std::string_view line) {
            std::fprintf(stderr, "vistrel: %.*s\n", static_cast<int>(line.size()), line.data());
        };
    }

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
        platform::setProgramFolders(std::nullopt);
    }

private:
    MutexHolder& instance_;
    platform::ProgramFolders folders_;
    std::string folderProblem_; // why the working folder cannot be written, empty when it can
    std::function<void(std::string_view)> statusLines_;
    std::function<void(std::string_view)> errorLines_;
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
    // Before the toolkit, which needs a display: --help and --version work without one.
    const CommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv, argv + argc));
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fputs(VersionText(ORVANE_VERSION).c_str(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "vistrel: %s\n", commandLine.error.c_str());
        return 2;
    case CommandLine::Action::Run:
        break;
    }

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

    const QString platformName = QGuiApplication::platformName();
    const bool headless = platformName == QLatin1String("offscreen") || platformName == QLatin1String("minimal");

    // Named objects of the session that are not this user's are not used:
    // say which, and do not start.
    if (const std::string refused = SessionObjectsRefused(instance); !refused.empty()) {
        const std::string text = "Vistrel cannot start. " + refused;
        std::fprintf(stderr, "vistrel: %s\n", text.c_str());
        if (!headless)
            QMessageBox::critical(nullptr, QStringLiteral("Vistrel"), QString::fromStdString(text));
        return 1;
    }

    ProgramSteps steps(instance);
    // Without a window on screen, a line on standard output tells that the
    // camera runs and the head is tracked.
    if (headless)
        steps.WriteStatusLines();
    int code = 0;
    if (RunStartup(steps)) {
        // The math library's companion file stays loaded for the whole run.
        const CCurveDllImpl curveCompanion;
        code = QApplication::exec();
    }
    steps.Shutdown();
    instance.Close();
    return code;
}
