#include "windows/curve_editor_logic.h"

#include <algorithm>

namespace {
constexpr int kLastKnot = kCurveKnotCount - 1;
int ComboIndexOfType(std::int32_t type) { return std::clamp<std::int32_t>(type, 0, kCurveCustom); }
} // namespace

CCurveEditorLogic::CCurveEditorLogic(CProfile& profile, int axis, CCurveWndState& wnd)
    : profile_(profile), axis_(std::clamp(axis, 0, CProfile::kAxisCount - 1)), wnd_(wnd)
{
}

void CCurveEditorLogic::Init()
{
    curveTypeIndex = ComboIndexOfType(Axis().CurveType);
    auto curve = std::make_unique<CCurveObject>();
    curve->Init(u"", 1, 1, kCurveEditorWidth - 1, kCurveEditorHeight - 1);
    for (int i = 0; i < kCurveKnotCount; ++i) {
        const int k = curve->AddKnot(CurveKnotPixelX(i), CurveKnotPixelY(Axis().CurveData[static_cast<std::size_t>(i)]));
        if (CKnot* knot = curve->GetKnot(k)) knot->abscissa = kCurveKnots[static_cast<std::size_t>(i)];
    }
    wnd_.SetCurve(std::move(curve));
    wnd_.SelectKnot(kCurveCentreKnot);
    RefreshKnots(true, true);
}

void CCurveEditorLogic::RefreshKnots(bool readValue, bool selectCentre)
{
    CCurveObject* curve = wnd_.Curve();
    if (curve == nullptr) return;
    for (int i = 0; i < kCurveKnotCount; ++i) {
        if (CKnot* k = curve->GetKnot(i)) {
            k->x = CurveKnotPixelX(i);
            k->y = CurveKnotPixelY(Axis().CurveData[static_cast<std::size_t>(i)]);
        }
    }
    if (selectCentre) {
        wnd_.SelectKnot(kCurveCentreKnot);
        position = 0;
    }
    const int sel = wnd_.GetSelected();
    if (readValue && sel >= 0 && sel < kCurveKnotCount) value = Axis().CurveData[static_cast<std::size_t>(sel)];
}

void CCurveEditorLogic::StoreAtSelected(std::int32_t v)
{
    const int sel = wnd_.GetSelected();
    Axis().CurveData[static_cast<std::size_t>(sel)] = v;
    if (mirror != 0) Axis().CurveData[static_cast<std::size_t>(kLastKnot - sel)] = v;
}

void CCurveEditorLogic::SwitchToCustom()
{
    Axis().SetCurveType(kCurveCustom);
    curveTypeIndex = kCurveCustom;
}

void CCurveEditorLogic::ReadoutsFromSelected()
{
    const CCurveObject* curve = wnd_.Curve();
    const CKnot* k = curve ? curve->GetKnot(wnd_.GetSelected()) : nullptr;
    if (k == nullptr) return;
    position = k->abscissa;
    value = 80 - k->y;
}

void CCurveEditorLogic::OnValueStep(int d)
{
    const int sel = wnd_.GetSelected();
    if (sel < 0 || sel >= kCurveKnotCount) return;
    const std::int64_t v = static_cast<std::int64_t>(Axis().CurveData[static_cast<std::size_t>(sel)]) + d;
    StoreAtSelected(ClampCurveSlope(v));
    SwitchToCustom();
    RefreshKnots(false, false);
}

void CCurveEditorLogic::OnShiftStep(int d)
{
    for (auto& s : Axis().CurveData)
        s = d >= 1 ? std::min(s + 1, kCurveSlopeMax) : std::max(s - 1, kCurveSlopeMin);
    SwitchToCustom();
    RefreshKnots(true, false);
}

void CCurveEditorLogic::OnPositionStep(int d)
{
    const int sel = wnd_.GetSelected();
    const int next = d <= 0 ? std::max(sel - 1, 0) : std::min(sel + 1, kLastKnot);
    wnd_.SelectKnot(next);
    const std::int32_t x = kCurveKnots[static_cast<std::size_t>(next)];
    position = d <= 0 ? x + 1 : x - 1; // the up-down's own step lands on x
    RefreshKnots(true, false);
}

void CCurveEditorLogic::OnArrowUpDown()
{
    const CCurveObject* curve = wnd_.Curve();
    const int sel = wnd_.GetSelected();
    const CKnot* k = curve ? curve->GetKnot(sel) : nullptr;
    if (k == nullptr || sel >= kCurveKnotCount) return;
    const std::int32_t v = ClampCurveSlope(80 - k->y);
    const bool differs = v != Axis().CurveData[static_cast<std::size_t>(sel)];
    StoreAtSelected(v);
    if (differs) SwitchToCustom();
    if (mirror != 0) RefreshKnots(true, false);
    value = v;
}

void CCurveEditorLogic::OnKnotMoved()
{
    const CCurveObject* curve = wnd_.Curve();
    const int sel = wnd_.GetSelected();
    const CKnot* k = curve ? curve->GetKnot(sel) : nullptr;
    if (k == nullptr || sel >= kCurveKnotCount) return;
    const std::int32_t v = 80 - k->y;
    if (v < 1 || mouseDownInCurve == 0) return;
    position = k->abscissa;
    value = ClampCurveSlope(v);
    const bool differs = value != Axis().CurveData[static_cast<std::size_t>(sel)];
    StoreAtSelected(value);
    if (differs) SwitchToCustom();
    if (mirror != 0) RefreshKnots(true, false);
}

void CCurveEditorLogic::OnCurveTypeChanged(std::int32_t type)
{
    Axis().SetCurveType(type);
    curveTypeIndex = ComboIndexOfType(type);
    RefreshKnots(true, false);
}

void CCurveEditorLogic::OnAxisChanged(int axis)
{
    if (axis < 0 || axis >= CProfile::kAxisCount) return;
    axis_ = axis;
    curveTypeIndex = ComboIndexOfType(Axis().CurveType);
    RefreshKnots(true, false);
}

void CCurveEditorLogic::OnLButtonDown(bool insideCurve)
{
    if (insideCurve) mouseDownInCurve = 1;
}

void CCurveEditorLogic::OnLButtonUp()
{
    if (mouseDownInCurve == 0) return;
    mouseDownInCurve = 0;
    ReadoutsFromSelected();
}

void CCurveEditorLogic::CopyAxisCurve(int from, int to)
{
    if (from < 0 || from >= CProfile::kAxisCount || to < 0 || to >= CProfile::kAxisCount) return;
    auto& src = profile_.Axes[static_cast<std::size_t>(from)];
    auto& dst = profile_.Axes[static_cast<std::size_t>(to)];
    dst.CurveData = src.CurveData;
    dst.CurveType = src.CurveType;
    dst.BuildCurve();
}

void CCurveEditorLogic::Copy(std::int32_t target)
{
    int first = 0, last = -1;
    switch (target) {
    case kCopyAll: first = 0; last = 5; break;
    case kCopyAllRotation: first = 0; last = 2; break;
    case kCopyAllTranslation: first = 3; last = 5; break;
    default:
        if (target >= 0 && target < CProfile::kAxisCount) CopyAxisCurve(axis_, target);
        return;
    }
    for (int a = first; a <= last; ++a)
        if (a != axis_) CopyAxisCurve(axis_, a);
}
