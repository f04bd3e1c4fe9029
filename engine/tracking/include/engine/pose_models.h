#pragma once
// The camera model (per hardware revision) and the clip model (per mounting
// location) the three-point solver works with.
#include <cstdint>
#include <optional>
#include <string_view>

struct CameraModel {
    float imageWidth = 355.0f;  // pixels
    float imageHeight = 290.0f; // pixels
    float sensorWidth = 2.2f;   // mm
    float sensorHeight = 1.8f;  // mm
    float focalLength = 3.7f;   // mm
    bool distortion = false;    // undistort the points
    float fx = 0.0f;
    float fy = 0.0f;
    float k1 = 0.0f;
    float k2 = 0.0f;
};

// The camera model of a hardware revision.
CameraModel CameraModelForRevision(int hardwareRevision);

// The three-point clip.
struct CHeadsetModel {
    double TX = 0.0, TY = 0.0, TZ = 0.0; // pivot offset from P0 (mm, clip frame)
    double pivot[3] = {0.0, 0.0, 0.0};   // copy made by Finish
    double Dist01 = 0.0, Dist02 = 0.0, Dist12 = 0.0;
    double Distol = 0.0;
    double DistCenter = 100.0;
    double Del0 = 0.0, Del1 = 0.0, Del2 = 0.0; // start depths
    std::int32_t P0OnTop = 0;
    double DistBack = 25.0;
    std::int32_t Location = 0;
    std::int32_t Sorting = 0;

    // The built-in clip of a mounting location (Finish applied).
    static CHeadsetModel ForLocation(int location);

    bool operator==(const CHeadsetModel&) const = default;

    // Recomputes the derived fields. P0OnTop is derived from the start
    // depths: 1 when P0 starts farther from the camera than both other
    // markers. No built-in clip has that, so the invert check of location 3
    // fires only when P0 is solved farther than both others.
    void Finish();
};

// Reads the DWORD values of the clip override key; the registry adapter and
// the tests' tables implement it.
class IModelOverrideSource {
public:
    virtual ~IModelOverrideSource() = default;
    virtual std::optional<std::uint32_t> ReadDword(std::string_view valueName) const = 0;
};

// Access code that "PendrixOverride" must hold for the other values to count.
inline constexpr std::uint32_t kPendrixOverrideCode = 0x6B2D91A4u;

// Overrides fields of `model` from the source when "PendrixOverride" holds the
// access code; each value present replaces its field (distances in whole mm).
// Returns whether the override was active. Does not run Finish.
bool ApplyModelOverride(CHeadsetModel& model, const IModelOverrideSource& source);
