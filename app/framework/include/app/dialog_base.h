#pragma once
// The program's dialog base: F1 (the desktop's help request) opens the help
// page through the application's help handler; the sheets and pages share it.
#include <functional>

#include <QDialog>

class QKeyEvent;

namespace app {

// The application installs what opening help means; none set: nothing.
void SetHelpHandler(std::function<void()> handler);
// Runs the help handler; false when none is set.
bool OpenHelp();
// Whether `event` is the help request (F1 without modifiers).
bool IsHelpKey(const QKeyEvent* event);

} // namespace app

class CDialogBase : public QDialog {
    Q_OBJECT
public:
    explicit CDialogBase(int templateId, QWidget* parent = nullptr);

    int TemplateId() const { return templateId_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int templateId_;
};
