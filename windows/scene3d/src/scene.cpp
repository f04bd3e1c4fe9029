#include "windows/scene3d/scene.h"

#include <GL/gl.h>

#include <exception>
#include <stdexcept>

using platform::linalg::Matrix;

namespace {

// Direct3D's clip depth runs 0..1, OpenGL's -1..1: z' = 2z - w.
Matrix DepthToGl()
{
    Matrix m = platform::linalg::MatrixIdentity();
    m(2, 2) = 2.0f;
    m(3, 2) = -1.0f;
    return m;
}

void SetGlMaterial(const CMaterial& m)
{
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, m.diffuse.data());
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, m.ambient.data());
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m.specular.data());
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, m.emissive.data());
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, std::min(m.power, 128.0f));
}

} // namespace

CScene::CScene(Options options) : options_(std::move(options))
{
    InitD3D();
}

CScene::~CScene() { Cleanup(); }

void CScene::Report(std::string_view routine, std::string_view text) const
{
    if (options_.reporter)
        options_.reporter("Scene", routine, text);
}

std::uint32_t CScene::InitD3D()
{
    try {
        device_.reset();
        if (options_.withoutDevice)
            return kSceneFail;
        std::string error;
        device_ = platform::gfx::OffscreenContext::Create(options_.width, options_.height, &error);
        if (!device_)
            return kSceneFail;
        platform::gfx::CurrentContext current(*device_);
        if (!current.ok()) {
            device_.reset();
            return kSceneFail;
        }
        glDisable(GL_CULL_FACE);
        glDisable(GL_LIGHTING);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        return kSceneOk;
    } catch (const std::exception& e) {
        Report("InitD3D", e.what());
    } catch (...) {
        Report("InitD3D", "Unhandled Error ");
    }
    device_.reset();
    return kSceneFail;
}

void CScene::SetupLights()
{
    // The light is given in world space: set it under the camera's view.
    const Matrix view = platform::linalg::MatrixLookAtLH(cameraEye, cameraLookAt, cameraUp);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(view.data());
    const platform::linalg::Vec3 direction = platform::linalg::Vec3Normalize({0.0f, 0.0f, 500.0f});
    // OpenGL takes the direction towards the light.
    const GLfloat towardsLight[4] = {-direction.x, -direction.y, -direction.z, 0.0f};
    const GLfloat diffuse[4] = {0.3f, 0.3f, 0.3f, 0.0f};
    const GLfloat none[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, towardsLight);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, none);
    glLightfv(GL_LIGHT0, GL_SPECULAR, none);
    glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 1.0f);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.0f);
    glLightf(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, 0.0f);
    glEnable(GL_LIGHT0);
    const GLfloat ambient[4] = {0x33 / 255.0f, 0x33 / 255.0f, 0x33 / 255.0f, 0x33 / 255.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glEnable(GL_LIGHTING);
    glEnable(GL_DITHER);
    glEnable(GL_DEPTH_TEST);
    if (const GLenum error = glGetError(); error != GL_NO_ERROR)
        Report("SetupLights", "the light could not be set");
}

unsigned CScene::TextureName(CMesh& mesh, std::size_t subset)
{
    if (subset >= mesh.textures.size() || mesh.textures[subset].empty())
        return 0;
    if (mesh.textureIds.size() < mesh.textures.size())
        mesh.textureIds.resize(mesh.textures.size(), 0);
    GLuint& name = mesh.textureIds[subset];
    if (name == 0) {
        const CTextureImage& image = mesh.textures[subset];
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        // The top row first: v = 0 is the image's top, as the mesh files have it.
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     image.rgba.data());
    }
    return name;
}

void CScene::ReleaseTextures()
{
    // The names live on this scene's device: they go while it is current.
    for (auto& mesh : meshes_)
        ReleaseMeshTextures(*mesh);
}

void CScene::ReleaseMeshTextures(CMesh& mesh)
{
    std::vector<GLuint> names;
    for (const std::uint32_t n : mesh.textureIds)
        if (n != 0)
            names.push_back(n);
    mesh.textureIds.clear();
    if (names.empty() || !device_)
        return;
    platform::gfx::CurrentContext current(*device_);
    if (current.ok())
        glDeleteTextures(static_cast<GLsizei>(names.size()), names.data());
}

void CScene::DrawMesh(CMesh& mesh)
{
    SetGlMaterial(mesh.SetMaterial());
    const CMeshTransforms t = mesh.UpdateTransforms();
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(platform::linalg::MatrixMultiply(t.projection, DepthToGl()).data());
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(platform::linalg::MatrixMultiply(t.world, t.view).data());
    if (!mesh.HasGeometry())
        return;
    const CMeshGeometry& g = mesh.geometry;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(platform::linalg::Vec3), &g.positions[0].x);
    glNormalPointer(GL_FLOAT, sizeof(platform::linalg::Vec3), &g.normals[0].x);
    const bool hasTexcoords = g.texcoords.size() == g.positions.size();
    if (hasTexcoords) {
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, sizeof(CTexCoord), &g.texcoords[0].u);
    }
    // The texture on stage 0, lit by the material (Direct3D's default modulate).
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    auto useTexture = [&](std::size_t subset) {
        const unsigned name = hasTexcoords ? TextureName(mesh, subset) : 0;
        if (name != 0) {
            glBindTexture(GL_TEXTURE_2D, name);
            glEnable(GL_TEXTURE_2D);
        } else {
            glDisable(GL_TEXTURE_2D);
        }
    };
    auto draw = [&](std::size_t subset) {
        if (subset < g.subsets.size() && !g.subsets[subset].empty())
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(g.subsets[subset].size()), GL_UNSIGNED_INT,
                           g.subsets[subset].data());
    };
    if (mesh.materialCount == 0) {
        draw(0);
    } else {
        for (std::size_t i = 0; i < mesh.materialCount; ++i) {
            SetGlMaterial(mesh.materials[i]);
            useTexture(i);
            draw(i);
        }
    }
    glDisable(GL_TEXTURE_2D);
    if (hasTexcoords)
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

int CScene::Render()
{
    if (!device_)
        return 0;
    try {
        platform::gfx::CurrentContext current(*device_);
        if (!current.ok())
            return 0;
        glViewport(0, 0, options_.width, options_.height);
        glClearColor(background.red / 255.0f, background.green / 255.0f, background.blue / 255.0f, 1.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        SetupLights();
        for (auto& mesh : meshes_)
            DrawMesh(*mesh);
        frame_ = device_->ReadPixels();
        ++frameCount_;
        return 1;
    } catch (...) {
        return 0;
    }
}

CMesh& CScene::AddObject(std::unique_ptr<CMesh> mesh)
{
    if (!mesh)
        throw std::invalid_argument("CScene::AddObject: no mesh");
    meshes_.push_back(std::move(mesh));
    meshes_.back()->index = static_cast<std::int32_t>(meshes_.size());
    return *meshes_.back();
}

void CScene::ReleaseObjects()
{
    ReleaseTextures();
    meshes_.clear();
    Render();
}

void CScene::Cleanup()
{
    try {
        ReleaseTextures();
        meshes_.clear();
        device_.reset();
    } catch (const std::exception& e) {
        Report("InitD3D", e.what());
    } catch (...) {
        Report("Cleanup", "Unhandled Error \nModule: CScene \nRoutine:Cleanup ");
    }
}
