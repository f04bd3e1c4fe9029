#pragma once
// The client library bound at run time, function by function, as the
// suite's own clients bind it (the flight-simulator module, the mouse
// emulator, the view library). Every call answers OV_NOT_BOUND (4) when its
// function is not bound.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/ovclient.h"
#include "platform/modules.h"

namespace ovclient {

// The library's file: the folder, a '\' when the folder is not empty, and
// the library name.
std::string ClientLibraryPath(std::string_view folder);

// The library's game functions; null where not bound.
struct ClientFunctions {
    OV_RegisterWindowHandle_t registerWindowHandle = nullptr;
    OV_Command0_t unregisterWindowHandle = nullptr;
    OV_Command16_t registerProgramProfileID = nullptr;
    OV_QueryVersion_t queryVersion = nullptr;
    OV_Command16_t requestData = nullptr;
    OV_GetData_t getData = nullptr;
    OV_Command0_t startCursor = nullptr;
    OV_Command0_t stopCursor = nullptr;
    OV_Command0_t reCenter = nullptr;
    OV_Command0_t startDataTransmission = nullptr;
    OV_Command0_t stopDataTransmission = nullptr;
    OV_GetParameter_t getParameter = nullptr;
    OV_SetParameter_t setParameter = nullptr;
};

// Every function the library exports, by its exported name.
ClientFunctions BindFunctions(const platform::Module& library);

class ClientBinder {
public:
    // Binds the library's functions and keeps it loaded.
    void BindLibrary(platform::Module library);
    // Binds functions given in place of a library (tests); none is loaded.
    void BindFunctions(const ClientFunctions& functions);
    void Unbind();
    bool IsLoaded() const { return module_.has_value(); }
    const ClientFunctions& Functions() const { return fn_; }

    std::int32_t RegisterWindowHandle(OVWindow window) const;
    std::int32_t UnregisterWindowHandle() const;
    std::int32_t RegisterProgramProfileID(std::uint16_t id) const;
    std::int32_t QueryVersion(std::uint16_t* out) const;
    std::int32_t RequestData(std::uint16_t flags) const;
    std::int32_t GetData(OVPosePacket* out) const;
    std::int32_t StartCursor() const;
    std::int32_t StopCursor() const;
    std::int32_t ReCenter() const;
    std::int32_t StartDataTransmission() const;
    std::int32_t StopDataTransmission() const;
    std::int32_t GetParameter(std::int32_t index, std::int32_t* out) const;
    std::int32_t SetParameter(std::int32_t index, std::int32_t value) const;

private:
    std::optional<platform::Module> module_;
    ClientFunctions fn_;
};

} // namespace ovclient
