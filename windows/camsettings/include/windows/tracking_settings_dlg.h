#pragma once
// The modal "Tracking Settings" dialog on the live settings.
#include <QPixmap>

#include "app/dialog_base.h"
#include "windows/tracking_settings_model.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

class CTrackingSettingsDlg : public CDialogBase {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 109;

    // `ask` null: a Yes/No message box.
    CTrackingSettingsDlg(CAppSettings& live, ITrackingSettingsHost& host, YesNoQuestion ask = {},
                         QWidget* parent = nullptr);
    ~CTrackingSettingsDlg() override;

    const CTrackingSettingsModel& Model() const { return model_; }
    int ShownIcon() const { return shownIcon_; }
    static QPixmap RotationPicture(int icon);

    QCheckBox* LedsBox() const { return leds_; }
    QRadioButton* RotationRadio(int i) const { return rotation_[static_cast<std::size_t>(i)]; }
    QCheckBox* FilteringBox() const { return filtering_; }
    QSlider* ThresholdSlider() const { return threshold_; }
    QLabel* ThresholdLabel() const { return thresholdLabel_; }
    QPushButton* ThresholdDown() const { return thresholdDown_; }
    QPushButton* ThresholdUp() const { return thresholdUp_; }
    QCheckBox* BlueLedBox() const { return blueLed_; }
    QRadioButton* ObjectTypeRadio(int i) const { return objectType_[static_cast<std::size_t>(i)]; }
    QSlider* SizeSlider() const { return size_; }
    QLabel* SizeLabel() const { return sizeLabel_; }
    QPushButton* SizeDown() const { return sizeDown_; }
    QPushButton* SizeUp() const { return sizeUp_; }

private:
    void Show();

    CTrackingSettingsModel model_;
    bool showing_ = false;
    int shownIcon_ = 0;
    QCheckBox* leds_ = nullptr;
    std::array<QRadioButton*, 4> rotation_{};
    QLabel* picture_ = nullptr;
    QCheckBox* filtering_ = nullptr;
    QSlider* threshold_ = nullptr;
    QLabel* thresholdLabel_ = nullptr;
    QPushButton* thresholdDown_ = nullptr;
    QPushButton* thresholdUp_ = nullptr;
    QCheckBox* blueLed_ = nullptr;
    std::array<QRadioButton*, 2> objectType_{};
    QSlider* size_ = nullptr;
    QLabel* sizeLabel_ = nullptr;
    QPushButton* sizeDown_ = nullptr;
    QPushButton* sizeUp_ = nullptr;
};
