#pragma once
// The camera library's exceptions. Every one carries a text (what()) and an
// int error code; an exception made from a text has error code 0.
#include <stdexcept>
#include <string>

namespace Orvane {

class OVRuntimeException : public std::runtime_error {
public:
    explicit OVRuntimeException(const std::string& text);
    explicit OVRuntimeException(int errorCode);
    OVRuntimeException(const OVRuntimeException& other);
    OVRuntimeException& operator=(const OVRuntimeException& other);
    ~OVRuntimeException() override;

    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_ = 0;
};

// Misuse of a double buffer, e.g. giving back an item it never handed out.
class OVDoubleBufferException : public OVRuntimeException {
public:
    using OVRuntimeException::OVRuntimeException;
    OVDoubleBufferException(const OVDoubleBufferException&) = default;
    OVDoubleBufferException& operator=(const OVDoubleBufferException&) = default;
    ~OVDoubleBufferException() override;
};

// A command frame longer than the device's output buffer.
class UsbWriteException : public OVRuntimeException {
public:
    using OVRuntimeException::OVRuntimeException;
    UsbWriteException(const UsbWriteException&) = default;
    UsbWriteException& operator=(const UsbWriteException&) = default;
    ~UsbWriteException() override;
};

// The device could not be initialised.
class UsbDeviceInitException : public OVRuntimeException {
public:
    using OVRuntimeException::OVRuntimeException;
    UsbDeviceInitException(const UsbDeviceInitException&) = default;
    UsbDeviceInitException& operator=(const UsbDeviceInitException&) = default;
    ~UsbDeviceInitException() override;
};

// The camera gave no usable configuration data (missing, short or over-long reply).
class NoCameraDataException : public OVRuntimeException {
public:
    using OVRuntimeException::OVRuntimeException;
    NoCameraDataException(const NoCameraDataException&) = default;
    NoCameraDataException& operator=(const NoCameraDataException&) = default;
    ~NoCameraDataException() override;
};

} // namespace Orvane
