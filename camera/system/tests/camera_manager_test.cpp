// The camera manager over a simulated generic driver: scanning, numbering,
// arrival and removal notices, listeners, the device-change message, and
// use from several threads.
#include "camera/camera_manager.h"
#include "camera/camera_system_facade.h"
#include "camera/device_camera.h"
#include "camera/usbio.h"
#include "simcam/hub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace usb = platform::usb;
using Orvane::CameraManager;
using Orvane::CameraManagerCamera;
using Orvane::CameraManagerListener;

namespace {

// Devices by GUID; a device opens unless marked, and answers the driver
// information request unless marked.
class FakeDriver final : public usb::GenericDriver {
public:
    struct Device {
        std::string path;
        bool opens = true;
        bool hasDriverInfo = true;
    };

    bool enumerationAvailable() const override { return available; }
    std::vector<std::string> devicePaths(const usb::Guid& guid) override
    {
        std::lock_guard lock(mutex);
        std::vector<std::string> paths;
        for (const Device& d : devices[Key(guid)])
            paths.push_back(d.path);
        return paths;
    }
    std::shared_ptr<usb::GenericHandle> open(std::string_view path, std::uint32_t& error) override
    {
        std::lock_guard lock(mutex);
        for (auto& [key, list] : devices)
            for (const Device& d : list)
                if (d.path == path) {
                    if (!d.opens) {
                        error = usb::kStatusFailed;
                        return nullptr;
                    }
                    return std::make_shared<Handle>(d.hasDriverInfo);
                }
        error = usb::kErrorFileNotFound;
        return nullptr;
    }

    void Add(const usb::Guid& guid, Device d)
    {
        std::lock_guard lock(mutex);
        devices[Key(guid)].push_back(std::move(d));
    }
    void Remove(const std::string& path)
    {
        std::lock_guard lock(mutex);
        for (auto& [key, list] : devices)
            std::erase_if(list, [&](const Device& d) { return d.path == path; });
    }

    bool available = true;

private:
    struct Handle final : usb::GenericHandle {
        explicit Handle(bool info) : info(info) {}
        std::uint32_t ioControl(std::uint32_t code, std::span<const std::uint8_t>, std::span<std::uint8_t> out,
                                std::uint32_t& returned) override
        {
            if (code != usb::kIoctlGetDriverInfo || !info || out.size() < sizeof(usb::DriverInformation))
                return usb::kStatusUnsupportedIoctl;
            returned = sizeof(usb::DriverInformation);
            return usb::kStatusSuccess;
        }
        void submitRead(std::shared_ptr<usb::Request>) override {}
        void submitWrite(std::shared_ptr<usb::Request>) override {}
        void cancelIo() override {}
        bool info;
    };
    static std::uint32_t Key(const usb::Guid& g) { return g.data1; }

    std::mutex mutex;
    std::map<std::uint32_t, std::vector<Device>> devices;
};

struct Recorder final : CameraManagerListener {
    void CameraArrived(std::string_view path) override
    {
        std::lock_guard lock(mutex);
        events.push_back("+" + std::string(path));
    }
    void CameraRemoved(std::string_view path) override
    {
        std::lock_guard lock(mutex);
        events.push_back("-" + std::string(path));
    }
    std::mutex mutex;
    std::vector<std::string> events;
};

usb::DeviceNotice Notice(usb::DeviceNotice::Kind kind, std::string path, const usb::Guid& guid = usb::kCameraInterfaceGuid1)
{
    usb::DeviceNotice n;
    n.kind = kind;
    n.path = std::move(path);
    n.guid = guid;
    return n;
}
constexpr auto Arrival = usb::DeviceNotice::Kind::Arrival;
constexpr auto Removal = usb::DeviceNotice::Kind::Removal;

std::vector<int> Numbers(CameraManager& m)
{
    std::vector<int> out;
    for (int i = 0; i < m.GetCameraCount(); ++i) {
        CameraManagerCamera c;
        if (m.GetCamera(i, c))
            out.push_back(c.GetDeviceIndex());
    }
    return out;
}

struct Fixture : ::testing::Test {
    FakeDriver driver;
    usb::NoticeList notices;
};

TEST_F(Fixture, ScanNumbersDevicesInScanOrder)
{
    driver.Add(usb::kCameraInterfaceGuid1, {"/dev/a"});
    driver.Add(usb::kCameraInterfaceGuid1, {"/dev/b"});
    driver.Add(usb::kCameraInterfaceGuid2, {"/dev/c"});
    CameraManager m(driver, notices);
    EXPECT_EQ(Numbers(m), (std::vector<int>{1024, 1025, 1026}));
    CameraManagerCamera c;
    ASSERT_TRUE(m.GetCamera(2, c));
    EXPECT_EQ(c.GetDevicePath(), "/dev/c");
    EXPECT_EQ(c.GetCameraSystem(), nullptr);
    // Indices outside the list are refused.
    EXPECT_FALSE(m.GetCamera(3, c));
    EXPECT_FALSE(m.GetCamera(5, c));
    EXPECT_FALSE(m.GetCamera(-1, c));
    // Scanning again lists nothing twice.
    m.ScanForDevices();
    EXPECT_EQ(m.GetCameraCount(), 3);
}

TEST_F(Fixture, ScanSkipsUnopenableAndStopsAtForeignDrivers)
{
    driver.Add(usb::kCameraInterfaceGuid1, {"/dev/busy", false});
    driver.Add(usb::kCameraInterfaceGuid1, {"/dev/ok"});
    driver.Add(usb::kCameraInterfaceGuid2, {"/dev/foreign", true, false});
    driver.Add(usb::kCameraInterfaceGuid2, {"/dev/after-foreign"});
    CameraManager m(driver, notices);
    CameraManagerCamera c;
    ASSERT_EQ(m.GetCameraCount(), 1);
    ASSERT_TRUE(m.GetCamera(0, c));
    EXPECT_EQ(c.GetDevicePath(), "/dev/ok");
}

TEST_F(Fixture, NoEnumerationEmptiesTheList)
{
    driver.Add(usb::kCameraInterfaceGuid1, {"/dev/a"});
    CameraManager m(driver, notices);
    ASSERT_EQ(m.GetCameraCount(), 1);
    driver.available = false;
    m.ScanForDevices();
    EXPECT_EQ(m.GetCameraCount(), 0);
    std::string resolved;
    EXPECT_FALSE(m.FindDevice("/dev/a", resolved));
}

TEST_F(Fixture, NumberingTakesTheLowestFreeNumber)
{
    CameraManager m(driver, notices);
    EXPECT_EQ(m.AddCamera("p0"), 1024);
    EXPECT_EQ(m.AddCamera("p1"), 1025);
    EXPECT_EQ(m.AddCamera("p2"), 1026);
    EXPECT_TRUE(m.RemoveCamera("p1"));
    EXPECT_EQ(m.AddCamera("p3"), 1025);  // 1024 and 1026 taken
    // The list is not searched: a path listed already is listed again.
    EXPECT_EQ(m.AddCamera("P0"), 1027);
    EXPECT_EQ(m.GetCameraCount(), 4);
    EXPECT_FALSE(m.RemoveCamera("p0x"));  // same start, other length
    EXPECT_TRUE(m.RemoveCamera("P2"));    // differs only in case
    EXPECT_EQ(Numbers(m), (std::vector<int>{1024, 1025, 1027}));
    EXPECT_TRUE(m.RemoveCamera("p0"));  // the first of the two
    EXPECT_EQ(Numbers(m), (std::vector<int>{1025, 1027}));
    EXPECT_EQ(m.AddCamera(""), -1);
    // A path is kept to 256 characters.
    const std::string longPath(300, 'x');
    EXPECT_EQ(m.AddCamera(longPath), 1024);
    CameraManagerCamera c;
    ASSERT_TRUE(m.GetCamera(2, c));
    EXPECT_EQ(c.GetDevicePath().size(), CameraManagerCamera::MaxPath);
    EXPECT_EQ(m.AddCamera(longPath), 1026);
}

TEST_F(Fixture, NoticesUpdateTheListListenersAndWindow)
{
    CameraManager m(driver, notices);
    Recorder recorder;
    m.RegisterListener(&recorder);
    std::vector<std::tuple<unsigned, unsigned, long>> posted;
    m.SetDeviceChangeNotification([&](unsigned msg, unsigned w, long l) { posted.emplace_back(msg, w, l); });

    driver.Add(usb::kCameraInterfaceGuid1, {"/dev/cam"});
    notices.raise(Notice(Arrival, "/dev/cam"));
    EXPECT_EQ(Numbers(m), (std::vector<int>{1024}));
    std::string resolved;
    EXPECT_TRUE(m.FindDevice("/DEV/CAM", resolved));  // the device list was refreshed
    EXPECT_EQ(resolved, "/dev/cam");
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], std::make_tuple(0x0219u, 0u, 0L));

    // The same device announced again is not listed twice.
    notices.raise(Notice(Arrival, "/dev/cam"));
    EXPECT_EQ(m.GetCameraCount(), 1);

    // Own-driver notices and foreign interfaces change nothing and post nothing.
    usb::DeviceNotice own = Notice(Arrival, "ovusb-0");
    own.ownIndex = 0;
    notices.raise(own);
    notices.raise(Notice(Arrival, "/dev/other", usb::Guid{0x1234, 1, 2, {}}));
    EXPECT_EQ(m.GetCameraCount(), 1);
    EXPECT_EQ(posted.size(), 2u);

    driver.Remove("/dev/cam");
    notices.raise(Notice(Removal, "/dev/CAM"));
    EXPECT_EQ(m.GetCameraCount(), 0);
    EXPECT_FALSE(m.FindDevice("/dev/cam", resolved));
    // Back again: the lowest free number.
    notices.raise(Notice(Arrival, "/dev/cam"));
    EXPECT_EQ(Numbers(m), (std::vector<int>{1024}));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"+/dev/cam", "+/dev/cam", "-/dev/CAM", "+/dev/cam"}));
    EXPECT_EQ(posted.size(), 4u);

    m.UnregisterListener(&recorder);
    notices.raise(Notice(Removal, "/dev/cam"));
    EXPECT_EQ(recorder.events.size(), 4u);
}

TEST_F(Fixture, ListenerMayUnregisterItselfWhileCalled)
{
    CameraManager m(driver, notices);
    struct SelfRemoving final : CameraManagerListener {
        CameraManager* manager = nullptr;
        int calls = 0;
        void CameraArrived(std::string_view) override
        {
            ++calls;
            manager->UnregisterListener(this);
        }
        void CameraRemoved(std::string_view) override { ++calls; }
    } first, second;
    first.manager = second.manager = &m;
    m.RegisterListener(&first);
    m.RegisterListener(&second);
    notices.raise(Notice(Arrival, "/dev/x"));
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 1);  // not skipped when the one before it left
    notices.raise(Notice(Arrival, "/dev/y"));
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 1);  // it unregistered too
}

TEST_F(Fixture, InitialiseMakesOneSystemPerEntry)
{
    driver.Add(usb::kCameraInterfaceGuid1, {"/dev/a"});
    CameraManager m(driver, notices);
    CameraManagerCamera c;
    EXPECT_FALSE(m.GetCamera(0, c, true, false));  // no way to make a system yet
    int made = 0;
    bool startFlag = false;
    m.SetSystemFactory([&](const CameraManagerCamera& e, bool start) {
        ++made;
        startFlag = start;
        return std::make_unique<Orvane::CameraSystem>(e.GetDeviceIndex());
    });
    ASSERT_TRUE(m.GetCamera(0, c, true, true));
    ASSERT_NE(c.GetCameraSystem(), nullptr);
    EXPECT_EQ(c.GetCameraSystem()->GetCameraNumber(), 1024);
    EXPECT_TRUE(startFlag);
    CameraManagerCamera again;
    ASSERT_TRUE(m.GetCamera(0, again, true, true));
    EXPECT_EQ(again.GetCameraSystem(), c.GetCameraSystem());
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(m.RemoveCameraSystem(c.GetCameraSystem()));
    EXPECT_FALSE(m.RemoveCameraSystem(c.GetCameraSystem()));
    ASSERT_TRUE(m.GetCamera(0, again));
    EXPECT_EQ(again.GetCameraSystem(), nullptr);

    m.SetSystemFactory([](const CameraManagerCamera&, bool) -> std::unique_ptr<Orvane::CameraSystem> {
        throw std::runtime_error("no camera");
    });
    EXPECT_FALSE(m.GetCamera(0, again, true, false));
    EXPECT_EQ(m.GetCameraCount(), 1);  // and the list lock was released
}

// Arrivals and removals on a notice thread while other threads read the
// list: no entry out of range, no path twice, nothing lost.
TEST_F(Fixture, SafeFromSeveralThreads)
{
    auto m = std::make_unique<CameraManager>(driver, notices);
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const int n = m->GetCameraCount();
                for (int i = 0; i < n + 2; ++i) {
                    CameraManagerCamera c;
                    if (m->GetCamera(i, c) && c.GetDeviceIndex() < 1024)
                        bad.fetch_add(1);
                }
                std::set<std::string> seen;
                std::set<int> numbers;
                for (const CameraManagerCamera& c : m->GetCameras())
                    if (!seen.insert(c.GetDevicePath()).second || !numbers.insert(c.GetDeviceIndex()).second)
                        bad.fetch_add(1);
            }
        });
    }
    std::vector<std::thread> raisers;
    for (int t = 0; t < 2; ++t) {
        raisers.emplace_back([&, t] {
            for (int k = 0; k < 400; ++k) {
                const std::string path = "/dev/cam" + std::to_string((k + t) % 6);
                notices.raise(Notice(k % 3 == 2 ? Removal : Arrival, path));
            }
        });
    }
    for (auto& r : raisers)
        r.join();
    done = true;
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(bad.load(), 0);
    // Every listed path is listed once and its numbers are distinct.
    std::set<int> numbers;
    std::set<std::string> paths;
    for (int i = 0; i < m->GetCameraCount(); ++i) {
        CameraManagerCamera c;
        ASSERT_TRUE(m->GetCamera(i, c));
        EXPECT_TRUE(numbers.insert(c.GetDeviceIndex()).second);
        EXPECT_TRUE(paths.insert(c.GetDevicePath()).second);
    }
    // Destroying the manager while notices keep coming is safe.
    std::thread late([&] {
        for (int k = 0; k < 200; ++k)
            notices.raise(Notice(Arrival, "/dev/late" + std::to_string(k)));
    });
    m.reset();
    late.join();
}

TEST(CameraManagerSingleton, MadeOnFirstUseAndDestroyed)
{
    FakeDriver driver;
    driver.Add(usb::kCameraInterfaceGuid1, {"/dev/one"});
    struct TestBackend final : usb::Backend {
        explicit TestBackend(FakeDriver& d) : driver(d) {}
        std::string_view name() const override { return "test"; }
        usb::OwnDriver& ownDriver() override { return null.ownDriver(); }
        usb::GenericDriver& genericDriver() override { return driver; }
        usb::DeviceNotices& notices() override { return list; }
        bool anyCameraPresent() override { return true; }
        FakeDriver& driver;
        usb::NullBackend null;
        usb::NoticeList list;
    } backend(driver);
    CameraManager::DestroyInstance();
    CameraManager::SetDefaultBackend(&backend);
    EXPECT_FALSE(CameraManager::IsActive());
    std::vector<std::thread> threads;
    std::set<CameraManager*> seen;
    std::mutex seenLock;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            CameraManager* p = &CameraManager::X();
            std::lock_guard lock(seenLock);
            seen.insert(p);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(CameraManager::X().GetCameraCount(), 1);
    backend.list.raise(Notice(Arrival, "/dev/two"));
    EXPECT_EQ(CameraManager::X().GetCameraCount(), 2);
    CameraManager::DestroyInstance();
    EXPECT_FALSE(CameraManager::IsActive());
    CameraManager::SetDefaultBackend(nullptr);
    backend.list.raise(Notice(Arrival, "/dev/three"));  // nobody listens any more
}

// Over a simulated camera: the manager opens the present device a path
// names (in any letter case), binds pipes of it, and makes an entry's camera
// system by itself, started when asked.
struct SimFixture : ::testing::Test {
    std::string Upper(std::string p)
    {
        for (char& c : p)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return p;
    }
    simcam::Model NoUpload()
    {
        simcam::Model m;
        m.fpga = simcam::FpgaStart::NoUpload;
        return m;
    }
    simcam::Hub hub;
};

TEST_F(SimFixture, OpensAndBindsOnlyPresentDevices)
{
    const std::string path = hub.addGeneric(NoUpload());
    CameraManager m(hub);
    {
        CUsbIo io(hub.genericDriver());
        EXPECT_TRUE(m.GetCameraDevice(Upper(path), io));
        EXPECT_TRUE(io.IsOpen());
        EXPECT_EQ(io.GetDevicePathName(), path) << "the device's own spelling";
    }
    {
        CUsbIo io(hub.genericDriver());
        EXPECT_FALSE(m.GetCameraDevice("\\?\no-such-device", io));
        EXPECT_FALSE(io.IsOpen());
    }
    {
        CameraUSBIOReader reader(hub.genericDriver());
        ASSERT_TRUE(m.BindPipe(Upper(path), 0x81, reader));
        ASSERT_TRUE(reader.CreateBufferPool(64, 2));
        ASSERT_TRUE(reader.RunThread(3));
        EXPECT_TRUE(reader.IsRunning());
    }
    hub.unplugGeneric(path);
    CUsbIo io(hub.genericDriver());
    EXPECT_FALSE(m.GetCameraDevice(path, io)) << "gone with its removal";
    CameraUSBIOReader reader(hub.genericDriver());
    EXPECT_FALSE(m.BindPipe(path, 0x81, reader));
}

TEST_F(SimFixture, InitialiseMakesACameraSystemOnTheBackend)
{
    const std::string path = hub.addGeneric(NoUpload());
    CameraManager m(hub);
    CameraManagerCamera c;
    ASSERT_TRUE(m.GetCamera(0, c, true, true));
    auto* system = dynamic_cast<Orvane::CameraSystemFacade*>(c.GetCameraSystem());
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->GetCameraNumber(), 1024);
    Orvane::Camera* camera = system->GetCamera().GetDevice();
    ASSERT_NE(camera, nullptr);
    EXPECT_TRUE(camera->IsUSBIODriver());
    EXPECT_EQ(camera->GetUSBIODevicePath(), path);
    EXPECT_TRUE(camera->IsUsbDeviceOpen()) << "given its path with the start flag";
    EXPECT_EQ(system->GetConfigurationData().GetHardwareRevision(), 7);
    CameraManagerCamera again;
    ASSERT_TRUE(m.GetCamera(0, again, true, true));
    EXPECT_EQ(again.GetCameraSystem(), c.GetCameraSystem());
    EXPECT_TRUE(m.RemoveCameraSystem(c.GetCameraSystem()));
}

TEST_F(SimFixture, CameraOpensThroughTheManagerAndReportsItselfLostThere)
{
    simcam::Model model = NoUpload();
    const std::string path = hub.addGeneric(model);
    CameraManager m(hub);
    std::atomic<int> posted{0};
    m.SetDeviceChangeNotification([&](unsigned message, unsigned, long) { posted += message == 0x0219 ? 1 : 0; });
    Orvane::CameraSystemFacade::Options options;
    options.stopPauseMs = 0;
    options.manager = &m;
    Orvane::CameraSystemFacade system(1024, Orvane::MakeDeviceCameraFactory(hub, 1024), options);
    // The manager resolves the spelling; the driver knows only its own.
    system.GetCamera().UseUsbioDevice(Upper(path));
    ASSERT_TRUE(system.Start(false, false));

    // Four failed image reads in a row end the image reader: the camera is
    // lost, says so through the manager, and starts again.
    hub.generic(path)->failReads(4, simcam::Path::Image);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (posted.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(posted.load(), 1);
    EXPECT_FALSE(system.IsUsbDeviceOpen());
    system.Stop();
    EXPECT_TRUE(system.Start(false, false));
    EXPECT_TRUE(system.IsUsbDeviceOpen());
}

} // namespace
