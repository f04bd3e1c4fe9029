#include "windows/head3d/head_views.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace head3d;

namespace {

const std::filesystem::path kModels(HEAD3D_MODELS_DIR);
constexpr float kPi = std::numbers::pi_v<float>;

// Scenes without a device: the views' arithmetic needs no renderer.
struct Panes {
    CScene raw{CScene::Options{16, 16, {}, true}};
    CScene output{CScene::Options{16, 16, {}, true}};
};

} // namespace

TEST(HeadViews, LoadMeshSetsTheCameraAndAddsARedHeadEvenWhenItDoesNotLoad)
{
    Panes panes;
    panes.raw.cameraEye = {1, 2, 3};
    CMirrorView view(kMirror, 0);
    EXPECT_EQ(view.LoadMesh(panes.raw, kModels), kSceneFail); // no device
    ASSERT_EQ(panes.raw.MeshCount(), 1u);
    ASSERT_EQ(view.Mesh(), &panes.raw.Mesh(0));
    const CMesh& mesh = *view.Mesh();
    EXPECT_EQ(mesh.colour, (CColourBytes{255, 0, 0}));
    EXPECT_FLOAT_EQ(mesh.scale.x, 0.4f);
    EXPECT_FLOAT_EQ(mesh.scale.z, 0.4f);
    EXPECT_FLOAT_EQ(mesh.position.y, 1.0f);
    const auto* file = dynamic_cast<const CFileMesh*>(&mesh);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->fileName, kModels / "head.x");
    EXPECT_EQ(file->kind, 7);
    EXPECT_FLOAT_EQ(panes.raw.cameraEye.x, -1.0f);
    EXPECT_FLOAT_EQ(panes.raw.cameraEye.z, -1500.0f);
    EXPECT_FLOAT_EQ(panes.raw.cameraLookAt.z, 10000.0f);
    EXPECT_FLOAT_EQ(panes.raw.cameraUp.y, 1.0f);
}

TEST(HeadViews, MirrorPlacesTheMeshFromItsOwnPoseArray)
{
    Panes panes;
    CMirrorView raw(kMirror, 0), output(kMirror, 1);
    raw.LoadMesh(panes.raw, kModels);
    output.LoadMesh(panes.output, kModels);
    raw.Mesh()->boundingCentre = {10, 20, 30};
    HeadPose pose;
    pose.raw = {16383, -16383, 8191.5, 16383, 8191.5, -16383};
    pose.output = {0, 0, 0, -16383, 0, 0};
    raw.Update(panes.raw, pose);
    output.Update(panes.output, pose);
    const CMesh& m = *raw.Mesh();
    const float u = kPoseUnit;
    EXPECT_NEAR(m.position.x, -16383 * u * 400 - 10 * 0.4f, 1e-3f);
    EXPECT_NEAR(m.position.x, -404.0f, 0.01f);
    EXPECT_NEAR(m.position.y, -300.0f - 8.0f, 0.01f);
    EXPECT_NEAR(m.position.z, 300.0f - 12.0f, 0.01f);
    EXPECT_NEAR(m.rotation.y, kPi, 1e-4f);
    EXPECT_NEAR(m.rotation.x, -kPi / 2, 1e-4f); // pitch turns the other way
    EXPECT_NEAR(m.rotation.z, -kPi, 1e-4f);
    EXPECT_NEAR(output.Mesh()->rotation.y, -kPi, 1e-4f);
    EXPECT_NEAR(output.Mesh()->position.x, 0.0f, 1e-6f);
}

TEST(HeadViews, PitchDemoNodsBothPanesTheOutputFourTimesAsFarReversingTogether)
{
    Panes panes;
    CAutoView raw(kDemoPitch, 0), output(kDemoPitch, 1);
    raw.LoadMesh(panes.raw, kModels);
    output.LoadMesh(panes.output, kModels);
    const HeadPose pose{}; // ignored by the demo
    float accumulator = 0.0f, direction = 1.0f;
    int flips = 0;
    float highest = 0.0f;
    for (int tick = 0; tick < 200; ++tick) {
        raw.Update(panes.raw, pose);
        output.Update(panes.output, pose);
        accumulator += direction * 136.525f;
        if (std::fabs(accumulator) > 2047.875f) {
            direction = -direction;
            ++flips;
        }
        const auto& r = raw.LastValues();
        const auto& o = output.LastValues();
        ASSERT_FLOAT_EQ(r[4], accumulator) << tick;
        ASSERT_FLOAT_EQ(o[4], 4.0f * accumulator) << tick;
        ASSERT_EQ(raw.Direction(), direction) << tick;
        ASSERT_EQ(output.Direction(), direction) << tick;
        for (std::size_t k : {0u, 1u, 2u, 3u, 5u}) {
            ASSERT_EQ(r[k], 0.0f);
            ASSERT_EQ(o[k], 0.0f);
        }
        ASSERT_NEAR(raw.Mesh()->rotation.x, -accumulator * kPoseUnit * kPi, 1e-6f);
        ASSERT_NEAR(output.Mesh()->rotation.x, -4.0f * accumulator * kPoseUnit * kPi, 1e-5f);
        highest = std::max(highest, std::fabs(accumulator));
    }
    EXPECT_GE(flips, 3);
    // One step past the limit at most before the swing turns back.
    EXPECT_GT(highest, 2047.875f);
    EXPECT_LE(highest, 2047.875f + 136.525f + 0.01f);
}

TEST(HeadViews, EachDemoRowSwingsItsOwnAxisWithItsLimit)
{
    const struct {
        int row;
        std::size_t valueIndex; // in x, y, z, yaw, pitch, roll
        float limit;
    } rows[] = {{kDemoYaw, 3, 4095.75f}, {kDemoPitch, 4, 2047.875f}, {kDemoRoll, 5, 2047.875f},
                {kDemoX, 0, 4095.75f},   {kDemoY, 1, 4095.75f},      {kDemoZ, 2, 4095.75f}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        Panes panes;
        CAutoView view(r.row, 0);
        view.LoadMesh(panes.raw, kModels);
        float peak = 0.0f;
        int firstFlip = -1;
        for (int tick = 0; tick < 100; ++tick) {
            const float before = view.Direction();
            view.Update(panes.raw, {});
            peak = std::max(peak, std::fabs(view.LastValues()[r.valueIndex]));
            if (firstFlip < 0 && view.Direction() != before)
                firstFlip = tick;
            for (std::size_t k = 0; k < 6; ++k) {
                if (k != r.valueIndex) {
                    ASSERT_EQ(view.LastValues()[k], 0.0f);
                }
            }
        }
        ASSERT_GE(firstFlip, 0);
        EXPECT_GT(peak, r.limit);
        EXPECT_LE(peak, r.limit + 136.525f + 0.01f);
    }
}

TEST(HeadViews, TheBaseViewDoesNothing)
{
    Panes panes;
    CHeadzView view(kMirror, 0);
    view.LoadMesh(panes.raw, kModels);
    const auto before = view.Mesh()->position;
    EXPECT_EQ(view.Update(panes.raw, HeadPose{{1000, 0, 0, 0, 0, 0}, {}}), 0);
    EXPECT_FLOAT_EQ(view.Mesh()->position.x, before.x);
    view.ReleaseMesh(panes.raw);
    EXPECT_EQ(view.Mesh(), nullptr);
}
