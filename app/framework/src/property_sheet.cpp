#include "app/property_sheet.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/dialog_base.h"

CPropertyPageBase::CPropertyPageBase(int templateId, QWidget* parent) : QWidget(parent), templateId_(templateId) {}

bool CPropertyPageBase::CreatePage()
{
    if (!created_) {
        // The controls exist from here on, also for what OnInitDialog calls.
        created_ = true;
        OnInitDialog();
        // A page built as it shows: its new controls show with it now, not
        // on a later turn of the event loop (ones hidden on purpose stay so).
        if (isVisible())
            for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!child->isWindow() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide))
                    child->show();
    }
    return created_;
}

void CPropertyPageBase::keyPressEvent(QKeyEvent* event)
{
    if (app::IsHelpKey(event)) {
        app::OpenHelp();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

CPropertySheetBase::CPropertySheetBase(const QString& caption, QWidget* parent)
    : QDialog(parent), layout_(new QVBoxLayout(this)), tabs_(new QTabWidget(this))
{
    setWindowTitle(caption);
    layout_->setContentsMargins(4, 4, 4, 4);
    layout_->addWidget(tabs_);
    // The user's tab changes; pages added before the sheet shows stay unbuilt.
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (isVisible())
            activate(index);
    });
}

CPropertySheetBase::~CPropertySheetBase()
{
    // Removing the pages changes the current tab: that must not call back
    // into a half-destroyed sheet.
    disconnect(tabs_, nullptr, this, nullptr);
}

void CPropertySheetBase::AddPage(CPropertyPageBase* page)
{
    if (page == nullptr)
        return;
    page->SetSheet(this);
    pages_.push_back(page);
    tabs_->addTab(page, page->windowTitle());
}

CPropertyPageBase* CPropertySheetBase::GetPage(int index) const
{
    return index >= 0 && index < PageCount() ? pages_[static_cast<std::size_t>(index)].data() : nullptr;
}

CPropertyPageBase* CPropertySheetBase::GetActivePage() const { return GetPage(tabs_->currentIndex()); }

bool CPropertySheetBase::SetActivePage(int index)
{
    if (GetPage(index) == nullptr)
        return false;
    tabs_->setCurrentIndex(index);
    // A sheet not yet shown only remembers the page: it is built when the
    // sheet shows, as every page is built the first time it is shown.
    if (isVisible())
        activate(index);
    return true;
}

bool CPropertySheetBase::SetActivePage(CPropertyPageBase* page)
{
    for (int i = 0; i < PageCount(); ++i)
        if (pages_[static_cast<std::size_t>(i)].data() == page)
            return SetActivePage(i);
    return false;
}

void CPropertySheetBase::activate(int index)
{
    if (index == active_)
        return;
    if (CPropertyPageBase* old = GetPage(active_); old != nullptr && old->HasWindow())
        old->OnKillActive();
    active_ = index;
    if (CPropertyPageBase* page = GetPage(index)) {
        page->CreatePage();
        page->OnSetActive();
    }
}

void CPropertySheetBase::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (active_ < 0 && PageCount() > 0)
        activate(tabs_->currentIndex() < 0 ? 0 : tabs_->currentIndex());
}

void CPropertySheetBase::SetButtons(QDialogButtonBox::StandardButtons buttons)
{
    delete buttons_;
    buttons_ = nullptr;
    if (buttons == QDialogButtonBox::NoButton)
        return;
    buttons_ = new QDialogButtonBox(buttons, this);
    layout_->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &CPropertySheetBase::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &CPropertySheetBase::reject);
    if (QPushButton* apply = buttons_->button(QDialogButtonBox::Apply))
        connect(apply, &QPushButton::clicked, this, &CPropertySheetBase::Apply);
}

void CPropertySheetBase::NotifyPages(platform::UINT code, platform::WPARAM wParam, platform::LPARAM lParam)
{
    const CPropertySheetBase* gate = owning_ != nullptr ? owning_ : this;
    if (!gate->RunFlag())
        return;
    using Slot = platform::LRESULT (CPropertyPageBase::*)(platform::WPARAM, platform::LPARAM);
    Slot slot = nullptr;
    switch (code) {
    case app::PN_DEVICE_STATE: slot = &CPropertyPageBase::OnDeviceState; break;
    case app::PN_PROFILE_CHANGED: slot = &CPropertyPageBase::OnProfileChanged; break;
    case app::PN_GAME_CHANGED: slot = &CPropertyPageBase::OnGameChanged; break;
    case app::PN_DEVICE_CHANGE: slot = &CPropertyPageBase::OnDeviceChange; break;
    case app::PN_CAMERA_STATUS: slot = &CPropertyPageBase::OnCameraStatus; break;
    default: return;
    }
    try {
        for (const auto& page : pages_)
            if (page && page->HasWindow())
                (page.data()->*slot)(wParam, lParam);
    } catch (...) {
        // A failing page ends this pass; the others miss this one code.
    }
}

bool CPropertySheetBase::Apply()
{
    if (CPropertyPageBase* page = GetActivePage(); page != nullptr && page->HasWindow() && !page->OnKillActive())
        return false;
    for (const auto& page : pages_)
        if (page && page->HasWindow() && !page->OnApply())
            return false;
    return true;
}

void CPropertySheetBase::accept()
{
    if (CPropertyPageBase* page = GetActivePage(); page != nullptr && page->HasWindow() && !page->OnKillActive())
        return;
    for (const auto& page : pages_)
        if (page && page->HasWindow())
            page->OnOK();
    QDialog::accept();
}

void CPropertySheetBase::reject()
{
    for (const auto& page : pages_)
        if (page && page->HasWindow())
            page->OnCancel();
    QDialog::reject();
}

void CPropertySheetBase::keyPressEvent(QKeyEvent* event)
{
    if (app::IsHelpKey(event)) {
        app::OpenHelp();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
