#include "app/frame/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <mutex>
#include <system_error>
#include <vector>

#include "app/frame_placer.h"
#include "app/hyperlink.h"
#include "app/main_pages.h"
#include "app/modeless_dialog.h"
#include "app/placement.h"
#include "app/program_icon.h"
#include "app/shell/shell_dialogs.h"
#include "app/snap_widget.h"
#include "platform/debug.h"
#include "platform/program_folders.h"

namespace app_frame {

bool WriteFirstRunPlacements(app::CAppProfile& profile)
{
    if (profile.GetProfileInt("Settings", "FirstTimeRun", -1) != -1)
        return false;
    // Written together with the mark that they were written: a start cut
    // short writes either all of them or none (and the next start does).
    std::vector<app::CAppProfile::IntEntry> entries;
    for (const DefaultPlacement& p : kDefaultPlacements) {
        entries.push_back({p.section, "xpos", p.x});
        entries.push_back({p.section, "ypos", p.y});
    }
    entries.push_back({"Settings", "FirstTimeRun", 1});
    profile.WriteProfileInts(entries);
    return true;
}

int SlotOfViewCommand(platform::WPARAM id)
{
    switch (id) {
    case ID_VIEW_GAUGES:
        return app::kSlotGauges;
    case ID_VIEW_TRACKING:
        return app::kSlotTracking;
    case ID_VIEW_HEADS:
        return app::kSlotHeads;
    default:
        return -1;
    }
}

bool IsCameraDeviceEvent(platform::WPARAM event)
{
    return event == DBT_LIBRARY_NOTICE || event == DBT_DEVNODES_CHANGED || event == DBT_DEVICEARRIVAL ||
           event == DBT_DEVICEREMOVECOMPLETE;
}

} // namespace app_frame

namespace {

using namespace app_frame;

QString Q(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// The program's icon, drawn: a lit marker in a camera's eye.
QIcon ProgramIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    app::PaintProgramIcon(p, 32);
    return QIcon(pixmap);
}

} // namespace

CMainFrame::CMainFrame(Options options, QWidget* parent) : QMainWindow(parent), options_(std::move(options))
{
    setWindowTitle(QStringLiteral("Vistrel"));
    setWindowIcon(ProgramIcon());
    // No maximise box: the frame is sized to its sheet.
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    if (!options_.texts)
        options_.texts = std::make_shared<app::CResourceTexts>();
    if (!options_.dialogs)
        options_.dialogs = std::make_shared<app::CShellDialogs>(this);
    if (!options_.launcher)
        options_.launcher = std::make_shared<app::SpawnUrlLauncher>();
    if (options_.programPath.empty())
        options_.programPath = platform::ownExecutable();
}

CMainFrame::~CMainFrame()
{
    Shutdown();
    // The snap helpers of the frame and of windows still waiting for their
    // deferred deletion leave the snapper before it goes.
    for (CSnapWidget* w : findChildren<CSnapWidget*>())
        delete w;
}

std::u16string CMainFrame::Text(unsigned id) const { return options_.texts->Get(id); }

bool CMainFrame::Create()
{
    hwnd_ = platform::createWindow({app_frame::kWindowClass, "Vistrel", true},
                                   [this](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM l) {
                                       return WindowProc(m, w, l);
                                   });
    if (hwnd_ == 0 || !options_.makeSheet)
        return false;

    sheet_ = options_.makeSheet(hwnd_);
    if (!sheet_)
        return false;
    profile_ = std::make_unique<app::CAppProfile>(sheet_->AppProfile());
    app_frame::WriteFirstRunPlacements(*profile_);

    statusBar_ = new CColoredStatusBar(this);
    statusBar_->SetPanes({125, 125, 100, 100});
    setStatusBar(statusBar_);

    // The monitor windows and the hosts the pages and editors work through.
    snapper_ = std::make_unique<app::CSnapper>(
        app::kFrameSnapDistance,
        [] {
            const QScreen* s = QGuiApplication::primaryScreen();
            const QRect r = s != nullptr ? s->availableGeometry() : QRect();
            return app::Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
        },
        [] {
            const QPoint p = QCursor::pos();
            return app::Point{p.x(), p.y()};
        });
    monitorFactory_ = std::make_unique<app::CMonitorWindowFactory>(
        *sheet_, *options_.dialogs, this, hwnd_, std::make_shared<app::CAppProfile>(*profile_), snapper_.get(),
        options_.monitors);
    monitors_ = std::make_unique<app::CMonitorSlots>(*monitorFactory_, *profile_,
                                                     [this] { return isVisible() && !isMinimized(); });
    editorHost_ = std::make_unique<app::CSheetProfileEditorHost>(*sheet_, *options_.dialogs, *monitors_);
    pagesHost_ = std::make_unique<app::CSheetPagesHost>(*sheet_, *options_.dialogs, *editorHost_, *monitors_);
    pagesHost_->SetTexts(options_.texts);
    viewsHost_ = std::make_unique<app::CSheetViewLibraryHost>(*sheet_);
    sheet_->AddPage(new CMainPageGeneral(*pagesHost_));
    sheet_->AddPage(new CMainPageProfiles(*pagesHost_));
    sheet_->AddPage(new CMainPageNews(*pagesHost_));
    sheet_->SetFrameWindows(this);

    if (sheet_->OnCreate() != 0)
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
    NotifyStateChanged();
    monitors_->LoadReopenFlags();
    new CSnapWidget(this, *snapper_);

    // Hidden only when the tray icon can bring it back.
    if (!runMinimized) {
        showCommand_ = app::SW_SHOW;
        monitors_->ShowChildWindows(true);
    } else if (!closeToTrayFlag_ || tray_ == nullptr) {
        showCommand_ = app::SW_SHOWMINIMIZED;
    } else {
        showCommand_ = app::SW_HIDE;
    }
    BuildLanguageMenu();
    {
        // This instance is the only one: what interrupted updates left goes.
        const CUpdateService updates = sheet_->UpdateService();
        updates.DeleteTempFiles();
        updates.RemoveUpdateLeftovers();
    }
    PlaceFromProfile();
    return true;
}

void CMainFrame::PlaceFromProfile()
{
    adjustSize();
    // The size the user left it at, when it still holds the contents.
    const QSize saved(profile_->GetProfileInt("Settings", kWidthValue, 0),
                      profile_->GetProfileInt("Settings", kHeightValue, 0));
    const QSize least = minimumSizeHint().expandedTo(minimumSize());
    if (saved.width() >= least.width() && saved.height() >= least.height())
        resize(saved);
    const app::ScreenMonitors screens;
    const auto monitors = screens.Monitors();
    const QSize size = frameGeometry().size();
    const app::LoadedPlacement placed =
        app::LoadPlacement(*profile_, "Settings", monitors, size.width(), size.height());
    (new app::CFramePlacer(this, QPoint(placed.position.x, placed.position.y)))->Place();
}

void CMainFrame::SavePlacement()
{
    if (!profile_)
        return;
    app::WindowPlacement placement;
    placement.visible = isVisible();
    placement.showCommand = isMinimized() ? app::SW_SHOWMINIMIZED : app::SW_SHOWNORMAL;
    const QPoint topLeft = app::NormalFrameTopLeft(*this);
    placement.normalTopLeft = {topLeft.x(), topLeft.y()};
    const QSize size = isMinimized() && normalGeometry().isValid() ? normalGeometry().size() : this->size();
    SaveFramePlacement(*profile_, placement, size.width(), size.height());
}

void app_frame::SaveFramePlacement(app::CAppProfile& profile, const app::WindowPlacement& placement, int width,
                                   int height)
{
    const app::CAppProfile::IntEntry size[] = {{"Settings", kWidthValue, width}, {"Settings", kHeightValue, height}};
    app::SavePlacement(profile, "Settings", placement, size);
}

void CMainFrame::ShowInitially()
{
    if (showCommand_ == app::SW_SHOW)
        show();
    else if (showCommand_ == app::SW_SHOWMINIMIZED)
        showMinimized();
}

QAction* CMainFrame::AddCommand(QMenu* menu, const QString& text, platform::WPARAM id, bool checkable)
{
    QAction* a = menu->addAction(text);
    a->setCheckable(checkable);
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
    actions_[id] = a;
    return a;
}

void CMainFrame::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    AddCommand(file, tr("E&xit"), ID_APP_EXIT);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    AddCommand(view, tr("&Tracking"), ID_VIEW_TRACKING, true);
    AddCommand(view, tr("&Heads"), ID_VIEW_HEADS, true);
    AddCommand(view, tr("&Gauges"), ID_VIEW_GAUGES, true);

    QMenu* opts = menuBar()->addMenu(tr("&Options"));
    AddCommand(opts, tr("Run at &Startup"), ID_RUN_AT_STARTUP, true);
    AddCommand(opts, tr("Run &Minimized"), ID_RUN_MINIMIZED, true);
    AddCommand(opts, tr("Close to &Tray"), ID_CLOSE_TO_TRAY, true);
    AddCommand(opts, tr("&Confirm when Closing"), ID_CONFIRM_CLOSE, true);
    AddCommand(opts, tr("&Periodic News Check"), ID_PERIODIC_NEWS, true);
    languageMenu_ = opts->addMenu(tr("&Language"));

    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    AddCommand(tools, Q(Text(app::ids::kStartRecording)), ID_RECORDING);
    AddCommand(tools, Q(Text(app::ids::kStartPlayback)), ID_PLAYBACK);

    QMenu* update = menuBar()->addMenu(tr("&Update"));
    AddCommand(update, tr("Check for &Game Updates..."), ID_GAME_UPDATES);
    AddCommand(update, tr("Check for Software &Updates..."), ID_SOFTWARE_UPDATES);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    AddCommand(help, tr("&Contents"), ID_HELP_CONTENTS);
    AddCommand(help, tr("&About Vistrel..."), ID_APP_ABOUT);

    // Check marks, texts and enabled states follow the system whenever a
    // menu opens.
    for (QMenu* m : {view, opts, tools})
        connect(m, &QMenu::aboutToShow, this, [this] { UpdateMenuStates(); });
    UpdateMenuStates();
}

void CMainFrame::BuildLanguageMenu()
{
    languageMenu_->clear();
    const CLanguageList& languages = sheet_->Languages();
    for (int i = 0; i < languages.GetSize(); ++i) {
        QAction* a = languageMenu_->addAction(Q(languages[i].Name));
        a->setCheckable(true);
        const platform::WPARAM id = ID_LANGUAGE_FIRST + static_cast<platform::WPARAM>(i);
        connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
        actions_[id] = a;
    }
    connect(languageMenu_, &QMenu::aboutToShow, this, [this] { UpdateMenuStates(); });
    UpdateMenuStates();
}

void CMainFrame::UpdateMenuStates()
{
    if (!sheet_)
        return;
    const auto check = [this](platform::WPARAM id, bool on) {
        if (auto it = actions_.find(id); it != actions_.end())
            it->second->setChecked(on);
    };
    for (platform::WPARAM id : {ID_VIEW_TRACKING, ID_VIEW_HEADS, ID_VIEW_GAUGES})
        check(id, monitors_ && monitors_->IsOpen(SlotOfViewCommand(id)));
    {
        const CAppSettings& s = sheet_->Settings();
        check(ID_RUN_AT_STARTUP, s.RunAtStartup != 0);
        check(ID_RUN_MINIMIZED, s.RunMinimized != 0);
        check(ID_CLOSE_TO_TRAY, s.CloseToTray != 0);
        check(ID_CONFIRM_CLOSE, s.ConfirmClose != 0);
        check(ID_PERIODIC_NEWS, s.PeriodicNewsCheck != 0);
        const CLanguageList& languages = sheet_->Languages();
        for (int i = 0; i < languages.GetSize(); ++i)
            check(ID_LANGUAGE_FIRST + static_cast<platform::WPARAM>(i), languages[i].Module == s.LanguageDll);
    }
    CCameraDataProcessor& engine = sheet_->Engine();
    if (QAction* record = actions_[ID_RECORDING]) {
        record->setText(Q(Text(engine.IsRecording() ? app::ids::kStopRecording : app::ids::kStartRecording)));
        record->setEnabled(engine.IsLive());
    }
    if (auto it = actions_.find(ID_SOFTWARE_UPDATES); it != actions_.end())
        it->second->setEnabled(!updateCheck_.joinable());
    if (QAction* playback = actions_[ID_PLAYBACK]) {
        playback->setText(Q(Text(engine.IsLive() ? app::ids::kStartPlayback : app::ids::kStopPlayback)));
        std::error_code ec;
        playback->setEnabled(!engine.IsRecording() && std::filesystem::exists(sheet_->PoseFile(), ec));
    }
}

QAction* CMainFrame::CommandAction(platform::WPARAM id)
{
    UpdateMenuStates();
    const auto it = actions_.find(id);
    return it != actions_.end() ? it->second : nullptr;
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
    if (field == &CAppSettings::RunAtStartup)
        app::SetRunAtStartup(options_.autostartFolder, options_.programPath, on);
    UpdateMenuStates();
}

void CMainFrame::TogglePeriodicNews()
{
    // Turning the check off is asked first, No being the default answer.
    if (sheet_->Settings().PeriodicNewsCheck != 0 && !options_.dialogs->Ask(Text(app::ids::kNewsCheckOff), true)) {
        UpdateMenuStates();
        return;
    }
    ToggleSetting(&CAppSettings::PeriodicNewsCheck);
    sheet_->SetNewsTimer();
}

void CMainFrame::SelectLanguage(int index)
{
    const CLanguageInfo* language = sheet_->Languages().GetAt(index);
    if (language == nullptr)
        return;
    bool changed = false;
    {
        std::lock_guard lock(sheet_->StateLock());
        changed = sheet_->Settings().LanguageDll != language->Module;
        sheet_->Settings().LanguageDll = language->Module;
    }
    sheet_->SaveSettings();
    if (changed)
        options_.dialogs->Message(Text(app::ids::kLanguageChanged));
    UpdateMenuStates();
}

void CMainFrame::ToggleRecording()
{
    CCameraDataProcessor& engine = sheet_->Engine();
    const bool stopping = engine.IsRecording();
    std::uint32_t error = 0;
    if (stopping)
        error = engine.StopRecording();
    else if (engine.IsLive())
        error = engine.StartRecording();
    NotifyStateChanged();
    UpdateMenuStates();
    if (error == 0)
        return;
    if (stopping) {
        options_.dialogs->Message(RecordingNotSavedText(error));
    } else {
        const std::u16string code = QStringLiteral("0x%1").arg(error, 8, 16, QLatin1Char('0')).toStdU16String();
        options_.dialogs->Message(
            app::FormatText(Text(app::ids::kRecordingNotStarted), {sheet_->PoseFile().u16string(), code}));
    }
}

std::u16string CMainFrame::RecordingNotSavedText(std::uint32_t error)
{
    // A recording that could not be saved is kept under another name: say where.
    const std::u16string code = QStringLiteral("0x%1").arg(error, 8, 16, QLatin1Char('0')).toStdU16String();
    return app::FormatText(Text(app::ids::kRecordingNotSaved),
                           {sheet_->PoseFile().u16string(), code, sheet_->Engine().RecordingKeptAs().u16string()});
}

void CMainFrame::FinishRecordingAtExit()
{
    CCameraDataProcessor& engine = sheet_->Engine();
    if (!engine.IsRecording())
        return;
    const std::uint32_t error = engine.StopRecording();
    if (error == 0)
        return;
    const std::u16string text = RecordingNotSavedText(error);
    if (options_.errorLines)
        options_.errorLines(QString::fromStdU16String(text).toStdString());
    else
        options_.dialogs->Message(text);
}

void CMainFrame::TogglePlayback()
{
    CCameraDataProcessor& engine = sheet_->Engine();
    if (!engine.IsLive()) {
        engine.StopPlayback();
    } else {
        std::error_code ec;
        if (engine.IsRecording() || !std::filesystem::exists(sheet_->PoseFile(), ec))
            return;
        engine.StartPlayback();
    }
    NotifyStateChanged();
    UpdateMenuStates();
}

void CMainFrame::CheckGameUpdates()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const CUpdateOutcome outcome =
        sheet_->UpdateService().CheckGameUpdates(sheet_->Catalogue().Version, *viewsHost_);
    QApplication::restoreOverrideCursor();
    std::u16string text = Text(static_cast<unsigned>(outcome.messageId));
    if (outcome.messageId == kMsgUpdateError) {
        const std::string reason = UpdateErrorText(outcome.error);
        text = app::FormatText(text, {QString::fromStdString(reason).toStdU16String()});
    }
    if (text.empty())
        text = QString::fromStdString(outcome.text).toStdU16String();
    platform::debug::output("game updates: " + QString::fromStdU16String(text).replace(u'\n', u' ').toStdString());
    options_.dialogs->Message(text);
}

void CMainFrame::OpenSoftwareUpdatePage()
{
    // The page is opened only when the server answers; otherwise the user
    // hears why (no connection, an error page) instead of a browser error.
    // The check takes as long as the server lets it (up to the client's time
    // limit), so it runs on a worker and the window goes on meanwhile; a
    // second request while one runs waits for the first one's answer.
    if (updateCheck_.joinable())
        return;
    CUpdateService service = sheet_->UpdateService();
    updateCheck_ = std::thread([this, service = std::move(service)] {
        const int reached = service.CheckSoftwareUpdatePage();
        QMetaObject::invokeMethod(
            this, [this, reached] { ShowSoftwareUpdateResult(reached); }, Qt::QueuedConnection);
    });
    UpdateMenuStates();
}

void CMainFrame::ShowSoftwareUpdateResult(int reached)
{
    if (updateCheck_.joinable())
        updateCheck_.join();
    if (shutDown_ || !sheet_)
        return;
    UpdateMenuStates();
    if (reached != kUpdateOk) {
        options_.dialogs->Message(app::FormatText(
            Text(app::ids::kUpdateError), {QString::fromStdString(UpdateErrorText(reached)).toStdU16String()}));
        return;
    }
    const int opened =
        options_.launcher->Open(SoftwareUpdatePageUrl(sheet_->UpdateService().config().serviceUrl), app::SW_SHOW);
    if (opened <= 32) {
        QApplication::beep();
        options_.dialogs->Message(app::HyperlinkErrorText(opened));
    }
}

std::unique_ptr<QDialog> CMainFrame::CreateAboutBox()
{
    auto about = std::make_unique<QDialog>(this);
    about->setWindowTitle(tr("About Vistrel"));
    auto* layout = new QVBoxLayout(about.get());
    const QString line = QStringLiteral("%1 %2 %3.%4  %5 %6")
                             .arg(Q(Text(app::ids::kProductName)), Q(Text(app::ids::kVersion)))
                             .arg(kSoftwareVersionMajor)
                             .arg(kSoftwareVersionMinor)
                             .arg(Q(Text(app::ids::kBuild)))
                             .arg(kSoftwareVersionBuild);
    auto* label = new QLabel(line, about.get());
    label->setObjectName(QStringLiteral("version"));
    layout->addWidget(label);
    auto* link = new CHyperLink(about.get());
    const QString site = QString::fromStdString(sheet_->UpdateService().config().serviceUrl);
    link->setText(site);
    link->SetURL(site);
    link->SetLauncher(options_.launcher);
    layout->addWidget(link);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, about.get());
    connect(buttons, &QDialogButtonBox::accepted, about.get(), &QDialog::accept);
    layout->addWidget(buttons);
    return about;
}

void CMainFrame::ShowAbout()
{
    CreateAboutBox()->exec();
}

void CMainFrame::CreateTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    trayMenu_ = std::make_unique<QMenu>();
    connect(trayMenu_->addAction(tr("&Restore")), &QAction::triggered, this, [this] { OnCommand(ID_RESTORE); });
    trayMenu_->setDefaultAction(trayMenu_->actions().first());
    trayMenu_->addSeparator();
    connect(trayMenu_->addAction(tr("E&xit")), &QAction::triggered, this, [this] { OnCommand(ID_APP_EXIT); });
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick && closeToTrayFlag_) {
            show();
            NotifyStateChanged();
            platform::postMessage(hwnd_, WM_COMMAND_, ID_RESTORE, 0);
        }
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
    case WM_COMMAND_:
        OnCommand(wParam & 0xFFFF);
        return 0;
    case platform::WM_CLOSE:
        OnCommand(ID_APP_EXIT);
        return 0;
    case WM_DEVICECHANGE_:
        if (sheet_ && !shutDown_ && IsCameraDeviceEvent(wParam))
            sheet_->OnDeviceChange();
        return 1;
    case WM_POWERBROADCAST_:
        if (sheet_ && !shutDown_)
            sheet_->OnPowerBroadcast(wParam);
        return 1;
    case app::WM_MODELESS_DESTROYED:
        if (monitors_)
            monitors_->OnModelessDestroyed(static_cast<std::uintptr_t>(wParam));
        return 0;
    default:
        return 0;
    }
}

void CMainFrame::OnCommand(platform::WPARAM id)
{
    if (shutDown_ || !sheet_)
        return;
    if (const int slot = SlotOfViewCommand(id); slot >= 0) {
        monitors_->Toggle(slot);
        UpdateMenuStates();
        return;
    }
    if (id >= ID_LANGUAGE_FIRST && id < ID_LANGUAGE_FIRST + 1000) {
        SelectLanguage(static_cast<int>(id - ID_LANGUAGE_FIRST));
        return;
    }
    switch (id) {
    case ID_RESTORE:
        Restore();
        break;
    case ID_APP_EXIT:
        exiting_ = true;
        close();
        exiting_ = false;
        break;
    case ID_RUN_AT_STARTUP:
        ToggleSetting(&CAppSettings::RunAtStartup);
        break;
    case ID_RUN_MINIMIZED:
        ToggleSetting(&CAppSettings::RunMinimized);
        break;
    case ID_CLOSE_TO_TRAY:
        ToggleSetting(&CAppSettings::CloseToTray);
        break;
    case ID_CONFIRM_CLOSE:
        ToggleSetting(&CAppSettings::ConfirmClose);
        break;
    case ID_PERIODIC_NEWS:
        TogglePeriodicNews();
        break;
    case ID_RECORDING:
        ToggleRecording();
        break;
    case ID_PLAYBACK:
        TogglePlayback();
        break;
    case ID_GAME_UPDATES:
        CheckGameUpdates();
        break;
    case ID_SOFTWARE_UPDATES:
        OpenSoftwareUpdatePage();
        break;
    case ID_HELP_CONTENTS:
    case ID_HELP:
        app::OpenHelp();
        break;
    case ID_APP_ABOUT:
        ShowAbout();
        break;
    default:
        break;
    }
}

void CMainFrame::Restore()
{
    showNormal();
    monitors_->ShowChildWindows(false);
    raise();
    activateWindow();
}

void CMainFrame::ShowChildWindows(bool force)
{
    if (monitors_ && !shutDown_)
        monitors_->ShowChildWindows(force);
}

void CMainFrame::CloseChildWindows(bool remember)
{
    if (monitors_)
        monitors_->CloseChildWindows(remember);
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
    if (const CProfile* p = sheet_->CurrentProfile()) {
        in.motionType = p->MotionType;
        const CKeyInfo center = p->HotKeys.GetAt(0);
        const CKeyInfo pause = p->HotKeys.GetAt(1);
        in.centerKey = center.GetKeyText(center.Code);
        in.pauseKey = pause.GetKeyText(pause.Code);
    }
    const std::array<std::u16string, 4> before = panes_;
    panes_ = StatusTexts(in, options_.texts.get());
    for (int i = 0; i < 4; ++i)
        statusBar_->SetPaneText(i, Q(panes_[static_cast<std::size_t>(i)]));
    // The texts as the user sees them, for whoever reads the debug output.
    if (panes_ != before && platform::debug::enabled()) {
        QString line = QStringLiteral("Status bar: ");
        for (std::size_t i = 0; i < panes_.size(); ++i)
            line += (i ? QStringLiteral(" | ") : QString()) + Q(panes_[i]);
        platform::debug::output(line.toStdString());
    }
    WriteStatusLine(in.devicePresent && !in.configuring, !in.targetLost);
}

void CMainFrame::WriteStatusLine(bool cameraRunning, bool tracked)
{
    if (!options_.statusLines)
        return;
    if (!statusLines_) {
        statusLines_ = std::make_unique<CStatusLines>(platform::systemClock(), options_.statusLines);
        statusLineTimer_ = new QTimer(this);
        statusLineTimer_->setSingleShot(true);
        connect(statusLineTimer_, &QTimer::timeout, this, [this] {
            statusLines_->Flush();
            if (const auto due = statusLines_->Due())
                statusLineTimer_->start(static_cast<int>(due->count()));
        });
    }
    statusLines_->Update(cameraRunning, tracked);
    // A change held back is written when its second is up.
    if (const auto due = statusLines_->Due(); due && !statusLineTimer_->isActive())
        statusLineTimer_->start(static_cast<int>(due->count()));
}

void CMainFrame::CloseToTrayNow()
{
    hide();
    monitors_->CloseChildWindows(true);
    const int shown = profile_->GetProfileInt("Settings", "InitialClose", 0);
    if (shown >= kBalloonLimit || tray_ == nullptr || !QSystemTrayIcon::supportsMessages())
        return;
    tray_->showMessage(Q(Text(app::ids::kStillRunningTitle)), Q(Text(app::ids::kStillRunning)),
                       QSystemTrayIcon::Information, kBalloonSeconds * 1000);
    profile_->WriteProfileInt("Settings", "InitialClose", shown + 1);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (shutDown_ || !sheet_) {
        event->accept();
        return;
    }
    // The close box with close-to-tray on only hides the frame, when the
    // tray can bring it back.
    if (!exiting_ && closeToTrayFlag_ && tray_ != nullptr) {
        event->ignore();
        CloseToTrayNow();
        return;
    }
    const bool confirm = sheet_->Settings().ConfirmClose != 0;
    if (confirm) {
        const bool yes = options_.confirmClose ? options_.confirmClose()
                                               : options_.dialogs->Ask(Text(app::ids::kConfirmQuit));
        if (!yes) {
            event->ignore();
            return;
        }
    }
    event->accept();
    QCoreApplication::exit(0);
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !monitors_ || shutDown_)
        return;
    const bool minimized = isMinimized();
    if (minimized && !wasMinimized_ && closeToTrayFlag_)
        monitors_->CloseChildWindows(true);
    else if (!minimized && wasMinimized_ && closeToTrayFlag_)
        monitors_->ShowChildWindows(false);
    wasMinimized_ = minimized;
}

void CMainFrame::Shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    if (statusLineTimer_ != nullptr)
        statusLineTimer_->stop();
    // A software update check still running uses the sheet's HTTP client:
    // it ends (within the client's time limits) before the sheet does. Its
    // answer is dropped.
    if (updateCheck_.joinable())
        updateCheck_.join();
    if (sheet_) {
        // The user hears of a recording that could not be saved while the
        // program is still whole.
        FinishRecordingAtExit();
        sheet_->StopCameraThread();
        SavePlacement();
        if (monitors_) {
            monitors_->SaveOpenWindows();
            monitors_->CloseChildWindows(false);
        }
        // Closed windows go now, while what they read still exists.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // A news query still running asks the sheet: it ends before the sheet does.
        for (int i = 0; i < sheet_->PageCount(); ++i)
            if (auto* news = qobject_cast<CMainPageNews*>(sheet_->GetPage(i)))
                news->StopQueries();
        sheet_->SetFrameWindows(nullptr);
        sheet_->OnDestroy();
        sheet_.reset();
    }
    // The camera is stopped now: a program without a window says so last.
    if (options_.statusLines) {
        if (!statusLines_)
            statusLines_ = std::make_unique<CStatusLines>(platform::systemClock(), options_.statusLines);
        statusLines_->Finish(false, false);
    }
    monitors_.reset();
    pagesHost_.reset();
    editorHost_.reset();
    viewsHost_.reset();
    monitorFactory_.reset();
    if (tray_ != nullptr)
        tray_->hide();
    if (hwnd_ != 0) {
        platform::destroyWindow(hwnd_);
        hwnd_ = 0;
    }
}
