// The texture decoders over good, damaged and oversized images.
#include "windows/scene3d/texture_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace {

// A w x h image: red rising to the right, green downwards, blue 64.
std::vector<std::uint8_t> Gradient(int w, int h)
{
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            rgba.push_back(static_cast<std::uint8_t>(x * 255 / (w - 1)));
            rgba.push_back(static_cast<std::uint8_t>(y * 255 / (h - 1)));
            rgba.push_back(64);
            rgba.push_back(255);
        }
    return rgba;
}

std::vector<std::uint8_t> EncodePng(int w, int h, const std::vector<std::uint8_t>& rgba)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
    std::vector<std::uint8_t> out(size);
    EXPECT_NE(png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr), 0);
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> EncodeJpeg(int w, int h, const std::vector<std::uint8_t>& rgba)
{
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(w);
    info.image_height = static_cast<JDIMENSION>(h);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(rgba.data()) + info.next_scanline * static_cast<std::size_t>(w) * 4;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

} // namespace

TEST(TextureImage, PngAndJpegDecodeTopRowFirst)
{
    const auto rgba = Gradient(32, 16);
    CTextureImage image;
    std::string error;
    ASSERT_TRUE(DecodeTextureImage(EncodePng(32, 16, rgba), image, error)) << error;
    EXPECT_EQ(image.width, 32);
    EXPECT_EQ(image.height, 16);
    EXPECT_EQ(image.rgba, rgba);
    EXPECT_EQ(image.Pixel(31, 0), 0xFF0040FFu);

    ASSERT_TRUE(DecodeTextureImage(EncodeJpeg(32, 16, rgba), image, error)) << error;
    ASSERT_EQ(image.rgba.size(), rgba.size());
    // Lossy, but close: the top right stays red, the bottom left green.
    const std::uint32_t topRight = image.Pixel(31, 0), bottomLeft = image.Pixel(0, 15);
    EXPECT_GT(topRight >> 24, 220u);
    EXPECT_LT((topRight >> 16) & 0xFF, 40u);
    EXPECT_LT(bottomLeft >> 24, 40u);
    EXPECT_GT((bottomLeft >> 16) & 0xFF, 220u);
}

TEST(TextureImage, DamagedOversizedAndForeignDataAreRefused)
{
    const auto rgba = Gradient(32, 16);
    const auto png = EncodePng(32, 16, rgba);
    const auto jpeg = EncodeJpeg(32, 16, rgba);
    // A PNG whose header claims 5000 x 5000 (its checksum mended): refused before decoding.
    auto huge = png;
    huge[16] = 0; huge[17] = 0; huge[18] = 0x13; huge[19] = 0x88;
    huge[20] = 0; huge[21] = 0; huge[22] = 0x13; huge[23] = 0x88;
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, huge.data() + 12, 17));
    huge[29] = static_cast<std::uint8_t>(crc >> 24); huge[30] = static_cast<std::uint8_t>(crc >> 16);
    huge[31] = static_cast<std::uint8_t>(crc >> 8); huge[32] = static_cast<std::uint8_t>(crc);
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"PNG cut short", std::vector<std::uint8_t>(png.begin(), png.begin() + static_cast<long>(png.size() / 2))},
        {"PNG signature only", std::vector<std::uint8_t>(png.begin(), png.begin() + 8)},
        {"JPEG cut in its header", std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + 20)},
        {"PNG too large", huge},
        {"a bitmap", {'B', 'M', 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        CTextureImage image;
        std::string error;
        EXPECT_FALSE(DecodeTextureImage(c.bytes, image, error)) << c.what;
        EXPECT_TRUE(image.empty()) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}
