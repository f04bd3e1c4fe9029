#pragma once
// A response curve as the editor shows it: knots in window pixels (y grows
// downwards), kept in ascending x and evaluated through Numbra's
// interpolation.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/modules.h"

inline constexpr int kCurveMaxKnots = 256; // the interpolation wrappers hold at most this many

inline constexpr std::int32_t kCurveHitNothing = 4097;
inline constexpr std::int32_t kCurveHitCurve = 4098;
inline constexpr std::int32_t kCurveHitKnot = 4099;

struct CKnot {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t unselected = 1; // 0 only for the selected knot
    std::int32_t abscissa = 0;   // curve abscissa (-50..50), set by the editor

    friend bool operator==(const CKnot&, const CKnot&) = default;
};

struct CCurvePoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const CCurvePoint&, const CCurvePoint&) = default;
};

struct CCurveHitRecord {
    CCurvePoint point;
    std::int32_t code = kCurveHitNothing;
    int knot = -1;
    CCurvePoint curvePoint;
};

struct CCurveRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const CCurveRect&, const CCurveRect&) = default;
};

// The 32-bit little-endian item stream the curve stores itself in.
class CCurveArchive {
public:
    CCurveArchive() = default;
    explicit CCurveArchive(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    void WriteInt(std::int32_t v);
    void WriteString(std::u16string_view s); // item count, then UTF-16 units
    bool ReadInt(std::int32_t& v);
    bool ReadString(std::u16string& s);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Index of the value closest to x (Numbra's lookup; ties keep the lower index).
double ClosestIndex(std::span<const double> values, double x);
// The y Numbra's interpolation gives at x; nullopt when it reports bad data
// (fewer than two points or x not strictly increasing). Extrapolated values
// outside the data are returned.
std::optional<double> InterpolateKnots(std::span<const CCurvePoint> points, double x, bool linear,
                                       std::int16_t blend, double power);

// Keeps the math library's companion file "XlNumbra.dll" (XlNumbra.so in
// the working folder) loaded while it lives. The program holds one for its
// whole run and FindKnot one around its lookup. Each guard keeps its own
// reference, so a short-lived guard never unloads the module that the
// long-lived one holds. A missing file changes nothing.
class CCurveDllImpl {
public:
    static constexpr const char* kCompanionFile = "XlNumbra.dll";

    CCurveDllImpl() : module_(platform::Module::load(kCompanionFile)) {}
    CCurveDllImpl(const CCurveDllImpl&) = delete;
    CCurveDllImpl& operator=(const CCurveDllImpl&) = delete;

    bool Loaded() const { return module_.has_value(); }

private:
    std::optional<platform::Module> module_;
};

class CCurveObject {
public:
    static constexpr std::int32_t kSchema = 1;

    std::int32_t smooth = 0;   // 0 linear, else parabolic
    std::int32_t blend = 0;    // low 16 bits go to the interpolation
    std::int32_t clamp = 0;    // 1: knots and curve stay monotone
    std::uint32_t power = 1;
    std::u16string name;

    // Normalises the rectangle; an empty one leaves the curve invalid (0).
    int Init(std::u16string_view curveName, std::int32_t left, std::int32_t top, std::int32_t right,
             std::int32_t bottom);
    bool IsValid() const { return valid_ != 0; }
    const CCurveRect& Rect() const { return rect_; }

    // Index of the new knot; -1 when the curve already holds kCurveMaxKnots.
    int AddKnot(std::int32_t x, std::int32_t y);
    CKnot* GetKnot(int i);
    const CKnot* GetKnot(int i) const;
    CKnot* FirstKnot() { return GetKnot(0); }
    CKnot* LastKnot() { return GetKnot(LastIndex()); }
    CKnot* NextKnot(int i) { return i < 0 ? nullptr : GetKnot(i + 1); }
    CKnot* PrevKnot(int i) { return i <= 0 ? nullptr : GetKnot(i - 1); }
    int LastIndex() const { return static_cast<int>(knots_.size()) - 1; }
    int Count() const { return static_cast<int>(knots_.size()); }
    void RemoveAllKnots() { knots_.clear(); }
    const std::vector<CKnot>& Knots() const { return knots_; }

    bool HitKnot(std::int32_t x, std::int32_t y, std::int32_t tolerance, int& index) const;
    // Moves knot i within its neighbours and the rectangle; whether it changed.
    bool MoveKnot(std::int32_t x, std::int32_t y, int i);
    std::int32_t Evaluate(std::int32_t x) const;
    // The knot whose x is nearest x; nullptr without knots.
    const CKnot* FindKnot(std::int32_t x) const;
    bool FindCurvePoint(std::int32_t x, std::int32_t y, CCurvePoint& point) const;
    void HitTest(std::int32_t x, std::int32_t y, CCurveHitRecord& record) const;

    void Store(CCurveArchive& ar) const;
    // False (the curve left as it was) for a truncated stream or more than
    // kCurveMaxKnots knots.
    bool Load(CCurveArchive& ar);

private:
    CCurveRect rect_;
    std::vector<CKnot> knots_;
    std::int32_t valid_ = 0;
};
