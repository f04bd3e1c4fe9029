#pragma once
// The "3D head" monitor window: "Your Head" follows the engine's raw axes,
// "In-game Head" the output axes, side by side; the "View:" list switches
// both to a demonstration that swings one axis.
#include <array>
#include <filesystem>
#include <functional>
#include <memory>

#include <QImage>

#include "app/modeless_dialog.h"
#include "profiles/Profile.h"
#include "windows/head3d/head_views.h"

class QComboBox;
class QLabel;
class QTimer;

namespace head3d {

// What the window reads each tick, from the GUI thread: the pose arrays
// (seqlock reads in the engine) and the main sheet's current profile.
class IHeadSource {
public:
    virtual ~IHeadSource() = default;
    virtual HeadPose Pose() const = 0;
    virtual const CProfile* CurrentProfile() const = 0;
};

// A source made of functions, e.g. over the engine's RawAxes and OutputAxes.
class CFunctionHeadSource : public IHeadSource {
public:
    CFunctionHeadSource(std::function<PoseAxes()> raw, std::function<PoseAxes()> output,
                        std::function<const CProfile*()> profile)
        : raw_(std::move(raw)), output_(std::move(output)), profile_(std::move(profile))
    {
    }
    HeadPose Pose() const override { return {raw_ ? raw_() : PoseAxes{}, output_ ? output_() : PoseAxes{}}; }
    const CProfile* CurrentProfile() const override { return profile_ ? profile_() : nullptr; }

private:
    std::function<PoseAxes()> raw_;
    std::function<PoseAxes()> output_;
    std::function<const CProfile*()> profile_;
};

// A scene's last frame as an image (a null image before the first frame).
QImage FrameImage(const CScene& scene);

} // namespace head3d

class CHeadzDlg : public CModelessDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 139;
    static constexpr int kTimerId = 100;
    static constexpr int kTimerMs = 33;
    static constexpr int kRealHeadId = 1047;
    static constexpr int kGameHeadId = 1048;
    static constexpr int kViewListId = 1010;
    static constexpr int kPreviewId = 1044;
    static constexpr int kCentreHintId = 1084;
    static constexpr int kPaneSize = 200;

    struct Options {
        // Where "head.x" is; empty: the program's "models" folder (beside
        // the program when no program folders are set).
        std::filesystem::path modelsFolder;
        // Leaves both scenes without a device, as on a machine without a renderer.
        bool withoutDevice = false;
    };

    explicit CHeadzDlg(head3d::IHeadSource& source, QWidget* parent = nullptr);
    CHeadzDlg(head3d::IHeadSource& source, Options options, QWidget* parent = nullptr);
    ~CHeadzDlg() override;

    bool OnInitDialog() override;
    // The view list's selection changed.
    void OnSelChangeView();
    // Timer 100: move and render both heads, follow the current profile.
    void OnTimer();

    CScene* Scene(int pane) const { return scenes_[static_cast<std::size_t>(pane)].get(); }
    head3d::CHeadzView* View(int pane) const { return views_[static_cast<std::size_t>(pane)].get(); }
    QLabel* Pane(int pane) const { return panes_[static_cast<std::size_t>(pane)]; }
    QComboBox* ViewList() const { return viewList_; }
    QLabel* Preview() const { return preview_; }
    QLabel* CentreHint() const { return hint_; }
    QTimer* Timer() const { return timer_; }

protected:
    void OnDestroy() override;

private:
    void ReleaseViews();
    void CreateViews(int row);
    void ShowFrames();

    head3d::IHeadSource& source_;
    Options options_;
    std::array<std::unique_ptr<head3d::CHeadzView>, 2> views_;
    std::array<std::unique_ptr<CScene>, 2> scenes_;
    std::array<QLabel*, 2> panes_{};
    QComboBox* viewList_ = nullptr;
    QLabel* preview_ = nullptr;
    QLabel* hint_ = nullptr;
    QTimer* timer_ = nullptr;
    const CProfile* lastProfile_ = nullptr;
};
