#include "input/InputDevices.h"

namespace {

std::u16string fromUtf8(const std::string& s)
{
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6) {
            len = 2;
        } else if ((c >> 4) == 0xE) {
            len = 3;
        } else if ((c >> 3) == 0x1E) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > s.size()) {
                len = 1;
            } else {
                cp = c & (0x7Fu >> len);
                for (std::size_t k = 1; k < len; ++k) {
                    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
                    if ((cc >> 6) != 0x2) {
                        cp = 0xFFFD;
                        len = k;
                        break;
                    }
                    cp = (cp << 6) | (cc & 0x3Fu);
                }
                if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

} // namespace

Guid GuidFromDeviceId(const platform::devices::DeviceId& id)
{
    Guid g;
    g.Data1 = static_cast<std::uint32_t>(id[0]) | static_cast<std::uint32_t>(id[1]) << 8 |
              static_cast<std::uint32_t>(id[2]) << 16 | static_cast<std::uint32_t>(id[3]) << 24;
    g.Data2 = static_cast<std::uint16_t>(id[4] | id[5] << 8);
    g.Data3 = static_cast<std::uint16_t>(id[6] | id[7] << 8);
    for (std::size_t i = 0; i < 8; ++i) g.Data4[i] = id[8 + i];
    return g;
}

platform::devices::DeviceId DeviceIdFromGuid(const Guid& g)
{
    platform::devices::DeviceId id{};
    for (int i = 0; i < 4; ++i) id[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(g.Data1 >> (8 * i));
    id[4] = static_cast<std::uint8_t>(g.Data2);
    id[5] = static_cast<std::uint8_t>(g.Data2 >> 8);
    id[6] = static_cast<std::uint8_t>(g.Data3);
    id[7] = static_cast<std::uint8_t>(g.Data3 >> 8);
    for (std::size_t i = 0; i < 8; ++i) id[8 + i] = g.Data4[i];
    return id;
}

std::unique_ptr<platform::devices::ButtonSource> makeDefaultButtonSource()
{
    std::vector<std::unique_ptr<platform::devices::ButtonSource>> sources;
    sources.push_back(platform::devices::makeX11MouseSource());
    sources.push_back(platform::devices::makeSdlButtonSource());
    return platform::devices::makeCombinedSource(std::move(sources));
}

CInputDevices::CInputDevices(std::unique_ptr<platform::devices::ButtonSource> source)
    : source_(source ? std::move(source) : makeDefaultButtonSource())
{
}

std::int32_t CInputDevices::Attach(platform::HWND window)
{
    devices_.clear();
    window_ = window;
    return kInputOk;
}

std::int32_t CInputDevices::Enumerate()
{
    devices_.clear();
    devices_.reserve(5);
    source_->enumerate([this](std::unique_ptr<platform::devices::ButtonDevice> device) { add(std::move(device)); });
    return kInputOk;
}

void CInputDevices::add(std::unique_ptr<platform::devices::ButtonDevice> device)
{
    using namespace platform::devices;
    if (!device) return;
    const DeviceInstance& info = device->instance();
    const std::uint8_t type = static_cast<std::uint8_t>(info.devType & 0xFF);
    if (type == kTypeDeviceCtrl || type == kTypeKeyboard) return;
    // The list grows five records at a time, as devices usually come few.
    if (devices_.size() == devices_.capacity()) devices_.reserve(devices_.size() + 5);
    device->setDataFormat(type == kTypeMouse ? DataFormat::Mouse : DataFormat::Joystick);
    device->setBufferSize(0xFFFFFFFFu);
    CInputDevice record;
    record.instance = GuidFromDeviceId(info.instance);
    record.product = GuidFromDeviceId(info.product);
    record.devType = info.devType;
    record.name = fromUtf8(info.name);
    record.device = std::move(device);
    devices_.push_back(std::move(record));
}

std::int32_t CInputDevices::GetDevices(CInputDevice** array, int* count)
{
    if (!array || !count) return kInputInvalidArg;
    *array = devices_.data();
    *count = static_cast<int>(devices_.size());
    return kInputOk;
}
