#pragma once
// "Hotkey Entry": assigns one of a profile's three hot keys by capturing the
// next key from the keyboard detector or the next button from the action
// map. There is no OK button: a capture ends the dialog. Both ways out give
// the keyboard back to the main sheet's window.
#include "app/dialog_base.h"
#include "input/ActionMap.h"
#include "input/HotKeys.h"
#include "input/Keyboard.h"
#include "platform/messages.h"

#include <functional>

#include <QString>

class QLabel;
class QPushButton;

class CHotKeyEntryDlg : public CDialogBase {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 129;
    static constexpr int kRoleControl = 1042;

    using MessageBoxFn = std::function<void(const QString& text)>;
    using CursorProbe = std::function<bool()>;

    // sheetWindow: the main sheet's window that gets the keyboard back (0: none).
    CHotKeyEntryDlg(CKeyboard& keyboard, CActionMap& actions, int index, CHotKeys& keys,
                    platform::HWND sheetWindow, QWidget* parent = nullptr);
    ~CHotKeyEntryDlg() override;

    // How messages are shown; a modal message box unless replaced.
    void SetMessageBox(MessageBoxFn show) { messageBox_ = std::move(show); }
    // Whether the mouse cursor lies inside the Cancel button; the real
    // cursor unless replaced.
    void SetCursorInCancel(CursorProbe probe) { cursorInCancel_ = std::move(probe); }

    // The window the detector and the action map report to.
    platform::HWND Window() const { return window_; }
    platform::LRESULT HandleMessage(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam);

    std::uint32_t CapturedCode() const { return capturedCode_; }
    Guid CapturedDevice() const { return capturedDevice_; }
    QLabel* RoleLabel() const { return role_; }
    QPushButton* CancelButton() const { return cancel_; }

    // "Center", "Pause", "Precision"; empty for other indexes.
    static QString RoleName(int index);
    // "The key %s is already assigned to %s."
    static QString AlreadyAssignedText(const QString& key, const QString& role);

protected:
    void showEvent(QShowEvent* event) override;

public slots:
    void reject() override;

private:
    void initialise();
    void giveKeyboardBack();
    void acceptCapture();
    void showMessage(const QString& text);

    CKeyboard& keyboard_;
    CActionMap& actions_;
    int index_;
    CHotKeys& keys_;
    platform::HWND sheetWindow_;
    platform::HWND window_ = 0;
    std::uint32_t capturedCode_ = 0;
    Guid capturedDevice_{};
    bool initialised_ = false;
    bool finished_ = false;
    QLabel* role_ = nullptr;
    QPushButton* cancel_ = nullptr;
    MessageBoxFn messageBox_;
    CursorProbe cursorInCancel_;
};
