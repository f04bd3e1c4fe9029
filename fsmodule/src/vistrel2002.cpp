// Vistrel-2002: the flight simulator's head-tracking module. A client of
// OVClient like any game: on init it registers a hidden window of its own
// and the program profile id 2302, starts data transmission, and a thread
// copies yaw and pitch from the pose record into the simulator's view as
// simulator events every period.
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "fsmodule/module_interface.h"
#include "fsmodule/view.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/session.h"
#include "platform/shared.h"
#include "platform/sync.h"

using fsmodule::Word;

namespace {

void FSModuleInit();
void FSModuleDeinit();

// The shared view section of the current session, opened on first use and
// again when the session changes; holders keep theirs alive.
std::shared_ptr<platform::SharedSection> ViewSection()
{
    static std::mutex mutex;
    static std::string session;
    static std::shared_ptr<platform::SharedSection> section;
    std::lock_guard lock(mutex);
    const std::string& current = platform::currentSession();
    if (!section || session != current) {
        section = platform::SharedSection::open(fsmodule::kSectionName, fsmodule::kSectionBytes,
                                                [](void* bytes, std::size_t) { fsmodule::ViewSlots::Initialise(bytes); });
        session = current;
    }
    return section;
}

// Per-process state of the module, owned by init and deinit.
struct ModuleState {
    std::mutex mutex; // init and deinit
    fsmodule::ClientLink client;
    platform::HWND window = 0;
    std::thread thread;
    platform::Event wake{platform::Event::Reset::Manual};
    std::atomic<bool> running{false};
    std::atomic<std::uint32_t> periodMs{fsmodule::kDefaultPeriodMs};
    std::atomic<std::uint32_t> startTime{0};
    std::atomic<std::uint32_t> callbackTime{0};
    std::atomic<bool> suppressCallback{false};
    std::atomic<Word> callbackWord{0};
    std::shared_ptr<platform::SharedSection> section;
};

ModuleState& State()
{
    static ModuleState state;
    return state;
}

// The context record: its first word goes with every forwarded call.
Word gContext[2] = {0, 0};
// The block the callback hands the simulator.
Word gCallbackBlock[16] = {};

Word SimulatorEntry(std::size_t index);

template <std::size_t N>
Word Forward1(Word argument)
{
    const Word fn = SimulatorEntry(fsmodule::kSimForward[N]);
    return fn != 0 ? reinterpret_cast<fsmodule::SimForward1>(fn)(argument, gContext[0]) : 0;
}

template <std::size_t N>
Word Forward2(Word first, Word second)
{
    const Word fn = SimulatorEntry(fsmodule::kSimForward[N]);
    return fn != 0 ? reinterpret_cast<fsmodule::SimForward2>(fn)(first, second, gContext[0]) : 0;
}

Word FnWord(auto fn) { return reinterpret_cast<Word>(fn); }

const char kViewControlName[] = "ViewControl";

Word gFunctionTable[fsmodule::kFunctionTableWords] = {
    0x320,
    reinterpret_cast<Word>(kViewControlName),
    reinterpret_cast<Word>(gContext),
    FnWord(&Forward1<0>),
    FnWord(&Forward2<1>),
    FnWord(&Forward1<2>),
    FnWord(&Forward1<3>),
    FnWord(&Forward2<4>),
    FnWord(&Forward1<5>),
    FnWord(&Forward1<6>),
    0,
    1,
};

} // namespace

extern "C" {
// The simulator's records; names and layout are the module interface's.
__attribute__((visibility("default"))) Word Linkage[fsmodule::kLinkageWords] = {
    0x13, FnWord(&FSModuleInit), FnWord(&FSModuleDeinit), 0, 0, 0x800, reinterpret_cast<Word>(gFunctionTable), 0,
};
__attribute__((visibility("default"))) Word ImportTable[fsmodule::kImportTableWords] = {0x0F, 0, 0, 0};
FSMODULE_API void FSModuleCallback();
}

namespace {

Word gCallbackRecord[fsmodule::kCallbackRecordWords] = {
    FnWord(&FSModuleCallback), 0, 0, reinterpret_cast<Word>(gCallbackBlock), 0, 0, 0, 0x1002, 9,
};

Word SimulatorEntry(std::size_t index)
{
    const Word table = std::atomic_ref(ImportTable[fsmodule::kImportSimulatorTable]).load(std::memory_order_acquire);
    return table != 0 ? reinterpret_cast<const Word*>(table)[index] : 0;
}

void ViewThread(std::shared_ptr<platform::SharedSection> section)
{
    ModuleState& state = State();
    fsmodule::ViewSlots slots(section->data());
    const auto send = reinterpret_cast<fsmodule::SimSendEvent>(SimulatorEntry(fsmodule::kSimSendEvent));
    while (state.running.load()) {
        OVPosePacket pose{};
        if (state.client.GetData(&pose) == OV_OK) {
            const auto yaw = fsmodule::ViewValue(pose.value[2]);
            const auto pitch = fsmodule::ViewValue(pose.value[1]);
            if (yaw && pitch)
                slots.SetViewEx(*yaw, *pitch, 0, 0, 0, 0);
        }
        slots.SendChanges(send);
        state.wake.wait(state.periodMs.load());
    }
}

void FSModuleInit()
{
    ModuleState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.running.load())
        return; // a second init without deinit would start a second thread
    state.startTime = platform::TickCount();
    {
        platform::registry::Store store(platform::registry::defaultPath());
        state.periodMs = fsmodule::ReadPeriod(store, state.periodMs.load());
        state.client.Bind(store);
    }
    state.window = platform::createWindow({"OVFSWindowClass", "", true},
                                          [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
                                              return platform::LRESULT{0};
                                          });
    if (state.client.IsBound()) {
        state.client.RegisterWindowHandle(state.window);
        state.client.RequestData(OV_AXIS_ALL);
        state.client.RegisterProgramProfileID(fsmodule::ClientLink::kProgramProfileId);
        state.client.StartDataTransmission();
    }
    state.section = ViewSection();
    state.wake.reset();
    state.running = true;
    if (state.section) {
        state.thread = std::thread(ViewThread, state.section);
        fsmodule::ViewSlots(state.section->data()).Set(fsmodule::kInitialised, 1);
    }
}

void FSModuleDeinit()
{
    ModuleState& state = State();
    std::lock_guard lock(state.mutex);
    if (!state.running.load())
        return;
    state.running = false;
    state.wake.set();
    if (state.thread.joinable())
        state.thread.join();
    state.client.UnregisterWindowHandle();
    state.client.StopDataTransmission();
    if (state.section)
        fsmodule::ViewSlots(state.section->data()).Set(fsmodule::kInitialised, 0);
    if (state.window != 0)
        platform::destroyWindow(state.window);
    state.window = 0;
    state.client.Unbind();
    state.section.reset();
}

template <typename Fn>
std::int32_t WithSlots(Fn fn)
{
    const auto section = ViewSection();
    if (!section)
        return fsmodule::kViewNotInitialised;
    fsmodule::ViewSlots slots(section->data());
    return fn(slots);
}

} // namespace

FSMODULE_API std::int32_t FSSetView(std::int32_t a, std::int32_t b)
{
    return WithSlots([&](fsmodule::ViewSlots& s) { return s.SetView(a, b); });
}

FSMODULE_API std::int32_t FSSetViewEx(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                                      std::int32_t e, std::int32_t f)
{
    return WithSlots([&](fsmodule::ViewSlots& s) { return s.SetViewEx(a, b, c, d, e, f); });
}

FSMODULE_API std::int32_t FSSetCustomView(std::int32_t id, std::int32_t value)
{
    return WithSlots([&](fsmodule::ViewSlots& s) { return s.SetCustomView(id, value); });
}

FSMODULE_API std::int32_t FSResetView()
{
    // Answers 0 even before init (and without a section, when nothing can be stored).
    WithSlots([](fsmodule::ViewSlots& s) { return s.ResetView(); });
    return fsmodule::kViewOk;
}

// The simulator's callback (reached through the callback record): hands it
// the module's block, then keeps the block's first word.
FSMODULE_API void FSModuleCallback()
{
    ModuleState& state = State();
    state.callbackTime = platform::TickCount();
    if (!state.suppressCallback.load()) {
        const Word fn = SimulatorEntry(fsmodule::kSimCallback);
        if (fn != 0)
            reinterpret_cast<fsmodule::SimCallback>(fn)(reinterpret_cast<Word*>(gCallbackRecord[3]));
    }
    state.callbackWord = std::atomic_ref(gCallbackBlock[0]).load();
}
