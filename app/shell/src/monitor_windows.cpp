#include "app/shell/monitor_windows.h"

#include <functional>
#include <utility>

#include "app/modeless_dialog.h"
#include "app/snap_widget.h"
#include "windows/gauges_dlg.h"
#include "windows/head3d/HeadzDlg.h"
#include "windows/tracking_dlg.h"

namespace app {

namespace {

// Keeps what a window reads from alive exactly as long as the window: a
// child object, deleted with it (also when the deletion is deferred and a
// modal child of the window was still returning through its code).
template <typename T>
class Keeper final : public QObject {
public:
    Keeper(QObject* owner, std::unique_ptr<T> value) : QObject(owner), value_(std::move(value)) {}

private:
    std::unique_ptr<T> value_;
};

template <typename T>
T& Keep(QObject* owner, std::unique_ptr<T> value)
{
    T& ref = *value;
    new Keeper<T>(owner, std::move(value));
    return ref;
}

// The gauges read the engine; their flag toggles and curve edits write the
// live profile, which then goes to the engine.
class SheetGaugeSource final : public gauges::CEngineGaugeSource {
public:
    explicit SheetGaugeSource(CSnapPropertySheet& sheet)
        : CEngineGaugeSource(sheet.Engine(), [&sheet] { return sheet.CurrentProfile(); }), sheet_(sheet)
    {
    }
    int SaveProfile(const CProfile& profile) const override
    {
        sheet_.PushProfileToEngine();
        return profile.Save();
    }

private:
    CSnapPropertySheet& sheet_;
};

class DialogWindow final : public IMonitorWindow {
public:
    using Handler = std::function<bool(platform::UINT, platform::WPARAM)>;

    DialogWindow(std::unique_ptr<CDlgThread> thread, std::uintptr_t id, Handler handler)
        : thread_(std::move(thread)), id_(id), handler_(std::move(handler))
    {
    }
    ~DialogWindow() override { thread_->Stop(); }

    std::uintptr_t Id() const override { return id_; }
    void Raise() override
    {
        if (CModelessDialog* d = thread_->Dialog()) {
            d->raise();
            d->activateWindow();
        }
    }
    void Stop() override { thread_->Stop(); }
    bool Message(platform::UINT message, platform::WPARAM wParam) override
    {
        return handler_ && thread_->Dialog() != nullptr && handler_(message, wParam);
    }

private:
    std::unique_ptr<CDlgThread> thread_;
    std::uintptr_t id_;
    Handler handler_;
};

} // namespace

CMonitorWindowFactory::CMonitorWindowFactory(CSnapPropertySheet& sheet, IShellDialogs& dialogs, QWidget* owner,
                                             platform::HWND mainWindow, std::shared_ptr<CAppProfile> profile,
                                             CSnapper* snapper, Options options)
    : sheet_(sheet),
      dialogs_(dialogs),
      owner_(owner),
      mainWindow_(mainWindow),
      profile_(std::move(profile)),
      snapper_(snapper),
      options_(options)
{
}

std::unique_ptr<CModelessDialog> CMonitorWindowFactory::Make(int slot)
{
    CSnapPropertySheet& sheet = sheet_;
    switch (slot) {
    case kSlotGauges: {
        auto source = std::make_unique<SheetGaugeSource>(sheet);
        IShellDialogs& dialogs = dialogs_;
        // The curve editor on the live profile: each edit reaches the engine
        // at once, and a cancelled edit is taken back there too.
        gauges::CurveEditor editor = [&sheet, &dialogs](CProfile& live, int axis) {
            const CProfile backup = live;
            const bool ok = dialogs.EditCurve(live, axis, [&sheet] { sheet.PushProfileToEngine(); });
            if (!ok)
                EditLiveProfile(sheet, [&live, &backup] { live = backup; });
            return ok;
        };
        auto dlg = std::make_unique<CGaugesDlg>(*source, std::move(editor));
        Keep(dlg.get(), std::move(source));
        return dlg;
    }
    case kSlotTracking: {
        auto source = std::make_unique<camimage::CEngineImageSource>(
            sheet.Engine(), [&sheet]() -> const CProfile* { return sheet.CurrentProfile(); });
        auto host = std::make_unique<CSheetTrackingSettingsHost>(sheet);
        auto dlg = std::make_unique<CTrackingDlg>(*source, sheet.Settings(), *host);
        Keep(dlg.get(), std::move(source));
        Keep(dlg.get(), std::move(host));
        return dlg;
    }
    case kSlotHeads: {
        CCameraDataProcessor& engine = sheet.Engine();
        auto source = std::make_unique<head3d::CFunctionHeadSource>(
            [&engine] { return engine.RawAxes(); }, [&engine] { return engine.OutputAxes(); },
            [&sheet]() -> const CProfile* { return sheet.CurrentProfile(); });
        CHeadzDlg::Options o;
        o.withoutDevice = options_.headsWithoutDevice;
        o.modelsFolder = options_.headsModelsFolder;
        auto dlg = std::make_unique<CHeadzDlg>(*source, std::move(o));
        Keep(dlg.get(), std::move(source));
        return dlg;
    }
    default:
        return nullptr;
    }
}

std::unique_ptr<IMonitorWindow> CMonitorWindowFactory::Open(int slot)
{
    std::unique_ptr<CModelessDialog> dlg = Make(slot);
    if (!dlg)
        return nullptr;
    CModelessDialog* raw = dlg.get();
    raw->SetProfile(profile_);
    DialogWindow::Handler handler;
    if (slot == kSlotTracking) {
        QPointer<CTrackingDlg> tracking = static_cast<CTrackingDlg*>(raw);
        handler = [tracking](platform::UINT message, platform::WPARAM wParam) {
            return tracking && tracking->OnMessage(message, wParam);
        };
    }
    const std::uintptr_t id = raw->WindowId();
    auto thread = std::make_unique<CDlgThread>(std::move(dlg), owner_.data(), mainWindow_);
    if (!thread->Start())
        return nullptr;
    if (snapper_ != nullptr)
        new CSnapWidget(raw, *snapper_);
    return std::make_unique<DialogWindow>(std::move(thread), id, std::move(handler));
}

} // namespace app
