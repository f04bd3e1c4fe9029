#pragma once
// Turns one received camera packet into records of the segment accumulator
// (frame id, frame option, segments, end of frame), or fills a frame's image
// or objects directly and delivers it at once. Every length, count and run
// is checked against the packet before it is read.
#include "camera/camera_packet.h"
#include "camera/data_camera.h"
#include "camera/frame.h"
#include "camera/line_segment.h"
#include "camera/object_builder.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace Orvane {

// Per-packet values handed from decoding to frame building.
struct PacketSync {
    double time = 0.0;           // the packet's time stamp
    std::uint8_t threshold = 0;  // run threshold, when the packet mode gives one
    std::uint8_t weighted = 0;   // segments carry intensity sums
};

// Fixed-capacity store of decoded records: nothing is allocated per packet.
// The last few slots are kept for marker records, so a packet that floods
// segments still ends its frame.
class SegmentAccumulator {
public:
    static constexpr std::size_t DefaultCapacity = 8192;
    static constexpr std::size_t MarkerReserve = 4;

    explicit SegmentAccumulator(std::size_t capacity = DefaultCapacity);

    // False (and counted) when full.
    bool AddSegment(const LineSegment& segment);
    void AddFrameId(std::int32_t id);
    void AddFrameOption(std::int32_t bits);
    void AddEndOfFrame();

    std::span<LineSegment> Records() { return {records_.data(), size_}; }
    std::span<const LineSegment> Records() const { return {records_.data(), size_}; }
    std::size_t Size() const { return size_; }
    void Clear() { size_ = 0; }
    std::uint64_t Dropped() const { return dropped_; }

private:
    void AddMarker(const LineSegment& record);

    std::vector<LineSegment> records_;
    std::size_t size_ = 0;
    std::uint64_t dropped_ = 0;
};

// The frame handling of the packet processor that the modes which fill a
// frame at once need.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // The frame in progress; one is grabbed when there is none.
    virtual Frame& FrameInProgress() = 0;
    // Delivers the frame in progress (callbacks, queue).
    virtual void DeliverFrame(Frame& frame) = 0;
};

class PacketDecoder {
public:
    // Counts of rejected packets, by reason.
    struct Stats {
        std::uint64_t packets = 0;
        std::uint64_t shortPackets = 0;
        std::uint64_t badHeader = 0;
        std::uint64_t badFooter = 0;
        std::uint64_t badCount = 0;      // revision 9 count does not match the length
        std::uint64_t wrongLength = 0;   // greyscale and object packets of the wrong size
        std::uint64_t malformed = 0;     // length byte past its block, unterminated run, bad object number
    };

    explicit PacketDecoder(DataPathCamera& camera);

    // header: the 4-byte header word as received (byte 0 option flags,
    // byte 1 mode, byte 2 check, byte 3 frame id); data: the bytes after it.
    void Consume(std::span<const std::uint8_t, 4> header, std::span<const std::uint8_t> data, PacketSync& sync,
                 SegmentAccumulator& accumulator, FrameSink& sink);

    // A packet as the receive side stores it: its header and data are
    // decoded, then its byte count is set to 0 (which stamps its time).
    void Consume(CameraPacket& packet, PacketSync& sync, SegmentAccumulator& accumulator, FrameSink& sink);

    const Stats& GetStats() const { return stats_; }
    void ResetStats() { stats_ = {}; }

private:
    void ConsumeFamily6(std::span<const std::uint8_t, 4> header, std::span<const std::uint8_t> data,
                        PacketSync& sync, SegmentAccumulator& accumulator, FrameSink& sink);
    void ConsumeRev9(std::span<const std::uint8_t> data, PacketSync& sync, SegmentAccumulator& accumulator,
                     FrameSink& sink);
    void ConsumeBlocks(int revision, std::span<const std::uint8_t> data, SegmentAccumulator& accumulator);

    DataPathCamera& camera_;
    Stats stats_;
    std::vector<std::uint8_t> assembly_;  // revision 9 sub-sampled image assembly
    std::vector<HardwareObjectRecord> hardwareRecords_;
};

} // namespace Orvane
