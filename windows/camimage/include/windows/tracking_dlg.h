#pragma once
// The "Tracking" monitor window: what the camera sees.
#include <functional>
#include <memory>

#include <QImage>
#include <QPointer>

#include "app/modeless_dialog.h"
#include "camera/frame.h"
#include "windows/tracking_image.h"
#include "windows/tracking_settings_dlg.h"

class CCameraDataProcessor;
class CProfile;
class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace camimage {

// The engine: frame counter and revision from its atomics, the held frame
// copied under its lock into a scratch frame that is then reduced.
class CEngineImageSource : public ITrackingImageSource {
public:
    CEngineImageSource(const CCameraDataProcessor& engine, std::function<const CProfile*()> currentProfile);
    std::uint32_t FrameCounter() const override;
    bool CopyHeldFrame(CFrameCopy& out) override;
    int HardwareRevision() const override;
    int MotionType() const override;

private:
    const CCameraDataProcessor& engine_;
    std::function<const CProfile*()> profile_;
    Orvane::Frame scratch_{20, 20};
};

// The picture as a Qt image (bitmap bits decoded per depth).
QImage ToImage(const Orvane::BitMap& bitmap);

} // namespace camimage

class CTrackingDlg : public CModelessDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 142;
    static constexpr int kTimerId = 100;
    static constexpr int kTimerMs = 16;
    static constexpr platform::UINT kEnableSettingsMessage = 5001;

    // Runs the settings dialog modally; true for OK. Null: the real dialog.
    using SettingsRunner = std::function<bool(CAppSettings& live, ITrackingSettingsHost& host)>;

    CTrackingDlg(camimage::ITrackingImageSource& source, CAppSettings& settings, ITrackingSettingsHost& host,
                 QWidget* parent = nullptr);
    ~CTrackingDlg() override;

    bool OnInitDialog() override;
    // Message 5001 enables or disables "&Settings..."; true when handled.
    bool OnMessage(platform::UINT message, platform::WPARAM wParam);
    // Timer 100.
    void OnTimer();
    void OnSettings();

    void SetScreenDepth(std::function<int()> depth) { depth_ = std::move(depth); }
    void SetSettingsRunner(SettingsRunner runner) { runner_ = std::move(runner); }

    const camimage::CTrackingImage& Image() const { return image_; }
    const QImage& Picture() const { return picture_; }
    QRect PictureRect() const;
    QPushButton* SettingsButton() const { return settings_; }
    QLabel* DotTitle() const { return dotTitle_; }
    QLabel* DotValue() const { return dotValue_; }
    QTimer* Timer() const { return timer_; }
    int Erases() const { return erases_; }
    CTrackingSettingsDlg* OpenSettings() const { return open_.data(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnDestroy() override;

private:
    int ScreenDepth() const;

    camimage::ITrackingImageSource& source_;
    CAppSettings& settings_live_;
    ITrackingSettingsHost& host_;
    camimage::CTrackingImage image_;
    QImage picture_;
    std::function<int()> depth_;
    SettingsRunner runner_;
    QFrame* frame_ = nullptr;
    QPushButton* settings_ = nullptr;
    QLabel* dotTitle_ = nullptr;
    QLabel* dotValue_ = nullptr;
    QTimer* timer_ = nullptr;
    QPointer<CTrackingSettingsDlg> open_;
    int erases_ = 0;
};
