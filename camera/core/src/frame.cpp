#include "camera/frame.h"

#include <algorithm>
#include <cstring>

namespace Orvane {

namespace {

// Maps a pointer into `from` to the same element of `to`; pointers that do
// not point into `from` become null, so a copy never refers to memory it
// does not own.
template <class T>
T* Rebase(const T* p, const T* from, std::size_t count, T* to)
{
    if (p == nullptr || p < from || p >= from + count)
        return nullptr;
    return to + (p - from);
}

} // namespace

Frame::Frame(int capacity, int growth)
    : objectCapacity(std::max(capacity, 0)), objectGrowth(std::max(growth, 1))
{
    objects.resize(static_cast<std::size_t>(objectCapacity));
    pointerTable.reserve(static_cast<std::size_t>(std::max(objectCapacity, PointerTableCapacity)));
}

Frame::Frame(const Frame& other) : Frame(other.objectCapacity, other.objectGrowth) { CopyFrom(other); }

Frame& Frame::operator=(const Frame& other)
{
    if (this != &other)
        CopyFrom(other);
    return *this;
}

Frame::~Frame() = default;

void Frame::CopyFrom(const Frame& other)
{
    objectGrowth = other.objectGrowth;
    if (objects.size() < other.objects.size()) {
        objects.resize(other.objects.size());
    }
    objectCapacity = static_cast<std::int32_t>(objects.size());
    if (pointerTable.capacity() < static_cast<std::size_t>(objectCapacity))
        pointerTable.reserve(static_cast<std::size_t>(objectCapacity));

    const std::size_t nObjects = other.objects.size();
    const CameraObject* srcObjects = other.objects.data();
    CameraObject* dstObjects = objects.data();
    const LineSegment* srcSegments = other.segments.data();
    LineSegment* dstSegments = segments.data();

    objectCount = other.objectCount;
    for (std::size_t i = 0; i < nObjects; ++i) {
        const CameraObject& s = other.objects[i];
        CameraObject& d = objects[i];
        static_cast<ObjectGeometry&>(d) = static_cast<const ObjectGeometry&>(s);
        d.score = s.score;
        d.rank = s.rank;
        d.tracked = s.tracked;
        d.staticCount = s.staticCount;
        d.partial = s.partial;
        d.aggregated = s.aggregated;
        d.segmentHead = Rebase(s.segmentHead, srcSegments, MaxSegments, dstSegments);
        d.segmentTail = Rebase(s.segmentTail, srcSegments, MaxSegments, dstSegments);
        d.mergedInto = Rebase(s.mergedInto, srcObjects, nObjects, dstObjects);
    }
    segmentCount = other.segmentCount;
    // Every slot is copied, not only those below the count: object lists
    // built in place may link any of them.
    for (std::size_t i = 0; i < static_cast<std::size_t>(MaxSegments); ++i) {
        const LineSegment& s = other.segments[i];
        LineSegment& d = segments[i];
        d = s;
        d.next = Rebase(s.next, srcSegments, MaxSegments, dstSegments);
        d.owner = Rebase(s.owner, srcObjects, nObjects, dstObjects);
    }
    pointerTable.clear();
    for (CameraObject* p : other.pointerTable)
        pointerTable.push_back(Rebase(p, srcObjects, nObjects, dstObjects));
    mergePairCount = other.mergePairCount;
    for (std::size_t i = 0; i < mergePairs.size(); ++i) {
        mergePairs[i].first = Rebase(other.mergePairs[i].first, srcObjects, nObjects, dstObjects);
        mergePairs[i].second = Rebase(other.mergePairs[i].second, srcObjects, nObjects, dstObjects);
    }
    frameId = other.frameId;
    switchState = other.switchState;
    maskOut = other.maskOut;
    imagePresent = other.imagePresent;
    weighted = other.weighted;
    corrupt = other.corrupt;
    camera = other.camera;
    image.assign(other.image.begin(), other.image.end());
    imageWidth = other.imageWidth;
    imageHeight = other.imageHeight;
    time = other.time;
    sequence = other.sequence;
}

void Frame::Clear()
{
    frameId = -1;
    time = 0.0;
    camera = nullptr;
    segmentCount = 0;
    mergePairCount = 0;
    imagePresent = false;
    weighted = false;
    corrupt = false;
    sequence = 0;
    pointerTable.clear();
}

void Frame::AddSegment(const LineSegment& segment)
{
    if (segmentCount < 0)
        segmentCount = 0;
    if (segmentCount >= MaxSegments)
        return;
    LineSegment& slot = segments[static_cast<std::size_t>(segmentCount++)];
    slot = segment;
    slot.owner = nullptr;
}

void Frame::AddMergePair(CameraObject* a, CameraObject* b)
{
    if (mergePairCount < 0)
        mergePairCount = 0;
    if (mergePairCount >= MaxMergePairs)
        return;
    mergePairs[static_cast<std::size_t>(mergePairCount++)] = {a, b};
}

void Frame::SetObjectCount(int n)
{
    if (n < 0)
        n = 0;
    if (n > objectCapacity) {
        int capacity = objectCapacity;
        while (capacity < n)
            capacity += objectGrowth;
        objects.resize(static_cast<std::size_t>(capacity));
        objectCapacity = capacity;
        if (pointerTable.capacity() < static_cast<std::size_t>(capacity))
            pointerTable.reserve(static_cast<std::size_t>(capacity));
    }
    objectCount = n;
}

bool Frame::IsEmpty() const { return objectCount == 0 && (!imagePresent || maskOut); }

void Frame::SetImageSize(int width, int height)
{
    imageWidth = std::max(width, 0);
    imageHeight = std::max(height, 0);
    image.resize(static_cast<std::size_t>(imageWidth) * static_cast<std::size_t>(imageHeight));
}

void Frame::ResizeImage(std::uint32_t bytes) { image.resize(bytes); }

void Frame::FreeImage()
{
    image.clear();
    imagePresent = false;
}

} // namespace Orvane
