#pragma once
// What the camera image window draws, without Qt: the objects of the
// engine's latest frame as their runs, coloured by rank, into one of three
// preallocated bitmaps (16, 24, 32 bits) sized for the camera.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "camera/bitmap.h"
#include "camera/frame.h"

namespace camimage {

// Colour of objects beyond the three clip markers and of rejected objects.
inline constexpr std::uint32_t kOtherColour = 0x0000FF;

double ScaleForRevision(int revision);
struct ImageSize {
    int width = 0, height = 0;
};
ImageSize ImageSizeForRevision(int revision);
// One colour per possible object: rank 1 green, rank 2 white, then greys
// from 191 down by 64 to 63.
std::vector<std::uint32_t> BuildColourTable(int entries);

// What drawing needs of the held frame: per object its rank, score, area and runs.
class CFrameCopy {
public:
    struct Run {
        std::int32_t line;
        float start, stop;
    };
    struct Object {
        std::int32_t rank;
        double score;
        float area;
        std::uint32_t firstRun, runCount;
    };
    static constexpr std::size_t kObjectGrowth = 20;

    CFrameCopy();
    // Reuses its storage; grows only when the frame holds more than before.
    void CopyFrom(const Orvane::Frame& frame);
    void Clear();
    void AddObject(std::int32_t rank, double score, float area, std::span<const Run> runs);

    std::span<const Object> Objects() const { return objects_; }
    std::span<const Run> RunsOf(const Object& o) const { return std::span<const Run>(runs_).subspan(o.firstRun, o.runCount); }

private:
    void Reserve(std::size_t objects);
    std::vector<Object> objects_;
    std::vector<Run> runs_;
};

struct DrawResult {
    int bestArea = -1; // one-point mode: the rank-1 object's area
    int runsDrawn = 0;
};

// Draws the copy into the bitmap, each run scaled.
DrawResult DrawFrameCopy(const CFrameCopy& copy, Orvane::BitMap& bitmap, double scale, int motionType,
                         std::span<const std::uint32_t> colours);

// The "Current dot (pixels):" label.
struct DotLabel {
    bool visible = true;
    int shown = 0;
    // Hidden in three-point modes; a new best area of at least 1 shows it.
    // True when the label changed.
    bool Update(int motionType, int bestArea);
};

// The engine side the window reads.
class ITrackingImageSource {
public:
    virtual ~ITrackingImageSource() = default;
    virtual std::uint32_t FrameCounter() const = 0;
    // Copies the held frame under the engine's lock; false when none is held.
    virtual bool CopyHeldFrame(CFrameCopy& out) = 0;
    virtual int HardwareRevision() const = 0;
    virtual int MotionType() const = 0;
};

// The picture state of the window: bitmaps, scale, depth, last frame.
class CTrackingImage {
public:
    CTrackingImage();

    // Sizes the bitmaps for the revision.
    void Init(int revision);
    // One timer tick. False when there was no new frame (nothing drawn).
    bool Tick(ITrackingImageSource& source, int screenDepth);

    // Set when the chosen bitmap changed: the window repaints its background once.
    bool TakeEraseRequest();
    const Orvane::BitMap& Chosen() const { return bitmaps_[chosen_]; }
    double Scale() const { return scale_; }
    int Depth() const { return depth_; }
    const DotLabel& Label() const { return label_; }
    const std::vector<std::uint32_t>& Colours() const { return colours_; }
    const DrawResult& LastDraw() const { return last_; }

private:
    std::array<Orvane::BitMap, 3> bitmaps_;
    std::size_t chosen_ = 2;
    int depth_ = -1;
    bool sized_ = false;
    bool reinitialised_ = false;
    bool erase_ = false;
    int revision_ = -1;
    double scale_ = 1.0;
    std::vector<std::uint32_t> colours_;
    CFrameCopy copy_;
    std::uint32_t lastFrame_ = 0;
    DotLabel label_;
    DrawResult last_;
};

} // namespace camimage
