#pragma once
// A small raster image with clipped drawing, and the rasteriser that draws
// a whole frame (greyscale background, objects, segments, labels) into one.
#include "camera/frame.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace Orvane {

class BitMap {
public:
    enum ColorDepth { Depth8 = 8, Depth16 = 16, Depth24 = 24, Depth32 = 32 };

    static constexpr std::uint32_t White = 0xFFFFFF;
    static constexpr std::uint32_t Black = 0x000000;

    // The depth for a requested number of bits per pixel: 8, 16 and 24 as
    // asked, 32 for any other value.
    static ColorDepth DepthFor(int bitsPerPixel);

    BitMap() = default;
    BitMap(int width, int height, int bytesPerLine, ColorDepth depth, std::uint8_t* buffer = nullptr);
    // Copies share the pixels; a buffer the bitmap allocated lives while
    // any copy does.
    BitMap(const BitMap&) = default;
    BitMap& operator=(const BitMap&) = default;
    virtual ~BitMap() = default;

    // bytesPerLine 0: width x bytes per pixel. dibRows: the size is counted
    // in rows rounded up to 4 bytes. A null buffer allocates a zeroed one.
    void Initialize(int width, int height, int bytesPerLine, ColorDepth depth, std::uint8_t* buffer,
                    bool dibRows = false);
    void Clear();

    std::uint8_t* GetBits() const { return bits_; }
    int GetBitsPerPixel() const { return bytesPerPixel_ * 8; }
    int GetBytesPerPixel() const { return bytesPerPixel_; }
    int PixelWidth() const { return width_; }
    int PixelHeight() const { return height_; }
    int ByteSpan() const { return bytesPerLine_; }
    std::uint32_t GetSize() const { return size_; }
    bool OwnsBuffer() const { return owned_ != nullptr; }
    std::uint8_t* operator()(int x, int y) const;

    void PutPixel(int x, int y, std::uint32_t colour);
    std::uint32_t GetPixel(int x, int y) const;
    void HorizontalLine(int x1, int y, int x2, std::uint32_t colour);
    void HorizontalLineFrom8BitSource(int x1, int y, int x2, const std::uint8_t* grey);
    void WriteGreyscaleLine(const std::uint8_t* grey, int y, int count);
    void WriteLineSegment(int line, int start, int stop, std::uint32_t colour);
    void WriteLineSegmentDIB(int line, int start, int stop, std::uint32_t colour);
    void Line(int x1, int y1, int x2, int y2, std::uint32_t colour);
    void Circle(int cx, int cy, int r, std::uint32_t colour);
    void FillCircle(int cx, int cy, int r, std::uint32_t colour);
    // Built-in 7 x 8 font, characters 33..96 (lower case prints as upper
    // case), 6 pixels per character; glyphs draw in black and white.
    void Print(int x, int y, std::string_view text, std::uint32_t colour = White);
    void Resize(const BitMap& source);

private:
    void Encode(std::uint8_t* p, std::uint32_t colour) const;
    void EncodeGrey(std::uint8_t* p, std::uint8_t g) const;
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

    ColorDepth depth_ = Depth16;
    int bytesPerPixel_ = 2;
    int width_ = 0;
    int height_ = 0;
    int bytesPerLine_ = 0;
    std::uint8_t* bits_ = nullptr;
    std::uint32_t size_ = 0;
    std::shared_ptr<std::uint8_t[]> owned_;
};

// The display settings the rasteriser uses (kept by the camera).
struct RasterSettings {
    enum ProcessingMode { Segments = 0, Greyscale = 1, HardwareObjects = 2, GreyscaleRuns = 4 };
    enum Options { InfoText = 0x1, ObjectNumbers = 0x2, Outlined = 0x4, NoRunSegments = 0x8 };

    int colourScheme = 1;
    std::uint32_t normalColour = 0x6464FF;
    std::uint32_t highlightColour = 0x64FF64;
    int processingMode = Segments;
    int displayOptions = 0;
};

// Draws the frame into the bitmap.
void RasterizeFrame(Frame& frame, BitMap& bitmap, const RasterSettings& settings);
// Draws over the caller's buffer of width x height pixels at depth 8, 16,
// 24 or 32 bits (32 for any other value).
void RasterizeFrame(Frame& frame, std::uint8_t* buffer, int width, int height, int depth,
                    const RasterSettings& settings);

} // namespace Orvane
