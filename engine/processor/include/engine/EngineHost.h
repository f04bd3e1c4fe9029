#pragma once
// What the tracking engine needs from the rest of the program, which the
// main sheet provides: the current profile, the tracking settings, the
// active game, and posted messages to the sheet and the main window.
//
// The engine calls the Copy operations on its worker thread every frame.
// An implementation copies under a lock held no longer than the copy, and
// allocates nothing; the engine never keeps a reference into the sheet's
// objects, so the user-interface thread may edit them at any time.
#include <array>
#include <cstdint>

#include "platform/messages.h"
#include "profiles/GameList.h"
#include "profiles/Profile.h"
#include "profiles/curves.h"

// The fields of a profile the engine reads per frame.
struct CEngineAxis {
    std::int32_t Enabled = 1;
    std::int32_t Inverted = 0;
    CurveValues Table{}; // the axis's 15 response entries
};

struct CEngineProfile {
    std::int32_t MotionType = 1; // 0: one point
    float Smoothing = 25.0f;
    std::int32_t TrueView = 1;
    std::int32_t ImagerSmoothing = 0;
    float ImagerThreshold = 0.8f;
    float ImagerParamA = 2.0f;
    float ImagerParamB = 2.0f;
    std::int32_t SixDofSmoothing = 1;
    float SixDofParamA = 3.0f;
    float SixDofParamB = 0.5f;
    std::array<CEngineAxis, 6> Axes{}; // yaw, pitch, roll, x, y, z
};

// Copies what the engine needs of `profile`; allocates nothing.
void CopyEngineProfile(const CProfile& profile, CEngineProfile& out);

// Per-axis minimum and maximum of the active game, yaw, pitch, roll, x, y, z.
using CEngineLimits = std::array<CGameAxisLimit, 6>;
// Limits that restrict nothing (the full output range).
CEngineLimits FullRangeLimits();
void CopyEngineLimits(const CGameInfo& game, CEngineLimits& out);

class IEngineHost {
public:
    virtual ~IEngineHost() = default;

    // The current profile.
    virtual void CopyProfile(CEngineProfile& out) = 0;
    // The camera orientation of the tracking settings, in quarter turns.
    virtual std::int32_t CameraRotation() = 0;
    // The active game's limits, or the catalogue's first record's when no
    // game is active: there is always a record.
    virtual void CopyGameLimits(CEngineLimits& out) = 0;
    // -1 when no game is active.
    virtual std::int32_t ActiveGameId() = 0;
    // Whether the case status light follows game connections.
    virtual bool CaseStatusLightOption() = 0;
    // Turns the camera's case status light on or off (the sheet's SetCaseLight).
    virtual void SetCaseLight(bool on) = 0;

    // Posts to the sheet's window and to the main window; they never block.
    virtual void PostToSheet(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) = 0;
    virtual void PostToMainWindow(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) = 0;
};

// Message numbers the engine posts.
inline constexpr platform::UINT WM_UPDATE_STATUS = 0x80C8;
inline constexpr platform::UINT WM_GAME_STARTED = 0x812E;
inline constexpr platform::UINT WM_ACTIVE_GAME = 0x812F;
