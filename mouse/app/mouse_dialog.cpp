#include "mouse_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSlider>

#include <chrono>

namespace vslmouse {

namespace {
QString Text(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }
} // namespace

MeterWidget::MeterWidget(QWidget* parent) : QWidget(parent) { setMinimumSize(200, 16); }

void MeterWidget::SetValue(float value)
{
    if (value == value_)
        return;
    value_ = value;
    update();
}

void MeterWidget::SetPanning(bool on, int thresholdPercent)
{
    panning_ = on;
    threshold_ = thresholdPercent;
    update();
}

MeterLayout MeterWidget::Layout() const { return LayoutMeter(value_, width(), panning_, threshold_); }

void MeterWidget::paintEvent(QPaintEvent*)
{
    // Qt paints into a back buffer and copies it in, so the bar never flickers.
    QPainter p(this);
    const int h = height();
    const MeterLayout m = Layout();
    p.fillRect(rect(), QColor(32, 32, 40));
    if (m.zones) {
        const QColor zone(96, 48, 48);
        p.fillRect(QRect(0, 0, m.leftZoneEnd, h), zone);
        p.fillRect(QRect(m.rightZoneStart, 0, width() - m.rightZoneStart, h), zone);
    }
    p.setPen(QColor(160, 160, 160));
    p.drawLine(m.centre, 0, m.centre, h - 1);
    p.fillRect(QRect(m.marker - 2, 1, 5, h - 2), QColor(64, 200, 96));
}

MouseDialog::MouseDialog(DialogServices s, QWidget* parent)
    : QDialog(parent), emulator_(s.client, s.pointer, s.foreground, s.clock, s.store, *this)
{
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    messageBox_ = [this](const QString& text) {
        QMessageBox::warning(this, QString::fromLatin1(kApplicationTitle), text);
    };

    auto* grid = new QGridLayout(this);
    auto comboRow = [&](int row, const char* label, const char* name) {
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        auto* combo = new QComboBox(this);
        combo->setObjectName(QString::fromLatin1(name));
        for (std::u16string_view axis : kAxisNames)
            combo->addItem(Text(axis));
        grid->addWidget(combo, row, 1, 1, 3);
        return combo;
    };
    xAxis_ = comboRow(0, "X axis", "xAxis");
    yAxis_ = comboRow(1, "Y axis", "yAxis");

    autoPanning_ = new QCheckBox(QStringLiteral("X Axis &Auto Panning"), this);
    autoPanning_->setObjectName(QStringLiteral("autoPanning"));
    grid->addWidget(autoPanning_, 2, 0, 1, 4);

    auto sliderRow = [&](int row, const char* label, const char* name, int min, int max, QSlider*& slider,
                         QPushButton*& up, QPushButton*& down, QLabel*& text) {
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(QString::fromLatin1(name));
        slider->setRange(min, max);
        down = new QPushButton(QStringLiteral("-"), this);
        down->setObjectName(QString::fromLatin1(name) + QStringLiteral("Down"));
        up = new QPushButton(QStringLiteral("+"), this);
        up->setObjectName(QString::fromLatin1(name) + QStringLiteral("Up"));
        text = new QLabel(this);
        text->setObjectName(QString::fromLatin1(name) + QStringLiteral("Text"));
        text->setMinimumWidth(90);
        grid->addWidget(down, row, 1);
        grid->addWidget(slider, row, 2);
        grid->addWidget(up, row, 3);
        grid->addWidget(text, row, 4);
    };
    sliderRow(3, "Threshold", "threshold", kThresholdMin, kThresholdMax, threshold_, thresholdUp_, thresholdDown_,
              thresholdText_);
    sliderRow(4, "Override delay", "delay", kDelayMin, kDelayMax, delay_, delayUp_, delayDown_, delayText_);

    xMeter_ = new MeterWidget(this);
    xMeter_->setObjectName(QStringLiteral("xMeter"));
    yMeter_ = new MeterWidget(this);
    yMeter_->setObjectName(QStringLiteral("yMeter"));
    grid->addWidget(new QLabel(QStringLiteral("X"), this), 5, 0);
    grid->addWidget(xMeter_, 5, 1, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("Y"), this), 6, 0);
    grid->addWidget(yMeter_, 6, 1, 1, 4);

    // X11 window managers give programs no system menu: the About entry is
    // the dialog's context menu.
    about_ = new QAction(QStringLiteral("&About Vistrel Mouse Emulation..."), this);
    about_->setObjectName(QStringLiteral("about"));
    setContextMenuPolicy(Qt::ActionsContextMenu);
    addAction(about_);
    connect(about_, &QAction::triggered, this, [this] { ShowAbout(); });

    // Controls to the emulator. Combo boxes and the check box save at once;
    // the ± buttons move their slider and its text only; a slider moved by
    // the user (any action but "to the start", as the original trackbar
    // code did) updates its text and saves.
    connect(xAxis_, &QComboBox::currentIndexChanged, this, [this](int i) {
        emulator_.SetXAxis(i);
        emulator_.SaveSettings();
    });
    connect(yAxis_, &QComboBox::currentIndexChanged, this, [this](int i) {
        emulator_.SetYAxis(i);
        emulator_.SaveSettings();
    });
    connect(autoPanning_, &QCheckBox::toggled, this, [this](bool on) {
        EnableThreshold(on);
        emulator_.SetAutoPanning(on);
        emulator_.SaveSettings();
    });
    connect(threshold_, &QSlider::valueChanged, this, [this](int v) { emulator_.SetThreshold(v); });
    connect(delay_, &QSlider::valueChanged, this, [this](int v) { emulator_.SetOverrideDelay(v); });
    connect(threshold_, &QSlider::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderToMinimum)
            return;
        emulator_.SetThreshold(threshold_->sliderPosition());
        UpdateThresholdText();
        emulator_.SaveSettings();
    });
    connect(delay_, &QSlider::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderToMinimum)
            return;
        emulator_.SetOverrideDelay(delay_->sliderPosition());
        UpdateDelayText();
        emulator_.SaveSettings();
    });
    connect(thresholdUp_, &QPushButton::clicked, this, [this] {
        threshold_->setValue(threshold_->value() + 1);
        UpdateThresholdText();
    });
    connect(thresholdDown_, &QPushButton::clicked, this, [this] {
        threshold_->setValue(threshold_->value() - 1);
        UpdateThresholdText();
    });
    connect(delayUp_, &QPushButton::clicked, this, [this] {
        delay_->setValue(delay_->value() + 1);
        UpdateDelayText();
    });
    connect(delayDown_, &QPushButton::clicked, this, [this] {
        delay_->setValue(delay_->value() - 1);
        UpdateDelayText();
    });

    tick_.setSingleShot(true);
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, [this] { RunTimers(); });
}

MouseDialog::~MouseDialog() { Teardown(); }

int MouseDialog::Start()
{
    emulator_.LoadSettings();
    const MouseSettings& s = emulator_.Settings();
    // Filling the controls is not a change of the user's.
    const QSignalBlocker b1(xAxis_), b2(yAxis_), b3(autoPanning_), b4(threshold_), b5(delay_);
    xAxis_->setCurrentIndex(s.xAxis);
    yAxis_->setCurrentIndex(s.yAxis);
    autoPanning_->setChecked(s.autoPanning);
    threshold_->setValue(s.autoPanningThreshold);
    delay_->setValue(s.mouseOverrideDelay);
    UpdateThresholdText();
    UpdateDelayText();
    EnableThreshold(s.autoPanning);

    // The window the main program knows the emulator by.
    window_ = platform::createWindow({"VSLMouseDialog", kApplicationTitle, true},
                                     [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
                                         return platform::LRESULT{0};
                                     });
    const int rc = emulator_.OnInitDialog(window_);
    if (rc != 0) {
        Teardown();
        return rc;
    }
    Schedule();
    return 0;
}

void MouseDialog::RunTimers()
{
    // Messages to the registered window (the main program's notices) are
    // taken so that its queue does not grow; they need no answer.
    platform::Msg msg;
    while (window_ != 0 && platform::peekMessage(msg))
        platform::dispatchMessage(msg);
    emulator_.RunTimers();
    Schedule();
}

void MouseDialog::Schedule()
{
    const auto next = emulator_.TimeToNextTimer();
    if (!next) {
        tick_.stop();
        return;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next).count();
    tick_.start(static_cast<int>(ms));
}

QString MouseDialog::AboutBoxText() { return Text(AboutText()); }

void MouseDialog::ShowAbout()
{
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(kApplicationTitle), AboutBoxText(),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("aboutBox"));
    box.exec();
}

void MouseDialog::ShowMessage(std::u16string_view text)
{
    if (messageBox_)
        messageBox_(Text(text));
}

void MouseDialog::UpdateMeters(float x, float y)
{
    xMeter_->SetPanning(emulator_.Settings().autoPanning, emulator_.Settings().autoPanningThreshold);
    xMeter_->SetValue(x);
    yMeter_->SetValue(y);
}

void MouseDialog::done(int result)
{
    Teardown();
    QDialog::done(result);
}

void MouseDialog::closeEvent(QCloseEvent* event)
{
    Teardown();
    QDialog::closeEvent(event);
}

void MouseDialog::Teardown()
{
    if (torn_)
        return;
    torn_ = true;
    tick_.stop();
    emulator_.OnDestroy();
    if (window_ != 0)
        platform::destroyWindow(window_);
    window_ = 0;
}

void MouseDialog::EnableThreshold(bool on)
{
    threshold_->setEnabled(on);
    thresholdUp_->setEnabled(on);
    thresholdDown_->setEnabled(on);
    thresholdText_->setEnabled(on);
}

// The slider's position: while a scroll action runs it is ahead of the value.
void MouseDialog::UpdateThresholdText()
{
    thresholdText_->setText(Text(ThresholdText(threshold_->sliderPosition())));
}
void MouseDialog::UpdateDelayText() { delayText_->setText(Text(DelayText(delay_->sliderPosition()))); }

} // namespace vslmouse
