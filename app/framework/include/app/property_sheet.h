#pragma once
// The program's property sheet and page bases.
//
// A sheet is a dialog with a tab per page. Pages are built lazily: a page
// "has a window" once its OnInitDialog ran, the first time it was shown.
// The sheet broadcasts five notification codes to the pages that have one.
#include <atomic>
#include <vector>

#include <QDialog>
#include <QDialogButtonBox>
#include <QPointer>
#include <QWidget>

#include "platform/messages.h"

class QKeyEvent;
class QTabWidget;
class QVBoxLayout;

namespace app {

// Page notifications, in the pages' slot order.
inline constexpr platform::UINT PN_DEVICE_STATE = 0x8065;
inline constexpr platform::UINT PN_PROFILE_CHANGED = 0x8066;
inline constexpr platform::UINT PN_GAME_CHANGED = 0x8067;
inline constexpr platform::UINT PN_DEVICE_CHANGE = 0x8068;
inline constexpr platform::UINT PN_CAMERA_STATUS = 0x8069;

} // namespace app

class CPropertySheetBase;

class CPropertyPageBase : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyPageBase(int templateId, QWidget* parent = nullptr);

    int TemplateId() const { return templateId_; }
    // The sheet the page was added to (null before).
    CPropertySheetBase* Sheet() const { return sheet_; }
    void SetSheet(CPropertySheetBase* sheet) { sheet_ = sheet; }

    // Whether the page's controls exist (OnInitDialog has run).
    bool HasWindow() const { return created_; }
    // Builds the page's controls once; returns HasWindow().
    bool CreatePage();

    // The framework's operations.
    virtual bool OnInitDialog() { return true; }
    virtual bool OnSetActive() { return true; }
    virtual bool OnKillActive() { return true; }
    virtual void OnOK() {}
    virtual void OnCancel() {}
    virtual bool OnApply() { return true; }

    // The notifications, in this slot order; by default they do nothing.
    virtual platform::LRESULT OnDeviceState(platform::WPARAM, platform::LPARAM) { return 0; }
    virtual platform::LRESULT OnProfileChanged(platform::WPARAM, platform::LPARAM) { return 0; }
    virtual platform::LRESULT OnGameChanged(platform::WPARAM, platform::LPARAM) { return 0; }
    virtual platform::LRESULT OnDeviceChange(platform::WPARAM, platform::LPARAM) { return 0; }
    virtual platform::LRESULT OnCameraStatus(platform::WPARAM, platform::LPARAM) { return 0; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int templateId_;
    CPropertySheetBase* sheet_ = nullptr;
    bool created_ = false;
};

class CPropertySheetBase : public QDialog {
    Q_OBJECT
public:
    explicit CPropertySheetBase(const QString& caption = {}, QWidget* parent = nullptr);
    ~CPropertySheetBase() override;

    // Records the sheet in the page, then adds it (the sheet does not own
    // the page's object beyond Qt's parenting).
    void AddPage(CPropertyPageBase* page);
    int PageCount() const { return static_cast<int>(pages_.size()); }
    CPropertyPageBase* GetPage(int index) const;
    CPropertyPageBase* GetActivePage() const;
    bool SetActivePage(int index);
    bool SetActivePage(CPropertyPageBase* page);
    QTabWidget* TabControl() const { return tabs_; }

    // OK, Cancel and Apply buttons under the tabs (none by default, as a
    // sheet hosted in a window has none).
    void SetButtons(QDialogButtonBox::StandardButtons buttons);
    QDialogButtonBox* Buttons() const { return buttons_; }

    // The run flag that gates the notifications; another sheet's flag may
    // stand for it (a sheet opened over the main sheet follows the main
    // sheet's). Cleared at construction.
    void SetRunFlag(bool running) { run_.store(running, std::memory_order_release); }
    bool RunFlag() const { return run_.load(std::memory_order_acquire); }
    void SetOwningSheet(const CPropertySheetBase* owning) { owning_ = owning; }

    // Calls the page operation of `code` on every page that has a window,
    // while the owning sheet's run flag is set. Other codes do nothing. A
    // page that throws ends the pass.
    void NotifyPages(platform::UINT code, platform::WPARAM wParam, platform::LPARAM lParam);

    // Shows the sheet, creating the active page.
    void showEvent(QShowEvent* event) override;

public slots:
    void accept() override;
    void reject() override;
    bool Apply();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void activate(int index);

    QVBoxLayout* layout_;
    QTabWidget* tabs_;
    QDialogButtonBox* buttons_ = nullptr;
    std::vector<QPointer<CPropertyPageBase>> pages_;
    int active_ = -1;
    std::atomic<bool> run_{false};
    const CPropertySheetBase* owning_ = nullptr;
};
