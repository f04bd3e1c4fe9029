#pragma once
// The desktop side of IShellDialogs: message boxes and the modal editors,
// parented to the main frame.
#include <QPointer>
#include <QWidget>

#include "app/shell/sheet_hosts.h"

namespace app {

class CShellDialogs final : public IShellDialogs {
public:
    explicit CShellDialogs(QWidget* parent) : parent_(parent) {}

    bool Ask(const std::u16string& text, bool defaultNo = false) override;
    void Message(const std::u16string& text) override;
    bool EditProfile(CProfile& profile, bool isNew, IProfileEditorHost& host) override;
    void EditHotKey(int index, CHotKeys& keys, CKeyboard& keyboard, CActionMap& actions,
                    platform::HWND sheetWindow) override;
    bool EditCurve(CProfile& profile, int axis, const std::function<void()>& changed) override;
    void ShowGameDetails(const CGameInfo& game, bool& favourite) override;

private:
    // The active modal window when there is one (a dialog opened from a
    // dialog stays on top of it), else the frame.
    QWidget* Parent() const;

    QPointer<QWidget> parent_;
};

} // namespace app
