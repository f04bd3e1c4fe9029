#include "camera/configuration_data.h"

#include "camera/exceptions.h"

#include <chrono>
#include <string>

namespace Orvane {

const CameraConfigurationData CameraConfigurationData::Blank{};

CameraConfigurationData::CameraConfigurationData(const CameraConfigurationData& other)
{
    other.WaitValid();
    CopyFieldsFrom(other);
    state_.store(other.state_.load(std::memory_order_acquire), std::memory_order_release);
}

CameraConfigurationData& CameraConfigurationData::operator=(const CameraConfigurationData& other)
{
    if (this != &other)
        CopyFieldsFrom(other);
    return *this;
}

void CameraConfigurationData::CopyFieldsFrom(const CameraConfigurationData& other)
{
    constexpr auto r = std::memory_order_relaxed;
    modelType_.store(other.modelType_.load(r), r);
    modelVersion_.store(other.modelVersion_.load(r), r);
    serialNumber_.store(other.serialNumber_.load(r), r);
    hardwareRevision_.store(other.hardwareRevision_.load(r), r);
    hardwareOptions_.store(other.hardwareOptions_.load(r), r);
    hardwareOptionsLock_.store(other.hardwareOptionsLock_.load(r), r);
    hardwareInterface_.store(other.hardwareInterface_.load(r), r);
    defaultThreshold_.store(other.defaultThreshold_.load(r), r);
}

void CameraConfigurationData::SetState(State s)
{
    {
        std::lock_guard lock(waitMutex_);
        state_.store(s, std::memory_order_release);
    }
    waitCv_.notify_all();
}

void CameraConfigurationData::SetWaitingState() { SetState(Waiting); }

void CameraConfigurationData::SetValidState() { SetState(Valid); }

void CameraConfigurationData::SetInvalidState()
{
    CopyFieldsFrom(Blank);
    SetState(Invalid);
}

void CameraConfigurationData::WaitValid() const
{
    while (!WaitValidFor(WaitStepMs)) {
    }
}

bool CameraConfigurationData::WaitValidFor(unsigned ms) const
{
    if (state_.load(std::memory_order_acquire) != Waiting)
        return true;
    std::unique_lock lock(waitMutex_);
    return waitCv_.wait_for(lock, std::chrono::milliseconds(ms),
                            [this] { return state_.load(std::memory_order_acquire) != Waiting; });
}

int CameraConfigurationData::DefaultThresholdFor(int revision, int modelType, int modelVersion)
{
    switch (revision) {
    case 3:
        return 100;
    case 4:
        return (modelType == 3 && modelVersion == 0) ? 140 : 130;
    case 5:
    case 6:
    case 7:
    case 12:
        return 140;
    case 8:
        return 120;
    case 9:
        return 150;
    default:
        return -1;
    }
}

void CameraConfigurationData::Parse(const unsigned char* block, int length)
{
    if (block == nullptr) {
        SetInvalidState();
        return;
    }
    Parse(std::span<const std::uint8_t>(block, length > 0 ? static_cast<std::size_t>(length) : 0u));
}

void CameraConfigurationData::Parse(std::span<const std::uint8_t> block)
{
    if (block.data() == nullptr && block.empty()) {
        SetInvalidState();
        return;
    }
    const auto length = static_cast<long>(block.size());
    if (length < MinimumBlockLength || length > MaximumBlockLength) {
        SetInvalidState();
        throw NoCameraDataException("CameraConfigurationData::Parse - configuration reply of " +
                                    std::to_string(length) + " bytes refused.");
    }
    constexpr auto r = std::memory_order_relaxed;
    const int type = block[1];
    const int version = block[2];
    const int revision = block[6];
    modelType_.store(type, r);
    modelVersion_.store(version, r);
    serialNumber_.store(static_cast<unsigned long>(block[3]) << 16 | static_cast<unsigned long>(block[4]) << 8 |
                            static_cast<unsigned long>(block[5]),
                        r);
    hardwareRevision_.store(revision, r);
    hardwareOptions_.store(block[7], r);
    hardwareOptionsLock_.store(0, r);
    hardwareInterface_.store(length > HardwareInterfaceIndex ? block[HardwareInterfaceIndex] : 0, r);
    defaultThreshold_.store(DefaultThresholdFor(revision, type, version), r);
    SetValidState();
}

void CameraConfigurationData::ParseReply(std::span<const std::uint8_t> reply)
{
    if (reply.empty()) {
        SetInvalidState();
        throw NoCameraDataException(std::string("CameraConfigurationData::ParseReply - empty configuration reply."));
    }
    const std::size_t claimed = reply[0];
    if (claimed < 1 || claimed > reply.size()) {
        SetInvalidState();
        throw NoCameraDataException("CameraConfigurationData::ParseReply - reply claims " + std::to_string(claimed) +
                                    " bytes, " + std::to_string(reply.size()) + " received.");
    }
    Parse(reply.subspan(1, claimed - 1));
}

int CameraConfigurationData::GetModelType() const
{
    WaitValid();
    return modelType_.load(std::memory_order_relaxed);
}

int CameraConfigurationData::GetModelVersion() const
{
    WaitValid();
    return modelVersion_.load(std::memory_order_relaxed);
}

unsigned long CameraConfigurationData::GetSerialNumber() const
{
    WaitValid();
    return serialNumber_.load(std::memory_order_relaxed);
}

int CameraConfigurationData::GetHardwareRevision() const
{
    WaitValid();
    return hardwareRevision_.load(std::memory_order_relaxed);
}

int CameraConfigurationData::GetHardwareOptions() const
{
    WaitValid();
    return hardwareOptions_.load(std::memory_order_relaxed);
}

int CameraConfigurationData::GetHardwareOptionsLock() const
{
    WaitValid();
    return hardwareOptionsLock_.load(std::memory_order_relaxed);
}

int CameraConfigurationData::GetHardwareInterface() const
{
    WaitValid();
    return hardwareInterface_.load(std::memory_order_relaxed);
}

int CameraConfigurationData::GetDefaultThreshold() const
{
    WaitValid();
    return defaultThreshold_.load(std::memory_order_relaxed);
}

} // namespace Orvane
