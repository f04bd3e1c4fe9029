#include "windows/scene3d/mesh.h"
#include "windows/scene3d/scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>

// assimp's .x parser leaks its half-built scene when it gives up on a broken
// file; that is inside the library, not ours.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:libassimp.so\n";
}

namespace {

const std::filesystem::path kHead = std::filesystem::path(SCENE3D_MODELS_DIR) / "head.x";

// A cube with a material of its own and normals, written the way the .x text format reads.
constexpr const char* kCube = R"(xof 0303txt 0032
Material Green {
  0.0;1.0;0.0;1.0;;
  8.0;
  0.0;0.0;0.0;;
  0.0;0.0;0.0;;
  TextureFilename { "missing.bmp"; }
}
Frame Root {
  FrameTransformMatrix {
    1.0,0.0,0.0,0.0,
    0.0,1.0,0.0,0.0,
    0.0,0.0,1.0,0.0,
    0.0,2.0,0.0,1.0;;
  }
  Mesh Cube {
    8;
    -1.0;-1.0;-1.0;, 1.0;-1.0;-1.0;, 1.0;1.0;-1.0;, -1.0;1.0;-1.0;,
    -1.0;-1.0;1.0;, 1.0;-1.0;1.0;, 1.0;1.0;1.0;, -1.0;1.0;1.0;;
    6;
    4;0,3,2,1;, 4;4,5,6,7;, 4;0,1,5,4;, 4;3,7,6,2;, 4;0,4,7,3;, 4;1,2,6,5;;
    MeshMaterialList { 1; 6; 0,0,0,0,0,0;; { Green } }
    MeshNormals {
      6;
      0.0;0.0;-1.0;, 0.0;0.0;1.0;, 0.0;-1.0;0.0;, 0.0;1.0;0.0;, -1.0;0.0;0.0;, 1.0;0.0;0.0;;
      6;
      4;0,0,0,0;, 4;1,1,1,1;, 4;2,2,2,2;, 4;3,3,3,3;, 4;4,4,4,4;, 4;5,5,5,5;;
    }
  }
}
)";

std::string Replaced(std::string text, std::string_view what, std::string_view with)
{
    const std::size_t at = text.find(what);
    if (at == std::string::npos)
        throw std::logic_error("no " + std::string(what) + " in the text");
    return text.replace(at, what.size(), with);
}

class MeshTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        setenv("GALLIUM_DRIVER", "llvmpipe", 1);
        scene_ = std::make_unique<CScene>(64, 64);
        if (!scene_->HasDevice())
            GTEST_SKIP() << "no EGL display here";
        dir_ = std::filesystem::temp_directory_path() / ("scene3d_mesh_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path Write(const std::string& name, const std::string& text)
    {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::unique_ptr<CScene> scene_;
    std::filesystem::path dir_;
};

} // namespace

TEST_F(MeshTest, HeadLoadsCentredAfterTheShiftWithComputedNormals)
{
    CFileMesh mesh(7, scene_.get(), kHead);
    EXPECT_EQ(mesh.colour, (CColourBytes{0, 0, 255}));
    EXPECT_FLOAT_EQ(mesh.boundingRadius, 10000.0f);
    ASSERT_EQ(mesh.Create(), kSceneOk) << mesh.lastError;
    EXPECT_TRUE(mesh.HasGeometry());
    // One textured skin: the texture beside the file is loaded for the subset.
    ASSERT_EQ(mesh.materialCount, 1u);
    EXPECT_EQ(mesh.textureFiles, (std::vector<std::string>{"head_skin.png"}));
    ASSERT_EQ(mesh.textures.size(), 1u);
    EXPECT_EQ(mesh.textures[0].width, 256);
    EXPECT_EQ(mesh.textures[0].height, 256);
    EXPECT_EQ(mesh.geometry.texcoords.size(), mesh.geometry.positions.size());
    ASSERT_EQ(mesh.geometry.subsets.size(), 1u);
    EXPECT_EQ(mesh.geometry.subsets[0].size() % 3, 0u);
    EXPECT_GT(mesh.geometry.subsets[0].size(), 300u);
    // The nose is the point nearest the viewer (-z), in the middle.
    std::size_t nose = 0;
    for (std::size_t i = 0; i < mesh.geometry.positions.size(); ++i)
        if (mesh.geometry.positions[i].z < mesh.geometry.positions[nose].z)
            nose = i;
    EXPECT_NEAR(mesh.geometry.positions[nose].x, 0.0f, 30.0f);
    // Modelled around (0, -1500, 300): the shift brings it near the origin.
    EXPECT_NEAR(mesh.boundingCentre.x, 0.0f, 30.0f);
    EXPECT_NEAR(mesh.boundingCentre.y, 0.0f, 60.0f);
    EXPECT_NEAR(mesh.boundingCentre.z, 0.0f, 60.0f);
    EXPECT_GT(mesh.boundingRadius, 500.0f);
    EXPECT_LT(mesh.boundingRadius, 1000.0f);
    ASSERT_EQ(mesh.geometry.normals.size(), mesh.geometry.positions.size());
    // Normals are unit and point away from the centre.
    for (std::size_t i = 0; i < mesh.geometry.positions.size(); ++i) {
        const auto& n = mesh.geometry.normals[i];
        const auto& p = mesh.geometry.positions[i];
        EXPECT_NEAR(std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z), 1.0f, 1e-4f);
        const float outward = n.x * (p.x - mesh.boundingCentre.x) + n.y * (p.y - mesh.boundingCentre.y) +
                              n.z * (p.z - mesh.boundingCentre.z);
        EXPECT_GT(outward, 0.0f) << "vertex " << i;
    }
}

TEST_F(MeshTest, MaterialsFrameTransformAndFileNormalsAreKept)
{
    CFileMesh mesh(7, scene_.get(), Write("cube.x", kCube));
    ASSERT_EQ(mesh.Load(), kSceneOk) << mesh.lastError;
    ASSERT_EQ(mesh.materialCount, 1u);
    ASSERT_EQ(mesh.materials.size(), 1u);
    EXPECT_FLOAT_EQ(mesh.materials[0].diffuse[1], 1.0f);
    EXPECT_EQ(mesh.materials[0].ambient, mesh.materials[0].diffuse); // ambient := diffuse
    EXPECT_FLOAT_EQ(mesh.materials[0].power, 8.0f);
    ASSERT_EQ(mesh.textureFiles.size(), 1u);
    EXPECT_EQ(mesh.textureFiles[0], "missing.bmp");
    ASSERT_EQ(mesh.geometry.subsets.size(), 1u);
    EXPECT_EQ(mesh.geometry.subsets[0].size(), 36u); // 6 quads, 12 triangles
    // Frame translation (0, 2, 0) plus the load shift (0, 1500, -300); the file's z kept (left-handed).
    EXPECT_NEAR(mesh.boundingCentre.x, 0.0f, 1e-4f);
    EXPECT_NEAR(mesh.boundingCentre.y, 1502.0f, 1e-3f);
    EXPECT_NEAR(mesh.boundingCentre.z, -300.0f, 1e-3f);
    EXPECT_NEAR(mesh.boundingRadius, std::sqrt(3.0f), 1e-4f);
    bool sawFront = false;
    for (std::size_t i = 0; i < mesh.geometry.positions.size(); ++i)
        if (mesh.geometry.positions[i].z < -300.5f && mesh.geometry.normals[i].z < -0.99f)
            sawFront = true;
    EXPECT_TRUE(sawFront) << "the -z face keeps the file's normal (0, 0, -1)";
}

// What the format allows beside the plain layout (templates, comments,
// vertex colours, stray separators, the other spelling of the texture's
// object, an inline material) reads as the same mesh.
TEST_F(MeshTest, TheFormatsOtherSpellingsReadAsTheSameMesh)
{
    CFileMesh plain(7, scene_.get(), Write("plain.x", kCube));
    ASSERT_EQ(plain.Load(), kSceneOk) << plain.lastError;
    std::string other = Replaced(kCube, "Material Green {",
                                 "template Vector {\n <3D82AB5E-62DA-11cf-AB39-0020AF71E433>\n FLOAT x;\n"
                                 " FLOAT y;\n FLOAT z;\n}\n// a comment\nMaterial Green {  # another\n");
    other = Replaced(other, "TextureFilename", "TextureFileName");
    other = Replaced(other, "    MeshNormals", "    ;;\n    MeshVertexColors { 1; 3; 1.0;0.0;0.0;1.0;;; }\n    MeshNormals");
    CFileMesh mesh(7, scene_.get(), Write("other.x", other));
    ASSERT_EQ(mesh.Load(), kSceneOk) << mesh.lastError;
    EXPECT_EQ(mesh.geometry.subsets, plain.geometry.subsets);
    ASSERT_EQ(mesh.geometry.positions.size(), plain.geometry.positions.size());
    for (std::size_t i = 0; i < mesh.geometry.positions.size(); ++i) {
        EXPECT_FLOAT_EQ(mesh.geometry.positions[i].x, plain.geometry.positions[i].x);
        EXPECT_FLOAT_EQ(mesh.geometry.normals[i].z, plain.geometry.normals[i].z);
    }
    EXPECT_EQ(mesh.textureFiles, plain.textureFiles);

    std::string inlineMaterial = Replaced(kCube, "{ Green }",
                                          "Material Red { 1.0;0.0;0.0;1.0;; 2.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }");
    CFileMesh red(7, scene_.get(), Write("inline.x", inlineMaterial));
    ASSERT_EQ(red.Load(), kSceneOk) << red.lastError;
    // The faces draw with the inline material (the file's other one stays listed).
    ASSERT_EQ(red.geometry.subsets.size(), red.materials.size());
    std::size_t drawn = 0;
    for (std::size_t i = 0; i < red.geometry.subsets.size(); ++i)
        if (!red.geometry.subsets[i].empty()) {
            ++drawn;
            EXPECT_FLOAT_EQ(red.materials[i].diffuse[0], 1.0f);
            EXPECT_FLOAT_EQ(red.materials[i].power, 2.0f);
        }
    EXPECT_EQ(drawn, 1u);
}

TEST_F(MeshTest, BadFilesFailCleanlyAndLeaveNoGeometry)
{
    std::ifstream in(kHead, std::ios::binary);
    const std::string head((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(head.size(), 1000u);
    std::string nested = "xof 0303txt 0032\n";
    for (int i = 0; i < 200; ++i)
        nested += "Frame F" + std::to_string(i) + " {\n";
    nested += "Mesh M { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n";
    for (int i = 0; i < 200; ++i)
        nested += "}\n";
    std::string cube = kCube;
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"truncated.x", head.substr(0, head.size() / 2)},
        {"empty.x", ""},
        {"header_only.x", "xof 0303txt 0032\n"},
        {"garbage.x", "this is not a mesh file at all\n"},
        {"compressed.x", "xof 0303tzip0032" + std::string(64, '\x01')},
        {"binary.x", "xof 0303bin 0032" + std::string(64, '\x01')},
        {"too_few_texture_coordinates.x",
         std::string(kCube).insert(std::string(kCube).find("    MeshNormals"), "    MeshTextureCoords { 2; 0;0;, 1;1;; }\n")},
        {"material_out_of_range.x", std::string(kCube).replace(std::string(kCube).find("0,0,0,0,0,0;;"), 13, "0,0,0,0,0,7;;")},
        {"normal_index_out_of_range.x", std::string(kCube).replace(std::string(kCube).find("4;5,5,5,5;;"), 11, "4;5,5,5,9;;")},
        {"skinned.x", std::string(kCube).insert(std::string(kCube).find("  }\n}"), "SkinWeights { \"b\"; 1; 0; 1.0; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n")},
        {"another_version.x", "xof 0999txt 0032\n" + cube.substr(17)},
        {"bad_index.x", cube.replace(cube.find("4;0,3,2,1;"), 10, "4;0,3,2,99;")},
        {"frames_too_deep.x", nested},
        // Found by fuzzing: the material reference inside an object assimp
        // skips left its material list short of its count.
        {"reference_inside_unknown_object.x", Replaced(kCube, "{ Green }", "Unknown { Green }")},
        {"reference_to_no_material.x", Replaced(kCube, "{ Green }", "{ Blue }")},
        {"fewer_materials_than_counted.x", Replaced(kCube, "1; 6; 0,0,0,0,0,0;;", "2; 6; 0,0,0,1,1,1;;")},
        {"normal_face_with_fewer_corners.x", Replaced(kCube, "4;5,5,5,5;;", "3;5,5,5;;")},
        {"face_of_two_corners.x", Replaced(kCube, "4;0,3,2,1;", "2;0,3;")},
        {"unknown_object_in_a_frame.x", Replaced(kCube, "FrameTransformMatrix", "FrameTrensformMatrix")},
        {"byte_that_is_not_text.x", Replaced(kCube, "TextureFilename", "Texture\xb5name")},
        {"malformed_number.x", Replaced(kCube, "8.0;", "8.0.1;")},
        {"text_without_end.x", Replaced(kCube, "\"missing.bmp\";", "\"missing.bmp;")},
        {"too_large.x", "xof 0303txt 0032\n" + std::string(kMaxMeshFileBytes, ' ')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CFileMesh mesh(7, scene_.get(), Write(c.name, c.text));
        EXPECT_EQ(mesh.Load(), kSceneFail);
        EXPECT_FALSE(mesh.HasGeometry());
        EXPECT_FALSE(mesh.lastError.empty());
        EXPECT_FLOAT_EQ(mesh.boundingRadius, 10000.0f);
    }
    CFileMesh missing(7, scene_.get(), dir_ / "nowhere.x");
    EXPECT_EQ(missing.Load(), kSceneFail);
    EXPECT_FALSE(missing.HasGeometry());
}

// Each subset's texture is read from beside the mesh file, never from a
// path the file names elsewhere; one that does not load leaves its subset
// untextured and the mesh still loads.
TEST_F(MeshTest, TexturesLoadPerSubsetFromBesideTheFile)
{
    const std::filesystem::path skin = std::filesystem::path(SCENE3D_MODELS_DIR) / "head_skin.png";
    std::filesystem::copy_file(skin, dir_ / "skin.png");
    std::filesystem::create_directories(dir_ / "sub");
    std::filesystem::copy_file(skin, dir_ / "sub" / "elsewhere.png");
    std::string twoMaterials = kCube;
    twoMaterials.replace(twoMaterials.find("missing.bmp"), 11, "skin.png");
    twoMaterials.insert(twoMaterials.find("Frame Root"),
                        "Material Other { 1.0;1.0;1.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; "
                        "TextureFilename { \"sub/elsewhere.png\"; } }\n");
    twoMaterials.replace(twoMaterials.find("MeshMaterialList { 1; 6; 0,0,0,0,0,0;; { Green } }"), 50,
                         "MeshMaterialList { 2; 6; 0,0,0,1,1,1;; { Green } { Other } }");
    twoMaterials.insert(twoMaterials.find("    MeshNormals"),
                        "    MeshTextureCoords { 8; 0;0;, 1;0;, 1;1;, 0;1;, 0;0;, 1;0;, 1;1;, 0;1;; }\n");
    CFileMesh mesh(7, scene_.get(), Write("two.x", twoMaterials));
    ASSERT_EQ(mesh.Load(), kSceneOk) << mesh.lastError;
    ASSERT_EQ(mesh.materialCount, 2u);
    ASSERT_EQ(mesh.textures.size(), 2u);
    EXPECT_EQ(mesh.textures[0].width, 256);
    EXPECT_TRUE(mesh.textures[1].empty()) << "a name with a folder is not followed";
    EXPECT_EQ(mesh.geometry.subsets[0].size(), 18u);
    EXPECT_EQ(mesh.geometry.subsets[1].size(), 18u);
    EXPECT_FLOAT_EQ(mesh.geometry.texcoords[0].u + mesh.geometry.texcoords[1].u + mesh.geometry.texcoords[2].u +
                        mesh.geometry.texcoords[3].u,
                    2.0f);

    // A damaged texture: the subset draws in its colour.
    std::ofstream(dir_ / "skin.png", std::ios::binary | std::ios::trunc) << "\x89PNG\r\n\x1a\nbroken";
    ASSERT_EQ(mesh.Load(), kSceneOk);
    EXPECT_TRUE(mesh.textures[0].empty());
    EXPECT_EQ(scene_->AddObject(mesh.Clone()).index, 1);

    for (const char* name : {"../skin.png", "/etc/passwd", "a\\b.png", "..", ".", ""})
        EXPECT_TRUE(TextureBeside(dir_ / "m.x", name).empty()) << name;
    EXPECT_EQ(TextureBeside(dir_ / "m.x", "ok.png"), dir_ / "ok.png");
}

TEST_F(MeshTest, ReloadAfterAFailureDropsTheOldGeometry)
{
    const auto path = dir_ / "swap.x";
    std::filesystem::copy_file(kHead, path);
    CFileMesh mesh(7, scene_.get(), path);
    ASSERT_EQ(mesh.Load(), kSceneOk);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "xof 0303txt 0032\nMesh {";
    EXPECT_EQ(mesh.Load(), kSceneFail);
    EXPECT_FALSE(mesh.HasGeometry());
}

TEST(Mesh, WithoutADeviceTheFileDoesNotLoad)
{
    CScene scene(CScene::Options{32, 32, {}, true});
    EXPECT_FALSE(scene.HasDevice());
    CFileMesh mesh(7, &scene, kHead);
    EXPECT_EQ(mesh.Load(), kSceneFail);
    EXPECT_FALSE(mesh.HasGeometry());
    CFileMesh orphan(7, nullptr, kHead);
    EXPECT_EQ(orphan.Load(), kSceneFail);
    CMesh plain;
    EXPECT_EQ(plain.Create(), kSceneOk); // a plain mesh has nothing to load
}

TEST(Mesh, CloneCopiesTheLookButNotTheGeometry)
{
    CScene scene(CScene::Options{32, 32, {}, true});
    CFileMesh mesh(7, &scene, "models/head.x");
    mesh.scale = {0.4f, 0.5f, 0.6f};
    mesh.rotation = {0.1f, 0.2f, 0.3f};
    mesh.position = {5, 6, 7};
    mesh.colour = {255, 0, 0};
    mesh.geometry.positions.push_back({1, 2, 3});
    auto copy = mesh.Clone();
    auto* file = dynamic_cast<CFileMesh*>(copy.get());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->fileName, mesh.fileName);
    EXPECT_EQ(file->scene, &scene);
    EXPECT_FLOAT_EQ(file->scale.y, 0.5f);
    EXPECT_FLOAT_EQ(file->rotation.z, 0.3f);
    EXPECT_EQ(file->colour, (CColourBytes{255, 0, 0}));
    EXPECT_FLOAT_EQ(file->position.x, 0.0f); // position is not part of the look
    EXPECT_FALSE(file->HasGeometry());
    auto plain = CMesh().Clone();
    EXPECT_EQ(dynamic_cast<CFileMesh*>(plain.get()), nullptr);
}

TEST(Mesh, MaterialAndTransformsFollowTheirFormulas)
{
    CScene scene(CScene::Options{32, 32, {}, true});
    CMesh mesh;
    mesh.Init(&scene);
    mesh.colour = {255, 51, 0};
    const CMaterial m = mesh.SetMaterial();
    EXPECT_FLOAT_EQ(m.diffuse[0], 1.0f);
    EXPECT_FLOAT_EQ(m.diffuse[1], 0.2f);
    EXPECT_FLOAT_EQ(m.diffuse[3], 1.0f);
    EXPECT_EQ(m.ambient, m.diffuse);
    EXPECT_EQ(mesh.textureName, "REDBRICK.BMP");
    EXPECT_EQ(mesh.defaultMaterial.diffuse, m.diffuse);

    using namespace platform::linalg;
    mesh.scale = {2, 2, 2};
    mesh.position = {10, 0, 0};
    mesh.rotation = {0, std::numbers::pi_v<float> / 2, 0};
    mesh.boundingRadius = 5.0f;
    const CMeshTransforms t = mesh.UpdateTransforms();
    // Rotate first ((0,0,1) -> (1,0,0)), then scale, then move.
    const Vec3 w = Vec3TransformCoord({0, 0, 1}, t.world);
    EXPECT_NEAR(w.x, 12.0f, 1e-4f);
    EXPECT_NEAR(w.y, 0.0f, 1e-4f);
    EXPECT_NEAR(w.z, 0.0f, 1e-4f);
    const Matrix expectedView = MatrixLookAtLH({-1, 6, -1500}, {0, 0, 10000}, {0, 1, 0});
    EXPECT_EQ(t.view.m, expectedView.m);
    EXPECT_NEAR(t.projection(1, 1), 1.0f / std::tan(std::numbers::pi_v<float> / 8), 1e-5f);
    EXPECT_NEAR(t.projection(0, 0), t.projection(1, 1), 1e-6f); // aspect 1
    EXPECT_NEAR(Vec3TransformCoord({0, 0, 150}, t.projection).z, 0.0f, 1e-5f);
    EXPECT_NEAR(Vec3TransformCoord({0, 0, 1000}, t.projection).z, 1.0f, 1e-5f); // far = 5 * 200
}

TEST(Scene, AddObjectNumbersFromOneAndReleaseEmptiesTheList)
{
    CScene scene(CScene::Options{32, 32, {}, true});
    EXPECT_EQ(scene.AddObject(std::make_unique<CMesh>()).index, 1);
    EXPECT_EQ(scene.AddObject(std::make_unique<CMesh>()).index, 2);
    EXPECT_EQ(scene.MeshCount(), 2u);
    EXPECT_EQ(scene.Render(), 0); // no device: nothing drawn
    EXPECT_TRUE(scene.Frame().rgba.empty());
    scene.ReleaseObjects();
    EXPECT_EQ(scene.MeshCount(), 0u);
    EXPECT_EQ(scene.AddObject(std::make_unique<CMesh>()).index, 1);
    EXPECT_THROW(scene.AddObject(nullptr), std::invalid_argument);
    scene.Cleanup();
    EXPECT_EQ(scene.MeshCount(), 0u);
}
