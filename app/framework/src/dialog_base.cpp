#include "app/dialog_base.h"

#include <QKeyEvent>

namespace app {

namespace {
std::function<void()>& helpHandler()
{
    static std::function<void()> handler;
    return handler;
}
} // namespace

void SetHelpHandler(std::function<void()> handler) { helpHandler() = std::move(handler); }

bool OpenHelp()
{
    if (!helpHandler())
        return false;
    helpHandler()();
    return true;
}

bool IsHelpKey(const QKeyEvent* event)
{
    return event->key() == Qt::Key_F1 && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace app

CDialogBase::CDialogBase(int templateId, QWidget* parent) : QDialog(parent), templateId_(templateId) {}

void CDialogBase::keyPressEvent(QKeyEvent* event)
{
    if (app::IsHelpKey(event)) {
        app::OpenHelp();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
