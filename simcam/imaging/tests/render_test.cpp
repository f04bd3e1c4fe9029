// The canvas draws what Render draws, frame after frame; the encoders that
// pass over unlit pixels a word at a time find what a pixel-by-pixel scan
// finds.
#include "simcam/imaging/packets.h"
#include "simcam/imaging/render.h"
#include "reference_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace simcam::imaging;

namespace {

// Discs that overlap, touch the border, lie partly or wholly outside, or
// have no radius; sometimes none at all.
std::vector<Disc> RandomDiscs(std::mt19937_64& random, int width, int height)
{
    std::uniform_int_distribution<int> count(0, 6), percent(0, 99);
    std::uniform_real_distribution<double> x(-20.0, width + 20.0), y(-20.0, height + 20.0), r(0.5, 14.0);
    std::vector<Disc> discs;
    const int n = percent(random) < 10 ? 0 : count(random);
    for (int i = 0; i < n; ++i) {
        Disc d{x(random), y(random), r(random), static_cast<std::uint8_t>(100 + percent(random) * 155 / 99)};
        if (i > 0 && percent(random) < 30) {
            d.x = discs.back().x + 3.0;  // overlapping the one before
            d.y = discs.back().y - 1.5;
        }
        if (percent(random) < 5)
            d.radius = percent(random) < 50 ? 0.0 : -2.0;
        discs.push_back(d);
    }
    return discs;
}

TEST(Canvas, DrawsWhatRenderDraws)
{
    const struct {
        int width, height;
        RenderOptions options;
    } sizes[] = {
        {640, 480, {}},
        {353, 289, {}},
        {353, 289, {0.0, 1, 30}},    // a lit background
        {64, 48, {2.0, 7, 0}},       // noise: every pixel changes
        {640, 480, {}},              // back to the first size
    };
    std::mt19937_64 random(5);
    Canvas canvas;
    for (const auto& s : sizes) {
        SCOPED_TRACE(::testing::Message() << s.width << " x " << s.height);
        for (int frame = 0; frame < 150; ++frame) {
            const std::vector<Disc> discs = RandomDiscs(random, s.width, s.height);
            const Image& drawn = canvas.Draw(discs, s.width, s.height, s.options);
            const Image expected = Render(discs, s.width, s.height, s.options);
            ASSERT_EQ(drawn.width, expected.width);
            ASSERT_EQ(drawn.height, expected.height);
            ASSERT_EQ(drawn.pixels, expected.pixels) << "frame " << frame;
        }
    }
}

// Sparse images with single lit pixels at word edges, dim pixels beside
// bright ones (a half-pixel between them may or may not be lit), lit rows'
// ends, and zeros.
Image SparseImage(std::mt19937_64& random, int width, int height)
{
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<std::size_t>(width) * height, 0);
    std::uniform_int_distribution<int> px(0, width * height - 1), value(0, 255), percent(0, 99);
    for (int i = 0; i < width * height / 40; ++i) {
        const int at = px(random);
        image.pixels[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value(random));
        if (percent(random) < 30 && at + 1 < width * height)
            image.pixels[static_cast<std::size_t>(at) + 1] = static_cast<std::uint8_t>(value(random));
    }
    for (int y = 0; y < height; y += 7) image.pixels[static_cast<std::size_t>(y) * width + width - 1] = 200;
    return image;
}

TEST(Encoders, PassingOverZerosFindsEveryRun)
{
    std::mt19937_64 random(9);
    for (int round = 0; round < 40; ++round) {
        const int width = 8 + round * 3, height = 5 + round % 7;
        const Image image = SparseImage(random, width, height);
        for (int threshold : {-1, 0, 1, 2, 100, 128, 255, 256}) {
            SCOPED_TRACE(::testing::Message() << "round " << round << ", threshold " << threshold);
            for (bool strict : {false, true}) {
                const auto got = ThresholdRuns(image, threshold, strict);
                const auto want = reference::ThresholdRuns(image, threshold, strict);
                ASSERT_EQ(got.size(), want.size());
                for (std::size_t i = 0; i < got.size(); ++i) {
                    ASSERT_EQ(got[i].line, want[i].line);
                    ASSERT_EQ(got[i].first, want[i].first);
                    ASSERT_EQ(got[i].last, want[i].last);
                }
            }
            // Segment records (revision 7), frame ids and option bits as well.
            for (std::uint8_t id : {0, 0x5A}) {
                PacketParams p;
                p.revision = 7;
                p.width = width;
                p.height = height;
                p.threshold = threshold;
                p.frameId = id;
                p.optionFlags = id & 3;
                ASSERT_EQ(EncodePacket(image, p), reference::EncodeSegments(image, p));
            }
        }
    }
}

} // namespace
