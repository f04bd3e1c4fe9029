#pragma once
// What the gauges window draws and where, and its commands, without Qt.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "profiles/Profile.h"

namespace gauges {

inline constexpr int kGaugeCount = 6;
// Pose arrays are x, y, z, yaw, pitch, roll in -16383..16383.
using PoseAxes = std::array<double, 6>;
inline constexpr double kPoseFullScale = 16383.0;
// Knot inputs of the curve, in percent of full scale.
inline constexpr std::array<int, 15> kGaugeKnotX{-50, -40, -30, -20, -10, -5, -2, 0, 2, 5, 10, 20, 30, 40, 50};

inline constexpr int kCmdEdit = 32777;
inline constexpr int kCmdEnable = 32778;
inline constexpr int kCmdInvert = 32779;

// Colours are 0xRRGGBB.
constexpr std::uint32_t Rgb(int r, int g, int b)
{
    return static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b);
}

struct GaugePens {
    std::uint32_t background, centre, curve, raw, output, third;
};
inline constexpr GaugePens kActivePens{Rgb(12, 9, 86), Rgb(81, 93, 241), Rgb(102, 164, 245),
                                       Rgb(255, 255, 0), Rgb(255, 0, 0), Rgb(10, 100, 215)};
inline constexpr GaugePens kInactivePens{Rgb(100, 100, 100), Rgb(81, 93, 241), Rgb(10, 100, 215),
                                         Rgb(210, 210, 0), Rgb(160, 0, 0), Rgb(10, 100, 215)};

struct Point {
    int x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};
struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    bool Contains(int x, int y) const { return x >= left && y >= top && x < left + width && y < top + height; }
};

enum class LineKind { Centre, Raw, Output, Third };
struct VerticalLine {
    LineKind kind;
    int x;
    int width; // pen width in pixels
    std::uint32_t colour;
};

// One gauge in its own coordinates (0, 0)..(width, height).
struct GaugePicture {
    int width = 0, height = 0;
    std::uint32_t background = 0;
    std::uint32_t curveColour = 0;
    std::array<Point, 15> curve{};
    std::vector<VerticalLine> lines; // drawn in order, lines run from y 0 to y height
};

// The gauge's values in percent (-50..50 at full scale).
struct GaugeValues {
    float raw = 0, output = 0, third = 0;
};

// Pose index of gauge i (gauge order yaw, pitch, roll, x, y, z).
int PoseIndexOfGauge(int gauge);
bool IsTranslationGauge(int gauge);
GaugeValues ValuesForGauge(int gauge, const PoseAxes& raw, const PoseAxes& output, const PoseAxes& preCompensation);
// Active: MotionType non-zero and the axis enabled, or one-point mode and
// yaw or pitch.
bool IsGaugeActive(const CProfile& profile, int gauge);
// Clicks reach roll, x, y and z only outside one-point mode.
bool GaugeResponds(const CProfile& profile, int gauge);
GaugePicture LayoutGauge(int width, int height, const CProfileAxis& axis, bool active, const GaugeValues& values);
// The gauge whose rectangle holds the point and that responds to clicks; -1 otherwise.
int GaugeAt(const std::array<Rect, kGaugeCount>& rects, int x, int y, const CProfile& profile);

// What the window reads: the engine's pose arrays and the current profile.
class IGaugeSource {
public:
    virtual ~IGaugeSource() = default;
    virtual PoseAxes RawAxes() const = 0;
    virtual PoseAxes OutputAxes() const = 0;
    virtual PoseAxes PreCompensationAxes() const = 0;
    // The live current profile, or null when none is loaded.
    virtual CProfile* CurrentProfile() const = 0;
    virtual int SaveProfile(const CProfile& profile) const { return profile.Save(); }
};

// Runs the curve editor modally on the live profile and axis; true for OK.
using CurveEditor = std::function<bool(CProfile& live, int axis)>;

// The commands of the gauge menu and the double-click.
class CGaugesController {
public:
    CGaugesController(IGaugeSource& source, CurveEditor editor) : source_(source), editor_(std::move(editor)) {}

    void SetRects(const std::array<Rect, kGaugeCount>& rects) { rects_ = rects; }
    const std::array<Rect, kGaugeCount>& Rects() const { return rects_; }

    // Right button up: stores the point and the gauge under it; the gauge
    // for the menu, or -1 when no menu opens.
    int OnRightButtonUp(int x, int y);
    // Double-click: edits the curve under the point; false when none is there.
    bool OnDoubleClick(int x, int y);
    // Menu commands on the stored gauge; false for an unknown command or no gauge.
    bool OnCommand(int command);

    int StoredGauge() const { return gauge_; }
    Point StoredPoint() const { return point_; }
    bool IsEnabled(int gauge) const;
    bool IsInverted(int gauge) const;

    // Backup, edit on the live profile, restore it unless OK; OK saves.
    bool EditCurve(int gauge);

private:
    IGaugeSource& source_;
    CurveEditor editor_;
    std::array<Rect, kGaugeCount> rects_{};
    Point point_{};
    int gauge_ = -1;
};

} // namespace gauges
