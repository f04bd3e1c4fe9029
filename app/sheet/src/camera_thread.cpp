#include "app/camera_thread.h"

#include "app/UpdateService.h"

#include <mutex>

#include "app/property_sheet.h"

CCameraThread::CCameraThread(ICameraControl& camera, ICameraThreadHost& host)
    : CCameraThread(camera, host, Options{})
{
}

CCameraThread::CCameraThread(ICameraControl& camera, ICameraThreadHost& host, Options options)
    : camera_(camera), host_(host), options_(std::move(options))
{
}

CCameraThread::~CCameraThread() { Stop(); }

void CCameraThread::Start()
{
    if (thread_.joinable())
        return;
    run_.store(true);
    running_.store(true);
    camera_.CancelStarts(false);
    thread_.start([this] { Body(); });
}

void CCameraThread::Wake()
{
    restart_.store(true);
    wake_.set();
}

void CCameraThread::Stop()
{
    run_.store(false);
    viewsEnabled_.store(false);
    wake_.set();
    // A start under way (the camera may leave its configuration unanswered
    // for seconds) ends now, and none follows.
    if (thread_.joinable())
        camera_.CancelStarts(true);
    // The thread unloads the views before it leaves; a join is the bounded
    // form of waiting for its running flag (every wait in it is bounded).
    if (thread_.joinable() && !thread_.isCurrent())
        thread_.join();
    running_.store(false);
}

void CCameraThread::SetViewsEnabled(bool enabled)
{
    viewsEnabled_.store(false);
    wake_.set();
    while (viewsLoaded_.load() && running_.load()) {
        wake_.set();
        platform::Event step;
        step.wait(options_.pollStepMs);
    }
    viewsEnabled_.store(enabled);
    if (enabled)
        wake_.set();
}

std::array<std::uint8_t, 5> CCameraThread::CameraStatus() const
{
    std::lock_guard lock(statusLock_);
    return status_;
}

void CCameraThread::Suspend() { camera_.Stop(); }

void CCameraThread::Resume()
{
    // The start is the thread's: it can take seconds (configuration, FPGA),
    // which the window must not wait through, and the thread applies the
    // camera options after every start it makes.
    camera_.Stop();
    started_.store(false);
    Wake();
}

void CCameraThread::UnloadViews()
{
    if (viewsStop_)
        viewsStop_();
    viewsStop_ = nullptr;
    viewsVersion_.store(0);
    views_.reset();
    viewsLoaded_.store(false);
}

void CCameraThread::ServeViews()
{
    if (!viewsEnabled_.load()) {
        UnloadViews();
        return;
    }
    if (views_)
        return;
    auto module = platform::Module::load(ViewLibraryFile(options_.workFolder, options_.viewsModule).string());
    if (!module)
        return;  // tracking runs without it; the next pass tries again
    views_ = std::move(module);
    viewsLoaded_.store(true);
    auto start = views_->function<int (*)()>("VSLViewsStart");
    viewsStop_ = views_->function<int (*)()>("VSLViewsStop");
    auto version = views_->function<int (*)()>("VSLViewsVersion");
    if (start)
        start();
    viewsVersion_.store(version ? static_cast<unsigned>(version()) : 0u);
}

void CCameraThread::UpdatePresence()
{
    const bool present = camera_.IsDevicePresent() && camera_.IsUsbDeviceOpen();
    if (present != present_.load()) {
        present_.store(present);
        host_.PostNotifyPages(app::PN_DEVICE_STATE);
        host_.PostUpdateStatus();
    }
    // A camera held as started must be there: one that went (also one that
    // was gone already when a start in this pass brought it back for a
    // moment) is stopped, so that the next start sets it up afresh.
    if (!present && started_.load()) {
        camera_.Stop();
        started_.store(false);
    }
}

void CCameraThread::Body()
{
    running_.store(true);
    restart_.store(true);
    int number = 0;
    while (run_.load()) {
        bool startedNow = false;
        bool statusChanged = false;

        if (!present_.load()) {
            camera_.RegisterNotificationWindow();
            camera_.ProbeForDevices();
            camera_.Start(true, true);
        }

        UpdatePresence();

        if (!started_.load() && restart_.load()) {
            configuring_.store(true);
            host_.PostUpdateStatus();
            camera_.SetCameraNumber(number);
            if (!started_.load())
                camera_.ProbeForDevices();
            started_.store(camera_.Start(true, true));
            if (!started_.load()) {
                if (camera_.QueryUsbDriver(number)) {
                    // The driver has the device: try again soon, unless woken to stop.
                    wake_.wait(options_.retryMs);
                    ServeViews();
                    continue;
                }
            } else {
                revision_.store(camera_.ReadConfiguration());
                host_.OnCameraStarted();
                readRequests_.fetch_or(kReadLeds);
                startedNow = true;
            }
            configuring_.store(false);
            host_.PostUpdateStatus();
        }

        const unsigned requests = readRequests_.exchange(0);
        if (requests & kReadLeds) {
            const unsigned char leds = camera_.ReadLeds();
            if (leds != leds_.load())
                statusChanged = true;
            leds_.store(leds);
        }
        if (requests & kReadStatus) {
            const int revision = camera_.ReadConfiguration();
            revision_.store(revision);
            if (revision >= 5) {
                std::array<std::uint8_t, 5> status{};
                if (camera_.ReadCameraStatus(status)) {
                    std::lock_guard lock(statusLock_);
                    status_ = status;
                }
            }
            statusChanged = true;
        }
        if (statusChanged)
            host_.PostNotifyPages(app::PN_CAMERA_STATUS);

        if (startedNow) {
            // A start in this pass may have opened the device after presence
            // was read: read it again so that the status is not left stale
            // until the next wake. A camera that went away in the meantime
            // is stopped like any other, or the next start would find it
            // still started and leave the replugged camera unset.
            UpdatePresence();
            if (firstStart_.exchange(false))
                host_.SetRecenterTimer();
            host_.PostNotifyPages(app::PN_DEVICE_STATE);
        }

        ServeViews();
        while (run_.load() && wake_.wait(options_.waitSliceMs) == platform::kWaitTimeout) {
        }
        ServeViews();
    }
    UnloadViews();
    running_.store(false);
}
