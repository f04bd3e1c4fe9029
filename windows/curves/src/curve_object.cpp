#include "windows/curve_object.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "mathlib/numbra.h"

namespace {

// Pixel values go to the interpolation as unsigned numbers, as the window
// coordinates they are.
double AsUnsigned(std::int32_t v) { return static_cast<double>(static_cast<std::uint32_t>(v)); }

std::int32_t TruncateToInt(double v)
{
    if (std::isnan(v)) return 0;
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::trunc(v), lo, hi));
}

} // namespace

void CCurveArchive::WriteInt(std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    for (int b = 0; b < 4; ++b) bytes_.push_back(static_cast<std::uint8_t>(u >> (8 * b)));
}

void CCurveArchive::WriteString(std::u16string_view s)
{
    WriteInt(static_cast<std::int32_t>(s.size()));
    for (char16_t c : s) {
        bytes_.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes_.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

bool CCurveArchive::ReadInt(std::int32_t& v)
{
    if (bytes_.size() - pos_ < 4) return false;
    std::uint32_t u = 0;
    for (int b = 0; b < 4; ++b) u |= static_cast<std::uint32_t>(bytes_[pos_ + b]) << (8 * b);
    pos_ += 4;
    v = static_cast<std::int32_t>(u);
    return true;
}

bool CCurveArchive::ReadString(std::u16string& s)
{
    std::int32_t n = 0;
    if (!ReadInt(n) || n < 0 || static_cast<std::size_t>(n) > (bytes_.size() - pos_) / 2) return false;
    s.clear();
    for (std::int32_t i = 0; i < n; ++i, pos_ += 2)
        s.push_back(static_cast<char16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8)));
    return true;
}

double ClosestIndex(std::span<const double> values, double x)
{
    std::array<double, kCurveMaxKnots> a{};
    const auto n = std::min<std::size_t>(values.size(), a.size());
    std::copy_n(values.begin(), n, a.begin());
    return nbr_IndexOfClosestValue(a.data(), static_cast<int>(n), x);
}

std::optional<double> InterpolateKnots(std::span<const CCurvePoint> points, double x, bool linear,
                                       std::int16_t blend, double power)
{
    std::array<double, kCurveMaxKnots> xs{};
    std::array<double, kCurveMaxKnots> ys{};
    const auto n = std::min<std::size_t>(points.size(), xs.size());
    for (std::size_t i = 0; i < n; ++i) {
        xs[i] = points[i].x;
        ys[i] = points[i].y;
    }
    double y = 0.0;
    const int status = nbr_Interpolate(xs.data(), ys.data(), static_cast<int>(n), x, &y,
                                       static_cast<short>(linear ? 1 : 0), blend, power);
    if (status != NBR_OK && status != NBR_OUTSIDE) return std::nullopt;
    return y;
}

int CCurveObject::Init(std::u16string_view curveName, std::int32_t left, std::int32_t top, std::int32_t right,
                       std::int32_t bottom)
{
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (left == 0 && top == 0 && right == 0 && bottom == 0) return 0;
    name = curveName;
    rect_ = {left, top, right, bottom};
    valid_ = 1;
    return 1;
}

int CCurveObject::AddKnot(std::int32_t x, std::int32_t y)
{
    if (Count() >= kCurveMaxKnots) return -1;
    int k = 0;
    if (!knots_.empty()) {
        std::vector<double> xs;
        xs.reserve(knots_.size());
        for (const auto& kn : knots_) xs.push_back(AsUnsigned(kn.x));
        k = static_cast<int>(ClosestIndex(xs, AsUnsigned(x)));
        if (knots_[static_cast<std::size_t>(k)].x < x) ++k;
    }
    knots_.insert(knots_.begin() + k, CKnot{x, y, 1, 0});
    return k;
}

CKnot* CCurveObject::GetKnot(int i)
{
    return i < 0 || i >= Count() ? nullptr : &knots_[static_cast<std::size_t>(i)];
}

const CKnot* CCurveObject::GetKnot(int i) const
{
    return i < 0 || i >= Count() ? nullptr : &knots_[static_cast<std::size_t>(i)];
}

bool CCurveObject::HitKnot(std::int32_t x, std::int32_t y, std::int32_t tolerance, int& index) const
{
    for (int i = 0; i < Count(); ++i) {
        const auto& k = knots_[static_cast<std::size_t>(i)];
        if (std::abs(static_cast<std::int64_t>(k.x) - x) <= tolerance &&
            std::abs(static_cast<std::int64_t>(k.y) - y) <= tolerance) {
            index = i;
            return true;
        }
    }
    return false;
}

bool CCurveObject::MoveKnot(std::int32_t x, std::int32_t y, int i)
{
    CKnot* knot = GetKnot(i);
    if (knot == nullptr) return false;
    const CKnot* next = NextKnot(i);
    const CKnot* prev = PrevKnot(i);
    const std::int64_t nx = next ? next->x : rect_.right;
    const std::int64_t px = prev ? prev->x : 0;
    const std::int64_t ny = next ? next->y : rect_.bottom;
    const std::int64_t py = prev ? prev->y : rect_.bottom;

    std::int64_t cx = std::clamp<std::int64_t>(x, rect_.left, rect_.right);
    cx = std::min(cx, nx - 1);
    cx = std::max(cx, px + 1);
    std::int64_t cy = std::clamp<std::int64_t>(y, rect_.top, rect_.bottom);
    if (clamp != 0) {
        cy = std::max(cy, ny);
        cy = std::min(cy, py);
    }
    const bool changed = cx != knot->x || cy != knot->y;
    knot->x = static_cast<std::int32_t>(cx);
    knot->y = static_cast<std::int32_t>(cy);
    return changed;
}

std::int32_t CCurveObject::Evaluate(std::int32_t x) const
{
    std::vector<CCurvePoint> points;
    points.reserve(knots_.size());
    for (const auto& k : knots_) points.push_back({k.x, k.y});
    const auto y = InterpolateKnots(points, AsUnsigned(x), smooth == 0,
                                    static_cast<std::int16_t>(blend & 0xFFFF), static_cast<double>(power));
    const CKnot* nearest = FindKnot(x);
    // Where the interpolation cannot work (fewer than two knots, x not
    // increasing) the nearest knot stands in.
    double v = y ? *y : (nearest ? nearest->y : 0.0);
    if (clamp != 0 && nearest != nullptr) v = std::max(v, static_cast<double>(nearest->y));
    return TruncateToInt(v);
}

const CKnot* CCurveObject::FindKnot(std::int32_t x) const
{
    const CCurveDllImpl companion;
    if (knots_.empty()) return nullptr;
    std::vector<double> xs;
    xs.reserve(knots_.size());
    for (const auto& k : knots_) xs.push_back(AsUnsigned(k.x));
    return GetKnot(static_cast<int>(ClosestIndex(xs, AsUnsigned(x))));
}

bool CCurveObject::FindCurvePoint(std::int32_t x, std::int32_t y, CCurvePoint& point) const
{
    if (knots_.empty()) return false;
    for (const int d : {0, 1, -1, 2, -2}) {
        const std::int32_t cx = x + d;
        const std::int32_t v = Evaluate(cx);
        if (static_cast<std::int64_t>(v) > static_cast<std::int64_t>(y) - 2 &&
            static_cast<std::int64_t>(v) < static_cast<std::int64_t>(y) + 2) {
            point = {cx, v};
            return true;
        }
    }
    return false;
}

void CCurveObject::HitTest(std::int32_t x, std::int32_t y, CCurveHitRecord& record) const
{
    record.point = {x, y};
    int index = -1;
    CCurvePoint cp;
    if (HitKnot(x, y, 3, index)) {
        record.code = kCurveHitKnot;
        record.knot = index;
    } else if (FindCurvePoint(x, y, cp)) {
        record.code = kCurveHitCurve;
        record.curvePoint = cp;
    } else {
        record.code = kCurveHitNothing;
    }
}

void CCurveObject::Store(CCurveArchive& ar) const
{
    ar.WriteInt(Count());
    for (const auto& k : knots_) {
        ar.WriteInt(k.x);
        ar.WriteInt(k.y);
        ar.WriteInt(k.unselected);
    }
    ar.WriteInt(rect_.left);
    ar.WriteInt(rect_.bottom);
    ar.WriteInt(rect_.right);
    ar.WriteInt(rect_.top);
    ar.WriteString(name);
    ar.WriteInt(smooth);
    ar.WriteInt(blend);
    ar.WriteInt(static_cast<std::int32_t>(power));
}

bool CCurveObject::Load(CCurveArchive& ar)
{
    std::int32_t count = 0;
    if (!ar.ReadInt(count) || count < 0 || count > kCurveMaxKnots) return false;
    std::vector<CKnot> knots;
    for (std::int32_t i = 0; i < count; ++i) {
        CKnot k; // unselected 1 until read
        if (!ar.ReadInt(k.x) || !ar.ReadInt(k.y) || !ar.ReadInt(k.unselected)) return false;
        knots.push_back(k);
    }
    CCurveRect r;
    std::u16string n;
    std::int32_t s = 0, b = 0, p = 0;
    if (!ar.ReadInt(r.left) || !ar.ReadInt(r.bottom) || !ar.ReadInt(r.right) || !ar.ReadInt(r.top) ||
        !ar.ReadString(n) || !ar.ReadInt(s) || !ar.ReadInt(b) || !ar.ReadInt(p))
        return false;
    knots_ = std::move(knots);
    rect_ = r;
    name = std::move(n);
    smooth = s;
    blend = b;
    power = static_cast<std::uint32_t>(p);
    valid_ = 1;
    return true;
}
