#include "camera/exceptions.h"

namespace Orvane {

OVRuntimeException::OVRuntimeException(const std::string& text) : std::runtime_error(text) {}

OVRuntimeException::OVRuntimeException(int errorCode) : std::runtime_error(std::string()), errorCode_(errorCode) {}

OVRuntimeException::OVRuntimeException(const OVRuntimeException& other) = default;

OVRuntimeException& OVRuntimeException::operator=(const OVRuntimeException& other) = default;

OVRuntimeException::~OVRuntimeException() = default;

// Out of line so that each class has one home for its vtable.
OVDoubleBufferException::~OVDoubleBufferException() = default;
UsbWriteException::~UsbWriteException() = default;
UsbDeviceInitException::~UsbDeviceInitException() = default;
NoCameraDataException::~NoCameraDataException() = default;

} // namespace Orvane
