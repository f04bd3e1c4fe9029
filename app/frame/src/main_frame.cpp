#include "app/frame/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>

#include <mutex>

namespace {

QString Q(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CMainFrame::CMainFrame(Options options, QWidget* parent) : QMainWindow(parent), options_(std::move(options))
{
    setWindowTitle(QStringLiteral("Vistrel"));
}

CMainFrame::~CMainFrame()
{
    Shutdown();
}

bool CMainFrame::Create()
{
    hwnd_ = platform::createWindow({app_frame::kWindowClass, "Vistrel", true},
                                   [this](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM l) {
                                       return WindowProc(m, w, l);
                                   });
    if (hwnd_ == 0)
        return false;

    statusBar_ = new CColoredStatusBar(this);
    statusBar_->SetPanes({125, 125, 100, 100});
    setStatusBar(statusBar_);

    if (!options_.makeSheet)
        return false;
    sheet_ = options_.makeSheet(hwnd_);
    if (!sheet_ || sheet_->OnCreate() != 0)
        return false;
    // The frame owns the sheet; the widget is only shown in the client area.
    sheet_->setParent(this);
    setCentralWidget(sheet_.get());

    BuildMenus();
    if (options_.useTray)
        CreateTray();

    bool runMinimized = false;
    {
        std::lock_guard lock(sheet_->StateLock());
        closeToTrayFlag_ = sheet_->Settings().CloseToTray != 0;
        runMinimized = sheet_->Settings().RunMinimized != 0;
    }
    // Hidden only when the tray icon can bring it back.
    if (!runMinimized)
        showCommand_ = 5;
    else if (!closeToTrayFlag_ || tray_ == nullptr)
        showCommand_ = 2;
    else
        showCommand_ = 0;
    NotifyStateChanged();
    return true;
}

void CMainFrame::ShowInitially()
{
    if (showCommand_ == 5)
        show();
    else if (showCommand_ == 2)
        showMinimized();
}

void CMainFrame::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    connect(file->addAction(tr("E&xit")), &QAction::triggered, this, [this] { OnCommand(app_frame::ID_APP_EXIT); });

    QMenu* opts = menuBar()->addMenu(tr("&Options"));
    const auto add = [&](const QString& text, std::int32_t CAppSettings::*field) {
        QAction* a = opts->addAction(text);
        a->setCheckable(true);
        {
            std::lock_guard lock(sheet_->StateLock());
            a->setChecked(sheet_->Settings().*field != 0);
        }
        connect(a, &QAction::triggered, this, [this, field] { ToggleSetting(field); });
        return a;
    };
    runMinimized_ = add(tr("Run &Minimized"), &CAppSettings::RunMinimized);
    closeToTray_ = add(tr("Close to &Tray"), &CAppSettings::CloseToTray);
    confirmClose_ = add(tr("&Confirm when Closing"), &CAppSettings::ConfirmClose);
}

void CMainFrame::ToggleSetting(std::int32_t CAppSettings::*field)
{
    bool on = false;
    {
        std::lock_guard lock(sheet_->StateLock());
        std::int32_t& value = sheet_->Settings().*field;
        value = value != 0 ? 0 : 1;
        on = value != 0;
    }
    sheet_->SaveSettings();
    if (field == &CAppSettings::CloseToTray)
        closeToTrayFlag_ = on;
}

void CMainFrame::CreateTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    trayMenu_ = std::make_unique<QMenu>();
    connect(trayMenu_->addAction(tr("&Restore")), &QAction::triggered, this, [this] { OnCommand(app_frame::ID_RESTORE); });
    trayMenu_->addSeparator();
    connect(trayMenu_->addAction(tr("E&xit")), &QAction::triggered, this, [this] { OnCommand(app_frame::ID_APP_EXIT); });
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick && closeToTrayFlag_)
            OnCommand(app_frame::ID_RESTORE);
    });
    tray_->show();
}

void CMainFrame::NotifyStateChanged()
{
    if (hwnd_ != 0)
        platform::postMessage(hwnd_, app_frame::WM_UPDATE_STATUS, 0, 0);
}

platform::LRESULT CMainFrame::WindowProc(platform::UINT message, platform::WPARAM wParam, platform::LPARAM)
{
    switch (message) {
    case app_frame::WM_UPDATE_STATUS:
        UpdateStatus();
        return 0;
    case app_frame::WM_COMMAND_:
        OnCommand(wParam & 0xFFFF);
        return 0;
    case platform::WM_CLOSE:
        close();
        return 0;
    default:
        return 0;
    }
}

void CMainFrame::OnCommand(platform::WPARAM id)
{
    if (id == app_frame::ID_RESTORE)
        Restore();
    else if (id == app_frame::ID_APP_EXIT)
        close();
}

void CMainFrame::Restore()
{
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::UpdateStatus()
{
    if (!sheet_ || shutDown_)
        return;
    StatusInputs in;
    in.devicePresent = sheet_->CameraThread().DevicePresent();
    in.configuring = sheet_->CameraThread().Configuring();
    in.paused = sheet_->Engine().IsPaused();
    in.targetLost = sheet_->Engine().GetTrackingState() != CCameraDataProcessor::kTracked;
    in.recording = sheet_->Engine().IsRecording();
    in.playback = !sheet_->Engine().IsLive();
    {
        std::lock_guard lock(sheet_->StateLock());
        if (const CProfile* p = sheet_->CurrentProfile()) {
            in.motionType = p->MotionType;
            const CKeyInfo center = p->HotKeys.GetAt(0);
            const CKeyInfo pause = p->HotKeys.GetAt(1);
            in.centerKey = center.GetKeyText(center.Code);
            in.pauseKey = pause.GetKeyText(pause.Code);
        }
    }
    panes_ = StatusTexts(in);
    for (int i = 0; i < 4; ++i)
        statusBar_->SetPaneText(i, Q(panes_[static_cast<std::size_t>(i)]));
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    bool confirm = false;
    if (sheet_ && !shutDown_) {
        std::lock_guard lock(sheet_->StateLock());
        confirm = sheet_->Settings().ConfirmClose != 0;
    }
    if (confirm) {
        const bool yes = options_.confirmClose
                             ? options_.confirmClose()
                             : QMessageBox::question(this, QStringLiteral("Vistrel"), tr("Are you sure you want to quit?"),
                                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        if (!yes) {
            event->ignore();
            return;
        }
    }
    event->accept();
    QCoreApplication::exit(0);
}

void CMainFrame::Shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    if (sheet_) {
        sheet_->StopCameraThread();
        sheet_->OnDestroy();
        sheet_.reset();
    }
    if (tray_ != nullptr)
        tray_->hide();
    if (hwnd_ != 0) {
        platform::destroyWindow(hwnd_);
        hwnd_ = 0;
    }
}
