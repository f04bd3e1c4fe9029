#include "camera/settings.h"

namespace Orvane {

int Settings::GetMaxNumScanLines(int revision)
{
    switch (revision) {
    case 4:
        return 290;
    case 5:
    case 6:
        return 288;
    case 7:
    case 8:
    case 9:
    case 12:
        return 480;
    default:
        return 256;
    }
}

int Settings::GetMaxScanLineWidth(int revision)
{
    switch (revision) {
    case 4:
    case 5:
    case 6:
        return 355;
    case 7:
    case 8:
    case 9:
    case 12:
        return 640;
    default:
        return 256;
    }
}

int Settings::GetHrefOffset(int revision)
{
    switch (revision) {
    case 4:
        return 42;
    case 5:
        return 74;
    default:
        return 0;
    }
}

int Settings::GetVrefOffset(int revision)
{
    switch (revision) {
    case 4:
        return 12;
    case 5:
        return 11;
    default:
        return 0;
    }
}

void Settings::ResetToDefaults()
{
    StaticTest_.store(true, std::memory_order_relaxed);
    AspectTest_.store(true, std::memory_order_relaxed);
    MinimumArea_.store(3, std::memory_order_relaxed);
    MaximumArea_.store(200, std::memory_order_relaxed);
    BestArea_.store(100, std::memory_order_relaxed);
    AreaWeight_.store(1.0, std::memory_order_relaxed);
    MinimumAspectRatio_.store(0.25, std::memory_order_relaxed);
    MaximumAspectRatio_.store(4.0, std::memory_order_relaxed);
    BestAspectRatio_.store(1.0, std::memory_order_relaxed);
    AspectRatioWeight_.store(1.0, std::memory_order_relaxed);
    MinimumProximity_.store(3, std::memory_order_relaxed);
    MaximumProximity_.store(300, std::memory_order_relaxed);
    BestProximity_.store(20, std::memory_order_relaxed);
    ProximityWeight_.store(1.0, std::memory_order_relaxed);
    MinimumDistLastTracked_.store(0, std::memory_order_relaxed);
    MaximumDistLastTracked_.store(20, std::memory_order_relaxed);
    BestDistLastTracked_.store(0, std::memory_order_relaxed);
    DistLastTrackedWeight_.store(2.0, std::memory_order_relaxed);
    MinimumStaticCount_.store(0, std::memory_order_relaxed);
    MaximumStaticCount_.store(200, std::memory_order_relaxed);
    BestStaticCount_.store(0, std::memory_order_relaxed);
    StaticCountWeight_.store(1.0, std::memory_order_relaxed);
    ScreenCenterWeight_.store(1.0, std::memory_order_relaxed);
    ImagerCenterX_.store(128.0, std::memory_order_relaxed);
    ImagerCenterY_.store(128.0, std::memory_order_relaxed);
    NumFramesTrackedMissing_.store(50, std::memory_order_relaxed);
    MinNumFramesTrackingCurrent_.store(100, std::memory_order_relaxed);
    MinimumWidth_.store(3, std::memory_order_relaxed);
    MaximumWidth_.store(15, std::memory_order_relaxed);
    MinimumHeight_.store(2, std::memory_order_relaxed);
    MaximumHeight_.store(15, std::memory_order_relaxed);
    CameraRotation_.store(0, std::memory_order_relaxed);
    InvertX_.store(false, std::memory_order_relaxed);
    InvertY_.store(false, std::memory_order_relaxed);
}

} // namespace Orvane
