#pragma once
// The curve window's input logic, apart from any toolkit: hit record,
// selection and the drag. The window forwards its mouse and key events here
// and posts the knot-moved message when a drag step asks for it.
#include <cstdint>
#include <memory>
#include <optional>

#include "windows/curve_object.h"

inline constexpr std::uint32_t WM_CURVE_KNOT_MOVED = 0x8000 + 500; // wParam: knot index
inline constexpr int kCurveKnotRadius = 3;

enum class CurveKey { Left, Right, Up, Down, Other };
enum class CurveCursor { Default, OverCurve, Dragging, OverKnot }; // resources -, 129, 130, 131

class CCurveWndState {
public:
    // Takes the curve over; a different curve resets the selection.
    void SetCurve(std::unique_ptr<CCurveObject> curve);
    CCurveObject* Curve() { return curve_.get(); }
    const CCurveObject* Curve() const { return curve_.get(); }

    void SelectKnot(int i);
    int GetSelected() const { return selected_; }
    bool Dragging() const { return dragging_; }
    const CCurveHitRecord& Hit() const { return hit_; }

    // Hit test at the cursor and the cursor to show.
    CurveCursor OnSetCursor(std::int32_t x, std::int32_t y);
    // By the last hit record; true when a drag starts (the window captures).
    bool OnLButtonDown();
    // The knot index to post with WM_CURVE_KNOT_MOVED, if the drag moved it.
    std::optional<int> OnMouseMove(std::int32_t x, std::int32_t y, bool captureLost = false);
    void OnLButtonUp() { dragging_ = false; }
    // Only while a knot is selected and the window has the focus; true when handled.
    bool OnKeyDown(CurveKey key, bool hasFocus);

private:
    std::unique_ptr<CCurveObject> curve_;
    CCurveHitRecord hit_;
    int selected_ = -1;
    bool dragging_ = false;
};
