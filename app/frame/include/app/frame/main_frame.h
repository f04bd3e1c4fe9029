#pragma once
// The main window: menus, a four-pane status bar, the tray icon (when the
// desktop has a tray) and the main sheet in the client area. Its message
// window (class "VistrelClass") is what a second start and the rest of
// the program post to.
#include <functional>
#include <memory>

#include <QMainWindow>

#include "app/frame/startup.h"
#include "app/frame/status_text.h"
#include "app/snap_property_sheet.h"
#include "app/status_bar.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    struct Options {
        // Makes the main sheet, told the frame's message window.
        std::function<std::unique_ptr<CSnapPropertySheet>(platform::HWND mainWindow)> makeSheet;
        // Asked before closing while ConfirmClose is on; null: a message box.
        std::function<bool()> confirmClose;
        // Whether to add a tray icon when the desktop has a tray.
        bool useTray = true;
    };

    explicit CMainFrame(Options options, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Creates the window, status bar, menus, tray icon and the sheet (which
    // starts everything); false when a part could not be made.
    bool Create();
    // Stops everything in order (camera thread, sheet); safe to call twice.
    void Shutdown();

    platform::HWND Window() const { return hwnd_; }
    CSnapPropertySheet* Sheet() const { return sheet_.get(); }
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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam);
    void UpdateStatus();
    void BuildMenus();
    void CreateTray();
    void ToggleSetting(std::int32_t CAppSettings::*field);
    void Restore();

    Options options_;
    platform::HWND hwnd_ = 0;
    std::unique_ptr<CSnapPropertySheet> sheet_;
    CColoredStatusBar* statusBar_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<QMenu> trayMenu_;
    QAction* closeToTray_ = nullptr;
    QAction* runMinimized_ = nullptr;
    QAction* confirmClose_ = nullptr;
    std::array<std::u16string, 4> panes_;
    int showCommand_ = 5;
    bool closeToTrayFlag_ = false;
    bool shutDown_ = false;
};
