#pragma once
// The flight simulator's own client library, which Flight Simulator X and
// ESP offer to programs that move their camera. It is not part of this
// suite: it is looked for as "SimConnect.dll" (SimConnect.so here, found
// without regard to case) in the hosting program's folder, loaded at run
// time through the module layer, and three of its calls are bound.
#include "platform/modules.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace views {

using SimConnectHandle = void*;
// Open(&handle, program name, window, user event, event handle, configuration
// index); a negative result is a refusal.
using SimConnect_Open_t = std::int32_t (*)(SimConnectHandle* handle, const char* name, void* window,
                                           std::uint32_t userEvent, void* eventHandle, std::uint32_t configIndex);
using SimConnect_Close_t = std::int32_t (*)(SimConnectHandle handle);
// Moves the eye relative to its default: metres right, up, forward, then
// degrees of pitch, bank and heading.
using SimConnect_CameraSetRelative6DOF_t = std::int32_t (*)(SimConnectHandle handle, float deltaX, float deltaY,
                                                            float deltaZ, float pitch, float bank, float heading);

class SimConnectLink {
public:
    enum class Open { Connected, NoLibrary, Refused };

    explicit SimConnectLink(std::filesystem::path folder) : folder_(std::move(folder)) {}
    SimConnectLink(const SimConnectLink&) = delete;
    SimConnectLink& operator=(const SimConnectLink&) = delete;

    // Loads the library unless loaded, binds the three calls and opens a
    // connection under the suite's name. The library stays loaded.
    Open open();
    bool connected() const { return handle_ != nullptr; }
    void setCamera(float dx, float dy, float dz, float pitch, float bank, float heading);
    // Closes the connection, when there is one.
    void close();

private:
    std::filesystem::path folder_;
    std::optional<platform::Module> module_;
    SimConnect_Open_t open_ = nullptr;
    SimConnect_Close_t close_ = nullptr;
    SimConnect_CameraSetRelative6DOF_t setCamera_ = nullptr;
    SimConnectHandle handle_ = nullptr;
};

// The link every CFSX made by the game table shares: the library and the
// connection belong to the hosting program, not to one game session.
SimConnectLink& sharedSimConnect();

// The folder of the program the library runs in (/proc/self/exe).
std::filesystem::path hostProgramFolder();

// The folder this library was loaded from: its in-game module ships beside
// it (an installed update keeps the two in one folder).
std::filesystem::path viewLibraryFolder();

} // namespace views
