#include "camera/bitmap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>

namespace Orvane {

namespace {

// 5 x 7 strokes of characters 33..96, top row first, bit 4 = left column.
constexpr std::array<std::array<std::uint8_t, 7>, 64> kGlyphs = {{
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}, {0x0A, 0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00},
    {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}, {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04},
    {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}, {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D},
    {0x0C, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00}, {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02},
    {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}, {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00},
    {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08},
    {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C},
    {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}, {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}, {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}, {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}, {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08}, {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02},
    {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}, {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}, {0x0E, 0x11, 0x01, 0x0D, 0x15, 0x15, 0x0E},
    {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}, {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},
    {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},
    {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}, {0x00, 0x10, 0x08, 0x04, 0x02, 0x01, 0x00},
    {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}, {0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}, {0x08, 0x04, 0x02, 0x00, 0x00, 0x00, 0x00},
}};

enum Cell : std::uint8_t { Blank = 0, Dark = 1, Light = 2 };

// One 7 x 8 cell: the strokes white, the cells around them black (so text
// reads on any background), the rest clear.
using Glyph = std::array<std::array<Cell, 7>, 8>;

constexpr std::array<Glyph, 64> MakeFont()
{
    std::array<Glyph, 64> font{};
    for (std::size_t c = 0; c < 64; ++c) {
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (kGlyphs[c][static_cast<std::size_t>(row)] & (0x10 >> col))
                    font[c][static_cast<std::size_t>(row)][static_cast<std::size_t>(col + 1)] = Light;
        for (int row = 0; row < 8; ++row) {
            for (int col = 0; col < 7; ++col) {
                if (font[c][static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] == Light)
                    continue;
                bool near = false;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc) {
                        const int r = row + dr, k = col + dc;
                        if (r >= 0 && r < 8 && k >= 0 && k < 7 &&
                            font[c][static_cast<std::size_t>(r)][static_cast<std::size_t>(k)] == Light)
                            near = true;
                    }
                if (near)
                    font[c][static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = Dark;
            }
        }
    }
    return font;
}

constexpr std::array<Glyph, 64> kFont = MakeFont();

} // namespace

BitMap::BitMap(int width, int height, int bytesPerLine, ColorDepth depth, std::uint8_t* buffer)
{
    Initialize(width, height, bytesPerLine, depth, buffer, false);
}

void BitMap::Initialize(int width, int height, int bytesPerLine, ColorDepth depth, std::uint8_t* buffer, bool dibRows)
{
    depth_ = depth;
    bytesPerPixel_ = static_cast<int>(depth) / 8;
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    bytesPerLine_ = bytesPerLine > 0 ? bytesPerLine : width_ * bytesPerPixel_;
    const int rowBytes = dibRows ? (width_ * bytesPerPixel_ + 3) / 4 * 4 : bytesPerLine_;
    size_ = static_cast<std::uint32_t>(height_) * static_cast<std::uint32_t>(rowBytes);
    owned_.reset();
    if (buffer != nullptr) {
        bits_ = buffer;
    } else {
        owned_ = std::make_shared<std::uint8_t[]>(std::max<std::uint32_t>(size_, 1));
        bits_ = owned_.get();
    }
}

void BitMap::Clear()
{
    if (bits_ != nullptr)
        std::memset(bits_, 0, size_);
}

std::uint8_t* BitMap::operator()(int x, int y) const
{
    return bits_ + static_cast<std::ptrdiff_t>(y) * bytesPerLine_ + static_cast<std::ptrdiff_t>(x) * bytesPerPixel_;
}

void BitMap::Encode(std::uint8_t* p, std::uint32_t c) const
{
    const std::uint8_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    switch (bytesPerPixel_) {
    case 1: p[0] = static_cast<std::uint8_t>(c & 0xFF); break;
    case 2: {
        const std::uint16_t w = static_cast<std::uint16_t>((r >> 3) | (g >> 2) << 5 | (b >> 3) << 11);
        p[0] = static_cast<std::uint8_t>(w);
        p[1] = static_cast<std::uint8_t>(w >> 8);
        break;
    }
    case 3: p[0] = r, p[1] = g, p[2] = b; break;
    default: p[0] = r, p[1] = g, p[2] = b, p[3] = 255; break;
    }
}

void BitMap::EncodeGrey(std::uint8_t* p, std::uint8_t g) const
{
    switch (bytesPerPixel_) {
    case 1: p[0] = g; break;
    case 2: {
        const std::uint16_t w = static_cast<std::uint16_t>((g >> 3) | (g >> 2) << 5 | (g >> 3) << 11);
        p[0] = static_cast<std::uint8_t>(w);
        p[1] = static_cast<std::uint8_t>(w >> 8);
        break;
    }
    case 3: p[0] = p[1] = p[2] = g; break;
    default: p[0] = p[1] = p[2] = g, p[3] = 255; break;
    }
}

void BitMap::PutPixel(int x, int y, std::uint32_t colour)
{
    if (bits_ != nullptr && Inside(x, y))
        Encode((*this)(x, y), colour);
}

std::uint32_t BitMap::GetPixel(int x, int y) const
{
    if (bits_ == nullptr || !Inside(x, y))
        return 0;
    const std::uint8_t* p = (*this)(x, y);
    switch (bytesPerPixel_) {
    case 1: return p[0];
    case 2: {
        const unsigned w = p[0] | p[1] << 8;
        return ((w & 0x1F) << 3) << 16 | (((w >> 5) & 0x3F) << 2) << 8 | ((w >> 11) & 0x1F) << 3;
    }
    default: return p[0] * 0x010101u;
    }
}

void BitMap::HorizontalLine(int x1, int y, int x2, std::uint32_t colour)
{
    if (bits_ == nullptr || y < 0 || y >= height_)
        return;
    if (x1 > x2)
        std::swap(x1, x2);
    x1 = std::max(x1, 0);
    x2 = std::min(x2, width_ - 1);
    for (int x = x1; x <= x2; ++x)
        Encode((*this)(x, y), colour);
}

void BitMap::HorizontalLineFrom8BitSource(int x1, int y, int x2, const std::uint8_t* grey)
{
    if (bits_ == nullptr || grey == nullptr || y < 0 || y >= height_)
        return;
    if (x1 > x2)
        std::swap(x1, x2);
    const int first = std::max(x1, 0);
    const int last = std::min(x2, width_ - 1);
    for (int x = first; x <= last; ++x)
        EncodeGrey((*this)(x, y), grey[x - x1]);
}

void BitMap::WriteGreyscaleLine(const std::uint8_t* grey, int y, int count)
{
    if (bits_ == nullptr || grey == nullptr || y < 0 || y >= height_ || (bytesPerPixel_ != 2 && bytesPerPixel_ != 4))
        return;
    count = std::min(count, width_);
    for (int x = 0; x < count; ++x)
        EncodeGrey((*this)(x, y), grey[x]);
}

void BitMap::WriteLineSegment(int line, int start, int stop, std::uint32_t colour)
{
    if (bits_ == nullptr || line < 0 || line >= height_ || stop < start || stop >= width_)
        return;
    start = std::max(start, 0);
    const std::uint8_t* end = bits_ + size_;
    for (int x = start; x <= stop; ++x) {
        std::uint8_t* p = (*this)(x, line);
        if (p + bytesPerPixel_ > end)
            break;
        Encode(p, colour);
        if (bytesPerPixel_ == 4)
            p[3] = 0;
    }
}

void BitMap::WriteLineSegmentDIB(int line, int start, int stop, std::uint32_t colour)
{
    if (bits_ == nullptr || line < 0 || line >= height_ || stop < start || stop >= width_)
        return;
    start = std::max(start, 0);
    const int stride = (width_ * bytesPerPixel_ + 3) / 4 * 4;
    const int row = height_ - line - 1;
    const std::uint8_t* end = bits_ + size_;
    for (int x = start; x <= stop; ++x) {
        std::uint8_t* p = bits_ + static_cast<std::ptrdiff_t>(row) * stride + static_cast<std::ptrdiff_t>(x) * bytesPerPixel_;
        if (p + bytesPerPixel_ > end)
            break;
        Encode(p, colour);
        if (bytesPerPixel_ == 4)
            p[3] = 0;
    }
}

void BitMap::Line(int x1, int y1, int x2, int y2, std::uint32_t colour)
{
    const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
    const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        PutPixel(x1, y1, colour);
        if (x1 == x2 && y1 == y2)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x1 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y1 += sy;
        }
    }
}

void BitMap::Circle(int cx, int cy, int r, std::uint32_t colour)
{
    int x = 0, y = r;
    int d = (5 - 4 * r) / 4;
    while (x <= y) {
        for (auto [px, py] : {std::pair{x, y}, {y, x}, {-x, y}, {-y, x}, {x, -y}, {y, -x}, {-x, -y}, {-y, -x}})
            PutPixel(cx + px, cy + py, colour);
        if (d < 0) {
            d += 2 * x + 3;
        } else {
            d += 2 * (x - y) + 5;
            --y;
        }
        ++x;
    }
}

void BitMap::FillCircle(int cx, int cy, int r, std::uint32_t colour)
{
    int x = 0, y = r;
    int d = (5 - 4 * r) / 4;
    while (x <= y) {
        HorizontalLine(cx - x, cy + y, cx + x, colour);
        HorizontalLine(cx - x, cy - y, cx + x, colour);
        HorizontalLine(cx - y, cy + x, cx + y, colour);
        HorizontalLine(cx - y, cy - x, cx + y, colour);
        if (d < 0) {
            d += 2 * x + 3;
        } else {
            d += 2 * (x - y) + 5;
            --y;
        }
        ++x;
    }
}

void BitMap::Print(int x, int y, std::string_view text, std::uint32_t)
{
    for (char ch : text) {
        int c = static_cast<unsigned char>(ch);
        if (c >= 'a' && c <= 'z')
            c -= 'a' - 'A';
        if (c >= 33 && c <= 96) {
            const Glyph& g = kFont[static_cast<std::size_t>(c - 33)];
            for (int row = 0; row < 8; ++row)
                for (int col = 0; col < 7; ++col) {
                    const Cell cell = g[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
                    if (cell != Blank)
                        PutPixel(x + col, y + row, cell == Light ? White : Black);
                }
        }
        x += 6;
    }
}

void BitMap::Resize(const BitMap& source)
{
    if (width_ <= 0 || height_ <= 0 || source.width_ <= 0 || source.height_ <= 0)
        return;
    // Rows scale by the heights: the widths' ratio would run past the
    // source when the aspect ratios differ.
    const double fx = static_cast<double>(source.width_) / width_;
    const double fy = static_cast<double>(source.height_) / height_;
    for (int i = 0; i < height_; ++i)
        for (int j = 0; j < width_; ++j) {
            const int sx = std::min(static_cast<int>(j * fx), source.width_ - 1);
            const int sy = std::min(static_cast<int>(i * fy), source.height_ - 1);
            const std::uint8_t* p = source(sx, sy);
            if (bytesPerPixel_ == source.bytesPerPixel_)
                std::memcpy((*this)(j, i), p, static_cast<std::size_t>(bytesPerPixel_));
            else
                PutPixel(j, i, source.GetPixel(sx, sy));
        }
}

namespace {

// "%3d" with the number's blanks turned into zeros.
std::string ZeroFilled(int value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%3d", value);
    std::string s = buf;
    std::replace(s.begin(), s.end(), ' ', '0');
    return s;
}

std::uint32_t Grey(int g) { return static_cast<std::uint32_t>(g) * 0x010101u; }

// A centre as a pixel. Frames come from the camera: a centre that is not a
// number, or lies far off any bitmap, is not drawn (its conversion to int
// would overflow).
bool PixelOf(double v, int& out)
{
    if (!std::isfinite(v) || std::fabs(v) > 1e6)
        return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace

void RasterizeFrame(Frame& frame, BitMap& bitmap, const RasterSettings& s)
{
    const std::uint8_t* image = frame.GetImage();
    const bool hasImage = frame.imagePresent && image != nullptr;
    if (!hasImage) {
        bitmap.Clear();
    } else {
        const int rows = std::min(frame.imageHeight, bitmap.PixelHeight());
        for (int y = 0; y < rows; ++y) {
            const std::size_t offset = static_cast<std::size_t>(y) * frame.imageWidth;
            if (offset + static_cast<std::size_t>(frame.imageWidth) > frame.image.size())
                break;
            bitmap.HorizontalLineFrom8BitSource(0, y, frame.imageWidth - 1, image + offset);
        }
    }

    auto colourOf = [&](int i, const CameraObject& o) -> std::uint32_t {
        switch (s.colourScheme) {
        case 0: return s.normalColour;
        case 1: return o.rank == 1 ? s.highlightColour : s.normalColour;
        case 3: return i < 3 ? s.highlightColour : s.normalColour;
        case 4: return i < 3 ? s.highlightColour : Grey(std::max(259 - 2 * i, 64));
        default:
            if (o.score <= 0.0)
                return s.normalColour;
            return o.rank == 1 ? s.highlightColour : Grey(std::max(255 - 2 * (o.rank - 1), 64));
        }
    };

    const bool outlined = (s.displayOptions & RasterSettings::Outlined) != 0;
    const bool drawSegments =
        !(s.processingMode == RasterSettings::GreyscaleRuns && (s.displayOptions & RasterSettings::NoRunSegments));
    for (int i = 0; i < frame.objectCount; ++i) {
        CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
        const std::uint32_t colour = colourOf(i, o);
        if (o.IsEmpty()) {
            int r = static_cast<int>(std::sqrt(o.area / std::numbers::pi));
            if (outlined)
                r += bitmap.PixelWidth() > 500 ? 8 : 4;
            int cx = 0, cy = 0;
            if (!PixelOf(o.GetCenterMassX(), cx) || !PixelOf(o.GetCenterMassY(), cy))
                continue;
            bitmap.FillCircle(cx, cy, r, colour);
            bitmap.Circle(cx, cy, r, BitMap::White);
            continue;
        }
        if (!drawSegments)
            continue;
        if (outlined) {
            for (LineSegment* seg = o.segmentHead; seg != nullptr; seg = seg->next) {
                const int a = static_cast<int>(seg->start), b = static_cast<int>(seg->stop), l = seg->line;
                bitmap.HorizontalLine(a - 1, l - 1, b + 1, BitMap::White);
                bitmap.PutPixel(a - 1, l, BitMap::White);
                bitmap.PutPixel(b + 1, l, BitMap::White);
                bitmap.HorizontalLine(a - 1, l + 1, b + 1, BitMap::White);
            }
        }
        for (LineSegment* seg = o.segmentHead; seg != nullptr; seg = seg->next)
            bitmap.HorizontalLine(static_cast<int>(seg->start), seg->line, static_cast<int>(seg->stop), colour);
    }

    if (s.displayOptions & RasterSettings::ObjectNumbers) {
        for (int i = frame.objectCount - 1; i >= 0; --i) {
            CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
            const std::string label = std::to_string(i);
            int cx = 0, cy = 0;
            if (!PixelOf(o.GetCenterMassX(), cx) || !PixelOf(o.GetCenterMassY(), cy))
                continue;
            bitmap.Print(cx - 3 * static_cast<int>(label.size()), cy - 3, label, BitMap::White);
        }
    }

    if (s.displayOptions & RasterSettings::InfoText) {
        const char* mode = s.processingMode == RasterSettings::Greyscale         ? "Grayscale Mode"
                           : s.processingMode == RasterSettings::HardwareObjects ? "Hardware Object Mode"
                                                                                 : "Segment Mode";
        bitmap.Print(5, 5, mode);
        bitmap.Print(5, 12, "FrameID " + ZeroFilled(frame.frameId));
        if (!hasImage) {
            bitmap.Print(5, 19, ZeroFilled(frame.objectCount) + " Objects");
            if (frame.IsEmpty())
                bitmap.Print(5, 33, "Empty Frame");
            if (frame.corrupt)
                bitmap.Print(5, 40, "Corrupt Frame");
        }
    }
}

BitMap::ColorDepth BitMap::DepthFor(int bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 8: return Depth8;
    case 16: return Depth16;
    case 24: return Depth24;
    default: return Depth32;
    }
}

void RasterizeFrame(Frame& frame, std::uint8_t* buffer, int width, int height, int depth, const RasterSettings& s)
{
    BitMap bitmap;
    bitmap.Initialize(width, height, 0, BitMap::DepthFor(depth), buffer, false);
    RasterizeFrame(frame, bitmap, s);
}

} // namespace Orvane
