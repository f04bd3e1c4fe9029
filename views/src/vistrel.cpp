#include "views/vistrel.h"

#include "platform/registry.h"

#include <string>
#include <utility>

namespace {
constexpr const char* kLocationKey = "Software\\ORVANE\\ORVANE\\OVClient Location";
constexpr std::uint16_t kAllAxes = 119;
} // namespace

CVistrel::~CVistrel()
{
    Disconnect();
}

bool CVistrel::load()
{
    if (client_.IsLoaded())
        return true;
    std::string folder;
    auto store = platform::registry::defaultStore();
    if (!store || store->queryStringUtf8(platform::registry::Root::CurrentUser, kLocationKey, "Path", folder) !=
                      platform::registry::kSuccess)
        return false;
    // The folder is taken as it stands: without its trailing separator the
    // name does not load.
    auto module = platform::Module::load(folder + "OVCLient.dll");
    if (!module)
        return false;
    client_.BindLibrary(std::move(*module));
    return true;
}

bool CVistrel::Connect(OVWindow game, std::uint16_t profileId)
{
    if (connected_)
        return true;
    if (!load())
        return false;
    // A library that lacks one of the functions cannot be driven.
    const ovclient::ClientFunctions& f = client_.Functions();
    if (!f.registerWindowHandle || !f.unregisterWindowHandle || !f.startDataTransmission || !f.stopDataTransmission ||
        !f.getData || !f.queryVersion || !f.registerProgramProfileID || !f.requestData || !f.startCursor ||
        !f.stopCursor)
        return false;
    std::uint16_t version = 0;
    if (client_.QueryVersion(&version) != 0 || client_.RegisterWindowHandle(game) != 0 ||
        client_.RegisterProgramProfileID(profileId) != 0 || client_.RequestData(kAllAxes) != 0 ||
        client_.StopCursor() != 0 || client_.StartDataTransmission() != 0)
        return false;
    connected_ = true;
    return true;
}

bool CVistrel::Poll(OVPosePacket& record)
{
    return connected_ && client_.GetData(&record) == 0;
}

void CVistrel::Disconnect()
{
    if (!connected_)
        return;
    client_.StopDataTransmission();
    client_.StartCursor();
    client_.UnregisterWindowHandle();
    connected_ = false;
}
