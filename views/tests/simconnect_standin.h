#pragma once
// What the stand-in simulator client library records, shared by the module
// and the tests that read it back (through the module's own exports).
#include <cstdint>
#include <dlfcn.h>
#include <string>
#include <vector>

struct SimConnectStandInCall {
    char name[40];   // "Open", "Close" or "CameraSetRelative6DOF"
    char text[64];   // Open: the program's name
    void* handle;    // the connection (Open: the one handed out)
    float values[6]; // CameraSetRelative6DOF's six numbers
};

extern "C" {
using SimConnectStandIn_Reset_t = void (*)(int refuseOpen);
using SimConnectStandIn_Count_t = int (*)();
using SimConnectStandIn_Call_t = SimConnectStandInCall (*)(int index);
}

#ifdef SIMCONNECT_STANDIN
// The stand-in as a test sees it: the same loaded module the writers use.
class StandInSimulator {
public:
    StandInSimulator()
    {
        handle_ = ::dlopen(SIMCONNECT_STANDIN, RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            return;
        reset_ = reinterpret_cast<SimConnectStandIn_Reset_t>(::dlsym(handle_, "SimConnectStandIn_Reset"));
        count_ = reinterpret_cast<SimConnectStandIn_Count_t>(::dlsym(handle_, "SimConnectStandIn_Count"));
        call_ = reinterpret_cast<SimConnectStandIn_Call_t>(::dlsym(handle_, "SimConnectStandIn_Call"));
        if (reset_)
            reset_(0);
    }
    ~StandInSimulator()
    {
        if (handle_)
            ::dlclose(handle_);
    }
    StandInSimulator(const StandInSimulator&) = delete;
    StandInSimulator& operator=(const StandInSimulator&) = delete;

    bool ready() const { return reset_ && count_ && call_; }
    void refuse(bool refuse) { reset_(refuse ? 1 : 0); }
    std::vector<SimConnectStandInCall> calls() const
    {
        std::vector<SimConnectStandInCall> out;
        for (int i = 0, n = count_(); i < n; ++i)
            out.push_back(call_(i));
        return out;
    }
    // The calls' names, one space between.
    std::string names() const
    {
        std::string out;
        for (const auto& c : calls())
            out += std::string(out.empty() ? "" : " ") + c.name;
        return out;
    }

private:
    void* handle_ = nullptr;
    SimConnectStandIn_Reset_t reset_ = nullptr;
    SimConnectStandIn_Count_t count_ = nullptr;
    SimConnectStandIn_Call_t call_ = nullptr;
};
#endif
