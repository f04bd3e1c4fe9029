#include "simcam/imaging/render.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace simcam::imaging {

Image Render(std::span<const Disc> discs, int width, int height, const RenderOptions& options) {
    Image image;
    image.width = std::max(width, 0);
    image.height = std::max(height, 0);
    std::vector<double> level(static_cast<std::size_t>(image.width) * image.height,
                              static_cast<double>(options.background));
    constexpr int kSub = 8;
    for (const Disc& d : discs) {
        if (d.radius <= 0.0) continue;
        const int x0 = std::max(0, static_cast<int>(std::floor(d.x - d.radius - 1)));
        const int x1 = std::min(image.width - 1, static_cast<int>(std::ceil(d.x + d.radius + 1)));
        const int y0 = std::max(0, static_cast<int>(std::floor(d.y - d.radius - 1)));
        const int y1 = std::min(image.height - 1, static_cast<int>(std::ceil(d.y + d.radius + 1)));
        const double r2 = d.radius * d.radius;
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                int inside = 0;
                for (int sy = 0; sy < kSub; ++sy) {
                    const double py = y - 0.5 + (sy + 0.5) / kSub - d.y;
                    for (int sx = 0; sx < kSub; ++sx) {
                        const double px = x - 0.5 + (sx + 0.5) / kSub - d.x;
                        if (px * px + py * py <= r2) ++inside;
                    }
                }
                if (inside) {
                    level[static_cast<std::size_t>(y) * image.width + x] +=
                        d.brightness * static_cast<double>(inside) / (kSub * kSub);
                }
            }
        }
    }
    std::mt19937 random(options.seed);
    std::normal_distribution<double> gauss(0.0, options.noise > 0.0 ? options.noise : 1.0);
    image.pixels.resize(level.size());
    for (std::size_t i = 0; i < level.size(); ++i) {
        double v = level[i];
        if (options.noise > 0.0) v += gauss(random);
        image.pixels[i] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
    return image;
}

std::vector<Run> ThresholdRuns(const Image& image, int threshold, bool strict) {
    std::vector<Run> runs;
    for (int y = 0; y < image.height; ++y) {
        int x = 0;
        while (x < image.width) {
            auto lit = [&](int px) {
                const int v = image.at(px, y);
                return strict ? v > threshold : v >= threshold;
            };
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

}  // namespace simcam::imaging
