#include "windows/tracking_settings_dlg.h"

#include <array>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

YesNoQuestion MessageBoxQuestion(QWidget* parent)
{
    return [parent](int, std::u16string_view text) {
        const QString q = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
        return QMessageBox::question(parent, QString(), q, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
}

QSlider* MakeSlider(QWidget* parent, int id, int min, int max)
{
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(QString::number(id));
    s->setRange(min, max);
    return s;
}

QPushButton* MakeButton(QWidget* parent, int id, const char* text)
{
    auto* b = new QPushButton(QString::fromLatin1(text), parent);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    return b;
}

} // namespace

QPixmap CTrackingSettingsDlg::RotationPicture(int icon)
{
    // A camera seen from the front with an arrow marking its top, turned by
    // the rotation's quarter turns.
    const int turns = icon - CTrackingSettingsModel::kFirstRotationIcon;
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(16, 16);
    p.rotate(90.0 * turns);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(60, 60, 60));
    p.drawRoundedRect(QRectF(-11, -6, 22, 14), 3, 3);
    p.setBrush(QColor(200, 40, 40));
    p.drawEllipse(QPointF(0, 1), 4, 4);
    p.setBrush(Qt::black);
    const QPointF arrow[] = {{0, -15}, {-5, -8}, {5, -8}};
    p.drawPolygon(arrow, 3);
    return pm;
}

CTrackingSettingsDlg::CTrackingSettingsDlg(CAppSettings& live, ITrackingSettingsHost& host, YesNoQuestion ask,
                                           QWidget* parent)
    : CDialogBase(kTemplateId, parent), model_(live, host, ask ? std::move(ask) : MessageBoxQuestion(this))
{
    setWindowTitle(QStringLiteral("Tracking Settings"));
    leds_ = new QCheckBox(QStringLiteral("&Camera LEDs On"), this);
    leds_->setObjectName(QStringLiteral("1002"));

    auto* rotationGroup = new QButtonGroup(this);
    auto* rotationRow = new QHBoxLayout;
    const char* const rotationTexts[] = {"&0", "&90", "&180", "&270"};
    for (int i = 0; i < 4; ++i) {
        auto* r = new QRadioButton(QString::fromLatin1(rotationTexts[i]), this);
        r->setObjectName(QString::number(1010 + i));
        rotationGroup->addButton(r, i);
        rotation_[static_cast<std::size_t>(i)] = r;
        rotationRow->addWidget(r);
    }
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("1118"));
    rotationRow->addWidget(picture_);

    filtering_ = new QCheckBox(QStringLiteral("&Light Filtering"), this);
    filtering_->setObjectName(QStringLiteral("1086"));
    threshold_ = MakeSlider(this, 1087, CTrackingSettingsModel::kThresholdMin, CTrackingSettingsModel::kThresholdMax);
    thresholdLabel_ = new QLabel(this);
    thresholdLabel_->setObjectName(QStringLiteral("1088"));
    thresholdDown_ = MakeButton(this, 1141, "<");
    thresholdUp_ = MakeButton(this, 1142, ">");

    blueLed_ = new QCheckBox(QStringLiteral("Use blue LED for Vistrel Enhanced"), this);
    blueLed_->setObjectName(QStringLiteral("1052"));

    auto* typeGroup = new QButtonGroup(this);
    const char* const typeTexts[] = {"&Dot", "&Brimzel"};
    for (int i = 0; i < 2; ++i) {
        auto* r = new QRadioButton(QString::fromLatin1(typeTexts[i]), this);
        r->setObjectName(QString::number(i == 0 ? 1114 : 1116));
        r->setVisible(false);
        typeGroup->addButton(r, i);
        objectType_[static_cast<std::size_t>(i)] = r;
    }

    auto* sizeTitle = new QLabel(QStringLiteral("&Preferred Object Size (pixels):"), this);
    size_ = MakeSlider(this, 1003, CTrackingSettingsModel::kSizeMin, CTrackingSettingsModel::kSizeMax);
    sizeTitle->setBuddy(size_);
    sizeLabel_ = new QLabel(this);
    sizeLabel_->setObjectName(QStringLiteral("1089"));
    sizeDown_ = MakeButton(this, 1139, "<");
    sizeUp_ = MakeButton(this, 1140, ">");

    auto* halvexor = new QGroupBox(QStringLiteral("Halvexor Position"), this);
    halvexor->setObjectName(QStringLiteral("1357"));
    auto* customize = new QPushButton(QStringLiteral("Customize"), halvexor);
    customize->setObjectName(QStringLiteral("1310"));
    (new QHBoxLayout(halvexor))->addWidget(customize);
    halvexor->setVisible(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* thresholdRow = new QHBoxLayout;
    thresholdRow->addWidget(thresholdDown_);
    thresholdRow->addWidget(threshold_, 1);
    thresholdRow->addWidget(thresholdUp_);
    thresholdRow->addWidget(thresholdLabel_);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(sizeDown_);
    sizeRow->addWidget(size_, 1);
    sizeRow->addWidget(sizeUp_);
    sizeRow->addWidget(sizeLabel_);
    auto* top = new QVBoxLayout(this);
    top->addWidget(leds_);
    top->addLayout(rotationRow);
    top->addWidget(filtering_);
    top->addLayout(thresholdRow);
    top->addWidget(blueLed_);
    top->addWidget(objectType_[0]);
    top->addWidget(objectType_[1]);
    top->addWidget(sizeTitle);
    top->addLayout(sizeRow);
    top->addWidget(halvexor);
    top->addWidget(buttons);

    model_.Init();
    Show();

    // Control changes go to the model; Show() puts the model's state back
    // into the controls (a refused LED change, a clamped value).
    const auto guarded = [this](auto fn) {
        return [this, fn](auto... args) {
            if (showing_)
                return;
            fn(args...);
            Show();
        };
    };
    connect(leds_, &QCheckBox::clicked, this, guarded([this](bool on) { model_.SetLeds(on); }));
    connect(rotationGroup, &QButtonGroup::idClicked, this, guarded([this](int id) { model_.SetRotation(id); }));
    connect(filtering_, &QCheckBox::clicked, this, guarded([this](bool on) { model_.SetLightFiltering(on); }));
    connect(threshold_, &QSlider::valueChanged, this, guarded([this](int v) { model_.SetThreshold(v); }));
    connect(thresholdDown_, &QPushButton::clicked, this, guarded([this](bool) { model_.StepThreshold(-1); }));
    connect(thresholdUp_, &QPushButton::clicked, this, guarded([this](bool) { model_.StepThreshold(1); }));
    connect(blueLed_, &QCheckBox::clicked, this, guarded([this](bool on) { model_.SetBlueLed(on); }));
    connect(typeGroup, &QButtonGroup::idClicked, this, guarded([this](int id) { model_.SetObjectType(id); }));
    connect(size_, &QSlider::valueChanged, this, guarded([this](int v) { model_.SetSize(v); }));
    connect(sizeDown_, &QPushButton::clicked, this, guarded([this](bool) { model_.StepSize(-1); }));
    connect(sizeUp_, &QPushButton::clicked, this, guarded([this](bool) { model_.StepSize(1); }));
}

CTrackingSettingsDlg::~CTrackingSettingsDlg() = default;

void CTrackingSettingsDlg::Show()
{
    showing_ = true;
    leds_->setChecked(model_.LedsChecked());
    const int rotation = model_.Rotation();
    for (int i = 0; i < 4; ++i)
        rotation_[static_cast<std::size_t>(i)]->setChecked(i == rotation);
    if (shownIcon_ != model_.RotationIcon()) {
        shownIcon_ = model_.RotationIcon();
        picture_->setPixmap(RotationPicture(shownIcon_));
    }
    filtering_->setChecked(model_.LightFiltering());
    threshold_->setValue(model_.Threshold());
    thresholdLabel_->setText(QString::number(model_.Threshold()));
    threshold_->setEnabled(model_.ThresholdEnabled());
    thresholdDown_->setEnabled(model_.ThresholdEnabled());
    thresholdUp_->setEnabled(model_.ThresholdEnabled());
    blueLed_->setChecked(model_.BlueLed());
    for (int i = 0; i < 2; ++i)
        objectType_[static_cast<std::size_t>(i)]->setChecked(i == model_.ObjectType());
    size_->setValue(model_.Size());
    sizeLabel_->setText(QString::number(model_.Size()));
    showing_ = false;
}
