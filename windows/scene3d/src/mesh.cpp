#include "windows/scene3d/mesh.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string_view>

#include "platform/file_read.h"
#include "windows/scene3d/scene.h"
#include "x_text_check.h"

using platform::linalg::Matrix;
using platform::linalg::Vec3;

namespace {

constexpr std::string_view kTextureName = "REDBRICK.BMP";

std::array<float, 4> Rgba(const aiColor4D& c) { return {c.r, c.g, c.b, c.a}; }

CMaterial MaterialOf(const aiMaterial& source)
{
    CMaterial m;
    aiColor4D colour(0.0f, 0.0f, 0.0f, 1.0f);
    if (source.Get(AI_MATKEY_COLOR_DIFFUSE, colour) == aiReturn_SUCCESS)
        m.diffuse = Rgba(colour);
    colour = aiColor4D(0.0f, 0.0f, 0.0f, 1.0f);
    if (source.Get(AI_MATKEY_COLOR_SPECULAR, colour) == aiReturn_SUCCESS)
        m.specular = Rgba(colour);
    colour = aiColor4D(0.0f, 0.0f, 0.0f, 1.0f);
    if (source.Get(AI_MATKEY_COLOR_EMISSIVE, colour) == aiReturn_SUCCESS)
        m.emissive = Rgba(colour);
    float power = 0.0f;
    if (source.Get(AI_MATKEY_SHININESS, power) == aiReturn_SUCCESS)
        m.power = power;
    // The file's ambient is replaced by its diffuse colour.
    m.ambient = m.diffuse;
    return m;
}

// The file declares no material when assimp had to make up its default one.
bool HasOwnMaterials(const aiScene& scene)
{
    if (scene.mNumMaterials == 0)
        return false;
    if (scene.mNumMaterials == 1) {
        aiString name;
        if (scene.mMaterials[0]->Get(AI_MATKEY_NAME, name) != aiReturn_SUCCESS || name.length == 0 ||
            std::string_view(name.C_Str()) == AI_DEFAULT_MATERIAL_NAME)
            return false;
    }
    return true;
}

// Per-vertex normals: the sum of the unit normals of the faces around each
// vertex (clockwise front faces, left-handed), normalised.
void ComputeNormals(CMeshGeometry& g)
{
    g.normals.assign(g.positions.size(), Vec3{});
    for (const auto& subset : g.subsets)
        for (std::size_t i = 0; i + 2 < subset.size(); i += 3) {
            const Vec3& a = g.positions[subset[i]];
            const Vec3 n = platform::linalg::Vec3Normalize(
                platform::linalg::Cross(g.positions[subset[i + 1]] - a, g.positions[subset[i + 2]] - a));
            for (std::size_t k = 0; k < 3; ++k) {
                Vec3& v = g.normals[subset[i + k]];
                v = {v.x + n.x, v.y + n.y, v.z + n.z};
            }
        }
    for (auto& n : g.normals)
        n = platform::linalg::Vec3Normalize(n);
}

struct Collector {
    CMeshGeometry geometry;
    bool allHaveNormals = true;
    bool ownMaterials = false;
    std::size_t triangles = 0;
    std::string error;

    bool Walk(const aiScene& scene, const aiNode& node, const aiMatrix4x4& parent, int depth)
    {
        if (depth > kMaxMeshFrameDepth) {
            error = "the frames nest too deeply";
            return false;
        }
        const aiMatrix4x4 transform = parent * node.mTransformation;
        aiMatrix3x3 rotation(transform);
        for (unsigned m = 0; m < node.mNumMeshes; ++m)
            if (!Add(*scene.mMeshes[node.mMeshes[m]], transform, rotation, scene.mNumMaterials))
                return false;
        for (unsigned c = 0; c < node.mNumChildren; ++c)
            if (!Walk(scene, *node.mChildren[c], transform, depth + 1))
                return false;
        return true;
    }

    bool Add(const aiMesh& mesh, const aiMatrix4x4& transform, const aiMatrix3x3& rotation, unsigned materials)
    {
        // A mesh that several frames use is added once per use: the totals
        // are checked as they grow.
        if (geometry.positions.size() + mesh.mNumVertices > kMaxMeshVertices) {
            error = "too many vertices";
            return false;
        }
        if (triangles + mesh.mNumFaces > kMaxMeshTriangles) {
            error = "too many faces";
            return false;
        }
        const auto base = static_cast<std::uint32_t>(geometry.positions.size());
        if (!mesh.HasNormals())
            allHaveNormals = false;
        const aiVector3D* uv = mesh.HasTextureCoords(0) ? mesh.mTextureCoords[0] : nullptr;
        for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
            const aiVector3D p = transform * mesh.mVertices[v];
            geometry.positions.push_back({p.x, p.y, p.z});
            aiVector3D n = mesh.HasNormals() ? rotation * mesh.mNormals[v] : aiVector3D();
            geometry.normals.push_back({n.x, n.y, n.z});
            geometry.texcoords.push_back(uv != nullptr ? CTexCoord{uv[v].x, uv[v].y} : CTexCoord{});
        }
        const std::size_t subset = ownMaterials && mesh.mMaterialIndex < materials ? mesh.mMaterialIndex : 0;
        if (geometry.subsets.size() <= subset)
            geometry.subsets.resize(subset + 1);
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices != 3)
                continue; // points and lines left over from triangulation
            for (unsigned k = 0; k < 3; ++k) {
                if (face.mIndices[k] >= mesh.mNumVertices) {
                    error = "a face names a vertex that does not exist";
                    return false;
                }
                geometry.subsets[subset].push_back(base + face.mIndices[k]);
            }
            ++triangles;
        }
        return true;
    }
};

// The .x header: "xof ", a version "0302" or "0303", the format and the
// float size. Only the text form is taken: the binary and compressed ones
// cannot be checked below before assimp reads them.
bool CheckXHeader(std::span<const std::uint8_t> data, std::string& error)
{
    if (data.size() < 16) {
        error = "the file is too short for a mesh";
        return false;
    }
    const std::string_view head(reinterpret_cast<const char*>(data.data()), 16);
    if (head.substr(0, 4) != "xof " || (head.substr(4, 4) != "0302" && head.substr(4, 4) != "0303") ||
        (head.substr(12, 4) != "0032" && head.substr(12, 4) != "0064")) {
        error = "not a DirectX mesh file";
        return false;
    }
    if (head.substr(8, 4) != "txt ") {
        error = "only text mesh files are read";
        return false;
    }
    return true;
}

} // namespace

CMesh::CMesh() { Init(nullptr); }

CMesh::~CMesh() = default;

void CMesh::Init(CScene* owner)
{
    colour = {0, 0, 255};
    scene = owner;
    position = {};
    rotation = {};
    geometry = {};
    materials.clear();
    textureFiles.clear();
    textures.clear();
    textureIds.clear();
    materialCount = 0;
}

std::uint32_t CMesh::Load() { return kSceneOk; }

void CMesh::Release()
{
    // The device's textures go with the images they were made from.
    if (scene != nullptr)
        scene->ReleaseMeshTextures(*this);
    textureIds.clear();
    materials.clear();
    textureFiles.clear();
    textures.clear();
    materialCount = 0;
    geometry = {};
}

void CMesh::CopyLookTo(CMesh& other) const
{
    other.scene = scene;
    other.scale = scale;
    other.rotation = rotation;
    other.colour = colour;
}

std::unique_ptr<CMesh> CMesh::Clone() const
{
    auto copy = std::make_unique<CMesh>();
    CopyLookTo(*copy);
    return copy;
}

CMaterial CMesh::SetMaterial()
{
    CMaterial m;
    m.diffuse = {colour.red / 255.0f, colour.green / 255.0f, colour.blue / 255.0f, 1.0f};
    m.ambient = m.diffuse;
    defaultMaterial = m;
    textureName = kTextureName;
    return m;
}

CMeshTransforms CMesh::UpdateTransforms() const
{
    using namespace platform::linalg;
    CMeshTransforms t;
    t.world = MatrixMultiply(
        MatrixMultiply(MatrixMultiply(MatrixRotationX(rotation.x), MatrixRotationY(rotation.y)), MatrixRotationZ(rotation.z)),
        MatrixMultiply(MatrixScaling(scale.x, scale.y, scale.z), MatrixTranslation(position.x, position.y, position.z)));
    if (scene != nullptr)
        t.view = MatrixLookAtLH(scene->cameraEye, scene->cameraLookAt, scene->cameraUp);
    else
        t.view = MatrixIdentity();
    t.projection = MatrixPerspectiveFovLH(std::numbers::pi_v<float> / 4.0f, 1.0f, 150.0f, boundingRadius * 200.0f);
    return t;
}

CFileMesh::CFileMesh(int meshKind, CScene* owner, std::filesystem::path file)
    : kind(meshKind), fileName(std::move(file))
{
    Init(owner);
}

std::unique_ptr<CMesh> CFileMesh::Clone() const
{
    auto copy = std::make_unique<CFileMesh>(kind, scene, fileName);
    CopyLookTo(*copy);
    return copy;
}

bool ParseXMesh(std::span<const std::uint8_t> data, CParsedMesh& out, std::string& error)
{
    out = {};
    if (data.size() > kMaxMeshFileBytes) {
        error = "the mesh file is too large";
        return false;
    }
    if (!CheckXHeader(data, error))
        return false;
    // assimp reads the copy the check wrote, never the file's own bytes.
    std::string copy;
    if (!RewriteXText(data.subspan(16), copy, error))
        return false;
    Assimp::Importer importer;
    // No external files: a .x file names nothing else that assimp would open.
    const aiScene* loaded = importer.ReadFileFromMemory(
        copy.data(), copy.size(),
        aiProcess_ValidateDataStructure | aiProcess_ConvertToLeftHanded | aiProcess_JoinIdenticalVertices |
            aiProcess_Triangulate,
        "x");
    if (loaded == nullptr || loaded->mRootNode == nullptr || loaded->mNumMeshes == 0) {
        error = loaded == nullptr ? importer.GetErrorString() : "the file holds no mesh";
        if (error.empty())
            error = "the file could not be read";
        return false;
    }
    if (loaded->mNumMaterials > kMaxMeshMaterials) {
        error = "too many materials";
        return false;
    }

    Collector collector;
    collector.ownMaterials = HasOwnMaterials(*loaded);
    if (!collector.Walk(*loaded, *loaded->mRootNode, aiMatrix4x4(), 0)) {
        error = collector.error;
        return false;
    }
    if (collector.geometry.positions.empty()) {
        error = "the file holds no vertex";
        return false;
    }
    for (const auto& p : collector.geometry.positions)
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            error = "a vertex is not a number";
            return false;
        }
    out.geometry = std::move(collector.geometry);
    out.hasNormals = collector.allHaveNormals;
    if (collector.ownMaterials) {
        out.geometry.subsets.resize(loaded->mNumMaterials);
        for (unsigned i = 0; i < loaded->mNumMaterials; ++i) {
            out.materials.push_back(MaterialOf(*loaded->mMaterials[i]));
            aiString texture;
            if (loaded->mMaterials[i]->GetTexture(aiTextureType_DIFFUSE, 0, &texture) == aiReturn_SUCCESS)
                out.textureFiles.emplace_back(texture.C_Str());
            else
                out.textureFiles.emplace_back();
        }
    }
    return true;
}

std::filesystem::path TextureBeside(const std::filesystem::path& meshFile, std::string_view name)
{
    // The name comes from the file: it never leads out of the mesh's folder.
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return {};
    return meshFile.parent_path() / std::string(name);
}

std::uint32_t CFileMesh::Load()
{
    Release();
    lastError.clear();
    if (scene == nullptr || !scene->HasDevice()) {
        lastError = "the scene has no device";
        return kSceneFail;
    }
    std::vector<std::uint8_t> bytes;
    if (!platform::files::ReadFileLimited(fileName, kMaxMeshFileBytes, bytes, lastError))
        return kSceneFail;
    CParsedMesh parsed;
    if (!ParseXMesh(bytes, parsed, lastError))
        return kSceneFail;
    CMeshGeometry g = std::move(parsed.geometry);

    for (auto& p : g.positions)
        p = {p.x + kMeshLoadOffset.x, p.y + kMeshLoadOffset.y, p.z + kMeshLoadOffset.z};

    // The bounding sphere around the vertices' mean.
    double cx = 0.0, cy = 0.0, cz = 0.0;
    for (const auto& p : g.positions) {
        cx += p.x;
        cy += p.y;
        cz += p.z;
    }
    const double count = static_cast<double>(g.positions.size());
    boundingCentre = {static_cast<float>(cx / count), static_cast<float>(cy / count), static_cast<float>(cz / count)};
    float radius = 0.0f;
    for (const auto& p : g.positions) {
        const Vec3 d = p - boundingCentre;
        radius = std::max(radius, std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z));
    }
    boundingRadius = radius;

    materials = std::move(parsed.materials);
    textureFiles = std::move(parsed.textureFiles);
    materialCount = static_cast<std::uint32_t>(materials.size());
    textures.resize(materialCount);
    for (std::uint32_t i = 0; i < materialCount; ++i) {
        const std::filesystem::path file = TextureBeside(fileName, textureFiles[i]);
        std::string ignored; // an untextured subset is drawn in its material's colour
        if (!file.empty())
            LoadTextureFile(file, textures[i], ignored);
    }

    if (!parsed.hasNormals)
        ComputeNormals(g);
    geometry = std::move(g);
    return kSceneOk;
}
