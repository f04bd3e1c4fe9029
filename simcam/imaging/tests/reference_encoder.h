#pragma once
// The sensor's runs and the segment records as the encoders found them before
// they passed over unlit pixels a word at a time: pixel by pixel and
// half-pixel by half-pixel over the whole image. Kept as the reference the
// encoders are checked against (render_test) and, with the full Render, as
// the simulated camera's frame as it was drawn before the canvas
// (bench/simcam).
#include "simcam/imaging/packets.h"
#include "simcam/imaging/render.h"

#include <vector>

namespace reference {

using simcam::imaging::Bytes;
using simcam::imaging::Image;
using simcam::imaging::PacketParams;
using simcam::imaging::Run;

inline std::vector<Run> ThresholdRuns(const Image& image, int threshold, bool strict)
{
    std::vector<Run> runs;
    for (int y = 0; y < image.height; ++y) {
        int x = 0;
        while (x < image.width) {
            auto lit = [&](int px) { return strict ? image.at(px, y) > threshold : image.at(px, y) >= threshold; };
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

// Revisions 6, 7, 8, 12 in segment mode: header, segment records, footer.
inline Bytes EncodeSegments(const Image& image, const PacketParams& p)
{
    auto bit = [](int value, int n) { return static_cast<std::uint8_t>((value >> n) & 1); };
    Bytes out = {p.optionFlags, p.mode, 0, p.frameId};
    out[2] = simcam::imaging::HeaderCheck(out[0], out[1], out[3]);
    const int halves = image.width * 2 - 1;
    auto value2 = [&](int k, int y) {
        if (k % 2 == 0) return 2 * image.at(k / 2, y);
        return image.at(k / 2, y) + image.at(k / 2 + 1, y);
    };
    for (int y = 0; y < image.height; ++y) {
        int k = 0;
        while (k < halves) {
            if (value2(k, y) < 2 * p.threshold) {
                ++k;
                continue;
            }
            const int s = k;
            while (k < halves && value2(k, y) >= 2 * p.threshold) ++k;
            const int t = k;
            const std::uint8_t b3 = static_cast<std::uint8_t>(
                bit(s, 10) << 7 | bit(t, 10) << 6 | bit(y, 9) << 5 | bit(s, 9) << 4 | bit(t, 9) << 3 |
                bit(y, 8) << 2 | bit(s, 8) << 1 | bit(t, 8));
            out.insert(out.end(), {static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(s & 0xFF),
                                   static_cast<std::uint8_t>(t & 0xFF), b3});
        }
    }
    std::uint8_t footer[8] = {0, 0, 0, p.frameId};
    footer[2] = simcam::imaging::FooterCheck(footer[0], footer[1], footer[3]);
    out.insert(out.end(), footer, footer + 8);
    return out;
}

} // namespace reference
