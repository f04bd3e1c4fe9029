#pragma once
// The simulated camera: the camera's side of every command (replies, the
// configuration block, LEDs, FPGA registers, I2C, EEPROM, FPGA upload and
// states) with the transport behaviour of the real drivers (one reply per
// read, idle reads that block until data, cancel or close), a log of every
// frame written to it and fault injection. Byte formats: simcam/PROTOCOL.md.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/clock.h"

namespace simcam {

// The unlock code the simulated camera accepts for the configuration lock.
inline constexpr std::uint8_t kUnlockCode[3] = {0x4F, 0x56, 0x4C};

enum class FpgaStart { Unconfigured, Running, NoUpload };

// What a simulated camera is: identity, FPGA start state, pipes, driver.
struct Model {
    int revision = 7;
    int modelType = 3;
    int modelVersion = 0;
    std::uint32_t serial = 60000;  // 24 bits
    int options = 0;
    int hardwareInterface = 0;
    bool configHasInterface = true;  // configuration reply of 21 bytes, else 20
    FpgaStart fpga = FpgaStart::Running;
    std::uint16_t fpgaChecksum = 0x1234;  // of the image loaded at power-up
    int pipes = 3;                        // generic driver: 2 or 3 pipes
    std::uint16_t apiVersion = 0x0230;    // generic driver information
};

// What an image source sees of the camera when it is asked for a packet.
struct StreamState {
    int revision = 0;
    int threshold = 0;
    bool invert = false;
    int frameRateRegister = 0;  // register 32
    int videoType = 0;          // register 3
    int i2cFrameCode = 0;       // revision 6: device 64 register 0
};

// The hook for image streaming: asked for the next packet while the camera
// streams (FPGA running, video on). A packet includes its header; on
// revisions 6, 7, 8 and 12 it goes on the image path, else on the reply path.
class ImageSource {
public:
    virtual ~ImageSource() = default;
    // Returns false when no packet is due now. Called by a reading thread with
    // the camera's lock held: it must not call back into the Device.
    virtual bool nextPacket(const StreamState& state, std::vector<std::uint8_t>& packet) = 0;
    // After nextPacket gave nothing: how long the reader may wait before it
    // asks again (a source paced by a clock knows when its next frame is due).
    virtual platform::Duration retryAfter() const { return std::chrono::milliseconds(1); }
};

struct FrameRecord {
    std::vector<std::uint8_t> bytes;
    platform::Duration at{};
};

struct FpgaView {
    bool configured = false;
    std::uint16_t checksum = 0;
    int state = 0;
    std::vector<std::uint8_t> image;  // bytes received since the last FPGA init
};

// Which read path a read asks for.
enum class Path { Reply = 1, Image = 2 };

// A token a handle passes to reads, so its cancel and close wake them.
struct ReadToken {
    std::atomic<std::uint64_t> cancels{0};
    std::atomic<bool> closed{false};
    // The plug the handle was opened in: after an unplug the handle stays
    // dead, also once the camera is back, as a replugged USB device is a
    // new device.
    std::uint64_t plug = 0;
};

class Device {
public:
    explicit Device(Model model, platform::Clock& clock = platform::systemClock());
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const Model& model() const { return model_; }

    // ---- transport ----
    // One frame in. False while unplugged or stalled (nothing is handled).
    bool write(std::span<const std::uint8_t> frame);
    // One reply or packet out; blocks while idle. False on failure: unplugged,
    // injected failure, or the token was cancelled/closed while waiting.
    bool read(Path path, std::span<std::uint8_t> out, std::uint32_t& returned, ReadToken& token);
    // As above, but a cancel counted after `cancelsSeen` fails the read even
    // when it came before the read started.
    bool read(Path path, std::span<std::uint8_t> out, std::uint32_t& returned, ReadToken& token,
              std::uint64_t cancelsSeen);
    // Wakes blocked reads so they look at their tokens again.
    void wakeReaders();
    bool plugged() const { return plugged_.load(); }
    // Counts unplugs; a handle opened before the last one is dead.
    std::uint64_t plug() const { return plug_.load(); }
    // Plugged in, and the same plug as `plug`.
    bool current(std::uint64_t plug) const { return plugged_.load() && plug_.load() == plug; }
    bool writesStalled() const { return stallWrites_.load(); }
    bool openFails() const { return failOpen_.load(); }
    void countOpen() { opens_.fetch_add(1); }
    int opens() const { return opens_.load(); }

    // ---- image streaming ----
    void setImageSource(std::shared_ptr<ImageSource> source);
    // Queues one packet on the path its revision uses, whatever the state.
    void pushImagePacket(std::vector<std::uint8_t> packet);
    // Queues a raw buffer on the reply path (unsolicited data).
    void pushReply(std::vector<std::uint8_t> reply);
    bool streaming() const;

    // ---- faults ----
    void dropReplies(int n) { drop_.store(n); }
    void delayReplies(platform::Duration d);
    void duplicateReplies(int n) { duplicate_.store(n); }
    void wrongReplyCode(int n) { wrongCode_.store(n); }
    // Fails the next n reads of `path`.
    void failReads(int n, Path path = Path::Reply)
    {
        (path == Path::Reply ? failReads_ : failImageReads_).store(n);
        wakeReaders();
    }
    void stallWrites(bool on);
    void failOpen(bool on) { failOpen_.store(on); }
    void checksumAlwaysWrong(bool on) { badChecksum_.store(on); }
    void neverRunning(bool on) { neverRunning_.store(on); }
    void unplug();
    void replug();  // power cycle: the FPGA comes back in its start state

    // ---- observation ----
    std::vector<FrameRecord> frames() const;
    std::vector<std::vector<std::uint8_t>> frameBytes() const;
    void clearLog();
    std::size_t frameCount() const;
    std::uint8_t leds() const;
    int brightness() const;
    bool videoOn() const;
    int threshold() const;
    bool invert() const;
    bool pulse() const;
    int numeric() const;
    // Value of (bank, reg), or -1 when never written and without reset value.
    int reg(int bank, int reg) const;
    int i2c(int dev, int reg) const;
    int i2c16(int dev, int reg) const;
    int eeprom(int address) const;
    FpgaView fpga() const;
    std::vector<std::uint8_t> lockBytes() const;
    int resetPipes() const { return resetPipes_.load(); }
    void noteResetPipe() { resetPipes_.fetch_add(1); }
    int repliesSent() const { return repliesSent_.load(); }

    // Sets a register or I2C value from a test, as the camera would hold it.
    void setReg(int bank, int reg, int value);
    void setI2c(int dev, int reg, int value);
    void setI2c16(int dev, int reg, int value);

private:
    struct Pending {
        std::vector<std::uint8_t> bytes;
        platform::Duration due{};
    };

    void powerUp();
    void handleLocked(std::span<const std::uint8_t> f);
    void replyLocked(std::vector<std::uint8_t> reply);
    void finishUploadLocked();
    bool imageOnImagePath() const;
    StreamState streamStateLocked() const;
    bool fpgaRunsLocked() const;
    // A queued packet for the path; else, when a source streams on it, that
    // source and the state to ask it with (`wait` set either way).
    bool takeLocked(Path path, std::vector<std::uint8_t>& out, bool& wait, std::shared_ptr<ImageSource>& source,
                    StreamState& state);

    Model model_;
    platform::Clock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;

    std::vector<FrameRecord> log_;
    std::deque<Pending> replies_;
    std::deque<std::vector<std::uint8_t>> images_;
    std::shared_ptr<ImageSource> source_;

    // camera state
    std::uint8_t leds_ = 0;
    int brightness_ = 0;
    bool video_ = false;
    int threshold_ = 0;
    bool invert_ = false;
    bool pulse_ = false;
    int numeric_ = 0;
    std::map<std::pair<int, int>, int> regs_;  // (bank, reg)
    std::map<int, int> lastReg_;               // reg -> last written value, any bank
    std::map<std::pair<int, int>, int> i2c_;
    std::map<std::pair<int, int>, int> i2c16_;
    std::map<int, int> eeprom_;
    std::vector<std::uint8_t> lock_;
    bool configured_ = false;
    std::uint16_t checksum_ = 0;
    std::uint16_t runningChecksum_ = 0;
    int state_ = 0;
    bool uploading_ = false;
    std::vector<std::uint8_t> image_;

    // faults
    std::atomic<int> drop_{0};
    std::atomic<int> duplicate_{0};
    std::atomic<int> wrongCode_{0};
    std::atomic<int> failReads_{0};
    std::atomic<int> failImageReads_{0};
    std::atomic<bool> stallWrites_{false};
    std::atomic<bool> failOpen_{false};
    std::atomic<bool> badChecksum_{false};
    std::atomic<bool> neverRunning_{false};
    std::atomic<bool> plugged_{true};
    std::atomic<std::uint64_t> plug_{0};
    platform::Duration delay_{};

    std::atomic<int> opens_{0};
    std::atomic<int> resetPipes_{0};
    std::atomic<int> repliesSent_{0};
};

// The camera's image checksum over `bytes`.
std::uint16_t imageChecksum(std::span<const std::uint8_t> bytes);

} // namespace simcam
