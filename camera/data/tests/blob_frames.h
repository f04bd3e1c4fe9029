#pragma once
// Frames of many blobs for the scorer, the same for a seed: markers that
// drift or stand still from frame to frame (so trackables match, count still
// frames and hold a tracked object), clutter that comes and goes, exact
// copies of other blobs (equal scores), touching and overlapping boxes, a few
// tall or wide ones, and now and then a blob of no area (no centre), with an
// inverted box, far outside any image, or with an edge that is not a number.
#include "camera/frame.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace testing_support {

class BlobFrames {
public:
    // `clutter`: the share of the blobs that are not markers; `area`: the
    // width (and three quarters of it the height) of the region they are in.
    BlobFrames(std::uint64_t seed, int count, bool oddities = true, double clutter = 0.4, double area = 640.0)
        : random_(seed), count_(count), oddities_(oddities), width_(area - 1.0), height_(area * 0.75 - 1.0)
    {
        const int markers = static_cast<int>(std::lround(count_ * (1.0 - clutter)));
        for (int i = 0; i < markers; ++i)
            markers_.push_back(RandomBlob());
    }

    // The next frame's objects, in an order that changes now and then.
    void Next(Orvane::Frame& frame)
    {
        std::uniform_real_distribution<double> step(-1.5, 1.5);
        std::uniform_int_distribution<int> percent(0, 99);
        for (Blob& m : markers_) {
            if (m.moving) {
                m.x = std::clamp(m.x + step(random_), 0.0, width_);
                m.y = std::clamp(m.y + step(random_), 0.0, height_);
            }
            if (percent(random_) < 2)
                m.moving = !m.moving;
        }
        std::vector<Blob> blobs = markers_;
        while (static_cast<int>(blobs.size()) < count_) {
            const int kind = percent(random_);
            if (kind < 15 && !blobs.empty()) {
                blobs.push_back(blobs[std::uniform_int_distribution<std::size_t>(0, blobs.size() - 1)(random_)]);
            } else if (kind < 25 && !blobs.empty()) {
                // Touching or just apart: gaps of 0, 1, 2 ... pixels.
                Blob b = blobs[std::uniform_int_distribution<std::size_t>(0, blobs.size() - 1)(random_)];
                b.x += b.w + percent(random_) % 4;
                blobs.push_back(b);
            } else {
                blobs.push_back(RandomBlob());
            }
        }
        if (percent(random_) < 20)
            std::shuffle(blobs.begin(), blobs.end(), random_);
        frame.SetObjectCount(count_);
        for (int i = 0; i < count_; ++i)
            Fill(frame.objects[static_cast<std::size_t>(i)], blobs[static_cast<std::size_t>(i)]);
    }

private:
    struct Blob {
        double x = 0, y = 0;
        double w = 4, h = 4;
        float fill = 0.8f;
        bool moving = true;
        int odd = 0;  // 1: no area, 2: inverted box, 3: far away, 4: infinite edge
    };

    Blob RandomBlob()
    {
        std::uniform_real_distribution<double> x(0.0, width_), y(0.0, height_), size(1.0, 14.0);
        std::uniform_int_distribution<int> percent(0, 99);
        Blob b;
        b.x = x(random_);
        b.y = y(random_);
        b.w = std::round(size(random_));
        b.h = std::round(size(random_));
        if (percent(random_) < 2)
            b.h = 120;  // a streak down the image
        if (percent(random_) < 2)
            b.w = 200;
        b.fill = static_cast<float>(0.5 + 0.5 * percent(random_) / 100.0);
        b.moving = percent(random_) < 70;
        if (oddities_ && percent(random_) < 3)
            b.odd = 1 + percent(random_) % 4;
        if (b.odd == 3)
            b.x = 3e6;
        return b;
    }

    static void Fill(Orvane::CameraObject& o, const Blob& b)
    {
        o.Clear();
        o.area = b.odd == 1 ? 0.0f : static_cast<float>(std::max(1.0, b.w * b.h * b.fill));
        o.xTotal = static_cast<float>(b.x * o.area);
        o.yTotal = static_cast<float>(b.y * o.area);
        o.leftEdge = static_cast<float>(b.x - b.w / 2);
        o.rightEdge = static_cast<float>(b.x + b.w / 2);
        o.topLine = static_cast<std::int32_t>(b.y - b.h / 2);
        o.bottomLine = static_cast<std::int32_t>(b.y + b.h / 2) + 1;
        if (b.odd == 2)
            std::swap(o.leftEdge, o.rightEdge);
        if (b.odd == 4)
            o.rightEdge = std::numeric_limits<float>::infinity();
    }

    std::mt19937_64 random_;
    int count_;
    bool oddities_;
    double width_, height_;
    std::vector<Blob> markers_;
};

} // namespace testing_support
