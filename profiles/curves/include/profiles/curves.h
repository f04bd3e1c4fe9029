#pragma once
// Response curves of the profile axes: the 15 knots every curve shares, the
// five slope presets with their names, and the table of cumulative response
// values built from an axis's slopes, which the engine interpolates on every
// frame.
#include <array>
#include <atomic>
#include <cstdint>
#include <span>

inline constexpr int kCurveKnotCount = 15;
inline constexpr int kCurveCentreKnot = 7;

// Knot abscissae, in the input units of the engine's curve stage.
inline constexpr std::array<std::int32_t, kCurveKnotCount> kCurveKnots{
    -50, -40, -30, -20, -10, -5, -2, 0, 2, 5, 10, 20, 30, 40, 50};

// Curve types: 0 to 4 are presets, 5 and above the user's own slopes.
inline constexpr std::int32_t kCurveLinear = 0;
inline constexpr std::int32_t kCurveSmooth = 1;
inline constexpr std::int32_t kCurveAggressive = 2;
inline constexpr std::int32_t kCurveDeadZone = 3;
inline constexpr std::int32_t kCurveProgressive = 4;
inline constexpr std::int32_t kCurveCustom = 5;
inline constexpr int kCurvePresetCount = 5;

// The slope range the curve editor offers.
inline constexpr std::int32_t kCurveSlopeMin = 0;
inline constexpr std::int32_t kCurveSlopeMax = 80;

using CurveSlopes = std::array<std::int32_t, kCurveKnotCount>;
using CurveValues = std::array<std::int32_t, kCurveKnotCount>;

// String ids of the curve-type names in curve-type order (so that a combo
// index equals the curve type), ended by -1.
inline constexpr std::array<std::int32_t, 7> kCurveTypeNameIds{2101, 2102, 2103, 2104, 2105, 2100, -1};

// The slopes of preset `type` (0 to 4); nullptr for any other type.
const CurveSlopes* CurvePreset(std::int32_t type);

// String id of a curve type's name: the preset's, or "Custom" (2100) for
// every other type.
std::int32_t CurveTypeNameId(std::int32_t type);

// For types 0 to 4 copies the preset into `slopes` and returns true; any
// other type leaves them as they are and returns false.
bool ApplyCurvePreset(std::int32_t type, CurveSlopes& slopes);

// A slope held to the editor's range. Slopes from a file go through this:
// a value outside the range would otherwise overflow the table.
constexpr std::int32_t ClampCurveSlope(std::int64_t slope)
{
    return slope < kCurveSlopeMin ? kCurveSlopeMin
         : slope > kCurveSlopeMax ? kCurveSlopeMax
                                  : static_cast<std::int32_t>(slope);
}
void ClampCurveSlopes(CurveSlopes& slopes);

// The response table of `slopes`: entry 7 is 0 and each half grows outwards
// by the knot spacing times the slope of each segment's outer knot; the
// centre slope takes no part. Slopes outside 0 to 80 are taken as clamped.
CurveValues BuildCurveValues(std::span<const std::int32_t, kCurveKnotCount> slopes);

// The response table of one axis. The user-interface thread rebuilds it in
// place while the engine thread reads it, so each entry is an atomic word,
// written from the centre outwards. Copies copy the values.
class CCurveTable {
public:
    CCurveTable();
    explicit CCurveTable(const CurveValues& values);
    CCurveTable(const CCurveTable& other);
    CCurveTable& operator=(const CCurveTable& other);

    void Build(std::span<const std::int32_t, kCurveKnotCount> slopes);
    void Assign(const CurveValues& values);

    std::int32_t operator[](int knot) const { return entries_[knot].load(std::memory_order_relaxed); }
    CurveValues Values() const;

    bool operator==(const CCurveTable& other) const { return Values() == other.Values(); }

private:
    std::array<std::atomic<std::int32_t>, kCurveKnotCount> entries_;
};
