#include "simcam/hub.h"

#include <cstdio>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>

#include <pthread.h>

#include "platform/debug.h"
#include "platform/usb/libusb_backend.h"

namespace simcam {

namespace usb = platform::usb;

namespace {

class SimOwnHandle final : public usb::OwnDriverHandle {
public:
    explicit SimOwnHandle(std::shared_ptr<Device> device) : device_(std::move(device)) { token_.plug = device_->plug(); }
    ~SimOwnHandle() override { close(); }

    bool read(std::uint32_t path, std::span<std::uint8_t> out, std::uint32_t& returned) override
    {
        returned = 0;
        if (path != usb::kOwnReplyPath && path != usb::kOwnImagePath)
            return false;
        return device_->read(path == usb::kOwnReplyPath ? Path::Reply : Path::Image, out, returned, token_);
    }
    bool write(std::span<const std::uint8_t> frame, std::uint32_t& returned) override
    {
        returned = 0;
        if (token_.closed.load() || !device_->current(token_.plug) || !device_->write(frame))
            return false;
        returned = static_cast<std::uint32_t>(frame.size());
        return true;
    }
    void cancel() override
    {
        token_.cancels.fetch_add(1);
        device_->wakeReaders();
    }
    void close() override
    {
        token_.closed.store(true);
        device_->wakeReaders();
    }

private:
    std::shared_ptr<Device> device_;
    ReadToken token_;
};

// A generic-driver handle: I/O controls answered here, reads served one at a
// time by a worker, as the driver completes overlapped requests in order.
class SimGenericHandle final : public usb::GenericHandle {
public:
    SimGenericHandle(std::shared_ptr<Device> device, std::shared_ptr<bool> configured, std::mutex& configMutex)
        : device_(std::move(device)), configured_(std::move(configured)), configMutex_(configMutex)
    {
        token_.plug = device_->plug();
        worker_ = std::thread([this] {
            // Named, so that the camera's time is told apart from the program's.
            pthread_setname_np(pthread_self(), "simcam-pipe");
            serve();
        });
    }
    ~SimGenericHandle() override
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        token_.closed.store(true);
        cv_.notify_all();
        device_->wakeReaders();
        worker_.join();
        cancelIo();
    }

    std::uint32_t ioControl(std::uint32_t code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                            std::uint32_t& returned) override
    {
        returned = 0;
        if (!device_->current(token_.plug))
            return usb::kStatusDeviceRemoved;
        switch (code) {
        case usb::kIoctlSetConfiguration: {
            if (in.size() < sizeof(usb::ConfigurationRequest))
                return usb::kStatusInvalidParameter;
            std::lock_guard lock(configMutex_);
            if (*configured_)
                return usb::kStatusAlreadyConfigured;
            *configured_ = true;
            return 0;
        }
        case usb::kIoctlUnconfigure: {
            std::lock_guard lock(configMutex_);
            *configured_ = false;
            return 0;
        }
        case usb::kIoctlGetConfigurationInfo: {
            if (out.size() < sizeof(usb::ConfigurationInformation))
                return usb::kStatusInvalidParameter;
            usb::ConfigurationInformation info{};
            info.numberOfInterfaces = 1;
            int pipes = std::clamp(device_->model().pipes, 0, 3);
            info.numberOfPipes = static_cast<std::uint32_t>(pipes);
            const std::uint8_t addresses[3] = {0x01, 0x81, 0x82};
            for (int i = 0; i < pipes; ++i) {
                info.pipes[i].pipeType = 2;  // bulk
                info.pipes[i].maximumTransferSize = 0x50000;
                info.pipes[i].maximumPacketSize = 512;
                info.pipes[i].endpointAddress = addresses[i];
            }
            std::memcpy(out.data(), &info, sizeof info);
            returned = sizeof info;
            return 0;
        }
        case usb::kIoctlGetDriverInfo: {
            if (out.size() < sizeof(usb::DriverInformation))
                return usb::kStatusInvalidParameter;
            usb::DriverInformation info{device_->model().apiVersion, 0x0100, 1, 0};
            std::memcpy(out.data(), &info, sizeof info);
            returned = sizeof info;
            return 0;
        }
        case usb::kIoctlBind:
            if (in.empty())
                return usb::kStatusInvalidParameter;
            endpoint_.store(in[0]);
            return 0;
        case usb::kIoctlResetPipe:
            device_->noteResetPipe();
            return 0;
        case usb::kIoctlAbortPipe:
            cancelIo();
            return 0;
        default:
            return usb::kStatusUnsupportedIoctl;
        }
    }

    void submitRead(std::shared_ptr<usb::Request> request) override
    {
        int ep = endpoint_.load();
        if (ep != 0x81 && ep != 0x82) {
            request->complete(usb::kStatusNotBound, 0);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(request));
        }
        cv_.notify_all();
    }

    void submitWrite(std::shared_ptr<usb::Request> request) override
    {
        if (endpoint_.load() != 0x01) {
            request->complete(usb::kStatusNotBound, 0);
            return;
        }
        if (!device_->current(token_.plug)) {
            request->complete(usb::kStatusDeviceRemoved, 0);
            return;
        }
        if (device_->writesStalled()) {
            // Stays in flight until cancelled, as a stalled endpoint does.
            std::lock_guard lock(mutex_);
            stalled_.push_back(std::move(request));
            return;
        }
        auto bytes = request->buffer();
        if (device_->write(bytes))
            request->complete(0, static_cast<std::uint32_t>(bytes.size()));
        else
            request->complete(usb::kStatusDeviceRemoved, 0);
    }

    void cancelIo() override
    {
        std::deque<std::shared_ptr<usb::Request>> queued;
        std::vector<std::shared_ptr<usb::Request>> stalled;
        {
            std::lock_guard lock(mutex_);
            queued.swap(queue_);
            stalled.swap(stalled_);
            if (current_)
                token_.cancels.fetch_add(1);
        }
        device_->wakeReaders();
        for (auto& r : queued)
            r->complete(usb::kStatusCancelled, 0);
        for (auto& r : stalled)
            r->complete(usb::kStatusCancelled, 0);
    }

private:
    void serve()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            auto request = queue_.front();
            queue_.pop_front();
            current_ = request;
            const std::uint64_t seen = token_.cancels.load();
            lock.unlock();
            std::uint32_t got = 0;
            Path path = endpoint_.load() == 0x81 ? Path::Reply : Path::Image;
            bool ok = device_->read(path, request->buffer(), got, token_, seen);
            if (ok)
                request->complete(0, got);
            else if (!device_->current(token_.plug))
                request->complete(usb::kStatusDeviceRemoved, 0);
            else
                request->complete(usb::kStatusCancelled, 0);
            lock.lock();
            current_.reset();
        }
    }

    std::shared_ptr<Device> device_;
    std::shared_ptr<bool> configured_;
    std::mutex& configMutex_;
    std::atomic<int> endpoint_{0};
    ReadToken token_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<usb::Request>> queue_;
    std::vector<std::shared_ptr<usb::Request>> stalled_;
    std::shared_ptr<usb::Request> current_;
    bool stop_ = false;
    std::thread worker_;
};

} // namespace

class Hub::OwnSide final : public usb::OwnDriver {
public:
    explicit OwnSide(Hub& hub) : hub_(hub) {}
    std::shared_ptr<usb::OwnDriverHandle> open(int index) override
    {
        auto device = hub_.own(index);
        if (!device || !device->plugged() || device->openFails())
            return nullptr;
        device->countOpen();
        return std::make_shared<SimOwnHandle>(device);
    }

private:
    Hub& hub_;
};

class Hub::GenericSide final : public usb::GenericDriver {
public:
    explicit GenericSide(Hub& hub) : hub_(hub) {}
    bool enumerationAvailable() const override
    {
        std::lock_guard lock(hub_.mutex_);
        return hub_.enumeration_;
    }
    std::vector<std::string> devicePaths(const usb::Guid& guid) override
    {
        std::lock_guard lock(hub_.mutex_);
        std::vector<std::string> out;
        for (const auto& e : hub_.generic_)
            if (e.guid == guid && e.device->plugged())
                out.push_back(e.path);
        return out;
    }
    std::shared_ptr<usb::GenericHandle> open(std::string_view path, std::uint32_t& error) override
    {
        auto device = hub_.generic(std::string(path));
        if (!device || !device->plugged()) {
            error = usb::kErrorFileNotFound;
            return nullptr;
        }
        if (device->openFails()) {
            error = 5;  // access denied
            return nullptr;
        }
        device->countOpen();
        std::shared_ptr<bool> configured;
        {
            std::lock_guard lock(hub_.mutex_);
            auto& slot = configured_[std::string(path)];
            if (!slot)
                slot = std::make_shared<bool>(false);
            configured = slot;
        }
        error = 0;
        return std::make_shared<SimGenericHandle>(device, configured, configMutex_);
    }
    void forget(const std::string& path)
    {
        std::lock_guard lock(hub_.mutex_);
        configured_.erase(path);
    }

private:
    Hub& hub_;
    std::mutex configMutex_;
    std::map<std::string, std::shared_ptr<bool>> configured_;
};

Hub::Hub(platform::Clock& clock)
    : clock_(clock), ownSide_(std::make_unique<OwnSide>(*this)), genericSide_(std::make_unique<GenericSide>(*this))
{
}

Hub::~Hub()
{
    // Its commands reach the cameras: it goes first.
    control_.reset();
}

bool Hub::listenForControl(const std::string& path, const std::filesystem::path& fifo, std::string& error)
{
    control_.reset();
    auto control = std::make_unique<ControlFifo>(*this, path, fifo);
    if (!control->listening()) {
        error = control->error();
        return false;
    }
    control_ = std::move(control);
    return true;
}

std::shared_ptr<Device> Hub::addOwn(int index, Model model)
{
    auto device = std::make_shared<Device>(model, clock_);
    std::lock_guard lock(mutex_);
    own_[index] = device;
    return device;
}

std::string Hub::addGeneric(Model model, const usb::Guid& guid)
{
    auto device = std::make_shared<Device>(model, clock_);
    std::lock_guard lock(mutex_);
    char path[96];
    std::snprintf(path, sizeof path, "\\\\?\\usb#vid_0000&pid_0000#SIM%04d#{%08x-sim}", nextSerial_++, guid.data1);
    generic_.push_back({path, guid, device});
    return path;
}

std::shared_ptr<Device> Hub::own(int index) const
{
    std::lock_guard lock(mutex_);
    auto it = own_.find(index);
    return it == own_.end() ? nullptr : it->second;
}

std::shared_ptr<Device> Hub::generic(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    for (const auto& e : generic_)
        if (e.path == path)
            return e.device;
    return nullptr;
}

void Hub::unplugOwn(int index)
{
    if (auto d = own(index)) {
        d->unplug();
        notices_.raise({usb::DeviceNotice::Kind::Removal, usb::ownDeviceName(index), {}, index});
    }
}

void Hub::replugOwn(int index)
{
    if (auto d = own(index)) {
        d->replug();
        notices_.raise({usb::DeviceNotice::Kind::Arrival, usb::ownDeviceName(index), {}, index});
    }
}

void Hub::unplugGeneric(const std::string& path)
{
    usb::Guid guid{};
    std::shared_ptr<Device> d;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : generic_)
            if (e.path == path) {
                d = e.device;
                guid = e.guid;
            }
    }
    if (d) {
        d->unplug();
        genericSide_->forget(path);
        notices_.raise({usb::DeviceNotice::Kind::Removal, path, guid, -1});
    }
}

void Hub::replugGeneric(const std::string& path)
{
    usb::Guid guid{};
    std::shared_ptr<Device> d;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : generic_)
            if (e.path == path) {
                d = e.device;
                guid = e.guid;
            }
    }
    if (d) {
        d->replug();
        notices_.raise({usb::DeviceNotice::Kind::Arrival, path, guid, -1});
    }
}

void Hub::setEnumerationAvailable(bool on)
{
    std::lock_guard lock(mutex_);
    enumeration_ = on;
}

usb::OwnDriver& Hub::ownDriver() { return *ownSide_; }
usb::GenericDriver& Hub::genericDriver() { return *genericSide_; }

bool Hub::anyCameraPresent()
{
    std::lock_guard lock(mutex_);
    for (const auto& [index, d] : own_)
        if (d->plugged())
            return true;
    for (const auto& e : generic_)
        if (e.device->plugged())
            return true;
    return false;
}

std::unique_ptr<usb::Backend> makeSystemBackend(usb::BackendChoice whenUnset)
{
    return usb::makeBackend(
        usb::backendChoiceFromEnvironment(whenUnset),
        [] {
            SceneSettings scene;
            if (const char* file = std::getenv("ORVANE_SIMCAM_SCENE"); file != nullptr && *file != '\0') {
                std::string error;
                scene = LoadSceneSettings(file, error);
                // Told even without debug output: the user asked for that scene.
                if (!error.empty())
                    std::fprintf(stderr, "Simulated camera: %s; the default scene is shown.\n", error.c_str());
            }
            auto hub = std::make_unique<Hub>();
            Model model;
            model.revision = scene.revision;
            // It carries its own FPGA program, so it starts without an image file.
            model.fpga = FpgaStart::NoUpload;
            // On the generic driver, as cameras are reached through libusb here.
            const std::string path = hub->addGeneric(model);
            hub->generic(path)->setImageSource(MakeSceneSource(scene));
            if (const char* fifo = std::getenv("ORVANE_SIMCAM_CONTROL"); fifo != nullptr && *fifo != '\0') {
                std::string error;
                if (!hub->listenForControl(path, fifo, error))
                    std::fprintf(stderr, "Simulated camera: %s; no faults are taken.\n", error.c_str());
            }
            return std::unique_ptr<usb::Backend>(std::move(hub));
        },
        [] { return usb::makeLibusbBackend(); });
}

std::shared_ptr<SceneImageSource> MakeSceneSource(const SceneSettings& s)
{
    const bool still = s.still;
    const scene::HeadPose held = s.pose;
    const scene::Trajectory trajectory(s.reach);
    auto source = std::make_shared<SceneImageSource>(s.revision, s.location, [still, held, trajectory](double seconds) {
        // Held still, or the scripted minute of movement over and over.
        return still ? held : trajectory.At(std::fmod(seconds, scene::Trajectory::kDuration));
    });
    source->SetMarkerRadius(s.radius);
    source->SetNoise(s.noise, 1);
    source->SetDefaultFrameRate(s.rate);
    return source;
}

} // namespace simcam
