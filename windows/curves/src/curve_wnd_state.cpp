#include "windows/curve_wnd_state.h"

void CCurveWndState::SetCurve(std::unique_ptr<CCurveObject> curve)
{
    if (curve.get() == curve_.get()) {
        (void)curve.release(); // the same curve: already ours
        return;
    }
    selected_ = -1;
    curve_ = std::move(curve);
}

void CCurveWndState::SelectKnot(int i)
{
    if (curve_) {
        if (CKnot* old = curve_->GetKnot(selected_)) old->unselected = 1;
        if (CKnot* k = curve_->GetKnot(i)) k->unselected = 0;
    }
    selected_ = i;
}

CurveCursor CCurveWndState::OnSetCursor(std::int32_t x, std::int32_t y)
{
    // While dragging the mouse is captured: the hit record keeps the dragged knot.
    if (dragging_) return CurveCursor::Dragging;
    if (curve_) {
        curve_->HitTest(x, y, hit_);
    } else {
        hit_ = CCurveHitRecord{};
        hit_.point = {x, y};
    }
    switch (hit_.code) {
    case kCurveHitCurve: return CurveCursor::OverCurve;
    case kCurveHitKnot: return CurveCursor::OverKnot;
    default: return CurveCursor::Default;
    }
}

bool CCurveWndState::OnLButtonDown()
{
    if (dragging_) return false;
    switch (hit_.code) {
    case kCurveHitKnot:
        dragging_ = true;
        SelectKnot(hit_.knot);
        return true;
    case kCurveHitCurve:
        return false;
    default:
        SelectKnot(-1);
        return false;
    }
}

std::optional<int> CCurveWndState::OnMouseMove(std::int32_t, std::int32_t y, bool captureLost)
{
    if (captureLost) dragging_ = false;
    if (!dragging_ || !curve_) return std::nullopt;
    const CKnot* k = curve_->GetKnot(hit_.knot);
    if (k == nullptr) return std::nullopt;
    if (curve_->MoveKnot(k->x, y, hit_.knot)) return hit_.knot;
    return std::nullopt;
}

bool CCurveWndState::OnKeyDown(CurveKey key, bool hasFocus)
{
    if (!curve_ || selected_ < 0 || !hasFocus) return false;
    const CKnot* k = curve_->GetKnot(selected_);
    switch (key) {
    case CurveKey::Left:
        if (selected_ > 0) SelectKnot(selected_ - 1);
        return true;
    case CurveKey::Right:
        if (selected_ < curve_->LastIndex()) SelectKnot(selected_ + 1);
        return true;
    case CurveKey::Up:
        if (k) curve_->MoveKnot(k->x, k->y - 1, selected_);
        return true;
    case CurveKey::Down:
        if (k) curve_->MoveKnot(k->x, k->y + 1, selected_);
        return true;
    case CurveKey::Other:
        return false;
    }
    return false;
}
