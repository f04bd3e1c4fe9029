// The head window's mesh loading path over arbitrary bytes: the .x header
// check, assimp's parser with its structure validation, the count limits,
// and the texture decoders for data that looks like an image.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "windows/scene3d/mesh.h"
#include "windows/scene3d/texture_image.h"

// assimp's .x parser leaks its half-built scene when it gives up on a broken
// file; that is inside the library, not ours.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:libassimp.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    std::string error;
    CParsedMesh mesh;
    if (ParseXMesh(bytes, mesh, error)) {
        // Whatever was accepted is safe to walk: every index names a vertex.
        for (const auto& subset : mesh.geometry.subsets)
            for (const std::uint32_t i : subset)
                if (i >= mesh.geometry.positions.size())
                    __builtin_trap();
        if (mesh.geometry.texcoords.size() != mesh.geometry.positions.size())
            __builtin_trap();
    }
    CTextureImage image;
    if (DecodeTextureImage(bytes, image, error) &&
        image.rgba.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4u)
        __builtin_trap();
    return 0;
}
