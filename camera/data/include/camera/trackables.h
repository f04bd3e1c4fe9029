#pragma once
// Following objects from frame to frame (trackables), scoring and ranking
// them, and choosing the tracked object whose centre goes to the tracking
// engine.
#include "camera/double_buffer.h"
#include "camera/frame.h"
#include "camera/settings.h"
#include "camera/tracked_coordinate.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

namespace Orvane {

// One score function: rises from min to 1 at best, falls to 0 at max; the
// out-of-range value outside min..max. Values are single doubles the user
// interface may change while the processor thread scores.
class SawtoothFunction {
public:
    SawtoothFunction() = default;
    SawtoothFunction(const SawtoothFunction& other) { *this = other; }
    SawtoothFunction& operator=(const SawtoothFunction& other);
    virtual ~SawtoothFunction() = default;

    virtual void SetValues(double min, double max, double best, double outOfRange);
    virtual void SetValues(double min, double max, double best);
    virtual void SetOutOfRangeValue(double value);

    double Evaluate(double x) const;

    double GetMin() const { return min_.load(std::memory_order_relaxed); }
    double GetMax() const { return max_.load(std::memory_order_relaxed); }
    double GetBest() const { return best_.load(std::memory_order_relaxed); }
    double GetOutOfRangeValue() const { return outOfRange_.load(std::memory_order_relaxed); }

private:
    std::atomic<double> max_{0.0};
    std::atomic<double> min_{0.0};
    std::atomic<double> best_{0.0};
    std::atomic<double> outOfRange_{0.0};
    std::atomic<double> rising_{0.0};
    std::atomic<double> falling_{0.0};
};

class ObjectMassScorer : public SawtoothFunction {
public:
    double Score(const CameraObject& object) const;
};
class AspectRatioScorer : public SawtoothFunction {
public:
    double Score(const CameraObject& object) const;
    SawtoothFunction second;  // carried, not used in scoring
};
class ProximityScorer : public SawtoothFunction {
public:
    double Score(const CameraObject& object, const Frame& frame) const;
    // The score of an object whose smallest non-zero gap to another is
    // `smallest` (infinity: none), for the best value `best`.
    double ScoreSmallestGap(double smallest, double best) const;
    // An object's box as the gap sees it.
    struct Box {
        float leftEdge, rightEdge;
        std::int32_t topLine, bottomLine;
        std::int32_t index;
    };
    static constexpr std::size_t kAllPairs = 12;  // up to this many objects, every pair
    static constexpr int kMaxStrips = 16;
    static constexpr double kMinStripWidth = 64.0;
    static constexpr int kMaxCountedLines = 4096;
    // Working storage of SmallestGaps; reserved for `objects`, a frame of
    // that many allocates nothing.
    struct GapScratch {
        void Reserve(std::size_t objects)
        {
            boxes.reserve(objects);
            listed.reserve(objects * kMaxStrips);
            stripStart.reserve(kMaxStrips + 1);
            lineStart.reserve(kMaxCountedLines + 1);
        }
        std::vector<Box> boxes;
        std::vector<std::int32_t> lineStart;
        std::vector<std::int32_t> listed;
        std::vector<std::int32_t> stripStart;
    };
    // Every object's smallest non-zero gap, exactly as Score finds it, where
    // it is below `limit`; a gap of `limit` or more may come out as any value
    // not below it. `smallest` holds one entry per object.
    static void SmallestGaps(std::span<const CameraObject> objects, double limit, GapScratch& scratch,
                             std::span<double> smallest);
};
class LastTrackedScorer : public SawtoothFunction {
public:
    double Score(CameraObject& object, CameraObject& tracked) const;
};
class StaticScorer : public SawtoothFunction {
public:
    double Score(const CameraObject& object) const;
};
class ScreenCenterScorer : public SawtoothFunction {
public:
    double Score(CameraObject& object) const;
};

class TrackableScorer {
public:
    enum ScoreName {
        ObjectMass = 0,
        AspectRatio = 1,
        Proximity = 2,
        LastTracked = 3,
        StaticCount = 4,
        ScreenCenter = 5,
    };
    static constexpr int NumScores = 6;

    // Ranges and weights from Orvane::Settings as they are now.
    TrackableScorer();

    void SetValues(int name, double min, double max, double best);
    void SetValues(int name, double min, double max, double best, double outOfRange);
    double GetMinValue(int name) const;
    double GetMaxValue(int name) const;
    double GetBestValue(int name) const;
    double GetOutsideRangeValue(int name) const;
    double GetWeight(int name) const;  // -1 for an unknown name
    void SetWeight(int name, double value);  // unknown names are ignored

    double Score(CameraObject& object, const Frame& frame);
    void RankObjects(Frame& frame);
    void ProcessObjects(Frame& frame);
    bool IsTracking() const { return tracking_.load(std::memory_order_relaxed); }
    const CameraObject& GetTracked() const { return tracked_; }
    static int CompareObjects(const CameraObject* a, const CameraObject* b);

    // The objects ranked in the last frame, best first.
    const std::vector<CameraObject*>& GetRanked() const { return ranked_; }

private:
    SawtoothFunction* Function(int name);
    const SawtoothFunction* Function(int name) const;
    double ScoreWithProximity(CameraObject& object, double proximity);

    std::atomic<bool> tracking_{false};
    CameraObject tracked_;
    std::vector<CameraObject*> ranked_;
    int objectLimit_ = Settings::MaxNumberOfObjects_;
    std::atomic<double> weights_[NumScores];
    ObjectMassScorer mass_;
    AspectRatioScorer aspect_;
    ProximityScorer proximity_;
    LastTrackedScorer lastTracked_;
    StaticScorer static_;
    ScreenCenterScorer screenCenter_;
    std::int32_t framesMissing_ = 0;
    std::int32_t framesTrackingCurrent_ = 0;
    ProximityScorer::GapScratch gapScratch_;  // ranking scratch, reserved once
    std::vector<double> smallestGaps_;
};

class Trackable : public ObjectGeometry {
public:
    Trackable();
    Trackable(const Trackable& other) = default;
    Trackable& operator=(const Trackable& other) = default;
    Trackable(const CameraObject& object, int index);
    ~Trackable() override = default;

    void Update(const CameraObject& object, int index);
    void Age() { ++dormantCount; }
    bool IsGone() const { return dormantCount > static_cast<std::uint32_t>(Settings::DormantLimit_); }
    bool IsAlive() const { return dormantCount == 0; }
    std::uint32_t GetID() const { return id; }
    std::uint32_t GetDormantCount() const { return dormantCount; }
    void SetDormantCount(std::uint32_t value) { dormantCount = value; }
    double DistanceBetweenLastCenterAndThisCenter(ObjectGeometry& geometry);

    // The library-wide id counter, back to 0 (tests).
    static void ResetIdCounter();

    double previousX = -1.0;
    double previousY = -1.0;
    std::int32_t staticCount = 0;
    std::uint32_t dormantCount = 0;
    std::uint32_t id = 0;
    std::int32_t index = -1;  // object index in the frame it was last matched in

private:
    static std::atomic<std::uint32_t> nextId_;
};

class TrackableCollection {
public:
    using CoordBuffer = DoubleBuffer<TrackedCoordinate>;

    TrackableCollection();
    virtual ~TrackableCollection() = default;

    void Process(Frame& frame);
    // The processor's frame callback; runs Process while scoring is enabled.
    static void NewFrameCallback(Frame* frame, void* collection);

    const Trackable& GetTracked() const { return tracked_; }
    bool IsTracking() const { return tracking_.load(std::memory_order_relaxed); }
    bool NewTarget() const { return newTarget_; }
    CoordBuffer* GetTrackedCoordBuffer() const { return coordBuffer_; }
    void SetTrackedCoordBuffer(CoordBuffer* buffer) { coordBuffer_ = buffer; }
    TrackableScorer& GetScorer() { return scorer_; }
    const TrackableScorer& GetScorer() const { return scorer_; }
    int GetNumberOfObjects() const { return static_cast<int>(trackables_.size()); }
    const std::vector<Trackable>& GetTrackables() const { return trackables_; }

    static bool GetScoringEnabled() { return scoringEnabled_.load(std::memory_order_relaxed); }
    static void SetScoringEnabled(bool value) { scoringEnabled_.store(value, std::memory_order_relaxed); }

private:
    std::vector<Trackable> trackables_;
    Trackable tracked_;
    std::atomic<bool> tracking_{false};
    bool newTarget_ = false;
    std::vector<char> taken_;
    // Matching scratch, reserved once: the objects' centres sorted by the
    // grid cell they lie in, and where each cell's run of them starts.
    struct Centre {
        double x, y;
        int index;
    };
    struct CentreGrid {
        static constexpr int kMaxSide = 64;
        static constexpr int kMaxCells = kMaxSide * kMaxSide;
        double x0 = 0.0, y0 = 0.0, size = 1.0;
        int columns = 0, rows = 0, cells = 0;  // no cells: no object is within reach
        int Column(double x) const { return Index((x - x0) / size, columns); }
        int Row(double y) const { return Index((y - y0) / size, rows); }
        // Clamped before the conversion: a centre far outside the objects'
        // box lands in the edge cell, which keeps neighbours neighbours.
        static int Index(double u, int n)
        {
            if (!(u > 0.0))
                return 0;
            if (u >= n - 1)
                return n - 1;
            return static_cast<int>(u);
        }
    };
    static constexpr int kPlainScan = 12;  // up to this many objects, no grid
    CentreGrid BuildGrid(Frame& frame, int count);
    std::vector<Centre> centres_;
    std::vector<Centre> byCell_;
    std::vector<std::int32_t> cellStart_;
    CoordBuffer* coordBuffer_ = nullptr;
    TrackableScorer scorer_;

    static inline std::atomic<bool> scoringEnabled_{true};
};

// A collection shared by the whole library, made on first use.
TrackableCollection& GetTrackableCollection();

} // namespace Orvane
