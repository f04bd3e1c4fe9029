#pragma once
// A list of meshes rendered with OpenGL into an offscreen image of the size
// of the window that shows it. The scene's "device" is its own offscreen
// context; without one the scene renders nothing. A scene is used from one
// thread at a time; it binds its context only for the length of a call.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/offscreen.h"
#include "platform/linalg.h"
#include "windows/scene3d/mesh.h"

class CScene {
public:
    // Receives errors caught inside the scene: source "Scene", the routine's
    // name and the error's text.
    using ErrorReporter = std::function<void(std::string_view source, std::string_view routine, std::string_view text)>;

    struct Options {
        int width = 240;
        int height = 240;
        ErrorReporter reporter;
        // Leaves the scene without a device, as on a machine without a renderer.
        bool withoutDevice = false;
    };

    explicit CScene(Options options);
    CScene(int width, int height) : CScene(Options{width, height, {}, false}) {}
    virtual ~CScene();
    CScene(const CScene&) = delete;
    CScene& operator=(const CScene&) = delete;

    // Creates the device; kSceneOk or kSceneFail.
    std::uint32_t InitD3D();
    // One directional light and the light render states; the context must be current.
    void SetupLights();
    // Clears, draws every mesh in list order and reads the frame back.
    // 1, or 0 when the frame could not be drawn (no device, or an error).
    int Render();
    // Takes the mesh; its index := the number of meshes after the append.
    CMesh& AddObject(std::unique_ptr<CMesh> mesh);
    // Deletes every mesh, then renders the empty scene once.
    void ReleaseObjects();
    // Deletes every mesh and the device.
    void Cleanup();

    // Deletes the textures the device holds for a mesh (its images stay):
    // a mesh released or loaded again gets new ones from its new images.
    void ReleaseMeshTextures(CMesh& mesh);

    bool HasDevice() const { return device_ != nullptr; }
    std::size_t MeshCount() const { return meshes_.size(); }
    CMesh& Mesh(std::size_t i) { return *meshes_.at(i); }
    // The last rendered frame (empty before the first).
    const platform::gfx::Image& Frame() const { return frame_; }
    std::uint64_t FrameCount() const { return frameCount_; }
    int Width() const { return options_.width; }
    int Height() const { return options_.height; }

    platform::linalg::Vec3 cameraUp{0.0f, 1.0f, 0.0f};
    platform::linalg::Vec3 cameraEye{-1.0f, 6.0f, -1500.0f};
    platform::linalg::Vec3 cameraLookAt{0.0f, 0.0f, 10000.0f};
    CColourBytes background;

private:
    void Report(std::string_view routine, std::string_view text) const;
    void DrawMesh(CMesh& mesh);
    // The device's texture of a subset, made on first use; 0 for none.
    unsigned TextureName(CMesh& mesh, std::size_t subset);
    // Deletes the meshes' textures on the device.
    void ReleaseTextures();

    Options options_;
    std::unique_ptr<platform::gfx::OffscreenContext> device_;
    std::vector<std::unique_ptr<CMesh>> meshes_;
    platform::gfx::Image frame_;
    std::uint64_t frameCount_ = 0;
};
