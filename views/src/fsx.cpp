#include "views/game_details.h"

#include "platform/program_folders.h"

#include <system_error>

#include <dlfcn.h>

namespace views {

std::filesystem::path hostProgramFolder()
{
    return platform::ownExecutable().parent_path();
}

std::filesystem::path viewLibraryFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&viewLibraryFolder), &info) == 0 || info.dli_fname == nullptr)
        return hostProgramFolder();
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? hostProgramFolder() : file.parent_path();
}

SimConnectLink::Open SimConnectLink::open()
{
    if (!module_) {
        // Only the program's own folder: a module is never loaded from
        // where something else says.
        auto module = platform::Module::load((folder_ / "SimConnect.dll").string());
        if (!module)
            return Open::NoLibrary;
        module_ = std::move(module);
        open_ = module_->function<SimConnect_Open_t>("SimConnect_Open");
        close_ = module_->function<SimConnect_Close_t>("SimConnect_Close");
        setCamera_ = module_->function<SimConnect_CameraSetRelative6DOF_t>("SimConnect_CameraSetRelative6DOF");
    }
    // A library without the three calls cannot be driven.
    if (!open_ || !close_ || !setCamera_)
        return Open::NoLibrary;
    close();
    SimConnectHandle handle = nullptr;
    if (open_(&handle, "Vistrel SimConnect Interface", nullptr, 0, nullptr, 0) < 0)
        return Open::Refused;
    handle_ = handle;
    return Open::Connected;
}

void SimConnectLink::setCamera(float dx, float dy, float dz, float pitch, float bank, float heading)
{
    if (handle_)
        setCamera_(handle_, dx, dy, dz, pitch, bank, heading);
}

void SimConnectLink::close()
{
    if (handle_ && close_)
        close_(handle_);
    handle_ = nullptr;
}

SimConnectLink& sharedSimConnect()
{
    static SimConnectLink link(hostProgramFolder());
    return link;
}

} // namespace views

using namespace views;

std::uint32_t CFSX::Update(CProcessPoker*, const OVPosePacket* record)
{
    if (first_) {
        first_ = false;
        switch (link_.open()) {
        case SimConnectLink::Open::NoLibrary:
            return 1;
        case SimConnectLink::Open::Refused:
            return 2;
        case SimConnectLink::Open::Connected:
            return kWriteOk; // the camera moves from the next frame on
        }
    }
    if (record->status != 0 || record->frame == lastFrame_ || !link_.connected())
        return kWriteOk;
    constexpr float kFull = 16383.0f;
    link_.setCamera(posX(*record) * -0.25f / kFull, posY(*record) * 0.5f / kFull, posZ(*record) * -0.5f / kFull,
                    pitch(*record) * 90.0f / kFull, roll(*record) * 90.0f / kFull, yaw(*record) * -180.0f / kFull);
    lastFrame_ = record->frame;
    return kWriteOk;
}

void CFSX::OnStop()
{
    link_.close();
}
