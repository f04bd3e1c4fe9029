#pragma once
// The curve editor's edits of one profile axis: slopes, curve type, copies.
// It edits the profile in place (the engine copies the live profile every
// frame, so each edit takes effect at once) and keeps the curve window's
// knots and the read-outs the dialog shows in step.
#include <array>
#include <cstdint>

#include "profiles/Profile.h"
#include "windows/curve_wnd_state.h"

// Copy-list targets beyond the six axes.
inline constexpr std::int32_t kCopyAll = 6;
inline constexpr std::int32_t kCopyAllRotation = 7;
inline constexpr std::int32_t kCopyAllTranslation = 8;

// Curve window geometry of the editor.
inline constexpr int kCurveEditorWidth = 420;
inline constexpr int kCurveEditorHeight = 81;

constexpr std::int32_t CurveKnotPixelX(int i) { return kCurveKnots[static_cast<std::size_t>(i)] * 4 + 210; }
constexpr std::int32_t CurveKnotPixelY(std::int32_t slope) { return 80 - slope; }

class CCurveEditorLogic {
public:
    CCurveEditorLogic(CProfile& profile, int axis, CCurveWndState& wnd);

    // Builds the curve over the window's client rectangle, selects knot 7 and
    // refreshes the read-outs.
    void Init();

    CProfileAxis& Axis() { return profile_.Axes[static_cast<std::size_t>(axis_)]; }
    int AxisIndex() const { return axis_; }

    std::int32_t mirror = 1;
    std::int32_t mouseDownInCurve = 0;
    // What the dialog shows.
    std::int32_t position = 0;
    std::int32_t value = 0;
    int curveTypeIndex = 0;

    void RefreshKnots(bool readValue, bool selectCentre);

    void OnValueStep(int d);
    void OnShiftStep(int d);
    void OnPositionStep(int d);
    // After the curve window handled an up or down arrow.
    void OnArrowUpDown();
    // After the curve window handled a left or right arrow.
    void OnArrowLeftRight() { ReadoutsFromSelected(); }
    void OnKnotMoved();
    void OnCurveTypeChanged(std::int32_t type);
    void OnAxisChanged(int axis);
    void OnLButtonDown(bool insideCurve);
    void OnLButtonUp();
    void Copy(std::int32_t target);
    void CopyAxisCurve(int from, int to);

private:
    void StoreAtSelected(std::int32_t v);
    void SwitchToCustom();
    void ReadoutsFromSelected();

    CProfile& profile_;
    int axis_;
    CCurveWndState& wnd_;
};
