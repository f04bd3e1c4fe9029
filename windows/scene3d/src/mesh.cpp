#include "windows/scene3d/mesh.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <numbers>

#include "windows/scene3d/scene.h"

using platform::gfx::Matrix;
using platform::gfx::Vec3;

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

Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Cross(const Vec3& a, const Vec3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// Per-vertex normals: the sum of the unit normals of the faces around each
// vertex (clockwise front faces, left-handed), normalised.
void ComputeNormals(CMeshGeometry& g)
{
    g.normals.assign(g.positions.size(), Vec3{});
    for (const auto& subset : g.subsets)
        for (std::size_t i = 0; i + 2 < subset.size(); i += 3) {
            const Vec3& a = g.positions[subset[i]];
            const Vec3 n = platform::gfx::Vec3Normalize(
                Cross(Sub(g.positions[subset[i + 1]], a), Sub(g.positions[subset[i + 2]], a)));
            for (std::size_t k = 0; k < 3; ++k) {
                Vec3& v = g.normals[subset[i + k]];
                v = {v.x + n.x, v.y + n.y, v.z + n.z};
            }
        }
    for (auto& n : g.normals)
        n = platform::gfx::Vec3Normalize(n);
}

struct Collector {
    CMeshGeometry geometry;
    bool allHaveNormals = true;
    bool ownMaterials = false;

    void Walk(const aiScene& scene, const aiNode& node, const aiMatrix4x4& parent)
    {
        const aiMatrix4x4 transform = parent * node.mTransformation;
        aiMatrix3x3 rotation(transform);
        for (unsigned m = 0; m < node.mNumMeshes; ++m)
            Add(*scene.mMeshes[node.mMeshes[m]], transform, rotation);
        for (unsigned c = 0; c < node.mNumChildren; ++c)
            Walk(scene, *node.mChildren[c], transform);
    }

    void Add(const aiMesh& mesh, const aiMatrix4x4& transform, const aiMatrix3x3& rotation)
    {
        const auto base = static_cast<std::uint32_t>(geometry.positions.size());
        if (!mesh.HasNormals())
            allHaveNormals = false;
        for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
            const aiVector3D p = transform * mesh.mVertices[v];
            geometry.positions.push_back({p.x, p.y, p.z});
            aiVector3D n = mesh.HasNormals() ? rotation * mesh.mNormals[v] : aiVector3D();
            geometry.normals.push_back({n.x, n.y, n.z});
        }
        const std::size_t subset = ownMaterials ? mesh.mMaterialIndex : 0;
        if (geometry.subsets.size() <= subset)
            geometry.subsets.resize(subset + 1);
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices != 3)
                continue; // points and lines left over from triangulation
            for (unsigned k = 0; k < 3; ++k)
                geometry.subsets[subset].push_back(base + face.mIndices[k]);
        }
    }
};

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
    materialCount = 0;
}

std::uint32_t CMesh::Load() { return kSceneOk; }

void CMesh::Release()
{
    materials.clear();
    textureFiles.clear();
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
    using namespace platform::gfx;
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

std::uint32_t CFileMesh::Load()
{
    Release();
    lastError.clear();
    if (scene == nullptr || !scene->HasDevice()) {
        lastError = "the scene has no device";
        return kSceneFail;
    }
    Assimp::Importer importer;
    const aiScene* loaded = importer.ReadFile(
        fileName.string(), aiProcess_ConvertToLeftHanded | aiProcess_JoinIdenticalVertices | aiProcess_Triangulate);
    if (loaded == nullptr || loaded->mRootNode == nullptr || loaded->mNumMeshes == 0) {
        lastError = loaded == nullptr ? importer.GetErrorString() : "the file holds no mesh";
        if (lastError.empty())
            lastError = "the file could not be read";
        return kSceneFail;
    }

    Collector collector;
    collector.ownMaterials = HasOwnMaterials(*loaded);
    collector.Walk(*loaded, *loaded->mRootNode, aiMatrix4x4());
    CMeshGeometry g = std::move(collector.geometry);
    if (g.positions.empty()) {
        lastError = "the file holds no vertex";
        return kSceneFail;
    }

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
        const Vec3 d = Sub(p, boundingCentre);
        radius = std::max(radius, std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z));
    }
    boundingRadius = radius;

    if (collector.ownMaterials) {
        materialCount = loaded->mNumMaterials;
        g.subsets.resize(materialCount);
        for (unsigned i = 0; i < materialCount; ++i) {
            materials.push_back(MaterialOf(*loaded->mMaterials[i]));
            aiString texture;
            if (loaded->mMaterials[i]->GetTexture(aiTextureType_DIFFUSE, 0, &texture) == aiReturn_SUCCESS)
                textureFiles.emplace_back(texture.C_Str());
            else
                textureFiles.emplace_back();
        }
    }

    if (!collector.allHaveNormals)
        ComputeNormals(g);
    geometry = std::move(g);
    return kSceneOk;
}
