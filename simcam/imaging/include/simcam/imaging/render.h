// Rendering of bright discs into a greyscale sensor image.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace simcam::imaging {

// One marker as the sensor sees it. Pixel x covers [x - 0.5, x + 0.5] and
// line y covers [y - 0.5, y + 0.5], so pixel centres sit on whole numbers.
struct Disc {
    double x = 0.0;
    double y = 0.0;
    double radius = 0.0;
    std::uint8_t brightness = 255;
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // row-major, width x height

    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

struct RenderOptions {
    double noise = 0.0;        // standard deviation of added pixel noise, grey levels
    std::uint32_t seed = 1;    // same seed, same noise
    int background = 0;        // grey level of the unlit sensor
};

// Anti-aliased render: each pixel is background + brightness x covered area
// (8 x 8 samples per pixel), then noise, clamped to 0..255.
Image Render(std::span<const Disc> discs, int width, int height, const RenderOptions& options = {});

// Draws frame after frame into one image, touching only the pixels that
// change: the boxes of the last frame's discs and of this frame's. Each frame
// is the image Render gives for the same discs, byte for byte; with noise,
// which changes every pixel, the whole frame is rendered.
class Canvas {
public:
    // Pixels a disc may light, x0..x1 and y0..y1 inclusive.
    struct Box {
        int x0, x1, y0, y1;
    };

    const Image& Draw(std::span<const Disc> discs, int width, int height, const RenderOptions& options = {});

private:
    Image image_;
    std::vector<double> level_;  // the background, but while a frame is drawn
    std::vector<Box> drawn_;     // boxes of the discs in image_
    double background_ = 0.0;
    bool ready_ = false;         // image_ holds a frame drawn here
};

// The first pixel at or after `from` that is not 0 (or `width`).
int SkipZeros(const std::uint8_t* row, int width, int from);

// A horizontal run of pixels, first..last inclusive.
struct Run {
    int line = 0;
    int first = 0;
    int last = 0;
};

// Runs of pixels >= threshold (or > threshold when strict), row by row.
std::vector<Run> ThresholdRuns(const Image& image, int threshold, bool strict = false);

}  // namespace simcam::imaging
