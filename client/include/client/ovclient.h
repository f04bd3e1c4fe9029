#pragma once
// OVClient: the library through which games and the suite's own clients get
// the head pose and talk to the main program. This is the suite's own view
// of it; games include the C header orvane/ovclient.h. Every process that
// loads it maps one shared section (the layout below, byte for byte);
// commands go to the main program's hidden command window titled "Orvane"
// and are answered through the section's last-error word.
#include <cstddef>
#include <cstdint>

#define OVCLIENT_API extern "C" __attribute__((visibility("default")))

// What games see: the pose record, the axis bits, the results and the
// exports (the C header they include).
#include "orvane/ovclient.h"

// The shared section, little-endian, 492 bytes.
struct OVSharedSection {
    std::uint16_t version;    // 0x0100 until the main program sets 0x0400
    std::uint16_t padding;
    std::int32_t lastError;   // result of the command being handled
    std::int32_t parameter[3]; // 0 tracking, 1 paused, 2 re-centre request
    std::int32_t unused;
    std::uint8_t reserved[400];
    OVPosePacket pose;
};
static_assert(sizeof(OVSharedSection) == 492);
static_assert(offsetof(OVSharedSection, lastError) == 4);
static_assert(offsetof(OVSharedSection, parameter) == 8);
static_assert(offsetof(OVSharedSection, unused) == 20);
static_assert(offsetof(OVSharedSection, reserved) == 24);
static_assert(offsetof(OVSharedSection, pose) == 424);

// The library's named objects in the session: the section, the mutex of
// the pose record and the one that serialises commands. The main program
// checks them at start as the library opens them.
inline constexpr const char* OV_SECTION_NAME = "OVClient";
inline constexpr const char* OV_RECORD_MUTEX_NAME = "OVClientMutex";
inline constexpr const char* OV_COMMAND_MUTEX_NAME = "OVClientCommand";

// Where the main program publishes the library's folder (a value under the
// user's key) and the library's name in it: the main program's game link
// and the suite's own clients load the library by them.
namespace ovclient {
inline constexpr const char* kLocationKey = "Software\\Orvane\\ORVANE\\OVClient Location";
inline constexpr const char* kLocationValue = "Path";
inline constexpr const char* kClientLibrary = "OVClient.dll";
} // namespace ovclient

// What the first process to map the section finds in it.
inline void OVInitSharedSection(void* bytes, std::size_t)
{
    static_cast<OVSharedSection*>(bytes)->version = 0x0100;
}

// The command message and codes.
inline constexpr std::uint32_t OV_COMMAND_MESSAGE = 0x405;     // WM_USER + 5
inline constexpr std::uint32_t OV_COMMAND_MESSAGE_ALT = 0x406; // handled alike
enum : std::uint32_t {
    OV_CMD_REGISTER_PROFILE = 1010,
    OV_CMD_REGISTER_WINDOW = 1020,
    OV_CMD_UNREGISTER_WINDOW = 1021,
    OV_CMD_REQUEST_DATA = 1030,
    OV_CMD_1040 = 1040,
    OV_CMD_START_DATA = 2010,
    OV_CMD_STOP_DATA = 2020,
    OV_CMD_START_CURSOR = 3010,
    OV_CMD_STOP_CURSOR = 3020,
    OV_CMD_RECENTER = 3030,
};
// The id "LockOn.exe" registers for id 0.
inline constexpr std::uint32_t OV_LOCKON_PROFILE = 1002;

// The main program's private exports.
OVCLIENT_API std::int32_t OVPriv_SetData(const OVPosePacket* record);
// OVPriv_SetData without the wait: 6 at once when the mutex is held. The
// main program uses it after a copy timed out, until a copy succeeds again,
// so that a client stopped while holding the mutex costs one wait, not one
// per frame.
OVCLIENT_API std::int32_t OVPriv_TrySetData(const OVPosePacket* record);
OVCLIENT_API void OVPriv_SetVersion(std::uint16_t version);
OVCLIENT_API void OVPriv_SetLastError(std::int32_t code);
OVCLIENT_API std::int32_t OVPriv_GetLastError();
OVCLIENT_API std::int32_t OVPriv_SetParameter(std::int32_t index, std::int32_t value);
OVCLIENT_API std::int32_t OVPriv_ClientNotify(std::uint16_t type, std::uint16_t value);

// Pointer types for binding the exports by name.
using OVPriv_SetData_t = std::int32_t (*)(const OVPosePacket*);
using OVPriv_TrySetData_t = std::int32_t (*)(const OVPosePacket*);
using OVPriv_SetVersion_t = void (*)(std::uint16_t);
using OVPriv_SetLastError_t = void (*)(std::int32_t);
using OVPriv_GetLastError_t = std::int32_t (*)();
using OVPriv_SetParameter_t = std::int32_t (*)(std::int32_t, std::int32_t);
using OVPriv_ClientNotify_t = std::int32_t (*)(std::uint16_t, std::uint16_t);
using OV_QueryVersion_t = std::int32_t (*)(std::uint16_t*);
using OV_GetData_t = std::int32_t (*)(OVPosePacket*);
using OV_Command0_t = std::int32_t (*)();
using OV_Command16_t = std::int32_t (*)(std::uint16_t);
using OV_RegisterWindowHandle_t = std::int32_t (*)(OVWindow);
using OV_GetParameter_t = std::int32_t (*)(std::int32_t, std::int32_t*);
using OV_SetParameter_t = std::int32_t (*)(std::int32_t, std::int32_t);
