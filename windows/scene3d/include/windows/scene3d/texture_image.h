#pragma once
// Texture images of the meshes: PNG (libpng) and JPEG (libjpeg) files
// decoded to RGBA. The files come with mesh data, so every size is checked
// before anything is allocated for it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

inline constexpr int kMaxTextureSide = 4096;
inline constexpr std::size_t kMaxTextureFileBytes = 32u * 1024u * 1024u;

struct CTextureImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba; // width * height * 4, top row first
    bool empty() const { return rgba.empty(); }
    std::uint32_t Pixel(int x, int y) const; // 0xRRGGBBAA
};

// Decodes a PNG or a JPEG (told apart by their signatures). False, with the
// reason, for anything else, a damaged file, or a side above kMaxTextureSide.
bool DecodeTextureImage(std::span<const std::uint8_t> data, CTextureImage& image, std::string& error);

// Reads and decodes a texture file of at most kMaxTextureFileBytes.
bool LoadTextureFile(const std::filesystem::path& file, CTextureImage& image, std::string& error);
