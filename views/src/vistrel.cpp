#include "views/vistrel.h"

#include "platform/registry.h"

#include <string>

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
    if (module_)
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
    registerWindow_ = module->function<OV_RegisterWindowHandle_t>("OV_RegisterWindowHandle");
    unregisterWindow_ = module->function<OV_Command0_t>("OV_UnregisterWindowHandle");
    startData_ = module->function<OV_Command0_t>("OV_StartDataTransmission");
    stopData_ = module->function<OV_Command0_t>("OV_StopDataTransmission");
    getData_ = module->function<OV_GetData_t>("OV_GetData");
    queryVersion_ = module->function<OV_QueryVersion_t>("OV_QueryVersion");
    reCenter_ = module->function<OV_Command0_t>("OV_ReCenter");
    registerProfile_ = module->function<OV_Command16_t>("OV_RegisterProgramProfileID");
    requestData_ = module->function<OV_Command16_t>("OV_RequestData");
    startCursor_ = module->function<OV_Command0_t>("OV_StartCursor");
    stopCursor_ = module->function<OV_Command0_t>("OV_StopCursor");
    module_ = std::move(module);
    return true;
}

bool CVistrel::Connect(OVWindow game, std::uint16_t profileId)
{
    if (connected_)
        return true;
    if (!load())
        return false;
    // A library that lacks one of the functions cannot be driven.
    if (!registerWindow_ || !unregisterWindow_ || !startData_ || !stopData_ || !getData_ || !queryVersion_ ||
        !registerProfile_ || !requestData_ || !startCursor_ || !stopCursor_)
        return false;
    std::uint16_t version = 0;
    if (queryVersion_(&version) != 0 || registerWindow_(game) != 0 || registerProfile_(profileId) != 0 ||
        requestData_(kAllAxes) != 0 || stopCursor_() != 0 || startData_() != 0)
        return false;
    connected_ = true;
    return true;
}

bool CVistrel::Poll(OVPosePacket& record)
{
    return connected_ && getData_(&record) == 0;
}

void CVistrel::Disconnect()
{
    if (!connected_)
        return;
    stopData_();
    startCursor_();
    unregisterWindow_();
    connected_ = false;
}
