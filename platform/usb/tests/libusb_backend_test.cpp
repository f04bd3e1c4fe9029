// The libusb backend against a fake of its libusb calls.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/usb/libusb_backend.h"

namespace usb = platform::usb;

namespace {

struct FakeDevice {
    std::uint16_t vendor = 0x1234, product = 0x0001;
    std::uint8_t bus = 1;
    std::vector<std::uint8_t> ports;
    std::vector<libusb_endpoint_descriptor> endpoints;
    int opens = 0;
    int claims = 0;
    int closes = 0;
    int active = 1;
};

// The fake's state: what the test set up, and what the backend did.
struct Fake {
    std::mutex mutex;
    std::vector<FakeDevice*> present;
    std::deque<std::vector<std::uint8_t>> inbound;  // data for IN transfers
    std::vector<std::pair<int, std::vector<std::uint8_t>>> written;
    int clearHalts = 0;
    int freeLists = 0;
} fake;

libusb_endpoint_descriptor endpoint(std::uint8_t address)
{
    libusb_endpoint_descriptor e{};
    e.bEndpointAddress = address;
    e.bmAttributes = 2;
    e.wMaxPacketSize = 512;
    return e;
}

FakeDevice* asFake(libusb_device* d) { return reinterpret_cast<FakeDevice*>(d); }
FakeDevice* asFake(libusb_device_handle* h) { return reinterpret_cast<FakeDevice*>(h); }

usb::LibusbApi fakeApi()
{
    usb::LibusbApi api{};
    api.init = [](libusb_context** c) { *c = nullptr; return 0; };
    api.exit = [](libusb_context*) {};
    api.get_device_list = [](libusb_context*, libusb_device*** list) -> ssize_t {
        std::lock_guard lock(fake.mutex);
        auto* out = new libusb_device*[fake.present.size() + 1];
        for (std::size_t i = 0; i < fake.present.size(); ++i)
            out[i] = reinterpret_cast<libusb_device*>(fake.present[i]);
        out[fake.present.size()] = nullptr;
        *list = out;
        return static_cast<ssize_t>(fake.present.size());
    };
    api.free_device_list = [](libusb_device** list, int) {
        std::lock_guard lock(fake.mutex);
        ++fake.freeLists;
        delete[] list;
    };
    api.get_device_descriptor = [](libusb_device* d, libusb_device_descriptor* out) {
        *out = {};
        out->idVendor = asFake(d)->vendor;
        out->idProduct = asFake(d)->product;
        return 0;
    };
    api.get_bus_number = [](libusb_device* d) { return asFake(d)->bus; };
    api.get_port_numbers = [](libusb_device* d, std::uint8_t* ports, int n) {
        auto& p = asFake(d)->ports;
        int count = std::min<int>(n, static_cast<int>(p.size()));
        std::copy_n(p.begin(), count, ports);
        return count;
    };
    api.open = [](libusb_device* d, libusb_device_handle** h) {
        ++asFake(d)->opens;
        *h = reinterpret_cast<libusb_device_handle*>(d);
        return 0;
    };
    api.close = [](libusb_device_handle* h) { ++asFake(h)->closes; };
    api.set_auto_detach_kernel_driver = [](libusb_device_handle*, int) { return 0; };
    api.get_configuration = [](libusb_device_handle* h, int* c) { *c = asFake(h)->active; return 0; };
    api.set_configuration = [](libusb_device_handle* h, int c) { asFake(h)->active = c; return 0; };
    api.claim_interface = [](libusb_device_handle* h, int) {
        ++asFake(h)->claims;
        return 0;
    };
    api.release_interface = [](libusb_device_handle*, int) { return 0; };
    api.get_active_config_descriptor = [](libusb_device* d, libusb_config_descriptor** out) {
        auto* alt = new libusb_interface_descriptor{};
        auto& eps = asFake(d)->endpoints;
        alt->bNumEndpoints = static_cast<std::uint8_t>(eps.size());
        alt->endpoint = eps.data();
        auto* iface = new libusb_interface{};
        iface->altsetting = alt;
        iface->num_altsetting = 1;
        auto* config = new libusb_config_descriptor{};
        config->bNumInterfaces = 1;
        config->interface = iface;
        *out = config;
        return 0;
    };
    api.free_config_descriptor = [](libusb_config_descriptor* c) {
        delete c->interface->altsetting;
        delete c->interface;
        delete c;
    };
    api.bulk_transfer = [](libusb_device_handle*, unsigned char ep, unsigned char* data, int length, int* got,
                           unsigned int timeout) {
        std::unique_lock lock(fake.mutex);
        *got = 0;
        if (!(ep & 0x80)) {
            fake.written.emplace_back(ep, std::vector<std::uint8_t>(data, data + length));
            *got = length;
            return 0;
        }
        if (fake.inbound.empty()) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout, 2u)));
            return static_cast<int>(LIBUSB_ERROR_TIMEOUT);
        }
        auto bytes = fake.inbound.front();
        fake.inbound.pop_front();
        int n = std::min<int>(length, static_cast<int>(bytes.size()));
        std::memcpy(data, bytes.data(), static_cast<std::size_t>(n));
        *got = n;
        return 0;
    };
    api.clear_halt = [](libusb_device_handle*, unsigned char) {
        ++fake.clearHalts;
        return 0;
    };
    return api;
}

class LibusbBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard lock(fake.mutex);
        fake.present.clear();
        fake.inbound.clear();
        fake.written.clear();
        fake.clearHalts = 0;
        a.ports = {2};
        b.ports = {1, 3};
        other.vendor = 0x9999;
        for (auto* d : {&a, &b, &other})
            d->endpoints = {endpoint(0x01), endpoint(0x81), endpoint(0x82)};
        fake.present = {&a, &other, &b};
    }
    std::unique_ptr<usb::LibusbBackend> make()
    {
        usb::LibusbTiming t;
        t.pollMs = 2;
        t.rescanMs = 0;
        return usb::makeLibusbBackend(fakeApi(), {{0x1234, 0x0001}}, t);
    }
    FakeDevice a, b, other;
};

} // namespace

TEST(LibusbIds, ParsesHexPairsAndSkipsJunk)
{
    auto ids = usb::parseUsbIds("1234:00ab,zz:1,abcd:ef01,5:");
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids[0].vendor, 0x1234);
    EXPECT_EQ(ids[0].product, 0x00AB);
    EXPECT_EQ(ids[1].product, 0xEF01);
    EXPECT_EQ(usb::statusFromLibusb(LIBUSB_ERROR_TIMEOUT), usb::kStatusTimeout);
    EXPECT_EQ(usb::statusFromLibusb(LIBUSB_ERROR_NO_DEVICE), usb::kStatusDeviceRemoved);
    EXPECT_EQ(usb::statusFromLibusb(LIBUSB_ERROR_PIPE), usb::kStatusStall);
}

TEST(LibusbIds, TheEnvironmentReplacesOrAddsToTheBuiltInIds)
{
    auto pairs = [](const std::vector<usb::UsbId>& ids) {
        std::vector<std::pair<int, int>> out;
        for (const auto& id : ids)
            out.emplace_back(id.vendor, id.product);
        return out;
    };
    using P = std::vector<std::pair<int, int>>;
    const std::string_view built = "1234:0001,1234:0002";
    EXPECT_EQ(pairs(usb::cameraUsbIds(built, nullptr)), (P{{0x1234, 1}, {0x1234, 2}}));
    EXPECT_EQ(pairs(usb::cameraUsbIds(built, "")), (P{{0x1234, 1}, {0x1234, 2}}));
    EXPECT_EQ(pairs(usb::cameraUsbIds(built, "abcd:0003")), (P{{0xabcd, 3}}));
    EXPECT_EQ(pairs(usb::cameraUsbIds(built, "+abcd:0003,1234:0001")), (P{{0x1234, 1}, {0x1234, 2}, {0xabcd, 3}}));
    EXPECT_EQ(pairs(usb::cameraUsbIds("", "+abcd:0003")), (P{{0xabcd, 3}}));
    EXPECT_EQ(pairs(usb::cameraUsbIds("", nullptr)), P{});
    EXPECT_EQ(usb::builtInUsbIds(), ORVANE_BUILT_IN_USB_IDS);
}

TEST_F(LibusbBackendTest, OwnDriverIndicesFollowPortOrderAndShareOneHandle)
{
    auto backend = make();
    EXPECT_TRUE(backend->anyCameraPresent());
    auto& own = backend->ownDriver();
    auto h0 = own.open(0);  // usb:1-1.3 sorts before usb:1-2
    auto h0again = own.open(0);
    auto h1 = own.open(1);
    EXPECT_FALSE(own.open(2));
    ASSERT_TRUE(h0 && h0again && h1);
    EXPECT_EQ(b.opens, 1);
    EXPECT_EQ(b.claims, 1);
    EXPECT_EQ(a.opens, 1);

    std::uint32_t n = 0;
    std::uint8_t frame[] = {0x10, 0x80, 0x80};
    EXPECT_TRUE(h0->write(frame, n));
    EXPECT_EQ(n, 3u);
    ASSERT_EQ(fake.written.size(), 1u);
    EXPECT_EQ(fake.written[0].first, 0x01);
    EXPECT_TRUE(h0->write({}, n));  // empty frame: nothing goes out
    EXPECT_EQ(fake.written.size(), 1u);

    {
        std::lock_guard lock(fake.mutex);
        fake.inbound.push_back({7, 0x20, 0, 1, 0, 6, 2});
    }
    std::uint8_t buf[64];
    EXPECT_TRUE(h0->read(usb::kOwnReplyPath, buf, n));
    EXPECT_EQ(n, 7u);

    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        h0->close();
    });
    EXPECT_FALSE(h0->read(usb::kOwnReplyPath, buf, n));  // idle until closed
    canceller.join();
    h0.reset();
    h0again.reset();
    EXPECT_EQ(b.closes, 1);
}

TEST_F(LibusbBackendTest, OpenRefusesWrongEndpointDirections)
{
    b.endpoints = {endpoint(0x81), endpoint(0x01)};
    auto backend = make();
    EXPECT_FALSE(backend->ownDriver().open(0));
    EXPECT_TRUE(backend->ownDriver().open(1));
}

TEST_F(LibusbBackendTest, GenericDriverControlsPipesAndNotices)
{
    auto backend = make();
    auto& g = backend->genericDriver();
    auto paths = g.devicePaths(usb::kCameraInterfaceGuid1);
    ASSERT_EQ(paths, (std::vector<std::string>{"usb:1-1.3", "usb:1-2"}));
    std::uint32_t error = 0;
    auto h = g.open(paths[1], error);
    ASSERT_TRUE(h);
    usb::ConfigurationRequest req{};
    std::uint32_t ret = 0;
    auto reqBytes = std::span(reinterpret_cast<const std::uint8_t*>(&req), sizeof req);
    EXPECT_EQ(h->ioControl(usb::kIoctlSetConfiguration, reqBytes, {}, ret), usb::kStatusAlreadyConfigured);
    usb::ConfigurationInformation info{};
    EXPECT_EQ(h->ioControl(usb::kIoctlGetConfigurationInfo, {},
                           std::span(reinterpret_cast<std::uint8_t*>(&info), sizeof info), ret),
              0u);
    EXPECT_EQ(info.numberOfPipes, 3u);
    EXPECT_EQ(info.pipes[1].endpointAddress, 0x81);
    usb::DriverInformation drv{};
    h->ioControl(usb::kIoctlGetDriverInfo, {}, std::span(reinterpret_cast<std::uint8_t*>(&drv), sizeof drv), ret);
    EXPECT_EQ(drv.apiVersion, 0x0230);

    std::uint8_t ep = 0x81;
    h->ioControl(usb::kIoctlBind, std::span(&ep, 1), {}, ret);
    std::vector<std::uint8_t> buf(0x4000);
    auto r = std::make_shared<usb::Request>(buf);
    h->submitRead(r);
    {
        std::lock_guard lock(fake.mutex);
        fake.inbound.push_back({6, 0x20, 1, 0, 0, 1});
    }
    ASSERT_EQ(r->wait(2000), platform::kWaitObject0);
    EXPECT_EQ(r->status(), 0u);
    EXPECT_EQ(r->transferred(), 6u);
    auto idle = std::make_shared<usb::Request>(buf);
    h->submitRead(idle);
    h->ioControl(usb::kIoctlAbortPipe, {}, {}, ret);
    ASSERT_EQ(idle->wait(2000), platform::kWaitObject0);
    EXPECT_EQ(idle->status(), usb::kStatusCancelled);
    h->ioControl(usb::kIoctlResetPipe, {}, {}, ret);
    EXPECT_EQ(fake.clearHalts, 1);

    std::vector<usb::DeviceNotice> seen;
    backend->notices().subscribe([&](const usb::DeviceNotice& n) { seen.push_back(n); });
    {
        std::lock_guard lock(fake.mutex);
        fake.present = {&b};
    }
    backend->rescan();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, usb::DeviceNotice::Kind::Removal);
    EXPECT_EQ(seen[0].path, "usb:1-2");
    EXPECT_EQ(h->ioControl(usb::kIoctlResetPipe, {}, {}, ret), usb::kStatusDeviceRemoved);
}

TEST(BackendChoice, ParsesAndFallsBackToNone)
{
    usb::BackendChoice c{};
    EXPECT_TRUE(usb::parseBackendChoice("auto", c));
    EXPECT_EQ(c, usb::BackendChoice::Auto);
    EXPECT_FALSE(usb::parseBackendChoice("SIM", c));
    auto none = usb::makeBackend(usb::BackendChoice::Auto, nullptr,
                                 [] { return std::unique_ptr<usb::Backend>(std::make_unique<usb::NullBackend>()); });
    EXPECT_EQ(none->name(), "none");
    EXPECT_FALSE(none->ownDriver().open(0));
}
