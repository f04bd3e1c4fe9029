#pragma once
// Trackable matching, scoring and ranking as they ran before the sweep and
// the sorted index: every trackable against every object, every object's
// proximity against every other. Kept as the reference the library is
// checked against (trackables_test) and timed beside (bench/camera_data).
// The score functions themselves are the library's.
#include "camera/settings.h"
#include "camera/trackables.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace reference {

using Orvane::CameraObject;
using Orvane::Frame;
using Orvane::Settings;
using Orvane::Trackable;

inline double CityBlock(double x0, double y0, double x1, double y1)
{
    return std::abs(x0 - x1) + std::abs(y0 - y1);
}

// The scorer with its ranges and weights at the library's defaults.
class Scorer {
public:
    Scorer()
    {
        ranked.reserve(static_cast<std::size_t>(Settings::MaxNumberOfObjects_));
        mass.SetValues(Settings::GetMinimumArea(), Settings::GetMaximumArea(), Settings::GetBestArea(), -2.0);
        aspect.SetValues(Settings::GetMinimumAspectRatio(), Settings::GetMaximumAspectRatio(),
                         Settings::GetBestAspectRatio(), 0.0);
        proximity.SetValues(Settings::GetMinimumProximity(), Settings::GetMaximumProximity(),
                            Settings::GetBestProximity(), 0.0);
        lastTracked.SetValues(Settings::GetMinimumDistLastTracked(), Settings::GetMaximumDistLastTracked(),
                              Settings::GetBestDistLastTracked(), 0.0);
        still.SetValues(Settings::GetMinimumStaticCount(), Settings::GetMaximumStaticCount(),
                        Settings::GetBestStaticCount(), 0.0);
        screenCenter.SetValues(0.0, 2.0 * Settings::GetImagerCenterX(), 0.0, 0.0);
        weights[0] = Settings::GetAreaWeight();
        weights[1] = Settings::GetAspectRatioWeight();
        weights[2] = Settings::GetProximityWeight();
        weights[3] = Settings::GetDistLastTrackedWeight();
        weights[4] = Settings::GetStaticCountWeight();
        weights[5] = Settings::GetScreenCenterWeight();
    }

    double Proximity(const CameraObject& o, const Frame& frame) const
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
        if (smallest >= proximity.GetBest())
            return 1.0;
        return proximity.Evaluate(smallest);
    }

    double Score(CameraObject& object, const Frame& frame)
    {
        double score = still.Score(object) * weights[4] + mass.Score(object) * weights[0] +
                       aspect.Score(object) * weights[1] + Proximity(object, frame) * weights[2] +
                       screenCenter.Score(object) * weights[5];
        if (tracking && framesTrackingCurrent >= Settings::GetMinNumFramesTrackingCurrent())
            score += lastTracked.Score(object, tracked) * weights[3];
        return score;
    }

    void RankObjects(Frame& frame)
    {
        ranked.clear();
        for (CameraObject& o : frame.GetObjects()) {
            o.score = Score(o, frame);
            o.rank = 0;
            if (o.score > 0.0 && static_cast<int>(ranked.size()) < Settings::MaxNumberOfObjects_)
                ranked.push_back(&o);
        }
        if (ranked.size() > 1 && ranked.size() < 30)
            std::sort(ranked.begin(), ranked.end(), [](const CameraObject* a, const CameraObject* b) {
                return Orvane::TrackableScorer::CompareObjects(a, b) < 0;
            });
        for (std::size_t i = 0; i < ranked.size(); ++i)
            ranked[i]->rank = static_cast<std::int32_t>(i + 1);
    }

    void ProcessObjects(Frame& frame)
    {
        RankObjects(frame);
        if (ranked.empty()) {
            tracking = false;
            return;
        }
        CameraObject& best = *ranked.front();
        const auto take = [&](CameraObject& o) {
            tracked = o;
            tracked.ClearSegmentList();
        };
        if (tracking && CityBlock(best.GetCenterMassX(), best.GetCenterMassY(), tracked.GetCenterMassX(),
                                  tracked.GetCenterMassY()) >= 10.0) {
            if (framesMissing < Settings::GetNumFramesTrackedMissing()) {
                ranked.front() = &tracked;
                ++framesMissing;
            } else {
                take(best);
                framesMissing = 0;
                framesTrackingCurrent = 0;
            }
        } else {
            take(best);
            ++framesTrackingCurrent;
        }
        tracking = true;
    }

    Orvane::ObjectMassScorer mass;
    Orvane::AspectRatioScorer aspect;
    Orvane::ProximityScorer proximity;
    Orvane::LastTrackedScorer lastTracked;
    Orvane::StaticScorer still;
    Orvane::ScreenCenterScorer screenCenter;
    double weights[6] = {};
    bool tracking = false;
    CameraObject tracked;
    std::vector<CameraObject*> ranked;
    std::int32_t framesMissing = 0;
    std::int32_t framesTrackingCurrent = 0;
};

// TrackableCollection::Process without the coordinate buffer.
class Collection {
public:
    Collection()
    {
        trackables.reserve(2 * Settings::MaxNumberOfObjects_);
        taken.reserve(2 * Settings::MaxNumberOfObjects_);
    }

    void Process(Frame& frame)
    {
        const int count = frame.objectCount;
        taken.assign(static_cast<std::size_t>(count), 0);
        for (Trackable& t : trackables) {
            const double tx = t.GetCenterMassX(), ty = t.GetCenterMassY();
            int chosen = -1;
            for (int i = 0; i < count; ++i) {
                if (taken[static_cast<std::size_t>(i)])
                    continue;
                CameraObject& o = frame.objects[static_cast<std::size_t>(i)];
                if (CityBlock(o.GetCenterMassX(), o.GetCenterMassY(), tx, ty) < Settings::DeltaLimit_)
                    chosen = i;
            }
            if (chosen >= 0) {
                t.Update(frame.objects[static_cast<std::size_t>(chosen)], chosen);
                taken[static_cast<std::size_t>(chosen)] = 1;
            } else {
                t.Age();
            }
        }
        for (int i = 0; i < count; ++i) {
            if (!taken[static_cast<std::size_t>(i)])
                trackables.emplace_back(frame.objects[static_cast<std::size_t>(i)], i);
        }
        if (Settings::DoStaticTest()) {
            for (Trackable& t : trackables) {
                if (t.staticCount > Settings::StaticMaximum_)
                    t.staticCount = Settings::StaticReset_;
                if (t.IsAlive() && t.index >= 0 && t.index < count)
                    frame.objects[static_cast<std::size_t>(t.index)].staticCount = t.staticCount;
            }
        }
        scorer.ProcessObjects(frame);
        tracking = scorer.tracking;
        if (tracking)
            tracked = Trackable(scorer.tracked, -1);
        const std::uint32_t trackedId = tracked.GetID();
        auto gone = std::remove_if(trackables.begin(), trackables.end(), [&](const Trackable& t) {
            if (!t.IsGone())
                return false;
            if (t.GetID() == trackedId)
                tracking = false;
            return true;
        });
        trackables.erase(gone, trackables.end());
    }

    std::vector<Trackable> trackables;
    Trackable tracked;
    bool tracking = false;
    std::vector<char> taken;
    Scorer scorer;
};

} // namespace reference
