#include "fsmodule/view.h"

#include <atomic>
#include <cmath>
#include <utility>

namespace fsmodule {

namespace {

bool InRange(std::int32_t v) { return v >= -kViewLimit && v <= kViewLimit; }

} // namespace

void ViewSlots::Initialise(void* words)
{
    auto* w = static_cast<std::int32_t*>(words);
    for (int i = 0; i < kSlotCount; ++i)
        w[i] = 0;
    for (Slot s : {kLastA, kLastB, kLastC, kLastD, kLastE, kLastF, kLastCustom})
        w[s] = kUnsent;
}

std::int32_t ViewSlots::Get(Slot s) const { return std::atomic_ref(words_[s]).load(std::memory_order_acquire); }
void ViewSlots::Set(Slot s, std::int32_t v) { std::atomic_ref(words_[s]).store(v, std::memory_order_release); }
std::int32_t ViewSlots::Take(Slot s) { return std::atomic_ref(words_[s]).exchange(0, std::memory_order_acq_rel); }
void ViewSlots::Add(Slot s, std::int32_t n) { std::atomic_ref(words_[s]).fetch_add(n, std::memory_order_acq_rel); }

std::int32_t ViewSlots::SetView(std::int32_t a, std::int32_t b)
{
    if (Get(kInitialised) == 0)
        return kViewNotInitialised;
    if (!InRange(a) || !InRange(b))
        return kViewOutOfRange;
    Set(kA, a);
    Set(kB, b);
    Set(kChanged, 1);
    return kViewOk;
}

std::int32_t ViewSlots::SetViewEx(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t e,
                                  std::int32_t f)
{
    if (Get(kInitialised) == 0)
        return kViewNotInitialised;
    for (std::int32_t v : {a, b, c, d, e, f})
        if (!InRange(v))
            return kViewOutOfRange;
    Set(kA, a);
    Set(kB, b);
    Set(kC, c);
    Set(kD, d);
    Set(kE, e);
    Set(kF, f);
    Set(kChanged, 1);
    return kViewOk;
}

std::int32_t ViewSlots::SetCustomView(std::int32_t id, std::int32_t value)
{
    if (Get(kInitialised) == 0)
        return kViewNotInitialised;
    if (!InRange(value))
        return kViewOutOfRange;
    Set(kCustom, value);
    if (id != Get(kCustomId)) {
        // The first value of a new id only sets the base; it is not sent.
        Set(kCustomId, id);
        Set(kLastCustom, value);
    }
    Set(kChanged, 1);
    return kViewOk;
}

std::int32_t ViewSlots::ResetView()
{
    Set(kReset, 1);
    Set(kChanged, 1);
    return kViewOk;
}

void ViewSlots::SendChanges(SimSendEvent send)
{
    // Cleared before the values are read, so that a change made while this
    // runs is sent next period rather than lost.
    if (Take(kChanged) != 1)
        return;
    auto event = [send](std::uint32_t id, std::int32_t value) {
        if (send != nullptr)
            send(id, static_cast<std::uint32_t>(value));
    };
    struct Plain {
        Slot value, last;
        std::uint32_t id;
    };
    for (const Plain& p : {Plain{kA, kLastA, kEventA}, Plain{kB, kLastB, kEventB}, Plain{kC, kLastC, kEventC}}) {
        const std::int32_t v = Get(p.value);
        if (v != Get(p.last)) {
            event(p.id, v);
            Set(p.last, v);
            Add(kEventCount, 1);
        }
    }
    // d, e and f move a step counter one step per change towards value / 327.
    struct Stepped {
        Slot value, last, step;
        std::uint32_t up, down;
    };
    for (const Stepped& s : {Stepped{kD, kLastD, kStepD, kEventDUp, kEventDDown},
                             Stepped{kE, kLastE, kStepE, kEventEUp, kEventEDown},
                             Stepped{kF, kLastF, kStepF, kEventFUp, kEventFDown}}) {
        const std::int32_t v = Get(s.value);
        if (v == Get(s.last))
            continue;
        const std::int32_t target = v / kStepSize;
        const std::int32_t step = Get(s.step);
        if (step < target) {
            Set(s.step, step + 1);
            event(s.up, 0);
        } else if (step > target) {
            Set(s.step, step - 1);
            event(s.down, 0);
        }
        Add(kEventCount, 1);
        Set(s.last, v);
    }
    const std::int32_t customId = Get(kCustomId);
    const std::int32_t custom = Get(kCustom);
    if (customId != 0 && custom != Get(kLastCustom)) {
        event(static_cast<std::uint32_t>(customId), custom);
        Add(kEventCount, 1);
        Set(kLastCustom, custom);
    }
    if (Get(kReset) != 0) {
        event(kEventReset, 0);
        Set(kStepD, 0);
        Set(kStepE, 0);
        Set(kStepF, 0);
        Set(kReset, 0);
    }
}

std::uint32_t ReadPeriod(platform::registry::Store& store, std::uint32_t current)
{
    std::uint32_t ms = 0;
    if (store.queryDword(platform::registry::Root::LocalMachine, "SOFTWARE\\Orvane\\Vistrel", "MSFSSleepTime", ms) !=
        platform::registry::kSuccess)
        return current;
    if (ms < kDefaultPeriodMs)
        ms = kDefaultPeriodMs;
    if (ms > kMaxPeriodMs)
        ms = kMaxPeriodMs;
    return ms;
}

platform::registry::Status ClientLink::ReadClientLocation(platform::registry::Store& store, std::string& folder)
{
    return store.queryStringUtf8(platform::registry::Root::CurrentUser, kLocationKey, kLocationValue, folder);
}

bool ClientLink::Bind(platform::registry::Store& store)
{
    Unbind();
    std::string folder;
    if (ReadClientLocation(store, folder) != platform::registry::kSuccess)
        return false;
    auto module = platform::Module::load(ovclient::ClientLibraryPath(folder));
    if (!module)
        return false;
    BindLibrary(std::move(*module));
    return true;
}

std::optional<std::int32_t> ViewValue(float v)
{
    // Truncation towards zero; values the range check would refuse anyway
    // but that an int cannot hold (or NaN) are skipped here.
    if (!std::isfinite(v) || std::fabs(v) >= 2147483520.0f)
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

} // namespace fsmodule
