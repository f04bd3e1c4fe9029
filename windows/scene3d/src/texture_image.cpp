#include "windows/scene3d/texture_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "platform/file_read.h"

namespace {

constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint8_t kJpegSignature[] = {0xFF, 0xD8, 0xFF};

template <std::size_t N>
bool startsWith(std::span<const std::uint8_t> data, const std::uint8_t (&signature)[N])
{
    return data.size() >= N && std::memcmp(data.data(), signature, N) == 0;
}

bool sizeAllowed(std::uint64_t width, std::uint64_t height)
{
    return width > 0 && height > 0 && width <= kMaxTextureSide && height <= kMaxTextureSide;
}

bool decodePng(std::span<const std::uint8_t> data, CTextureImage& image, std::string& error)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&png, data.data(), data.size()) == 0) {
        error = std::string("damaged PNG: ") + png.message;
        return false;
    }
    if (!sizeAllowed(png.width, png.height)) {
        png_image_free(&png);
        error = "PNG too large";
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.rgba.assign(PNG_IMAGE_SIZE(png), 0);
    if (png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr) == 0) {
        error = std::string("damaged PNG: ") + png.message;
        png_image_free(&png);
        image = {};
        return false;
    }
    return true;
}

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back into decodeJpeg, which then cleans up.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFailed(j_common_ptr info)
{
    auto* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->message);
    std::longjmp(e->jump, 1);
}

void jpegQuiet(j_common_ptr) {}

// Everything the jump may cross lives outside this frame (no destructors
// are skipped): the decompressor, the error record and the image.
bool decodeJpegInto(jpeg_decompress_struct& info, JpegError& failure, std::span<const std::uint8_t> data,
                    CTextureImage& image)
{
    if (setjmp(failure.jump) != 0)
        return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    if (!sizeAllowed(info.image_width, info.image_height)) {
        std::snprintf(failure.message, sizeof failure.message, "JPEG too large");
        return false;
    }
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    image.width = static_cast<int>(info.output_width);
    image.height = static_cast<int>(info.output_height);
    image.rgba.assign(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4u, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.rgba.data() + static_cast<std::size_t>(info.output_scanline) *
                                               static_cast<std::size_t>(image.width) * 4u;
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break;
    }
    jpeg_finish_decompress(&info);
    return true;
}

bool decodeJpeg(std::span<const std::uint8_t> data, CTextureImage& image, std::string& error)
{
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    JpegError failure;
    std::memset(&failure, 0, sizeof failure);
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jpegFailed;
    failure.manager.output_message = jpegQuiet;
    const bool ok = decodeJpegInto(info, failure, data, image);
    jpeg_destroy_decompress(&info);
    if (!ok) {
        error = std::string("damaged JPEG: ") + failure.message;
        image = {};
    }
    return ok;
}

} // namespace

std::uint32_t CTextureImage::Pixel(int x, int y) const
{
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                   static_cast<std::size_t>(x)) * 4u];
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool DecodeTextureImage(std::span<const std::uint8_t> data, CTextureImage& image, std::string& error)
{
    image = {};
    if (startsWith(data, kPngSignature))
        return decodePng(data, image, error);
    if (startsWith(data, kJpegSignature))
        return decodeJpeg(data, image, error);
    error = "not a PNG or JPEG image";
    return false;
}

bool LoadTextureFile(const std::filesystem::path& file, CTextureImage& image, std::string& error)
{
    image = {};
    std::vector<std::uint8_t> bytes;
    return platform::files::ReadFileLimited(file, kMaxTextureFileBytes, bytes, error) && DecodeTextureImage(bytes, image, error);
}
