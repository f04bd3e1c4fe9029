#pragma once
// The packet processor: a thread that takes the camera's queued packets,
// decodes them into scan-line records, cuts the records into frames, builds
// each finished frame's objects, runs the frame callbacks (the trackable
// collection's scoring is one) and queues the frame for the main program.
//
// Everything it needs is allocated when it is set up; a packet on its way to
// a queued frame allocates nothing.
#include "camera/camera_packet.h"
#include "camera/data_camera.h"
#include "camera/double_buffer.h"
#include "camera/frame.h"
#include "camera/object_builder.h"
#include "camera/packet_decoder.h"
#include "platform/sync.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace Orvane {

class CameraSystem;

class CameraPacketProcessor : private FrameSink {
public:
    using Frame = Orvane::Frame;
    using PacketBuffer = DoubleBuffer<CameraPacket>;
    using FrameBuffer = DoubleBuffer<Frame>;
    using Callback = void (*)(Frame* frame, void* argument);

    static constexpr std::uint32_t PacketWaitMs = 20;
    static constexpr int SpareObjects = 400;
    static constexpr int SpareGrowth = 20;
    static constexpr int MaxCallbacks = 16;

    struct Stats {
        std::uint64_t packets = 0;
        std::uint64_t delivered = 0;        // frames that reached the callbacks
        std::uint64_t queued = 0;           // of them, queued in the frame buffer
        std::uint64_t spareDelivered = 0;   // delivered in the spare frame (no free frame)
        std::uint64_t heldBack = 0;         // empty or corrupt frames not delivered
    };

    CameraPacketProcessor();
    CameraPacketProcessor(PacketBuffer* packets, FrameBuffer* frames, DataPathCamera* camera);
    CameraPacketProcessor(const CameraPacketProcessor&) = delete;
    CameraPacketProcessor& operator=(const CameraPacketProcessor&) = delete;
    // Stops and joins the thread.
    ~CameraPacketProcessor() override;

    // Sets keep-running and starts the thread when none runs. False when
    // the processor has no packet buffer, frame buffer or camera.
    bool Start();
    // Clears keep-running, joins the thread and gives a frame in progress
    // back to the frame buffer.
    void Stop();
    bool IsThreadRunning() const { return threadRunning_.load(std::memory_order_acquire); }

    // Appended in registration order when `function` is not null (at most
    // MaxCallbacks); callbacks run on the processor thread before the frame
    // is queued.
    bool AddNewFrameCallback(Callback function, void* argument);
    // Removes the first entry with `function`.
    void RemoveNewFrameCallback(Callback function);

    // A free frame of the frame buffer, or the spare frame when none is
    // free, reset for filling.
    Frame* GrabAvailableFrame();
    bool IsSpareFrame(const Frame* frame) const { return frame == &spare_; }

    bool GetKeepRunning() const { return keepRunning_.load(std::memory_order_acquire); }
    void SetKeepRunning(bool value) { keepRunning_.store(value, std::memory_order_release); }
    // Set-up only, while no thread runs.
    DataPathCamera* GetCamera() const { return camera_; }
    void SetCamera(DataPathCamera* camera);
    PacketBuffer* GetPacketBuffer() const { return packets_; }
    void SetPacketBuffer(PacketBuffer* packets) { packets_ = packets; }
    FrameBuffer* GetFrameBuffer() const { return frames_; }
    void SetFrameBuffer(FrameBuffer* frames) { frames_ = frames; }
    // The device object frames name as their camera.
    void SetFrameCamera(Camera* camera) { frameCamera_ = camera; }
    // The system whose frame numbers queued frames carry (none: 0).
    void SetSequenceSource(CameraSystem* system) { sequenceSource_ = system; }

    // One packet, as the thread handles it (decode, give back, cut). The
    // packet is not given back here; the thread does that.
    void ConsumePacket(const CameraPacket& packet);
    // Cuts decoded records (segments and markers) into frames as one
    // packet's records, for callers that decode themselves.
    void CutRecords(std::span<const LineSegment> records, const PacketSync& sync);

    // Counts since construction; read from any thread.
    Stats GetStats() const;
    const PacketDecoder::Stats* GetDecoderStats() const { return decoder_ ? &decoder_->GetStats() : nullptr; }

private:
    struct Entry {
        Callback function = nullptr;
        void* argument = nullptr;
    };

    void ConsumerProducerThreadProc();
    void ProcessPacket(const PacketSync& sync);
    void EndFrame(const PacketSync& sync);
    void DoCallbacks(Frame& frame);
    void ResetTrackers()
    {
        highest_ = nullptr;
        previous_ = nullptr;
    }

    // FrameSink, for the modes that fill a whole frame at once.
    Frame& FrameInProgress() override;
    void DeliverFrame(Frame& frame) override;

    SegmentAccumulator accumulator_;
    FrameBuffer* frames_ = nullptr;
    Frame* inProgress_ = nullptr;
    Frame spare_{SpareObjects, SpareGrowth};
    std::atomic<bool> keepRunning_{false};
    PacketBuffer* packets_ = nullptr;
    std::mutex callbackLock_;  // held only to copy the list
    std::array<Entry, MaxCallbacks> callbacks_{};
    int callbackCount_ = 0;
    DataPathCamera* camera_ = nullptr;
    CameraSystem* sequenceSource_ = nullptr;
    Camera* frameCamera_ = nullptr;
    std::unique_ptr<PacketDecoder> decoder_;
    std::unique_ptr<ObjectBuilder> builder_;
    const LineSegment* highest_ = nullptr;   // first record of the highest line
    const LineSegment* previous_ = nullptr;  // first record of the line highest before it
    std::mutex threadLock_;                  // Start and Stop
    platform::Thread thread_;
    std::atomic<bool> threadRunning_{false};
    std::atomic<std::uint64_t> packetCount_{0}, delivered_{0}, queued_{0}, spare_delivered_{0}, heldBack_{0};
};

} // namespace Orvane
