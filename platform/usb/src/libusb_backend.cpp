#include "platform/usb/libusb_backend.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <thread>

namespace platform::usb {

LibusbApi realLibusbApi()
{
    LibusbApi api{};
    api.init = &libusb_init;
    api.exit = &libusb_exit;
    api.get_device_list = &libusb_get_device_list;
    api.free_device_list = &libusb_free_device_list;
    api.get_device_descriptor = &libusb_get_device_descriptor;
    api.get_bus_number = &libusb_get_bus_number;
    api.get_port_numbers = &libusb_get_port_numbers;
    api.open = &libusb_open;
    api.close = &libusb_close;
    api.set_auto_detach_kernel_driver = &libusb_set_auto_detach_kernel_driver;
    api.get_configuration = &libusb_get_configuration;
    api.set_configuration = &libusb_set_configuration;
    api.claim_interface = &libusb_claim_interface;
    api.release_interface = &libusb_release_interface;
    api.get_active_config_descriptor = &libusb_get_active_config_descriptor;
    api.free_config_descriptor = &libusb_free_config_descriptor;
    api.bulk_transfer = &libusb_bulk_transfer;
    api.clear_halt = &libusb_clear_halt;
    return api;
}

std::vector<UsbId> parseUsbIds(std::string_view text)
{
    std::vector<UsbId> ids;
    while (!text.empty()) {
        auto comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        auto colon = item.find(':');
        if (colon == std::string_view::npos)
            continue;
        UsbId id;
        auto v = item.substr(0, colon), p = item.substr(colon + 1);
        auto rv = std::from_chars(v.data(), v.data() + v.size(), id.vendor, 16);
        auto rp = std::from_chars(p.data(), p.data() + p.size(), id.product, 16);
        if (rv.ec == std::errc{} && rv.ptr == v.data() + v.size() && rp.ec == std::errc{} &&
            rp.ptr == p.data() + p.size() && !v.empty() && !p.empty())
            ids.push_back(id);
    }
    return ids;
}

std::string_view builtInUsbIds()
{
    return ORVANE_BUILT_IN_USB_IDS;
}

std::vector<UsbId> cameraUsbIds(std::string_view builtIn, const char* environment)
{
    std::string_view env = environment != nullptr ? environment : "";
    if (env.empty())
        return parseUsbIds(builtIn);
    if (env.front() != '+')
        return parseUsbIds(env);
    std::vector<UsbId> ids = parseUsbIds(builtIn);
    for (const UsbId& id : parseUsbIds(env.substr(1))) {
        const bool known = std::any_of(ids.begin(), ids.end(), [&](const UsbId& have) {
            return have.vendor == id.vendor && have.product == id.product;
        });
        if (!known)
            ids.push_back(id);
    }
    return ids;
}

std::uint32_t statusFromLibusb(int result)
{
    switch (result) {
    case LIBUSB_SUCCESS: return kStatusSuccess;
    case LIBUSB_ERROR_TIMEOUT: return kStatusTimeout;
    case LIBUSB_ERROR_NO_DEVICE: return kStatusDeviceRemoved;
    case LIBUSB_ERROR_PIPE: return kStatusStall;
    case LIBUSB_ERROR_OVERFLOW: return kStatusOverrun;
    case LIBUSB_ERROR_NO_MEM: return kStatusNoMemory;
    case LIBUSB_ERROR_BUSY:
    case LIBUSB_ERROR_ACCESS: return kStatusExclusive;
    case LIBUSB_ERROR_NOT_FOUND: return 0xE0001100;
    case LIBUSB_ERROR_INVALID_PARAM: return kStatusInvalidParameter;
    default: return kStatusFailed;
    }
}

namespace {

// One physical camera: a single libusb handle shared by every open of it, as
// a second open and claim of the same interface would fail as busy.
struct Physical {
    const LibusbApi* api = nullptr;
    std::string key;
    std::mutex mutex;
    libusb_device_handle* handle = nullptr;
    int users = 0;
    bool configuredOnce = false;
    std::vector<libusb_endpoint_descriptor> endpoints;
    std::atomic<bool> gone{false};

    // Opens (or shares) the handle; false when the device cannot be used.
    bool acquire(libusb_device* device)
    {
        std::lock_guard lock(mutex);
        if (handle) {
            ++users;
            return true;
        }
        libusb_device_handle* h = nullptr;
        if (api->open(device, &h) != 0 || !h)
            return false;
        api->set_auto_detach_kernel_driver(h, 1);
        int active = 0;
        if (api->get_configuration(h, &active) == 0 && active == 0)
            api->set_configuration(h, 1);
        if (api->claim_interface(h, 0) != 0) {
            api->close(h);
            return false;
        }
        libusb_config_descriptor* config = nullptr;
        endpoints.clear();
        if (api->get_active_config_descriptor(device, &config) == 0 && config) {
            if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
                const auto& alt = config->interface[0].altsetting[0];
                for (int i = 0; i < alt.bNumEndpoints; ++i)
                    endpoints.push_back(alt.endpoint[i]);
            }
            api->free_config_descriptor(config);
        }
        // Pipe 0 carries commands out, pipes 1 and 2 replies and images in.
        bool ok = endpoints.size() >= 2 && !(endpoints[0].bEndpointAddress & 0x80) &&
                  (endpoints[1].bEndpointAddress & 0x80) &&
                  (endpoints.size() < 3 || (endpoints[2].bEndpointAddress & 0x80));
        if (!ok) {
            api->release_interface(h, 0);
            api->close(h);
            return false;
        }
        if (endpoints.size() > 3)
            endpoints.resize(3);
        handle = h;
        users = 1;
        return true;
    }

    void release()
    {
        std::lock_guard lock(mutex);
        if (--users > 0 || !handle)
            return;
        api->release_interface(handle, 0);
        api->close(handle);
        handle = nullptr;
    }

    std::uint8_t endpoint(std::size_t pipe)
    {
        std::lock_guard lock(mutex);
        return pipe < endpoints.size() ? endpoints[pipe].bEndpointAddress : 0;
    }
};

struct Cancel {
    std::atomic<std::uint64_t> generation{0};
    std::atomic<bool> closed{false};
};

// Blocking bulk transfer in slices, so cancel and close are seen. A slice that
// times out after some bytes ends the transfer with those bytes.
int sliced(const LibusbApi& api, libusb_device_handle* h, std::uint8_t ep, std::span<std::uint8_t> buf, int& got,
           unsigned int sliceMs, const Cancel& cancel, std::uint64_t seen)
{
    got = 0;
    for (;;) {
        if (cancel.closed.load() || cancel.generation.load() != seen)
            return LIBUSB_ERROR_INTERRUPTED;
        int n = 0;
        int r = api.bulk_transfer(h, ep, buf.data(), static_cast<int>(buf.size()), &n, sliceMs);
        if (r == LIBUSB_ERROR_TIMEOUT && n == 0)
            continue;
        got = n;
        return r == LIBUSB_ERROR_TIMEOUT ? 0 : r;
    }
}

class Impl final : public LibusbBackend {
public:
    Impl(LibusbApi api, std::vector<UsbId> ids, LibusbTiming timing)
        : api_(api), ids_(std::move(ids)), timing_(timing), own_(*this), generic_(*this)
    {
        ok_ = api_.init(&context_) == 0;
        lastScan_ = scanKeys();
        if (ok_ && timing_.rescanMs > 0)
            poller_.start([this] {
                while (stop_.wait(timing_.rescanMs) == kWaitTimeout)
                    rescan();
            });
    }
    ~Impl() override
    {
        stop_.set();
        poller_.join();
        if (ok_)
            api_.exit(context_);
    }

    std::string_view name() const override { return "usb"; }
    OwnDriver& ownDriver() override { return own_; }
    GenericDriver& genericDriver() override { return generic_; }
    DeviceNotices& notices() override { return notices_; }
    bool anyCameraPresent() override { return !scanKeys().empty(); }

    bool initialised() const { return ok_; }

    // Runs `use` on the matching devices in bus and port order.
    template <typename F>
    void scan(F&& use)
    {
        if (!ok_)
            return;
        libusb_device** list = nullptr;
        ssize_t count = api_.get_device_list(context_, &list);
        if (count < 0 || !list)
            return;
        std::vector<std::pair<std::string, libusb_device*>> found;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor d{};
            if (api_.get_device_descriptor(list[i], &d) != 0)
                continue;
            bool match = std::any_of(ids_.begin(), ids_.end(), [&](const UsbId& id) {
                return id.vendor == d.idVendor && id.product == d.idProduct;
            });
            if (match)
                found.emplace_back(keyOf(list[i]), list[i]);
        }
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < found.size(); ++i)
            use(i, found[i].first, found[i].second);
        api_.free_device_list(list, 1);
    }

    std::vector<std::string> scanKeys()
    {
        std::vector<std::string> keys;
        scan([&](std::size_t, const std::string& key, libusb_device*) { keys.push_back(key); });
        return keys;
    }

    // Compares with the last scan and raises arrival and removal notices.
    void rescan() override
    {
        auto now = scanKeys();
        std::vector<std::string> before;
        {
            std::lock_guard lock(mutex_);
            before.swap(lastScan_);
            lastScan_ = now;
        }
        for (const auto& k : before)
            if (std::find(now.begin(), now.end(), k) == now.end()) {
                markGone(k);
                notices_.raise({DeviceNotice::Kind::Removal, k, kCameraInterfaceGuid1, -1});
            }
        for (const auto& k : now)
            if (std::find(before.begin(), before.end(), k) == before.end())
                notices_.raise({DeviceNotice::Kind::Arrival, k, kCameraInterfaceGuid1, -1});
    }

    std::shared_ptr<Physical> physical(const std::string& key)
    {
        std::lock_guard lock(mutex_);
        auto& p = physical_[key];
        if (!p) {
            p = std::make_shared<Physical>();
            p->api = &api_;
            p->key = key;
        }
        return p;
    }

    void markGone(const std::string& key)
    {
        std::lock_guard lock(mutex_);
        auto it = physical_.find(key);
        if (it != physical_.end()) {
            it->second->gone.store(true);
            physical_.erase(it);
        }
    }

    const LibusbApi& api() const { return api_; }
    const LibusbTiming& timing() const { return timing_; }

private:
    std::string keyOf(libusb_device* d)
    {
        std::uint8_t ports[8] = {};
        int n = api_.get_port_numbers(d, ports, 8);
        std::string key = "usb:" + std::to_string(api_.get_bus_number(d)) + "-";
        for (int i = 0; i < n; ++i)
            key += (i ? "." : "") + std::to_string(ports[i]);
        return key;
    }

    class OwnHandle;
    class GenericHandleImpl;

    class Own final : public OwnDriver {
    public:
        explicit Own(Impl& b) : b_(b) {}
        std::shared_ptr<OwnDriverHandle> open(int index) override;

    private:
        Impl& b_;
    };
    class Generic final : public GenericDriver {
    public:
        explicit Generic(Impl& b) : b_(b) {}
        bool enumerationAvailable() const override { return b_.initialised(); }
        std::vector<std::string> devicePaths(const Guid& guid) override
        {
            if (!(guid == kCameraInterfaceGuid1))
                return {};
            return b_.scanKeys();
        }
        std::shared_ptr<GenericHandle> open(std::string_view path, std::uint32_t& error) override;

    private:
        Impl& b_;
    };

    LibusbApi api_;
    std::vector<UsbId> ids_;
    LibusbTiming timing_;
    libusb_context* context_ = nullptr;
    bool ok_ = false;
    Event stop_{Event::Reset::Manual};
    Thread poller_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Physical>> physical_;
    std::vector<std::string> lastScan_;
    NoticeList notices_;
    Own own_;
    Generic generic_;
};

class Impl::OwnHandle final : public OwnDriverHandle {
public:
    OwnHandle(Impl& b, std::shared_ptr<Physical> p) : b_(b), p_(std::move(p)) {}
    ~OwnHandle() override
    {
        close();
        p_->release();
    }
    bool read(std::uint32_t path, std::span<std::uint8_t> out, std::uint32_t& returned) override
    {
        returned = 0;
        if (path != kOwnReplyPath && path != kOwnImagePath)
            return false;
        std::uint8_t ep = p_->endpoint(path);
        if (!ep || p_->gone.load())
            return false;
        int got = 0;
        int r = sliced(b_.api(), p_->handle, ep, out, got, b_.timing().pollMs, cancel_, cancel_.generation.load());
        if (r != 0)
            return false;
        returned = static_cast<std::uint32_t>(got);
        return true;
    }
    bool write(std::span<const std::uint8_t> frame, std::uint32_t& returned) override
    {
        returned = 0;
        if (cancel_.closed.load() || p_->gone.load())
            return false;
        if (frame.empty())
            return true;
        std::vector<std::uint8_t> copy(frame.begin(), frame.end());
        int got = 0;
        int r = b_.api().bulk_transfer(p_->handle, p_->endpoint(0), copy.data(), static_cast<int>(copy.size()), &got,
                                       b_.timing().ownWriteTimeoutMs);
        returned = static_cast<std::uint32_t>(std::max(got, 0));
        return r == 0;
    }
    void cancel() override { cancel_.generation.fetch_add(1); }
    void close() override { cancel_.closed.store(true); }

private:
    Impl& b_;
    std::shared_ptr<Physical> p_;
    Cancel cancel_;
};

std::shared_ptr<OwnDriverHandle> Impl::Own::open(int index)
{
    std::shared_ptr<OwnDriverHandle> out;
    b_.scan([&](std::size_t i, const std::string& key, libusb_device* d) {
        if (static_cast<int>(i) != index || out)
            return;
        auto p = b_.physical(key);
        if (p->acquire(d))
            out = std::make_shared<OwnHandle>(b_, p);
    });
    return out;
}

class Impl::GenericHandleImpl final : public GenericHandle {
public:
    GenericHandleImpl(Impl& b, std::shared_ptr<Physical> p) : b_(b), p_(std::move(p))
    {
        worker_ = std::thread([this] { serve(); });
    }
    ~GenericHandleImpl() override
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cancel_.closed.store(true);
        cv_.notify_all();
        worker_.join();
        cancelIo();
        p_->release();
    }

    std::uint32_t ioControl(std::uint32_t code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                            std::uint32_t& returned) override
    {
        returned = 0;
        if (p_->gone.load())
            return kStatusDeviceRemoved;
        const LibusbApi& api = b_.api();
        switch (code) {
        case kIoctlSetConfiguration: {
            if (in.size() < sizeof(ConfigurationRequest))
                return kStatusInvalidParameter;
            std::lock_guard lock(p_->mutex);
            if (p_->configuredOnce)
                return kStatusAlreadyConfigured;
            p_->configuredOnce = true;
            int active = 0;
            if (api.get_configuration(p_->handle, &active) == 0 && active != 0)
                return kStatusAlreadyConfigured;
            return statusFromLibusb(api.set_configuration(p_->handle, 1));
        }
        case kIoctlUnconfigure: {
            std::lock_guard lock(p_->mutex);
            p_->configuredOnce = false;
            return 0;
        }
        case kIoctlGetConfigurationInfo: {
            if (out.size() < sizeof(ConfigurationInformation))
                return kStatusInvalidParameter;
            ConfigurationInformation info{};
            info.numberOfInterfaces = 1;
            std::lock_guard lock(p_->mutex);
            info.numberOfPipes = static_cast<std::uint32_t>(p_->endpoints.size());
            for (std::size_t i = 0; i < p_->endpoints.size(); ++i) {
                const auto& e = p_->endpoints[i];
                info.pipes[i].pipeType = e.bmAttributes & 3;
                info.pipes[i].maximumTransferSize = 0x50000;
                info.pipes[i].maximumPacketSize = e.wMaxPacketSize;
                info.pipes[i].endpointAddress = e.bEndpointAddress;
                info.pipes[i].interval = e.bInterval;
            }
            std::memcpy(out.data(), &info, sizeof info);
            returned = sizeof info;
            return 0;
        }
        case kIoctlGetDriverInfo: {
            if (out.size() < sizeof(DriverInformation))
                return kStatusInvalidParameter;
            DriverInformation info{0x0230, 0x0100, 0, 0};
            std::memcpy(out.data(), &info, sizeof info);
            returned = sizeof info;
            return 0;
        }
        case kIoctlBind:
            if (in.empty())
                return kStatusInvalidParameter;
            endpoint_.store(in[0]);
            return 0;
        case kIoctlResetPipe:
            return statusFromLibusb(api.clear_halt(p_->handle, endpoint_.load()));
        case kIoctlAbortPipe:
            cancelIo();
            return 0;
        default:
            return kStatusUnsupportedIoctl;
        }
    }

    void submitRead(std::shared_ptr<Request> request) override { submit(std::move(request), true); }
    void submitWrite(std::shared_ptr<Request> request) override { submit(std::move(request), false); }

    void cancelIo() override
    {
        std::deque<Job> queued;
        {
            std::lock_guard lock(mutex_);
            queued.swap(queue_);
            cancel_.generation.fetch_add(1);
        }
        for (auto& j : queued)
            j.request->complete(kStatusCancelled, 0);
    }

private:
    struct Job {
        std::shared_ptr<Request> request;
        bool read;
    };

    void submit(std::shared_ptr<Request> request, bool read)
    {
        std::uint8_t ep = endpoint_.load();
        if (!ep || (read != ((ep & 0x80) != 0))) {
            request->complete(kStatusNotBound, 0);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            queue_.push_back({std::move(request), read});
        }
        cv_.notify_all();
    }

    void serve()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            Job job = queue_.front();
            queue_.pop_front();
            std::uint64_t seen = cancel_.generation.load();
            lock.unlock();
            int got = 0;
            int r = p_->gone.load() ? LIBUSB_ERROR_NO_DEVICE
                                    : sliced(b_.api(), p_->handle, endpoint_.load(), job.request->buffer(), got,
                                             b_.timing().pollMs, cancel_, seen);
            if (r == LIBUSB_ERROR_INTERRUPTED)
                job.request->complete(kStatusCancelled, 0);
            else
                job.request->complete(statusFromLibusb(r), static_cast<std::uint32_t>(std::max(got, 0)));
            lock.lock();
        }
    }

    Impl& b_;
    std::shared_ptr<Physical> p_;
    std::atomic<std::uint8_t> endpoint_{0};
    Cancel cancel_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Job> queue_;
    bool stop_ = false;
    std::thread worker_;
};

std::shared_ptr<GenericHandle> Impl::Generic::open(std::string_view path, std::uint32_t& error)
{
    std::shared_ptr<GenericHandle> out;
    error = kErrorFileNotFound;
    b_.scan([&](std::size_t, const std::string& key, libusb_device* d) {
        if (key != path || out)
            return;
        auto p = b_.physical(key);
        if (p->acquire(d)) {
            out = std::make_shared<GenericHandleImpl>(b_, p);
            error = 0;
        } else {
            error = 5;  // access denied: busy or not usable
        }
    });
    return out;
}

} // namespace

std::unique_ptr<LibusbBackend> makeLibusbBackend(LibusbApi api, std::vector<UsbId> ids, LibusbTiming timing)
{
    return std::make_unique<Impl>(api, std::move(ids), timing);
}

std::unique_ptr<LibusbBackend> makeLibusbBackend()
{
    return makeLibusbBackend(realLibusbApi(), cameraUsbIds(builtInUsbIds(), std::getenv("ORVANE_USB_IDS")));
}

} // namespace platform::usb
