#include "views/game_details.h"

#include <algorithm>
#include <cstring>
#include <numbers>
#include <string_view>

using namespace views;
using namespace platform::linalg;

namespace {

constexpr std::uint32_t kCaveOffset = 0xCE3D;
constexpr std::uint32_t kOffsetsOffset = 0xCFEE;
constexpr std::uint32_t kViewOffset = 0x1C05C;

using Bytes = std::vector<std::uint8_t>;

const Bytes kSite{0xFF, 0x92, 0x18, 0x01, 0x00, 0x00, 0x8D, 0x44, 0x24, 0x08, 0x50};
const Bytes kJump{0xE9, 0xB2, 0xA7, 0x00, 0x00, 0x90};

std::string_view fileName(std::string_view path)
{
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Base and extent of a module: the span of every mapping of its file.
CFS2004::Module findModule(const std::vector<platform::MemoryRegion>& regions, std::string_view name)
{
    std::uint64_t low = 0, high = 0;
    for (const auto& r : regions) {
        if (!platform::equalsIgnoreCase(fileName(r.path), name))
            continue;
        if (high == 0 || r.start < low)
            low = r.start;
        high = std::max(high, r.end);
    }
    if (high == 0 || high > 0x100000000ull)
        return {};
    return {static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high - low)};
}

Bytes fs2004Cave(std::uint32_t base)
{
    const std::uint8_t h0 = static_cast<std::uint8_t>(base >> 16), h1 = static_cast<std::uint8_t>(base >> 24);
    Bytes cave{0x90, 0x90, 0x90, 0x90, 0x90};
    const std::uint8_t low[3] = {0xEE, 0xF2, 0xF6};
    const std::uint8_t stack[3] = {0x10, 0x18, 0x20};
    for (int i = 0; i < 3; ++i) {
        const Bytes step{0xDD, 0x44, 0x24, stack[i], 0xD8, 0x05, low[i], 0xCF, h0, h1, 0xDD, 0x5C, 0x24, stack[i]};
        cave.insert(cave.end(), step.begin(), step.end());
    }
    const Bytes tail{0xFF, 0x92, 0x18, 0x01, 0x00, 0x00, 0xE9, 0x15, 0x58, 0xFF, 0xFF};
    cave.insert(cave.end(), tail.begin(), tail.end());
    return cave;
}

bool isVirtualCockpit(const std::array<char, 19>& text)
{
    static const std::string_view names[] = {
        "VIRTUAL COCKPIT", "VIRTUELLES COCKPIT", "COCKPIT VIRTUEL", "CABINA VIRTUAL", "ABITACOLO VIRTUALE",
        "\x89\xBC\x91\x7A\x83\x52\x83\x62\x83\x4E\x83\x73\x83\x62\x83\x67",
    };
    const std::string_view view(text.data(), text.size());
    return std::any_of(std::begin(names), std::end(names), [&](std::string_view n) { return view.starts_with(n); });
}

} // namespace

void CFS2004::Prepare(std::uint32_t pid)
{
    site_ = 0;
    auto process = system_.open(static_cast<int>(pid));
    if (!process)
        return;
    const auto regions = process->regions();
    window_ = findModule(regions, "window.dll");
    controls_ = findModule(regions, "controls.dll");
    if (window_.size == 0)
        return;
    // The image piece by piece: its mappings may leave holes.
    for (const auto& r : regions) {
        if (!platform::equalsIgnoreCase(fileName(r.path), "window.dll") || !r.readable)
            continue;
        Bytes image(static_cast<std::size_t>(r.end - r.start));
        if (!process->read(r.start, image))
            continue;
        auto at = std::search(image.begin(), image.end(), kSite.begin(), kSite.end());
        if (at != image.end()) {
            site_ = static_cast<std::uint32_t>(r.start + static_cast<std::uint64_t>(at - image.begin()));
            return;
        }
    }
}

std::uint32_t CFS2004::Update(CProcessPoker* poker, const OVPosePacket* record)
{
    if (!patched_) {
        Bytes site(kSite.size());
        if (site_ == 0 || !poker->Read(site.data(), site_, static_cast<std::uint32_t>(site.size())))
            return kReadFailed;
        if (site != kSite)
            return kCodeDiffers;
        const std::uint32_t caveAddress = window_.base + kCaveOffset;
        const Bytes cave = fs2004Cave(window_.base);
        Bytes area(cave.size());
        if (!poker->Read(area.data(), caveAddress, static_cast<std::uint32_t>(area.size())))
            return kReadFailed;
        if (std::any_of(area.begin(), area.end(), [](std::uint8_t b) { return b != 0; }))
            return kWriteFailed;
        if (!poker->Remember(caveAddress, static_cast<std::uint32_t>(cave.size())))
            return kReadFailed;
        if (!poker->Write(cave.data(), caveAddress, static_cast<std::uint32_t>(cave.size())))
            return kWriteFailed;
        if (!poker->Remember(site_, static_cast<std::uint32_t>(kJump.size())))
            return kReadFailed;
        if (!poker->Write(kJump.data(), site_, static_cast<std::uint32_t>(kJump.size())))
            return kWriteFailed;
        patched_ = true;
    }
    std::uint32_t holder = 0, view = 0, text = 0, camera = 0;
    std::array<char, 19> name{};
    if (!poker->ReadValue(controls_.base + kViewOffset, holder) || !poker->ReadValue(holder + 0x118C, view) ||
        !poker->ReadValue(view, text) || !poker->Read(name.data(), text, static_cast<std::uint32_t>(name.size())))
        return kReadFailed;
    if (!isVirtualCockpit(name))
        return kWriteOk;
    if (!poker->ReadValue(view + 24, camera))
        return kReadFailed;
    const float offsets[3] = {-posX(*record) * kPosition, posY(*record) * kPosition, -posZ(*record) * kPosition};
    if (!poker->Write(offsets, window_.base + kOffsetsOffset, sizeof offsets))
        return kWriteFailed;
    const Matrix m = MatrixRotationZ(roll(*record) * kS * kPi) *
                     (MatrixRotationX(pitch(*record) * kS * kPi) * MatrixRotationY(yaw(*record) * kS * -kPi));
    if (!poker->Write(m.m.data(), camera + 80, sizeof m.m))
        return kWriteFailed;
    return kWriteOk;
}

std::vector<std::uint8_t> fs2004CaveImage(std::uint32_t windowBase)
{
    return fs2004Cave(windowBase);
}
