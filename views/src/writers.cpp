#include "views/game_details.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <numbers>
#include <sys/resource.h>

using namespace views;
using namespace platform::linalg;

namespace {

using Bytes = std::vector<std::uint8_t>;

void putU32(Bytes& b, std::size_t at, std::uint32_t v)
{
    std::memcpy(b.data() + at, &v, 4);
}

void putFloat(Bytes& b, std::size_t at, float v)
{
    std::memcpy(b.data() + at, &v, 4);
}

std::int32_t rel32(const std::uint8_t* p)
{
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The matrix cave: its layout, then at the jump's target the displaced
// call and the jump back behind the patch site.
Bytes matrixCave(std::uint32_t caveAddress, std::uint32_t patchAddress, const Bytes& original,
                 const Bytes& jump)
{
    Bytes cave(1113, 0);
    putFloat(cave, 0x20, 0.1f);
    for (int i = 0; i < 3; ++i)
        putFloat(cave, 0x24 + static_cast<std::size_t>(i) * 16, 1.0f);
    const std::uint32_t back = patchAddress + 5;
    const std::uint32_t entry = back + static_cast<std::uint32_t>(rel32(jump.data() + 1));
    const std::uint32_t callee = back + static_cast<std::uint32_t>(rel32(original.data() + 1));
    std::size_t at = entry - caveAddress;
    cave[at] = 0xE8;
    putU32(cave, at + 1, callee - (entry + 5));
    cave[at + 5] = 0xE9;
    putU32(cave, at + 6, back - (entry + 10));
    return cave;
}

const Bytes kTocaOriginal{0xE8, 0x8C, 0x05, 0xF6, 0xFF};
const Bytes kTocaJump{0xE9, 0xBF, 0x8E, 0xF4, 0xFF};
const Bytes kDustOriginal{0xE8, 0xBF, 0xC1, 0xFF, 0xFF};
const Bytes kDustJump{0xE9, 0x22, 0x5E, 0xFE, 0xFF};

// The floats lie side by side in the list's own array: nothing is allocated per frame.
bool writeFloats(CProcessPoker& poker, std::uint32_t address, std::initializer_list<float> values)
{
    return poker.Write(values.begin(), address, static_cast<std::uint32_t>(values.size() * sizeof(float)));
}

} // namespace

std::vector<std::uint8_t> tocaCaveImage()
{
    return matrixCave(0x400370, 0x4B784F, kTocaOriginal, kTocaJump);
}

std::vector<std::uint8_t> dustlineCaveImage()
{
    return matrixCave(0x400080, 0x41A5FC, kDustOriginal, kDustJump);
}

// State-driven patch -------------------------------------------------------

std::uint32_t CStatePatch::checkSite(CProcessPoker& poker)
{
    const auto size = static_cast<std::uint32_t>(site_.original.size());
    Bytes current(size);
    if (!poker.Read(current.data(), site_.patchAddress, size))
        return kReadFailed;
    // Another build of the game, or another program, has other code here.
    if (current != (patched_ ? site_.patched : site_.original))
        return kCodeDiffers;
    if (!remembered_) {
        // The site last: the end of the session takes the jump out first.
        if (site_.caveAddress != 0 && !poker.Remember(site_.caveAddress, static_cast<std::uint32_t>(site_.cave.size())))
            return kReadFailed;
        for (const Range& r : site_.data)
            if (!poker.Remember(r.address, r.size))
                return kReadFailed;
        if (!poker.Remember(site_.patchAddress, size))
            return kReadFailed;
        remembered_ = true;
    }
    return kWriteOk;
}

std::uint32_t CStatePatch::patchStep(CProcessPoker& poker)
{
    std::uint32_t state = 0;
    if (site_.statePointer != 0) {
        std::uint32_t base = 0;
        if (!poker.ReadValue(site_.statePointer, base) || !poker.ReadValue(base + site_.stateAddress, state))
            state = 0;
    } else if (!poker.ReadValue(site_.stateAddress, state)) {
        state = 0;
    }
    const auto size = static_cast<std::uint32_t>(site_.original.size());
    if (patched_ && state != site_.activeState) {
        if (!poker.Write(site_.original.data(), site_.patchAddress, size))
            return kWriteFailed;
        patched_ = false;
    } else if (!patched_ && state == site_.activeState) {
        if (site_.caveAddress != 0 &&
            !poker.Write(site_.cave.data(), site_.caveAddress, static_cast<std::uint32_t>(site_.cave.size())))
            return kWriteFailed;
        if (!poker.Write(site_.patched.data(), site_.patchAddress, size))
            return kWriteFailed;
        patched_ = true;
    }
    return kWriteOk;
}

std::uint32_t CMatrixCaveWriter::Update(CProcessPoker* poker, const OVPosePacket* record)
{
    if (const std::uint32_t check = checkSite(*poker); check != kWriteOk)
        return check;
    patchStep(*poker);
    const float yawAngle = yaw(*record) * kS * -kPi + (layout_.dustline ? kPi / 2 : 0.0f);
    const auto rows = MatrixUpper3x3(MatrixRotationYawPitchRoll(yawAngle, pitch(*record) * kS * kPi, roll(*record) * kS * kPi));
    if (!poker->Write(rows.data(), layout_.matrix, sizeof rows))
        return kWriteFailed;
    std::array<float, 3> now{};
    if (!poker->ReadValue(layout_.x, now[0]) || !poker->ReadValue(layout_.y, now[1]) ||
        !poker->ReadValue(layout_.z, now[2]))
        return kWriteFailed;
    if (now != written_)
        base_ = now; // the game has placed its camera anew
    const float x = posX(*record) * kPosition, y = posY(*record) * kPosition, z = posZ(*record) * kPosition;
    std::array<float, 3> out;
    if (layout_.dustline)
        out = {base_[0] + x + 0.35f, base_[1] + y + 0.475f, base_[2] + 0.025f - z};
    else
        out = {base_[0] + x, base_[1] + y, base_[2] - z};
    if (!poker->WriteValue(layout_.x, out[0]) || !poker->WriteValue(layout_.y, out[1]) ||
        !poker->WriteValue(layout_.z, out[2]))
        return kWriteFailed;
    written_ = out;
    return kWriteOk;
}

CToCARaceDriver2::CToCARaceDriver2()
    : CMatrixCaveWriter({static_cast<std::uint32_t>(-928), 0xA4FA60, 3, 0x4B784F, kTocaOriginal, kTocaJump, 0x400370,
                         tocaCaveImage(), {}},
                        {0x400394, 0x400380, 0x40037C, 0x400378, false})
{
}

CDustlineRally04::CDustlineRally04()
    : CMatrixCaveWriter({0x6397C4, 0, 1, 0x41A5FC, kDustOriginal, kDustJump, 0x400080, dustlineCaveImage(), {}},
                        {0x4000A4, 0x400090, 0x40008C, 0x400088, true})
{
}

// NASCAR Racing 2003 ---------------------------------------------------------

namespace {
const Bytes kNascarCave{0xD9, 0x04, 0x24, 0xD8, 0x05, 0xF0, 0x02, 0x40, 0x00, 0xD9, 0x1C, 0x24, 0xD9,
                        0x44, 0x24, 0x04, 0xD8, 0x05, 0xF4, 0x02, 0x40, 0x00, 0xD9, 0x5C, 0x24, 0x04,
                        0xD9, 0x44, 0x24, 0x08, 0xD8, 0x05, 0xF8, 0x02, 0x40, 0x00, 0xD9, 0x5C, 0x24,
                        0x08, 0x50, 0xE8, 0xF2, 0x6B, 0x1F, 0x00, 0xE9, 0x70, 0xA8, 0x16, 0x00};
} // namespace

CNascarRacing2003::CNascarRacing2003()
    : CStatePatch({0xC069DB, 0, 1, 0x56AB9D, {0x50, 0xE8, 0x7D, 0xC3, 0x08, 0x00},
                   {0xE9, 0x5E, 0x57, 0xE9, 0xFF, 0x90}, 0x400300, kNascarCave, {{0x4002F0, 12}, {0x74EBBC, 12}}})
{
}

CNascarRacing2003::~CNascarRacing2003()
{
    OnStop();
}

std::uint32_t CNascarRacing2003::Update(CProcessPoker* poker, const OVPosePacket* record)
{
    if (const std::uint32_t check = checkSite(*poker); check != kWriteOk)
        return check;
    patchStep(*poker);
    if (!writeFloats(*poker, 0x4002F0, {yaw(*record) * kS * kPi, pitch(*record) * kS * kPi, roll(*record) * kS * kPi}))
        return kWriteFailed;
    if (!writeFloats(*poker, 0x74EBBC,
                     {0.1f - posZ(*record) * kPosition, posX(*record) * kPosition, posY(*record) * kPosition + 0.1f}))
        return kWriteFailed;
    return kWriteOk;
}

namespace {

// The threads of this process.
std::vector<pid_t> ownThreads()
{
    std::vector<pid_t> threads;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir)
        return threads;
    while (const dirent* entry = ::readdir(dir)) {
        pid_t tid = 0;
        const std::string_view name = entry->d_name;
        if (std::from_chars(name.data(), name.data() + name.size(), tid).ec == std::errc{} && tid > 0)
            threads.push_back(tid);
    }
    ::closedir(dir);
    return threads;
}

} // namespace

// A priority class is the whole process's: on Linux every thread has its
// own nice value, so each is lowered by the class's step, keeping the
// threads' order among themselves. A lowering the system refuses (it needs
// CAP_SYS_NICE or RLIMIT_NICE) is left out.
void CNascarRacing2003::OnStart()
{
    OnStop();
    for (pid_t thread : ownThreads()) {
        errno = 0;
        const int before = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
        if (errno != 0)
            continue;
        const int after = std::max(-20, before - kHighPriorityStep);
        if (after != before && ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), after) == 0)
            raised_.push_back({thread, before, after});
    }
}

// Back to normal: each raised thread gets its own value back, unless it has
// changed its priority itself meanwhile.
void CNascarRacing2003::OnStop()
{
    for (const Raised& r : raised_) {
        errno = 0;
        const int now = ::getpriority(PRIO_PROCESS, static_cast<id_t>(r.thread));
        if (errno == 0 && now == r.after)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(r.thread), r.before);
    }
    raised_.clear();
}

// Wings of War --------------------------------------------------------------

CWingsOfWar::CWingsOfWar() : CStatePatch({0x4E5B30, 0, 2, 0x40A266, {0x74, 0x74}, {0xEB, 0x74}, 0, {}, {}}) {}

std::uint32_t CWingsOfWar::Update(CProcessPoker* poker, const OVPosePacket* record)
{
    if (const std::uint32_t check = checkSite(*poker); check != kWriteOk)
        return check;
    patchStep(*poker);
    if (!patched())
        return kWriteOk;
    std::uint32_t camera = 0;
    if (!poker->ReadValue(0x4E5B14u, camera))
        return kWriteFailed;
    const auto e = MatrixUpper3x3(
        MatrixRotationYawPitchRoll(yaw(*record) * kS * -kPi, pitch(*record) * kS * kPi, roll(*record) * kS * -kPi));
    for (std::uint32_t row = 0; row < 3; ++row)
        for (std::uint32_t col = 0; col < 3; ++col)
            if (!poker->WriteValue(camera + 108 + row * 16 + col * 4, e[row * 3 + col]))
                return kWriteFailed;
    if (!poker->ReadValue(0x4E5B14u, camera))
        return kWriteFailed;
    if (!writeFloats(*poker, camera + 156,
                     {-posX(*record) * kPosition, posY(*record) * kPosition, -posZ(*record) * kPosition}))
        return kWriteFailed;
    return kWriteOk;
}

// F1 Challenge 99-02 --------------------------------------------------------

namespace {
const Bytes kF1Site{0x8B, 0x54, 0x24, 0x70, 0x8B, 0x44, 0x24, 0x74, 0x8D, 0x8B, 0xF0, 0x0F, 0x00,
                    0x00, 0x89, 0x11, 0x8B, 0x54, 0x24, 0x78, 0x89, 0x41, 0x04, 0x89, 0x51, 0x08};
const Bytes kF1CaveHead{0xD9, 0x44, 0x24, 0x70, 0xD8, 0x05, 0x00, 0x47, 0x5E, 0x00, 0xD9, 0x5C, 0x24, 0x70,
                        0xD9, 0x44, 0x24, 0x74, 0xD8, 0x05, 0x04, 0x47, 0x5E, 0x00, 0xD9, 0x5C, 0x24, 0x74,
                        0xD9, 0x44, 0x24, 0x78, 0xD8, 0x05, 0x08, 0x47, 0x5E, 0x00, 0xD9, 0x5C, 0x24, 0x78};
const Bytes kF1CaveTail{0xB8, 0x44, 0x0A, 0x4F, 0x00, 0xFF, 0xE0};
const Bytes kF1Jump{0xE9, 0xC1, 0xCB, 0x0A, 0x00};
constexpr std::uint32_t kF1SiteAddress = 0x4F0A2A;
constexpr std::uint32_t kF1CaveAddress = 0x59D5F0;
constexpr std::uint32_t kF1Offsets = 0x5E4700;
} // namespace

std::uint32_t CF1Challenge::Update(CProcessPoker* poker, const OVPosePacket* record)
{
    if (!patched_) {
        Bytes site(kF1Site.size());
        if (!poker->Read(site.data(), kF1SiteAddress, static_cast<std::uint32_t>(site.size())))
            return kReadFailed;
        if (site != kF1Site)
            return kCodeDiffers;
        Bytes area(75);
        if (!poker->Read(area.data(), kF1CaveAddress, 75))
            return kReadFailed;
        for (auto b : area)
            if (b != 0)
                return kWriteFailed;
        Bytes cave = kF1CaveHead;
        cave.insert(cave.end(), kF1Site.begin(), kF1Site.end());
        cave.insert(cave.end(), kF1CaveTail.begin(), kF1CaveTail.end());
        if (!poker->Remember(kF1CaveAddress, 75))
            return kReadFailed;
        if (!poker->Write(cave.data(), kF1CaveAddress, 75))
            return kWriteFailed;
        if (!poker->Remember(kF1SiteAddress, 5))
            return kReadFailed;
        if (!poker->Write(kF1Jump.data(), kF1SiteAddress, 5))
            return kWriteFailed;
        if (!poker->Remember(kF1Offsets, 12))
            return kReadFailed;
        patched_ = true;
    }
    float a = pitch(*record) * -kS * kPi / 3;
    if (a < -0.11f)
        a = -0.11f;
    const float b = yaw(*record) * -kS * 5 * kPi / 12;
    writeFloats(*poker, kF1Offsets, {a, b, 0.0f});
    return kWriteOk;
}

// Combat Flight Simulator 3 -------------------------------------------------

std::uint32_t CCombatFS3::Update(CProcessPoker* poker, const OVPosePacket* record)
{
    auto follow = [&](std::uint32_t address, std::uint32_t& out) { return poker->ReadValue(address, out); };
    std::uint32_t p1, p2, p3, p4, p5, p6, p7, p8, q;
    if (!follow(0x8AFD18, p1) || !follow(p1 + 20, p2) || !follow(p2 + 8, p3) || !follow(p3 + 28, p4) ||
        !follow(p4 + 20, p5) || !follow(p5 + 8, p6))
        return kReadFailed;
    if (p6 == 0)
        return kWriteOk;
    if (!follow(p6, p7))
        return kReadFailed;
    if (p7 == 0)
        return kWriteOk;
    if (!follow(p7, p8) || !follow(p8 + 28, q))
        return kReadFailed;
    static constexpr std::array<std::uint8_t, 18> kEntry{0x64, 0xA1, 0x00, 0x00, 0x00, 0x00, 0x50, 0x64, 0x89,
                                                         0x25, 0x00, 0x00, 0x00, 0x00, 0x83, 0xEC, 0x30, 0x56};
    std::array<std::uint8_t, 18> code{};
    if (!poker->Read(code.data(), q + 7, static_cast<std::uint32_t>(code.size())))
        return kReadFailed;
    if (code != kEntry) {
        pause(250);
        return kWriteOk;
    }
    std::uint32_t busy = 0, camera = 0;
    if (!follow(p7 + 264, busy))
        return kReadFailed;
    if (busy != 0) {
        pause(100);
        return kWriteOk;
    }
    if (!follow(p7 + 272, camera))
        return kReadFailed;
    if (camera == 0)
        return kWriteOk;
    if (!writeFloats(*poker, camera + 400,
                     {yaw(*record) * -kS * kPi, pitch(*record) * kS * kPi, posX(*record) * -kS * 0.2f,
                      posY(*record) * kS * 0.2f, posZ(*record) * -kS * 0.25f}))
        return kWriteFailed;
    return kWriteOk;
}

// Gravelton Rally -----------------------------------------------------------

std::uint32_t CGraveltonRally::Update(CProcessPoker* poker, const OVPosePacket* record)
{
    if (object_ == 0) {
        if (!poker->ReadValue(0x7EA67Cu, object_))
            return kReadFailed;
        if (object_ == 0)
            return kWriteOk;
    }
    std::uint32_t state = 0;
    if (!poker->ReadValue(object_ + 1832, state))
        return kReadFailed;
    if (state != 1) {
        currentView_ = 0;
        return kWriteOk;
    }
    std::uint32_t view = 0;
    if (!poker->ReadValue(object_ + 112, view))
        return kReadFailed;
    if (view != currentView_ || view == 0) {
        poker->RestoreSnapshot(0, false);
        currentView_ = 0;
        if (view < 3 || view > 5)
            return kWriteOk;
        pause(500);
        std::uint32_t again = 0;
        if (!poker->ReadValue(object_ + 112, again))
            return kReadFailed;
        if (again != view)
            return kWriteOk;
        offset_ = 904 + (view - 3) * 56;
        if (!poker->Snapshot(0, object_ + offset_, 56))
            return kReadFailed;
        currentView_ = view;
    }
    auto snapshot = poker->GetSnapshot(0);
    if (snapshot.size() != 56)
        return kReadFailed;
    std::array<float, 14> f;
    std::memcpy(f.data(), snapshot.data(), 56);
    const Matrix m = MatrixRotationX(pitch(*record) * kS * 1.2667712f) * MatrixRotationZ(yaw(*record) * kS * 1.586663f);
    for (std::size_t t = 0; t < 3; ++t) {
        const Vec3 p = Vec3TransformCoord({f[t * 3], f[t * 3 + 1], f[t * 3 + 2]}, m);
        f[t * 3] = p.x;
        f[t * 3 + 1] = p.y;
        f[t * 3 + 2] = p.z;
    }
    if (!poker->Write(f.data(), object_ + offset_, 56))
        return kWriteFailed;
    return kWriteOk;
}
