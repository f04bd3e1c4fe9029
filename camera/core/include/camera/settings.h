#pragma once
// The camera library's tunables. Constants are fixed at build time;
// variables start at their defaults and may be changed by the main program
// while the library's threads read them. All camera systems of a process
// share them. Per-model values are chosen by hardware revision only.
//
// Each variable is one atomic value: readers on the packet processor thread
// and the main program's writers need no lock, and every value reads back
// exactly as it was set.
#include <atomic>
#include <cstdint>

namespace Orvane {

class Settings {
public:
    Settings() = delete;

    // Frame geometry by hardware revision.
    static int GetMaxNumScanLines(int revision);   // frame height in lines
    static int GetMaxScanLineWidth(int revision);  // frame width in pixels
    static int GetHrefOffset(int revision);        // horizontal sensor window offset
    static int GetVrefOffset(int revision);        // vertical sensor window offset
    static constexpr int MaxNumberOfObjects_ = 400;
    static constexpr int MinNumberOfObjects_ = 400;
    static constexpr int DeltaLimit_ = 10;
    static constexpr int DormantLimit_ = 200;
    static constexpr int StaticMaximum_ = 2000;
    static constexpr int StaticReset_ = 1000;
    static constexpr int StaticLimit_ = 300;
    static constexpr int ActiveThreshold_ = 20;
    static constexpr int SkipLines_ = 2;
    static constexpr int MinimumSize_ = 7;

    static constexpr int GetMaxNumberOfObjects() { return MaxNumberOfObjects_; }
    static constexpr int GetMinNumberOfObjects() { return MinNumberOfObjects_; }
    static constexpr int GetDeltaLimit() { return DeltaLimit_; }
    static constexpr int GetDormantLimit() { return DormantLimit_; }
    static constexpr int GetStaticMaximum() { return StaticMaximum_; }
    static constexpr int GetStaticReset() { return StaticReset_; }
    static constexpr int GetStaticLimit() { return StaticLimit_; }
    static constexpr int GetActiveThreshold() { return ActiveThreshold_; }
    static constexpr int GetSkipLines() { return SkipLines_; }
    static constexpr int GetMinimumSize() { return MinimumSize_; }

    static bool DoStaticTest() { return StaticTest_.load(std::memory_order_relaxed); }
    static void DoStaticTest(bool value) { StaticTest_.store(value, std::memory_order_relaxed); }
    static bool DoAspectTest() { return AspectTest_.load(std::memory_order_relaxed); }
    static void DoAspectTest(bool value) { AspectTest_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMinimumArea() { return MinimumArea_.load(std::memory_order_relaxed); }
    static void SetMinimumArea(std::uint32_t value) { MinimumArea_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMaximumArea() { return MaximumArea_.load(std::memory_order_relaxed); }
    static void SetMaximumArea(std::uint32_t value) { MaximumArea_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetBestArea() { return BestArea_.load(std::memory_order_relaxed); }
    static void SetBestArea(std::uint32_t value) { BestArea_.store(value, std::memory_order_relaxed); }
    static double GetAreaWeight() { return AreaWeight_.load(std::memory_order_relaxed); }
    static void SetAreaWeight(double value) { AreaWeight_.store(value, std::memory_order_relaxed); }
    static double GetMinimumAspectRatio() { return MinimumAspectRatio_.load(std::memory_order_relaxed); }
    static void SetMinimumAspectRatio(double value) { MinimumAspectRatio_.store(value, std::memory_order_relaxed); }
    static double GetMaximumAspectRatio() { return MaximumAspectRatio_.load(std::memory_order_relaxed); }
    static void SetMaximumAspectRatio(double value) { MaximumAspectRatio_.store(value, std::memory_order_relaxed); }
    static double GetBestAspectRatio() { return BestAspectRatio_.load(std::memory_order_relaxed); }
    static void SetBestAspectRatio(double value) { BestAspectRatio_.store(value, std::memory_order_relaxed); }
    static double GetAspectRatioWeight() { return AspectRatioWeight_.load(std::memory_order_relaxed); }
    static void SetAspectRatioWeight(double value) { AspectRatioWeight_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMinimumProximity() { return MinimumProximity_.load(std::memory_order_relaxed); }
    static void SetMinimumProximity(std::uint32_t value) { MinimumProximity_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMaximumProximity() { return MaximumProximity_.load(std::memory_order_relaxed); }
    static void SetMaximumProximity(std::uint32_t value) { MaximumProximity_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetBestProximity() { return BestProximity_.load(std::memory_order_relaxed); }
    static void SetBestProximity(std::uint32_t value) { BestProximity_.store(value, std::memory_order_relaxed); }
    static double GetProximityWeight() { return ProximityWeight_.load(std::memory_order_relaxed); }
    static void SetProximityWeight(double value) { ProximityWeight_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMinimumDistLastTracked() { return MinimumDistLastTracked_.load(std::memory_order_relaxed); }
    static void SetMinimumDistLastTracked(std::uint32_t value) { MinimumDistLastTracked_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMaximumDistLastTracked() { return MaximumDistLastTracked_.load(std::memory_order_relaxed); }
    static void SetMaximumDistLastTracked(std::uint32_t value) { MaximumDistLastTracked_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetBestDistLastTracked() { return BestDistLastTracked_.load(std::memory_order_relaxed); }
    static void SetBestDistLastTracked(std::uint32_t value) { BestDistLastTracked_.store(value, std::memory_order_relaxed); }
    static double GetDistLastTrackedWeight() { return DistLastTrackedWeight_.load(std::memory_order_relaxed); }
    static void SetDistLastTrackedWeight(double value) { DistLastTrackedWeight_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMinimumStaticCount() { return MinimumStaticCount_.load(std::memory_order_relaxed); }
    static void SetMinimumStaticCount(std::uint32_t value) { MinimumStaticCount_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMaximumStaticCount() { return MaximumStaticCount_.load(std::memory_order_relaxed); }
    static void SetMaximumStaticCount(std::uint32_t value) { MaximumStaticCount_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetBestStaticCount() { return BestStaticCount_.load(std::memory_order_relaxed); }
    static void SetBestStaticCount(std::uint32_t value) { BestStaticCount_.store(value, std::memory_order_relaxed); }
    static double GetStaticCountWeight() { return StaticCountWeight_.load(std::memory_order_relaxed); }
    static void SetStaticCountWeight(double value) { StaticCountWeight_.store(value, std::memory_order_relaxed); }
    static double GetScreenCenterWeight() { return ScreenCenterWeight_.load(std::memory_order_relaxed); }
    static void SetScreenCenterWeight(double value) { ScreenCenterWeight_.store(value, std::memory_order_relaxed); }
    static double GetImagerCenterX() { return ImagerCenterX_.load(std::memory_order_relaxed); }
    static void SetImagerCenterX(double value) { ImagerCenterX_.store(value, std::memory_order_relaxed); }
    static double GetImagerCenterY() { return ImagerCenterY_.load(std::memory_order_relaxed); }
    static void SetImagerCenterY(double value) { ImagerCenterY_.store(value, std::memory_order_relaxed); }
    static std::int32_t GetNumFramesTrackedMissing() { return NumFramesTrackedMissing_.load(std::memory_order_relaxed); }
    static std::int32_t GetMinNumFramesTrackingCurrent() { return MinNumFramesTrackingCurrent_.load(std::memory_order_relaxed); }
    static std::uint32_t GetMinimumWidth() { return MinimumWidth_.load(std::memory_order_relaxed); }
    static void SetMinimumWidth(std::uint32_t value) { MinimumWidth_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMaximumWidth() { return MaximumWidth_.load(std::memory_order_relaxed); }
    static void SetMaximumWidth(std::uint32_t value) { MaximumWidth_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMinimumHeight() { return MinimumHeight_.load(std::memory_order_relaxed); }
    static void SetMinimumHeight(std::uint32_t value) { MinimumHeight_.store(value, std::memory_order_relaxed); }
    static std::uint32_t GetMaximumHeight() { return MaximumHeight_.load(std::memory_order_relaxed); }
    static void SetMaximumHeight(std::uint32_t value) { MaximumHeight_.store(value, std::memory_order_relaxed); }
    static std::int32_t GetCameraRotation() { return CameraRotation_.load(std::memory_order_relaxed); }
    static void SetCameraRotation(std::int32_t value) { CameraRotation_.store(value, std::memory_order_relaxed); }
    static bool InvertX() { return InvertX_.load(std::memory_order_relaxed); }
    static void InvertX(bool value) { InvertX_.store(value, std::memory_order_relaxed); }
    static bool InvertY() { return InvertY_.load(std::memory_order_relaxed); }
    static void InvertY(bool value) { InvertY_.store(value, std::memory_order_relaxed); }

    // Every variable back to its default (tests and a fresh start).
    static void ResetToDefaults();

private:
    static inline std::atomic<bool> StaticTest_{true};
    static inline std::atomic<bool> AspectTest_{true};
    static inline std::atomic<std::uint32_t> MinimumArea_{3};
    static inline std::atomic<std::uint32_t> MaximumArea_{200};
    static inline std::atomic<std::uint32_t> BestArea_{100};
    static inline std::atomic<double> AreaWeight_{1.0};
    static inline std::atomic<double> MinimumAspectRatio_{0.25};
    static inline std::atomic<double> MaximumAspectRatio_{4.0};
    static inline std::atomic<double> BestAspectRatio_{1.0};
    static inline std::atomic<double> AspectRatioWeight_{1.0};
    static inline std::atomic<std::uint32_t> MinimumProximity_{3};
    static inline std::atomic<std::uint32_t> MaximumProximity_{300};
    static inline std::atomic<std::uint32_t> BestProximity_{20};
    static inline std::atomic<double> ProximityWeight_{1.0};
    static inline std::atomic<std::uint32_t> MinimumDistLastTracked_{0};
    static inline std::atomic<std::uint32_t> MaximumDistLastTracked_{20};
    static inline std::atomic<std::uint32_t> BestDistLastTracked_{0};
    static inline std::atomic<double> DistLastTrackedWeight_{2.0};
    static inline std::atomic<std::uint32_t> MinimumStaticCount_{0};
    static inline std::atomic<std::uint32_t> MaximumStaticCount_{200};
    static inline std::atomic<std::uint32_t> BestStaticCount_{0};
    static inline std::atomic<double> StaticCountWeight_{1.0};
    static inline std::atomic<double> ScreenCenterWeight_{1.0};
    static inline std::atomic<double> ImagerCenterX_{128.0};
    static inline std::atomic<double> ImagerCenterY_{128.0};
    static inline std::atomic<std::int32_t> NumFramesTrackedMissing_{50};
    static inline std::atomic<std::int32_t> MinNumFramesTrackingCurrent_{100};
    static inline std::atomic<std::uint32_t> MinimumWidth_{3};
    static inline std::atomic<std::uint32_t> MaximumWidth_{15};
    static inline std::atomic<std::uint32_t> MinimumHeight_{2};
    static inline std::atomic<std::uint32_t> MaximumHeight_{15};
    static inline std::atomic<std::int32_t> CameraRotation_{0};
    static inline std::atomic<bool> InvertX_{false};
    static inline std::atomic<bool> InvertY_{false};
};

} // namespace Orvane
