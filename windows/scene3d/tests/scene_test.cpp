#include "windows/scene3d/scene.h"

#include <gtest/gtest.h>

#include <png.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace {

const std::filesystem::path kHead = std::filesystem::path(SCENE3D_MODELS_DIR) / "head.x";

struct Silhouette {
    int count = 0;
    double cx = 0.0, cy = 0.0;
    int maxRed = 0;
};

// The head's pixels: everything brighter than the black background.
Silhouette LitPixels(const platform::gfx::Image& image)
{
    Silhouette s;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t p = image.Pixel(x, y);
            const int r = static_cast<int>(p >> 24), g = static_cast<int>((p >> 16) & 0xFF), b = static_cast<int>((p >> 8) & 0xFF);
            if (r > 12 || g > 12 || b > 12) {
                ++s.count;
                s.cx += x;
                s.cy += y;
                s.maxRed = std::max(s.maxRed, r);
            }
        }
    if (s.count > 0) {
        s.cx /= s.count;
        s.cy /= s.count;
    }
    return s;
}

// A PNG of one colour.
void WriteSolidPng(const std::filesystem::path& file, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    constexpr int kSide = 8;
    std::vector<std::uint8_t> rgba;
    for (int i = 0; i < kSide * kSide; ++i)
        rgba.insert(rgba.end(), {r, g, b, 255});
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = kSide;
    image.height = kSide;
    image.format = PNG_FORMAT_RGBA;
    ASSERT_NE(png_image_write_to_file(&image, file.c_str(), 0, rgba.data(), 0, nullptr), 0);
}

// The mean colour of the 7 x 7 pixels around (cx, cy).
std::array<int, 3> MeanColour(const platform::gfx::Image& f, int cx, int cy)
{
    int r = 0, g = 0, b = 0;
    for (int y = cy - 3; y <= cy + 3; ++y)
        for (int x = cx - 3; x <= cx + 3; ++x) {
            const std::uint32_t p = f.Pixel(x, y);
            r += static_cast<int>(p >> 24);
            g += static_cast<int>((p >> 16) & 0xFF);
            b += static_cast<int>((p >> 8) & 0xFF);
        }
    return {r / 49, g / 49, b / 49};
}

class SceneRender : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        setenv("GALLIUM_DRIVER", "llvmpipe", 1);
        scene_ = std::make_unique<CScene>(96, 96);
        if (!scene_->HasDevice())
            GTEST_SKIP() << "no EGL display here";
        auto mesh = std::make_unique<CFileMesh>(7, scene_.get(), kHead);
        mesh->scale = {0.4f, 0.4f, 0.4f};
        mesh->colour = {255, 0, 0};
        ASSERT_EQ(mesh->Create(), kSceneOk) << mesh->lastError;
        head_ = &scene_->AddObject(std::move(mesh));
        Place(0.0f, 0.0f);
    }
    void Place(float x, float yaw)
    {
        head_->position = {x - head_->boundingCentre.x * 0.4f, -head_->boundingCentre.y * 0.4f,
                           -head_->boundingCentre.z * 0.4f};
        head_->rotation = {0.0f, yaw, 0.0f};
    }
    Silhouette Draw()
    {
        EXPECT_EQ(scene_->Render(), 1);
        return LitPixels(scene_->Frame());
    }

    std::unique_ptr<CScene> scene_;
    CMesh* head_ = nullptr;
};

} // namespace

TEST_F(SceneRender, TheHeadIsALitShapeInTheMiddleOnBlack)
{
    const Silhouette s = Draw();
    const auto& frame = scene_->Frame();
    ASSERT_EQ(frame.width, 96);
    ASSERT_EQ(frame.height, 96);
    EXPECT_GT(s.count, 200);
    EXPECT_LT(s.count, 96 * 96 / 2);
    EXPECT_NEAR(s.cx, 47.5, 4.0);
    EXPECT_NEAR(s.cy, 47.5, 6.0);
    // Ambient alone gives 51; the light adds to the faces that look at it.
    EXPECT_GT(s.maxRed, 60);
    EXPECT_EQ(frame.Pixel(0, 0), 0x000000FFu);
    EXPECT_EQ(frame.Pixel(95, 95), 0x000000FFu);
}

TEST_F(SceneRender, YawTurnsTheNoseAndPositionMovesTheHead)
{
    const Silhouette centred = Draw();
    const auto straight = scene_->Frame();
    Place(0.0f, 0.9f);
    const Silhouette left = Draw();
    Place(0.0f, -0.9f);
    const Silhouette right = Draw();
    // The nose swings to opposite sides.
    EXPECT_GT(std::abs(left.cx - centred.cx), 0.3);
    EXPECT_LT((left.cx - centred.cx) * (right.cx - centred.cx), 0.0);
    EXPECT_NE(scene_->Frame().rgba, straight.rgba);
    // Mirror images of each other within a pixel or two of rasterisation.
    EXPECT_NEAR(left.cx - centred.cx, -(right.cx - centred.cx), 0.6);
    EXPECT_NEAR(left.count, right.count, centred.count * 0.05);

    Place(200.0f, 0.0f);
    const Silhouette moved = Draw();
    EXPECT_GT(moved.cx, centred.cx + 5.0); // +x is to the right in a left-handed view
    EXPECT_NEAR(moved.count, centred.count, centred.count * 0.1);
}

// The head's texture shows which way it faces: its face (skin) towards the
// viewer, the back of its head (hair) when turned round.
TEST_F(SceneRender, TheTexturedHeadShowsItsFaceOrItsHair)
{
    ASSERT_EQ(head_->materialCount, 1u);
    ASSERT_FALSE(head_->textures[0].empty());
    const auto average = [this](int cx, int cy) { return MeanColour(scene_->Frame(), cx, cy); };
    const Silhouette front = Draw();
    const auto face = average(static_cast<int>(front.cx), static_cast<int>(front.cy));
    Place(0.0f, 3.14159265f);
    const Silhouette back = Draw();
    const auto hair = average(static_cast<int>(back.cx), static_cast<int>(back.cy));
    // Skin is a light, warm colour; hair a dark brown.
    EXPECT_GT(face[0], face[2] + 20);
    EXPECT_GT(face[0] + face[1] + face[2], 2 * (hair[0] + hair[1] + hair[2]));
    EXPECT_GT(hair[0], hair[2]);
}

TEST_F(SceneRender, FramesAreRepeatableAndReleaseShowsTheEmptyScene)
{
    Draw();
    const auto first = scene_->Frame();
    Draw();
    EXPECT_EQ(scene_->Frame().rgba, first.rgba);
    const auto frames = scene_->FrameCount();
    scene_->ReleaseObjects();
    EXPECT_EQ(scene_->MeshCount(), 0u);
    EXPECT_EQ(scene_->FrameCount(), frames + 1);
    EXPECT_EQ(LitPixels(scene_->Frame()).count, 0);
    scene_->background = {0, 0, 255};
    EXPECT_EQ(scene_->Render(), 1);
    EXPECT_EQ(scene_->Frame().Pixel(40, 40), 0x0000FFFFu);
}

TEST_F(SceneRender, AMeshThatDidNotLoadDrawsNothing)
{
    scene_->ReleaseObjects();
    auto broken = std::make_unique<CFileMesh>(7, scene_.get(), "no/such/head.x");
    broken->colour = {255, 0, 0};
    EXPECT_EQ(broken->Create(), kSceneFail);
    scene_->AddObject(std::move(broken));
    EXPECT_EQ(LitPixels(scene_->Frame()).count, 0);
    EXPECT_EQ(Draw().count, 0);
}

// A mesh loaded again in the same scene shows the texture its file has now,
// not the one the device made from the first load.
TEST_F(SceneRender, AMeshLoadedAgainShowsItsNewTexture)
{
    const auto dir = std::filesystem::temp_directory_path() / ("scene-reload-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(kHead, dir / "head.x", std::filesystem::copy_options::overwrite_existing);
    WriteSolidPng(dir / "head_skin.png", 255, 0, 0);
    scene_->ReleaseObjects();
    auto mesh = std::make_unique<CFileMesh>(7, scene_.get(), dir / "head.x");
    mesh->scale = {0.4f, 0.4f, 0.4f};
    mesh->colour = {255, 255, 255};
    ASSERT_EQ(mesh->Create(), kSceneOk) << mesh->lastError;
    head_ = &scene_->AddObject(std::move(mesh));
    Place(0.0f, 0.0f);
    const Silhouette red = Draw();
    const auto before = MeanColour(scene_->Frame(), static_cast<int>(red.cx), static_cast<int>(red.cy));
    EXPECT_GT(before[0], before[1] + 30);

    WriteSolidPng(dir / "head_skin.png", 0, 255, 0);
    ASSERT_EQ(head_->Load(), kSceneOk);
    Place(0.0f, 0.0f);
    const Silhouette green = Draw();
    const auto after = MeanColour(scene_->Frame(), static_cast<int>(green.cx), static_cast<int>(green.cy));
    EXPECT_GT(after[1], after[0] + 30) << after[0] << "," << after[1] << "," << after[2];

    // Released, the mesh holds no device textures.
    head_->Release();
    EXPECT_TRUE(head_->textureIds.empty());
    std::filesystem::remove_all(dir);
}
