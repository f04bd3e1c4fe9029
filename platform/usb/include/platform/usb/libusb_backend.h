#pragma once
// The libusb backend for real cameras. Every libusb call goes through a
// table of function pointers, so that the backend is tested against a fake.
// Cameras are found by vendor and product id ("vvvv:pppp,...", hexadecimal):
// the ids the build was configured with (the ORVANE_USB_IDS cache variable),
// which the ORVANE_USB_IDS environment variable replaces, or adds to when its
// value starts with '+'. Own-driver indices and generic-driver paths follow the bus
// and port order. Endpoints in interface 0 descriptor order: pipe 0 OUT
// (commands), pipe 1 IN (replies), pipe 2 IN (images, optional).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <libusb.h>

#include "platform/usb/driver.h"

namespace platform::usb {

struct LibusbApi {
    int (*init)(libusb_context**);
    void (*exit)(libusb_context*);
    ssize_t (*get_device_list)(libusb_context*, libusb_device***);
    void (*free_device_list)(libusb_device**, int);
    int (*get_device_descriptor)(libusb_device*, libusb_device_descriptor*);
    std::uint8_t (*get_bus_number)(libusb_device*);
    int (*get_port_numbers)(libusb_device*, std::uint8_t*, int);
    int (*open)(libusb_device*, libusb_device_handle**);
    void (*close)(libusb_device_handle*);
    int (*set_auto_detach_kernel_driver)(libusb_device_handle*, int);
    int (*get_configuration)(libusb_device_handle*, int*);
    int (*set_configuration)(libusb_device_handle*, int);
    int (*claim_interface)(libusb_device_handle*, int);
    int (*release_interface)(libusb_device_handle*, int);
    int (*get_active_config_descriptor)(libusb_device*, libusb_config_descriptor**);
    void (*free_config_descriptor)(libusb_config_descriptor*);
    int (*bulk_transfer)(libusb_device_handle*, unsigned char, unsigned char*, int, int*, unsigned int);
    int (*clear_halt)(libusb_device_handle*, unsigned char);
};

// The table of the real library.
LibusbApi realLibusbApi();

struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// Parses "vvvv:pppp,vvvv:pppp"; entries that do not parse are skipped.
std::vector<UsbId> parseUsbIds(std::string_view text);

// The ids the build was configured with ("" when none).
std::string_view builtInUsbIds();

// The ids to look for: `builtIn`, replaced by the environment's value, or
// with the value's ids added when it starts with '+' (null or empty: the
// built-in ids alone).
std::vector<UsbId> cameraUsbIds(std::string_view builtIn, const char* environment);

// Maps a libusb result to the generic driver's status numbers.
std::uint32_t statusFromLibusb(int result);

struct LibusbTiming {
    unsigned int pollMs = 100;          // slice of a blocking read, so cancel is seen
    unsigned int ownWriteTimeoutMs = 1000;
    unsigned int rescanMs = 1000;       // arrival/removal polling; 0 polls only on rescan()
};

class LibusbBackend : public Backend {
public:
    // Compares the present cameras with the last scan and raises notices.
    virtual void rescan() = 0;
};

// Builds the backend over `api` (nullptr from a failing init is reported
// through an empty device list).
std::unique_ptr<LibusbBackend> makeLibusbBackend(LibusbApi api, std::vector<UsbId> ids, LibusbTiming timing = {});
// The real library with the ids of cameraUsbIds(builtInUsbIds(), $ORVANE_USB_IDS).
std::unique_ptr<LibusbBackend> makeLibusbBackend();

} // namespace platform::usb
