#include "windows/tracking_settings_model.h"

#include <algorithm>
#include <cmath>

int CTrackingSettingsModel::IconForRotation(int rotation)
{
    return rotation >= 0 && rotation <= 3 ? kFirstRotationIcon + rotation : kFirstRotationIcon;
}

int CTrackingSettingsModel::DefaultThreshold(bool clip, int revision)
{
    if (revision == 9)
        return clip ? 240 : 150;
    return clip ? 230 : 130;
}

void CTrackingSettingsModel::Init()
{
    const int motion = host_.MotionType();
    clip_ = motion == 2 || motion == 3;
    const CTrackingSettings& t = live_.Tracking;
    leds_ = LedsField() != 0;
    blueLed_ = t.UseBlueLed != 0;
    rotation_ = t.CameraRotation;
    objectType_ = t.ObjectType;
    SetSize(static_cast<int>(std::trunc(t.ObjectSizeBest)));
    filtering_ = FilteringField() != 0;
    SetThreshold(ThresholdField());
    pendrixLocation_ = t.PendrixLocation;
    SetLightFiltering(filtering_);
}

bool CTrackingSettingsModel::SetLeds(bool on)
{
    if (!clip_ && !on) {
        if (ask_ && !ask_(kLedsOffQuestionId, kLedsOffQuestion))
            return leds_ = true;
    } else if (clip_ && on) {
        if (ask_ && !ask_(kLedsOnQuestionId, kLedsOnQuestion))
            return leds_ = false;
    }
    leds_ = on;
    LedsField() = on ? 1 : 0;
    host_.SaveSettings();
    host_.SetIlluminationLeds();
    return leds_;
}

void CTrackingSettingsModel::SetRotation(int quarterTurns)
{
    rotation_ = quarterTurns;
    live_.Tracking.CameraRotation = quarterTurns;
    host_.SaveSettings();
}

void CTrackingSettingsModel::SetLightFiltering(bool on)
{
    filtering_ = on;
    if (!on) {
        const int revision = host_.HardwareRevision();
        live_.Tracking.FilterThreshold = DefaultThreshold(false, revision);
        live_.Tracking.HalvexorFilterThreshold = DefaultThreshold(true, revision);
        SetThreshold(ThresholdField());
    }
    FilteringField() = on ? 1 : 0;
    host_.ReapplyCameraOptions();
    host_.SaveSettings();
}

int CTrackingSettingsModel::SetThreshold(int value)
{
    threshold_ = std::clamp(value, kThresholdMin, kThresholdMax);
    ThresholdField() = threshold_;
    host_.ReapplyCameraOptions();
    host_.SaveSettings();
    return threshold_;
}

void CTrackingSettingsModel::SetBlueLed(bool on)
{
    blueLed_ = on;
    live_.Tracking.UseBlueLed = on ? 1 : 0;
}

void CTrackingSettingsModel::SetObjectType(int type)
{
    objectType_ = type;
    live_.Tracking.SetObjectType(type);
    host_.SaveSettings();
    SetSize(static_cast<int>(std::trunc(live_.Tracking.ObjectSizeBest)));
}

int CTrackingSettingsModel::SetSize(int value)
{
    size_ = std::clamp(value, kSizeMin, kSizeMax);
    live_.Tracking.ObjectSizeBest = static_cast<float>(size_);
    host_.ApplyScorerLimits();
    host_.SaveSettings();
    return size_;
}

void CTrackingSettingsBackup::Restore(CAppSettings& live, ITrackingSettingsHost& host) const
{
    std::vector<std::uint32_t> favourites = std::move(live.Favorites);
    live = saved_;
    live.Favorites = std::move(favourites);
    host.SaveSettings();
    host.ApplyTrackingSettings();
}
