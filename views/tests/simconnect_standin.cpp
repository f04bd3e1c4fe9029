// A stand-in for the flight simulator's client library: it keeps every call
// it gets, and hands out connection handles (or refuses them when told).
#include "simconnect_standin.h"

#include <cstring>
#include <mutex>
#include <vector>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex mutex;
std::vector<SimConnectStandInCall> calls;
int refuse = 0;
std::uintptr_t nextHandle = 0x51C0;

SimConnectStandInCall named(const char* name)
{
    SimConnectStandInCall call{};
    std::strncpy(call.name, name, sizeof call.name - 1);
    return call;
}

} // namespace

EXPORT std::int32_t SimConnect_Open(void** handle, const char* name, void*, std::uint32_t, void*, std::uint32_t)
{
    std::lock_guard lock(mutex);
    SimConnectStandInCall call = named("Open");
    std::strncpy(call.text, name ? name : "", sizeof call.text - 1);
    if (refuse) {
        calls.push_back(call);
        return static_cast<std::int32_t>(0x80004005u); // E_FAIL
    }
    *handle = reinterpret_cast<void*>(nextHandle++);
    call.handle = *handle;
    calls.push_back(call);
    return 0;
}

EXPORT std::int32_t SimConnect_Close(void* handle)
{
    std::lock_guard lock(mutex);
    SimConnectStandInCall call = named("Close");
    call.handle = handle;
    calls.push_back(call);
    return 0;
}

EXPORT std::int32_t SimConnect_CameraSetRelative6DOF(void* handle, float x, float y, float z, float pitch, float bank,
                                                    float heading)
{
    std::lock_guard lock(mutex);
    SimConnectStandInCall call = named("CameraSetRelative6DOF");
    call.handle = handle;
    const float values[6] = {x, y, z, pitch, bank, heading};
    std::memcpy(call.values, values, sizeof values);
    calls.push_back(call);
    return 0;
}

EXPORT void SimConnectStandIn_Reset(int refuseOpen)
{
    std::lock_guard lock(mutex);
    calls.clear();
    refuse = refuseOpen;
}

EXPORT int SimConnectStandIn_Count()
{
    std::lock_guard lock(mutex);
    return static_cast<int>(calls.size());
}

EXPORT SimConnectStandInCall SimConnectStandIn_Call(int index)
{
    std::lock_guard lock(mutex);
    return index >= 0 && index < static_cast<int>(calls.size()) ? calls[static_cast<std::size_t>(index)]
                                                                 : SimConnectStandInCall{};
}
