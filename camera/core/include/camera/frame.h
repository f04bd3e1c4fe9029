#pragma once
// One decoded camera frame: its objects, the segments they were built from,
// the greyscale image and the time stamp. Frames live in the frame double
// buffer; the tracking engine reads them in place between taking one and
// giving it back.
//
// The packet processor names this type CameraPacketProcessor::Frame; it is
// defined here, on its own, so that every part of the suite can use it
// without the processor.
#include "camera/camera_object.h"

#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace Orvane {

class Camera;

class Frame {
public:
    static constexpr int MaxSegments = 2000;
    static constexpr int MaxMergePairs = 400;
    static constexpr int DefaultObjectCapacity = 400;
    static constexpr int DefaultObjectGrowth = 400;
    static constexpr int PointerTableCapacity = 20;

    // Option bits of a frame-option record.
    static constexpr std::int32_t OptionCorrupt = 0x2;
    static constexpr std::int32_t OptionImage = 0x4;

    using MergePair = std::pair<CameraObject*, CameraObject*>;

    explicit Frame(int objectCapacity = DefaultObjectCapacity, int objectGrowth = DefaultObjectGrowth);
    // Deep copies: every pointer into the source (segment links and owners,
    // object segment lists, merge pairs, pointer table) is re-based into the
    // copy, so a copy stays valid after the source is recycled. Assignment
    // reuses the destination's storage where it is large enough.
    Frame(const Frame& other);
    Frame& operator=(const Frame& other);
    ~Frame();

    // Frame id -1, time 0, no camera, no segments or merge pairs, and the
    // image-present, weighted and corrupt flags cleared.
    void Clear();
    // Copies the segment into the next slot with its owner cleared; ignored
    // once MaxSegments are held.
    void AddSegment(const LineSegment& segment);
    // Ignored once MaxMergePairs are held.
    void AddMergePair(CameraObject* a, CameraObject* b);
    // Grows the object array by the growth step as needed (the only
    // allocation a frame makes after construction; pointers into the array
    // are invalidated when it grows).
    void SetObjectCount(int n);
    // No objects and no usable image (none, or one being masked out).
    bool IsEmpty() const;
    // Image storage for width x height bytes; keeps its capacity, so a frame
    // that is refilled at the same size does not allocate.
    void SetImageSize(int width, int height);
    void ResizeImage(std::uint32_t bytes);
    // Marks the image absent (storage is kept for reuse).
    void FreeImage();

    std::span<CameraObject> GetObjects() { return {objects.data(), static_cast<std::size_t>(objectCount)}; }
    std::span<const CameraObject> GetObjects() const
    {
        return {objects.data(), static_cast<std::size_t>(objectCount)};
    }
    std::span<LineSegment> GetSegments() { return {segments.data(), static_cast<std::size_t>(segmentCount)}; }
    std::span<const LineSegment> GetSegments() const
    {
        return {segments.data(), static_cast<std::size_t>(segmentCount)};
    }
    int GetObjectCount() const { return objectCount; }
    int GetObjectCapacity() const { return objectCapacity; }
    int GetSegmentCount() const { return segmentCount; }
    int GetFrameId() const { return frameId; }
    double GetTime() const { return time; }
    std::uint64_t GetSequence() const { return sequence; }
    std::uint8_t* GetImage() { return image.empty() ? nullptr : image.data(); }
    const std::uint8_t* GetImage() const { return image.empty() ? nullptr : image.data(); }
    std::uint32_t GetImageSize() const { return static_cast<std::uint32_t>(image.size()); }

    std::vector<CameraObject> objects;  // objects 0..objectCount-1 are valid
    std::int32_t objectCount = 0;
    std::int32_t objectCapacity = DefaultObjectCapacity;
    std::int32_t objectGrowth = DefaultObjectGrowth;
    std::int32_t frameId = -1;       // id the camera reported; -1 = none
    std::int32_t switchState = 0;    // camera switch state, copied at delivery
    // One pointer per object for the reader; the library only empties it.
    // Room for the whole object array is reserved, so filling it allocates
    // nothing.
    std::vector<CameraObject*> pointerTable;
    std::array<LineSegment, MaxSegments> segments{};  // zeroed once, at construction
    std::int32_t segmentCount = 0;
    bool maskOut = false;       // image holds run data; object areas are erased after building
    bool imagePresent = false;  // image holds this frame's pixels
    bool weighted = false;      // segments carry accumulated x and intensity sums
    bool corrupt = false;       // the camera flagged the frame as corrupt
    Camera* camera = nullptr;   // camera that produced the frame
    std::vector<std::uint8_t> image;  // greyscale, imageWidth x imageHeight bytes
    std::int32_t imageWidth = 0;      // row stride
    std::int32_t imageHeight = 0;     // rows
    std::array<MergePair, MaxMergePairs> mergePairs{};
    std::int32_t mergePairCount = 0;
    double time = 0.0;  // performance-counter ticks of the packet that completed the frame
    // Number the packet processor gives each delivered frame (1, 2, ...; 0 =
    // none). A tracked-coordinate record carries the number of its frame, so
    // a reader never pairs a frame with another frame's coordinate.
    std::uint64_t sequence = 0;

private:
    void CopyFrom(const Frame& other);
};

} // namespace Orvane
