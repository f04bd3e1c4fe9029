// The generic-driver classes: error texts, opening, pipe threads, writes.
#include <gtest/gtest.h>

#include <cstring>

#include "camera/usbio.h"
#include "camera_fixture.h"

using namespace camera_test;
namespace usb = platform::usb;

TEST(CUsbIoErrors, TextsAndTruncation)
{
    char buf[200];
    struct Row {
        unsigned code;
        const char* text;
    } rows[] = {
        {0, "Error code 0x00000000: No error."},
        {0xE0000004, "Error code 0xE0000004: HC Error: stall PID."},
        {0xE8001000, "Error code 0xE8001000: USBD Error: Insufficient resources."},
        {0xE0050000, "Error code 0xE0050000: USBD Error: ISO not accessed, submitted too late."},
        {0xE000101C, "Error code 0xE000101C: API Version does not match."},
        {0xE0001107, "Error code 0xE0001107: The handle is already opened."},
        {0xE000101E, "Error code 0xE000101E: Windows system error code."},
        {5, "Error code 0x00000005: Windows system error code."},
    };
    for (const auto& r : rows)
        EXPECT_STREQ(CUsbIo::FormatErrorText(buf, sizeof buf, r.code), r.text);
    char small[10];
    std::memset(small, 'x', sizeof small);
    CUsbIo::FormatErrorText(small, sizeof small, 0);
    EXPECT_STREQ(small, "Error cod");
    char one[1] = {'x'};
    CUsbIo::FormatErrorText(one, 1, 0);
    EXPECT_EQ(one[0], '\0');
}

TEST(CUsbIoOpen, Outcomes)
{
    simcam::Hub hub;
    simcam::Model oldApi, newest, tooNew;
    oldApi.apiVersion = 0x022F;
    newest.apiVersion = 0x02FF;
    tooNew.apiVersion = 0x0300;
    std::string good = hub.addGeneric();
    hub.addGeneric(oldApi);
    hub.addGeneric(newest);
    hub.addGeneric(tooNew);
    auto& driver = hub.genericDriver();
    const usb::Guid guid = usb::kCameraInterfaceGuid1;
    auto set = CUsbIo::CreateDeviceList(driver, &guid);
    ASSERT_TRUE(set);
    ASSERT_EQ(set->paths.size(), 4u);
    EXPECT_FALSE(CUsbIo::CreateDeviceList(driver, nullptr));

    CUsbIo io(driver);
    EXPECT_EQ(io.OpenDevice(0, set.get(), nullptr), USBIO_ERR_INVALID_PARAMETER);
    EXPECT_EQ(io.OpenDevice(4, set.get(), &guid), USBIO_ERR_NO_SUCH_DEVICE_INSTANCE);
    EXPECT_EQ(io.OpenDevice(1, set.get(), &guid), USBIO_ERR_VERSION_MISMATCH);
    EXPECT_FALSE(io.IsOpen());
    EXPECT_EQ(io.OpenDevice(3, set.get(), &guid), USBIO_ERR_VERSION_MISMATCH);
    EXPECT_EQ(io.OpenDevice(2, set.get(), &guid), 0u);
    EXPECT_EQ(io.OpenDevice(0, set.get(), &guid), USBIO_ERR_DEVICE_ALREADY_OPENED);
    io.CloseDevice();
    EXPECT_EQ(io.OpenDevice(0, set.get(), &guid), 0u);
    EXPECT_EQ(io.GetDevicePathName(), good);
    io.CloseDevice();
    EXPECT_EQ(io.OpenDevice(0, nullptr, nullptr), USBIO_ERR_DEVICE_NOT_FOUND);  // "\\.\USBIO_Device0"
    EXPECT_EQ(io.SendIoControl(usb::kIoctlResetPipe, nullptr, 0, nullptr, 0, nullptr), USBIO_ERR_DEVICE_NOT_OPEN);
    hub.setEnumerationAvailable(false);
    EXPECT_EQ(io.OpenDevice(0, set.get(), &guid), USBIO_ERR_LOAD_SETUP_API_FAILED);
    EXPECT_FALSE(CUsbIo::CreateDeviceList(driver, &guid));
}

namespace {

struct CountingReader : CUsbIoReader {
    using CUsbIoReader::CUsbIoReader;
    ~CountingReader() override { StopThread(); }
    std::atomic<int> good{0}, bad{0};
    std::vector<unsigned> order;
    std::mutex mutex;

protected:
    void ProcessBuffer(CUsbIoBuf* buf) override
    {
        if (buf->Status != 0) {
            ++bad;
            return;
        }
        std::lock_guard lock(mutex);
        order.push_back(buf->Buffer[2]);
        ++good;
    }
};

} // namespace

TEST(CUsbIoThreads, ReaderDeliversInOrderAndStopsAfterErrors)
{
    simcam::Hub hub;
    std::string path = hub.addGeneric();
    auto device = hub.generic(path);
    CountingReader reader(hub.genericDriver());
    ASSERT_EQ(reader.AttachToPath(path, 0x81), 0u);
    ASSERT_TRUE(reader.CreateBufferPool(64, 4));
    EXPECT_FALSE(reader.CreateBufferPool(64, 4));
    ASSERT_TRUE(reader.RunThread(3));
    EXPECT_FALSE(reader.RunThread(3));
    for (std::uint8_t i = 0; i < 6; ++i)
        device->pushReply({3, 0x20, i});
    ASSERT_TRUE(eventually([&] { return reader.good == 6; }));
    {
        std::lock_guard lock(reader.mutex);
        EXPECT_EQ(reader.order, (std::vector<unsigned>{0, 1, 2, 3, 4, 5}));
    }
    // Unplugged, every read fails: the fourth error in a row ends the thread.
    hub.unplugGeneric(path);
    ASSERT_TRUE(eventually([&] { return reader.bad >= 4; }));
    EXPECT_TRUE(reader.StopThread());
}

TEST(CUsbIoThreads, StopReturnsWithReadsInFlight)
{
    simcam::Hub hub;
    std::string path = hub.addGeneric();
    CountingReader reader(hub.genericDriver());
    ASSERT_EQ(reader.AttachToPath(path, 0x82), 0u);
    ASSERT_TRUE(reader.CreateBufferPool(0x8000, 4));
    ASSERT_TRUE(reader.RunThread(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(reader.StopThread());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(reader.good, 0);
    ASSERT_TRUE(reader.RunThread(3));  // runs again after a stop
}

TEST(CUsbIoThreads, StalledWriteTimesOutAndResetsThePipe)
{
    SimCamera sim(simcam::Model{}, fastTiming(), 1024);
    sim.device->stallWrites(true);
    unsigned char frame[] = {0x13};
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sim.camera->WriteUsbBuffer(frame, 1));  // nothing was transferred
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    EXPECT_EQ(sim.device->resetPipes(), 1);
    sim.device->stallWrites(false);
    EXPECT_TRUE(sim.camera->WriteUsbBuffer(frame, 1));
}

TEST(CUsbIoCamera, GenericDriverCameraRunsTheChannel)
{
    simcam::Model m;
    m.hardwareInterface = 1;
    Orvane::DoubleBuffer<Orvane::CameraPacket> packets;
    packets.Emplace(0x100u);
    SimCamera sim(m, fastTiming(), 1024, &packets);
    Orvane::Camera& k = *sim.camera;
    EXPECT_TRUE(k.IsUSBIODriver());
    EXPECT_EQ(k.GetConfigurationData().GetSerialNumber(), 60000u);
    unsigned v = 0;
    EXPECT_TRUE(k.FPGARegRead(32, &v));
    EXPECT_EQ(v, 100u);
    EXPECT_EQ(k.ReadLeds(), 0);
    // Image packets come on pipe 2 through the image reader.
    sim.device->pushImagePacket({0, 1, 0xAB, 1, 7, 7});
    ASSERT_EQ(packets.Wait(3000), platform::kWaitObject0);
    auto* p = packets.TakeFilled();
    EXPECT_EQ(p->GetNumBytesInPacket(), 2u);
    packets.GiveBack(p);
    // A single pipe, or a path that is not there: the open fails.
    simcam::Model two;
    two.pipes = 1;
    std::string bad = sim.hub.addGeneric(two);
    Orvane::Camera other(sim.hub, 1025, nullptr, fastTiming());
    other.SetUSBIODevicePath(bad);
    EXPECT_FALSE(other.OpenUsbDevice());
    other.SetUSBIODevicePath("missing");
    EXPECT_FALSE(other.OpenUsbDevice());
    EXPECT_FALSE(other.IsUsbDeviceOpen());
}
