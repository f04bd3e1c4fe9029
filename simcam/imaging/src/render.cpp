#include "simcam/imaging/render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace simcam::imaging {
namespace {

constexpr int kSub = 8;

// The pixels a disc can light: its bounding box with a pixel to spare,
// clipped to the image (empty when it lies outside).
Canvas::Box DiscBox(const Disc& d, int width, int height) {
    return {std::max(0, static_cast<int>(std::floor(d.x - d.radius - 1))),
            std::min(width - 1, static_cast<int>(std::ceil(d.x + d.radius + 1))),
            std::max(0, static_cast<int>(std::floor(d.y - d.radius - 1))),
            std::min(height - 1, static_cast<int>(std::ceil(d.y + d.radius + 1)))};
}

// Adds the disc's covered share of each pixel of its box to the levels.
void AddDisc(const Disc& d, const Canvas::Box& box, int width, std::vector<double>& level) {
    const double r2 = d.radius * d.radius;
    for (int y = box.y0; y <= box.y1; ++y) {
        for (int x = box.x0; x <= box.x1; ++x) {
            int inside = 0;
            for (int sy = 0; sy < kSub; ++sy) {
                const double py = y - 0.5 + (sy + 0.5) / kSub - d.y;
                for (int sx = 0; sx < kSub; ++sx) {
                    const double px = x - 0.5 + (sx + 0.5) / kSub - d.x;
                    if (px * px + py * py <= r2) ++inside;
                }
            }
            if (inside) {
                level[static_cast<std::size_t>(y) * width + x] +=
                    d.brightness * static_cast<double>(inside) / (kSub * kSub);
            }
        }
    }
}

std::uint8_t Grey(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

Image Render(std::span<const Disc> discs, int width, int height, const RenderOptions& options) {
    Image image;
    image.width = std::max(width, 0);
    image.height = std::max(height, 0);
    std::vector<double> level(static_cast<std::size_t>(image.width) * image.height,
                              static_cast<double>(options.background));
    for (const Disc& d : discs) {
        if (d.radius <= 0.0) continue;
        AddDisc(d, DiscBox(d, image.width, image.height), image.width, level);
    }
    std::mt19937 random(options.seed);
    std::normal_distribution<double> gauss(0.0, options.noise > 0.0 ? options.noise : 1.0);
    image.pixels.resize(level.size());
    for (std::size_t i = 0; i < level.size(); ++i) {
        double v = level[i];
        if (options.noise > 0.0) v += gauss(random);
        image.pixels[i] = Grey(v);
    }
    return image;
}

const Image& Canvas::Draw(std::span<const Disc> discs, int width, int height, const RenderOptions& options) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (options.noise > 0.0) {
        // Noise changes every pixel: the whole frame is drawn.
        image_ = Render(discs, width, height, options);
        ready_ = false;
        return image_;
    }
    const double background = static_cast<double>(options.background);
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    if (!ready_ || width != image_.width || height != image_.height || background != background_) {
        image_.width = width;
        image_.height = height;
        image_.pixels.assign(pixels, Grey(background));
        level_.assign(pixels, background);
        background_ = background;
        drawn_.clear();
        ready_ = true;
    }
    // Last frame's discs go back to the background, this frame's are drawn
    // into the levels (which are the background everywhere else), turned to
    // grey levels over their boxes, and the levels of those boxes cleared.
    const std::uint8_t grey = Grey(background);
    for (const Box& b : drawn_)
        for (int y = b.y0; y <= b.y1; ++y)
            std::memset(image_.pixels.data() + static_cast<std::size_t>(y) * width + b.x0, grey,
                        static_cast<std::size_t>(b.x1 - b.x0 + 1));
    drawn_.clear();
    for (const Disc& d : discs) {
        if (d.radius <= 0.0) continue;
        const Box b = DiscBox(d, width, height);
        if (b.x0 > b.x1 || b.y0 > b.y1) continue;
        AddDisc(d, b, width, level_);
        drawn_.push_back(b);
    }
    for (const Box& b : drawn_)
        for (int y = b.y0; y <= b.y1; ++y)
            for (int x = b.x0; x <= b.x1; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                image_.pixels[i] = Grey(level_[i]);
            }
    for (const Box& b : drawn_)
        for (int y = b.y0; y <= b.y1; ++y)
            std::fill_n(level_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * width + b.x0),
                        b.x1 - b.x0 + 1, background);
    return image_;
}

std::vector<Run> ThresholdRuns(const Image& image, int threshold, bool strict) {
    std::vector<Run> runs;
    // Unlit pixels of 0 are passed over a word at a time.
    const bool zeroLit = strict ? 0 > threshold : 0 >= threshold;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.width;
        auto lit = [&](int px) {
            const int v = row[px];
            return strict ? v > threshold : v >= threshold;
        };
        int x = 0;
        while (x < image.width) {
            if (!zeroLit) {
                x = SkipZeros(row, image.width, x);
                if (x == image.width) break;
            }
            if (!lit(x)) {
                ++x;
                continue;
            }
            const int first = x;
            while (x < image.width && lit(x)) ++x;
            runs.push_back({y, first, x - 1});
        }
    }
    return runs;
}

int SkipZeros(const std::uint8_t* row, int width, int from) {
    // 32 pixels at a time, then 8, while they are all 0.
    int x = from;
    while (x + 32 <= width) {
        std::uint64_t w[4];
        std::memcpy(w, row + x, sizeof w);
        if ((w[0] | w[1] | w[2] | w[3]) != 0) break;
        x += 32;
    }
    while (x + 8 <= width) {
        std::uint64_t word;
        std::memcpy(&word, row + x, sizeof word);
        if (word != 0) break;
        x += 8;
    }
    while (x < width && row[x] == 0) ++x;
    return x;
}

}  // namespace simcam::imaging
