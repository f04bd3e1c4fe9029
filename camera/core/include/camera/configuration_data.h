#pragma once
// The identity block the camera reports about itself. Every model-specific
// behaviour of the library keys on the hardware revision held here.
//
// A three-state flag lets threads that need the block wait while a read from
// the camera is under way: the getters wait, the setters do not.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>

namespace Orvane {

class CameraConfigurationData {
public:
    enum State : int { Invalid = 0, Waiting = 1, Valid = 2 };

    // Reply code the configuration read expects (high nibble of reply byte 1).
    static constexpr unsigned ReplyCode = 0x40;
    // Block lengths Parse accepts: the block runs from the reply code byte to
    // the hardware options byte at least, and fits one 64-byte reply.
    static constexpr int MinimumBlockLength = 8;
    static constexpr int MaximumBlockLength = 63;
    // Block index of the hardware interface byte (reply byte 20).
    static constexpr int HardwareInterfaceIndex = 19;
    static constexpr int InitialThreshold = 130;
    // Step of WaitValid while a read is under way.
    static constexpr int WaitStepMs = 100;

    static const CameraConfigurationData Blank;

    CameraConfigurationData() = default;
    // Copies every field, the state included, after waiting for a read of
    // the source that is under way.
    CameraConfigurationData(const CameraConfigurationData& other);
    // Copies every field but the state, without waiting.
    CameraConfigurationData& operator=(const CameraConfigurationData& other);
    ~CameraConfigurationData() = default;

    void SetWaitingState();
    void SetValidState();
    // Back to the blank block, state invalid.
    void SetInvalidState();
    State GetState() const { return static_cast<State>(state_.load(std::memory_order_acquire)); }

    // Returns once the state is not waiting (at once when invalid or valid).
    void WaitValid() const;
    // As WaitValid, but for at most `ms` milliseconds; true when the state
    // is no longer waiting. For threads that must stay stoppable.
    bool WaitValidFor(unsigned ms) const;

    // Reads the block that starts at the reply code byte (the reply without
    // its length byte). A null block is a killed read: the block becomes
    // invalid. A block shorter than MinimumBlockLength or longer than
    // MaximumBlockLength is refused: the block becomes invalid (so waiters
    // end) and NoCameraDataException is thrown; nothing is read past
    // `length` bytes.
    void Parse(const unsigned char* block, int length);
    void Parse(std::span<const std::uint8_t> block);
    // Reads a whole reply as received: byte 0 is the reply's own length L,
    // which must not claim more than was received; the block is the L - 1
    // bytes after it. Refused as Parse refuses.
    void ParseReply(std::span<const std::uint8_t> reply);

    int GetModelType() const;
    int GetModelVersion() const;
    unsigned long GetSerialNumber() const;
    int GetHardwareRevision() const;
    int GetHardwareOptions() const;
    int GetHardwareOptionsLock() const;
    int GetHardwareInterface() const;
    int GetDefaultThreshold() const;

    void SetModelType(int v) { modelType_.store(v, std::memory_order_relaxed); }
    void SetModelVersion(int v) { modelVersion_.store(v, std::memory_order_relaxed); }
    void SetSerialNumber(unsigned long v) { serialNumber_.store(v, std::memory_order_relaxed); }
    void SetHardwareRevision(int v) { hardwareRevision_.store(v, std::memory_order_relaxed); }
    void SetHardwareOptions(int v) { hardwareOptions_.store(v, std::memory_order_relaxed); }
    void SetHardwareOptionsLock(int v) { hardwareOptionsLock_.store(v, std::memory_order_relaxed); }
    void SetHardwareInterface(int v) { hardwareInterface_.store(v, std::memory_order_relaxed); }
    void SetDefaultThreshold(int v) { defaultThreshold_.store(v, std::memory_order_relaxed); }

    // The default image threshold of a camera by its hardware revision.
    static int DefaultThresholdFor(int revision, int modelType, int modelVersion);

private:
    void CopyFieldsFrom(const CameraConfigurationData& other);
    void SetState(State s);

    // Each field is read and written by different threads (the reply path
    // parses while others read), so each is atomic.
    std::atomic<int> state_{Invalid};
    std::atomic<int> modelType_{-1};
    std::atomic<int> modelVersion_{-1};
    std::atomic<unsigned long> serialNumber_{0};
    std::atomic<int> hardwareRevision_{0};
    std::atomic<int> hardwareOptions_{0};
    std::atomic<int> hardwareOptionsLock_{0};
    std::atomic<int> hardwareInterface_{0};
    std::atomic<int> defaultThreshold_{InitialThreshold};

    mutable std::mutex waitMutex_;
    mutable std::condition_variable waitCv_;
};

} // namespace Orvane
