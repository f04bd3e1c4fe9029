#pragma once
// The monitor windows of the frame's slots: gauges (0), camera image (1) and
// 3D heads (2), each a modeless window with its lifecycle object
// (CDlgThread), its data source over the main sheet, and a place in the
// frame's snapper.
#include <filesystem>
#include <memory>

#include <QPointer>
#include <QWidget>

#include "app/app_profile.h"
#include "app/modeless_dialog.h"
#include "app/shell/monitor_slots.h"
#include "app/shell/sheet_hosts.h"
#include "app/snapper.h"

namespace app {

class CMonitorWindowFactory final : public IMonitorFactory {
public:
    struct Options {
        // The heads window without a renderer (tests on machines without one).
        bool headsWithoutDevice = false;
        // Where the heads window finds "head.x"; empty: "models" beside the program.
        std::filesystem::path headsModelsFolder;
    };

    CMonitorWindowFactory(CSnapPropertySheet& sheet, IShellDialogs& dialogs, QWidget* owner,
                          platform::HWND mainWindow, std::shared_ptr<CAppProfile> profile, CSnapper* snapper,
                          Options options);

    std::unique_ptr<IMonitorWindow> Open(int slot) override;

private:
    std::unique_ptr<CModelessDialog> Make(int slot);

    CSnapPropertySheet& sheet_;
    IShellDialogs& dialogs_;
    QPointer<QWidget> owner_;
    platform::HWND mainWindow_;
    std::shared_ptr<CAppProfile> profile_;
    CSnapper* snapper_;
    Options options_;
};

} // namespace app
