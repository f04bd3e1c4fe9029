#include "camera/camera_object.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace Orvane {

ObjectGeometry::~ObjectGeometry() = default;

double ObjectGeometry::GetCenterMassX()
{
    if (centerXCache < 0.0)
        centerXCache = static_cast<double>(xTotal) / static_cast<double>(area);
    return centerXCache;
}

double ObjectGeometry::GetCenterMassY()
{
    if (centerYCache < 0.0)
        centerYCache = static_cast<double>(yTotal) / static_cast<double>(area);
    return centerYCache;
}

double ObjectGeometry::GetRadius() const { return std::sqrt(static_cast<double>(area) / std::numbers::pi); }

void ObjectGeometry::UpdateGeometryWithScanLine(const LineSegment& segment)
{
    const float w = segment.width;
    yTotal += w * static_cast<float>(segment.line);
    xTotal += w * (segment.start + segment.stop) / 2.0f;
    area += w;
    topLine = topLine < 0 ? segment.line : std::min(topLine, segment.line);
    leftEdge = leftEdge < 0.0f ? segment.start : std::min(leftEdge, segment.start);
    rightEdge = std::max(rightEdge, segment.stop);
    bottomLine = segment.line;
}

void ObjectGeometry::ClearGeometry() { *this = ObjectGeometry(); }

CameraObject::CameraObject(const CameraObject& other)
    : ObjectGeometry(other),
      score(other.score),
      rank(other.rank),
      tracked(other.tracked),
      staticCount(other.staticCount),
      segmentHead(other.segmentHead),
      segmentTail(other.segmentTail)
{
}

CameraObject& CameraObject::operator=(const CameraObject& other)
{
    if (this == &other)
        return *this;
    ObjectGeometry::operator=(other);
    score = other.score;
    rank = other.rank;
    staticCount = other.staticCount;
    segmentHead = other.segmentHead;
    segmentTail = other.segmentTail;
    return *this;
}

CameraObject::~CameraObject() = default;

void CameraObject::Clear()
{
    ClearGeometry();
    score = 0.0;
    rank = 0;
    staticCount = 0;
    segmentHead = nullptr;
    segmentTail = nullptr;
    mergedInto = nullptr;
    partial = false;
    aggregated = false;
}

LineSegment* CameraObject::GetLineSegment(int n) const
{
    if (n < 0)
        return nullptr;
    LineSegment* s = segmentHead;
    for (int i = 0; s != nullptr && i < n; ++i)
        s = s->next;
    return s;
}

void CameraObject::ClearSegmentList()
{
    segmentHead = nullptr;
    segmentTail = nullptr;
}

void CameraObject::AddScanLine(LineSegment* segment)
{
    if (segment == nullptr)
        return;
    segment->owner = this;
    segment->next = nullptr;
    if (segmentTail != nullptr)
        segmentTail->next = segment;
    else
        segmentHead = segment;
    segmentTail = segment;
}

} // namespace Orvane
