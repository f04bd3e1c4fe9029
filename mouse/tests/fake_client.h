#pragma once
// A client library in small for the emulator's tests: free functions bound
// through ClientFunctions that act on one FakeClient the test installs.
#include <cstdint>
#include <string>
#include <vector>

#include "mouse/client.h"

namespace mouse_test {

struct FakeClient {
    OVPosePacket record{};
    std::int32_t parameter[3] = {0, 0, 0};
    std::int32_t getDataResult = 0;
    std::int32_t registerResult = 0;
    std::int32_t profileResult = 0;
    std::int32_t startResult = 0;
    std::vector<std::string> calls;
    std::uint32_t window = 0;
    std::uint16_t profile = 0;
    std::uint16_t flags = 0;

    static FakeClient*& current()
    {
        static FakeClient* c = nullptr;
        return c;
    }
    void setPose(std::uint16_t frame, float yaw, float pitch = 0, float roll = 0, float x = 0, float y = 0,
                 float z = 0)
    {
        record.frame = frame;
        record.value[0] = roll;
        record.value[1] = pitch;
        record.value[2] = yaw;
        record.value[3] = x;
        record.value[4] = y;
        record.value[5] = z;
    }
    // Every command but the data reads, in order.
    std::vector<std::string> commands() const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c != "GetData" && c != "GetParameter")
                out.push_back(c);
        return out;
    }

    static vslmouse::ClientFunctions functions()
    {
        vslmouse::ClientFunctions f;
        f.registerWindowHandle = [](OVWindow w) {
            current()->calls.push_back("RegisterWindowHandle");
            current()->window = w;
            return current()->registerResult;
        };
        f.unregisterWindowHandle = [] {
            current()->calls.push_back("UnregisterWindowHandle");
            return std::int32_t{0};
        };
        f.registerProgramProfileID = [](std::uint16_t id) {
            current()->calls.push_back("RegisterProgramProfileID");
            current()->profile = id;
            return current()->profileResult;
        };
        f.queryVersion = [](std::uint16_t* v) {
            current()->calls.push_back("QueryVersion");
            *v = 0x400;
            return std::int32_t{0};
        };
        f.requestData = [](std::uint16_t flags) {
            current()->calls.push_back("RequestData");
            current()->flags = flags;
            return std::int32_t{0};
        };
        f.getData = [](OVPosePacket* out) {
            current()->calls.push_back("GetData");
            *out = current()->record;
            return current()->getDataResult;
        };
        f.startDataTransmission = [] {
            current()->calls.push_back("StartDataTransmission");
            return current()->startResult;
        };
        f.stopDataTransmission = [] {
            current()->calls.push_back("StopDataTransmission");
            return std::int32_t{0};
        };
        f.getParameter = [](std::int32_t i, std::int32_t* out) {
            current()->calls.push_back("GetParameter");
            *out = current()->parameter[i];
            return std::int32_t{0};
        };
        f.setParameter = [](std::int32_t i, std::int32_t v) {
            current()->calls.push_back("SetParameter " + std::to_string(i) + " " + std::to_string(v));
            current()->parameter[i] = v;
            return std::int32_t{0};
        };
        return f;
    }
};

} // namespace mouse_test
