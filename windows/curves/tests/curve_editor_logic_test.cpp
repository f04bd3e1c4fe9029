#include <gtest/gtest.h>

#include "windows/curve_editor_logic.h"

namespace {

struct Editor {
    explicit Editor(int axis = 0) : logic(profile, axis, wnd) { logic.Init(); }
    CProfile profile;
    CCurveWndState wnd;
    CCurveEditorLogic logic;

    const CProfileAxis& Axis(int a) const { return profile.Axes[static_cast<std::size_t>(a)]; }
    void ExpectConsistent(int a) const
    {
        const auto& ax = Axis(a);
        EXPECT_EQ(ax.CurveTable.Values(), BuildCurveValues(ax.CurveData)) << a;
        for (auto s : ax.CurveData) {
            EXPECT_GE(s, kCurveSlopeMin);
            EXPECT_LE(s, kCurveSlopeMax);
        }
    }
};

TEST(CurveWndState, ClickDragAndKeys)
{
    CCurveWndState w;
    EXPECT_EQ(w.OnSetCursor(5, 5), CurveCursor::Default); // no curve
    auto curve = std::make_unique<CCurveObject>();
    curve->Init(u"", 1, 1, 419, 80);
    curve->AddKnot(10, 40);
    curve->AddKnot(100, 40);
    curve->AddKnot(200, 40);
    w.SetCurve(std::move(curve));
    EXPECT_EQ(w.GetSelected(), -1);

    // Before any hit test a click counts as a click on nothing.
    w.SelectKnot(1);
    EXPECT_FALSE(w.OnLButtonDown());
    EXPECT_EQ(w.GetSelected(), -1);

    EXPECT_EQ(w.OnSetCursor(101, 41), CurveCursor::OverKnot);
    EXPECT_TRUE(w.OnLButtonDown());
    EXPECT_TRUE(w.Dragging());
    EXPECT_EQ(w.GetSelected(), 1);
    EXPECT_EQ(w.Curve()->GetKnot(1)->unselected, 0);
    // A drag step moves y only and reports the knot; the hit record stays on it.
    EXPECT_EQ(w.OnMouseMove(150, 20), std::optional<int>(1));
    EXPECT_EQ(w.OnSetCursor(10, 40), CurveCursor::Dragging);
    EXPECT_EQ(w.OnMouseMove(10, 25), std::optional<int>(1));
    EXPECT_EQ(w.Curve()->GetKnot(1)->x, 100);
    EXPECT_EQ(w.Curve()->GetKnot(1)->y, 25);
    EXPECT_EQ(w.Curve()->GetKnot(0)->y, 40);
    EXPECT_EQ(w.OnMouseMove(10, 25), std::nullopt); // unchanged: no message
    EXPECT_EQ(w.OnMouseMove(10, 30, true), std::nullopt); // capture lost
    EXPECT_FALSE(w.Dragging());

    EXPECT_EQ(w.OnSetCursor(150, 32), CurveCursor::OverCurve);
    EXPECT_FALSE(w.OnLButtonDown()); // on the curve: nothing
    EXPECT_EQ(w.GetSelected(), 1);
    EXPECT_EQ(w.OnSetCursor(150, 70), CurveCursor::Default);
    EXPECT_FALSE(w.OnLButtonDown());
    EXPECT_EQ(w.GetSelected(), -1);
    EXPECT_EQ(w.Curve()->GetKnot(1)->unselected, 1);

    EXPECT_FALSE(w.OnKeyDown(CurveKey::Right, true)); // nothing selected
    w.SelectKnot(2);
    EXPECT_FALSE(w.OnKeyDown(CurveKey::Right, false)); // no focus
    EXPECT_TRUE(w.OnKeyDown(CurveKey::Right, true));
    EXPECT_EQ(w.GetSelected(), 2); // the last stays selected
    EXPECT_TRUE(w.OnKeyDown(CurveKey::Up, true));
    EXPECT_EQ(w.Curve()->GetKnot(2)->y, 39);
    EXPECT_TRUE(w.OnKeyDown(CurveKey::Down, true));
    EXPECT_TRUE(w.OnKeyDown(CurveKey::Down, true));
    EXPECT_EQ(w.Curve()->GetKnot(2)->y, 41);
    w.SelectKnot(0);
    EXPECT_TRUE(w.OnKeyDown(CurveKey::Left, true));
    EXPECT_EQ(w.GetSelected(), 0);
    EXPECT_TRUE(w.OnKeyDown(CurveKey::Right, true));
    EXPECT_EQ(w.GetSelected(), 1);
    EXPECT_EQ(w.Curve()->GetKnot(0)->unselected, 1);
}

TEST(CurveEditorLogic, InitPlacesTheKnotsAndSelectsTheCentre)
{
    Editor e(1);
    const auto* c = e.wnd.Curve();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Rect(), (CCurveRect{1, 1, 419, 80}));
    ASSERT_EQ(c->Count(), kCurveKnotCount);
    for (int i = 0; i < kCurveKnotCount; ++i) {
        EXPECT_EQ(c->GetKnot(i)->x, kCurveKnots[static_cast<std::size_t>(i)] * 4 + 210);
        EXPECT_EQ(c->GetKnot(i)->y, 80 - e.Axis(1).CurveData[static_cast<std::size_t>(i)]);
        EXPECT_EQ(c->GetKnot(i)->abscissa, kCurveKnots[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(e.wnd.GetSelected(), 7);
    EXPECT_EQ(e.logic.position, 0);
    EXPECT_EQ(e.logic.value, e.Axis(1).CurveData[7]);
    EXPECT_EQ(e.logic.curveTypeIndex, kCurveSmooth);
}

TEST(CurveEditorLogic, ValueStepsMirrorAndStayInRange)
{
    struct Case {
        int start;
        int d;
        int expect;
        int mirror;
    };
    const Case cases[] = {{20, 5, 25, 1}, {78, 5, 80, 1}, {3, -5, 0, 1}, {20, 1, 21, 0}};
    for (const auto& c : cases) {
        Editor e;
        e.logic.mirror = c.mirror;
        e.profile.Axes[0].CurveData.fill(c.start);
        e.profile.Axes[0].CurveData[11] = 7;
        e.profile.Axes[0].BuildCurve();
        e.wnd.SelectKnot(3);
        e.logic.OnValueStep(c.d);
        EXPECT_EQ(e.Axis(0).CurveData[3], c.expect);
        EXPECT_EQ(e.Axis(0).CurveData[11], c.mirror ? c.expect : 7);
        EXPECT_EQ(e.Axis(0).CurveType, kCurveCustom);
        EXPECT_EQ(e.logic.curveTypeIndex, kCurveCustom);
        e.ExpectConsistent(0);
        EXPECT_EQ(e.wnd.Curve()->GetKnot(3)->y, 80 - c.expect);
    }
    Editor none;
    const auto before = none.Axis(0);
    none.wnd.SelectKnot(-1);
    none.logic.OnValueStep(3);
    EXPECT_EQ(none.Axis(0), before);
}

TEST(CurveEditorLogic, ShiftMovesEverySlopeByOneWithinRange)
{
    Editor e;
    auto& ax = e.profile.Axes[0];
    ax.CurveData = {0, 80, 40, 79, 1, 0, 0, 0, 0, 0, 0, 0, 0, 80, 80};
    ax.BuildCurve();
    const auto start = ax.CurveData;
    e.logic.OnShiftStep(10);
    for (int i = 0; i < kCurveKnotCount; ++i)
        EXPECT_EQ(ax.CurveData[static_cast<std::size_t>(i)], std::min(start[static_cast<std::size_t>(i)] + 1, 80));
    e.ExpectConsistent(0);
    e.logic.OnShiftStep(0);
    e.logic.OnShiftStep(-3);
    for (int i = 0; i < kCurveKnotCount; ++i)
        EXPECT_EQ(ax.CurveData[static_cast<std::size_t>(i)],
                  std::max(std::min(start[static_cast<std::size_t>(i)] + 1, 80) - 2, 0));
    EXPECT_EQ(e.logic.curveTypeIndex, kCurveCustom);
    EXPECT_EQ(e.logic.value, ax.CurveData[7]);
    e.ExpectConsistent(0);
}

TEST(CurveEditorLogic, PositionStepsWalkTheKnots)
{
    Editor e;
    e.wnd.SelectKnot(0);
    e.logic.OnPositionStep(-1);
    EXPECT_EQ(e.wnd.GetSelected(), 0);
    EXPECT_EQ(e.logic.position, -49); // the control's own step lands on -50
    e.logic.OnPositionStep(1);
    EXPECT_EQ(e.wnd.GetSelected(), 1);
    EXPECT_EQ(e.logic.position, -41);
    e.wnd.SelectKnot(14);
    e.logic.OnPositionStep(1);
    EXPECT_EQ(e.wnd.GetSelected(), 14);
    for (int d : {-1, 1}) {
        e.wnd.SelectKnot(-1);
        e.logic.OnPositionStep(d);
        EXPECT_EQ(e.wnd.GetSelected(), 0);
        EXPECT_EQ(e.logic.value, e.Axis(0).CurveData[0]);
    }
}

TEST(CurveEditorLogic, DragStepsStoreOnlyFromInsideAndAboveTheBottomRow)
{
    Editor e;
    auto& ax = e.profile.Axes[0];
    e.wnd.SelectKnot(2);
    CKnot* k = e.wnd.Curve()->GetKnot(2);
    const auto before = ax;

    k->y = 30; // v 50 but the press did not start in the curve
    e.logic.OnKnotMoved();
    EXPECT_EQ(ax, before);

    e.logic.OnLButtonDown(true);
    k->y = 80; // bottom row: v 0
    e.logic.OnKnotMoved();
    EXPECT_EQ(ax, before);

    k->y = 30;
    e.logic.OnKnotMoved();
    EXPECT_EQ(ax.CurveData[2], 50);
    EXPECT_EQ(ax.CurveData[12], 50);
    EXPECT_EQ(e.wnd.Curve()->GetKnot(12)->y, 30);
    EXPECT_EQ(e.logic.position, -30);
    EXPECT_EQ(e.logic.value, 50);
    EXPECT_EQ(ax.CurveType, kCurveCustom);
    e.ExpectConsistent(0);

    e.logic.OnLButtonUp();
    EXPECT_EQ(e.logic.mouseDownInCurve, 0);

    e.wnd.SelectKnot(-1);
    e.logic.OnLButtonDown(true);
    e.logic.OnKnotMoved(); // nothing selected: nothing
    EXPECT_EQ(ax.CurveData[2], 50);
}

TEST(CurveEditorLogic, ArrowEditStoresTheMovedKnot)
{
    Editor e;
    auto& ax = e.profile.Axes[0];
    e.wnd.SelectKnot(4);
    const auto s = ax.CurveData[4];
    ASSERT_TRUE(e.wnd.OnKeyDown(CurveKey::Up, true));
    e.logic.OnArrowUpDown();
    EXPECT_EQ(ax.CurveData[4], s + 1);
    EXPECT_EQ(ax.CurveData[10], s + 1);
    EXPECT_EQ(e.logic.value, s + 1);
    EXPECT_EQ(ax.CurveType, kCurveCustom);
    e.ExpectConsistent(0);
    ASSERT_TRUE(e.wnd.OnKeyDown(CurveKey::Right, true));
    e.logic.OnArrowLeftRight();
    EXPECT_EQ(e.logic.position, -5);
    EXPECT_EQ(e.logic.value, ax.CurveData[5]);
}

TEST(CurveEditorLogic, CurveTypeAndAxisChanges)
{
    Editor e;
    e.wnd.SelectKnot(3);
    e.logic.OnCurveTypeChanged(kCurveLinear);
    EXPECT_EQ(e.Axis(0).CurveData, *CurvePreset(kCurveLinear));
    EXPECT_EQ(e.logic.curveTypeIndex, kCurveLinear);
    EXPECT_EQ(e.wnd.Curve()->GetKnot(3)->y, 80 - (*CurvePreset(kCurveLinear))[3]);
    EXPECT_EQ(e.logic.value, (*CurvePreset(kCurveLinear))[3]);
    e.ExpectConsistent(0);

    e.profile.Axes[4].SetCurveType(kCurveDeadZone);
    e.logic.OnAxisChanged(4);
    EXPECT_EQ(e.logic.AxisIndex(), 4);
    EXPECT_EQ(e.logic.curveTypeIndex, kCurveDeadZone);
    EXPECT_EQ(e.wnd.GetSelected(), 3);
    EXPECT_EQ(e.wnd.Curve()->GetKnot(3)->y, 80 - e.Axis(4).CurveData[3]);
}

TEST(CurveEditorLogic, CopyTargets)
{
    struct Case {
        int source;
        std::int32_t target;
        std::array<bool, 6> changed;
    };
    const Case cases[] = {
        {1, kCopyAllRotation, {true, false, true, false, false, false}},
        {1, kCopyAllTranslation, {false, false, false, true, true, true}},
        {4, kCopyAll, {true, true, true, true, false, true}},
        {2, 5, {false, false, false, false, false, true}},
        {2, 2, {false, false, false, false, false, false}},
    };
    for (const auto& c : cases) {
        Editor e(c.source);
        e.profile.Axes[static_cast<std::size_t>(c.source)].CurveData.fill(33);
        e.profile.Axes[static_cast<std::size_t>(c.source)].SetCurveType(kCurveCustom);
        const CProfile before = e.profile;
        e.logic.Copy(c.target);
        for (int a = 0; a < 6; ++a) {
            const auto& ax = e.Axis(a);
            if (c.changed[static_cast<std::size_t>(a)] || a == c.source) {
                EXPECT_EQ(ax.CurveData, e.Axis(c.source).CurveData) << c.target << " " << a;
                EXPECT_EQ(ax.CurveType, kCurveCustom);
            } else {
                EXPECT_EQ(ax, before.Axes[static_cast<std::size_t>(a)]) << c.target << " " << a;
            }
            e.ExpectConsistent(a);
        }
    }
}

} // namespace
