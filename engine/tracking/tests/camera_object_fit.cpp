// The identification templates on the camera library's own objects.
#include <gtest/gtest.h>

#include <vector>

#include "camera/camera_object.h"
#include "engine/blob_identification.h"

namespace {

Orvane::CameraObject Object(float area, double x, double y, float width, int height)
{
    Orvane::CameraObject o;
    o.area = area;
    o.xTotal = float(x * area);
    o.yTotal = float(y * area);
    o.leftEdge = float(x) - width / 2;
    o.rightEdge = float(x) + width / 2;
    o.topLine = int(y) - height / 2;
    o.bottomLine = o.topLine + height;
    return o;
}

} // namespace

TEST(CameraObjectFit, FilterCheckAndIdentify)
{
    std::vector<Orvane::CameraObject> objects;
    objects.push_back(Object(100, 300, 200, 10, 10));
    objects.push_back(Object(120, 400, 220, 10, 10));
    objects.push_back(Object(90, 350, 300, 4, 16)); // too tall: dropped
    objects.push_back(Object(110, 200, 210, 10, 10));
    std::vector<Orvane::CameraObject*> table;
    for (auto& o : objects) table.push_back(&o);
    FilterObjects<Orvane::CameraObject>(table, 8, 0);
    EXPECT_EQ(objects[2].GetArea(), 0.0f);
    EXPECT_EQ(table[0]->GetArea(), 120.0f);
    ASSERT_TRUE(CheckAreas<Orvane::CameraObject>(std::span<Orvane::CameraObject* const>(table)));
    CThreePointPose solver;
    solver.SetModel(CHeadsetModel::ForLocation(3)); // by x: P1 smallest, P0 middle, P2 largest
    std::array<ImagePoint, 3> p{};
    IdentifyPoints<Orvane::CameraObject>(std::span<Orvane::CameraObject* const>(table), 0, 320, 240, solver, p);
    // Oriented x is -(x - 320): 400 -> -80, 300 -> 20, 200 -> 120.
    EXPECT_NEAR(p[0].x, 20, 1e-4);
    EXPECT_NEAR(p[1].x, -80, 1e-4);
    EXPECT_NEAR(p[2].x, 120, 1e-4);
    EXPECT_NEAR(p[1].y, -20, 1e-3);
}
