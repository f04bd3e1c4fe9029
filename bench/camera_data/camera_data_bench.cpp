// One camera frame through the data path: decode, build objects, score.
#include "camera/object_builder.h"
#include "camera/packet_decoder.h"
#include "camera/trackables.h"
#include "simcam/imaging/packets.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace simcam::imaging;

class Sink : public Orvane::FrameSink {
public:
    Orvane::Frame& FrameInProgress() override { return frame; }
    void DeliverFrame(Orvane::Frame&) override { ++delivered; }
    Orvane::Frame frame;
    long delivered = 0;
};

Bytes ThreeMarkers(std::uint8_t mode)
{
    const std::vector<Disc> discs = {{200.3, 240.6, 5.0, 255}, {320.7, 200.2, 5.0, 255}, {440.1, 250.9, 5.0, 255}};
    PacketParams p;
    p.revision = 7;
    p.mode = mode;
    return EncodePacket(Render(discs, 640, 480), p);
}

// The processor's cut: records into the frame, an end of frame builds it.
void Cut(Orvane::SegmentAccumulator& acc, Orvane::Frame& frame, Orvane::ObjectBuilder& builder,
         Orvane::TrackableCollection& collection, const Orvane::PacketSync& sync)
{
    for (const Orvane::LineSegment& r : acc.Records()) {
        if (r.IsEOF()) {
            builder.Build(frame, sync.threshold);
            collection.Process(frame);
            frame.objectCount = 0;
            frame.Clear();
        } else if (r.IsFrameId()) {
            frame.frameId = r.GetFrameId();
        } else if (!r.IsFrameOption()) {
            frame.AddSegment(r);
        }
    }
    acc.Clear();
}

void BM_SegmentFrameDecodeBuildScore(benchmark::State& state)
{
    Orvane::FixedDataPathCamera camera(7, 640, 480);
    Orvane::PacketDecoder decoder(camera);
    Orvane::ObjectBuilder builder(camera);
    Orvane::TrackableCollection collection;
    Orvane::SegmentAccumulator acc;
    Sink sink;
    const Bytes packet = ThreeMarkers(kModeSegments);
    const auto split = Split(packet);
    for (auto _ : state) {
        Orvane::PacketSync sync;
        decoder.Consume(split.header, split.data, sync, acc, sink);
        Cut(acc, sink.frame, builder, collection, sync);
        benchmark::DoNotOptimize(collection.IsTracking());
    }
    state.counters["bytes"] = static_cast<double>(packet.size());
}
// Goal: a median below 10 us.
BENCHMARK(BM_SegmentFrameDecodeBuildScore)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_FullGreyscaleFrame(benchmark::State& state)
{
    Orvane::FixedDataPathCamera camera(7, 640, 480);
    camera.frameSendingOptions = static_cast<int>(state.range(0));
    Orvane::PacketDecoder decoder(camera);
    Orvane::ObjectBuilder builder(camera);
    Orvane::TrackableCollection collection;
    Orvane::SegmentAccumulator acc;
    Sink sink;
    const Bytes packet = ThreeMarkers(kModeGreyscale);
    const auto split = Split(packet);
    for (auto _ : state) {
        Orvane::PacketSync sync;
        decoder.Consume(split.header, split.data, sync, acc, sink);
        Cut(acc, sink.frame, builder, collection, sync);
        benchmark::DoNotOptimize(sink.frame.image.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(packet.size()));
}
// 0: the image is copied and the frame delivered; 4: the image is also cut
// into runs, and the objects built and scored.
BENCHMARK(BM_FullGreyscaleFrame)->Arg(0)->Arg(Orvane::DataPathCamera::SegmentGreyscaleFrames);

} // namespace
