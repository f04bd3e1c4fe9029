#pragma once
// Raw data as it came from the camera: an image packet for the decoder, or
// a 64-byte reply for reply capture.
#include "platform/clock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace Orvane {

class CameraPacket {
public:
    static constexpr std::size_t HeaderSize = 4;
    static constexpr std::uint32_t ExtraCapacity = 1024;  // slack of a fresh buffer
    static constexpr std::uint8_t FreshMarker = 35;       // first byte of a fresh buffer

    // A packet may reserve its buffer up front, so the receive path never
    // allocates for packets up to that size.
    explicit CameraPacket(std::uint32_t initialCapacity = 0);
    // The buffer is owned: packets move but are never copied (two packets
    // sharing one buffer would both free and both write it).
    CameraPacket(CameraPacket&&) noexcept = default;
    CameraPacket& operator=(CameraPacket&&) noexcept = default;
    CameraPacket(const CameraPacket&) = delete;
    CameraPacket& operator=(const CameraPacket&) = delete;
    virtual ~CameraPacket();

    // Stamps the time from the performance counter and sets the byte count.
    // The buffer is kept when it holds n bytes; otherwise it is replaced by
    // one of n + 1024 bytes whose first byte is 35. A buffer is never shrunk,
    // so refilling a packet with data of any size seen before allocates
    // nothing.
    void SetNumBytesInPacket(std::uint32_t n);
    void SetNumBytesInPacket(std::uint32_t n, const platform::Clock& clock);
    std::uint32_t GetNumBytesInPacket() const { return byteCount_; }
    void FreeBuffer();

    double GetTimeStamp() const { return time_; }
    void SetTimeStamp(double ticks) { time_ = ticks; }

    std::uint8_t* GetBuffer() { return buffer_.get(); }
    const std::uint8_t* GetBuffer() const { return buffer_.get(); }
    std::uint32_t GetBufferCapacity() const { return capacity_; }
    // The packet's bytes (GetNumBytesInPacket of them).
    std::span<std::uint8_t> GetData() { return {buffer_.get(), buffer_ ? byteCount_ : 0u}; }
    std::span<const std::uint8_t> GetData() const { return {buffer_.get(), buffer_ ? byteCount_ : 0u}; }

    // Header word kept with the packet: option flags, packet mode, check
    // byte, frame id.
    std::array<std::uint8_t, HeaderSize>& GetHeader() { return header_; }
    const std::array<std::uint8_t, HeaderSize>& GetHeader() const { return header_; }
    void SetHeader(std::span<const std::uint8_t, HeaderSize> header);

private:
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint32_t capacity_ = 0;
    double time_ = 0.0;
    std::array<std::uint8_t, HeaderSize> header_{};
    std::uint32_t byteCount_ = 0;
};

// One raw reply from the camera, as reply capture stores it.
class RawPacket {
public:
    static constexpr std::size_t Size = 64;

    RawPacket() = default;
    static constexpr std::size_t PacketSize() { return Size; }
    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }

    std::array<std::uint8_t, Size> bytes{};
};

} // namespace Orvane
