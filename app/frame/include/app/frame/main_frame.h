#pragma once
// The main window: menus, a four-pane status bar, the tray icon (when the
// desktop has a tray), the main sheet in the client area with its pages,
// and the monitor windows in their slots. Its message window (class
// "VistrelClass") is what a second start and the rest of the program post to.
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <thread>

#include <QMainWindow>

#include "app/frame/startup.h"
#include "app/frame/status_lines.h"
#include "app/frame/status_text.h"
#include "app/placement.h"
#include "app/shell/autostart.h"
#include "app/shell/monitor_slots.h"
#include "app/shell/monitor_windows.h"
#include "app/shell/sheet_hosts.h"
#include "app/shell/texts.h"
#include "app/snap_property_sheet.h"
#include "app/snapper.h"
#include "app/status_bar.h"
#include "app/url_launcher.h"

class QAction;
class QDialog;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace app_frame {

// Menu commands.
inline constexpr platform::WPARAM ID_VIEW_TRACKING = 32774;
inline constexpr platform::WPARAM ID_VIEW_HEADS = 32775;
inline constexpr platform::WPARAM ID_VIEW_GAUGES = 32776;
inline constexpr platform::WPARAM ID_RUN_AT_STARTUP = 32780;
inline constexpr platform::WPARAM ID_RUN_MINIMIZED = 32781;
inline constexpr platform::WPARAM ID_CLOSE_TO_TRAY = 32782;
inline constexpr platform::WPARAM ID_SOFTWARE_UPDATES = 32783;
// The main window's size, kept beside its position in "Settings".
inline constexpr const char* kWidthValue = "width";
inline constexpr const char* kHeightValue = "height";
// Saves the main window's placement and size in "Settings" as one change.
void SaveFramePlacement(app::CAppProfile& profile, const app::WindowPlacement& placement, int width, int height);
inline constexpr platform::WPARAM ID_HELP_CONTENTS = 32784;
inline constexpr platform::WPARAM ID_GAME_UPDATES = 32786;
inline constexpr platform::WPARAM ID_PERIODIC_NEWS = 32787;
inline constexpr platform::WPARAM ID_RECORDING = 32788;
inline constexpr platform::WPARAM ID_PLAYBACK = 32789;
inline constexpr platform::WPARAM ID_CONFIRM_CLOSE = 32790;
inline constexpr platform::WPARAM ID_APP_ABOUT = 57664;
inline constexpr platform::WPARAM ID_HELP = 57670;
inline constexpr platform::WPARAM ID_LANGUAGE_FIRST = 60000;

inline constexpr platform::UINT WM_DEVICECHANGE_ = 0x0219;
inline constexpr platform::UINT WM_POWERBROADCAST_ = 0x0218;
// Device events that wake the camera thread; the camera library's own
// notice carries 0.
inline constexpr platform::WPARAM DBT_LIBRARY_NOTICE = 0;
inline constexpr platform::WPARAM DBT_DEVNODES_CHANGED = 7;
inline constexpr platform::WPARAM DBT_DEVICEARRIVAL = 0x8000;
inline constexpr platform::WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;

// The close box shows the "still running" balloon this many times in all.
inline constexpr int kBalloonLimit = 3;
inline constexpr int kBalloonSeconds = 10;

// The profile's first-run placements: section, x, y.
struct DefaultPlacement {
    const char* section;
    int x;
    int y;
};
inline constexpr std::array<DefaultPlacement, 5> kDefaultPlacements{{
    {"Settings", 1, 1},
    {"heads", 1, 390},
    {"gauges", 480, 300},
    {"world", 800, 1},
    {"tracking", 480, 1},
}};

// On the first run ("Settings"/"FirstTimeRun" missing) writes the default
// window positions and marks the run; true when it did.
bool WriteFirstRunPlacements(app::CAppProfile& profile);

// Which monitor slot a View command toggles; -1 for other commands.
int SlotOfViewCommand(platform::WPARAM id);

// Whether a WM_DEVICECHANGE event is one the camera thread must hear of.
bool IsCameraDeviceEvent(platform::WPARAM event);

} // namespace app_frame

class CMainFrame : public QMainWindow, private IFrameWindows {
    Q_OBJECT
public:
    struct Options {
        // Makes the main sheet, told the frame's message window.
        std::function<std::unique_ptr<CSnapPropertySheet>(platform::HWND mainWindow)> makeSheet;
        // Asked before closing while ConfirmClose is on; null: a message box.
        std::function<bool()> confirmClose;
        // Whether to add a tray icon when the desktop has a tray.
        bool useTray = true;
        // The interface texts (null: the built-in ones).
        std::shared_ptr<const app::CResourceTexts> texts;
        // Questions, messages and the modal editors (null: the desktop's).
        std::shared_ptr<app::IShellDialogs> dialogs;
        // How web pages and the help page are opened (null: xdg-open).
        std::shared_ptr<app::UrlLauncher> launcher;
        // Where "Run at Startup" puts its entry and the program it names.
        std::filesystem::path autostartFolder = app::DefaultAutostartFolder();
        std::filesystem::path programPath;
        app::CMonitorWindowFactory::Options monitors;
        // When set, a short line goes here each time the camera starts or
        // stops and the head is tracked or lost, at most one a second (a
        // program without a window on screen).
        std::function<void(std::string_view line)> statusLines;
        // When set, what goes wrong at shutdown (a recording that could not
        // be saved) is told here in a line rather than in a message box (a
        // program without a window on screen).
        std::function<void(std::string_view line)> errorLines;
    };

    explicit CMainFrame(Options options, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Creates the window, status bar, menus, tray icon, the sheet with its
    // pages (which starts everything) and the monitor slots; false when a
    // part could not be made.
    bool Create();
    // Stops everything in order (camera thread; placements and open windows
    // saved; monitor windows closed; the sheet); safe to call twice.
    void Shutdown();

    platform::HWND Window() const { return hwnd_; }
    CSnapPropertySheet* Sheet() const { return sheet_.get(); }
    app::CMonitorSlots* Monitors() const { return monitors_.get(); }
    bool HasTrayIcon() const { return tray_ != nullptr; }
    // Posts WM_UPDATE_STATUS to the frame's message window.
    void NotifyStateChanged();
    // The status pane's text (for the status bar and tests).
    std::u16string PaneText(int index) const { return panes_[static_cast<std::size_t>(index)]; }
    // Runs a menu command.
    void OnCommand(platform::WPARAM id);
    // The show state chosen from the settings (5 shown, 2 minimised, 0 hidden).
    int InitialShowCommand() const { return showCommand_; }
    void ShowInitially();
    bool CloseToTray() const { return closeToTrayFlag_; }
    // Whether "Check for Software Updates" is waiting for the server.
    bool CheckingSoftwareUpdates() const { return updateCheck_.joinable(); }
    // The About box (shown modally by the About command).
    std::unique_ptr<QDialog> CreateAboutBox();

    // The menu action of a command (null when there is none); its checked
    // and enabled states are brought up to date first.
    QAction* CommandAction(platform::WPARAM id);
    QMenu* LanguageMenu() const { return languageMenu_; }
    QMenu* TrayMenu() const { return trayMenu_.get(); }

    // The frame's message procedure (device, power and window notices).
    platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam);

    // ---- IFrameWindows ----
    void ShowChildWindows(bool force) override;
    void CloseChildWindows(bool remember) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateStatus();
    void WriteStatusLine(bool cameraRunning, bool tracked);
    void BuildMenus();
    void BuildLanguageMenu();
    void UpdateMenuStates();
    void CreateTray();
    void ToggleSetting(std::int32_t CAppSettings::*field);
    void TogglePeriodicNews();
    void SelectLanguage(int index);
    void ToggleRecording();
    // Text 3204 for a recording the engine could not save (`error`).
    std::u16string RecordingNotSavedText(std::uint32_t error);
    // Finishes a recording still running when the program ends, and tells
    // a failure.
    void FinishRecordingAtExit();
    void TogglePlayback();
    void CheckGameUpdates();
    void OpenSoftwareUpdatePage();
    void ShowSoftwareUpdateResult(int reached);
    void ShowAbout();
    void Restore();
    // The close box with close-to-tray on: hidden, monitors closed and
    // remembered, the balloon the first few times.
    void CloseToTrayNow();
    void PlaceFromProfile();
    void SavePlacement();
    std::u16string Text(unsigned id) const;
    QAction* AddCommand(QMenu* menu, const QString& text, platform::WPARAM id, bool checkable = false);

    Options options_;
    platform::HWND hwnd_ = 0;
    std::unique_ptr<app::CSnapper> snapper_;
    // Declared before the sheet: the pages and editors reach the program
    // through these while the sheet lives.
    std::unique_ptr<app::CMonitorWindowFactory> monitorFactory_;
    std::unique_ptr<app::CMonitorSlots> monitors_;
    std::unique_ptr<app::CSheetProfileEditorHost> editorHost_;
    std::unique_ptr<app::CSheetPagesHost> pagesHost_;
    std::unique_ptr<app::CSheetViewLibraryHost> viewsHost_;
    std::unique_ptr<app::CAppProfile> profile_;
    std::unique_ptr<CSnapPropertySheet> sheet_;
    CColoredStatusBar* statusBar_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<QMenu> trayMenu_;
    QMenu* languageMenu_ = nullptr;
    std::map<platform::WPARAM, QAction*> actions_;
    std::array<std::u16string, 4> panes_;
    std::unique_ptr<CStatusLines> statusLines_;
    QTimer* statusLineTimer_ = nullptr;
    int showCommand_ = 5;
    bool closeToTrayFlag_ = false;
    bool exiting_ = false;
    bool wasMinimized_ = false;
    bool shutDown_ = false;
    // The software update check, joined before the sheet (and its HTTP
    // client) goes.
    std::thread updateCheck_;
};
