// One camera frame through the data path: decode, build objects, score; and
// the trackables' matching and scoring against the number of blobs in view,
// today's all-pairs code path beside the sweep and the sorted index.
#include "blob_frames.h"
#include "camera/object_builder.h"
#include "camera/packet_decoder.h"
#include "camera/trackables.h"
#include "compare.h"
#include "reference_trackables.h"
#include "simcam/imaging/packets.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <deque>
#include <random>
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
template <class Collection = Orvane::TrackableCollection>
void Cut(Orvane::SegmentAccumulator& acc, Orvane::Frame& frame, Orvane::ObjectBuilder& builder,
         Collection& collection, const Orvane::PacketSync& sync)
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

// Frames of `blobs` markers on a jittered grid (apart, so each is its own
// object), drifting by a fraction of a pixel from frame to frame; played
// forwards then backwards so the motion never jumps.
std::vector<Bytes> GridPackets(int blobs, int frames)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> jitter(-3.0, 3.0), drift(-0.4, 0.4);
    const int columns = static_cast<int>(std::ceil(std::sqrt(blobs * 640.0 / 480.0)));
    const int rows = (blobs + columns - 1) / columns;
    std::vector<Disc> discs;
    for (int i = 0; i < blobs; ++i) {
        const double cx = (i % columns + 0.5) * 640.0 / columns, cy = (i / columns + 0.5) * 480.0 / rows;
        discs.push_back({cx + jitter(random), cy + jitter(random), 2.5, 255});
    }
    std::vector<Bytes> packets;
    PacketParams p;
    p.revision = 7;
    p.mode = kModeSegments;
    for (int f = 0; f < frames; ++f) {
        for (Disc& d : discs) {
            d.x += drift(random);
            d.y += drift(random);
        }
        packets.push_back(EncodePacket(Render(discs, 640, 480), p));
    }
    for (int f = frames - 2; f > 0; --f)
        packets.push_back(packets[static_cast<std::size_t>(f)]);
    return packets;
}

// Decode, build and score one frame of N blobs; Collection is the library's
// or the all-pairs reference.
template <class Collection>
void DecodeBuildScore(benchmark::State& state, Collection*)
{
    const int blobs = static_cast<int>(state.range(0));
    Orvane::FixedDataPathCamera camera(7, 640, 480);
    Orvane::PacketDecoder decoder(camera);
    Orvane::ObjectBuilder builder(camera);
    Collection collection;
    Orvane::SegmentAccumulator acc;
    Sink sink;
    const std::vector<Bytes> packets = GridPackets(blobs, 16);
    std::size_t at = 0;
    int objects = 0;
    for (auto _ : state) {
        const auto split = Split(packets[at]);
        at = (at + 1) % packets.size();
        Orvane::PacketSync sync;
        decoder.Consume(split.header, split.data, sync, acc, sink);
        for (const Orvane::LineSegment& r : acc.Records()) {
            if (r.IsEOF()) {
                builder.Build(sink.frame, sync.threshold);
                objects = sink.frame.objectCount;
                collection.Process(sink.frame);
                sink.frame.objectCount = 0;
                sink.frame.Clear();
            } else if (!r.IsFrameId() && !r.IsFrameOption()) {
                sink.frame.AddSegment(r);
            }
        }
        acc.Clear();
        benchmark::DoNotOptimize(collection);
    }
    state.counters["objects"] = objects;
}
// Decode and build alone, for the share of scoring in the two above.
struct NoScoring {
    void Process(Orvane::Frame&) {}
};
BENCHMARK_CAPTURE(DecodeBuildScore, build_only, static_cast<NoScoring*>(nullptr))->Arg(3)->Arg(50)->Arg(400);
BENCHMARK_CAPTURE(DecodeBuildScore, old, static_cast<reference::Collection*>(nullptr))->Arg(3)->Arg(50)->Arg(400);
BENCHMARK_CAPTURE(DecodeBuildScore, new, static_cast<Orvane::TrackableCollection*>(nullptr))->Arg(3)->Arg(50)->Arg(400);

double TrackableCount(const Orvane::TrackableCollection& c) { return c.GetNumberOfObjects(); }
double TrackableCount(const reference::Collection& c) { return static_cast<double>(c.trackables.size()); }

// Matching, scoring and ranking alone (the collection's Process) over
// prepared frames of N blobs. With no clutter every blob is a marker that
// drifts or stands still, as the lights a camera sees, and the trackables
// are as many as the blobs; with clutter, 40 % of the blobs come and go, each
// leaving a trackable that lingers for 200 frames (some 8 per blob in view).
template <class Collection>
void Scoring(benchmark::State& state, double clutter, Collection*)
{
    const int blobs = static_cast<int>(state.range(0));
    testing_support::BlobFrames scene(11, blobs, false, clutter);
    std::deque<Orvane::Frame> frames(64);
    for (Orvane::Frame& f : frames)
        scene.Next(f);
    Collection collection;
    // Forwards, then backwards: the markers never jump.
    std::size_t at = 0;
    bool back = false;
    const auto next = [&] {
        at = back ? at - 1 : at + 1;
        if (at == 0 || at + 1 == frames.size())
            back = !back;
    };
    for (int i = 0; i < 300; ++i) {  // let the trackables settle
        collection.Process(frames[at]);
        next();
    }
    for (auto _ : state) {
        collection.Process(frames[at]);
        next();
        benchmark::DoNotOptimize(collection);
    }
    state.counters["trackables"] = TrackableCount(collection);
}
BENCHMARK_CAPTURE(Scoring, old, 0.0, static_cast<reference::Collection*>(nullptr))->Arg(3)->Arg(50)->Arg(400);
BENCHMARK_CAPTURE(Scoring, new, 0.0, static_cast<Orvane::TrackableCollection*>(nullptr))->Arg(3)->Arg(50)->Arg(400);
BENCHMARK_CAPTURE(Scoring, old_clutter, 0.4, static_cast<reference::Collection*>(nullptr))->Arg(50)->Arg(400);
BENCHMARK_CAPTURE(Scoring, new_clutter, 0.4, static_cast<Orvane::TrackableCollection*>(nullptr))->Arg(50)->Arg(400);

} // namespace

int main(int argc, char** argv)
{
    return bench::RunComparing(argc, argv);
}

