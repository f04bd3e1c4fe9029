#pragma once
// A blob: its geometry accumulated from scan-line segments, its score and
// rank from the scorer, and its list of segments.
#include "camera/line_segment.h"

#include <cstdint>

namespace Orvane {

class ObjectGeometry {
public:
    ObjectGeometry() = default;
    ObjectGeometry(const ObjectGeometry&) = default;
    ObjectGeometry& operator=(const ObjectGeometry&) = default;
    virtual ~ObjectGeometry();

    // Centre of mass, cached once computed; a negative cache is recomputed.
    // A fresh geometry has area 0 and gives NaN.
    double GetCenterMassX();
    double GetCenterMassY();
    double GetX() { return GetCenterMassX(); }
    double GetY() { return GetCenterMassY(); }

    float GetArea() const { return area; }
    float GetLeftEdge() const { return leftEdge; }
    float GetRightEdge() const { return rightEdge; }
    std::int32_t GetTopEdge() const { return topLine; }
    std::int32_t GetBottomEdge() const { return bottomLine; }
    float GetWeightedXTotal() const { return xTotal; }
    float GetWeightedYTotal() const { return yTotal; }
    float GetWidth() const { return rightEdge - leftEdge; }
    unsigned GetHeight() const { return static_cast<unsigned>(bottomLine - topLine); }
    double GetRadius() const;

    // Adds one segment; the bottom line and right edge get their +1 only
    // when the object is processed.
    void UpdateGeometryWithScanLine(const LineSegment& segment);

    // Back to the initial values.
    void ClearGeometry();

    float area = 0.0f;         // sum of widths (or weights)
    float yTotal = 0.0f;       // sum of line x width (or weighted y)
    float xTotal = 0.0f;       // sum of mid-point x width (or weighted x)
    float leftEdge = -1.0f;    // smallest start pixel; -1 = none yet
    float rightEdge = 0.0f;    // largest stop pixel
    std::int32_t topLine = -1; // smallest line; -1 = none yet
    std::int32_t bottomLine = 0;
    double centerXCache = -1.0;
    double centerYCache = -1.0;
};

class CameraObject : public ObjectGeometry {
public:
    CameraObject() = default;
    // Copies geometry, score, rank, tracked flag, static count and segment
    // list; the building state (merged-into, partial, aggregated) starts clear.
    CameraObject(const CameraObject& other);
    // Copies geometry, score, rank, static count and segment list; the
    // tracked flag and the building state stay as they were.
    CameraObject& operator=(const CameraObject& other);
    ~CameraObject() override;

    // Back to the initial values, except the tracked flag.
    void Clear();

    bool IsEmpty() const { return segmentHead == nullptr; }
    LineSegment* GetSegmentHead() const { return segmentHead; }
    LineSegment* GetSegmentTail() const { return segmentTail; }
    // The segment n links after the head; null when the list is shorter.
    LineSegment* GetLineSegment(int n) const;
    void ClearSegmentList();
    // Takes the segment into this object and appends it to the list.
    void AddScanLine(LineSegment* segment);

    double GetScore() const { return score; }
    void SetScore(double value) { score = value; }
    std::int32_t GetRank() const { return rank; }
    void SetRank(std::int32_t value) { rank = value; }
    bool IsTracked() const { return tracked; }
    void SetIsTracked(bool value) { tracked = value; }
    std::int32_t GetStaticCount() const { return staticCount; }
    void SetStaticCount(std::int32_t value) { staticCount = value; }
    void IncrementStaticCount() { ++staticCount; }
    void DecrementStaticCount()
    {
        if (staticCount > 0)
            --staticCount;
    }
    bool IsPartial() const { return partial; }
    void SetPartial(bool value) { partial = value; }
    bool IsAggregated() const { return aggregated; }
    void SetAggregated(bool value) { aggregated = value; }
    CameraObject* GetMergedInto() const { return mergedInto; }
    void SetMergedInto(CameraObject* object) { mergedInto = object; }

    double score = 0.0;
    std::int32_t rank = 0;       // 1-based among scored objects; 0 = unranked
    bool tracked = false;        // kept for callers; the library never sets it
    std::int32_t staticCount = 0;
    LineSegment* segmentHead = nullptr;
    LineSegment* segmentTail = nullptr;
    CameraObject* mergedInto = nullptr;  // object that absorbed this one
    bool partial = false;                // absorbed; skipped when objects are copied out
    bool aggregated = false;             // never absorbed
};

} // namespace Orvane
