#include "camera/camera_packet.h"

#include <algorithm>

namespace Orvane {

CameraPacket::CameraPacket(std::uint32_t initialCapacity)
{
    if (initialCapacity > 0) {
        buffer_ = std::make_unique<std::uint8_t[]>(initialCapacity);
        capacity_ = initialCapacity;
        buffer_[0] = FreshMarker;
    }
}

CameraPacket::~CameraPacket() = default;

void CameraPacket::SetNumBytesInPacket(std::uint32_t n) { SetNumBytesInPacket(n, platform::systemClock()); }

void CameraPacket::SetNumBytesInPacket(std::uint32_t n, const platform::Clock& clock)
{
    time_ = static_cast<double>(clock.performanceCounter());
    byteCount_ = n;
    if (buffer_ && capacity_ >= n)
        return;
    buffer_.reset();
    capacity_ = 0;
    const std::uint32_t size = n + ExtraCapacity;
    buffer_ = std::make_unique<std::uint8_t[]>(size);
    capacity_ = size;
    buffer_[0] = FreshMarker;
}

void CameraPacket::FreeBuffer()
{
    buffer_.reset();
    capacity_ = 0;
    byteCount_ = 0;
}

void CameraPacket::SetHeader(std::span<const std::uint8_t, HeaderSize> header)
{
    std::copy(header.begin(), header.end(), header_.begin());
}

} // namespace Orvane
