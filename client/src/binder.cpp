#include "client/binder.h"

#include <utility>

namespace ovclient {

namespace {

template <typename Fn, typename... Args>
std::int32_t Call(Fn fn, Args... args)
{
    return fn != nullptr ? fn(args...) : OV_NOT_BOUND;
}

} // namespace

std::string ClientLibraryPath(std::string_view folder)
{
    std::string path(folder);
    if (!path.empty())
        path += '\\';
    return path + kClientLibrary;
}

ClientFunctions BindFunctions(const platform::Module& library)
{
    ClientFunctions f;
    f.registerWindowHandle = library.function<OV_RegisterWindowHandle_t>("OV_RegisterWindowHandle");
    f.unregisterWindowHandle = library.function<OV_Command0_t>("OV_UnregisterWindowHandle");
    f.registerProgramProfileID = library.function<OV_Command16_t>("OV_RegisterProgramProfileID");
    f.queryVersion = library.function<OV_QueryVersion_t>("OV_QueryVersion");
    f.requestData = library.function<OV_Command16_t>("OV_RequestData");
    f.getData = library.function<OV_GetData_t>("OV_GetData");
    f.startCursor = library.function<OV_Command0_t>("OV_StartCursor");
    f.stopCursor = library.function<OV_Command0_t>("OV_StopCursor");
    f.reCenter = library.function<OV_Command0_t>("OV_ReCenter");
    f.startDataTransmission = library.function<OV_Command0_t>("OV_StartDataTransmission");
    f.stopDataTransmission = library.function<OV_Command0_t>("OV_StopDataTransmission");
    f.getParameter = library.function<OV_GetParameter_t>("OV_GetParameter");
    f.setParameter = library.function<OV_SetParameter_t>("OV_SetParameter");
    return f;
}

void ClientBinder::BindLibrary(platform::Module library)
{
    fn_ = ovclient::BindFunctions(library);
    module_ = std::move(library);
}

void ClientBinder::BindFunctions(const ClientFunctions& functions)
{
    module_.reset();
    fn_ = functions;
}

void ClientBinder::Unbind()
{
    fn_ = {};
    module_.reset();
}

std::int32_t ClientBinder::RegisterWindowHandle(OVWindow window) const { return Call(fn_.registerWindowHandle, window); }
std::int32_t ClientBinder::UnregisterWindowHandle() const { return Call(fn_.unregisterWindowHandle); }
std::int32_t ClientBinder::RegisterProgramProfileID(std::uint16_t id) const
{
    return Call(fn_.registerProgramProfileID, id);
}
std::int32_t ClientBinder::QueryVersion(std::uint16_t* out) const { return Call(fn_.queryVersion, out); }
std::int32_t ClientBinder::RequestData(std::uint16_t flags) const { return Call(fn_.requestData, flags); }
std::int32_t ClientBinder::GetData(OVPosePacket* out) const { return Call(fn_.getData, out); }
std::int32_t ClientBinder::StartCursor() const { return Call(fn_.startCursor); }
std::int32_t ClientBinder::StopCursor() const { return Call(fn_.stopCursor); }
std::int32_t ClientBinder::ReCenter() const { return Call(fn_.reCenter); }
std::int32_t ClientBinder::StartDataTransmission() const { return Call(fn_.startDataTransmission); }
std::int32_t ClientBinder::StopDataTransmission() const { return Call(fn_.stopDataTransmission); }
std::int32_t ClientBinder::GetParameter(std::int32_t index, std::int32_t* out) const
{
    return Call(fn_.getParameter, index, out);
}
std::int32_t ClientBinder::SetParameter(std::int32_t index, std::int32_t value) const
{
    return Call(fn_.setParameter, index, value);
}

} // namespace ovclient
