#include "mouse/client.h"

namespace vslmouse {

using platform::registry::Root;

std::string GetClientFolder(platform::registry::Store& store, const MessageSink& message)
{
    auto fail = [&](std::u16string_view text) {
        if (message)
            message(text);
        return std::string("Error");
    };
    if (store.openKey(Root::CurrentUser, kLocationKey) != platform::registry::kSuccess)
        return fail(u"DLL Location key not present.");
    std::string folder;
    const auto rc = store.queryStringUtf8(Root::CurrentUser, kLocationKey, kLocationValue, folder);
    if (rc == platform::registry::kNotEnoughMemory)
        return fail(u"Insufficient memory!");
    if (rc != platform::registry::kSuccess)
        return fail(u"Error reading location key!");
    return folder;
}

std::string ClientLibraryPath(std::string_view folder)
{
    std::string path(folder);
    if (!path.empty())
        path += '\\';
    return path + kClientLibrary;
}

std::int32_t ClientBinding::BindClient(platform::registry::Store& store, const MessageSink& message)
{
    Unbind();
    if (fixed_) {
        fn_ = *fixed_;
        return OV_OK;
    }
    const std::string folder = GetClientFolder(store, message);
    auto module = platform::Module::load(ClientLibraryPath(folder));
    if (!module)
        return kNotBound;
    ClientFunctions f;
    f.registerWindowHandle = module->function<OV_RegisterWindowHandle_t>("OV_RegisterWindowHandle");
    f.unregisterWindowHandle = module->function<OV_Command0_t>("OV_UnregisterWindowHandle");
    f.registerProgramProfileID = module->function<OV_Command16_t>("OV_RegisterProgramProfileID");
    f.queryVersion = module->function<OV_QueryVersion_t>("OV_QueryVersion");
    f.requestData = module->function<OV_Command16_t>("OV_RequestData");
    f.getData = module->function<OV_GetData_t>("OV_GetData");
    f.startCursor = module->function<OV_Command0_t>("OV_StartCursor");
    f.stopCursor = module->function<OV_Command0_t>("OV_StopCursor");
    f.reCenter = module->function<OV_Command0_t>("OV_ReCenter");
    f.startDataTransmission = module->function<OV_Command0_t>("OV_StartDataTransmission");
    f.stopDataTransmission = module->function<OV_Command0_t>("OV_StopDataTransmission");
    f.getParameter = module->function<OV_GetParameter_t>("OV_GetParameter");
    f.setParameter = module->function<OV_SetParameter_t>("OV_SetParameter");
    module_ = std::move(module);
    fn_ = f;
    return OV_OK;
}

void ClientBinding::Unbind()
{
    fn_ = {};
    module_.reset();
}

std::int32_t ClientBinding::RegisterWindowHandle(OVWindow window) const
{
    return fn_.registerWindowHandle ? fn_.registerWindowHandle(window) : kNotBound;
}
std::int32_t ClientBinding::UnregisterWindowHandle() const
{
    return fn_.unregisterWindowHandle ? fn_.unregisterWindowHandle() : kNotBound;
}
std::int32_t ClientBinding::RegisterProgramProfileID(std::uint16_t id) const
{
    return fn_.registerProgramProfileID ? fn_.registerProgramProfileID(id) : kNotBound;
}
std::int32_t ClientBinding::QueryVersion(std::uint16_t* out) const
{
    return fn_.queryVersion ? fn_.queryVersion(out) : kNotBound;
}
std::int32_t ClientBinding::RequestData(std::uint16_t flags) const
{
    return fn_.requestData ? fn_.requestData(flags) : kNotBound;
}
std::int32_t ClientBinding::GetData(OVPosePacket* out) const { return fn_.getData ? fn_.getData(out) : kNotBound; }
std::int32_t ClientBinding::StartCursor() const { return fn_.startCursor ? fn_.startCursor() : kNotBound; }
std::int32_t ClientBinding::StopCursor() const { return fn_.stopCursor ? fn_.stopCursor() : kNotBound; }
std::int32_t ClientBinding::ReCenter() const { return fn_.reCenter ? fn_.reCenter() : kNotBound; }
std::int32_t ClientBinding::StartDataTransmission() const
{
    return fn_.startDataTransmission ? fn_.startDataTransmission() : kNotBound;
}
std::int32_t ClientBinding::StopDataTransmission() const
{
    return fn_.stopDataTransmission ? fn_.stopDataTransmission() : kNotBound;
}
std::int32_t ClientBinding::GetParameter(std::int32_t index, std::int32_t* out) const
{
    return fn_.getParameter ? fn_.getParameter(index, out) : kNotBound;
}
std::int32_t ClientBinding::SetParameter(std::int32_t index, std::int32_t value) const
{
    return fn_.setParameter ? fn_.setParameter(index, value) : kNotBound;
}

} // namespace vslmouse
