#include "fsmodule/view.h"

#include <atomic>
#include <cmath>

namespace fsmodule {

namespace {

bool InRange(std::int32_t v) { return v >= -kViewLimit && v <= kViewLimit; }

template <typename Fn>
std::int32_t Call(Fn fn, auto... args)
{
    return fn != nullptr ? fn(args...) : OV_NOT_BOUND;
}

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
    std::string path;
    if (ReadClientLocation(store, path) != platform::registry::kSuccess)
        return false;
    if (!path.empty())
        path += '\\';
    path += "OVClient.dll";
    module_ = platform::Module::load(path);
    if (!module_)
        return false;
    registerWindow_ = module_->function<OV_RegisterWindowHandle_t>("OV_RegisterWindowHandle");
    unregisterWindow_ = module_->function<OV_Command0_t>("OV_UnregisterWindowHandle");
    registerProfile_ = module_->function<OV_Command16_t>("OV_RegisterProgramProfileID");
    queryVersion_ = module_->function<OV_QueryVersion_t>("OV_QueryVersion");
    requestData_ = module_->function<OV_Command16_t>("OV_RequestData");
    getData_ = module_->function<OV_GetData_t>("OV_GetData");
    startCursor_ = module_->function<OV_Command0_t>("OV_StartCursor");
    stopCursor_ = module_->function<OV_Command0_t>("OV_StopCursor");
    reCenter_ = module_->function<OV_Command0_t>("OV_ReCenter");
    startData_ = module_->function<OV_Command0_t>("OV_StartDataTransmission");
    stopData_ = module_->function<OV_Command0_t>("OV_StopDataTransmission");
    return true;
}

void ClientLink::Unbind()
{
    registerWindow_ = nullptr;
    registerProfile_ = requestData_ = nullptr;
    queryVersion_ = nullptr;
    getData_ = nullptr;
    unregisterWindow_ = startCursor_ = stopCursor_ = reCenter_ = startData_ = stopData_ = nullptr;
    module_.reset();
}

std::int32_t ClientLink::RegisterWindowHandle(OVWindow window) const { return Call(registerWindow_, window); }
std::int32_t ClientLink::UnregisterWindowHandle() const { return Call(unregisterWindow_); }
std::int32_t ClientLink::RegisterProgramProfileID(std::uint16_t id) const { return Call(registerProfile_, id); }
std::int32_t ClientLink::QueryVersion(std::uint16_t* out) const { return Call(queryVersion_, out); }
std::int32_t ClientLink::RequestData(std::uint16_t flags) const { return Call(requestData_, flags); }
std::int32_t ClientLink::GetData(OVPosePacket* out) const { return Call(getData_, out); }
std::int32_t ClientLink::StartCursor() const { return Call(startCursor_); }
std::int32_t ClientLink::StopCursor() const { return Call(stopCursor_); }
std::int32_t ClientLink::ReCenter() const { return Call(reCenter_); }
std::int32_t ClientLink::StartDataTransmission() const { return Call(startData_); }
std::int32_t ClientLink::StopDataTransmission() const { return Call(stopData_); }

std::optional<std::int32_t> ViewValue(float v)
{
    // Truncation towards zero; values the range check would refuse anyway
    // but that an int cannot hold (or NaN) are skipped here.
    if (!std::isfinite(v) || std::fabs(v) >= 2147483520.0f)
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

} // namespace fsmodule
