#pragma once
// "Curve Editor": edits the response curve of one axis of a profile in
// place. The caller keeps a copy of the profile and assigns it back when
// DoModal returns Rejected.
#include <functional>
#include <memory>

#include <QSpinBox>

#include "app/dialog_base.h"
#include "windows/curve_editor_logic.h"
#include "windows/curve_wnd.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QPushButton;

// An up-down whose handler runs before the control takes its own step.
class CCurveUpDown : public QSpinBox {
    Q_OBJECT
public:
    using QSpinBox::QSpinBox;
    std::function<void(int)> onStep;
    void stepBy(int steps) override;
};

class CCurveEditorDlg : public CDialogBase {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 138;
    static constexpr int kCurveWndId = 2001;

    explicit CCurveEditorDlg(QWidget* parent = nullptr);
    ~CCurveEditorDlg() override;

    void SetProfile(CProfile* profile) { profile_ = profile; }
    void SetAxis(int axis) { axis_ = axis; }
    // Runs after every edit of the profile, so that the opener can hand the
    // change on (the engine otherwise picks it up with its next profile copy).
    void SetChangeHandler(std::function<void()> handler) { onChange_ = std::move(handler); }
    // Accepted or Rejected; the edits are in the profile either way.
    int DoModal();
    // Builds the controls' contents and the curve; DoModal calls it.
    void OnInitDialog();

    CCurveEditorLogic* Logic() { return logic_.get(); }
    CCurveWnd* CurveWnd() { return curveWnd_; }
    QComboBox* AxisList() { return axisList_; }
    QComboBox* TypeList() { return typeList_; }
    QComboBox* CopyList() { return copyList_; }
    QPushButton* CopyButton() { return copyButton_; }
    CCurveUpDown* ShiftUpDown() { return shift_; }
    CCurveUpDown* PositionUpDown() { return position_; }
    CCurveUpDown* ValueUpDown() { return value_; }
    QCheckBox* MirrorBox() { return mirror_; }
    QFrame* CurveFrame() { return curveFrame_; }

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void Sync();
    void Changed();
    void PlaceCurveWnd();

    CProfile* profile_ = nullptr;
    int axis_ = 0;
    std::unique_ptr<CCurveEditorLogic> logic_;
    CCurveWnd* curveWnd_ = nullptr;
    QComboBox* axisList_ = nullptr;
    QComboBox* typeList_ = nullptr;
    QComboBox* copyList_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    CCurveUpDown* shift_ = nullptr;
    CCurveUpDown* position_ = nullptr;
    CCurveUpDown* value_ = nullptr;
    QCheckBox* mirror_ = nullptr;
    QFrame* curveFrame_ = nullptr; // marks where the curve window goes
    bool filtering_ = false;
    std::function<void()> onChange_;
};
