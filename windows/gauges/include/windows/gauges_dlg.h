#pragma once
// The "Gauges" monitor window.
#include <array>
#include <functional>
#include <memory>

#include <QImage>

#include "app/modeless_dialog.h"
#include "windows/gauge_model.h"

class CCameraDataProcessor;
class QFrame;
class QLabel;
class QMenu;
class QTimer;
class QAction;

namespace gauges {

// The engine's pose arrays (seqlock reads) and the main sheet's current profile.
class CEngineGaugeSource : public IGaugeSource {
public:
    CEngineGaugeSource(const CCameraDataProcessor& engine, std::function<CProfile*()> currentProfile)
        : engine_(engine), profile_(std::move(currentProfile))
    {
    }
    PoseAxes RawAxes() const override;
    PoseAxes OutputAxes() const override;
    PoseAxes PreCompensationAxes() const override;
    CProfile* CurrentProfile() const override { return profile_ ? profile_() : nullptr; }

private:
    const CCameraDataProcessor& engine_;
    std::function<CProfile*()> profile_;
};

// Rasterises one gauge picture.
QImage RenderGauge(const GaugePicture& picture);

} // namespace gauges

class CGaugesDlg : public CModelessDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 140;
    static constexpr int kTimerId = 200;
    static constexpr int kTimerMs = 33;
    static constexpr std::array<int, gauges::kGaugeCount> kFrameIds{1029, 1031, 1033, 1035, 1037, 1039};
    static constexpr int kProfileNameId = 1044;

    CGaugesDlg(gauges::IGaugeSource& source, gauges::CurveEditor editor, QWidget* parent = nullptr);
    ~CGaugesDlg() override;

    bool OnInitDialog() override;

    // Timer 200: draw the six gauges and show the profile name.
    void OnTimer();
    void OnCommand(int command);

    const QImage& GaugeImage(int gauge) const { return images_[static_cast<std::size_t>(gauge)]; }
    QRect GaugeRect(int gauge) const;
    QLabel* ProfileNameLabel() const { return name_; }
    QMenu* GaugeMenu() const { return menu_; }
    QTimer* Timer() const { return timer_; }
    gauges::CGaugesController& Controller() { return controller_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void OnDestroy() override;

private:
    void DrawGauges();
    void UpdateRects();

    gauges::IGaugeSource& source_;
    gauges::CGaugesController controller_;
    std::array<QFrame*, gauges::kGaugeCount> frames_{};
    std::array<QImage, gauges::kGaugeCount> images_{};
    QLabel* name_ = nullptr;
    QTimer* timer_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* enable_ = nullptr;
    QAction* invert_ = nullptr;
};
