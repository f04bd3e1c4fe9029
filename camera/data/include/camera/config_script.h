#pragma once
// The camera system's set-up as an XML file: the six score functions with
// their weights, I2C register writes, LED states and camera options.
#include "camera/trackables.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Orvane {

// The LEDs a script switches, as a camera offers them. Each call reports
// whether the camera took the command; Confirm reads the LED state back.
class CameraLedControl {
public:
    // LED state bits as the camera reports them.
    static constexpr unsigned Illumination = 0x80;
    static constexpr unsigned Case = 0x40;
    static constexpr unsigned Green = 0x20;
    static constexpr unsigned Red = 0x10;

    virtual ~CameraLedControl() = default;
    virtual bool SetIlluminationLeds(bool on) = 0;
    virtual bool SetGreenStatus(bool on) = 0;
    virtual bool SetRedStatus(bool on) = 0;
    virtual bool SetCaseLight(bool on) = 0;
    // True when the camera's LED state shows exactly these four bits.
    virtual bool Confirm(unsigned expectedBits) = 0;
};

// Binds the LED control to a camera of the device layer (Orvane::Camera):
// its operations answer -1 when they do not apply, and ReadLeds returns
// the LED byte after every command queued before it.
template <class CameraT>
class CameraLedBinding : public CameraLedControl {
public:
    explicit CameraLedBinding(CameraT& camera) : camera_(camera) {}
    bool SetIlluminationLeds(bool on) override { return (on ? camera_.TurnLedOn() : camera_.TurnLedOff()) >= 0; }
    bool SetGreenStatus(bool on) override { return (on ? camera_.StatusOn() : camera_.StatusOff()) >= 0; }
    bool SetRedStatus(bool on) override { return (on ? camera_.StatusRedOn() : camera_.StatusRedOff()) >= 0; }
    bool SetCaseLight(bool on) override { return (on ? camera_.StatusCaseOn() : camera_.StatusCaseOff()) >= 0; }
    bool Confirm(unsigned expectedBits) override { return (camera_.ReadLeds() & 0xF0u) == expectedBits; }

private:
    CameraT& camera_;
};

class CameraConfigScript {
public:
    static constexpr int DefaultVideoThreshold = 100;
    // A script file beyond this is refused unparsed.
    static constexpr std::int64_t MaxFileBytes = 1 << 20;

    struct ObjectScore {
        TrackableScorer::ScoreName name;
        std::string elementName;
        double min = 0.0;
        double max = 0.0;
        double best = 0.0;
        double outOfRange = 0.0;
        double weight = 0.0;
        bool operator==(const ObjectScore&) const = default;
    };

    struct I2cCommand {
        std::uint8_t address = 0;
        std::uint8_t subAddress = 0;
        std::uint8_t data = 0;
        bool operator==(const I2cCommand&) const = default;
    };

    CameraConfigScript();

    // Reads the file; on failure the script is unchanged and GetLastError
    // tells why. I2C values must fit in a byte and score values be finite.
    bool ReadXml(std::string_view path);
    // Writes through a temporary file in the same folder, flushed to disk
    // before it replaces the old file.
    bool WriteXml(std::string_view path) const;
    std::string ToXml() const;
    std::string ToString() const;
    const std::string& GetLastError() const { return error_; }

    // Weights first, then the ranges: setting a weight rewrites the
    // out-of-range values, so the script's own must come after.
    void SetScorerValues(TrackableScorer& scorer) const;
    void GetScorerConfig(const TrackableScorer& scorer);
    // True only when every LED command was taken and the camera then shows
    // the script's LED state.
    bool SetLeds(CameraLedControl& leds) const;

    bool GetPulseLeds() const { return pulseLeds_; }
    void SetPulseLeds(bool v) { pulseLeds_ = v; }
    int GetVideoThreshold() const { return videoThreshold_; }
    void SetVideoThreshold(int v) { videoThreshold_ = v; }
    bool GetInvertVideo() const { return invertVideo_; }
    void SetInvertVideo(bool v) { invertVideo_ = v; }
    bool GetIlluminationLedsOn() const { return illumination_; }
    void SetIlluminationLedsOn(bool v) { illumination_ = v; }
    bool GetGreenStatusLedOn() const { return green_; }
    void SetGreenStatusLedOn(bool v) { green_ = v; }
    bool GetRedStatusLedOn() const { return red_; }
    void SetRedStatusLedOn(bool v) { red_ = v; }
    bool GetCaseLightOn() const { return caseLight_; }
    void SetCaseLightOn(bool v) { caseLight_ = v; }
    void AddI2cCommand(const I2cCommand& command) { i2c_.push_back(command); }
    const std::vector<I2cCommand>& GetI2cCommands() const { return i2c_; }

    ObjectScore& GetObjectMassScore() { return scores_[0]; }
    ObjectScore& GetLastTrackedScore() { return scores_[1]; }
    ObjectScore& GetStaticCountScore() { return scores_[2]; }
    ObjectScore& GetAspectRatioScore() { return scores_[3]; }
    ObjectScore& GetProximityScore() { return scores_[4]; }
    ObjectScore& GetScreenCenterScore() { return scores_[5]; }
    const std::vector<ObjectScore>& GetScores() const { return scores_; }

    bool operator==(const CameraConfigScript& other) const;

private:
    std::vector<ObjectScore> scores_;
    bool pulseLeds_ = false;
    int videoThreshold_ = DefaultVideoThreshold;
    bool invertVideo_ = false;
    bool illumination_ = false;
    bool green_ = false;
    bool red_ = false;
    bool caseLight_ = false;
    std::vector<I2cCommand> i2c_;
    std::string error_;
};

// Gives the script's score values to the scorer and sets the LEDs; true
// only when both took.
bool ApplyConfiguration(const CameraConfigScript& script, TrackableScorer& scorer, CameraLedControl& leds);
// Reads the file into the script and applies it; false when either fails.
bool ApplyConfiguration(std::string_view path, CameraConfigScript& script, TrackableScorer& scorer,
                        CameraLedControl& leds);

} // namespace Orvane
