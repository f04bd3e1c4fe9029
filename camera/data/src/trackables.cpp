#include "camera/trackables.h"

#include <algorithm>
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

double ProximityScorer::Score(const CameraObject& o, const Frame& frame) const
{
    if (frame.objectCount == 1)
        return 1.0;
    double smallest = std::numeric_limits<double>::infinity();
    for (const CameraObject& other : frame.GetObjects()) {
        const double gx = std::max({0.0, static_cast<double>(other.leftEdge - o.rightEdge),
                                    static_cast<double>(o.leftEdge - other.rightEdge)});
        const double gy = std::max({0.0, static_cast<double>(other.topLine - o.bottomLine),
                                    static_cast<double>(o.topLine - other.bottomLine)});
        const double gap = gx + gy;
        if (gap != 0.0)
            smallest = std::min(smallest, gap);
    }
    if (smallest >= GetBest())
        return 1.0;
    return Evaluate(smallest);
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
    double score = static_.Score(object) * GetWeight(StaticCount) + mass_.Score(object) * GetWeight(ObjectMass) +
                   aspect_.Score(object) * GetWeight(AspectRatio) +
                   proximity_.Score(object, frame) * GetWeight(Proximity) +
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
    for (CameraObject& o : frame.GetObjects()) {
        o.score = Score(o, frame);
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
    for (Trackable& t : trackables_) {
        const double tx = t.GetCenterMassX(), ty = t.GetCenterMassY();
        int chosen = -1;
        for (int i = 0; i < count; ++i) {
            if (taken_[static_cast<std::size_t>(i)])
                continue;
            CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
            if (cityBlock(o.GetCenterMassX(), o.GetCenterMassY(), tx, ty) < Settings::DeltaLimit_)
                chosen = i;
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
