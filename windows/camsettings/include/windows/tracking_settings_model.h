#pragma once
// The camera settings rules, without Qt: every change goes into the live
// settings at once, is saved and, where it concerns the camera or the
// scorer, applied to the running system.
#include <cstdint>
#include <functional>
#include <string_view>

#include "profiles/AppSettings.h"

// What the dialog drives outside the settings object (the main sheet's work).
class ITrackingSettingsHost {
public:
    virtual ~ITrackingSettingsHost() = default;
    virtual int MotionType() const = 0;       // the current profile's
    virtual int HardwareRevision() const = 0; // the camera's
    virtual void SaveSettings() = 0;          // settings.xml
    virtual void ReapplyCameraOptions() = 0;
    virtual void ApplyScorerLimits() = 0;
    virtual void SetIlluminationLeds() = 0;
    // The whole tracking block, after a restore.
    virtual void ApplyTrackingSettings() = 0;
};

// Yes/No question with the string id and its text; true for Yes.
using YesNoQuestion = std::function<bool(int stringId, std::u16string_view text)>;

inline constexpr int kLedsOffQuestionId = 5103;
inline constexpr std::u16string_view kLedsOffQuestion =
    u"Turning off the Infrared Illumination LEDs may cause your Vistrel to stop tracking.\n\n"
    u"Are you sure that you want to turn the LEDs off?";
inline constexpr int kLedsOnQuestionId = 5129;
inline constexpr std::u16string_view kLedsOnQuestion =
    u"Turning on the Infrared Illumination LEDs is unneccesary when using the Halvexor\n\n"
    u"Are you sure that you want to turn the LEDs on?";

class CTrackingSettingsModel {
public:
    static constexpr int kThresholdMin = 40, kThresholdMax = 253;
    static constexpr int kSizeMin = 5, kSizeMax = 500;
    static constexpr int kFirstRotationIcon = 136;

    CTrackingSettingsModel(CAppSettings& live, ITrackingSettingsHost& host, YesNoQuestion ask)
        : live_(live), host_(host), ask_(std::move(ask))
    {
    }

    // Loads the controls from the live settings and runs the filtering step once.
    void Init();

    bool ClipMode() const { return clip_; }
    bool LedsChecked() const { return leds_; }
    bool LightFiltering() const { return filtering_; }
    bool ThresholdEnabled() const { return filtering_; }
    int Threshold() const { return threshold_; }
    int Size() const { return size_; }
    int Rotation() const { return rotation_; }
    int RotationIcon() const { return IconForRotation(rotation_); }
    int ObjectType() const { return objectType_; }
    bool BlueLed() const { return blueLed_; }

    // Each returns the control's resulting state.
    bool SetLeds(bool on);
    void SetRotation(int quarterTurns);
    void SetLightFiltering(bool on);
    int SetThreshold(int value);
    int StepThreshold(int delta) { return SetThreshold(threshold_ + delta); }
    void SetBlueLed(bool on);
    void SetObjectType(int type);
    int SetSize(int value);
    int StepSize(int delta) { return SetSize(size_ + delta); }

    static int IconForRotation(int rotation);
    // Threshold defaults of the set in use.
    static int DefaultThreshold(bool clip, int revision);

private:
    std::int32_t& LedsField() { return clip_ ? live_.Tracking.HalvexorLedsOn : live_.Tracking.LedsOn; }
    std::int32_t& FilteringField()
    {
        return clip_ ? live_.Tracking.HalvexorLightFiltering : live_.Tracking.LightFiltering;
    }
    std::int32_t& ThresholdField()
    {
        return clip_ ? live_.Tracking.HalvexorFilterThreshold : live_.Tracking.FilterThreshold;
    }

    CAppSettings& live_;
    ITrackingSettingsHost& host_;
    YesNoQuestion ask_;
    bool clip_ = false;
    bool leds_ = false;
    bool filtering_ = false;
    int threshold_ = kThresholdMin;
    int size_ = kSizeMin;
    int rotation_ = -1;
    int objectType_ = -1;
    bool blueLed_ = false;
    std::int32_t pendrixLocation_ = 0;
};

// The opener's copy: everything but the favourites list.
class CTrackingSettingsBackup {
public:
    explicit CTrackingSettingsBackup(const CAppSettings& live) : saved_(live) { saved_.Favorites.clear(); }
    // Copies the saved values back (favourites untouched), saves and applies them.
    void Restore(CAppSettings& live, ITrackingSettingsHost& host) const;
    const CAppSettings& Saved() const { return saved_; }

private:
    CAppSettings saved_;
};
