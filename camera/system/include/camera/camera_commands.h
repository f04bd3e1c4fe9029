#pragma once
// The camera operations the camera system forwards to its device camera,
// as one narrow interface: the system reaches the device only through it,
// so the system does not depend on the device layer's code, and a test
// double can stand in. The device camera's binding implements it over
// Orvane::Camera with the same results (-1 where an operation does not
// apply, 0 for a queued setter).
#include <cstdint>
#include <span>

#include "camera/camera.h"

namespace Orvane {

class CameraCommands {
public:
    virtual ~CameraCommands() = default;

    virtual int SetCameraOptions(int threshold, bool invert, bool pulse) = 0;
    virtual int StatusOn() = 0;
    virtual int StatusOff() = 0;
    virtual int StatusRedOn() = 0;
    virtual int StatusRedOff() = 0;
    virtual int StatusCaseOn() = 0;
    virtual int StatusCaseOff() = 0;
    virtual int TurnVideoOn() = 0;
    virtual int TurnVideoOff() = 0;
    virtual int SetIRLEDBrightness(int brightness) = 0;
    virtual int WriteEEPROM16Data(int addressHigh, int addressLow, int data) = 0;
    virtual int ReadEEPROM16Data(int addressHigh, int addressLow, int data) = 0;
    virtual int Unlock(unsigned char lock) = 0;
    virtual int WriteI2CData(int device, int reg, int data) = 0;
    virtual bool ReadI2CData(int device, int reg, unsigned& value) = 0;
    // The LED byte after every command queued before the read.
    virtual unsigned char ReadLeds() = 0;
    // A complete frame, queued with no reply expected.
    virtual void SendCommand(std::span<const std::uint8_t> frame) = 0;
    virtual bool SendCommandBlocking(std::span<const std::uint8_t> frame) = 0;
    virtual bool WriteUsbBuffer(std::span<const std::uint8_t> bytes) = 0;
    virtual bool IsDevicePresent() = 0;
    virtual void CloseUsbDevice() = 0;
    virtual Camera::UsbDevice GetUsbDevice() const = 0;
    virtual void SetWantEmptyFrames(bool on) = 0;
    virtual void SetDeConfigure(bool on) = 0;
    virtual void CaptureNextPacket(unsigned replyCode, DoubleBuffer<RawPacket>* raw) = 0;
    virtual DoubleBuffer<CameraPacket>* GetPacketBufferQueue() = 0;
    virtual void SetPacketBuffer(DoubleBuffer<CameraPacket>* packets) = 0;
};

} // namespace Orvane
