#pragma once
// Blob filtering and three-point identification. The functions work on the
// frame's table of object pointers; an object type provides GetArea(),
// GetWidth() (float), GetHeight() (unsigned), GetX() and GetY() (double
// centre of mass), and SetArea(float) or a public `area`. A rejected object
// keeps its place with area 0.
#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "engine/three_point_pose.h"

struct BlobAreaWindow {
    float minimum;
    float maximum;
};

// The area window applied with clip location 2. Revision 8 has no window of
// its own; it shares the one of the other 640 x 480 sensors.
inline BlobAreaWindow AreaWindowForRevision(int hardwareRevision)
{
    if (hardwareRevision == 5) return {23.0f, 203.0f};
    return {70.0f, 810.0f};
}

// Tables of this many objects or more keep the frame's own order.
inline constexpr std::size_t kSortLimit = 30;

template <class Object>
void RejectObject(Object& o)
{
    if constexpr (requires { o.SetArea(0.0f); })
        o.SetArea(0.0f);
    else
        o.area = 0.0f;
}

template <class Object>
void FilterObjects(std::span<Object*> table, int hardwareRevision, int location)
{
    const BlobAreaWindow window = AreaWindowForRevision(hardwareRevision);
    for (Object* o : table) {
        const float ratio = static_cast<float>(o->GetHeight()) / o->GetWidth();
        if (ratio > 3.0f) RejectObject(*o);
        if (location == 2) {
            const float area = o->GetArea();
            if (area < window.minimum || area > window.maximum) RejectObject(*o);
        }
    }
    if (table.size() < kSortLimit)
        std::sort(table.begin(), table.end(), [](const Object* a, const Object* b) { return a->GetArea() > b->GetArea(); });
}

// Turns a pixel position into coordinates relative to the image centre and
// the camera's mounting (quarter turns 0-3).
inline ImagePoint OrientPoint(double x, double y, int rotation, double halfWidth, double halfHeight, bool onePoint)
{
    const double dx = x - halfWidth;
    const double dy = onePoint ? halfHeight - y : y - halfHeight;
    switch (rotation & 3) {
    case 1: return onePoint ? ImagePoint{dy, dx} : ImagePoint{-dy, -dx};
    case 2: return {dx, -dy};
    case 3: return onePoint ? ImagePoint{-dy, -dx} : ImagePoint{dy, dx};
    default: return {-dx, dy};
    }
}

// The three largest objects' centres, oriented, labelled P0, P1, P2 by the
// solver's labelling (the clip model's sorting mode, or the solution that
// follows the previous frames). Points without an object are (0, 0).
template <class Object>
void IdentifyPoints(std::span<Object* const> table, int rotation, double halfWidth, double halfHeight,
                    CThreePointPose& solver, std::array<ImagePoint, 3>& labelled)
{
    std::array<ImagePoint, 3> points{};
    const std::size_t n = std::min<std::size_t>(3, table.size());
    for (std::size_t i = 0; i < n; ++i)
        points[i] = OrientPoint(table[i]->GetX(), table[i]->GetY(), rotation, halfWidth, halfHeight, false);
    std::array<int, 3> order{};
    if (n == 3)
        solver.LabelMarkers(order, points, halfHeight);
    else
        solver.OrderMarkers(order, points, halfHeight);
    for (int i = 0; i < 3; ++i) labelled[i] = points[order[i]];
}

// The second and third areas must lie within 65 % of the first. A first
// area of 0 (every blob rejected by the filter) fails too.
template <class Object>
bool CheckAreas(std::span<Object* const> table)
{
    if (table.size() < 3) return false;
    const double a0 = table[0]->GetArea();
    if (!(a0 > 0.0)) return false;
    const double low = a0 - 0.65 * a0, high = a0 + 0.65 * a0;
    for (std::size_t i = 1; i < 3; ++i) {
        const double a = table[i]->GetArea();
        if (!(a >= low && a <= high)) return false;
    }
    return true;
}
