#include "app/modeless_dialog.h"

#include "app/frame_placer.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

namespace app {

namespace {

std::uintptr_t nextWindowId()
{
    static std::atomic<std::uintptr_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

Rect toRect(const QRect& r) { return Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

} // namespace

std::vector<Monitor> ScreenMonitors::Monitors() const
{
    std::vector<Monitor> out;
    for (const QScreen* s : QGuiApplication::screens())
        out.push_back({toRect(s->geometry()), toRect(s->availableGeometry())});
    return out;
}

} // namespace app

CModelessDialog::CModelessDialog(int templateId, QWidget* parent)
    : CDialogBase(templateId, parent),
      profile_(std::make_shared<app::CAppProfile>()),
      monitors_(std::make_shared<app::ScreenMonitors>()),
      id_(app::nextWindowId())
{
    setModal(false);
    if (qGuiApp != nullptr)
        connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) { OnActivateApp(state == Qt::ApplicationActive); });
}

CModelessDialog::~CModelessDialog() = default;

void CModelessDialog::SetProfile(std::shared_ptr<app::CAppProfile> profile)
{
    if (profile)
        profile_ = std::move(profile);
}

void CModelessDialog::SetMonitors(std::shared_ptr<const app::MonitorSource> monitors)
{
    if (monitors)
        monitors_ = std::move(monitors);
}

void CModelessDialog::LoadPlacement(int& x, int& y)
{
    const QSize size = frameGeometry().size();
    const auto monitors = monitors_->Monitors();
    const auto loaded = app::LoadPlacement(*profile_, section_, monitors, size.width(), size.height());
    x = loaded.position.x;
    y = loaded.position.y;
    showCommand_ = loaded.showCommand;
}

void CModelessDialog::SavePlacement()
{
    app::WindowPlacement placement;
    placement.visible = isVisible();
    placement.showCommand = isMinimized() ? app::SW_SHOWMINIMIZED
                            : isMaximized() ? app::SW_SHOWMAXIMIZED
                                            : app::SW_SHOWNORMAL;
    // The frame's corner, as the placement is restored (app::CFramePlacer).
    const QPoint topLeft = app::NormalFrameTopLeft(*this);
    placement.normalTopLeft = {topLeft.x(), topLeft.y()};
    app::SavePlacement(*profile_, section_, placement);
}

bool CModelessDialog::OnInitDialog()
{
    if (!placementRestored_) {
        placementRestored_ = true;
        ensurePolished();
        if (!testAttribute(Qt::WA_Resized))
            adjustSize();
        int x = 0;
        int y = 0;
        LoadPlacement(x, y);
        (new app::CFramePlacer(this, QPoint(x, y), monitors_))->Place();
    }
    return true;
}

void CModelessDialog::CloseWindows()
{
    if (QWidget* owned = owned_.data()) {
        if (auto* dialog = qobject_cast<QDialog*>(owned))
            dialog->reject();
        owned->close();
    }
    // A modal child left open would keep the dialog's code waiting in its
    // loop: it ends as if cancelled, so its opener restores what it edited.
    for (QDialog* child : findChildren<QDialog*>()) {
        if (child->isVisible() && child->isModal())
            child->reject();
    }
    close();
    if (!destroyed_)
        OnDestroy();
}

void CModelessDialog::OnActivateApp(bool active)
{
    if (mainWindow_ != 0)
        platform::postMessage(mainWindow_, app::WM_ACTIVATEAPP, active ? 1 : 0, 0);
}

void CModelessDialog::closeEvent(QCloseEvent* event)
{
    if (!destroyed_)
        OnDestroy();
    event->accept();
}

void CModelessDialog::reject()
{
    // Escape closes a monitor window the way its close box does.
    close();
}

void CModelessDialog::OnDestroy()
{
    // Once per object: a second notice could name a window the main window
    // has already replaced.
    destroyed_ = true;
    SavePlacement();
    if (mainWindow_ != 0)
        platform::postMessage(mainWindow_, app::WM_MODELESS_DESTROYED, id_, 0);
    SetClosed();
    emit Destroyed(id_);
}

CDlgThread::CDlgThread(std::unique_ptr<CModelessDialog> dialog, QWidget* owner, platform::HWND ownerWindow)
    : pending_(std::move(dialog)), owner_(owner), ownerWindow_(ownerWindow)
{
}

CDlgThread::~CDlgThread()
{
    if (CModelessDialog* d = dialog_.data()) {
        if (IsRunning())
            d->CloseWindows();
        delete d;
    }
    running_.store(false, std::memory_order_release);
}

bool CDlgThread::Start()
{
    if (!pending_)
        return false;
    CModelessDialog* d = pending_.release();
    dialog_ = d;
    running_.store(true, std::memory_order_release);
    if (owner_ != nullptr)
        d->setParent(owner_, d->windowFlags() | Qt::Dialog);
    d->SetMainWindow(ownerWindow_);
    QObject::connect(d, &CModelessDialog::Destroyed, d,
                     [this] { running_.store(false, std::memory_order_release); });
    d->OnInitDialog();
    switch (d->ShowCommand()) {
    case app::SW_SHOWMINIMIZED:
    case app::SW_MINIMIZE:
    case app::SW_SHOWMINNOACTIVE:
        d->showMinimized();
        break;
    case app::SW_SHOWMAXIMIZED:
        d->showMaximized();
        break;
    default:
        // Also 0: a window that was hidden when it closed still opens when
        // it is asked for again.
        d->show();
        break;
    }
    return true;
}

void CDlgThread::Stop()
{
    CModelessDialog* d = dialog_.data();
    if (d == nullptr) {
        running_.store(false, std::memory_order_release);
        return;
    }
    d->CloseWindows();
    QObject::disconnect(d, &CModelessDialog::Destroyed, nullptr, nullptr);
    d->SetClosed();
    running_.store(false, std::memory_order_release);
    // The dialog's own code may still be on the stack (a modal child's loop
    // that was just cancelled): it goes once control is back in the loop.
    d->deleteLater();
    dialog_.clear();
}
