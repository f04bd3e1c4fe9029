#include "windows/HotKeyEntryDlg.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString toQ(const std::u16string& s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

QString CHotKeyEntryDlg::RoleName(int index)
{
    switch (index) {
    case 0: return QStringLiteral("Center");
    case 1: return QStringLiteral("Pause");
    case 2: return QStringLiteral("Precision");
    default: return {};
    }
}

QString CHotKeyEntryDlg::AlreadyAssignedText(const QString& key, const QString& role)
{
    return QStringLiteral("The key %1 is already assigned to %2.").arg(key, role);
}

CHotKeyEntryDlg::CHotKeyEntryDlg(CKeyboard& keyboard, CActionMap& actions, int index, CHotKeys& keys,
                                 platform::HWND sheetWindow, QWidget* parent)
    : CDialogBase(kTemplateId, parent), keyboard_(keyboard), actions_(actions), index_(index), keys_(keys),
      sheetWindow_(sheetWindow)
{
    setWindowTitle(QStringLiteral("Hotkey Entry"));
    const CKeyInfo current = keys_.GetAt(index_);
    capturedCode_ = current.Code;
    capturedDevice_ = current.Device;

    auto* prompt = new QLabel(QStringLiteral("Enter the desired hotkey for:"), this);
    role_ = new QLabel(RoleName(index_), this);
    role_->setObjectName(QStringLiteral("role"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &CHotKeyEntryDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(role_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);

    messageBox_ = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
    cursorInCancel_ = [this] { return cancel_->rect().contains(cancel_->mapFromGlobal(QCursor::pos())); };

    window_ = platform::createWindow({"HotKeyEntry", "Hotkey Entry", false},
                                     [this](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM l) {
                                         return HandleMessage(m, w, l);
                                     });
}

CHotKeyEntryDlg::~CHotKeyEntryDlg()
{
    if (window_)
        platform::destroyWindow(window_);
}

void CHotKeyEntryDlg::showEvent(QShowEvent* event)
{
    CDialogBase::showEvent(event);
    if (!initialised_) {
        initialised_ = true;
        initialise();
    }
}

void CHotKeyEntryDlg::initialise()
{
    role_->setText(RoleName(index_));
    setFocus();
    if (!keyboard_.FilterAllKeys(window_, WM_HOTKEY_KEY))
        showMessage(QStringLiteral("Failed to set Keyboard Hook"));
    actions_.BeginCapture(window_, WM_HOTKEY_ACTION);
}

void CHotKeyEntryDlg::showMessage(const QString& text)
{
    if (messageBox_)
        messageBox_(text);
}

platform::LRESULT CHotKeyEntryDlg::HandleMessage(platform::UINT message, platform::WPARAM, platform::LPARAM lParam)
{
    if (finished_ || !initialised_)
        return 0;
    if (message == WM_HOTKEY_KEY) {
        capturedDevice_ = GUID_NULL;
        capturedCode_ = static_cast<std::uint32_t>(lParam);
        acceptCapture();
        return 1;
    }
    if (message == WM_HOTKEY_ACTION) {
        const CActionMapEntry entry = actions_.GetCapturedEntry();
        if (entry.device == GUID_SysMouse && entry.button == 0 && cursorInCancel_ && cursorInCancel_()) {
            // The click that is about to press Cancel: keep listening for a real button.
            actions_.BeginCapture(window_, WM_HOTKEY_ACTION);
            return 0;
        }
        capturedDevice_ = entry.device;
        capturedCode_ = static_cast<std::uint32_t>(entry.button);
        acceptCapture();
        return 1;
    }
    return 0;
}

void CHotKeyEntryDlg::giveKeyboardBack()
{
    keyboard_.Uninstall();
    keyboard_.Install(sheetWindow_, WM_HOTKEY_KEY);
    actions_.EndCapture();
}

void CHotKeyEntryDlg::acceptCapture()
{
    finished_ = true;
    giveKeyboardBack();
    CKeyInfo key = keys_.GetAt(index_);

    auto refuse = [&](int holder) {
        CKeyInfo shown = key;
        shown.Device = capturedDevice_;
        showMessage(AlreadyAssignedText(toQ(shown.GetKeyText(capturedCode_)), RoleName(holder)));
        done(QDialog::Accepted);
    };

    if (capturedDevice_ == GUID_NULL) {
        const int holder = keys_.FindKey(capturedCode_);
        if (holder != -1) {
            refuse(holder);
            return;
        }
        if (capturedCode_ == key.Code) {
            done(QDialog::Accepted);
            return;
        }
        key.Device = GUID_NULL;
    } else {
        CActionMapEntry probe;
        probe.device = capturedDevice_;
        probe.button = static_cast<std::int32_t>(capturedCode_);
        if (actions_.FindEntry(probe)) {
            refuse(probe.action);
            return;
        }
        key.Device = capturedDevice_;
    }
    key.SetKey(capturedCode_);
    keys_.SetAtGrow(index_, key);
    keyboard_.SetHotKeys(keys_);
    actions_.ClearBindings();
    actions_.AddHotKeys(keys_, WM_HOTKEY_ACTION);
    done(QDialog::Accepted);
}

void CHotKeyEntryDlg::reject()
{
    if (!finished_) {
        finished_ = true;
        giveKeyboardBack();
    }
    CDialogBase::reject();
}
