// The Vistrel program: a single-instance tray application.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
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
#include "platform/gui/program_start.h"
#include "platform/power_notices.h"
#include "platform/program_folders.h"
#include "profiles/ProfileList.h"
#include "simcam/hub.h"
#include "windows/curve_object.h"

namespace {

class ProgramSteps final : public IStartupSteps {
public:
    ProgramSteps(MutexHolder& instance, const platform::gui::StopSignals& stop, bool headless)
        : instance_(instance), stop_(stop), headless_(headless)
    {
    }

    // What the user is told: a message box on a screen; on standard error
    // without one (nobody could answer a box there), and once the program
    // is stopping (the box would hold up the stop).
    void Tell(std::u16string_view text) const
    {
        const QString message = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
        if (headless_ || stop_.Requested()) {
            std::fprintf(stderr, "vistrel: %s\n", message.toStdString().c_str());
            return;
        }
        QMessageBox::warning(nullptr, QStringLiteral("Vistrel"), message);
    }
    bool StopRequested() override { return stop_.Requested(); }

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
        // A damaged file is kept beside under a dated name and the defaults
        // replace it; the user hears of it this once, in the interface
        // language (below).
        settings_.LoadOrCreate(CAppSettings::kFileName, &damagedSettings_);
    }
    // The chosen language module, when it loads, supplies the texts; else
    // the built-in English ones stay.
    void LoadLanguage() override
    {
        auto texts = std::make_shared<app::CResourceTexts>();
        texts->LoadLanguage(kLanguageFolder, settings_.LanguageDll);
        texts_ = std::move(texts);
        if (!damagedSettings_.empty())
            Tell(CAppSettings::DamagedMessage(damagedSettings_,
                                              LanguageText(Texts(), kSettingsDamagedId, kSettingsDamaged)));
    }
    bool SiblingRunning() override
    {
        MutexHolder sibling(app_frame::kSiblingMutexName);
        return sibling.AlreadyExists();
    }
    void ReportSiblingRunning() override { Tell(texts_->Get(app::ids::kSiblingRunning)); }
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
            c.texts = Texts();
            c.tellUser = [this](std::u16string_view text) { Tell(text); };
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
        // without a word (headless, the line on standard error said it).
        if (!folderProblem_.empty() && !headless_) {
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
    TextLookup Texts() const
    {
        return [texts = texts_](unsigned id) { return texts->Get(id); };
    }

    MutexHolder& instance_;
    const platform::gui::StopSignals& stop_;
    const bool headless_;
    std::filesystem::path damagedSettings_; // where damaged settings were kept, empty when they were not
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
    // First of all, so that a stop is never lost: from here on SIGTERM and
    // SIGINT end the program in order, whenever they come.
    platform::gui::StopSignals stop;
    // Before the toolkit, which needs a display: --help and --version work without one.
    const std::vector<std::string> args(argv, argv + argc);
    const platform::gui::CommandLine commandLine = platform::gui::ParseCommandLine(args, "vistrel");
    if (const auto exit =
            platform::gui::AnswerCommandLine(commandLine, "vistrel", HelpText(), VersionText(ORVANE_VERSION)))
        return *exit;
    if (!stop.ok()) {
        std::fputs("vistrel: cannot install signal handlers\n", stderr);
        return 1;
    }
    // With no display at all the program runs headless rather than abort.
    platform::gui::ChooseOffscreenWithoutDisplay();
    std::optional<platform::gui::HeadlessNoiseFilter> quietToolkit;
    if (platform::gui::HeadlessPlatform(commandLine))
        quietToolkit.emplace();

    MutexHolder instance(app_frame::kInstanceMutexName);
    bool inMessageLoop = false;
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    platform::gui::MessagePump pump;
    // A stop during start-up cancels the message box that is up (start-up
    // then goes no further); in the message loop it ends the loop.
    stop.Watch([&inMessageLoop] {
        platform::gui::CancelModalDialogs();
        if (inMessageLoop)
            QCoreApplication::exit(0);
    });
    if (stop.Requested())
        return 0;

    const QString platformName = QGuiApplication::platformName();
    const bool headless = platform::gui::IsHeadlessPlatformName(platformName.toStdString());

    // Named objects of the session that are not this user's are not used:
    // say which, and do not start.
    if (const std::string refused = SessionObjectsRefused(instance); !refused.empty()) {
        const std::string text = "Vistrel cannot start. " + refused;
        std::fprintf(stderr, "vistrel: %s\n", text.c_str());
        if (!headless && !stop.Requested())
            QMessageBox::critical(nullptr, QStringLiteral("Vistrel"), QString::fromStdString(text));
        return 1;
    }

    ProgramSteps steps(instance, stop, headless);
    // Without a window on screen, a line on standard output tells that the
    // camera runs and the head is tracked.
    if (headless)
        steps.WriteStatusLines();
    int code = 0;
    if (RunStartup(steps)) {
        // The math library's companion file stays loaded for the whole run.
        const CCurveDllImpl curveCompanion;
        inMessageLoop = true;
        if (!stop.Requested())
            code = QApplication::exec();
        inMessageLoop = false;
    }
    steps.Shutdown();
    instance.Close();
    return code;
}
