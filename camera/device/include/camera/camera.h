#pragma once
// One USB camera: the command channel (queues, send, reply and image threads,
// watchdog) over the camera's own driver or the generic USB driver, and the
// camera operations built on it (status, LEDs, exposure, video, registers,
// I2C, EEPROM, multi-camera) and the camera's blocking mask.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "camera/bitmap.h"
#include "camera/blocking_mask.h"
#include "camera/camera_packet.h"
#include "camera/configuration_data.h"
#include "camera/double_buffer.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/usb/driver.h"

class CUsbIo;
class CUsbIoThread;
class CameraUSBIOReader;
class CUsbIoWriter;

// The camera status record: STATUS_GET reply bytes 2-6.
struct _OV_RESERVED {
    unsigned char reserved;      // reply byte 2
    unsigned char configured;    // FPGA configured flag
    unsigned char checksum[2];   // checksum of the loaded image, big-endian
    unsigned char fpgaState;     // 1 loaded, 2 running, 15 no upload wanted
};
static_assert(sizeof(_OV_RESERVED) == 5);

namespace Orvane {

class Camera;

// Writes the blocking mask into revision 7's mask registers (bank 16).
class cLumbrixBridge final : public cCameraBridge {
public:
    explicit cLumbrixBridge(Camera& camera) : camera_(camera) {}
    void WriteMaskWord(std::uint32_t address, std::uint32_t value) override;
    void ClearMask() override;
    void EnableMask() override;
    void DisableMask() override;

private:
    Camera& camera_;
};

// Where a camera on the generic driver opens its device and binds its pipes
// (the camera manager, which knows the present devices). Without one the
// camera opens its path directly.
class CameraDeviceLocator {
public:
    virtual ~CameraDeviceLocator() = default;
    // Opens `io` on the present device whose path is `path`; false when no
    // present device has that path or it does not open.
    virtual bool GetCameraDevice(std::string_view path, CUsbIo& io) = 0;
    // Binds `thread`'s handle (opened first when needed) to `endpoint` of the device at `path`.
    virtual bool BindPipe(std::string_view path, std::uint8_t endpoint, CUsbIoThread& thread) = 0;
};

// One queued command. Owns copies of its payload and of the reply.
struct Command {
    using Callback = void (Camera::*)(Command*, int);

    std::unique_ptr<unsigned char[]> payload;
    int payloadLength = 0;
    std::unique_ptr<unsigned char[]> reply;
    int replyLength = 0;
    unsigned int expectedReply = 0;  // 0x00-0xF0; 0 expects none
    unsigned char framingCode = 0;
    std::atomic<unsigned char>* doneFlag = nullptr;
    void* userData = nullptr;
    bool resent = false;
    Callback callback = nullptr;
    // Keeps the storage doneFlag and userData point into alive for as long
    // as the command exists, so a late completion never writes into memory
    // a caller has left.
    std::shared_ptr<void> keepAlive;
};

// Timing knobs; the defaults are the camera's. Tests shorten them.
struct CameraTiming {
    unsigned watchdogMs = 5000;        // reply wait before a resend, and again before the kill
    unsigned statusPolls = 2000;       // ReadCameraStatus polls of statusPollMs
    unsigned statusPollMs = 1;
    unsigned blockingPollMs = 1;       // ReadLeds, SendCommandBlocking, Sync
    unsigned registerPollMs = 2;       // register and I2C reads
    unsigned syncReadLimitMs = 15000;  // longest wait of any synchronous read
    unsigned threadStartMs = 50;
    unsigned sendIdleMs = 50;
    unsigned sendBusyMs = 1;
    unsigned readerIdleMs = 10;
    // Send and reply threads while there is nothing they could do (a closed
    // device; the reply thread also while the camera is not started and no
    // reply is awaited): what changes that wakes them, so this only bounds
    // the wait.
    unsigned closedIdleMs = 1000;
    unsigned imageIdleMs = 500;
    unsigned usbioWriteTimeoutMs = 1000;
    unsigned configWaitMs = 15000;     // start-up wait for the configuration block
    unsigned fpgaRunningReads = 100;   // status reads while waiting for a running FPGA
    unsigned fpgaRunningPollMs = 10;   // pause between those reads
    unsigned stopSettleMs = 50;        // own driver: pause after queueing the stop frames
    // Destruction and driver switches: every wait and write of the way out
    // (the stop frames, the last LED and dummy frames) ends by then.
    unsigned shutdownMs = 250;
};

class Camera {
public:
    // Command codes.
    static constexpr unsigned char DEVCTRL_LED_RAW = 0x10;
    static constexpr unsigned char DEVCTRL_RESET_RING_BUFFER = 0x11;
    static constexpr unsigned char DEVCTRL_FLUSH_FIFO = 0x12;
    static constexpr unsigned char DEVCTRL_DUMMY_PACKET = 0x13;
    static constexpr unsigned char DEVCTRL_SET_VIDEO_SUPPRESSION = 0x14;
    static constexpr unsigned char DEVCTRL_CONFIG_CPLD_OPTIONS = 0x15;
    static constexpr unsigned char DEVCTRL_READ_CONFDATA = 0x17;
    static constexpr unsigned char DEVCTRL_CONFIG_SETLOCK = 0x18;
    static constexpr unsigned char DEVCTRL_CONFIG_FPGA_REG = 0x19;
    static constexpr unsigned char DEVCTRL_CONFIG_FPGA_INIT = 0x1B;
    static constexpr unsigned char DEVCTRL_CONFIG_FPGA_DAT = 0x1C;
    static constexpr unsigned char DEVCTRL_STATUS_GET = 0x1D;
    static constexpr unsigned char DEVCTRL_LED_NUMERIC = 0x1E;
    static constexpr unsigned char DEVCTRL_CONFIG_FPGA_REG_READ = 0x1F;
    static constexpr unsigned char DEVCTRL_RELOAD_CONFDATA = 0x20;
    static constexpr unsigned char DEVCTRL_I2C_WRITE_NOLOCK = 0x23;
    static constexpr unsigned char DEVCTRL_I2C_READ_NOLOCK = 0x24;
    static constexpr unsigned char DEVCTRL_I2C_WRITE_U16_NOLOCK = 0x26;
    static constexpr unsigned char DEVCTRL_I2C_READ_U16_NOLOCK = 0x27;
    static constexpr unsigned char DEVCTRL_I2C_WRITE = 0x40;
    static constexpr unsigned char DEVCTRL_I2C_READ = 0x41;
    static constexpr unsigned char DEVCTRL_EEPROM_WRITE_16 = 0x42;
    static constexpr unsigned char DEVCTRL_EEPROM_READ_BULK_16 = 0x43;

    static constexpr int OutputBufferSize = 4096;
    static constexpr int ReplyBufferSize = 0x8000;
    static constexpr int ImageBufferSize = 0x50000;
    static constexpr int TableSize = 32;
    // Unlock code of the configuration lock, built from its bytes at run time.
    static constexpr unsigned char UnlockByte0 = 0x4F, UnlockByte1 = 0x56, UnlockByte2 = 0x4C;

    enum DRIVERS { OVUSB = 0, USBIO = 1 };
    // How the frame rasteriser colours objects (the raster object colour).
    enum OV_OBJECT_COLOR_OPTION {
        OV_OBJECT_COLOR_NORMAL = 0,            // every object in the non-tracked colour
        OV_OBJECT_COLOR_TRACKED = 1,           // rank 1 in the tracked colour (the default)
        OV_OBJECT_COLOR_RANKED = 2,            // by score and rank, lower ranks in fading greys
        OV_OBJECT_COLOR_FIRST_THREE = 3,       // objects 0-2 in the tracked colour
        OV_OBJECT_COLOR_FIRST_THREE_GREY = 4,  // objects 0-2 in the tracked colour, the rest in greys
    };
    // The imaging window after decimation, inclusive.
    struct Window {
        std::uint16_t left = 0, top = 0, right = 0, bottom = 0;
        int Width() const { return right - left + 1; }
        int Height() const { return bottom - top + 1; }
        friend bool operator==(const Window&, const Window&) = default;
    };
    enum WatchdogState { WatchdogIdle = 0, WatchdogArmed = 1, WatchdogReply = 2, WatchdogShutdown = 3 };

    // Camera numbers 0-1023 use the own driver (that index), 1024-2047 the
    // generic driver. `packets` receives image packets (may be null).
    Camera(platform::usb::Backend& backend, int cameraNumber, DoubleBuffer<CameraPacket>* packets = nullptr,
           CameraTiming timing = {}, platform::Clock& clock = platform::systemClock());
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // ---- transport ----
    // Own driver: closes, then opens the device again (a failed open leaves
    // it closed and kills the queued commands, so nobody waits on them).
    // Generic driver: opens the path, configures the device and starts the
    // reply reader; a device that is open already is left as it is.
    bool OpenUsbDevice();
    // All LEDs off (through the send step, so ReadLeds agrees), then the
    // readers stop and the handles go.
    void CloseUsbDevice();
    bool IsUsbDeviceOpen() const { return deviceOpen_.load(); }
    // Own driver: after 400 ms, and once more 500 ms later, try to open the
    // device. Generic driver: whether the reply reader still runs on a device
    // that answers; when not, the device is closed. Either way false for a
    // device that is not open.
    bool IsDevicePresent();
    // Called, on a reader's thread, when the camera finds its device lost: a
    // generic-driver reader gave up after its errors, or five reply reads
    // failed in a row on the own driver. The device then counts as closed
    // and whatever waited on the camera has ended; a Start opens it again.
    // The handler must not block; it is not called while the camera goes
    // away or switches devices. Setting it waits for a call in progress.
    void SetLostHandler(std::function<void()> handler);
    // The camera manager that opens generic-driver devices (null: direct).
    // It must outlive the camera, or be taken away first.
    void SetDeviceLocator(CameraDeviceLocator* locator) { locator_.store(locator); }
    DRIVERS GetDriver() const { return driver_.load(); }
    bool IsUSBIODriver() const { return driver_.load() == USBIO; }
    // Moves the camera to the generic driver's device at `path`: first
    // everything stops (watchdog, the camera when started, the threads,
    // which are joined, and the device, which is closed), then the path is
    // kept. With `initialise` the threads start again and Initialize runs;
    // the result is then whether the camera was set up. A path longer than
    // MaxDevicePathLength is refused (false) before anything stops.
    bool SetUSBIODevicePath(std::string_view path, bool initialise = false);
    std::string GetUSBIODevicePath() const;
    // Which device the camera talks to: a description, not the handle, so
    // that nobody reads the camera's replies behind its back.
    struct UsbDevice {
        DRIVERS driver = OVUSB;
        int index = 0;     // the camera number (the own driver's device index)
        std::string path;  // generic driver: the device path
        bool open = false;
    };
    UsbDevice GetUsbDevice() const;
    // Moves the camera to the own driver's device `index` (0-1023; the
    // camera number becomes the index) and starts the threads. Switching
    // from another device stops everything first, as SetUSBIODevicePath
    // does. False for an index outside the own driver's range.
    bool SetOVDeviceIndex(int index);
    static constexpr std::size_t MaxDevicePathLength = 256;
    // Starts the send thread, the own driver's readers and the watchdog.
    void InitializeCameraCommunication();
    // The initialisation marks the camera started; the image path reads only then.
    void SetStarted(bool started)
    {
        started_.store(started);
        if (started)
            replyWake_.set();
    }
    bool IsStarted() const { return started_.load(); }

    // ---- life ----
    // Marks the camera started and runs the whole initialisation (threads,
    // configuration read, FPGA check and upload, revision set-up), also on a
    // camera that is started already. Returns whether the camera is started;
    // a camera that failed is left stopped with its device closed.
    // UsbDeviceInitException and NoCameraDataException are passed on, the
    // camera then stopped.
    bool Start();
    // From another thread: ends a start under way soon and keeps later ones
    // from waiting on the camera (the program is quitting), until lifted
    // with false. Every wait then ends by the shutdown time, what is queued
    // is killed, and Start fails at once.
    void CancelStarts(bool cancel);
    // Opens the device and, under the initialisation lock, runs
    // InitializeCameraData. False when the device did not open or the
    // camera could not be set up.
    bool Initialize();
    // Reads the configuration, checks and loads the FPGA and restores the
    // wanted LED and video states; false (device closed) when it failed.
    bool InitializeCameraData();
    // Checks the FPGA, uploads the revision's image when needed and sets the
    // camera up; true on success.
    bool InitV5Camera();
    // Picks the FPGA image of the camera's revision from the image folder.
    // Returns 0, or the error code of the failed lookup (the image is then
    // empty). There are no built-in images: an image must be on disk.
    unsigned long LoadV5Image(std::vector<unsigned char>& image);
    static std::uint16_t CalcImageChecksum(std::span<const unsigned char> image);
    // File name of the FPGA image for a hardware revision.
    static const char* ImageFileName(int revision);
    // The folder the image files are read from (default: none, the image is
    // one of the program's files, platform::resolve).
    void SetImageFolder(std::filesystem::path folder);
    std::filesystem::path GetImageFolder() const;
    // Error code of the last image lookup (0 when it succeeded).
    unsigned long GetLastImageError() const { return lastImageError_.load(); }
    // Whether the last start failed because no FPGA image could be loaded.
    bool GetImageMissing() const { return imageMissing_.load(); }
    static int GetNextCameraNumber();
    // Tests reset the counter negative camera numbers are taken from.
    static void ResetCameraNumbers(int next = 0);
    int GetSwitchState() const { return switchState_.load(); }
    void SetSwitchState(int v) { switchState_.store(v); }
    bool GetStatusLedWanted() const { return statusWanted_.load(); }
    bool GetIlluminationWanted() const { return illuminationWanted_.load(); }
    void SetIlluminationWanted(bool on) { illuminationWanted_.store(on); }
    // The greyscale weight of grey level g (0-255).
    int GetGreyscaleWeight(int g) const { return greyWeights_[static_cast<std::size_t>(g & 0xFF)]; }

    // ---- command channel ----
    void SendCommand(const unsigned char* payload, int length, unsigned char framingCode, unsigned int expectedReply,
                     Command::Callback callback, std::atomic<unsigned char>* doneFlag, void* userData,
                     std::shared_ptr<void> keepAlive = nullptr);
    void SendCommandEx(const unsigned char* payload, int length, unsigned char framingCode);
    bool WriteUsbBuffer(const unsigned char* bytes, unsigned short length);
    unsigned long WriteOutputBuffer(int n);
    void KillCommand(std::unique_ptr<Command> command);
    void KillQueues();
    bool SendCommandBlocking(const unsigned char* payload, int length);
    bool Sync();
    void ProcessIncomingCommunication(unsigned char* buffer, unsigned long length);
    void ProcessIncomingData(unsigned char* buffer, unsigned long length);
    void IncomingUSBIOData(int pipe, void* buffer, unsigned long length);
    void NotifyWatchdogThread();
    void WatchdogEventComplete();
    void ShutdownWatchdogThread();
    int GetWatchdogState() const { return watchdogState_.load(); }
    // Arms reply capture: the next unmatched reply with this reply code goes
    // to `raw` (0 disarms).
    void CaptureNextPacket(unsigned int replyCode, DoubleBuffer<RawPacket>* raw);

    // ---- callbacks ----
    void NotifyGeneric(Command* command, int result);
    void NotifyReadLeds(Command* command, int result);
    void NotifyCameraStatus(Command* command, int result);
    void NotifyRegRead(Command* command, int result);
    void NotifyROMConfig(Command* command, int result);

    // ---- state bytes the library only stores ----
    bool IsStopped() const { return stopped_.load(); }
    void Stop();
    unsigned char GetKeepRunning() const { return keepRunning_.load(); }
    void SetKeepRunning(unsigned char v) { keepRunning_.store(v); }
    unsigned char GetProducerThreadDone() const { return producerDone_.load(); }
    void SetProducerThreadDone(unsigned char v) { producerDone_.store(v); }
    void SetDeConfigure(bool on) { deConfigure_.store(on); }

    // ---- operations ----
    int TurnLedOn();
    int TurnLedOff();
    int StatusOn();
    int StatusOff();
    int StatusCaseOn();
    int StatusCaseOff();
    int StatusRedOn();
    int StatusRedOff();
    int SetIRLEDBrightness(int brightness);
    int TurnNumericOn(int n);
    int TurnNumericOff();
    int ShutDown();
    int ResetFiFo();
    int TurnVideoOn();
    int TurnVideoOff();
    int SetCameraOptions(int threshold, bool invert, bool pulse);
    int InitFpgaForConfig();
    int SendFpgaRerunConfigScript();
    int ReadCameraData();
    bool ReadCameraStatus(_OV_RESERVED* status);
    _OV_RESERVED GetLastStatus() const;
    unsigned char ReadLeds();
    int FPGARegWrite(int reg, int bank, unsigned value);
    bool FPGARegRead(int reg, unsigned* out);
    int WriteI2CData(int dev, int reg, int data);
    int WriteI2CData();
    int WriteI2CDataNoLock();
    int WriteI2CDataNoLockSafe();
    int WriteI2CDataU16NoLockSafe();
    bool ReadI2CData(int dev, int reg, unsigned* out);
    bool ReadI2CDataNoLock(int dev, int reg, unsigned* out);
    bool ReadI2CDataNoLockSafe(int dev, int reg, unsigned* out);
    bool ReadI2CDataU16NoLockSafe(int dev, int reg, unsigned* out);
    int WriteEEPROM16Data(int addressHigh, int addressLow, int data);
    int WriteEEPROM16Data();
    int ReadEEPROM16Data(int addressHigh, int addressLow, int data);
    int ReadEEPROM16Data();
    int Unlock(unsigned char lock);

    int SetVideoType(int v, bool = false);
    int SetExposure(int x, bool = false);
    int SetFrameRate(int f, bool = false);
    int SetIntensity(int i, bool = false);
    int SetResetFrameCount();
    int SetCameraId(int id, bool = false);
    int SetMinimumSegmentLength(int n, bool = false);
    int SetMaximumSegmentLength(int n, bool = false);
    int SetWindowExtentsX(int v, bool = false);
    int SetWindowExtentsXEnd(int v, bool = false);
    int SetWindowExtentsY(int v, bool = false);
    int SetWindowExtentsYEnd(int v, bool = false);
    int SetFrameDecimation(int n, bool = false);
    int GetCameraId(bool = false);
    int GetFrameRate(bool = false);
    int GetExposure(bool = false);
    int GetVideoType(bool = false);
    int GetIntensity(bool = false);
    int GetFrameDecimation(bool = false);
    int GetMinimumSegmentLength(bool = false);
    int GetMaximumSegmentLength(bool = false);
    int GetWindowExtentsX(bool = false);
    int GetWindowExtentsXEnd(bool = false);
    int GetWindowExtentsY(bool = false);
    int GetWindowExtentsYEnd(bool = false);

    void SensorClockForceEnable(bool on);
    void SetSyncMode(int m);
    int GetSyncMode() const;
    void TriggerSnapshot();
    void ResetSnapshotID();
    void SetShutterDelay(int d);
    int GetShutterDelay() const { return shutterDelay_.load(); }
    void SetGrayscaleDecimation(int d);
    int GetGrayscaleDecimation() const { return greyDecimation_.load(); }

    int GetFrameRateDefault();
    int GetExposureDefault();
    int GetIntensityDefault();
    int GetCameraIdDefault();
    int GetFrameDecimationDefault();
    int GetMinimumSegmentLengthDefault();
    int GetVideoTypeDefault();
    int GetMaximumSegmentLengthDefault();
    int GetWindowExtentsXDefault();
    int GetWindowExtentsXEndDefault();
    int GetWindowExtentsYDefault();
    int GetWindowExtentsYEndDefault();

    bool ValidDaxtel6();
    bool ValidDaxtel7();
    bool ValidRev8();
    bool ValidRev9();
    bool ValidRev12();
    bool ValidRev13();

    void SetMultiCamera(bool);
    int QueryMaster(int);

    // ---- blocking mask ----
    // The mask is made for the camera's window after each configuration
    // read; before the first there is none, and these do nothing (the
    // width and height are 0). Rectangles are in pixels, inclusive.
    void AddBlockingRectangle(int x1, int y1, int x2, int y2);
    void RemoveBlockingRectangle(int x1, int y1, int x2, int y2);
    // Sends the changed mask words (revision 7); rows - 1, or 0 when
    // nothing is sent.
    int UpdateBlockingMask();
    void ClearBlockingMask();
    void EnableBlockingMask();
    void DisableBlockingMask();
    // One byte per cell, row by row, non-zero = blocked; at most
    // min(bytes.size(), width x height) bytes are read or written, and
    // that count is returned.
    std::size_t GetBlockingMask(std::span<std::uint8_t> bytes) const;
    std::size_t SetBlockingMask(std::span<const std::uint8_t> bytes);
    // Columns and rows of the mask's grid.
    int BlockingMaskWidth() const;
    int BlockingMaskHeight() const;

    // ---- accessors ----
    int GetThresholdValue() const { return threshold_.load(); }
    bool InvertVideo() const { return invert_.load(); }
    bool PulseLed() const { return pulse_.load(); }
    bool GetLedsOn() const { return ledsOn_.load(); }
    void SetLedOn(bool on) { ledsOn_.store(on); }
    int GetCameraNumber() const { return cameraNumber_.load(); }
    void SetCameraNumber(int n) { cameraNumber_.store(n); }
    int GetFrameRateCode() const { return frameRateCode_.load(); }
    int GetVideoTypeBit() const { return videoTypeBit_.load(); }
    // The last video type set or read (the packet mode the frames come in).
    int GetVideoTypeValue() const { return videoType_.load(); }
    unsigned char GetControlRegister() const { return controlRegister_.load(); }
    unsigned char GetLedCache() const { return ledCache_.load(); }
    bool GetVideoWanted() const { return videoWanted_.load(); }
    void SetVideoWanted(bool on) { videoWanted_.store(on); }
    CameraConfigurationData& GetConfigurationData() { return config_; }
    // A block that follows this camera's: whenever a configuration read
    // ends (answered, refused or killed) it takes the camera's values and
    // state; while a read is under way it keeps the last ones, so that its
    // readers never wait on the camera. Null stops it; setting waits for an
    // update in progress.
    void SetConfigurationMirror(CameraConfigurationData* mirror);
    void GetCameraData(CameraConfigurationData* out);
    DoubleBuffer<CameraPacket>* GetPacketBufferQueue() const { return packets_.load(); }
    void SetPacketBuffer(DoubleBuffer<CameraPacket>* packets) { packets_.store(packets); }
    const CameraTiming& GetTiming() const { return timing_; }
    int GetSendFrameOption() const { return sendFrameOption_.load(); }
    void SetSendFrameOption(int v) { sendFrameOption_.store(v); }
    void SetWantEmptyFrames(bool on) { on ? sendFrameOption_.fetch_or(1) : sendFrameOption_.fetch_and(~1); }
    bool GetWantEmptyFrames() const { return (sendFrameOption_.load() & 1) != 0; }
    int GetTextOverlayOption() const { return textOverlay_.load(); }
    void SetTextOverlayOption(int v) { textOverlay_.store(v); }
    OV_OBJECT_COLOR_OPTION GetRasterObjectColor() const { return rasterColor_.load(); }
    void SetRasterObjectColor(OV_OBJECT_COLOR_OPTION v) { rasterColor_.store(v); }
    unsigned long GetTrackedObjectColor() const { return trackedColor_.load(); }
    void SetTrackedObjectColor(unsigned long v) { trackedColor_.store(v); }
    unsigned long GetNonTrackedObjectColor() const { return nonTrackedColor_.load(); }
    void SetNonTrackedObjectColor(unsigned long v) { nonTrackedColor_.store(v); }
    int GetObjectCap() const { return objectCap_.load(); }
    void SetObjectCap(int v) { objectCap_.store(v); }
    void SetInstanceString(const std::string& s)
    {
        std::lock_guard lock(instanceLock_);
        instance_ = s;
    }
    std::string GetInstanceString() const
    {
        std::lock_guard lock(instanceLock_);
        return instance_;
    }
    void SetUserHwnd(void* window) { userWindow_.store(window); }

    // ---- drawing ----
    // The display settings the rasteriser draws with: colour scheme (raster
    // object colour), non-tracked and tracked colours, the video type as the
    // processing mode, and the text overlay option as display options.
    RasterSettings GetRasterSettings() const;
    // Draws the frame into the bitmap with the camera's display settings.
    void RasterizeFrame(Frame& frame, BitMap& bitmap) const;
    // The same over the caller's pixels: width x height pixels, bytes per
    // line (0: width x bytes per pixel) and depth in bits (8, 16, 24; 32 for
    // any other value).
    void RasterizeFrame(Frame& frame, int width, int height, int bytesPerLine, int depth,
                        std::uint8_t* bytes) const;
    // The camera draws nothing itself and keeps no trace of packets or
    // commands (the debug output carries what there is to say); these are
    // kept for callers, and do nothing.
    void DrawBitmap() const {}
    void InvalidateMyWindow() const {}
    void Trace_PACKETTYPE(int) const {}
    void Trace_DEVCTRL(unsigned char) const {}
    // The camera holds no frame buffer of its own: nothing to clear. The
    // window setters call it after a change.
    void ClearFrameBuffer() {}

    // ---- debug window ----
    // Every camera keeps a hidden window on a thread of its own, started at
    // construction and closed, its thread joined, at destruction. It is a
    // window of the session's message layer, which has nothing on screen:
    // showing and hiding only record the wish.
    static constexpr const char* DebugWindowClass = "CameraWindowClass";
    static constexpr const char* DebugWindowTitle = "Window";
    // Starts the window thread; once per camera.
    void DoShow();
    // The window thread's body: makes the window and runs its messages
    // until WM_QUIT. Returns the quit code, or 0 when there was no window.
    int DoShowWin();
    // Makes the window on the calling thread; 0 when it could not be made.
    platform::HWND InitInstance();
    void ShowIt(bool show) { shown_.store(show); }
    bool IsShown() const { return shown_.load(); }
    platform::LRESULT WndProc(platform::HWND hwnd, platform::UINT message, platform::WPARAM wParam,
                              platform::LPARAM lParam);
    // The debug window while it lives, else 0.
    platform::HWND GetWindow() const { return window_.load(); }
    unsigned char* GetInterleavedGreyscaleData() const { return greyData_.load(); }
    void SetInterleavedGreyscaleData(unsigned char* data) { greyData_.store(data); }
    int GetInterleavedGreyscaleDataSize() const { return greySize_.load(); }
    void SetInterleavedGreyscaleDataSize(int n) { greySize_.store(n); }
    // The imaging window after decimation.
    Window GetActualWindow() const
    {
        return {static_cast<std::uint16_t>(actualLeft_.load()), static_cast<std::uint16_t>(actualTop_.load()),
                static_cast<std::uint16_t>(actualRight_.load()), static_cast<std::uint16_t>(actualBottom_.load())};
    }

    // Staged bytes.
    void SetI2CAddress(int v) { i2cAddress_.store(v & 0xFF); }
    int GetI2CAddress() const { return i2cAddress_.load(); }
    void SetI2CSubAddress(int v) { i2cSubAddress_.store(v & 0xFF); }
    int GetI2CSubAddress() const { return i2cSubAddress_.load(); }
    void SetI2CData(int v) { i2cData_.store(v & 0xFF); }
    int GetI2CData() const { return i2cData_.load(); }
    void SetI2CData2(int v) { i2cData2_.store(v & 0xFF); }
    int GetI2CData2() const { return i2cData2_.load(); }
    void SetEEPROM16HAddressHigh(int v) { eepromHigh_.store(v & 0xFF); }
    int GetEEPROM16AddressHigh() const { return eepromHigh_.load(); }
    void SetEEPROM16HAddressLow(int v) { eepromLow_.store(v & 0xFF); }
    int GetEEPROM16AddressLow() const { return eepromLow_.load(); }
    void SetEEPROM16Data(int v) { eepromData_.store(v & 0xFF); }
    int GetEEPROM16Data() const { return eepromData_.load(); }

    // Thread procedures: run the operation once, return its code (one less
    // when it threw).
    static unsigned LedOnThreadProc(void* camera);
    static unsigned LedOffThreadProc(void* camera);
    static unsigned ShutDownThreadProc(void* camera);
    static unsigned StatusOnThreadProc(void* camera);
    static unsigned StatusOffThreadProc(void* camera);
    static unsigned StatusCaseOnThreadProc(void* camera);
    static unsigned StatusCaseOffThreadProc(void* camera);
    static unsigned StatusRedOnThreadProc(void* camera);
    static unsigned StatusRedOffThreadProc(void* camera);
    static unsigned ResetFiFoThreadProc(void* camera);
    static unsigned VideoOnThreadProc(void* camera);
    static unsigned VideoOffThreadProc(void* camera);
    static unsigned SetCameraOptionsThreadProc(void* camera);
    static unsigned WriteI2CDataThreadProc(void* camera);
    static unsigned WriteEEPROM16DataThreadProc(void* camera);
    static unsigned ReadEEPROM16DataThreadProc(void* camera);

    // The cameras that take part in multi-camera control, by number.
    static std::mutex m_MuliCameraLock;

private:
    struct Waiter;
    using Queue = std::deque<std::unique_ptr<Command>>;

    bool MoveWatchdogState(int to);  // false once the watchdog is shut down
    unsigned SendThread();
    unsigned ReceiveThread();
    unsigned Receive2Thread();
    unsigned WatchdogThread();

    unsigned long WriteOVUSBOutputBuffer(int n);
    unsigned long WriteUSBIOOutputBuffer(int n);
    bool OpenUSBIODevice();
    void CloseUSBIODevice();
    // Stops the watchdog, the camera when started and the channel's
    // threads (joined), and closes the device, before a driver switch.
    void StopCommunication();
    void StartUSBIOImageReader();
    // A reader gave up (or the own driver's reply path failed five times):
    // the device counts as closed, the queues are killed and the lost
    // handler is told. Runs on the reader's thread.
    void ReportLost(const char* why);
    // Kills the queues and tells the lost handler (not while shutting down).
    void NotifyLost(const char* why);
    friend class ::CameraUSBIOReader;
    // The way out of a destruction or driver switch: from here on, waits
    // end by the shutdown deadline and replies are no longer waited for.
    void BeginShutdown();
    void EndShutdown();
    bool ShuttingDown() const { return shuttingDown_.load(); }
    // Waits, bounded by the start-up wait and the shutdown time, for the
    // configuration block; whether it came (valid or refused).
    bool WaitForConfiguration();
    // `ms`, cut to what is left of the shutdown time while shutting down.
    unsigned Bounded(unsigned ms) const;
    // Kills the command that awaits its reply (its waiters end).
    void KillAwaiting();
    // Stops the channel's threads (joined) and closes the device.
    void StopThreads();
    void CompleteCommand(std::unique_ptr<Command> command, int result);
    void FreeFinishedCommands();
    // Queues a frame that expects `reply` and waits (bounded) for it; the
    // reply's first bytes land in `bytes`. False when killed, withdrawn or
    // timed out.
    bool Transact(const unsigned char* frame, int length, unsigned char framing, unsigned reply,
                  Command::Callback callback, unsigned pollMs, unsigned maxPolls, std::shared_ptr<Waiter>& waiter);
    bool Withdraw(const void* keepAlive);
    // The waiter a Transact command reports to, or null for other commands.
    static Waiter* WaiterOf(Command* command);
    // Sets the command's done flag and wakes its waiter.
    static void Done(Command* command);
    int Send(std::initializer_list<unsigned char> frame);
    int LedRaw(unsigned char value, unsigned char mask);
    int Revision();
    bool RevisionIn(std::initializer_list<int> revisions);
    int RegRead(int reg);
    int I2cRead(int dev, int reg, bool safe);
    void CalculateActualWindowSize();
    // Hands the settled configuration block to the mirror.
    void PublishConfiguration();
    // Makes the mask for the current window and the given revision after a
    // configuration read. A re-read that finds the same geometry keeps the
    // mask, so the user's cells (already sent to the camera) are not lost;
    // a start makes a new one.
    void InitializeBlocking(int revision);
    void Sleep(unsigned ms);
    void CloseDebugWindow();
    void AddMe();
    void DeleteMe();
    template <class F>
    static void ForEachCamera(F&& f);

    platform::usb::Backend& backend_;
    CameraTiming timing_;
    platform::Clock& clock_;
    std::atomic<DRIVERS> driver_;
    std::atomic<int> cameraNumber_;
    std::atomic<DoubleBuffer<CameraPacket>*> packets_;
    std::atomic<DoubleBuffer<RawPacket>*> raw_{nullptr};
    std::atomic<unsigned> rawCode_{0};
    CameraConfigurationData config_;

    // queues and locks
    Queue pending_, awaiting_, killed_, completed_;
    std::mutex pendingLock_, awaitingLock_, killedLock_, completedLock_, spareLock_;
    platform::CriticalSection sendLock_;
    platform::CriticalSection outputLock_;
    std::array<unsigned char, OutputBufferSize> output_{};
    std::vector<unsigned char> sendScratch_;

    // transport
    mutable std::mutex transportLock_;
    std::shared_ptr<platform::usb::OwnDriverHandle> readHandle_;
    std::string usbioPath_;
    // Shared with a write in progress, so a close never frees it under the writer.
    std::shared_ptr<CUsbIoWriter> writer_;
    std::shared_ptr<CameraUSBIOReader> replyReader_;
    std::shared_ptr<CameraUSBIOReader> imageReader_;
    std::uint8_t imageEndpoint_ = 0;
    std::atomic<bool> deviceOpen_{false};
    std::atomic<bool> started_{false};
    std::atomic<int> readFailures_{0};
    std::atomic<bool> lastWriteOk_{true};  // the last transport write
    std::atomic<CameraDeviceLocator*> locator_{nullptr};
    std::mutex lostLock_;
    std::function<void()> lostHandler_;
    std::mutex mirrorLock_;
    CameraConfigurationData* mirror_ = nullptr;

    // threads
    std::atomic<bool> sendRun_{false}, replyRun_{false}, imageRun_{false};
    platform::Thread sendThread_, replyThread_, imageThread_, watchdogThread_;
    std::atomic<int> watchdogState_{WatchdogIdle};
    platform::Event armEvent_{platform::Event::Reset::Auto};
    platform::Event replyEvent_{platform::Event::Reset::Auto};
    platform::Event watchdogStop_{platform::Event::Reset::Manual};
    bool watchdogStarted_ = false;
    platform::Event stopEvent_{platform::Event::Reset::Manual};
    // Wake the send thread (a command queued, the awaiting slot freed, the
    // device opened), the own driver's reply thread (a command awaits its
    // reply, the device opened, the camera started) and its image thread
    // (the device opened, the camera started): the idle periods are
    // ceilings, not floors.
    platform::Event sendWake_{platform::Event::Reset::Auto};
    platform::Event replyWake_{platform::Event::Reset::Auto};
    platform::Event imageWake_{platform::Event::Reset::Auto};
    std::atomic<bool> shuttingDown_{false};
    std::atomic<bool> startsCancelled_{false};
    std::atomic<std::int64_t> shutdownDeadline_{0};  // steady clock, nanoseconds
    std::mutex threadsLock_;
    std::mutex switchLock_;  // a driver switch and a start never overlap

    // camera state
    std::atomic<unsigned char> ledCache_{0};
    std::atomic<unsigned char> ledState_{0};
    mutable std::mutex statusLock_;
    _OV_RESERVED lastStatus_{};
    std::atomic<int> i2cAddress_{0}, i2cSubAddress_{0}, i2cData_{0}, i2cData2_{0};
    std::atomic<int> eepromHigh_{0}, eepromLow_{0}, eepromData_{0};
    std::atomic<int> frameRateCode_{0};
    std::atomic<int> videoTypeBit_{0};
    std::atomic<int> videoType_{0};
    std::atomic<int> greyDecimation_{0};
    std::atomic<unsigned char> controlRegister_{0};
    std::atomic<int> shutterDelay_{0};
    std::atomic<int> threshold_{116};
    std::atomic<bool> invert_{false}, pulse_{false};
    std::atomic<bool> ledsOn_{false};
    std::atomic<bool> videoWanted_{false};
    std::atomic<int> windowX_{0}, windowXEnd_{0}, windowY_{0}, windowYEnd_{0};
    std::atomic<int> actualLeft_{0}, actualTop_{0}, actualRight_{0}, actualBottom_{0};
    std::atomic<bool> stopped_{true};
    std::atomic<unsigned char> keepRunning_{0}, producerDone_{0};
    std::atomic<bool> deConfigure_{true};
    bool inTable_ = false;
    std::atomic<int> sendFrameOption_{0};
    std::atomic<int> textOverlay_{0};
    std::atomic<OV_OBJECT_COLOR_OPTION> rasterColor_{OV_OBJECT_COLOR_TRACKED};
    std::atomic<unsigned long> trackedColor_{0x64FF64};
    std::atomic<unsigned long> nonTrackedColor_{0x6464FF};
    std::atomic<int> objectCap_{500};
    mutable std::mutex instanceLock_;
    std::string instance_;
    std::atomic<void*> userWindow_{nullptr};
    std::atomic<unsigned char*> greyData_{nullptr};
    std::atomic<int> greySize_{0};

    static std::map<int, Camera*> table_;
    static std::atomic<int> currentCameraNumber_;

    // debug window
    std::mutex windowLock_;  // DoShow and the close
    platform::Thread windowThread_;
    std::atomic<platform::HWND> window_{0};
    std::atomic<bool> shown_{false};
    std::atomic<bool> windowClosing_{false};

    // blocking mask
    cLumbrixBridge bridge_{*this};
    mutable std::mutex maskLock_;
    std::unique_ptr<BlockingMask> mask_;
    int maskRevision_ = 0;
    std::atomic<bool> freshMask_{true};

    // start-up
    std::mutex initLock_;
    mutable std::mutex imageLock_;
    std::filesystem::path imageFolder_;
    std::vector<unsigned char> imageBuffer_;
    std::atomic<unsigned long> lastImageError_{0};
    std::atomic<bool> imageMissing_{false};
    std::atomic<bool> statusWanted_{false}, illuminationWanted_{false};
    std::atomic<int> switchState_{12};
    std::array<int, 256> greyWeights_{};
};

} // namespace Orvane
