// Any bytes as the camera's configuration reply: it is read or refused
// with the library's exception, never read past its end.
#include "camera/configuration_data.h"
#include "camera/exceptions.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Orvane::CameraConfigurationData config;
    try {
        config.ParseReply(std::span<const std::uint8_t>(data, size));
    } catch (const Orvane::NoCameraDataException&) {
        return 0;
    }
    (void)config.GetModelType();
    (void)config.GetSerialNumber();
    (void)config.GetHardwareRevision();
    (void)config.GetHardwareInterface();
    (void)config.GetDefaultThreshold();
    return 0;
}
