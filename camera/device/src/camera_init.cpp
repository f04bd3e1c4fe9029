// The life of one camera: start, the configuration read, the FPGA check and
// upload with each revision's set-up, and stop.
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "camera/camera.h"
#include "camera/debug.h"
#include "camera/exceptions.h"
#include "platform/program_folders.h"

namespace Orvane {

namespace {

constexpr unsigned long kErrorFileNotFound = 2;
constexpr unsigned long kErrorReadFault = 30;

std::uint16_t statusChecksum(const _OV_RESERVED& s)
{
    return static_cast<std::uint16_t>((s.checksum[0] << 8) | s.checksum[1]);
}

} // namespace

std::uint16_t Camera::CalcImageChecksum(std::span<const unsigned char> image)
{
    unsigned s = 0;
    for (unsigned char b : image)
        s = ((s + b) ^ (static_cast<unsigned>(b) << 4)) & 0xFFFFu;
    return static_cast<std::uint16_t>(s);
}

const char* Camera::ImageFileName(int revision)
{
    switch (revision) {
    case 12:
        return "camerarev12.bit";
    case 13:
        return "camerarev13.bit";
    default:
        return "camera.bit";
    }
}

void Camera::SetImageFolder(std::filesystem::path folder)
{
    std::lock_guard lock(imageLock_);
    imageFolder_ = std::move(folder);
}

std::filesystem::path Camera::GetImageFolder() const
{
    std::lock_guard lock(imageLock_);
    return imageFolder_;
}

unsigned long Camera::LoadV5Image(std::vector<unsigned char>& image)
{
    image.clear();
    // Without a folder of its own the image is one of the program's files
    // (the user's folder first, then what was installed with the program).
    const std::filesystem::path folder = GetImageFolder();
    const std::filesystem::path file =
        folder.empty() ? platform::resolve(ImageFileName(Revision())) : folder / ImageFileName(Revision());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        lastImageError_.store(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        lastImageError_.store(kErrorFileNotFound);
        return kErrorFileNotFound;
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        lastImageError_.store(kErrorReadFault);
        return kErrorReadFault;
    }
    {
        std::lock_guard lock(imageLock_);
        imageBuffer_ = bytes;
    }
    image = std::move(bytes);
    lastImageError_.store(0);
    return 0;
}

void Camera::StopCommunication()
{
    std::lock_guard lock(threadsLock_);
    // As at destruction: bounded, and nothing waits behind a reply that may
    // never come.
    BeginShutdown();
    KillAwaiting();
    ShutdownWatchdogThread();
    if (started_.load())
        Stop();
    keepRunning_.store(0);
    StopThreads();
    KillQueues();
    EndShutdown();
}

bool Camera::SetUSBIODevicePath(std::string_view path, bool initialise)
{
    if (path.size() > MaxDevicePathLength) {
        cDebug::ReportDebug(cDebug::Device, "Camera::SetUSBIODevicePath - a path of %zu characters is too long",
                            path.size());
        return false;
    }
    std::lock_guard lock(switchLock_);
    StopCommunication();
    driver_.store(USBIO);
    {
        std::lock_guard transport(transportLock_);
        usbioPath_.assign(path);
    }
    if (!initialise)
        return true;
    try {
        InitializeCameraCommunication();
        return Initialize();
    } catch (const OVRuntimeException& e) {
        cDebug::ReportDebug(cDebug::Device, "Camera::SetUSBIODevicePath - %s", e.what());
        return false;
    }
}

bool Camera::SetOVDeviceIndex(int index)
{
    if (index < 0 || index > 1023)
        return false;
    std::lock_guard lock(switchLock_);
    if (driver_.load() != OVUSB || cameraNumber_.load() != index) {
        StopCommunication();
        // The camera table knows the camera by its number.
        DeleteMe();
        cameraNumber_.store(index);
        driver_.store(OVUSB);
        AddMe();
    }
    InitializeCameraCommunication();
    return true;
}

bool Camera::Start()
{
    // A start meeting a driver switch would bring the threads up for the
    // old driver.
    std::lock_guard lock(switchLock_);
    if (startsCancelled_.load())
        return false;
    // A started camera is set up again as well: it may have lost its set-up
    // (a power dip, a replug) without anyone noticing.
    started_.store(true);
    stopped_.store(false);
    replyWake_.set();
    imageWake_.set();
    try {
        InitializeCameraCommunication();
        if (!Initialize())
            started_.store(false);
    } catch (const OVRuntimeException&) {
        started_.store(false);
        stopped_.store(true);
        CloseUsbDevice();
        throw;
    }
    if (!started_.load())
        stopped_.store(true);
    return started_.load();
}

bool Camera::Initialize()
{
    // The generic driver keeps an open device; the own driver reopens.
    if (!(driver_ == USBIO && deviceOpen_.load()))
        OpenUsbDevice();
    if (!deviceOpen_.load())
        return false;
    std::lock_guard lock(initLock_);
    videoWanted_.store(true);
    statusWanted_.store(true);
    illuminationWanted_.store(false);
    return InitializeCameraData();
}

bool Camera::InitializeCameraData()
{
    TurnVideoOff();
    ResetFiFo();
    TurnLedOff();
    StatusOff();
    Send({DEVCTRL_DUMMY_PACKET});

    // The reply handler sets the window, the blocking mask and threshold
    // and starts the generic driver's image reader. The camera may have had
    // its FPGA loaded again since the last mask was sent: a new mask.
    freshMask_.store(true);
    ReadCameraData();
    if (!WaitForConfiguration() || config_.GetState() != CameraConfigurationData::Valid) {
        // Never answered, or refused: the camera cannot be set up.
        config_.SetInvalidState();
        PublishConfiguration();
        started_.store(false);
        CloseUsbDevice();
        throw NoCameraDataException("Camera::InitializeCameraData - no configuration data from the camera.");
    }

    if (RevisionIn({5, 6, 7, 8, 9, 12, 13}) && !InitV5Camera()) {
        started_.store(false);
        CloseUsbDevice();
        return false;
    }
    if (videoWanted_.load())
        TurnVideoOn();
    if (illuminationWanted_.load())
        TurnLedOn();
    if (Revision() != 9)
        ResetFiFo();
    if (statusWanted_.load())
        StatusOn();
    return true;
}

bool Camera::InitV5Camera()
{
    const int revision = Revision();
    bool success = false;
    imageMissing_.store(false);
    for (int round = 0; round < 2 && !success; ++round) {
        _OV_RESERVED status{};
        ReadCameraStatus(&status);
        std::vector<unsigned char> image;
        unsigned long error = LoadV5Image(image);
        const std::uint16_t checksum = CalcImageChecksum(image);

        if (revision == 7 && config_.GetSerialNumber() <= 56203) {
            SetI2CAddress(112);
            SetI2CSubAddress(0);
            SetI2CData(23);
            WriteI2CDataNoLock();
        }
        if (status.fpgaState == 15) {
            // It runs the program it carries: no upload and no set-up, but
            // what follows the check below still applies.
            success = true;
            break;
        }

        if (!status.configured || statusChecksum(status) != checksum) {
            if (error != 0 || image.empty()) {
                // Without an image the FPGA is left as it is: wiping it
                // would leave a camera that cannot run at all.
                imageMissing_.store(true);
                cDebug::ReportDebug(cDebug::Device, "Camera: no FPGA image \"%s\" for revision %d (error %lu)",
                                    ImageFileName(revision), revision, error ? error : kErrorFileNotFound);
                return false;
            }
            InitFpgaForConfig();
            SendCommand(image.data(), static_cast<int>(image.size()), DEVCTRL_CONFIG_FPGA_DAT, 0, nullptr, nullptr,
                        nullptr);
            if (!deviceOpen_.load())
                return false;
            if (RevisionIn({6, 7, 8, 12})) {
                FPGARegWrite(5, 16, 4096);
                GetFrameRate();
            }
            ReadCameraStatus(&status);
            if (!status.configured || statusChecksum(status) != checksum)
                continue;
        }

        if (status.fpgaState == 1) {
            SendFpgaRerunConfigScript();
            // Bounded: a camera whose FPGA never runs fails its start.
            for (unsigned reads = 0; status.fpgaState != 2 && reads < timing_.fpgaRunningReads; ++reads) {
                if (reads > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(Bounded(timing_.fpgaRunningPollMs)));
                ReadCameraStatus(&status);
                if (!deviceOpen_.load())
                    break;
            }
            switch (revision) {
            case 6:
                SetIntensity(12);
                SetExposure(200);
                SetCameraOptions(200, false, false);
                break;
            case 7:
                SetIntensity(15);
                SetExposure(55);
                SetCameraOptions(120, false, false);
                FPGARegWrite(19, 16, 0);
                break;
            case 8:
                SetIntensity(15);
                SetExposure(config_.GetHardwareOptions() == 4 ? 50 : 30);
                SetCameraOptions(120, false, false);
                break;
            case 9:
                SetIntensity(10);
                SetExposure(399);
                SetCameraOptions(150, false, false);
                break;
            case 12:
                SetIntensity(15);
                SetExposure(26);
                SetCameraOptions(120, false, false);
                FPGARegWrite(19, 16, 0);
                break;
            default:
                break;
            }
        }
        if (status.fpgaState != 2)
            continue;

        controlRegister_.store(0);
        shutterDelay_.store(0);
        if (RevisionIn({6, 7, 12}))
            FPGARegWrite(20, 15, 0);
        if (revision == 7 || revision == 12)
            SetShutterDelay(0);
        success = true;
    }

    if (revision == 6 && deviceOpen_.load()) {
        TurnVideoOff();
        ResetFiFo();
        SetCameraOptions(135, false, false);
        SetVideoType(videoTypeBit_.load());
        int id = static_cast<int>(config_.GetSerialNumber() % 100);
        SetCameraId(id == 0 ? 99 : id);
    }
    CalculateActualWindowSize();
    if (!success)
        cDebug::ReportDebug(cDebug::Device, "Camera: the FPGA of revision %d did not start", revision);
    return success;
}

void Camera::Stop()
{
    // One caller stops: a driver switch and a sleep notice may both try.
    if (!started_.exchange(false))
        return;
    keepRunning_.store(0);
    stopped_.store(true);
    videoWanted_.store(false);
    if (!IsDevicePresent())
        return;
    TurnVideoOff();
    ResetFiFo();
    StatusOff();
    TurnLedOff();
    StatusRedOff();
    StatusCaseOff();
    Send({DEVCTRL_DUMMY_PACKET});
    if (driver_ == OVUSB)
        Sleep(Bounded(timing_.stopSettleMs));
    ReadLeds();
}

} // namespace Orvane
