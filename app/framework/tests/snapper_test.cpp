// Windows stick to the work area's edges and to each other.
#include <gtest/gtest.h>

#include "app/snapper.h"

namespace {

using namespace app;

const Rect kWork{0, 0, 1280, 984};
const Rect kOther{500, 100, 800, 400};

struct FakeWindow : SnapWindow {
    Rect rect;
    bool visible = true;
    explicit FakeWindow(Rect r) : rect(r) {}
    Rect SnapRect() const override { return rect; }
    bool SnapVisible() const override { return visible; }
};

struct Case {
    const char* name;
    Rect current;
    Rect proposed;
    Rect expected;
};

TEST(SnapRect, Table)
{
    const Case cases[] = {
        {"moved to within 5 px of the other's right edge, overlapping: flush, size kept",
         {100, 500, 300, 650}, {805, 150, 1005, 300}, {800, 150, 1000, 300}},
        {"the same distance without overlap along that edge: free",
         {100, 500, 300, 650}, {805, 450, 1005, 600}, {805, 450, 1005, 600}},
        {"exactly 10 px: still snaps", {100, 500, 300, 650}, {810, 150, 1010, 300}, {800, 150, 1000, 300}},
        {"11 px: free", {100, 500, 300, 650}, {811, 150, 1011, 300}, {811, 150, 1011, 300}},
        {"right edge to within 5 px of the other's left edge",
         {100, 500, 300, 650}, {295, 150, 495, 300}, {300, 150, 500, 300}},
        {"top edge onto the other's bottom edge", {0, 0, 0, 0}, {600, 405, 700, 500}, {600, 400, 700, 495}},
        {"work area: left edge at x = 0", {100, 300, 300, 450}, {-7, 300, 193, 450}, {0, 300, 200, 450}},
        {"work area: bottom edge", {400, 700, 600, 850}, {400, 830, 600, 980}, {400, 834, 600, 984}},
        {"work area: right edge", {400, 300, 600, 450}, {1088, 300, 1288, 450}, {1080, 300, 1280, 450}},
        {"sizing moves only the moving edge, without an overlap test",
         {100, 500, 300, 650}, {100, 500, 495, 650}, {100, 500, 500, 650}},
        {"sizing a left edge past the other's right edge", {900, 500, 1100, 650}, {795, 500, 1100, 650},
         {800, 500, 1100, 650}},
    };
    std::vector<SnapLine> vertical{{0, kWork.top, kWork.bottom}, {kWork.right, kWork.top, kWork.bottom},
                                   {kOther.left, kOther.top, kOther.bottom},
                                   {kOther.right, kOther.top, kOther.bottom}};
    std::vector<SnapLine> horizontal{{0, kWork.left, kWork.right}, {kWork.bottom, kWork.left, kWork.right},
                                     {kOther.top, kOther.left, kOther.right},
                                     {kOther.bottom, kOther.left, kOther.right}};
    for (const Case& c : cases) {
        Rect current = c.current;
        if (current == Rect{})
            current = {c.proposed.left, c.proposed.top + 300, c.proposed.right, c.proposed.bottom + 300};
        const Rect got = SnapRect(current, c.proposed, vertical, horizontal, kFrameSnapDistance);
        EXPECT_EQ(got, c.expected) << c.name << ": got " << got.left << "," << got.top << "," << got.right
                                   << "," << got.bottom;
    }
}

TEST(SnapRect, OverlapCountsFromOnePixelInsideTheExtent)
{
    // The other window spans y 100..400; the test window's top must lie in
    // 101..401 (or its bottom) for its left edge to take the line.
    const std::vector<SnapLine> vertical{{800, 100, 400}};
    const std::vector<SnapLine> none;
    const Rect cur{0, 0, 200, 100};
    EXPECT_EQ(SnapRect(cur, {805, 401, 1005, 501}, vertical, none, 10).left, 800);
    EXPECT_EQ(SnapRect(cur, {805, 402, 1005, 502}, vertical, none, 10).left, 805);
    EXPECT_EQ(SnapRect(cur, {805, 0, 1005, 101}, vertical, none, 10).left, 800);
    EXPECT_EQ(SnapRect(cur, {805, 0, 1005, 100}, vertical, none, 10).left, 805);
}

class SnapperFlow : public ::testing::Test {
protected:
    Point cursor_{50, 50};
    CSnapper snapper_{kFrameSnapDistance, [] { return kWork; }, [this] { return cursor_; }};
    FakeWindow moving_{{100, 500, 300, 650}};
    FakeWindow other_{kOther};

    void SetUp() override
    {
        snapper_.AddWindow(&moving_);
        snapper_.AddWindow(&other_);
    }

    Rect drag(Point to)
    {
        cursor_ = to;
        Rect proposed = moving_.rect; // the size is what counts
        snapper_.OnMessage(&moving_, WM_MOVING, 0, reinterpret_cast<platform::LPARAM>(&proposed));
        moving_.rect = proposed;
        return proposed;
    }
};

TEST_F(SnapperFlow, ADragFollowsTheCursorFromWhereItBegan)
{
    snapper_.OnMessage(&moving_, WM_ENTERSIZEMOVE, 0, 0);
    EXPECT_EQ(drag({755, -300}), (Rect{800, 150, 1000, 300})); // 5 px off: flush
    EXPECT_EQ(drag({757, -300}), (Rect{800, 150, 1000, 300})); // held at the line
    EXPECT_EQ(drag({762, -300}), (Rect{812, 150, 1012, 300})); // far enough: free
    snapper_.OnMessage(&moving_, WM_EXITSIZEMOVE, 0, 0);
}

TEST_F(SnapperFlow, HiddenAndRemovedWindowsOfferNoEdges)
{
    std::vector<SnapLine> v;
    std::vector<SnapLine> h;
    snapper_.Lines(&moving_, v, h);
    EXPECT_EQ(v.size(), 4u);
    EXPECT_EQ(h.size(), 4u);

    other_.visible = false;
    snapper_.OnMessage(&moving_, WM_ENTERSIZEMOVE, 0, 0);
    EXPECT_EQ(drag({755, -300}), (Rect{805, 150, 1005, 300}));
    other_.visible = true;
    snapper_.RemoveWindow(&other_);
    snapper_.Lines(&moving_, v, h);
    EXPECT_EQ(v.size(), 2u);
    snapper_.AddWindow(&other_);
    snapper_.AddWindow(&other_); // once only
    EXPECT_EQ(snapper_.Windows().size(), 2u);
}

TEST_F(SnapperFlow, SizingSnapsTheProposedRectangleUnchangedOtherwise)
{
    Rect proposed{100, 500, 495, 650};
    EXPECT_EQ(snapper_.OnMessage(&moving_, WM_SIZING, 2, reinterpret_cast<platform::LPARAM>(&proposed)), 0);
    EXPECT_EQ(proposed, (Rect{100, 500, 500, 650}));
    // Messages without a rectangle, and other messages, change nothing.
    EXPECT_EQ(snapper_.OnMessage(&moving_, WM_SIZING, 2, 0), 0);
    EXPECT_EQ(snapper_.OnMessage(&moving_, 0x0005, 0, 0), 0);
}

} // namespace
