// Any bytes, as any camera revision's packet: decoding and building must
// stay inside the packet and the frame.
#include "camera/object_builder.h"
#include "camera/packet_decoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace {

class Sink : public Orvane::FrameSink {
public:
    Orvane::Frame& FrameInProgress() override
    {
        if (!inProgress) {
            frame.objectCount = 0;
            frame.Clear();
            frame.maskOut = false;
            frame.FreeImage();
            inProgress = true;
        }
        return frame;
    }
    void DeliverFrame(Orvane::Frame&) override { inProgress = false; }
    Orvane::Frame frame;
    bool inProgress = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    static constexpr int kRevisions[] = {3, 4, 5, 6, 7, 8, 9, 12, 13};
    static constexpr std::array<std::pair<int, int>, 4> kWindows = {{{640, 480}, {353, 289}, {128, 96}, {64, 6}}};
    const int revision = kRevisions[data[0] % std::size(kRevisions)];
    const auto [w, h] = kWindows[data[1] % kWindows.size()];
    static Orvane::FixedDataPathCamera camera(7, 640, 480);
    camera.revision = revision;
    camera.width = w;
    camera.height = h;
    camera.frameSendingOptions = data[1] >> 4;
    camera.objectCap = 500;
    static Orvane::PacketDecoder decoder(camera);
    static Orvane::ObjectBuilder builder(camera);
    static Orvane::SegmentAccumulator accumulator;
    static Sink sink;

    std::array<std::uint8_t, 4> header = {data[2], data[3], data[4], data[5]};
    Orvane::PacketSync sync;
    accumulator.Clear();
    decoder.Consume(header, std::span<const std::uint8_t>(data + 6, size - 6), sync, accumulator, sink);
    for (const Orvane::LineSegment& r : accumulator.Records()) {
        if (r.IsEOF()) {
            if (sink.inProgress) {
                builder.Build(sink.frame, sync.threshold);
                sink.inProgress = false;
            }
        } else if (!r.IsFrameId() && !r.IsFrameOption()) {
            sink.FrameInProgress().weighted = sync.weighted != 0;
            sink.frame.AddSegment(r);
        }
    }
    if (sink.inProgress) {
        builder.Build(sink.frame, sync.threshold);
        sink.inProgress = false;
    }
    return 0;
}
