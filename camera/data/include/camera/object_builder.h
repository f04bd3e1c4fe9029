#pragma once
// Joins a finished frame's segments into objects (blobs), computes their
// geometry, refines centres from the greyscale image and erases object
// areas from an accumulated image. Also fills a frame straight from the
// objects a camera computed itself.
#include "camera/data_camera.h"
#include "camera/frame.h"
#include "camera/settings.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace Orvane {

// Geometry from the object's segment list; bottom line and right edge get +1.
void ProcessLineSegments(CameraObject& object);
// The same with intensity-weighted sums; totals are scaled by 1/255.
void ProcessWeightedLineSegments(CameraObject& object);
// A camera-computed object: x sum in quarter pixels, y sum and area in halves.
void ProcessObjectData(CameraObject& object, double x, double y, double area);
// Replaces the totals with sums of grey weights (scaled by 1/255).
void PrecessPrecisionData(CameraObject& object, double x, double y, double weight);
// Appends other's segments to object's list and makes object their owner.
void AddScanLineList(CameraObject& object, CameraObject& other);

class ObjectBuilder {
public:
    static constexpr int MaxObjects = Settings::MaxNumberOfObjects_;

    explicit ObjectBuilder(DataPathCamera& camera) : camera_(camera) {}

    // Builds the frame's objects; threshold is the packet's run threshold.
    void Build(Frame& frame, std::uint8_t threshold);

    // More working or kept objects than the limit in the last build.
    bool Overflowed() const { return overflow_; }

private:
    void Refine(Frame& frame, std::uint8_t threshold);
    void MaskOut(Frame& frame);

    DataPathCamera& camera_;
    std::array<CameraObject, MaxObjects> working_;
    bool overflow_ = false;
};

// One camera-computed object as the packet gives it, in the camera's units.
struct HardwareObjectRecord {
    std::uint32_t x = 0, y = 0, area = 0, mergedInto = 0;
};

// Fills the frame's objects from a hardware-object packet (data without the
// header word). False when the length does not match the counts the packet
// gives (no objects then) or a link names an object the packet does not
// hold (that link is skipped). scratch keeps its capacity between packets.
bool DecodeHardwareObjects(Frame& frame, std::span<const std::uint8_t> data, int objectCap,
                           std::vector<HardwareObjectRecord>& scratch);

} // namespace Orvane
