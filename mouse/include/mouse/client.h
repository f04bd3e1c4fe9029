#pragma once
// The emulator's hold on the client library: found through the folder the
// main program publishes in the registry, bound function by function. Every
// call goes through a wrapper that answers 4 when its function is not bound.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "client/ovclient.h"
#include "platform/modules.h"
#include "platform/registry.h"

namespace vslmouse {

inline constexpr const char* kLocationKey = "Software\\Orvane\\ORVANE\\OVClient Location";
inline constexpr const char* kLocationValue = "Path";
inline constexpr const char* kClientLibrary = "OVClient.dll";
inline constexpr std::int32_t kNotBound = OV_NOT_BOUND;

// The library's functions the emulator uses; null where not bound.
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

// Shows a message box to the user.
using MessageSink = std::function<void(std::u16string_view)>;

// The client folder; on failure the user is told why (through `message`)
// and the folder is "Error".
std::string GetClientFolder(platform::registry::Store& store, const MessageSink& message);
// The library's file: the folder, a '\' when the folder is not empty, and
// the library name.
std::string ClientLibraryPath(std::string_view folder);

class ClientBinding {
public:
    ClientBinding() = default;
    // Binds the functions given in place of a library (tests).
    explicit ClientBinding(const ClientFunctions& fixed) : fixed_(fixed) {}

    // Loads the library from the registry's folder and binds its functions.
    // 0 when loaded, 4 when the folder or library is missing.
    std::int32_t BindClient(platform::registry::Store& store, const MessageSink& message);
    void Unbind();
    bool IsLoaded() const { return module_.has_value(); }

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
    std::optional<ClientFunctions> fixed_;
    std::optional<platform::Module> module_;
    ClientFunctions fn_;
};

} // namespace vslmouse
