#pragma once
// Modeless monitor windows and their lifecycle.
//
// On the desktop each monitor window ran a user-interface thread of its own.
// Qt keeps every widget on the GUI thread, so `CDlgThread` is the window's
// lifecycle object there: it creates and shows the dialog, keeps the running
// and closed flags, and stops and deletes it. The dialog talks to the main
// window only by posted messages (platform/messages.h).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>

#include "app/app_profile.h"
#include "app/dialog_base.h"
#include "app/geometry.h"
#include "app/placement.h"
#include "platform/messages.h"

class QCloseEvent;

namespace app {

// Posted to the main window when a modeless dialog is destroyed; wParam is
// the dialog's WindowId(), unique for the life of the process (a later
// dialog never reuses it, unlike an object address).
inline constexpr platform::UINT WM_MODELESS_DESTROYED = 0x8063;
inline constexpr platform::UINT WM_ACTIVATEAPP = 0x001C;

// The attached monitors, as the desktop reports them now.
class MonitorSource {
public:
    virtual ~MonitorSource() = default;
    virtual std::vector<Monitor> Monitors() const = 0;
};

// Monitors from Qt's screens (geometry and available geometry).
class ScreenMonitors : public MonitorSource {
public:
    std::vector<Monitor> Monitors() const override;
};

} // namespace app

class CModelessDialog : public CDialogBase {
    Q_OBJECT
public:
    explicit CModelessDialog(int templateId, QWidget* parent = nullptr);
    ~CModelessDialog() override;

    // Registry section of the placement (default "Settings").
    void SetSection(std::string section) { section_ = std::move(section); }
    const std::string& Section() const { return section_; }
    void SetProfile(std::shared_ptr<app::CAppProfile> profile);
    void SetMonitors(std::shared_ptr<const app::MonitorSource> monitors);

    // The main window the destroy notice and forwarded activation go to.
    void SetMainWindow(platform::HWND hwnd) { mainWindow_ = hwnd; }
    platform::HWND MainWindow() const { return mainWindow_; }
    std::uintptr_t WindowId() const { return id_; }

    int ShowCommand() const { return showCommand_; }
    bool PlacementRestored() const { return placementRestored_; }
    bool IsClosed() const { return closed_.load(std::memory_order_acquire); }
    void SetClosed() { closed_.store(true, std::memory_order_release); }

    // A window the dialog opened and must close before itself.
    void SetOwnedWindow(QWidget* window) { owned_ = window; }
    QWidget* OwnedWindow() const { return owned_.data(); }

    void LoadPlacement(int& x, int& y);
    void SavePlacement();

    // Creation: subclasses build their controls and call the base, which
    // restores the placement once per object. Returns true.
    virtual bool OnInitDialog();

    // Closes the owned window and every open modal child (as Cancel), then
    // the dialog itself.
    void CloseWindows();

    // Forwards an activation change of the application to the main window.
    void OnActivateApp(bool active);

signals:
    void Destroyed(std::uintptr_t windowId);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    // The destroy logic, once per object: placement saved, the main window
    // told, closed flag set.
    virtual void OnDestroy();

private:
    std::string section_ = "Settings";
    std::shared_ptr<app::CAppProfile> profile_;
    std::shared_ptr<const app::MonitorSource> monitors_;
    platform::HWND mainWindow_ = 0;
    std::uintptr_t id_;
    int showCommand_ = app::SW_SHOW;
    bool placementRestored_ = false;
    bool destroyed_ = false;
    std::atomic<bool> closed_{false};
    QPointer<QWidget> owned_;
};

class CDlgThread {
public:
    // `owner` is the dialog's parent widget (may be null), `ownerWindow` the
    // main window's handle.
    CDlgThread(std::unique_ptr<CModelessDialog> dialog, QWidget* owner, platform::HWND ownerWindow);
    ~CDlgThread();
    CDlgThread(const CDlgThread&) = delete;
    CDlgThread& operator=(const CDlgThread&) = delete;

    // Creates the dialog with the owner as parent and shows it with its show
    // command; running while the dialog is open. False when it has no dialog.
    bool Start();
    // Closes the dialog's windows (modal children as Cancel), sets the closed
    // flag and deletes the dialog once control is back in the event loop.
    void Stop();

    bool IsRunning() const { return running_.load(std::memory_order_acquire); }
    CModelessDialog* Dialog() const { return dialog_.data(); }

private:
    QPointer<CModelessDialog> dialog_;
    std::unique_ptr<CModelessDialog> pending_; // owned until Start hands it to Qt
    QWidget* owner_;
    platform::HWND ownerWindow_;
    std::atomic<bool> running_{false};
};
