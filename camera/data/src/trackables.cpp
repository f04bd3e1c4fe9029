#include "camera/trackables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace Orvane {

SawtoothFunction& SawtoothFunction::operator=(const SawtoothFunction& other)
{
    if (this != &other)
        SetValues(other.GetMin(), other.GetMax(), other.GetBest(), other.GetOutOfRangeValue());
    return *this;
}

void SawtoothFunction::SetValues(double min, double max, double best, double outOfRange)
{
    outOfRange_.store(outOfRange, std::memory_order_relaxed);
    SetValues(min, max, best);
}

void SawtoothFunction::SetValues(double min, double max, double best)
{
    min_.store(min, std::memory_order_relaxed);
    max_.store(max, std::memory_order_relaxed);
    best_.store(best, std::memory_order_relaxed);
    rising_.store(best == min ? 0.0 : 1.0 / (best - min), std::memory_order_relaxed);
    falling_.store(best == max ? 0.0 : 1.0 / (best - max), std::memory_order_relaxed);
}

void SawtoothFunction::SetOutOfRangeValue(double value) { outOfRange_.store(value, std::memory_order_relaxed); }

double SawtoothFunction::Evaluate(double x) const
{
    const double min = GetMin(), max = GetMax(), best = GetBest();
    if (x > max || x < min)
        return GetOutOfRangeValue();
    double v = 1.0;
    if (x < best)
        v = (x - min) * rising_.load(std::memory_order_relaxed);
    else if (x > best)
        v = (x - max) * falling_.load(std::memory_order_relaxed);
    return v < 0.0 ? 0.0 : v;
}

namespace {

double cityBlock(double x0, double y0, double x1, double y1) { return std::abs(x0 - x1) + std::abs(y0 - y1); }

} // namespace

double ObjectMassScorer::Score(const CameraObject& object) const { return Evaluate(object.area); }

double AspectRatioScorer::Score(const CameraObject& o) const
{
    if (!Settings::DoAspectTest() || o.rightEdge - o.leftEdge == 0.0f)
        return 0.0;
    return Evaluate(static_cast<double>(o.rightEdge - o.leftEdge) / static_cast<double>(o.bottomLine - o.topLine));
}

namespace {

// The gap between two objects' boxes: horizontal plus vertical, each 0 where
// the boxes overlap. The same value either way round. (Each part is the
// largest of 0 and the two distances, the first of equals kept, as
// std::max of the three gives it; a distance that is not a number is passed over.)
template <class Box>
inline double BoxGap(const Box& o, const Box& other)
{
    // (Written as selections, which compile to max instructions of exactly
    // these semantics and so stay free of branches.)
    const auto largest = [](double a, double b, double c) {
        double m = a;
        m = b > m ? b : m;
        m = c > m ? c : m;
        return m;
    };
    const double gx = largest(0.0, static_cast<double>(other.leftEdge - o.rightEdge),
                              static_cast<double>(o.leftEdge - other.rightEdge));
    const double gy = largest(0.0, static_cast<double>(other.topLine - o.bottomLine),
                              static_cast<double>(o.topLine - other.bottomLine));
    return gx + gy;
}

} // namespace

double ProximityScorer::Score(const CameraObject& o, const Frame& frame) const
{
    if (frame.objectCount == 1)
        return 1.0;
    double smallest = std::numeric_limits<double>::infinity();
    for (const CameraObject& other : frame.GetObjects()) {
        const double gap = BoxGap(o, other);
        if (gap != 0.0)
            smallest = std::min(smallest, gap);
    }
    return ScoreSmallestGap(smallest, GetBest());
}

double ProximityScorer::ScoreSmallestGap(double smallest, double best) const
{
    if (smallest >= best)
        return 1.0;
    return Evaluate(smallest);
}

void ProximityScorer::SmallestGaps(std::span<const CameraObject> objects, double limit, GapScratch& scratch,
                                   std::span<double> smallest)
{
    const std::size_t n = objects.size();
    if (n <= kAllPairs) {
        // A handful of objects (three markers): every pair is quicker than any index.
        for (std::size_t i = 0; i < n; ++i) {
            double nearest = std::numeric_limits<double>::infinity();
            for (const CameraObject& other : objects) {
                const double gap = BoxGap(objects[i], other);
                if (gap != 0.0)
                    nearest = std::min(nearest, gap);
            }
            smallest[i] = nearest;
        }
        return;
    }
    std::vector<Box>& boxes = scratch.boxes;
    boxes.resize(n);
    bool finite = true;
    double x0 = std::numeric_limits<double>::infinity(), x1 = -x0;
    std::int32_t top0 = std::numeric_limits<std::int32_t>::max(), top1 = std::numeric_limits<std::int32_t>::min();
    for (std::size_t i = 0; i < n; ++i) {
        const CameraObject& o = objects[i];
        const Box box{o.leftEdge, o.rightEdge, o.topLine, o.bottomLine, static_cast<std::int32_t>(i)};
        // An object's gap to itself is 0 unless its box is inverted; the
        // full scan counts it, so this does too.
        const double self = BoxGap(box, box);
        smallest[i] = self != 0.0 ? self : std::numeric_limits<double>::infinity();
        finite = finite && std::isfinite(o.leftEdge) && std::isfinite(o.rightEdge);
        x0 = std::min({x0, static_cast<double>(o.leftEdge), static_cast<double>(o.rightEdge)});
        x1 = std::max({x1, static_cast<double>(o.leftEdge), static_cast<double>(o.rightEdge)});
        top0 = std::min(top0, o.topLine);
        top1 = std::max(top1, o.topLine);
    }
    // Down the image in top-line order (equal lines by index): a pair's gap
    // is at least the vertical distance from the upper box's bottom to the
    // lower box's top, so once that reaches the limit no later box can come
    // closer. Top lines lie within an image, so counting sorts them where
    // there are objects enough for the lines between.
    const std::int64_t lines = static_cast<std::int64_t>(top1) - top0 + 1;
    if (lines <= kMaxCountedLines && lines <= 4 * static_cast<std::int64_t>(n)) {
        std::vector<std::int32_t>& count = scratch.lineStart;
        count.assign(static_cast<std::size_t>(lines) + 1, 0);
        for (const CameraObject& o : objects)
            ++count[static_cast<std::size_t>(o.topLine - top0) + 1];
        for (std::size_t k = 1; k < count.size(); ++k)
            count[k] += count[k - 1];
        for (std::size_t i = 0; i < n; ++i) {
            const CameraObject& o = objects[i];
            boxes[static_cast<std::size_t>(count[static_cast<std::size_t>(o.topLine - top0)]++)] = {
                o.leftEdge, o.rightEdge, o.topLine, o.bottomLine, static_cast<std::int32_t>(i)};
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const CameraObject& o = objects[i];
            boxes[i] = {o.leftEdge, o.rightEdge, o.topLine, o.bottomLine, static_cast<std::int32_t>(i)};
        }
        std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
            return a.topLine != b.topLine ? a.topLine < b.topLine : a.index < b.index;
        });
    }

    // And across it in vertical strips: two boxes closer than the limit
    // overlap once each is widened by half the limit, so they share a strip
    // in which both are listed (a pair may meet in two strips; the smallest
    // gap is the same). The widening has a pixel to spare for rounding. Any
    // box that is not a finite number, a limit that is not, or a limit as wide
    // as the spread: one strip, the whole image.
    const double spread = x1 - x0;
    const double widen = std::max(limit, 0.0) / 2.0 + 1.0 + spread * 1e-6;
    const double width = std::max(kMinStripWidth, 2.0 * widen);
    int strips = 1;
    if (finite && std::isfinite(limit) && spread < 1e6)
        strips = std::clamp(static_cast<int>(spread / width), 1, kMaxStrips);
    const auto stripOf = [&](double x) {
        const double u = (x - x0) / width;
        if (!(u > 0.0))
            return 0;
        return u >= strips - 1 ? strips - 1 : static_cast<int>(u);
    };
    const auto span = [&](const Box& b) {
        const double lo = std::min(b.leftEdge, b.rightEdge), hi = std::max(b.leftEdge, b.rightEdge);
        return strips == 1 ? std::pair{0, 0} : std::pair{stripOf(lo - widen), stripOf(hi + widen)};
    };
    std::vector<std::int32_t>& start = scratch.stripStart;
    std::vector<std::int32_t>& listed = scratch.listed;
    start.assign(static_cast<std::size_t>(strips) + 1, 0);
    for (const Box& b : boxes) {
        const auto [first, last] = span(b);
        for (int k = first; k <= last; ++k)
            ++start[static_cast<std::size_t>(k) + 1];
    }
    for (int k = 0; k < strips; ++k)
        start[static_cast<std::size_t>(k) + 1] += start[static_cast<std::size_t>(k)];
    listed.resize(static_cast<std::size_t>(start[static_cast<std::size_t>(strips)]));
    {
        // Filled in top-line order, so each strip's list is in that order too.
        std::array<std::int32_t, kMaxStrips> next{};
        for (int k = 0; k < strips; ++k)
            next[static_cast<std::size_t>(k)] = start[static_cast<std::size_t>(k)];
        for (std::size_t i = 0; i < n; ++i) {
            const auto [first, last] = span(boxes[i]);
            for (int k = first; k <= last; ++k)
                listed[static_cast<std::size_t>(next[static_cast<std::size_t>(k)]++)] = static_cast<std::int32_t>(i);
        }
    }
    for (int k = 0; k < strips; ++k) {
        const std::int32_t* first = listed.data() + start[static_cast<std::size_t>(k)];
        const std::int32_t* last = listed.data() + start[static_cast<std::size_t>(k) + 1];
        for (const std::int32_t* a = first; a != last; ++a) {
            const Box& upper = boxes[static_cast<std::size_t>(*a)];
            const std::int64_t bottom = upper.bottomLine;
            double nearest = smallest[static_cast<std::size_t>(upper.index)];
            for (const std::int32_t* b = a + 1; b != last; ++b) {
                const Box& lower = boxes[static_cast<std::size_t>(*b)];
                if (static_cast<double>(static_cast<std::int64_t>(lower.topLine) - bottom) >= limit)
                    break;
                const double gap = BoxGap(upper, lower);
                if (gap != 0.0) {
                    nearest = std::min(nearest, gap);
                    double& other = smallest[static_cast<std::size_t>(lower.index)];
                    other = std::min(other, gap);
                }
            }
            smallest[static_cast<std::size_t>(upper.index)] = nearest;
        }
    }
}

double LastTrackedScorer::Score(CameraObject& o, CameraObject& tracked) const
{
    return Evaluate(cityBlock(o.GetCenterMassX(), o.GetCenterMassY(), tracked.GetCenterMassX(),
                              tracked.GetCenterMassY()));
}

double StaticScorer::Score(const CameraObject& o) const
{
    return Settings::DoStaticTest() ? Evaluate(o.staticCount) : 0.0;
}

double ScreenCenterScorer::Score(CameraObject& o) const
{
    return Evaluate(
        cityBlock(o.GetCenterMassX(), o.GetCenterMassY(), Settings::GetImagerCenterX(), Settings::GetImagerCenterY()));
}

TrackableScorer::TrackableScorer()
{
    ranked_.reserve(static_cast<std::size_t>(objectLimit_));
    gapScratch_.Reserve(2 * Settings::MaxNumberOfObjects_);
    smallestGaps_.reserve(2 * Settings::MaxNumberOfObjects_);
    mass_.SetValues(Settings::GetMinimumArea(), Settings::GetMaximumArea(), Settings::GetBestArea(), -2.0);
    aspect_.SetValues(Settings::GetMinimumAspectRatio(), Settings::GetMaximumAspectRatio(),
                      Settings::GetBestAspectRatio(), 0.0);
    proximity_.SetValues(Settings::GetMinimumProximity(), Settings::GetMaximumProximity(), Settings::GetBestProximity(),
                         0.0);
    lastTracked_.SetValues(Settings::GetMinimumDistLastTracked(), Settings::GetMaximumDistLastTracked(),
                           Settings::GetBestDistLastTracked(), 0.0);
    static_.SetValues(Settings::GetMinimumStaticCount(), Settings::GetMaximumStaticCount(),
                      Settings::GetBestStaticCount(), 0.0);
    screenCenter_.SetValues(0.0, 2.0 * Settings::GetImagerCenterX(), 0.0, 0.0);
    weights_[ObjectMass] = Settings::GetAreaWeight();
    weights_[AspectRatio] = Settings::GetAspectRatioWeight();
    weights_[Proximity] = Settings::GetProximityWeight();
    weights_[LastTracked] = Settings::GetDistLastTrackedWeight();
    weights_[StaticCount] = Settings::GetStaticCountWeight();
    weights_[ScreenCenter] = Settings::GetScreenCenterWeight();
}

SawtoothFunction* TrackableScorer::Function(int name)
{
    return const_cast<SawtoothFunction*>(static_cast<const TrackableScorer*>(this)->Function(name));
}

const SawtoothFunction* TrackableScorer::Function(int name) const
{
    switch (name) {
    case ObjectMass: return &mass_;
    case AspectRatio: return &aspect_;
    case Proximity: return &proximity_;
    case LastTracked: return &lastTracked_;
    case StaticCount: return &static_;
    case ScreenCenter: return &screenCenter_;
    default: return nullptr;
    }
}

void TrackableScorer::SetValues(int name, double min, double max, double best)
{
    tracking_.store(false, std::memory_order_relaxed);
    if (SawtoothFunction* f = Function(name))
        f->SetValues(min, max, best);
}

void TrackableScorer::SetValues(int name, double min, double max, double best, double outOfRange)
{
    tracking_.store(false, std::memory_order_relaxed);
    if (SawtoothFunction* f = Function(name))
        f->SetValues(min, max, best, outOfRange);
}

double TrackableScorer::GetMinValue(int name) const
{
    const SawtoothFunction* f = Function(name);
    return f ? f->GetMin() : -1.0;
}

double TrackableScorer::GetMaxValue(int name) const
{
    const SawtoothFunction* f = Function(name);
    return f ? f->GetMax() : -1.0;
}

double TrackableScorer::GetBestValue(int name) const
{
    const SawtoothFunction* f = Function(name);
    return f ? f->GetBest() : -1.0;
}

double TrackableScorer::GetOutsideRangeValue(int name) const
{
    const SawtoothFunction* f = Function(name);
    return f ? f->GetOutOfRangeValue() : -1.0;
}

double TrackableScorer::GetWeight(int name) const
{
    if (name < 0 || name >= NumScores)
        return -1.0;
    return weights_[name].load(std::memory_order_relaxed);
}

void TrackableScorer::SetWeight(int name, double value)
{
    if (name < 0 || name >= NumScores)
        return;
    weights_[name].store(value, std::memory_order_relaxed);
    double sum = 0.0;
    for (const auto& w : weights_)
        sum += w.load(std::memory_order_relaxed);
    for (int n : {ObjectMass, AspectRatio, StaticCount, Proximity, ScreenCenter})
        Function(n)->SetOutOfRangeValue(GetWeight(n) - sum);
}

double TrackableScorer::Score(CameraObject& object, const Frame& frame)
{
    return ScoreWithProximity(object, proximity_.Score(object, frame));
}

double TrackableScorer::ScoreWithProximity(CameraObject& object, double proximity)
{
    double score = static_.Score(object) * GetWeight(StaticCount) + mass_.Score(object) * GetWeight(ObjectMass) +
                   aspect_.Score(object) * GetWeight(AspectRatio) + proximity * GetWeight(Proximity) +
                   screenCenter_.Score(object) * GetWeight(ScreenCenter);
    if (IsTracking() && framesTrackingCurrent_ >= Settings::GetMinNumFramesTrackingCurrent())
        score += lastTracked_.Score(object, tracked_) * GetWeight(LastTracked);
    return score;
}

int TrackableScorer::CompareObjects(const CameraObject* a, const CameraObject* b)
{
    if (a->score > b->score)
        return -1;
    if (a->score < b->score)
        return 1;
    return 0;
}

void TrackableScorer::RankObjects(Frame& frame)
{
    ranked_.clear();
    const std::span<CameraObject> objects = frame.GetObjects();
    const std::size_t n = objects.size();
    // Every object's proximity at once, by a sweep instead of a scan of all
    // pairs; only gaps below the best value change a score. (The best value
    // is read once, so a change from the user interface applies to whole frames.)
    const double best = proximity_.GetBest();
    smallestGaps_.resize(n);
    if (n > 1)
        ProximityScorer::SmallestGaps(objects, best, gapScratch_, smallestGaps_);
    for (std::size_t i = 0; i < n; ++i) {
        CameraObject& o = objects[i];
        o.score = ScoreWithProximity(o, n == 1 ? 1.0 : proximity_.ScoreSmallestGap(smallestGaps_[i], best));
        o.rank = 0;
        if (o.score > 0.0 && static_cast<int>(ranked_.size()) < objectLimit_)
            ranked_.push_back(&o);
    }
    if (ranked_.size() > 1 && ranked_.size() < 30)
        std::sort(ranked_.begin(), ranked_.end(),
                  [](const CameraObject* a, const CameraObject* b) { return CompareObjects(a, b) < 0; });
    for (std::size_t i = 0; i < ranked_.size(); ++i)
        ranked_[i]->rank = static_cast<std::int32_t>(i + 1);
}

void TrackableScorer::ProcessObjects(Frame& frame)
{
    RankObjects(frame);
    if (ranked_.empty()) {
        tracking_.store(false, std::memory_order_relaxed);
        return;
    }
    CameraObject& best = *ranked_.front();
    const auto take = [&](CameraObject& o) {
        tracked_ = o;
        // The copy outlives the frame: it keeps geometry, not the frame's segments.
        tracked_.ClearSegmentList();
    };
    if (IsTracking() && cityBlock(best.GetCenterMassX(), best.GetCenterMassY(), tracked_.GetCenterMassX(),
                                  tracked_.GetCenterMassY()) >= 10.0) {
        if (framesMissing_ < Settings::GetNumFramesTrackedMissing()) {
            ranked_.front() = &tracked_;
            ++framesMissing_;
        } else {
            take(best);
            framesMissing_ = 0;
            framesTrackingCurrent_ = 0;
        }
    } else {
        take(best);
        ++framesTrackingCurrent_;
    }
    tracking_.store(true, std::memory_order_relaxed);
}

std::atomic<std::uint32_t> Trackable::nextId_{0};

void Trackable::ResetIdCounter() { nextId_.store(0, std::memory_order_relaxed); }

Trackable::Trackable() : id(nextId_.fetch_add(1, std::memory_order_relaxed)) {}

Trackable::Trackable(const CameraObject& object, int objectIndex)
    : ObjectGeometry(object), id(nextId_.fetch_add(1, std::memory_order_relaxed)), index(objectIndex)
{
}

void Trackable::Update(const CameraObject& object, int objectIndex)
{
    index = objectIndex;
    const double oldX = GetCenterMassX(), oldY = GetCenterMassY();
    ObjectGeometry::operator=(object);
    previousX = oldX;
    previousY = oldY;
    const double x = GetCenterMassX(), y = GetCenterMassY();
    dormantCount = 0;
    if (cityBlock(x, y, previousX, previousY) > 1.0)
        staticCount = 0;
    else if (staticCount < static_cast<std::int32_t>(Settings::GetMaximumStaticCount()))
        ++staticCount;
}

double Trackable::DistanceBetweenLastCenterAndThisCenter(ObjectGeometry& geometry)
{
    return cityBlock(geometry.GetCenterMassX(), geometry.GetCenterMassY(), previousX, previousY);
}

TrackableCollection::TrackableCollection()
{
    trackables_.reserve(2 * Settings::MaxNumberOfObjects_);
    taken_.reserve(2 * Settings::MaxNumberOfObjects_);
    centres_.reserve(2 * Settings::MaxNumberOfObjects_);
    byCell_.reserve(2 * Settings::MaxNumberOfObjects_);
    cellStart_.reserve(CentreGrid::kMaxCells + 1);
}

TrackableCollection::CentreGrid TrackableCollection::BuildGrid(Frame& frame, int count)
{
    CentreGrid grid;
    centres_.clear();
    byCell_.clear();
    if (trackables_.empty())
        return grid;
    // An object whose centre is not a finite number is never within reach.
    double x1 = -std::numeric_limits<double>::infinity(), y1 = x1;
    grid.x0 = grid.y0 = std::numeric_limits<double>::infinity();
    for (int i = 0; i < count; ++i) {
        CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
        const double x = o.GetCenterMassX(), y = o.GetCenterMassY();
        if (!std::isfinite(x) || !std::isfinite(y))
            continue;
        centres_.push_back({x, y, i});
        grid.x0 = std::min(grid.x0, x);
        grid.y0 = std::min(grid.y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    }
    if (centres_.empty())
        return grid;
    // Cells of at least 16 pixels: a centre within reach (10) of another lies
    // in the same or a neighbouring cell, with room to spare for rounding.
    // About four objects to a cell's row and column at most (few objects, few
    // cells to clear), and at most 64 x 64; a spread beyond any image (a
    // broken centre) gets one cell, which is the plain scan.
    const double spread = std::max(x1 - grid.x0, y1 - grid.y0);
    const int side = std::clamp(static_cast<int>(2.0 * std::sqrt(static_cast<double>(centres_.size()))), 1,
                                CentreGrid::kMaxSide);
    if (spread > 1e6 || side == 1) {
        grid.columns = grid.rows = 1;
        grid.size = std::numeric_limits<double>::infinity();
    } else {
        grid.size = std::max(16.0, spread / (side - 1));
        grid.columns = static_cast<int>((x1 - grid.x0) / grid.size) + 1;
        grid.rows = static_cast<int>((y1 - grid.y0) / grid.size) + 1;
    }
    grid.cells = grid.columns * grid.rows;
    cellStart_.assign(static_cast<std::size_t>(grid.cells) + 1, 0);
    const auto cellOf = [&](const Centre& c) { return grid.Row(c.y) * grid.columns + grid.Column(c.x); };
    for (const Centre& c : centres_)
        ++cellStart_[static_cast<std::size_t>(cellOf(c)) + 1];
    for (int k = 0; k < grid.cells; ++k)
        cellStart_[static_cast<std::size_t>(k) + 1] += cellStart_[static_cast<std::size_t>(k)];
    byCell_.resize(centres_.size());
    // Counting sort: each cell's start serves as its cursor meanwhile, then
    // moves back into place.
    for (const Centre& c : centres_) {
        const auto k = static_cast<std::size_t>(cellOf(c));
        byCell_[static_cast<std::size_t>(cellStart_[k]++)] = c;
    }
    for (int k = grid.cells; k > 0; --k)
        cellStart_[static_cast<std::size_t>(k)] = cellStart_[static_cast<std::size_t>(k) - 1];
    cellStart_[0] = 0;
    return grid;
}

void TrackableCollection::NewFrameCallback(Frame* frame, void* collection)
{
    if (frame != nullptr && collection != nullptr && GetScoringEnabled())
        static_cast<TrackableCollection*>(collection)->Process(*frame);
}

void TrackableCollection::Process(Frame& frame)
{
    const int count = frame.objectCount;
    taken_.assign(static_cast<std::size_t>(count), 0);
    const double reach = Settings::DeltaLimit_;
    // A handful of objects are matched by the plain scan, more through a grid.
    const CentreGrid grid = count <= kPlainScan ? CentreGrid{} : BuildGrid(frame, count);
    for (Trackable& t : trackables_) {
        const double tx = t.GetCenterMassX(), ty = t.GetCenterMassY();
        // The last untaken object (highest index) within reach, among the
        // objects of the cells around the trackable's centre. (A centre that
        // is not a finite number has nothing within reach.)
        int chosen = -1;
        if (count <= kPlainScan) {
            for (int i = 0; i < count; ++i) {
                if (taken_[static_cast<std::size_t>(i)])
                    continue;
                CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
                if (cityBlock(o.GetCenterMassX(), o.GetCenterMassY(), tx, ty) < reach)
                    chosen = i;
            }
        } else if (grid.cells > 0 && std::isfinite(tx) && std::isfinite(ty)) {
            const int column = grid.Column(tx), row = grid.Row(ty);
            const int left = std::max(column - 1, 0), right = std::min(column + 1, grid.columns - 1);
            for (int r = std::max(row - 1, 0); r <= std::min(row + 1, grid.rows - 1); ++r) {
                // The cells of a row lie side by side in the sorted list.
                const std::int32_t end = cellStart_[static_cast<std::size_t>(r * grid.columns + right + 1)];
                for (std::int32_t k = cellStart_[static_cast<std::size_t>(r * grid.columns + left)]; k < end; ++k) {
                    const Centre& c = byCell_[static_cast<std::size_t>(k)];
                    if (c.index > chosen && !taken_[static_cast<std::size_t>(c.index)] &&
                        cityBlock(c.x, c.y, tx, ty) < reach)
                        chosen = c.index;
                }
            }
        }
        if (chosen >= 0) {
            t.Update(frame.objects[static_cast<std::size_t>(chosen)], chosen);
            taken_[static_cast<std::size_t>(chosen)] = 1;
        } else {
            t.Age();
        }
    }
    for (int i = 0; i < count; ++i) {
        if (!taken_[static_cast<std::size_t>(i)])
            trackables_.emplace_back(frame.objects[static_cast<std::size_t>(i)], i);
    }

    if (Settings::DoStaticTest()) {
        for (Trackable& t : trackables_) {
            if (t.staticCount > Settings::StaticMaximum_)
                t.staticCount = Settings::StaticReset_;
            // Only a trackable matched in this frame holds an index into it;
            // an older index would name some other object.
            if (t.IsAlive() && t.index >= 0 && t.index < count)
                frame.objects[static_cast<std::size_t>(t.index)].staticCount = t.staticCount;
        }
    }

    scorer_.ProcessObjects(frame);
    tracking_.store(scorer_.IsTracking(), std::memory_order_relaxed);
    if (IsTracking()) {
        tracked_ = Trackable(scorer_.GetTracked(), -1);
        if (coordBuffer_ != nullptr) {
            if (TrackedCoordinate* pair = coordBuffer_->TakeFree()) {
                pair->first = tracked_.GetCenterMassX();
                pair->second = tracked_.GetCenterMassY();
                pair->frameSequence = frame.sequence;
                coordBuffer_->Append(pair);
            }
        }
    }

    const std::uint32_t trackedId = tracked_.GetID();
    auto gone = std::remove_if(trackables_.begin(), trackables_.end(), [&](const Trackable& t) {
        if (!t.IsGone())
            return false;
        if (t.GetID() == trackedId)
            tracking_.store(false, std::memory_order_relaxed);
        return true;
    });
    trackables_.erase(gone, trackables_.end());
}

TrackableCollection& GetTrackableCollection()
{
    static TrackableCollection collection;
    return collection;
}

} // namespace Orvane
