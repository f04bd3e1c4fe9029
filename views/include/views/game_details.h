#pragma once
// The game writers: each turns the pose record into one game's camera,
// working only through the session's CProcessPoker.
#include "client/ovclient.h"
#include "platform/clock.h"
#include "platform/linalg.h"
#include "views/process_poker.h"
#include "views/simconnect.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <sys/types.h>
#include <vector>

namespace views {

inline constexpr std::uint32_t kWriteOk = 0;
inline constexpr std::uint32_t kReadFailed = 0x80000000u;
inline constexpr std::uint32_t kCodeDiffers = 0x80000001u;
inline constexpr std::uint32_t kWriteFailed = 0x80000002u;

// The pose record's units: angles run over +-16384 for half a turn each
// way (kS a step), positions are kPosition game units a step.
inline constexpr float kS = 1.0f / 16384.0f;
inline constexpr float kPi = std::numbers::pi_v<float>;
inline constexpr float kPosition = 0.42f * kS;

// Pose record axes.
inline float roll(const OVPosePacket& r) { return r.value[0]; }
inline float pitch(const OVPosePacket& r) { return r.value[1]; }
inline float yaw(const OVPosePacket& r) { return r.value[2]; }
inline float posX(const OVPosePacket& r) { return r.value[3]; }
inline float posY(const OVPosePacket& r) { return r.value[4]; }
inline float posZ(const OVPosePacket& r) { return r.value[5]; }

} // namespace views

class CGameDetails {
public:
    virtual ~CGameDetails() = default;
    virtual std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) = 0;
    virtual void Prepare(std::uint32_t /*pid*/) {}
    virtual void OnStart() {}
    virtual void OnStop() {}

    // The clock the writer's pauses run on.
    void setClock(platform::Clock& clock) { clock_ = &clock; }

protected:
    void pause(int ms) { clock_->sleepFor(std::chrono::milliseconds(ms)); }

private:
    platform::Clock* clock_ = &platform::systemClock();
};

// A code patch switched by the game's state word: the cave and jump go in
// when the game enters the active state and the original bytes come back
// when it leaves it.
//
// Nothing is written into a process whose code at the patch site is not
// exactly this game's (or this writer's jump while patched). The first time
// the check passes, the site, the cave and every other fixed range the
// writer changes are remembered, so that the end of the session puts them
// back even when the game is still in the patched state.
class CStatePatch : public CGameDetails {
public:
    struct Range {
        std::uint32_t address;
        std::uint32_t size;
    };
    struct Site {
        std::uint32_t stateAddress;       // the word itself, or found through statePointer
        std::uint32_t statePointer;       // 0: none; else state := [[statePointer] + stateAddress]
        std::uint32_t activeState;
        std::uint32_t patchAddress;
        std::vector<std::uint8_t> original;
        std::vector<std::uint8_t> patched;
        std::uint32_t caveAddress;        // 0: no cave
        std::vector<std::uint8_t> cave;
        std::vector<Range> data;          // written outside the cave each update
    };
    bool patched() const { return patched_; }

protected:
    explicit CStatePatch(Site site) : site_(std::move(site)) {}
    // kWriteOk when the site holds the expected code (and the ranges are
    // remembered); kReadFailed or kCodeDiffers otherwise, and then the
    // writer writes nothing.
    std::uint32_t checkSite(CProcessPoker& poker);
    std::uint32_t patchStep(CProcessPoker& poker);

private:
    Site site_;
    bool patched_ = false;
    bool remembered_ = false;
};

// The writers sharing the matrix-and-position cave (ToCA Race Driver 2 and
// Dustline Rally 04).
class CMatrixCaveWriter : public CStatePatch {
public:
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;

protected:
    struct Layout {
        std::uint32_t matrix, x, y, z;
        bool dustline;
    };
    CMatrixCaveWriter(Site site, Layout layout) : CStatePatch(std::move(site)), layout_(layout) {}

private:
    Layout layout_;
    std::array<float, 3> base_{};     // x, y, z
    std::array<float, 3> written_{};  // x, y, z last written
    bool wrote_ = false;
};

class CToCARaceDriver2 : public CMatrixCaveWriter {
public:
    CToCARaceDriver2();
};

class CDustlineRally04 : public CMatrixCaveWriter {
public:
    CDustlineRally04();
};

class CNascarRacing2003 : public CStatePatch {
public:
    CNascarRacing2003();
    ~CNascarRacing2003() override;
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;
    // The hosting process's priority: every thread's nice value goes down a
    // step (where the system allows it) and comes back in OnStop.
    void OnStart() override;
    void OnStop() override;

    // How far a priority class above normal lowers each thread's nice value.
    static constexpr int kHighPriorityStep = 10;

private:
    struct Raised {
        pid_t thread;
        int before;
        int after;
    };
    std::vector<Raised> raised_;
};

class CWingsOfWar : public CStatePatch {
public:
    CWingsOfWar();
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;
};

class CF1Challenge : public CGameDetails {
public:
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;

private:
    bool patched_ = false;
};

class CCombatFS3 : public CGameDetails {
public:
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;
};

class CGraveltonRally : public CGameDetails {
public:
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;

private:
    std::uint32_t object_ = 0;
    std::uint32_t currentView_ = 0;
    std::uint32_t offset_ = 0;
};

// Flight Simulator 2004: a relocatable patch in the game's "window.dll",
// writing only while the view is a virtual cockpit.
class CFS2004 : public CGameDetails {
public:
    explicit CFS2004(platform::ProcessSystem& system = platform::systemProcesses()) : system_(system) {}
    void Prepare(std::uint32_t pid) override;
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;

    struct Module {
        std::uint32_t base = 0;
        std::uint32_t size = 0;
    };
    Module window() const { return window_; }
    Module controls() const { return controls_; }
    std::uint32_t site() const { return site_; }

private:
    platform::ProcessSystem& system_;
    Module window_;
    Module controls_;
    std::uint32_t site_ = 0;
    bool patched_ = false;
};

// Flight Simulator X and ESP: the camera through the simulator's own client
// library.
class CFSX : public CGameDetails {
public:
    explicit CFSX(views::SimConnectLink& link = views::sharedSimConnect()) : link_(link) {}
    // First update: 0 when connected, 1 without the library, 2 when the
    // simulator refused the connection. Later: one camera call per new frame.
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;
    void OnStop() override;

private:
    views::SimConnectLink& link_;
    bool first_ = true;
    std::uint16_t lastFrame_ = 0;
};

// Battlefield 2: a helper module inside the game does the work (VSLViewsi,
// found beside this library). The first update hands the game's profile id
// over in a shared section and loads the helper into the game (or, when it
// is there already, asks it to start again through its event); the worker
// then only watches the window.
class CBF2 : public CGameDetails {
public:
    static constexpr std::uint32_t kProfileId = 9651;

    explicit CBF2(platform::ProcessSystem& system = platform::systemProcesses(),
                  std::filesystem::path helperFolder = views::viewLibraryFolder(),
                  std::chrono::milliseconds callLimit = std::chrono::seconds(10))
        : system_(system), helperFolder_(std::move(helperFolder)), callLimit_(callLimit)
    {
    }
    std::uint32_t Update(CProcessPoker* poker, const OVPosePacket* record) override;

private:
    std::uint32_t start(std::uint32_t pid);

    platform::ProcessSystem& system_;
    std::filesystem::path helperFolder_;
    std::chrono::milliseconds callLimit_;
    bool done_ = false;
};

// The two cave images: the shared layout (z, y, x floats at 0x08-0x10, 0.1
// at 0x20, the 3x3 matrix at 0x24), then the code the patch jumps to.
std::vector<std::uint8_t> tocaCaveImage();
std::vector<std::uint8_t> dustlineCaveImage();
// The Flight Simulator 2004 cave for a window.dll loaded at `windowBase`.
std::vector<std::uint8_t> fs2004CaveImage(std::uint32_t windowBase);
