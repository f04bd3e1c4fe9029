#include "app/shell/shell_dialogs.h"

#include <QApplication>
#include <QMessageBox>

#include "app/main_pages.h"
#include "windows/HotKeyEntryDlg.h"
#include "windows/curve_editor_dlg.h"

namespace app {

namespace {

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

} // namespace

QWidget* CShellDialogs::Parent() const
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return parent_.data();
}

bool CShellDialogs::Ask(const std::u16string& text, bool defaultNo)
{
    return QMessageBox::question(Parent(), QStringLiteral("Vistrel"), Q(text), QMessageBox::Yes | QMessageBox::No,
                                 defaultNo ? QMessageBox::No : QMessageBox::Yes) == QMessageBox::Yes;
}

void CShellDialogs::Message(const std::u16string& text)
{
    QMessageBox::information(Parent(), QStringLiteral("Vistrel"), Q(text));
}

bool CShellDialogs::EditProfile(CProfile& profile, bool isNew, IProfileEditorHost& host)
{
    CProfilePropertySheet sheet(profile, host, Parent());
    sheet.SetNewProfile(isNew ? 1 : 0);
    sheet.SetCaption(profile.Name);
    return sheet.exec() == QDialog::Accepted;
}

void CShellDialogs::EditHotKey(int index, CHotKeys& keys, CKeyboard& keyboard, CActionMap& actions,
                               platform::HWND sheetWindow)
{
    CHotKeyEntryDlg dlg(keyboard, actions, index, keys, sheetWindow, Parent());
    dlg.exec();
}

bool CShellDialogs::EditCurve(CProfile& profile, int axis, const std::function<void()>& changed)
{
    CCurveEditorDlg dlg(Parent());
    dlg.SetProfile(&profile);
    dlg.SetAxis(axis);
    dlg.SetChangeHandler(changed);
    return dlg.DoModal() == QDialog::Accepted;
}

void CShellDialogs::ShowGameDetails(const CGameInfo& game, bool& favourite)
{
    CGameInfoDlg dlg(game, favourite, Parent());
    dlg.exec();
    favourite = dlg.Favourite();
}

} // namespace app
