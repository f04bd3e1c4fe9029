#pragma once
// A drawable mesh with colour, scale, position and rotation, and a mesh
// loaded from a DirectX .x file with its materials. The geometry is kept on
// the CPU side and drawn by the scene each frame, so a mesh holds no GPU
// objects of its own and can be loaded before, or without, a current context.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/linalg.h"
#include "windows/scene3d/texture_image.h"

class CScene;

// Result codes as the Direct3D layer gives them.
inline constexpr std::uint32_t kSceneOk = 0;
inline constexpr std::uint32_t kSceneFail = 0x80004005u;        // E_FAIL
inline constexpr std::uint32_t kSceneInvalidCall = 0x8876086Cu; // D3DERR_INVALIDCALL

struct CColourBytes {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const CColourBytes&) const = default;
};

// A Direct3D-style material: colours as red, green, blue, alpha.
struct CMaterial {
    std::array<float, 4> diffuse{};
    std::array<float, 4> ambient{};
    std::array<float, 4> specular{};
    std::array<float, 4> emissive{};
    float power = 0.0f;
};

struct CTexCoord {
    float u = 0.0f;
    float v = 0.0f;
};

// The geometry of a loaded mesh: one vertex list and one triangle list per subset.
struct CMeshGeometry {
    std::vector<platform::linalg::Vec3> positions;
    std::vector<platform::linalg::Vec3> normals;
    std::vector<CTexCoord> texcoords; // one per vertex (0, 0 where the file has none)
    std::vector<std::vector<std::uint32_t>> subsets; // triangle indices per subset
    bool empty() const { return positions.empty(); }
};

// Limits of what a mesh file may hold; a file beyond them is refused before
// it is parsed, or after, before anything is built from it.
inline constexpr std::size_t kMaxMeshFileBytes = 16u * 1024u * 1024u;
inline constexpr std::size_t kMaxMeshVertices = 1u << 20;
inline constexpr std::size_t kMaxMeshTriangles = 1u << 21;
inline constexpr std::size_t kMaxMeshMaterials = 256;
inline constexpr int kMaxMeshFrameDepth = 64;

// What a .x file holds, read without a device: geometry in file coordinates
// (frame transforms applied, the load shift not yet), the materials and the
// texture file named by each (empty where none).
struct CParsedMesh {
    CMeshGeometry geometry;
    std::vector<CMaterial> materials;
    std::vector<std::string> textureFiles;
    bool hasNormals = false;
};

// Parses text .x data (the binary and compressed forms are refused) after
// checking its header, its size and every count, index and reference in it,
// with assimp's own structure validation. False with the reason on any
// failure.
bool ParseXMesh(std::span<const std::uint8_t> data, CParsedMesh& mesh, std::string& error);

// A texture named by a mesh file, looked up only beside it: a bare file name
// of the mesh's folder. Empty for a name with a folder part, "." or "..".
std::filesystem::path TextureBeside(const std::filesystem::path& meshFile, std::string_view name);

// The three transforms a mesh is drawn with.
struct CMeshTransforms {
    platform::linalg::Matrix world;
    platform::linalg::Matrix view;
    platform::linalg::Matrix projection;
};

class CMesh {
public:
    CMesh();
    virtual ~CMesh();
    CMesh(const CMesh&) = delete;
    CMesh& operator=(const CMesh&) = delete;

    // A new mesh of the same class with this one's scene, scale, rotation
    // and colour; it has no geometry until Create.
    virtual std::unique_ptr<CMesh> Clone() const;
    virtual void Init(CScene* scene);
    virtual std::uint32_t Load();
    std::uint32_t Create() { return Load(); }
    virtual void Release();

    // The material from the colour bytes; also kept as the default material.
    CMaterial SetMaterial();
    // World := Rx * Ry * Rz * scaling * translation; view from the scene's
    // camera; projection pi/4, aspect 1, near 150, far radius * 200.
    CMeshTransforms UpdateTransforms() const;

    bool HasGeometry() const { return !geometry.empty(); }

    std::int32_t index = 0;
    CColourBytes colour;
    CScene* scene = nullptr;
    platform::linalg::Vec3 scale{1.0f, 1.0f, 1.0f};
    platform::linalg::Vec3 position;
    platform::linalg::Vec3 rotation; // radians about x, y, z
    platform::linalg::Vec3 boundingCentre;
    float boundingRadius = 10000.0f;
    CMeshGeometry geometry;
    std::vector<CMaterial> materials;         // one per subset
    std::vector<std::string> textureFiles;    // the file's texture name per subset ("" for none)
    std::vector<CTextureImage> textures;      // one per subset; empty where none loaded
    std::vector<std::uint32_t> textureIds;    // the scene's names for them on its device (0: none yet)
    std::uint32_t materialCount = 0;
    CMaterial defaultMaterial;
    std::string textureName;

protected:
    void CopyLookTo(CMesh& other) const;
};

class CFileMesh : public CMesh {
public:
    // kind is only stored. The file name is taken as given (relative names
    // against the working folder).
    CFileMesh(int kind, CScene* scene, std::filesystem::path file = {});

    std::unique_ptr<CMesh> Clone() const override;
    // Loads the file (kSceneFail when it does not parse or the scene has no
    // device), moves every vertex by (0, 1500, -300), computes the bounding
    // sphere and, when the file has none, the normals, and loads each
    // subset's texture from beside the file (a texture that does not load
    // leaves its subset untextured).
    std::uint32_t Load() override;

    int kind = 0;
    std::filesystem::path fileName;
    // Why the last Load failed ("" after a success).
    std::string lastError;
};

// The shift every loaded vertex gets.
inline constexpr platform::linalg::Vec3 kMeshLoadOffset{0.0f, 1500.0f, -300.0f};
