#include "profiles/curves.h"

namespace {

constexpr std::array<CurveSlopes, kCurvePresetCount> kPresets{{
    {17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17},
    {18, 18, 18, 15, 11, 8, 4, 1, 4, 8, 11, 15, 18, 18, 18},
    {33, 29, 25, 19, 12, 7, 3, 1, 3, 7, 12, 19, 25, 29, 33},
    {18, 17, 17, 17, 14, 2, 0, 0, 0, 2, 14, 17, 17, 17, 18},
    {27, 18, 16, 13, 5, 2, 1, 0, 1, 2, 5, 13, 16, 18, 27},
}};

// Both halves of the table in the order they are written: the centre, then
// alternately one step up and one step down, so that an entry is only ever
// written after its inner neighbour.
template <typename Store>
void buildInto(std::span<const std::int32_t, kCurveKnotCount> slopes, Store&& store)
{
    const auto& x = kCurveKnots;
    std::int32_t up = 0;
    std::int32_t down = 0;
    store(kCurveCentreKnot, 0);
    for (int step = 1; step <= kCurveCentreKnot; ++step) {
        const int hi = kCurveCentreKnot + step;
        const int lo = kCurveCentreKnot - step;
        // With slopes held to 0..80 and knots 50 apart at most, every entry
        // stays at or below 4000.
        up += (x[hi] - x[hi - 1]) * ClampCurveSlope(slopes[hi]);
        store(hi, up);
        const std::int32_t gap = x[lo] - x[lo + 1];
        down += (gap < 0 ? -gap : gap) * ClampCurveSlope(slopes[lo]);
        store(lo, down);
    }
}

} // namespace

const CurveSlopes* CurvePreset(std::int32_t type)
{
    if (type < 0 || type >= kCurvePresetCount)
        return nullptr;
    return &kPresets[static_cast<std::size_t>(type)];
}

std::int32_t CurveTypeNameId(std::int32_t type)
{
    if (type >= 0 && type < kCurvePresetCount)
        return kCurveTypeNameIds[static_cast<std::size_t>(type)];
    return kCurveTypeNameIds[kCurveCustom];
}

bool ApplyCurvePreset(std::int32_t type, CurveSlopes& slopes)
{
    const CurveSlopes* preset = CurvePreset(type);
    if (!preset)
        return false;
    slopes = *preset;
    return true;
}

void ClampCurveSlopes(CurveSlopes& slopes)
{
    for (auto& s : slopes)
        s = ClampCurveSlope(s);
}

CurveValues BuildCurveValues(std::span<const std::int32_t, kCurveKnotCount> slopes)
{
    CurveValues table{};
    buildInto(slopes, [&](int k, std::int32_t v) { table[static_cast<std::size_t>(k)] = v; });
    return table;
}

CCurveTable::CCurveTable()
{
    for (auto& e : entries_)
        e.store(0, std::memory_order_relaxed);
}

CCurveTable::CCurveTable(const CurveValues& values)
{
    Assign(values);
}

CCurveTable::CCurveTable(const CCurveTable& other)
{
    Assign(other.Values());
}

CCurveTable& CCurveTable::operator=(const CCurveTable& other)
{
    if (this != &other)
        Assign(other.Values());
    return *this;
}

void CCurveTable::Build(std::span<const std::int32_t, kCurveKnotCount> slopes)
{
    buildInto(slopes, [&](int k, std::int32_t v) {
        entries_[static_cast<std::size_t>(k)].store(v, std::memory_order_relaxed);
    });
}

void CCurveTable::Assign(const CurveValues& values)
{
    // Centre outwards, as Build writes.
    entries_[kCurveCentreKnot].store(values[kCurveCentreKnot], std::memory_order_relaxed);
    for (int step = 1; step <= kCurveCentreKnot; ++step) {
        const auto hi = static_cast<std::size_t>(kCurveCentreKnot + step);
        const auto lo = static_cast<std::size_t>(kCurveCentreKnot - step);
        entries_[hi].store(values[hi], std::memory_order_relaxed);
        entries_[lo].store(values[lo], std::memory_order_relaxed);
    }
}

CurveValues CCurveTable::Values() const
{
    CurveValues out{};
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = entries_[k].load(std::memory_order_relaxed);
    return out;
}
