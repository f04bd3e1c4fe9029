#include "windows/head3d/head_views.h"

#include <cmath>
#include <numbers>

namespace head3d {

void PlaceMesh(CMesh& mesh, const std::array<float, 6>& v)
{
    const float u = kPoseUnit;
    const float s = mesh.scale.x;
    const platform::linalg::Vec3& c = mesh.boundingCentre;
    mesh.position = {-v[0] * u * kRangeX - c.x * s, v[1] * u * kRangeY - c.y * s, v[2] * u * kRangeZ - c.z * s};
    const float pi = std::numbers::pi_v<float>;
    mesh.rotation.y = v[3] * u * pi;
    mesh.rotation.x = -v[4] * u * pi;
    mesh.rotation.z = v[5] * u * pi;
}

std::uint32_t CHeadzView::LoadMesh(CScene& scene, const std::filesystem::path& modelsFolder)
{
    auto mesh = std::make_unique<CFileMesh>(kHeadMeshKind, &scene, modelsFolder / kHeadMeshFile);
    mesh->scale = {kMeshScale, kMeshScale, kMeshScale};
    scene.cameraUp = {0.0f, 1.0f, 0.0f};
    scene.cameraEye = {-1.0f, 6.0f, -1500.0f};
    scene.cameraLookAt = {0.0f, 0.0f, 10000.0f};
    mesh->position = {-1.0f, 1.0f, 1.0f};
    mesh->colour = {255, 0, 0};
    // Loaded by path: the working folder is never changed, other threads rely on it.
    const std::uint32_t result = mesh->Create();
    mesh_ = &scene.AddObject(std::move(mesh));
    return result;
}

void CHeadzView::ReleaseMesh(CScene&) { mesh_ = nullptr; }

int CHeadzView::Update(CScene&, const HeadPose&) { return 0; }

void CHeadzView::Place(const std::array<float, 6>& values)
{
    values_ = values;
    if (mesh_ != nullptr)
        PlaceMesh(*mesh_, values);
}

int CMirrorView::Update(CScene&, const HeadPose& pose)
{
    const PoseAxes& axes = published_ == 0 ? pose.raw : pose.output;
    std::array<float, 6> values{};
    for (std::size_t i = 0; i < 6; ++i)
        values[i] = static_cast<float>(axes[i]);
    Place(values);
    return 0;
}

int CAutoView::Update(CScene&, const HeadPose&)
{
    // Demo axis 1..6 is accumulator 0..5 (yaw, pitch, roll, x, y, z).
    for (std::size_t i = 0; i < demo_.size(); ++i) {
        if (static_cast<int>(i) == axis_ - 1)
            demo_[i] += direction_ * kDemoStep;
        else
            demo_[i] = 0.0f;
    }
    const float gain = published_ == 0 ? 1.0f : kDemoGain;
    // Placing order x, y, z, yaw, pitch, roll.
    const std::array<float, 6> values{demo_[3] * gain, demo_[4] * gain, demo_[5] * gain,
                                      demo_[0] * gain, demo_[1] * gain, demo_[2] * gain};
    const std::array<float, 6> limits{kDemoLimitWide * gain,   kDemoLimitWide * gain,   kDemoLimitWide * gain,
                                      kDemoLimitWide * gain,   kDemoLimitNarrow * gain, kDemoLimitNarrow * gain};
    for (std::size_t i = 0; i < values.size(); ++i)
        if (std::fabs(values[i]) > limits[i]) {
            direction_ = -direction_;
            break;
        }
    Place(values);
    return 0;
}

} // namespace head3d
