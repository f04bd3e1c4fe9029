#pragma once
// The head views of the 3D head window: each places one head mesh in its
// scene on every tick, either mirroring the engine's pose or swinging one
// axis back and forth as a demonstration. Qt-free.
#include <array>
#include <filesystem>

#include "windows/scene3d/scene.h"

namespace head3d {

// Six axes in the order x, y, z, yaw, pitch, roll; units -16383..16383.
using PoseAxes = std::array<double, 6>;

// The engine's two pose arrays as one tick reads them.
struct HeadPose {
    PoseAxes raw{};    // before the response curves
    PoseAxes output{}; // what games receive
};

inline constexpr float kPoseUnit = 6.103888e-5f; // 1 / 16383
inline constexpr float kRangeX = 400.0f;
inline constexpr float kRangeY = 300.0f;
inline constexpr float kRangeZ = 600.0f;
inline constexpr float kMeshScale = 0.4f;
inline constexpr float kDemoStep = 136.525f;
inline constexpr float kDemoGain = 4.0f;
inline constexpr float kDemoLimitWide = 4095.75f;   // yaw, x, y, z on the raw pane
inline constexpr float kDemoLimitNarrow = 2047.875f; // pitch, roll on the raw pane
inline constexpr const char* kHeadMeshFile = "head.x";
inline constexpr int kHeadMeshKind = 7;

// View rows: 0 mirror, then the demo axes.
enum ViewAxis : int { kMirror = 0, kDemoYaw = 1, kDemoPitch, kDemoRoll, kDemoX, kDemoY, kDemoZ };

// Places the mesh from (x, y, z, yaw, pitch, roll).
void PlaceMesh(CMesh& mesh, const std::array<float, 6>& values);

class CHeadzView {
public:
    CHeadzView(int axis, int published) : axis_(axis), published_(published) {}
    virtual ~CHeadzView() = default;
    CHeadzView(const CHeadzView&) = delete;
    CHeadzView& operator=(const CHeadzView&) = delete;

    // Creates the head mesh from `modelsFolder` / "head.x", sets the
    // scene's camera and adds the mesh to the scene. 0, or the load's error
    // (the mesh is added either way and draws nothing when it did not load).
    virtual std::uint32_t LoadMesh(CScene& scene, const std::filesystem::path& modelsFolder);
    // Called before the scene drops its meshes; no view needs it.
    virtual void ReleaseMesh(CScene& scene);
    virtual int Update(CScene& scene, const HeadPose& pose);

    int Axis() const { return axis_; }
    int Published() const { return published_; }
    // The mesh in the scene (null before LoadMesh or after the release).
    CMesh* Mesh() const { return mesh_; }
    // The six values the last Update placed the mesh from.
    const std::array<float, 6>& LastValues() const { return values_; }

protected:
    void Place(const std::array<float, 6>& values);

    int axis_;
    int published_;
    CMesh* mesh_ = nullptr;
    std::array<float, 6> values_{};
};

class CMirrorView : public CHeadzView {
public:
    using CHeadzView::CHeadzView;
    int Update(CScene& scene, const HeadPose& pose) override;
};

class CAutoView : public CHeadzView {
public:
    using CHeadzView::CHeadzView;
    int Update(CScene& scene, const HeadPose& pose) override;

    // Accumulators in the order yaw, pitch, roll, x, y, z.
    const std::array<float, 6>& Accumulators() const { return demo_; }
    float Direction() const { return direction_; }

private:
    std::array<float, 6> demo_{};
    float direction_ = 1.0f;
};

} // namespace head3d
