#include "windows/curve_editor_dlg.h"

#include <array>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct TargetRow {
    const char* text;
    int data;
};
// Copy targets in list order; rows below 6 are also the axes.
constexpr std::array<TargetRow, 9> kTargets{{{"All", kCopyAll},
                                             {"All rotation", kCopyAllRotation},
                                             {"All translation", kCopyAllTranslation},
                                             {"Yaw", 0},
                                             {"Pitch", 1},
                                             {"Roll", 2},
                                             {"X", 3},
                                             {"Y", 4},
                                             {"Z", 5}}};

// Curve-type names in type order (combo index = type).
constexpr std::array<const char*, 6> kTypeNames{"Linear", "Smooth", "Aggressive", "Dead Zone", "Progressive",
                                                "Custom"};

bool IsArrow(int key)
{
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right;
}

} // namespace

void CCurveUpDown::stepBy(int steps)
{
    if (onStep) onStep(steps);
    QSpinBox::stepBy(steps);
}

CCurveEditorDlg::CCurveEditorDlg(QWidget* parent) : CDialogBase(kTemplateId, parent)
{
    setWindowTitle(QStringLiteral("Curve Editor"));
    auto* grid = new QGridLayout;

    axisList_ = new QComboBox(this);
    typeList_ = new QComboBox(this);
    grid->addWidget(new QLabel(QStringLiteral("Axis:"), this), 0, 0);
    grid->addWidget(axisList_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Acceleration:"), this), 0, 2);
    grid->addWidget(typeList_, 0, 3);

    curveFrame_ = new QFrame(this);
    curveFrame_->setFixedSize(kCurveEditorWidth, kCurveEditorHeight);
    grid->addWidget(curveFrame_, 1, 0, 1, 4, Qt::AlignCenter);

    copyList_ = new QComboBox(this);
    copyButton_ = new QPushButton(QStringLiteral("&Copy"), this);
    grid->addWidget(new QLabel(QStringLiteral("Copy curve to axis:"), this), 2, 0);
    grid->addWidget(copyList_, 2, 1);
    grid->addWidget(copyButton_, 2, 2);

    shift_ = new CCurveUpDown(this);
    position_ = new CCurveUpDown(this);
    value_ = new CCurveUpDown(this);
    grid->addWidget(new QLabel(QStringLiteral("Shift entire curve:"), this), 3, 0);
    grid->addWidget(shift_, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Position:"), this), 4, 0);
    grid->addWidget(position_, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("Value:"), this), 4, 2);
    grid->addWidget(value_, 4, 3);

    mirror_ = new QCheckBox(QStringLiteral("&Mirror values"), this);
    mirror_->setChecked(true);
    grid->addWidget(mirror_, 5, 0, 1, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addWidget(buttons);
}

CCurveEditorDlg::~CCurveEditorDlg()
{
    if (filtering_) qApp->removeEventFilter(this);
}

int CCurveEditorDlg::DoModal()
{
    OnInitDialog();
    return exec();
}

void CCurveEditorDlg::OnInitDialog()
{
    if (profile_ == nullptr || logic_) return;

    position_->setRange(-50, 50);
    value_->setRange(kCurveSlopeMin, kCurveSlopeMax);
    shift_->setRange(-10000, 10000);

    for (const auto& row : kTargets) {
        copyList_->addItem(QString::fromUtf8(row.text), row.data);
        if (row.data < kCopyAll) axisList_->addItem(QString::fromUtf8(row.text), row.data);
    }
    for (int t = 0; t < static_cast<int>(kTypeNames.size()); ++t)
        typeList_->addItem(QString::fromUtf8(kTypeNames[static_cast<std::size_t>(t)]), t);

    curveWnd_ = new CCurveWnd(this);
    curveWnd_->Create(QRect(curveFrame_->pos(), QSize(kCurveEditorWidth, kCurveEditorHeight)), kCurveWndId,
                      false);
    QWidget::setTabOrder(curveFrame_, curveWnd_);
    curveWnd_->raise();

    logic_ = std::make_unique<CCurveEditorLogic>(*profile_, axis_, curveWnd_->State());
    logic_->mirror = mirror_->isChecked() ? 1 : 0;
    logic_->Init();
    axisList_->setCurrentIndex(logic_->AxisIndex());
    copyList_->setCurrentIndex(0);

    connect(mirror_, &QCheckBox::toggled, this, [this](bool on) { logic_->mirror = on ? 1 : 0; });
    connect(axisList_, &QComboBox::currentIndexChanged, this, [this](int i) {
        logic_->OnAxisChanged(axisList_->itemData(i).toInt());
        Sync();
    });
    connect(typeList_, &QComboBox::currentIndexChanged, this, [this](int i) {
        logic_->OnCurveTypeChanged(typeList_->itemData(i).toInt());
        Sync();
        Changed();
    });
    connect(copyButton_, &QPushButton::clicked, this,
            [this] {
                logic_->Copy(copyList_->currentData().toInt());
                Changed();
            });
    value_->onStep = [this](int d) {
        logic_->OnValueStep(d);
        Sync();
        Changed();
    };
    shift_->onStep = [this](int d) {
        logic_->OnShiftStep(d);
        Sync();
        Changed();
    };
    position_->onStep = [this](int d) {
        logic_->OnPositionStep(d);
        Sync();
    };

    qApp->installEventFilter(this);
    filtering_ = true;
    Sync();
}

void CCurveEditorDlg::Sync()
{
    if (!logic_) return;
    const QSignalBlocker b1(typeList_);
    const QSignalBlocker b2(position_);
    const QSignalBlocker b3(value_);
    typeList_->setCurrentIndex(logic_->curveTypeIndex);
    position_->setValue(logic_->position);
    value_->setValue(logic_->value);
    if (curveWnd_) curveWnd_->update();
}

void CCurveEditorDlg::Changed()
{
    if (onChange_) onChange_();
}

void CCurveEditorDlg::PlaceCurveWnd()
{
    if (curveWnd_) curveWnd_->move(curveFrame_->pos());
}

void CCurveEditorDlg::resizeEvent(QResizeEvent* e)
{
    CDialogBase::resizeEvent(e);
    PlaceCurveWnd();
}

void CCurveEditorDlg::showEvent(QShowEvent* e)
{
    CDialogBase::showEvent(e);
    PlaceCurveWnd();
}

bool CCurveEditorDlg::event(QEvent* e)
{
    if (e->type() == CCurveKnotMovedEvent::kType) {
        if (logic_) {
            logic_->OnKnotMoved();
            Sync();
            Changed();
        }
        return true;
    }
    return CDialogBase::event(e);
}

bool CCurveEditorDlg::eventFilter(QObject* watched, QEvent* e)
{
    auto* w = qobject_cast<QWidget*>(watched);
    if (!logic_ || !curveWnd_ || w == nullptr || (w != this && !isAncestorOf(w)))
        return CDialogBase::eventFilter(watched, e);

    switch (e->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(e)->key();
        // Arrow keys are the curve window's while it has the focus.
        if (IsArrow(key) && curveWnd_->hasFocus()) {
            curveWnd_->HandleKey(key);
            if (curveWnd_->GetSelected() >= 0) {
                if (key == Qt::Key_Up || key == Qt::Key_Down) {
                    logic_->OnArrowUpDown();
                    Changed();
                } else
                    logic_->OnArrowLeftRight();
            }
            Sync();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::LeftButton) {
            const QPoint p = curveWnd_->mapFromGlobal(me->globalPosition().toPoint());
            logic_->OnLButtonDown(curveWnd_->rect().contains(p));
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton && logic_->mouseDownInCurve != 0) {
            logic_->OnLButtonUp();
            Sync();
        }
        break;
    default:
        break;
    }
    return CDialogBase::eventFilter(watched, e);
}
