#pragma once
// The module's view state and its client link, apart from the exports so
// that tests can drive them directly.
//
// The view state lives in an 88-byte section shared by every process that
// maps the module: 22 32-bit slots holding 16-bit view values. Any thread
// of any process may touch a slot, so every access is atomic.
#include <cstdint>
#include <optional>
#include <string>

#include "client/binder.h"
#include "client/ovclient.h"
#include "fsmodule/module_interface.h"
#include "platform/modules.h"
#include "platform/registry.h"

namespace fsmodule {

enum Slot : int {
    kInitialised = 0,
    kA = 1, kLastA = 2,
    kB = 3, kLastB = 4,
    kC = 5, kLastC = 6,
    kD = 7, kLastD = 8,
    kE = 9, kLastE = 10,
    kF = 11, kLastF = 12,
    kCustom = 13, kLastCustom = 14,
    kStepD = 15, kStepE = 16, kStepF = 17,
    kReset = 18,
    kCustomId = 19,
    kChanged = 20,
    kEventCount = 21,
    kSlotCount = 22,
};
inline constexpr std::size_t kSectionBytes = kSlotCount * 4;
static_assert(kSectionBytes == 88);
inline constexpr const char* kSectionName = "Vistrel-2002";
inline constexpr std::int32_t kUnsent = 0x3FFF;
inline constexpr std::int32_t kViewLimit = 16383;
inline constexpr std::int32_t kStepSize = 327;

// Results of the view exports.
enum : std::int32_t { kViewOk = 0, kViewOutOfRange = 1, kViewNotInitialised = 2 };

class ViewSlots {
public:
    // `words` points at the 22 slots (the mapped section).
    explicit ViewSlots(void* words) : words_(static_cast<std::int32_t*>(words)) {}
    // The initial values, written by the first process to map the section.
    static void Initialise(void* words);

    std::int32_t Get(Slot s) const;
    void Set(Slot s, std::int32_t v);
    std::int32_t Take(Slot s); // reads and clears
    void Add(Slot s, std::int32_t n);

    // The exports' bodies.
    std::int32_t SetView(std::int32_t a, std::int32_t b);
    std::int32_t SetViewEx(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t e,
                           std::int32_t f);
    std::int32_t SetCustomView(std::int32_t id, std::int32_t value);
    std::int32_t ResetView();

    // One period's sending: when something changed, the changed values go
    // out through `send` (skipped when the simulator gave no function).
    void SendChanges(SimSendEvent send);

private:
    std::int32_t* words_;
};

// The view thread's period: HKLM "SOFTWARE\Orvane\Vistrel" "MSFSSleepTime",
// raised to 20 and limited to 500 ms; `current` when it is not there.
inline constexpr std::uint32_t kDefaultPeriodMs = 20;
inline constexpr std::uint32_t kMaxPeriodMs = 500;
std::uint32_t ReadPeriod(platform::registry::Store& store, std::uint32_t current);

// The module's hold on the client library, loaded from the folder the main
// program wrote into the registry. Every call answers 4 when its function
// is not bound.
class ClientLink : public ovclient::ClientBinder {
public:
    static constexpr const char* kLocationKey = ovclient::kLocationKey;
    static constexpr const char* kLocationValue = ovclient::kLocationValue;
    static constexpr std::uint16_t kProgramProfileId = 2302;

    // The folder (the registry's error when it cannot be read).
    static platform::registry::Status ReadClientLocation(platform::registry::Store& store, std::string& folder);

    // Loads and binds; true when the library was loaded.
    bool Bind(platform::registry::Store& store);
    bool IsBound() const { return IsLoaded(); }
};

// Yaw or pitch of the pose record as a view value (truncated); none when it
// is not a number the conversion can take.
std::optional<std::int32_t> ViewValue(float v);

} // namespace fsmodule
