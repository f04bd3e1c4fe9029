#pragma once
// One profile: the per-game shaping of the head pose (axes with their
// response curves, smoothing, tracking mode, hot keys), kept in its own
// UTF-16 XML file. A plain value type: the engine reads the current profile's
// fields every frame.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "input/HotKeys.h"
#include "profiles/curves.h"

class CProfileAxis {
public:
    enum AxisType : std::int32_t { Yaw = 0, Pitch, Roll, X, Y, Z };

    explicit CProfileAxis(std::int32_t type = 0);

    std::int32_t Type = 0;     // always the axis's index in the profile
    std::int32_t Enabled = 1;  // 0: the engine outputs 0 for the axis
    std::int32_t Inverted = 0; // non-zero: the engine negates the axis
    CurveSlopes CurveData{};   // per-knot slopes, 0 to 80
    CCurveTable CurveTable;    // cumulative response values built from CurveData
    std::int32_t CurveType = kCurveSmooth;

    // Enabled, not inverted, the "Smooth" preset.
    void Reset();
    // Types 0-4 copy their preset's slopes; any other keeps the slopes. Then
    // stores the type and rebuilds the table. Returns 0.
    int SetCurveType(std::int32_t type);
    // Rebuilds the table from CurveData.
    void BuildCurve();

    friend bool operator==(const CProfileAxis&, const CProfileAxis&) = default;
};

// Text 5006, the user's message for a profile file that cannot be read.
inline constexpr unsigned kProfileReadErrorId = 5006;
inline constexpr std::u16string_view kProfileReadError = u"Could not read profile %s. %s";

class CProfile {
public:
    static constexpr std::uint32_t kDefaultGameId = 0xFFFFFFFFu; // marks the default profile
    static constexpr int kAxisCount = 6;

    CProfile();

    std::u16string Path;  // file of the profile, relative to the working folder
    std::u16string Name;
    std::u16string Notes;
    std::vector<std::uint32_t> GameIds;
    float Smoothing = 25.0f; // a whole number, 1 to 100
    std::int32_t Override = 0; // "Exclusive-load"
    std::int32_t TrueView = 1; // translation compensation for head rotation
    // The advanced block: never stored, never edited.
    std::int32_t ImagerSmoothing = 0;
    float ImagerThreshold = 0.8f;
    float ImagerParamA = 2.0f;
    float ImagerParamB = 2.0f;
    std::int32_t SixDofSmoothing = 1;
    float SixDofThreshold = 0.05f;
    float SixDofParamA = 3.0f;
    float SixDofParamB = 0.5f;
    std::int32_t MotionType = 1; // 0 one point, 1 reflective clip, 2 active LED clip, 3 custom
    std::array<CProfileAxis, kAxisCount> Axes; // yaw, pitch, roll, x, y, z
    CHotKeys HotKeys;

    // Smoothing, TrueView, MotionType, axes (roll disabled) and hot keys to
    // their defaults; path, names, game ids, Override and the advanced block
    // stay. Returns 0.
    int SetDefaults();

    // Real profiles are a few kilobytes; a file beyond this is refused
    // unparsed.
    static constexpr std::int64_t kMaxFileBytes = 4 << 20;

    int IsAssociatedWith(std::uint32_t gameId) const;
    int IsDefault() const { return IsAssociatedWith(kDefaultGameId); }

    // Writes the profile file at Path. 0 when written; 2 when it could not be
    // written completely, in which case the old file is left as it was.
    int Save() const;
    // Reads the profile file at Path into this object: 0; 2 when the file
    // cannot be read, is larger than kMaxFileBytes or is not well-formed
    // (nothing changes); 13 when it has no "Profile" element. Every problem is reported through
    // the debug output with the file's path; an unreadable file is also told
    // to the user through `tell`, in `readError` (text 5006 of the interface
    // language: "%s" takes the path, then the reason).
    int Load(const std::function<void(std::u16string_view)>& tell = nullptr,
             std::u16string_view readError = kProfileReadError);

    // The file text Save writes (without the encoding to UTF-16).
    std::u16string ToXml() const;

    friend bool operator==(const CProfile&, const CProfile&) = default;
};

// A copy of text in which every occurrence of find, compared without regard
// to case, is replaced; the search resumes behind each replacement.
std::u16string ReplaceNoCase(std::u16string_view text, std::u16string_view find, std::u16string_view replace);

// The escaped form of Name and Notes in the file: "&" and "<" as entities,
// characters XML cannot hold replaced or written as references, and ">"
// written as "&gt;" where it would close "]]>".
std::u16string EscapeProfileText(std::u16string_view text);

// A profile path of the suite ("Profiles\x.xml") as a file-system path.
std::string ProfileFileSystemPath(std::u16string_view path);
